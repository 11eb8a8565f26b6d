#include <gtest/gtest.h>

#include <cstdlib>

#include <QCoreApplication>

#include "TempDir.h"
#include "app/DataFolder.h"

using namespace vemlis;

TEST(CatalogueAddress, TheEnvironmentOverridesTheBuildAndOnlyWebAddressesPass) {
    std::string problem;
    ::unsetenv("VEMLIS_CATALOGUE_URL");
    EXPECT_EQ(catalogueAddress("http://built/movies.xml", problem), "http://built/movies.xml");
    ::setenv("VEMLIS_CATALOGUE_URL", "https://example.org/movies.xml", 1);
    EXPECT_EQ(catalogueAddress("http://built/movies.xml", problem), "https://example.org/movies.xml");
    for (const char* bad : {"file:///etc/passwd", "ftp://h/movies.xml", "example.org/movies.xml", "http://"}) {
        ::setenv("VEMLIS_CATALOGUE_URL", bad, 1);
        problem.clear();
        EXPECT_EQ(catalogueAddress("http://built/movies.xml", problem), "") << bad;
        EXPECT_NE(problem.find(bad), std::string::npos) << problem;
    }
    ::unsetenv("VEMLIS_CATALOGUE_URL");
}

TEST(DataFolder, MoviesGoToTheVideosFolderUnlessTheProgramKeepsItsDataBesideItself) {
    vemlis::testing::TempDir home;
    const char* before = std::getenv("HOME");
    const std::string kept = before ? before : "";
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    vemlis::testing::TempDir data;  // the per-user data folder of an installed program
    const auto movies = defaultMoviesFolder(data.path());
    EXPECT_EQ(movies, home / "Videos" / "Vemlis loader");
    EXPECT_TRUE(std::filesystem::is_directory(movies));
    const std::filesystem::path program(QCoreApplication::applicationDirPath().toStdString());
    EXPECT_EQ(defaultMoviesFolder(program), program);  // a copy that keeps its data beside it
    ::setenv("HOME", kept.c_str(), 1);
}
