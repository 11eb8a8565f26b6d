#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CatalogueGenerator.h"

namespace httplib {
class Server;
}

namespace vemlis::testing {

// How a file is served wrongly, chosen per file.
struct Fault {
    int status = 0;                    // answer with this status and no body
    std::string redirectTo;            // answer 302 with this path
    std::int64_t dropAfter = -1;       // close the connection after this many body bytes
    std::int64_t stallAfter = -1;      // send nothing more after this many bytes
    bool noContentLength = false;      // send the body chunked, without Content-Length
    std::int64_t bytesPerSecond = 0;   // throttle (0: as fast as possible)
    int times = -1;                    // for this many requests, then served right (-1: always)
    int retryAfter = -1;               // with a status: a Retry-After header of this many seconds
    // Answers that a faulty server, cache or proxy gives to a range request, each told honestly
    // in its headers.
    std::int64_t shiftRange = 0;       // a 206 for the range asked moved by this many bytes (to 0 at least)
    std::int64_t partialLimit = -1;    // a 206 of at most this many bytes
    bool ignoreIfRange = false;        // ranges served whatever If-Range says
    bool wholeForRanges = false;       // ranges advertised, but answered with the whole file
    bool newValidatorEachAnswer = false;
    std::string encoding;              // sent as Content-Encoding; the body is left as it is

    static Fault failWith(int code, int times = -1) { Fault f; f.status = code; f.times = times; return f; }
    static Fault busy(int code, int seconds, int times = -1) {
        Fault f = failWith(code, times);
        f.retryAfter = seconds;
        return f;
    }
    static Fault dropOnce(std::int64_t after) { Fault f; f.dropAfter = after; f.times = 1; return f; }
    static Fault redirect(std::string path) { Fault f; f.redirectTo = std::move(path); return f; }
    static Fault drop(std::int64_t after) { Fault f; f.dropAfter = after; return f; }
    static Fault stall(std::int64_t after) { Fault f; f.stallAfter = after; return f; }
    static Fault chunked() { Fault f; f.noContentLength = true; return f; }
    static Fault throttled(std::int64_t bytesPerSecond) { Fault f; f.bytesPerSecond = bytesPerSecond; return f; }
    static Fault shifted(std::int64_t by) { Fault f; f.shiftRange = by; return f; }
    static Fault shortParts(std::int64_t bytes) { Fault f; f.partialLimit = bytes; return f; }
    static Fault encoded(std::string name) { Fault f; f.encoding = std::move(name); return f; }
};

// How a file answers a request for a part of it. The last two are validators that must never
// be taken as strong: a weak ETag that stays while the bytes change, and a Last-Modified equal
// to the answer's Date that stays too (the file changed within that second).
enum class Validator { etag, lastModified, none, weakEtag, sameSecond };

// A loopback HTTP server for the tests and the demo: the catalogue at /movies.xml and server
// files at their paths, each with an optional fault. Listens on 127.0.0.1 only. Files carry an
// ETag (a new one each time a file is set again) or a Last-Modified date, and answer
// "Range: bytes=N-" with 206 unless told to ignore ranges; "If-Range" with another validator
// gets the whole file.
class CatalogueServer final {
public:
    explicit CatalogueServer(int port = 0);
    ~CatalogueServer();
    CatalogueServer(const CatalogueServer&) = delete;
    CatalogueServer& operator=(const CatalogueServer&) = delete;

    int port() const { return boundPort; }
    std::string baseURL() const;
    std::string catalogueURL() const { return baseURL() + "/movies.xml"; }

    void setCatalogue(std::string document);
    void setFile(const std::string& path, std::string bytes);
    void setFileFromDisk(const std::string& path, const std::filesystem::path& file);
    void setFault(const std::string& path, Fault fault);
    void clearFault(const std::string& path);
    // Applies to every file without a fault of its own.
    void setThrottle(std::int64_t bytesPerSecond);
    // Per file: whether ranges are honoured, and which validator is sent.
    void setRanges(const std::string& path, bool honoured);
    void setValidator(const std::string& path, Validator validator);
    // Requests for the path beyond this many at once are answered 503 (0: no limit).
    void setMaxConnections(const std::string& path, int count);
    // The most requests for the path that were served at once.
    int mostConnections(const std::string& path) const;
    // Body bytes sent for the path so far.
    std::int64_t bytesSent(const std::string& path) const;
    int requests(const std::string& path) const;
    // A header of the last request for the path ("" when none came).
    std::string lastHeader(const std::string& path, const std::string& name) const;
    // Every Range header asked for the path, in order.
    std::vector<std::string> rangesAsked(const std::string& path) const;

private:
    struct Entry {
        std::shared_ptr<const std::string> bytes;
        std::filesystem::path disk;
        std::int64_t size = 0;
        int version = 0;
        bool ranges = true;
        Validator validator = Validator::etag;
    };
    static std::string validatorOf(const Entry& entry);
    void serve(const std::string& path, const void* request, void* response);

    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int boundPort = 0;
    std::atomic<bool> stopping{false};
    mutable std::mutex lock;
    std::map<std::string, Entry> files;
    std::map<std::string, Fault> faults;
    std::map<std::string, int> counts;
    std::map<std::string, std::shared_ptr<std::atomic<std::int64_t>>> sent;
    std::map<std::string, int> maxConnections;
    std::map<std::string, std::shared_ptr<std::atomic<int>>> open;
    std::map<std::string, int> most;
    std::map<std::string, std::vector<std::string>> ranges;
    int versions = 0;
    std::map<std::string, std::map<std::string, std::string>> headers;
    std::int64_t throttle = 0;
};

// A generated series on a server: the catalogue and every server file made of real AVI
// pieces, one per movie in catalogue order.
struct ServedSeries {
    GeneratedCatalogue catalogue;
    std::map<std::string, std::vector<std::string>> pieces;  // path -> the AVI of each movie
};

ServedSeries serveSeries(CatalogueServer& server, CatalogueShape shape, int width = 32, int height = 24,
                         int frames = 3);

}  // namespace vemlis::testing
