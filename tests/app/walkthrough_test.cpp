#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <map>
#include <set>
#include <unordered_set>

#include "app/links_pane.h"
#include "app/report_pane.h"
#include "app/settings_pane.h"
#include "app/widget_ui.h"
#include "db/settings.h"
#include "db/table_file.h"
#include "cli/check_report.h"
#include "db/link_losses.h"
#include "db/record_rules.h"
#include "reports/money_reports.h"
#include "charts/pie_chart.h"
#include "support/http_server.h"
#include "support/main_window.h"
#include "support/records.h"
#include "widgets/data_grid.h"

using namespace zentaro;
using db::CheckReason;

namespace {

class Walkthrough : public test::MainWindowTest {
protected:
    app::DataGrid* links() { return find<app::DataGrid>("grdLink"); }
    void addLinks(int n) {
        for (int i = 1; i <= n; ++i) {
            test::addRecord(db.tbLink, {{"PageURL", QStringLiteral("http://a.ru/%1").arg(i)}});
            test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
        }
    }
    std::set<int> shownIds() {
        std::set<int> ids;
        for (int pos = 0; pos < db.tbLink.recordCount(); ++pos)
            ids.insert(db.tbLink.valueAt(pos, db.tbLink.fieldIndex("ID")).toInt());
        return ids;
    }
    void check(int id, const QDateTime& at, CheckReason reason) {
        db.checks.record(db::CheckSubject::LinkPage, id, {at, db::CheckKind::Presence, reason, {}});
    }
    // Two projects and eight link pages with a known history around one start of the window: found; lost
    // since the start; lost earlier the same day and still missing; never found; unreachable (timeout,
    // bot wall) since the start; told to wait before the start; without link elements.
    QDateTime oneBase() {
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        addProject(QStringLiteral("Первый"));
        const QString p1 = db.tbProject.asString("ID");
        addProject(QStringLiteral("Второй"));
        const QString p2 = db.tbProject.asString("ID");
        const double prices[8] = {100, 1500, 700, 300, 0, 0, 0, 0};
        for (int i = 0; i < 8; ++i)
            test::addRecord(db.tbLink, {{"PageURL", QStringLiteral("http://a.ru/%1").arg(i + 1)},
                                        {"ProjectID", i == 1 ? p2 : p1},
                                        {"PublicDate", QDate(2026, 3, 1)},
                                        {"Price", prices[i]}});
        const QDateTime start(QDate(2026, 3, 10), QTime(12, 0));
        const auto at = [&](int minutes) { return start.addSecs(minutes * 60); };
        check(1, at(1), CheckReason::Found);
        check(2, at(-60 * 24), CheckReason::Found);
        check(2, at(1), CheckReason::Missing);
        check(3, at(-120), CheckReason::Found);
        check(3, at(-60), CheckReason::Missing);
        check(3, at(1), CheckReason::Missing);
        check(4, at(1), CheckReason::Missing);
        check(5, at(1), CheckReason::Timeout);
        check(6, at(1), CheckReason::Blocked);
        check(7, at(-60), CheckReason::Throttled);
        check(8, at(1), CheckReason::NoLinks);
        return start;
    }
};

} // namespace

