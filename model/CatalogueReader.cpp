#include "CatalogueReader.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "MoviesSet.h"

namespace tavik::vemlis_loader {

namespace {

// The middle of a marker: a few bytes, compared in place.
inline bool sameBytes(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

}  // namespace

#if defined(__x86_64__)
namespace {

// The search below, 32 positions at once, on processors that have AVX2: the match, or npos
// with `i` where it stopped (the narrower search goes on from there).
__attribute__((target("avx2"))) std::size_t findWide(const char* s, std::size_t n, std::string_view pattern,
                                                     std::size_t& i) {
    const std::size_t k = pattern.size();
    const __m256i first = _mm256_set1_epi8(pattern[0]);
    const __m256i last = _mm256_set1_epi8(pattern[k - 1]);
    for (; i + k - 1 + 32 <= n; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + k - 1));
        unsigned mask = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
        while (mask) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (sameBytes(s + i + bit + 1, pattern.data() + 1, k - 2)) return i + bit;
            mask &= mask - 1;
        }
    }
    return std::string_view::npos;
}

const bool hasWideVectors = __builtin_cpu_supports("avx2");

}  // namespace
#endif

std::size_t findText(std::string_view text, std::string_view pattern, std::size_t from) {
    const std::size_t n = text.size();
    const std::size_t k = pattern.size();
    if (from > n || k > n - from) return std::string_view::npos;
    if (k == 0) return from;
    const char* s = text.data();
    if (k == 1) {
        const void* hit = std::memchr(s + from, pattern[0], n - from);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s) : std::string_view::npos;
    }
    std::size_t i = from;
#if defined(__x86_64__)
    if (hasWideVectors) {
        const std::size_t hit = findWide(s, n, pattern, i);
        if (hit != std::string_view::npos) return hit;
    }
#endif
#if defined(__SSE2__)
    // Compares 16 positions at once on the pattern's first and last characters; a pair of
    // both is rare even where each character alone is everywhere.
    const __m128i first = _mm_set1_epi8(pattern[0]);
    const __m128i last = _mm_set1_epi8(pattern[k - 1]);
    for (; i + k - 1 + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + k - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        while (mask) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (sameBytes(s + i + bit + 1, pattern.data() + 1, k - 2)) return i + bit;
            mask &= mask - 1;
        }
    }
#endif
    for (; i + k <= n; ++i)
        if (s[i] == pattern[0] && std::memcmp(s + i, pattern.data(), k) == 0) return i;
    return std::string_view::npos;
}

bool hasLineBreak(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; n >= 16; p += 16, n -= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, lf), _mm_cmpeq_epi8(chunk, cr)))) return true;
    }
#endif
    for (; n > 0; ++p, --n)
        if (*p == '\n' || *p == '\r') return true;
    return false;
}

bool findTagged(std::string_view text, std::span<const std::string_view> separators,
                std::span<std::string_view> captures, ScanPosition& position) {
    const std::size_t start = position.value_or(0);
    const std::size_t first = findText(text, separators[0], start);
    if (first == std::string_view::npos) {
        position.reset();
        return false;
    }
    std::size_t at = first + separators[0].size();
    position = at;
    for (std::size_t i = 1; i <= captures.size(); ++i) {
        const std::size_t next = findText(text, separators[i], at);
        if (next == std::string_view::npos) return false;
        captures[i - 1] = text.substr(at, next - at);
        at = next + separators[i].size();
        position = at;
    }
    return true;
}

std::string_view extractID(std::string_view attributes) {
    static constexpr std::array<std::string_view, 2> separators{"id=\"", "\""};
    std::array<std::string_view, 1> captures;
    ScanPosition position;
    return findTagged(attributes, separators, captures, position) ? captures[0] : std::string_view();
}

std::string oneLine(std::string_view text) {
    std::string result(text);
    std::replace_if(result.begin(), result.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return result;
}

std::string_view oneLine(std::string_view text, std::string& scratch) {
    if (!hasLineBreak(text)) return text;
    scratch = oneLine(text);
    return scratch;
}

namespace {

template <std::size_t N>
bool scan(std::string_view text, const std::array<std::string_view, N + 1>& separators,
          std::array<std::string_view, N>& captures, ScanPosition& position) {
    return findTagged(text, separators, captures, position);
}

std::string_view block(std::string_view text, std::string_view open, std::string_view close) {
    const std::array<std::string_view, 2> separators{open, close};
    std::array<std::string_view, 1> captures;
    ScanPosition position;
    return findTagged(text, separators, captures, position) ? captures[0] : std::string_view();
}

void readLanguages(MoviesSet& set, std::string_view text) {
    const std::string_view languages = block(text, "<Languages>", "</Languages>");
    static constexpr std::array<std::string_view, 6> separators{"<Language", "id=\"", "\"", "caption=\"", "\"", "/>"};
    std::array<std::string_view, 5> c;
    ScanPosition position;
    while (scan(languages, separators, c, position)) set.addLanguage(oneLine(c[1]), oneLine(c[3]));
}

void readBitRates(MoviesSet& set, std::string_view text) {
    const std::string_view classes = block(text, "<Link_Classes>", "</Link_Classes>");
    static constexpr std::array<std::string_view, 4> separators{"<Link_Class", "description=\"", "\"", "/>"};
    std::array<std::string_view, 3> c;
    ScanPosition position;
    while (scan(classes, separators, c, position)) set.addBitRate(oneLine(extractID(c[0])), oneLine(c[1]));
}

// The first "\"" or "<" (and "!" when asked) of the text; a plain loop, as the standard
// find_first_of makes a library call per character.
std::size_t firstOf(std::string_view text, bool orExclamation) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' || c == '<' || (orExclamation && c == '!')) return i;
    }
    return std::string_view::npos;
}

