#pragma once

#include <filesystem>
#include <vector>

#include "engine/HttpClient.h"

namespace vemlis {

// A file that takes a download, written in blocks of 1 MiB or more. A failed creation,
// write or close is a StreamError.
class FileSink final : public ByteSink {
public:
    // Creates the file, or empties it; isOpen() tells whether that worked.
    explicit FileSink(const std::filesystem::path& path);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    bool isOpen() const { return fd >= 0; }
    void write(const char* data, std::size_t size) override;
    // Writes what is buffered and closes the file.
    void close();

private:
    void flush();
    void writeAll(const char* data, std::size_t size);

    int fd;
    std::vector<char> buffer;
};

}  // namespace vemlis