// The words and places the window keeps as designed.
TEST_F(Walkthrough, PartTextsPlacesAndWidths) {
    addProject(QStringLiteral("Проект"));
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    test::addRecord(db.tbLink, {{"PageURL", "http://a.ru/"}, {"Price", 1234567.5}});
    auto* rep = find<QComboBox>("cbRep");
    rep->setCurrentIndex(rep->findText(QStringLiteral("Бюджеты проектов")));
    find<QPushButton>("bGetReport")->click();
    form->findChild<QTabWidget*>("pcLink")->setCurrentIndex(1);
    QApplication::processEvents();
    auto y = [this](const char* box) {
        return find<QGroupBox>(box)->mapTo(find<QWidget>("tsLinkMore"), QPoint(0, 0)).y();
    };
    const struct {
        const char* what;
        QString seen, expected;
    } cases[] = {
        {"SpeedButton23", find<QToolButton>("SpeedButton23")->toolTip(), QStringLiteral("Поворот диаграммы")},
        {"SpeedButton24", find<QToolButton>("SpeedButton24")->toolTip(), QStringLiteral("Поворот диаграммы")},
        {"budget title", form->reports().chart()->report().title,
         QStringLiteral("Бюджеты проектов. Общие расходы: 1234567,50")},
        {"status line", find<QLabel>("psbText")->text(), QStringLiteral("Готово")},
        {"GroupBox3 above GroupBox4", QString::number(y("GroupBox3") < y("GroupBox4")), "1"},
        {"GroupBox4 above GroupBox8", QString::number(y("GroupBox4") < y("GroupBox8")), "1"},
        {"GroupBox8 above GroupBox5", QString::number(y("GroupBox8") < y("GroupBox5")), "1"},
        {"GroupBox5 beside GroupBox6", QString::number(y("GroupBox5") == y("GroupBox6")), "1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.seen, c.expected) << c.what;
    // A date shows whole, even after a narrower width was restored.
    links()->horizontalHeader()->resizeSection(9, 40);
    form->settings().optionAccess(form.get()).applyInt("grdLink-9", 40);
    EXPECT_GE(links()->columnWidth(9),
              links()->fontMetrics().horizontalAdvance(QStringLiteral("10.12.2026")) + 6);

    // The address column takes the room of a wide window and gives it back.
    form->findChild<QTabWidget*>("pcLink")->setCurrentIndex(0);
    auto* grid = links();
    auto used = [grid] {
        int sum = 0;
        for (int i = 0; i < grid->horizontalHeader()->count(); ++i)
            if (!grid->isColumnHidden(i)) sum += grid->columnWidth(i);
        return sum;
    };
    form->resize(1900, 1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return used() == grid->viewport()->width(); }))
        << used() << ' ' << grid->viewport()->width();
    const int wide = grid->columnWidth(1);
    EXPECT_GT(wide, 400);
    form->resize(1180, 680);
    EXPECT_TRUE(QTest::qWaitFor([&] { return grid->columnWidth(1) < wide; })) << grid->columnWidth(1);
    EXPECT_GE(grid->columnWidth(1), 180);
}

TEST_F(Walkthrough, EmptyGridsSayWhatToDoFirst) {
    auto* projects = find<app::DataGrid>("grdProject");
    ASSERT_TRUE(projects->emptyText);
    EXPECT_TRUE(projects->emptyText().startsWith(QStringLiteral("Добавьте проект: ")));
    EXPECT_TRUE(links()->emptyText().startsWith(QStringLiteral("Добавьте проект: ")));
    addProject(QStringLiteral("Проект"));
    EXPECT_TRUE(links()->emptyText().startsWith(QStringLiteral("Импортируйте список: ")));
}

// Under "Фильтры" one item is ticked, the link filter's; the outcome filters are commands, and "страница не
// загружена" takes every page no check could read (a bot wall and a host that asked to wait included).
TEST_F(Walkthrough, FiltersTickOneItemAndNotFetchedMeansUnreachable) {
    oneBase();
    db.tbProject.first();
    QMenu* menu = find<QMenu>("pumLink");
    const char* outcomes[] = {"mnCheckMissing", "mnCheckNotFetched", "mnCheckNofollow", "mnCheckAny"};
    for (const char* mode : {"mnFL1", "mnFL2", "mnFL3"})
        for (const char* outcome : outcomes) {
            form->findChild<QAction*>(mode)->trigger();
            form->findChild<QAction*>(outcome)->trigger();
            emit menu->aboutToShow();
            QStringList ticked;
            for (QAction* a : menu->findChildren<QAction*>())
                if (a->isChecked()) ticked << a->objectName();
            EXPECT_EQ(ticked, QStringList{mode}) << outcome;
        }
    form->findChild<QAction*>("mnFL1")->trigger();
    form->findChild<QAction*>("mnCheckNotFetched")->trigger();
    EXPECT_EQ(shownIds(), (std::set<int>{5, 6, 7}));
    // A page read without any link element is no unreachable page; it is listed with the missing ones.
    form->findChild<QAction*>("mnCheckMissing")->trigger();
    EXPECT_EQ(shownIds(), (std::set<int>{3, 4, 8})); // the current project's
}

