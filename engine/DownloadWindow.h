#pragma once

#include <optional>
#include <string>

namespace vemlis {

// The hours of the day in which files may download, in local time: from `from` until `to`, in
// minutes after midnight; over midnight when `to` comes first (22:00 to 06:00). Equal: all day.
struct DownloadWindow {
    int from = 0;
    int to = 0;

    bool allDay() const { return from == to; }
    // Seconds from `second` (after midnight) until the window opens; none while it is open.
    std::optional<int> closedFor(int second) const {
        if (allDay()) return std::nullopt;
        const int minute = second / 60;
        const bool open = from < to ? minute >= from && minute < to : minute >= from || minute < to;
        if (open) return std::nullopt;
        constexpr int day = 24 * 3600;
        return ((from * 60 - second) % day + day) % day;
    }
    // "01:00"
    static std::string clockText(int minute) {
        const int h = minute / 60 % 24, m = minute % 60;
        return std::string{char('0' + h / 10), char('0' + h % 10), ':', char('0' + m / 10), char('0' + m % 10)};
    }
};

}  // namespace vemlis
