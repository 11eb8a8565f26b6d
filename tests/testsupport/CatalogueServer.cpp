#include "CatalogueServer.h"

#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
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
    Entry entry;
    entry.size = static_cast<std::int64_t>(bytes.size());
    entry.bytes = std::make_shared<const std::string>(std::move(bytes));
    files[path] = std::move(entry);
}

void CatalogueServer::setFileFromDisk(const std::string& path, const std::filesystem::path& file) {
    std::lock_guard guard(lock);
    Entry entry;
    entry.disk = file;
    entry.size = static_cast<std::int64_t>(std::filesystem::file_size(file));
    files[path] = std::move(entry);
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
    {
        std::lock_guard guard(lock);
        ++counts[path];
        for (const char* name : {"Accept", "User-Agent"}) headers[path][name] = request.get_header_value(name);
        auto f = faults.find(path);
        if (f != faults.end() && f->second.times != 0) {
            fault = f->second;
            faulty = true;
            if (f->second.times > 0) --f->second.times;
        } else {
            fault.bytesPerSecond = throttle;
        }
        auto it = files.find(path);
        if (it == files.end()) {
            response.status = 404;
            return;
        }
        entry = it->second;
    }
    if (faulty && fault.status) {
        response.status = fault.status;
        response.set_content("failed on purpose", "text/plain");
        return;
    }
    if (faulty && !fault.redirectTo.empty()) {
        response.set_redirect(baseURL() + fault.redirectTo, 302);
        return;
    }

    const std::string type = path == "/movies.xml" ? "text/xml" : "video/x-msvideo";
    auto disk = std::make_shared<int>(-1);
    if (!entry.disk.empty()) *disk = ::open(entry.disk.c_str(), O_RDONLY | O_CLOEXEC);
    auto send = [this, entry, fault, disk](std::size_t offset, httplib::DataSink& sink) {
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
        chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(entry.size) - offset);
        if (entry.bytes) {
            sink.write(entry.bytes->data() + offset, chunk);
        } else {
            std::string block(chunk, '\0');
            const ssize_t n = ::pread(*disk, block.data(), chunk, static_cast<off_t>(offset));
            if (n <= 0) return false;
            sink.write(block.data(), static_cast<std::size_t>(n));
        }
        if (fault.bytesPerSecond > 0) std::this_thread::sleep_for(50ms);
        return !stopping.load();
    };
    auto release = [disk](bool) {
        if (*disk >= 0) ::close(*disk);
    };
    if (fault.noContentLength) {
        response.set_chunked_content_provider(
            type,
            [send, entry](std::size_t offset, httplib::DataSink& sink) {
                if (static_cast<std::int64_t>(offset) >= entry.size) {
                    sink.done();
                    return true;
                }
                return send(offset, sink);
            },
            release);
    } else {
        response.set_content_provider(
            static_cast<std::size_t>(entry.size), type,
            [send](std::size_t offset, std::size_t, httplib::DataSink& sink) { return send(offset, sink); }, release);
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
