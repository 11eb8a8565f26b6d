#include "LoadThread.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTime>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <system_error>
#include <unordered_set>

#include "engine/ErrorTexts.h"
#include "engine/GuiBridge.h"
#include "engine/net/HttpClient.h"
#include "engine/LoadThreadUI.h"
#include "engine/disk/FileIo.h"
#include "engine/net/TransferLimits.h"
#include "model/MoviesSet.h"
#include "model/UiTexts.h"
#include "support/TextWindow.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

LoadThread::LoadThread(MoviesSet& set, HttpClient& http, LoadThreadUI& ui, std::string catalogueURL,
                       std::filesystem::path dataFolder)
    : set(set), http(http), ui(ui), catalogueURL(std::move(catalogueURL)), dataFolder(std::move(dataFolder)),
      parts(this->dataFolder),
      transfer(http, parts, freeSpace) {
    // A request that comes just before a transfer starts must still break it off.
    http.setAbortCheck([this] { return closing.load() || aborting.load(); });
    bridge = new GuiBridge(this);
    QThread::start();
}

LoadThread::~LoadThread() {
    finish();
    // Pairs with the end of run(), so that thread checkers see the thread's last steps
    // happen before what is destroyed here (QThread::wait is invisible to them).
    { std::lock_guard guard(lock); }
    http.setAbortCheck(nullptr);
}

