#include "FileManager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

namespace vemlis {

namespace {

const QString fileManager = QStringLiteral("org.freedesktop.FileManager1");

bool fileManagerRuns() {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const auto registered = bus.interface()->isServiceRegistered(fileManager);
    // Also a file manager that D-Bus starts on demand.
    if (registered.isValid() && registered.value()) return true;
    const auto activatable = bus.interface()->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(fileManager);
}

}  // namespace

bool showInFolder(const QString& file) {
    const QFileInfo info(file);
    if (info.exists() && fileManagerRuns()) {
        QDBusMessage call = QDBusMessage::createMethodCall(fileManager, QStringLiteral("/org/freedesktop/FileManager1"),
                                                           fileManager, QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
        // Not waited for: a file manager that starts slowly must not hold up the window.
        if (QDBusConnection::sessionBus().send(call)) return true;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

}  // namespace vemlis
