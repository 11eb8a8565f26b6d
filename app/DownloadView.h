#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/TransferMeter.h"

class QLabel;

namespace vemlis {

// The figures of the download in progress in the window's labels: size and received in kB,
// speed in kB/s over the last 10 s and time left; while a file waits, why and until when;
// and a transfer that receives nothing for a while says so, long before its stall time-out.
class DownloadView {
public:
    struct Labels {
        QLabel* url;
        QLabel* size;
        QLabel* recieved;
        QLabel* speed;
        QLabel* time;
        QLabel* waitingReason;
    };
    explicit DownloadView(const Labels& labels) : labels(labels) {}

    // Where speed and time left would be: why the file waits. The last transfer's figures
    // belong to another file, or to an attempt that failed.
    void showWaiting(const QString& url, const QString& reason);
    // `done`: the queue is done, and the size is no longer the current file's; `moving`: bytes
    // need not come (a split runs).
    void showTransfer(const TransferMeter::Figures& figures, bool done, bool moving);

    static std::string sizeText(const TransferMeter::Figures& figures);
    static std::string receivedText(const TransferMeter::Figures& figures);
    static std::string speedText(const TransferMeter::Figures& figures);
    static std::string timeText(const TransferMeter::Figures& figures);

    static constexpr std::chrono::seconds quietTold{3};

private:
    const Labels labels;
    std::int64_t lastReceived = -1;
    std::chrono::steady_clock::time_point lastArrival{};
};

}  // namespace vemlis
