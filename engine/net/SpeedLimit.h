#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace vemlis {

// One budget of bytes per second for every connection of a client: a token bucket that the
// write callbacks draw from, on the thread that runs the transfer. A callback that overdraws it
// sleeps until the budget is paid back, which leaves the socket unread so that TCP slows the
// server down; connections that share the thread share the wait, so the sum keeps the limit
// however many run.
class SpeedLimit final {
public:
    // Bytes per second; 0 for none. Any thread, at any time: a transfer follows within 50 ms.
    void set(std::int64_t bytesPerSecond) { rate.store(bytesPerSecond > 0 ? bytesPerSecond : 0); }
    std::int64_t get() const { return rate.load(); }
    // Counts bytes that arrived and waits until the budget covers them, looking at `stop`
    // every 50 ms. False when `stop` said so: the transfer should end now, not drain what the
    // kernel holds.
    bool take(std::size_t bytes, const std::function<bool()>& stop);
    // What libcurl should hand over at most at once under this limit: small enough that one
    // callback never sleeps long.
    long receiveBuffer(long unlimited) const;
    // The socket's receive buffer under this limit (0: the system's, which grows to megabytes
    // and would take them in at full speed behind the limit's back).
    int socketBuffer() const;
    // The socket's receive buffer once the limit is lifted: as large as the system lets a
    // program set it (its own growth cannot come back once a size was set).
    static constexpr int unlimitedSocketBuffer = 16 << 20;

private:
    using Clock = std::chrono::steady_clock;
    std::atomic<std::int64_t> rate{0};
    std::int64_t seen = 0;  // the rate the budget was kept for
    double budget = 0;      // bytes that may still arrive now; below 0, owed
    Clock::time_point last;
};

}  // namespace vemlis
