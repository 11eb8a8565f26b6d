#pragma once

// The load thread against the loopback server, with the series it serves, for the engine's
// tests of whole downloads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "CatalogueServer.h"
#include "FakeUI.h"
#include "TempDir.h"
#include "engine/TransferMeter.h"
#include "engine/net/HttpClient.h"
#include "engine/LoadThread.h"
#include "model/MoviesSet.h"

namespace vemlis::testing {

using tavik::vemlis_loader::Film;
using tavik::vemlis_loader::Loaded;
using tavik::vemlis_loader::Movie;
using tavik::vemlis_loader::MoviesSet;
using tavik::vemlis_loader::Queue;
using tavik::vemlis_loader::ServerFile;


struct Harness {
    CatalogueServer server;
    TempDir dir;
    MoviesSet set;
    HttpClient http;
    TransferMeter meter;  // what the transfer in progress has received
    bool wholeFiles = false;  // files kept whole in temp.kq4 and split, not written as they come
    bool pageCacheOnly = false;  // as on a file system that takes no direct writes
    FakeUI ui;
    std::unique_ptr<LoadThread> thread;
    ServedSeries series;

    Harness() {
        CatalogueShape shape;
        shape.seasons = 2;
        shape.episodes = 3;
        shape.variants = 3;
        shape.minMoviesPerFile = 2;
        shape.maxMoviesPerFile = 3;
        series = serveSeries(server, shape);
        http.setStallTimeout(20);
        http.setObserver(&meter);
    }
    std::int64_t received() const { return meter.figures().received; }
    ~Harness() {
        if (thread) {
            thread->close();
            EXPECT_TRUE(waitUntil([&] { return ui.called("enableCloseTimer"); }));
            thread.reset();
        }
    }
    void start(std::filesystem::path folder = {}, std::string url = {}) {
        thread = std::make_unique<LoadThread>(set, http, ui, url.empty() ? server.catalogueURL() : url,
                                              folder.empty() ? dir.path() : folder);
        thread->setWriteAsItComes(!wholeFiles);
        thread->setWriteDirect(!pageCacheOnly);
        ui.attach(thread.get());
        thread->allowMerge();
    }
    bool merged() { return waitUntil([&] { return ui.called("showMoviesSet"); }); }
    const ServerFile* file(std::size_t i) { return set.getServerFile(server.baseURL() + series.catalogue.files[i].path); }
    std::string path(std::size_t i) const { return series.catalogue.files[i].path; }
    // Queues every movie of the file under a name in the temporary folder.
    void queueAll(const ServerFile* f) {
        for (const Movie* m : f->getMovies()) {
            std::string name = std::to_string(reinterpret_cast<std::uintptr_t>(m));
            name += ".avi";
            m->queue((dir / name).string());
        }
    }
    // The first file of at least this many movies (the last file when none has).
    std::size_t fileOf(std::size_t movies) {
        std::size_t i = 0;
        while (i + 1 < series.catalogue.files.size() && series.pieces[path(i)].size() < movies) ++i;
        return i;
    }
    int count(const std::string& call) const { return static_cast<int>(std::count(ui.calls.begin(), ui.calls.end(), call)); }
};


inline std::string wholeFile(Harness& h, std::size_t i) {
    std::string bytes;
    for (const auto& piece : h.series.pieces[h.path(i)]) bytes += piece;
    return bytes;
}

inline void expectSaved(Harness& h, std::size_t i) {
    const auto& movies = h.file(i)->getMovies();
    for (std::size_t m = 0; m < movies.size(); ++m) {
        EXPECT_EQ(movies[m]->getLoadFlag(), Loaded) << m;
        EXPECT_EQ(readWholeFile(movies[m]->getFileName()), h.series.pieces[h.path(i)][m]) << m;
    }
}



// A server file of 20 MiB whose movies are plain RIFF headers and filler, with headers placed
// across the boundaries of four equal segments (and of the halves a segment is split into).
struct LargeFile {
    std::vector<std::string> movies;
    std::string bytes;
    explicit LargeFile(std::int64_t size = 20 << 20) {
        const std::int64_t quarter = size / 4;
        const std::vector<std::int64_t> starts{0, quarter - 7, 2 * quarter - 15, 3 * quarter - 1, 3 * quarter + quarter / 2 - 9};
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::int64_t end = i + 1 < starts.size() ? starts[i + 1] : size;
            std::string movie(static_cast<std::size_t>(end - starts[i]), '\0');
            const auto riff = static_cast<std::uint32_t>(movie.size() - 8);
            std::memcpy(movie.data(), "RIFF", 4);
            for (int b = 0; b < 4; ++b) movie[4 + b] = static_cast<char>((riff >> (8 * b)) & 0xFF);
            std::memcpy(movie.data() + 8, "AVI LIST", 8);
            for (std::size_t k = 16; k < movie.size(); ++k) movie[k] = static_cast<char>((k * 7 + i * 13) % 251);
            movies.push_back(movie);
            bytes += movie;
        }
    }
};

// Serves the large file at its own path and queues its movies.
inline const ServerFile* serveLarge(Harness& h, const LargeFile& large, const std::string& path = "/large.avi") {
    h.server.setFile(path, large.bytes);
    Film* film = h.set.addSeason("Large")->addFilm();
    for (std::size_t i = 0; i < large.movies.size(); ++i)
        film->addMovie(h.set, "EN", "hi", h.server.baseURL() + path, (h.dir / ("large" + std::to_string(i) + ".avi")).string(),
                       Queue);
    return h.set.getServerFile(h.server.baseURL() + path);
}

// Movies that come in segments are put in place in whatever order their bytes complete.
inline bool allLoaded(const ServerFile* file) {
    const auto& movies = file->getMovies();
    return std::all_of(movies.begin(), movies.end(), [](const auto* m) { return m->getLoadFlag() == Loaded; });
}

inline void expectLargeSaved(const ServerFile* file, const LargeFile& large) {
    const auto& movies = file->getMovies();
    ASSERT_EQ(movies.size(), large.movies.size());
    for (std::size_t i = 0; i < movies.size(); ++i) {
        EXPECT_EQ(movies[i]->getLoadFlag(), Loaded) << i;
        EXPECT_TRUE(readWholeFile(movies[i]->getFileName()) == large.movies[i]) << "movie " << i;
    }
}


}  // namespace vemlis::testing
