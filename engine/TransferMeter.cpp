#include "TransferMeter.h"

#include <utility>

namespace vemlis {

namespace {

constexpr int sampleCapacity = 100;  // 10 s of samples at 100 ms
// Time left is told only once the speed was seen for this long (3 s): an estimate from the
// first tenths of a second swings by hours.
constexpr int samplesForTime = 30;

}  // namespace

TransferMeter::TransferMeter(std::function<void(bool)> sampling) : sampling(std::move(sampling)), samples(sampleCapacity) {}

void TransferMeter::started(std::int64_t length) {
    expected = length;
    count = 0;
    working = true;
    ++runs;
    if (sampling) sampling(true);
}

void TransferMeter::reached(std::int64_t bytes) { count = bytes; }

void TransferMeter::ended() {
    working = false;
    count = 0;
    ++runs;
    if (sampling) sampling(false);
}

void TransferMeter::sample() {
    const std::uint64_t run = runs.load();
    if (run != seenRun) {
        samples.clear();
        seenRun = run;
    }
    // A tick queued before the end of a transfer starts no new window.
    if (working) samples.push(count.load());
}

long double TransferMeter::kBPerSecond() const {
    // Bytes per 100 ms over the window, as kB per second.
    return static_cast<long double>(samples.top() - samples.bottom()) / (samples.size() - 1) / 102.4L;
}

TransferMeter::Figures TransferMeter::figures() const {
    Figures f;
    f.size = expected;
    f.received = working ? count.load() : 0;
    if (!current() || samples.size() < 2) return f;
    f.kBPerSecond = kBPerSecond();
    // Without a length, or past it, or standing still, there is nothing to count down.
    if (samples.size() >= samplesForTime && samples.top() > samples.bottom() && f.size > 0 && samples.top() <= f.size)
        f.secondsLeft = static_cast<std::int64_t>(static_cast<long double>((f.size - samples.top()) / 1024) / *f.kBPerSecond);
    return f;
}

}  // namespace vemlis
