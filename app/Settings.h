#pragma once

#include <QString>

#include <cstdint>

#include "engine/DownloadWindow.h"

class QSettings;

namespace vemlis {

// What the user sets for the night, kept in the user's configuration folder (never in
// data.kq4, whose bytes other versions read).
struct Settings {
    enum class WhenDone { nothing, close, suspend, powerOff };

    int speedLimit = 0;  // KiB/s; 0: none
    bool windowOn = false;
    DownloadWindow window{60, 6 * 60};  // kept while off, for the next time it is ticked
    WhenDone whenDone = WhenDone::nothing;

    static constexpr int largestSpeedLimit = 10 * 1024 * 1024;  // KiB/s: 10 GiB/s

    std::int64_t bytesPerSecond() const { return std::int64_t(speedLimit) * 1024; }
    // All day when the window is off.
    DownloadWindow activeWindow() const { return windowOn ? window : DownloadWindow{}; }

    // What the file holds; a value that cannot be read (the file was edited by hand) is the
    // default, never a limit of nothing or a window of nonsense.
    static Settings load(QSettings& from);
    void save(QSettings& to) const;
    bool operator==(const Settings&) const = default;
};

}  // namespace vemlis
