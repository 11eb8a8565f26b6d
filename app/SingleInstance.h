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

    // False when another process holds the lock.
    bool acquired() const { return held; }
    static std::string lockPath(const std::string& name, const std::filesystem::path& fallbackFolder);

private:
    int fd = -1;
    bool held = false;
};

// SIGTERM, SIGINT and SIGHUP close the window the same way the user does.
void closeOnSignals(QWidget* window);

}  // namespace vemlis
