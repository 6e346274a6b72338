#include <csignal>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include "widgets/data_grid.h"
#include "app/main_form.h"
#include "app/settings_pane.h"
#include "db/database.h"
#include "db/session.h"
#include "db/table_file.h"
#include "util/termination.h"
#include "support/busy_file.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro;

TEST(MainForm, OpensWithItsCaptionLoadsAtStartAndSavesAtClose) {
    test::TempFolder dir;
    test::ScriptedUi ui;
    {
        db::Database db;
        db::Session session(db, dir.base(), ui);
        ASSERT_TRUE(session.acquireInstanceLock());
        app::TMainForm form(db, session, ui, dir.path());
        form.FormCreate();
        form.show();
        EXPECT_EQ(form.windowTitle(), QStringLiteral("Zentaro - учет внешних ссылок"));
        ASSERT_NE(form.findChild<QTabWidget*>(QStringLiteral("pcMain")), nullptr);
        ASSERT_TRUE(db.tbProject.insert());
        db.tbProject.setValue("ID", 1);
        db.tbProject.setValue("Name", QStringLiteral("Сайт"));
        EXPECT_TRUE(form.close());
    }
    EXPECT_TRUE(QFileInfo::exists(dir.file("project.adb")));
    db::Database db;
    db::Session session(db, dir.base(), ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    app::TMainForm form(db, session, ui, dir.path());
    form.FormCreate();
    db.tbProject.first();
    EXPECT_EQ(db.tbProject.asString("Name"), QStringLiteral("Сайт"));
    EXPECT_TRUE(ui.shown().empty());
}

TEST(MainForm, AFailedSaveKeepsTheWindowOpenUnlessTheUserLeaves) {
    test::TempFolder dir;
    test::ScriptedUi ui;
    db::Database db;
    db::Session session(db, dir.base(), ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    app::TMainForm form(db, session, ui, dir.path());
    form.FormCreate();
    form.show();
    test::BusyFile busy(dir.file("project.adb"));
    test::addRecord(db.tbProject, {{"Name", QStringLiteral("П")}});
    QTest::qWait(db::Store::kWriteDelayMs * 2); // the write fails and is said once
    ui.answer(false);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(ui.shown().size(), 3u);
    for (int i : {0, 1})
        EXPECT_TRUE(ui.shown()[size_t(i)].text.startsWith(QStringLiteral("Не удалось сохранить изменения: ")))
            << ui.shown()[size_t(i)].text.toStdString();
    EXPECT_EQ(ui.shown()[2].text, QStringLiteral("Данные не сохранены. Выйти без сохранения?"));
    ui.answer(true);
    EXPECT_TRUE(form.close());
}

TEST(MainForm, AccountOfTheCurrentLinkIsShownAfterStartEvenThoughAccountsLoadLast) {
    test::TempFolder dir;
    test::ScriptedUi ui;
    {
        db::Database db;
        db::Session session(db, dir.base(), ui);
        ASSERT_TRUE(session.acquireInstanceLock());
        session.start();
        for (db::Table* t : {&db.tbSite, &db.tbProject, &db.tbAccount, &db.tbLink}) {
            ASSERT_TRUE(t->insert());
            t->setValue("ID", 1);
            t->post();
        }
        db.tbAccount.setValue("User", QStringLiteral("ivan"));
        db.tbAccount.setValue("info", QStringLiteral("Блог"));
        db.tbAccount.post();
        db.tbLink.setValue("AccountID", 1);
        db.tbLink.setValue("ProjectID", 1);
        db.tbLink.post();
        ASSERT_TRUE(session.close(nullptr));
    }
    db::Database db;
    db::Session session(db, dir.base(), ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    app::TMainForm form(db, session, ui, dir.path());
    form.FormCreate();
    EXPECT_EQ(form.findChild<QLineEdit*>("eLinkLogin")->text(), QStringLiteral("ivan"));
    EXPECT_EQ(form.findChild<QComboBox*>("DBLookupComboBox1")->currentText(), QStringLiteral("Блог"));
}

TEST(MainForm, ATerminationSignalClosesWithoutQuestionsAndStoresTheEditInHand) {
    test::TempFolder dir;
    test::ScriptedUi ui;
    {
        db::Database db;
        db::Session session(db, dir.base(), ui);
        ASSERT_TRUE(session.acquireInstanceLock());
        app::TMainForm form(db, session, ui, dir.path());
        form.FormCreate();
        form.show();
        TerminationWatcher watcher;
        QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &form,
                         &app::TMainForm::closeWithoutQuestions);
        ASSERT_TRUE(db.tbProject.insert());
        db.tbProject.setValue("Name", QStringLiteral("Не дописан"));
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        for (int i = 0; i < 50 && !form.closedForGood(); ++i)
            QTest::qWait(10);
        EXPECT_TRUE(form.closedForGood());
        EXPECT_FALSE(form.isVisible());
    }
    EXPECT_TRUE(ui.shown().empty());
    db::Database db;
    ASSERT_TRUE(db::TableFile::load(db.tbProject, dir.file("project.adb"), nullptr));
    ASSERT_EQ(db.tbProject.recordCount(), 1);
    EXPECT_EQ(db.tbProject.asString("Name"), QStringLiteral("Не дописан"));
}

TEST(MainForm, LayoutAndOptionsSurviveARestartAndAPressedCopyIsNotReplacedAtClosing) {
    test::TempFolder dir;
    test::ScriptedUi ui;
    {
        db::Database db;
        db::Session session(db, dir.base(), ui);
        ASSERT_TRUE(session.acquireInstanceLock());
        app::TMainForm form(db, session, ui, dir.path());
        form.FormCreate();
        form.show();
        form.resize(1000, 700);
        form.findChild<app::DataGrid*>("grdLink")->horizontalHeader()->resizeSection(3, 77);
        form.findChild<QToolButton*>("SpeedButton2")->click(); // hides the link filter group
        form.findChild<QToolButton*>("SpeedButton44")->click();
        ASSERT_EQ(ui.shown().size(), 1u);
        EXPECT_TRUE(ui.shown()[0].text.startsWith(QStringLiteral("Создана резервная копия базы.")));
        form.findChild<QCheckBox*>("cbRCopy")->setChecked(false);
        form.findChild<QSpinBox*>("seRCopy")->setValue(5);
        test::addRecord(db.tbProject, {{"Name", QStringLiteral("После нажатия")}});
        EXPECT_TRUE(form.close());
    }
    // The copy made by the press holds the tables as they were then; closing made none over it.
    db::Database copy;
    const QString day = dir.path() + "RCopy/" + QDate::currentDate().toString("yyyy-MM-dd");
    ASSERT_TRUE(db::TableFile::load(copy.tbProject, day + "/project.adb", nullptr));
    EXPECT_EQ(copy.tbProject.recordCount(), 0);
    EXPECT_FALSE(QFileInfo::exists(day + "-2"));

    db::Database db;
    db::Session session(db, dir.base(), ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    app::TMainForm form(db, session, ui, dir.path());
    form.FormCreate();
    form.show();
    EXPECT_EQ(form.size(), QSize(1000, 700));
    EXPECT_EQ(form.findChild<app::DataGrid*>("grdLink")->horizontalHeader()->sectionSize(3), 77);
    EXPECT_TRUE(form.findChild<QWidget*>("gbLinkFilter")->isHidden());
    EXPECT_FALSE(form.findChild<QCheckBox*>("cbRCopy")->isChecked());
    EXPECT_EQ(form.findChild<QSpinBox*>("seRCopy")->value(), 5);
    EXPECT_EQ(form.settings().copyState().last, QDate::currentDate());
    EXPECT_EQ(ui.shown().size(), 1u);
}

TEST(MainForm, RestoreAfterALoadFailureKeepsTheCurrentFilesAndAsksForARestart) {
    test::TempFolder dir;
    const QString copy = dir.path() + "copy";
    {
        // Seven projects in the base; a copy of it with one.
        test::ScriptedUi ui;
        db::Database db;
        db::Session session(db, dir.base(), ui);
        ASSERT_TRUE(session.acquireInstanceLock());
        session.start();
        test::addRecord(db.tbProject, {{"Name", QStringLiteral("Первый")}});
        QDir().mkpath(copy);
        for (db::Table* t : db.dataTables())
            ASSERT_TRUE(
                db.store.copyFileTo(db::tableFileName(*t), copy + "/" + db::tableFileName(*t), nullptr));
        for (int i = 0; i < 6; ++i)
            test::addRecord(db.tbProject, {{"Name", QStringLiteral("Ещё")}});
        ASSERT_TRUE(session.close(nullptr));
    }
    test::TempFolder::write(dir.file("cat2.adb"), "damaged");
    test::TempFolder::write(dir.file("link.adb-journal"), QByteArray(512, '\1'));
    test::ScriptedUi ui;
    db::Database db;
    db::Session session(db, dir.base(), ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    app::TMainForm form(db, session, ui, dir.path());
    form.FormCreate();
    form.show();
    ASSERT_TRUE(db.BaseLoadError);
    ui.clear();
    ui.type(copy);
    ui.answer(true);
    form.findChild<QPushButton*>("bRestore")->click();
    ASSERT_EQ(ui.shown().size(), 3u) << ui.texts().join("|").toStdString();
    EXPECT_TRUE(ui.shown()[2].text.contains(QStringLiteral("Перезапустите программу.")))
        << ui.shown()[2].text.toStdString();
    const QString kept = ui.shown()[2].text.section(QStringLiteral("сохранены в папке: "), 1);
    db::Database old;
    ASSERT_TRUE(db::TableFile::load(old.tbProject, kept + "/project.adb", nullptr)) << kept.toStdString();
    EXPECT_EQ(old.tbProject.recordCount(), 7);
    EXPECT_EQ(test::TempFolder::read(kept + "/cat2.adb"), QByteArray("damaged"));
    EXPECT_TRUE(QFileInfo::exists(kept + "/link.adb-journal"));
    EXPECT_FALSE(QFileInfo::exists(dir.file("link.adb-journal")));
    db::Database restored;
    ASSERT_TRUE(db::TableFile::load(restored.tbProject, dir.file("project.adb"), nullptr));
    EXPECT_EQ(restored.tbProject.recordCount(), 1);
}

TEST(MainForm, RestoreFromACopyReplacesTheTablesAfterKeepingTheCurrentOnes) {
    test::TempFolder dir;
    test::ScriptedUi ui;
    db::Database db;
    db::Session session(db, dir.base(), ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    app::TMainForm form(db, session, ui, dir.path());
    form.FormCreate();
    form.show();
    test::addRecord(db.tbProject, {{"Name", QStringLiteral("Первый")}});
    form.findChild<QToolButton*>("SpeedButton44")->click();
    test::addRecord(db.tbProject, {{"Name", QStringLiteral("Второй")}});
    const QString day = dir.path() + "RCopy/" + QDate::currentDate().toString("yyyy-MM-dd");
    // A folder that holds no copy is refused and nothing changes.
    ui.clear();
    ui.type(dir.path());
    form.findChild<QPushButton*>("bRestore")->click();
    ASSERT_EQ(ui.shown().size(), 2u); // the folder dialog, then the refusal
    EXPECT_TRUE(ui.shown()[1].text.contains(QStringLiteral("нет целой копии базы")));
    EXPECT_EQ(db.tbProject.recordCount(), 2);
    ui.clear();
    ui.type(day);
    ui.answer(true);
    form.findChild<QPushButton*>("bRestore")->click();
    EXPECT_EQ(db.tbProject.recordCount(), 1);
    db.tbProject.first();
    EXPECT_EQ(db.tbProject.asString("Name"), QStringLiteral("Первый"));
    ASSERT_EQ(ui.shown().size(), 3u); // the folder, the question, then where the tables came from and went
    EXPECT_TRUE(ui.shown()[2].text.startsWith(QStringLiteral("Таблицы восстановлены из папки")));
    const QString safety = ui.shown()[2].text.section(QStringLiteral("сохранены в папке: "), 1);
    db::Database kept;
    ASSERT_TRUE(db::TableFile::load(kept.tbProject, safety + "/project.adb", nullptr))
        << safety.toStdString();
    EXPECT_EQ(kept.tbProject.recordCount(), 2);
    db::Database onDisk;
    ASSERT_TRUE(db::TableFile::load(onDisk.tbProject, dir.file("project.adb"), nullptr));
    EXPECT_EQ(onDisk.tbProject.recordCount(), 1);
}