void LoadThread::finish() {
    close();
    // The thread may be waiting for a call into this thread: keep serving calls until it ends.
    while (!wait(QDeadlineTimer(20))) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
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

void LoadThread::retryNow() {
    retrying = true;
    wake();
}

void LoadThread::nameGiven() {
    namesGiven = true;
    wake();
}

void LoadThread::lookForNewEpisodes() {
    reloadWanted = true;
    wake();
}

void LoadThread::restartTransfer() {
    // Broken off like an abort but not stopped: the same file goes on at once from what it kept.
    http.disconnect();
    wake();
}

void LoadThread::setDownloadWindow(DownloadWindow now) {
    {
        std::lock_guard guard(windowLock);
        window = now;
    }
    wake();
}

bool LoadThread::pausedByWindow() {
    DownloadWindow now;
    {
        std::lock_guard guard(windowLock);
        now = window;
    }
    if (now.allDay()) return false;
    const int second = timeOfDay ? timeOfDay() : QTime::currentTime().msecsSinceStartOfDay() / 1000;
    const auto closed = now.closedFor(second);
    if (!closed) return false;
    const ServerFile* next = set.getNextQueuedFile();
    if (!next) return false;
    const QString until = QCoreApplication::translate("LoadThread", "Paused until %1")
                              .arg(QString::fromStdString(DownloadWindow::clockText(now.from)));
    setWaiting(Waiting{next->getURL(), until.toStdString(), Clock::time_point::max()});
    // Looked at again every minute at least: the clock may be set or jump (a suspend, summer time).
    pause(std::min<std::chrono::milliseconds>(std::chrono::seconds(*closed), std::chrono::minutes(1)));
    return true;
}

void LoadThread::wake() {
    {
        std::lock_guard guard(lock);
        ++requestCount;
    }
    requests.notify_all();
}

void LoadThread::pause(std::chrono::milliseconds time) { pauseSince(turnStart, time); }

std::uint64_t LoadThread::requestsSoFar() {
    std::lock_guard guard(lock);
    return requestCount;
}

void LoadThread::pauseSince(std::uint64_t seen, std::chrono::milliseconds time) {
    std::unique_lock guard(lock);
    requests.wait_for(guard, time, [&] { return requestCount != seen; });
}

void LoadThread::synchronize(void (LoadThreadUI::*call)()) {
    LoadThreadUI* target = &ui;
    bridge->call([target, call] { (target->*call)(); });
}

void LoadThread::run() {
    // The lowest priority that still gets its turn. Qt's IdlePriority is SCHED_IDLE on Linux,
    // under which the download stops whenever anything else keeps the processor busy.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    loadCatalogue();
    if (!closing) discardUnwantedParts();
    bool running = false;
    bool listShown = false;
    while (!closing) {
        // Taken before the state is looked at: a request that comes meanwhile (even while a
        // call into the window waits) cuts every sleep of this turn short.
        turnStart = requestsSoFar();
        bool again = false;  // work is due now; else the thread sleeps until a request comes
        try {
            if (reloadWanted.exchange(false)) reloadCatalogue();
            if (closing) break;
            if (stopped) {
                aborting = false;
                if (running) {
                    // Files set aside wait no longer once the user starts again, and what
                    // was kept of files no longer queued goes.
                    schedule.clear();
                    publishSchedule();
                    setWaiting(std::nullopt);
                    discardUnwantedParts();
                }
                // The window is told once, not every turn: at rest the thread makes no call.
                if (running || !listShown) synchronize(&LoadThreadUI::showListPanel);
                running = false;
                listShown = true;
            } else {
                running = true;
                listShown = false;
                synchronize(&LoadThreadUI::showQueuePanel);
                again = processNextFile();
            }
        } catch (const std::exception& error) {
            // Nothing is expected here: end the run with what happened rather than try again
            // every turn.
            if (!closing)
                fail(QCoreApplication::translate("LoadThread", "Vemlis loader stopped: %1")
                         .arg(QString::fromUtf8(error.what()))
                         .toStdString());
        }
        if (!again && !closing) pause(std::chrono::hours(24));
    }
    // What was kept of files that are still queued waits for the next run.
    discardUnwantedParts();
    finished = true;
    try {
        synchronize(&LoadThreadUI::enableCloseTimer);
    } catch (...) {
    }
    std::lock_guard guard(lock);
}

namespace {

// The list of episodes as it comes, in a file that no name leads to: a list of any size is
// read from there a window at a time instead of being held.
class CatalogueFile final : public ByteSink {
public:
    explicit CatalogueFile(const std::filesystem::path& folder) : fd(open(folder)) {
        if (fd < 0) throw std::system_error(errno, std::generic_category(), folder.string());
    }
    ~CatalogueFile() override { ::close(fd); }
    CatalogueFile(const CatalogueFile&) = delete;
    CatalogueFile& operator=(const CatalogueFile&) = delete;

    bool write(const char* data, std::size_t n) override {
        if (!vemlis::writeFully(fd, data, n)) throw std::system_error(errno, std::generic_category(), "write");
        size += n;
        return true;
    }
    tavik::text::TextWindow text() const { return tavik::text::TextWindow(fd, size); }

private:
    // Beside the state, else in the system's folder for temporary files; where neither takes
    // a file, in memory after all.
    static int open(const std::filesystem::path& folder) {
        int fd = vemlis::openUnlinkedFile(folder);
        std::error_code error;
        if (fd < 0) fd = vemlis::openUnlinkedFile(std::filesystem::temp_directory_path(error));
        return fd >= 0 ? fd : ::memfd_create("catalogue", MFD_CLOEXEC);
    }

    const int fd;
    std::size_t size = 0;
};

}  // namespace

void LoadThread::loadCatalogue() {
    for (;;) {
        try {
            CatalogueFile file(dataFolder);
            http.getText(catalogueURL, catalogueLimit, file);
            tavik::text::TextWindow text = file.text();
            // A captive portal's page or a web site's: merged, it would show empty lists.
            if (!isCatalogue(text)) {
                message = QCoreApplication::translate("LoadThread", "The answer from\n%1\nis not a list of episodes.")
                              .arg(QString::fromStdString(catalogueURL))
                              .toStdString();
            } else {
                {
                    std::unique_lock guard(lock);
                    requests.wait(guard, [&] { return mergeAllowed || closing.load(); });
                }
                if (closing) return;
                merge(text);
                synchronize(&LoadThreadUI::showMoviesSet);
                return;
            }
        } catch (const HttpError& error) {
            if (closing) return;
            message = catalogueFailure(error);
        } catch (const std::exception& error) {
            if (closing) return;
            message = uiText(rows::catalogueNotLoaded) + "\n" + catalogueURL + "\n" + error.what();
        }
        // The run ends here unless the user gives another address to try.
        nextCatalogueURL.clear();
        try {
            synchronize(&LoadThreadUI::askCatalogueAddress);
        } catch (...) {
        }
        if (closing || nextCatalogueURL.empty()) {
            closing = true;
            return;
        }
        catalogueURL = nextCatalogueURL;
    }
}

bool LoadThread::isCatalogue(tavik::text::TextWindow& text) {
    using tavik::text::TextWindow;
    return text.find("<Seasons", 0, text.size()) != TextWindow::npos ||
           text.find("<Languages", 0, text.size()) != TextWindow::npos;
}

void LoadThread::merge(tavik::text::TextWindow& text) {
    const bool wasEmpty = set.getSeasons().empty();
    added.clear();
    set.readCatalogue(text, &added);
    if (wasEmpty) added.clear();
}

void LoadThread::reloadCatalogue() {
    std::optional<CatalogueFile> file;
    try {
        file.emplace(dataFolder);
        http.getText(catalogueURL, catalogueLimit, *file);
    } catch (const std::exception& error) {
        // Nobody asked for this look: the next one comes by itself.
        qInfo("The list of episodes could not be loaded again: %s", error.what());
        return;
    }
    tavik::text::TextWindow text = file->text();
    if (!isCatalogue(text) || closing) return;
    // The window shows the set: it grows on the window's thread, while this one waits.
    bridge->call([this, &text] { merge(text); });
    synchronize(&LoadThreadUI::showNewMovies);
}

std::string LoadThread::catalogueFailure(const HttpError& error) const {
    const QString url = QString::fromStdString(catalogueURL), reason = QString::fromStdString(reasonOf(error));
    using Kind = HttpError::Kind;
    switch (error.kind) {
        case Kind::tooLarge: {
            // Not a network fault: the address names something far larger than a list of
            // episodes. Only a length over the limit refused it before its body: a compressed
            // answer's length is not the list's, which reading stopped at the limit.
            const std::int64_t announced = http.getResponseInfo().contentLength;
            const QString limit = QString::number(catalogueLimit >> 20);
            return (static_cast<std::uint64_t>(announced) > catalogueLimit
                        ? QCoreApplication::translate("LoadThread", "The list of episodes at\n%1\nis larger than %2 MB (%3 MB).")
                              .arg(url, limit, QString::number(announced >> 20))
                        : QCoreApplication::translate("LoadThread", "The list of episodes at\n%1\nis larger than %2 MB.")
                              .arg(url, limit))
                .toStdString();
        }
        case Kind::status:
            // The network works: the server answered, and a check of the network helps nobody.
            if (error.status == 404 || error.status == 410)
                return QCoreApplication::translate("LoadThread", "The server has no list of episodes at\n%1\n%2")
                    .arg(url, reason)
                    .toStdString();
            [[fallthrough]];
        case Kind::certificate:
        case Kind::redirect:
        case Kind::encoded:
            return QCoreApplication::translate("LoadThread", "The list of episodes could not be loaded from\n%1\n%2")
                .arg(url, reason)
                .toStdString();
        default: break;
    }
    // The words people know, then what failed where, so that they can act on it.
    return uiText(rows::catalogueNotLoaded) + "\n" + catalogueURL + "\n" + reasonOf(error);
}

bool LoadThread::processNextFile() {
    if (pausedByWindow()) return true;
    bool waited = false;
    currentFile = pickNextFile(waited);
    if (!currentFile) return waited;
    downloadedNames.reset();
    synchronize(&LoadThreadUI::showFileStarted);
    // Movies kept aside by an earlier transfer are saved first; the file comes for the rest.
    const bool keptFirst = saveKeptMovies();
    if (keptFirst) {
        streamed = true;
    } else {
        if (!downloadFile() || (!streamed && !splitCurrentFile())) return true;
        if (streamed) saveKeptMovies();
    }
    // Closed while a movie waited for a name: the file stays, so that the next run saves its
    // movies without fetching it again.
    if (closing) return true;
    const auto& movies = currentFile->getMovies();
    const bool queuedLeft =
        movies.end() != std::find_if(movies.begin(), movies.end(), [](const Movie* m) { return m->getLoadFlag() == Queue; });
    bool keptLeft = false;
    for (std::size_t n = 0; n < movies.size() && !keptLeft; ++n)
        keptLeft = movies[n]->getLoadFlag() == Queue && std::filesystem::exists(parts.asidePath(currentFile->getURL(), n));
    // Written as it came, a file leaves a movie queued without its bytes kept only when it was
    // queued after its bytes went by: the file comes again for it.
    if (streamed && queuedLeft && !keptLeft) return true;
    if (queuedLeft) {
        // A movie waits for its name: the whole file is kept for it, and the others go on.
        schedule.waitForUser(currentFile,
                             QCoreApplication::translate("LoadThread", "A movie of this file waits for a new name").toStdString(),
                             true);
        publishSchedule();
        synchronize(&LoadThreadUI::showFileDone);
        return true;
    }
    // Only movies saved end the file's failures: a download that worked says nothing of them.
    schedule.forget(currentFile);
    publishSchedule();
    if (!keptFirst) parts.forgetCurrent();  // else temp.kq4 may hold another file's part
    synchronize(&LoadThreadUI::showFileDone);
    return true;
}

bool LoadThread::downloadFile() {
    using Kind = FileTransfer::Outcome::Kind;
    const int count = noRanges.count(currentFile) ? 1 : connections;
    const FileTransfer::Outcome outcome = !writeAsItComes || noStream.count(currentFile)
                                              ? transfer.fetch(currentFile->getURL(), count, currentFile->getMovies().size())
                                              : transfer.fetchMovies(*currentFile, count, *this);
    if (outcome.noRanges) noRanges.insert(currentFile);
    streamed = outcome.streamed;
    switch (outcome.kind) {
        case Kind::done: return true;
        case Kind::unstreamed:
            // Fetched again at once and split whole, which asks about the movie that failed.
            noStream.insert(currentFile);
            break;
        case Kind::wrongLink: markMissing(); break;
        case Kind::diskFailed: fail(uiText(rows::temporaryFileNotWritten)); break;
        case Kind::noRoom:
            // Other files may fit, and room may be made: this one waits, with what it kept.
            setFileAside(QCoreApplication::translate("LoadThread", "Not enough free space for the temporary file: "
                                                                   "%1 MB needed, %2 MB free")
                             .arg(outcome.needed / 1048576)
                             .arg(outcome.free / 1048576)
                             .toStdString());
            break;
        case Kind::stopped: break;
        case Kind::setAside: setFileAside(*outcome.error); break;
        case Kind::startOver:
            // At once the first time, as after a change on the server; a file that changes
            // on every answer waits like any other failure.
            if (schedule.startedOver(currentFile, reasonOf(*outcome.error), Clock::now())) {
                setWaiting(Waiting{currentFile->getURL(), reasonOf(*outcome.error), schedule.find(currentFile)->due});
                publishSchedule();
            }
            break;
    }
    return false;
}

bool LoadThread::splitCurrentFile() {
    synchronize(&LoadThreadUI::showSplitPanel);
    try {
        splitFile(getTempFilePath(), *currentFile, *this, transfer.headers(), freeSpace);
        return true;
    } catch (const std::system_error& error) {
        // The file arrived whole: it is kept and split again when its turn comes, never
        // fetched again for a failure of ours. Movies not reached keep their flags.
        setFileAside(QCoreApplication::translate("LoadThread", "The downloaded file could not be read: %1")
                         .arg(QString::fromStdString(error.code().message()))
                         .toStdString());
    }
    return false;
}

bool LoadThread::saveKeptMovies() {
    const auto& movies = currentFile->getMovies();
    bool any = false;
    for (std::size_t n = 0; n < movies.size() && !closing; ++n) {
        const std::filesystem::path kept = parts.asidePath(currentFile->getURL(), n);
        std::error_code error;
        if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(kept, error))) continue;
        if (movies[n]->getLoadFlag() != Queue) {
            std::filesystem::remove(kept, error);
            continue;
        }
        if (!any) synchronize(&LoadThreadUI::showSplitPanel);
        any = true;
        try {
            if (!saveKeptMovie(kept, movies[n], *this, freeSpace)) continue;  // waits for its answer
        } catch (const std::system_error&) {
            // Unreadable: the movie stays queued, and its bytes come again.
        }
        std::filesystem::remove(kept, error);
    }
    return any;
}

