#include "MoviesSet.h"

#include <algorithm>
#include <functional>
#include <unordered_set>
#include <utility>

namespace tavik::vemlis_loader {

Language::Language(std::string id, std::string caption) : id(std::move(id)), caption(std::move(caption)) {}
void Language::setCaption(std::string value) { caption = std::move(value); }

BitRate::BitRate(std::string id, std::string description) : id(std::move(id)), description(std::move(description)) {}
void BitRate::setDescription(std::string value) { description = std::move(value); }

// A server file holds a few movies and a film has a few variants: room for them from the start
// saves the several small reallocations of a growing list.
ServerFile::ServerFile(std::string fileURL) : fileURL(std::move(fileURL)) { movies.reserve(4); }
void ServerFile::addMovie(const Movie* movie) { movies.push_back(movie); }

Movie::Movie(Film* film, const ServerFile* serverFile, const BitRate* bitRate, const Language* language,
             std::string fileName, LoadFlag loadFlag)
    : film(film), serverFile(serverFile), bitRate(bitRate), language(language), fileName(std::move(fileName)),
      loadFlag(loadFlag) {}

void Movie::queue(std::string name) const {
    fileName = std::move(name);
    loadFlag.store(Queue);
}

bool Movie::hasOtherInFile(LoadFlag flag) const {
    for (const Movie* other : serverFile->getMovies())
        if (other != this && other->getLoadFlag() == flag) return true;
    return false;
}

Film::Film(Season* season) : season(season) { movies.reserve(8); }

std::string Film::getName(const Language* language) const {
    auto it = names.find(language);
    return it == names.end() ? std::string() : it->second;
}

void Film::setName(MoviesSet& set, std::string_view languageID, std::string title) {
    names[set.resolveLanguage(languageID)] = std::move(title);
}

void Film::setName(const Language* language, std::string_view title) { names[language].assign(title); }

Movie* Film::addMovie(MoviesSet& set, std::string_view languageID, std::string_view bitRateID, std::string_view url,
                      std::string fileName, LoadFlag flag) {
    const Language* language = set.resolveLanguage(languageID);
    const BitRate* bitRate = set.resolveBitRate(bitRateID);
    return addMovie(language, bitRate, set.getServerFile(url), std::move(fileName), flag);
}

Movie* Film::addMovie(const Language* language, const BitRate* bitRate, ServerFile* file, std::string fileName,
                      LoadFlag flag) {
    auto movie = std::make_unique<Movie>(this, file, bitRate, language, std::move(fileName), flag);
    Movie* result = movie.get();
    movies.push_back(std::move(movie));
    file->addMovie(result);
    return result;
}

int Film::countMovies(LoadFlag flag) const {
    int n = 0;
    for (const auto& movie : movies)
        if (movie->getLoadFlag() == flag) ++n;
    return n;
}

Season::Season(std::string name) : name(std::move(name)) {}

Film* Season::addFilm() {
    films.push_back(std::make_unique<Film>(this));
    return films.back().get();
}

Film* Season::findFilm(const Language* language, std::string_view name) const {
    for (const auto& film : films) {
        auto it = film->names.find(language);
        if (it != film->names.end() && it->second == name) return film.get();
    }
    return nullptr;
}

ServerFile* MoviesSet::ServerFiles::find(std::string_view url) const {
    if (table.empty()) return nullptr;
    const std::size_t hash = std::hash<std::string_view>()(url);
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = table[i];
        if (!slot.file) return nullptr;
        if (slot.hash == hash && slot.file->fileURL == url) return slot.file;
    }
}

ServerFile* MoviesSet::ServerFiles::add(std::string_view url) {
    if ((files.size() + 1) * 2 > table.size()) grow(std::max<std::size_t>(64, table.size() * 2));
    files.push_back(std::make_unique<ServerFile>(std::string(url)));
    ServerFile* file = files.back().get();
    const std::size_t hash = std::hash<std::string_view>()(url);
    const std::size_t mask = table.size() - 1;
    std::size_t i = hash & mask;
    while (table[i].file) i = (i + 1) & mask;
    table[i] = {hash, file};
    return file;
}

void MoviesSet::ServerFiles::reserve(std::size_t count) {
    std::size_t wanted = 64;
    while (wanted < count * 2) wanted *= 2;
    if (wanted > table.size()) grow(wanted);
    files.reserve(count);
}

