#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/DownloadWindow.h"
#include "model/FollowRule.h"

class QSettings;
class QVariant;

namespace vemlis {

// What the user sets for the night, kept in the user's configuration folder (never in
// data.kq4, whose bytes other versions read).
struct Settings {
    enum class WhenDone { nothing, close, suspend, powerOff };

    int speedLimit = 0;  // KiB/s; 0: none
    bool windowOn = false;
    DownloadWindow window{60, 6 * 60};  // kept while off, for the next time it is ticked
    WhenDone whenDone = WhenDone::nothing;
    // The address of the list of episodes ([Catalogue] Url); empty: the one the program was
    // built with. Read through the system's file, written to the user's only when changed.
    QString catalogue;
    // Groups whose new movies are queued by themselves, looked for at start, every so many
    // hours (0: only at start) and when the network comes back.
    std::vector<tavik::vemlis_loader::FollowRule> follow;
    int lookEveryHours = 6;
    bool fetchNewByThemselves = true;  // start the download when a rule queued movies
    bool keepInTray = false;  // closing the window leaves the program running in the tray
    // Whether the desktop starts the program at login: its autostart file, never this file.
    bool startAtLogin = false;

    static constexpr int largestSpeedLimit = 10 * 1024 * 1024;  // KiB/s: 10 GiB/s
    static constexpr int longestLook = 24 * 7;                    // hours between looks: a week

    std::int64_t bytesPerSecond() const { return std::int64_t(speedLimit) * 1024; }
    // All day when the window is off.
    DownloadWindow activeWindow() const { return windowOn ? window : DownloadWindow{}; }

    // What the file holds; a value that cannot be read (the file was edited by hand) is the
    // default, never a limit of nothing or a window of nonsense.
    static Settings load(QSettings& from);
    void save(QSettings& to) const;
    bool operator==(const Settings&) const = default;
};

// The user's configuration, ~/.config/Vemlis loader/Vemlis loader.conf, which reads through to
// the system's ($XDG_CONFIG_DIRS, /etc/xdg/Vemlis loader/Vemlis loader.conf) for what it does
// not set. The .ini that earlier versions wrote is taken over once and removed.
std::unique_ptr<QSettings> userSettings();

// A yes or no as people write it: no, off, false and 0 are off; yes, on, true and 1 are on
// (any case); anything else is the fallback.
bool readSwitch(const QVariant& value, bool fallback);

}  // namespace vemlis
