#pragma once

#include "Arena.h"

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::text {
class TextWindow;
}

namespace tavik::vemlis_loader {

// The state of one movie; the state file stores the names of the values.
enum LoadFlag : std::uint8_t { NoLoad = 0, Queue = 1, Loaded = 2, Broken = 3 };

class MoviesSet;
class Season;
class Film;
class Movie;
class ServerFile;

// Movies in the order in which they are to be named and queued.
using ListOfMovies = std::list<const Movie*>;

class Language final {
public:
    Language(std::string id, std::string caption);
    std::string getID() const { return id; }
    std::string getCaption() const { return caption; }
    void setCaption(std::string caption);

private:
    friend class MoviesSet;
    std::string id;
    std::string caption;
};

class BitRate final {
public:
    BitRate(std::string id, std::string description);
    std::string getID() const { return id; }
    std::string getDescription() const { return description; }
    void setDescription(std::string description);

private:
    friend class MoviesSet;
    std::string id;
    std::string description;
};

class ServerFile final {
public:
    using Movies = std::vector<const Movie*, ArenaAllocator<const Movie*>>;

    // The URL is kept in the arena too: it never changes.
    ServerFile(std::string_view fileURL, Arena& arena);
    // Lives in its set's arena: deleting it ends its life, the arena frees the memory with the set.
    static void* operator new(std::size_t size, Arena& arena) { return arena.allocate(size); }
    static void operator delete(void*, Arena&) noexcept {}
    static void operator delete(void*) noexcept {}
    std::string getURL() const { return std::string(fileURL); }
    std::string_view getURLView() const { return fileURL; }
    // The movies in the order they are stored inside the file.
    const Movies& getMovies() const { return movies; }
    void addMovie(const Movie* movie);

private:
    friend class MoviesSet;
    std::string_view fileURL;
    Movies movies;
};

class Movie final {
public:
    Movie(Film* film, const ServerFile* serverFile, const BitRate* bitRate, const Language* language,
          std::string fileName, LoadFlag loadFlag);
    Movie(const Movie&) = delete;
    Movie& operator=(const Movie&) = delete;
    // Lives in its set's arena: deleting it ends its life, the arena frees the memory with the set.
    static void* operator new(std::size_t size, Arena& arena) { return arena.allocate(size); }
    static void operator delete(void*, Arena&) noexcept {}
    static void operator delete(void*) noexcept {}

    Film* getFilm() const { return film; }
    const ServerFile* getServerFile() const { return serverFile; }
    const BitRate* getBitRate() const { return bitRate; }
    const Language* getLanguage() const { return language; }
    std::string getFileName() const { return fileName; }
    LoadFlag getLoadFlag() const { return loadFlag.load(); }

    // The name and the flag are what changes after creation; the lists hold const movies
    // and still queue them, so these work through a const pointer.
    void queue(std::string name) const;
    void setNoLoad() const { loadFlag.store(NoLoad); }
    void setLoaded() const { loadFlag.store(Loaded); }
    void setBroken() const { loadFlag.store(Broken); }

    // True when another movie of the same server file has the flag.
    bool hasOtherInFile(LoadFlag flag) const;

private:
    friend class MoviesSet;
    Film* film;
    const ServerFile* serverFile;
    const BitRate* bitRate;
    const Language* language;
    mutable std::string fileName;
    // Written by the GUI and the worker thread: one byte, read and written whole.
    mutable std::atomic<LoadFlag> loadFlag;
};

class Film final {
public:
    using Title = std::basic_string<char, std::char_traits<char>, ArenaAllocator<char>>;
    using Names = std::map<const Language*, Title, std::less<const Language*>,
                           ArenaAllocator<std::pair<const Language* const, Title>>>;
    using Movies = std::vector<std::unique_ptr<const Movie>, ArenaAllocator<std::unique_ptr<const Movie>>>;

    Film(Season* season, std::size_t position);
    // Lives in its set's arena: deleting it ends its life, the arena frees the memory with the set.
    static void* operator new(std::size_t size, Arena& arena) { return arena.allocate(size); }
    static void operator delete(void*, Arena&) noexcept {}
    static void operator delete(void*) noexcept {}

    Season* getSeason() const { return season; }
    const Names& getNames() const { return names; }
    const Movies& getMovies() const { return movies; }

    // The title in that language, or an empty text.
    std::string getName(const Language* language) const;
    void setName(MoviesSet& set, std::string_view languageID, std::string title);
    void setName(const Language* language, std::string_view title);
    Movie* addMovie(MoviesSet& set, std::string_view languageID, std::string_view bitRateID, std::string_view url,
                    std::string fileName, LoadFlag flag);
    // The same with the objects already looked up (the readers' fast path).
    Movie* addMovie(const Language* language, const BitRate* bitRate, ServerFile* file, std::string fileName,
                    LoadFlag flag);
    int countMovies(LoadFlag flag) const;

private:
    friend class MoviesSet;
    friend class Season;
    Season* season;
    std::size_t position;  // in the season's films
    Names names;
    Movies movies;
};

class Season final {
public:
    // Its films live in `arena`, the set's.
    Season(std::string name, Arena& arena);
    std::string getName() const { return name; }
    const std::vector<std::unique_ptr<Film>>& getFilms() const { return films; }
    Film* addFilm();
    // The first film with exactly this title under exactly this Language object, or null.
    Film* findFilm(const Language* language, std::string_view name) const;
    // Makes room for this many titles in the season's title index (a reader's hint).
    void reserveTitles(std::size_t count);

private:
    friend class MoviesSet;
    friend class Film;
    // Notes that the film now has this title, for findFilm.
    void noteTitle(const Language* language, std::string_view title, Film* film);

