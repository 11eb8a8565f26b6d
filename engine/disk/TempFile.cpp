#include "TempFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/disk/FileIo.h"

namespace vemlis {

namespace {

constexpr std::size_t capacity = 1 << 20;

int openFlags(TempFile::Mode mode) {
    const int common = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
    switch (mode) {
        case TempFile::Mode::create: return common | O_TRUNC;
        case TempFile::Mode::append: return common | O_APPEND;
        case TempFile::Mode::atOffsets: return common;
    }
    return common;
}

}  // namespace

TempFile::TempFile(const std::filesystem::path& path, Mode mode) : fd(::open(path.c_str(), openFlags(mode), 0644)) {
    // Only a regular file of ours is written: never a device or a pipe put at the path.
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    if (mode != Mode::atOffsets) buffer.reserve(capacity);
}

TempFile::~TempFile() {
    if (fd >= 0) ::close(fd);
}

void TempFile::reserve(std::int64_t bytes) {
    struct stat info {};
    if (bytes > 0 && fd >= 0 && ::fstat(fd, &info) == 0) ::fallocate(fd, FALLOC_FL_KEEP_SIZE, info.st_size, bytes);
}

bool TempFile::setLength(std::int64_t length) {
    if (fd < 0) return false;
    ::fallocate(fd, 0, 0, length);
    return ::ftruncate(fd, length) == 0;
}

bool TempFile::write(const char* data, std::size_t size) {
    if (fd < 0) return false;
    if (buffer.size() + size > capacity && !flush()) return false;
    // Large pieces skip the copy; small ones gather into one write.
    if (size >= capacity) return writeFully(fd, data, size);
    buffer.insert(buffer.end(), data, data + size);
    return true;
}

bool TempFile::writeAt(std::int64_t offset, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool TempFile::close() {
    if (fd < 0) return false;
    const bool flushed = flush();
    const bool closed = ::close(fd) == 0;
    fd = -1;
    return flushed && closed;
}

bool TempFile::flush() {
    const bool done = writeFully(fd, buffer.data(), buffer.size());
    buffer.clear();
    return done;
}

}  // namespace vemlis
