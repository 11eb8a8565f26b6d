#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace vemlis {

// A transfer that did not complete: network failure, HTTP error status, short body, or a
// disconnect.
class HttpError : public std::runtime_error {
public:
    enum class Kind { network, stalled, cutShort, status, brokenOff, tooLarge, changed };
    explicit HttpError(const std::string& what, Kind kind = Kind::network, long status = 0, int retryAfter = -1)
        : std::runtime_error(what), kind(kind), status(status), retryAfter(retryAfter) {}
    // What happened, in plain words for the download view ("Server error 500").
    std::string reason() const;

    Kind kind;
    long status;     // the HTTP status of an error answer, else 0
    int retryAfter;  // seconds the server asked to wait (Retry-After), -1 when it did not
};

// What the server said about a body, known before its first byte is taken.
struct ResponseInfo {
    long status = 0;
    std::int64_t contentLength = 0;  // of this body; 0 when not announced
    std::int64_t rangeStart = -1;    // where a 206's body starts in the file (Content-Range)
    std::int64_t totalLength = 0;    // the whole file's length when known, else 0
    std::string validator;           // ETag, else Last-Modified; empty when neither came
    bool acceptsRanges = false;      // "Accept-Ranges: bytes"
};

// A part of a file fetched on a connection of its own: bytes [from, from + done) have arrived,
// and it ends before `to`.
struct Segment {
    std::int64_t from = 0;
    std::int64_t to = 0;
    std::int64_t done = 0;
    bool finished() const { return from + done >= to; }
};

// Where a segmented transfer writes: at offsets of the file, on the thread that runs it.
class OffsetSink {
public:
    virtual ~OffsetSink() = default;
    // Throws StreamError when the bytes cannot be kept.
    virtual void writeAt(std::int64_t offset, const char* data, std::size_t size) = 0;
    // What has arrived: now and then while the segments progress, and once when the transfer
    // ends, however it ends.
    virtual void progress(const std::vector<Segment>&) {}
};

// Asks for the rest of a file from a byte on, on the condition that it is still the same file.
struct ResumeFrom {
    std::int64_t offset = 0;
    std::string validator;  // sent as If-Range
};

// The destination of a body could not take it (the disk refused the bytes).
class StreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where a GET writes its body.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Takes the next bytes of the body; throws StreamError when they cannot be kept.
    virtual void write(const char* data, std::size_t size) = 0;
    // Called once before the first byte of a successful answer (also for an empty body).
    virtual void begin(const ResponseInfo&) {}
};

// The HTTP library's set-up for the whole process: make one in main() before any thread starts,
// and keep it until every client is gone.
class HttpLibrary final {
public:
    HttpLibrary();
    ~HttpLibrary();
    HttpLibrary(const HttpLibrary&) = delete;
    HttpLibrary& operator=(const HttpLibrary&) = delete;
};

// The program's HTTP client over libcurl: plain GET with redirects followed, Accept
// "text/html, */*", User-Agent "KQ4Loader", no proxy. One transfer at a time, on one thread;
// disconnect() may be called from any thread and breaks that transfer off at once.
class HttpClient {
public:
    HttpClient();
    virtual ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The whole body as text, refused (HttpError, tooLarge) beyond `limit` bytes. Throws HttpError.
    std::string get(const std::string& url, std::size_t limit = static_cast<std::size_t>(-1));
    // Writes the body into the sink. Throws HttpError, or the sink's StreamError. With a resume
    // offset the request asks for the rest ("Range", "If-Range"); the sink learns from begin()
    // whether a 206 continues the file or a 200 starts it over. Work events count from the
    // start of the file.
    void get(const std::string& url, ByteSink& sink, const ResumeFrom& resume = {});
    // What the last answer said.
    ResponseInfo getResponseInfo() const;

    // Asks for the file's first byte only: a 206 says that the server serves ranges, and gives
    // the file's length and validator. Throws HttpError.
    ResponseInfo probe(const std::string& url);
    // Fetches what the segments lack over up to `connections` connections at once, each range
    // asked with If-Range. A segment that finishes early takes over half of the largest one
    // left; a connection that the server refuses (503, 429) while others run is given up, and
    // the file goes on over fewer. Throws HttpError (kind changed when the server answers with
    // the whole file: it is no longer the file of the validator), or the sink's StreamError;
    // what arrived stays counted in the segments. Work events count the whole file.
    void getSegments(const std::string& url, const std::string& validator, std::vector<Segment>& segments,
                     OffsetSink& sink, int connections);

    // Breaks off the transfer in progress, if any; a later transfer is not affected.
    void disconnect();
    // Also breaks off a transfer whenever the check says so (checked at least every 50 ms);
    // covers a disconnect that comes just before a transfer starts.
    void setAbortCheck(std::function<bool()> check);
    // A transfer that moves no byte for this long fails (0: wait for ever).
    void setStallTimeout(int seconds);

    // The Content-Length of the last response, 0 when it had none.
    std::int64_t getContentLength() const { return contentLength.load(); }
    // The address of the transfer in progress or the last one.
    std::string getRequestURL() const;

protected:
    // Work events, raised on the thread that runs the transfer.
    virtual void onWorkStart(std::int64_t expected);
    virtual void onWork(std::int64_t count);
    virtual void onWorkEnd();

private:
    struct Impl;
    // With `firstByte`, asks for byte 0 alone.
    void perform(const std::string& url, ByteSink& sink, const ResumeFrom& resume, bool firstByte = false);

    std::unique_ptr<Impl> impl;
    std::atomic<std::int64_t> contentLength{0};
};

}  // namespace vemlis
