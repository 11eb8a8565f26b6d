#include <gtest/gtest.h>

#include <array>
#include <random>
#include <sstream>

#include "CatalogueGenerator.h"
#include "canonical.h"
#include "model/CatalogueReader.h"
#include "model/FollowRule.h"
#include "model/MoviesSet.h"
#include "model/StateFile.h"

using namespace tavik::vemlis_loader;

namespace {

const char* const header =
    "<Languages><Language id=\"EN\" caption=\"English\"/><Language id=\"DE\" caption=\"Deutsch\"/></Languages>"
    "<Link_Classes><Link_Class id=\"hi\" description=\"High\"/><Link_Class id=\"lo\" description=\"Low\"/>"
    "</Link_Classes>";

std::string catalogue(const std::string& seasons) { return std::string(header) + "<Seasons>" + seasons + "</Seasons>"; }

std::string season(const std::string& name, const std::string& entries) {
    return "<Season><Name>" + name + "</Name>" + entries + "</Season>";
}

// Everything the set holds, as the state file writes it: two sets are the same when this is.
std::string dump(const MoviesSet& set) {
    std::ostringstream out;
    set.save(out);
    return out.str();
}

std::size_t movieCount(const MoviesSet& set) {
    std::size_t n = 0;
    for (const auto& s : set.getSeasons())
        for (const auto& f : s->getFilms()) n += f->getMovies().size();
    return n;
}

}  // namespace

TEST(FindTagged, CapturesBetweenSeparatorsAndMovesThePosition) {
    const std::array<std::string_view, 3> seps{"<a>", "|", "</a>"};
    std::array<std::string_view, 2> caps;
    ScanPosition pos;
    const std::string text = "x<a>1|2</a><a>3|4</a><a>5";
    ASSERT_TRUE(findTagged(text, seps, caps, pos));
    EXPECT_EQ(caps[0], "1");
    EXPECT_EQ(caps[1], "2");
    ASSERT_TRUE(findTagged(text, seps, caps, pos));
    EXPECT_EQ(caps[0], "3");
    EXPECT_FALSE(findTagged(text, seps, caps, pos));  // third element lacks "|"
    EXPECT_EQ(pos, text.size() - 1);                  // left after its "<a>"
    EXPECT_FALSE(findTagged(text, seps, caps, pos));  // no further "<a>": position unset
    EXPECT_FALSE(pos.has_value());
    ASSERT_TRUE(findTagged(text, seps, caps, pos));  // and the next scan starts over
    EXPECT_EQ(caps[0], "1");
}

TEST(FindTagged, ExtractID) {
    EXPECT_EQ(extractID(" lang=\"EN\" id=\"hi\" "), "hi");
    EXPECT_EQ(extractID(" id=\"\" "), "");
    EXPECT_EQ(extractID(" id=\"open"), "");
    EXPECT_EQ(extractID(""), "");
}

TEST(ReadCatalogue, TheExampleEntry) {
    MoviesSet set;
    set.readCatalogue(catalogue(season(
        "S1", "<Entry><Name lang=\"EN\">1. Pilot</Name><Name lang=\"DE\">1. Pilotfolge</Name>"
              "<Link lang=\"EN\" id=\"hi\">http://a/1</Link><Link lang=\"DE\" id=\"hi\">http://a/1</Link>"
              "<Link lang=\"EN\" id=\"lo\">http://a/2!My name.avi</Link></Entry>")));
    ASSERT_EQ(set.getSeasons().size(), 1u);
    const Season& s = *set.getSeasons()[0];
    EXPECT_EQ(s.getName(), "S1");
    ASSERT_EQ(s.getFilms().size(), 1u);
    const Film& film = *s.getFilms()[0];
    EXPECT_EQ(film.getName(set.getLanguage("EN")), "1. Pilot");
    EXPECT_EQ(film.getName(set.getLanguage("DE")), "1. Pilotfolge");
    ASSERT_EQ(film.getMovies().size(), 3u);
    const Movie& m0 = *film.getMovies()[0];
    const Movie& m1 = *film.getMovies()[1];
    const Movie& m2 = *film.getMovies()[2];
    EXPECT_EQ(m0.getServerFile(), m1.getServerFile());
    EXPECT_EQ(m0.getServerFile()->getURL(), "http://a/1");
    EXPECT_EQ(m0.getServerFile()->getMovies()[0], &m0);
    EXPECT_EQ(m1.getLanguage()->getID(), "DE");
    EXPECT_EQ(m2.getServerFile()->getURL(), "http://a/2");
    EXPECT_EQ(m2.getFileName(), "My name.avi");
    EXPECT_EQ(m2.getBitRate()->getDescription(), "Low");
    EXPECT_EQ(m0.getFileName(), "");
    for (const auto* m : {&m0, &m1, &m2}) EXPECT_EQ(m->getLoadFlag(), NoLoad);
}