// The bar, its "Показать", the command line's words and the reports count the same pages on one base.
TEST_F(Walkthrough, BarListSummaryAndReportsAgreeOnLostAndUnreachable) {
    const QDateTime start = oneBase();
    const db::LinkLosses losses = db::linkLossesSince(db, start);
    EXPECT_EQ(losses.lost, (std::unordered_set<int>{2}));
    EXPECT_EQ(losses.unreachable, (std::unordered_set<int>{5, 6}));
    const cli::WatchNote note = cli::watchNote(db, start, false, {}, start.addSecs(3600));
    EXPECT_EQ(
        note.text,
        QStringLiteral("С 10.03.2026 пропала 1 ссылка на 1 500 ₽, недоступны 2 "
                       "страницы"));
    EXPECT_EQ(cli::noticeText(cli::lossesSince(db, start)),
              QStringLiteral("Пропало ссылок: 1 (на сумму 1 500 ₽)\nСтраницы "
                             "недоступны: "
                             "2"));

    // "Показать" lists exactly those pages, across projects.
    db.tbProject.first();
    auto* pane = form->findChild<app::LinksPane*>();
    ASSERT_NE(pane, nullptr);
    pane->showCheckBar(note);
    find<QPushButton>("bCheckBarShow")->click();
    EXPECT_EQ(shownIds(), (std::set<int>{2, 5, 6}));
    EXPECT_EQ(find<QLabel>("lCheckFilter")->text(),
              QStringLiteral("Пропавшие и недоступные с прошлого запуска"));

    // The reports keep lost (found, then missing) apart from never found.
    const reports::MoneyReport money = reports::buildMoneyReport(
        db, reports::MoneyKind::LostMoney, {reports::Period::All, false, QDate(2026, 3, 15)});
    QStringList rows;
    for (const QStringList& row : reports::tableRows(money, QLocale(QLocale::C)))
        rows << row.join(u'|');
    EXPECT_EQ(rows, (QStringList{"Второй|1500.00|1|0.00|0", "Первый|700.00|1|300.00|1"}));
    const reports::MoneyReport placed = reports::buildMoneyReport(
        db, reports::MoneyKind::PlacedLost, {reports::Period::All, false, QDate(2026, 3, 15)});
    ASSERT_EQ(placed.series.size(), 2u);
    EXPECT_EQ(placed.series[1].values.back(), std::optional<double>(2)); // pages 2 and 3, both in March
    EXPECT_TRUE(money.subtitle.contains(QStringLiteral("ни разу")));
}

// "Проверить сейчас" checks every project's pages and leaves the list filtered to the current project again.
TEST_F(Walkthrough, CheckNowRestoresTheLinkFilter) {
    addProject(QStringLiteral("Первый"));
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    test::addRecord(db.tbLink, {{"PageURL", "http://a.ru/1"}}); // no anchors: nothing to fetch
    auto* pane = form->findChild<app::LinksPane*>();
    cli::WatchNote note;
    note.text = QStringLiteral("Автоматическая проверка еще не выполнялась");
    note.offerCheck = true;
    pane->showCheckBar(note);
    const QString filter = db.tbLink.filter();
    ui.answer(true);
    find<QPushButton>("bCheckBarCheck")->click();
    EXPECT_TRUE(db.tbLink.filtered());
    EXPECT_EQ(db.tbLink.filter(), filter);
    EXPECT_TRUE(filter.startsWith(QStringLiteral("ProjectID=")));
}

