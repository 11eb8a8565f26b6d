#include <gtest/gtest.h>

#include <thread>

#include "model/MoviesSet.h"

using namespace tavik::vemlis_loader;

TEST(MoviesSet, LanguagesAreFoundAndMatchedById) {
    MoviesSet set;
    EXPECT_EQ(set.getFirstLanguage(), nullptr);
    EXPECT_EQ(set.matchLanguage(nullptr), nullptr);

    Language* ru = set.addLanguage("RU", "Russian");
    Language* en = set.addLanguage("EN", "English");
    EXPECT_EQ(set.getFirstLanguage(), en);
    EXPECT_EQ(set.matchLanguage(nullptr), en);
    EXPECT_EQ(set.addLanguage("RU", "Русский"), ru);  // the same object, new caption
    EXPECT_EQ(ru->getCaption(), "Русский");
    EXPECT_EQ(set.getLanguage("DE"), nullptr);
    EXPECT_EQ(set.getLanguages().size(), 2u);

    MoviesSet other;
    const Language* otherRu = other.addLanguage("RU", "x");
    const Language* otherDe = other.addLanguage("DE", "y");
    EXPECT_EQ(set.matchLanguage(otherRu), ru);
    EXPECT_EQ(set.matchLanguage(otherDe), en);  // unknown id: the first language
}

TEST(MoviesSet, MoviesShareServerFilesInCreationOrder) {
    MoviesSet set;
    set.addLanguage("EN", "English");
    set.addBitRate("hi", "High");
    EXPECT_EQ(set.getBitRate("lo"), nullptr);
    Season* season = set.addSeason("One");
    Film* film = season->addFilm();
    film->setName(set, "EN", "Pilot");
    EXPECT_EQ(film->getName(set.getLanguage("EN")), "Pilot");
    EXPECT_EQ(film->getName(nullptr), "");

    Movie* a = film->addMovie(set, "EN", "hi", "http://h/f1", "", NoLoad);
    Movie* b = film->addMovie(set, "EN", "hi", "http://h/f1", "", Queue);
    Movie* c = film->addMovie(set, "EN", "hi", "http://h/f2", "x.avi", Queue);
    EXPECT_EQ(set.getServerFile("http://h/f1"), a->getServerFile());
    EXPECT_EQ(set.getServerFile("http://h/f1"), set.getServerFile("http://h/f1"));
    ASSERT_EQ(a->getServerFile()->getMovies().size(), 2u);
    EXPECT_EQ(a->getServerFile()->getMovies()[0], a);
    EXPECT_EQ(a->getServerFile()->getMovies()[1], b);
    EXPECT_EQ(a->getFilm(), film);
    EXPECT_EQ(film->getSeason(), season);
    EXPECT_EQ(c->getFileName(), "x.avi");

    EXPECT_TRUE(a->hasOtherInFile(Queue));
    EXPECT_FALSE(b->hasOtherInFile(Queue));  // never counts itself
    EXPECT_FALSE(c->hasOtherInFile(Queue));  // alone in its file
    EXPECT_FALSE(c->hasOtherInFile(NoLoad));
    EXPECT_EQ(film->countMovies(Queue), 2);
    EXPECT_EQ(film->countMovies(Loaded), 0);
}

TEST(MoviesSet, QueuedFilesComeInCatalogueOrder) {
    MoviesSet set;
    Film* first = set.addSeason("1")->addFilm();
    Film* second = set.addSeason("2")->addFilm();
    Movie* late = second->addMovie(set, "EN", "hi", "http://h/late", "", NoLoad);
    Movie* early = first->addMovie(set, "EN", "hi", "http://h/early", "", NoLoad);
    EXPECT_EQ(set.getNextQueuedFile(), nullptr);

    const Movie* viaConst = late;
    viaConst->queue("/tmp/late.avi");  // the lists queue through const pointers
    EXPECT_EQ(late->getLoadFlag(), Queue);
    EXPECT_EQ(late->getFileName(), "/tmp/late.avi");
    EXPECT_EQ(set.getNextQueuedFile(), late->getServerFile());
    early->queue("/tmp/early.avi");
    EXPECT_EQ(set.getNextQueuedFile(), early->getServerFile());

    std::vector<const ServerFile*> files{late->getServerFile()};
    set.getQueuedFiles(files);
    ASSERT_EQ(files.size(), 2u);  // the file already listed stays first and is not added again
    EXPECT_EQ(files[0], late->getServerFile());
    EXPECT_EQ(files[1], early->getServerFile());

    viaConst->setLoaded();
    EXPECT_EQ(late->getLoadFlag(), Loaded);
    viaConst->setBroken();
    EXPECT_EQ(late->getLoadFlag(), Broken);
    viaConst->setNoLoad();
    EXPECT_EQ(late->getFileName(), "/tmp/late.avi");  // setters touch only the flag
}

