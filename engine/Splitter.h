#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tavik::vemlis_loader {
class Movie;
class ServerFile;
}  // namespace tavik::vemlis_loader

namespace vemlis {

// What the splitting asks of its caller for one movie.
class SplitHandler {
public:
    virtual ~SplitHandler() = default;
    // The movie's file could not be created or written: ask for another name. The movie is
    // NoLoad afterwards when the user declined.
    virtual void renameMovie(const tavik::vemlis_loader::Movie* movie) = 0;
    virtual void addFinishedMovie(const tavik::vemlis_loader::Movie* movie) = 0;
};

// Offsets of the AVI headers ("RIFF", 4 bytes, "AVI", 1 byte, "LIST") in a file, read front to
// back in blocks. A header whose byte after "AVI" is "X" continues the movie before it
// (the further RIFF chunks of an AVI over 1 GiB) and is no header here.
class HeaderScanner final {
public:
    // Reads `block` bytes at a time: small enough for the copy out to find them in the cache.
    static constexpr std::size_t defaultBlock = 256 * 1024;
    explicit HeaderScanner(int fd, std::size_t block = defaultBlock);
    HeaderScanner(const HeaderScanner&) = delete;
    HeaderScanner& operator=(const HeaderScanner&) = delete;

    // Moves to the next header, handing every byte passed over (from the current position,
    // the current header included) to `pass` when it is given. True when a header was found;
    // false at the end of the file, when everything up to the end was passed over.
    using Pass = std::function<void(const char*, std::size_t)>;
    bool advance(const Pass& pass);
    bool skip() { return advance(nullptr); }

    // The file offset of the current position (the header found last).
    std::int64_t position() const { return offset + static_cast<std::int64_t>(at); }

private:
    bool fill();  // reads more, keeping [at, end) at the front; false at the end of the file

    int fd;
    std::vector<char> buffer;
    std::int64_t offset = 0;  // file offset of buffer[0]
    std::size_t at = 0;       // current position in the buffer
    std::size_t end = 0;      // bytes held
    bool atHeader = false;
    bool eof = false;
};

// The same headers found in a stream handed over piece by piece, as a download arrives, so that
// the splitting need not read the whole file again to find them.
class HeaderIndex final {
public:
    void feed(const char* data, std::size_t size);
    // The offsets of the headers in the bytes fed so far.
    const std::vector<std::int64_t>& getHeaders() const { return headers; }

private:
    void search(const char* data, std::size_t size, std::int64_t start, std::size_t lastStart);

    std::string tail;         // the last bytes fed, fewer than a header
    std::int64_t fed = 0;     // bytes fed so far
    std::int64_t nextAllowed = 0;
    std::vector<std::int64_t> headers;
};

// Cuts a downloaded server file into its movies: the n-th header goes with the n-th movie of
// the file; every queued movie is written to its file name and set Loaded, a queued movie
// without a header is set Broken. Throws std::system_error when the input cannot be read.
// With the file's header offsets at hand (a HeaderIndex of the download) the movies are copied
// inside the kernel without reading the file into the program.
void splitFile(const std::filesystem::path& input, const tavik::vemlis_loader::ServerFile& file,
               SplitHandler& handler, const std::vector<std::int64_t>* headers = nullptr);

}  // namespace vemlis
