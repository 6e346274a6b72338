#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include "widgets/data_grid.h"
#include "widgets/hints.h"
#include "app/main_form.h"
#include "widgets/navigator_bar.h"
#include "app/widget_ui.h"
#include "dialogs/captcha_dialog.h"
#include "dialogs/import_dialog.h"
#include "util/text_file.h"
#include "db/database.h"
#include "db/session.h"
#include "support/main_window.h"
#include "util/shell.h"

using namespace zentaro;

using Frame = test::MainWindowTest;

TEST_F(Frame, StartsOnTheFirstPageOfEveryPageControl) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Zentaro - учет внешних ссылок"));
    for (const char* tabs : {"pcMain", "pcTrust", "pcProject", "pcTSite", "pcLink", "pcCat"})
        EXPECT_EQ(find<QTabWidget>(tabs)->currentIndex(), 0) << tabs;
    EXPECT_EQ(find<QLabel>("pCat2")->text(), QStringLiteral("Категории ссылок проекта"));
    EXPECT_EQ(find<QLabel>("Panel3")->text(), QStringLiteral("Продавигаемые проекты"));
    EXPECT_FALSE(find<QPushButton>("bUStop")->isVisible());
    EXPECT_EQ(find<QPushButton>("bUStop")->text(), QStringLiteral("Остановить"));
    QTabWidget* main = find<QTabWidget>("pcMain");
    QStringList captions;
    for (int i = 0; i < main->count(); ++i)
        captions << main->tabText(i);
    EXPECT_EQ(captions, (QStringList{"Продвижение", "Отчеты", "Настройки", "Справка"}));
}

TEST_F(Frame, WorkPanelShowsTheLongHintOfWhatTheMouseIsOver) {
    auto* report = find<QPushButton>("bGetReport");
    EXPECT_TRUE(report->toolTip().isEmpty());
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(report, &enter);
    EXPECT_EQ(find<QLabel>("psbText")->text(), QStringLiteral("Построить отчет"));
    auto* findButton = find<QToolButton>("sbProjectFind");
    EXPECT_EQ(findButton->toolTip(), QStringLiteral("Поиск"));
    QApplication::sendEvent(findButton, &enter);
    EXPECT_EQ(find<QLabel>("psbText")->text(), QStringLiteral("Поиск"));
    QApplication::sendEvent(find<QWidget>("tsOption"), &enter);
    EXPECT_EQ(find<QLabel>("psbText")->text(), QString());
}

TEST_F(Frame, HelpTabLoadsThePageOnEverySelection) {
    clickTab("pcMain", 3);
    EXPECT_TRUE(find<QTextBrowser>("wb")->toPlainText().contains(QStringLiteral("Справка один")));
    test::TempFolder::write(dir.path() + "help/about.htm", "<html><body>Справка два</body></html>");
    clickTab("pcMain", 0);
    clickTab("pcMain", 3);
    EXPECT_TRUE(find<QTextBrowser>("wb")->toPlainText().contains(QStringLiteral("Справка два")));
}

TEST_F(Frame, CategoryCaptionFollowsTheTrustTabsAndTheCategoryPage) {
    auto* caption = find<QLabel>("pCat2");
    auto* cat = find<QTabWidget>("pcCat");
    clickTab("pcTrust", 1);
    EXPECT_EQ(caption->text(), QStringLiteral("Категории трастовых сайтов"));
    EXPECT_EQ(cat->currentIndex(), 1);
    clickTab("pcTrust", 2); // accounts: nothing changes
    EXPECT_EQ(caption->text(), QStringLiteral("Категории трастовых сайтов"));
    EXPECT_EQ(cat->currentIndex(), 1);
    clickTab("pcTrust", 0);
    EXPECT_EQ(caption->text(), QStringLiteral("Категории ссылок проекта"));
    EXPECT_EQ(cat->currentIndex(), 0);
    cat->setCurrentIndex(1); // a switch made by the program follows too
    EXPECT_EQ(caption->text(), QStringLiteral("Категории трастовых сайтов"));
}

TEST_F(Frame, DoubleClickOnTheBackupBoxShowsTheDatabaseBox) {
    clickTab("pcMain", 2);
    auto* box = find<QGroupBox>("gbImport");
    EXPECT_FALSE(box->isVisible());
    QTest::mouseDClick(find<QGroupBox>("GroupBox7"), Qt::LeftButton);
    EXPECT_TRUE(box->isVisible());
}

