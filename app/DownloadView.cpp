#include "DownloadView.h"

#include <QCoreApplication>
#include <QLabel>

#include <cstdio>

namespace vemlis {

namespace {

constexpr std::int64_t longestTold = 24 * 3600;

// Each label is set once a tick: a text that flips and flips back is repainted and told to
// screen readers five times a second.
void set(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

QString qt(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

std::string DownloadView::sizeText(const TransferMeter::Figures& f) { return std::to_string(f.size / 1024); }

std::string DownloadView::receivedText(const TransferMeter::Figures& f) {
    return f.received == 0 ? "-" : std::to_string(f.received / 1024);
}

std::string DownloadView::speedText(const TransferMeter::Figures& f) {
    if (!f.kBPerSecond) return "-";
    const float v = static_cast<float>(*f.kBPerSecond);
    const auto whole = static_cast<std::int64_t>(v);
    const auto tenths = static_cast<std::int64_t>(v * 10) % 10;
    return std::to_string(whole) + "." + std::to_string(tenths);
}

std::string DownloadView::timeText(const TransferMeter::Figures& f) {
    if (!f.secondsLeft) return "-";
    const std::int64_t seconds = *f.secondsLeft;
    if (seconds > longestTold) return "\u2014";  // more than a day: no figure means anything
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>((seconds / 60) % 60), static_cast<long long>(seconds % 60));
    return text;
}

void DownloadView::showWaiting(const QString& url, const QString& reason) {
    set(labels.url, url);
    for (QLabel* label : {labels.size, labels.recieved, labels.speed, labels.time}) set(label, "-");
    set(labels.waitingReason, reason);
    lastArrival = std::chrono::steady_clock::now();  // the next transfer's silence counts from its start
}

void DownloadView::showTransfer(const TransferMeter::Figures& f, bool done, bool moving) {
    const auto now = std::chrono::steady_clock::now();
    if (f.received != lastReceived || done || moving) {
        lastReceived = f.received;
        lastArrival = now;
    }
    const auto silent = std::chrono::duration_cast<std::chrono::seconds>(now - lastArrival);
    set(labels.waitingReason, silent >= quietTold
                                  ? QCoreApplication::translate("vemlis::Twindow", "Nothing received for %1 s").arg(silent.count())
                                  : QString("-"));
    set(labels.size, done ? QString("-") : qt(sizeText(f)));
    set(labels.recieved, qt(receivedText(f)));
    set(labels.speed, qt(speedText(f)));
    set(labels.time, qt(timeText(f)));
}

}  // namespace vemlis
