// A side file beside temp.kq4 as anyone may have left it: taken only when it is sound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/disk/KeptParts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vemlis::KeptParts::Info info;
    if (!vemlis::KeptParts::parse(std::string(reinterpret_cast<const char*>(data), size), info)) return 0;
    if (info.url.empty()) std::abort();
    for (const unsigned char c : info.url + info.validator)
        if (c < 0x20 || c == 0x7f) std::abort();
    for (const vemlis::Segment& s : info.segments)
        if (s.from < 0 || s.to <= s.from || s.done < 0 || s.from + s.done > s.to || s.to > info.length) std::abort();
    return 0;
}
