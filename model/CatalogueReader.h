#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tavik::vemlis_loader {

// A search position in a text: an index, or unset.
using ScanPosition = std::optional<std::size_t>;


namespace detail {
// findText's vector search, for what lies beyond the first few bytes.
std::size_t findTextFar(std::string_view text, std::string_view pattern, std::size_t from);
}  // namespace detail

// text.find(pattern, from), faster: the catalogue's markers begin with characters such as "<"
// that occur everywhere, which makes a first-character search crawl. Most markers a reader
// looks for stand a few bytes on, so the first 16 places are compared here at once, on the
// pattern's first and last characters, before a longer search is set up.
inline std::size_t findText(std::string_view text, std::string_view pattern, std::size_t from = 0) {
    const std::size_t n = text.size();
    const std::size_t k = pattern.size();
    if (from > n || k > n - from) return std::string_view::npos;
    if (k == 0) return from;
    const char* s = text.data();
    const char* p = pattern.data();
    const auto matchesAt = [&](std::size_t i) {
        for (std::size_t j = 1; j + 1 < k; ++j)
            if (s[i + j] != p[j]) return false;
        return true;
    };
#if defined(__SSE2__)
    if (n - from >= k - 1 + 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + from));
        const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + from + k - 1));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(first, _mm_set1_epi8(p[0])), _mm_cmpeq_epi8(last, _mm_set1_epi8(p[k - 1])))));
        for (; mask; mask &= mask - 1) {
            const std::size_t i = from + static_cast<unsigned>(__builtin_ctz(mask));
            if (matchesAt(i)) return i;
        }
        return detail::findTextFar(text, pattern, from + 16);
    }
#endif
    for (std::size_t i = from; i + k <= n; ++i)
        if (s[i] == p[0] && s[i + k - 1] == p[k - 1] && matchesAt(i)) return i;
    return std::string_view::npos;
}


// Finds separators[0], then each further separator in turn, capturing the text between two
// consecutive ones into captures (captures.size() + 1 separators). The position is where the
// search starts (0 when unset); it ends up past the last separator matched, or unset when the
// first separator does not occur at all. True when the whole sequence was found.
inline bool findTagged(std::string_view text, std::span<const std::string_view> separators,
                       std::span<std::string_view> captures, ScanPosition& position) {
    const std::size_t first = findText(text, separators[0], position.value_or(0));
    if (first == std::string_view::npos) {
        position.reset();
        return false;
    }
    std::size_t at = first + separators[0].size();
    position = at;
    for (std::size_t i = 1; i <= captures.size(); ++i) {
        const std::size_t next = findText(text, separators[i], at);
        if (next == std::string_view::npos) return false;
        captures[i - 1] = text.substr(at, next - at);
        at = next + separators[i].size();
        position = at;
    }
    return true;
}

// True when the text holds a CR or an LF.
inline bool hasLineBreak(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; n >= 16; p += 16, n -= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, lf), _mm_cmpeq_epi8(chunk, cr)))) return true;
    }
#endif
    for (; n > 0; ++p, --n)
        if (*p == '\n' || *p == '\r') return true;
    return false;
}

// The value of the first complete id="..." attribute of the text, or an empty text.
std::string_view extractID(std::string_view attributes);

// The text as one line: every CR and LF becomes a blank. Texts taken from the catalogue pass
// through it, because the state file keeps every value on a line of its own.
std::string oneLine(std::string_view text);
// The same without copying: the text itself when it has no line break, else `scratch` filled.
inline std::string_view oneLine(std::string_view text, std::string& scratch) {
    if (!hasLineBreak(text)) return text;
    scratch = oneLine(text);
    return scratch;
}

}  // namespace tavik::vemlis_loader
