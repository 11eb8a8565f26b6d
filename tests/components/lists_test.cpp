#include <gtest/gtest.h>

#include <sstream>

#include "CatalogueGenerator.h"
#include "ScriptedPrompter.h"
#include "components/LanguagesList.h"
#include "components/MoviesList.h"
#include "components/MoviesQueue.h"
#include "components/MultipleAdder.h"
#include "components/UTF8ListView.h"
#include "model/MoviesSet.h"

using namespace vemlis;
using namespace tavik::vemlis_loader;

namespace {

struct Catalogue {
    MoviesSet set;
    Catalogue() {
        vemlis::testing::CatalogueShape shape;
        shape.seasons = 2;
        shape.episodes = 3;
        shape.variants = 4;
        set.readCatalogue(vemlis::testing::generateCatalogue(shape).document);
    }
    const Film* film(int s, int f) const { return set.getSeasons()[s]->getFilms()[f].get(); }
    const Movie* movie(int s, int f, int m) const { return film(s, f)->getMovies()[m].get(); }
};

std::vector<std::string> column(const UTF8ListView* view, int c) {
    std::vector<std::string> texts;
    for (int i = 0; i < view->rowCount(); ++i) texts.push_back(view->cellText(view->row(i), c));
    return texts;
}

}  // namespace

TEST(MoviesList, ShowsSeasonsEpisodesAndVariantsWithStatistics) {
    Catalogue c;
    c.movie(0, 0, 1)->queue("/tmp/q.avi");
    c.movie(0, 0, 2)->setLoaded();
    MoviesList list;
    list.setMoviesSet(&c.set);
    EXPECT_EQ(list.getLanguage(), c.set.getLanguage("DE"));  // no language yet: the first
    EXPECT_EQ(column(list.getSeasonsView(), 0), (std::vector<std::string>{"Season 1", "Season 2"}));
    EXPECT_EQ(column(list.getSeasonsView(), 1), (std::vector<std::string>{"3", "3"}));
    ASSERT_EQ(list.getFilmsView()->rowCount(), 3);
    EXPECT_EQ(list.getFilmsView()->cellText(list.getFilmsView()->row(0), 0), c.film(0, 0)->getName(c.set.getLanguage("DE")));
    EXPECT_EQ(column(list.getFilmsView(), 1)[0], "4");
    EXPECT_EQ(column(list.getFilmsView(), 2)[0], "1");
    EXPECT_EQ(column(list.getFilmsView(), 3)[0], "1");
    EXPECT_EQ(column(list.getFilmsView(), 4)[0], "0");
    UTF8ListView* movies = list.getMoviesView();
    ASSERT_EQ(movies->rowCount(), 4);
    EXPECT_EQ(column(movies, 2), (std::vector<std::string>{"Not in queue", "In queue", "Downloaded", "Not in queue"}));
    EXPECT_EQ(column(movies, 3)[1], "/tmp/q.avi");
    EXPECT_TRUE(movies->isRowChecked(movies->row(1)));
    EXPECT_FALSE(movies->isRowChecked(movies->row(2)));
    EXPECT_EQ(column(movies, 4)[0], c.movie(0, 0, 0)->getServerFile()->getURL());

    list.setLanguage(c.set.getLanguage("EN"));
    EXPECT_EQ(list.getFilmsView()->cellText(list.getFilmsView()->row(1), 0), c.film(0, 1)->getName(c.set.getLanguage("EN")));
    list.getSeasonsView()->setCurrentItem(list.getSeasonsView()->row(1));
    EXPECT_EQ(list.getFilmsView()->cellText(list.getFilmsView()->row(0), 0), c.film(1, 0)->getName(c.set.getLanguage("EN")));
}

