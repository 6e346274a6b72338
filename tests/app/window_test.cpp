#include <functional>
#include <map>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "widgets/data_grid.h"
#include "widgets/hints.h"
#include "app/main_form.h"
#include "widgets/navigator_bar.h"
#include "db/database.h"
#include "db/session.h"
#include "db/settings.h"
#include "db/table_file.h"
#include "support/http_server.h"
#include "support/main_window.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro;

namespace {

using Sizes = std::map<QString, int>;

// Every remembered size: the window, the panels and the grid columns.
Sizes storedSizes(const db::Table& sets) {
    Sizes out;
    for (const QString& key : db::optionKeysInSaveOrder()) {
        if (!key.startsWith(QLatin1String("grd")) && !key.endsWith(QLatin1String("Width")) &&
            !key.endsWith(QLatin1String("Height")))
            continue;
        QString s;
        int i = -1;
        if (db::GetOption(sets, key, s, i)) out[key] = i;
    }
    return out;
}

// One start of the program on the folder: shown as the user sees it, then closed; returns what was stored.
Sizes startAndClose(test::TempFolder& dir, test::ScriptedUi& ui,
                    const std::function<void(app::TMainForm&)>& whileOpen = {}) {
    test::OpenWindow w(dir, ui);
    app::TMainForm& form = *w.form;
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    QApplication::processEvents();
    if (whileOpen) whileOpen(form);
    EXPECT_TRUE(form.close());
    return storedSizes(w.db.tbSets);
}

// Overwrites remembered values in the settings file, as a damaged or hand-edited file would hold them.
void storeOptions(test::TempFolder& dir, const std::map<QString, int>& values) {
    db::Database db;
    ASSERT_TRUE(db::TableFile::load(db.tbSets, dir.file("sets.adb"), nullptr));
    for (const auto& [key, value] : values)
        db::SetOption(db.tbSets, key, QString(), value);
    ASSERT_TRUE(db::TableFile::save(db.tbSets, dir.file("sets.adb"), nullptr));
}

template <class T> T* child(QWidget& form, const char* name) {
    T* w = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// The panes of the working area have room to work in.
void expectUsablePanes(app::TMainForm& form) {
    for (const char* name : {"pProject", "pcTrust", "pcProject", "pCat", "grdLink"}) {
        QWidget* w = child<QWidget>(form, name);
        EXPECT_GT(w->width(), 100) << name;
        EXPECT_GT(w->height(), 60) << name;
    }
}

// The keys whose values differ, for a readable failure.
std::string differences(const Sizes& a, const Sizes& b) {
    std::string out;
    for (const auto& [key, value] : a)
        if (!b.count(key) || b.at(key) != value)
            out += key.toStdString() + ": " + std::to_string(value) + " vs " +
                   (b.count(key) ? std::to_string(b.at(key)) : std::string("none")) + "; ";
    return out;
}

} // namespace

TEST(WindowLayout, EveryRestartStoresTheSameSizesAndKeepsEveryPaneUsable) {
    test::TempFolder dir;
    test::ScriptedUi ui;
    const Sizes first = startAndClose(dir, ui, expectUsablePanes);
    EXPECT_EQ(first.at("pProject.Width"), 330);
    EXPECT_EQ(first.at("pSiteHelp.Height"), 69); // the sites tab was never opened
    const Sizes second = startAndClose(dir, ui, expectUsablePanes);
    EXPECT_EQ(second, first) << differences(second, first);
    // A panel the user moved stays where it was put, also on a page that is not shown at the next start.
    const Sizes moved = startAndClose(dir, ui, [](app::TMainForm& form) {
        child<QTabWidget>(form, "pcTrust")->setCurrentIndex(1);
        QApplication::processEvents();
        auto* s3 = child<QSplitter>(form, "Splitter3");
        const int total = s3->sizes()[0] + s3->sizes()[1];
        s3->setSizes({total - 120, 120});
        auto* s1 = child<QSplitter>(form, "Splitter1");
        s1->setSizes({400, s1->sizes()[0] + s1->sizes()[1] - 400});
    });
    EXPECT_EQ(moved.at("pSiteHelp.Height"), 120);
    EXPECT_EQ(moved.at("pProject.Width"), 400);
    const Sizes again = startAndClose(dir, ui, expectUsablePanes);
    EXPECT_EQ(again, moved) << differences(again, moved);
}

TEST(WindowLayout, DamagedSizesFallBackToTheDesignAndTheWindowStaysOnItsScreen) {
    test::TempFolder dir;
    test::ScriptedUi ui;
    startAndClose(dir, ui);
    storeOptions(dir, {{"Width", 2000000000},
                       {"Height", 2000000000},
                       {"pProject.Width", 0},
                       {"pCat.Height", 50000},
                       {"pSiteHelp.Height", 100000},
                       {"grdLink-0", 40}});
    const Sizes stored = startAndClose(dir, ui, [](app::TMainForm& form) {
        const QRect screen = form.screen()->availableGeometry();
        EXPECT_TRUE(screen.contains(form.frameGeometry())) << form.frameGeometry().width();
        EXPECT_EQ(child<QWidget>(form, "pProject")->width(), 330);
        expectUsablePanes(form);
        child<QTabWidget>(form, "pcTrust")->setCurrentIndex(1);
        QApplication::processEvents();
        EXPECT_EQ(child<QWidget>(form, "pSiteHelp")->height(), 69);
        // A number column stored narrower by an earlier version still shows seven digits.
        auto* links = child<app::DataGrid>(form, "grdLink");
        EXPECT_GE(links->columnWidth(0),
                  links->fontMetrics().horizontalAdvance(QStringLiteral("1234567")) + 6);
    });
    EXPECT_LE(stored.at("Width"), 1366);
    // Stored again without its page being opened, a size larger than the window is not kept either.
    storeOptions(dir, {{"pSiteHelp.Height", 100000}});
    EXPECT_EQ(startAndClose(dir, ui).at("pSiteHelp.Height"), 69);
    EXPECT_LE(stored.at("Height"), 800);

    // A stored size that fits is kept, and the window is moved onto the screen, not centred for the design.
    storeOptions(dir, {{"Width", 1300}, {"Height", 700}});
    startAndClose(dir, ui, [](app::TMainForm& form) {
        EXPECT_EQ(form.size(), QSize(1300, 700));
        EXPECT_TRUE(form.screen()->availableGeometry().contains(form.frameGeometry()));
    });
}

namespace {

class WindowInput : public test::MainWindowTest {
protected:
    void SetUp() override {
        test::MainWindowTest::SetUp();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        db.tbSite.first();
        addProject("Проект");
        clickNav("DBNavigator5", db::NavButton::Insert);
        db.tbLink.setValue("PageURL", QStringLiteral("http://trust.example/page"));
        db.tbLink.setValue("PublicDate", QDate(2024, 5, 1));
        db.tbLink.post();
    }
    // Opens the grid's editor on a column of the current link, types the text and presses Enter.
    QLineEdit* typeIntoCell(int column, const QString& text) {
        auto* grid = find<app::DataGrid>("grdLink");
        const QModelIndex index = grid->model()->index(db.tbLink.currentPos(), column);
        grid->setFocus();
        grid->setCurrentIndex(index);
        grid->edit(index);
        auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(index));
        if (!editor) return nullptr;
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents();
        return editor;
    }
    QString statusLine() { return find<QLabel>("psbText")->text(); }
};

} // namespace

