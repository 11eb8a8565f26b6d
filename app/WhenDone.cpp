#include "WhenDone.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

#include "app/Notifier.h"

namespace vemlis {

WhenDone::WhenDone(QObject* parent) : QObject(parent), timer(new QTimer(this)) {
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, this, &WhenDone::tick);
}

WhenDone::~WhenDone() = default;

bool WhenDone::pending() const { return timer->isActive(); }

QString WhenDone::countdownText(long long seconds) const {
    return (action == Settings::WhenDone::suspend ? tr("The computer will be suspended in %1 s")
                                                  : tr("The computer will be powered off in %1 s"))
        .arg(seconds);
}

void WhenDone::start(Settings::WhenDone what) {
    cancel();
    action = what;
    switch (action) {
        case Settings::WhenDone::nothing: return;
        case Settings::WhenDone::close:
            if (onClose) onClose();
            return;
        case Settings::WhenDone::suspend:
        case Settings::WhenDone::powerOff: break;
    }
    due = std::chrono::steady_clock::now() + delay;
    timer->setInterval(std::min<std::chrono::milliseconds>(delay, std::chrono::seconds(1)));
    timer->start();
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(delay).count();
    notification = std::make_unique<ActionNotification>(
        tr("Downloads finished"), countdownText(seconds) + ".", QStringList{"cancel", tr("Cancel")},
        [this](const QString& key) {
            if (key == "cancel") cancel();
        });
    tell(countdownText(seconds));
}

void WhenDone::cancel() {
    timer->stop();
    notification.reset();
    tell({});
}

void WhenDone::tick() {
    const auto left = std::chrono::ceil<std::chrono::seconds>(due - std::chrono::steady_clock::now());
    if (left.count() > 0) return tell(countdownText(left.count()));
    timer->stop();
    notification.reset();
    tell({});
    act();
}

void WhenDone::act() {
    if (beforeSleep) beforeSleep();
    const bool suspend = action == Settings::WhenDone::suspend;
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
        suspend ? "Suspend" : "PowerOff");
    call << false;  // nobody is there to answer a password question
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return tell(suspend ? tr("The computer could not be suspended: no system bus")
                                                : tr("The computer could not be powered off: no system bus"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, suspend](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        const QDBusPendingReply<> reply = *answer;
        if (!reply.isError()) return;
        const QString text = (suspend ? tr("The computer could not be suspended: %1")
                                      : tr("The computer could not be powered off: %1"))
                                 .arg(reply.error().message());
        tell(text);
        Notifier::notify("Vemlis loader", text);
    });
}

void WhenDone::tell(const QString& text) {
    if (onStatus) onStatus(text);
}

}  // namespace vemlis
