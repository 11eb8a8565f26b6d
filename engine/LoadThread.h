#pragma once

#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <string>

#include "engine/DownloadWindow.h"
#include "engine/net/HttpClient.h"
#include "engine/FileTransfer.h"
#include "engine/RetrySchedule.h"
#include "engine/Splitter.h"
#include "engine/disk/KeptParts.h"
#include "model/Forward.h"
#include "model/UsedNames.h"

namespace tavik::text {
class TextWindow;
}

namespace vemlis {

class GuiBridge;
class LoadThreadUI;
class HttpClient;

// The program's one worker: fetches the catalogue and merges it into the set, then, while
// started, downloads the server file of the first queued movie into temp.kq4 and splits it,
// file after file. It changes the user interface only through LoadThreadUI, each call run on
// the GUI thread while this thread waits. Created, driven and destroyed on the GUI thread.
class LoadThread final : public QThread, private SplitHandler {
public:
    // Starts the thread at once, at the lowest priority (nice 19). The merge waits for allowMerge().
    LoadThread(tavik::vemlis_loader::MoviesSet& set, HttpClient& http, LoadThreadUI& ui,
               std::string catalogueURL, std::filesystem::path dataFolder);
    ~LoadThread() override;

    // True once the thread has left its loop; the window may close then.
    bool loopEnded() const { return finished.load(); }
    // Ends the loop; breaks off a transfer in progress.
    void close();
    // Closes and waits until the thread has ended, serving its calls into the GUI meanwhile.
    // For the owner's destructor: call it while the owner can still answer those calls.
    void finish();
    // Idles after the current pass, or at once (breaking off the transfer) with abort.
    void stop(bool abort);
    // Leaves the idle state.
    void start();
    // The state file has been read: the catalogue may be merged into the set.
    void allowMerge();
    // Files that wait after a failure are tried again now (the computer woke up, the network
    // came back): their back-off is over, their count of failures stays.
    void retryNow();
    // The catalogue is loaded and merged again, between two files (never inside a transfer or
    // a split), and showNewMovies() called when that worked; a failure waits for the next look.
    void lookForNewEpisodes();
    // A movie that waited for a new name has one (or was unticked): its file, kept, is split
    // again in its turn. Any thread.
    void nameGiven();
    // A transfer in progress is started again from what it kept: after a sleep its connection
    // is most likely dead, and the stall time-out would take a minute to tell.
    void restartTransfer();
    // Whether the computer has no network (as the desktop says): files that fail meanwhile wait
    // for it without counting the failure against their back-off.
    void setOffline(bool offline) { this->offline = offline; }
    // The hours in which files may download: outside them the worker ends the file it is on
    // and then waits ("Paused until 01:00"). Any thread, at any time.
    void setDownloadWindow(DownloadWindow window);
    // The local time of day in seconds after midnight; the system's clock unless a test sets
    // one. Set before the downloads start.
    void setTimeOfDay(std::function<int()> clock) { timeOfDay = std::move(clock); }

    // What the user-interface calls read while this thread waits for them.
    const tavik::vemlis_loader::ServerFile* getCurrentFile() const { return currentFile; }
    const tavik::vemlis_loader::Movie* getCurrentMovie() const { return currentMovie; }
    const std::string& getMessage() const { return message; }
    // The movies the last merge added, in catalogue order; none when the set held no movie
    // before it (nothing is new to a state that knew nothing).
    const std::vector<const tavik::vemlis_loader::Movie*>& getAddedMovies() const { return added; }
    // The address the catalogue is fetched from, and, while askCatalogueAddress() runs, the
    // one to try next (empty: none, the run ends).
    const std::string& getCatalogueURL() const { return catalogueURL; }
    void setNextCatalogueURL(std::string url) { nextCatalogueURL = std::move(url); }
    // Why the current movie could not be saved, in the system's words (for renameMovie).
    const std::string& getSaveFailure() const { return saveFailure; }
    std::filesystem::path getTempFilePath() const { return dataFolder / "temp.kq4"; }

    // Where free space is asked for (the temporary file's folder, a movie's file); the system's
    // by default. Set before the downloads start.
    void setFreeSpace(FreeSpace::Source source) { freeSpace = FreeSpace(std::move(source)); }
    // Whether a file that comes in order has its movies written as its bytes come (the
    // default), or is kept whole in temp.kq4 and split. Set before the downloads start.
    void setWriteAsItComes(bool on) { writeAsItComes = on; }
    // Whether movies are written past the page cache where the file system takes it (the
    // default); off, they are written as on a file system that takes no direct writes.
    void setWriteDirect(bool on) { direct = on; }
    // The part files of movies that broken transfers kept for the next one: not stale.
    std::vector<std::string> getKeptMovieParts() const { return transfer.keptMovieParts(); }

    // A file set aside after a failure, while every queued file waits: for the download view.
    struct Waiting {
        std::string url;
        std::string reason;  // in plain words
        std::chrono::steady_clock::time_point due;  // max: no next try to count down to
    };
    // Read by the GUI thread; empty while a file is being fetched or nothing waits.
    std::optional<Waiting> getWaiting() const;
    // Every file set aside, each with its own reason and next try, while a pass runs.
    struct WaitingFile {
        const tavik::vemlis_loader::ServerFile* file;
        std::string reason;
        std::chrono::steady_clock::time_point due;  // max: until the user acts
    };
    std::vector<WaitingFile> getWaitingFiles() const;