// Where a link's address starts: "http://" or "https://", whichever comes first.
struct Address {
    std::size_t at = std::string_view::npos;
    std::size_t schemeLength = 0;
};

Address findAddress(std::string_view entry, std::size_t from) {
    for (std::size_t at = findText(entry, "http", from); at != std::string_view::npos;
         at = findText(entry, "http", at + 1)) {
        const std::string_view rest = entry.substr(at + 4);
        if (rest.starts_with("://")) return {at, 7};
        if (rest.starts_with("s://")) return {at, 8};
    }
    return {};
}

void readLinks(MoviesSet& set, Film* film, std::string_view entry, ScanPosition& position) {
    static constexpr std::array<std::string_view, 3> head{"<Link", "lang=\"", "\""};
    std::array<std::string_view, 2> c;
    while (scan(entry, head, c, position)) {
        const std::size_t afterLanguage = *position;
        const Address address = findAddress(entry, afterLanguage);
        if (address.at == std::string_view::npos) return;
        // An address found beyond the next link belongs to that link: this one adds nothing.
        const std::size_t nextLink =
            findText(entry.substr(0, address.at + 4), "<Link", afterLanguage);
        if (nextLink != std::string_view::npos) {
            position = nextLink;
            continue;
        }
        const std::size_t rest = address.at + address.schemeLength;
        const std::size_t close = findText(entry, ">", rest);
        if (close == std::string_view::npos) return;
        position = close + 1;

        const std::string_view r = entry.substr(rest, close - rest);
        const std::size_t mark = firstOf(r, true);
        const std::string_view url = entry.substr(address.at, address.schemeLength + std::min(mark, r.size()));

        std::string scratch;
        const Language* lang = set.resolveLanguage(oneLine(c[1], scratch));
        const BitRate* rate =
            set.resolveBitRate(oneLine(extractID(entry.substr(afterLanguage, address.at - afterLanguage)), scratch));
        const std::string_view fileURL = oneLine(url, scratch);
        // Compared by text among the film's few movies, so that a merge of a known catalogue
        // needs no lookup of server files at all.
        bool known = false;
        for (const auto& movie : film->getMovies())
            if (movie->getLanguage() == lang && movie->getBitRate() == rate &&
                movie->getServerFile()->getURLView() == fileURL) {
                known = true;
                break;
            }
        if (known) continue;
        ServerFile* file = set.getServerFile(fileURL);
        std::string fileName;
        if (mark != std::string_view::npos && r[mark] == '!') {
            const std::string_view named = r.substr(mark + 1);
            fileName = oneLine(named.substr(0, firstOf(named, false)));
        }
        film->addMovie(lang, rate, file, std::move(fileName), NoLoad);
    }
}

void readEntry(MoviesSet& set, Season* season, std::string_view entry) {
    static constexpr std::array<std::string_view, 5> title{"<Name", "lang=\"", "\"", ">", "</Name>"};
    std::array<std::string_view, 4> c;
    ScanPosition position = 0;
    if (!scan(entry, title, c, position)) return;

    std::string scratch;
    const Language* first = set.resolveLanguage(oneLine(c[1], scratch));
    std::string nameScratch;
    const std::string_view name = oneLine(c[3], nameScratch);
    Film* film = season->findFilm(first, name);
    if (!film) {
        film = season->addFilm();
        film->setName(first, name);
    }
    // The first title is the film's identity: a second title in the same language within
    // this entry would replace it and make the next read of the catalogue create the film anew.
    std::vector<const Language*> titled{first};
    while (scan(entry, title, c, position)) {
        const Language* lang = set.resolveLanguage(oneLine(c[1], scratch));
        if (std::find(titled.begin(), titled.end(), lang) != titled.end()) continue;
        titled.push_back(lang);
        film->setName(lang, oneLine(c[3], nameScratch));
    }
    readLinks(set, film, entry, position);
}

void readSeasons(MoviesSet& set, std::string_view text) {
    const std::string_view seasons = block(text, "<Seasons>", "</Seasons>");
    static constexpr std::array<std::string_view, 4> separators{"<Season>", "<Name>", "</Name>", "</Season>"};
    std::array<std::string_view, 3> c;
    ScanPosition position;
    while (scan(seasons, separators, c, position)) {
        if (c[1] == "FAQ's") continue;
        const std::string name = oneLine(c[1]);
        Season* season = set.findSeason(name);
        if (!season) season = set.addSeason(name);

        const std::string_view body = c[2];
        static constexpr std::array<std::string_view, 2> entrySeparators{"<Entry>", "</Entry>"};
        std::array<std::string_view, 1> entry;
        ScanPosition entryPosition = 0;
        while (scan(body, entrySeparators, entry, entryPosition)) readEntry(set, season, entry[0]);
    }
}

}  // namespace

void MoviesSet::readCatalogue(std::string text) {
    // About one server file per 400 bytes of a catalogue: grown once instead of step by step.
    serverFilesByURL.reserve(serverFilesByURL.size() + text.size() / 400);
    readLanguages(*this, text);
    readBitRates(*this, text);
    readSeasons(*this, text);
}

}  // namespace tavik::vemlis_loader
