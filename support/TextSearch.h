#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "support/TextSearchLoop.h"
#if defined(__SSE2__)
#include "support/TextSearchSse2.h"
#endif

// Byte-string searches at memory speed, shared by the catalogue reader and the download's
// header scan.
namespace tavik::text {

namespace detail {
// findText's search for what lies beyond the first few bytes.
std::size_t findTextFar(std::string_view text, std::string_view pattern, std::size_t from);
}  // namespace detail

// text.find(pattern, from), faster: markers such as "<" or "RIFF" begin with characters that
// are everywhere, which makes a first-character search crawl. Most markers a reader looks for
// stand a few bytes on, so the first 16 places are compared here at once before a longer
// search is set up.
inline std::size_t findText(std::string_view text, std::string_view pattern, std::size_t from = 0) {
    const std::size_t n = text.size();
    const std::size_t k = pattern.size();
    if (from > n || k > n - from) return std::string_view::npos;
    if (k == 0) return from;
    const char* s = text.data();
    const char* p = pattern.data();
#if defined(__SSE2__)
    if (n - from >= k - 1 + detail::Sse2::width) {
        using W = detail::Sse2;
        for (unsigned mask = W::mask(s + from, s + from + k - 1, W::splat(p[0]), W::splat(p[k - 1])); mask;
             mask &= mask - 1) {
            const std::size_t i = from + static_cast<unsigned>(__builtin_ctz(mask));
            if (k < 3 || sameBytes(s + i + 1, p + 1, k - 2)) return i;
        }
        return detail::findTextFar(text, pattern, from + W::width);
    }
#endif
    for (std::size_t i = from; i + k <= n; ++i)
        if (s[i] == p[0] && s[i + k - 1] == p[k - 1] && (k < 3 || sameBytes(s + i + 1, p + 1, k - 2))) return i;
    return std::string_view::npos;
}

// True when the text holds a CR or an LF.
inline bool hasLineBreak(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
#if defined(__SSE2__)
    for (; n >= detail::Sse2::width; p += detail::Sse2::width, n -= detail::Sse2::width)
        if (detail::Sse2::lineBreaks(p)) return true;
#endif
    for (; n > 0; ++p, --n)
        if (*p == '\n' || *p == '\r') return true;
    return false;
}

// Where the first of a few bytes is in the text from `from` on, or npos.
template <std::size_t N>
std::size_t findFirstOf(std::string_view text, std::size_t from, const char (&bytes)[N]) {
    const char* s = text.data();
    const std::size_t n = text.size();
    std::size_t i = from;
#if defined(__SSE2__)
    for (; i + detail::Sse2::width <= n; i += detail::Sse2::width)
        if (const unsigned mask = detail::Sse2::anyOf(s + i, bytes)) return i + static_cast<unsigned>(__builtin_ctz(mask));
#endif
    for (; i < n; ++i)
        for (const char byte : bytes)
            if (s[i] == byte) return i;
    return std::string_view::npos;
}

// The text as one line: every CR and LF becomes a blank.
std::string oneLine(std::string_view text);
// The same without copying: the text itself when it has no line break, else `scratch` filled.
inline std::string_view oneLine(std::string_view text, std::string& scratch) {
    if (!hasLineBreak(text)) return text;
    scratch = oneLine(text);
    return scratch;
}

}  // namespace tavik::text
