#pragma once

// The HTTP client's own parts, shared by its source files; nothing else includes this.

#include <curl/curl.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/HttpClient.h"

namespace vemlis {

// The value of a header line "Name: value" when it has that name (any case).
inline bool headerValue(std::string_view line, std::string_view name, std::string& value) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    std::string_view rest = line.substr(name.size() + 1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n' || rest.back() == ' ')) rest.remove_suffix(1);
    value.assign(rest);
    return true;
}

// One transfer's libcurl handle set up as every request of the program is.
void prepareEasy(CURL* easy, const std::string& url, curl_slist* headers, int stallTimeout);
// A failed transfer as the client reports it.
HttpError errorOf(CURLcode result);
// An error answer with its status and its Retry-After header (seconds only; a date is ignored).
HttpError statusError(long status, const std::string& retryAfter);

struct HttpClient::Impl {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    std::atomic<std::uint64_t> disconnects{0};
    std::function<bool()> abortCheck;
    int stallTimeout = 0;
    mutable std::mutex urlLock;
    std::string url;

    // Per transfer.
    ByteSink* sink = nullptr;
    std::exception_ptr sinkError;
    bool started = false;
    std::int64_t received = 0;
    std::int64_t offset = 0;  // of the first byte of this body in the file
    HttpClient* owner = nullptr;
    // Of the answer being read: headers are collected anew for every answer of a redirect chain.
    std::string etag, lastModified, contentRange, retryAfter, acceptRanges;
    mutable std::mutex infoLock;
    ResponseInfo info;

    long status() const {
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }

    ResponseInfo describe() const {
        ResponseInfo result;
        result.status = status();
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        result.contentLength = length > 0 ? length : 0;
        result.validator = !etag.empty() ? etag : lastModified;
        result.acceptsRanges = acceptRanges == "bytes";
        result.totalLength = result.status == 200 ? result.contentLength : 0;
        // "bytes 100-999/1000"
        if (result.status == 206 && contentRange.rfind("bytes ", 0) == 0) {
            char* end = nullptr;
            result.rangeStart = std::strtoll(contentRange.c_str() + 6, &end, 10);
            const std::size_t slash = contentRange.find('/');
            if (slash != std::string::npos && contentRange.compare(slash + 1, 1, "*") != 0)
                result.totalLength = std::strtoll(contentRange.c_str() + slash + 1, nullptr, 10);
        }
        return result;
    }

    // Before the first byte of a successful body: tells the sink what came.
    void start() {
        started = true;
        const ResponseInfo now = describe();
        {
            std::lock_guard guard(infoLock);
            info = now;
        }
        offset = now.status == 206 && now.rangeStart > 0 ? now.rangeStart : 0;
        sink->begin(now);
        owner->contentLength = now.contentLength;
        owner->onWorkStart(now.totalLength > 0 ? now.totalLength : (now.contentLength > 0 ? offset + now.contentLength : 0));
    }

    static std::size_t header(char* data, std::size_t, std::size_t size, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const std::string_view line(data, size);
        if (line.rfind("HTTP/", 0) == 0) {
            impl->etag.clear();
            impl->lastModified.clear();
            impl->contentRange.clear();
            impl->retryAfter.clear();
            impl->acceptRanges.clear();
            return size;
        }
        if (!headerValue(line, "ETag", impl->etag) && !headerValue(line, "Last-Modified", impl->lastModified) &&
            !headerValue(line, "Content-Range", impl->contentRange) && !headerValue(line, "Accept-Ranges", impl->acceptRanges))
            headerValue(line, "Retry-After", impl->retryAfter);
        return size;
    }

    static std::size_t write(char* data, std::size_t, std::size_t size, void* self) {
        auto* impl = static_cast<Impl*>(self);
        // The body of an error answer is not the file.
        if (impl->status() >= 300) return size;
        try {
            if (!impl->started) impl->start();
            impl->sink->write(data, size);
            impl->received += static_cast<std::int64_t>(size);
            impl->owner->onWork(impl->offset + impl->received);
        } catch (...) {
            impl->sinkError = std::current_exception();
            return 0;  // makes libcurl end the transfer with a write error
        }
        return size;
    }
};

}  // namespace vemlis
