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
    using std::runtime_error::runtime_error;
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

    // The whole body as text. Throws HttpError.
    std::string get(const std::string& url);
    // Writes the body into the sink. Throws HttpError, or the sink's StreamError.
    void get(const std::string& url, ByteSink& sink);

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
    void perform(const std::string& url, const std::function<void(const char*, std::size_t)>& take);

    std::unique_ptr<Impl> impl;
    std::atomic<std::int64_t> contentLength{0};
};

}  // namespace vemlis
