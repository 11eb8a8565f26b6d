#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Generated catalogues for the tests, the benchmarks and the demo server.
namespace vemlis::testing {

struct CatalogueShape {
    int seasons = 3;
    int episodes = 4;
    // How many of the language x bit-rate combinations each episode has (at most 3 x 3, more
    // adds mirrors of the first combinations on other files).
    int variants = 4;
    int minMoviesPerFile = 1;
    int maxMoviesPerFile = 4;
    // Every n-th link carries a "!" file-name suggestion (0: none).
    int suggestEvery = 5;
    std::uint32_t seed = 1;
    std::string baseURL = "http://127.0.0.1:8087";
};

struct GeneratedMovie {
    int season = 0;   // 1-based
    int episode = 0;  // 1-based
    std::string language;
    std::string bitRate;
};

struct GeneratedFile {
    std::string path;  // beginning with "/"
    std::vector<GeneratedMovie> movies;
};

struct GeneratedCatalogue {
    std::string document;
    std::vector<GeneratedFile> files;
    std::size_t movieCount = 0;
};

GeneratedCatalogue generateCatalogue(const CatalogueShape& shape);

}  // namespace vemlis::testing
