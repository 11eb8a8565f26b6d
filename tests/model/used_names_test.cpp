#include <gtest/gtest.h>

#include "model/MoviesSet.h"
#include "model/UsedNames.h"

using namespace tavik::vemlis_loader;

TEST(UsedNames, NumberedNamesKeepTheExtensionAndTheFolder) {
    EXPECT_EQ(numberedName("/v/a.avi", 2), "/v/a (2).avi");
    EXPECT_EQ(numberedName("/v.d/a", 3), "/v.d/a (3)");
    EXPECT_EQ(numberedName("/v/.hidden", 2), "/v/.hidden (2)");
    EXPECT_EQ(numberedName("a.b.avi", 10), "a.b (10).avi");
}

TEST(UsedNames, OnlyQueuedOrDownloadedMoviesHoldTheirCurrentNames) {
    MoviesSet set;
    Film* film = set.addSeason("S")->addFilm();
    const Movie* queued = film->addMovie(set, "EN", "hi", "http://h/1", "/v/a.avi", Queue);
    const Movie* loaded = film->addMovie(set, "DE", "hi", "http://h/1", "/v/b.avi", Loaded);
    const Movie* idle = film->addMovie(set, "FR", "hi", "http://h/2", "/v/c.avi", NoLoad);
    const Movie* fresh = film->addMovie(set, "ES", "hi", "http://h/2", "", NoLoad);

    UsedNames all(set);
    EXPECT_EQ(all.holder("/v/a.avi", fresh), queued);
    EXPECT_EQ(all.holder("/v/a.avi", queued), nullptr);  // its own name
    EXPECT_EQ(all.holder("/v/c.avi", fresh), nullptr);   // not queued
    EXPECT_EQ(all.holder("", fresh), nullptr);
    EXPECT_EQ(all.freeName("/v/b.avi", fresh), "/v/b (2).avi");
    EXPECT_EQ(all.freeName("/v/b.avi", fresh, {"/v/b (2).avi"}), "/v/b (3).avi");

    fresh->queue("/v/b (2).avi");
    all.note(fresh);
    EXPECT_EQ(all.freeName("/v/b.avi", idle), "/v/b (3).avi");
    queued->setNoLoad();  // gives its name back
    EXPECT_EQ(all.holder("/v/a.avi", idle), nullptr);

    UsedNames downloaded(set, false);
    EXPECT_EQ(downloaded.holder("/v/b (2).avi", idle), nullptr);
    EXPECT_EQ(downloaded.holder("/v/b.avi", idle), loaded);
}
