#include "NetworkWatch.h"

#include <QFileInfo>
#include <QNetworkInformation>

namespace vemlis {

NetworkWatch::NetworkWatch(std::function<void(bool online)> changed, QObject* parent) : QObject(parent) {
    // NetworkManager is on the system bus: without one to name, none is looked for.
    if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS") &&
        !QFileInfo::exists(QStringLiteral("/run/dbus/system_bus_socket")))
        return;
    // NetworkManager's own backend: the other one Linux has (GLib's network monitor) runs
    // threads of GIO's in the program and answers from the kernel's routes alone.
    if (!QNetworkInformation::loadBackendByName(u"networkmanager")) return;
    QNetworkInformation* information = QNetworkInformation::instance();
    if (information->reachability() == QNetworkInformation::Reachability::Disconnected) changed(false);
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [changed, last = information->reachability()](QNetworkInformation::Reachability now) mutable {
                // Online or not; Unknown says neither. Local and Site networks may hold the server.
                const auto online = [](QNetworkInformation::Reachability r) {
                    return r != QNetworkInformation::Reachability::Disconnected;
                };
                if (now == QNetworkInformation::Reachability::Unknown || online(now) == online(last)) return;
                last = now;
                changed(online(now));
            });
}

}  // namespace vemlis
