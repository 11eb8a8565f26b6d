#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/disk/FileIo.h"
#include "engine/AviHeaders.h"
#include "engine/MovieStream.h"
#include "engine/net/HttpClient.h"

namespace vemlis {

class KeptParts;
class SplitHandler;

// Fetches one server file into temp.kq4: goes on from what an earlier transfer kept, over
// several connections for a large file from a server that serves ranges, and notes the AVI
// headers as the bytes go by when they come in order. Says what happened as a value.
class FileTransfer final {
public:
    struct Outcome {
        enum class Kind {
            done,        // temp.kq4 holds the whole file
            wrongLink,   // the server does not have the file (404, 410)
            startOver,   // what was kept is no part of this file: fetch it whole, now
            setAside,    // failed for now: try again after a while
            stopped,     // stop or close broke it off; what arrived is kept
            diskFailed,  // temp.kq4 cannot be written: the run cannot go on
            noRoom,      // the disk has no room for the file now: it waits, kept as it is
            unstreamed,  // a movie could not be written as its bytes came: fetch the file whole, now
        };
        Outcome(Kind kind, std::optional<HttpError> error = std::nullopt, bool noRanges = false)
            : kind(kind), error(std::move(error)), noRanges(noRanges) {}
        Kind kind;
        std::optional<HttpError> error;  // what failed, for startOver and setAside
        // The server answered a range with something else: this file is fetched over one
        // connection, without ranges, from now on.
        bool noRanges = false;
        // For noRoom: the bytes the file needs on the disk and those free there.
        std::int64_t needed = 0;
        std::int64_t free = 0;
        // For done: the movies were written as the bytes came, and nothing is left to split.
        bool streamed = false;
    };
    FileTransfer(HttpClient& http, KeptParts& parts, const FreeSpace& freeSpace);

    // `connections`: at most this many at once (1: never segments); `movies`: how many the
    // file holds, which bounds the headers noted.
    Outcome fetch(const std::string& url, int connections, std::size_t movies);
    // The same, writing the file's queued movies as its bytes come when they come in order
    // (one connection, nothing kept of an earlier transfer); else as fetch().
    Outcome fetchMovies(const tavik::vemlis_loader::ServerFile& file, int connections, SplitHandler& handler);
    // The header offsets noted during the transfer, or null when its bytes came in segments
    // (the splitting finds them then).
    const std::vector<std::int64_t>* headers() const { return headersKnown ? &index.getHeaders() : nullptr; }

    // The part files of movies that broken transfers kept for going on.
    std::vector<std::string> keptMovieParts() const;
    // Removes what broken transfers kept for going on of files no longer wanted.
    void dropResumes(const std::function<bool(const std::string& url)>& wanted);

    // Files this large from servers that serve ranges come over several connections.
    static constexpr std::int64_t smallestSegmented = std::int64_t(16) << 20;

private:
    Outcome segmented(const std::string& url, const std::string& validator, std::vector<Segment> segments,
                      int connections);
    // The answer was declined to come in segments: it starts over in them.
    Outcome inSegments(const std::string& url, const ResponseInfo& answer, int connections);
    // The same, each queued movie written where its bytes belong as they come, when the
    // movies' headers can be known before.
    Outcome movieSegments(const tavik::vemlis_loader::ServerFile& file, const ResponseInfo& answer, int connections,
                          SplitHandler& handler);
    Outcome movieSegments(const tavik::vemlis_loader::ServerFile& file, const SegmentResume& point, int connections,
                          SplitHandler& handler);
    // Where the file's movies begin, read from the server by following each movie's RIFF size
    // to the next header: nothing when the sizes do not lead from header to header to the end
    // of the file (or to a header past the movies the file lists). Throws HttpError.
    std::optional<std::vector<std::int64_t>> movieHeaders(const std::string& url, const std::string& validator,
                                                          std::int64_t length, std::size_t movies);
    // Whether what a broken transfer kept can go on with the movies queued now; the parts of
    // movies no longer queued go.
    bool usable(const tavik::vemlis_loader::ServerFile& file, SegmentResume& point) const;
    void dropSegmentResume(const std::string& url);
    Outcome failed(const HttpError& error);
    static Outcome noRoom(std::int64_t needed, std::int64_t free);
    void dropResume(const std::string& url);
    // The file ended inside its last movie (looked at only when no length was announced).
    bool endsInsideAMovie() const;

    HttpClient& http;
    KeptParts& parts;
    const FreeSpace& freeSpace;
    HeaderIndex index;
    bool headersKnown = true;
    // Where broken transfers of files written as they came may go on, by URL.
    std::unordered_map<std::string, StreamResume> streamResumes;
    // The same for files whose movies came in segments.
    std::unordered_map<std::string, SegmentResume> segmentResumes;
};

}  // namespace vemlis