void MoviesSet::ServerFiles::grow(std::size_t slotCount) {
    std::vector<Slot> old = std::move(table);
    table.assign(slotCount, Slot{});
    const std::size_t mask = slotCount - 1;
    for (const Slot& slot : old)
        if (slot.file) {
            std::size_t i = slot.hash & mask;
            while (table[i].file) i = (i + 1) & mask;
            table[i] = slot;
        }
}

MoviesSet::MoviesSet() = default;
MoviesSet::~MoviesSet() = default;

namespace {

// Finds `id` among the declared objects; a placeholder of the same id is adopted, so that
// movies created before the declaration keep pointing at the object that is now declared.
template <typename Map, typename Setter>
auto* declare(Map& declared, Map& placeholders, std::string_view id, std::string text, Setter set) {
    if (auto it = declared.find(id); it != declared.end()) {
        set(*it->second, std::move(text));
        return it->second.get();
    }
    typename Map::mapped_type object;
    if (auto it = placeholders.find(id); it != placeholders.end()) {
        object = std::move(it->second);
        placeholders.erase(it);
        set(*object, std::move(text));
    } else {
        object = std::make_unique<typename Map::mapped_type::element_type>(std::string(id), std::move(text));
    }
    auto* result = object.get();
    declared.emplace(std::string(id), std::move(object));
    return result;
}

template <typename Map>
auto* resolve(Map& declared, Map& placeholders, std::string_view id) {
    if (auto it = declared.find(id); it != declared.end()) return it->second.get();
    auto it = placeholders.find(id);
    if (it == placeholders.end())
        it = placeholders
                 .emplace(std::string(id),
                          std::make_unique<typename Map::mapped_type::element_type>(std::string(id), std::string(id)))
                 .first;
    return it->second.get();
}

}  // namespace

Language* MoviesSet::addLanguage(std::string_view id, std::string caption) {
    return declare(languagesByID, unknownLanguages, id, std::move(caption),
                   [](Language& l, std::string text) { l.setCaption(std::move(text)); });
}

BitRate* MoviesSet::addBitRate(std::string_view id, std::string description) {
    return declare(bitRatesByID, unknownBitRates, id, std::move(description),
                   [](BitRate& b, std::string text) { b.setDescription(std::move(text)); });
}

Season* MoviesSet::addSeason(std::string name) {
    seasons.push_back(std::make_unique<Season>(std::move(name)));
    return seasons.back().get();
}

Season* MoviesSet::findSeason(std::string_view name) const {
    for (const auto& season : seasons)
        if (season->name == name) return season.get();
    return nullptr;
}

Language* MoviesSet::getLanguage(std::string_view id) const {
    auto it = languagesByID.find(id);
    return it == languagesByID.end() ? nullptr : it->second.get();
}

BitRate* MoviesSet::getBitRate(std::string_view id) const {
    auto it = bitRatesByID.find(id);
    return it == bitRatesByID.end() ? nullptr : it->second.get();
}

ServerFile* MoviesSet::getServerFile(std::string_view url) {
    // Links of one server file mostly stand next to each other in a catalogue and a state file.
    if (lastServerFile && lastServerFile->fileURL == url) return lastServerFile;
    ServerFile* file = serverFilesByURL.find(url);
    return lastServerFile = file ? file : serverFilesByURL.add(url);
}

Language* MoviesSet::getFirstLanguage() const {
    return languagesByID.empty() ? nullptr : languagesByID.begin()->second.get();
}

Language* MoviesSet::matchLanguage(const Language* language) const {
    if (language)
        if (Language* same = getLanguage(language->id)) return same;
    return getFirstLanguage();
}

const Language* MoviesSet::resolveLanguage(std::string_view id) {
    return resolve(languagesByID, unknownLanguages, id);
}

const BitRate* MoviesSet::resolveBitRate(std::string_view id) { return resolve(bitRatesByID, unknownBitRates, id); }

const ServerFile* MoviesSet::getNextQueuedFile() const {
    for (const auto& season : seasons)
        for (const auto& film : season->films)
            for (const auto& movie : film->movies)
                if (movie->getLoadFlag() == Queue) return movie->serverFile;
    return nullptr;
}

void MoviesSet::getQueuedFiles(std::vector<const ServerFile*>& files) const {
    std::unordered_set<const ServerFile*> held(files.begin(), files.end());
    for (const auto& season : seasons)
        for (const auto& film : season->films)
            for (const auto& movie : film->movies)
                if (movie->getLoadFlag() == Queue && held.insert(movie->serverFile).second)
                    files.push_back(movie->serverFile);
}

}  // namespace tavik::vemlis_loader
