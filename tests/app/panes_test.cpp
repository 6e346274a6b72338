#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QClipboard>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTest>
#include <QTreeWidget>

#include "widgets/data_grid.h"
#include "widgets/lookup_box.h"
#include "support/http_server.h"
#include "support/main_window.h"
#include "util/shell.h"
#include "web/page_fetcher.h"

using namespace zentaro;

namespace {

class Panes : public test::MainWindowTest {
protected:
    // Two sites, one project, and three links on the first site: statuses waiting, lost, placed.
    void fill() {
        clickNav("DBNavigator4", db::NavButton::Insert);
        db.tbSite.setValue("Site", QStringLiteral("trust-one.ru"));
        db.tbSite.post();
        clickNav("DBNavigator4", db::NavButton::Insert);
        db.tbSite.setValue("Site", QStringLiteral("https://Trust-Two.ru"));
        db.tbSite.post();
        db.tbSite.first();
        addProject("Проект");
        for (const char* status : {"0", "2", "1"}) {
            clickNav("DBNavigator5", db::NavButton::Insert);
            db.tbLink.setValue("SiteID", 1);
            db.tbLink.setValue("PageStatus", QString::fromLatin1(status));
            db.tbLink.setValue("PageURL", QStringLiteral("WWW.Trust-One.ru/Page%1").arg(status));
            db.tbLink.post();
        }
    }
    QColor cellBackground(app::DataGrid* grid, int row, int column) {
        const QRect r = grid->visualRect(grid->model()->index(row, column));
        const QImage img = grid->viewport()->grab().toImage();
        return img.pixelColor(r.right() - 3, r.center().y());
    }
    QStringList opened;
    void observeOpening() {
        setOpenHandler([this](const QString& t, const QString&, const QString&) {
            opened << t;
            return 0;
        });
    }
    void TearDown() override {
        setOpenHandler({});
        test::MainWindowTest::TearDown();
    }
};

const QColor kLightRed(255, 198, 198);

} // namespace

TEST_F(Panes, LostLinkPaintsTheFirstColumnCellAndFollowsAMovedColumn) {
    fill();
    auto* grid = find<app::DataGrid>("grdLink");
    grid->resize(900, 300);
    ASSERT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(cellBackground(grid, 1, 0), kLightRed);
    EXPECT_NE(cellBackground(grid, 0, 0), kLightRed);
    EXPECT_NE(cellBackground(grid, 2, 0), kLightRed);
    EXPECT_NE(cellBackground(grid, 1, 1), kLightRed);
    grid->horizontalHeader()->moveSection(1, 0); // "Веб-страница" to the front
    EXPECT_EQ(cellBackground(grid, 1, 1), kLightRed);
    EXPECT_NE(cellBackground(grid, 1, 0), kLightRed);
    db.tbLink.locate("PageStatus", QStringLiteral("2"));
    db.tbLink.setText(db.tbLink.fieldIndex("PageStatus"), QStringLiteral("Размещено"));
    db.tbLink.post();
    EXPECT_NE(cellBackground(grid, 1, 1), kLightRed);
}

TEST_F(Panes, SiteRadioCaptionAndFilterFollowTheCurrentSite) {
    fill();
    find<QRadioButton>("rbListUrlSite")->click();
    EXPECT_EQ(db.tbLink.recordCount(), 3);
    clickTab("pcTrust", 1);
    db.tbSite.last();
    EXPECT_EQ(find<QRadioButton>("rbListUrlSite")->text(),
              QStringLiteral("Трастовый сайт (https://Trust-Two.ru)"));
    EXPECT_EQ(db.tbLink.recordCount(), 0);
    db.tbSite.first();
    EXPECT_EQ(find<QRadioButton>("rbListUrlSite")->text(), QStringLiteral("Трастовый сайт (trust-one.ru)"));
    clickTab("pcTrust", 0);
    EXPECT_EQ(db.tbLink.recordCount(), 3);
}

