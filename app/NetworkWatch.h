#pragma once

#include <QObject>

#include <functional>

namespace vemlis {

// Whether the computer is online, as the desktop's network service (NetworkManager) says,
// through Qt's network information. Where no such service is found nothing is ever said, and
// the download's own back-off stays as it is.
class NetworkWatch final : public QObject {
public:
    // `changed` is called with true when the network comes back, false when it goes (and at
    // once when there is none to begin with).
    NetworkWatch(std::function<void(bool online)> changed, QObject* parent = nullptr);
};

}  // namespace vemlis
