#include "Splitter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "engine/FileSink.h"
#include "model/MoviesSet.h"
#include "model/UsedNames.h"
#include "support/TextSearch.h"

namespace vemlis {

using tavik::vemlis_loader::Movie;
using tavik::vemlis_loader::Queue;
using tavik::vemlis_loader::ServerFile;

namespace {

constexpr std::size_t headerLength = 16;
// Direct writes of this size keep the disk busy without holding much memory.
constexpr std::size_t directBlockSize = 4 << 20;

bool isHeader(const char* p) {
    return std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "AVI", 3) == 0 && p[11] != 'X' &&
           std::memcmp(p + 12, "LIST", 4) == 0;
}

std::system_error lastError(const char* what) { return std::system_error(errno, std::generic_category(), what); }

// A block for direct writes, aligned for any device's direct I/O.
class DirectBuffer final {
public:
    static constexpr std::size_t alignment = 4096;
    explicit DirectBuffer(std::size_t size)
        : block(static_cast<char*>(std::aligned_alloc(alignment, size))), length(size) {
        if (!block) throw std::bad_alloc();
    }
    ~DirectBuffer() { std::free(block); }
    DirectBuffer(const DirectBuffer&) = delete;
    DirectBuffer& operator=(const DirectBuffer&) = delete;
    char* data() const { return block; }
    std::size_t size() const { return length; }

private:
    char* const block;
    const std::size_t length;
};

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

// One movie's output: written as "<name>.part" and renamed over the name once complete and on
// disk. Write errors are remembered, not thrown; whatever did not commit is removed.
class Output final {
public:
    ~Output() { discard(); }

    // False when the part file cannot be made, or the name is taken by something that is no
    // regular file (a folder, a device): that is never replaced.
    // `direct`: write past the page cache where the file system takes it.
    bool open(const std::string& name, bool direct) {
        discard();
        failed = false;
        error = 0;
        struct stat info {};
        if (::lstat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            error = S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
            return false;
        }
        finalName = name;
        partName = name + ".part";
        const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
        fd = direct ? ::open(partName.c_str(), flags | O_DIRECT, 0666) : -1;
        if (fd < 0) fd = ::open(partName.c_str(), flags, 0666);
        if (fd < 0) error = errno;
        alignment = fd >= 0 && (::fcntl(fd, F_GETFL) & O_DIRECT) ? directAlignment(fd) : 0;
        if (fd >= 0 && alignment == 0) leaveDirect();
        return fd >= 0;
    }
    // The system's words for what went wrong last.
    std::string reason() const { return std::system_category().message(error ? error : EIO); }
    // Copies [from, to) of the input file: straight to the disk in aligned blocks when the file
    // was opened so, else inside the kernel where it can, else through memory.
    void copyFrom(int input, std::int64_t from, std::int64_t to, DirectBuffer& buffer) {
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
    // Adds bytes at the end: straight to the disk while they come in whole aligned blocks at
    // aligned places (the buffer's blocks), through the page cache from the first that does not.
    void append(const char* data, std::size_t size) {
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
    // Puts the complete movie in place: on disk first, so that a state that calls it
    // downloaded never outlives its bytes. True when it is there; else the part file is gone.
    bool commit() {
        bool done = !failed;
        if (done && ::fdatasync(fd) != 0) done = false, error = errno;
        if (::close(fd) != 0 && done) done = false, error = errno;
        fd = -1;
        if (done && ::rename(partName.c_str(), finalName.c_str()) != 0) done = false, error = errno;
        if (!done) {
            ::unlink(partName.c_str());
            return false;
        }
        syncFolder();
        partName.clear();
        return true;
    }

private:
    void fail() {
        failed = true;
        error = errno;
    }
    void write(const char* data, std::size_t size) {
        if (!failed && !writeFully(fd, data, size)) fail();
    }
    // From here on through the page cache: for a tail shorter than a block, or when the file
    // system refuses a direct write after all.
    void leaveDirect() {
        if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_DIRECT);
        alignment = 0;
    }
    // Reads the range block by block into the buffer and appends it.
    void copyThroughBuffer(int input, std::int64_t from, std::int64_t to, DirectBuffer& buffer) {
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
    void discard() {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        if (!partName.empty()) ::unlink(partName.c_str());
        partName.clear();
    }
    // The rename itself reaches the disk with its folder.
    void syncFolder() const {
        const std::filesystem::path folder = std::filesystem::path(finalName).parent_path();
        const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) return;
        ::fsync(dir);
        ::close(dir);
    }

    int fd = -1;
    std::size_t alignment = 0;  // of direct writes; 0 when writing through the page cache
    bool failed = false;
    int error = 0;
    std::string finalName;
    std::string partName;  // set while a part file of ours exists
};

class InputFile final {
public:
    explicit InputFile(const std::filesystem::path& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd < 0) throw lastError("cannot open the downloaded file");
    }
    ~InputFile() { ::close(fd); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    const int fd;
};

std::int64_t fileSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) throw lastError("cannot read the downloaded file");
    return info.st_size;
}

