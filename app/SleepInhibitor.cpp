#include "SleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QFileInfo>

namespace vemlis {

namespace {

const QString login = QStringLiteral("org.freedesktop.login1");

// Without a system bus to name, none is looked for (libdbus would wait for its socket).
bool systemBusNamed() {
    return !qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS") ||
           QFileInfo::exists(QStringLiteral("/run/dbus/system_bus_socket"));
}

}  // namespace

SleepInhibitor::SleepInhibitor(QObject* parent) : QObject(parent) {}

SleepInhibitor::~SleepInhibitor() = default;

bool SleepInhibitor::held() const { return lock && lock->isValid(); }

void SleepInhibitor::hold() {
    wanted = true;
    if (held() || asking || !systemBusNamed()) return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(login, QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"),
                                                       QStringLiteral("Inhibit"));
    // Sleep only: the screen may blank and the lid still does what the user set it to.
    call << QStringLiteral("sleep") << QStringLiteral("Vemlis loader") << QStringLiteral("Downloading episodes")
         << QStringLiteral("block");
    asking = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        asking = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *answer;
        // A lock that comes after the work ended is let go at once.
        if (reply.isError() || !wanted) return;
        lock = std::make_unique<QDBusUnixFileDescriptor>(reply.value());
    });
}

void SleepInhibitor::release() {
    wanted = false;
    lock.reset();  // closing our descriptor ends the lock
}

}  // namespace vemlis
