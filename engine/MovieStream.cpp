#include "MovieStream.h"

#include <algorithm>
#include <cstring>

#include "model/MoviesSet.h"

namespace vemlis {

using tavik::vemlis_loader::Movie;
using tavik::vemlis_loader::Queue;
using tavik::vemlis_loader::ServerFile;

MovieStream::MovieStream(const ServerFile& file, SplitHandler& handler, const FreeSpace& room, const KeptParts& notes,
                         const StreamResume* resume, std::int64_t segmentFrom)
    : file(file), handler(handler), room(room), notes(notes), resume(resume), segmentFrom(segmentFrom),
      index(file.getMovies().size() + 1), outputs(file.getMovies().size()), aside(file.getMovies().size()) {}

bool MovieStream::prepare() {
    for (std::size_t n = 0; n < outputs.size(); ++n) {
        const Movie* m = movie(n);
        if (m->getLoadFlag() != Queue) continue;
        auto& output = outputs[n].emplace();
        if (!handler.writeDirect()) output.keepInPageCache();
        if (resume && n == resume->partMovie) {
            if (output.reopen(m->getFileName(), resume->from - resume->headers[n], false)) {
                written.push_back(m->getFileName());
                continue;
            }
            return stop(output.reason());
        }
        handler.claimFreeName(m, written);
        if (output.open(m->getFileName(), false)) {
            written.push_back(m->getFileName());
        } else {
            // A name the system refuses: the question comes once the file is in.
            outputs[n].reset();
            aside[n] = true;
        }
    }
    return true;
}

const Movie* MovieStream::movie(std::size_t n) const {
    return n < file.getMovies().size() ? file.getMovies()[n] : nullptr;
}

bool MovieStream::begin(const ResponseInfo& answer) {
    info = answer;
    if (segmentFrom > 0 && answer.status == 200 && answer.acceptsRanges && answer.contentLength >= segmentFrom &&
        !answer.validator.empty()) {
        useSegments = true;
        return false;
    }
    const std::size_t limit = file.getMovies().size() + 1;
    if (resume && answer.status == 206) {
        // The rest of the same version: the movie `from` lies in goes on without its bytes,
        // and its header, when `from` is one, is found again.
        index = HeaderIndex(limit, resume->headers, resume->from);
        fed = routed = resume->from;
        nextHeader = resume->headers.size();
        current = resume->headers.empty() ? none : resume->headers.size() - 1;
        currentLength = resume->lastLength;
        headLength = sizeof head;
        if (current != none && current == resume->partMovie) {
            writing = true;
            movieStart = resume->headers[current];
            movieWritten = resume->from - movieStart;
        }
    } else if (resume && resume->partMovie < outputs.size() && outputs[resume->partMovie]) {
        // The whole file after all: the kept part starts over.
        if (!outputs[resume->partMovie]->restart()) return stop(outputs[resume->partMovie]->reason());
    }
    return true;
}

bool MovieStream::write(const char* data, std::size_t size) {
    index.feed(data, size);
    const std::int64_t before = fed;
    fed += static_cast<std::int64_t>(size);
    // Every header that begins before `end` is known: the bytes up to there can go.
    const std::int64_t end = std::max(routed, fed - static_cast<std::int64_t>(aviHeaderLength - 1));
    if (!pending.empty() && end > routed) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(pending.size()), end - routed));
        if (!route(pending.data(), n)) return false;
        pending.erase(0, n);
    }
    if (end > before) {
        const auto n = static_cast<std::size_t>(end - before);
        if (!route(data, n)) return false;
        pending.assign(data + n, size - n);
    } else {
        pending.append(data, size);
    }
    return true;
}

bool MovieStream::route(const char* data, std::size_t size) {
    while (size > 0) {
        const auto& headers = index.getHeaders();
        while (nextHeader < headers.size() && headers[nextHeader] <= routed) {
            if (!startMovie(nextHeader++)) return false;
            // Nothing from here on is written: the rest of the file is nobody's (a movie queued
            // after its bytes went by comes with the next transfer, as it would have anyway).
            if (!wantedFrom(current)) {
                satisfied = true;
                return false;
            }
        }
        std::int64_t limit = routed + static_cast<std::int64_t>(size);
        if (nextHeader < headers.size()) limit = std::min(limit, headers[nextHeader]);
        const auto piece = static_cast<std::size_t>(limit - routed);
        if (!take(data, piece)) return false;
        data += piece;
        size -= piece;
        routed = limit;
    }
    return true;
}

bool MovieStream::startMovie(std::size_t n) {
    if (!endMovie()) return false;
    current = n;
    movieStart = routed;
    const Movie* m = movie(n);
    writing = m && m->getLoadFlag() == Queue && (outputs[n] || aside[n]);
    headLength = 0;
    currentLength = -1;
    movieWritten = 0;
    return true;
}

bool MovieStream::wantedFrom(std::size_t n) const {
    for (; n < outputs.size(); ++n)
        if ((outputs[n] || aside[n]) && movie(n)->getLoadFlag() == Queue) return true;
    return false;
}

bool MovieStream::take(const char* data, std::size_t size) {
    if (current == none) return true;  // bytes before the first header belong to no movie
    if (headLength < sizeof head) {
        const std::size_t n = std::min(size, sizeof head - headLength);
        std::memcpy(head + headLength, data, n);
        headLength += n;
        if (headLength == sizeof head) {
            currentLength = aviLength(head);
            if (writing && !checkRoom()) return false;
        }
    }
    while (writing && size > 0) {
        if (!block) {
            if (!pool) pool = std::make_unique<DirectWrites>();
            block = pool->take();
        }
        const std::size_t room = blockRoom();
        const std::size_t n = std::min(size, room - gathered);
        std::memcpy(block->data() + gathered, data, n);
        gathered += n;
        data += n;
        size -= n;
        if (gathered == room) flush();
    }
    return true;
}

