#include "HttpClient.h"

#include <cctype>
#include <ctime>

#include "engine/net/HttpClientImpl.h"
#include "engine/net/TransferLimits.h"

namespace vemlis {

HttpLibrary::HttpLibrary() { curl_global_init(CURL_GLOBAL_DEFAULT); }
HttpLibrary::~HttpLibrary() { curl_global_cleanup(); }

long HttpClient::Impl::status() const {
    long code = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

ResponseInfo HttpClient::Impl::describe() const {
    ResponseInfo result;
    result.status = status();
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    result.contentLength = length > 0 ? length : 0;
    result.validator = answer.validator();
    result.acceptsRanges = answer.acceptRanges == "bytes";
    result.totalLength = result.status == 200 ? result.contentLength : 0;
    if (result.status == 206)
        if (const auto range = parseContentRange(answer.contentRange)) {
            result.rangeStart = range->first;
            result.totalLength = range->total > 0 ? range->total : 0;
        }
    return result;
}

bool HttpClient::Impl::start() {
    started = true;
    const ResponseInfo now = describe();
    {
        std::lock_guard guard(infoLock);
        info = now;
    }
    // A 200 for a range is the whole file, which the sink takes instead of the part.
    if ((refusal = answer.refusal(easy, asked ? &*asked : nullptr, !decode, false))) return false;
    offset = now.status == 206 ? now.rangeStart : 0;
    if (!sink->begin(now)) {
        declined = true;
        return false;
    }
    owner->onWorkStart(now.totalLength > 0 ? now.totalLength : (now.contentLength > 0 ? offset + now.contentLength : 0));
    return true;
}

std::int64_t HttpClient::Impl::partLength() const {
    std::lock_guard guard(infoLock);
    if (info.status != 206) return 0;
    const auto range = parseContentRange(answer.contentRange);
    return range ? range->last - range->first + 1 : 0;
}

std::size_t HttpClient::Impl::header(char* data, std::size_t, std::size_t size, void* self) {
    auto* impl = static_cast<Impl*>(self);
    const std::string_view line(data, size);
    // Nothing may leave a libcurl callback as an exception: it is carried past libcurl.
    try {
        impl->answer.take(line);
        // The headers of a successful answer are complete: its length is known before its
        // first byte, which a stalling server may never send.
        const long code = impl->status();
        if ((line == "\r\n" || line == "\n") && code >= 200 && code < 300 && !impl->started && !impl->start()) return 0;
    } catch (...) {
        impl->sinkError = std::current_exception();
        return 0;
    }
    return size;
}

std::size_t HttpClient::Impl::write(char* data, std::size_t, std::size_t size, void* self) {
    auto* impl = static_cast<Impl*>(self);
    // The body of an error answer is not the file.
    if (impl->status() >= 300) return size;
    // Nothing may leave a libcurl callback as an exception: it is carried past libcurl.
    try {
        if (!impl->started && !impl->start()) return 0;
        followSpeedLimit(impl->easy, impl->speedLimit, impl->socketRate);
        // Paid for before they are taken: connections that open at once never take a burst.
        if (!impl->speedLimit.take(size, impl->aborted)) {
            impl->stoppedInWrite = true;
            return 0;
        }
        if (!impl->sink->write(data, size)) {
            (impl->sink->enough() ? impl->satisfied : impl->sinkFailed) = true;
            return 0;
        }
        impl->received += static_cast<std::int64_t>(size);
        impl->owner->onWork(impl->offset + impl->received);
    } catch (...) {
        impl->sinkError = std::current_exception();
        return 0;
    }
    return size;
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

void HttpClient::setObserver(TransferObserver* observer) { impl->observer = observer; }

void HttpClient::onWorkStart(std::int64_t expected) {
    if (impl->observer) impl->observer->started(expected);
}
void HttpClient::onWork(std::int64_t count) {
    if (impl->observer) impl->observer->reached(count);
}
void HttpClient::onWorkEnd() {
    if (impl->observer) impl->observer->ended();
}

void HttpClient::disconnect() {
    impl->disconnects.fetch_add(1);
    curl_multi_wakeup(impl->multi);
}

void HttpClient::setAbortCheck(std::function<bool()> check) { impl->abortCheck = std::move(check); }
void HttpClient::setStallTimeout(int seconds) { impl->stallTimeout = seconds; }

void HttpClient::setSpeedLimit(std::int64_t bytesPerSecond) { impl->speedLimit.set(bytesPerSecond); }

ResponseInfo HttpClient::getResponseInfo() const {
    std::lock_guard lock(impl->infoLock);
    return impl->info;
}

namespace {

// Hands a text on while it stays within the limit.
class LimitedSink final : public ByteSink {
public:
    LimitedSink(ByteSink& out, std::size_t limit) : out(out), limit(limit) {}
    bool begin(const ResponseInfo& info) override {
        over = static_cast<std::uint64_t>(info.contentLength) > limit;
        return !over && out.begin(info);
    }
    bool write(const char* data, std::size_t size) override {
        over = size > limit - taken;
        if (over) return false;
        taken += size;
        return out.write(data, size);
    }
    bool over = false;

private:
    ByteSink& out;
    const std::size_t limit;
    std::size_t taken = 0;
};

class TextSink final : public ByteSink {
public:
    explicit TextSink(std::string& text) : text(text) {}
    bool write(const char* data, std::size_t size) override {
        text.append(data, size);
        return true;
    }

private:
    std::string& text;
};

}  // namespace

std::string HttpClient::get(const std::string& url, std::size_t limit) {
    std::string body;
    TextSink sink(body);
    getText(url, limit, sink);
    return body;
}

void HttpClient::getText(const std::string& url, std::size_t limit, ByteSink& out) {
    LimitedSink sink(out, limit);
    try {
        perform(url, sink, {}, true);
    } catch (const StreamError&) {
        if (!sink.over) throw;
    }
    if (sink.over) throw HttpError("too large", HttpError::Kind::tooLarge);
}

void HttpClient::get(const std::string& url, ByteSink& sink, const ResumeFrom& resume) {
    perform(url, sink, resume, false);
}

void HttpClient::perform(const std::string& url, ByteSink& sink, const ResumeFrom& resume, bool decode) {
    const std::uint64_t generation = impl->disconnects.load();
    CURL* easy = impl->easy;
    curl_easy_reset(easy);
    const bool resuming = resume.offset > 0 && !resume.validator.empty();
    curl_slist* headers = decode ? curl_slist_append(nullptr, "Accept: text/html, */*")
                                 : fileRequestHeaders(resuming ? resume.validator : std::string());
    try {
        prepareEasy(easy, url, headers, impl->stallTimeout);
    } catch (...) {
        curl_slist_free_all(headers);
        throw;
    }
    // Empty: every encoding libcurl decodes is asked for, and decoded.
    if (decode) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    applySpeedLimit(easy, impl->speedLimit);
    impl->socketRate = impl->speedLimit.get();  // what a new connection's socket is set for
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, impl.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, impl.get());
    impl->asked.reset();
    if (resuming) {
        const std::string range = std::to_string(resume.offset) + "-";
        curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());  // copied by libcurl
        impl->asked = RangeAsked{resume.offset, -1, resume.length, resume.validator};
    }
    impl->sink = &sink;
    impl->decode = decode;
    impl->sinkError = nullptr;
    impl->refusal.reset();
    impl->declined = false;
    impl->sinkFailed = false;
    impl->satisfied = false;
    impl->stoppedInWrite = false;
    impl->started = false;
    impl->received = 0;
    impl->offset = 0;
    impl->answer = {};
    {
        std::lock_guard lock(impl->infoLock);
        impl->info = {};
    }

    const std::function<bool()> aborted = impl->abortedSince(generation);
    impl->aborted = aborted;
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
        curl_multi_poll(impl->multi, nullptr, 0, static_cast<int>(limits::abortCheck.count()), nullptr);
        if (aborted()) {
            brokenOff = true;
            break;
        }
    }
    curl_multi_remove_handle(impl->multi, easy);
    impl->aborted = nullptr;
    curl_slist_free_all(headers);
    const long status = impl->status();
    // An empty body of a successful answer still begins (and is the whole file).
    if (!impl->started && !brokenOff && result == CURLE_OK && status < 300) {
        try {
            impl->start();
        } catch (...) {
            impl->sinkError = std::current_exception();
        }
    }
    if (!impl->started) {
        std::lock_guard lock(impl->infoLock);
        impl->info = impl->describe();
    }
    if (impl->started && !impl->declined && !impl->refusal) onWorkEnd();

    if (impl->sinkError) std::rethrow_exception(impl->sinkError);
    if (impl->refusal) throw *impl->refusal;
    if (impl->declined || impl->satisfied) return;
    if (impl->sinkFailed) throw StreamError("the bytes could not be kept");
    if (brokenOff || impl->stoppedInWrite) throw HttpError("the transfer was broken off", HttpError::Kind::brokenOff);
    if (status >= 300 && result == CURLE_OK) throw statusError(status, impl->answer.retryAfter);
    if (result != CURLE_OK) throw errorOf(result, url, easy);
    // A part that ends early, where no length said so (a body read to the connection's end).
    if (const std::int64_t whole = impl->partLength(); whole > 0 && impl->received != whole)
        throw HttpError("the part ended early", HttpError::Kind::cutShort);
}

}  // namespace vemlis
