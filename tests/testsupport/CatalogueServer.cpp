#include "CatalogueServer.h"

#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "AviGenerator.h"

namespace vemlis::testing {

using namespace std::chrono_literals;

CatalogueServer::CatalogueServer(int port) : server(std::make_unique<httplib::Server>()) {
    server->set_keep_alive_max_count(1000);
    server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        serve(request.path, &request, &response);
    });
    if (port == 0) {
        boundPort = server->bind_to_any_port("127.0.0.1");
    } else if (server->bind_to_port("127.0.0.1", port)) {
        boundPort = port;
    }
    if (boundPort <= 0) throw std::runtime_error("the test server cannot listen on 127.0.0.1");
    thread = std::thread([this] { server->listen_after_bind(); });
    // A stop() before the loop runs would be missed, and the destructor would wait for ever.
    while (!server->is_running()) std::this_thread::sleep_for(1ms);
}

CatalogueServer::~CatalogueServer() {
    stopping = true;
    server->stop();
    thread.join();
}

std::string CatalogueServer::baseURL() const { return "http://127.0.0.1:" + std::to_string(boundPort); }

void CatalogueServer::setCatalogue(std::string document) { setFile("/movies.xml", std::move(document)); }

void CatalogueServer::setFile(const std::string& path, std::string bytes) {
    std::lock_guard guard(lock);
    Entry& entry = files[path];
    entry.disk.clear();
    entry.size = static_cast<std::int64_t>(bytes.size());
    entry.bytes = std::make_shared<const std::string>(std::move(bytes));
    entry.version = ++versions;
}

void CatalogueServer::setFileFromDisk(const std::string& path, const std::filesystem::path& file) {
    std::lock_guard guard(lock);
    Entry& entry = files[path];
    entry.bytes.reset();
    entry.disk = file;
    entry.size = static_cast<std::int64_t>(std::filesystem::file_size(file));
    entry.version = ++versions;
}

void CatalogueServer::setRanges(const std::string& path, bool honoured) {
    std::lock_guard guard(lock);
    files[path].ranges = honoured;
}

void CatalogueServer::setValidator(const std::string& path, Validator validator) {
    std::lock_guard guard(lock);
    files[path].validator = validator;
}

void CatalogueServer::setMaxConnections(const std::string& path, int count) {
    std::lock_guard guard(lock);
    maxConnections[path] = count;
}

std::vector<std::string> CatalogueServer::rangesAsked(const std::string& path) const {
    std::lock_guard guard(lock);
    auto it = ranges.find(path);
    return it == ranges.end() ? std::vector<std::string>() : it->second;
}

int CatalogueServer::mostConnections(const std::string& path) const {
    std::lock_guard guard(lock);
    auto it = most.find(path);
    return it == most.end() ? 0 : it->second;
}

std::int64_t CatalogueServer::bytesSent(const std::string& path) const {
    std::lock_guard guard(lock);
    auto it = sent.find(path);
    return it == sent.end() ? 0 : it->second->load();
}

namespace {

const char* const sameSecondDate = "Mon, 01 Jan 2024 10:00:00 GMT";

// An HTTP date in English whatever the locale.
std::string httpDate(std::time_t when) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    ::gmtime_r(&when, &t);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[t.tm_wday], t.tm_mday, months[t.tm_mon],
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

}  // namespace

std::string CatalogueServer::validatorOf(const Entry& entry) {
    switch (entry.validator) {
        case Validator::weakEtag: return "W/\"same\"";
        case Validator::sameSecond: return sameSecondDate;
        case Validator::etag: return "\"v" + std::to_string(entry.version) + "\"";
        case Validator::lastModified: {
            // A date that changes with the version, one day apart.
            static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
            const int day = entry.version % 28 + 1;
            return std::string(days[(day + 3) % 7]) + ", " + (day < 10 ? "0" : "") + std::to_string(day) +
                   " Jan 2024 10:00:00 GMT";
        }
        case Validator::none: return {};
    }
    return {};
}

void CatalogueServer::setFault(const std::string& path, Fault fault) {
    std::lock_guard guard(lock);
    faults[path] = std::move(fault);
}

void CatalogueServer::clearFault(const std::string& path) {
    std::lock_guard guard(lock);
    faults.erase(path);
}

void CatalogueServer::setThrottle(std::int64_t bytesPerSecond) {
    std::lock_guard guard(lock);
    throttle = bytesPerSecond;
}

