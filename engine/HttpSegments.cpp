// The HTTP client's transfers of one file over several connections at once.
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "engine/HttpClientImpl.h"

namespace vemlis {

namespace {

// A segment smaller than this is not split again for a connection that has nothing to do.
constexpr std::int64_t smallestSteal = 1 << 20;

// Takes the answer to a probe: its headers, and at most the byte asked for.
class ProbeSink final : public ByteSink {
public:
    struct NoRanges {};
    void begin(const ResponseInfo& info) override {
        if (info.status != 206) throw NoRanges();  // the whole file is coming: not wanted here
    }
    void write(const char*, std::size_t) override {}
};

// One connection and the segment it fetches.
struct Connection {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::size_t segment = 0;
    std::vector<Segment>* segments = nullptr;
    OffsetSink* sink = nullptr;
    HttpClient* owner = nullptr;
    std::function<void()> counted;
    std::string retryAfter;
    long status = 0;
    bool begun = false;
    bool refused = false;  // 503 or 429: the server wants fewer connections
    bool changed = false;  // a 200: the server sent the whole (maybe another) file
    bool reachedEnd = false;
    std::exception_ptr error;

    static std::size_t header(char* data, std::size_t, std::size_t size, void* self) {
        auto* c = static_cast<Connection*>(self);
        const std::string_view line(data, size);
        if (line.rfind("HTTP/", 0) == 0) c->retryAfter.clear();
        headerValue(line, "Retry-After", c->retryAfter);
        return size;
    }

    static std::size_t write(char* data, std::size_t, std::size_t size, void* self) {
        auto* c = static_cast<Connection*>(self);
        if (!c->begun) {
            c->begun = true;
            curl_easy_getinfo(c->easy, CURLINFO_RESPONSE_CODE, &c->status);
            if (c->status == 200) c->changed = true;
            if (c->status == 503 || c->status == 429) c->refused = true;
        }
        if (c->status != 206) return 0;
        Segment& s = (*c->segments)[c->segment];
        const std::int64_t room = s.to - (s.from + s.done);
        const std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(room, static_cast<std::int64_t>(size)));
        try {
            if (take > 0) c->sink->writeAt(s.from + s.done, data, take);
        } catch (...) {
            c->error = std::current_exception();
            return 0;
        }
        s.done += static_cast<std::int64_t>(take);
        c->counted();
        if (take < size) {
            // The segment was shortened for another connection: the rest is that one's.
            c->reachedEnd = true;
            return take;
        }
        return size;
    }
};

}  // namespace

ResponseInfo HttpClient::probe(const std::string& url) {
    ProbeSink sink;
    try {
        perform(url, sink, {0, ""}, true);
    } catch (const ProbeSink::NoRanges&) {
    }
    return getResponseInfo();
}

