#include "LoadThread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cerrno>
#include <exception>

#include "engine/FileSink.h"
#include "engine/GuiBridge.h"
#include "engine/IdHTTPWithSpeedCounter.h"
#include "engine/LoadThreadUI.h"
#include "model/MoviesSet.h"
#include "model/UiTexts.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

constexpr std::chrono::milliseconds turnPause{10};

}  // namespace

LoadThread::LoadThread(MoviesSet& set, TIdHTTPWithSpeedCounter& http, LoadThreadUI& ui, std::string catalogueURL,
                       std::filesystem::path dataFolder)
    : set(set), http(http), ui(ui), catalogueURL(std::move(catalogueURL)), dataFolder(std::move(dataFolder)) {
    // A request that comes just before a transfer starts must still break it off.
    http.setAbortCheck([this] { return closing.load() || aborting.load(); });
    bridge = new GuiBridge(this);
    QThread::start();
}

LoadThread::~LoadThread() {
    close();
    // The thread may be waiting for a call into this thread: keep serving calls until it ends.
    while (!wait(QDeadlineTimer(20))) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    // Pairs with the end of run(), so that thread checkers see the thread's last steps
    // happen before what is destroyed here (QThread::wait is invisible to them).
    { std::lock_guard guard(lock); }
    http.setAbortCheck(nullptr);
}

void LoadThread::close() {
    closing = true;
    wake();
    http.disconnect();
}

void LoadThread::stop(bool abort) {
    stopped = true;
    if (abort) {
        aborting = true;
        http.disconnect();
    }
    wake();
}

void LoadThread::start() {
    aborting = false;
    stopped = false;
    wake();
}

void LoadThread::allowMerge() {
    {
        std::lock_guard guard(lock);
        mergeAllowed = true;
    }
    requests.notify_all();
}

void LoadThread::wake() {
    {
        std::lock_guard guard(lock);
        ++requestCount;
    }
    requests.notify_all();
}

void LoadThread::pause(std::chrono::milliseconds time) {
    std::unique_lock guard(lock);
    const std::uint64_t seen = requestCount;
    requests.wait_for(guard, time, [&] { return requestCount != seen; });
}

std::chrono::milliseconds LoadThread::retryDelay(int failures) {
    if (failures <= 0) return std::chrono::milliseconds(0);
    const int shift = std::min(failures - 1, 6);
    return std::min(std::chrono::milliseconds(1000 << shift), std::chrono::milliseconds(60000));
}

void LoadThread::synchronize(void (LoadThreadUI::*call)()) {
    LoadThreadUI* target = &ui;
    bridge->call([target, call] { (target->*call)(); });
}

void LoadThread::run() {
    // The lowest priority that still gets its turn. Qt's IdlePriority is SCHED_IDLE on Linux,
    // under which the download stops whenever anything else keeps the processor busy.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    // A temporary file left by a run that was killed holds nothing a pass could use.
    std::error_code ignored;
    std::filesystem::remove(getTempFilePath(), ignored);
    loadCatalogue();
    while (!closing) {
        bool slow = false;
        try {
            if (stopped) {
                aborting = false;
                failures = 0;
                synchronize(&LoadThreadUI::showListPanel);
            } else {
                synchronize(&LoadThreadUI::showQueuePanel);
                processNextFile();
                slow = failures > 0;
            }
        } catch (...) {
            // A call of the window failed; the next turn tries again.
        }
        if (slow && !stopped && !closing) {
            // A server file that keeps failing is retried, but ever more slowly.
            std::unique_lock guard(lock);
            const std::uint64_t seen = requestCount;
            requests.wait_for(guard, retryDelay(failures), [&] { return requestCount != seen; });
            if (requestCount != seen) failures = 0;
        } else {
            pause(turnPause);
        }
    }
    finished = true;
    try {
        synchronize(&LoadThreadUI::enableCloseTimer);
    } catch (...) {
    }
    std::lock_guard guard(lock);
}

void LoadThread::loadCatalogue() {
    try {
        std::string text = http.get(catalogueURL);
        {
            std::unique_lock guard(lock);
            requests.wait(guard, [&] { return mergeAllowed || closing.load(); });
        }
        if (closing) return;
        set.readCatalogue(std::move(text));
        synchronize(&LoadThreadUI::showMoviesSet);
    } catch (...) {
        if (!closing) fail(uiText(rows::catalogueNotLoaded));
    }
}

void LoadThread::processNextFile() {
    currentFile = set.getNextQueuedFile();
    if (!currentFile) return;
    downloadedNames.reset();
    synchronize(&LoadThreadUI::showFileStarted);
    const bool downloaded = downloadFile();
    try {
        if (downloaded) {
            failures = 0;
            synchronize(&LoadThreadUI::showSplitPanel);
            splitFile(getTempFilePath(), *currentFile, *this, &headers.getHeaders());
            synchronize(&LoadThreadUI::showFileDone);
        }
    } catch (...) {
        // The splitting of this file ends here; movies not reached keep their flags, and the
        // file is fetched again after the back-off, as after a failed download.
        ++failures;
    }
    std::error_code ignored;
    std::filesystem::remove(getTempFilePath(), ignored);
}

namespace {

// Refuses the body before its first byte is written when the length announced does not fit.
class RoomCheckingSink final : public ByteSink {
public:
    RoomCheckingSink(ByteSink& next, const HttpClient& http, std::function<std::int64_t()> room)
        : next(next), http(http), room(std::move(room)) {}
    void write(const char* data, std::size_t size) override {
        if (!checked) {
            checked = true;
            const std::int64_t free = room();
            if (free >= 0 && http.getContentLength() > free) throw StreamError("not enough room for the file");
        }
        next.write(data, size);
    }

private:
    ByteSink& next;
    const HttpClient& http;
    std::function<std::int64_t()> room;
    bool checked = false;
};

}  // namespace

std::int64_t LoadThread::freeSpace(const std::filesystem::path& file) {
    return freeSpaceSource ? freeSpaceSource(file) : freeSpaceAt(file);
}

void LoadThread::claimFreeName(const Movie* movie, const std::vector<std::string>& written) {
    // Only the GUI thread changes names once the lists may show them; the set is read here,
    // which is safe while a pass runs (the user changes nothing then).
    if (!downloadedNames) downloadedNames = std::make_unique<UsedNames>(set, false);
    const std::string name = downloadedNames->freeName(movie->getFileName(), movie, written);
    if (name != movie->getFileName()) bridge->call([movie, &name] { movie->queue(name); });
}

bool LoadThread::downloadFile() {
    FileSink temp(getTempFilePath());
    headers = HeaderIndex();
    try {
        if (!temp.isOpen()) throw StreamError("the temporary file could not be created");
        IndexingSink indexing(temp, headers);
        RoomCheckingSink sink(indexing, http, [this] { return freeSpace(getTempFilePath()); });
        http.get(currentFile->getURL(), sink);
        temp.close();
        return true;
    } catch (const StreamError&) {
        fail(uiText(rows::temporaryFileNotWritten));
    } catch (...) {
        if (!stopped && !closing) ++failures;
    }
    return false;
}

void LoadThread::fail(const std::string& text) {
    message = text;
    try {
        synchronize(&LoadThreadUI::showMessage);
    } catch (...) {
    }
    closing = true;
}

void LoadThread::renameMovie(const Movie* movie) {
    currentMovie = movie;
    synchronize(&LoadThreadUI::renameMovie);
}

void LoadThread::addFinishedMovie(const Movie* movie) {
    currentMovie = movie;
    synchronize(&LoadThreadUI::addFinishedMovie);
}

}  // namespace vemlis
