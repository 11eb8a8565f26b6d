#include "MovieSegments.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <tuple>

#include "model/MoviesSet.h"

namespace vemlis {

using tavik::vemlis_loader::Movie;
using tavik::vemlis_loader::Queue;
using tavik::vemlis_loader::ServerFile;

namespace {

// What one connection writes through the page cache goes out to the disk in steps of this
// size, as for one connection.
constexpr std::int64_t writeStep = 4 << 20;

// Connections that write at once, and a few that ended: more are forgotten, oldest first.
constexpr std::size_t runsKept = 32;
// Blocks that runs may hold while they fill; the rest are being written.
constexpr std::size_t heldMost = DirectWrites::defaultBlocks / 2;

}  // namespace

bool coveredBy(const std::vector<Segment>& segments, std::int64_t from, std::int64_t to) {
    std::vector<std::pair<std::int64_t, std::int64_t>> arrived;
    for (const Segment& s : segments)
        if (s.done > 0) arrived.emplace_back(s.from, s.from + s.done);
    std::sort(arrived.begin(), arrived.end());
    for (const auto& [begin, end] : arrived) {
        if (begin > from) return false;
        from = std::max(from, end);
        if (from >= to) return true;
    }
    return from >= to;
}

MovieSegments::MovieSegments(const ServerFile& file, SplitHandler& handler, const FreeSpace& room, KeptParts& notes,
                             const SegmentResume& point)
    : file(file), handler(handler), room(room), notes(notes), url(file.getURL()), point(point) {}

const Movie* MovieSegments::movie(std::size_t n) const { return file.getMovies()[n]; }

bool MovieSegments::prepare() {
    const std::size_t movies = std::min(point.headers.size(), file.getMovies().size());
    std::vector<std::string> written;
    for (std::size_t n = 0; n < movies; ++n) {
        const Movie* m = movie(n);
        if (m->getLoadFlag() != Queue) continue;
        auto output = std::make_unique<Output>();
        if (!handler.writeDirect()) output->file.keepInPageCache();
        output->movie = n;
        std::tie(output->from, output->to) = point.movie(n);
        const std::string aside = notes.asidePath(url, n).string();
        const auto kept = std::find_if(point.parts.begin(), point.parts.end(), [&](const auto& p) { return p.first == n; });
        if (kept != point.parts.end() && (kept->second == m->getFileName() || kept->second == aside)) {
            if (!output->file.reopen(kept->second, output->to - output->from, false)) {
                failure = output->file.reason();
                return false;
            }
            output->name = kept->second;
        } else {
            handler.claimFreeName(m, written);
            output->name = m->getFileName();
            // The question about a name or room that does not work comes once the file is in.
            if (!create(*output, output->name) && !create(*output, aside)) return false;
            failure.clear();
        }
        output->aside = output->name == aside;
        if (!output->aside) written.push_back(output->name);
        outputs.push_back(std::move(output));
    }
    return true;
}

bool MovieSegments::create(Output& output, const std::string& name) {
    const std::int64_t length = output.to - output.from;
    output.name = name;
    if (const std::int64_t free = room(name); free >= 0 && free < length) {
        failure = notEnoughRoom(length, free);
        return false;
    }
    if (!output.file.open(name, false) || !output.file.setLength(length)) {
        failure = output.file.reason();
        return false;
    }
    return true;
}

MovieSegments::Output* MovieSegments::outputAt(std::int64_t offset, std::int64_t& end) {
    for (const auto& output : outputs) {
        if (offset < output->from) {
            end = std::min(end, output->from);  // nobody's bytes up to the next queued movie
            return nullptr;
        }
        if (offset < output->to) {
            end = std::min(end, output->to);
            return output.get();
        }
    }
    return nullptr;
}

bool MovieSegments::writeAt(std::int64_t offset, const char* data, std::size_t size) {
    if (!failure.empty()) return false;
    while (size > 0) {
        std::int64_t end = offset + static_cast<std::int64_t>(size);
        Output* output = outputAt(offset, end);
        const auto piece = static_cast<std::size_t>(end - offset);
        if (output) {
            put(runAt(*output, offset), data, piece);
            if (!output->file.good()) {
                failure = output->file.reason();
                return false;
            }
        }
        data += piece;
        size -= piece;
        offset = end;
    }
    return true;
}

MovieSegments::Run& MovieSegments::runAt(Output& output, std::int64_t offset) {
    const auto run = std::find_if(runs.begin(), runs.end(), [&](const Run& r) { return r.output == &output && r.end == offset; });
    if (run != runs.end()) return *run;
    if (runs.size() >= runsKept) {
        send(runs.front());
        runs.erase(runs.begin());
    }
    runs.push_back(Run{&output, offset, offset - output.from});
    return runs.back();
}

void MovieSegments::put(Run& run, const char* data, std::size_t size) {
    Output& output = *run.output;
    std::int64_t at = run.end - output.from;
    run.end += static_cast<std::int64_t>(size);
    if (output.file.directFd() < 0) {
        output.file.writeAt(at, data, size);
        const std::int64_t upTo = run.end - output.from;
        if (upTo - run.from < writeStep) return;
        output.file.writeOut(run.from, upTo);
        run.from = upTo;
        return;
    }
    constexpr auto page = static_cast<std::int64_t>(DirectBuffer::alignment);
    while (size > 0) {
        std::size_t n = 0;
        if (run.block) {
            n = std::min(size, run.block->size() - run.filled);
            std::memcpy(run.block->data() + run.filled, data, n);
            run.filled += n;
            if (run.filled == run.block->size()) send(run);
        } else if (const std::int64_t head = (page - at % page) % page; head > 0) {
            // Up to the next whole page through the page cache.
            n = static_cast<std::size_t>(std::min<std::int64_t>(head, static_cast<std::int64_t>(size)));
            output.file.writeAt(at, data, n);
        } else {
            // Runs whose connections ended keep their blocks until they go on or are sent: only
            // so many may, so that a block is always on its way back to take().
            std::size_t held = 0;
            for (const Run& r : runs) held += r.block ? 1 : 0;
            for (auto other = runs.begin(); held >= heldMost && other != runs.end(); ++other)
                if (other->block && &*other != &run) {
                    send(*other);
                    --held;
                }
            run.block = writes().take();
            run.blockAt = at;
            run.filled = 0;
        }
        data += n;
        size -= n;
        at += static_cast<std::int64_t>(n);
    }
    if (at == output.to - output.from) send(run);  // the movie's last bytes
}

void MovieSegments::send(Run& run) {
    if (!run.block) return;
    MovieFile& file = run.output->file;
    const std::size_t whole = run.filled / DirectBuffer::alignment * DirectBuffer::alignment;
    if (run.filled > whole)
        file.writeAt(run.blockAt + static_cast<std::int64_t>(whole), run.block->data() + whole, run.filled - whole);
    if (whole > 0)
        pool->write(file.directFd(), file.bufferedFd(), run.blockAt, run.block, whole);
    else
        pool->giveBack(run.block);
    run.block = nullptr;
}

bool MovieSegments::settle() {
    for (Run& run : runs) send(run);
    if (!pool) return failure.empty();
    pool->drain();
    for (const auto& output : outputs)
        if (const int error = pool->takeError(output->file.directFd())) {
            output->file.failWith(error);
            if (failure.empty()) failure = output->file.reason();
        }
    return failure.empty();
}

DirectWrites& MovieSegments::writes() {
    if (!pool) pool = std::make_unique<DirectWrites>();
    return *pool;
}

bool MovieSegments::commitCovered(const std::vector<Segment>& segments) {
    for (auto it = outputs.begin(); it != outputs.end();) {
        Output& output = **it;
        if (!coveredBy(segments, output.from, output.to)) {
            ++it;
            continue;
        }
        std::erase_if(runs, [&](const Run& r) { return r.output == &output; });
        // Taken off the queue meanwhile: what was written of it goes with the output.
        if (movie(output.movie)->getLoadFlag() == Queue) {
            MovieFile* file = &output.file;
            committing.push_back({std::move(*it), std::async(std::launch::async, [file] { return file->commit(); })});
        }
        it = outputs.erase(it);
    }
    return collect(false);
}

bool MovieSegments::collect(bool wait) {
    bool good = true;
    for (auto it = committing.begin(); it != committing.end();) {
        if (!wait && it->done.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            ++it;
            continue;
        }
        const Output& output = *it->output;
        if (!it->done.get()) {
            if (failure.empty()) failure = output.file.reason();
            good = false;
        } else if (!output.aside) {  // one kept aside is saved by the question, once the file is in
            const Movie* m = movie(output.movie);
            m->setLoaded();
            handler.addFinishedMovie(m);
        }
        it = committing.erase(it);
    }
    return good;
}

MovieSegments::~MovieSegments() {
    if (pool) pool->drain();
    // Whatever went in place is told, however the transfer ended.
    try {
        collect(true);
    } catch (...) {  // the window is gone: the movies are in place, and the next run finds them
    }
}

void MovieSegments::note(const std::vector<Segment>& segments) {
    SegmentResume now = point;
    now.segments = segments;
    now.parts.clear();
    for (const auto& output : outputs) now.parts.emplace_back(output->movie, output->name);
    for (const auto& c : committing) now.parts.emplace_back(c.output->movie, c.output->name);
    notes.rememberSegments(url, now);
}

void MovieSegments::progress(const std::vector<Segment>& segments) {
    if (!settle() || !commitCovered(segments)) return;
    note(segments);
}

bool MovieSegments::finish(const std::vector<Segment>& segments) {
    if (!settle() || !commitCovered(segments) || !collect(true)) return false;
    if (!outputs.empty()) {
        failure = "a part of the file is missing";
        return false;
    }
    for (std::size_t n = point.headers.size(); n < file.getMovies().size(); ++n)
        if (const Movie* m = movie(n); m->getLoadFlag() == Queue) {
            m->setBroken();
            handler.addFinishedMovie(m);
        }
    return true;
}

std::optional<SegmentResume> MovieSegments::breakOff(const std::vector<Segment>& segments) {
    if (!settle() || !collect(true)) return std::nullopt;
    runs.clear();
    SegmentResume kept = point;
    kept.segments = segments;
    kept.parts.clear();
    bool whole = true;
    for (const auto& output : outputs) {
        if (!output->file.keep()) {
            whole = false;
            continue;
        }
        kept.parts.emplace_back(output->movie, output->name);
    }
    outputs.clear();
    if (whole) return kept;
    // A part that did not keep all its bytes would leave a hole the segments call done.
    for (const auto& [n, name] : kept.parts) ::unlink((name + ".part").c_str());
    return std::nullopt;
}

}  // namespace vemlis
