#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "support/fake_systemctl.h"
#include "support/temp_folder.h"
#include "util/check_timer.h"

using namespace zentaro;

namespace {

QString read(const QString& path) {
    return QString::fromUtf8(test::TempFolder::read(path));
}

} // namespace

TEST(CheckTimerUnits, ThePackagedUnitsAreTheOnesTheProgramWritesAndSystemdAcceptsThem) {
    const QString packaging = QStringLiteral(ZENTARO_SOURCE_DIR "/packaging/");
    EXPECT_EQ(read(packaging + kCheckService), checkServiceText(QStringLiteral("/usr/bin/zentaro")));
    EXPECT_EQ(read(packaging + kCheckTimer), checkTimerText(3));
    EXPECT_TRUE(checkTimerText(7).contains(QStringLiteral("OnCalendar=*-*-* 07:00:00\n")));
    EXPECT_EQ(timerHourText(21), QStringLiteral("[Timer]\nOnCalendar=\nOnCalendar=*-*-* 21:00:00\n"));

    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty()) GTEST_SKIP() << "systemd-analyze is not installed";
    QTemporaryDir dir;
    // The program's own units, started from an executable that exists.
    test::TempFolder::write(dir.path() + u'/' + kCheckService,
                            checkServiceText(QCoreApplication::applicationFilePath()).toUtf8());
    test::TempFolder::write(dir.path() + u'/' + kCheckTimer, checkTimerText(23).toUtf8());
    QProcess p;
    p.start(analyze, {QStringLiteral("verify"), QStringLiteral("--man=no"), dir.path() + u'/' + kCheckService,
                      dir.path() + u'/' + kCheckTimer});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardError(), QByteArray());
}

TEST(CheckTimerState, SystemctlShowOutputReads) {
    const struct {
        const char* output;
        bool enabled;
        QDateTime next, last;
        const char* text;
    } cases[] = {
        {"LoadState=loaded\nUnitFileState=enabled\nActiveState=active\nNextElapseUSecRealtime=@1796871600\n"
         "LastTriggerUSec=@1796785440\n\nResult=success\nExecMainStatus=0\n",
         true, QDateTime::fromSecsSinceEpoch(1796871600), QDateTime::fromSecsSinceEpoch(1796785440),
         "Включено: следующая проверка %1; последняя %2, успешно"},
        {"LoadState=loaded\nUnitFileState=enabled\nActiveState=active\nNextElapseUSecRealtime=@1796871600\n"
         "LastTriggerUSec=@1796785440\n\nResult=exit-code\nExecMainStatus=1\n",
         true, QDateTime::fromSecsSinceEpoch(1796871600), QDateTime::fromSecsSinceEpoch(1796785440),
         "Включено: следующая проверка %1; последняя %2, проверка не выполнена, код 1"},
        {"LoadState=loaded\nUnitFileState=enabled\nActiveState=active\nNextElapseUSecRealtime=@1796871600\n"
         "LastTriggerUSec=@1796785440\n\nResult=success\nExecMainStatus=3\n",
         true, QDateTime::fromSecsSinceEpoch(1796871600), QDateTime::fromSecsSinceEpoch(1796785440),
         "Включено: следующая проверка %1; последняя %2, данные были заняты открытой программой"},
        // Never ran: systemd says n/a, and the service's "success" means nothing yet.
        {"LoadState=loaded\nUnitFileState=enabled\nActiveState=active\nNextElapseUSecRealtime=@1796871600\n"
         "LastTriggerUSec=n/a\n\nResult=success\nExecMainStatus=0\n",
         true, QDateTime::fromSecsSinceEpoch(1796871600), QDateTime(),
         "Включено: следующая проверка %1; еще не запускалась"},
        {"LoadState=not-found\nUnitFileState=\nActiveState=inactive\nNextElapseUSecRealtime=0\n"
         "LastTriggerUSec=n/a\n\nResult=success\nExecMainStatus=0\n",
         false, QDateTime(), QDateTime(), "Выключено"},
        {"LoadState=loaded\nUnitFileState=disabled\nActiveState=inactive\n", false, QDateTime(), QDateTime(),
         "Выключено"},
    };
    for (const auto& c : cases) {
        const TimerState s = parseTimerShow(QString::fromUtf8(c.output));
        EXPECT_TRUE(s.usable);
        EXPECT_EQ(s.enabled, c.enabled) << c.output;
        EXPECT_EQ(s.next, c.next) << c.output;
        EXPECT_EQ(s.last, c.last) << c.output;
        EXPECT_EQ(timerStateText(s),
                  QString::fromUtf8(c.text).arg(c.next.toString(QStringLiteral("dd.MM.yyyy HH:mm")),
                                                c.last.toString(QStringLiteral("dd.MM.yyyy HH:mm"))))
            << c.output;
    }
}

