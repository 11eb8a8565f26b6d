#include "MovieFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "engine/disk/FileIo.h"
#include "support/FileNames.h"

namespace vemlis {

namespace {

// File systems that keep the file elsewhere: there a direct write waits for the network on
// each block, where the page cache would send them on while the next is copied.
bool onTheNetwork(int fd) {
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0x6969:      // NFS
        case 0xFF534D42:  // CIFS
        case 0xFE534D42:  // SMB2
        case 0x517B:      // SMB
        case 0x65735546:  // FUSE (sshfs and the like)
        case 0x00C36400:  // Ceph
        case 0x01021997:  // 9P
            return true;
        default:
            return false;
    }
}

// What direct writes to the file must be aligned to (offsets, lengths and memory); 0 when
// the file system takes none, or is better written through the page cache. Without word from
// the system, a page, which every device takes.
std::size_t directAlignment(int fd) {
    if (onTheNetwork(fd)) return 0;
#ifdef STATX_DIOALIGN
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &info) == 0 && (info.stx_mask & STATX_DIOALIGN)) {
        const std::size_t needed = std::max(info.stx_dio_offset_align, info.stx_dio_mem_align);
        return needed == 0 || DirectBuffer::alignment % needed != 0 ? 0 : needed;
    }
#else
    (void)fd;
#endif
    return DirectBuffer::alignment;
}

}  // namespace

DirectBuffer::DirectBuffer(std::size_t size)
    : block(static_cast<char*>(std::aligned_alloc(alignment, size))), length(size) {
    if (!block) throw std::bad_alloc();
}

DirectBuffer::~DirectBuffer() { std::free(block); }

bool MovieFile::open(const std::string& name, bool direct) {
    discard();
    failed = false;
    error = 0;
    if (name.empty() || !tavik::text::isPlainFileName(name)) {
        error = EINVAL;
        return false;
    }
    struct stat info {};
    if (::lstat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
        return false;
    }
    finalName = name;
    partName = name + ".part";
    written = started = settled = 0;
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
    fd = direct ? ::open(partName.c_str(), flags | O_DIRECT, 0666) : -1;
    if (fd < 0) fd = ::open(partName.c_str(), flags, 0666);
    if (fd < 0) {
        error = errno;
        partName.clear();  // nothing of ours to remove
    }
    alignment = fd >= 0 && (::fcntl(fd, F_GETFL) & O_DIRECT) ? directAlignment(fd) : 0;
    if (fd >= 0 && alignment == 0) leaveDirect();
    return fd >= 0;
}

std::string MovieFile::reason() const { return systemReason(error ? error : EIO); }

void MovieFile::copyFrom(int input, std::int64_t from, std::int64_t to, DirectBuffer& buffer) {
    if (alignment > 0 && buffer.size() % alignment == 0 &&
        reinterpret_cast<std::uintptr_t>(buffer.data()) % alignment == 0)
        return copyThroughBuffer(input, from, to, buffer);
    leaveDirect();
    while (!failed && from < to) {
        loff_t offset = from;
        const ssize_t n = ::copy_file_range(input, &offset, fd, nullptr, static_cast<std::size_t>(to - from), 0);
        if (n > 0) {
            from += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            copyThroughBuffer(input, from, to, buffer);
            return;
        }
        if (n == 0) errno = ENOSPC;
        fail();
    }
}

void MovieFile::append(const char* data, std::size_t size) {
    if (failed) return;
    std::size_t done = 0;
    if (alignment > 0 && reinterpret_cast<std::uintptr_t>(data) % alignment == 0) {
        const std::size_t whole = size / alignment * alignment;
        while (done < whole) {
            const ssize_t n = ::write(fd, data + done, whole - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EINVAL) break;  // not taken straight after all
            if (n <= 0) {
                if (n == 0) errno = ENOSPC;
                return fail();
            }
            done += static_cast<std::size_t>(n);
            if (done % alignment != 0) break;  // a short write: the rest goes the usual way
        }
    }
    if (done < size) {
        leaveDirect();
        write(data + done, size - done);
    }
}

int MovieFile::directFd() {
    if (cachedOnly) return -1;
    if (direct != -1 || fd < 0 || partName.empty()) return direct < 0 ? -1 : direct;
    direct = ::open(partName.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_DIRECT);
    if (direct >= 0 && directAlignment(direct) == 0) {
        ::close(direct);
        direct = -1;
    }
    if (direct < 0) direct = -2;
    return direct < 0 ? -1 : direct;
}

void MovieFile::failWith(int systemError) {
    failed = true;
    error = systemError;
}

void MovieFile::closeDirect() {
    if (direct >= 0) ::close(direct);
    direct = -1;
}

