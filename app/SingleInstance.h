#pragma once

#include <filesystem>
#include <string>

class QWidget;

namespace vemlis {

// A lock held for the life of the process: flock on a file named after the lock in the user's
// runtime folder, or in the fallback folder (the data folder) when there is no runtime folder
// of the user's own. The kernel drops it when the process ends, however it ends.
class SingleInstance final {
public:
    explicit SingleInstance(const std::filesystem::path& fallbackFolder,
                            const std::string& name = "Vemlis_Loader_by_Tavik_1.0");
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another process holds the lock, or the lock cannot be used (see problem()).
    bool acquired() const { return held; }
    // Why the lock cannot be used at all (a link or something else at its path, no rights),
    // in words for the user; empty when it can (held, or held by another start).
    const std::string& problem() const { return trouble; }
    // The holder: brings the window to the front whenever another start calls (through a
    // socket beside the lock).
    void raiseOnCall(QWidget* window);
    // Another start: asks the holder to bring its window to the front. True when it was asked.
    bool callHolder() const;
    static std::string lockPath(const std::string& name, const std::filesystem::path& fallbackFolder);

private:
    std::string socketPath() const { return path + ".socket"; }

    std::string path;
    int fd = -1;
    int listener = -1;
    bool held = false;
    std::string trouble;
};

// SIGTERM, SIGINT and SIGHUP close the window the same way the user does.
void closeOnSignals(QWidget* window);

}  // namespace vemlis
