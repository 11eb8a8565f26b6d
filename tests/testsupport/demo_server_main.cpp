#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "CatalogueServer.h"

// The demo catalogue server of ./run.sh: a short sample series of real AVI files on 127.0.0.1.
//   vemlis-demo-server [--port N] [--throttle BYTES_PER_SECOND] [--seasons N] [--large]
// Fewer seasons, then more, show the program following a series as episodes are added;
// --large (last) serves movies of about 9 MB, so that files of two or more come in segments.
namespace {
volatile std::sig_atomic_t stop = 0;
void onSignal(int) { stop = 1; }
}  // namespace

int main(int argc, char** argv) {
    int port = 8087;
    long long throttle = 150 * 1024;
    int seasons = 3;
    int frameWidth = 96;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--large") == 0) frameWidth = 640;  // movies of about 9 MB: files in segments
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0) port = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--throttle") == 0) throttle = std::atoll(argv[i + 1]);
        if (std::strcmp(argv[i], "--seasons") == 0) seasons = std::max(1, std::atoi(argv[i + 1]));
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    try {
        vemlis::testing::CatalogueServer server(port);
        vemlis::testing::CatalogueShape shape;
        shape.seasons = seasons;
        shape.episodes = 4;
        shape.variants = 4;
        shape.minMoviesPerFile = 1;
        shape.maxMoviesPerFile = 4;
        shape.suggestEvery = 3;
        vemlis::testing::serveSeries(server, shape, frameWidth, frameWidth * 3 / 4, 10);
        server.setThrottle(throttle);
        std::printf("Serving the demo catalogue at %s\n", server.catalogueURL().c_str());
        std::fflush(stdout);
        while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vemlis-demo-server: %s\n", e.what());
        return 1;
    }
    return 0;
}
