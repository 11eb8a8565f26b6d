#include "Splitter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <system_error>

#include "engine/FileSink.h"
#include "model/MoviesSet.h"
#include "support/TextSearch.h"

namespace vemlis {

using tavik::vemlis_loader::Movie;
using tavik::vemlis_loader::Queue;
using tavik::vemlis_loader::ServerFile;

namespace {

constexpr std::size_t headerLength = 16;
constexpr std::size_t blockSize = 1 << 20;

bool isHeader(const char* p) {
    return std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "AVI", 3) == 0 && p[11] != 'X' &&
           std::memcmp(p + 12, "LIST", 4) == 0;
}

std::system_error lastError(const char* what) { return std::system_error(errno, std::generic_category(), what); }

// One movie's output file. Write errors are remembered, not thrown, so the scan goes on.
class Output final {
public:
    ~Output() {
        if (fd >= 0) ::close(fd);
    }
    bool open(const std::string& name) {
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        failed = false;
        return fd >= 0;
    }
    void write(const char* data, std::size_t size) {
        if (!failed && !writeFully(fd, data, size)) failed = true;
    }
    // Copies [from, to) of the input file inside the kernel where it can, else through memory.
    void copyFrom(int input, std::int64_t from, std::int64_t to) {
        while (!failed && from < to) {
            loff_t offset = from;
            const ssize_t n = ::copy_file_range(input, &offset, fd, nullptr, static_cast<std::size_t>(to - from), 0);
            if (n > 0) {
                from += n;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                copyThroughMemory(input, from, to);
                return;
            }
            failed = true;
        }
    }
    // True when every byte reached the file and it closed cleanly.
    bool close() {
        const bool closed = ::close(fd) == 0;
        fd = -1;
        return closed && !failed;
    }

private:
    void copyThroughMemory(int input, std::int64_t from, std::int64_t to) {
        std::vector<char> buffer(blockSize);
        while (!failed && from < to) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(to - from, blockSize));
            const ssize_t n = ::pread(input, buffer.data(), want, from);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                failed = true;
                return;
            }
            write(buffer.data(), static_cast<std::size_t>(n));
            from += n;
        }
    }

    int fd = -1;
    bool failed = false;
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

// Opens the movie's output, asking for other names while that fails. False when the user
// declined (the movie is no longer queued).
bool openNamed(Output& output, const Movie* movie, SplitHandler& handler) {
    while (!output.open(movie->getFileName())) {
        handler.renameMovie(movie);
        if (movie->getLoadFlag() != Queue) return false;
    }
    return true;
}

// After a failed write the partial file goes and the movie is written again, from its own
// header, under a name the user gives, until it is saved or the user declines. True when saved.
bool writeUnderNewNames(Output& output, const Movie* movie, SplitHandler& handler, int input, std::int64_t from,
                        std::int64_t to) {
    for (;;) {
        // Only a file of our own making goes: never a device or whatever a link points at.
        std::error_code ignored;
        if (std::filesystem::is_regular_file(std::filesystem::symlink_status(movie->getFileName(), ignored)))
            std::filesystem::remove(movie->getFileName(), ignored);
        handler.renameMovie(movie);
        if (movie->getLoadFlag() != Queue || !openNamed(output, movie, handler)) return false;
        output.copyFrom(input, from, to);
        if (output.close()) return true;
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
    tail.append(data, size);
    if (tail.size() > headerLength - 1) tail.erase(0, tail.size() - (headerLength - 1));
}

namespace {

// The splitting when the header offsets are known: each movie is one range of the file.
void splitByIndex(const InputFile& in, const ServerFile& file, SplitHandler& handler,
                  const std::vector<std::int64_t>& headers) {
    const std::int64_t size = fileSize(in.fd);
    std::size_t index = 0;
    for (const Movie* movie : file.getMovies()) {
        const std::size_t n = index++;
        if (n >= headers.size()) {
            if (movie->getLoadFlag() == Queue) {
                movie->setBroken();
                handler.addFinishedMovie(movie);
            }
            continue;
        }
        if (movie->getLoadFlag() != Queue) continue;
        const std::int64_t from = headers[n];
        const std::int64_t to = n + 1 < headers.size() ? headers[n + 1] : size;
        Output output;
        bool saved = openNamed(output, movie, handler);
        if (saved) {
            output.copyFrom(in.fd, from, to);
            saved = output.close() || writeUnderNewNames(output, movie, handler, in.fd, from, to);
        }
        if (saved) movie->setLoaded();
        handler.addFinishedMovie(movie);
    }
}

}  // namespace

std::vector<std::int64_t> scanHeaders(const std::filesystem::path& path, std::size_t block) {
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
    return index.getHeaders();
}

void splitFile(const std::filesystem::path& input, const ServerFile& file, SplitHandler& handler,
               const std::vector<std::int64_t>* headers) {
    std::vector<std::int64_t> scanned;
    if (!headers) {
        scanned = scanHeaders(input);
        headers = &scanned;
    }
    splitByIndex(InputFile(input), file, handler, *headers);
}

}  // namespace vemlis