// The input read forward once in blocks, its headers noted as they go by: when the headers
// were not noted during the download, the same pass finds where each movie ends and hands its
// bytes over, so that no byte is read twice.
class Scan final {
public:
    Scan(int fd, DirectBuffer& buffer, std::size_t block) : fd(fd), size(fileSize(fd)), buffer(buffer), block(block) {}

    // The offset of the n-th header, reading on until it is found; -1 when the file has fewer.
    std::int64_t header(std::size_t n) {
        while (index.getHeaders().size() <= n && fed < size) read(fed);
        return n < index.getHeaders().size() ? index.getHeaders()[n] : -1;
    }
    // The n-th movie's length where it is known, else what its RIFF size says.
    std::int64_t expectedLength(std::size_t n) {
        const std::int64_t start = header(n);
        if (const std::int64_t end = knownEnd(n); end >= 0) return end - start;
        unsigned char riff[4] = {};
        if (::pread(fd, riff, 4, start + 4) != 4) return size - start;
        const std::int64_t length = 8 + (std::int64_t(riff[0]) | std::int64_t(riff[1]) << 8 |
                                         std::int64_t(riff[2]) << 16 | std::int64_t(riff[3]) << 24);
        return std::min(length, size - start);
    }
    // Hands the bytes of the n-th movie (it has a header) to `take`, in pieces that begin a
    // whole number of blocks after its header, in the buffer's memory; returns where it ends.
    template <class Take>
    std::int64_t movie(std::size_t n, Take&& take) {
        for (std::int64_t at = header(n);;) {
            if (at >= size) return size;
            const std::size_t got = read(at);
            const std::int64_t limit = at + std::min<std::int64_t>(static_cast<std::int64_t>(got), block);
            const std::int64_t end = knownEnd(n);
            if (end >= 0 && end <= limit) {
                take(static_cast<const char*>(buffer.data()), static_cast<std::size_t>(end - at));
                return end;
            }
            take(static_cast<const char*>(buffer.data()), static_cast<std::size_t>(limit - at));
            at = limit;
        }
    }

private:
    // Where the n-th movie ends, once known: -1 while the next header may still come.
    std::int64_t knownEnd(std::size_t n) const {
        if (index.getHeaders().size() > n + 1) return index.getHeaders()[n + 1];
        return fed >= size ? size : -1;
    }
    // Reads a block and the look-ahead a header needs at `at` (not past what was fed), and
    // feeds the bytes not fed before. Every header that begins inside the block is then known.
    std::size_t read(std::int64_t at) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(size - at, block + static_cast<std::int64_t>(headerLength)));
        std::size_t got = 0;
        while (got < want) {
            const ssize_t n = ::pread(fd, buffer.data() + got, want - got, at + static_cast<std::int64_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw lastError("cannot read the downloaded file");
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (got < want) size = at + static_cast<std::int64_t>(got);  // shorter than it was
        const std::int64_t end = at + static_cast<std::int64_t>(got);
        if (end > fed) {
            index.feed(buffer.data() + (fed - at), static_cast<std::size_t>(end - fed));
            fed = end;
        }
        return got;
    }

    const int fd;
    std::int64_t size;
    DirectBuffer& buffer;
    const std::int64_t block;
    HeaderIndex index;
    std::int64_t fed = 0;
};

// Where a movie's bytes are: a known range of the input, or the n-th movie of a scan, whose
// end the first copy finds.
struct MovieBytes {
    int input;
    std::int64_t from;
    std::int64_t to;  // -1 until known
    Scan* scan;
    std::size_t n;
};

// Saves the movie's bytes under its name, asking for other names while that fails (no room, a
// bad name, a failed write). True when saved; false when the user declined.
bool saveMovie(const Movie* movie, SplitHandler& handler, MovieBytes bytes, std::vector<std::string>& written,
               DirectBuffer& buffer) {
    Output output;
    for (;;) {
        handler.claimFreeName(movie, written);
        const std::string name = movie->getFileName();
        const std::int64_t room = handler.freeSpace(name);
        const std::int64_t length = bytes.to >= 0 ? bytes.to - bytes.from : bytes.scan->expectedLength(bytes.n);
        std::string reason;
        if (room >= 0 && room < length) {
            reason = "not enough free space (" + std::to_string((length + 1048575) / 1048576) + " MB needed, " +
                     std::to_string(room / 1048576) + " MB free)";
        } else if (output.open(name, handler.writeDirect())) {
            if (bytes.to >= 0)
                output.copyFrom(bytes.input, bytes.from, bytes.to, buffer);
            else
                bytes.to = bytes.scan->movie(bytes.n, [&](const char* data, std::size_t size) { output.append(data, size); });
            if (output.commit()) {
                written.push_back(name);
                return true;
            }
            reason = output.reason();
        } else {
            reason = output.reason();
        }
        handler.renameMovie(movie, reason);
        if (movie->getLoadFlag() != Queue) return false;
    }
}

}  // namespace

