#include "AviHeaders.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "support/TextSearch.h"

namespace vemlis {

bool isAviHeader(const char* p) {
    return std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "AVI", 3) == 0 && p[11] != 'X' &&
           std::memcmp(p + 12, "LIST", 4) == 0;
}

std::int64_t aviLength(const char* head) {
    const auto* size = reinterpret_cast<const unsigned char*>(head + 4);
    // The RIFF size counts the bytes after the 8 of "RIFF" and the size itself.
    return 8 + (std::int64_t(size[0]) | std::int64_t(size[1]) << 8 | std::int64_t(size[2]) << 16 |
                std::int64_t(size[3]) << 24);
}

std::int64_t aviLengthAt(int fd, std::int64_t header) {
    char head[8];
    return ::pread(fd, head + 4, 4, header + 4) == 4 ? aviLength(head) : -1;
}

void HeaderIndex::search(const char* data, std::size_t size, std::int64_t start, std::size_t lastStart) {
    const std::string_view text(data, size);
    for (std::size_t i = tavik::text::findText(text, "RIFF", 0);
         i != std::string_view::npos && i <= lastStart && headers.size() < limit;
         i = tavik::text::findText(text, "RIFF", i + 1)) {
        if (i + aviHeaderLength > size || !isAviHeader(data + i)) continue;
        const std::int64_t at = start + static_cast<std::int64_t>(i);
        if (at < nextAllowed) continue;
        headers.push_back(at);
        nextAllowed = at + static_cast<std::int64_t>(aviHeaderLength);
    }
}

void HeaderIndex::feed(const char* data, std::size_t size) {
    if (size == 0) return;
    // Headers that begin in the kept tail and end in this piece.
    if (!tail.empty()) {
        std::string joint = tail;
        joint.append(data, std::min(size, aviHeaderLength - 1));
        search(joint.data(), joint.size(), fed - static_cast<std::int64_t>(tail.size()), tail.size() - 1);
    }
    if (size >= aviHeaderLength) search(data, size, fed, size - aviHeaderLength);
    fed += static_cast<std::int64_t>(size);
    if (size >= aviHeaderLength - 1) {
        tail.assign(data + size - (aviHeaderLength - 1), aviHeaderLength - 1);
    } else {
        tail.append(data, size);
        if (tail.size() > aviHeaderLength - 1) tail.erase(0, tail.size() - (aviHeaderLength - 1));
    }
}

HeaderIndex indexFile(const std::filesystem::path& path, std::size_t limit, std::size_t block) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open the downloaded file");
    HeaderIndex index(limit);
    std::vector<char> buffer(std::max<std::size_t>(block, 1));
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw std::system_error(error, std::generic_category(), "cannot read the downloaded file");
        }
        if (n == 0) break;
        index.feed(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return index;
}

}  // namespace vemlis
