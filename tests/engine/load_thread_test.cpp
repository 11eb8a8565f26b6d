#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QByteArray>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "LoadHarness.h"
#include "LoopbackSocket.h"
#include "CatalogueServer.h"
#include "FakeUI.h"
#include "TempDir.h"
#include "engine/net/HttpClient.h"
#include "engine/disk/KeptParts.h"
#include "engine/LoadThread.h"
#include "engine/RetrySchedule.h"
#include "model/MoviesSet.h"
#include "model/UiTexts.h"

using namespace vemlis;
using namespace tavik::vemlis_loader;
using vemlis::testing::CatalogueServer;
using vemlis::testing::Fault;
using vemlis::testing::waitUntil;
using vemlis::testing::Harness;
using vemlis::testing::LargeFile;
using vemlis::testing::expectLargeSaved;
using vemlis::testing::expectSaved;
using vemlis::testing::serveLarge;
using vemlis::testing::wholeFile;

TEST(LoadThread, DownloadsAndSplitsQueuedFilesInCatalogueOrder) {
    Harness h;
    h.start();
    ASSERT_TRUE(h.merged());
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showListPanel"); }));
    const ServerFile* first = h.file(0);
    const ServerFile* second = h.file(2);
    // The second file on the server holds only its first piece: its last movie has none.
    h.server.setFile(h.path(2), h.series.pieces[h.path(2)][0]);
    h.queueAll(second);
    h.queueAll(first);
    h.thread->start();

    ASSERT_TRUE(waitUntil([&] { return h.count("showFileDone") == 2; }));
    EXPECT_EQ(h.ui.startedURLs, (std::vector<std::string>{first->getURL(), second->getURL()}));
    for (std::size_t i = 0; i < first->getMovies().size(); ++i) {
        const Movie* m = first->getMovies()[i];
        EXPECT_EQ(m->getLoadFlag(), Loaded);
        EXPECT_EQ(vemlis::testing::readWholeFile(m->getFileName()), h.series.pieces[h.path(0)][i]);
    }
    EXPECT_EQ(second->getMovies().front()->getLoadFlag(), Loaded);
    EXPECT_EQ(second->getMovies().back()->getLoadFlag(), Broken);
    // The temporary file goes right after the splitting.
    EXPECT_TRUE(waitUntil([&] { return !std::filesystem::exists(h.thread->getTempFilePath()); }));
    EXPECT_EQ(h.set.getNextQueuedFile(), nullptr);

    const auto& c = h.ui.calls;
    const auto started = std::find(c.begin(), c.end(), "showFileStarted");
    ASSERT_NE(started, c.end());
    EXPECT_EQ(*(started - 1), "showQueuePanel");
    // Written as they came: each movie is done while the file still comes, with nothing to split.
    EXPECT_EQ(*(started + 1), "addFinishedMovie");
    EXPECT_FALSE(h.ui.called("showSplitPanel"));
    EXPECT_EQ(h.ui.finished.size(), first->getMovies().size() + second->getMovies().size());

    h.thread->stop(false);
    ASSERT_TRUE(waitUntil([&] { return h.ui.calls.back() == "showListPanel"; }));
}

TEST(LoadThread, ACatalogueThatCannotBeFetchedIsToldPreciselyAndAnotherAddressIsTried) {
    Harness h;
    h.server.setFault("/movies.xml", Fault::failWith(500));
    h.start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("enableCloseTimer"); }));
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_EQ(h.ui.messages[0], "The list of episodes could not be loaded from\n" + h.server.catalogueURL() + "\nServer error 500");
    EXPECT_FALSE(h.ui.called("showMoviesSet"));
    EXPECT_TRUE(h.set.getSeasons().empty());
    EXPECT_TRUE(h.thread->loopEnded());

    // Nothing listens, then no list at the address, then not a list at all: each said so, and
    // the next address offered is tried until one loads.
    Harness again;
    const vemlis::testing::LoopbackSocket held(false);
    ASSERT_NE(held.port, 0);
    const int port = held.port;
    const std::string refused = "http://127.0.0.1:" + std::to_string(port) + "/movies.xml";
    again.server.setFile("/page.html", "<html><body>Welcome to the hotel network</body></html>");
    std::vector<std::string> next{again.server.baseURL() + "/missing.xml", again.server.baseURL() + "/page.html",
                                  again.server.catalogueURL()};
    again.ui.nextCatalogueAddress = [&] {
        const std::string url = next.front();
        next.erase(next.begin());
        return url;
    };
    again.start({}, refused);
    ASSERT_TRUE(again.merged());
    ASSERT_EQ(again.ui.messages.size(), 3u);
    EXPECT_EQ(again.ui.messages[0], uiText(rows::catalogueNotLoaded) + "\n" + refused + "\nNo server answers at 127.0.0.1:" +
                                        std::to_string(port));
    EXPECT_EQ(again.ui.messages[1], "The server has no list of episodes at\n" + again.server.baseURL() +
                                        "/missing.xml\nFile not found on the server (404)");
    EXPECT_EQ(again.ui.messages[2], "The answer from\n" + again.server.baseURL() + "/page.html\nis not a list of episodes.");
    EXPECT_FALSE(again.set.getSeasons().empty());
    EXPECT_EQ(again.thread->getCatalogueURL(), again.server.catalogueURL());
}

TEST(LoadThread, ACatalogueOverTheLimitIsToldWithItsSize) {
    Harness h;
    // 300 MB that take no room: the answer is refused by its length before its body comes.
    const auto huge = h.dir / "huge.xml";
    vemlis::testing::writeWholeFile(huge, "");
    std::filesystem::resize_file(huge, std::uintmax_t(300) << 20);
    h.server.setFileFromDisk("/movies.xml", huge);
    h.start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("enableCloseTimer"); }));
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_EQ(h.ui.messages[0], "The list of episodes at\n" + h.server.catalogueURL() + "\nis larger than 256 MB (300 MB).");
    EXPECT_LT(h.server.bytesSent("/movies.xml"), std::int64_t(64) << 20);

    // Compressed, its length says nothing of the list's: told by the limit reading stopped at.
    Harness packed;
    const QByteArray zlib = qCompress(QByteArray(300 << 20, ' '), 1).mid(4);
    packed.server.setFile("/movies.xml", zlib.toStdString());
    packed.server.setFault("/movies.xml", Fault::encoded("deflate"));
    packed.start();
    // Inflating 256 MB takes the low-priority load thread long on a busy machine.
    ASSERT_TRUE(waitUntil([&] { return packed.ui.called("enableCloseTimer"); }, 120000));
    ASSERT_EQ(packed.ui.messages.size(), 1u);
    EXPECT_EQ(packed.ui.messages[0], "The list of episodes at\n" + packed.server.catalogueURL() + "\nis larger than 256 MB.");
}

