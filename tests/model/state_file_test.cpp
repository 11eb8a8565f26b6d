#include <gtest/gtest.h>

#include <sstream>

#include "model/MoviesSet.h"
#include "model/StateFile.h"

using namespace tavik::vemlis_loader;

namespace {

std::string dump(const MoviesSet& set) {
    std::ostringstream out;
    set.save(out);
    return out.str();
}

void fill(MoviesSet& set) {
    set.addLanguage("EN", "English");
    set.addLanguage("DE", "Deutsch");
    set.addBitRate("hi", "High");
    Season* s = set.addSeason("Season 1");
    Film* f = s->addFilm();
    f->setName(set, "EN", "NamesEnd");  // a title that looks like a keyword
    f->addMovie(set, "EN", "hi", "http://h/1", "", NoLoad);
    f->addMovie(set, "DE", "hi", "http://h/1", "/v/de.avi", Queue);
    Film* g = s->addFilm();
    g->addMovie(set, "EN", "hi", "http://h/2", "/v/2.avi", Loaded);
    g->addMovie(set, "EN", "hi", "http://h/3", "/v/3.avi", Broken);
    s->addFilm();
    set.addSeason("");
}

const char* const expected =
    "Languages\nLanguage\nDE\nDeutsch\nLanguage\nEN\nEnglish\nLanguagesEnd\n"
    "BitRates\nBitRate\nhi\nHigh\nBitRatesEnd\n"
    "Seasons\nSeason\nSeason 1\n"
    "Film\nName\nEN\nNamesEnd\nNamesEnd\n"
    "Movie\nEN\nhi\nhttp://h/1\n\nNoLoad\nMovie\nDE\nhi\nhttp://h/1\n/v/de.avi\nQueue\nMoviesEnd\n"
    "Film\nNamesEnd\nMovie\nEN\nhi\nhttp://h/2\n/v/2.avi\nLoaded\nMovie\nEN\nhi\nhttp://h/3\n/v/3.avi\nBroken\n"
    "MoviesEnd\n"
    "Film\nNamesEnd\nMoviesEnd\nSeasonEnd\n"
    "Season\n\nSeasonEnd\nSeasonsEnd\n";

}  // namespace

TEST(StateFile, WritesTheExactLinesAndReadsThemBack) {
    MoviesSet set;
    fill(set);
    EXPECT_EQ(dump(set), expected);

    MoviesSet restored;
    std::istringstream in(expected);
    restored.load(in);
    EXPECT_EQ(dump(restored), expected);
    const Movie* queued = restored.getSeasons()[0]->getFilms()[0]->getMovies()[1].get();
    EXPECT_EQ(queued->getLoadFlag(), Queue);
    EXPECT_EQ(queued->getFileName(), "/v/de.avi");
    EXPECT_EQ(restored.getServerFile("http://h/1")->getMovies().size(), 2u);
    EXPECT_EQ(restored.getNextQueuedFile(), queued->getServerFile());
}

TEST(StateFile, EmptySetAndCrLfLines) {
    MoviesSet empty;
    EXPECT_EQ(dump(empty), "Languages\nLanguagesEnd\nBitRates\nBitRatesEnd\nSeasons\nSeasonsEnd\n");

    std::string crlf;
    for (const char* p = expected; *p; ++p) crlf += *p == '\n' ? std::string("\r\n") : std::string(1, *p);
    MoviesSet fromCrlf;
    std::istringstream in(crlf);
    fromCrlf.load(in);
    EXPECT_EQ(dump(fromCrlf), expected);
}

TEST(StateFile, BlocksReadOneAfterAnotherFromOneStream) {
    std::istringstream in(std::string(expected) + "LanguagesList\nEN\nFileNamer\nAskForNames\n/m\n");
    MoviesSet set;
    set.load(in);
    std::string line;
    ASSERT_TRUE(readLine(in, line));
    EXPECT_EQ(line, "LanguagesList");
    EXPECT_TRUE(expectLine(in, "EN"));
    EXPECT_FALSE(expectLine(in, "Other"));  // consumed whatever the outcome
    EXPECT_TRUE(expectLine(in, "AskForNames"));
}

TEST(StateFile, DamagedFilesYieldWhatCanBeRead) {
    {  // first line wrong: the languages block and that line are lost
        MoviesSet set;
        std::istringstream in("Junk\nBitRates\nBitRate\nhi\nHigh\nBitRatesEnd\nSeasons\nSeasonsEnd\n");
        set.load(in);
        EXPECT_TRUE(set.getLanguages().empty());
        EXPECT_EQ(set.getBitRates().size(), 1u);
    }
    {  // cut inside a movie group: the group adds nothing, the film and season stay
        MoviesSet set;
        std::istringstream in("Languages\nLanguagesEnd\nBitRates\nBitRatesEnd\nSeasons\nSeason\nS\nFilm\nName\nEN\n"
                              "T\nNamesEnd\nMovie\nEN\nhi\nhttp://x");
        set.load(in);
        ASSERT_EQ(set.getSeasons().size(), 1u);
        ASSERT_EQ(set.getSeasons()[0]->getFilms().size(), 1u);
        EXPECT_TRUE(set.getSeasons()[0]->getFilms()[0]->getMovies().empty());
    }
    {  // "Season" as the last line: an unnamed season
        MoviesSet set;
        std::istringstream in("Languages\nLanguagesEnd\nBitRates\nBitRatesEnd\nSeasons\nSeason");
        set.load(in);
        ASSERT_EQ(set.getSeasons().size(), 1u);
        EXPECT_EQ(set.getSeasons()[0]->getName(), "");
    }
    {  // unknown flag words read as NoLoad; unknown ids survive a round trip
        MoviesSet set;
        std::istringstream in("Languages\nLanguagesEnd\nBitRates\nBitRatesEnd\nSeasons\nSeason\nS\nFilm\nName\nQQ\n"
                              "T\nNamesEnd\nMovie\nQQ\nzz\nhttp://x\n\nqueue\nMoviesEnd\nSeasonEnd\nSeasonsEnd\n");
        set.load(in);
        const Movie* m = set.getSeasons()[0]->getFilms()[0]->getMovies()[0].get();
        EXPECT_EQ(m->getLoadFlag(), NoLoad);
        EXPECT_EQ(m->getLanguage()->getID(), "QQ");
        const std::string once = dump(set);
        MoviesSet again;
        std::istringstream in2(once);
        again.load(in2);
        EXPECT_EQ(dump(again), once);
        EXPECT_NE(once.find("Movie\nQQ\nzz\nhttp://x\n\nNoLoad\n"), std::string::npos);
    }
}

TEST(StateFile, NamesWithLineBreaksAreStoredOnOneLine) {
    MoviesSet set;
    Film* f = set.addSeason("S")->addFilm();
    const Movie* m = f->addMovie(set, "EN", "hi", "http://h/1", "", NoLoad);
    m->queue("/tmp/a\nQueue\r\nb.avi");  // as a save dialog or a mask could give it
    const std::string saved = dump(set);
    EXPECT_NE(saved.find("\n/tmp/a Queue  b.avi\nQueue\n"), std::string::npos);
    MoviesSet restored;
    std::istringstream in(saved);
    restored.load(in);
    EXPECT_EQ(dump(restored), saved);
}
