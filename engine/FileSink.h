#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/HttpClient.h"
#include "engine/Splitter.h"

namespace vemlis {

// Writes every byte, going on after interrupted and short writes. False (errno set) when the
// file takes no more.
bool writeFully(int fd, const char* data, std::size_t size);

// Replaces the file with the bytes, whole or not at all: written beside it, flushed to disk
// (unless not `durable`: then a crash of the program, not of the system, leaves it whole) and
// renamed over it. Returns an empty text on success, else the system's reason; the old file is
// then left as it was.
std::string replaceFile(const std::filesystem::path& path, std::string_view bytes, bool durable = true);

// Whether a file could be written at the path: creates and removes a file beside it, and
// checks that the path itself, if present, is a writable regular file. Empty text when so,
// else the system's reason.
std::string checkWritable(const std::filesystem::path& path);

// A file that takes a download, written in blocks of 1 MiB or more. A failed creation,
// write or close is a StreamError.
class FileSink final : public ByteSink {
public:
    // Creates the file, or empties it (or, with append, writes after what it holds); isOpen()
    // tells whether that worked.
    explicit FileSink(const std::filesystem::path& path, bool append = false);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    bool isOpen() const { return fd >= 0; }
    // Sets the disk room for the announced body aside before it comes.
    void begin(const ResponseInfo& info) override { reserve(info.contentLength); }
    // Sets aside room for `bytes` more bytes after what the file holds, its size unchanged: the
    // file system then need not find room piece by piece, which costs more than the copy.
    // Where it cannot, nothing changes.
    void reserve(std::int64_t bytes);
    void write(const char* data, std::size_t size) override;
    // Writes what is buffered and closes the file.
    void close();

private:
    void flush();
    void writeAll(const char* data, std::size_t size);

    int fd;
    std::vector<char> buffer;
};

// A download into a file whose AVI headers are noted as the bytes go by, so that the
// splitting need not read the file again to find them.
class IndexingSink final : public ByteSink {
public:
    IndexingSink(FileSink& file, HeaderIndex& index) : file(file), index(index) {}
    void begin(const ResponseInfo& info) override { file.begin(info); }
    void write(const char* data, std::size_t size) override {
        index.feed(data, size);
        file.write(data, size);
    }

private:
    FileSink& file;
    HeaderIndex& index;
};

}  // namespace vemlis
