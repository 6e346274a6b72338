// Desktop notifications over the session bus.
#include "util/desktop_notice.h"

#include <QAtomicInt>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QVariantMap>

namespace zentaro {

namespace {

constexpr int kAnswerMs = 5000;

} // namespace

bool showDesktopNotice(const QString& summary, const QString& body, QString* error,
                       const QString& busAddress) {
    const QString address =
        busAddress.isEmpty() ? qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS") : busAddress;
    if (address.isEmpty()) {
        if (error) *error = QStringLiteral("нет сеанса D-Bus");
        return false;
    }
    // A connection per bus address, kept for the process (closing a private connection trips libdbus's
    // checks); one that broke is replaced under a new name.
    static QAtomicInt generation;
    const QString name = QStringLiteral("zentaro-notice-%1-%2").arg(generation.loadRelaxed()).arg(address);
    QDBusMessage reply;
    QString failure;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        if (!bus.isConnected()) {
            generation.fetchAndAddRelaxed(1);
            failure = QStringLiteral("нет связи с сеансом D-Bus: ") + bus.lastError().message();
        } else {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.Notifications"),
                QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
            const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("zentaro")}};
            call << QStringLiteral("Zentaro") << uint(0) << QStringLiteral("zentaro") << summary << body
                 << QStringList() << hints << int(-1);
            // The event loop turns while waiting, so a service in this process (a test's) can answer.
            reply = bus.call(call, QDBus::BlockWithGui, kAnswerMs);
            if (reply.type() != QDBusMessage::ReplyMessage)
                failure = QStringLiteral("служба уведомлений не ответила: ") + reply.errorMessage();
        }
    }
    if (!failure.isEmpty()) {
        if (error) *error = failure;
        return false;
    }
    return true;
}

} // namespace zentaro