TEST(LoadThread, ClosingDuringTheFetchShowsNothing) {
    Harness h;
    h.server.setFault("/movies.xml", Fault::stall(10));
    h.start();
    ASSERT_TRUE(waitUntil([&] { return h.server.requests("/movies.xml") == 1; }));
    h.thread->close();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("enableCloseTimer"); }));  // the server would stall for 30 s
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_FALSE(h.ui.called("showMoviesSet"));
}

TEST(LoadThread, TheMergeWaitsForTheStateFile) {
    Harness h;
    h.thread = std::make_unique<LoadThread>(h.set, h.http, h.ui, h.server.catalogueURL(), h.dir.path());
    h.ui.attach(h.thread.get());
    ASSERT_TRUE(waitUntil([&] { return h.server.requests("/movies.xml") == 1; }));
    waitUntil([] { return false; }, 300);
    EXPECT_TRUE(h.set.getSeasons().empty());
    EXPECT_FALSE(h.ui.called("showMoviesSet"));
    h.thread->allowMerge();
    EXPECT_TRUE(h.merged());
    EXPECT_FALSE(h.set.getSeasons().empty());
}

TEST(LoadThread, AbortDuringATransferKeepsTheMoviesQueuedAndThePart) {
    Harness h;
    h.server.setFault(h.path(0), Fault::stall(2048));
    h.start();
    ASSERT_TRUE(h.merged());
    const ServerFile* f = h.file(0);
    h.queueAll(f);
    h.thread->start();
    // Blocked once every byte before the stall has arrived.
    ASSERT_TRUE(waitUntil([&] { return h.received() / 1024 == 2; }));
    h.thread->stop(true);
    // The list panel comes back after the file was started (and maybe never shown before).
    ASSERT_TRUE(waitUntil([&] {
        const auto started = std::find(h.ui.calls.begin(), h.ui.calls.end(), "showFileStarted");
        return std::find(started, h.ui.calls.end(), "showListPanel") != h.ui.calls.end();
    })) << ::testing::PrintToString(h.ui.calls);
    for (const Movie* m : f->getMovies()) EXPECT_EQ(m->getLoadFlag(), Queue);
    EXPECT_FALSE(h.ui.called("showSplitPanel"));
    // What came is in the first movie's part, kept for the next try; nothing else was written.
    EXPECT_EQ(std::filesystem::file_size(f->getMovies()[0]->getFileName() + ".part"), 2048u);
    EXPECT_FALSE(std::filesystem::exists(h.thread->getTempFilePath()));

    h.server.clearFault(h.path(0));
    h.thread->start();  // goes on from where it stopped
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }));
    EXPECT_EQ(h.server.requests(h.path(0)), 2);
    EXPECT_EQ(h.server.lastHeader(h.path(0), "Range"), "bytes=2048-");
    std::int64_t size = 0;
    for (const auto& piece : h.series.pieces[h.path(0)]) size += static_cast<std::int64_t>(piece.size());
    EXPECT_EQ(h.server.bytesSent(h.path(0)), size);  // no byte sent twice
    for (const Movie* m : f->getMovies()) EXPECT_EQ(m->getLoadFlag(), Loaded);
    // Removed once the state that calls the movies downloaded is saved, just after the call.
    EXPECT_TRUE(waitUntil([&] { return !std::filesystem::exists(h.thread->getTempFilePath()); }));
}

TEST(LoadThread, AMovieIsDownloadedWhileItsFileStillComesAndOnlyQueuedMoviesAreWritten) {
    Harness h;
    const std::size_t i = h.fileOf(3);
    const auto& pieces = h.series.pieces[h.path(i)];
    ASSERT_GE(pieces.size(), 3u);
    // The server holds back the rest once the second movie's header has gone by.
    h.server.setFault(h.path(i), Fault::stall(static_cast<std::int64_t>(pieces[0].size() + pieces[1].size() + 64)));
    // Room for the queued movies, not for the whole file.
    std::int64_t queuedBytes = 0;
    h.start();
    ASSERT_TRUE(h.merged());
    const ServerFile* f = h.file(i);
    h.queueAll(f);
    f->getMovies()[1]->setNoLoad();
    for (std::size_t m = 0; m < pieces.size(); ++m)
        if (m != 1) queuedBytes += static_cast<std::int64_t>(pieces[m].size());
    h.thread->setFreeSpace([&](const std::filesystem::path&) { return queuedBytes; });
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return f->getMovies()[0]->getLoadFlag() == Loaded; }));
    EXPECT_EQ(vemlis::testing::readWholeFile(f->getMovies()[0]->getFileName()), pieces[0]);
    EXPECT_FALSE(h.ui.called("showFileDone"));  // the file still comes
    EXPECT_FALSE(std::filesystem::exists(f->getMovies()[1]->getFileName() + ".part"));
    EXPECT_FALSE(std::filesystem::exists(h.thread->getTempFilePath()));

    h.server.clearFault(h.path(i));
    h.thread->restartTransfer();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }));
    for (std::size_t m = 0; m < pieces.size(); ++m) {
        EXPECT_EQ(f->getMovies()[m]->getLoadFlag(), m == 1 ? NoLoad : Loaded);
        if (m != 1) {
            EXPECT_EQ(vemlis::testing::readWholeFile(f->getMovies()[m]->getFileName()), pieces[m]);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(f->getMovies()[1]->getFileName()));
}

TEST(LoadThread, OverOneConnectionTheTransferEndsWithTheLastMovieItWrites) {
    Harness h;
    const std::size_t i = h.fileOf(3);
    const auto& pieces = h.series.pieces[h.path(i)];
    ASSERT_GE(pieces.size(), 3u);
    h.server.setRanges(h.path(i), false);
    // The first answer holds back all after the second movie's header.
    Fault stall = Fault::stall(static_cast<std::int64_t>(pieces[0].size() + 64));
    stall.times = 1;
    h.server.setFault(h.path(i), stall);
    h.start();
    ASSERT_TRUE(h.merged());
    const ServerFile* f = h.file(i);
    h.queueAll(f);
    const Movie* last = f->getMovies().back();
    const std::string lastName = last->getFileName();
    for (std::size_t m = 1; m < pieces.size(); ++m) f->getMovies()[m]->setNoLoad();
    // Queued after the transfer began: it comes with the next one, and is no wrong link.
    h.ui.onFinishedMovie = [&] {
        if (last->getLoadFlag() == NoLoad) last->queue(lastName);
    };
    // Its end is not a file that ended early.
    bool waited = false;
    h.ui.onFileStarted = [&] { waited = waited || !h.thread->getWaitingFiles().empty(); };
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return last->getLoadFlag() == Loaded; }));
    EXPECT_FALSE(waited);
    EXPECT_EQ(vemlis::testing::readWholeFile(f->getMovies()[0]->getFileName()), pieces[0]);
    EXPECT_EQ(vemlis::testing::readWholeFile(lastName), pieces.back());
    for (std::size_t m = 1; m + 1 < pieces.size(); ++m) EXPECT_EQ(f->getMovies()[m]->getLoadFlag(), NoLoad);
    EXPECT_EQ(h.server.requests(h.path(i)), 2);
}