const ServerFile* LoadThread::pickNextFile(bool& waited) {
    const auto now = Clock::now();
    if (retrying.exchange(false)) schedule.retryNow(now);
    if (namesGiven.exchange(false)) schedule.namesGiven(now);
    std::vector<const ServerFile*> files;
    set.getQueuedFiles(files);
    const RetrySchedule::Pick pick = schedule.pick(files, now);
    publishSchedule();
    if (pick.next || !pick.earliest) {
        setWaiting(std::nullopt);  // a pause for the download window is over too
        return pick.next;
    }
    // Every queued file waits: sleep until the first is due, or a request comes.
    setWaiting(Waiting{pick.earliest->getURL(), pick.wait->reason, pick.wait->due});
    // A file that waits for the user leaves the thread asleep until a request.
    const auto wait = pick.wait->due == RetrySchedule::never ? std::chrono::hours(1) : pick.wait->due - now;
    pause(std::chrono::duration_cast<std::chrono::milliseconds>(wait) + std::chrono::milliseconds(1));
    waited = true;
    return nullptr;
}

void LoadThread::setFileAside(const HttpError& error) {
    if (error.kind == HttpError::Kind::certificate) {
        // Trying again changes nothing until someone mends the certificate or trusts it: the
        // file waits until the user starts the download again.
        schedule.waitForUser(currentFile, reasonOf(error));
    } else if (offline) {
        // Not the server's fault nor the file's: it waits for the network, which retryNow() ends.
        schedule.waitForNetwork(currentFile, QCoreApplication::translate("LoadThread", "Waiting for the network").toStdString(),
                                Clock::now());
    } else {
        schedule.failed(currentFile, reasonOf(error), Clock::now(), error.retryAfter);
    }
    const RetrySchedule::Entry* entry = schedule.find(currentFile);
    setWaiting(Waiting{currentFile->getURL(), entry->reason, entry->due});
    publishSchedule();
}

