// The HTTP client's transfers of one file over several connections at once.
#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <vector>

#include "engine/net/HttpClientImpl.h"
#include "engine/net/SegmentPlan.h"
#include "engine/net/TransferLimits.h"

namespace vemlis {

namespace {

// One connection and the segment it fetches.
struct Connection {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::size_t segment = 0;
    std::vector<Segment>* segments = nullptr;
    OffsetSink* sink = nullptr;
    std::function<void()> counted;
    SpeedLimit* speedLimit = nullptr;
    const std::function<bool()>* aborted = nullptr;
    RangeAsked asked;
    AnswerHeaders answer;
    long status = 0;
    bool begun = false;
    bool refused = false;  // 503 or 429: the server wants fewer connections
    bool sinkFailed = false;
    bool reachedEnd = false;
    bool stopped = false;  // broken off while the speed limit waited
    std::optional<HttpError> refusal;  // the answer did not fit the request
    std::exception_ptr error;  // thrown inside a callback
    std::int64_t socketRate = 0;  // the limit its socket's buffer was set for

    // Nothing may leave a libcurl callback as an exception: it is carried past libcurl.
    static std::size_t header(char* data, std::size_t, std::size_t size, void* self) {
        auto* c = static_cast<Connection*>(self);
        try {
            c->answer.take(std::string_view(data, size));
            return size;
        } catch (...) {
            c->error = std::current_exception();
            return 0;
        }
    }

    // The first byte of the answer: only exactly the range asked, of the same version and
    // length, as the file holds it, is taken.
    void begin() {
        begun = true;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        if (status == 503 || status == 429) refused = true;
        refusal = answer.refusal(easy, &asked, true, true);
    }

    static std::size_t write(char* data, std::size_t, std::size_t size, void* self) {
        auto* c = static_cast<Connection*>(self);
        try {
            return c->accept(data, size);
        } catch (...) {
            c->error = std::current_exception();
            return 0;
        }
    }

    // The bytes of the segment, written where they belong.
    std::size_t accept(const char* data, std::size_t size) {
        if (!begun) begin();
        if (status != 206 || refusal) return 0;
        Segment& s = (*segments)[segment];
        const std::int64_t room = s.to - (s.from + s.done);
        const std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(room, static_cast<std::int64_t>(size)));
        followSpeedLimit(easy, *speedLimit, socketRate);
        // Paid for before they are taken: connections that open at once never take a burst.
        if (!speedLimit->take(take, *aborted)) {
            stopped = true;
            return 0;
        }
        if (take > 0 && !sink->writeAt(s.from + s.done, data, take)) {
            sinkFailed = true;
            return 0;
        }
        s.done += static_cast<std::int64_t>(take);
        counted();
        if (take < size) {
            // The segment was shortened for another connection: the rest is that one's.
            reachedEnd = true;
            return take;
        }
        return size;
    }
};

}  // namespace

namespace {

// Keeps the bytes of one small range.
class MemorySink final : public OffsetSink {
public:
    MemorySink(std::int64_t first, std::size_t size) : first(first), bytes(size, '\0') {}
    bool writeAt(std::int64_t offset, const char* data, std::size_t size) override {
        bytes.replace(static_cast<std::size_t>(offset - first), size, data, size);
        return true;
    }
    const std::int64_t first;
    std::string bytes;
};

}  // namespace

void HttpClient::getSegments(const std::string& url, const std::string& validator, std::vector<Segment>& segments,
                             OffsetSink& sink, int connections, std::int64_t length) {
    if (length <= 0)
        for (const Segment& s : segments) length = std::max(length, s.to);
    fetchSegments(url, validator, segments, sink, connections, length, true);
}

std::string HttpClient::getRange(const std::string& url, const std::string& validator, std::int64_t first,
                                 std::size_t size, std::int64_t length) {
    std::vector<Segment> range{{first, first + static_cast<std::int64_t>(size), 0}};
    MemorySink sink(first, size);
    fetchSegments(url, validator, range, sink, 1, length, false);
    return std::move(sink.bytes);
}

