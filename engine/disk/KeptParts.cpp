#include "KeptParts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/disk/FileIo.h"

namespace vemlis {

namespace {

constexpr const char* infoHeading = "Vemlis loader part";
constexpr const char* streamHeading = "Vemlis loader stream";
constexpr const char* moviesHeading = "Vemlis loader movies";

// Parts are trusted only within the boot that wrote them: after a program crash the system still
// holds every byte written, but after a power cut the file may hold holes where the side file
// counts bytes, so such a part is fetched again.
const std::string& bootID() {
    static const std::string id = [] {
        std::ifstream in("/proc/sys/kernel/random/boot_id");
        std::string line;
        std::getline(in, line);
        return line;
    }();
    return id;
}

std::string heading() { return std::string(infoHeading) + " " + bootID(); }

std::uint64_t hashOf(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// A line of the side file as it may be used in a request: no control characters.
bool cleanText(const std::string& text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

// The size of a regular file at the path (not through a link); -1 for anything else.
std::int64_t sizeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return info.st_size;
}

}  // namespace

KeptParts::KeptParts(std::filesystem::path folder) : folder(std::move(folder)) {}

std::filesystem::path KeptParts::infoOf(const std::filesystem::path& part) { return part.string() + ".info"; }

std::filesystem::path KeptParts::parkedPath(const std::string& url) const {
    char name[40];
    std::snprintf(name, sizeof name, "temp-%016llx.kq4", static_cast<unsigned long long>(hashOf(url)));
    return folder / name;
}

std::filesystem::path KeptParts::asidePath(const std::string& url, std::size_t movie) const {
    char name[64];
    std::snprintf(name, sizeof name, "temp-%016llx-%zu.movie", static_cast<unsigned long long>(hashOf(url)), movie);
    return folder / name;
}

void KeptParts::discardAsides(const std::vector<std::filesystem::path>& wanted) {
    std::vector<std::filesystem::path> unwanted;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("temp-", 0) != 0) continue;
        std::filesystem::path kept = entry.path();
        if (name.ends_with(".movie.part"))
            kept.replace_extension();
        else if (!name.ends_with(".movie"))
            continue;
        if (std::find(wanted.begin(), wanted.end(), kept) == wanted.end()) unwanted.push_back(entry.path());
    }
    for (const auto& path : unwanted) std::filesystem::remove(path, error);
}

void KeptParts::remove(const std::filesystem::path& part) {
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    std::filesystem::remove(infoOf(part), ignored);
}