TEST(LoadThread, StopAfterTheCurrentFileFinishesIt) {
    Harness h;
    h.server.setFault(h.path(0), Fault::throttled(200000));
    h.start();
    ASSERT_TRUE(h.merged());
    h.queueAll(h.file(0));
    h.queueAll(h.file(1));
    h.ui.onFileStarted = [&] { h.thread->stop(false); };
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone") && h.ui.calls.back() == "showListPanel"; }));
    for (const Movie* m : h.file(0)->getMovies()) EXPECT_EQ(m->getLoadFlag(), Loaded);
    for (const Movie* m : h.file(1)->getMovies()) EXPECT_EQ(m->getLoadFlag(), Queue);
    EXPECT_EQ(h.count("showFileStarted"), 1);
}

TEST(LoadThread, AnUnwritableTemporaryFileEndsTheRunAndKeepsTheQueue) {
    Harness h;
    h.wholeFiles = true;
    h.start(h.dir / "no-such-folder");
    ASSERT_TRUE(h.merged());
    h.queueAll(h.file(0));
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("enableCloseTimer"); }));
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_EQ(h.ui.messages[0], uiText(rows::temporaryFileNotWritten));
    for (const Movie* m : h.file(0)->getMovies()) EXPECT_EQ(m->getLoadFlag(), Queue);
}

TEST(LoadThread, AMovieThatCannotBeCreatedAsksForANewNameAndTheFileComesOnce) {
    // A folder that is not there; a name over the 255 bytes a file system takes.
    for (const auto& [name, reason] : std::vector<std::pair<std::string, std::string>>{
             {"missing/x.avi", "No such file or directory"}, {std::string(300, 'n') + ".avi", "File name too long"}}) {
        Harness h;
        h.start();
        ASSERT_TRUE(h.merged());
        const ServerFile* f = h.file(0);
        h.queueAll(f);
        const Movie* first = f->getMovies()[0];
        first->queue((h.dir / name).string());
        const std::string renamed = (h.dir / "renamed.avi").string();
        std::vector<std::string> reasons;
        h.ui.askName = [&](const Movie*) {
            reasons.push_back(h.thread->getSaveFailure());
            return renamed;
        };
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }));
        EXPECT_EQ(h.server.requests(h.path(0)), 1);
        EXPECT_EQ(reasons, std::vector<std::string>{reason});
        EXPECT_EQ(first->getLoadFlag(), Loaded);
        EXPECT_EQ(vemlis::testing::readWholeFile(renamed), h.series.pieces[h.path(0)][0]);
    }
}

TEST(LoadThread, AMovieWithoutRoomIsKeptAsideAndTheAnswerSavesItWithoutAnotherTransfer) {
    Harness h;
    const std::size_t i = h.fileOf(3);
    const auto& pieces = h.series.pieces[h.path(i)];
    ASSERT_GE(pieces.size(), 3u);
    h.start();
    ASSERT_TRUE(h.merged());
    const ServerFile* f = h.file(i);
    h.queueAll(f);
    const Movie* second = f->getMovies()[1];
    std::filesystem::create_directory(h.dir / "full");
    second->queue((h.dir / "full" / "x.avi").string());
    const auto room = [&](const std::filesystem::path& name) -> std::int64_t {
        return name.parent_path() == h.dir / "full" ? 100 : -1;
    };
    h.thread->setFreeSpace(room);
    const auto keptAside = [&] {
        std::vector<std::string> kept;
        for (const auto& entry : std::filesystem::directory_iterator(h.dir.path()))
            if (entry.path().filename().string().rfind("temp", 0) == 0) kept.push_back(entry.path().filename().string());
        return kept;
    };
    // Nobody answers at first: the movie waits, its bytes kept, and the others are saved.
    std::vector<std::string> reasons;
    h.ui.askName = [&](const Movie* m) {
        reasons.push_back(h.thread->getSaveFailure());
        return m->getFileName();
    };
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }));
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0].rfind("not enough free space", 0), 0u) << reasons[0];
    EXPECT_EQ(second->getLoadFlag(), Queue);
    for (const std::size_t m : {0, 2}) EXPECT_TRUE(vemlis::testing::readWholeFile(f->getMovies()[m]->getFileName()) == pieces[m]);
    const std::vector<std::string> kept = keptAside();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(kept[0].ends_with(".movie")) << kept[0];

    // Answered after a restart: saved from what was kept, without the file coming again.
    h.thread->close();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("enableCloseTimer"); }));
    h.thread.reset();
    const std::string renamed = (h.dir / "renamed.avi").string();
    h.ui.askName = [&](const Movie*) { return renamed; };
    h.start();
    h.thread->setFreeSpace(room);
    ASSERT_TRUE(h.merged());
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return second->getLoadFlag() == Loaded; }));
    EXPECT_EQ(second->getFileName(), renamed);
    EXPECT_TRUE(vemlis::testing::readWholeFile(renamed) == pieces[1]);
    EXPECT_EQ(h.server.requests(h.path(i)), 1);
    ASSERT_TRUE(waitUntil([&] { return keptAside().empty(); }));
}

TEST(LoadThread, RedirectsAreFollowed) {
    Harness h;
    h.server.setFile("/elsewhere.avi", vemlis::testing::readWholeFile("/dev/null"));
    std::string bytes;
    for (const auto& piece : h.series.pieces[h.path(0)]) bytes += piece;
    h.server.setFile("/elsewhere.avi", bytes);
    h.server.setFault(h.path(0), Fault::redirect("/elsewhere.avi"));
    h.start();
    ASSERT_TRUE(h.merged());
    h.queueAll(h.file(0));
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }));
    for (const Movie* m : h.file(0)->getMovies()) EXPECT_EQ(m->getLoadFlag(), Loaded);
}

