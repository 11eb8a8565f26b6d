#pragma once

#include <cstdint>
#include <string>

namespace vemlis {

// A block for direct writes, aligned for any device's direct I/O.
class DirectBuffer final {
public:
    static constexpr std::size_t alignment = 4096;
    explicit DirectBuffer(std::size_t size);
    ~DirectBuffer();
    DirectBuffer(const DirectBuffer&) = delete;
    DirectBuffer& operator=(const DirectBuffer&) = delete;
    char* data() const { return block; }
    std::size_t size() const { return length; }

private:
    char* const block;
    const std::size_t length;
};

// One movie's file: written as "<name>.part" and renamed over the name once complete and on
// disk, so an existing file is replaced only by a whole movie. Write errors are remembered,
// not thrown; whatever did not commit is removed when the object goes.
class MovieFile final {
public:
    MovieFile() = default;
    ~MovieFile() { discard(); }
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;

    // False when the part file cannot be made, the name holds a control character, or the name
    // is taken by something that is no regular file (a folder, a device): that is never
    // replaced. `direct`: write past the page cache where the file system takes it.
    bool open(const std::string& name, bool direct);
    // Goes on with the part file a broken transfer kept, cut to its first `length` bytes. False
    // when it is not there whole, or cannot be opened.
    bool reopen(const std::string& name, std::int64_t length, bool direct);
    // Empties the part file, to be written from its start again.
    bool restart();
    // Closes the part file and leaves it for reopen(); false when its bytes did not all go in.
    bool keep();
    // False once a write failed.
    bool good() const { return !failed; }
    // The system's words for what went wrong last.
    std::string reason() const;
    // Copies [from, to) of the input file: straight to the disk in aligned blocks when the file
    // was opened so, else inside the kernel where it can, else through memory.
    void copyFrom(int input, std::int64_t from, std::int64_t to, DirectBuffer& buffer);
    // Adds bytes at the end: straight to the disk while they come in whole aligned blocks at
    // aligned places (the buffer's blocks), through the page cache from the first that does not.
    void append(const char* data, std::size_t size);
    // Appends through the page cache and has the kernel write each 4 MiB out at once, dropping
    // what is on the disk from the cache: the disk works while the next bytes arrive, and the
    // cache holds no more than a few blocks of the movie. For bytes that come from the network.
    void appendBehind(const char* data, std::size_t size);
    // Gives the part file the movie's whole length, its room set aside where the file system
    // can: bytes that come out of order then find their place. False when there is no room.
    bool setLength(std::int64_t length);
    // Writes at the offset, through the page cache. For bytes that come over several connections.
    void writeAt(std::int64_t offset, const char* data, std::size_t size);
    // Has the kernel start writing [from, to) out now, without waiting for it: the disk works
    // while the next bytes come, and the network never waits for the disk. The pages leave the
    // cache once commit() has them on the disk.
    void writeOut(std::int64_t from, std::int64_t to);
    // The part file opened a second time for writes straight to the disk, past the page cache,
    // of whole pages at whole pages (DirectBuffer::alignment); -1 where the file system takes
    // none or is better written through the cache. For writes made elsewhere (DirectWrites):
    // the file is told of a failed one by failWith().
    int directFd();
    // From now on every write goes through the page cache: directFd() is -1.
    void keepInPageCache() { cachedOnly = true; }
    int bufferedFd() const { return fd; }
    void failWith(int systemError);
    // Puts the complete movie in place: on disk first, so that a state that calls it
    // downloaded never outlives its bytes. True when it is there; else the part file is gone.
    bool commit();

private:
    void fail();
    void write(const char* data, std::size_t size);
    void leaveDirect();
    void copyThroughBuffer(int input, std::int64_t from, std::int64_t to, DirectBuffer& buffer);
    void discard();
    void closeDirect();

    int fd = -1;
    int direct = -1;      // see directFd(); -2: none to be had
    std::size_t alignment = 0;  // of direct writes; 0 when writing through the page cache
    bool cachedOnly = false;
    bool failed = false;
    int error = 0;
    std::string finalName;
    std::string partName;  // set while a part file of ours exists
    std::int64_t written = 0;  // by appendBehind
    std::int64_t started = 0;  // written out from here on, by appendBehind
    std::int64_t settled = 0;  // on the disk and out of the cache up to here
};

}  // namespace vemlis
