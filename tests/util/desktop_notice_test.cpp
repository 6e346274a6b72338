#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMetaType>

#include "support/private_bus.h"
#include "util/desktop_notice.h"

using namespace zentaro;

TEST(DesktopNotice, OneNotificationNamingTheProgramOrTheReasonThereIsNone) {
    test::PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    QString error;
    {
        // A bus without a notification service.
        EXPECT_FALSE(showDesktopNotice(QStringLiteral("Итог"), QStringLiteral("текст"), &error, bus.address));
        EXPECT_TRUE(error.startsWith(QStringLiteral("служба уведомлений не ответила: ")))
            << error.toStdString();
    }
    test::NoticeService service(bus.address);
    ASSERT_TRUE(
        showDesktopNotice(QStringLiteral("Итог"), QStringLiteral("строка 1\nстрока 2"), &error, bus.address))
        << error.toStdString();
    ASSERT_EQ(service.calls.size(), 1);
    const QVariantList& a = service.calls[0];
    ASSERT_EQ(a.size(), 8);
    EXPECT_EQ(a[0].toString(), QStringLiteral("Zentaro"));
    EXPECT_EQ(a[3].toString(), QStringLiteral("Итог"));
    EXPECT_EQ(a[4].toString(), QStringLiteral("строка 1\nстрока 2"));
    const QVariantMap hints = qdbus_cast<QVariantMap>(a[6].value<QDBusArgument>());
    EXPECT_EQ(hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("zentaro"));

    // A bus that does not answer the connection.
    test::PrivateBus deaf(false);
    EXPECT_FALSE(showDesktopNotice(QStringLiteral("Итог"), QString(), &error, deaf.address));
    EXPECT_FALSE(error.isEmpty());

    // No session bus at all.
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    EXPECT_FALSE(showDesktopNotice(QStringLiteral("Итог"), QString(), &error));
    EXPECT_EQ(error, QStringLiteral("нет сеанса D-Bus"));
    if (!saved.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
}