TEST(LoadThread, OutsideTheDownloadWindowTheCurrentFileEndsAndTheNextWaitsForItToOpen) {
    DownloadWindow night{60, 6 * 60};  // 01:00 to 06:00
    EXPECT_EQ(night.closedFor(23 * 3600), 2 * 3600);
    EXPECT_EQ(night.closedFor(6 * 3600), 19 * 3600);
    EXPECT_FALSE(night.closedFor(3600).has_value());
    DownloadWindow overMidnight{22 * 60, 6 * 60};
    EXPECT_FALSE(overMidnight.closedFor(23 * 3600).has_value());
    EXPECT_FALSE(overMidnight.closedFor(2 * 3600).has_value());
    EXPECT_EQ(overMidnight.closedFor(21 * 3600 + 59 * 60), 60);

    Harness h;
    std::atomic<int> now{0};  // seconds after midnight
    h.server.setFault(h.path(0), Fault::throttled(400000));
    h.start();
    h.thread->setTimeOfDay([&] { return now.load(); });
    ASSERT_TRUE(h.merged());
    h.queueAll(h.file(0));
    h.queueAll(h.file(1));
    // The window closes while the first file downloads: it is finished, the second waits.
    h.ui.onFileStarted = [&] {
        now = 23 * 3600;
        h.thread->setDownloadWindow(night);
    };
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone") && h.thread->getWaiting().has_value(); }));
    h.ui.onFileStarted = nullptr;
    for (const Movie* m : h.file(0)->getMovies()) EXPECT_EQ(m->getLoadFlag(), Loaded);
    EXPECT_EQ(h.thread->getWaiting()->reason, "Paused until 01:00");
    EXPECT_EQ(h.thread->getWaiting()->url, h.file(1)->getURL());
    EXPECT_EQ(h.server.requests(h.path(1)), 0);
    // 01:00: the thread, asleep for two hours, is woken by any request and goes on.
    now = 3600;
    h.thread->retryNow();
    ASSERT_TRUE(waitUntil([&] { return h.count("showFileDone") == 2; }, 15000));
    EXPECT_FALSE(h.thread->getWaiting().has_value());
    for (const Movie* m : h.file(1)->getMovies()) EXPECT_EQ(m->getLoadFlag(), Loaded);
}

TEST(RetrySchedule, BackOffServerWaitsNetworkAndUserAndWhatComesNext) {
    using namespace std::chrono_literals;
    using vemlis::RetrySchedule;
    const RetrySchedule::Time t0{};  // the test's own clock
    int a = 0, b = 0, c = 0;
    const auto* fileA = reinterpret_cast<RetrySchedule::File>(&a);
    const auto* fileB = reinterpret_cast<RetrySchedule::File>(&b);
    const auto* fileC = reinterpret_cast<RetrySchedule::File>(&c);
    RetrySchedule schedule;
    // 1 s, doubling up to a minute.
    for (const auto& [failures, wait] : std::vector<std::pair<int, std::chrono::seconds>>{{1, 1s}, {2, 2s}, {6, 32s}, {7, 60s}, {100, 60s}})
        EXPECT_EQ(RetrySchedule::backOff(failures), wait) << failures;
    schedule.failed(fileA, "busy", t0);
    schedule.failed(fileA, "busy", t0);
    EXPECT_EQ(schedule.find(fileA)->due, t0 + 2s);
    // A server's wait is believed when longer, up to ten minutes.
    schedule.failed(fileB, "later", t0, 5);
    EXPECT_EQ(schedule.find(fileB)->due, t0 + 5s);
    schedule.failed(fileB, "much later", t0, 86400);
    EXPECT_EQ(schedule.find(fileB)->due, t0 + 600s);
    // In catalogue order the first that does not wait comes next; else the earliest is told.
    EXPECT_EQ(schedule.pick({fileA, fileB, fileC}, t0).next, fileC);
    const auto pick = schedule.pick({fileA, fileB}, t0 + 1s);
    EXPECT_EQ(pick.next, nullptr);
    EXPECT_EQ(pick.earliest, fileA);
    EXPECT_EQ(pick.wait->reason, "busy");
    EXPECT_EQ(schedule.pick({fileB, fileA}, t0 + 2s).next, fileA);
    EXPECT_TRUE(RetrySchedule::keepsAwake(schedule.find(fileA)->due, t0 + 1s));
    EXPECT_FALSE(RetrySchedule::keepsAwake(schedule.find(fileB)->due, t0));  // ten minutes: the computer may sleep
    EXPECT_FALSE(RetrySchedule::keepsAwake(t0 + 60s, t0 + 1ms));  // a server's minute, looked at a moment later

    // The network gone: a minute without counting a failure; its return ends every back-off.
    schedule.waitForNetwork(fileC, "offline", t0);
    EXPECT_EQ(schedule.find(fileC)->failures, 0);
    EXPECT_EQ(schedule.find(fileC)->due, t0 + 60s);
    // Waits for the user: a certificate until a new start, a name until it is given.
    schedule.waitForUser(fileA, "certificate");
    schedule.retryNow(t0 + 3s);
    EXPECT_EQ(schedule.find(fileB)->due, t0 + 3s);
    EXPECT_EQ(schedule.find(fileC)->due, t0 + 3s);
    EXPECT_EQ(schedule.find(fileA)->due, RetrySchedule::never);
    EXPECT_FALSE(RetrySchedule::keepsAwake(RetrySchedule::never, t0));
    schedule.waitForUser(fileB, "name", true);
    schedule.namesGiven(t0 + 4s);
    EXPECT_EQ(schedule.find(fileB)->due, t0 + 4s);
    EXPECT_EQ(schedule.find(fileA)->due, RetrySchedule::never);
    // Fetched whole again: at once the first time, then like a failure.
    EXPECT_FALSE(schedule.startedOver(fileC, "changed", t0));
    EXPECT_TRUE(schedule.startedOver(fileC, "changed", t0));
    EXPECT_GT(schedule.find(fileC)->due, t0);
    schedule.forget(fileC);
    EXPECT_EQ(schedule.find(fileC), nullptr);
}

TEST(LoadThread, AFailingFileIsRetriedWithBackOff) {
    Harness h;
    h.server.setFault(h.path(0), Fault::failWith(503, 2));
    h.start();
    ASSERT_TRUE(h.merged());
    h.queueAll(h.file(0));
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.thread->getWaiting().has_value(); }));
    const auto waiting = *h.thread->getWaiting();  // not hammered: told when the next try is
    EXPECT_EQ(waiting.reason, "The server is busy (503)");
    EXPECT_LT(waiting.due, vemlis::RetrySchedule::never);
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }, 15000));
    EXPECT_EQ(h.server.requests(h.path(0)), 3);
    EXPECT_TRUE(h.ui.messages.empty());

    // A stop during the wait acts at once: the server asks for a minute.
    h.server.setFault(h.path(1), Fault::busy(503, 60));
    h.queueAll(h.file(1));
    h.thread->start();  // as "Start download" does: the thread at rest looks for nothing itself
    ASSERT_TRUE(waitUntil([&] { return h.server.requests(h.path(1)) == 1 && h.thread->getWaiting().has_value(); }));
    h.thread->stop(false);
    ASSERT_TRUE(waitUntil([&] { return h.ui.calls.back() == "showListPanel"; }));  // where the wait is a minute
}

TEST(LoadThread, NothingIsNewToAnEmptyStateNorToALookThatFindsTheSameList) {
    Harness h;
    h.start();
    ASSERT_TRUE(h.merged());
    EXPECT_TRUE(h.thread->getAddedMovies().empty());  // a first start or a lost state file
    h.thread->lookForNewEpisodes();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showNewMovies"); }));
    EXPECT_TRUE(h.thread->getAddedMovies().empty());
    EXPECT_EQ(h.server.requests("/movies.xml"), 2);
}

