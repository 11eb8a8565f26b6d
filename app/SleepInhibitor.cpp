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

SleepInhibitor::SleepInhibitor(QObject* parent) : QObject(parent) {
    if (!systemBusNamed()) return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;
    bus.connect(login, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
                QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    ask(QStringLiteral("delay"), [this](auto taken) { delay = std::move(taken); });
}

SleepInhibitor::~SleepInhibitor() = default;

bool SleepInhibitor::held() const { return lock && lock->isValid(); }


void SleepInhibitor::ask(const QString& mode, std::function<void(std::unique_ptr<QDBusUnixFileDescriptor>)> taken) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return taken(nullptr);
    QDBusMessage call = QDBusMessage::createMethodCall(login, QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"),
                                                       QStringLiteral("Inhibit"));
    // Sleep only: the screen may blank and the lid still does what the user set it to.
    call << QStringLiteral("sleep") << QStringLiteral("Vemlis loader") << QStringLiteral("Downloading episodes")
         << mode;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [taken](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *answer;
        taken(reply.isError() ? nullptr : std::make_unique<QDBusUnixFileDescriptor>(reply.value()));
    });
}

void SleepInhibitor::hold() {
    wanted = true;
    if (held() || asking || !systemBusNamed()) return;
    asking = true;
    ask(QStringLiteral("block"), [this](auto taken) {
        asking = false;
        // A lock that comes after the work ended is let go at once.
        if (wanted) lock = std::move(taken);
    });
}

void SleepInhibitor::release() {
    wanted = false;
    lock.reset();  // closing our descriptor ends the lock
}

void SleepInhibitor::prepareForSleep(bool sleeping) {
    if (sleeping) {
        if (onSuspend) onSuspend();
        delay.reset();  // done: the computer may sleep now
        return;
    }
    ask(QStringLiteral("delay"), [this](auto taken) { delay = std::move(taken); });
    if (onResume) onResume();
}

}  // namespace vemlis