TEST_F(Panes, AddingALinkUnderTheCategoryFilterShowsAllLinksAndTheNewOne) {
    fill();
    find<QRadioButton>("rbListCat")->click();
    EXPECT_EQ(db.tbLink.recordCount(), 0); // no link category
    clickNav("DBNavigator5", db::NavButton::Insert);
    EXPECT_TRUE(find<QRadioButton>("rbListAllUrl")->isChecked());
    EXPECT_EQ(db.tbLink.recordCount(), 4);
    EXPECT_EQ(db.tbLink.asInteger("ID"), 4);
    EXPECT_EQ(find<app::DataGrid>("grdLink")->currentIndex().row(), 3);
}

TEST_F(Panes, PopupTicksTheFilterOfTheCheckedRadioButton) {
    fill();
    auto* menu = find<QMenu>("pumLink");
    find<QRadioButton>("rbListUrlSite")->click();
    QMetaObject::invokeMethod(menu, "aboutToShow");
    EXPECT_FALSE(find<QAction>("mnFL1")->isChecked());
    EXPECT_FALSE(find<QAction>("mnFL2")->isChecked());
    EXPECT_TRUE(find<QAction>("mnFL3")->isChecked());
    find<QAction>("mnFL2")->trigger();
    EXPECT_TRUE(find<QRadioButton>("rbListCat")->isChecked());
    QMetaObject::invokeMethod(menu, "aboutToShow");
    EXPECT_TRUE(find<QAction>("mnFL2")->isChecked());
    EXPECT_FALSE(find<QAction>("mnFL3")->isChecked());
    EXPECT_EQ(find<QAction>("N10")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    EXPECT_EQ(find<QAction>("mnCheckLinkAll")->statusTip(),
              QStringLiteral(" Проверить тИЦ, PR, индексацию, внешние ссылки, наличие ссылок"));
}

TEST_F(Panes, FilterBoxHidesAndShowsAgain) {
    auto* box = find<QGroupBox>("gbLinkFilter");
    EXPECT_TRUE(box->isVisible());
    find<QToolButton>("SpeedButton2")->click();
    EXPECT_FALSE(box->isVisible());
    find<QToolButton>("SpeedButton2")->click();
    EXPECT_TRUE(box->isVisible());
}

TEST_F(Panes, AccountBoxesFollowTheLinkAndAChoiceInTheLookupBox) {
    fill();
    clickTab("pcTrust", 2);
    clickNav("DBNavigator9", db::NavButton::Insert);
    db.tbAccount.setValue("info", QStringLiteral("Блог"));
    db.tbAccount.setValue("User", QStringLiteral("ivan"));
    db.tbAccount.setValue("Password", QStringLiteral("пароль"));
    db.tbAccount.setValue("email", QStringLiteral("ivan@mail.ru"));
    db.tbAccount.post();
    clickNav("DBNavigator9", db::NavButton::Insert);
    db.tbAccount.setValue("info", QStringLiteral("Другой"));
    db.tbAccount.post();
    clickTab("pcTrust", 0);
    db.tbLink.first();
    EXPECT_EQ(find<QLineEdit>("eLinkLogin")->text(), QString());
    EXPECT_EQ(find<QLineEdit>("eLinkPassword")->text(), QString());
    auto* box = find<app::LookupBox>("DBLookupComboBox1");
    EXPECT_EQ(box->currentText(), QString());
    // The user's click in the drop-down: Qt closes the popup first, then reports the choice.
    box->showPopup();
    const int index = box->findText(QStringLiteral("Блог"));
    ASSERT_GE(index, 0);
    QAbstractItemView* list = box->view();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(index, 0)).center());
    EXPECT_EQ(db.tbLink.asInteger("AccountID"), 1);
    EXPECT_EQ(find<QLineEdit>("eLinkLogin")->text(), QStringLiteral("ivan"));
    EXPECT_EQ(find<QLineEdit>("eLinkPassword")->text(), QStringLiteral("пароль"));
    EXPECT_EQ(find<QLineEdit>("eLinkEMail")->text(), QStringLiteral("ivan@mail.ru"));
    EXPECT_EQ(db.tbAccount.asInteger("ID"), 1); // the account list follows the link
    EXPECT_EQ(box->currentText(), QStringLiteral("Блог"));
    db.tbLink.next();
    EXPECT_EQ(find<QLineEdit>("eLinkLogin")->text(), QString());
    EXPECT_EQ(box->currentText(), QString());
}