// Esc gives up a refused value: the edit shows the stored date again and no longer stands out.
TEST_F(Walkthrough, EscRestoresTheStoredValueOfARefusedEdit) {
    addProject(QStringLiteral("Проект"));
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    test::addRecord(db.tbLink, {{"PageURL", "http://a.ru/"}, {"UpdateIndexDate", QDate(2026, 1, 5)}});
    form->findChild<QTabWidget*>("pcLink")->setCurrentIndex(1);
    auto* edit = find<QLineEdit>("eLinkIndexDate");
    const QString stored = edit->text();
    ASSERT_FALSE(stored.isEmpty());
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("31.02.2026"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(edit->text(), QStringLiteral("31.02.2026"));
    EXPECT_TRUE(edit->property("refused").toBool());
    EXPECT_EQ(db.tbLink.asDate("UpdateIndexDate"), QDate(2026, 1, 5));
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(edit->text(), stored);
    EXPECT_FALSE(edit->property("refused").toBool());
    EXPECT_FALSE(edit->isModified());
}

// Several rows go with one question and come back as one; an import goes back as a whole.
TEST_F(Walkthrough, SeveralRowsDeleteWithOneQuestionAndAnImportIsUndoneWhole) {
    addProject(QStringLiteral("Проект"));
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    addLinks(5);
    QApplication::processEvents();
    auto* grid = links();
    grid->selectionModel()->clearSelection();
    for (int row : {1, 2, 3})
        grid->selectionModel()->select(grid->model()->index(row, 1), QItemSelectionModel::Select);
    ui.clear();
    ui.answer(true);
    clickNav("DBNavigator5", db::NavButton::Delete);
    EXPECT_EQ(ui.texts(), QStringList{QStringLiteral("Удалить выбранные записи (3)?")});
    EXPECT_EQ(shownIds(), (std::set<int>{1, 5}));
    db.tbAncor.setFiltered(false);
    EXPECT_EQ(db.tbAncor.recordCount(), 2);
    QAction* undo = form->findChild<QAction*>("mnUndoDelete");
    ASSERT_TRUE(undo->isVisible());
    undo->trigger();
    EXPECT_EQ(shownIds(), (std::set<int>{1, 2, 3, 4, 5}));
    db.tbAncor.setFiltered(false);
    EXPECT_EQ(db.tbAncor.recordCount(), 5);
    EXPECT_FALSE(undo->isVisible());

    test::TempFolder::write(dir.path() + "links.txt", "http://b.ru/1\nhttp://b.ru/2\nhttp://b.ru/3\n");
    form->runDlgImport = [&](int) {
        exchange::ImportChoice c;
        c.fileName = dir.path() + "links.txt";
        return std::optional<exchange::ImportChoice>(c);
    };
    form->runCommand(QStringLiteral("ImportLinks"));
    EXPECT_EQ(shownIds().size(), 8u);
    // The import's progress does not stay behind as if it still went.
    EXPECT_EQ(find<QLabel>("psbText")->text(),
              QStringLiteral("Импорт можно отменить целиком: «Команды» → «Отменить импорт»"));
    QAction* undoImport = form->findChild<QAction*>("mnUndoImport");
    ASSERT_TRUE(undoImport->isVisible());
    undoImport->trigger();
    EXPECT_EQ(shownIds(), (std::set<int>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(undoImport->isVisible());
}

// Money where the user looks: the list's count and summed prices, and what a run lost in its closing
// message and in the status line.
TEST_F(Walkthrough, MoneyInTheListStatusAndTheEndOfARun) {
    test::HttpServer server;
    test::HttpServer::Reply without;
    without.headers = {test::contentType("text/html; charset=utf-8")};
    without.body = "<a href=http://other.example/>y</a> end";
    server.on("/lost", without);
    addProject(QStringLiteral("Проект"));
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    test::addRecord(db.tbLink, {{"PageURL", server.url("/lost")}, {"Price", 4500.0}});
    test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    test::addRecord(db.tbLink, {{"PageURL", "http://b.ru/"}, {"Price", 250.5}});
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return find<QLabel>("lLinkSum")->text() ==
               QStringLiteral("Страниц в списке: 2, сумма цен: 4 750,50 ₽");
    })) << find<QLabel>("lLinkSum")->text().toStdString();

    db.tbLink.first();
    check(1, QDateTime::currentDateTime().addDays(-1), CheckReason::Found);
    ui.clear();
    form->findChild<QAction*>("N11")->trigger();
    ASSERT_FALSE(ui.texts().isEmpty());
    EXPECT_EQ(ui.texts().last(), QStringLiteral("Проверка выполнена.\n\nПропало ссылок: 1 (на сумму 4 500 "
                                                "₽)"));
    EXPECT_TRUE(find<QLabel>("psbText")->text().endsWith(
        QStringLiteral(". Пропало ссылок: 1 (на сумму 4 500 ₽)")))
        << find<QLabel>("psbText")->text().toStdString();
}

