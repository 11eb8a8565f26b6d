#include <gtest/gtest.h>

#include <cstdlib>

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
