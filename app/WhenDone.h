#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

#include "app/Settings.h"

class QTimer;

namespace vemlis {

class ActionNotification;

// What the program does once the queue is done, as the user set it: closing at once, or a
// suspend or power off through logind after a countdown that a notification (and the window)
// can cancel.
class WhenDone final : public QObject {
    Q_OBJECT
public:
    explicit WhenDone(QObject* parent = nullptr);
    ~WhenDone() override;

    void start(Settings::WhenDone action);
    void cancel();
    bool pending() const;

    // How long the countdown runs; tests shorten it.
    std::chrono::milliseconds delay{60000};
    std::function<void()> onClose;
    // Just before the computer is asked to go: everything on disk.
    std::function<void()> beforeSleep;
    // The countdown or what became of it, for the window; empty when there is nothing to say.
    std::function<void(const QString&)> onStatus;

private:
    void tick();
    void act();
    void tell(const QString& text);
    QString countdownText(long long seconds) const;

    QTimer* timer;
    Settings::WhenDone action = Settings::WhenDone::nothing;
    std::chrono::steady_clock::time_point due;
    std::unique_ptr<ActionNotification> notification;
};

}  // namespace vemlis
