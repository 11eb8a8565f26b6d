#pragma once

#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/Forward.h"

namespace vemlis {

// When each file that failed is tried again, and why it waits: a back-off after failures, as
// long as a server asks, until the network is back, or until the user acts (a certificate to
// trust, a name to give). Pure: every answer is for the time it is given, so that tests need
// no clock but their own.
class RetrySchedule final {
public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;
    using File = const tavik::vemlis_loader::ServerFile*;
    static constexpr Time never = Time::max();  // waits for the user

    // After this many failures in a row: 1 s, doubling up to a minute.
    static std::chrono::milliseconds backOff(int failures);

    // The transfer failed: backed off, or as long as the server asked (`retryAfter` seconds, up
    // to ten minutes) when that is longer.
    void failed(File file, std::string reason, Time now, int retryAfter = -1);
    // Failed while the desktop says there is no network: not the file's fault, so no back-off;
    // a minute at most, should nobody say that the network is back.
    void waitForNetwork(File file, std::string reason, Time now);
    // Trying again changes nothing until the user acts: an untrusted certificate (until the
    // download is started again) or a movie that needs a name (until namesGiven()).
    void waitForUser(File file, std::string reason, bool forName = false);
    // The file was fetched whole again, what was kept being another version: at once the first
    // time; a file that changes on every answer waits like a failure. True when it waits.
    bool startedOver(File file, std::string reason, Time now);
    // Done with the file (its movies saved or found missing): its failures are forgotten.
    void forget(File file) { files.erase(file); }
    void clear() { files.clear(); }
    // The computer woke, the network came back: every back-off ends now; waits for the user stay.
    void retryNow(Time now);
    // The user gave the names asked for: the files kept for them are split again.
    void namesGiven(Time now);

    struct Entry {
        int failures = 0;
        int restarts = 0;
        Time due{};
        std::string reason;
        bool forName = false;
    };
    // The first of `queued` (in their order) that does not wait at `now`, or null; then
    // `earliest` is the queued file that is due first (null when none waits).
    struct Pick {
        File next = nullptr;
        File earliest = nullptr;
        const Entry* wait = nullptr;  // the earliest's
    };
    Pick pick(const std::vector<File>& queued, Time now) const;
    const Entry* find(File file) const;
    const std::unordered_map<File, Entry>& entries() const { return files; }
    // Whether a wait until `due` is worth keeping the computer awake for: work due in less than
    // a minute, counted in whole seconds as the view tells it (a server's "60" is a minute).
    static bool keepsAwake(Time due, Time now) {
        return due != never && std::chrono::ceil<std::chrono::seconds>(due - now) < std::chrono::minutes(1);
    }

private:
    std::unordered_map<File, Entry> files;
};

}  // namespace vemlis
