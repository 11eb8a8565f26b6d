// The tray icon against a small StatusNotifierWatcher on a private session bus, on an X server
// of the test's own: the platform shows a tray only where a desktop offers one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusArgument>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "CatalogueServer.h"
#include "FakeUI.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "app/Settings.h"
#include "app/Tray.h"
#include "app/Twindow.h"

using vemlis::testing::waitUntil;

namespace {

// A process the test starts and ends: the first line it prints is kept.
struct Helper {
    explicit Helper(const char* command) {
        if (std::FILE* out = ::popen(command, "r")) {
            char line[512];
            if (std::fgets(line, sizeof line, out)) first = QString::fromLocal8Bit(line).trimmed();
            if (std::fgets(line, sizeof line, out)) pid = std::atoi(line);
            ::pclose(out);
        }
    }
    ~Helper() {
        if (pid > 0) ::kill(pid, SIGTERM);
    }
    QString first;
    int pid = 0;
};

// An X server on a free display, which it tells through a pipe: no window manager, no tray.
struct XServer {
    XServer() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            if (!std::freopen("/dev/null", "w", stderr)) ::_exit(126);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "800x600x24", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        // Up to its line's end: the server ends itself when the newline cannot be written.
        std::string text;
        char c = 0;
        while (pid > 0 && c != '\n' && ::read(fds[0], &c, 1) == 1) text += c;
        if (!text.empty() && text.back() == '\n') display = QString::fromStdString(text).trimmed();
        ::close(fds[0]);
    }
    ~XServer() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    QString display;
    pid_t pid = -1;
};

// What a desktop's tray host offers: items register here.
class Watcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const {
        std::lock_guard guard(lock);
        return registered;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
        std::lock_guard guard(lock);
        registered << (service.startsWith('/') ? message.service() : service);
    }

private:
    mutable std::mutex lock;
    QStringList registered;
    void RegisterStatusNotifierHost(const QString&) {}
};

// The title of a StatusNotifierItem's tooltip, (sa(iiay)ss).
QString toolTip(const QDBusConnection& bus, const QString& service) {
    QDBusMessage get = QDBusMessage::createMethodCall(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get");
    get << QString("org.kde.StatusNotifierItem") << QString("ToolTip");
    QDBusPendingCall call = bus.asyncCall(get);
    if (!waitUntil([&] { return call.isFinished(); }) || call.isError()) return {};
    const QDBusArgument value = call.reply().arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
    QString icon, title, description;
    value.beginStructure();
    value >> icon;
    value.beginArray();
    while (!value.atEnd()) {
        int width = 0, height = 0;
        QByteArray bytes;
        value.beginStructure();
        value >> width >> height >> bytes;
        value.endStructure();
    }
    value.endArray();
    value >> title >> description;
    value.endStructure();
    return title;
}

}  // namespace

TEST(Tray, RegistersWithTheDesktopsWatcherAndSaysWhatHappens) {
    Helper bus("dbus-daemon --session --fork --print-address=1 --print-pid=1");
    ASSERT_FALSE(bus.first.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.first.toLocal8Bit());
    XServer x;
    if (x.display.isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
    qputenv("DISPLAY", (":" + x.display).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    vemlis::testing::TempDir config;
    qputenv("XDG_CONFIG_HOME", config.path().c_str());


    int argc = 1;
    char name[] = "tray_tests";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QDBusConnection host = QDBusConnection::connectToBus(bus.first, "watcher");
    // On a thread of its own: the platform asks it with calls that block the GUI thread.
    QThread hostThread;
    Watcher watcher;
    watcher.moveToThread(&hostThread);
    hostThread.start();
    ASSERT_TRUE(host.registerObject("/StatusNotifierWatcher", &watcher,
                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(host.registerService("org.kde.StatusNotifierWatcher"));
    ScriptedPrompter prompter;
    vemlis::testing::CatalogueServer server;
    vemlis::testing::CatalogueShape shape;
    shape.seasons = 1;
    shape.episodes = 1;
    shape.variants = 2;
    vemlis::testing::serveSeries(server, shape);
    vemlis::testing::TempDir data;
    {
        vemlis::Twindow window(server.catalogueURL(), data.path());
        ASSERT_TRUE(window.hasTray());
        window.startHidden();  // as a start at login does: the lists load with no window shown
        ASSERT_TRUE(waitUntil([&] { return !watcher.items().isEmpty(); }));
        ASSERT_TRUE(waitUntil([&] { return window.listPanel->isVisibleTo(&window); }));
        EXPECT_FALSE(window.isVisible());
        // The item says what happens, by its tooltip, on the bus (asked without blocking: the
        // item answers on this thread).
        EXPECT_TRUE(waitUntil([&] { return toolTip(host, watcher.items().front()) == "Vemlis loader"; }));

        // A start at login is the desktop's file, with the marker that starts in the tray.
        vemlis::Settings settings = window.getSettings();
        settings.startAtLogin = true;
        settings.keepInTray = true;
        window.setSettings(settings);
        EXPECT_TRUE(vemlis::startsAtLogin());
        EXPECT_NE(vemlis::testing::readWholeFile(config.path() / "autostart" / "vemlis-loader.desktop")
                      .find("Exec=env VEMLIS_START_IN_TRAY=1 \""),
                  std::string::npos);
        settings.startAtLogin = false;
        window.setSettings(settings);
        EXPECT_FALSE(vemlis::startsAtLogin());
        window.close();  // not the window's button: the program ends
        EXPECT_TRUE(waitUntil([&] { return window.isStateSaved(); }));
    }
    hostThread.quit();
    hostThread.wait();
}

#include "tray_test.moc"
