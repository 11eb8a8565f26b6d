// The load thread's transfer of one server file into temp.kq4.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "engine/FileSink.h"
#include "engine/IdHTTPWithSpeedCounter.h"
#include "engine/LoadThread.h"
#include "model/MoviesSet.h"
#include "model/UiTexts.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

// temp.kq4 as the answer arrives: continued after the kept part when a 206 starts where that
// part ends, started over otherwise; the AVI headers noted on the way.
class TempSink final : public ByteSink {
public:
    using Room = std::function<std::int64_t()>;
    // Thrown before the first byte when the file is better fetched in segments.
    struct UseSegments {
        ResponseInfo answer;
    };
    TempSink(KeptParts& parts, std::string url, const ResumeFrom& resume, HeaderIndex& headers, Room room,
             bool segmentable)
        : parts(parts), url(std::move(url)), resume(resume), headers(headers), room(std::move(room)),
          segmentable(segmentable) {}

    void begin(const ResponseInfo& answer) override {
        info = answer;
        if (segmentable && resume.offset == 0 && answer.status == 200 && answer.acceptsRanges &&
            answer.contentLength >= LoadThread::smallestSegmented && !answer.validator.empty())
            throw UseSegments{answer};
        const bool continues = resume.offset > 0 && answer.status == 206 && answer.rangeStart == resume.offset;
        if (answer.status == 206 && !continues)
            throw HttpError("the server sent another part than asked for", HttpError::Kind::cutShort);
        if (!continues) headers = HeaderIndex();  // a whole file: old and new bytes never mix
        // Refused before a byte is written when the rest cannot fit.
        const std::int64_t free = room();
        if (free >= 0 && answer.contentLength > free) throw StreamError("not enough room for the file");
        file = std::make_unique<FileSink>(parts.current(), continues);
        if (!file->isOpen()) throw StreamError("the temporary file could not be created");
        file->reserve(answer.contentLength);
        ResponseInfo kept = answer;
        if (kept.totalLength <= 0 && answer.status == 200) kept.totalLength = answer.contentLength;
        parts.remember(url, kept);
    }
    void write(const char* data, std::size_t size) override {
        headers.feed(data, size);
        file->write(data, size);
    }
    void close() {
        if (file) file->close();
    }
    const ResponseInfo& answer() const { return info; }

private:
    KeptParts& parts;
    const std::string url;
    const ResumeFrom resume;
    HeaderIndex& headers;
    Room room;
    const bool segmentable;
    std::unique_ptr<FileSink> file;
    ResponseInfo info;
};

// temp.kq4 at its whole length, written where each segment's bytes belong; what has arrived
// is noted beside it now and then, so that a break or a kill loses at most a second's bytes.
class SegmentFile final : public OffsetSink {
public:
    SegmentFile(KeptParts& parts, std::string url, std::string validator)
        : parts(parts), url(std::move(url)), validator(std::move(validator)),
          fd(::open(parts.current().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) {}
    ~SegmentFile() override {
        if (fd >= 0) ::close(fd);
    }
    // At its whole length, its room set aside where the file system can (see FileSink::reserve).
    bool open(std::int64_t length) const {
        if (fd < 0) return false;
        ::fallocate(fd, 0, 0, length);
        return ::ftruncate(fd, length) == 0;
    }
    void writeAt(std::int64_t offset, const char* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t n = ::pwrite(fd, data, size, offset);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw StreamError("the temporary file could not be written");
            data += n;
            size -= static_cast<std::size_t>(n);
            offset += n;
        }
    }
    void progress(const std::vector<Segment>& segments) override { parts.rememberSegments(url, validator, segments); }

private:
    KeptParts& parts;
    const std::string url;
    const std::string validator;
    const int fd;
};

}  // namespace

void LoadThread::transferFailed(const HttpError& error) {
    if (error.kind == HttpError::Kind::brokenOff) return;  // stop or close: what arrived is kept
    if (error.status == 404 || error.status == 410) {
        parts.forgetCurrent();
        markMissing();
    } else if (error.status == 416 || error.kind == HttpError::Kind::changed) {
        parts.forgetCurrent();  // what is kept is not a part of the file: start over at once
    } else {
        setFileAside(error);
    }
}

bool LoadThread::downloadSegments(const std::string& url, const std::string& validator, std::vector<Segment> segments) {
    std::int64_t length = 0;
    std::int64_t missing = 0;
    for (const Segment& s : segments) {
        length = std::max(length, s.to);
        missing += s.to - s.from - s.done;
    }
    SegmentFile file(parts, url, validator);
    const std::int64_t free = freeSpace(getTempFilePath());
    if ((free >= 0 && missing > free) || !file.open(length)) {
        parts.forgetCurrent();
        fail(uiText(rows::temporaryFileNotWritten));
        return false;
    }
    try {
        http.getSegments(url, validator, segments, file, connections);
        headersKnown = false;  // the splitting finds them in its one pass over the file
        return true;
    } catch (const StreamError&) {
        parts.forgetCurrent();
        fail(uiText(rows::temporaryFileNotWritten));
    } catch (const HttpError& error) {
        transferFailed(error);
    } catch (...) {
        setFileAside(HttpError("the transfer failed"));
    }
    return false;
}

bool LoadThread::downloadFile() {
    const std::string url = currentFile->getURL();
    ResumeFrom resume = parts.prepare(url);
    headers = HeaderIndex();
    headersKnown = true;
    if (!parts.keptSegments().empty()) return downloadSegments(url, resume.validator, parts.keptSegments());
    if (resume.offset > 0) {
        try {
            // The headers of the kept part, at memory speed, so the index is right for the whole file.
            headers = indexFile(parts.current());
        } catch (...) {
            parts.forgetCurrent();
            resume = {};
        }
    }
    TempSink sink(parts, url, resume, headers, [this] { return freeSpace(getTempFilePath()); }, connections > 1);
    try {
        http.get(url, sink, resume);
        sink.close();
        if (sink.answer().contentLength <= 0 && endsInsideAMovie())
            throw HttpError("the file ended inside a movie", HttpError::Kind::cutShort);
        return true;
    } catch (const TempSink::UseSegments& large) {
        // Four equal segments to begin with; the fastest take over the slowest ones' rest.
        const std::int64_t length = large.answer.contentLength;
        std::vector<Segment> segments;
        for (int i = 0; i < connections; ++i)
            segments.push_back({length * i / connections, length * (i + 1) / connections, 0});
        parts.forgetCurrent();
        parts.rememberSegments(url, large.answer.validator, segments);
        return downloadSegments(url, large.answer.validator, segments);
    } catch (const StreamError&) {
        parts.forgetCurrent();
        fail(uiText(rows::temporaryFileNotWritten));
    } catch (const HttpError& error) {
        try {
            sink.close();  // what arrived is kept for the next try
        } catch (...) {
        }
        transferFailed(error);
    } catch (...) {
        setFileAside(HttpError("the transfer failed"));
    }
    return false;
}

bool LoadThread::endsInsideAMovie() const {
    const auto& found = headers.getHeaders();
    if (found.empty()) return false;
    const int fd = ::open(getTempFilePath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char size[4];
    const std::int64_t last = found.back();
    const bool read = ::pread(fd, size, 4, last + 4) == 4;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    if (!read) return true;
    // The RIFF size counts the bytes after the 8 of "RIFF" and the size itself.
    const std::int64_t riff = std::int64_t(size[0]) | std::int64_t(size[1]) << 8 | std::int64_t(size[2]) << 16 |
                              std::int64_t(size[3]) << 24;
    return end < last + 8 + riff;
}

}  // namespace vemlis