void HttpClient::fetchSegments(const std::string& url, const std::string& validator, std::vector<Segment>& segments,
                               OffsetSink& sink, int connections, std::int64_t total, bool told) {
    const std::uint64_t generation = impl->disconnects.load();
    const std::function<bool()> aborted = impl->abortedSince(generation);
    const auto countAll = [&] {
        if (!told) return;
        std::int64_t arrived = 0;
        for (const Segment& s : segments) arrived += s.done;
        onWork(arrived);
    };
    // What is told is the bytes the segments hold, which need not be the whole file.
    std::int64_t asked = 0;
    for (const Segment& s : segments) asked += s.to - s.from;
    if (told) onWorkStart(asked);
    countAll();

    std::vector<std::unique_ptr<Connection>> active;
    std::vector<CURL*> idle;  // kept for their open connections
    SegmentPlan plan(segments, connections);

    const auto start = [&](std::size_t index) {
        auto c = std::make_unique<Connection>();
        c->easy = idle.empty() ? curl_easy_init() : idle.back();
        if (!idle.empty()) idle.pop_back();
        if (!c->easy) throw HttpError("libcurl could not be initialised");
        curl_easy_reset(c->easy);
        c->headers = fileRequestHeaders(validator);
        c->segment = index;
        c->segments = &segments;
        c->sink = &sink;
        c->counted = countAll;
        c->speedLimit = &impl->speedLimit;
        c->aborted = &aborted;
        const Segment& s = segments[index];
        c->asked = RangeAsked{s.from + s.done, s.to - 1, total, validator};
        try {
            prepareEasy(c->easy, url, c->headers, impl->stallTimeout);
        } catch (...) {
            curl_slist_free_all(c->headers);
            idle.push_back(c->easy);
            throw;
        }
        const std::string range = std::to_string(c->asked.first) + "-" + std::to_string(c->asked.last);
        curl_easy_setopt(c->easy, CURLOPT_RANGE, range.c_str());
        applySpeedLimit(c->easy, impl->speedLimit);
        c->socketRate = impl->speedLimit.get();  // what a new connection's socket is set for
        curl_easy_setopt(c->easy, CURLOPT_WRITEFUNCTION, &Connection::write);
        curl_easy_setopt(c->easy, CURLOPT_WRITEDATA, c.get());
        curl_easy_setopt(c->easy, CURLOPT_HEADERFUNCTION, &Connection::header);
        curl_easy_setopt(c->easy, CURLOPT_HEADERDATA, c.get());
        curl_multi_add_handle(impl->multi, c->easy);
        active.push_back(std::move(c));
    };
    const auto release = [&](Connection& c) {
        curl_multi_remove_handle(impl->multi, c.easy);
        curl_slist_free_all(c.headers);
        idle.push_back(c.easy);
        plan.ended(c.segment);
    };
    // Gives every free connection a segment.
    const auto fill = [&] {
        while (const auto next = plan.next(static_cast<int>(active.size()))) start(*next);
    };
    const auto finish = [&] {
        for (auto& c : active) release(*c);
        active.clear();
        for (CURL* easy : idle) curl_easy_cleanup(easy);
        idle.clear();
        sink.progress(segments);
        if (told) onWorkEnd();
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
                if (c->stopped) throw HttpError("the transfer was broken off", HttpError::Kind::brokenOff);
                if (c->sinkFailed) throw StreamError("the bytes could not be kept");
                if (c->refusal) throw *c->refusal;
                if (!c->begun) curl_easy_getinfo(c->easy, CURLINFO_RESPONSE_CODE, &c->status);
                if ((c->refused || c->status == 503 || c->status == 429) && !active.empty()) {
                    plan.refused(static_cast<int>(active.size()));
                    continue;
                }
                if (c->status >= 300 || (c->begun && c->status != 206)) throw statusError(c->status, c->answer.retryAfter);
                if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && c->reachedEnd)) throw errorOf(result, url, c->easy);
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
            curl_multi_poll(impl->multi, nullptr, 0, static_cast<int>(limits::abortCheck.count()), nullptr);
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
