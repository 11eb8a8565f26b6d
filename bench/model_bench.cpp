#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <pugixml.hpp>
#include <memory>
#include <sstream>
#include <vector>

#include "BenchReport.h"
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
// copy made outside the timing; pugixml likewise parses such a copy in place.
void read_catalogue(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::string document = catalogue().document;
        auto set = std::make_unique<MoviesSet>();
        state.ResumeTiming();
        set->readCatalogue(std::move(document));
        benchmark::DoNotOptimize(set->getSeasons().size());
        state.PauseTiming();  // destroying the set is not part of reading
        set.reset();
        state.ResumeTiming();
    }
}

void merge_again(benchmark::State& state) {
    MoviesSet set;
    set.readCatalogue(catalogue().document);
    for (auto _ : state) {
        state.PauseTiming();
        std::string document = catalogue().document;
        state.ResumeTiming();
        set.readCatalogue(std::move(document));
    }
}

void pugixml_parse(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::string document = catalogue().document;
        state.ResumeTiming();
        pugi::xml_document doc;
        auto result = doc.load_buffer_inplace(document.data(), document.size());
        benchmark::DoNotOptimize(result);
    }
}

void save_set(benchmark::State& state) {
    MoviesSet set;
    set.readCatalogue(catalogue().document);
    for (auto _ : state) {
        std::ofstream out(statePath, std::ios::binary | std::ios::trunc);
        set.save(out);
    }
}

void fwrite_same_bytes(benchmark::State& state) {
    MoviesSet set;
    set.readCatalogue(catalogue().document);
    std::ostringstream bytes;
    set.save(bytes);
    const std::string data = bytes.str();
    for (auto _ : state) {
        std::FILE* f = std::fopen("/tmp/vemlis-bench-fwrite", "wb");
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
}

void load_set(benchmark::State& state) {
    for (auto _ : state) {
        auto set = std::make_unique<MoviesSet>();
        std::ifstream in(statePath, std::ios::binary);
        set->load(in);
        benchmark::DoNotOptimize(set->getSeasons().size());
        state.PauseTiming();
        set.reset();
        state.ResumeTiming();
    }
}

void getline_same_file(benchmark::State& state) {
    for (auto _ : state) {
        std::ifstream in(statePath, std::ios::binary);
        std::string line;
        std::size_t n = 0;
        while (std::getline(in, line)) n += line.size();
        benchmark::DoNotOptimize(n);
    }
}

}  // namespace

BENCHMARK(read_catalogue)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(merge_again)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(pugixml_parse)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(save_set)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(fwrite_same_bytes)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(load_set)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(getline_same_file)->Unit(benchmark::kMillisecond)->MinTime(0.3);

int main(int argc, char** argv) {
    // The heap keeps the pages it has: otherwise whichever run follows the release of a whole set
    // pays for mapping them again, a cost of this machine's page faults rather than of either
    // parser.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    catalogue();
    const std::size_t before = heapBytes();
    std::size_t setBytes = 0;
    {
        MoviesSet set;
        set.readCatalogue(catalogue().document);
        setBytes = heapBytes() - before;
        std::ofstream out(statePath, std::ios::binary | std::ios::trunc);
        set.save(out);
    }
    // Five runs of each, in shuffled order; the command line may say otherwise.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, {repetitions.data(), interleaving.data()});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::fflush(stdout);
    std::printf("movies: %zu\n", catalogue().movieCount);
    printFigure("read_vs_pugixml", reporter.time("read_catalogue") / reporter.time("pugixml_parse"));
    printFigure("merge_vs_pugixml", reporter.time("merge_again") / reporter.time("pugixml_parse"));
    printFigure("save_vs_fwrite", reporter.time("save_set") / reporter.time("fwrite_same_bytes"));
    printFigure("load_vs_getline", reporter.time("load_set") / reporter.time("getline_same_file"));
    printFigure("set_memory_mb", static_cast<double>(setBytes) / (1024.0 * 1024.0));
    std::remove(statePath.c_str());
    std::remove("/tmp/vemlis-bench-fwrite");
    return 0;
}
