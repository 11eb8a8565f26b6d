#include "support/TextSearch.h"

#include <algorithm>
#include <cstring>

#include "support/TextSearchLoop.h"

namespace tavik::text {

namespace detail {

#if defined(__x86_64__)
std::size_t findAvx2(const char* s, std::size_t n, const char* p, std::size_t k, std::size_t& i, std::size_t npos);

namespace {
const bool hasAvx2 = __builtin_cpu_supports("avx2");
}
#endif

std::size_t findTextFar(std::string_view text, std::string_view pattern, std::size_t from) {
    const std::size_t n = text.size();
    const std::size_t k = pattern.size();
    constexpr std::size_t npos = std::string_view::npos;
    if (from > n || k > n - from) return npos;
    if (k == 0) return from;
    const char* s = text.data();
    if (k == 1) {
        const void* hit = std::memchr(s + from, pattern[0], n - from);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s) : npos;
    }
    std::size_t i = from;
#if defined(__x86_64__)
    if (hasAvx2)
        if (const std::size_t hit = findAvx2(s, n, pattern.data(), k, i, npos); hit != npos) return hit;
#endif
#if defined(__SSE2__)
    if (const std::size_t hit = findVectors<Sse2>(s, n, pattern.data(), k, i, npos); hit != npos) return hit;
#endif
    for (; i + k <= n; ++i)
        if (s[i] == pattern[0] && std::memcmp(s + i, pattern.data(), k) == 0) return i;
    return npos;
}

}  // namespace detail

std::string oneLine(std::string_view text) {
    std::string result(text);
    std::replace_if(result.begin(), result.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return result;
}

}  // namespace tavik::text