TEST_F(Frame, LinkCategoryInsertWithoutAProjectAddsNothing) {
    clickNav("DBNavigator10", db::NavButton::Insert);
    EXPECT_EQ(db.tbCat2.recordCount(), 0);
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(Frame, ChoosingAnotherProjectRefiltersCategoriesAndRenamesTheInfoPanel) {
    addProject("Альфа");
    clickNav("DBNavigator10", db::NavButton::Insert);
    db.tbCat2.setValue("Name", QStringLiteral("Статьи альфы"));
    db.tbCat2.post();
    addProject("Бета");
    auto* projects = find<app::DataGrid>("grdProject");
    auto* cats = find<app::DataGrid>("grdCat2");
    EXPECT_EQ(cats->model()->rowCount(), 0);
    QTest::mouseClick(projects->viewport(), Qt::LeftButton, {},
                      projects->visualRect(projects->model()->index(0, 1)).center());
    EXPECT_EQ(db.tbProject.asString("Name"), QStringLiteral("Альфа"));
    EXPECT_EQ(find<QLabel>("ppInfo")->text(), QStringLiteral("Альфа"));
    ASSERT_EQ(cats->model()->rowCount(), 1);
    EXPECT_EQ(cats->model()->index(0, 1).data().toString(), QStringLiteral("Статьи альфы"));
}

TEST_F(Frame, ProjectTitleClickSortsAndFindMovesToTheProject) {
    addProject("Яблоко");
    addProject("арбуз");
    auto* grid = find<app::DataGrid>("grdProject");
    QHeaderView* header = grid->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, 5));
    EXPECT_EQ(grid->model()->index(0, 1).data().toString(), QStringLiteral("арбуз"));
    ui.type(QStringLiteral("ЯБЛ"));
    find<QToolButton>("sbProjectFind")->click();
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Название проекта:|"));
    EXPECT_EQ(ui.shown().back().caption, QStringLiteral("Поиск"));
    EXPECT_EQ(db.tbProject.asString("Name"), QStringLiteral("Яблоко"));
    EXPECT_EQ(grid->currentIndex().row(), 1);
}

TEST_F(Frame, AccountDeleteAsksAndNoKeepsIt) {
    clickTab("pcTrust", 2);
    clickNav("DBNavigator9", db::NavButton::Insert);
    db.tbAccount.setValue("info", QStringLiteral("Почта"));
    db.tbAccount.post();
    ui.answer(false);
    clickNav("DBNavigator9", db::NavButton::Delete);
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Удалить запись?"));
    EXPECT_EQ(ui.shown().back().caption, QStringLiteral("Удаление"));
    EXPECT_EQ(db.tbAccount.recordCount(), 1);
    ui.answer(true);
    clickNav("DBNavigator9", db::NavButton::Delete);
    EXPECT_EQ(db.tbAccount.recordCount(), 0);
}

TEST_F(Frame, CtrlDelInAGridDeletesWithoutTheNavigatorQuestion) {
    clickTab("pcTrust", 2);
    clickNav("DBNavigator9", db::NavButton::Insert);
    auto* grid = find<app::DataGrid>("grdAccount");
    grid->setFocus();
    const size_t asked = ui.shown().size();
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(db.tbAccount.recordCount(), 0);
    EXPECT_EQ(ui.shown().size(), asked);
}

TEST_F(Frame, DescriptionMemoRefusesThe255thCharacter) {
    addProject("Проект");
    clickTab("pcProject", 1);
    auto* memo = find<QPlainTextEdit>("mProjectInfo");
    memo->setFocus();
    memo->setPlainText(QString(253, u'ж'));
    memo->moveCursor(QTextCursor::End);
    QTest::keyClicks(memo, "ab");
    EXPECT_EQ(memo->toPlainText().size(), 254);
    EXPECT_TRUE(memo->toPlainText().endsWith(QStringLiteral("жa")));
    db.tbProject.post();
    EXPECT_EQ(db.tbProject.asString("Info").size(), 254);
}

TEST_F(Frame, ProjectSiteOpensFromItsButtonAndByDoubleClickButNotWhenEmpty) {
    QStringList opened;
    setOpenHandler([&](const QString& t, const QString&, const QString&) {
        opened << t;
        return 0;
    });
    addProject("Проект");
    clickTab("pcProject", 1);
    QTest::mouseDClick(find<QWidget>("eProjectSite"), Qt::LeftButton);
    EXPECT_TRUE(opened.isEmpty());
    db.tbProject.setValue("Site", QStringLiteral("Example.RU"));
    db.tbProject.post();
    find<QToolButton>("sbOpenProjectSite")->click();
    QTest::mouseDClick(find<QWidget>("eProjectSite"), Qt::LeftButton);
    setOpenHandler({});
    EXPECT_EQ(opened, (QStringList{"http://example.ru", "http://example.ru"}));
}

