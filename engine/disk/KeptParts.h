#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/net/HttpClient.h"

namespace vemlis {

// Where a broken transfer of a file written as it came may go on: the first byte not handled,
// on the condition of the same version, with the headers found before it.
struct StreamResume {
    std::int64_t from = 0;
    std::int64_t length = 0;
    std::string validator;
    std::vector<std::int64_t> headers;
    std::int64_t lastLength = -1;  // the RIFF size of the movie `from` lies in (-1: unknown)
    // The movie `from` lies in when its part file was kept: it holds the movie up to `from`.
    std::size_t partMovie = static_cast<std::size_t>(-1);
    std::string partName;  // the movie's name when its part was kept
};

// Where a broken transfer of a file whose movies were written over several connections may go
// on: its segments, on the condition of the same version, with the headers its movies begin at
// and the part file each queued movie kept (each holds the movie's whole length, holes where
// its segments have not come yet).
struct SegmentResume {
    std::int64_t length = 0;
    std::string validator;
    std::vector<std::int64_t> headers;
    std::vector<Segment> segments;
    std::vector<std::pair<std::size_t, std::string>> parts;  // a movie, and its name when its part was kept

    // Where the n-th movie's bytes are in the file (n < headers.size()): to the next header, or
    // to the end of the file.
    std::pair<std::int64_t, std::int64_t> movie(std::size_t n) const {
        return {headers[n], n + 1 < headers.size() ? headers[n + 1] : length};
    }
};

// The bytes that broken transfers left, so that the next transfer of the same file asks only
// for the rest. The file being downloaded is temp.kq4; beside it, temp.kq4.info holds its URL,
// the file's length and the server's validator (ETag, else Last-Modified). When another file
// is taken meanwhile, a kept part is parked as temp-<hash>.kq4 (with its .info) and taken back
// when its file's turn comes again. Used by the load thread only.
class KeptParts final {
public:
    explicit KeptParts(std::filesystem::path folder);

    std::filesystem::path current() const { return folder / "temp.kq4"; }

    // Makes temp.kq4 hold what is kept of the URL's file (parking another file's part first)
    // and says where to ask from: {0, ""} when nothing usable is kept, and then nothing is; an
    // offset equal to the length when the whole file is kept. A file fetched in segments comes
    // back with offset 0, its validator and keptSegments(). Nothing is ever read or written
    // through a link at these paths.
    ResumeFrom prepare(const std::string& url);
    // The segments of the part prepare() found, when it was fetched in segments.
    const std::vector<Segment>& keptSegments() const { return segments; }
    // temp.kq4 is fetched in these segments (it has the file's whole length).
    void rememberSegments(const std::string& url, const std::string& validator, const std::vector<Segment>& parts);
    // The transfer of the URL began with this answer: what temp.kq4 now holds can be resumed
    // when the server gave a validator, and taken as it is once whole even without one.
    void remember(const std::string& url, const ResponseInfo& info);
    // Removes temp.kq4 and its side file (the file was split, or its part is worthless).
    void forgetCurrent();
    // Removes every part whose file is not wanted any more, and any temp.kq4 without a side
    // file that matches it.
    void discardUnwanted(const std::function<bool(const std::string& url)>& wanted);

    // What a side file says.
    struct Info {
        std::string url;
        std::int64_t length = 0;
        std::string validator;
        std::vector<Segment> segments;
    };
    // Reads a side file's text; false when it is not one of ours, of this boot, whole and sound.
    static bool parse(const std::string& text, Info& info);

    // Files written as they came keep no temp.kq4: what a break left is the part of the movie
    // in progress, and where to go on is noted in temp-<hash>.stream.
    void rememberStream(const std::string& url, const StreamResume& point);
    void forgetStream(const std::string& url);
    // Every such note of this boot, by URL; notes of another boot, or not whole, go.
    std::vector<std::pair<std::string, StreamResume>> keptStreams() const;
    // Reads a note's text; false when it is not one of ours, of this boot, whole and sound.
    static bool parseStream(const std::string& text, std::string& url, StreamResume& point);

    // The same for files whose movies came in segments: temp-<hash>.movies.
    void rememberSegments(const std::string& url, const SegmentResume& point);
    void forgetSegments(const std::string& url);
    std::vector<std::pair<std::string, SegmentResume>> keptSegmentResumes() const;
    static bool parseSegments(const std::string& text, std::string& url, SegmentResume& point);

    // A queued movie that could not be written as its bytes came (its name refused, no room
    // where it goes) gets them here instead, as temp-<hash>-<n>.movie, so that the answer to
    // the question saves it without the file coming again. The file is there only once whole
    // and on the disk (its ".part" before).
    std::filesystem::path asidePath(const std::string& url, std::size_t movie) const;
    // Removes every such file, and its part, that is not at one of these paths.
    void discardAsides(const std::vector<std::filesystem::path>& wanted);

private:
    // The text of every note named temp-*<suffix>, each with its path.
    std::vector<std::pair<std::filesystem::path, std::string>> notes(const std::string& suffix) const;
    static bool read(const std::filesystem::path& infoPath, Info& info);
    static std::filesystem::path infoOf(const std::filesystem::path& part);
    std::filesystem::path parkedPath(const std::string& url) const;
    std::filesystem::path streamPath(const std::string& url) const;
    std::filesystem::path notePath(const std::string& url, const char* suffix) const;
    static void remove(const std::filesystem::path& part);

    const std::filesystem::path folder;
    std::vector<Segment> segments;
};

}  // namespace vemlis
