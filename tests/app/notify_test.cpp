#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QNetworkInformation>
#include <QThread>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <functional>
#include <memory>

#include "CatalogueServer.h"
#include "FakeUI.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "app/Notifier.h"
#include "app/StateSaver.h"
#include "app/Twindow.h"
#include "app/WhenDone.h"
#include "components/MoviesList.h"
#include "components/MoviesQueue.h"
#include "components/UTF8ListView.h"
#include "model/MoviesSet.h"

using vemlis::testing::waitUntil;

namespace {

// One bus for the whole process, standing in for the session's and the system's: Qt connects
// to each once a process, so every test here, run alone or all in one process, uses the bus
// that the process started with.
class SharedBus final : public ::testing::Environment {
public:
    void SetUp() override {
        if (std::FILE* out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r")) {
            char line[512];
            if (std::fgets(line, sizeof line, out)) address = QString::fromLocal8Bit(line).trimmed();
            if (std::fgets(line, sizeof line, out)) pid = std::atoi(line);
            ::pclose(out);
        }
        if (address.isEmpty()) return;
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLocal8Bit());
    }
    void TearDown() override {
        if (pid > 0) ::kill(pid, SIGTERM);
    }
    static inline QString address;
    static inline int pid = 0;
};
[[maybe_unused]] auto* const sharedBus = ::testing::AddGlobalTestEnvironment(new SharedBus);

// A test's services on the shared bus: they go with the test, and the next test's start anew.
class PrivateBus final {
public:
    PrivateBus() : address(SharedBus::address) {}
    ~PrivateBus() {
        for (const char* name : {"fake-notifications", "fake-logind", "fake-desktop", "fake-networkmanager"})
            QDBusConnection::disconnectFromBus(name);
    }
    const QString address;
};

// A season of two episodes in two variants, two movies a file, on a loopback server.
struct SmallSeries {
    vemlis::testing::CatalogueServer server;
    vemlis::testing::ServedSeries series;
    SmallSeries() {
        vemlis::testing::CatalogueShape shape;
        shape.seasons = 1;
        shape.episodes = 2;
        shape.variants = 2;
        shape.minMoviesPerFile = 2;
        shape.maxMoviesPerFile = 2;
        series = vemlis::testing::serveSeries(server, shape);
    }
    std::string path(std::size_t i) const { return series.catalogue.files[i].path; }
    // Queues every movie of the i-th file in the window's set.
    void queueFile(vemlis::Twindow& window, std::size_t i, const std::filesystem::path& name) {
        for (const auto& m : window.getMoviesSet()->getServerFile(server.baseURL() + path(i))->getMovies())
            m->queue(name.string());
    }
};

struct Notification {
    QString app, icon, summary, body;
    QStringList actions;
};

// Stands in for the desktop's notification service, on a connection of its own.
class FakeNotifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    std::vector<Notification> received;

public slots:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        received.push_back({app, icon, summary, body, actions});
        return static_cast<uint>(received.size());
    }
    void CloseNotification(uint id) { closed.push_back(id); }

public:
    std::vector<uint> closed;
    // The user presses a notification's button.
    void press(QDBusConnection& bus, uint id, const QString& key) {
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                         "org.freedesktop.Notifications", "ActionInvoked");
        signal << id << key;
        bus.send(signal);
    }
    QStringList GetCapabilities() { return {"body"}; }
};

// Stands in for the file manager's "show these files" service.
class FakeFileManager final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown << uris; }
};

}  // namespace

