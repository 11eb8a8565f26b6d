#pragma once

// The HTTP client's own parts, shared by its source files; nothing else includes this.

#include <curl/curl.h>

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/net/HttpClient.h"
#include "engine/net/ResponseCheck.h"
#include "engine/net/SpeedLimit.h"

namespace vemlis {

// The value of a header line "Name: value" when it has that name (any case).
bool headerValue(std::string_view line, std::string_view name, std::string& value);

// The headers of one answer that a transfer needs, collected anew for every answer of a
// redirect chain.
struct AnswerHeaders {
    std::string etag, lastModified, date, contentRange, retryAfter, acceptRanges, contentEncoding;
    // Takes one header line; a status line starts a new answer. Repeated lines of a list
    // (Content-Encoding) are joined with commas, as they mean; a field that may stand once and
    // comes again with another value is taken as nonsense, never as the last one sent.
    void take(std::string_view line);
    // What may be sent back as If-Range: a strong ETag, else a strong Last-Modified; empty
    // when there is none.
    std::string validator() const;
    // Whether the answer may be taken, by the one check of both ways of fetching (`asked`: the
    // range requested, if any; `length`: the body's announced length, -1 when none). Why not,
    // as the transfer ends with it.
    std::optional<HttpError> refusal(CURL* easy, const RangeAsked* asked, bool identityOnly, bool rangeOnly) const;
};

// One transfer's libcurl handle set up as every request of the program is. Throws HttpError
// when a security option cannot be set.
void prepareEasy(CURL* easy, const std::string& url, curl_slist* headers, int stallTimeout);
// The speed limit's buffers for one transfer: libcurl's, and the socket's of each new connection.
void applySpeedLimit(CURL* easy, const SpeedLimit& limit);
// A limit set, changed or lifted during the transfer: the socket's receive buffer follows it
// (`appliedRate`: the limit the socket was last set for, kept by the caller).
void followSpeedLimit(CURL* easy, const SpeedLimit& limit, std::int64_t& appliedRate);
// The request headers of a file transfer: Accept, Accept-Encoding identity, and If-Range with
// a validator.
curl_slist* fileRequestHeaders(const std::string& validator);
// A failed transfer of the handle as the client reports it.
HttpError errorOf(CURLcode result, const std::string& url, CURL* easy);
// An error answer with its status and its Retry-After header.
HttpError statusError(long status, const std::string& retryAfter);
// Why an answer is refused, as the transfer ends with it; nothing when it may be taken.
std::optional<HttpError> answerError(AnswerVerdict verdict, const std::string& encoding);

struct HttpClient::Impl {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    std::atomic<std::uint64_t> disconnects{0};
    std::function<bool()> abortCheck;
    int stallTimeout = 0;
    SpeedLimit speedLimit;

    // Per transfer.
    ByteSink* sink = nullptr;
    std::optional<RangeAsked> asked;  // set when a range was asked
    bool decode = false;
    std::exception_ptr sinkError;     // what a sink threw: carried past libcurl
    std::optional<HttpError> refusal; // the answer did not fit the request
    bool declined = false;            // the sink wanted nothing of the answer
    bool sinkFailed = false;          // the sink could not keep bytes
    bool satisfied = false;           // the sink had all it wanted before the body's end
    bool stoppedInWrite = false;      // broken off while the speed limit waited
    bool started = false;
    std::int64_t received = 0;
    std::int64_t offset = 0;  // of the first byte of this body in the file
    HttpClient* owner = nullptr;
    TransferObserver* observer = nullptr;
    std::function<bool()> aborted;  // of the transfer in progress
    std::int64_t socketRate = 0;    // the limit its socket's buffer was set for
    // The one test of both ways of fetching for a transfer begun at this count of disconnects:
    // a disconnect since, or the owner's check, breaks it off.
    std::function<bool()> abortedSince(std::uint64_t generation) {
        return [this, generation] { return disconnects.load() != generation || (abortCheck && abortCheck()); };
    }
    AnswerHeaders answer;
    mutable std::mutex infoLock;
    ResponseInfo info;

    long status() const;
    ResponseInfo describe() const;
    // Before the first byte of a successful body: checks the answer against the request and
    // tells the sink what came. False when the transfer must end here.
    bool start();
    // What a 206 must hold when the body ends; 0 for any other answer.
    std::int64_t partLength() const;

    static std::size_t header(char* data, std::size_t, std::size_t size, void* self);
    static std::size_t write(char* data, std::size_t, std::size_t size, void* self);
};

}  // namespace vemlis
