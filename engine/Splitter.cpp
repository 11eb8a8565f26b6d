#include "Splitter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "engine/AviHeaders.h"
#include "engine/disk/MovieFile.h"
#include "model/MoviesSet.h"
#include "model/UsedNames.h"

namespace vemlis {

using tavik::vemlis_loader::Movie;
using tavik::vemlis_loader::Queue;
using tavik::vemlis_loader::ServerFile;

namespace {

// Direct writes of this size keep the disk busy without holding much memory.
constexpr std::size_t directBlockSize = 4 << 20;

std::system_error lastError(const char* what) { return std::system_error(errno, std::generic_category(), what); }

class InputFile final {
public:
    explicit InputFile(const std::filesystem::path& path, int flags = 0)
        : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags)) {
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
    Scan(int fd, DirectBuffer& buffer, std::size_t block, std::size_t movies)
        : fd(fd), size(fileSize(fd)), buffer(buffer), block(block), index(movies + 1) {}

    // The offset of the n-th header, reading on until it is found; -1 when the file has fewer.
    std::int64_t header(std::size_t n) {
        while (index.getHeaders().size() <= n && fed < size) read(fed);
        return n < index.getHeaders().size() ? index.getHeaders()[n] : -1;
    }
    // The n-th movie's length where it is known, else what its RIFF size says.
    std::int64_t expectedLength(std::size_t n) {
        const std::int64_t start = header(n);
        if (const std::int64_t end = knownEnd(n); end >= 0) return end - start;
        const std::int64_t length = aviLengthAt(fd, start);
        return length < 0 ? size - start : std::min(length, size - start);
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
            static_cast<std::size_t>(std::min<std::int64_t>(size - at, block + static_cast<std::int64_t>(aviHeaderLength)));
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

enum class Saved { yes, declined, stop, later };

// Saves the movie's bytes under its name, asking for other names while that fails (no room, a
// bad name, a failed write).
Saved saveMovie(const Movie* movie, SplitHandler& handler, const FreeSpace& freeSpace, MovieBytes bytes,
                std::vector<std::string>& written, DirectBuffer& buffer) {
    MovieFile output;
    for (;;) {
        handler.claimFreeName(movie, written);
        const std::string name = movie->getFileName();
        const std::int64_t room = freeSpace(name);
        const std::int64_t length = bytes.to >= 0 ? bytes.to - bytes.from : bytes.scan->expectedLength(bytes.n);
        std::string reason;
        if (room >= 0 && room < length) {
            reason = notEnoughRoom(length, room);
        } else if (output.open(name, handler.writeDirect())) {
            if (bytes.to >= 0)
                output.copyFrom(bytes.input, bytes.from, bytes.to, buffer);
            else
                bytes.to = bytes.scan->movie(bytes.n, [&](const char* data, std::size_t size) { output.append(data, size); });
            if (output.commit()) {
                written.push_back(name);
                return Saved::yes;
            }
            reason = output.reason();
        } else {
            reason = output.reason();
        }
        handler.renameMovie(movie, reason);
        if (handler.stopping()) return Saved::stop;
        if (movie->getLoadFlag() != Queue) return Saved::declined;
        if (movie->getFileName() == name) return Saved::later;  // asked; the answer comes when someone is there
    }
}

// Each queued movie to its file: the n-th header begins the n-th movie. With the header
// offsets known, each movie is one range of the file; else one scan finds them as it copies.
void splitMovies(const InputFile& in, const ServerFile& file, SplitHandler& handler,
                 const std::vector<std::int64_t>* headers, const FreeSpace& room) {
    std::vector<std::string> written;
    DirectBuffer buffer(directBlockSize + DirectBuffer::alignment);  // a block and a header's look-ahead
    Scan scan(in.fd, buffer, directBlockSize, file.getMovies().size());
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
        if (bytes.from < 0) {
            movie->setBroken();
        } else {
            const Saved saved = saveMovie(movie, handler, room, bytes, written, buffer);
            if (saved == Saved::stop) return;  // the movie stays queued for the next run
            if (saved == Saved::later) continue;  // queued, its file kept: not finished
            if (saved == Saved::yes) movie->setLoaded();
        }
        handler.addFinishedMovie(movie);
    }
}

}  // namespace

std::string notEnoughRoom(std::int64_t needed, std::int64_t free) {
    return "not enough free space (" + std::to_string((needed + 1048575) / 1048576) + " MB needed, " +
           std::to_string(free / 1048576) + " MB free)";
}

void SplitHandler::claimFreeName(const Movie* movie, const std::vector<std::string>& written) {
    const std::string name = movie->getFileName();
    if (std::find(written.begin(), written.end(), name) == written.end()) return;
    for (int n = 2;; ++n)
        if (std::string other = tavik::vemlis_loader::numberedName(name, n);
            std::find(written.begin(), written.end(), other) == written.end())
            return movie->queue(other);
}

bool saveKeptMovie(const std::filesystem::path& kept, const Movie* movie, SplitHandler& handler, const FreeSpace& room) {
    const InputFile in(kept, O_NOFOLLOW);
    std::vector<std::string> written;
    DirectBuffer buffer(directBlockSize);
    switch (saveMovie(movie, handler, room, MovieBytes{in.fd, 0, fileSize(in.fd), nullptr, 0}, written, buffer)) {
        case Saved::yes: movie->setLoaded(); break;
        case Saved::declined: break;
        case Saved::stop:
        case Saved::later: return false;
    }
    handler.addFinishedMovie(movie);
    return true;
}

void splitFile(const std::filesystem::path& input, const ServerFile& file, SplitHandler& handler,
               const std::vector<std::int64_t>* headers, const FreeSpace& room) {
    splitMovies(InputFile(input), file, handler, headers, room);
}

}  // namespace vemlis