void HeaderIndex::search(const char* data, std::size_t size, std::int64_t start, std::size_t lastStart) {
    const std::string_view text(data, size);
    for (std::size_t i = tavik::text::findText(text, "RIFF", 0); i != std::string_view::npos && i <= lastStart;
         i = tavik::text::findText(text, "RIFF", i + 1)) {
        if (i + headerLength > size || !isHeader(data + i)) continue;
        const std::int64_t at = start + static_cast<std::int64_t>(i);
        if (at < nextAllowed) continue;
        headers.push_back(at);
        nextAllowed = at + static_cast<std::int64_t>(headerLength);
    }
}

void HeaderIndex::feed(const char* data, std::size_t size) {
    if (size == 0) return;
    // Headers that begin in the kept tail and end in this piece.
    if (!tail.empty()) {
        std::string joint = tail;
        joint.append(data, std::min(size, headerLength - 1));
        search(joint.data(), joint.size(), fed - static_cast<std::int64_t>(tail.size()), tail.size() - 1);
    }
    if (size >= headerLength) search(data, size, fed, size - headerLength);
    fed += static_cast<std::int64_t>(size);
    if (size >= headerLength - 1) {
        tail.assign(data + size - (headerLength - 1), headerLength - 1);
    } else {
        tail.append(data, size);
        if (tail.size() > headerLength - 1) tail.erase(0, tail.size() - (headerLength - 1));
    }
}

namespace {

// Each queued movie to its file: the n-th header begins the n-th movie. With the header
// offsets known, each movie is one range of the file; else one scan finds them as it copies.
void splitMovies(const InputFile& in, const ServerFile& file, SplitHandler& handler,
                 const std::vector<std::int64_t>* headers) {
    std::vector<std::string> written;
    DirectBuffer buffer(directBlockSize + DirectBuffer::alignment);  // a block and a header's look-ahead
    Scan scan(in.fd, buffer, directBlockSize);
    const std::int64_t size = fileSize(in.fd);
    std::size_t index = 0;
    for (const Movie* movie : file.getMovies()) {
        const std::size_t n = index++;
        if (movie->getLoadFlag() != Queue) continue;
        MovieBytes bytes{in.fd, -1, -1, &scan, n};
        if (headers && n < headers->size()) {
            bytes.from = (*headers)[n];
            bytes.to = n + 1 < headers->size() ? (*headers)[n + 1] : size;
        } else if (!headers) {
            bytes.from = scan.header(n);
        }
        if (bytes.from < 0)
            movie->setBroken();
        else if (saveMovie(movie, handler, bytes, written, buffer))
            movie->setLoaded();
        handler.addFinishedMovie(movie);
    }
}

}  // namespace

std::int64_t freeSpaceAt(const std::filesystem::path& path) {
    std::filesystem::path folder = path.has_filename() && !std::filesystem::is_directory(path) ? path.parent_path() : path;
    if (folder.empty()) folder = ".";
    std::error_code error;
    while (!std::filesystem::exists(folder, error) && folder.has_parent_path() && folder != folder.parent_path())
        folder = folder.parent_path();
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

void SplitHandler::claimFreeName(const Movie* movie, const std::vector<std::string>& written) {
    const std::string name = movie->getFileName();
    if (std::find(written.begin(), written.end(), name) == written.end()) return;
    for (int n = 2;; ++n)
        if (std::string other = tavik::vemlis_loader::numberedName(name, n);
            std::find(written.begin(), written.end(), other) == written.end())
            return movie->queue(other);
}

std::vector<std::int64_t> scanHeaders(const std::filesystem::path& path, std::size_t block) {
    return indexFile(path, block).getHeaders();
}

HeaderIndex indexFile(const std::filesystem::path& path, std::size_t block) {
    InputFile in(path);
    HeaderIndex index;
    std::vector<char> buffer(std::max<std::size_t>(block, 1));
    for (;;) {
        const ssize_t n = ::read(in.fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw lastError("cannot read the downloaded file");
        if (n == 0) break;
        index.feed(buffer.data(), static_cast<std::size_t>(n));
    }
    return index;
}

void splitFile(const std::filesystem::path& input, const ServerFile& file, SplitHandler& handler,
               const std::vector<std::int64_t>* headers) {
    splitMovies(InputFile(input), file, handler, headers);
}

}  // namespace vemlis
