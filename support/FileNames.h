#pragma once

#include <string>
#include <string_view>

namespace tavik::text {

// Whether a file name reaches the system as people see it: no NUL (which would cut the C string
// short, making "<name>.part" and "<name>" one file) and no other control character.
inline bool isPlainFileName(std::string_view name) {
    for (const unsigned char c : name)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

// A name that someone else proposed (a catalogue's) as a file name in a folder of the user's:
// its last path component, without control characters; empty when nothing but "." or ".."
// is left.
inline std::string suggestedFileName(std::string_view name) {
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::string plain;
    for (const char c : name)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) plain += c;
    if (plain == "." || plain == "..") plain.clear();
    return plain;
}

// The longest prefix of the text of at most `bytes` bytes that ends on a UTF-8 character
// boundary.
inline std::string_view utf8Prefix(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    return text.substr(0, bytes);
}

}  // namespace tavik::text
