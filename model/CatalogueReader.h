#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tavik::vemlis_loader {

// A search position in a text: an index, or unset.
using ScanPosition = std::optional<std::size_t>;

// Finds separators[0], then each further separator in turn, capturing the text between two
// consecutive ones into captures (captures.size() + 1 separators). The position is where the
// search starts (0 when unset); it ends up past the last separator matched, or unset when the
// first separator does not occur at all. True when the whole sequence was found.
bool findTagged(std::string_view text, std::span<const std::string_view> separators,
                std::span<std::string_view> captures, ScanPosition& position);

namespace detail {
// findText's vector search, for what lies beyond the first few bytes.
std::size_t findTextFar(std::string_view text, std::string_view pattern, std::size_t from);
}  // namespace detail

// text.find(pattern, from), faster: the catalogue's markers begin with characters such as "<"
// that occur everywhere, which makes a first-character search crawl. Most markers a reader
// looks for stand a few bytes on, where a plain look finds them before a vector search
// would have been set up.
inline std::size_t findText(std::string_view text, std::string_view pattern, std::size_t from = 0) {
    const std::size_t n = text.size();
    const std::size_t k = pattern.size();
    if (from > n || k > n - from) return std::string_view::npos;
    if (k == 0) return from;
    const char* s = text.data();
    const char* p = pattern.data();
    const std::size_t lastStart = n - k;
    const std::size_t near = lastStart - from < 32 ? lastStart : from + 31;
    for (std::size_t i = from; i <= near; ++i)
        if (s[i] == p[0]) {
            std::size_t j = 1;
            while (j < k && s[i + j] == p[j]) ++j;
            if (j == k) return i;
        }
    return near == lastStart ? std::string_view::npos : detail::findTextFar(text, pattern, near + 1);
}
// True when the text holds a CR or an LF.
bool hasLineBreak(std::string_view text);

// The value of the first complete id="..." attribute of the text, or an empty text.
std::string_view extractID(std::string_view attributes);

// The text as one line: every CR and LF becomes a blank. Texts taken from the catalogue pass
// through it, because the state file keeps every value on a line of its own.
std::string oneLine(std::string_view text);
// The same without copying: the text itself when it has no line break, else `scratch` filled.
std::string_view oneLine(std::string_view text, std::string& scratch);

}  // namespace tavik::vemlis_loader
