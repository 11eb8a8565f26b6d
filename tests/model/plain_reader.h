#pragma once

// The catalogue reader written plainly, with std::string_view::find and no shortcuts, for
// comparing the real one against. It keeps its own small model and prints it the way
// canonical() prints a set.

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "model/MoviesSet.h"
#include "model/StateFile.h"

class PlainCatalogue {
public:
    void read(std::string_view text) {
        readLanguages(text);
        readBitRates(text);
        readSeasons(text);
    }

    std::string print() const {
        std::string out;
        for (const auto& [id, caption] : languages) out += "L|" + id + "|" + caption + "\n";
        for (const auto& [id, description] : bitRates) out += "B|" + id + "|" + description + "\n";
        for (const Season& s : seasons) {
            out += "S|" + s.name + "\n";
            for (const Film& f : s.films) {
                out += "F\n";
                for (const auto& [id, title] : f.names) out += "N|" + id + "|" + title + "\n";
                for (const Movie& m : f.movies)
                    out += "M|" + m.language + "|" + m.bitRate + "|" + m.url + "|" + m.fileName + "|NoLoad\n";
            }
        }
        return out;
    }

private:
    using Position = std::optional<std::size_t>;
    struct Movie {
        std::string language, bitRate, url, fileName;
    };
    struct Film {
        std::map<std::string, std::string> names;
        std::vector<Movie> movies;
    };
    struct Season {
        std::string name;
        std::vector<Film> films;
    };

    static constexpr auto npos = std::string_view::npos;

    static std::string oneLine(std::string_view text) {
        std::string result(text);
        std::replace(result.begin(), result.end(), '\r', ' ');
        std::replace(result.begin(), result.end(), '\n', ' ');
        return result;
    }

    template <std::size_t N>
    static bool tagged(std::string_view text, const std::array<std::string_view, N + 1>& separators,
                       std::array<std::string_view, N>& captures, Position& position) {
        std::size_t at = text.find(separators[0], position.value_or(0));
        if (at == npos) {
            position.reset();
            return false;
        }
        at += separators[0].size();
        position = at;
        for (std::size_t i = 1; i <= N; ++i) {
            const std::size_t next = text.find(separators[i], at);
            if (next == npos) return false;
            captures[i - 1] = text.substr(at, next - at);
            at = next + separators[i].size();
            position = at;
        }
        return true;
    }

    static std::string_view block(std::string_view text, std::string_view open, std::string_view close) {
        std::array<std::string_view, 1> c;
        Position position;
        return tagged<1>(text, {open, close}, c, position) ? c[0] : std::string_view();
    }

    static std::string_view extractID(std::string_view attributes) {
        std::array<std::string_view, 1> c;
        Position position;
        return tagged<1>(attributes, {"id=\"", "\""}, c, position) ? c[0] : std::string_view();
    }

    void readLanguages(std::string_view text) {
        const std::string_view inner = block(text, "<Languages>", "</Languages>");
        std::array<std::string_view, 5> c;
        Position position;
        while (tagged<5>(inner, {"<Language", "id=\"", "\"", "caption=\"", "\"", "/>"}, c, position))
            languages[oneLine(c[1])] = oneLine(c[3]);
    }

    void readBitRates(std::string_view text) {
        const std::string_view inner = block(text, "<Link_Classes>", "</Link_Classes>");
        std::array<std::string_view, 3> c;
        Position position;
        while (tagged<3>(inner, {"<Link_Class", "description=\"", "\"", "/>"}, c, position))
            bitRates[oneLine(extractID(c[0]))] = oneLine(c[1]);
    }

    void readSeasons(std::string_view text) {
        const std::string_view inner = block(text, "<Seasons>", "</Seasons>");
        std::array<std::string_view, 3> c;
        Position position;
        while (tagged<3>(inner, {"<Season>", "<Name>", "</Name>", "</Season>"}, c, position)) {
            if (c[1] == "FAQ's") continue;
            const std::string name = oneLine(c[1]);
            auto season = std::find_if(seasons.begin(), seasons.end(), [&](const Season& s) { return s.name == name; });
            if (season == seasons.end()) season = seasons.insert(seasons.end(), Season{name, {}});
            std::array<std::string_view, 1> entry;
            Position entryPosition = 0;
            while (tagged<1>(c[2], {"<Entry>", "</Entry>"}, entry, entryPosition)) readEntry(*season, entry[0]);
        }
    }

    void readEntry(Season& season, std::string_view entry) {
        static constexpr std::array<std::string_view, 5> title{"<Name", "lang=\"", "\"", ">", "</Name>"};
        std::array<std::string_view, 4> c;
        Position position = 0;
        if (!tagged<4>(entry, title, c, position)) return;
        const std::string first = oneLine(c[1]);
        const std::string name = oneLine(c[3]);
        auto film = std::find_if(season.films.begin(), season.films.end(), [&](const Film& f) {
            auto it = f.names.find(first);
            return it != f.names.end() && it->second == name;
        });
        if (film == season.films.end()) {
            film = season.films.insert(season.films.end(), Film{});
            film->names[first] = name;
        }
        std::vector<std::string> titled{first};
        while (tagged<4>(entry, title, c, position)) {
            const std::string language = oneLine(c[1]);
            if (std::find(titled.begin(), titled.end(), language) != titled.end()) continue;
            titled.push_back(language);
            film->names[language] = oneLine(c[3]);
        }
        readLinks(*film, entry, position);
    }

    void readLinks(Film& film, std::string_view entry, Position& position) {
        std::array<std::string_view, 2> c;
        while (tagged<2>(entry, {"<Link", "lang=\"", "\""}, c, position)) {
            const std::size_t after = *position;
            std::size_t at = entry.find("http", after);
            std::size_t scheme = 0;
            for (; at != npos; at = entry.find("http", at + 1)) {
                if (entry.substr(at + 4).starts_with("://")) scheme = 7;
                if (entry.substr(at + 4).starts_with("s://")) scheme = 8;
                if (scheme) break;
            }
            if (at == npos) return;
            const std::size_t nextLink = entry.substr(0, at + 4).find("<Link", after);
            if (nextLink != npos) {
                position = nextLink;
                continue;
            }
            const std::size_t rest = at + scheme;
            const std::size_t close = entry.find('>', rest);
            if (close == npos) return;
            position = close + 1;
            const std::string_view r = entry.substr(rest, close - rest);
            const std::size_t mark = r.find_first_of("\"<!");
            const Movie movie{oneLine(c[1]), oneLine(extractID(entry.substr(after, at - after))),
                              oneLine(entry.substr(at, scheme + std::min(mark, r.size()))), ""};
            if (std::any_of(film.movies.begin(), film.movies.end(), [&](const Movie& m) {
                    return m.language == movie.language && m.bitRate == movie.bitRate && m.url == movie.url;
                }))
                continue;
            film.movies.push_back(movie);
            if (mark != npos && r[mark] == '!') {
                const std::string_view named = r.substr(mark + 1);
                film.movies.back().fileName = oneLine(named.substr(0, named.find_first_of("\"<")));
            }
        }
    }

    std::map<std::string, std::string> languages;
    std::map<std::string, std::string> bitRates;
    std::vector<Season> seasons;
};
