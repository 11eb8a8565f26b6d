#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace vemlis {

// Desktop notifications through the freedesktop notification service on the session bus.
class Notifier final {
public:
    // Shows the notification; false (and nothing shown) when no notification service runs.
    static bool notify(const QString& summary, const QString& body);
};

// A notification with buttons: `chosen` gets the key of the button the user presses while this
// object lives. It stays until the object goes when `stays`, else it expires as the desktop
// lets notifications expire. Where no notification service runs, nothing is shown.
class ActionNotification final : public QObject {
    Q_OBJECT
public:
    // `actions`: key and label, in turn.
    ActionNotification(const QString& summary, const QString& body, const QStringList& actions,
                       std::function<void(const QString&)> chosen, bool stays = true, QObject* parent = nullptr);
    ~ActionNotification() override;

private slots:
    void actionInvoked(uint id, const QString& key);

private:
    std::function<void(const QString&)> chosen;
    uint id = 0;  // the service's, once it answered
    bool shown = false;
    bool stays = true;
};

}  // namespace vemlis