bool KeptParts::read(const std::filesystem::path& infoPath, Info& info) {
    // Never through a link, and never more than a side file can hold.
    const int fd = ::open(infoPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    std::string text(64 * 1024, '\0');
    const ssize_t got = ::read(fd, text.data(), text.size());
    ::close(fd);
    if (got <= 0 || static_cast<std::size_t>(got) == text.size()) return false;
    text.resize(static_cast<std::size_t>(got));
    return parse(text, info);
}

bool KeptParts::parse(const std::string& text, Info& info) {
    std::istringstream in(text);
    std::string first, length;
    if (!std::getline(in, first) || first != heading()) return false;
    if (!std::getline(in, info.url) || !std::getline(in, length) || !std::getline(in, info.validator)) return false;
    try {
        info.length = std::stoll(length);
        info.segments.clear();
        Segment s;
        while (in >> s.from >> s.to >> s.done) {
            // Compared without a sum: a line of the largest numbers must not overflow one.
            if (s.from < 0 || s.to <= s.from || s.done < 0 || s.done > s.to - s.from || s.to > info.length) return false;
            info.segments.push_back(s);
        }
    } catch (const std::logic_error&) {  // a length that is no number
        return false;
    }
    return !info.url.empty() && cleanText(info.url) && cleanText(info.validator);
}

ResumeFrom KeptParts::prepare(const std::string& url) {
    segments.clear();
    // Something at temp.kq4 that is no file of ours (a link, a folder) goes, not what it names.
    if (struct stat info {}; ::lstat(current().c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        std::error_code ignored;
        std::filesystem::remove_all(current(), ignored);
    }
    Info info;
    const bool currentKept = read(infoOf(current()), info);
    if (currentKept && info.url != url) {
        // Another file's part: parked until that file's turn comes again.
        const std::filesystem::path parked = parkedPath(info.url);
        std::error_code error;
        std::filesystem::rename(current(), parked, error);
        if (!error) std::filesystem::rename(infoOf(current()), infoOf(parked), error);
        if (error) remove(parked);
    }
    if (!currentKept || info.url != url) {
        remove(current());
        const std::filesystem::path parked = parkedPath(url);
        if (!read(infoOf(parked), info) || info.url != url) {
            remove(parked);
            return {};
        }
        std::error_code error;
        std::filesystem::rename(parked, current(), error);
        if (!error) std::filesystem::rename(infoOf(parked), infoOf(current()), error);
        if (error) {
            remove(parked);
            remove(current());
            return {};
        }
    }
    const std::int64_t size = sizeOf(current());
    if (!info.segments.empty()) {
        // Fetched in segments: the file has its whole length, the segments say what is in.
        if (size != info.length) {
            forgetCurrent();
            return {};
        }
        if (info.validator.empty()) {
            forgetCurrent();
            return {};
        }
        segments = info.segments;
        return {0, info.validator, info.length};
    }
    // Kept whole (its movies were not all saved), or a part of a version the server names.
    const bool whole = info.length > 0 && size == info.length;
    if (size <= 0 || (info.length > 0 && size > info.length) || (!whole && info.validator.empty())) {
        forgetCurrent();
        return {};
    }
    return {size, info.validator, info.length};
}

void KeptParts::remember(const std::string& url, const ResponseInfo& info) {
    std::error_code ignored;
    if (!cleanText(info.validator) || !cleanText(url)) {
        std::filesystem::remove(infoOf(current()), ignored);
        return;
    }
    const std::string text = heading() + "\n" + url + "\n" + std::to_string(info.totalLength) + "\n" +
                             info.validator + "\n";
    // Not flushed: a part is not trusted after a power cut anyway (see bootID), and a flush
    // each second would make the file system write out the download's data early.
    if (!replaceFile(infoOf(current()), text, false).empty()) std::filesystem::remove(infoOf(current()), ignored);
}

void KeptParts::rememberSegments(const std::string& url, const std::string& validator,
                                 const std::vector<Segment>& parts) {
    std::int64_t length = 0;
    for (const Segment& s : parts) length = std::max(length, s.to);
    std::string text = heading() + "\n" + url + "\n" + std::to_string(length) + "\n" + validator + "\n";
    for (const Segment& s : parts)
        text += std::to_string(s.from) + " " + std::to_string(s.to) + " " + std::to_string(s.done) + "\n";
    std::error_code ignored;
    if (!cleanText(validator) || !cleanText(url) || !replaceFile(infoOf(current()), text, false).empty())
        std::filesystem::remove(infoOf(current()), ignored);
}

std::filesystem::path KeptParts::notePath(const std::string& url, const char* suffix) const {
    char name[48];
    std::snprintf(name, sizeof name, "temp-%016llx%s", static_cast<unsigned long long>(hashOf(url)), suffix);
    return folder / name;
}

std::filesystem::path KeptParts::streamPath(const std::string& url) const { return notePath(url, ".stream"); }

void KeptParts::rememberStream(const std::string& url, const StreamResume& point) {
    std::string text = std::string(streamHeading) + " " + bootID() + "\n" + url + "\n" + point.validator + "\n" +
                       std::to_string(point.length) + " " + std::to_string(point.from) + " " +
                       std::to_string(point.lastLength) + " " +
                       (point.partName.empty() ? std::string("-1") : std::to_string(point.partMovie)) + "\n" +
                       point.partName + "\n";
    for (const std::int64_t header : point.headers) text += std::to_string(header) + " ";
    text += "\n";
    std::error_code ignored;
    if (!cleanText(url) || !cleanText(point.validator) || !cleanText(point.partName) ||
        !replaceFile(streamPath(url), text, false).empty())
        std::filesystem::remove(streamPath(url), ignored);
}

void KeptParts::forgetStream(const std::string& url) {
    std::error_code ignored;
    std::filesystem::remove(streamPath(url), ignored);
}

bool KeptParts::parseStream(const std::string& text, std::string& url, StreamResume& point) {
    std::istringstream in(text);
    std::string first, numbers, headers;
    if (!std::getline(in, first) || first != std::string(streamHeading) + " " + bootID()) return false;
    if (!std::getline(in, url) || !std::getline(in, point.validator) || !std::getline(in, numbers) ||
        !std::getline(in, point.partName) || !std::getline(in, headers))
        return false;
    std::istringstream values(numbers);
    long long partMovie = -1;
    if (!(values >> point.length >> point.from >> point.lastLength >> partMovie)) return false;
    point.headers.clear();
    std::istringstream offsets(headers);
    for (std::int64_t at; offsets >> at;) {
        // Each header after the one before, all before where the transfer goes on.
        if (at < 0 || at >= point.from || (!point.headers.empty() && at <= point.headers.back())) return false;
        point.headers.push_back(at);
    }
    if (!offsets.eof()) return false;
    if (point.from <= 0 || point.from > point.length || point.lastLength < -1 || point.validator.empty()) return false;
    if (point.partName.empty() != (partMovie < 0)) return false;
    if (partMovie >= 0 && static_cast<unsigned long long>(partMovie) >= point.headers.size()) return false;
    point.partMovie = partMovie < 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(partMovie);
    return !url.empty() && cleanText(url) && cleanText(point.validator) && cleanText(point.partName);
}

std::vector<std::pair<std::filesystem::path, std::string>> KeptParts::notes(const std::string& suffix) const {
    std::vector<std::pair<std::filesystem::path, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("temp-", 0) == 0 && name.ends_with(suffix)) found.emplace_back(entry.path(), std::string());
    }
    for (auto& [note, text] : found) {
        struct stat info {};
        if (::lstat(note.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size < (1 << 20)) {
            std::ifstream in(note, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), {});
        }
    }
    return found;
}

