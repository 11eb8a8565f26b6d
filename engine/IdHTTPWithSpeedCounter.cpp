#include "IdHTTPWithSpeedCounter.h"

#include <QTimer>

#include <cstdio>

namespace vemlis {

namespace {

constexpr int sampleInterval = 100;  // ms
constexpr int sampleCapacity = 100;  // 10 s of samples
// Time left is told only once the speed was seen for this long (3 s): an estimate from the
// first tenths of a second swings by hours.
constexpr int samplesForTime = 30;
constexpr std::int64_t longestTold = 24 * 3600;

}  // namespace

TIdHTTPWithSpeedCounter::TIdHTTPWithSpeedCounter(QObject* owner)
    : QObject(owner), samples(sampleCapacity), timer(new QTimer(this)) {
    timer->setInterval(sampleInterval);
    connect(timer, &QTimer::timeout, this, &TIdHTTPWithSpeedCounter::onTimer);
}

void TIdHTTPWithSpeedCounter::setSampling(bool on) {
    // The timer is the GUI thread's: switched there, in the order the transfer asked. At rest
    // it wakes nobody.
    // By the slots' names: a queued functor's holder is freed by code the thread checker cannot
    // pair with Qt's own count of it.
    QMetaObject::invokeMethod(timer, on ? "start" : "stop", Qt::QueuedConnection);
}

TIdHTTPWithSpeedCounter::~TIdHTTPWithSpeedCounter() = default;

void TIdHTTPWithSpeedCounter::onWorkStart(std::int64_t expected) {
    expectedLength = expected;
    std::lock_guard lock(samplesLock);
    samples.clear();
    working = true;
    setSampling(true);
}

void TIdHTTPWithSpeedCounter::onWork(std::int64_t count) { workCount = count; }

void TIdHTTPWithSpeedCounter::onWorkEnd() {
    working = false;
    setSampling(false);
    std::lock_guard lock(samplesLock);
    samples.clear();
    workCount = 0;
}

bool TIdHTTPWithSpeedCounter::isSampling() const { return timer->isActive(); }

void TIdHTTPWithSpeedCounter::onTimer() {
    // A tick that was queued before the end of the transfer must not start a new window.
    std::lock_guard lock(samplesLock);
    if (!working) return;
    samples.push(workCount.load());
}

std::string TIdHTTPWithSpeedCounter::getSize() const { return std::to_string(expectedLength.load() / 1024); }

std::string TIdHTTPWithSpeedCounter::getRecieved() const {
    const std::int64_t count = workCount;
    return count == 0 ? "-" : std::to_string(count / 1024);
}

long double TIdHTTPWithSpeedCounter::speedLocked() const {
    // Bytes per 100 ms over the window, as kB per second.
    return static_cast<long double>(samples.top() - samples.bottom()) / (samples.size() - 1) / 102.4L;
}

std::string TIdHTTPWithSpeedCounter::getSpeed() const {
    std::lock_guard lock(samplesLock);
    if (samples.size() < 2) return "-";
    const float v = static_cast<float>(speedLocked());
    const auto whole = static_cast<std::int64_t>(v);
    const auto tenths = static_cast<std::int64_t>(v * 10) % 10;
    return std::to_string(whole) + "." + std::to_string(tenths);
}

std::string TIdHTTPWithSpeedCounter::getTime() const {
    std::lock_guard lock(samplesLock);
    if (samples.size() < samplesForTime || samples.top() <= samples.bottom()) return "-";
    const std::int64_t total = expectedLength;
    // Without a length, or past it, there is nothing to count down.
    if (total <= 0 || samples.top() > total) return "-";
    const std::int64_t remainingKB = (total - samples.top()) / 1024;
    const auto seconds = static_cast<std::int64_t>(static_cast<long double>(remainingKB) / speedLocked());
    if (seconds > longestTold) return "\u2014";  // more than a day: no figure means anything
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>((seconds / 60) % 60), static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace vemlis
