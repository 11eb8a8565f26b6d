// Download and splitting throughput against the curl tool and cat, on a 1 GiB server file of
// 8 movies served on 127.0.0.1, and the peak memory of a download and split.
//   engine_bench [--work-dir DIR]
// Prints "name: value" lines.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AviGenerator.h"
#include "CatalogueServer.h"
#include "engine/FileSink.h"
#include "engine/HttpClient.h"
#include "engine/Splitter.h"
#include "model/MoviesSet.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace tavik::vemlis_loader;

namespace {

constexpr int movieCount = 8;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

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
    void renameMovie(const Movie* movie) override { movie->setNoLoad(); }
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

long peakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
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

    vemlis::testing::CatalogueServer server;
    server.setFileFromDisk("/big.avi", source);
    const std::string url = server.baseURL() + "/big.avi";
    const fs::path ours = work / "ours.avi";
    const fs::path theirs = work / "curl.avi";

    std::vector<double> downloadRatios;
    for (int i = 0; i < 10; ++i) {
        auto t = Clock::now();
        download(url, ours);
        const double mine = seconds(t);
        t = Clock::now();
        run({"curl", "-s", "-o", theirs.string(), url});
        const double peer = seconds(t);
        downloadRatios.push_back(peer / mine);  // throughput ratio: higher is better
        fs::remove(ours);
        fs::remove(theirs);
    }

    const auto index = download(url, work / "temp.kq4");
    std::vector<double> splitRatios, splitTimes, catTimes, scanRatios;
    for (int i = 0; i < 7; ++i) {
        auto t = Clock::now();
        split(work / "temp.kq4", work, nullptr);  // without the download's index: read and scanned
        const double scanned = seconds(t);
        for (int m = 0; m < movieCount; ++m) fs::remove(work / ("movie" + std::to_string(m) + ".avi"));
        t = Clock::now();
        split(work / "temp.kq4", work, &index);
        const double mine = seconds(t);
        for (int m = 0; m < movieCount; ++m) fs::remove(work / ("movie" + std::to_string(m) + ".avi"));
        t = Clock::now();
        run({"sh", "-c", "cat '" + (work / "temp.kq4").string() + "' > '" + (work / "copy.avi").string() + "'"});
        const double peer = seconds(t);
        fs::remove(work / "copy.avi");
        splitRatios.push_back(peer / mine);
        scanRatios.push_back(peer / scanned);
        splitTimes.push_back(mine);
        catTimes.push_back(peer);
    }
    fs::remove(work / "temp.kq4");

    // The peak memory of a download and split, in a fresh process.
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string peakFile = (work / "peak.txt").string();
    run({"sh", "-c", "'" + self + "' --measure-peak '" + url + "' '" + work.string() + "' > '" + peakFile + "'"});
    std::ifstream peakIn(peakFile);
    long peak = -1;
    peakIn >> peak;
    for (int m = 0; m < movieCount; ++m) fs::remove(work / ("movie" + std::to_string(m) + ".avi"));
    fs::remove(work / "temp.kq4");

    std::printf("server_file_gib: %.2f\n", gib);
    std::printf("download_vs_curl: %.2f\n", median(downloadRatios));
    std::printf("split_vs_cat: %.2f\n", median(splitRatios));
    std::printf("split_scanning_vs_cat: %.2f\n", median(scanRatios));
    std::printf("split_seconds: %.3f\ncat_seconds: %.3f\n", median(splitTimes), median(catTimes));
    std::printf("download_split_peak_mb: %.1f\n", static_cast<double>(peak) / 1024.0);
    curl_global_cleanup();
    return 0;
}
