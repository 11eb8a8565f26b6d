#include "HttpClient.h"

#include <curl/curl.h>

#include <exception>
#include <mutex>

namespace vemlis {

HttpLibrary::HttpLibrary() { curl_global_init(CURL_GLOBAL_DEFAULT); }
HttpLibrary::~HttpLibrary() { curl_global_cleanup(); }

struct HttpClient::Impl {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    std::atomic<std::uint64_t> disconnects{0};
    std::function<bool()> abortCheck;
    int stallTimeout = 0;
    mutable std::mutex urlLock;
    std::string url;

    // Per transfer.
    const std::function<void(const char*, std::size_t)>* take = nullptr;
    std::exception_ptr sinkError;
    bool started = false;
    std::int64_t received = 0;
    HttpClient* owner = nullptr;

    static std::size_t write(char* data, std::size_t, std::size_t size, void* self) {
        auto* impl = static_cast<Impl*>(self);
        try {
            if (!impl->started) {
                impl->started = true;
                curl_off_t length = -1;
                curl_easy_getinfo(impl->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
                impl->owner->contentLength = length > 0 ? length : 0;
                impl->owner->onWorkStart(impl->owner->contentLength);
            }
            (*impl->take)(data, size);
            impl->received += static_cast<std::int64_t>(size);
            impl->owner->onWork(impl->received);
        } catch (...) {
            impl->sinkError = std::current_exception();
            return 0;  // makes libcurl end the transfer with a write error
        }
        return size;
    }
};

HttpClient::HttpClient() : impl(std::make_unique<Impl>()) {
    impl->owner = this;
    impl->easy = curl_easy_init();
    impl->multi = curl_multi_init();
    if (!impl->easy || !impl->multi) throw HttpError("libcurl could not be initialised");
    impl->headers = curl_slist_append(nullptr, "Accept: text/html, */*");
}

HttpClient::~HttpClient() {
    curl_slist_free_all(impl->headers);
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

std::string HttpClient::get(const std::string& url) {
    std::string body;
    perform(url, [&body](const char* data, std::size_t size) { body.append(data, size); });
    return body;
}

void HttpClient::get(const std::string& url, ByteSink& sink) {
    perform(url, [&sink](const char* data, std::size_t size) { sink.write(data, size); });
}

void HttpClient::perform(const std::string& url, const std::function<void(const char*, std::size_t)>& take) {
    {
        std::lock_guard lock(impl->urlLock);
        impl->url = url;
    }
    const std::uint64_t generation = impl->disconnects.load();
    CURL* easy = impl->easy;
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 15L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, impl->headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "KQ4Loader");
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 512L * 1024L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, impl.get());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
    if (impl->stallTimeout > 0) {
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(impl->stallTimeout));
    }

    impl->take = &take;
    impl->sinkError = nullptr;
    impl->started = false;
    impl->received = 0;
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
    if (!impl->started) {
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        contentLength = length > 0 ? length : 0;
    }
    if (impl->started) onWorkEnd();

    if (impl->sinkError) std::rethrow_exception(impl->sinkError);
    if (brokenOff) throw HttpError("the transfer was broken off");
    if (result != CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        std::string text = curl_easy_strerror(result);
        if (status >= 400) text += " (HTTP " + std::to_string(status) + ")";
        throw HttpError(text);
    }
}

}  // namespace vemlis