std::vector<std::pair<std::string, StreamResume>> KeptParts::keptStreams() const {
    std::vector<std::pair<std::string, StreamResume>> kept;
    for (const auto& [note, text] : notes(".stream")) {
        std::string url;
        StreamResume point;
        std::error_code ignored;
        if (parseStream(text, url, point) && streamPath(url) == note)
            kept.emplace_back(std::move(url), std::move(point));
        else
            std::filesystem::remove(note, ignored);
    }
    return kept;
}

void KeptParts::rememberSegments(const std::string& url, const SegmentResume& point) {
    std::string text = std::string(moviesHeading) + " " + bootID() + "\n" + url + "\n" + point.validator + "\n" +
                       std::to_string(point.length) + "\n";
    for (const std::int64_t header : point.headers) text += std::to_string(header) + " ";
    text += "\n";
    for (const Segment& s : point.segments)
        text += std::to_string(s.from) + " " + std::to_string(s.to) + " " + std::to_string(s.done) + " ";
    text += "\n";
    bool clean = cleanText(url) && cleanText(point.validator);
    for (const auto& [movie, name] : point.parts) {
        text += std::to_string(movie) + " " + name + "\n";
        clean = clean && cleanText(name);
    }
    std::error_code ignored;
    const auto path = notePath(url, ".movies");
    if (!clean || !replaceFile(path, text, false).empty()) std::filesystem::remove(path, ignored);
}

void KeptParts::forgetSegments(const std::string& url) {
    std::error_code ignored;
    std::filesystem::remove(notePath(url, ".movies"), ignored);
}

bool KeptParts::parseSegments(const std::string& text, std::string& url, SegmentResume& point) {
    std::istringstream in(text);
    std::string first, length, headers, segments;
    if (!std::getline(in, first) || first != std::string(moviesHeading) + " " + bootID()) return false;
    if (!std::getline(in, url) || !std::getline(in, point.validator) || !std::getline(in, length) ||
        !std::getline(in, headers) || !std::getline(in, segments))
        return false;
    std::istringstream lengthValue(length);
    if (!(lengthValue >> point.length) || !lengthValue.eof() || point.length <= 0) return false;
    point.headers.clear();
    std::istringstream offsets(headers);
    for (std::int64_t at; offsets >> at;) {
        if (at < 0 || at >= point.length || (!point.headers.empty() && at <= point.headers.back())) return false;
        point.headers.push_back(at);
    }
    if (!offsets.eof() || point.headers.empty()) return false;
    point.segments.clear();
    std::istringstream ranges(segments);
    for (Segment s; ranges >> s.from >> s.to >> s.done;) {
        // Compared without a sum: a line of the largest numbers must not overflow one.
        if (s.from < 0 || s.to <= s.from || s.done < 0 || s.done > s.to - s.from || s.to > point.length) return false;
        point.segments.push_back(s);
    }
    if (!ranges.eof() || point.segments.empty()) return false;
    point.parts.clear();
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.find(' ');
        if (space == 0 || space == std::string::npos || space > 9 || space + 1 == line.size()) return false;
        const std::string number = line.substr(0, space);
        if (number.find_first_not_of("0123456789") != std::string::npos) return false;
        const std::size_t movie = std::stoul(number);
        if (movie >= point.headers.size()) return false;
        for (const auto& [kept, name] : point.parts)
            if (kept == movie) return false;
        point.parts.emplace_back(movie, line.substr(space + 1));
        if (!cleanText(point.parts.back().second)) return false;
    }
    return !url.empty() && !point.validator.empty() && cleanText(url) && cleanText(point.validator);
}

std::vector<std::pair<std::string, SegmentResume>> KeptParts::keptSegmentResumes() const {
    std::vector<std::pair<std::string, SegmentResume>> kept;
    for (const auto& [note, text] : notes(".movies")) {
        std::string url;
        SegmentResume point;
        std::error_code ignored;
        if (parseSegments(text, url, point) && notePath(url, ".movies") == note)
            kept.emplace_back(std::move(url), std::move(point));
        else
            std::filesystem::remove(note, ignored);
    }
    return kept;
}

void KeptParts::forgetCurrent() { remove(current()); }

void KeptParts::discardUnwanted(const std::function<bool(const std::string& url)>& wanted) {
    // Notes are written on this thread only: a new one half written now was cut by a kill.
    removeUnfinishedReplacements(folder, [](std::string_view of) {
        return of.starts_with("temp-") || of == "temp.kq4.info";
    });
    Info info;
    if (!read(infoOf(current()), info) || !wanted(info.url)) forgetCurrent();
    std::vector<std::filesystem::path> parked;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("temp-", 0) == 0 && name.ends_with(".kq4")) parked.push_back(entry.path());
    }
    for (const auto& part : parked)
        if (!read(infoOf(part), info) || !wanted(info.url) || parkedPath(info.url) != part) remove(part);
}

}  // namespace vemlis
