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
    return "Vemlis loader part " + id + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string heading = thisBoot();
    std::string text(reinterpret_cast<const char*>(data), size);
    if (size > 0 && data[0] % 2 == 0) text = heading + text.substr(1);
    vemlis::KeptParts::Info info;
    if (!vemlis::KeptParts::parse(text, info)) return 0;
    if (info.url.empty()) std::abort();
    for (const unsigned char c : info.url + info.validator)
        if (c < 0x20 || c == 0x7f) std::abort();
    for (const vemlis::Segment& s : info.segments)
        if (s.from < 0 || s.to <= s.from || s.done < 0 || s.done > s.to - s.from || s.to > info.length) std::abort();
    return 0;
}
