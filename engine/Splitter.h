#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/disk/FileIo.h"
#include "model/Forward.h"

namespace vemlis {

// What the splitting asks of its caller for one movie.
class SplitHandler {
public:
    virtual ~SplitHandler() = default;
    // The movie's file could not be created or written (`reason`, in the system's words): ask
    // for another name. The movie is NoLoad afterwards when the user declined; queued under the
    // same name, the answer comes later: the movie waits, unsaved, and the others go on.
    virtual void renameMovie(const tavik::vemlis_loader::Movie* movie, const std::string& reason) = 0;
    virtual void addFinishedMovie(const tavik::vemlis_loader::Movie* movie) = 0;
    // Before a movie is written: gives it the next free " (n)" form of its name when another
    // movie holds the name (`written`: the names saved in this pass). The default checks
    // `written` only and renames on the calling thread.
    virtual void claimFreeName(const tavik::vemlis_loader::Movie* movie, const std::vector<std::string>& written);
    // Whether movies are written straight to the disk, past the page cache, where the file
    // system takes it (the default): they are flushed before they count as saved anyway, and
    // so they neither pay for the page cache's writeback nor push everything else out of it.
    virtual bool writeDirect() const { return true; }
    // True when the splitting must end now (the program is being closed): asked after each
    // question, so that a question closed by the ending leaves the movie queued.
    virtual bool stopping() const { return false; }
};

// Why a movie of `needed` bytes is not written where `free` bytes are free.
std::string notEnoughRoom(std::int64_t needed, std::int64_t free);

// Cuts a downloaded server file into its movies: the n-th header goes with the n-th movie of
// the file; every queued movie is written to its file name and set Loaded, a queued movie
// without a header is set Broken. A movie that cannot be written (no room, a bad name, a
// failed write) is renamed by the handler. Throws std::system_error when the input cannot be
// read. The file's header offsets are those noted during the download, else the one pass that
// copies the movies finds them. A movie is written only where `room` says it fits.
void splitFile(const std::filesystem::path& input, const tavik::vemlis_loader::ServerFile& file,
               SplitHandler& handler, const std::vector<std::int64_t>* headers = nullptr,
               const FreeSpace& room = FreeSpace());

// Saves a queued movie whose bytes were kept aside in `kept` because they could not be written
// where they belonged as they came, asking as the splitting does. True when the kept file is of
// no more use: the movie was saved (and is Loaded) or declined; false while the movie waits for
// an answer. Throws std::system_error when the kept file cannot be read.
bool saveKeptMovie(const std::filesystem::path& kept, const tavik::vemlis_loader::Movie* movie, SplitHandler& handler,
                   const FreeSpace& room = FreeSpace());

}  // namespace vemlis
