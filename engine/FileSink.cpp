#include "FileSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vemlis {

namespace {
constexpr std::size_t capacity = 1 << 20;
}

bool writeFully(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

FileSink::FileSink(const std::filesystem::path& path)
    : fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
    buffer.reserve(capacity);
}

FileSink::~FileSink() {
    if (fd >= 0) ::close(fd);
}

void FileSink::write(const char* data, std::size_t size) {
    if (buffer.size() + size > capacity) flush();
    // Large pieces skip the copy; small ones gather into one write.
    if (size >= capacity)
        writeAll(data, size);
    else
        buffer.insert(buffer.end(), data, data + size);
}

void FileSink::close() {
    flush();
    const int result = ::close(fd);
    fd = -1;
    if (result != 0) throw StreamError("the file could not be closed");
}

void FileSink::flush() {
    writeAll(buffer.data(), buffer.size());
    buffer.clear();
}

void FileSink::writeAll(const char* data, std::size_t size) {
    if (fd < 0 && size > 0) throw StreamError("the file could not be created");
    if (!writeFully(fd, data, size)) throw StreamError("the file could not be written");
}

}  // namespace vemlis