TEST(LoadThread, AFileThatCannotFitWaitsAndItsResumeCountsTheRoomTheFileHolds) {
    Harness h;
    vemlis::testing::writeWholeFile(h.dir / "temp.kq4", std::string(4096, 'x'));  // a killed run's
    const auto size = static_cast<std::int64_t>(wholeFile(h, 0).size());
    // A disk of this many bytes on which temp.kq4 is the only file: what it holds (its room
    // set aside ahead included) is not free.
    std::atomic<std::int64_t> disk{100};
    h.thread = std::make_unique<LoadThread>(h.set, h.http, h.ui, h.server.catalogueURL(), h.dir.path());
    h.thread->setWriteAsItComes(false);
    h.thread->setFreeSpace([&](const std::filesystem::path& file) -> std::int64_t {
        if (file.filename() != "temp.kq4") return -1;
        struct stat info {};
        return disk - (::stat(file.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_blocks) * 512 : 0);
    });
    h.ui.attach(h.thread.get());
    h.thread->allowMerge();
    ASSERT_TRUE(h.merged());
    EXPECT_TRUE(waitUntil([&] { return !std::filesystem::exists(h.dir / "temp.kq4"); }));  // once merged
    h.queueAll(h.file(0));
    h.queueAll(h.file(1));
    h.thread->start();
    // Neither fits: both wait with the reason, and the run goes on.
    ASSERT_TRUE(waitUntil([&] { return h.server.requests(h.path(1)) >= 1 && h.thread->getWaiting().has_value(); }));
    EXPECT_NE(h.thread->getWaiting()->reason.find("Not enough free space"), std::string::npos);
    EXPECT_TRUE(h.ui.messages.empty());
    EXPECT_FALSE(h.ui.called("enableCloseTimer"));
    // Room for the file and a quarter: it breaks off a quarter in, and its rest fits only in
    // the room temp.kq4 set aside for it.
    const std::int64_t cut = size / 4;
    h.server.setFault(h.path(0), Fault::dropOnce(cut));
    disk = (size + 4095) / 4096 * 4096 + cut;
    h.thread->retryNow();
    ASSERT_TRUE(waitUntil([&] { return h.file(0)->getMovies().back()->getLoadFlag() == Loaded; }, 15000));
    expectSaved(h, 0);
    EXPECT_EQ(h.server.lastHeader(h.path(0), "Range"), "bytes=" + std::to_string(cut) + "-");
    EXPECT_TRUE(h.ui.messages.empty());
}

TEST(LoadThread, LinksPlantedAtTheTemporaryFilesAreNeverFollowed) {
    Harness h;
    vemlis::testing::TempDir elsewhere;
    const auto target = elsewhere / "precious";
    vemlis::testing::writeWholeFile(target, "keep me");
    std::filesystem::create_symlink(target, h.dir / "temp.kq4");
    std::filesystem::create_symlink(target, h.dir / "temp.kq4.info");
    h.start();
    ASSERT_TRUE(h.merged());
    h.queueAll(h.file(0));
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }));
    expectSaved(h, 0);
    EXPECT_EQ(vemlis::testing::readWholeFile(target), "keep me");
}

TEST(LoadThread, AMovieNeverOverwritesAnotherOnesDownloadedFile) {
    Harness h;
    h.start();
    ASSERT_TRUE(h.merged());
    const ServerFile* f = h.file(0);
    h.queueAll(f);
    // A movie of another file was saved under the name the first movie now carries.
    const Movie* other = h.file(1)->getMovies()[0];
    const std::string name = f->getMovies()[0]->getFileName();
    other->queue(name);
    other->setLoaded();
    vemlis::testing::writeWholeFile(name, "the other movie");
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }));
    EXPECT_EQ(vemlis::testing::readWholeFile(name), "the other movie");
    const Movie* first = f->getMovies()[0];
    EXPECT_EQ(first->getLoadFlag(), Loaded);
    EXPECT_EQ(first->getFileName(), numberedName(name, 2));
    EXPECT_EQ(vemlis::testing::readWholeFile(first->getFileName()), h.series.pieces[h.path(0)][0]);
}


// Straight to the disk, and as on a file system that takes no direct writes.
TEST(LoadThread, ADroppedTransferGoesOnFromWhereItBroke) {
    for (const bool cached : {false, true}) {
        SCOPED_TRACE(cached ? "through the page cache" : "straight to the disk");
        Harness h;
        h.pageCacheOnly = cached;
        const std::string bytes = wholeFile(h, 0);
        const auto cut = static_cast<std::int64_t>(bytes.size() * 9 / 10);
        h.server.setFault(h.path(0), Fault::dropOnce(cut));
        h.start();
        ASSERT_TRUE(h.merged());
        h.queueAll(h.file(0));
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }, 15000));
        EXPECT_EQ(h.server.requests(h.path(0)), 2);
        EXPECT_EQ(h.server.lastHeader(h.path(0), "Range"), "bytes=" + std::to_string(cut) + "-");
        EXPECT_EQ(h.server.lastHeader(h.path(0), "If-Range").front(), '"');  // the ETag
        EXPECT_EQ(h.server.bytesSent(h.path(0)), static_cast<std::int64_t>(bytes.size()));
        expectSaved(h, 0);
    }
}

// Kept whole in temp.kq4, or as the part of the movie in progress with a note where to go on.
TEST(LoadThread, APartSurvivesARestartAndAChangedFileStartsOver) {
    for (const bool whole : {true, false})
    for (const bool changed : {false, true}) {
        Harness h;
        h.wholeFiles = whole;
        const std::string bytes = wholeFile(h, 0);
        h.server.setValidator(h.path(0), vemlis::testing::Validator::lastModified);
        h.server.setFault(h.path(0), Fault::stall(4096));
        h.start();
        ASSERT_TRUE(h.merged());
        h.queueAll(h.file(0));
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return h.received() / 1024 == 4; }));
        // The program ends in the middle of the transfer (as a kill would leave it).
        h.thread->close();
        ASSERT_TRUE(waitUntil([&] { return h.ui.called("enableCloseTimer"); }));
        h.thread.reset();
        const std::string part = whole ? (h.dir / "temp.kq4").string() : h.file(0)->getMovies()[0]->getFileName() + ".part";
        EXPECT_EQ(std::filesystem::file_size(part), 4096u);
        h.server.clearFault(h.path(0));
        std::string served = bytes;
        if (changed) {
            // A new version of the file: the same movies in another order.
            const auto& p = h.series.pieces[h.path(0)];
            served.clear();
            for (auto it = p.rbegin(); it != p.rend(); ++it) served += *it;
            h.server.setFile(h.path(0), served);
        }

        h.ui.calls.clear();
        h.thread = std::make_unique<LoadThread>(h.set, h.http, h.ui, h.server.catalogueURL() + "?again", h.dir.path());
        h.thread->setWriteAsItComes(!whole);
        h.ui.attach(h.thread.get());
        h.thread->allowMerge();
        ASSERT_TRUE(h.merged());
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }, 15000)) << whole << changed;
        EXPECT_EQ(h.server.lastHeader(h.path(0), "Range"), "bytes=4096-");
        // Unchanged: only the rest was sent. Changed: the whole new file, never mixed with the old.
        EXPECT_EQ(h.server.bytesSent(h.path(0)), static_cast<std::int64_t>(changed ? 4096 + served.size() : bytes.size()));
        const auto& movies = h.file(0)->getMovies();
        const auto& p = h.series.pieces[h.path(0)];
        for (std::size_t m = 0; m < movies.size(); ++m)
            EXPECT_EQ(vemlis::testing::readWholeFile(movies[m]->getFileName()), changed ? p[p.size() - 1 - m] : p[m]);
        EXPECT_TRUE(std::filesystem::is_empty(h.dir.path()) || !std::filesystem::exists(part)) << whole << changed;
    }
}