TEST(MoviesList, TicksRaiseEventsAndThenShowTheModel) {
    Catalogue c;
    MoviesList list;
    list.setMoviesSet(&c.set);
    std::vector<std::string> events;
    list.OnCheck = [&](QObject*, const Movie* m) {
        events.push_back("check");
        if (m == c.movie(0, 0, 0)) m->queue("/tmp/a.avi");
    };
    list.OnUncheck = [&](QObject*, const Movie* m) {
        events.push_back("uncheck");
        m->setNoLoad();
    };
    UTF8ListView* movies = list.getMoviesView();
    movies->setRowChecked(movies->row(0), true);
    EXPECT_EQ(events, std::vector<std::string>{"check"});
    EXPECT_EQ(c.movie(0, 0, 0)->getLoadFlag(), Queue);
    EXPECT_EQ(movies->cellText(movies->row(0), 2), "In queue");
    EXPECT_EQ(list.getFilmsView()->cellText(list.getFilmsView()->row(0), 2), "1");

    c.movie(0, 0, 1)->setLoaded();  // ticking a Loaded movie asks the handler, which leaves it
    list.updateStatuses();
    movies->setRowChecked(movies->row(1), true);
    EXPECT_EQ(events.back(), "check");
    EXPECT_FALSE(movies->isRowChecked(movies->row(1)));
    EXPECT_EQ(c.movie(0, 0, 1)->getLoadFlag(), Loaded);

    movies->setRowChecked(movies->row(0), false);
    EXPECT_EQ(events.back(), "uncheck");
    EXPECT_EQ(c.movie(0, 0, 0)->getLoadFlag(), NoLoad);
    EXPECT_EQ(list.getFilmsView()->cellText(list.getFilmsView()->row(0), 2), "0");

    const std::size_t before = events.size();
    movies->setCurrentItem(movies->row(2));  // selection and text changes are no ticks
    movies->setCellText(movies->row(2), 3, "x");
    EXPECT_EQ(events.size(), before);
    list.disableEvents();
    movies->setRowChecked(movies->row(3), true);
    EXPECT_EQ(events.size(), before);
}

TEST(LanguagesList, PendingIdFallbacksAndEvents) {
    Catalogue c;
    std::vector<const Language*> raised;
    {
        LanguagesList list;
        list.OnLanguageSelect = [&](const Language* l) { raised.push_back(l); };
        list.setLanguageID("EN");
        EXPECT_EQ(list.getPendingLanguageID(), "EN");
        EXPECT_TRUE(raised.empty());
        list.setMoviesSet(&c.set);
        ASSERT_EQ(raised.size(), 1u);
        EXPECT_EQ(raised[0], c.set.getLanguage("EN"));
        EXPECT_EQ(list.rowCount(), 3);
        EXPECT_TRUE(list.row(1)->isSelected());

        list.setCurrentItem(list.row(2));  // the user picks RU
        EXPECT_EQ(raised.back(), c.set.getLanguage("RU"));
        list.setCurrentItem(list.row(2));  // the same row again: nothing
        EXPECT_EQ(raised.size(), 2u);
        list.setLanguageID("XX");
        EXPECT_EQ(raised.back(), nullptr);
        EXPECT_TRUE(list.selectedItems().isEmpty());
        list.disableEvents();
        list.setCurrentItem(list.row(0));
        EXPECT_EQ(raised.size(), 3u);
        list.setLanguage(c.set.getLanguage("DE"));  // still raises
        EXPECT_EQ(raised.size(), 4u);

        std::ostringstream out;
        list.save(out);
        EXPECT_EQ(out.str(), "LanguagesList\nDE\n");
    }
    LanguagesList fromFile;
    fromFile.setLanguageID("EN");
    std::istringstream in("LanguagesList\n\n");
    fromFile.load(in);
    EXPECT_EQ(fromFile.getPendingLanguageID(), "");
    fromFile.setMoviesSet(&c.set);
    EXPECT_EQ(fromFile.getLanguage(), c.set.getLanguage("DE"));  // empty id: the first language

    LanguagesList unknown;
    std::istringstream missing("LanguagesList\nQQ\n");
    unknown.load(missing);
    unknown.setMoviesSet(&c.set);
    EXPECT_EQ(unknown.getLanguage(), c.set.getLanguage("DE"));

    MoviesSet empty;
    LanguagesList none;
    bool raisedNull = false;
    none.OnLanguageSelect = [&](const Language* l) { raisedNull = l == nullptr; };
    none.setMoviesSet(&empty);
    EXPECT_TRUE(raisedNull);
}

