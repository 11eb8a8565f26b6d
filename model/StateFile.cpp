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
    if (!hasLineBreak(value))
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

namespace {

// Collects the lines in memory and hands them to the stream in large pieces: a stream write
// per line costs more than the formatting itself.
class LineWriter {
public:
    explicit LineWriter(std::ostream& out) : out(out) { buffer.reserve(capacity + 4096); }
    ~LineWriter() { flush(); }
    void operator()(std::string_view value) {
        if (!hasLineBreak(value))
            buffer.append(value);
        else
            buffer.append(oneLine(value));
        buffer.push_back('\n');
        if (buffer.size() >= capacity) flush();
    }
    void flush() {
        out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        buffer.clear();
    }

private:
    static constexpr std::size_t capacity = 1 << 20;
    std::ostream& out;
    std::string buffer;
};

}  // namespace

void MoviesSet::save(std::ostream& out) const {
    LineWriter writeLine(out);
    writeLine("Languages");
    for (const auto& [id, language] : languagesByID) {
        writeLine("Language");
        writeLine(id);
        writeLine(language->caption);
    }
    writeLine("LanguagesEnd");
    writeLine("BitRates");
    for (const auto& [id, bitRate] : bitRatesByID) {
        writeLine("BitRate");
        writeLine(id);
        writeLine(bitRate->description);
    }
    writeLine("BitRatesEnd");
    writeLine("Seasons");
    for (const auto& season : seasons) {
        writeLine("Season");
        writeLine(season->name);
        for (const auto& film : season->films) {
            writeLine("Film");
            for (const auto& [language, title] : film->names) {
                writeLine("Name");
                writeLine(language->id);
                writeLine(title);
            }
            writeLine("NamesEnd");
            for (const auto& movie : film->movies) {
                writeLine("Movie");
                writeLine(movie->language->id);
                writeLine(movie->bitRate->id);
                writeLine(movie->serverFile->fileURL);
                writeLine(movie->fileName);
                writeLine(loadFlagWord(movie->getLoadFlag()));
            }
            writeLine("MoviesEnd");
        }
        writeLine("SeasonEnd");
    }
    writeLine("SeasonsEnd");
}

void MoviesSet::load(std::istream& in) {
    // A state file holds about one server file per 300 bytes: make room once where the size
    // can be told.
    if (const std::streampos here = in.tellg(); here != std::streampos(-1)) {
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg() - here;
        in.seekg(here);
        if (size > 0) serverFilesByURL.reserve(serverFilesByURL.size() + static_cast<std::size_t>(size / 300));
    }
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
