#include "TextWindow.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "TextSearch.h"

namespace tavik::text {

std::size_t TextWindow::find(std::string_view pattern, std::size_t from, std::size_t end) {
    end = std::min(end, total);
    const std::size_t k = pattern.size();
    if (from > end || k > end - from) return npos;
    if (fd < 0) return findText(whole.substr(0, end), pattern, from);
    // Window by window: each one starts where a match that the last one cut could begin.
    for (std::size_t at = from;;) {
        const bool held = at >= base && at - base < buffer.size() && buffer.size() - (at - base) >= k;
        if (!held) load(at, std::min(end, at + std::max(window, k)));
        const std::size_t heldEnd = std::min(end, base + buffer.size());
        const std::size_t found = findText(std::string_view(buffer).substr(0, heldEnd - base), pattern, at - base);
        if (found != npos) return base + found;
        if (heldEnd == end) return npos;
        at = heldEnd - (k - 1);
    }
}

std::string_view TextWindow::view(std::size_t from, std::size_t to) {
    to = std::min(to, total);
    from = std::min(from, to);
    if (fd < 0) return whole.substr(from, to - from);
    if (from < base || to - base > buffer.size()) load(from, std::max(to, std::min(total, from + window)));
    return std::string_view(buffer).substr(from - base, to - from);
}

void TextWindow::load(std::size_t from, std::size_t to) {
    buffer.resize(to - from);
    base = from;
    for (std::size_t done = 0; done < buffer.size();) {
        const ssize_t n = ::pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(from + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::system_error(errno, std::generic_category(), "read");
        if (n == 0) throw std::system_error(EIO, std::generic_category(), "read: the file is shorter than its text");
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace tavik::text
