#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "support/TextSearch.h"

namespace tavik::vemlis_loader {

// A search position in a text: an index, or unset.
using ScanPosition = std::optional<std::size_t>;


using tavik::text::findText;
using tavik::text::hasLineBreak;
using tavik::text::oneLine;
using tavik::text::sameBytes;

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

// The value of the first complete id="..." attribute of the text, or an empty text.
std::string_view extractID(std::string_view attributes);

}  // namespace tavik::vemlis_loader
