// A side file beside temp.kq4 as anyone may have left it: taken only when it is sound. The
// fuzzer's bytes follow the heading of this boot half of the time, so that they reach the
// numbers; a number from outside that would overflow a sum stops the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/disk/KeptParts.h"

namespace {

std::string thisBoot() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id + "\n";
}

// The same bytes as the note of a file written as it came.
void checkStreamNote(const std::string& text) {
    std::string url;
    vemlis::StreamResume point;
    if (!vemlis::KeptParts::parseStream(text, url, point)) return;
    if (url.empty() || point.from <= 0 || point.from > point.length) std::abort();
    for (std::size_t i = 0; i < point.headers.size(); ++i)
        if (point.headers[i] < 0 || point.headers[i] >= point.from || (i > 0 && point.headers[i] <= point.headers[i - 1]))
            std::abort();
    if (!point.partName.empty() && point.partMovie >= point.headers.size()) std::abort();
}

// The same bytes as the note of a file whose movies came in segments.
void checkSegmentNote(const std::string& text) {
    std::string url;
    vemlis::SegmentResume point;
    if (!vemlis::KeptParts::parseSegments(text, url, point)) return;
    if (url.empty() || point.length <= 0 || point.headers.empty() || point.segments.empty()) std::abort();
    for (std::size_t i = 0; i < point.headers.size(); ++i)
        if (point.headers[i] < 0 || point.headers[i] >= point.length || (i > 0 && point.headers[i] <= point.headers[i - 1]))
            std::abort();
    for (const vemlis::Segment& s : point.segments)
        if (s.from < 0 || s.to <= s.from || s.done < 0 || s.done > s.to - s.from || s.to > point.length) std::abort();
    for (std::size_t i = 0; i < point.parts.size(); ++i) {
        if (point.parts[i].first >= point.headers.size() || point.parts[i].second.empty()) std::abort();
        for (std::size_t j = 0; j < i; ++j)
            if (point.parts[j].first == point.parts[i].first) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string boot = thisBoot();
    std::string text(reinterpret_cast<const char*>(data), size);
    if (size > 0 && data[0] % 4 == 1) checkStreamNote("Vemlis loader stream " + boot + text.substr(1));
    if (size > 0 && data[0] % 4 == 3) checkSegmentNote("Vemlis loader movies " + boot + text.substr(1));
    if (size > 0 && data[0] % 2 == 0) text = "Vemlis loader part " + boot + text.substr(1);
    vemlis::KeptParts::Info info;
    if (!vemlis::KeptParts::parse(text, info)) return 0;
    if (info.url.empty()) std::abort();
    for (const unsigned char c : info.url + info.validator)
        if (c < 0x20 || c == 0x7f) std::abort();
    for (const vemlis::Segment& s : info.segments)
        if (s.from < 0 || s.to <= s.from || s.done < 0 || s.done > s.to - s.from || s.to > info.length) std::abort();
    return 0;
}
