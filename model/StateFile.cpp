#include "StateFile.h"

#include <algorithm>
#include <istream>
#include <ostream>

#include "CatalogueReader.h"

namespace tavik::vemlis_loader {

bool readLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A lone CR inside a value is stored as the writer would store it, so that what is read
    // is what the next save writes.
    std::replace(line.begin(), line.end(), '\r', ' ');
    return true;
}

bool expectLine(std::istream& in, std::string_view keyword) {
    if (!in.good()) return false;
    std::string line;
    return readLine(in, line) && line == keyword;
}

void writeLine(std::ostream& out, std::string_view value) {
    if (value.find_first_of("\r\n") == std::string_view::npos)
        out.write(value.data(), static_cast<std::streamsize>(value.size()));
    else
        out << oneLine(value);
    out.put('\n');
}

const char* loadFlagWord(LoadFlag flag) {
    switch (flag) {
        case Queue: return "Queue";
        case Loaded: return "Loaded";
        case Broken: return "Broken";
        default: return "NoLoad";
    }
}

LoadFlag loadFlagFromWord(std::string_view word) {
    if (word == "Queue") return Queue;
    if (word == "Loaded") return Loaded;
    if (word == "Broken") return Broken;
    return NoLoad;
}

void MoviesSet::save(std::ostream& out) const {
    writeLine(out, "Languages");
    for (const auto& [id, language] : languagesByID) {
        writeLine(out, "Language");
        writeLine(out, id);
        writeLine(out, language->caption);
    }
    writeLine(out, "LanguagesEnd");
    writeLine(out, "BitRates");
    for (const auto& [id, bitRate] : bitRatesByID) {
        writeLine(out, "BitRate");
        writeLine(out, id);
        writeLine(out, bitRate->description);
    }
    writeLine(out, "BitRatesEnd");
    writeLine(out, "Seasons");
    for (const auto& season : seasons) {
        writeLine(out, "Season");
        writeLine(out, season->name);
        for (const auto& film : season->films) {
            writeLine(out, "Film");
            for (const auto& [language, title] : film->names) {
                writeLine(out, "Name");
                writeLine(out, language->id);
                writeLine(out, title);
            }
            writeLine(out, "NamesEnd");
            for (const auto& movie : film->movies) {
                writeLine(out, "Movie");
                writeLine(out, movie->language->id);
                writeLine(out, movie->bitRate->id);
                writeLine(out, movie->serverFile->fileURL);
                writeLine(out, movie->fileName);
                writeLine(out, loadFlagWord(movie->getLoadFlag()));
            }
            writeLine(out, "MoviesEnd");
        }
        writeLine(out, "SeasonEnd");
    }
    writeLine(out, "SeasonsEnd");
}

void MoviesSet::load(std::istream& in) {
    std::string a, b, c, d, e;
    if (expectLine(in, "Languages"))
        while (expectLine(in, "Language"))
            if (readLine(in, a) && readLine(in, b)) addLanguage(a, std::move(b));
    if (expectLine(in, "BitRates"))
        while (expectLine(in, "BitRate"))
            if (readLine(in, a) && readLine(in, b)) addBitRate(a, std::move(b));
    if (!expectLine(in, "Seasons")) return;
    while (expectLine(in, "Season")) {
        if (!readLine(in, a)) a.clear();
        Season* season = addSeason(std::move(a));
        while (expectLine(in, "Film")) {
            Film* film = season->addFilm();
            while (expectLine(in, "Name"))
                if (readLine(in, a) && readLine(in, b)) film->setName(*this, a, std::move(b));
            while (expectLine(in, "Movie"))
                if (readLine(in, a) && readLine(in, b) && readLine(in, c) && readLine(in, d) && readLine(in, e))
                    film->addMovie(*this, a, b, c, std::move(d), loadFlagFromWord(e));
        }
    }
}

}  // namespace tavik::vemlis_loader