bool MovieFile::commit() {
    closeDirect();
    bool done = !failed;
    if (done && ::fdatasync(fd) != 0) done = false, error = errno;
    // On the disk now: its pages are of no more use to anyone, and leave the cache to others.
    if (done) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    if (::close(fd) != 0 && done) done = false, error = errno;
    fd = -1;
    if (done && ::rename(partName.c_str(), finalName.c_str()) != 0) done = false, error = errno;
    if (!done) {
        ::unlink(partName.c_str());
        partName.clear();
        return false;
    }
    // The rename itself reaches the disk with its folder.
    syncFolderOf(finalName);
    partName.clear();
    return true;
}

bool MovieFile::reopen(const std::string& name, std::int64_t length, bool direct) {
    discard();
    failed = false;
    error = 0;
    if (name.empty() || !tavik::text::isPlainFileName(name)) return false;
    const std::string part = name + ".part";
    // Straight to the disk only from an aligned place on; a part that ends elsewhere takes the
    // rest through the page cache.
    const bool aligned = length % static_cast<std::int64_t>(DirectBuffer::alignment) == 0;
    const int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW;
    fd = direct && aligned ? ::open(part.c_str(), flags | O_DIRECT) : -1;
    if (fd < 0) fd = ::open(part.c_str(), flags);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < length ||
        ::ftruncate(fd, length) != 0 || ::lseek(fd, length, SEEK_SET) != length) {
        if (fd >= 0) ::close(fd);
        fd = -1;
        return false;
    }
    finalName = name;
    partName = part;
    written = started = settled = length;
    alignment = (::fcntl(fd, F_GETFL) & O_DIRECT) ? directAlignment(fd) : 0;
    if (alignment == 0) leaveDirect();
    return true;
}

void MovieFile::appendBehind(const char* data, std::size_t size) {
    if (failed) return;
    if (alignment > 0) leaveDirect();
    write(data, size);
    if (failed) return;
    written += static_cast<std::int64_t>(size);
    constexpr std::int64_t step = 4 << 20;
    if (written - started < step) return;
    // Out to the disk without waiting; what went out a step before is waited for and dropped.
    ::sync_file_range(fd, started, written - started, SYNC_FILE_RANGE_WRITE);
    if (started > settled) {
        ::sync_file_range(fd, settled, started - settled,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        ::posix_fadvise(fd, settled, started - settled, POSIX_FADV_DONTNEED);
        settled = started;
    }
    started = written;
}

bool MovieFile::setLength(std::int64_t length) {
    if (failed) return false;
    if (alignment > 0) leaveDirect();
    if (::fallocate(fd, 0, 0, length) == 0) return true;
    if (errno == ENOSPC || errno == EFBIG) {
        fail();
        return false;
    }
    if (::ftruncate(fd, length) == 0) return true;  // a file system that sets nothing aside
    fail();
    return false;
}

void MovieFile::writeAt(std::int64_t offset, const char* data, std::size_t size) {
    while (!failed && size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return fail();
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
}

void MovieFile::writeOut(std::int64_t from, std::int64_t to) {
    if (!failed) ::sync_file_range(fd, from, to - from, SYNC_FILE_RANGE_WRITE);
}

bool MovieFile::restart() {
    written = started = settled = 0;
    if (fd < 0 || failed || ::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
        if (!failed && fd >= 0) fail();
        return false;
    }
    return true;
}

bool MovieFile::keep() {
    closeDirect();
    const bool closed = fd >= 0 && ::close(fd) == 0;
    fd = -1;
    const bool whole = closed && !failed;
    if (whole) partName.clear();  // left for the next transfer
    discard();
    return whole;
}

void MovieFile::fail() {
    failed = true;
    error = errno;
}

void MovieFile::write(const char* data, std::size_t size) {
    if (!failed && !writeFully(fd, data, size)) fail();
}

// From here on through the page cache: for a tail shorter than a block, or when the file
// system refuses a direct write after all.
void MovieFile::leaveDirect() {
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_DIRECT);
    alignment = 0;
}

// Reads the range block by block into the buffer and appends it.
void MovieFile::copyThroughBuffer(int input, std::int64_t from, std::int64_t to, DirectBuffer& buffer) {
    while (!failed && from < to) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(to - from, buffer.size()));
        const ssize_t n = ::pread(input, buffer.data(), want, from);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            fail();
            return;
        }
        append(buffer.data(), static_cast<std::size_t>(n));
        from += n;
    }
}

void MovieFile::discard() {
    closeDirect();
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!partName.empty()) ::unlink(partName.c_str());
    partName.clear();
}

}  // namespace vemlis
