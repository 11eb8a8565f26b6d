// The header index over random bytes handed over in random pieces finds exactly what a plain
// scan of the whole input finds, up to its limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/AviHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t limit = data[0] % 8 + 1;
    const std::size_t piece = data[1] % 23 + 1;
    data += 2;
    size -= 2;
    const char* bytes = reinterpret_cast<const char*>(data);
    std::vector<std::int64_t> expected;
    for (std::size_t i = 0; i + vemlis::aviHeaderLength <= size && expected.size() < limit; ++i)
        if (vemlis::isAviHeader(bytes + i) &&
            (expected.empty() || static_cast<std::int64_t>(i) >= expected.back() + std::int64_t(vemlis::aviHeaderLength)))
            expected.push_back(static_cast<std::int64_t>(i));
    vemlis::HeaderIndex index(limit);
    for (std::size_t at = 0; at < size; at += piece) index.feed(bytes + at, std::min(piece, size - at));
    if (index.getHeaders() != expected) std::abort();
    return 0;
}
