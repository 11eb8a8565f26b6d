// Download and splitting throughput against the curl tool and cat, on a 1 GiB server file of
// 8 movies served on 127.0.0.1, and the peak memory of a download and split. Our splitting
// side scans the file for its headers first (the program notes them during the download).
//   engine_bench [--work-dir DIR]
// Prints "name: value" lines.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AviGenerator.h"
#include "CatalogueServer.h"
#include "FakeUI.h"
#include "Pairs.h"
#include "TempDir.h"
#include "engine/FileSink.h"
#include "engine/HttpClient.h"
#include "engine/IdHTTPWithSpeedCounter.h"
#include "engine/LoadThread.h"
#include "engine/Splitter.h"
#include "model/MoviesSet.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace tavik::vemlis_loader;

namespace {

constexpr int movieCount = 8;

int run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The same movies as the server file: each about 128 MiB.
void makeServerFile(const fs::path& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < movieCount; ++i) {
        const std::string avi = vemlis::testing::makeAvi(640, 480, 145, static_cast<std::uint32_t>(i + 1));
        out.write(avi.data(), static_cast<std::streamsize>(avi.size()));
    }
}

// As the load thread does it: the file written in large blocks, its headers noted on the way.
vemlis::HeaderIndex download(const std::string& url, const fs::path& to) {
    vemlis::HttpClient client;
    vemlis::FileSink file(to);
    vemlis::HeaderIndex index;
    vemlis::IndexingSink sink(file, index);
    client.get(url, sink);
    file.close();
    return index;
}

struct NoQuestions final : vemlis::SplitHandler {
    void renameMovie(const Movie* movie, const std::string&) override { movie->setNoLoad(); }
    void addFinishedMovie(const Movie*) override {}
};

void split(const fs::path& input, const fs::path& folder, const vemlis::HeaderIndex* index) {
    MoviesSet set;
    Film* film = set.addSeason("S")->addFilm();
    for (int i = 0; i < movieCount; ++i)
        film->addMovie(set, "EN", "hi", "http://h/f", (folder / ("movie" + std::to_string(i) + ".avi")).string(), Queue);
    NoQuestions handler;
    vemlis::splitFile(input, *set.getServerFile("http://h/f"), handler, index ? &index->getHeaders() : nullptr);
}

// What the server sends, over the file's size, when the transfer drops once at 90% and the
// program takes the file again: the load thread's whole path, resume included.
double resumeOverhead(int argc, char** argv, const fs::path& source) {
    QCoreApplication app(argc, argv);
    vemlis::testing::CatalogueServer server;
    server.setFileFromDisk("/big.avi", source);
    const auto size = static_cast<std::int64_t>(fs::file_size(source));
    server.setFault("/big.avi", vemlis::testing::Fault::dropOnce(size * 9 / 10));
    vemlis::testing::TempDir dir;
    MoviesSet set;
    Film* film = set.addSeason("S")->addFilm();
    for (int i = 0; i < movieCount; ++i)
        film->addMovie(set, "EN", "hi", server.baseURL() + "/big.avi",
                       (dir / ("movie" + std::to_string(i) + ".avi")).string(), Queue);
    server.setCatalogue("<Languages></Languages>");
    vemlis::TIdHTTPWithSpeedCounter http;
    vemlis::testing::FakeUI ui;
    vemlis::LoadThread thread(set, http, ui, server.catalogueURL(), dir.path());
    ui.attach(&thread);
    thread.allowMerge();
    vemlis::testing::waitUntil([&] { return ui.called("showListPanel"); }, 60000);
    thread.start();
    vemlis::testing::waitUntil([&] { return ui.called("showFileDone"); }, 600000);
    thread.close();
    vemlis::testing::waitUntil([&] { return ui.called("enableCloseTimer"); }, 60000);
    return static_cast<double>(server.bytesSent("/big.avi")) / static_cast<double>(size);
}

long peakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    vemlis::HttpLibrary httpLibrary;
    // The program's own side of each figure, run as a child process like its peer.
    if (argc == 4 && std::strcmp(argv[1], "--download") == 0) {
        download(argv[2], argv[3]);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--split") == 0) {
        split(argv[2], argv[3], nullptr);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--resume-overhead") == 0) {
        std::printf("%.3f\n", resumeOverhead(argc, argv, argv[2]));
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--measure-peak") == 0) {
        // Run in a process of its own, so that the server and the generator do not count.
        const auto index = download(argv[2], fs::path(argv[3]) / "temp.kq4");
        split(fs::path(argv[3]) / "temp.kq4", argv[3], &index);
        std::printf("%ld\n", peakKiB());
        return 0;
    }
    fs::path work = fs::temp_directory_path() / "vemlis-engine-bench";
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--work-dir") == 0) work = argv[i + 1];
    fs::create_directories(work);
    const fs::path source = work / "server-file.avi";
    if (!fs::exists(source) || fs::file_size(source) < (1u << 30)) makeServerFile(source);
    const double gib = static_cast<double>(fs::file_size(source)) / (1 << 30);
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    vemlis::testing::CatalogueServer server;
    server.setFileFromDisk("/big.avi", source);
    const std::string url = server.baseURL() + "/big.avi";
    const fs::path ours = work / "ours.avi";
    const fs::path theirs = work / "curl.avi";

    // Both sides are child processes, start-up included; outputs are deleted outside the timing.
    const auto downloads = bench::timeRatios(
        10,
        [&] {
            const double t = bench::timed([&] { run({self, "--download", url, ours.string()}); });
            fs::remove(ours);
            return t;
        },
        [&] {
            const double t = bench::timed([&] { run({"curl", "-s", "-o", theirs.string(), url}); });
            fs::remove(theirs);
            return t;
        });

    download(url, work / "temp.kq4");
    const auto removeMovies = [&] {
        for (int m = 0; m < movieCount; ++m) fs::remove(work / ("movie" + std::to_string(m) + ".avi"));
    };
    const auto splits = bench::timeRatios(
        10,
        [&] {
            const double t = bench::timed([&] { run({self, "--split", (work / "temp.kq4").string(), work.string()}); });
            removeMovies();
            return t;
        },
        [&] {
            const double t = bench::timed([&] {
                run({"sh", "-c", "cat '" + (work / "temp.kq4").string() + "' > '" + (work / "copy.avi").string() + "'"});
            });
            fs::remove(work / "copy.avi");
            return t;
        });
    fs::remove(work / "temp.kq4");

    // The peak memory of a download and split, in a fresh process.
    const std::string peakFile = (work / "peak.txt").string();
    run({"sh", "-c", "'" + self + "' --measure-peak '" + url + "' '" + work.string() + "' > '" + peakFile + "'"});
    std::ifstream peakIn(peakFile);
    long peak = -1;
    peakIn >> peak;
    removeMovies();
    fs::remove(work / "temp.kq4");

    std::printf("server_file_gib: %.2f\n", gib);
    bench::print("download_vs_curl", bench::spread(bench::speedups(downloads)));
    bench::print("split_vs_cat", bench::spread(bench::speedups(splits)));
    std::printf("download_split_peak_mb: %.1f\n", static_cast<double>(peak) / 1024.0);
    // In a process of its own, with the event loop the load thread needs.
    const std::string overheadFile = (work / "overhead.txt").string();
    run({"sh", "-c", "'" + self + "' --resume-overhead '" + source.string() + "' > '" + overheadFile + "'"});
    std::ifstream overheadIn(overheadFile);
    double overhead = -1;
    overheadIn >> overhead;
    std::printf("resume_overhead: %.3f\n", overhead);
    return 0;
}
