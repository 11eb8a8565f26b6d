#pragma once

#include <QString>

namespace vemlis {

// Desktop notifications through the freedesktop notification service on the session bus.
class Notifier final {
public:
    // Shows the notification; false (and nothing shown) when no notification service runs.
    static bool notify(const QString& summary, const QString& body);
};

}  // namespace vemlis