int CatalogueServer::requests(const std::string& path) const {
    std::lock_guard guard(lock);
    auto it = counts.find(path);
    return it == counts.end() ? 0 : it->second;
}

std::string CatalogueServer::lastHeader(const std::string& path, const std::string& name) const {
    std::lock_guard guard(lock);
    auto it = headers.find(path);
    if (it == headers.end()) return {};
    auto h = it->second.find(name);
    return h == it->second.end() ? std::string() : h->second;
}

void CatalogueServer::serve(const std::string& path, const void* requestHandle, void* responseHandle) {
    const auto& request = *static_cast<const httplib::Request*>(requestHandle);
    auto& response = *static_cast<httplib::Response*>(responseHandle);
    Entry entry;
    Fault fault;
    bool faulty = false;
    std::shared_ptr<std::atomic<std::int64_t>> counter;
    std::shared_ptr<std::atomic<int>> serving;
    bool refused = false;
    {
        std::lock_guard guard(lock);
        ++counts[path];
        auto& slot = sent[path];
        if (!slot) slot = std::make_shared<std::atomic<std::int64_t>>(0);
        counter = slot;
        for (const char* name : {"Accept", "Accept-Encoding", "User-Agent", "Range", "If-Range"}) headers[path][name] = request.get_header_value(name);
        if (request.has_header("Range")) ranges[path].push_back(request.get_header_value("Range"));
        auto f = faults.find(path);
        if (f != faults.end() && f->second.times != 0) {
            fault = f->second;
            faulty = true;
            if (f->second.times > 0) --f->second.times;
        } else {
            fault.bytesPerSecond = throttle;
        }
        auto it = files.find(path);
        if (it == files.end() || (!it->second.bytes && it->second.disk.empty())) {
            response.status = 404;
            return;
        }
        entry = it->second;
        auto& openSlot = open[path];
        if (!openSlot) openSlot = std::make_shared<std::atomic<int>>(0);
        serving = openSlot;
        const auto limit = maxConnections.find(path);
        if (limit != maxConnections.end() && limit->second > 0 && serving->load() >= limit->second) {
            refused = true;
        } else {
            most[path] = std::max(most[path], ++*serving);
        }
    }
    // Ranges are served here, not by the library, which would apply them to any answer.
    const std::string range = request.get_header_value("Range");
    const_cast<httplib::Request&>(request).ranges.clear();
    if (refused) {
        response.status = 503;
        response.set_content("too many connections", "text/plain");
        return;
    }
    // Counted as open until the body is sent (or the request ends without one).
    auto closeOne = std::shared_ptr<void>(nullptr, [serving](void*) { --*serving; });
    if (faulty && fault.status) {
        response.status = fault.status;
        if (fault.retryAfter >= 0) response.set_header("Retry-After", std::to_string(fault.retryAfter));
        response.set_content("failed on purpose", "text/plain");
        return;
    }
    if (faulty && !fault.redirectTo.empty()) {
        response.set_redirect(baseURL() + fault.redirectTo, 302);
        return;
    }

    std::string validator = validatorOf(entry);
    if (fault.newValidatorEachAnswer && entry.validator == Validator::etag)
        validator = "\"answer" + std::to_string(requests(path)) + "\"";
    const bool tagged = entry.validator == Validator::etag || entry.validator == Validator::weakEtag;
    if (!validator.empty()) response.set_header(tagged ? "ETag" : "Last-Modified", validator);
    response.set_header("Date", entry.validator == Validator::sameSecond ? sameSecondDate : httpDate(std::time(nullptr)));
    if (!fault.encoding.empty()) response.set_header("Content-Encoding", fault.encoding);
    if (entry.ranges) response.set_header("Accept-Ranges", "bytes");
    std::int64_t start = 0;
    std::int64_t rangeEnd = entry.size;
    if (entry.ranges && !fault.wholeForRanges && range.rfind("bytes=", 0) == 0 && range.find(',') == std::string::npos) {
        const std::string ifRange = request.get_header_value("If-Range");
        if (ifRange.empty() || ifRange == validator || fault.ignoreIfRange) {
            start = std::stoll(range.substr(6));
            std::int64_t last = entry.size - 1;
            if (const std::size_t dash = range.find('-'); dash != std::string::npos && dash + 1 < range.size())
                last = std::min<std::int64_t>(last, std::stoll(range.substr(dash + 1)));
            if (fault.shiftRange != 0 && start < entry.size && start <= last) {
                const std::int64_t by = std::max(fault.shiftRange, -start);
                start += by;
                last = std::min(last + by, entry.size - 1);
            }
            if (fault.partialLimit > 0) last = std::min(last, start + fault.partialLimit - 1);
            rangeEnd = last + 1;
            if (start >= entry.size || last < start) {
                response.status = 416;
                response.set_header("Content-Range", "bytes */" + std::to_string(entry.size));
                return;
            }
            response.status = 206;
            response.set_header("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(last) + "/" +
                                                     std::to_string(entry.size));
        }
    }

    const std::string type = path == "/movies.xml" ? "text/xml" : "video/x-msvideo";
    auto disk = std::make_shared<int>(-1);
    if (!entry.disk.empty()) *disk = ::open(entry.disk.c_str(), O_RDONLY | O_CLOEXEC);
    // Never past `end`: bytes after the range asked would be read as the next answer on the connection.
    auto send = [this, entry, fault, disk, counter](std::size_t offset, std::size_t end, httplib::DataSink& sink) {
        if (fault.dropAfter >= 0 && static_cast<std::int64_t>(offset) >= fault.dropAfter) return false;
        if (fault.stallAfter >= 0 && static_cast<std::int64_t>(offset) >= fault.stallAfter) {
            for (int i = 0; i < 600 && !stopping && sink.is_writable(); ++i) std::this_thread::sleep_for(50ms);
            return false;
        }
        std::size_t chunk = 256 * 1024;
        if (fault.bytesPerSecond > 0) chunk = static_cast<std::size_t>(std::max<std::int64_t>(fault.bytesPerSecond / 20, 1));
        if (fault.dropAfter >= 0) chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(fault.dropAfter) - offset);
        if (fault.stallAfter >= 0)
            chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(fault.stallAfter) - offset);
        chunk = std::min<std::size_t>(chunk, std::min(static_cast<std::size_t>(entry.size), end) - offset);
        if (entry.bytes) {
            sink.write(entry.bytes->data() + offset, chunk);
        } else {
            std::string block(chunk, '\0');
            const ssize_t n = ::pread(*disk, block.data(), chunk, static_cast<off_t>(offset));
            if (n <= 0) return false;
            chunk = static_cast<std::size_t>(n);
            sink.write(block.data(), chunk);
        }
        *counter += static_cast<std::int64_t>(chunk);
        // A chunk's worth of time (a byte a second when dripping), looking for the end every 50 ms.
        if (fault.bytesPerSecond > 0)
            for (auto left = std::chrono::milliseconds(static_cast<std::int64_t>(chunk) * 1000 / fault.bytesPerSecond);
                 !stopping && left > 0ms; left -= 50ms)
                std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(left, 50ms));
        return !stopping.load();
    };
    auto release = [disk, closeOne](bool) {
        if (*disk >= 0) ::close(*disk);
    };
    // Offsets the library hands over count from the start of what is sent.
    const auto begin = static_cast<std::size_t>(start);
    if (fault.noContentLength) {
        response.set_chunked_content_provider(
            type,
            [send, entry, begin](std::size_t offset, httplib::DataSink& sink) {
                if (static_cast<std::int64_t>(begin + offset) >= entry.size) {
                    sink.done();
                    return true;
                }
                return send(begin + offset, static_cast<std::size_t>(entry.size), sink);
            },
            release);
    } else {
        response.set_content_provider(
            static_cast<std::size_t>(rangeEnd - start), type,
            [send, begin](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                return send(begin + offset, begin + offset + length, sink);
            },
            release);
    }
}

ServedSeries serveSeries(CatalogueServer& server, CatalogueShape shape, int width, int height, int frames) {
    shape.baseURL = server.baseURL();
    ServedSeries series;
    series.catalogue = generateCatalogue(shape);
    std::uint32_t seed = 0;
    for (const auto& file : series.catalogue.files) {
        std::string bytes;
        auto& pieces = series.pieces[file.path];
        for (std::size_t i = 0; i < file.movies.size(); ++i) {
            pieces.push_back(makeAvi(width, height, frames, ++seed));
            bytes += pieces.back();
        }
        server.setFile(file.path, std::move(bytes));
    }
    server.setCatalogue(series.catalogue.document);
    return series;
}

}  // namespace vemlis::testing