TEST_F(WindowInput, APointDecimalPriceIsStoredAndARefusedDateKeepsItsEditorAndSaysWhy) {
    ASSERT_NE(typeIntoCell(11, QStringLiteral("800.25")), nullptr);
    EXPECT_DOUBLE_EQ(db.tbLink.asFloat("Price"), 800.25);

    QPointer<QLineEdit> editor = typeIntoCell(9, QStringLiteral("32.13.2024"));
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor && editor->isVisible());
    EXPECT_EQ(editor->text(), QStringLiteral("32.13.2024"));
    EXPECT_EQ(statusLine(), QStringLiteral("\"32.13.2024\" — не дата. Введите дату в виде 08.12.2014."));
    EXPECT_EQ(db.tbLink.asDate("PublicDate"), QDate(2024, 5, 1));
    // Corrected in the same editor, it is stored.
    editor->setText(QStringLiteral("02.05.2024"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(db.tbLink.asDate("PublicDate"), QDate(2024, 5, 2));
    QTRY_VERIFY(!editor || !editor->isVisible());

    // The same for an edit on the properties page: the typed text stays and the reason is told.
    auto* indexDate = find<QLineEdit>("eLinkIndexDate");
    indexDate->setFocus();
    indexDate->setText(QStringLiteral("вчера"));
    indexDate->setModified(true);
    emit indexDate->editingFinished();
    EXPECT_EQ(indexDate->text(), QStringLiteral("вчера"));
    EXPECT_EQ(statusLine(), QStringLiteral("\"вчера\" — не дата. Введите дату в виде 08.12.2014."));
}

TEST_F(WindowInput, HistoryHasRowsInViewAndAnActiveCheckFilterShowsInTheFilterBox) {
    const int id = db.tbLink.asInteger("ID");
    for (int i = 0; i < 6; ++i)
        db.checks.record(db::CheckSubject::LinkPage, id,
                         {QDateTime(QDate(2024, 6, 1 + i), QTime(10, 0)), db::CheckKind::Presence,
                          db::CheckReason::Missing, QStringLiteral("[Нет] http://mine.example/")});
    QString error;
    ASSERT_TRUE(db.store.flush(&error)) << error.toStdString();
    clickTab("pcLink", 1);
    QApplication::processEvents();
    auto* history = find<QTreeWidget>("tvCheckHistory");
    QTRY_COMPARE(history->topLevelItemCount(), 6);
    // At the default window size at least three whole rows are in view, the rest by scrolling.
    const QRect third = history->visualItemRect(history->topLevelItem(2));
    EXPECT_TRUE(history->viewport()->rect().contains(third)) << third.bottom();
    EXPECT_TRUE(history->verticalScrollBar()->isVisible());

    clickTab("pcLink", 0);
    auto* text = find<QLabel>("lCheckFilter");
    auto* clear = find<QToolButton>("sbCheckFilterClear");
    EXPECT_TRUE(text->isHidden());
    form->findChild<QAction*>("mnCheckMissing")->trigger();
    EXPECT_EQ(text->text(), QStringLiteral("Проверка: ссылка пропала"));
    EXPECT_TRUE(text->isVisible());
    ASSERT_TRUE(clear->isVisible());
    clear->click();
    EXPECT_EQ(form->rules().checkFilter(), db::CheckFilter::None);
    EXPECT_TRUE(text->isHidden());
}

TEST_F(WindowInput, StatusLineShowsTheRunsOwnProgressWhileItGoes) {
    test::HttpServer server;
    test::HttpServer::Reply slow;
    slow.body = "<a href=http://mine.example/x>x</a>";
    slow.delayMs = 400;
    server.on("/slow", slow);
    db.tbLink.setValue("PageURL", server.url("/slow"));
    db.tbLink.post();
    clickNav("DBNavigator8", db::NavButton::Insert);
    db.tbAncor.setValue("URL", QStringLiteral("http://mine.example/x"));
    db.tbAncor.post();
    find<QLabel>("psbText")->setText(QStringLiteral("Проверено страниц: 7 (прежний запуск)"));
    QString during;
    QTimer::singleShot(150, form.get(), [&] {
        form->appHint().pointAt(find<QWidget>("bGetReport")); // a hint during the run does not replace it
        during = statusLine();
    });
    form->findChild<QAction*>("N11")->trigger();
    EXPECT_TRUE(during.startsWith(QStringLiteral("Выполнено: "))) << during.toStdString();
    EXPECT_TRUE(statusLine().startsWith(QStringLiteral("Проверено страниц: 1")))
        << statusLine().toStdString();
}

TEST_F(WindowInput, NumberColumnsFitSevenDigitsAndTheCheckColumnIsInViewAtTheDefaultSize) {
    for (const char* name : {"grdProject", "grdCat", "grdCat2", "grdLink", "grdAccount", "grdSite"}) {
        auto* grid = find<app::DataGrid>(name);
        const int needed = grid->fontMetrics().horizontalAdvance(QStringLiteral("1234567")) + 6;
        EXPECT_GE(grid->columnWidth(0), needed) << name;
    }
    auto* grid = find<app::DataGrid>("grdLink");
    const int check = grid->model()->columnCount() - 1;
    ASSERT_EQ(grid->model()->headerData(check, Qt::Horizontal).toString(), QStringLiteral("Проверка"));
    EXPECT_EQ(form->size(), QSize(1180, 680));
    EXPECT_LE(grid->columnViewportPosition(check) + grid->columnWidth(check), grid->viewport()->width());
    EXPECT_GE(grid->columnViewportPosition(check), 0);
}

TEST_F(WindowInput, EveryPopupMenuHasAVisibleButtonAndIconsAndHintsAreDistinct) {
    for (auto [button, menu] : {std::pair{"sbLinkMenu", "pumLink"}, std::pair{"sbSiteMenu", "pumSite"}}) {
        auto* b = find<QToolButton>(button);
        EXPECT_EQ(b->menu(), find<QMenu>(menu)) << button;
        EXPECT_FALSE(b->isHidden()) << button;
        EXPECT_EQ(b->popupMode(), QToolButton::InstantPopup) << button;
    }
    // The Tab key goes from the sites' menu button to their find button, as they stand.
    EXPECT_EQ(find<QToolButton>("sbSiteMenu")->nextInFocusChain(), find<QToolButton>("sbSiteFind"));
    auto image = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
    const QImage blankFile = image(QApplication::style()->standardIcon(QStyle::SP_FileIcon));
    const QImage listIcon = image(QApplication::style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    EXPECT_NE(image(find<QToolButton>("SpeedButton3")->icon()),
              image(find<app::NavigatorBar>("DBNavigator5")->button(db::NavButton::Post)->icon()));
    EXPECT_NE(image(find<QToolButton>("sbRepPrint")->icon()), listIcon);
    for (const char* menu : {"pumLink", "pumSite"})
        for (QAction* a : find<QMenu>(menu)->findChildren<QAction*>())
            if (!a->icon().isNull()) {
                EXPECT_NE(image(a->icon()), blankFile) << a->text().toStdString();
            }
    // Both tilt buttons carry the same words; their arrows tell them apart.
    EXPECT_NE(image(find<QToolButton>("SpeedButton23")->icon()),
              image(find<QToolButton>("SpeedButton24")->icon()));
}