TEST(CheckTimerControl, EnablingWritesOwnUnitsOnlyWithoutThePackageAndDisablingTurnsTheTimerOff) {
    test::FakeSystemctl systemctl;
    QTemporaryDir home, packaged;
    const QString units = home.path() + "/systemd/user/";
    const QString program = QCoreApplication::applicationFilePath();

    // Not installed from the package: the units start this program from where it is.
    CheckTimer own(program, units, packaged.path());
    EXPECT_FALSE(own.packaged());
    QString error;
    ASSERT_TRUE(own.enable(5, &error)) << error.toStdString();
    EXPECT_EQ(read(units + kCheckService), checkServiceText(program));
    EXPECT_EQ(read(units + kCheckTimer), checkTimerText(5));
    EXPECT_EQ(read(units + kCheckTimer + ".d/hour.conf"), timerHourText(5));
    EXPECT_EQ(systemctl.calls(),
              (QStringList{"--user daemon-reload", "--user enable --now zentaro-check.timer"}));
    ASSERT_TRUE(own.disable(&error));
    EXPECT_EQ(systemctl.calls().last(), QStringLiteral("--user disable --now zentaro-check.timer"));

    // The package's units start this program: only the hour is written beside them.
    test::TempFolder::write(packaged.path() + u'/' + kCheckService, checkServiceText(program).toUtf8());
    QDir(units).removeRecursively();
    CheckTimer fromPackage(program, units, packaged.path());
    EXPECT_TRUE(fromPackage.packaged());
    ASSERT_TRUE(fromPackage.enable(22, &error));
    EXPECT_FALSE(QFile::exists(units + kCheckService));
    EXPECT_FALSE(QFile::exists(units + kCheckTimer));
    EXPECT_EQ(read(units + kCheckTimer + ".d/hour.conf"), timerHourText(22));

    // The state is asked in one call.
    systemctl.answer("LoadState=loaded\nUnitFileState=enabled\nActiveState=active\n\nResult=success\n");
    EXPECT_TRUE(fromPackage.state().enabled);
    EXPECT_TRUE(systemctl.calls().last().startsWith(QStringLiteral("--user show --timestamp=unix -p ")));
}

TEST(CheckTimerControl, WithoutAUserSessionTheBoxSaysWhy) {
    test::FakeSystemctl systemctl;
    systemctl.refuse();
    QTemporaryDir home;
    CheckTimer timer(QCoreApplication::applicationFilePath(), home.path());
    const TimerState s = timer.state();
    EXPECT_FALSE(s.usable);
    EXPECT_EQ(timerStateText(s), QStringLiteral("Недоступно: Failed to connect to bus: No medium found"));
    QString error;
    EXPECT_FALSE(timer.disable(&error));
    EXPECT_EQ(error, QStringLiteral("Failed to connect to bus: No medium found"));
}

// A program path with blanks, ";" or "%" (a specifier to systemd) stays one word of ExecStart and systemd
// finds the program under it; a path with a line break (which would write a line of its own), another
// control character, a quote or a backslash is refused, and so is enabling the timer for it.
TEST(CheckTimerUnits, TheProgramPathIsEscapedAsSystemdReadsIt) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        const char* word; // how the unit writes dir + name
    } cases[] = {
        {"/plain/zentaro", "/plain/zentaro"},
        {"/my programs/zentaro", "/my\\x20programs/zentaro"},
        {"/100%h/zentaro", "/100%%h/zentaro"},
        {"/$HOME/zentaro", "/$HOME/zentaro"},
        {"/a;b (c)/zentaro", "/a\\x3bb\\x20\\x28c\\x29/zentaro"},
        {"/Программы/zentaro", "/Программы/zentaro"},
    };
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.path() + QString::fromUtf8(c.name);
        const QString word = execWord(path);
        EXPECT_EQ(word, execWord(dir.path()) + QString::fromUtf8(c.word));
        EXPECT_EQ(pathFromExecWord(word), path);
        const QString unit = checkServiceText(path);
        EXPECT_EQ(unit.count(QStringLiteral("\nExecStart=")), 1);
        EXPECT_TRUE(unit.contains(QStringLiteral("\nExecStart=") + word + QStringLiteral(" --check links")));
        if (analyze.isEmpty()) continue;
        // systemd finds the program under that path.
        QDir().mkpath(QFileInfo(path).absolutePath());
        ASSERT_TRUE(QFile::link(QCoreApplication::applicationFilePath(), path));
        QTemporaryDir units;
        test::TempFolder::write(units.path() + u'/' + kCheckService, unit.toUtf8());
        QProcess p;
        p.start(analyze,
                {QStringLiteral("verify"), QStringLiteral("--man=no"), units.path() + u'/' + kCheckService});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
    for (const char* bad : {"/a\nExecStartPre=/bin/rm/zentaro", "/a\rb/zentaro", "/a\tb/zentaro",
                            "/\"q\"/zentaro", "/a'b/zentaro", "/a\\b/zentaro"}) {
        EXPECT_TRUE(execWord(QString::fromUtf8(bad)).isEmpty()) << bad;
        EXPECT_TRUE(checkServiceText(QString::fromUtf8(bad)).isEmpty()) << bad;
    }
    test::FakeSystemctl systemctl;
    QTemporaryDir home, packaged;
    CheckTimer timer(QStringLiteral("/a\nExecStartPre=/bin/false/zentaro"), home.path(), packaged.path());
    QString error;
    EXPECT_FALSE(timer.enable(3, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("перевод строки"))) << error.toStdString();
    EXPECT_TRUE(QDir(home.path()).isEmpty());
    EXPECT_TRUE(systemctl.calls().isEmpty());
}

// Units systemctl does not take are not left behind: new files go, files that were there get their text back.
TEST(CheckTimerControl, UnitsSystemctlRefusesAreTakenBack) {
    test::FakeSystemctl systemctl;
    systemctl.refuse();
    QTemporaryDir home, packaged;
    const QString units = home.path() + "/systemd/user/";
    CheckTimer timer(QCoreApplication::applicationFilePath(), units, packaged.path());
    QString error;
    EXPECT_FALSE(timer.enable(4, &error));
    EXPECT_FALSE(QFile::exists(units + kCheckService));
    EXPECT_FALSE(QFile::exists(units + kCheckTimer));
    EXPECT_FALSE(QFile::exists(units + kCheckTimer + ".d/hour.conf"));
    test::TempFolder::write(units + kCheckTimer, "older timer");
    EXPECT_FALSE(timer.enable(5, &error));
    EXPECT_EQ(read(units + kCheckTimer), QStringLiteral("older timer"));
    EXPECT_FALSE(QFile::exists(units + kCheckService));
}
