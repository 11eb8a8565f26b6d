#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "engine/net/HttpClient.h"
#include "support/LimitedStack.h"

namespace vemlis {

// The figures of the transfer in progress. The transfer reports on its thread and only stores
// atomics; another thread samples them every 100 ms and owns the samples, so neither waits.
class TransferMeter final : public TransferObserver {
public:
    struct Figures {
        std::int64_t size = 0;      // the file's length (0: unknown); the last transfer's when none runs
        std::int64_t received = 0;  // bytes of the file reached; 0 when no transfer runs
        std::optional<long double> kBPerSecond;   // over the last 10 s, from the second sample on
        std::optional<std::int64_t> secondsLeft;  // after 3 s of samples, while under a known length
    };

    // `sampling` is told, on the transfer's thread, when samples are wanted and when no more.
    explicit TransferMeter(std::function<void(bool)> sampling = {});

    void started(std::int64_t expected) override;
    void reached(std::int64_t count) override;
    void ended() override;

    // The sampling thread's.
    void sample();
    Figures figures() const;

private:
    long double kBPerSecond() const;
    bool current() const { return working.load() && seenRun == runs.load(); }

    const std::function<void(bool)> sampling;
    std::atomic<std::int64_t> count{0};
    std::atomic<std::int64_t> expected{0};
    std::atomic<bool> working{false};
    std::atomic<std::uint64_t> runs{0};  // a new number with every start and end
    // The sampling thread's own.
    tavik::containers::LimitedStack<std::int64_t> samples;
    std::uint64_t seenRun = 0;
};

}  // namespace vemlis