TEST(ReadCatalogue, LinkFormsAndAddressEnds) {
    MoviesSet set;
    set.readCatalogue(catalogue(season(
        "S", "<Entry><Name lang=\"EN\">T</Name>"
             "<Link lang=\"EN\" id=\"hi\" href=\"http://a/attr!N.avi\"/>"
             "<Link lang=\"DE\" id=\"hi\" url=\"http://a/q\" x=\"y\">"
             "<Link lang=\"EN\" id=\"lo\" http://a/bare>"
             "<Link lang=\"DE\" id=\"lo\">http://a/1!first</Link><Link lang=\"DE\" id=\"lo\">http://a/1!second</Link>"
             "</Entry>")));
    const auto& movies = set.getSeasons()[0]->getFilms()[0]->getMovies();
    ASSERT_EQ(movies.size(), 4u);  // the last link names the same movie as the one before it
    EXPECT_EQ(movies[0]->getServerFile()->getURL(), "http://a/attr");
    EXPECT_EQ(movies[0]->getFileName(), "N.avi");
    EXPECT_EQ(movies[1]->getServerFile()->getURL(), "http://a/q");
    EXPECT_EQ(movies[2]->getServerFile()->getURL(), "http://a/bare");
    EXPECT_EQ(movies[3]->getFileName(), "first");
}

TEST(ReadCatalogue, MissingBlocksAndQuirksOfThePlainSearch) {
    MoviesSet onlyHeader;
    onlyHeader.readCatalogue(header);
    EXPECT_EQ(onlyHeader.getLanguages().size(), 2u);
    EXPECT_EQ(onlyHeader.getBitRates().size(), 2u);
    EXPECT_TRUE(onlyHeader.getSeasons().empty());

    MoviesSet swapped;  // caption before id: one element's id pairs with the next one's caption
    swapped.readCatalogue(
        "<Languages><Language caption=\"A\" id=\"1\"/><Language caption=\"B\" id=\"2\"/>"
        "<Language caption=\"C\" id=\"3\"/><Language caption=\"D\" id=\"4\"/></Languages>"
        "<Link_Classes><Link_Class description=\"after\" id=\"x\"/></Link_Classes>");
    ASSERT_EQ(swapped.getLanguages().size(), 2u);
    EXPECT_EQ(swapped.getLanguage("1")->getCaption(), "B");
    EXPECT_EQ(swapped.getLanguage("3")->getCaption(), "D");
    ASSERT_NE(swapped.getBitRate(""), nullptr);  // id after the description: empty id
    EXPECT_EQ(swapped.getBitRate("")->getDescription(), "after");

    MoviesSet noLanguages;
    noLanguages.readCatalogue("<Seasons>" + season("S", "<Entry><Name lang=\"EN\">T</Name>"
                                                         "<Link lang=\"EN\" id=\"hi\">http://a/1</Link></Entry>") +
                              "</Seasons>");
    ASSERT_EQ(movieCount(noLanguages), 1u);
    EXPECT_EQ(noLanguages.getSeasons()[0]->getFilms()[0]->getMovies()[0]->getLanguage()->getCaption(), "EN");
}

TEST(ReadCatalogue, SeasonsFaqAndEntriesWithoutTitles) {
    MoviesSet set;
    const std::string entry = "<Entry><Name lang=\"EN\">T</Name><Link lang=\"EN\" id=\"hi\">http://a/1</Link></Entry>";
    set.readCatalogue(catalogue(season("FAQ's", entry) + season("FAQ", entry) + season("faq's", entry) +
                                season("FAQ", "<Entry><Link lang=\"EN\" id=\"hi\">http://a/2</Link></Entry>"
                                              "<Entry><Name lang=\"EN\">U</Name></Entry>")));
    ASSERT_EQ(set.getSeasons().size(), 2u);
    EXPECT_EQ(set.getSeasons()[0]->getName(), "FAQ");
    EXPECT_EQ(set.getSeasons()[1]->getName(), "faq's");
    // The second "FAQ" element fills the first: its untitled entry adds nothing, "U" is a film.
    ASSERT_EQ(set.getSeasons()[0]->getFilms().size(), 2u);
    EXPECT_TRUE(set.getSeasons()[0]->getFilms()[1]->getMovies().empty());
    EXPECT_EQ(movieCount(set), 2u);
}