    std::string name;
    std::vector<std::unique_ptr<Film>> films;
    Arena* arena;
    // Every (language, title) that a film of the season was given, hashed, with the film: a
    // catalogue read looks up every entry's film, and a walk over all films would make that
    // quadratic in the season's size. A replaced title leaves its slot behind; lookups check
    // the film's current title.
    struct TitleSlot {
        std::uint32_t start = 0;  // the low half of the hash, where the probe starts
        std::uint32_t film = 0;   // its position in films, plus one; 0: the slot is free
    };
    std::vector<TitleSlot> titles;
    std::size_t titleCount = 0;
};

// The whole catalogue. Owns every object in it; nothing is removed while it lives, so the
// pointers it hands out stay valid.
//
// Ids that the set does not hold (a movie or title in a language, or at a bit rate, that the
// catalogue never declared) get a placeholder Language or BitRate whose caption is the id.
// Placeholders are not listed among the languages and bit rates and are not stored in their
// blocks of the state file; a later declaration of the id adopts the placeholder, so every
// pointer to it stays valid.
class MoviesSet final {
public:
    using Languages = std::map<std::string, std::unique_ptr<Language>, std::less<>>;
    using BitRates = std::map<std::string, std::unique_ptr<BitRate>, std::less<>>;
    // Every server file, found by URL. Nothing depends on the order of server files, and a
    // catalogue read looks a URL up for every new link, so this one is an open-addressing hash
    // table. Beside each slot's file it keeps a byte of the URL's hash in a table of its own: a
    // lookup of a URL that is not there (every new file) reads only that small, cached table.
    class ServerFiles {
    public:
        explicit ServerFiles(Arena& arena) : arena(&arena) {}
        // The file of this URL, created when it is new.
        ServerFile* get(std::string_view url);
        void reserve(std::size_t count);
        std::size_t size() const { return files.size(); }

    private:
        static std::uint8_t tagOf(std::size_t hash) { return static_cast<std::uint8_t>(0x80 | (hash >> 57)); }
        void grow(std::size_t slotCount);
        void place(std::size_t hash, ServerFile* file);
        Arena* arena;
        std::vector<std::unique_ptr<ServerFile>> files;
        std::vector<std::uint8_t> tags;  // 0: empty slot
        std::vector<ServerFile*> byTag;
    };
    using Seasons = std::vector<std::unique_ptr<Season>>;

    MoviesSet();
    ~MoviesSet();
    MoviesSet(const MoviesSet&) = delete;
    MoviesSet& operator=(const MoviesSet&) = delete;

    Language* addLanguage(std::string_view id, std::string caption);
    BitRate* addBitRate(std::string_view id, std::string description);
    Season* addSeason(std::string name);
    // The first season of that name, or null.
    Season* findSeason(std::string_view name) const;
    // Lookups only: null for ids that were never declared.
    Language* getLanguage(std::string_view id) const;
    BitRate* getBitRate(std::string_view id) const;
    ServerFile* getServerFile(std::string_view url);
    Language* getFirstLanguage() const;
    Language* matchLanguage(const Language* language) const;

    // The declared language or bit rate with this id, or its placeholder (created on demand).
    const Language* resolveLanguage(std::string_view id);
    const BitRate* resolveBitRate(std::string_view id);

    const Languages& getLanguages() const { return languagesByID; }
    const BitRates& getBitRates() const { return bitRatesByID; }
    const Seasons& getSeasons() const { return seasons; }

    // The file of the first queued movie in season, film, movie order, or null.
    const ServerFile* getNextQueuedFile() const;
    // Appends the file of every queued movie that the list does not hold yet.
    void getQueuedFiles(std::vector<const ServerFile*>& files) const;

    // Merges a catalogue document into the set (CatalogueReader.cpp); the movies it made are
    // appended to `added`, in catalogue order.
    void readCatalogue(std::string text, std::vector<const Movie*>* added = nullptr);
    // The same from a text read by windows (a file), without holding it.
    void readCatalogue(tavik::text::TextWindow& text, std::vector<const Movie*>* added = nullptr);
    // The set's three blocks of the state file (StateFile.cpp). Load into an empty set only.
    void save(std::ostream& out) const;
    void load(std::istream& in);

private:
    // Declared in this order so that seasons (and their movies) go first and the memory of
    // movies, films and server files last. A set holds some 250,000 small objects: taken from
    // large blocks they cost a fraction of their own allocations, and are never freed one by one.
    Arena arena;
    Languages languagesByID;
    BitRates bitRatesByID;
    ServerFiles serverFilesByURL;
    Languages unknownLanguages;
    BitRates unknownBitRates;
    Seasons seasons;
    ServerFile* lastServerFile = nullptr;
};

}  // namespace tavik::vemlis_loader
