#include "FileSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

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

namespace {

std::string reason(int error) { return std::system_category().message(error); }

void syncFolderOf(const std::filesystem::path& path) {
    const std::filesystem::path folder = path.parent_path();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

}  // namespace

std::string replaceFile(const std::filesystem::path& path, std::string_view bytes, bool durable) {
    std::string temp = path.string() + ".new-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return reason(errno);
    ::fchmod(fd, 0644);
    int error = 0;
    if (!writeFully(fd, bytes.data(), bytes.size()) || (durable && ::fsync(fd) != 0)) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return reason(error);
    }
    if (durable) syncFolderOf(path);
    return {};
}

std::string checkWritable(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return reason(EISDIR);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);  // not truncated
        if (fd < 0) return reason(errno);
        ::close(fd);
    }
    std::string probe = path.string() + ".new-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) return reason(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

FileSink::FileSink(const std::filesystem::path& path, bool append)
    : fd(::open(path.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | O_CLOEXEC, 0644)) {
    buffer.reserve(capacity);
}

FileSink::~FileSink() {
    if (fd >= 0) ::close(fd);
}

void FileSink::reserve(std::int64_t bytes) {
    struct stat info {};
    if (bytes > 0 && fd >= 0 && ::fstat(fd, &info) == 0) ::fallocate(fd, FALLOC_FL_KEEP_SIZE, info.st_size, bytes);
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
