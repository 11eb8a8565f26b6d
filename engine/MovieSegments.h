#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Splitter.h"
#include "engine/disk/DirectWrites.h"
#include "engine/disk/KeptParts.h"
#include "engine/disk/MovieFile.h"
#include "engine/net/HttpClient.h"
#include "model/Forward.h"

namespace vemlis {

// Whether the bytes that have arrived in the segments hold all of [from, to).
bool coveredBy(const std::vector<Segment>& segments, std::int64_t from, std::int64_t to);

// The queued movies of one server file written where their bytes belong as they come over
// several connections. The headers are known before the first byte (each movie's RIFF size
// leads to the next header), so each byte of a queued movie goes straight into that movie's
// part file at its place (in whole pages past the page cache, by DirectWrites), and nothing
// else is written anywhere. A movie is put in place and
// "Downloaded" as soon as the segments cover it, while the rest of the file still comes; what
// has come is noted beside the state now and then, so that a break or a kill goes on from there.
class MovieSegments final : public OffsetSink {
public:
    // `point`: the file's headers and segments, with the parts a broken transfer kept.
    MovieSegments(const tavik::vemlis_loader::ServerFile& file, SplitHandler& handler, const FreeSpace& room,
                  KeptParts& notes, const SegmentResume& point);

    // Opens the part file of every queued movie at its whole length (or the one a broken
    // transfer kept), before the first request. A movie whose name the system refuses, or that
    // does not fit where it goes, gets its bytes kept aside beside the state instead
    // (KeptParts::asidePath), and the question about it comes once the file is in. False (see
    // `failure`) when not even that can be made.
    bool prepare();
    bool writeAt(std::int64_t offset, const char* data, std::size_t size) override;
    // Puts every movie the segments cover in place, and notes where the transfer stands.
    void progress(const std::vector<Segment>& segments) override;
    // Every segment came: the movies left are put in place, and a queued movie without a
    // header is a wrong link. False when a movie could not be written (see `failure`).
    bool finish(const std::vector<Segment>& segments);
    // After a break: keeps the part files for a later transfer and says where it may go on;
    // nothing when a part could not be kept whole.
    std::optional<SegmentResume> breakOff(const std::vector<Segment>& segments);

    // Removes the part files prepare() made or took up, before the file comes another way.
    void dropParts() {
        settle();
        runs.clear();
        outputs.clear();
    }
    ~MovieSegments();

    std::string failure;  // why a movie could not be written

private:
    struct Output {
        std::size_t movie = 0;
        std::int64_t from = 0;  // the movie's bytes in the file
        std::int64_t to = 0;
        std::string name;
        bool aside = false;  // kept aside: `name` is beside the state
        MovieFile file;
    };
    // The part at `name` with room for the movie; false (see `failure`) when it cannot be made.
    bool create(Output& output, const std::string& name);
    // Where one connection writes: its bytes are gathered into whole pages for the disk.
    struct Run {
        Output* output = nullptr;
        std::int64_t end = 0;   // the next byte it writes, in the file
        std::int64_t from = 0;  // not sent to the disk yet, in the movie (through the page cache)
        DirectBuffer* block = nullptr;  // being filled, for a write straight to the disk
        std::int64_t blockAt = 0;       // where the block goes, in the movie
        std::size_t filled = 0;
    };
    // The queued movie the offset lies in, if any; `end` is cut to where that answer changes.
    Output* outputAt(std::int64_t offset, std::int64_t& end);
    Run& runAt(Output& output, std::int64_t offset);
    void put(Run& run, const char* data, std::size_t size);
    // Sends what the run's block holds: its whole pages straight to the disk, the rest through
    // the page cache.
    void send(Run& run);
    // Sends every block and waits for every write: what the segments count is then in the part
    // files. False when a write failed (see `failure`).
    bool settle();
    DirectWrites& writes();
    bool commitCovered(const std::vector<Segment>& segments);
    // Takes in the movies put in place meanwhile (all of them, waiting, when `wait`); false
    // when one could not be.
    bool collect(bool wait);
    void note(const std::vector<Segment>& segments);
    const tavik::vemlis_loader::Movie* movie(std::size_t n) const;

    const tavik::vemlis_loader::ServerFile& file;
    SplitHandler& handler;
    const FreeSpace& room;
    KeptParts& notes;
    const std::string url;
    SegmentResume point;
    std::vector<std::unique_ptr<Output>> outputs;  // the queued movies not put in place yet
    // Movies being put in place on threads of their own: the flush waits for the disk, and the
    // connections must not wait with it.
    struct Committing {
        std::unique_ptr<Output> output;
        std::future<bool> done;
    };
    std::vector<Committing> committing;
    std::vector<Run> runs;
    // Last, so that it goes first: no write may outlive the files it writes to.
    std::unique_ptr<DirectWrites> pool;
};

}  // namespace vemlis
