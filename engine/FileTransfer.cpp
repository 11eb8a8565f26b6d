#include "FileTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "engine/disk/KeptParts.h"
#include "engine/MovieSegments.h"
#include "model/MoviesSet.h"
#include "engine/disk/TempFile.h"
#include "engine/net/SegmentPlan.h"

namespace vemlis {

namespace {

using Kind = FileTransfer::Outcome::Kind;
using tavik::vemlis_loader::Movie;
using tavik::vemlis_loader::ServerFile;

std::int64_t sizeOf(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

// Bytes the file system already holds for the file: written over, they are not asked of the
// disk again (temp.kq4 sets its room aside up front, so a resume needs little or nothing more).
std::int64_t heldBytes(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
    return static_cast<std::int64_t>(info.st_blocks) * 512;
}

// temp.kq4 as the answer arrives: continued after the kept part when a 206 starts where that
// part ends, started over otherwise; the AVI headers noted on the way.
class TempSink final : public ByteSink {
public:
    TempSink(KeptParts& parts, std::string url, const ResumeFrom& resume, HeaderIndex& headers,
             const FreeSpace& room, bool segmentable)
        : parts(parts), url(std::move(url)), resume(resume), headers(headers), room(room), segmentable(segmentable) {}

    bool begin(const ResponseInfo& answer) override {
        info = answer;
        if (segmentable && resume.offset == 0 && answer.status == 200 && answer.acceptsRanges &&
            answer.contentLength >= FileTransfer::smallestSegmented && !answer.validator.empty()) {
            useSegments = true;  // this answer is not taken: the file comes in segments
            return false;
        }
        // The client let only the exact rest of the same version through as a 206.
        const bool continues = resume.offset > 0 && answer.status == 206;
        if (!continues) headers = HeaderIndex(headers.getLimit());  // a whole file: old and new bytes never mix
        // Refused before a byte is written when the rest cannot fit; what is kept stays.
        const std::int64_t free = room(parts.current());
        if (free >= 0) {
            const std::int64_t kept = continues ? sizeOf(parts.current()) : 0;
            const std::int64_t available = free + std::max<std::int64_t>(0, heldBytes(parts.current()) - kept);
            if (answer.contentLength > available) {
                needed = answer.contentLength;
                this->free = available;
                return false;
            }
        }
        file = std::make_unique<TempFile>(parts.current(), continues ? TempFile::Mode::append : TempFile::Mode::create);
        if (!file->isOpen()) return fail();
        file->reserve(answer.contentLength);
        ResponseInfo kept = answer;
        if (kept.totalLength <= 0 && answer.status == 200) kept.totalLength = answer.contentLength;
        parts.remember(url, kept);
        return true;
    }
    bool write(const char* data, std::size_t size) override {
        headers.feed(data, size);
        return file->write(data, size);
    }
    bool close() { return !file || file->close(); }
    const ResponseInfo& answer() const { return info; }
    bool useSegments = false;
    bool diskFailed = false;
    std::int64_t needed = 0;  // set when the rest does not fit
    std::int64_t free = 0;

private:
    bool fail() {
        diskFailed = true;
        return false;
    }

    KeptParts& parts;
    const std::string url;
    const ResumeFrom resume;
    HeaderIndex& headers;
    const FreeSpace& room;
    const bool segmentable;
    std::unique_ptr<TempFile> file;
    ResponseInfo info;
};

// temp.kq4 at its whole length, written where each segment's bytes belong; what has arrived
// is noted beside it now and then, so that a break or a kill loses at most a second's bytes.
class SegmentSink final : public OffsetSink {
public:
    SegmentSink(KeptParts& parts, std::string url, std::string validator)
        : parts(parts), url(std::move(url)), validator(std::move(validator)),
          file(parts.current(), TempFile::Mode::atOffsets) {}
    bool open(std::int64_t length) { return file.setLength(length); }
    bool writeAt(std::int64_t offset, const char* data, std::size_t size) override {
        return file.writeAt(offset, data, size);
    }
    void progress(const std::vector<Segment>& segments) override { parts.rememberSegments(url, validator, segments); }

private:
    KeptParts& parts;
    const std::string url;
    const std::string validator;
    TempFile file;
};

}  // namespace

FileTransfer::FileTransfer(HttpClient& http, KeptParts& parts, const FreeSpace& freeSpace)
    : http(http), parts(parts), freeSpace(freeSpace) {
    for (auto& [url, point] : parts.keptStreams()) streamResumes.emplace(std::move(url), std::move(point));
    for (auto& [url, point] : parts.keptSegmentResumes()) segmentResumes.emplace(std::move(url), std::move(point));
}

std::vector<std::string> FileTransfer::keptMovieParts() const {
    std::vector<std::string> kept;
    for (const auto& [url, point] : streamResumes)
        if (!point.partName.empty()) kept.push_back(point.partName + ".part");
    for (const auto& [url, point] : segmentResumes)
        for (const auto& [movie, name] : point.parts) kept.push_back(name + ".part");
    return kept;
}

FileTransfer::Outcome FileTransfer::noRoom(std::int64_t needed, std::int64_t free) {
    Outcome outcome(Outcome::Kind::noRoom);
    outcome.needed = needed;
    outcome.free = free;
    return outcome;
}

FileTransfer::Outcome FileTransfer::failed(const HttpError& error) {
    switch (error.kind) {
        case HttpError::Kind::brokenOff: return {Kind::stopped, error};  // what arrived is kept
        case HttpError::Kind::changed: parts.forgetCurrent(); return {Kind::startOver, error};
        case HttpError::Kind::rangesIgnored: parts.forgetCurrent(); return {Kind::startOver, error, true};
        case HttpError::Kind::wrongRange: parts.forgetCurrent(); return {Kind::setAside, error, true};
        default: break;
    }
    if (error.status == 404 || error.status == 410) {
        parts.forgetCurrent();
        return {Kind::wrongLink, error};
    }
    if (error.status == 416) {
        parts.forgetCurrent();  // what is kept is not a part of the file
        return {Kind::startOver, error};
    }
    return {Kind::setAside, error};
}

FileTransfer::Outcome FileTransfer::segmented(const std::string& url, const std::string& validator,
                                              std::vector<Segment> segments, int connections) {
    std::int64_t length = 0;
    for (const Segment& s : segments) length = std::max(length, s.to);
    headersKnown = false;  // the splitting finds them in its one pass over the file
    // The file is given its whole length at once: what it holds already is not asked again.
    const std::int64_t free = freeSpace(parts.current());
    const std::int64_t needed = length - heldBytes(parts.current());
    if (free >= 0 && needed > free) return noRoom(length, free + (length - needed));
    SegmentSink sink(parts, url, validator);
    if (!sink.open(length)) {
        parts.forgetCurrent();
        return {Kind::diskFailed};
    }
    try {
        http.getSegments(url, validator, segments, sink, connections);
        return {Kind::done};
    } catch (const StreamError&) {
        parts.forgetCurrent();
        return {Kind::diskFailed};
    } catch (const HttpError& error) {
        return failed(error);
    }
}

FileTransfer::Outcome FileTransfer::inSegments(const std::string& url, const ResponseInfo& answer, int connections) {
    // Equal segments to begin with; the fastest take over the slowest ones' rest.
    const std::vector<Segment> segments = SegmentPlan::split(answer.contentLength, connections);
    parts.forgetCurrent();
    parts.rememberSegments(url, answer.validator, segments);
    return segmented(url, answer.validator, segments, connections);
}

FileTransfer::Outcome FileTransfer::fetch(const std::string& url, int connections, std::size_t movies) {
    ResumeFrom resume = parts.prepare(url);
    index = HeaderIndex(movies + 1);
    headersKnown = true;
    if (!parts.keptSegments().empty()) return segmented(url, resume.validator, parts.keptSegments(), connections);
    if (resume.offset > 0) {
        try {
            // The headers of the kept part, at memory speed, so the index is right for the whole file.
            index = indexFile(parts.current(), movies + 1);
        } catch (const std::system_error&) {
            parts.forgetCurrent();
            resume = {};
        }
        // Kept whole: nothing to fetch (its movies could not be saved before).
        if (resume.offset > 0 && resume.offset == resume.length) return {Kind::done};
    }
    TempSink sink(parts, url, resume, index, freeSpace, connections > 1);
    try {
        http.get(url, sink, resume);
    } catch (const StreamError&) {
        parts.forgetCurrent();
        return {Kind::diskFailed};
    } catch (const HttpError& error) {
        if (!sink.close()) {
            parts.forgetCurrent();
            return {Kind::diskFailed};
        }
        return failed(error);  // what arrived is kept for the next try
    }
    if (sink.needed > 0) return noRoom(sink.needed, sink.free);
    if (sink.diskFailed) {
        parts.forgetCurrent();
        return {Kind::diskFailed};
    }
    if (sink.useSegments) return inSegments(url, sink.answer(), connections);
    if (!sink.close()) {
        parts.forgetCurrent();
        return {Kind::diskFailed};
    }
    // The file must be as long as the server said, and end where its last movie ends when it
    // said nothing: a connection that closes early looks just like the end of a body without
    // a length, so such a file is whole only when every movie the catalogue lists has begun.
    const std::int64_t total = sink.answer().totalLength;
    const bool unannounced = sink.answer().contentLength <= 0;
    if ((total > 0 && sizeOf(parts.current()) != total) ||
        (unannounced && (index.getHeaders().size() < movies || endsInsideAMovie())))
        return {Kind::setAside, HttpError("the file ended early", HttpError::Kind::cutShort)};
    if (unannounced && total <= 0) {
        // Its length is known now: kept whole, it is split again without a new transfer.
        ResponseInfo whole = sink.answer();
        whole.totalLength = sizeOf(parts.current());
        parts.remember(url, whole);
    }
    return {Kind::done};
}

FileTransfer::Outcome FileTransfer::fetchMovies(const ServerFile& file, int connections, SplitHandler& handler) {
    const std::string& url = file.getURL();
    // What a transfer into temp.kq4 kept goes on that way.
    if (const ResumeFrom kept = parts.prepare(url); kept.offset > 0 || !parts.keptSegments().empty())
        return fetch(url, connections, file.getMovies().size());
    if (const auto found = segmentResumes.find(url); found != segmentResumes.end()) {
        SegmentResume point = found->second;
        if (usable(file, point)) return movieSegments(file, point, connections, handler);
        dropSegmentResume(url);
    }
    // A break goes on where it left off, unless a movie before that point is queued again or
    // the movie whose part was kept is no longer queued under the same name.
    const StreamResume* resume = nullptr;
    if (const auto found = streamResumes.find(url); found != streamResumes.end()) {
        const StreamResume& point = found->second;
        const auto& movies = file.getMovies();
        bool usable = point.headers.size() <= movies.size();
        for (std::size_t n = 0; usable && n < point.headers.size(); ++n) {
            const bool queued = movies[n]->getLoadFlag() == tavik::vemlis_loader::Queue;
            usable = n == point.partMovie ? queued && movies[n]->getFileName() == point.partName : !queued;
        }
        if (usable)
            resume = &point;
        else
            dropResume(url);
    }
    MovieStream sink(file, handler, freeSpace, parts, resume, connections > 1 ? smallestSegmented : 0);
    // The part a break kept is gone: the file starts over.
    if (!sink.prepare()) {
        dropResume(url);
        return fetchMovies(file, connections, handler);
    }
    const ResumeFrom from = resume ? ResumeFrom{resume->from, resume->validator, resume->length} : ResumeFrom{};
    // Taken: a kill from here on leaves the part to be cleaned up, not a note that no longer fits it.
    if (resume) parts.forgetStream(url);
    const auto brokenOff = [&] {
        auto point = sink.breakOff();
        streamResumes.erase(url);  // its part, if any, is the one just kept
        if (!point) return;
        parts.rememberStream(url, *point);
        streamResumes[url] = std::move(*point);
    };
    try {
        http.get(url, sink, from);
    } catch (const StreamError&) {
        streamResumes.erase(url);
        return {Kind::unstreamed};
    } catch (const HttpError& error) {
        if (!sink.complete()) {
            streamResumes.erase(url);
            return {Kind::unstreamed};
        }
        const Outcome outcome = failed(error);
        if (outcome.kind == Kind::stopped || outcome.kind == Kind::setAside)
            brokenOff();
        else
            streamResumes.erase(url);
        return outcome;
    }
    streamResumes.erase(url);  // what it kept is in its movies now, or goes with the stream
    if (!sink.failure.empty()) return {Kind::unstreamed};
    if (sink.useSegments) {
        sink.dropParts();
        return movieSegments(file, sink.answer(), connections, handler);
    }
    if (!sink.complete()) return {Kind::unstreamed};
    // As for a file fetched whole: as long as the server said, and ending where its last movie
    // ends when it said nothing.
    const std::int64_t total = sink.answer().totalLength > 0 ? sink.answer().totalLength
                                                              : (sink.answer().status == 200 ? sink.answer().contentLength : 0);
    const bool unannounced = sink.answer().contentLength <= 0;
    const bool cutShort = (total > 0 && sink.received() != total) ||
                          (unannounced && (sink.headersFound() < file.getMovies().size() || sink.endsInsideAMovie()));
    // Ended here after the last movie it wanted, the body was never read to its end.
    if (cutShort && !sink.enough()) {
        brokenOff();
        return {Kind::setAside, HttpError("the file ended early", HttpError::Kind::cutShort)};
    }
    if (!sink.finish()) return {Kind::unstreamed};
    Outcome outcome(Kind::done);
    outcome.streamed = true;
    return outcome;
}

std::optional<std::vector<std::int64_t>> FileTransfer::movieHeaders(const std::string& url, const std::string& validator,
                                                                    std::int64_t length, std::size_t movies) {
    std::vector<std::int64_t> headers;
    std::int64_t at = 0;
    // Each header's RIFF size leads to the next; the chunks of an AVI over 1 GiB ("AVIX") are
    // followed as part of their movie.
    while (at < length && headers.size() <= movies) {
        if (length - at < static_cast<std::int64_t>(aviHeaderLength)) return std::nullopt;
        const std::string head = http.getRange(url, validator, at, aviHeaderLength, length);
        const bool continued = !headers.empty() && head.compare(0, 4, "RIFF") == 0 && head.compare(8, 4, "AVIX") == 0;
        if (!continued && !isAviHeader(head.data())) return std::nullopt;
        if (!continued) headers.push_back(at);
        at += aviLength(head.data());
    }
    // The last movie ends where the file does, or where a movie past the listed ones begins.
    if (at != length && headers.size() <= movies) return std::nullopt;
    return headers;
}

bool FileTransfer::usable(const ServerFile& file, SegmentResume& point) const {
    const auto& movies = file.getMovies();
    std::vector<std::pair<std::size_t, std::string>> parts;
    for (const auto& [n, name] : point.parts) {
        if (n < movies.size() && movies[n]->getLoadFlag() == tavik::vemlis_loader::Queue &&
            (movies[n]->getFileName() == name || this->parts.asidePath(file.getURL(), n) == name))
            parts.emplace_back(n, name);
        else
            ::unlink((name + ".part").c_str());
    }
    point.parts = parts;
    // A queued movie must lie in the segments, and one without its part must not have lost
    // bytes that came before.
    std::vector<Segment> planned = point.segments;
    for (Segment& s : planned) s.done = s.to - s.from;
    for (std::size_t n = 0; n < movies.size() && n < point.headers.size(); ++n) {
        if (movies[n]->getLoadFlag() != tavik::vemlis_loader::Queue) continue;
        const auto [from, to] = point.movie(n);
        if (!coveredBy(planned, from, to)) return false;
        if (std::find_if(parts.begin(), parts.end(), [&](const auto& p) { return p.first == n; }) != parts.end())
            continue;
        for (const Segment& s : point.segments)
            if (s.done > 0 && s.from < to && s.from + s.done > from) return false;
    }
    return true;
}

FileTransfer::Outcome FileTransfer::movieSegments(const ServerFile& file, const ResponseInfo& answer, int connections,
                                                  SplitHandler& handler) {
    std::optional<std::vector<std::int64_t>> headers;
    try {
        headers = movieHeaders(file.getURL(), answer.validator, answer.contentLength, file.getMovies().size());
    } catch (const HttpError& error) {
        return failed(error);
    }
    // Movies whose sizes do not say where they end come into temp.kq4 and are split.
    if (!headers) return inSegments(file.getURL(), answer, connections);
    SegmentResume point;
    point.length = answer.contentLength;
    point.validator = answer.validator;
    point.headers = std::move(*headers);
    // Only the queued movies' bytes are asked for; the connections share them out as they go.
    const auto& movies = file.getMovies();
    for (std::size_t n = 0; n < movies.size() && n < point.headers.size(); ++n) {
        if (movies[n]->getLoadFlag() != tavik::vemlis_loader::Queue) continue;
        const auto [from, to] = point.movie(n);
        if (!point.segments.empty() && point.segments.back().to == from)
            point.segments.back().to = to;
        else
            point.segments.push_back({from, to, 0});
    }
    return movieSegments(file, point, connections, handler);
}

FileTransfer::Outcome FileTransfer::movieSegments(const ServerFile& file, const SegmentResume& from, int connections,
                                                  SplitHandler& handler) {
    const std::string& url = file.getURL();
    SegmentResume point = from;
    const bool resumed = segmentResumes.erase(url) > 0;
    MovieSegments sink(file, handler, freeSpace, parts, point);
    if (!sink.prepare()) {
        sink.dropParts();
        parts.forgetSegments(url);
        // A kept part that is gone: the file starts over. A movie that can be written neither
        // where it goes nor aside: the file comes into temp.kq4, and the splitting asks.
        if (resumed) return fetchMovies(file, connections, handler);
        ResponseInfo answer;
        answer.contentLength = point.length;
        answer.validator = point.validator;
        return inSegments(url, answer, connections);
    }
    try {
        http.getSegments(url, point.validator, point.segments, sink, connections, point.length);
    } catch (const StreamError&) {
        parts.forgetSegments(url);
        return {Kind::unstreamed};
    } catch (const HttpError& error) {
        const Outcome outcome = failed(error);
        const bool goesOn = outcome.kind == Kind::stopped || (outcome.kind == Kind::setAside && !outcome.noRanges);
        if (goesOn && sink.failure.empty()) {
            if (auto kept = sink.breakOff(point.segments)) {
                parts.rememberSegments(url, *kept);
                segmentResumes[url] = std::move(*kept);
                return outcome;
            }
        }
        parts.forgetSegments(url);
        return sink.failure.empty() ? outcome : Outcome(Kind::unstreamed);
    }
    parts.forgetSegments(url);
    if (!sink.finish(point.segments)) return {Kind::unstreamed};
    Outcome outcome(Kind::done);
    outcome.streamed = true;
    return outcome;
}

void FileTransfer::dropSegmentResume(const std::string& url) {
    const auto found = segmentResumes.find(url);
    if (found != segmentResumes.end()) {
        for (const auto& [movie, name] : found->second.parts) ::unlink((name + ".part").c_str());
        segmentResumes.erase(found);
    }
    parts.forgetSegments(url);
}

void FileTransfer::dropResume(const std::string& url) {
    const auto found = streamResumes.find(url);
    if (found == streamResumes.end()) return;
    if (!found->second.partName.empty()) ::unlink((found->second.partName + ".part").c_str());
    streamResumes.erase(found);
    parts.forgetStream(url);
}

void FileTransfer::dropResumes(const std::function<bool(const std::string& url)>& wanted) {
    std::vector<std::string> dropped;
    for (const auto& [url, point] : streamResumes)
        if (!wanted(url)) dropped.push_back(url);
    for (const std::string& url : dropped) dropResume(url);
    dropped.clear();
    for (const auto& [url, point] : segmentResumes)
        if (!wanted(url)) dropped.push_back(url);
    for (const std::string& url : dropped) dropSegmentResume(url);
}

bool FileTransfer::endsInsideAMovie() const {
    const auto& found = index.getHeaders();
    if (found.empty()) return false;
    const int fd = ::open(parts.current().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const std::int64_t last = found.back();
    const std::int64_t length = aviLengthAt(fd, last);
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    return length < 0 || end < last + length;
}

}  // namespace vemlis
