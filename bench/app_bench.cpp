// Start-up to the list panel with the demo catalogue, and close to exit with a state of 100,000
// movies, on the real main window (offscreen). Prints "name: value" lines.
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "CatalogueServer.h"
#include "TempDir.h"
#include "app/StateSaver.h"
#include "app/Twindow.h"
#include "components/MoviesList.h"
#include "components/UTF8ListView.h"
#include "engine/HttpClient.h"
#include "model/MoviesSet.h"

namespace {

// Milliseconds since this process was started by the kernel.
double sinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string field;
    for (int i = 0; i < 22 && stat >> field; ++i) {
    }
    const double startSeconds = std::stod(field) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return (static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 - startSeconds) * 1000.0;
}

bool waitFor(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return condition();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vemlis::HttpLibrary httpLibrary;
    vemlis::testing::CatalogueServer demo;
    vemlis::testing::CatalogueShape shape;
    shape.seasons = 3;
    shape.episodes = 4;
    shape.variants = 4;
    vemlis::testing::serveSeries(demo, shape, 96, 72, 10);
    {
        vemlis::testing::TempDir dir;
        vemlis::Twindow window(demo.catalogueURL(), dir.path());
        window.show();
        waitFor([&] { return window.listPanel->isVisible() && window.moviesList->getSeasonsView()->rowCount() > 0; },
                10000);
        std::printf("startup_to_list_ms: %.0f\n", sinceProcessStart());
        window.close();
        waitFor([&] { return window.isStateSaved(); }, 10000);
    }

    vemlis::testing::CatalogueServer big;
    vemlis::testing::CatalogueShape large;
    large.seasons = 200;
    large.episodes = 50;
    large.variants = 10;
    large.minMoviesPerFile = 2;
    large.maxMoviesPerFile = 6;
    large.baseURL = big.baseURL();
    big.setCatalogue(vemlis::testing::generateCatalogue(large).document);
    vemlis::testing::TempDir dir;
    double closing = -1;
    std::size_t bytes = 0;
    {
        vemlis::Twindow window(big.catalogueURL(), dir.path());
        window.show();
        waitFor([&] { return window.listPanel->isVisible() && window.moviesList->getSeasonsView()->rowCount() > 0; },
                30000);
        // What an autosave holds the window up for: taking the state (the write runs elsewhere).
        std::vector<double> autosaves;
        for (int i = 0; i < 11; ++i) {
            QElapsedTimer taken;
            taken.start();
            window.getStateSaver()->saveNow();
            autosaves.push_back(static_cast<double>(taken.nsecsElapsed()) / 1e6);
            waitFor([&] { return false; }, 200);  // let the write finish before the next
        }
        std::sort(autosaves.begin(), autosaves.end());
        std::printf("autosave_ms: %.1f (%.1f\u2013%.1f)\n", autosaves[autosaves.size() / 2], autosaves.front(),
                    autosaves.back());
        QElapsedTimer timer;
        timer.start();
        window.close();
        waitFor([&] { return window.isStateSaved(); }, 30000);
        closing = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }
    bytes = static_cast<std::size_t>(std::filesystem::file_size(dir / "data.kq4"));
    std::printf("close_to_exit_ms: %.1f\n", closing);
    std::printf("close_state_file_mb: %.1f\n", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return 0;
}
