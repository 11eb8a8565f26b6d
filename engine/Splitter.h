#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "model/Forward.h"

namespace vemlis {

// Bytes free for an unprivileged writer on the file system that holds the path (a folder or a
// file that need not exist yet: its nearest existing folder counts); -1 when unknown.
std::int64_t freeSpaceAt(const std::filesystem::path& path);

// What the splitting asks of its caller for one movie.
class SplitHandler {
public:
    virtual ~SplitHandler() = default;
    // The movie's file could not be created or written (`reason`, in the system's words): ask
    // for another name. The movie is NoLoad afterwards when the user declined.
    virtual void renameMovie(const tavik::vemlis_loader::Movie* movie, const std::string& reason) = 0;
    virtual void addFinishedMovie(const tavik::vemlis_loader::Movie* movie) = 0;
    // Before a movie is written: gives it the next free " (n)" form of its name when another
    // movie holds the name (`written`: the names saved in this pass). The default checks
    // `written` only and renames on the calling thread.
    virtual void claimFreeName(const tavik::vemlis_loader::Movie* movie, const std::vector<std::string>& written);
    // Bytes free where the file would go; the default asks the system.
    virtual std::int64_t freeSpace(const std::filesystem::path& file) { return freeSpaceAt(file); }
    // Whether movies are written straight to the disk, past the page cache, where the file
    // system takes it (the default): they are flushed before they count as saved anyway, and
    // so they neither pay for the page cache's writeback nor push everything else out of it.
    virtual bool writeDirect() const { return true; }
};

// Offsets of the AVI headers ("RIFF", 4 bytes, "AVI", 1 byte, "LIST") in a stream handed over
// piece by piece, as a download arrives, so that the splitting need not read the file again to
// find them. A header whose byte after "AVI" is "X" continues the movie before it (the further
// RIFF chunks of an AVI over 1 GiB) and is no header here.
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

// The headers of a whole file, read front to back in blocks of `block` bytes, as an index that
// more bytes can be fed to. Throws std::system_error when the file cannot be read.
HeaderIndex indexFile(const std::filesystem::path& path, std::size_t block = 1 << 20);
// The header offsets of a whole file.
std::vector<std::int64_t> scanHeaders(const std::filesystem::path& path, std::size_t block = 1 << 20);

// Cuts a downloaded server file into its movies: the n-th header goes with the n-th movie of
// the file; every queued movie is written to its file name and set Loaded, a queued movie
// without a header is set Broken. Each movie is written to "<name>.part", flushed to disk and
// renamed over its name only when complete, so an existing file is replaced only by a whole
// movie. A movie that cannot be written (no room, a bad name, a failed write) is renamed by
// the handler. Throws std::system_error when the input cannot be read.
// The file's header offsets are those a HeaderIndex noted during the download, else the one
// pass that copies the movies finds them.
void splitFile(const std::filesystem::path& input, const tavik::vemlis_loader::ServerFile& file,
               SplitHandler& handler, const std::vector<std::int64_t>* headers = nullptr);

}  // namespace vemlis
