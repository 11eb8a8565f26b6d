#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "CatalogueGenerator.h"
#include "canonical.h"
#include "plain_reader.h"
#include "model/MoviesSet.h"
#include "support/TextWindow.h"

#include <sys/mman.h>
#include <unistd.h>

using namespace tavik::vemlis_loader;

namespace {

const char* const fragments[] = {"<Link", "lang=\"", "\"", "http://", "https://", ">", "<Name", "</Name>", "<Entry>",
                                 "</Entry>", "<Season>", "</Season>", "<Name>", "!", "<", "\n", "\r\n", "id=\"",
                                 "<Languages>", "</Languages>", "<Language", "caption=\"", "/>", "FAQ's", "\0",
                                 "Movie", "Season", "Film", "NamesEnd", "MoviesEnd", "SeasonEnd", "Queue", " href=\"",
                                 "<Link lang=\"EN\" id=\"", "http", "\">http://h/x.avi</Link>", "<Name lang=\"DE\">"};

// Small edits of the kind a broken file or a careless maintainer makes.
std::string mutate(std::string text, std::mt19937& random) {
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(random); };
    const int edits = 1 + static_cast<int>(pick(7));
    for (int i = 0; i < edits; ++i) {
        const std::size_t at = pick(text.size());
        switch (pick(5)) {
            case 0: if (at < text.size()) text[at] = static_cast<char>(pick(255)); break;
            case 1: text.erase(at, pick(40)); break;
            case 2: text.insert(at, fragments[pick(std::size(fragments) - 1)]); break;
            case 3: text.resize(at); break;
            case 4: {
                const std::string copied = text.substr(pick(text.size()), pick(120));
                text.insert(at, copied);
                break;
            }
            default: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), static_cast<char>(pick(255))); break;
        }
    }
    return text;
}

void expectRoundTrip(const MoviesSet& set) {
    std::ostringstream out;
    set.save(out);
    MoviesSet restored;
    std::istringstream in(out.str());
    restored.load(in);
    ASSERT_EQ(canonical(restored), canonical(set));
}

std::string smallCatalogue(int episodes, int variants) {
    vemlis::testing::CatalogueShape shape;
    shape.seasons = 2;
    shape.episodes = episodes;
    shape.variants = variants;
    return vemlis::testing::generateCatalogue(shape).document;
}

// The document read from a file a few bytes at a time, so that every separator, entry and
// block end falls across windows somewhere.
void readThroughWindows(MoviesSet& set, const std::string& text, std::size_t window) {
    const int fd = memfd_create("catalogue", 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    tavik::text::TextWindow windows(fd, text.size(), window);
    set.readCatalogue(windows);
    close(fd);
}

}  // namespace

TEST(Robustness, MutatedCataloguesNeverBreakTheReaderOrTheStateFile) {
    const std::string original = smallCatalogue(3, 4);
    std::mt19937 random(20261207);
    for (int i = 0; i < 3000; ++i) {
        const std::string doc = mutate(original, random);
        MoviesSet set;
        set.readCatalogue(doc);
        expectRoundTrip(set);
        if (HasFatalFailure()) {
            ADD_FAILURE() << "input " << i << ":\n" << doc;
            return;
        }
    }
}

TEST(Robustness, MutatedStateFilesNeverBreakTheLoader) {
    vemlis::testing::CatalogueShape shape;
    shape.seasons = 2;
    shape.episodes = 3;
    MoviesSet source;
    source.readCatalogue(vemlis::testing::generateCatalogue(shape).document);
    source.getSeasons()[0]->getFilms()[1]->getMovies()[0]->queue("/tmp/a.avi");
    std::ostringstream out;
    source.save(out);
    const std::string original = out.str();

    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        const std::string file = mutate(original, random);
        MoviesSet set;
        std::istringstream in(file);
        set.load(in);
        expectRoundTrip(set);
        if (HasFatalFailure()) {
            ADD_FAILURE() << "input " << i << ":\n" << file;
            return;
        }
    }
}

// The reader takes shortcuts (usual link shapes, a title index, cached ids, vector searches);
// on any input it must build what the plain reading gives, in one read and in a merge of a
// second document; read from a file by windows, it builds the same.
TEST(Robustness, TheReaderAgreesWithThePlainReading) {
    const std::string original = smallCatalogue(4, 5);
    std::mt19937 random(20261208);
    for (int i = 0; i < 3000; ++i) {
        const std::string first = mutate(original, random);
        const std::string second = mutate(original, random);
        MoviesSet set;
        PlainCatalogue plain;
        set.readCatalogue(first);
        plain.read(first);
        ASSERT_EQ(canonical(set), plain.print()) << "input " << i << ":\n" << first;
        if (i % 5 == 0) {
            MoviesSet windowed;
            readThroughWindows(windowed, first, 1 + static_cast<std::size_t>(i) % 97 * 3);
            ASSERT_EQ(canonical(windowed), plain.print()) << "input " << i << " by windows:\n" << first;
        }
        set.readCatalogue(second);
        plain.read(second);
        ASSERT_EQ(canonical(set), plain.print()) << "input " << i << ", merged:\n" << second;
    }
}