TEST(Notifications, QueueDoneAndFatalErrorsAreToldOnlyWhenAServiceRuns) {
    PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    // Nobody listens yet: nothing is sent, nothing fails.
    EXPECT_FALSE(vemlis::Notifier::notify("nobody", "listens"));

    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "fake-notifications");
    ASSERT_TRUE(service.isConnected());
    FakeNotifications fake;
    ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &fake, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));

    SmallSeries served;
    auto& server = served.server;
    // The first file is missing on the server: its movies are wrong links.
    server.setFault(served.path(0), vemlis::testing::Fault::failWith(404));
    vemlis::testing::TempDir dir;
    ScriptedPrompter prompter;
    {
        vemlis::Twindow window(server.catalogueURL(), dir.path());
        window.show();
        ASSERT_TRUE(waitUntil([&] { return window.moviesList->getSeasonsView()->rowCount() > 0; }));
        int n = 0;
        for (const auto& season : window.getMoviesSet()->getSeasons())
            for (const auto& film : season->getFilms())
                for (const auto& movie : film->getMovies()) movie->queue((dir / ("m" + std::to_string(n++) + ".avi")).string());
        window.beginDownloadButton->click();
        ASSERT_TRUE(waitUntil([&] { return !fake.received.empty(); }, 20000));
        EXPECT_EQ(fake.received[0].summary, "Downloads finished");
        EXPECT_EQ(fake.received[0].body, "2 movie(s) saved, 2 wrong link(s)");
        EXPECT_EQ(fake.received[0].app, "Vemlis loader");
        EXPECT_EQ(fake.received[0].icon, "vemlis-loader");
        // "Open folder" in the notification and on a downloaded row shows the movie in its folder.
        FakeFileManager files;
        ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", &files, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
        EXPECT_EQ(fake.received[0].actions, (QStringList{"open", "Open folder"}));
        fake.press(service, 1, "open");
        ASSERT_TRUE(waitUntil([&] { return files.shown.size() == 1; }));
        EXPECT_TRUE(files.shown[0].startsWith(QUrl::fromLocalFile(QString::fromStdString(dir.path().string())).toString() + "/m"));
        const int downloaded = [&] {
            for (int i = 0; i < window.finished->rowCount(); ++i)
                if (static_cast<const tavik::vemlis_loader::Movie*>(vemlis::UTF8ListView::rowData(window.finished->row(i)))
                        ->getLoadFlag() == tavik::vemlis_loader::Loaded)
                    return i;
            return -1;
        }();
        ASSERT_GE(downloaded, 0);
        window.finished->setCurrentItem(window.finished->row(downloaded));
        QTest::keyClick(window.finished, Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return files.shown.size() == 2; }));
        window.close();
        ASSERT_TRUE(waitUntil([&] { return window.isStateSaved(); }));
    }
    // The catalogue cannot be loaded: told while its address is offered.
    server.setFault("/movies.xml", vemlis::testing::Fault::failWith(500));
    {
        vemlis::Twindow window(server.catalogueURL(), dir.path());
        window.show();
        ASSERT_TRUE(waitUntil([&] { return window.isStateSaved(); }));
        ASSERT_TRUE(waitUntil([&] { return fake.received.size() == 2; }));
        EXPECT_EQ(fake.received[1].summary, "The list of episodes could not be loaded");
    }
    EXPECT_EQ(fake.received.size(), 2u);
}


namespace {

// Stands in for logind's manager: an inhibitor lock is the write end of a pipe whose read end
// the fake keeps, so that it sees the moment the lock's last holder closes it.
class FakeLogind final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList requests;             // "what/who/why/mode" of each Inhibit
    QStringList powerCalls;           // "Suspend/false", "PowerOff/false"
    std::function<void()> onPower;
    std::map<QString, int> readEnds;  // of the newest lock of each mode
    ~FakeLogind() override {
        for (const auto& [mode, end] : readEnds) ::close(end);
    }
    // True while some process still holds the newest lock of the mode.
    bool lockHeld(const QString& mode) const {
        const auto it = readEnds.find(mode);
        if (it == readEnds.end()) return false;
        pollfd watch{it->second, POLLIN, 0};
        return ::poll(&watch, 1, 0) == 0;  // no end of file yet
    }
    void prepareForSleep(QDBusConnection& bus, bool sleeping) {
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                                         "PrepareForSleep");
        signal << sleeping;
        bus.send(signal);
    }

public slots:
    void Suspend(bool interactive) {
        powerCalls << QString("Suspend/") + (interactive ? "true" : "false");
        if (onPower) onPower();
    }
    void PowerOff(bool interactive) { powerCalls << QString("PowerOff/") + (interactive ? "true" : "false"); }
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode) {
        requests << what + "/" + who + "/" + why + "/" + mode;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return {};
        if (readEnds.count(mode)) ::close(readEnds[mode]);
        readEnds[mode] = ends[0];
        QDBusUnixFileDescriptor lock(ends[1]);  // a copy goes to the caller
        ::close(ends[1]);
        return lock;
    }
};

}  // namespace