TEST(MoviesSet, UnknownIdsGetPlaceholdersThatADeclarationAdopts) {
    MoviesSet set;
    Film* film = set.addSeason("1")->addFilm();
    film->setName(set, "XX", "Title");
    Movie* movie = film->addMovie(set, "XX", "zz", "http://h/f", "", NoLoad);
    ASSERT_NE(movie->getLanguage(), nullptr);
    ASSERT_NE(movie->getBitRate(), nullptr);
    EXPECT_EQ(movie->getLanguage()->getCaption(), "XX");
    EXPECT_EQ(movie->getBitRate()->getDescription(), "zz");
    EXPECT_EQ(set.getLanguage("XX"), nullptr);  // not declared, not listed
    EXPECT_TRUE(set.getLanguages().empty());
    EXPECT_EQ(set.matchLanguage(movie->getLanguage()), nullptr);
    EXPECT_EQ(film->getName(movie->getLanguage()), "Title");

    Language* declared = set.addLanguage("XX", "Extra");
    EXPECT_EQ(declared, movie->getLanguage());
    EXPECT_EQ(movie->getLanguage()->getCaption(), "Extra");
    EXPECT_EQ(set.addBitRate("zz", "Zed"), movie->getBitRate());
    EXPECT_EQ(set.getLanguages().size(), 1u);
}

TEST(MoviesSet, FlagsChangeWholeAcrossThreads) {
    MoviesSet set;
    Film* film = set.addSeason("1")->addFilm();
    const Movie* movie = film->addMovie(set, "EN", "hi", "http://h/f", "", NoLoad);
    std::thread worker([movie] {
        for (int i = 0; i < 20000; ++i) i % 2 ? movie->setLoaded() : movie->setBroken();
    });
    for (int i = 0; i < 20000; ++i) {
        const LoadFlag f = movie->getLoadFlag();
        ASSERT_TRUE(f == NoLoad || f == Loaded || f == Broken);
    }
    worker.join();
}

TEST(Season, FindsTheFirstFilmThatNowCarriesTheTitle) {
    MoviesSet set;
    const Language* en = set.addLanguage("EN", "English");
    const Language* de = set.addLanguage("DE", "Deutsch");
    Season* season = set.addSeason("One");
    EXPECT_EQ(season->findFilm(en, "Pilot"), nullptr);  // no film at all yet

    // Enough films that the index grows several times on the way.
    std::vector<Film*> films;
    for (int i = 0; i < 300; ++i) {
        films.push_back(season->addFilm());
        films.back()->setName(en, "Episode " + std::to_string(i));
        films.back()->setName(de, "Folge " + std::to_string(i));
    }
    for (int i = 0; i < 300; i += 37) {
        EXPECT_EQ(season->findFilm(en, "Episode " + std::to_string(i)), films[i]);
        EXPECT_EQ(season->findFilm(de, "Folge " + std::to_string(i)), films[i]);
    }
    EXPECT_EQ(season->findFilm(de, "Episode 5"), nullptr);  // the title under another language
    EXPECT_EQ(season->findFilm(en, "Episode 300"), nullptr);

    // A replaced title no longer finds the film; the new one does.
    films[10]->setName(en, "Renamed");
    EXPECT_EQ(season->findFilm(en, "Episode 10"), nullptr);
    EXPECT_EQ(season->findFilm(en, "Renamed"), films[10]);
    films[10]->setName(en, "Episode 10");  // and back again
    EXPECT_EQ(season->findFilm(en, "Episode 10"), films[10]);

    // Two films with one title: the earlier one, whichever was titled so first.
    films[200]->setName(en, "Twin");
    films[20]->setName(en, "Twin");
    EXPECT_EQ(season->findFilm(en, "Twin"), films[20]);
    films[20]->setName(en, "Single");
    EXPECT_EQ(season->findFilm(en, "Twin"), films[200]);

    // Naming a film with the title it has, again and again, keeps the lookups right.
    for (int round = 0; round < 50; ++round) films[5]->setName(en, "Episode 5");
    EXPECT_EQ(season->findFilm(en, "Episode 5"), films[5]);
    EXPECT_EQ(set.addSeason("Two")->findFilm(en, "Episode 5"), nullptr);  // seasons are apart
}