TEST(LoadThread, AServerThatIgnoresRangesOrGivesNoValidatorIsReadWhole) {
    for (const bool ranges : {false, true}) {
        Harness h;
        const std::string bytes = wholeFile(h, 0);
        h.server.setRanges(h.path(0), ranges);
        if (ranges) h.server.setValidator(h.path(0), vemlis::testing::Validator::none);
        h.server.setFault(h.path(0), Fault::dropOnce(static_cast<std::int64_t>(bytes.size() / 2)));
        h.start();
        ASSERT_TRUE(h.merged());
        h.queueAll(h.file(0));
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }, 15000));
        EXPECT_EQ(h.server.bytesSent(h.path(0)), static_cast<std::int64_t>(bytes.size() / 2 + bytes.size()));
        expectSaved(h, 0);
    }
}

TEST(LoadThread, AMissingFileIsAWrongLinkAndAFailingOneWaitsWhileOthersComeIn) {
    Harness h;
    h.server.setFault(h.path(0), Fault::failWith(404));
    h.server.setFault(h.path(1), Fault::busy(500, 60));
    h.start();
    ASSERT_TRUE(h.merged());
    for (std::size_t i : {0, 1, 2}) h.queueAll(h.file(i));
    h.thread->start();
    // The missing file's movies are wrong links at once; the failing one waits while the third
    // comes in.
    ASSERT_TRUE(waitUntil([&] { return h.file(2)->getMovies().back()->getLoadFlag() == Loaded; }, 15000));
    for (const Movie* m : h.file(0)->getMovies()) EXPECT_EQ(m->getLoadFlag(), Broken);
    EXPECT_EQ(h.server.requests(h.path(0)), 1);
    for (const Movie* m : h.file(1)->getMovies()) EXPECT_EQ(m->getLoadFlag(), Queue);
    expectSaved(h, 2);
    const auto broken = std::count_if(h.ui.finished.begin(), h.ui.finished.end(),
                                      [](const auto& f) { return f.flag == Broken; });
    EXPECT_EQ(broken, static_cast<long>(h.file(0)->getMovies().size()));

    // Every queued file waits now: the thread says why and sleeps; Retry-After (a minute) is
    // longer than the first back-off (1 s).
    ASSERT_TRUE(waitUntil([&] { return h.thread->getWaiting().has_value(); }));
    const auto waiting = *h.thread->getWaiting();
    EXPECT_EQ(waiting.reason, "Server error 500");
    EXPECT_EQ(waiting.url, h.file(1)->getURL());
    EXPECT_EQ(h.server.requests(h.path(1)), 1);
    // A stop is seen at once, however long the wait.
    h.thread->stop(false);
    ASSERT_TRUE(waitUntil([&] { return h.ui.calls.back() == "showListPanel"; }));  // where the wait is a minute
}

TEST(LoadThread, ADrippingServerIsSetAsideAndTheFileGoesOnLaterFromWhatItKept) {
    Harness h;
    h.http.setStallTimeout(2);
    Fault drip = Fault::throttled(50);  // far below what a connection gives, yet never nothing
    drip.times = 1;
    h.server.setFault(h.path(0), drip);
    h.start();
    ASSERT_TRUE(h.merged());
    h.queueAll(h.file(0));
    h.queueAll(h.file(1));
    h.thread->start();
    // The next file is not held up, and the dripping one resumes once it is due again.
    ASSERT_TRUE(waitUntil([&] { return h.count("showFileDone") == 2; }, 20000));
    EXPECT_EQ(h.ui.startedURLs, (std::vector<std::string>{h.file(0)->getURL(), h.file(1)->getURL(), h.file(0)->getURL()}));
    expectSaved(h, 0);
    expectSaved(h, 1);
    EXPECT_EQ(h.server.requests(h.path(0)), 2);
    EXPECT_EQ(h.server.lastHeader(h.path(0), "Range").rfind("bytes=", 0), 0u);
}

TEST(LoadThread, AFileCutShortWithoutALengthIsNeverSaved) {
    // A body without a length that ends inside the last movie, exactly where the next movie
    // begins, and six bytes into its header: each is a connection that closed early.
    for (const int cut : {0, 1, 2}) {
        Harness h;
        const std::string bytes = wholeFile(h, 0);
        const auto& pieces = h.series.pieces[h.path(0)];
        const std::size_t end = cut == 0 ? bytes.size() - pieces.back().size() / 2 : pieces[0].size() + (cut == 2 ? 6 : 0);
        h.server.setFile(h.path(0), bytes.substr(0, end));
        h.server.setFault(h.path(0), Fault::chunked());
        h.start();
        ASSERT_TRUE(h.merged());
        h.queueAll(h.file(0));
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return h.thread->getWaiting().has_value(); })) << cut;
        EXPECT_EQ(h.thread->getWaiting()->reason, "Connection lost");
        // Only a movie whose next header came is whole; the one the body ended in is not.
        const auto& movies = h.file(0)->getMovies();
        for (std::size_t m = 0; m < movies.size(); ++m) {
            const bool whole = cut == 0 && m + 1 < movies.size();
            EXPECT_EQ(movies[m]->getLoadFlag(), whole ? Loaded : Queue) << cut << " " << m;
            if (whole) {
                EXPECT_EQ(vemlis::testing::readWholeFile(movies[m]->getFileName()), pieces[m]);
            }
        }
        EXPECT_FALSE(h.ui.called("showSplitPanel"));

        // The whole file, still without a length, is taken as it stands.
        h.server.setFile(h.path(0), bytes);
        h.server.setFault(h.path(0), Fault::chunked());
        ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }, 15000));
        expectSaved(h, 0);
    }
}