TEST(MultipleAdder, ChecksItsTicksInOrderAndCollectsInCatalogueOrder) {
    ScriptedPrompter prompter;
    Catalogue c;
    MultipleAdder adder;
    adder.setMoviesSet(&c.set);
    adder.run();  // no handler: no message at all
    EXPECT_TRUE(prompter.messages.empty());

    ListOfMovies collected;
    int runs = 0;
    adder.OnRun = [&](QObject*, ListOfMovies& movies) {
        ++runs;
        collected = movies;
    };
    adder.run();
    adder.getSeasonsView()->setRowChecked(adder.getSeasonsView()->row(1), true);
    adder.getSeasonsView()->setRowChecked(adder.getSeasonsView()->row(0), true);
    adder.run();
    adder.getLanguagesView()->setRowChecked(adder.getLanguagesView()->row(1), true);  // EN
    adder.run();
    EXPECT_EQ(prompter.messages,
              (std::vector<std::string>{"No season checked.", "No language checked.", "No bitrate checked."}));
    EXPECT_EQ(runs, 0);

    adder.getBitRatesView()->setRowChecked(adder.getBitRatesView()->row(0), true);  // hi
    c.movie(0, 1, 0)->setLoaded();
    adder.run();
    EXPECT_EQ(runs, 1);
    ListOfMovies expected;
    for (const auto& season : c.set.getSeasons())
        for (const auto& film : season->getFilms())
            for (const auto& movie : film->getMovies())
                if (movie->getLanguage()->getID() == "EN" && movie->getBitRate()->getID() == "hi" &&
                    movie->getLoadFlag() == NoLoad)
                    expected.push_back(movie.get());
    EXPECT_EQ(collected, expected);
    EXPECT_EQ(collected.size(), 5u);

    adder.setMoviesSet(&c.set);  // a refill clears the ticks
    EXPECT_FALSE(adder.getSeasonsView()->isRowChecked(adder.getSeasonsView()->row(0)));
}

TEST(MoviesQueue, AddsAndRemovesFilesAndMovies) {
    Catalogue c;
    const ServerFile* file = c.movie(0, 0, 0)->getServerFile();
    for (const Movie* m : file->getMovies()) m->queue("/tmp/x.avi");
    MoviesQueue queue;
    queue.addFile(file, Loaded);
    EXPECT_EQ(queue.rowCount(), 0);
    queue.addFile(file, Queue);
    ASSERT_EQ(queue.rowCount(), static_cast<int>(file->getMovies().size()));
    EXPECT_EQ(queue.cellText(queue.row(0), 4), "In queue");
    EXPECT_EQ(queue.cellText(queue.row(0), 1), "Season 1");
    const Movie* first = file->getMovies()[0];
    EXPECT_EQ(queue.cellText(queue.row(0), 0), first->getFilm()->getName(first->getLanguage()));
    first->setLoaded();
    EXPECT_EQ(queue.cellText(queue.row(0), 4), "In queue");  // a snapshot

    const Movie* other = c.movie(1, 2, 3);
    queue.addMovie(other);
    queue.removeFile(file);
    ASSERT_EQ(queue.rowCount(), 1);
    EXPECT_EQ(UTF8ListView::rowData(queue.row(0)), other);
    queue.addMovie(other);
    queue.removeMovie(other);
    EXPECT_EQ(queue.rowCount(), 0);
}