// A box with a short text is still wide enough for its whole caption and the title bar's buttons.
TEST(MessageBoxes, AShortTextKeepsTheWholeCaptionInView) {
    app::WidgetUi ui;
    const struct {
        const char* kind;
        std::function<void()> show;
    } boxes[] = {
        {"message", [&] { ui.showMessage(QStringLiteral("Да."), QStringLiteral("Информация")); }},
        {"error", [&] { ui.showError(QStringLiteral("Нет."), QStringLiteral("Ошибка")); }},
        {"question", [&] { ui.askYesNo(QStringLiteral("Да?"), QStringLiteral("Удаление категории")); }},
    };
    for (const auto& b : boxes) {
        int width = 0, needed = 0;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            width = box->width();
            needed = box->fontMetrics().horizontalAdvance(box->windowTitle()) + 100;
            box->close();
        });
        b.show();
        EXPECT_GE(width, needed) << b.kind;
    }
}

// Closing during a run asks first; No lets the run go on to its end and the window stays.
TEST_F(Walkthrough, ClosingDuringARunAndAnsweringNoKeepsTheRunAndTheWindow) {
    test::HttpServer server;
    test::HttpServer::Reply slow;
    slow.headers = {test::contentType("text/html; charset=utf-8")};
    slow.body = "<a href=http://mine.example/>x</a> <a href=http://other.example/>y</a> end";
    slow.delayMs = 300;
    for (int i = 0; i < 3; ++i)
        server.on(QStringLiteral("/slow%1").arg(i).toUtf8(), slow);
    addProject(QStringLiteral("Проект"));
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    for (int i = 0; i < 3; ++i) {
        test::addRecord(db.tbLink, {{"PageURL", server.url(QStringLiteral("/slow%1").arg(i))}});
        test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    }
    bool closedDuringRun = true;
    QTimer::singleShot(50, [&] {
        ASSERT_TRUE(db.runGoing);
        ui.answer(false);
        closedDuringRun = form->close();
    });
    ui.clear();
    form->findChild<QAction*>("N11")->trigger();
    EXPECT_FALSE(closedDuringRun);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(ui.texts(), (QStringList{QStringLiteral("Идёт проверка. Прервать её и выйти?"),
                                       QStringLiteral("Проверка выполнена.")}));
    int placed = 0;
    for (int pos = 0; pos < db.tbLink.recordCount(); ++pos)
        placed += db.tbLink.valueAt(pos, db.tbLink.fieldIndex("PageStatus")).toString() == "1";
    EXPECT_EQ(placed, 3);
}

// A window closed maximised opens maximised, and the category panel, which takes the height maximising adds,
// keeps the height it has in the normal window instead of growing at every start.
TEST(WindowState, MaximisedIsKeptAndThePanelsDoNotCreep) {
    test::TempFolder dir;
    QDir().mkpath(dir.path() + "help");
    test::ScriptedUi ui;
    auto start = [&](const std::function<void(app::TMainForm&)>& during) {
        test::OpenWindow w(dir, ui);
        app::TMainForm& form = *w.form;
        QApplication::processEvents();
        during(form);
        EXPECT_TRUE(form.close());
        QString text;
        int value = -1;
        db::Database after;
        EXPECT_TRUE(db::TableFile::load(after.tbSets, dir.base() + "sets.adb", nullptr));
        std::map<QString, int> stored;
        for (const char* key : {"pCat.Height", "Window.Maximized"})
            stored[key] = db::GetOption(after.tbSets, key, text, value) ? value : -1;
        return stored;
    };
    int normalHeight = 0; // of the page control, which takes the height maximising adds
    const auto normal = start([&normalHeight](app::TMainForm& form) {
        EXPECT_FALSE(form.isMaximized());
        normalHeight = form.findChild<QWidget*>("pcMain")->height();
    });
    EXPECT_EQ(normal.at("Window.Maximized"), 0);
    for (int i = 0; i < 2; ++i) {
        const auto maximised = start([i, normalHeight](app::TMainForm& form) {
            if (i == 0) form.showMaximized();
            EXPECT_TRUE(QTest::qWaitFor([&] { return form.isMaximized(); }));
            // The maximised layout is in place before the window closes and stores it.
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return form.findChild<QWidget*>("pcMain")->height() > normalHeight; }));
        });
        EXPECT_EQ(maximised.at("Window.Maximized"), 1);
        EXPECT_EQ(maximised.at("pCat.Height"), normal.at("pCat.Height")) << i;
    }
}