std::size_t MovieStream::blockRoom() const {
    constexpr auto page = static_cast<std::int64_t>(DirectBuffer::alignment);
    return movieWritten % page != 0 ? static_cast<std::size_t>(page - movieWritten % page) : block->size();
}

bool MovieStream::checkRoom() {
    if (!aside[current]) {
        const std::int64_t free = room(movie(current)->getFileName());
        if (free < 0 || free >= currentLength) return true;
        aside[current] = true;  // no room where it goes: the question comes once the file is in
    }
    return keepAside();
}

bool MovieStream::keepAside() {
    // Nothing of the movie has been written yet: its bytes are still gathered.
    const std::string kept = notes.asidePath(file.getURL(), current).string();
    if (const std::int64_t free = room(kept); free >= 0 && free < currentLength)
        return stop(notEnoughRoom(currentLength, free));
    auto& output = outputs[current].emplace();
    if (!handler.writeDirect()) output.keepInPageCache();
    if (!output.open(kept, false)) return stop(output.reason());
    return true;
}

void MovieStream::flush() {
    if (!block) return;
    DirectBuffer* const sent = block;
    block = nullptr;
    const std::size_t size = gathered;
    gathered = 0;
    MovieFile* output = current < outputs.size() && outputs[current] ? &*outputs[current] : nullptr;
    if (!output || size == 0) return pool->giveBack(sent);
    const int direct = output->directFd();
    if (direct < 0) {  // a file system without direct writes: in order, through the page cache
        output->appendBehind(sent->data(), size);
        movieWritten += static_cast<std::int64_t>(size);
        return pool->giveBack(sent);
    }
    // Begins at a whole page (blockRoom() saw to that): whole pages straight, the tail not.
    const std::size_t whole = movieWritten % DirectBuffer::alignment == 0 ? size / DirectBuffer::alignment * DirectBuffer::alignment : 0;
    if (size > whole) output->writeAt(movieWritten + static_cast<std::int64_t>(whole), sent->data() + whole, size - whole);
    if (whole > 0)
        pool->write(direct, output->bufferedFd(), movieWritten, sent, whole);
    else
        pool->giveBack(sent);
    movieWritten += static_cast<std::int64_t>(size);
}

bool MovieStream::settle() {
    flush();
    if (!pool) return true;
    pool->drain();
    if (current >= outputs.size() || !outputs[current]) return true;
    if (const int error = pool->takeError(outputs[current]->directFd())) outputs[current]->failWith(error);
    return outputs[current]->good();
}

bool MovieStream::endMovie() {
    if (current == none || !writing) return true;
    writing = false;
    const Movie* m = movie(current);
    auto& output = outputs[current];
    const bool whole = settle();
    // Taken off the queue meanwhile: what was written of it goes.
    if (m->getLoadFlag() != Queue || !output) {
        output.reset();
        return true;
    }
    if (!whole || !output->commit()) return stop(output->reason());
    output.reset();
    if (aside[current]) return true;  // saved by the question, once the file is in
    m->setLoaded();
    handler.addFinishedMovie(m);
    return true;
}

bool MovieStream::stop(std::string reason) {
    failure = std::move(reason);
    return false;
}

bool MovieStream::complete() {
    if (satisfied) return true;
    if (!pending.empty()) {
        if (!route(pending.data(), pending.size())) return false;
        pending.clear();
    }
    const auto& headers = index.getHeaders();
    while (nextHeader < headers.size())
        if (!startMovie(nextHeader++)) return false;
    return true;
}

bool MovieStream::finish() {
    if (!endMovie()) return false;
    current = none;
    // Cut off after the last movie it wanted, the file's end was never seen.
    if (satisfied) return true;
    for (std::size_t n = headersFound(); n < file.getMovies().size(); ++n)
        if (const Movie* m = movie(n); m->getLoadFlag() == Queue) {
            m->setBroken();
            handler.addFinishedMovie(m);
        }
    return true;
}

std::optional<StreamResume> MovieStream::breakOff() {
    if (info.validator.empty()) return std::nullopt;
    StreamResume point;
    point.validator = info.validator;
    point.length = info.totalLength > 0 ? info.totalLength : (info.status == 200 ? info.contentLength : 0);
    point.from = routed;
    const auto& headers = index.getHeaders();
    point.headers.assign(headers.begin(), headers.begin() + static_cast<std::ptrdiff_t>(nextHeader));
    point.lastLength = headLength == sizeof head ? currentLength : -1;
    if (writing) {
        const bool whole = settle();
        // What went aside starts again: its part is no movie's to go on with.
        if (whole && !aside[current] && outputs[current] && outputs[current]->keep()) {
            point.partMovie = current;
            point.partName = movie(current)->getFileName();
        } else {
            // Without its part the movie starts again at its header.
            point.from = movieStart;
            point.headers.resize(current);
            point.lastLength = -1;
        }
        outputs[current].reset();
        writing = false;
    }
    if (point.from <= 0 || point.length <= 0) return std::nullopt;
    return point;
}

bool MovieStream::endsInsideAMovie() const {
    const auto& headers = index.getHeaders();
    if (headers.empty()) return false;
    return currentLength < 0 || fed < headers.back() + currentLength;
}

}  // namespace vemlis
