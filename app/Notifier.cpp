#include "Notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace vemlis {

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
}

bool Notifier::notify(const QString& summary, const QString& body) {
    // Without a session bus to name, none is started (libdbus would try to launch one).
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(QString::fromLocal8Bit(runtime) + "/bus")))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const auto registered = bus.interface()->isServiceRegistered(service);
    if (!registered.isValid() || !registered.value()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                                       service, QStringLiteral("Notify"));
    call << QStringLiteral("Vemlis loader") << 0u << QStringLiteral("vemlis-loader") << summary << body
         << QStringList() << QVariantMap() << -1;
    // Not waited for: a slow notification service must never hold up the window.
    return bus.send(call);
}

}  // namespace vemlis
