#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "CatalogueServer.h"
#include "TempDir.h"
#include "model/MoviesSet.h"

extern char** environ;

using namespace tavik::vemlis_loader;
using vemlis::testing::readWholeFile;

namespace {

pid_t spawnChild(const std::string& url, const std::filesystem::path& folder) {
    std::vector<std::string> args{VEMLIS_KILL_CHILD, url, folder.string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// How many movies the state file calls downloaded: a cheap look, while the program runs.
int loadedInState(const std::filesystem::path& folder) {
    std::ifstream in(folder / "data.kq4");
    int loaded = 0;
    for (std::string line; std::getline(in, line);) loaded += line == "Loaded";
    return loaded;
}

// The state file as the program would read it at its next start: whole, and every movie it
// calls downloaded complete on disk. Returns how many movies it calls downloaded.
int checkState(const std::filesystem::path& folder, vemlis::testing::ServedSeries& series, const std::string& base) {
    const std::filesystem::path path = folder / "data.kq4";
    if (!std::filesystem::exists(path)) return 0;
    const std::string bytes = readWholeFile(path);
    EXPECT_TRUE(bytes.ends_with("\n")) << "cut off";
    EXPECT_NE(bytes.find("\nSeasonsEnd\nLanguagesList\n"), std::string::npos) << "cut off";
    EXPECT_NE(bytes.find("\nFileNamer\n"), std::string::npos) << "cut off";
    MoviesSet set;
    std::istringstream in(bytes);
    set.load(in);
    int loaded = 0;
    for (const auto& season : set.getSeasons())
        for (const auto& film : season->getFilms())
            for (const auto& movie : film->getMovies()) {
                if (movie->getLoadFlag() != Loaded) continue;
                ++loaded;
                const ServerFile* file = movie->getServerFile();
                const auto& movies = file->getMovies();
                const std::size_t index = std::find(movies.begin(), movies.end(), movie.get()) - movies.begin();
                const std::string expected = series.pieces[file->getURL().substr(base.size())][index];
                EXPECT_EQ(readWholeFile(movie->getFileName()), expected) << movie->getFileName() << " is incomplete";
            }
    return loaded;
}

// Kills the program at random moments of its downloads, over and over (fixed seed, bounded):
// after every kill the state reads back whole and no movie is downloaded whose file is not.
// `frameSide` and `frames` size the movies; `throttle` (per connection) makes a run long
// enough to be cut anywhere.
void killSweep(const vemlis::testing::CatalogueShape& shape, int frameSide, int frames, std::int64_t throttle) {
    vemlis::testing::CatalogueServer server;
    auto series = vemlis::testing::serveSeries(server, shape, frameSide, frameSide * 3 / 4, frames);
    server.setThrottle(throttle);
    vemlis::testing::TempDir dir;
    std::mt19937 random(20261208);
    int kills = 0;
    int mostLoaded = 0;
    int total = 0;
    for (const auto& [path, pieces] : series.pieces) total += static_cast<int>(pieces.size());
    for (int round = 0; round < 20; ++round) {
        const pid_t child = spawnChild(server.catalogueURL(), dir.path());
        ASSERT_GT(child, 0);
        // Mostly short lives, cut anywhere in a transfer, a split or a save; now and then one
        // that lives until the state calls one more movie downloaded (however slow the machine),
        // and a little longer, so that later kills find downloaded movies to check.
        const bool untilSaved = round % 4 == 3;
        const int before = untilSaved ? loadedInState(dir.path()) : 0;
        int delay = untilSaved ? 60000 : std::uniform_int_distribution<int>(30, 1500)(random);
        int status = 0;
        pid_t ended = 0;
        for (int waited = 0; waited < delay && ended == 0; waited += 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ended = ::waitpid(child, &status, WNOHANG);
            if (untilSaved && delay == 60000 && waited % 100 == 0 && loadedInState(dir.path()) > before)
                delay = waited + std::uniform_int_distribution<int>(0, 1500)(random);
        }
        if (ended == 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ++kills;
        }
        const int loaded = checkState(dir.path(), series, server.baseURL());
        if (::testing::Test::HasFailure()) FAIL() << "after kill " << kills << " (round " << round << ")";
        mostLoaded = std::max(mostLoaded, loaded);
        if (loaded == total) {  // every movie is in: start the series over
            for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry.path());
        }
    }
    EXPECT_GE(kills, 10);
    EXPECT_GT(mostLoaded, 0);  // kills came after saves too, not only during the first transfer

    // A run left to its end takes up or cleans away whatever the kills left: the folder holds
    // the state and the movies, nothing half done.
    const pid_t last = spawnChild(server.catalogueURL(), dir.path());
    ASSERT_GT(last, 0);
    int status = 0;
    pid_t ended = 0;
    for (int waited = 0; waited < 120000 && ended == 0; waited += 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ended = ::waitpid(last, &status, WNOHANG);
    }
    if (ended == 0) ::kill(last, SIGKILL), ::waitpid(last, &status, 0);
    ASSERT_NE(ended, 0) << "the last run did not end";
    EXPECT_EQ(checkState(dir.path(), series, server.baseURL()), total);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "data.kq4" || name.ends_with(".avi")) << name << " was left";
    }
    std::printf("kills: %d, most movies downloaded at a kill: %d of %d\n", kills, mostLoaded, total);
}

}  // namespace

TEST(KillTest, NothingDownloadedIsEverLostOrLeftHalf) {
    vemlis::testing::CatalogueShape shape;
    shape.seasons = 2;
    shape.episodes = 3;
    shape.variants = 3;
    shape.minMoviesPerFile = 2;
    shape.maxMoviesPerFile = 3;
    killSweep(shape, 64, 20, 1024 * 1024);
}

// The same for files large enough to come in segments, each movie written in place.
TEST(KillTest, NothingDownloadedInSegmentsIsEverLostOrLeftHalf) {
    vemlis::testing::CatalogueShape shape;
    shape.seasons = 1;
    shape.episodes = 2;
    shape.variants = 2;
    shape.minMoviesPerFile = 2;
    shape.maxMoviesPerFile = 3;
    killSweep(shape, 640, 10, 4 << 20);  // files of 18 MB and more
}
