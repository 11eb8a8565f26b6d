#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vemlis {

// temp.kq4 while a server file arrives: appended to in order (one connection), or written at
// the offsets where each segment's bytes belong (several). Opened without following a link, so
// that a link planted at its path never redirects the download. Writes report failure by
// their result; the file is closed when the object goes.
class TempFile final {
public:
    enum class Mode {
        create,     // emptied, or made
        append,     // written after what it holds
        atOffsets,  // written with writeAt(), at the length given to setLength()
    };
    TempFile(const std::filesystem::path& path, Mode mode);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool isOpen() const { return fd >= 0; }
    // Sets aside room for `bytes` more bytes after what the file holds, its size unchanged: the
    // file system then need not find room piece by piece, which costs more than the copy.
    // Where it cannot, nothing changes.
    void reserve(std::int64_t bytes);
    // Gives the file its whole length with its room set aside. False when it cannot.
    bool setLength(std::int64_t length);
    // Appends, gathered into writes of 1 MiB or more. False when the file takes no more.
    bool write(const char* data, std::size_t size);
    // Writes at the offset. False when the file takes no more.
    bool writeAt(std::int64_t offset, const char* data, std::size_t size);
    // Writes what is gathered and closes the file; false when either failed.
    bool close();

private:
    bool flush();

    int fd;
    std::vector<char> buffer;
};

}  // namespace vemlis
