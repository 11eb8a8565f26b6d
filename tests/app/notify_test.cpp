#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "CatalogueServer.h"
#include "FakeUI.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "app/Notifier.h"
#include "app/Twindow.h"
#include "components/MoviesList.h"
#include "components/UTF8ListView.h"
#include "model/MoviesSet.h"

using vemlis::testing::waitUntil;

namespace {

// A session bus of the test's own: dbus-daemon started for the test and ended with it.
class PrivateBus final {
public:
    PrivateBus() {
        if (std::FILE* out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r")) {
            char line[512];
            if (std::fgets(line, sizeof line, out)) address = QString::fromLocal8Bit(line).trimmed();
            if (std::fgets(line, sizeof line, out)) pid = std::atoi(line);
            ::pclose(out);
        }
        if (!address.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit());
    }
    ~PrivateBus() {
        if (pid > 0) ::kill(pid, SIGTERM);
    }
    QString address;
    int pid = 0;
};

struct Notification {
    QString app, icon, summary, body;
};

// Stands in for the desktop's notification service, on a connection of its own.
class FakeNotifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    std::vector<Notification> received;

public slots:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        received.push_back({app, icon, summary, body});
        return static_cast<uint>(received.size());
    }
    QStringList GetCapabilities() { return {"body"}; }
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

    vemlis::testing::CatalogueServer server;
    vemlis::testing::CatalogueShape shape;
    shape.seasons = 1;
    shape.episodes = 2;
    shape.variants = 2;
    shape.minMoviesPerFile = 2;
    shape.maxMoviesPerFile = 2;
    auto series = vemlis::testing::serveSeries(server, shape);
    // The first file is missing on the server: its movies are wrong links.
    server.setFault(series.catalogue.files[0].path, vemlis::testing::Fault::failWith(404));
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
        window.close();
        ASSERT_TRUE(waitUntil([&] { return window.isStateSaved(); }));
    }
    // A fatal error: the catalogue cannot be loaded.
    server.setFault("/movies.xml", vemlis::testing::Fault::failWith(500));
    {
        vemlis::Twindow window(server.catalogueURL(), dir.path());
        window.show();
        ASSERT_TRUE(waitUntil([&] { return window.isStateSaved(); }));
        ASSERT_TRUE(waitUntil([&] { return fake.received.size() == 2; }));
        EXPECT_EQ(fake.received[1].summary, "Vemlis loader stopped");
    }
    EXPECT_EQ(fake.received.size(), 2u);
}

#include "notify_test.moc"