TEST(SegmentedDownload, FourConnectionsGiveTheSameMoviesWithHeadersAcrossTheirBorders) {
    Harness h;
    const LargeFile large;
    h.server.setThrottle(4 << 20);  // per connection: long enough for the four to overlap, also on a busy machine
    const ServerFile* file = serveLarge(h, large);  // in the set before the thread reads it
    h.start();
    ASSERT_TRUE(h.merged());
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return vemlis::testing::allLoaded(file); }, 30000));
    expectLargeSaved(file, large);
    EXPECT_GE(h.server.mostConnections("/large.avi"), 4);  // the first answer, told ranges are served, may linger
    EXPECT_GE(h.server.requests("/large.avi"), 5);
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone") && !std::filesystem::exists(h.dir / "temp.kq4"); }));
}

TEST(SegmentedDownload, ADroppedSegmentGoesOnAndExtraConnectionsMayBeRefused) {
    Harness h;
    const LargeFile large;
    h.server.setMaxConnections("/large.avi", 2);  // 503 beyond two at once
    const ServerFile* file = serveLarge(h, large);  // in the set before the thread reads it
    h.start();
    ASSERT_TRUE(h.merged());
    // The connection of the third segment breaks once in its middle.
    h.server.setFault("/large.avi", Fault::dropOnce(static_cast<std::int64_t>(large.bytes.size()) * 5 / 8));
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return vemlis::testing::allLoaded(file); }, 30000));
    expectLargeSaved(file, large);
    EXPECT_LE(h.server.mostConnections("/large.avi"), 2);
    EXPECT_TRUE(h.ui.messages.empty());
}

TEST(SegmentedDownload, WithoutRangesOneConnectionFetchesTheWholeFile) {
    Harness h;
    const LargeFile large;
    const ServerFile* file = serveLarge(h, large);  // in the set before the thread reads it
    h.start();
    ASSERT_TRUE(h.merged());
    h.server.setRanges("/large.avi", false);
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return vemlis::testing::allLoaded(file); }, 30000));
    expectLargeSaved(file, large);
    EXPECT_EQ(h.server.requests("/large.avi"), 1);
}

// Straight to the disk, and as on a file system that takes no direct writes.
TEST(SegmentedDownload, AnAbortBreaksEveryConnectionAndTheSegmentsGoOnLater) {
    for (const bool cached : {false, true}) {
        SCOPED_TRACE(cached ? "through the page cache" : "straight to the disk");
        Harness h;
        h.pageCacheOnly = cached;
        const LargeFile large;
        h.server.setThrottle(2 << 20);  // per connection: the transfer lasts a few seconds
        const ServerFile* file = serveLarge(h, large);  // in the set before the thread reads it
        h.start();
        ASSERT_TRUE(h.merged());
        h.thread->start();
        // However slowly a loaded machine opens them, every connection is open at the abort.
        ASSERT_TRUE(waitUntil([&] { return h.received() > (4 << 20) && h.server.mostConnections("/large.avi") >= 4; }, 60000));
        h.thread->stop(true);
        ASSERT_TRUE(waitUntil([&] { return h.ui.calls.back() == "showListPanel"; }));
        // Broken off, not finished: beside the state, each segment's range and what of it arrived.
        // The movies' bytes are in their parts; there is no temp.kq4.
        EXPECT_FALSE(std::filesystem::exists(h.dir / "temp.kq4"));
        std::filesystem::path note;
        for (const auto& entry : std::filesystem::directory_iterator(h.dir.path()))
            if (entry.path().extension() == ".movies") note = entry.path();
        ASSERT_FALSE(note.empty());
        std::istringstream lines(vemlis::testing::readWholeFile(note));
        std::string line;
        for (int i = 0; i < 6; ++i) std::getline(lines, line);
        std::istringstream info(line);
        std::int64_t from = 0, to = 0, done = 0, kept = 0;
        std::vector<std::string> rest;  // what each segment asks for next
        while (info >> from >> to >> done) {
            kept += done;
            if (from + done < to) rest.push_back("bytes=" + std::to_string(from + done) + "-" + std::to_string(to - 1));
        }
        const int segments = static_cast<int>(rest.size());
        const std::size_t askedBefore = h.server.rangesAsked("/large.avi").size();
        EXPECT_GE(segments, 4);
        EXPECT_GT(kept, 4 << 20);
        h.server.setThrottle(0);
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return vemlis::testing::allLoaded(file); }, 30000));
        expectLargeSaved(file, large);
        // Every segment went on from what it had, not from its start.
        const auto asked = h.server.rangesAsked("/large.avi");
        const std::vector<std::string> after(asked.begin() + static_cast<long>(askedBefore), asked.end());
        for (const std::string& range : rest)
            EXPECT_NE(std::find(after.begin(), after.end(), range), after.end()) << range;
    }
}

TEST(SegmentedDownload, OnlyQueuedMoviesComeAreWrittenInPlaceAndGoOnAfterARestart) {
    Harness h;
    const LargeFile large;
    const std::int64_t quarter = static_cast<std::int64_t>(large.bytes.size()) / 4;
    const ServerFile* file = serveLarge(h, large);
    const auto& movies = file->getMovies();
    movies[1]->setNoLoad();
    // The last segment's connection stops inside the last movie: the others are whole meanwhile.
    const std::int64_t stall = 3 * quarter + quarter / 2 + 4096;
    h.server.setFault("/large.avi", Fault::stall(stall));
    h.start();
    // Room for any one movie, not for the file.
    h.thread->setFreeSpace([](const std::filesystem::path&) { return std::int64_t(8) << 20; });
    ASSERT_TRUE(h.merged());
    h.thread->start();
    const auto done = [&](std::initializer_list<std::size_t> which) {
        return std::all_of(which.begin(), which.end(), [&](std::size_t n) { return movies[n]->getLoadFlag() == Loaded; });
    };
    ASSERT_TRUE(waitUntil([&] { return done({0, 2, 3}); }, 30000));
    for (const std::size_t n : {0, 2, 3}) EXPECT_TRUE(vemlis::testing::readWholeFile(movies[n]->getFileName()) == large.movies[n]) << n;
    EXPECT_EQ(movies[4]->getLoadFlag(), Queue);
    EXPECT_FALSE(h.ui.called("showFileDone"));
    // Nothing of the file but the queued movies was written anywhere.
    EXPECT_FALSE(std::filesystem::exists(h.dir / "temp.kq4"));
    EXPECT_FALSE(std::filesystem::exists(movies[1]->getFileName() + ".part"));
    // Nor was it asked for, but for its header.
    const auto start1 = static_cast<std::int64_t>(large.movies[0].size());
    const auto end1 = start1 + static_cast<std::int64_t>(large.movies[1].size());
    for (const std::string& range : h.server.rangesAsked("/large.avi")) {
        const std::int64_t first = std::stoll(range.substr(6)), last = std::stoll(range.substr(range.find('-') + 1));
        EXPECT_TRUE(last < start1 || first >= end1 || (first == start1 && last == start1 + 15)) << range;
    }
    // The size shown is what is fetched.
    EXPECT_EQ(h.meter.figures().size, static_cast<std::int64_t>(large.bytes.size() - large.movies[1].size()));

    // The program ends in the middle of the last movie, as a kill would leave it, and starts again.
    h.thread->close();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("enableCloseTimer"); }));
    h.thread.reset();
    EXPECT_TRUE(std::filesystem::exists(movies[4]->getFileName() + ".part"));
    h.server.clearFault("/large.avi");
    const std::int64_t sentBefore = h.server.bytesSent("/large.avi");
    h.start();
    ASSERT_TRUE(h.merged());
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return done({0, 2, 3, 4}); }, 30000));
    EXPECT_TRUE(vemlis::testing::readWholeFile(movies[4]->getFileName()) == large.movies[4]);
    EXPECT_EQ(movies[1]->getLoadFlag(), NoLoad);
    EXPECT_FALSE(std::filesystem::exists(movies[1]->getFileName()));
    // Only the rest of the stopped segment came again.
    EXPECT_LE(h.server.bytesSent("/large.avi") - sentBefore, 4 * quarter - stall);
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }));
    for (const auto& entry : std::filesystem::directory_iterator(h.dir.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.ends_with(".avi") || name == "data.kq4") << name;
    }
}

