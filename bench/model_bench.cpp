#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pugixml.hpp>
#include <memory>
#include <sstream>
#include <vector>

#include "Pairs.h"
#include "CatalogueGenerator.h"
#include "model/MoviesSet.h"

using tavik::vemlis_loader::MoviesSet;

namespace {

const vemlis::testing::GeneratedCatalogue& catalogue() {
    static const auto generated = [] {
        vemlis::testing::CatalogueShape shape;
        shape.seasons = 200;
        shape.episodes = 50;
        shape.variants = 10;
        shape.minMoviesPerFile = 2;
        shape.maxMoviesPerFile = 6;
        return vemlis::testing::generateCatalogue(shape);
    }();
    return generated;
}

// Large blocks are mapped apart from the heap: both count.
std::size_t heapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

const std::string statePath = "/tmp/vemlis-bench-data.kq4";

// The program hands the fetched document over without copying it, so each run gets a fresh
// copy made outside the timing; pugixml likewise parses such a copy in place. Destroying a set
// is not part of reading it.
double readCatalogue() {
    std::string document = catalogue().document;
    auto set = std::make_unique<MoviesSet>();
    return bench::timed([&] { set->readCatalogue(std::move(document)); });
}

double mergeAgain(MoviesSet& set) {
    std::string document = catalogue().document;
    return bench::timed([&] { set.readCatalogue(std::move(document)); });
}

double pugixmlParse() {
    std::string document = catalogue().document;
    pugi::xml_document doc;
    return bench::timed([&] {
        const auto result = doc.load_buffer_inplace(document.data(), document.size());
        if (!result) std::abort();
    });
}

double saveSet(const MoviesSet& set) {
    return bench::timed([&] {
        std::ofstream out(statePath, std::ios::binary | std::ios::trunc);
        set.save(out);
    });
}

double fwriteSameBytes(const std::string& data) {
    return bench::timed([&] {
        std::FILE* f = std::fopen("/tmp/vemlis-bench-fwrite", "wb");
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    });
}

double loadSet() {
    auto set = std::make_unique<MoviesSet>();
    return bench::timed([&] {
        std::ifstream in(statePath, std::ios::binary);
        set->load(in);
    });
}

double getlineSameFile() {
    std::size_t n = 0;
    const double seconds = bench::timed([&] {
        std::ifstream in(statePath, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) n += line.size();
    });
    if (n == 0) std::abort();
    return seconds;
}

}  // namespace

int main() {
    // The heap keeps the pages it has: otherwise whichever run follows the release of a whole set
    // pays for mapping them again, a cost of this machine's page faults rather than of either
    // parser.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    catalogue();
    const std::size_t before = heapBytes();
    std::size_t setBytes = 0;
    MoviesSet set;
    set.readCatalogue(catalogue().document);
    setBytes = heapBytes() - before;
    std::ostringstream bytes;
    set.save(bytes);
    const std::string data = bytes.str();
    saveSet(set);

    constexpr int pairs = 21;
    MoviesSet merged;
    merged.readCatalogue(catalogue().document);
    std::printf("movies: %zu\n", catalogue().movieCount);
    bench::print("read_vs_pugixml", bench::spread(bench::timeRatios(pairs, readCatalogue, pugixmlParse)));
    bench::print("merge_vs_pugixml",
                 bench::spread(bench::timeRatios(pairs, [&] { return mergeAgain(merged); }, pugixmlParse)));
    bench::print("save_vs_fwrite", bench::spread(bench::timeRatios(
                                       pairs, [&] { return saveSet(set); }, [&] { return fwriteSameBytes(data); })));
    bench::print("load_vs_getline", bench::spread(bench::timeRatios(pairs, loadSet, getlineSameFile)));
    std::printf("set_memory_mb: %.2f\n", static_cast<double>(setBytes) / (1024.0 * 1024.0));
    std::remove(statePath.c_str());
    std::remove("/tmp/vemlis-bench-fwrite");
    return 0;
}
