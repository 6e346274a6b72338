// The daily link check as systemd user units: writing, switching on and off, reading their state.
#include "util/check_timer.h"

#include <optional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace zentaro {

namespace {

constexpr int kSystemctlMs = 10000;

// "@1733713200" (--timestamp=unix), bare microseconds, or "Thu 2026-12-10 03:00:00 UTC"; no date for "n/a",
// 0 or an empty value.
QDateTime timestamp(const QString& value) {
    const QString v = value.trimmed();
    if (v.isEmpty() || v == QLatin1String("n/a") || v == QLatin1String("0")) return {};
    bool ok = false;
    if (v.startsWith(u'@')) {
        const qint64 secs = v.mid(1).toLongLong(&ok);
        return ok && secs > 0 ? QDateTime::fromSecsSinceEpoch(secs) : QDateTime();
    }
    const qint64 usecs = v.toLongLong(&ok);
    if (ok) return usecs > 0 ? QDateTime::fromMSecsSinceEpoch(usecs / 1000) : QDateTime();
    const QStringList parts = v.split(u' ', Qt::SkipEmptyParts);
    if (parts.size() < 3) return {};
    return QDateTime::fromString(parts[1] + u' ' + parts[2], QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString when(const QDateTime& t) {
    return t.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

} // namespace

QString execWord(const QString& path) {
    QString out;
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        // systemd refuses a program whose name holds quotes or a backslash, whatever the escaping.
        if (u < 0x20 || u == 0x7f || u == u'"' || u == u'\'' || u == u'\\') return {};
        // The program's name is not subject to "$" variables, only to "%" specifiers.
        if ((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u >= 0x80 ||
            QStringView(u"/._-+,:@~$").contains(c))
            out += c;
        else if (u == u'%')
            out += QStringLiteral("%%");
        else
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
    }
    return out;
}

QString pathFromExecWord(const QString& word) {
    QString out;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const QChar c = word[i];
        const QChar next = i + 1 < word.size() ? word[i + 1] : QChar();
        if (c == u'%' && next == c) {
            out += c;
            ++i;
        } else if (c == u'\\' && next == u'x' && i + 3 < word.size()) {
            bool ok = false;
            const int v = word.mid(i + 2, 2).toInt(&ok, 16);
            if (!ok) return {};
            out += QChar(char16_t(v));
            i += 3;
        } else {
            out += c;
        }
    }
    return out;
}

QString checkServiceText(const QString& program) {
    const QString word = execWord(program);
    if (word.isEmpty()) return {};
    return QStringLiteral("[Unit]\n"
                          "Description=Zentaro: daily check of the placed links\n"
                          "\n"
                          "[Service]\n"
                          "Type=oneshot\n"
                          "ExecStart=%1 --check links --notify\n"
                          "Nice=10\n"
                          "IOSchedulingClass=idle\n"
                          // 3: the window holds the data and offers the check itself.
                          "SuccessExitStatus=3\n")
        .arg(word);
}

QString checkTimerText(int hour) {
    return QStringLiteral("[Unit]\n"
                          "Description=Zentaro: daily check of the placed links\n"
                          "\n"
                          "[Timer]\n"
                          "OnCalendar=*-*-* %1:00:00\n"
                          "Persistent=true\n"
                          "RandomizedDelaySec=15min\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=timers.target\n")
        .arg(hour, 2, 10, QLatin1Char('0'));
}

QString timerHourText(int hour) {
    return QStringLiteral("[Timer]\nOnCalendar=\nOnCalendar=*-*-* %1:00:00\n")
        .arg(hour, 2, 10, QLatin1Char('0'));
}

TimerState parseTimerShow(const QString& output) {
    TimerState s;
    s.usable = true;
    int unit = 0; // 0 the timer, 1 the service
    bool inUnit = false;
    for (const QString& raw : output.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty()) {
            if (inUnit) ++unit;
            inUnit = false;
            continue;
        }
        inUnit = true;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) continue;
        const QString key = line.left(eq), value = line.mid(eq + 1);
        if (unit == 0) {
            if (key == QLatin1String("LoadState"))
                s.loaded = value == QLatin1String("loaded");
            else if (key == QLatin1String("UnitFileState"))
                s.enabled = value == QLatin1String("enabled") || value == QLatin1String("enabled-runtime");
            else if (key == QLatin1String("ActiveState"))
                s.active = value == QLatin1String("active");
            else if (key == QLatin1String("NextElapseUSecRealtime"))
                s.next = timestamp(value);
            else if (key == QLatin1String("LastTriggerUSec"))
                s.last = timestamp(value);
        } else if (unit == 1) {
            if (key == QLatin1String("Result"))
                s.lastResult = value;
            else if (key == QLatin1String("ExecMainStatus"))
                s.lastStatus = value.toInt();
        }
    }
    if (!s.last.isValid()) s.lastResult.clear();
    return s;
}