TEST(SleepInhibitor, SleepWaitsForDownloadsAndASuspendForTheStateAndAResumeRetriesAtOnce) {
    PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "fake-logind");
    ASSERT_TRUE(service.isConnected());
    FakeLogind logind;
    ASSERT_TRUE(service.registerObject("/org/freedesktop/login1", &logind, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.login1"));

    SmallSeries served;
    auto& server = served.server;
    const std::string path = served.path(0);
    server.setFault(path, vemlis::testing::Fault::stall(100));  // a long transfer
    vemlis::testing::TempDir dir;
    ScriptedPrompter prompter;
    {
        vemlis::Twindow window(server.catalogueURL(), dir.path());
        window.show();
        ASSERT_TRUE(waitUntil([&] { return window.listPanel->isVisible() && logind.lockHeld("delay"); }));
        served.queueFile(window, 0, dir / "x.avi");
        window.beginDownloadButton->click();
        ASSERT_TRUE(waitUntil([&] { return logind.lockHeld("block"); }));
        EXPECT_TRUE(logind.requests.contains("sleep/Vemlis loader/Downloading episodes/block"));
        window.stopButton->click();
        EXPECT_TRUE(waitUntil([&] { return !logind.lockHeld("block"); }));

        // The server asks for a minute's wait; the user suspends meanwhile.
        server.setFault(path, vemlis::testing::Fault::busy(503, 60));
        ASSERT_TRUE(waitUntil([&] { return window.listPanel->isVisible(); }));
        window.beginDownloadButton->click();
        ASSERT_TRUE(waitUntil([&] { return server.requests(path) == 2 && window.waitingReason->text().contains("busy"); }));
        EXPECT_TRUE(waitUntil([&] { return !logind.lockHeld("block"); }));  // a minute's wait lets it sleep
        std::filesystem::remove(dir / "data.kq4");
        logind.prepareForSleep(service, true);
        ASSERT_TRUE(waitUntil([&] { return !logind.lockHeld("delay"); }));
        EXPECT_TRUE(std::filesystem::exists(dir / "data.kq4"));  // on disk before the delay ends
        // Awake: the waiting file is tried at once, not after its minute; this time its transfer
        // hangs, as one over a connection that died in the sleep does.
        server.setFault(path, vemlis::testing::Fault::stall(100));
        logind.prepareForSleep(service, false);
        EXPECT_TRUE(waitUntil([&] { return server.requests(path) == 3; }, 10000));
        EXPECT_TRUE(waitUntil([&] { return logind.lockHeld("delay") && logind.lockHeld("block"); }));
        // Asleep and awake again during that transfer: it starts again at once, not after the
        // stall time-out.
        logind.prepareForSleep(service, true);
        ASSERT_TRUE(waitUntil([&] { return !logind.lockHeld("delay"); }));
        logind.prepareForSleep(service, false);
        EXPECT_TRUE(waitUntil([&] { return server.requests(path) == 4; }, 3000));
        window.close();
        ASSERT_TRUE(waitUntil([&] { return window.isStateSaved(); }));
    }
}

TEST(WhenDone, TheComputerIsSuspendedAfterTheStateIsWrittenUnlessTheNotificationCancels) {
    PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "fake-desktop");
    ASSERT_TRUE(service.isConnected());
    FakeLogind logind;
    FakeNotifications notifications;
    ASSERT_TRUE(service.registerObject("/org/freedesktop/login1", &logind, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.login1"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &notifications, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));

    SmallSeries served;
    vemlis::testing::TempDir dir;
    ScriptedPrompter prompter;
    {
        vemlis::Twindow window(served.server.catalogueURL(), dir.path());
        window.show();
        ASSERT_TRUE(waitUntil([&] { return window.listPanel->isVisible(); }));
        vemlis::Settings settings = window.getSettings();
        settings.whenDone = vemlis::Settings::WhenDone::powerOff;
        window.setSettings(settings);
        window.whenDone->delay = std::chrono::seconds(2);
        // The user is there after all and presses "Cancel" in the notification.
        served.queueFile(window, 0, dir / "a.avi");
        window.beginDownloadButton->click();
        ASSERT_TRUE(waitUntil([&] { return notifications.received.size() == 2; }, 20000));
        EXPECT_EQ(notifications.received[1].body, "The computer will be powered off in 2 s.");
        EXPECT_EQ(notifications.received[1].actions, (QStringList{"cancel", "Cancel"}));
        EXPECT_TRUE(window.whenDoneStatus->text().startsWith("The computer will be powered off in "));
        ASSERT_TRUE(waitUntil([&] { return window.cancelWhenDoneButton->isVisible(); }));
        notifications.press(service, 2, "cancel");
        ASSERT_TRUE(waitUntil([&] { return !window.whenDone->pending(); }));
        QTest::qWait(2500);
        EXPECT_TRUE(logind.powerCalls.isEmpty());
        EXPECT_FALSE(window.whenDoneStatus->isVisible());
        EXPECT_EQ(notifications.closed, std::vector<uint>{2});

        // Nobody there: suspended when the time is up, with the movies' statuses on disk first.
        settings.whenDone = vemlis::Settings::WhenDone::suspend;
        window.setSettings(settings);
        window.whenDone->delay = std::chrono::milliseconds(300);
        served.queueFile(window, 1, dir / "b.avi");
        std::string stateAtSuspend;
        logind.onPower = [&] { stateAtSuspend = vemlis::testing::readWholeFile(dir / "data.kq4"); };
        window.beginDownloadButton->click();
        // A change during the countdown, which the next regular save would write only later.
        ASSERT_TRUE(waitUntil([&] { return window.whenDone->pending(); }, 20000));
        const auto* changed = window.getMoviesSet()->getServerFile(served.server.baseURL() + served.path(0))->getMovies()[0];
        changed->queue((dir / "changed during the countdown.avi").string());
        window.getStateSaver()->saveSoon();
        ASSERT_TRUE(waitUntil([&] { return !logind.powerCalls.isEmpty(); }, 20000));
        EXPECT_EQ(logind.powerCalls, QStringList{"Suspend/false"});
        EXPECT_EQ(stateAtSuspend, vemlis::testing::readWholeFile(dir / "data.kq4"));
        EXPECT_NE(stateAtSuspend.find("b.avi"), std::string::npos);
        EXPECT_NE(stateAtSuspend.find("changed during the countdown"), std::string::npos);
        window.close();
        ASSERT_TRUE(waitUntil([&] { return window.isStateSaved(); }));
    }
}

namespace {

// Stands in for NetworkManager: its State and Connectivity properties, and their change told
// by PropertiesChanged. It lives on a thread of its own, as Qt reads its properties with a
// blocking call from the window's thread.
class FakeNetworkManager final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(uint State READ state)
    Q_PROPERTY(uint Connectivity READ connectivity)
public:
    std::atomic<uint> current{70};  // NM_STATE_CONNECTED_GLOBAL
    uint state() const { return current; }
    uint connectivity() const { return current == 70 ? 4 : 1; }  // full, or none
    void setState(QDBusConnection& bus, uint now) {
        current = now;
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/NetworkManager",
                                                         "org.freedesktop.DBus.Properties", "PropertiesChanged");
        signal << QString("org.freedesktop.NetworkManager")
               << QVariantMap{{"State", QVariant::fromValue(now)}, {"Connectivity", QVariant::fromValue(connectivity())}}
               << QStringList();
        bus.send(signal);
    }
};

}  // namespace