TEST_F(Panes, OpeningThePageLowerCasesAndAddsTheSchemeWhenMissing) {
    fill();
    observeOpening();
    db.tbLink.first();
    find<QToolButton>("sbViewWebPage")->click();
    db.tbLink.setValue("PageURL", QStringLiteral("HTTPS://Secure.RU/X"));
    db.tbLink.post();
    find<QToolButton>("sbLinkOut")->click();
    EXPECT_EQ(opened, (QStringList{"http://www.trust-one.ru/page0", "https://secure.ru/x"}));
}

TEST_F(Panes, LinkHereShowsTheNewLinkAndOpensTheSiteOrItsRegistrationPage) {
    fill();
    observeOpening();
    find<QRadioButton>("rbListCat")->click();
    clickTab("pcTrust", 1);
    db.tbSite.first();
    form->LinkHere();
    EXPECT_EQ(find<QTabWidget>("pcTrust")->currentIndex(), 0);
    EXPECT_EQ(find<QTabWidget>("pcLink")->currentIndex(), 1);
    EXPECT_EQ(find<QLabel>("pCat2")->text(), QStringLiteral("Категории ссылок проекта"));
    EXPECT_TRUE(find<QRadioButton>("rbListAllUrl")->isChecked());
    EXPECT_EQ(find<QLineEdit>("eLinkPageURL")->text(), QStringLiteral("http://trust-one.ru/<страница>"));
    clickTab("pcTrust", 1);
    db.tbSite.last();
    db.tbSite.setValue("RegURL", QStringLiteral("HTTP://Trust-Two.ru/Reg"));
    db.tbSite.post();
    form->LinkHere();
    EXPECT_EQ(db.tbLink.asString("PageURL"), QStringLiteral("https://Trust-Two.ru/<страница>"));
    EXPECT_EQ(opened, (QStringList{"http://trust-one.ru", "http://trust-two.ru/reg"}));
    EXPECT_EQ(db.tbLink.recordCount(), 5);
}

TEST_F(Panes, SitesWithoutLinksDisableTheCategoryBoxUntilFiltersAreCleared) {
    fill();
    db.tbProject.first();
    clickTab("pcTrust", 1);
    auto* cb = find<QCheckBox>("cbSiteCat");
    find<QToolButton>("sbShowSite")->click();
    EXPECT_FALSE(cb->isEnabled());
    EXPECT_EQ(db.tbSite.recordCount(), 1);
    EXPECT_EQ(find<QToolButton>("sbShowSite")->toolTip(),
              QStringLiteral("Показать на каких сайтах пока нет ссылок на проект \"Проект\""));
    find<QToolButton>("SpeedButton5")->click();
    EXPECT_TRUE(cb->isEnabled());
    EXPECT_EQ(db.tbSite.recordCount(), 2);
}

TEST_F(Panes, NotesStripReopensTheNotesPanelAt50Pixels) {
    clickTab("pcTrust", 1);
    auto* splitter = find<QSplitter>("Splitter3");
    splitter->setSizes({splitter->height(), 0});
    QTest::mouseClick(find<QWidget>("pHelpShow"), Qt::LeftButton);
    EXPECT_EQ(splitter->sizes().at(1), 50);
    splitter->setSizes({100, 120});
    QTest::mouseDClick(find<QWidget>("pHelpShow"), Qt::LeftButton);
    EXPECT_EQ(splitter->sizes().at(1), 50);
}