void LoadThread::setFileAside(const std::string& reason) {
    schedule.failed(currentFile, reason, Clock::now());
    setWaiting(Waiting{currentFile->getURL(), reason, schedule.find(currentFile)->due});
    publishSchedule();
}

void LoadThread::markMissing() {
    schedule.forget(currentFile);
    publishSchedule();
    for (const Movie* movie : currentFile->getMovies())
        if (movie->getLoadFlag() == Queue) {
            movie->setBroken();
            addFinishedMovie(movie);
        }
    synchronize(&LoadThreadUI::showFileDone);
}

void LoadThread::discardUnwantedParts() {
    std::vector<const ServerFile*> files;
    set.getQueuedFiles(files);
    std::unordered_set<std::string_view> wanted;
    for (const ServerFile* file : files) wanted.insert(file->getURLView());
    parts.discardUnwanted([&](const std::string& url) { return wanted.count(url) > 0; });
    std::vector<std::filesystem::path> kept;
    for (const ServerFile* file : files)
        for (std::size_t n = 0; n < file->getMovies().size(); ++n)
            if (file->getMovies()[n]->getLoadFlag() == Queue) kept.push_back(parts.asidePath(file->getURL(), n));
    parts.discardAsides(kept);
    transfer.dropResumes([&](const std::string& url) { return wanted.count(url) > 0; });
}