QString timerStateText(const TimerState& s) {
    if (!s.usable) return QStringLiteral("Недоступно: %1").arg(s.why);
    if (!s.enabled) return QStringLiteral("Выключено");
    QStringList parts;
    if (s.next.isValid()) parts << QStringLiteral("следующая проверка %1").arg(when(s.next));
    if (s.last.isValid()) {
        QString result;
        if (s.lastResult == QLatin1String("success"))
            result = s.lastStatus == 3 ? QStringLiteral("данные были заняты открытой программой")
                                       : QStringLiteral("успешно");
        else if (s.lastResult == QLatin1String("exit-code"))
            result = QStringLiteral("проверка не выполнена, код %1").arg(s.lastStatus);
        else if (!s.lastResult.isEmpty())
            result = QStringLiteral("ошибка: %1").arg(s.lastResult);
        parts << QStringLiteral("последняя %1").arg(when(s.last)) +
                     (result.isEmpty() ? QString() : QStringLiteral(", ") + result);
    } else {
        parts << QStringLiteral("еще не запускалась");
    }
    return QStringLiteral("Включено: ") + parts.join(QStringLiteral("; "));
}

CheckTimer::CheckTimer(QString program, QString userUnitDir, QString packagedUnitDir)
    : m_program(std::move(program)), m_userUnitDir(std::move(userUnitDir)),
      m_packagedUnitDir(std::move(packagedUnitDir)) {}

QString CheckTimer::defaultUserUnitDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/systemd/user");
}

bool CheckTimer::packaged() const {
    QFile unit(m_packagedUnitDir + u'/' + kCheckService);
    if (unit.size() > 64 * 1024 || !unit.open(QIODevice::ReadOnly)) return false;
    for (const QString& line : QString::fromUtf8(unit.readAll()).split(u'\n')) {
        if (!line.startsWith(QLatin1String("ExecStart="))) continue;
        const QString exe = pathFromExecWord(line.mid(10).section(u' ', 0, 0));
        const QString mine = QFileInfo(m_program).canonicalFilePath();
        return !mine.isEmpty() && QFileInfo(exe).canonicalFilePath() == mine;
    }
    return false;
}

bool CheckTimer::systemctl(const QStringList& args, QString* out, QString* error) const {
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (exe.isEmpty()) {
        if (error) *error = QStringLiteral("systemctl не найден");
        return false;
    }
    QProcess p;
    p.start(exe, QStringList{QStringLiteral("--user")} + args);
    if (!p.waitForFinished(kSystemctlMs)) {
        p.kill();
        p.waitForFinished(1000);
        if (error) *error = QStringLiteral("systemctl не ответил");
        return false;
    }
    if (out) *out = QString::fromUtf8(p.readAllStandardOutput().left(256 * 1024));
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QString said =
            QString::fromUtf8(p.readAllStandardError().left(4096)).trimmed().section(u'\n', 0, 0);
        if (error) *error = said.isEmpty() ? QStringLiteral("systemctl: код %1").arg(p.exitCode()) : said;
        return false;
    }
    return true;
}

TimerState CheckTimer::state() const {
    QString out, error;
    if (!systemctl({QStringLiteral("show"), QStringLiteral("--timestamp=unix"), QStringLiteral("-p"),
                    QStringLiteral("LoadState,UnitFileState,ActiveState,NextElapseUSecRealtime,"
                                   "LastTriggerUSec,Result,ExecMainStatus"),
                    kCheckTimer, kCheckService},
                   &out, &error)) {
        TimerState s;
        s.why = error;
        return s;
    }
    return parseTimerShow(out);
}

bool CheckTimer::writeFile(const QString& path, const QString& text, QString* error) const {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0 || !f.commit()) {
        if (error) *error = QStringLiteral("Не удалось записать %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

bool CheckTimer::enable(int hour, QString* error) {
    hour = std::clamp(hour, 0, 23);
    QList<QPair<QString, QString>> files;
    if (!packaged()) {
        const QString service = checkServiceText(m_program);
        if (service.isEmpty()) {
            if (error)
                *error = QStringLiteral("Путь к программе содержит перевод строки или другой управляющий "
                                        "символ: такой путь нельзя записать в задание systemd.");
            return false;
        }
        files << qMakePair(m_userUnitDir + u'/' + kCheckService, service)
              << qMakePair(m_userUnitDir + u'/' + kCheckTimer, checkTimerText(hour));
    }
    files << qMakePair(m_userUnitDir + u'/' + kCheckTimer + QStringLiteral(".d/hour.conf"),
                       timerHourText(hour));
    // What each file held before, to put back if systemd does not take the new ones.
    QList<std::optional<QByteArray>> before;
    for (const auto& f : files) {
        QFile old(f.first);
        before << (old.open(QIODevice::ReadOnly) ? std::optional<QByteArray>(old.read(64 * 1024))
                                                 : std::nullopt);
    }
    const auto putBack = [&](qsizetype written) {
        for (qsizetype i = 0; i < written; ++i) {
            if (!before[i]) {
                QFile::remove(files[i].first);
                continue;
            }
            QSaveFile f(files[i].first);
            if (f.open(QIODevice::WriteOnly) && f.write(*before[i]) == before[i]->size()) f.commit();
        }
    };
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (!writeFile(files[i].first, files[i].second, error)) {
            putBack(i);
            return false;
        }
    }
    if (systemctl({QStringLiteral("daemon-reload")}, nullptr, error) &&
        systemctl({QStringLiteral("enable"), QStringLiteral("--now"), kCheckTimer}, nullptr, error))
        return true;
    putBack(files.size());
    systemctl({QStringLiteral("daemon-reload")}, nullptr, nullptr);
    return false;
}

bool CheckTimer::disable(QString* error) {
    return systemctl({QStringLiteral("disable"), QStringLiteral("--now"), kCheckTimer}, nullptr, error);
}

} // namespace zentaro
