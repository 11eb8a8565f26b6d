// Start-up to the list panel with the demo catalogue, and close to exit with a state of 100,000
// movies, on the real main window (offscreen). Prints "name: value" lines.
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CatalogueServer.h"
#include "Pairs.h"
#include "Peers.h"
#include "TempDir.h"
#include "app/StateSaver.h"
#include "app/Twindow.h"
#include "components/FileNamer.h"
#include "components/MoviesList.h"
#include "components/UTF8ListView.h"
#include "engine/net/HttpClient.h"
#include "engine/AviHeaders.h"
#include "engine/Splitter.h"
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

// From "Start download" until the 8 movies of a 1 GiB server file are saved, through the real
// window, against curl followed by cutting the movies out with dd (with a sync, as our side
// flushes each movie to disk, and without), and against the engine's own download of the file into one file
// (`engine_bench --segmented`, beside this program), and against writing as many bytes straight
// to the disk and flushing them (dd). Seven alternating pairs each.
void guiAgainstCurlAndCut(const std::filesystem::path& engineBench) {
    namespace fs = std::filesystem;
    const fs::path work = fs::temp_directory_path() / "vemlis-engine-bench";
    const fs::path source = work / "server-file.avi";
    if (!fs::exists(source) || fs::file_size(source) < (1000u << 20)) {
        std::printf("gui_vs_curl_cut: skipped (run engine_bench first for its 1 GiB server file)\n");
        return;
    }
    // The catalogue from the loopback server, the server file from nginx when it is installed.
    vemlis::testing::CatalogueServer server;
    bench::Nginx nginx(work);
    vemlis::testing::CatalogueShape shape;
    shape.seasons = 1;
    shape.episodes = 8;
    shape.variants = 1;
    shape.minMoviesPerFile = 8;
    shape.maxMoviesPerFile = 8;
    shape.baseURL = nginx.running() ? nginx.baseURL() : server.baseURL();
    auto catalogue = vemlis::testing::generateCatalogue(shape);
    if (catalogue.files.size() != 1 || catalogue.files[0].movies.size() != 8) {
        std::printf("gui_vs_curl_cut: skipped (the catalogue shape changed)\n");
        return;
    }
    std::string url = shape.baseURL + catalogue.files[0].path;
    if (nginx.running()) {
        // nginx serves the work folder: the catalogue's link names the server file there.
        const std::string link = "/" + source.filename().string();
        for (std::size_t at = catalogue.document.find(catalogue.files[0].path); at != std::string::npos;
             at = catalogue.document.find(catalogue.files[0].path, at + link.size()))
            catalogue.document.replace(at, catalogue.files[0].path.size(), link);
        url = shape.baseURL + link;
    }
    server.setCatalogue(catalogue.document);
    server.setFileFromDisk(catalogue.files[0].path, source);
    std::printf("gui_server: %s\n", nginx.running() ? "nginx" : "loopback test server");
    const auto headers = vemlis::indexFile(source).getHeaders();
    const auto size = static_cast<std::int64_t>(fs::file_size(source));
    const fs::path peerFolder = work / "cut";
    fs::create_directories(peerFolder);
    std::string cut = "curl -s -o '" + (peerFolder / "f").string() + "' '" + url + "'";
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const std::int64_t end = i + 1 < headers.size() ? headers[i + 1] : size;
        cut += " && dd status=none bs=1M iflag=skip_bytes,count_bytes if='" + (peerFolder / "f").string() +
               "' of='" + (peerFolder / ("m" + std::to_string(i))).string() + "' skip=" + std::to_string(headers[i]) +
               " count=" + std::to_string(end - headers[i]);
    }
    // The same peer without its sync: what a user who scripts it would see on the terminal.
    const std::string unflushedCut = cut;
    cut += " && sync '" + peerFolder.string() + "'/m*";

    const auto ours = [&] {
        vemlis::testing::TempDir dir;
        double seconds = -1;
        {
            vemlis::Twindow window(server.catalogueURL(), dir.path());
            window.show();
            waitFor([&] { return window.listPanel->isVisible() && window.moviesList->getSeasonsView()->rowCount() > 0; },
                    30000);
            std::string folder = dir.path().string();
            std::replace(folder.begin(), folder.end(), '/', '\\');
            window.fileNamer->setAskMode(false);
            window.fileNamer->setMask(folder + "\\/n.avi");
            tavik::vemlis_loader::ListOfMovies all;
            for (const auto& film : window.getMoviesSet()->getSeasons()[0]->getFilms())
                for (const auto& movie : film->getMovies()) all.push_back(movie.get());
            window.multipleAdderRun(nullptr, all);
            QElapsedTimer timer;
            timer.start();
            window.beginDownloadButton->click();
            waitFor([&] { return !window.getMoviesSet()->getNextQueuedFile(); }, 600000);
            seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            window.close();
            waitFor([&] { return window.isStateSaved(); }, 30000);
        }
        return seconds;
    };
    // A peer's command, timed, with what it left cleared away after.
    const auto peer = [&](const std::string& command) {
        return [&, command] {
            const double seconds = bench::timed([&] { [[maybe_unused]] const int status = std::system(command.c_str()); });
            fs::remove_all(peerFolder);
            fs::create_directories(peerFolder);
            return seconds;
        };
    };
    bench::Sides sides;
    bench::print("gui_vs_curl_cut", bench::speedups(bench::timeRatios(7, ours, peer(cut), &sides)), sides);
    std::fflush(stdout);
    bench::Sides unflushedSides;
    bench::print("gui_vs_curl_cut_unflushed", bench::speedups(bench::timeRatios(7, ours, peer(unflushedCut), &unflushedSides)),
                 unflushedSides);
    std::fflush(stdout);
    if (fs::exists(engineBench)) {
        const auto downloadAlone =
            peer("'" + engineBench.string() + "' --segmented '" + url + "' '" + (peerFolder / "f").string() + "'");
        bench::Sides aloneSides;
        bench::print("click_to_movies_vs_download_alone", bench::timeRatios(7, ours, downloadAlone, &aloneSides), aloneSides);
        std::fflush(stdout);
    }
    // The disk's own floor for a flushed gigabyte: the same size written straight to it and
    // flushed, with no network at all. Our side cannot end before this does.
    const auto durableWrite = peer("dd status=none if=/dev/zero of='" + (peerFolder / "d").string() +
                                   "' bs=2M count=" + std::to_string((size + (2 << 20) - 1) >> 21) +
                                   " oflag=direct conv=fdatasync");
    bench::Sides durableSides;
    bench::print("click_to_movies_vs_durable_write", bench::timeRatios(7, ours, durableWrite, &durableSides), durableSides);
    fs::remove_all(peerFolder);
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
    std::fflush(stdout);
    guiAgainstCurlAndCut(std::filesystem::path(argv[0]).parent_path() / "engine_bench");
    return 0;
}
