#include "engine/RetrySchedule.h"

#include <algorithm>

#include "engine/net/TransferLimits.h"

namespace vemlis {

std::chrono::milliseconds RetrySchedule::backOff(int failures) {
    if (failures <= 0) return std::chrono::milliseconds(0);
    const int shift = std::min(failures - 1, 6);
    return std::min(std::chrono::milliseconds(1000 << shift), std::chrono::milliseconds(60000));
}

void RetrySchedule::failed(File file, std::string reason, Time now, int retryAfter) {
    Entry& entry = files[file];
    ++entry.failures;
    entry.due = now + backOff(entry.failures);
    // A server that says how long to wait is believed, up to ten minutes.
    if (retryAfter >= 0)
        entry.due = std::max(entry.due, now + std::chrono::seconds(std::min(retryAfter, limits::retryAfterBelieved)));
    entry.reason = std::move(reason);
    entry.forName = false;
}

void RetrySchedule::waitForNetwork(File file, std::string reason, Time now) {
    Entry& entry = files[file];
    entry.due = now + std::chrono::minutes(1);
    entry.reason = std::move(reason);
    entry.forName = false;
}

void RetrySchedule::waitForUser(File file, std::string reason, bool forName) {
    Entry& entry = files[file];
    entry.due = never;
    entry.reason = std::move(reason);
    entry.forName = forName;
}

bool RetrySchedule::startedOver(File file, std::string reason, Time now) {
    if (++files[file].restarts <= 1) return false;
    failed(file, std::move(reason), now);
    return true;
}

void RetrySchedule::retryNow(Time now) {
    for (auto& [file, entry] : files)
        if (entry.due != never) entry.due = std::min(entry.due, now);
}

void RetrySchedule::namesGiven(Time now) {
    for (auto& [file, entry] : files)
        if (entry.forName) entry.due = now, entry.forName = false;
}

RetrySchedule::Pick RetrySchedule::pick(const std::vector<File>& queued, Time now) const {
    Pick result;
    for (File file : queued) {
        const Entry* entry = find(file);
        if (!entry || entry->due <= now) {
            result.next = file;
            return result;
        }
        if (!result.wait || entry->due < result.wait->due) {
            result.earliest = file;
            result.wait = entry;
        }
    }
    return result;
}

const RetrySchedule::Entry* RetrySchedule::find(File file) const {
    const auto it = files.find(file);
    return it == files.end() ? nullptr : &it->second;
}

}  // namespace vemlis