void HttpClient::getSegments(const std::string& url, const std::string& validator, std::vector<Segment>& segments,
                             OffsetSink& sink, int connections) {
    {
        std::lock_guard lock(impl->urlLock);
        impl->url = url;
    }
    const std::uint64_t generation = impl->disconnects.load();
    const auto aborted = [&] {
        return impl->disconnects.load() != generation || (impl->abortCheck && impl->abortCheck());
    };
    std::int64_t total = 0;
    for (const Segment& s : segments) total = std::max(total, s.to);
    const auto countAll = [&] {
        std::int64_t arrived = 0;
        for (const Segment& s : segments) arrived += s.done;
        onWork(arrived);
    };
    onWorkStart(total);
    countAll();

    std::vector<std::unique_ptr<Connection>> active;
    std::vector<CURL*> idle;  // kept for their open connections
    std::vector<bool> busy(segments.size(), false);
    int limit = std::max(connections, 1);
    const std::string ifRange = "If-Range: " + validator;

    const auto start = [&](std::size_t index) {
        auto c = std::make_unique<Connection>();
        c->easy = idle.empty() ? curl_easy_init() : idle.back();
        if (!idle.empty()) idle.pop_back();
        if (!c->easy) throw HttpError("libcurl could not be initialised");
        curl_easy_reset(c->easy);
        c->headers = curl_slist_append(nullptr, "Accept: text/html, */*");
        c->headers = curl_slist_append(c->headers, ifRange.c_str());
        c->segment = index;
        c->segments = &segments;
        c->sink = &sink;
        c->owner = this;
        c->counted = countAll;
        prepareEasy(c->easy, url, c->headers, impl->stallTimeout);
        const Segment& s = segments[index];
        const std::string range = std::to_string(s.from + s.done) + "-" + std::to_string(s.to - 1);
        curl_easy_setopt(c->easy, CURLOPT_RANGE, range.c_str());
        curl_easy_setopt(c->easy, CURLOPT_WRITEFUNCTION, &Connection::write);
        curl_easy_setopt(c->easy, CURLOPT_WRITEDATA, c.get());
        curl_easy_setopt(c->easy, CURLOPT_HEADERFUNCTION, &Connection::header);
        curl_easy_setopt(c->easy, CURLOPT_HEADERDATA, c.get());
        curl_multi_add_handle(impl->multi, c->easy);
        busy[index] = true;
        active.push_back(std::move(c));
    };
    const auto release = [&](Connection& c) {
        curl_multi_remove_handle(impl->multi, c.easy);
        curl_slist_free_all(c.headers);
        idle.push_back(c.easy);
        busy[c.segment] = false;
    };
    // Gives every free connection a segment: one not begun or broken off, else half of the
    // largest one still running.
    const auto fill = [&] {
        while (static_cast<int>(active.size()) < limit) {
            std::size_t next = segments.size();
            for (std::size_t i = 0; i < segments.size() && next == segments.size(); ++i)
                if (!busy[i] && !segments[i].finished()) next = i;
            if (next == segments.size()) {
                std::size_t largest = segments.size();
                std::int64_t most = 0;
                for (std::size_t i = 0; i < segments.size(); ++i) {
                    const std::int64_t left = segments[i].to - segments[i].from - segments[i].done;
                    if (busy[i] && left > most) most = left, largest = i;
                }
                if (largest == segments.size() || most < 2 * smallestSteal) return;
                // By index: the push may move the segments.
                const std::int64_t middle = segments[largest].from + segments[largest].done + most / 2;
                const std::int64_t end = segments[largest].to;
                segments[largest].to = middle;
                segments.push_back({middle, end, 0});
                busy.push_back(false);
                next = segments.size() - 1;
            }
            start(next);
        }
    };
    const auto finish = [&] {
        for (auto& c : active) release(*c);
        active.clear();
        for (CURL* easy : idle) curl_easy_cleanup(easy);
        idle.clear();
        sink.progress(segments);
        onWorkEnd();
    };

    try {
        fill();
        auto lastReport = std::chrono::steady_clock::now();
        while (!active.empty()) {
            int running = 0;
            if (curl_multi_perform(impl->multi, &running) != CURLM_OK) throw HttpError("libcurl failed");
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(impl->multi, &queued)) {
                if (message->msg != CURLMSG_DONE) continue;
                const auto it = std::find_if(active.begin(), active.end(),
                                             [&](const auto& c) { return c->easy == message->easy_handle; });
                if (it == active.end()) continue;
                std::unique_ptr<Connection> c = std::move(*it);
                active.erase(it);
                const CURLcode result = message->data.result;
                release(*c);
                if (c->error) std::rethrow_exception(c->error);
                if (!c->begun) curl_easy_getinfo(c->easy, CURLINFO_RESPONSE_CODE, &c->status);
                if (c->changed) throw HttpError("the file changed on the server", HttpError::Kind::changed);
                if ((c->refused || c->status == 503 || c->status == 429) && !active.empty()) {
                    limit = std::max(1, static_cast<int>(active.size()));  // fewer connections from now on
                    continue;
                }
                if (c->status >= 300 || (c->begun && c->status != 206)) throw statusError(c->status, c->retryAfter);
                if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && c->reachedEnd)) throw errorOf(result);
                if (!segments[c->segment].finished())
                    throw HttpError("a connection ended before its part", HttpError::Kind::cutShort);
            }
            if (aborted()) throw HttpError("the transfer was broken off", HttpError::Kind::brokenOff);
            fill();
            if (active.empty()) break;
            if (const auto now = std::chrono::steady_clock::now(); now - lastReport > std::chrono::seconds(1)) {
                sink.progress(segments);
                lastReport = now;
            }
            curl_multi_poll(impl->multi, nullptr, 0, 50, nullptr);
            if (aborted()) throw HttpError("the transfer was broken off", HttpError::Kind::brokenOff);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    for (const Segment& s : segments)
        if (!s.finished()) throw HttpError("a part of the file is missing", HttpError::Kind::cutShort);
}

}  // namespace vemlis
