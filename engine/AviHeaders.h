#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace vemlis {

// An AVI header: "RIFF", 4 bytes of size, "AVI", 1 byte, "LIST". A header whose byte after
// "AVI" is "X" continues the movie before it (the further RIFF chunks of an AVI over 1 GiB)
// and is no header here.
constexpr std::size_t aviHeaderLength = 16;
bool isAviHeader(const char* bytes);

// The length of the AVI whose header's first 8 bytes these are, as its RIFF size says (the 8
// bytes of "RIFF" and the size included).
std::int64_t aviLength(const char* head);
// The same for the header at `header` in the file; -1 when the size cannot be read.
std::int64_t aviLengthAt(int fd, std::int64_t header);

// Offsets of the AVI headers in a stream handed over piece by piece, as a download arrives, so
// that the splitting need not read the file again to find them. Keeps at most `limit`
// offsets, whatever the stream holds: a server file's n movies need n + 1 (the last one's end).
class HeaderIndex final {
public:
    explicit HeaderIndex(std::size_t limit = defaultLimit) : limit(limit) {}
    // An index that goes on at `fed` bytes, where the headers before were found earlier.
    HeaderIndex(std::size_t limit, std::vector<std::int64_t> found, std::int64_t fed)
        : limit(limit), fed(fed), nextAllowed(found.empty() ? 0 : found.back() + std::int64_t(aviHeaderLength)),
          headers(std::move(found)) {}
    void feed(const char* data, std::size_t size);
    // The offsets of the headers in the bytes fed so far, up to the limit.
    const std::vector<std::int64_t>& getHeaders() const { return headers; }
    std::size_t getLimit() const { return limit; }

    // For a stream whose number of movies is not known: 512 KiB of offsets.
    static constexpr std::size_t defaultLimit = std::size_t(1) << 16;

private:
    void search(const char* data, std::size_t size, std::int64_t start, std::size_t lastStart);

    std::size_t limit;
    std::string tail;         // the last bytes fed, fewer than a header
    std::int64_t fed = 0;     // bytes fed so far
    std::int64_t nextAllowed = 0;
    std::vector<std::int64_t> headers;
};

// The headers of a whole file, read front to back in blocks of `block` bytes, as an index that
// more bytes can be fed to. Throws std::system_error when the file cannot be read.
HeaderIndex indexFile(const std::filesystem::path& path, std::size_t limit = HeaderIndex::defaultLimit,
                      std::size_t block = 1 << 20);

}  // namespace vemlis
