#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/net/HttpClient.h"
#include "support/LimitedStack.h"

class QTimer;

namespace vemlis {

// The program's HTTP client with the figures of the transfer in progress, as texts for the
// download view: size and received in kB, speed in kB/s over the last 10 s, time left.
// Transfers run on the load thread; the timer and the getters belong to the GUI thread.
// Counts are 64-bit, so files of any size show right.
class TIdHTTPWithSpeedCounter final : public QObject, public HttpClient {
public:
    explicit TIdHTTPWithSpeedCounter(QObject* owner = nullptr);
    // Breaks off the transfer in progress (not the Qt signal disconnection).
    using HttpClient::disconnect;
    ~TIdHTTPWithSpeedCounter() override;

    std::string getSize() const;
    std::string getRecieved() const;
    std::string getSpeed() const;
    std::string getTime() const;
    // The same figures as numbers: bytes of the file received (0 when no transfer runs) and
    // the file's length (0 when unknown).
    std::int64_t getRecievedBytes() const { return workCount.load(); }
    std::int64_t getSizeBytes() const { return expectedLength.load(); }

    // Work events (load thread) and the sampling tick (GUI thread); public so that a test can
    // drive the figures without a transfer.
    void onWorkStart(std::int64_t expected) override;
    void onWork(std::int64_t count) override;
    void onWorkEnd() override;
    void onTimer();
    // Whether the figures are being sampled (only while a transfer runs).
    bool isSampling() const;

private:
    long double speedLocked() const;
    void setSampling(bool on);

    mutable std::mutex samplesLock;
    tavik::containers::LimitedStack<std::int64_t> samples;
    std::atomic<std::int64_t> workCount{0};
    std::atomic<bool> working{false};
    std::atomic<std::int64_t> expectedLength{0};  // of the transfer in progress or the last one
    QTimer* timer;
};

}  // namespace vemlis