TEST_F(Frame, HintsFollowThePointerBackToTheParentAndOutAndNavigatorsHaveTheirs) {
    QEvent enter(QEvent::Enter), leave(QEvent::Leave);
    auto* button = find<QToolButton>("sbProjectFind");
    QApplication::sendEvent(button, &enter);
    EXPECT_EQ(find<QLabel>("psbText")->text(), QStringLiteral("Поиск"));
    QApplication::sendEvent(button, &leave); // back onto its strip, which has no hint
    EXPECT_EQ(find<QLabel>("psbText")->text(), QString());
    QToolButton* insert = find<app::NavigatorBar>("DBNavigator1")->button(db::NavButton::Insert);
    QApplication::sendEvent(insert, &enter);
    EXPECT_EQ(find<QLabel>("psbText")->text(), QStringLiteral("Добавить"));
    QApplication::sendEvent(form.get(), &leave);
    QApplication::sendEvent(insert, &leave);
    EXPECT_EQ(find<QLabel>("psbText")->text(), QString());
}

TEST_F(Frame, TabReactionsFollowKeyboardChangesAndNotRepeatedClicks) {
    auto* trust = find<QTabWidget>("pcTrust");
    trust->setFocus();
    QTest::keyClick(trust, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(trust->currentIndex(), 1);
    EXPECT_EQ(find<QLabel>("pCat2")->text(), QStringLiteral("Категории трастовых сайтов"));
    EXPECT_EQ(find<QTabWidget>("pcCat")->currentIndex(), 1);
    auto* main = find<QTabWidget>("pcMain");
    main->setFocus();
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(main, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_TRUE(find<QTextBrowser>("wb")->toPlainText().contains(QStringLiteral("Справка один")));
    // A click on the tab already shown does not load the page again.
    test::TempFolder::write(dir.path() + "help/about.htm", "<html><body>Справка два</body></html>");
    clickTab("pcMain", 3);
    EXPECT_TRUE(find<QTextBrowser>("wb")->toPlainText().contains(QStringLiteral("Справка один")));
}

TEST_F(Frame, TheNotesMemoPostsWhenItIsLeft) {
    addProject(QStringLiteral("Проект"));
    clickTab("pcProject", 1);
    auto* memo = find<QPlainTextEdit>("mProjectInfo");
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    memo->setFocus();
    QTest::keyClicks(memo, QStringLiteral("note"));
    EXPECT_EQ(db.tbProject.state(), db::Table::State::Edit);
    find<QWidget>("grdProject")->setFocus();
    EXPECT_EQ(db.tbProject.state(), db::Table::State::Browse);
    EXPECT_EQ(db.tbProject.asString("Info"), QStringLiteral("note"));
}

TEST_F(Frame, ACommandWithoutAHandlerSaysSo) {
    form->runCommand(QStringLiteral("NoSuchCommand"));
    EXPECT_EQ(ui.texts(), QStringList{QStringLiteral("Эта команда пока недоступна.")});
}

TEST_F(Frame, InsertOnANavigatorPutsTheKeyboardOnItsGrid) {
    addProject(QStringLiteral("Проект"));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    find<QWidget>("grdProject")->setFocus();
    clickNav("DBNavigator10", db::NavButton::Insert);
    EXPECT_EQ(QApplication::focusWidget(), find<QWidget>("grdCat2"));
    EXPECT_EQ(find<app::DataGrid>("grdCat2")->currentIndex().row(), db.tbCat2.currentPos());
}

TEST_F(Frame, QtStandardButtonsSpeakRussian) {
    ASSERT_TRUE(app::installQtTranslations());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Да"));
}

TEST(CaptchaDialog, EnterIsOkCancelGivesUpAndTheFrameIsNeither) {
    test::TempFolder dir;
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    image.save(dir.path() + "image.png", "PNG");
    QFile::rename(dir.path() + "image.png",
                  dir.path() + "yandex.gif"); // served as a GIF, shown as what it is
    {
        dialogs::TfmCaptcha d(1, dir.path() + "yandex.gif");
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Каптча Яндекса"));
        EXPECT_FALSE(d.findChild<QLabel*>("img")->pixmap().isNull());
        d.show();
        auto* text = d.findChild<QLineEdit*>("eText");
        QTest::keyClicks(text, "ab cd");
        QTest::keyClick(text, Qt::Key_Return);
        EXPECT_EQ(d.result(), QDialog::Accepted);
        EXPECT_EQ(d.FormRunResultS(), QStringLiteral("ab cd"));
        EXPECT_FALSE(d.cancelled());
    }
    {
        dialogs::TfmCaptcha d(1, dir.path() + "yandex.gif");
        d.show();
        QTest::keyClicks(d.findChild<QLineEdit*>("eText"), "x");
        d.findChild<QPushButton*>("bCancel")->click();
        EXPECT_TRUE(d.cancelled());
        EXPECT_EQ(d.FormRunResultS(), QString());
    }
    {
        dialogs::TfmCaptcha d(1, dir.path() + "yandex.gif");
        d.show();
        QTest::keyClicks(d.findChild<QLineEdit*>("eText"), "x");
        d.close();
        EXPECT_FALSE(d.cancelled());
        EXPECT_EQ(d.FormRunResultS(), QString());
    }
}

TEST_F(Frame, TheImportDialogOrdersColumnsAndAsksForADivider) {
    dialogs::TfmImport d(0, db.tbCat2, ui, dir.path());
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Импорт ссылок"));
    auto* lb = d.findChild<QListWidget*>("lb");
    lb->setCurrentRow(0);
    d.findChild<QToolButton*>("SpeedButton6")->click();
    d.findChild<QToolButton*>("SpeedButton5")->click();
    QStringList order;
    for (int i = 0; i < lb->count(); ++i)
        order << lb->item(i)->text();
    EXPECT_EQ(order, (QStringList{"Цена", "URL ссылки", "Дата"}));
    d.findChild<QLineEdit*>("eDiv")->clear(); // also unticks the tab
    d.findChild<QPushButton*>("bOK")->click();
    EXPECT_EQ(ui.texts(), QStringList{QStringLiteral("Укажите разделить столбцов!")});
    EXPECT_FALSE(d.choice().has_value());
    d.findChild<QLineEdit*>("eDiv")->setText(QStringLiteral(";"));
    d.findChild<QLineEdit*>("eFN")->setText(dir.path() + "links.txt");
    d.findChild<QPushButton*>("bOK")->click();
    ASSERT_TRUE(d.choice().has_value());
    EXPECT_EQ(d.choice()->fields, QStringLiteral("|Цена|URL ссылки|Дата|"));
    EXPECT_EQ(d.choice()->symbol, QStringLiteral(";"));
    EXPECT_EQ(d.choice()->otherSymbol, QStringLiteral("tab"));
    dialogs::TfmImport sites(1, db.tbCat, ui, dir.path());
    EXPECT_TRUE(sites.findChild<QWidget*>("pFile")->isHidden());
}

// The closing message of a list import names what was passed over: lines without an address, and a file
// divided by ";" while "Табуляция" is ticked.
TEST_F(Frame, AListImportSaysWhatItPassedOver) {
    addProject(QStringLiteral("Проект"));
    test::TempFolder::write(dir.path() + "links.txt",
                            "http://a.ru/;1;01.02.2014\r\nhttp://b.ru/;2;01.02.2014\r\nбез адреса;3\r\n");
    form->runDlgImport = [&](int) {
        exchange::ImportChoice c;
        c.fileName = dir.path() + "links.txt";
        return std::optional<exchange::ImportChoice>(c);
    };
    form->runCommand(QStringLiteral("ImportLinks"));
    EXPECT_EQ(
        ui.texts().last(),
        QStringLiteral("Добавлено новых элементов: 2\r\nПропущено строк без адреса: 1\r\nВнимание: в "
                       "большинстве строк столбцы разделены знаком \";\", а выбран другой разделитель."));
}

TEST_F(Frame, ListsAndTablesTravelThroughTextFilesFromTheWindow) {
    addProject(QStringLiteral("Проект"));
    test::TempFolder::write(dir.path() + "sites.txt", "one.ru\r\nhttp://www.two.ru/x\r\n");
    form->runDlgImport = [&](int) {
        exchange::ImportChoice c;
        c.fileName = dir.path() + "sites.txt";
        return std::optional<exchange::ImportChoice>(c);
    };
    form->runCommand(QStringLiteral("ImportSite"));
    EXPECT_EQ(ui.texts().last(), QStringLiteral("Добавлено новых элементов: 2"));
    ui.type(dir.path() + "sites-out");
    form->runCommand(QStringLiteral("N19Click"));
    EXPECT_EQ(ui.texts().last(),
              QStringLiteral("Экспорт произведен в файл:\r\n") + dir.path() + "sites-out.txt");
    EXPECT_EQ(test::TempFolder::read(dir.path() + "sites-out.txt"),
              encodeLines({"Сайт\tтИЦ\tPR\tКатегория", "one.ru\t\t\t", "two.ru\t\t\t"}));
    ui.clear();
    for (int i = 0; i < 6; ++i)
        ui.answer(true);
    find<QPushButton>("bExportAllTables")->click();
    EXPECT_TRUE(ui.texts().last().startsWith(QStringLiteral("Экспорт произведен: ")));
    find<QPushButton>("bImportAllTables")->click();
    EXPECT_TRUE(
        ui.texts().last().startsWith(QStringLiteral("Импорт из текстовых файлов произведен\r\nИсточник ")));
    db.tbSite.setFiltered(false);
    EXPECT_EQ(db.tbSite.recordCount(), 2);
}
