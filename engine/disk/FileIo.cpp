#include "FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace vemlis {

std::string systemReason(int error) { return std::system_category().message(error); }

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

int openUnlinkedFile(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    // A file system without unnamed files: a name that is gone again at once.
    std::string name = (folder / ".vemlis-XXXXXX").string();
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) ::unlink(name.c_str());
    return named;
}

void syncFolderOf(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.parent_path();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

std::string replaceFile(const std::filesystem::path& path, std::string_view bytes, bool durable) {
    std::string temp = path.string() + ".new-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return systemReason(errno);
    ::fchmod(fd, 0644);
    int error = 0;
    if (!writeFully(fd, bytes.data(), bytes.size()) || (durable && ::fsync(fd) != 0)) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return systemReason(error);
    }
    if (durable) syncFolderOf(path);
    return {};
}

void removeUnfinishedReplacements(const std::filesystem::path& folder,
                                  const std::function<bool(std::string_view name)>& ours) {
    constexpr std::string_view mark = ".new-";
    constexpr std::size_t random = 6;  // the XXXXXX of mkostemp
    std::error_code error;
    std::vector<std::filesystem::path> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? "." : folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= mark.size() + random) continue;
        const std::size_t at = name.size() - mark.size() - random;
        if (name.compare(at, mark.size(), mark) != 0 || !ours(std::string_view(name).substr(0, at))) continue;
        if (entry.is_regular_file(error) && !entry.is_symlink(error)) left.push_back(entry.path());
    }
    for (const auto& path : left) std::filesystem::remove(path, error);
}

std::string checkWritable(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return systemReason(EISDIR);
        // Nothing but a file or a link is opened (a pipe would wait for ever for a reader); the
        // first write renames the new file over whatever else stands there.
        if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);  // not truncated
            if (fd < 0) return systemReason(errno);
            ::close(fd);
        }
    }
    std::string probe = path.string() + ".new-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) return systemReason(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

std::int64_t freeSpaceAt(const std::filesystem::path& path) {
    // Never throws: a name the system refuses (too long, say) is told when the file is made.
    std::error_code error;
    std::filesystem::path folder =
        path.has_filename() && !std::filesystem::is_directory(path, error) ? path.parent_path() : path;
    if (folder.empty()) folder = ".";
    while (!std::filesystem::exists(folder, error) && folder.has_parent_path() && folder != folder.parent_path())
        folder = folder.parent_path();
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

}  // namespace vemlis