TEST(ReadCatalogue, MergingKeepsStoredStateAndIsStable) {
    vemlis::testing::CatalogueShape shape;
    shape.seasons = 4;
    shape.episodes = 6;
    shape.variants = 5;
    const auto generated = vemlis::testing::generateCatalogue(shape);

    MoviesSet set;
    set.readCatalogue(generated.document);
    EXPECT_EQ(movieCount(set), generated.movieCount);
    ASSERT_EQ(set.getSeasons().size(), 4u);  // FAQ's skipped
    const Movie* chosen = set.getSeasons()[1]->getFilms()[2]->getMovies()[3].get();
    chosen->queue("/home/user/x.avi");
    const std::string before = dump(set);
    set.readCatalogue(generated.document);
    EXPECT_EQ(dump(set), before);

    // Restored from the state file, then merged: flags and names stay, nothing is added.
    MoviesSet restored;
    std::istringstream in(before);
    restored.load(in);
    EXPECT_EQ(canonical(restored), canonical(set));
    restored.readCatalogue(generated.document);
    EXPECT_EQ(canonical(restored), canonical(set));

    // Server files list their movies in document order.
    for (const auto& file : generated.files) {
        const ServerFile* sf = set.getServerFile(shape.baseURL + file.path);
        ASSERT_EQ(sf->getMovies().size(), file.movies.size());
        for (std::size_t i = 0; i < file.movies.size(); ++i)
            EXPECT_EQ(sf->getMovies()[i]->getLanguage()->getID(), file.movies[i].language);
    }
}

TEST(FollowRule, AGrowingCatalogueQueuesEachNewMovieOfTheGroupOnceAndNothingElse) {
    const auto entry = [](const std::string& title, const std::string& links) {
        return "<Entry><Name lang=\"EN\">" + title + "</Name>" + links + "</Entry>";
    };
    const auto link = [](const std::string& lang, const std::string& rate, const std::string& file) {
        return "<Link lang=\"" + lang + "\" id=\"" + rate + "\">http://s/" + file + ".avi</Link>";
    };
    const std::string one = season("S1", entry("1. A", link("EN", "hi", "a") + link("DE", "hi", "a")));
    MoviesSet set;
    std::vector<const Movie*> added;
    set.readCatalogue(catalogue(one), &added);
    EXPECT_EQ(added.size(), 2u);
    const FollowRule everySeason{{}, {"EN"}, {"hi"}};
    const FollowRule firstOnly{{"S1"}, {"DE"}, {"hi", "lo"}};

    // Grown: a new variant of the known episode, a new episode, a new season.
    const std::string grown =
        season("S1", entry("1. A", link("EN", "hi", "a") + link("DE", "hi", "a") + link("DE", "lo", "b")) +
                         entry("2. B", link("EN", "hi", "c") + link("EN", "lo", "c"))) +
        season("S2", entry("1. C", link("EN", "hi", "d") + link("DE", "hi", "d")));
    added.clear();
    set.readCatalogue(catalogue(grown), &added);
    ASSERT_EQ(added.size(), 5u);  // what was there before is never among them
    const auto names = [](const ListOfMovies& movies) {
        std::vector<std::string> result;
        for (const Movie* m : movies)
            result.push_back(m->getFilm()->getSeason()->getName() + " " + m->getLanguage()->getID() + " " +
                             m->getBitRate()->getID() + " " + m->getServerFile()->getURL());
        return result;
    };
    EXPECT_EQ(names(moviesToFollow(added, {everySeason, firstOnly})),
              (std::vector<std::string>{"S1 DE lo http://s/b.avi", "S1 EN hi http://s/c.avi", "S2 EN hi http://s/d.avi"}));
    // A new movie the user already decided on is theirs.
    added[0]->setLoaded();
    added[1]->queue("/x.avi");
    EXPECT_EQ(names(moviesToFollow(added, {everySeason, firstOnly})), (std::vector<std::string>{"S2 EN hi http://s/d.avi"}));

    // The same catalogue again adds nothing: nothing comes twice.
    added.clear();
    set.readCatalogue(catalogue(grown), &added);
    EXPECT_TRUE(added.empty());
}

