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
#include "support/main_window.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro;

namespace {

// A data folder and the scripted answers; each test opens its windows on them.
class MainForm : public ::testing::Test {
protected:
    test::TempFolder dir;
    test::ScriptedUi ui;
};

} // namespace

TEST_F(MainForm, OpensWithItsCaptionLoadsAtStartAndSavesAtClose) {
    {
        test::OpenWindow w(dir, ui);
        auto& db = w.db;
        auto& form = *w.form;
        EXPECT_EQ(form.windowTitle(), QStringLiteral("Zentaro - учет внешних ссылок"));
        ASSERT_NE(form.findChild<QTabWidget*>(QStringLiteral("pcMain")), nullptr);
        ASSERT_TRUE(db.tbProject.insert());
        db.tbProject.setValue("ID", 1);
        db.tbProject.setValue("Name", QStringLiteral("Сайт"));
        EXPECT_TRUE(form.close());
    }
    EXPECT_TRUE(QFileInfo::exists(dir.file("project.adb")));
    test::OpenWindow w(dir, ui);
    auto& db = w.db;
    db.tbProject.first();
    EXPECT_EQ(db.tbProject.asString("Name"), QStringLiteral("Сайт"));
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(MainForm, AFailedSaveKeepsTheWindowOpenUnlessTheUserLeaves) {
    test::OpenWindow w(dir, ui);
    auto& db = w.db;
    auto& form = *w.form;
    test::BusyFile busy(dir.file("project.adb"));
    test::addRecord(db.tbProject, {{"Name", QStringLiteral("П")}});
    // The write fails and is said once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.shown().empty(); }));
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

TEST_F(MainForm, AccountOfTheCurrentLinkIsShownAfterStartEvenThoughAccountsLoadLast) {
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
    test::OpenWindow w(dir, ui);
    auto& form = *w.form;
    EXPECT_EQ(form.findChild<QLineEdit*>("eLinkLogin")->text(), QStringLiteral("ivan"));
    EXPECT_EQ(form.findChild<QComboBox*>("DBLookupComboBox1")->currentText(), QStringLiteral("Блог"));
}

TEST_F(MainForm, ATerminationSignalClosesWithoutQuestionsAndStoresTheEditInHand) {
    {
        test::OpenWindow w(dir, ui);
        auto& db = w.db;
        auto& form = *w.form;
        TerminationWatcher watcher;
        QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &form,
                         &app::TMainForm::closeWithoutQuestions);
        ASSERT_TRUE(db.tbProject.insert());
        db.tbProject.setValue("Name", QStringLiteral("Не дописан"));
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        EXPECT_TRUE(w.closed());
        EXPECT_FALSE(form.isVisible());
    }
    EXPECT_TRUE(ui.shown().empty());
    db::Database db;
    ASSERT_TRUE(db::TableFile::load(db.tbProject, dir.file("project.adb"), nullptr));
    ASSERT_EQ(db.tbProject.recordCount(), 1);
    EXPECT_EQ(db.tbProject.asString("Name"), QStringLiteral("Не дописан"));
}

TEST_F(MainForm, LayoutAndOptionsSurviveARestartAndAPressedCopyIsNotReplacedAtClosing) {
    {
        test::OpenWindow w(dir, ui);
        auto& db = w.db;
        auto& form = *w.form;
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

    test::OpenWindow w(dir, ui);
    auto& form = *w.form;
    EXPECT_EQ(form.size(), QSize(1000, 700));
    EXPECT_EQ(form.findChild<app::DataGrid*>("grdLink")->horizontalHeader()->sectionSize(3), 77);
    EXPECT_TRUE(form.findChild<QWidget*>("gbLinkFilter")->isHidden());
    EXPECT_FALSE(form.findChild<QCheckBox*>("cbRCopy")->isChecked());
    EXPECT_EQ(form.findChild<QSpinBox*>("seRCopy")->value(), 5);
    EXPECT_EQ(form.settings().copyState().last, QDate::currentDate());
    EXPECT_EQ(ui.shown().size(), 1u);
}

TEST_F(MainForm, RestoreAfterALoadFailureKeepsTheCurrentFilesAndAsksForARestart) {
    const QString copy = dir.path() + "copy";
    {
        // Seven projects in the base; a copy of it with one.
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
    test::OpenWindow w(dir, ui);
    auto& db = w.db;
    auto& form = *w.form;
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

TEST_F(MainForm, RestoreFromACopyReplacesTheTablesAfterKeepingTheCurrentOnes) {
    test::OpenWindow w(dir, ui);
    auto& db = w.db;
    auto& form = *w.form;
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
