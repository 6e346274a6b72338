#include <csignal>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include "app/main_form.h"
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
