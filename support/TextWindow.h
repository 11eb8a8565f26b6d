#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A text that is searched and read a window at a time: held whole, or read from a file as
// the searches go on, so that a text of hundreds of megabytes never has to be in memory.
namespace tavik::text {

class TextWindow {
public:
    static constexpr std::size_t npos = std::string_view::npos;

    explicit TextWindow(std::string_view whole) : whole(whole), total(whole.size()) {}
    // Reads the first `size` bytes of an open file; at least `window` bytes are read at once.
    TextWindow(int fd, std::size_t size, std::size_t window = std::size_t(1) << 20)
        : fd(fd), total(size), window(window > 0 ? window : 1) {}

    std::size_t size() const { return total; }
    // Where the pattern first lies wholly within [from, end), or npos.
    std::size_t find(std::string_view pattern, std::size_t from, std::size_t end);
    // The bytes [from, to) (clipped to the text); valid until the next call. A failed read of
    // the file throws std::system_error.
    std::string_view view(std::size_t from, std::size_t to);

private:
    void load(std::size_t from, std::size_t to);

    std::string_view whole;
    int fd = -1;
    std::size_t total = 0;
    std::size_t window = 0;
    std::string buffer;  // the file's bytes from `base` on
    std::size_t base = 0;
};

}  // namespace tavik::text