TEST_F(Panes, WebButtonsCheckTheCurrentLinkAndProjectAgainstALocalServer) {
    test::HttpServer server;
    test::HttpServer::Reply page;
    page.body = "<a href=http://mine.example/x>x</a> end";
    server.on("/page", page);
    test::HttpServer::Reply pr;
    pr.body = "Rank_1:1:3";
    server.on("/tbr", pr);
    test::HttpServer::Reply cy;
    cy.body = "<v value=\"40\"/>";
    server.on("/u", cy);
    form->fetcher().hosts.googleToolbar = server.host();
    form->fetcher().hosts.yandexToolbar = server.host();
    fill();
    db.tbLink.first();
    db.tbLink.setValue("PageURL", server.url("/page"));
    db.tbLink.post();
    clickNav("DBNavigator8", db::NavButton::Insert);
    db.tbAncor.setValue("URL", QStringLiteral("http://mine.example/x"));
    db.tbAncor.post();
    find<QToolButton>("SpeedButton3")->click();
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("1"));
    EXPECT_EQ(ui.shown().back().text,
              QStringLiteral("Наличие ссылок на странице: \r\n[Есть]_http://mine.example/x\r\n"));
    find<QToolButton>("sbExtLinks")->click();
    EXPECT_EQ(db.tbLink.asInteger("UrlCount"), 1);
    db.tbProject.setValue("Site", QStringLiteral("http://www.mine.example/"));
    db.tbProject.post();
    find<QToolButton>("sbPRCYProjectUpdate")->click();
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Для сайта mine.example:\r\nтИЦ=40\r\nPR=3"));
    EXPECT_EQ(db.tbProject.asInteger("TIC"), 40);
    // The run over every listed page from the links menu: the work panel shows and hides again. Pages
    // without anchors are asked for the project's site, so every page is served here.
    for (db.tbLink.first(); !db.tbLink.eof(); db.tbLink.next()) {
        db.tbLink.edit();
        db.tbLink.setValue("PageURL", server.url("/page"));
        db.tbLink.post();
    }
    ui.clear();
    form->findChild<QAction*>("N11")->trigger();
    EXPECT_EQ(ui.texts(), QStringList{QStringLiteral("Проверка выполнена.")});
    EXPECT_FALSE(find<QPushButton>("bUStop")->isVisible());
    EXPECT_FALSE(db.tbLink.controlsDisabled());
    EXPECT_EQ(find<app::DataGrid>("grdLink")->model()->rowCount(), db.tbLink.recordCount());
    // The listed pages without anchors get the project's site address, once.
    ui.clear();
    form->findChild<QAction*>("mnAddSiteAnchors")->trigger();
    form->findChild<QAction*>("mnAddSiteAnchors")->trigger();
    EXPECT_EQ(ui.texts(),
              (QStringList{QStringLiteral("Добавлено анкоров: 2"), QStringLiteral("Добавлено анкоров: 0")}));
}

TEST_F(Panes, MenuHighlightShowsTheLongHintInTheWorkPanel) {
    auto* menu = find<QMenu>("pumLink");
    QAction* all = find<QAction>("mnCheckLinkAll");
    menu->popup(QPoint(10, 10));
    menu->setActiveAction(all);
    EXPECT_EQ(find<QLabel>("psbText")->text(),
              QStringLiteral(" Проверить тИЦ, PR, индексацию, внешние ссылки, наличие ссылок"));
    menu->hide();
}

TEST_F(Panes, ArticleFileIsAssignedOnlyToAnExistingLinkAndOpenedAsStored) {
    observeOpening();
    ui.type(QStringLiteral("/tmp/статья.doc"));
    find<QToolButton>("sbArtFN")->click(); // no link: nothing asked, nothing stored
    EXPECT_TRUE(ui.shown().empty());
    fill();
    find<QToolButton>("sbArtFN")->click();
    EXPECT_EQ(db.tbLink.asString("AFN"), QStringLiteral("/tmp/статья.doc"));
    EXPECT_EQ(find<QLineEdit>("eLinkAFN")->text(), QStringLiteral("/tmp/статья.doc"));
    find<QToolButton>("SpeedButton10")->click();
    EXPECT_EQ(opened, QStringList{QStringLiteral("/tmp/статья.doc")});
    find<QToolButton>("sbArtFN")->click(); // cancelled: unchanged
    EXPECT_EQ(db.tbLink.asString("AFN"), QStringLiteral("/tmp/статья.doc"));
}

TEST_F(Panes, CopyButtonsPutTheAccountFieldsOnTheClipboard) {
    fill();
    clickTab("pcTrust", 2);
    clickNav("DBNavigator9", db::NavButton::Insert);
    db.tbAccount.setValue("User", QStringLiteral("пользователь"));
    db.tbAccount.setValue("Password", QStringLiteral("p@ss"));
    db.tbAccount.post();
    clickTab("pcTrust", 0);
    db.tbLink.first();
    db.tbLink.setValue("AccountID", db.tbAccount.asInteger("ID"));
    db.tbLink.post(); // the account boxes follow the stored account at once
    find<QToolButton>("sbL2")->click();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("p@ss"));
    find<QToolButton>("sbL1")->click();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("пользователь"));
    find<QToolButton>("sbShowAccount")->click();
    EXPECT_EQ(find<QTabWidget>("pcTrust")->currentIndex(), 2);
}

