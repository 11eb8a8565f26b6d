// The load thread's transfer of one server file into temp.kq4.
#include <fcntl.h>
#include <unistd.h>

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
    TempSink(KeptParts& parts, std::string url, const ResumeFrom& resume, HeaderIndex& headers, Room room)
        : parts(parts), url(std::move(url)), resume(resume), headers(headers), room(std::move(room)) {}

    void begin(const ResponseInfo& answer) override {
        info = answer;
        const bool continues = resume.offset > 0 && answer.status == 206 && answer.rangeStart == resume.offset;
        if (answer.status == 206 && !continues)
            throw HttpError("the server sent another part than asked for", HttpError::Kind::cutShort);
        if (!continues) headers = HeaderIndex();  // a whole file: old and new bytes never mix
        // Refused before a byte is written when the rest cannot fit.
        const std::int64_t free = room();
        if (free >= 0 && answer.contentLength > free) throw StreamError("not enough room for the file");
        file = std::make_unique<FileSink>(parts.current(), continues);
        if (!file->isOpen()) throw StreamError("the temporary file could not be created");
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
    std::unique_ptr<FileSink> file;
    ResponseInfo info;
};

}  // namespace

bool LoadThread::downloadFile() {
    const std::string url = currentFile->getURL();
    ResumeFrom resume = parts.prepare(url);
    headers = HeaderIndex();
    if (resume.offset > 0) {
        try {
            // The headers of the kept part, at memory speed, so the index is right for the whole file.
            headers = indexFile(parts.current());
        } catch (...) {
            parts.forgetCurrent();
            resume = {};
        }
    }
    TempSink sink(parts, url, resume, headers, [this] { return freeSpace(getTempFilePath()); });
    try {
        http.get(url, sink, resume);
        sink.close();
        if (sink.answer().contentLength <= 0 && endsInsideAMovie())
            throw HttpError("the file ended inside a movie", HttpError::Kind::cutShort);
        return true;
    } catch (const StreamError&) {
        parts.forgetCurrent();
        fail(uiText(rows::temporaryFileNotWritten));
    } catch (const HttpError& error) {
        try {
            sink.close();  // what arrived is kept for the next try
        } catch (...) {
        }
        if (error.kind == HttpError::Kind::brokenOff) return false;  // stop or close: tried again later
        if (error.status == 404 || error.status == 410) {
            parts.forgetCurrent();
            markMissing();
        } else if (error.status == 416) {
            parts.forgetCurrent();  // what is kept is not a part of the file: start over at once
        } else {
            setFileAside(error);
        }
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
