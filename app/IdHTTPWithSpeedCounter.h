#pragma once

#include <QObject>

#include <cstdint>
#include <string>

#include "engine/TransferMeter.h"
#include "engine/net/HttpClient.h"

class QTimer;

namespace vemlis {

// The program's HTTP client with the figures of the transfer in progress, as texts for the
// download view: size and received in kB, speed in kB/s over the last 10 s, time left.
// Transfers run on the load thread and report to the meter; the timer that samples it and the
// getters belong to the GUI thread. Counts are 64-bit, so files of any size show right.
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
    // The same figures as numbers.
    TransferMeter::Figures getFigures() const { return meter.figures(); }

    // What the transfers report to, and the sampling tick; public so that a test can drive the
    // figures without a transfer.
    TransferMeter& getMeter() { return meter; }
    void onTimer() { meter.sample(); }
    // Whether the figures are being sampled (only while a transfer runs).
    bool isSampling() const;

private:
    QTimer* timer;
    TransferMeter meter;
};

}  // namespace vemlis