TEST(SegmentedDownload, AMovieThatCannotBeCreatedAsksForANewName) {
    Harness h;
    const LargeFile large;
    const ServerFile* file = serveLarge(h, large);
    file->getMovies()[1]->setNoLoad();
    const Movie* third = file->getMovies()[2];
    third->queue((h.dir / "missing" / "x.avi").string());
    const std::string renamed = (h.dir / "renamed.avi").string();
    std::vector<std::string> reasons;
    h.ui.askName = [&](const Movie*) {
        reasons.push_back(h.thread->getSaveFailure());
        return renamed;
    };
    h.start();
    ASSERT_TRUE(h.merged());
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.ui.called("showFileDone"); }, 30000));
    EXPECT_EQ(reasons, std::vector<std::string>{"No such file or directory"});
    for (const std::size_t n : {0, 2, 3, 4}) {
        EXPECT_EQ(file->getMovies()[n]->getLoadFlag(), Loaded) << n;
        EXPECT_TRUE(vemlis::testing::readWholeFile(file->getMovies()[n]->getFileName()) == large.movies[n]) << n;
    }
    // Kept aside while the other movies came in place: only the queued movies were asked for.
    const auto start1 = static_cast<std::int64_t>(large.movies[0].size());
    const auto end1 = start1 + static_cast<std::int64_t>(large.movies[1].size());
    for (const std::string& range : h.server.rangesAsked("/large.avi")) {
        const std::int64_t first = std::stoll(range.substr(6)), last = std::stoll(range.substr(range.find('-') + 1));
        EXPECT_TRUE(last < start1 || first >= end1 || (first == start1 && last == start1 + 15)) << range;
    }
    for (const auto& entry : std::filesystem::directory_iterator(h.dir.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.ends_with(".avi") || name == "data.kq4") << name;
    }
}

TEST(SegmentedDownload, MoviesWhoseSizesDoNotLeadToTheNextHeaderAreCutAtTheHeaders) {
    // A RIFF size one byte short, and one that runs past the file's end.
    for (const std::size_t wrong : {std::size_t(2), std::size_t(4)}) {
        Harness h;
        LargeFile large;
        std::string& movie = large.movies[wrong];
        movie[4] = static_cast<char>(movie[4] + (wrong == 2 ? -1 : 1));
        large.bytes.clear();
        for (const std::string& m : large.movies) large.bytes += m;
        const ServerFile* file = serveLarge(h, large);
        h.start();
        ASSERT_TRUE(h.merged());
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return vemlis::testing::allLoaded(file); }, 30000)) << wrong;
        expectLargeSaved(file, large);
    }
}

TEST(KeptParts, APartIsTrustedOnlyWithinTheBootThatKeptIt) {
    vemlis::testing::TempDir dir;
    KeptParts parts(dir.path());
    vemlis::testing::writeWholeFile(dir / "temp.kq4", std::string(1000, 'x'));
    ResponseInfo info;
    info.status = 200;
    info.totalLength = 5000;
    info.validator = "\"v1\"";
    parts.remember("http://h/f.avi", info);
    const ResumeFrom same = parts.prepare("http://h/f.avi");
    EXPECT_EQ(same.offset, 1000);
    EXPECT_EQ(same.validator, "\"v1\"");

    // The same side file written before a restart of the system: holes may stand where it counts
    // bytes, so the part is fetched again.
    std::string text = vemlis::testing::readWholeFile(dir / "temp.kq4.info");
    const std::size_t end = text.find('\n');
    text.replace(0, end, "Vemlis loader part 00000000-0000-0000-0000-000000000000");
    vemlis::testing::writeWholeFile(dir / "temp.kq4.info", text);
    EXPECT_EQ(parts.prepare("http://h/f.avi").offset, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "temp.kq4"));

    // Numbers that no transfer wrote are refused, never added past the largest one.
    KeptParts::Info read;
    const std::string ours = vemlis::testing::readWholeFile("/proc/sys/kernel/random/boot_id");
    const std::string heading = "Vemlis loader part " + ours.substr(0, ours.find('\n'));
    const std::string head = heading + "\nhttp://h/f.avi\n20\n\"v1\"\n";
    EXPECT_TRUE(KeptParts::parse(head + "5 10 3\n", read));
    for (const char* line : {"5 10 9223372036854775807\n", "5 10 6\n", "-1 10 0\n", "5 30 0\n", "9223372036854775807 5 0\n"})
        EXPECT_FALSE(KeptParts::parse(head + line, read)) << line;

    // The note of movies that come in segments: the same numbers, and each part a movie's.
    std::string url;
    SegmentResume point;
    const std::string note = "Vemlis loader movies " + ours.substr(0, ours.find('\n')) + "\nhttp://h/f.avi\n\"v1\"\n20\n0 12 \n";
    EXPECT_TRUE(KeptParts::parseSegments(note + "0 10 4 10 20 0 \n1 /m/two words.avi\n", url, point));
    EXPECT_EQ(point.parts, (std::vector<std::pair<std::size_t, std::string>>{{1, "/m/two words.avi"}}));
    for (const char* rest : {"5 10 9223372036854775807 \n", "0 30 0 \n", "0 20 0 \n2 /m/a.avi\n", "0 20 0 \n1 a\n1 b\n",
                             "0 20 0 \n99999999999999999999 a\n"})
        EXPECT_FALSE(KeptParts::parseSegments(note + rest, url, point)) << rest;
}
