#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

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

// Removes what a replaceFile() or checkWritable() cut short by a kill left in the folder: the
// files `<name>.new-XXXXXX` of every name `ours` takes. Only while no other writer of those
// names runs, since a write in progress looks the same.
void removeUnfinishedReplacements(const std::filesystem::path& folder,
                                  const std::function<bool(std::string_view name)>& ours);

// Flushes the folder that holds the file, so that a rename or creation in it reaches the disk.
void syncFolderOf(const std::filesystem::path& file);

// Bytes free for an unprivileged writer on the file system that holds the path (a folder or a
// file that need not exist yet: its nearest existing folder counts); -1 when unknown.
std::int64_t freeSpaceAt(const std::filesystem::path& path);

// A new file in the folder that no name leads to, open for reading and writing: it goes with
// its last descriptor, also when the program is killed. -1 (errno set) when none could be made.
int openUnlinkedFile(const std::filesystem::path& folder);

// Bytes free where a file would go: the system's figure (freeSpaceAt), or what a test says.
// One of these is asked for the temporary file and for every movie.
class FreeSpace {
public:
    using Source = std::function<std::int64_t(const std::filesystem::path&)>;
    FreeSpace() = default;
    explicit FreeSpace(Source source) : source(std::move(source)) {}
    std::int64_t operator()(const std::filesystem::path& file) const { return source ? source(file) : freeSpaceAt(file); }

private:
    Source source;
};

// The system's words for an errno value.
std::string systemReason(int error);

}  // namespace vemlis