TEST(ReadCatalogue, NewTitlesAndCaptionsReplaceOldOnes) {
    MoviesSet set;
    set.readCatalogue(catalogue(season("S", "<Entry><Name lang=\"EN\">T</Name><Name lang=\"DE\">Alt</Name></Entry>")));
    set.readCatalogue(
        "<Languages><Language id=\"EN\" caption=\"English (UK)\"/></Languages><Seasons>" +
        season("S", "<Entry><Name lang=\"EN\">T</Name><Name lang=\"DE\">Neu</Name></Entry>") + "</Seasons>");
    const Film& film = *set.getSeasons()[0]->getFilms()[0];
    EXPECT_EQ(set.getSeasons()[0]->getFilms().size(), 1u);
    EXPECT_EQ(film.getName(set.getLanguage("DE")), "Neu");
    EXPECT_EQ(set.getLanguage("EN")->getCaption(), "English (UK)");
}

TEST(ReadCatalogue, ASecondTitleInTheSameLanguageDoesNotReplaceTheFirst) {
    const std::string doc = catalogue(season(
        "S", "<Entry><Name lang=\"EN\">Old</Name><Name lang=\"DE\">D</Name><Name lang=\"EN\">New</Name>"
             "<Link lang=\"EN\" id=\"hi\">http://a/1</Link></Entry>"));
    MoviesSet set;
    set.readCatalogue(doc);
    const std::string once = dump(set);
    set.readCatalogue(doc);
    EXPECT_EQ(dump(set), once);
    ASSERT_EQ(set.getSeasons()[0]->getFilms().size(), 1u);
    EXPECT_EQ(set.getSeasons()[0]->getFilms()[0]->getName(set.getLanguage("EN")), "Old");
    EXPECT_EQ(set.getServerFile("http://a/1")->getMovies().size(), 1u);
}

TEST(ReadCatalogue, AddressesOtherThanPlainHttpNeverBorrowTheNextLink) {
    MoviesSet set;
    set.readCatalogue(catalogue(season(
        "S", "<Entry><Name lang=\"EN\">T</Name>"
             "<Link lang=\"EN\" id=\"hi\">https://a/secure</Link>"
             "<Link lang=\"DE\" id=\"hi\">HTTP://a/upper</Link>"
             "<Link lang=\"EN\" id=\"lo\">http://a/plain</Link>"
             "<Link lang=\"DE\" id=\"lo\">ftp://a/none</Link></Entry>")));
    const auto& movies = set.getSeasons()[0]->getFilms()[0]->getMovies();
    ASSERT_EQ(movies.size(), 2u);
    EXPECT_EQ(movies[0]->getServerFile()->getURL(), "https://a/secure");
    EXPECT_EQ(movies[0]->getLanguage()->getID(), "EN");
    EXPECT_EQ(movies[1]->getServerFile()->getURL(), "http://a/plain");
    EXPECT_EQ(movies[1]->getLanguage()->getID(), "EN");  // not DE's, whose address was not http
    EXPECT_EQ(movies[1]->getBitRate()->getID(), "lo");
}

TEST(ReadCatalogue, LineBreaksInValuesNeverReachTheStateFile) {
    const std::string evil = "X\nNamesEnd\nMovie\nEN\nhi\nhttp://evil/x\n/some/path\nQueue";
    const std::string doc =
        "<Languages><Language id=\"EN\" caption=\"Eng\r\nlish\"/></Languages>"
        "<Link_Classes><Link_Class id=\"h\ni\" description=\"a\nb\"/></Link_Classes><Seasons>" +
        season("Season\n1", "<Entry><Name lang=\"EN\">" + evil + "</Name>"
                            "<Link lang=\"EN\" id=\"h\ni\">http://a/b\nc!name\nx</Link></Entry>") +
        "</Seasons>";
    MoviesSet set;
    set.readCatalogue(doc);
    const std::string saved = dump(set);
    std::istringstream lines(saved);
    std::string line;
    int injected = 0;
    while (std::getline(lines, line)) injected += line == "Queue" || line == "http://evil/x" || line == "/some/path";
    EXPECT_EQ(injected, 0);

    MoviesSet restored;
    std::istringstream in(saved);
    restored.load(in);
    EXPECT_EQ(canonical(restored), canonical(set));
    restored.readCatalogue(doc);
    EXPECT_EQ(canonical(restored), canonical(set));  // no duplicate film, no duplicate movie
    EXPECT_EQ(movieCount(restored), 1u);
    EXPECT_EQ(restored.getSeasons()[0]->getFilms()[0]->getMovies()[0]->getLoadFlag(), NoLoad);
}
