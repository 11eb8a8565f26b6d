#include "CatalogueReader.h"

#include <algorithm>
#include <array>
#include <vector>

#include "MoviesSet.h"

namespace tavik::vemlis_loader {

bool findTagged(std::string_view text, std::span<const std::string_view> separators,
                std::span<std::string_view> captures, ScanPosition& position) {
    const std::size_t start = position.value_or(0);
    const std::size_t first = start > text.size() ? std::string_view::npos : text.find(separators[0], start);
    if (first == std::string_view::npos) {
        position.reset();
        return false;
    }
    std::size_t at = first + separators[0].size();
    position = at;
    for (std::size_t i = 1; i <= captures.size(); ++i) {
        const std::size_t next = text.find(separators[i], at);
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

// Where a link's address starts: "http://" or "https://", whichever comes first.
struct Address {
    std::size_t at = std::string_view::npos;
    std::size_t schemeLength = 0;
};

Address findAddress(std::string_view entry, std::size_t from) {
    const std::size_t plain = entry.find("http://", from);
    const std::size_t secure = entry.find("https://", from);
    if (plain == std::string_view::npos && secure == std::string_view::npos) return {};
    return plain < secure ? Address{plain, 7} : Address{secure, 8};
}

void readLinks(MoviesSet& set, Film* film, std::string_view entry, ScanPosition& position) {
    static constexpr std::array<std::string_view, 3> head{"<Link", "lang=\"", "\""};
    std::array<std::string_view, 2> c;
    while (scan(entry, head, c, position)) {
        const std::size_t afterLanguage = *position;
        const Address address = findAddress(entry, afterLanguage);
        if (address.at == std::string_view::npos) return;
        // An address found beyond the next link belongs to that link: this one adds nothing.
        const std::size_t nextLink = entry.find("<Link", afterLanguage);
        if (nextLink < address.at) {
            position = nextLink;
            continue;
        }
        const std::size_t rest = address.at + address.schemeLength;
        const std::size_t close = entry.find('>', rest);
        if (close == std::string_view::npos) return;
        position = close + 1;

        const std::string language = oneLine(c[1]);
        const std::string bitRate = oneLine(extractID(entry.substr(afterLanguage, address.at - afterLanguage)));
        const std::string_view r = entry.substr(rest, close - rest);
        const std::size_t mark = r.find_first_of("!\"<");
        std::string url = oneLine(entry.substr(address.at, address.schemeLength + std::min(mark, r.size())));
        std::string fileName;
        if (mark != std::string_view::npos && r[mark] == '!') {
            const std::string_view named = r.substr(mark + 1);
            fileName = oneLine(named.substr(0, named.find_first_of("\"<")));
        }

        const Language* lang = set.resolveLanguage(language);
        const BitRate* rate = set.resolveBitRate(bitRate);
        const ServerFile* file = set.getServerFile(url);
        bool known = false;
        for (const auto& movie : film->getMovies())
            if (movie->getLanguage() == lang && movie->getBitRate() == rate && movie->getServerFile() == file) {
                known = true;
                break;
            }
        if (!known) film->addMovie(set, language, bitRate, url, std::move(fileName), NoLoad);
    }
}

void readEntry(MoviesSet& set, Season* season, std::string_view entry) {
    static constexpr std::array<std::string_view, 5> title{"<Name", "lang=\"", "\"", ">", "</Name>"};
    std::array<std::string_view, 4> c;
    ScanPosition position = 0;
    if (!scan(entry, title, c, position)) return;

    std::string language = oneLine(c[1]);
    std::string name = oneLine(c[3]);
    const Language* first = set.resolveLanguage(language);
    Film* film = season->findFilm(first, name);
    if (!film) {
        film = season->addFilm();
        film->setName(set, language, std::move(name));
    }
    // The first title is the film's identity: a second title in the same language within
    // this entry would replace it and make the next read of the catalogue create the film anew.
    std::vector<const Language*> titled{first};
    while (scan(entry, title, c, position)) {
        language = oneLine(c[1]);
        const Language* lang = set.resolveLanguage(language);
        if (std::find(titled.begin(), titled.end(), lang) != titled.end()) continue;
        titled.push_back(lang);
        film->setName(set, language, oneLine(c[3]));
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
    readLanguages(*this, text);
    readBitRates(*this, text);
    readSeasons(*this, text);
}

}  // namespace tavik::vemlis_loader
