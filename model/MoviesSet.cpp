#include "MoviesSet.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
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
ServerFile::ServerFile(std::string_view fileURL, Arena& arena)
    : fileURL(arena.keep(fileURL)), movies(ArenaAllocator<const Movie*>(arena)) {
    movies.reserve(4);
}
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

Film::Film(Season* season, std::size_t position)
    : season(season), position(position), names(Names::allocator_type(*season->arena)),
      movies(Movies::allocator_type(*season->arena)) {
    movies.reserve(8);
}

std::string Film::getName(const Language* language) const {
    auto it = names.find(language);
    return it == names.end() ? std::string() : std::string(it->second);
}

void Film::setName(MoviesSet& set, std::string_view languageID, std::string title) {
    setName(set.resolveLanguage(languageID), title);
}

void Film::setName(const Language* language, std::string_view title) {
    auto it = names.lower_bound(language);
    if (it == names.end() || it->first != language) {
        it = names.emplace_hint(it, language, Title(title, names.get_allocator()));
    } else {
        // A catalogue read names every film again, mostly with the title it has.
        if (it->second == title) return;
        it->second.assign(title);
    }
    season->noteTitle(language, title, this);
}

Movie* Film::addMovie(MoviesSet& set, std::string_view languageID, std::string_view bitRateID, std::string_view url,
                      std::string fileName, LoadFlag flag) {
    const Language* language = set.resolveLanguage(languageID);
    const BitRate* bitRate = set.resolveBitRate(bitRateID);
    return addMovie(language, bitRate, set.getServerFile(url), std::move(fileName), flag);
}

Movie* Film::addMovie(const Language* language, const BitRate* bitRate, ServerFile* file, std::string fileName,
                      LoadFlag flag) {
    Movie* result = new (*season->arena) Movie(this, file, bitRate, language, std::move(fileName), flag);
    movies.emplace_back(result);
    file->addMovie(result);
    return result;
}

int Film::countMovies(LoadFlag flag) const {
    int n = 0;
    for (const auto& movie : movies)
        if (movie->getLoadFlag() == flag) ++n;
    return n;
}

Season::Season(std::string name, Arena& arena) : name(std::move(name)), arena(&arena) {}

Film* Season::addFilm() {
    films.push_back(std::unique_ptr<Film>(new (*arena) Film(this, films.size())));
    return films.back().get();
}

namespace {

// A quick hash of a short text, eight bytes a step, for the set's own tables: titles and URLs
// run to a few dozen bytes, where the general string hash costs more than the lookup.
std::uint64_t hashText(std::string_view text, std::uint64_t seed = 0) {
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15u;
    const char* p = text.data();
    std::size_t n = text.size();
    std::uint64_t h = (seed ^ n) * multiplier;
    std::uint64_t word;
    for (; n > 8; p += 8, n -= 8) {
        std::memcpy(&word, p, 8);
        h = (h ^ word) * multiplier;
        h ^= h >> 29;
    }
    if (text.size() >= 8) {
        std::memcpy(&word, text.data() + text.size() - 8, 8);  // the last eight, overlapping
    } else {
        word = 0;
        for (std::size_t i = 0; i < n; ++i) word = word << 8 | static_cast<unsigned char>(p[i]);
    }
    h = (h ^ word) * multiplier;
    // Every bit of the result depends on every bit of the input: slots come from the low bits,
    // tags from the high ones.
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    return h;
}

std::size_t titleHash(const Language* language, std::string_view title) {
    return hashText(title, reinterpret_cast<std::uintptr_t>(language));
}

}  // namespace

void Season::reserveTitles(std::size_t count) {
    std::size_t slots = std::max<std::size_t>(16, titles.size());
    while (slots < count * 2) slots *= 2;
    if (slots == titles.size()) return;
    std::vector<TitleSlot> old(slots);
    old.swap(titles);
    const std::size_t mask = titles.size() - 1;
    for (const TitleSlot& slot : old)
        if (slot.film) {
            std::size_t i = slot.start & mask;
            while (titles[i].film) i = (i + 1) & mask;
            titles[i] = slot;
        }
}

void Season::noteTitle(const Language* language, std::string_view title, Film* film) {
    if ((titleCount + 1) * 2 > titles.size()) reserveTitles(titleCount + 1);
    const std::uint64_t hash = titleHash(language, title);
    const TitleSlot noted{static_cast<std::uint32_t>(hash), static_cast<std::uint32_t>(film->position + 1)};
    const std::size_t mask = titles.size() - 1;
    std::size_t i = noted.start & mask;
    for (; titles[i].film; i = (i + 1) & mask)
        if (titles[i].start == noted.start && titles[i].film == noted.film) return;  // titled so before
    titles[i] = noted;
    ++titleCount;
}

Film* Season::findFilm(const Language* language, std::string_view name) const {
    if (titles.empty()) return nullptr;
    // Several films may carry the title: the first of them is the one.
    std::uint32_t first = 0;
    const auto start = static_cast<std::uint32_t>(titleHash(language, name));
    const std::size_t mask = titles.size() - 1;
    for (std::size_t i = start & mask; titles[i].film; i = (i + 1) & mask) {
        const TitleSlot slot = titles[i];
        if (slot.start != start || (first && first < slot.film)) continue;
        const Film& film = *films[slot.film - 1];
        auto it = film.names.find(language);
        if (it != film.names.end() && it->second == name) first = slot.film;
    }
    return first ? films[first - 1].get() : nullptr;
}

ServerFile* MoviesSet::ServerFiles::get(std::string_view url) {
    // Grown first, so that the free slot that ends the probe is where a new file goes.
    if ((files.size() + 1) * 2 > tags.size()) grow(std::max<std::size_t>(64, tags.size() * 2));
    const std::size_t hash = hashText(url);
    const std::uint8_t tag = tagOf(hash);
    const std::size_t mask = tags.size() - 1;
    std::size_t i = hash & mask;
    for (; tags[i]; i = (i + 1) & mask)
        if (tags[i] == tag && byTag[i]->fileURL == url) return byTag[i];
    files.push_back(std::unique_ptr<ServerFile>(new (*arena) ServerFile(url, *arena)));
    tags[i] = tag;
    byTag[i] = files.back().get();
    return byTag[i];
}

void MoviesSet::ServerFiles::place(std::size_t hash, ServerFile* file) {
    const std::size_t mask = tags.size() - 1;
    std::size_t i = hash & mask;
    while (tags[i]) i = (i + 1) & mask;
    tags[i] = tagOf(hash);
    byTag[i] = file;
}

void MoviesSet::ServerFiles::reserve(std::size_t count) {
    std::size_t wanted = 64;
    while (wanted < count * 2) wanted *= 2;
    if (wanted > tags.size()) grow(wanted);
    files.reserve(count);
}

void MoviesSet::ServerFiles::grow(std::size_t slotCount) {
    tags.assign(slotCount, 0);
    byTag.assign(slotCount, nullptr);
    for (const auto& file : files) place(hashText(file->fileURL), file.get());
}

MoviesSet::MoviesSet() : serverFilesByURL(arena) {}
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
    seasons.push_back(std::make_unique<Season>(std::move(name), arena));
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
    return lastServerFile = serverFilesByURL.get(url);
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
