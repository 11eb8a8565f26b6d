#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemlis {

// A transfer that did not complete, by what the caller should do about it.
class HttpError : public std::runtime_error {
public:
    enum class Kind {
        network,        // the connection failed or broke: try again later
        stalled,        // nothing came for the stall time-out
        cutShort,       // the body ended before its announced end
        status,         // an error status (see `status`)
        brokenOff,      // disconnect() or the abort check
        tooLarge,       // over the caller's limit
        changed,        // the file is not the version of the validator: fetch it whole
        wrongRange,     // a 206 for other bytes than asked
        rangesIgnored,  // a range answered with the whole file of the same version
        encoded,        // a body compressed on the way (Content-Encoding)
        certificate,    // the server's certificate or the secure connection failed
        redirect,       // a redirect to a scheme that is not allowed (or https to http)
        notFound,       // the server's name is not known
        refused,        // nothing listens at the server's address and port
    };
    explicit HttpError(const std::string& what, Kind kind = Kind::network, long status = 0, int retryAfter = -1,
                       std::string host = {})
        : std::runtime_error(what), kind(kind), status(status), retryAfter(retryAfter), host(std::move(host)) {}
    Kind kind;
    long status;       // the HTTP status of an error answer, else 0
    int retryAfter;    // seconds the server asked to wait (Retry-After), -1 when it did not
    std::string host;  // the server's name, for certificate and name failures; with its port when refused
};

// What the server said about a body, known before its first byte is taken.
struct ResponseInfo {
    long status = 0;
    std::int64_t contentLength = 0;  // of this body; 0 when not announced
    std::int64_t rangeStart = -1;    // where a 206's body starts in the file (Content-Range)
    std::int64_t totalLength = 0;    // the whole file's length when known, else 0
    std::string validator;           // ETag, else Last-Modified; empty when neither came (or unsafe)
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
    // False when the bytes cannot be kept (the transfer then ends with StreamError).
    virtual bool writeAt(std::int64_t offset, const char* data, std::size_t size) = 0;
    // What has arrived: now and then while the segments progress, and once when the transfer
    // ends, however it ends.
    virtual void progress(const std::vector<Segment>&) {}
};

// Asks for the rest of a file from a byte on, on the condition that it is still the same file.
// A 206 must then carry that validator and Content-Range "bytes offset-(length-1)/length".
struct ResumeFrom {
    std::int64_t offset = 0;
    std::string validator;   // sent as If-Range
    std::int64_t length = 0; // the file's whole length, when known
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
    // Takes the next bytes of the body; false when they cannot be kept (the transfer then ends
    // with StreamError).
    virtual bool write(const char* data, std::size_t size) = 0;
    // Called once before the first byte of a successful answer (also for an empty body), after
    // the answer was checked against the request. False: this answer is not wanted; the
    // transfer ends at once and get() returns without an error.
    virtual bool begin(const ResponseInfo&) { return true; }
    // True once the sink has all it wants of the body: a write that returns false then ends
    // the transfer there, and get() returns without an error.
    virtual bool enough() const { return false; }
};

// Told how a transfer goes, on the thread that runs it: its start with the length of the whole
// file expected (0 when unknown), each count of the file's bytes reached, and its end.
class TransferObserver {
public:
    virtual ~TransferObserver() = default;
    virtual void started(std::int64_t expected) = 0;
    virtual void reached(std::int64_t count) = 0;
    virtual void ended() = 0;
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

// The program's HTTP client over libcurl: plain GET with redirects followed (never from https
// to http), Accept "text/html, */*", User-Agent "KQ4Loader", the proxies of the environment as
// curl takes them, and the certificate authorities of the system plus those SSL_CERT_FILE and
// SSL_CERT_DIR name. Every answer is checked against its request before a byte reaches the
// sink. One transfer at a time, on one thread; disconnect() may be called from any thread and
// breaks that transfer off at once.
class HttpClient {
public:
    HttpClient();
    virtual ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The whole body as text, refused (HttpError, tooLarge) beyond `limit` bytes; a compressed
    // answer is decoded. Throws HttpError.
    std::string get(const std::string& url, std::size_t limit = static_cast<std::size_t>(-1));
    // The same into a sink, for a text too large to hold.
    void getText(const std::string& url, std::size_t limit, ByteSink& sink);
    // Writes the body into the sink, as the file holds it (Accept-Encoding: identity; any other
    // encoding is refused, kind encoded). Throws HttpError, or StreamError when the sink
    // refused bytes. With a resume offset the request asks for the rest ("Range", "If-Range");
    // a 206 is taken only when it is exactly that rest of the same version (else wrongRange or
    // changed) and its body holds all of it (else cutShort); the sink learns from begin()
    // whether a 206 continues the file or a 200 starts it over. Work events count from the
    // start of the file.
    void get(const std::string& url, ByteSink& sink, const ResumeFrom& resume = {});
    // What the last answer said.
    ResponseInfo getResponseInfo() const;

    // Fetches what the segments lack over up to `connections` connections at once, each range
    // asked with If-Range of the file of `length` bytes (0: the segments' end). A segment that finishes early takes
    // over half of the largest one left; a connection that the server refuses (503, 429) while
    // others run is given up, and the file goes on over fewer. Each 206 must be exactly the
    // range asked, of this version and length. Throws HttpError (changed for a part of another
    // version; rangesIgnored when the server sends a whole file, of whichever version;
    // wrongRange for any other range), or StreamError; what arrived stays counted in the
    // segments. Work events count the bytes the segments hold.
    void getSegments(const std::string& url, const std::string& validator, std::vector<Segment>& segments,
                     OffsetSink& sink, int connections, std::int64_t length = 0);

    // Bytes [first, first + size) of the file of `length` bytes, asked with If-Range as a
    // segment is, on a connection kept for the next request; told to no observer. Throws as
    // getSegments().
    std::string getRange(const std::string& url, const std::string& validator, std::int64_t first, std::size_t size,
                         std::int64_t length);

    // Breaks off the transfer in progress, if any; a later transfer is not affected.
    void disconnect();
    // Also breaks off a transfer whenever the check says so (checked at least every 50 ms);
    // covers a disconnect that comes just before a transfer starts.
    void setAbortCheck(std::function<bool()> check);
    // A transfer that moves no byte for this long fails (0: wait for ever).
    void setStallTimeout(int seconds);
    // At most this many bytes per second over all connections of a transfer (0: no limit).
    // Any thread, at any time; a transfer in progress follows.
    void setSpeedLimit(std::int64_t bytesPerSecond);

    // Who is told how the transfers go (null: nobody); set before a transfer starts.
    void setObserver(TransferObserver* observer);

private:
    struct Impl;
    void onWorkStart(std::int64_t expected);
    void onWork(std::int64_t count);
    void onWorkEnd();
    // `total`: the file's length; `told`: the observer hears of it.
    void fetchSegments(const std::string& url, const std::string& validator, std::vector<Segment>& segments,
                       OffsetSink& sink, int connections, std::int64_t total, bool told);
    // `decode`: ask for any encoding libcurl can decode, and decode it (text only).
    void perform(const std::string& url, ByteSink& sink, const ResumeFrom& resume, bool decode);

    std::unique_ptr<Impl> impl;
};

}  // namespace vemlis
