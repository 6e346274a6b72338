// Desktop notifications over the session bus.
#pragma once

#include <QString>

namespace zentaro {

// Shows one desktop notification through org.freedesktop.Notifications on the session bus named by
// busAddress (DBUS_SESSION_BUS_ADDRESS when empty). The notification names the program's desktop entry so
// that the desktop can open the program from it. False with the reason when there is no bus or no
// notification service, or it did not answer within a few seconds.
bool showDesktopNotice(const QString& summary, const QString& body, QString* error,
                       const QString& busAddress = QString());

} // namespace zentaro