void LoadThread::setWaiting(std::optional<Waiting> now) {
    std::lock_guard guard(waitingLock);
    waiting = std::move(now);
}

void LoadThread::publishSchedule() {
    std::vector<WaitingFile> now;
    for (const auto& [file, entry] : schedule.entries())
        if (entry.due != RetrySchedule::Time{}) now.push_back({file, entry.reason, entry.due});
    std::lock_guard guard(waitingLock);
    waitingFiles = std::move(now);
}

std::vector<LoadThread::WaitingFile> LoadThread::getWaitingFiles() const {
    std::lock_guard guard(waitingLock);
    return waitingFiles;
}

std::optional<LoadThread::Waiting> LoadThread::getWaiting() const {
    std::lock_guard guard(waitingLock);
    return waiting;
}

void LoadThread::claimFreeName(const Movie* movie, const std::vector<std::string>& written) {
    // Only the GUI thread changes names once the lists may show them; the set is read here,
    // which is safe while a pass runs (the user changes nothing then).
    if (!downloadedNames) downloadedNames = std::make_unique<UsedNames>(set, false);
    const std::string name = downloadedNames->freeName(movie->getFileName(), movie, written);
    if (name != movie->getFileName()) bridge->call([movie, &name] { movie->queue(name); });
}

void LoadThread::fail(const std::string& text) {
    message = text;
    try {
        synchronize(&LoadThreadUI::showMessage);
    } catch (...) {
    }
    closing = true;
}

void LoadThread::renameMovie(const Movie* movie, const std::string& reason) {
    currentMovie = movie;
    saveFailure = reason;
    synchronize(&LoadThreadUI::renameMovie);
}

void LoadThread::addFinishedMovie(const Movie* movie) {
    currentMovie = movie;
    synchronize(&LoadThreadUI::addFinishedMovie);
}

}  // namespace vemlis
