#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/AviHeaders.h"
#include "engine/Splitter.h"
#include "engine/disk/DirectWrites.h"
#include "engine/disk/KeptParts.h"
#include "engine/disk/MovieFile.h"
#include "engine/net/HttpClient.h"
#include "model/Forward.h"

namespace vemlis {

// The queued movies of one server file written as its bytes arrive in order: each byte of a
// queued movie goes straight into that movie's part file, nothing else is written anywhere, and
// a movie is put in place and "Downloaded" as soon as the next header shows that it is whole,
// while the rest of the file still comes. A break keeps the part of the movie in progress, so
// that the next transfer goes on from the byte it stopped at. A movie whose name the system
// refuses, or that has no room where it goes, gets its bytes kept aside beside the state
// (KeptParts::asidePath), and the question about it comes once the file is in. A write that
// fails stops the transfer with StreamError; the file is then fetched and split as a whole.
// Once the last movie it writes is whole, the transfer ends: the rest is nobody's.
class MovieStream final : public ByteSink {
public:
    // `resume`: where a broken transfer left off (null: from the start); `segmentFrom`: an
    // answer this long that allows ranges is declined, to come in segments (0: never).
    MovieStream(const tavik::vemlis_loader::ServerFile& file, SplitHandler& handler, const FreeSpace& room,
                const KeptParts& notes, const StreamResume* resume, std::int64_t segmentFrom);

    // Opens the part file of every queued movie before the request; a movie whose part cannot
    // be made goes aside. False (see `failure`) when the part a break kept cannot be taken up.
    bool prepare();
    bool begin(const ResponseInfo& answer) override;
    bool write(const char* data, std::size_t size) override;
    bool enough() const override { return satisfied; }
    // The body has ended: its last bytes go to their movies, and every movie but the last is
    // put in place. False when a movie could not be written (see `failure`).
    bool complete();
    // The body arrived whole, or all that was wanted of it (after complete()): the last movie is
    // put in place, and a queued movie without a header is a wrong link. False when a movie
    // could not be written.
    bool finish();

    // After a break (and complete()): keeps the part of the movie in progress and says where a
    // later transfer of the same version may go on.
    std::optional<StreamResume> breakOff();
    // The body ended inside its last movie, as that movie's RIFF size says (after complete()).
    bool endsInsideAMovie() const;
    std::size_t headersFound() const { return index.getHeaders().size(); }
    std::int64_t received() const { return fed; }
    const ResponseInfo& answer() const { return info; }

    // Removes the part files prepare() made, before the movies are written another way.
    void dropParts() { outputs.clear(); }

    bool useSegments = false;  // the answer was declined: the file comes in segments
    std::string failure;       // why a movie could not be written

private:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);
    bool route(const char* data, std::size_t size);
    bool take(const char* data, std::size_t size);
    bool startMovie(std::size_t n);
    // Whether a movie from the n-th on is still to be written.
    bool wantedFrom(std::size_t n) const;
    bool endMovie();
    // Sends the bytes gathered: whole pages straight to the disk (by DirectWrites), the rest
    // through the page cache.
    void flush();
    // Sends them and waits for every write of the movie; false (see `failure`) when one failed.
    bool settle();
    // How many bytes the block takes: up to the next whole page of the movie first.
    std::size_t blockRoom() const;
    bool checkRoom();
    bool keepAside();
    bool stop(std::string reason);
    const tavik::vemlis_loader::Movie* movie(std::size_t n) const;

    const tavik::vemlis_loader::ServerFile& file;
    SplitHandler& handler;
    const FreeSpace& room;
    const KeptParts& notes;
    const StreamResume* const resume;
    const std::int64_t segmentFrom;
    ResponseInfo info;
    HeaderIndex index;
    std::int64_t fed = 0;     // bytes of the file seen
    std::int64_t routed = 0;  // bytes of the file handed to their movie (or dropped)
    std::string pending;      // [routed, fed): a header may still begin there
    bool satisfied = false;   // the movies it writes are all whole: the rest is not wanted
    std::size_t nextHeader = 0;
    // The movie whose bytes come now.
    std::size_t current = none;
    std::int64_t movieStart = 0;
    bool writing = false;
    char head[8] = {};
    std::size_t headLength = 0;
    std::int64_t currentLength = -1;  // its RIFF size once known
    std::vector<std::optional<MovieFile>> outputs;  // by movie, for the queued ones
    std::vector<bool> aside;                         // by movie: its bytes go aside
    DirectBuffer* block = nullptr;  // gathering the current movie's next bytes
    std::size_t gathered = 0;
    std::int64_t movieWritten = 0;  // bytes of the current movie sent to its part
    std::vector<std::string> written;
    // Last, so that it goes first: no write may outlive the files it writes to.
    std::unique_ptr<DirectWrites> pool;
};

}  // namespace vemlis
