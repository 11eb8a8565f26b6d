#include "Notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>

namespace vemlis {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");

// The session bus when a notification service runs on it.
bool serviceRuns() {
    // Without a session bus to name, none is started (libdbus would try to launch one).
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(QString::fromLocal8Bit(runtime) + "/bus")))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const auto registered = bus.interface()->isServiceRegistered(service);
    return registered.isValid() && registered.value();
}

QDBusMessage notifyCall(const QString& summary, const QString& body, const QStringList& actions, int timeout) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    call << QStringLiteral("Vemlis loader") << 0u << QStringLiteral("vemlis-loader") << summary << body << actions
         << QVariantMap() << timeout;
    return call;
}

}  // namespace

bool Notifier::notify(const QString& summary, const QString& body) {
    if (!serviceRuns()) return false;
    // Not waited for: a slow notification service must never hold up the window.
    return QDBusConnection::sessionBus().send(notifyCall(summary, body, {}, -1));
}

ActionNotification::ActionNotification(const QString& summary, const QString& body, const QStringList& actions,
                                       std::function<void(const QString&)> chosen, bool stays, QObject* parent)
    : QObject(parent), chosen(std::move(chosen)), stays(stays) {
    if (!serviceRuns()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(service, path, service, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    shown = true;
    // Time-out 0: it stays until the user answers or this object closes it.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(notifyCall(summary, body, actions, stays ? 0 : -1)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        const QDBusPendingReply<uint> reply = *answer;
        if (!reply.isError()) id = reply.value();
    });
}

ActionNotification::~ActionNotification() {
    if (!shown) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(service, path, service, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    if (id == 0 || !stays) return;
    QDBusMessage close = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("CloseNotification"));
    close << id;
    bus.send(close);
}

void ActionNotification::actionInvoked(uint invoked, const QString& key) {
    // Every program's notifications are told on the bus: only ours counts.
    if (id != 0 && invoked == id && chosen) chosen(key);
}

}  // namespace vemlis
