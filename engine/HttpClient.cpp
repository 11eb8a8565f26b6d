#include "HttpClient.h"

#include <cctype>
#include <cstdlib>
#include <exception>
#include <mutex>

#include "engine/HttpClientImpl.h"

namespace vemlis {

HttpLibrary::HttpLibrary() { curl_global_init(CURL_GLOBAL_DEFAULT); }
HttpLibrary::~HttpLibrary() { curl_global_cleanup(); }

std::string HttpError::reason() const {
    switch (kind) {
        case Kind::status:
            if (status == 404 || status == 410) return "File not found on the server (" + std::to_string(status) + ")";
            if (status == 429 || status == 503) return "The server is busy (" + std::to_string(status) + ")";
            if (status >= 500) return "Server error " + std::to_string(status);
            return "The server refused the file (" + std::to_string(status) + ")";
        case Kind::stalled: return "No answer from the server";
        case Kind::cutShort: return "Connection lost";
        case Kind::brokenOff: return "Stopped";
        case Kind::tooLarge: return "The answer is too large";
        case Kind::changed: return "The file changed on the server";
        case Kind::network: break;
    }
    return "Connection lost";
}

void prepareEasy(CURL* easy, const std::string& url, curl_slist* headers, int stallTimeout) {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 15L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "KQ4Loader");
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 512L * 1024L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
    if (stallTimeout > 0) {
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallTimeout));
    }
}

HttpError errorOf(CURLcode result) {
    HttpError::Kind kind = HttpError::Kind::network;
    if (result == CURLE_OPERATION_TIMEDOUT) kind = HttpError::Kind::stalled;
    if (result == CURLE_PARTIAL_FILE || result == CURLE_RECV_ERROR) kind = HttpError::Kind::cutShort;
    return HttpError(curl_easy_strerror(result), kind);
}

HttpError statusError(long status, const std::string& retryAfter) {
    int wait = -1;
    if (!retryAfter.empty() && std::isdigit(static_cast<unsigned char>(retryAfter[0])))
        wait = static_cast<int>(std::min(std::strtol(retryAfter.c_str(), nullptr, 10), 86400L));
    return HttpError("HTTP " + std::to_string(status), HttpError::Kind::status, status, wait);
}

HttpClient::HttpClient() : impl(std::make_unique<Impl>()) {
    impl->owner = this;
    impl->easy = curl_easy_init();
    impl->multi = curl_multi_init();
    if (!impl->easy || !impl->multi) throw HttpError("libcurl could not be initialised");
}

HttpClient::~HttpClient() {
    curl_multi_cleanup(impl->multi);
    curl_easy_cleanup(impl->easy);
}

void HttpClient::onWorkStart(std::int64_t) {}
void HttpClient::onWork(std::int64_t) {}
void HttpClient::onWorkEnd() {}

void HttpClient::disconnect() {
    impl->disconnects.fetch_add(1);
    curl_multi_wakeup(impl->multi);
}

void HttpClient::setAbortCheck(std::function<bool()> check) { impl->abortCheck = std::move(check); }
void HttpClient::setStallTimeout(int seconds) { impl->stallTimeout = seconds; }

std::string HttpClient::getRequestURL() const {
    std::lock_guard lock(impl->urlLock);
    return impl->url;
}

ResponseInfo HttpClient::getResponseInfo() const {
    std::lock_guard lock(impl->infoLock);
    return impl->info;
}

namespace {

class TextSink final : public ByteSink {
public:
    TextSink(std::string& text, std::size_t limit) : text(text), limit(limit) {}
    void begin(const ResponseInfo& info) override {
        if (static_cast<std::uint64_t>(info.contentLength) > limit) throw HttpError("too large", HttpError::Kind::tooLarge);
    }
    void write(const char* data, std::size_t size) override {
        if (size > limit - text.size()) throw HttpError("too large", HttpError::Kind::tooLarge);
        text.append(data, size);
    }

private:
    std::string& text;
    const std::size_t limit;
};

}  // namespace

std::string HttpClient::get(const std::string& url, std::size_t limit) {
    std::string body;
    TextSink sink(body, limit);
    perform(url, sink, {});
    return body;
}

void HttpClient::get(const std::string& url, ByteSink& sink, const ResumeFrom& resume) { perform(url, sink, resume); }

void HttpClient::perform(const std::string& url, ByteSink& sink, const ResumeFrom& resume, bool firstByte) {
    {
        std::lock_guard lock(impl->urlLock);
        impl->url = url;
    }
    const std::uint64_t generation = impl->disconnects.load();
    CURL* easy = impl->easy;
    curl_easy_reset(easy);
    curl_slist* headers = curl_slist_append(nullptr, "Accept: text/html, */*");
    std::string ifRange;
    if (resume.offset > 0 && !resume.validator.empty()) {
        ifRange = "If-Range: " + resume.validator;
        headers = curl_slist_append(headers, ifRange.c_str());
    }
    prepareEasy(easy, url, headers, impl->stallTimeout);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, impl.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, impl.get());
    if (firstByte) {
        curl_easy_setopt(easy, CURLOPT_RANGE, "0-0");
    } else if (resume.offset > 0 && !resume.validator.empty()) {
        const std::string range = std::to_string(resume.offset) + "-";
        curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());  // copied by libcurl
    }
    impl->sink = &sink;
    impl->sinkError = nullptr;
    impl->started = false;
    impl->received = 0;
    impl->offset = 0;
    {
        std::lock_guard lock(impl->infoLock);
        impl->info = {};
    }
    contentLength = 0;

    auto aborted = [&] {
        return impl->disconnects.load() != generation || (impl->abortCheck && impl->abortCheck());
    };
    curl_multi_add_handle(impl->multi, easy);
    CURLcode result = CURLE_OK;
    bool brokenOff = false;
    for (;;) {
        int running = 0;
        const CURLMcode code = curl_multi_perform(impl->multi, &running);
        if (code != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        if (running == 0) {
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(impl->multi, &queued))
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) result = message->data.result;
            break;
        }
        if (aborted()) {
            brokenOff = true;
            break;
        }
        curl_multi_poll(impl->multi, nullptr, 0, 50, nullptr);
        if (aborted()) {
            brokenOff = true;
            break;
        }
    }
    curl_multi_remove_handle(impl->multi, easy);
    curl_slist_free_all(headers);
    const long status = impl->status();
    // An empty body of a successful answer still begins (and is the whole file).
    if (!impl->started && !brokenOff && result == CURLE_OK && status < 300 && !impl->sinkError) {
        try {
            impl->start();
        } catch (...) {
            impl->sinkError = std::current_exception();
        }
    }
    if (!impl->started) {
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        contentLength = length > 0 ? length : 0;
    }
    if (impl->started) onWorkEnd();

    if (impl->sinkError) std::rethrow_exception(impl->sinkError);
    if (brokenOff) throw HttpError("the transfer was broken off", HttpError::Kind::brokenOff);
    if (status >= 300 && result == CURLE_OK) throw statusError(status, impl->retryAfter);
    if (result != CURLE_OK) throw errorOf(result);
}

}  // namespace vemlis
