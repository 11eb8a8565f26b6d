#include "CatalogueReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "MoviesSet.h"
#include "support/TextWindow.h"

namespace tavik::vemlis_loader {

using tavik::text::TextWindow;

std::string_view extractID(std::string_view attributes) {
    static constexpr std::array<std::string_view, 2> separators{"id=\"", "\""};
    std::array<std::string_view, 1> captures;
    ScanPosition position;
    return findTagged(attributes, separators, captures, position) ? captures[0] : std::string_view();
}

namespace {

// A part of the text, by its place.
struct Span {
    std::size_t from = 0;
    std::size_t to = 0;
};

// findTagged over a text read by windows, within [.., end): the captures are places, so that
// what lies between two separators is never held unless it is read.
bool findSpans(TextWindow& text, std::size_t end, std::span<const std::string_view> separators,
                std::span<Span> captures, ScanPosition& position) {
    const std::size_t first = text.find(separators[0], position.value_or(0), end);
    if (first == TextWindow::npos) {
        position.reset();
        return false;
    }
    std::size_t at = first + separators[0].size();
    position = at;
    for (std::size_t i = 1; i <= captures.size(); ++i) {
        const std::size_t next = text.find(separators[i], at, end);
        if (next == TextWindow::npos) return false;
        captures[i - 1] = {at, next};
        at = next + separators[i].size();
        position = at;
    }
    return true;
}

Span block(TextWindow& text, std::string_view open, std::string_view close) {
    const std::array<std::string_view, 2> separators{open, close};
    std::array<Span, 1> captures;
    ScanPosition position;
    return findSpans(text, text.size(), separators, captures, position) ? captures[0] : Span();
}

std::string oneLineOf(TextWindow& text, Span span) { return oneLine(text.view(span.from, span.to)); }

void readLanguages(MoviesSet& set, TextWindow& text) {
    const Span languages = block(text, "<Languages>", "</Languages>");
    static constexpr std::array<std::string_view, 6> separators{"<Language", "id=\"", "\"", "caption=\"", "\"", "/>"};
    std::array<Span, 5> c;
    ScanPosition position = languages.from;
    while (findSpans(text, languages.to, separators, c, position)) {
        std::string id = oneLineOf(text, c[1]);
        set.addLanguage(std::move(id), oneLineOf(text, c[3]));
    }
}

void readBitRates(MoviesSet& set, TextWindow& text) {
    const Span classes = block(text, "<Link_Classes>", "</Link_Classes>");
    static constexpr std::array<std::string_view, 4> separators{"<Link_Class", "description=\"", "\"", "/>"};
    std::array<Span, 3> c;
    ScanPosition position = classes.from;
    while (findSpans(text, classes.to, separators, c, position)) {
        std::string id = oneLine(extractID(text.view(c[0].from, c[0].to)));
        set.addBitRate(std::move(id), oneLineOf(text, c[1]));
    }
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

// What the reader takes from the start of a link element.
struct LinkHead {
    std::string_view language;
    std::string_view bitRate;
    Address address;
    bool oneLineIDs = false;  // neither id holds a line break
};

// Reads the start of the link element at `at` when it has the usual shape, <Link lang="L"
// id="B">http... or <Link lang="L" id="B" href="http..., with what the general search gives
// for it: the id's value is the only place where that search could find another address, a
// link or an id first, and a value holding "http" or "<" is left to it. False for any
// other shape.
bool readUsualHead(std::string_view entry, std::size_t at, LinkHead& head) {
    const auto has = [entry](std::size_t i, std::string_view text) {
        return i <= entry.size() && entry.size() - i >= text.size() && sameBytes(entry.data() + i, text.data(), text.size());
    };
    // The end of an id; an id with a line break in it is left to the general way.
    const auto quote = [entry](std::size_t from) {
        const std::size_t end = tavik::text::findFirstOf(entry, from, {'"', '\r', '\n'});
        return end != std::string_view::npos && entry[end] == '"' ? end : std::string_view::npos;
    };
    if (!has(at + 5, " lang=\"")) return false;
    const std::size_t languageEnd = quote(at + 12);
    if (languageEnd == std::string_view::npos || !has(languageEnd + 1, " id=\"")) return false;
    const std::size_t rateEnd = quote(languageEnd + 6);
    if (rateEnd == std::string_view::npos) return false;
    const std::string_view rate = entry.substr(languageEnd + 6, rateEnd - languageEnd - 6);
    for (std::size_t i = 0; i < rate.size(); ++i)
        if (rate[i] == '<' || (rate[i] == 'h' && rate.substr(i).starts_with("http"))) return false;
    std::size_t address;
    if (has(rateEnd + 1, ">"))
        address = rateEnd + 2;
    else if (has(rateEnd + 1, " href=\""))
        address = rateEnd + 8;
    else
        return false;
    if (has(address, "http://"))
        head.address = {address, 7};
    else if (has(address, "https://"))
        head.address = {address, 8};
    else
        return false;
    head.language = entry.substr(at + 12, languageEnd - at - 12);
    head.bitRate = rate;
    head.oneLineIDs = true;
    return true;
}

// The objects of the few ids that a catalogue repeats on every title and link, found by
// comparing the ids in place instead of walking the set's maps.
template <typename T>
class RecentIDs {
public:
    template <typename Resolve>
    const T* get(std::string_view id, Resolve resolve) {
        for (const Entry& entry : entries)
            if (entry.id.size() == id.size() && sameBytes(entry.id.data(), id.data(), id.size())) return entry.object;
        const T* object = resolve(id);
        if (entries.size() < 32) entries.push_back({std::string(id), object});
        return object;
    }

private:
    struct Entry {
        std::string id;
        const T* object;
    };
    std::vector<Entry> entries;
};

// Reads the seasons block. The set's ids are all declared by now and a placeholder keeps its
// object when it is declared later, so an id found once stands for the same object to the end.
class SeasonsReader {
public:
    SeasonsReader(MoviesSet& set, std::vector<const Movie*>* added) : set(set), added(added) {}

    void read(TextWindow& text) {
        const Span seasons = block(text, "<Seasons>", "</Seasons>");
        static constexpr std::array<std::string_view, 4> separators{"<Season>", "<Name>", "</Name>", "</Season>"};
        std::array<Span, 3> c;
        ScanPosition position = seasons.from;
        while (findSpans(text, seasons.to, separators, c, position)) {
            if (text.view(c[1].from, c[1].to) == "FAQ's") continue;
            const std::string name = oneLineOf(text, c[1]);
            Season* season = set.findSeason(name);
            if (!season) season = set.addSeason(name);
            // Room for the titles a season of this size may bring (an entry with its titles
            // takes some hundreds of bytes), so that the index is not rebuilt as it fills.
            season->reserveTitles((c[2].to - c[2].from) / 256);

            // Entry by entry: only one entry at a time is read into memory.
            static constexpr std::array<std::string_view, 2> entrySeparators{"<Entry>", "</Entry>"};
            std::array<Span, 1> entry;
            ScanPosition entryPosition = c[2].from;
            while (findSpans(text, c[2].to, entrySeparators, entry, entryPosition))
                readEntry(season, text.view(entry[0].from, entry[0].to));
        }
    }

private:
    // `unbroken`: the id is known to hold no line break.
    const Language* language(std::string_view id, bool unbroken = false) {
        if (!unbroken) id = oneLine(id, scratch);
        return languages.get(id, [this](std::string_view i) { return set.resolveLanguage(i); });
    }
    const BitRate* bitRate(std::string_view id, bool unbroken = false) {
        if (!unbroken) id = oneLine(id, scratch);
        return bitRates.get(id, [this](std::string_view i) { return set.resolveBitRate(i); });
    }

    void readEntry(Season* season, std::string_view entry) {
        static constexpr std::array<std::string_view, 5> title{"<Name", "lang=\"", "\"", ">", "</Name>"};
        std::array<std::string_view, 4> c;
        ScanPosition position = 0;
        if (!findTagged(entry, title, c, position)) return;

        const Language* first = language(c[1]);
        const std::string_view name = oneLine(c[3], nameScratch);
        Film* film = season->findFilm(first, name);
        if (!film) {
            film = season->addFilm();
            film->setName(first, name);
        }
        // The first title is the film's identity: a second title in the same language within
        // this entry would replace it and make the next read of the catalogue create the film anew.
        titled.assign(1, first);
        while (findTagged(entry, title, c, position)) {
            const Language* lang = language(c[1]);
            if (std::find(titled.begin(), titled.end(), lang) != titled.end()) continue;
            titled.push_back(lang);
            film->setName(lang, oneLine(c[3], nameScratch));
        }
        readLinks(film, entry, position);
    }

    void readLinks(Film* film, std::string_view entry, ScanPosition& position) {
        static constexpr std::array<std::string_view, 3> head{"<Link", "lang=\"", "\""};
        std::array<std::string_view, 2> c;
        std::size_t link = 0;
        for (;;) {
            LinkHead parts;
            const std::size_t at = findText(entry, "<Link", position.value_or(0));
            if (at == std::string_view::npos) return;
            if (!readUsualHead(entry, at, parts)) {
                if (!findTagged(entry, head, c, position)) return;
                parts.language = c[1];
                const std::size_t afterLanguage = *position;
                const Address address = findAddress(entry, afterLanguage);
                if (address.at == std::string_view::npos) return;
                // An address found beyond the next link belongs to that link: this one adds nothing.
                const std::size_t nextLink = findText(entry.substr(0, address.at + 4), "<Link", afterLanguage);
                if (nextLink != std::string_view::npos) {
                    position = nextLink;
                    continue;
                }
                parts.bitRate = extractID(entry.substr(afterLanguage, address.at - afterLanguage));
                parts.address = address;
            }
            const Address address = parts.address;
            // The address ends at the first "\"", "<" or "!" before the element's ">". Line
            // breaks are noted on the way: an address without any is taken as it stands.
            const std::size_t rest = address.at + address.schemeLength;
            std::size_t close = tavik::text::findFirstOf(entry, rest, {'>', '"', '<', '!', '\r', '\n'});
            const bool broken = close != std::string_view::npos && (entry[close] == '\r' || entry[close] == '\n');
            if (broken) close = tavik::text::findFirstOf(entry, close, {'>', '"', '<', '!'});
            if (close == std::string_view::npos) return;
            const std::size_t end = close;
            if (entry[end] != '>') close = findText(entry, ">", end + 1);
            if (close == std::string_view::npos) return;
            position = close + 1;
            const std::string_view url = entry.substr(address.at, end - address.at);

            const Language* lang = language(parts.language, parts.oneLineIDs);
            const BitRate* rate = bitRate(parts.bitRate, parts.oneLineIDs);
            const std::string_view fileURL = broken ? oneLine(url, scratch) : url;
            // Compared by text among the film's few movies, so that a merge of a known catalogue
            // needs no lookup of server files at all; the movie that this link made last time
            // is tried first.
            const auto& movies = film->getMovies();
            const auto same = [&](const auto& movie) {
                return movie->getLanguage() == lang && movie->getBitRate() == rate &&
                       movie->getServerFile()->getURLView() == fileURL;
            };
            const std::size_t index = link++;
            if (index < movies.size() && same(movies[index])) continue;
            if (std::any_of(movies.begin(), movies.end(), same)) continue;
            ServerFile* file = set.getServerFile(fileURL);
            std::string fileName;
            if (entry[end] == '!') {
                const std::string_view named = entry.substr(end + 1, close - end - 1);
                fileName = oneLine(named.substr(0, tavik::text::findFirstOf(named, 0, {'"', '<'})));
            }
            const Movie* made = film->addMovie(lang, rate, file, std::move(fileName), NoLoad);
            if (added) added->push_back(made);
        }
    }

    MoviesSet& set;
    std::vector<const Movie*>* added;
    RecentIDs<Language> languages;
    RecentIDs<BitRate> bitRates;
    std::vector<const Language*> titled;
    std::string scratch;
    std::string nameScratch;
};

}  // namespace

void MoviesSet::readCatalogue(std::string text, std::vector<const Movie*>* added) {
    TextWindow window(text);
    readCatalogue(window, added);
}

void MoviesSet::readCatalogue(TextWindow& text, std::vector<const Movie*>* added) {
    // About one server file per 400 bytes of a catalogue: grown once instead of step by step,
    // and not at all when the set holds the catalogue's files already.
    serverFilesByURL.reserve(std::max(serverFilesByURL.size(), text.size() / 400));
    readLanguages(*this, text);
    readBitRates(*this, text);
    SeasonsReader(*this, added).read(text);
}

}  // namespace tavik::vemlis_loader
