#include <gtest/gtest.h>

#include <cstdlib>

#include <QCoreApplication>
#include <QSettings>

#include "TempDir.h"
#include "app/DataFolder.h"
#include "app/Settings.h"

using namespace vemlis;

TEST(CatalogueAddress, TheEnvironmentThenTheUsersFileThenTheSystemsThenTheBuildAndOnlyWebAddressesPass) {
    std::string problem;
    ::unsetenv("VEMLIS_CATALOGUE_URL");
    EXPECT_EQ(catalogueAddress("http://built/movies.xml", problem), "http://built/movies.xml");
    // As a packager or an administrator sets it for everybody, and as a user does.
    const std::filesystem::path system = std::filesystem::path(qgetenv("XDG_CONFIG_DIRS").toStdString()) / "Vemlis loader";
    std::filesystem::create_directories(system);
    vemlis::testing::writeWholeFile(system / "Vemlis loader.conf", "[Catalogue]\nUrl=http://system/movies.xml\n");
    EXPECT_EQ(catalogueAddress("http://built/movies.xml", problem), "http://system/movies.xml");
    {
        Settings mine = Settings::load(*userSettings());
        mine.catalogue = "https://mine.example/movies.xml";
        mine.save(*userSettings());
    }
    EXPECT_EQ(catalogueAddress("http://built/movies.xml", problem), "https://mine.example/movies.xml");
    ::setenv("VEMLIS_CATALOGUE_URL", "https://example.org/movies.xml", 1);
    EXPECT_EQ(catalogueAddress("http://built/movies.xml", problem), "https://example.org/movies.xml");
    for (const char* bad : {"file:///etc/passwd", "ftp://h/movies.xml", "example.org/movies.xml", "http://"}) {
        ::setenv("VEMLIS_CATALOGUE_URL", bad, 1);
        problem.clear();
        EXPECT_EQ(catalogueAddress("http://built/movies.xml", problem), "") << bad;
        EXPECT_NE(problem.find(bad), std::string::npos) << problem;
    }
    ::unsetenv("VEMLIS_CATALOGUE_URL");
    std::filesystem::remove(userSettings()->fileName().toStdString());
    std::filesystem::remove(system / "Vemlis loader.conf");
}

TEST(Settings, OneFileInTheNativeFormatTakesOverTheIniAndReadsSwitchesAsPeopleWriteThem) {
    const std::filesystem::path folder = std::filesystem::path(qgetenv("XDG_CONFIG_HOME").toStdString()) / "Vemlis loader";
    std::filesystem::create_directories(folder);
    vemlis::testing::writeWholeFile(folder / "Vemlis loader.ini", "[Downloads]\nSpeedLimitKiB=300\nWindowOn=true\n");
    auto settings = userSettings();
    EXPECT_EQ(settings->fileName().toStdString(), (folder / "Vemlis loader.conf").string());
    EXPECT_EQ(Settings::load(*settings).speedLimit, 300);
    EXPECT_TRUE(Settings::load(*settings).windowOn);
    EXPECT_FALSE(std::filesystem::exists(folder / "Vemlis loader.ini"));
    for (const char* off : {"no", "Off", "false", "0"}) {
        settings->setValue("Downloads/WindowOn", off);
        EXPECT_FALSE(Settings::load(*settings).windowOn) << off;
    }
    for (const char* on : {"yes", "ON", "true", "1"}) EXPECT_TRUE(readSwitch(QString(on), false)) << on;
    EXPECT_FALSE(readSwitch(QString("perhaps"), false));
    settings->remove("Downloads");
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
