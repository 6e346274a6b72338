#include <gtest/gtest.h>

#include <memory>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/main_form.h"
#include "app/settings_pane.h"
#include "cli/check_command.h"
#include "db/base_files.h"
#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "support/fake_systemctl.h"
#include "support/http_server.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro;

namespace {

// The window opened and closed on one data folder, between checks from the command line.
class Watch : public ::testing::Test {
protected:
    struct Window {
        explicit Window(const QString& programDir, const QString& base) : session(db, base, ui) {
            EXPECT_TRUE(session.acquireInstanceLock());
            form = std::make_unique<app::TMainForm>(db, session, ui, programDir);
            form->FormCreate();
            form->show();
        }
        ~Window() {
            ui.answer(true);
            form->close();
        }
        template <class T> T* find(const char* name) {
            T* w = form->findChild<T*>(QString::fromLatin1(name));
            EXPECT_NE(w, nullptr) << name;
            return w;
        }
        test::ScriptedUi ui;
        db::Database db;
        db::Session session;
        std::unique_ptr<app::TMainForm> form;
    };

    void SetUp() override {
        serve(true);
        db::Database db;
        test::ScriptedUi ui;
        db::RecordRules rules(db, ui);
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        // Two projects, one lost page each, and a page that keeps its link.
        for (const char* project : {"Первый", "Второй"}) {
            test::addRecord(db.tbProject, {{"Name", project}});
            const bool first = QByteArray(project) == "Первый";
            test::addRecord(db.tbLink, {{"PageURL", server.url(first ? "/lost1" : "/lost2")},
                                        {"Price", first ? QVariant(4500.0) : QVariant()}});
            test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
            if (!first) {
                test::addRecord(db.tbLink, {{"PageURL", server.url("/kept")}});
                test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
            }
        }
        QDir().mkpath(dir.base());
        QDir().mkpath(dir.path() + "help");
        ASSERT_TRUE(db::SaveBase(db, dir.base()).ok);
    }
    void serve(bool linked) {
        test::HttpServer::Reply with, without;
        with.headers = without.headers = {test::contentType("text/html; charset=utf-8")};
        with.body = "<a href=http://mine.example/>x</a> <a href=http://other.example/>y</a> end";
        without.body = "<a href=http://other.example/>y</a> end";
        server.on("/lost1", linked ? with : without);
        server.on("/lost2", linked ? with : without);
        server.on("/kept", with);
    }
    int check(const QStringList& args) {
        QString error;
        FILE* out = std::tmpfile();
        FILE* err = std::tmpfile();
        const int status =
            cli::runCheckCommand(*cli::parseCheckArguments(args, &error), dir.base(), out, err);
        std::fclose(out);
        std::fclose(err);
        return status;
    }

    test::HttpServer server;
    test::TempFolder dir;
    QString errText; // what the last check said on stderr
};

} // namespace

TEST_F(Watch, TheBarTellsWhatChecksSinceTheLastStartLostAndShowsItAcrossProjects) {
    ASSERT_EQ(check({"--check", "links"}), cli::kCheckDone) << errText.toStdString();
    {
        // The first start knows no earlier start: no bar.
        Window w(dir.path(), dir.base());
        EXPECT_FALSE(w.find<QFrame>("pCheckBar")->isVisible());
    }
    serve(false);
    ASSERT_EQ(check({"--check", "links"}), cli::kCheckDone);
    Window w(dir.path(), dir.base());
    auto* bar = w.find<QFrame>("pCheckBar");
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(w.find<QLabel>("lCheckBar")->text(),
              QStringLiteral("С %1 пропало 2 ссылки на 4 500 ₽")
                  .arg(QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))));
    EXPECT_FALSE(w.find<QPushButton>("bCheckBarCheck")->isVisible());
    // "Показать" shows the lost pages of every project.
    w.find<QPushButton>("bCheckBarShow")->click();
    EXPECT_EQ(w.db.tbLink.recordCount(), 2);
    QStringList shown;
    for (int pos = 0; pos < w.db.tbLink.recordCount(); ++pos)
        shown << w.db.tbLink.valueAt(pos, w.db.tbLink.fieldIndex("PageURL")).toString();
    shown.sort();
    EXPECT_EQ(shown, (QStringList{server.url("/lost1"), server.url("/lost2")}));
    w.find<QPushButton>("bCheckBarHide")->click();
    EXPECT_FALSE(bar->isVisible());

    // A scheduled check while the window is open ends at once; the bar offers the check instead.
    EXPECT_EQ(check({"--check", "links", "--notify"}), cli::kCheckDataBusy);
    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible(), 5000);
    EXPECT_EQ(w.find<QLabel>("lCheckBar")->text(),
              QStringLiteral("Проверка по расписанию не выполнена: программа была открыта"));
    EXPECT_TRUE(w.find<QPushButton>("bCheckBarCheck")->isVisible());
    EXPECT_FALSE(QFile::exists(cli::skippedCheckFile(dir.base())));
}

TEST_F(Watch, TheSettingsBoxTurnsTheDailyCheckOnAndOffThroughSystemctl) {
    test::FakeSystemctl systemctl;
    QTemporaryDir units, packaged;
    Window w(dir.path(), dir.base());
    w.form->settings().setCheckTimer(
        CheckTimer(QCoreApplication::applicationFilePath(), units.path(), packaged.path()));
    auto* box = w.find<QCheckBox>("cbAutoCheck");
    auto* state = w.find<QLabel>("lAutoCheckState");
    EXPECT_EQ(box->text(), QStringLiteral("Проверять ссылки автоматически каждый день"));

    const qsizetype shownBefore = w.ui.texts().size();
    systemctl.answer("LoadState=loaded\nUnitFileState=disabled\nActiveState=inactive\n");
    w.form->settings().showAutoCheckState();
    EXPECT_TRUE(box->isEnabled());
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(state->text(), QStringLiteral("Выключено"));

    systemctl.answer("LoadState=loaded\nUnitFileState=enabled\nActiveState=active\n"
                     "NextElapseUSecRealtime=@1796871600\nLastTriggerUSec=n/a\n\nResult=success\n");
    box->click();
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(systemctl.calls().contains(QStringLiteral("--user enable --now zentaro-check.timer")));
    EXPECT_TRUE(QFile::exists(units.path() + "/zentaro-check.timer"));
    EXPECT_TRUE(state->text().startsWith(QStringLiteral("Включено: следующая проверка ")));

    systemctl.answer("LoadState=loaded\nUnitFileState=disabled\nActiveState=inactive\n");
    box->click();
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(systemctl.calls().filter(QStringLiteral("disable --now zentaro-check.timer")).size(), 1);
    EXPECT_EQ(w.ui.texts().size(), shownBefore) << w.ui.texts().join('|').toStdString();

    // Without a user session the box cannot be ticked and says why.
    systemctl.refuse();
    w.form->settings().showAutoCheckState();
    EXPECT_FALSE(box->isEnabled());
    EXPECT_EQ(state->text(), app::timerUnavailableText("Failed to connect to bus: No medium found", 3,
                                                       QCoreApplication::applicationFilePath()));
    EXPECT_TRUE(state->text().startsWith(QStringLiteral(
        "Автоматическая проверка недоступна: нет связи с пользовательским сеансом systemd. ")));
    EXPECT_TRUE(state->text().contains(QStringLiteral(" --check links")));
}
