#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "support/temp_folder.h"

namespace zentaro::test {

// A D-Bus session bus of the test's own (no service files, so nothing is started on demand); address stays
// empty when dbus-daemon is not installed.
class PrivateBus {
public:
    // answering false: a bus that never completes a client's hello (no authentication is offered).
    explicit PrivateBus(bool answering = true) {
        const QString exe = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (exe.isEmpty()) return;
        const QString config = m_dir.path() + QStringLiteral("/bus.conf");
        TempFolder::write(config,
                          QByteArray("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>") +
                              (answering ? "<auth>EXTERNAL</auth>" : "") +
                              "<policy context=\"default\"><allow send_destination=\"*\" "
                              "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                              "</policy></busconfig>");
        m_daemon.start(exe, {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                             QStringLiteral("--nofork")});
        if (m_daemon.waitForReadyRead(10000)) address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus() {
        m_daemon.terminate();
        m_daemon.waitForFinished(3000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    QString address;

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
};

// A stand-in for the desktop's notification service that keeps the arguments of every Notify call.
class NoticeService final : public QDBusVirtualObject {
public:
    explicit NoticeService(const QString& address)
        : m_bus(QDBusConnection::connectToBus(address, QStringLiteral("notice-service-") + address)) {
        m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
        m_bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), this);
    }
    ~NoticeService() override {
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Notify")) return false;
        calls << message.arguments();
        connection.send(message.createReply(QVariantList{uint(calls.size())}));
        return true;
    }

    QList<QVariantList> calls;

private:
    QDBusConnection m_bus;
};

} // namespace zentaro::test
