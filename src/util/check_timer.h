// The daily link check as systemd user units: writing, switching on and off, reading their state.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace zentaro {

// The systemd user units of the daily link check: a service that runs the check and a timer that starts it.
inline const QString kCheckService = QStringLiteral("zentaro-check.service");
inline const QString kCheckTimer = QStringLiteral("zentaro-check.timer");

// The program's path as the first word of a systemd command line: "%" doubled, ASCII other than letters,
// digits and "/._-+,:@~$" written as \xNN (systemd reads the escapes back; a blank would split the word).
// Empty for a path holding a line break or another control character, a quote or a backslash, which
// systemd does not take as a program's name.
QString execWord(const QString& path);
// The path back from such a word (as a unit file holds it).
QString pathFromExecWord(const QString& word);
// The service: the presence check of every link page with a notification, at low CPU and I/O priority.
// Empty when the program's path cannot be written into a unit (execWord).
QString checkServiceText(const QString& program);
// The timer: daily at the hour, caught up after the machine was off, spread by a random delay.
QString checkTimerText(int hour);
// An override of the timer's hour, kept beside either unit (the package's or the user's).
QString timerHourText(int hour);

// What systemd says of the timer and of the service's last run.
struct TimerState {
    bool usable = false; // a systemd user session answered
    QString why;         // why not, when not usable
    bool loaded = false; // the units are known
    bool enabled = false;
    bool active = false;
    QDateTime next, last;
    QString lastResult; // systemd's word ("success", "exit-code", ...); empty before the first run
    int lastStatus = -1;
};

// Reads "systemctl --user show" of the timer and then the service (Key=Value lines, a blank line between
// the units).
TimerState parseTimerShow(const QString& output);
// The state in a line for the settings tab.
QString timerStateText(const TimerState& state);

// Turns the daily check on and off through "systemctl --user". A program that was not installed with the
// package (its units do not start this program) writes its own units into the user's unit folder.
class CheckTimer {
public:
    // userUnitDir: the user's unit folder (~/.config/systemd/user); packagedUnitDir: where the package puts
    // its units.
    CheckTimer(QString program, QString userUnitDir,
               QString packagedUnitDir = QStringLiteral("/usr/lib/systemd/user"));

    // The folder of the user's units as systemd looks for them.
    static QString defaultUserUnitDir();

    TimerState state() const;
    // Writes the units (unless the package's serve) and the hour, and enables the timer. When systemctl
    // refuses, every file written is put back as it was (or removed), so no unit is left that systemd
    // did not take.
    bool enable(int hour, QString* error);
    bool disable(QString* error);
    // The package's units start this program.
    bool packaged() const;

private:
    bool systemctl(const QStringList& args, QString* out, QString* error) const;
    bool writeFile(const QString& path, const QString& text, QString* error) const;

    QString m_program, m_userUnitDir, m_packagedUnitDir;
};

} // namespace zentaro
