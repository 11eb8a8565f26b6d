#pragma once

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class QTimer;

namespace vemlis {

// Owns data.kq4: reads it once at start, and keeps it up to date: soon after the user changes
// what is queued or named, at once after
// each finished pass, and at close. The state is turned into text on the GUI thread (the only
// one that changes names, and it reads flags whole); the file is written on a thread of its own,
// so a slow disk never holds up the window. A failed write leaves the previous file as it was
// and is told once (again only after a write has worked in between).
class StateSaver final : public QObject {
public:
    using Serializer = std::function<std::string()>;
    using Reporter = std::function<void(const std::string& message)>;

    StateSaver(std::filesystem::path path, Serializer serialize, Reporter report, QObject* parent = nullptr);
    ~StateSaver() override;  // waits for a write in progress

    // The file's bytes as the last run left them; empty when there is none, or when the path
    // holds something that is not a regular file (a pipe, a device), which is never waited on:
    // then `problem` says why, in the user's words.
    std::string read(std::string& problem) const;
    // Keeps a copy of these bytes at data.kq4.damaged before anything replaces the file: they
    // did not read back whole, and what could not be read would be lost at the next save. A
    // link at that name is replaced, never followed.
    void keepDamaged(const std::string& bytes) const;
    // Saves within the delay (5 s), once for a burst of changes.
    void saveSoon();
    // Takes the state now and writes it in the background.
    void saveNow();
    // Takes the state now and writes it on this thread, after a write in progress. True when it
    // reached the disk.
    bool saveAndWait();
    void setDelay(std::chrono::milliseconds delay);
    // Tells the user now when the file cannot be written at all.
    void checkWritable();
    // Removes the new files that writes cut short by a kill left beside the state file (and
    // its damaged copy). Only before the first save.
    void removeUnfinishedWrites() const;

    // The message for a failed write to the path with the system's reason.
    static std::string failureText(const std::filesystem::path& path, const std::string& reason);

private:
    void writeLoop();
    void finished(const std::string& reason);

    const std::filesystem::path path;
    const Serializer serialize;
    const Reporter report;
    QTimer* timer;
    std::string toldReason;  // the failure the user was told of last

    std::mutex lock;
    std::condition_variable wake;
    std::optional<std::string> pending;  // the newest state not yet handed to the disk
    bool writing = false;
    bool stopping = false;
    std::thread writer;
};

}  // namespace vemlis