    // The largest catalogue document taken.
    static constexpr std::size_t catalogueLimit = std::size_t(256) << 20;


protected:
    void run() override;

private:
    // Fetches the catalogue and merges it, from other addresses the user gives while it fails.
    void loadCatalogue();
    void reloadCatalogue();
    // What a server answered looks like a list of episodes (a portal's page does not).
    static bool isCatalogue(tavik::text::TextWindow& text);
    void merge(tavik::text::TextWindow& text);
    // Why the catalogue could not be had, in words the user can act on.
    std::string catalogueFailure(const HttpError& error) const;
    // Takes the next due file through download and split. False when nothing is queued: the
    // thread then sleeps until a request comes.
    bool processNextFile();
    // True when the download window is closed and a file waits for it; the thread then sleeps
    // until it opens (or a request comes).
    bool pausedByWindow();
    // Fetches the current file into temp.kq4, going on from what a broken transfer kept. False
    // when it failed: the file is then set aside, marked missing, or the run ends (no disk).
    bool downloadFile();
    // Cuts temp.kq4 into the current file's movies. False when the file could not be read: it
    // is then kept and set aside.
    bool splitCurrentFile();
    // Saves the current file's movies whose bytes an earlier transfer kept aside, asking as the
    // splitting does; false when there were none.
    bool saveKeptMovies();
    // The first queued file in catalogue order that is not waiting; null when none is (after
    // sleeping until the first waiting one is due, which `waited` tells).
    const tavik::vemlis_loader::ServerFile* pickNextFile(bool& waited);
    void setFileAside(const HttpError& error);
    // The file set aside with a reason of ours (not the network's).
    void setFileAside(const std::string& reason);
    // The file is not on the server: its queued movies are wrong links.
    void markMissing();
    void discardUnwantedParts();
    void setWaiting(std::optional<Waiting> now);
    // Tells the GUI thread what the schedule holds now.
    void publishSchedule();
    void fail(const std::string& text);
    void synchronize(void (LoadThreadUI::*call)());
    // Sleeps for the time given, or less when a request came since the turn began.
    void pause(std::chrono::milliseconds time);
    // The requests so far; sleeps for the time given unless another came since `seen`.
    std::uint64_t requestsSoFar();
    void pauseSince(std::uint64_t seen, std::chrono::milliseconds time);
    void wake();

    void renameMovie(const tavik::vemlis_loader::Movie* movie, const std::string& reason) override;
    void addFinishedMovie(const tavik::vemlis_loader::Movie* movie) override;
    bool stopping() const override { return closing.load(); }
    bool writeDirect() const override { return direct; }
    void claimFreeName(const tavik::vemlis_loader::Movie* movie, const std::vector<std::string>& written) override;

    tavik::vemlis_loader::MoviesSet& set;
    HttpClient& http;
    LoadThreadUI& ui;
    GuiBridge* bridge;  // owned as a child; lives on the GUI thread
    std::string catalogueURL;
    std::string nextCatalogueURL;
    const std::filesystem::path dataFolder;

    std::atomic<bool> finished{false};
    std::atomic<bool> closing{false};
    std::atomic<bool> stopped{true};
    std::atomic<bool> aborting{false};  // stop(true) not yet seen by the loop
    std::atomic<bool> retrying{false};  // retryNow() not yet seen by the loop
    std::atomic<bool> offline{false};
    std::atomic<bool> reloadWanted{false};
    std::atomic<bool> namesGiven{false};
    std::vector<const tavik::vemlis_loader::Movie*> added;
    const tavik::vemlis_loader::ServerFile* currentFile = nullptr;
    const tavik::vemlis_loader::Movie* currentMovie = nullptr;
    std::string message;
    std::string saveFailure;
    using Clock = std::chrono::steady_clock;
    RetrySchedule schedule;
    FreeSpace freeSpace;  // asked for the temporary file and every movie
    KeptParts parts;
    FileTransfer transfer;
    // Files whose server answered a range with something else: fetched whole, on one connection.
    std::unordered_set<const tavik::vemlis_loader::ServerFile*> noRanges;
    // Files with a movie that could not be written as the bytes came: fetched whole and split.
    std::unordered_set<const tavik::vemlis_loader::ServerFile*> noStream;
    bool streamed = false;  // the current file's movies were written as its bytes came
    bool writeAsItComes = true;
    bool direct = true;
    mutable std::mutex waitingLock;
    std::optional<Waiting> waiting;
    std::vector<WaitingFile> waitingFiles;
    // Files of 16 MiB or more from servers that serve ranges come over this many connections.
    static constexpr int connections = 4;
    std::mutex windowLock;
    DownloadWindow window;
    std::function<int()> timeOfDay;
    // Names held by downloaded movies, made when the current pass first needs it.
    std::unique_ptr<tavik::vemlis_loader::UsedNames> downloadedNames;

    std::mutex lock;
    std::condition_variable requests;
    bool mergeAllowed = false;
    std::uint64_t requestCount = 0;
    std::uint64_t turnStart = 0;  // requestCount when the loop's turn began; the thread's own
};

}  // namespace vemlis