TEST_F(Panes, TheCategoryDropDownOfTheLinksGridWritesTheChosenCategory) {
    fill();
    clickNav("DBNavigator10", db::NavButton::Insert);
    db.tbCat2.setValue("Name", QStringLiteral("Статьи"));
    db.tbCat2.post();
    auto* grid = find<app::DataGrid>("grdLink");
    db.tbLink.first();
    const QModelIndex cell = grid->model()->index(0, 2);
    ASSERT_TRUE(grid->model()->flags(cell).testFlag(Qt::ItemIsEditable));
    grid->setFocus();
    grid->setCurrentIndex(cell);
    QTest::keyClick(grid, Qt::Key_F2);
    auto* editor = grid->viewport()->findChild<QComboBox*>();
    ASSERT_NE(editor, nullptr);
    const int item = editor->findText(QStringLiteral("Статьи"));
    ASSERT_GE(item, 0);
    editor->setCurrentIndex(item);
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents(); // the view commits the editor's data after the key is handled
    EXPECT_EQ(db.tbLink.asInteger("LinkCat"), db.tbCat2.asInteger("ID"));
    EXPECT_EQ(grid->model()->index(0, 2).data().toString(), QStringLiteral("Статьи"));
}

// The last check in the links grid, the history on the properties page, the counts in the work panel and the
// filter by the last check.
TEST_F(Panes, CheckOutcomesShowInTheGridThePropertiesAndTheFilter) {
    test::HttpServer server;
    test::HttpServer::Reply found;
    found.body = "<a href=http://mine.example/x>x</a> end";
    server.on("/found", found);
    test::HttpServer::Reply other;
    other.body = "<a href=http://other.example/>y</a> end";
    server.on("/missing", other);
    fill();
    const QString urls[3] = {server.url("/found"), server.url("/missing"), server.url("/gone")};
    db.tbLink.first();
    for (const QString& url : urls) {
        db.tbLink.setValue("PageURL", url);
        db.tbLink.post();
        clickNav("DBNavigator8", db::NavButton::Insert);
        db.tbAncor.setValue("URL", QStringLiteral("http://mine.example/x"));
        db.tbAncor.post();
        db.tbLink.next();
    }
    form->findChild<QAction*>("N11")->trigger(); // found, missing, 404
    form->findChild<QAction*>("N11")->trigger(); // twice: two outcomes for each page
    EXPECT_TRUE(find<QLabel>("psbText")->text().startsWith(
        QStringLiteral("Проверено страниц: 3, ссылки на месте: 1, пропали: 1, не загружено: 1")));
    auto* grid = find<app::DataGrid>("grdLink");
    const int column = grid->model()->columnCount() - 1;
    EXPECT_EQ(grid->model()->headerData(column, Qt::Horizontal).toString(), QStringLiteral("Проверка"));
    QStringList shown;
    for (int row = 0; row < grid->model()->rowCount(); ++row)
        shown << grid->model()->index(row, column).data().toString();
    EXPECT_EQ(shown, (QStringList{"Ссылки на месте", "Ссылка пропала", "Ошибка HTTP"}));

    db.tbLink.first();
    db.tbLink.next();
    QApplication::processEvents();
    auto* history = find<QTreeWidget>("tvCheckHistory");
    ASSERT_EQ(history->topLevelItemCount(), 2);
    EXPECT_EQ(history->topLevelItem(0)->text(2), QStringLiteral("Ссылка пропала"));
    EXPECT_TRUE(history->topLevelItem(0)->text(3).contains(QStringLiteral("[Нет] http://mine.example/x")));

    form->findChild<QAction*>("mnCheckNotFetched")->trigger();
    EXPECT_EQ(db.tbLink.recordCount(), 1);
    EXPECT_EQ(db.tbLink.asString("PageURL"), urls[2]);
    form->findChild<QAction*>("mnCheckAny")->trigger();
    EXPECT_EQ(db.tbLink.recordCount(), 3);
}
