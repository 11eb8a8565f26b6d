// Download and splitting throughput against the curl tool and cat, on a 1 GiB server file of
// 8 movies served on 127.0.0.1, and the peak memory of a download and split. Our splitting
// side scans the file for its headers first (the program notes them during the download).
//   engine_bench [--work-dir DIR]
// Prints "name: value" lines.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <thread>
#include <string>
#include <vector>

#include "AviGenerator.h"
#include "CatalogueGenerator.h"
#include "CatalogueServer.h"
#include "engine/net/SegmentPlan.h"
#include "FakeUI.h"
#include "Pairs.h"
#include "Peers.h"
#include "TempDir.h"
#include "engine/disk/TempFile.h"
#include "engine/net/HttpClient.h"
#include "engine/net/HttpClient.h"
#include "engine/LoadThread.h"
#include "engine/AviHeaders.h"
#include "engine/Splitter.h"
#include "model/MoviesSet.h"

namespace fs = std::filesystem;
using namespace tavik::vemlis_loader;

namespace {

using bench::Nginx;
using bench::onPath;
using bench::run;

constexpr int movieCount = 8;

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
    struct IndexingSink final : vemlis::ByteSink {
        vemlis::TempFile file;
        vemlis::HeaderIndex index;
        explicit IndexingSink(const fs::path& path) : file(path, vemlis::TempFile::Mode::create) {}
        bool begin(const vemlis::ResponseInfo& info) override {
            file.reserve(info.contentLength);
            return true;
        }
        bool write(const char* data, std::size_t size) override {
            index.feed(data, size);
            return file.write(data, size);
        }
    } sink(to);
    vemlis::HttpClient client;
    client.get(url, sink);
    sink.file.close();
    return sink.index;
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
    vemlis::HttpClient http;
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

// The load thread's whole way from start to movies, over one connection: the 8 movies of the
// server file at `url`, every other one queued (or all), written as the bytes come ("stream") or
// kept whole and split ("whole"). Prints the largest disk use of the folder seen on the way and
// the size of the queued movies.
int moviesByLoadThread(int argc, char** argv, const std::string& url, const fs::path& folder, bool stream, bool all) {
    QCoreApplication app(argc, argv);
    vemlis::testing::CatalogueServer catalogue;
    catalogue.setCatalogue("<Languages></Languages>");
    MoviesSet set;
    Film* film = set.addSeason("S")->addFilm();
    for (int i = 0; i < movieCount; ++i)
        film->addMovie(set, "EN", "hi", url, (folder / ("movie" + std::to_string(i) + ".avi")).string(),
                       all || i % 2 == 0 ? Queue : tavik::vemlis_loader::NoLoad);
    vemlis::HttpClient http;
    vemlis::testing::FakeUI ui;
    vemlis::LoadThread thread(set, http, ui, catalogue.catalogueURL(), folder);
    thread.setWriteAsItComes(stream);
    ui.attach(&thread);
    thread.allowMerge();
    vemlis::testing::waitUntil([&] { return ui.called("showListPanel"); }, 60000);
    std::atomic<bool> done{false};
    std::int64_t peak = 0;
    std::thread sampler([&] {
        while (!done) {
            std::int64_t used = 0;
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(folder, error)) {
                struct stat info {};
                if (::lstat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode)) used += info.st_blocks * 512;
            }
            peak = std::max(peak, used);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    thread.start();
    vemlis::testing::waitUntil([&] { return ui.called("showFileDone"); }, 600000);
    done = true;
    sampler.join();
    std::int64_t movies = 0;
    for (const auto& movie : film->getMovies())
        if (movie->getLoadFlag() == tavik::vemlis_loader::Loaded) movies += static_cast<std::int64_t>(fs::file_size(movie->getFileName()));
    thread.close();
    vemlis::testing::waitUntil([&] { return ui.called("enableCloseTimer"); }, 60000);
    std::printf("%lld %lld\n", static_cast<long long>(peak), static_cast<long long>(movies));
    return 0;
}

// The file's length and version from the first answer's headers; its body is not taken.
vemlis::ResponseInfo headersOf(vemlis::HttpClient& client, const std::string& url) {
    struct HeadersOnly final : vemlis::ByteSink {
        bool begin(const vemlis::ResponseInfo&) override { return false; }
        bool write(const char*, std::size_t) override { return false; }
    } headers;
    client.get(url, headers);
    return client.getResponseInfo();
}

// The client's own segmented transfer: four connections, each writing at its offsets.
bool segmented(const std::string& url, const fs::path& to) {
    vemlis::HttpClient client;
    const vemlis::ResponseInfo info = headersOf(client, url);
    if (!info.acceptsRanges || info.totalLength <= 0 || info.validator.empty()) return false;
    struct File final : vemlis::OffsetSink {
        int fd;
        explicit File(const fs::path& path) : fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}
        ~File() override { ::close(fd); }
        bool writeAt(std::int64_t offset, const char* data, std::size_t size) override {
            return ::pwrite(fd, data, size, offset) == static_cast<ssize_t>(size);
        }
    } file(to);
    std::vector<vemlis::Segment> segments;
    for (int i = 0; i < 4; ++i) segments.push_back({info.totalLength * i / 4, info.totalLength * (i + 1) / 4, 0});
    client.getSegments(url, info.validator, segments, file, 4);
    return true;
}

// Bytes per second reached under a speed limit over `seconds`, on `connections` connections at
// once, divided by the limit. Nothing is written: only what came is counted.
double speedLimitRatio(const std::string& url, int connections, std::int64_t limit, double seconds) {
    vemlis::HttpClient client;
    const vemlis::ResponseInfo info = headersOf(client, url);
    struct Nowhere final : vemlis::OffsetSink {
        bool writeAt(std::int64_t, const char*, std::size_t) override { return true; }
    } sink;
    std::vector<vemlis::Segment> segments;
    for (int i = 0; i < connections; ++i)
        segments.push_back({info.totalLength * i / connections, info.totalLength * (i + 1) / connections, 0});
    client.setSpeedLimit(limit);
    const auto start = bench::Clock::now();
    client.setAbortCheck([&] { return bench::secondsSince(start) >= seconds; });
    try {
        client.getSegments(url, info.validator, segments, sink, connections);
    } catch (const vemlis::HttpError&) {
        // Broken off at the end of the time, as intended.
    }
    const double elapsed = bench::secondsSince(start);
    std::int64_t arrived = 0;
    for (const auto& s : segments) arrived += s.done;
    return static_cast<double>(arrived) / elapsed / static_cast<double>(limit);
}

// The largest share of the limit that arrived in any one second after the first, as the bytes
// reach the file: the limit must hold over every second, also while connections open.
double speedLimitBurst(const std::string& url, int connections, std::int64_t limit, double seconds) {
    vemlis::HttpClient client;
    const vemlis::ResponseInfo info = headersOf(client, url);
    struct Timed final : vemlis::OffsetSink {
        std::vector<std::pair<double, std::int64_t>> arrivals;  // seconds since the start, bytes
        bench::Clock::time_point start = bench::Clock::now();
        bool writeAt(std::int64_t, const char*, std::size_t size) override {
            arrivals.emplace_back(bench::secondsSince(start), static_cast<std::int64_t>(size));
            return true;
        }
    } sink;
    std::vector<vemlis::Segment> segments = vemlis::SegmentPlan::split(info.totalLength, connections);
    client.setSpeedLimit(limit);
    client.setAbortCheck([&] { return bench::secondsSince(sink.start) >= seconds; });
    try {
        client.getSegments(url, info.validator, segments, sink, connections);
    } catch (const vemlis::HttpError&) {
        // Broken off at the end of the time, as intended.
    }
    double worst = 0;
    std::int64_t inWindow = 0;
    std::size_t first = 0;
    for (const auto& [at, bytes] : sink.arrivals) {
        inWindow += bytes;
        while (sink.arrivals[first].first <= at - 1.0) inWindow -= sink.arrivals[first++].second;
        if (at >= 1.0) worst = std::max(worst, static_cast<double>(inWindow) / static_cast<double>(limit));
    }
    return worst;
}

long peakKiB();

// The peak memory of a process that loads the list of episodes the server answers with the
// file (sent as "deflate" when `deflated`); run in a process of its own.
long cataloguePeak(int argc, char** argv, const fs::path& list, bool deflated) {
    QCoreApplication app(argc, argv);
    vemlis::testing::CatalogueServer server;
    server.setFileFromDisk("/movies.xml", list);
    if (deflated) server.setFault("/movies.xml", vemlis::testing::Fault::encoded("deflate"));
    vemlis::testing::TempDir dir;
    MoviesSet set;
    vemlis::HttpClient http;
    vemlis::testing::FakeUI ui;
    vemlis::LoadThread thread(set, http, ui, server.catalogueURL(), dir.path());
    ui.attach(&thread);
    thread.allowMerge();
    vemlis::testing::waitUntil([&] { return ui.called("showListPanel") || ui.called("enableCloseTimer"); }, 600000);
    thread.close();
    vemlis::testing::waitUntil([&] { return ui.called("enableCloseTimer"); }, 60000);
    return peakKiB();
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
    if (argc == 2 && std::strcmp(argv[1], "--burst") == 0) {
        // The speed limit's burst figure alone, for a quick look while working on the limit.
        vemlis::testing::CatalogueServer server;
        server.setFile("/big.avi", std::string(std::size_t(32) << 20, 'x'));
        for (const int connections : {4, 1})
            std::printf("burst over %d connection(s): %.2f\n", connections,
                        speedLimitBurst(server.baseURL() + "/big.avi", connections, 64 << 10, 6.0));
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--split") == 0) {
        split(argv[2], argv[3], nullptr);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--segmented") == 0) {
        return segmented(argv[2], argv[3]) ? 0 : 1;
    }
    if (argc == 5 && std::strcmp(argv[1], "--speed-limit") == 0) {  // URL, connections, seconds: one run alone
        std::printf("%.3f\n", speedLimitRatio(argv[2], std::atoi(argv[3]), 2 << 20, std::atof(argv[4])));
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--resume-overhead") == 0) {
        std::printf("%.3f\n", resumeOverhead(argc, argv, argv[2]));
        return 0;
    }
    if (argc == 6 && std::strcmp(argv[1], "--movies") == 0) {  // URL, folder, stream|whole, all|half
        return moviesByLoadThread(argc, argv, argv[2], argv[3], std::strcmp(argv[4], "stream") == 0,
                                  std::strcmp(argv[5], "all") == 0);
    }
    if (argc == 4 && std::strcmp(argv[1], "--catalogue-peak") == 0) {
        std::printf("%ld\n", cataloguePeak(argc, argv, argv[2], std::strcmp(argv[3], "deflate") == 0));
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
    if (!fs::exists(source) || fs::file_size(source) < (1000u << 20)) makeServerFile(source);  // 8 movies, about 1 GiB
    const double gib = static_cast<double>(fs::file_size(source)) / (1 << 30);
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    const int pairs = std::max(2, std::atoi(std::getenv("VEMLIS_BENCH_PAIRS") ? std::getenv("VEMLIS_BENCH_PAIRS") : "10"));
    const fs::path limitedFile = work / "segmented-64m.avi";
    if (!fs::exists(limitedFile) || fs::file_size(limitedFile) != (64u << 20)) {
        std::ofstream out(limitedFile, std::ios::binary | std::ios::trunc);
        std::ifstream in(source, std::ios::binary);
        std::vector<char> block(64 << 20);
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }

    // The files come from nginx when it is installed (as a real server would send them), else
    // from the loopback test server; "limited" gives each connection 2 MB/s.
    vemlis::testing::CatalogueServer server;
    server.setFileFromDisk("/big.avi", source);
    vemlis::testing::CatalogueServer limitedServer;
    limitedServer.setFileFromDisk("/limited.avi", limitedFile);
    limitedServer.setThrottle(2 * 1000 * 1000);
    std::string url = server.baseURL() + "/big.avi";
    std::string limitedURL = limitedServer.baseURL() + "/limited.avi";
    Nginx nginx(work);
    if (nginx.running()) {
        url = nginx.baseURL() + "/" + source.filename().string();
        limitedURL = nginx.baseURL() + "/limited/" + limitedFile.filename().string();
    }
    std::printf("server: %s\nserver_file_gib: %.2f\npairs: %d\n", nginx.running() ? "nginx" : "loopback test server",
                gib, pairs);
    std::fflush(stdout);

    const fs::path ours = work / "ours.avi";
    const fs::path theirs = work / "theirs.avi";
    const auto child = [&](const std::vector<std::string>& command, const fs::path& output) {
        return [command, output] {
            const double t = bench::timed([&] { run(command); });
            fs::remove(output);
            return t;
        };
    };
    const auto ourDownload = child({self, "--download", url, ours.string()}, ours);
    // Both sides are child processes, start-up included; outputs are deleted outside the timing.
    const auto figure = [&](const char* name, const std::function<double()>& mine, const std::function<double()>& peer) {
        bench::Sides sides;
        bench::print(name, bench::speedups(bench::timeRatios(pairs, mine, peer, &sides)), sides);
        std::fflush(stdout);
    };
    figure("download_vs_curl", ourDownload, child({"curl", "-s", "-o", theirs.string(), url}, theirs));
    if (onPath("wget")) figure("download_vs_wget", ourDownload, child({"wget", "-q", "-O", theirs.string(), url}, theirs));
    const std::vector<std::string> aria2{"aria2c", "-q", "--allow-overwrite=true", "--file-allocation=none",
                                         "--auto-file-renaming=false", "-d", work.string(), "-o", theirs.filename().string()};
    if (onPath("aria2c")) {
        std::vector<std::string> single = aria2;
        single.insert(single.end(), {"-x1", "-s1", url});
        figure("download_vs_aria2", ourDownload, child(single, theirs));
    }

    download(url, work / "temp.kq4");
    const auto removeMovies = [&] {
        for (int m = 0; m < movieCount; ++m) fs::remove(work / ("movie" + std::to_string(m) + ".avi"));
    };
    // Both sides copy inside the kernel and flush what they wrote to the disk.
    figure(
        "split_vs_cat",
        [&] {
            const double t = bench::timed([&] { run({self, "--split", (work / "temp.kq4").string(), work.string()}); });
            removeMovies();
            return t;
        },
        child({"sh", "-c", "cat '" + (work / "temp.kq4").string() + "' > '" + theirs.string() + "' && sync '" +
                               theirs.string() + "'"},
              theirs));
    fs::remove(work / "temp.kq4");

    // Over connections limited to 2 MB/s each, a 64 MiB file: four connections against one, and
    // against aria2's four.
    const auto ourSegments = child({self, "--segmented", limitedURL, ours.string()}, ours);
    const int segmentPairs = std::max(2, pairs / 3);
    std::printf("segmented_pairs: %d\n", segmentPairs);
    const auto slowFigure = [&](const char* name, const std::function<double()>& peer) {
        bench::Sides sides;
        bench::print(name, bench::speedups(bench::timeRatios(segmentPairs, ourSegments, peer, &sides)), sides);
        std::fflush(stdout);
    };
    slowFigure("segmented_vs_curl", child({"curl", "-s", "-o", theirs.string(), limitedURL}, theirs));
    if (onPath("aria2c")) {
        std::vector<std::string> four = aria2;
        four.insert(four.end(), {"-x4", "-s4", "-k1M", limitedURL});
        slowFigure("segmented_vs_aria2_x4", child(four, theirs));
    }

    // The speed limit holds over all connections of a file: 2 MiB/s for 20 s from a server that
    // could send far more, on four connections and on one.
    for (const int connections : {4, 1}) {
        std::vector<double> ratios;
        for (int run = 0; run < 5; ++run) ratios.push_back(speedLimitRatio(url, connections, 2 << 20, 20.0));
        bench::print(connections == 4 ? "speed_limit_ratio" : "speed_limit_ratio_1", bench::spread(ratios));
        std::fflush(stdout);
    }

    // No second over the limit, on four connections as they open and on one, at 64 KiB/s.
    for (const int connections : {4, 1}) {
        std::vector<double> bursts;
        for (int run = 0; run < 5; ++run) bursts.push_back(speedLimitBurst(url, connections, 64 << 10, 6.0));
        bench::print(connections == 4 ? "speed_limit_burst" : "speed_limit_burst_1", bench::spread(bursts));
        std::fflush(stdout);
    }

    // From start to movies, as they come and kept whole, against the download of the same file
    // alone: over one connection (a server without ranges) and in segments (one that serves
    // them, against the client's own segmented download); and the largest disk use on the way
    // with 4 of the 8 movies queued, over their size.
    {
        server.setFileFromDisk("/one.avi", source);
        server.setRanges("/one.avi", false);
        server.setFileFromDisk("/four.avi", source);
        const fs::path movies = work / "movies";
        const fs::path figures = work / "movies.txt";
        const auto compare = [&](const std::string& fileURL, const char* suffix, const char* peakSuffix,
                                 const std::vector<std::string>& aloneArgs) {
            const auto loadThread = [&](const char* mode, const char* queued, const fs::path& out) {
                fs::remove_all(movies);
                fs::create_directories(movies);
                const double t = bench::timed([&] {
                    run({"sh", "-c", "'" + self + "' --movies '" + fileURL + "' '" + movies.string() + "' " + mode + " " +
                                         queued + " > '" + out.string() + "'"});
                });
                fs::remove_all(movies);
                return t;
            };
            const auto alone = child(aloneArgs, ours);
            // Our time over the download's: 1 is the physical limit.
            for (const char* mode : {"stream", "whole"}) {
                bench::Sides sides;
                const auto ratios = bench::timeRatios(pairs, [&] { return loadThread(mode, "all", figures); }, alone, &sides);
                const std::string name = std::string("movies_vs_download_alone") + suffix;
                bench::print((std::strcmp(mode, "stream") == 0 ? name : name + "_whole").c_str(), ratios, sides);
                std::fflush(stdout);
            }
            for (const char* mode : {"stream", "whole"}) {
                std::vector<double> ratios;
                for (int i = 0; i < std::min(pairs, 5); ++i) {
                    loadThread(mode, "half", figures);
                    std::ifstream in(figures);
                    long long peak = 0, bytes = 0;
                    in >> peak >> bytes;
                    if (bytes > 0) ratios.push_back(static_cast<double>(peak) / static_cast<double>(bytes));
                }
                const std::string name = std::string("peak_disk_over_movies") + peakSuffix;
                bench::print((std::strcmp(mode, "stream") == 0 ? name : name + "_whole").c_str(), bench::spread(ratios));
            }
        };
        compare(server.baseURL() + "/one.avi", "_1", "", {self, "--download", server.baseURL() + "/one.avi", ours.string()});
        compare(server.baseURL() + "/four.avi", "", "_segments", {self, "--segmented", server.baseURL() + "/four.avi", ours.string()});
    }

    // The peak memory of a download and split, in a fresh process.
    const std::string peakFile = (work / "peak.txt").string();
    run({"sh", "-c", "'" + self + "' --measure-peak '" + url + "' '" + work.string() + "' > '" + peakFile + "'"});
    std::ifstream peakIn(peakFile);
    long peak = -1;
    peakIn >> peak;
    removeMovies();
    fs::remove(work / "temp.kq4");
    std::printf("download_split_peak_mb: %.1f\n", static_cast<double>(peak) / 1024.0);
    // In a process of its own, with the event loop the load thread needs.
    const std::string overheadFile = (work / "overhead.txt").string();
    run({"sh", "-c", "'" + self + "' --resume-overhead '" + source.string() + "' > '" + overheadFile + "'"});
    std::ifstream overheadIn(overheadFile);
    double overhead = -1;
    overheadIn >> overhead;
    std::printf("resume_overhead: %.3f\n", overhead);

    // The peak memory of the whole process (program, test server, set) while it loads a list of
    // episodes: one that is refused, 300 MB of text sent compressed, and a large one that is merged.
    const fs::path refused = work / "refused.deflate";
    if (!fs::exists(refused)) {
        const QByteArray packed = qCompress(QByteArray(300 << 20, ' '), 1).mid(4);
        std::ofstream(refused, std::ios::binary).write(packed.data(), packed.size());
    }
    const fs::path large = work / "large.xml";
    if (!fs::exists(large)) {
        vemlis::testing::CatalogueShape shape;
        shape.seasons = 40;
        shape.episodes = 250;
        shape.variants = 9;
        const std::string document = vemlis::testing::generateCatalogue(shape).document;
        std::ofstream(large, std::ios::binary).write(document.data(), static_cast<std::streamsize>(document.size()));
    }
    const auto cataloguePeakMiB = [&](const fs::path& list, const char* encoding) {
        const std::string out = (work / "catalogue-peak.txt").string();
        run({"sh", "-c", "'" + self + "' --catalogue-peak '" + list.string() + "' " + encoding + " > '" + out + "'"});
        std::ifstream in(out);
        long kib = -1;
        in >> kib;
        return static_cast<double>(kib) / 1024.0;
    };
    std::printf("catalogue_refused_peak_mb: %.1f\n", cataloguePeakMiB(refused, "deflate"));
    std::printf("catalogue_large_mb: %.1f\ncatalogue_large_peak_mb: %.1f\n",
                static_cast<double>(fs::file_size(large)) / (1 << 20), cataloguePeakMiB(large, "identity"));
    return 0;
}