TEST(NetworkWatch, AFileThatFailsOfflineWaitsForTheNetworkAndGoesOnWhenItIsBack) {
    PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "fake-networkmanager");
    ASSERT_TRUE(service.isConnected());
    QThread nmThread;
    FakeNetworkManager nm;
    nm.moveToThread(&nmThread);
    nmThread.start();
    ASSERT_TRUE(service.registerObject("/org/freedesktop/NetworkManager", &nm,
                                       QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.NetworkManager"));

    SmallSeries served;
    auto& server = served.server;
    const std::string path = served.path(0);
    server.setFault(path, vemlis::testing::Fault::busy(503, 60));
    vemlis::testing::TempDir dir;
    ScriptedPrompter prompter;
    {
        vemlis::Twindow window(server.catalogueURL(), dir.path());
        window.show();
        ASSERT_TRUE(waitUntil([&] { return window.listPanel->isVisible(); }));
        ASSERT_NE(QNetworkInformation::instance(), nullptr);
        served.queueFile(window, 0, dir / "x.avi");
        // The Wi-Fi drops: a failure now is no failure of the server's.
        nm.setState(service, 20);  // NM_STATE_DISCONNECTED
        ASSERT_TRUE(waitUntil([] {
            return QNetworkInformation::instance()->reachability() == QNetworkInformation::Reachability::Disconnected;
        }));
        window.beginDownloadButton->click();
        ASSERT_TRUE(waitUntil([&] { return window.waitingReason->text().startsWith("Waiting for the network, next try in "); }));
        EXPECT_EQ(server.requests(path), 1);
        // Back: tried at once, not after the minute the server asked for.
        nm.setState(service, 70);
        EXPECT_TRUE(waitUntil([&] { return server.requests(path) == 2; }, 10000));
        window.close();
        ASSERT_TRUE(waitUntil([&] { return window.isStateSaved(); }));
    }
    service.unregisterObject("/org/freedesktop/NetworkManager");
    nmThread.quit();
    nmThread.wait();
}


#include "notify_test.moc"
