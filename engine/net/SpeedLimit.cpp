#include "SpeedLimit.h"

#include <algorithm>
#include <thread>

#include "engine/net/TransferLimits.h"

namespace vemlis {

bool SpeedLimit::take(std::size_t bytes, const std::function<bool()>& stop) {
    const std::int64_t now = rate.load();
    if (now <= 0) {
        seen = 0;
        return !(stop && stop());
    }
    const auto refill = [&] {
        const auto at = Clock::now();
        // A tenth of a second's worth may come at once after a quiet spell, no more.
        budget = std::min(budget + std::chrono::duration<double>(at - last).count() * static_cast<double>(now),
                          static_cast<double>(now) / 10);
        last = at;
    };
    if (now != seen) {
        seen = now;
        budget = 0;
        last = Clock::now();
    }
    refill();
    budget -= static_cast<double>(bytes);
    while (budget < 0 && rate.load() == now) {
        if (stop && stop()) return false;
        const auto owed = std::chrono::duration<double>(-budget / static_cast<double>(now));
        std::this_thread::sleep_for(std::min<std::chrono::duration<double>>(owed, limits::abortCheck));
        refill();
    }
    return !(stop && stop());
}

long SpeedLimit::receiveBuffer(long unlimited) const {
    const std::int64_t now = rate.load();
    if (now <= 0) return unlimited;
    // A sixteenth of a second's worth, within libcurl's bounds: one callback's bytes never make
    // a second's share noticeably larger, however low the limit.
    return static_cast<long>(std::clamp<std::int64_t>(now / 16, 1024, unlimited));
}

int SpeedLimit::socketBuffer() const {
    const std::int64_t now = rate.load();
    if (now <= 0) return 0;
    // A quarter of a second's worth: what the kernel takes in while the callbacks wait, which
    // the kernel doubles; a few KiB at least, for a window the connection can work with.
    return static_cast<int>(std::clamp<std::int64_t>(now / 4, 4 * 1024, 16 << 20));
}

}  // namespace vemlis
