#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>

#include <fstream>
#include <random>
#include <sstream>

#include "AviGenerator.h"
#include "FileSizeLimit.h"
#include "TempDir.h"
#include "engine/AviHeaders.h"
#include "engine/Splitter.h"
#include "engine/MovieSegments.h"
#include "engine/disk/DirectWrites.h"
#include "engine/disk/KeptParts.h"
#include "model/MoviesSet.h"
#include "support/EndLooker.h"

using namespace vemlis;
using namespace tavik::vemlis_loader;
using vemlis::testing::TempDir;
using vemlis::testing::readWholeFile;
using vemlis::testing::writeWholeFile;

namespace {

const char header[] = "RIFF\x10\x00\x00\x00" "AVI LIST";

// The pieces a byte-at-a-time search with the 16-byte look-ahead ring cuts a file into:
// piece n runs from the n-th header to the next one. Headers of continuation chunks
// ("AVIX") are kept inside the piece, as the splitting does.
std::vector<std::string> referencePieces(const std::string& file) {
    tavik::streams::CharEndLooker looker("RIFF****AVI*LIST", '*', 16);
    std::istringstream in(file);
    std::vector<std::string> pieces;
    // Every match of the looker, then without the continuation ones.
    std::vector<std::size_t> starts;
    for (;;) {
        looker.skip(in);
        if (!looker.found()) break;
        starts.push_back(static_cast<std::size_t>(in.tellg()) - 16);
    }
    std::vector<std::size_t> real;
    for (std::size_t s : starts)
        if (file[s + 11] != 'X') real.push_back(s);
    for (std::size_t i = 0; i < real.size(); ++i)
        pieces.push_back(file.substr(real[i], (i + 1 < real.size() ? real[i + 1] : file.size()) - real[i]));
    return pieces;
}

// The file cut at the header offsets given.
std::vector<std::string> piecesAt(const std::string& file, const std::vector<std::int64_t>& h) {
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < h.size(); ++i)
        pieces.push_back(file.substr(static_cast<std::size_t>(h[i]),
                                     static_cast<std::size_t>((i + 1 < h.size() ? h[i + 1] : static_cast<std::int64_t>(file.size())) - h[i])));
    return pieces;
}

// The pieces between the headers that a scan of the whole file finds, read in blocks of `block`.
std::vector<std::string> scannerPieces(const std::filesystem::path& path, std::size_t block) {
    return piecesAt(readWholeFile(path), indexFile(path, HeaderIndex::defaultLimit, block).getHeaders());
}

class Recorder final : public SplitHandler {
public:
    std::vector<std::string> names;  // answers to renameMovie, in order; "" cancels
    std::vector<std::pair<const Movie*, LoadFlag>> finished;
    int renames = 0;
    FreeSpace::Source room;  // free space; the system's when unset
    std::vector<std::string> reasons;
    void renameMovie(const Movie* movie, const std::string& reason) override {
        reasons.push_back(reason);
        const std::string name = renames < static_cast<int>(names.size()) ? names[renames] : "";
        ++renames;
        if (name.empty())
            movie->setNoLoad();
        else
            movie->queue(name);
    }
    void addFinishedMovie(const Movie* movie) override { finished.emplace_back(movie, movie->getLoadFlag()); }
    bool direct = true;
    bool writeDirect() const override { return direct; }
};

struct Fixture {
    TempDir dir;
    MoviesSet set;
    Film* film = set.addSeason("S")->addFilm();
    std::vector<const Movie*> movies;
    std::vector<std::string> avis;

    const Movie* add(LoadFlag flag, const std::string& name) {
        const Movie* m = film->addMovie(set, "EN", "hi", "http://h/f", (dir / name).string(), flag);
        movies.push_back(m);
        return m;
    }
    std::filesystem::path input(const std::string& prefix, int count) {
        std::string bytes = prefix;
        for (int i = 0; i < count; ++i) {
            avis.push_back(vemlis::testing::makeAvi(8 + i, 6, 2, static_cast<std::uint32_t>(i + 1)));
            bytes += avis.back();
        }
        writeWholeFile(dir / "temp.kq4", bytes);
        return dir / "temp.kq4";
    }
    const ServerFile& file() const { return *movies.front()->getServerFile(); }
};

// Splits by scanning the file, or with the headers noted during a download (fed in odd pieces).
void splitWith(const std::filesystem::path& input, const ServerFile& file, Recorder& handler, bool indexed) {
    if (!indexed) return splitFile(input, file, handler, nullptr, FreeSpace(handler.room));
    const std::string bytes = readWholeFile(input);
    HeaderIndex index;
    for (std::size_t at = 0; at < bytes.size(); at += 7) index.feed(bytes.data() + at, std::min<std::size_t>(7, bytes.size() - at));
    splitFile(input, file, handler, &index.getHeaders(), FreeSpace(handler.room));
}

std::vector<std::string> indexPieces(const std::string& file, std::mt19937& random) {
    HeaderIndex index;
    for (std::size_t at = 0; at < file.size();) {
        const std::size_t piece = random() % 3 ? random() % 40 + 1 : random() % 200000 + 1;
        const std::size_t size = std::min(piece, file.size() - at);
        index.feed(file.data() + at, size);
        at += size;
    }
    return piecesAt(file, index.getHeaders());
}

class SplitFile : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(ScannedAndIndexed, SplitFile, ::testing::Bool());

}  // namespace

TEST(HeaderSearch, ScanAndIndexAgreeWithTheByteWiseSearchOnRandomFiles) {
    TempDir dir;
    std::mt19937 random(42);
    const std::size_t block = 64 * 1024;  // the scan's block in this test
    for (int round = 0; round < 200; ++round) {
        std::string file(std::uniform_int_distribution<std::size_t>(0, 5 * block + 100)(random), '\0');
        for (char& c : file) c = static_cast<char>("RIFAVLSTX \x10\0"[random() % 12]);
        const int headers = static_cast<int>(random() % 12);
        for (int h = 0; h < headers && file.size() > 32; ++h) {
            // Near the block boundaries most of the time, where a header can be cut in two.
            std::size_t at = random() % 2 ? (random() % 80 + 1) * 4096 - 16 + random() % 32 : random() % file.size();
            at = std::min(at, file.size() - 16);
            file.replace(at, 16, header, 16);
            if (random() % 4 == 0) file[at + 11] = 'X';
            if (random() % 5 == 0 && at + 20 < file.size()) file.replace(at + 16, 4, "RIFF");
        }
        writeWholeFile(dir / "f", file);
        const auto reference = referencePieces(file);
        ASSERT_EQ(scannerPieces(dir / "f", block), reference) << "round " << round;
        ASSERT_EQ(indexPieces(file, random), reference) << "round " << round;
    }
}

TEST_P(SplitFile, QueuedMoviesGetTheirOwnPieces) {
    Fixture f;
    f.add(Queue, "a.avi");
    f.add(NoLoad, "b.avi");
    f.add(Queue, "c.avi");
    Recorder recorder;
    splitWith(f.input("junk before the first header", 3), f.file(), recorder, GetParam());
    EXPECT_EQ(readWholeFile(f.dir / "a.avi"), f.avis[0]);
    EXPECT_FALSE(std::filesystem::exists(f.dir / "b.avi"));
    EXPECT_EQ(readWholeFile(f.dir / "c.avi"), f.avis[2]);
    EXPECT_EQ(f.movies[0]->getLoadFlag(), Loaded);
    EXPECT_EQ(f.movies[1]->getLoadFlag(), NoLoad);
    ASSERT_EQ(recorder.finished.size(), 2u);
    EXPECT_EQ(recorder.finished[1].first, f.movies[2]);
    EXPECT_EQ(recorder.finished[1].second, Loaded);
}

TEST_P(SplitFile, FewerHeadersMakeBrokenMoviesAndMoreAreDropped) {
    Fixture f;
    f.add(Queue, "a.avi");
    f.add(Queue, "b.avi");
    f.add(Loaded, "c.avi");
    f.add(Queue, "d.avi");
    Recorder recorder;
    splitWith(f.input("", 2), f.file(), recorder, GetParam());
    EXPECT_EQ(f.movies[1]->getLoadFlag(), Loaded);
    EXPECT_EQ(f.movies[2]->getLoadFlag(), Loaded);  // not queued: untouched
    EXPECT_EQ(f.movies[3]->getLoadFlag(), Broken);
    EXPECT_EQ(recorder.finished.back().second, Broken);

    Fixture g;
    g.add(Queue, "only.avi");
    Recorder other;
    splitWith(g.input("", 3), g.file(), other, GetParam());
    EXPECT_EQ(readWholeFile(g.dir / "only.avi"), g.avis[0]);

    Fixture none;  // an error page instead of a server file
    none.add(Queue, "x.avi");
    writeWholeFile(none.dir / "temp.kq4", "<html>not found</html>");
    Recorder third;
    splitWith(none.dir / "temp.kq4", none.file(), third, GetParam());
    EXPECT_EQ(none.movies[0]->getLoadFlag(), Broken);
}

TEST_P(SplitFile, ContinuationChunksStayInTheirMovie) {
    Fixture f;
    f.add(Queue, "big.avi");
    f.add(Queue, "next.avi");
    const std::string first = vemlis::testing::makeAvi(8, 6, 2, 1) + "RIFF\x08\x00\x00\x00" "AVIXLIST" "more data";
    const std::string second = vemlis::testing::makeAvi(8, 6, 2, 2);
    writeWholeFile(f.dir / "temp.kq4", first + second);
    Recorder recorder;
    splitWith(f.dir / "temp.kq4", f.file(), recorder, GetParam());
    EXPECT_EQ(readWholeFile(f.dir / "big.avi"), first);
    EXPECT_EQ(readWholeFile(f.dir / "next.avi"), second);
}

TEST_P(SplitFile, AnOutputThatCannotBeCreatedAsksForAnotherName) {
    Fixture f;
    f.add(Queue, "missing-folder/a.avi");
    f.add(Queue, "missing-folder/b.avi");
    f.add(Queue, "c.avi");
    Recorder recorder;
    recorder.names = {(f.dir / "renamed.avi").string(), ""};  // the second movie is cancelled
    splitWith(f.input("", 3), f.file(), recorder, GetParam());
    EXPECT_EQ(recorder.renames, 2);
    EXPECT_EQ(readWholeFile(f.dir / "renamed.avi"), f.avis[0]);
    EXPECT_EQ(f.movies[0]->getLoadFlag(), Loaded);
    EXPECT_EQ(f.movies[1]->getLoadFlag(), NoLoad);
    EXPECT_EQ(readWholeFile(f.dir / "c.avi"), f.avis[2]);  // the movies after still split right
    ASSERT_EQ(recorder.finished.size(), 3u);
    EXPECT_EQ(recorder.finished[1].second, NoLoad);
}

TEST_P(SplitFile, ANameWithAControlCharacterIsRefusedBeforeAFileIsOpened) {
    Fixture f;
    writeWholeFile(f.dir / "kept.avi", "a complete movie");
    // To the system "kept.avi\0x" would be "kept.avi", and its part file the same: truncated.
    f.add(Queue, std::string("kept.avi\0x", 10));
    Recorder recorder;
    recorder.names = {(f.dir / "renamed.avi").string()};
    splitWith(f.input("", 1), f.file(), recorder, GetParam());
    EXPECT_EQ(readWholeFile(f.dir / "kept.avi"), "a complete movie");
    EXPECT_EQ(recorder.reasons, std::vector<std::string>{"Invalid argument"});
    EXPECT_EQ(readWholeFile(f.dir / "renamed.avi"), f.avis[0]);
}

TEST_P(SplitFile, AFailedWriteNeverReplacesAFileNorCountsAsSaved) {
    Fixture f;
    f.add(Queue, "small.avi");
    const Movie* big = f.add(Queue, "big.avi");
    const auto input = f.input("", 2);
    writeWholeFile(f.dir / "big.avi", "the complete old file");
    Recorder recorder;  // declines the new name
    {
        const vemlis::testing::FileSizeLimit limit(f.avis[0].size() + 10);  // the first movie fits, the second does not
        ASSERT_LT(f.avis[0].size() + 10, f.avis[1].size());
        splitWith(input, f.file(), recorder, GetParam());
    }
    EXPECT_EQ(recorder.renames, 1);
    EXPECT_EQ(recorder.reasons, std::vector<std::string>{"File too large"});
    EXPECT_EQ(big->getLoadFlag(), NoLoad);
    EXPECT_EQ(readWholeFile(f.dir / "big.avi"), "the complete old file");  // untouched, byte for byte
    EXPECT_FALSE(std::filesystem::exists(f.dir / "big.avi.part"));
    EXPECT_EQ(readWholeFile(f.dir / "small.avi"), f.avis[0]);
    EXPECT_FALSE(std::filesystem::exists(f.dir / "small.avi.part"));

    Fixture g;  // the same with a new name that works
    const Movie* again = g.add(Queue, "big.avi");
    const auto second = g.input("", 1);
    Recorder answers;
    answers.names = {(g.dir / "elsewhere.avi").string()};
    answers.room = [&](const std::filesystem::path& file) -> std::int64_t {
        return file.filename() == "big.avi" ? 100 : -1;  // no room where the first name goes
    };
    splitWith(second, g.file(), answers, GetParam());
    ASSERT_EQ(answers.reasons.size(), 1u);
    EXPECT_EQ(answers.reasons[0].rfind("not enough free space", 0), 0u) << answers.reasons[0];
    EXPECT_EQ(again->getLoadFlag(), Loaded);
    EXPECT_FALSE(std::filesystem::exists(g.dir / "big.avi"));
    EXPECT_EQ(readWholeFile(g.dir / "elsewhere.avi"), g.avis[0]);
}

TEST_P(SplitFile, NothingButRegularFilesIsReplacedAndTwoMoviesNeverShareAName) {
    Fixture f;
    const Movie* onFolder = f.add(Queue, "folder");
    const Movie* first = f.add(Queue, "same.avi");
    const Movie* second = f.add(Queue, "same.avi");
    std::filesystem::create_directory(f.dir / "folder");
    const auto input = f.input("", 3);
    Recorder recorder;
    recorder.names = {(f.dir / "renamed.avi").string()};
    splitWith(input, f.file(), recorder, GetParam());
    EXPECT_TRUE(std::filesystem::is_directory(f.dir / "folder"));
    EXPECT_EQ(recorder.reasons, std::vector<std::string>{"Is a directory"});
    EXPECT_EQ(onFolder->getFileName(), (f.dir / "renamed.avi").string());
    EXPECT_EQ(readWholeFile(f.dir / "same.avi"), f.avis[1]);
    EXPECT_EQ(second->getFileName(), (f.dir / "same (2).avi").string());  // the state keeps the new name
    EXPECT_EQ(readWholeFile(f.dir / "same (2).avi"), f.avis[2]);
    EXPECT_EQ(first->getLoadFlag(), Loaded);
    EXPECT_EQ(second->getLoadFlag(), Loaded);
}

// Movies of several direct-write blocks at offsets that fit no block, tails shorter than a
// block, and a write that fails midway: straight to the disk and through the page cache alike.
TEST(SplitLargeMovies, DirectAndCachedWritesGiveTheSameBytes) {
    std::mt19937 random(7);
    const auto movie = [&](std::size_t size) {
        std::string bytes(header, 16);
        bytes.resize(size);
        for (std::size_t i = 16; i < size; ++i) bytes[i] = static_cast<char>('a' + random() % 26);
        return bytes;
    };
    const auto nameOf = [](std::size_t i) { return std::to_string(i).append(".avi"); };
    const std::size_t mib = 1 << 20;
    const std::vector<std::string> avis{movie(9 * mib + 13), movie(4 * mib), movie(5000), movie(4 * mib + 4095)};
    for (const bool direct : {true, false}) {
        Fixture f;
        std::string bytes(777, 'j');
        for (std::size_t i = 0; i < avis.size(); ++i) {
            f.add(Queue, nameOf(i));
            bytes += avis[i];
        }
        writeWholeFile(f.dir / "temp.kq4", bytes);
        Recorder recorder;
        recorder.direct = direct;
        splitWith(f.dir / "temp.kq4", f.file(), recorder, false);
        for (std::size_t i = 0; i < avis.size(); ++i) {
            EXPECT_EQ(f.movies[i]->getLoadFlag(), Loaded) << i << (direct ? " direct" : " cached");
            EXPECT_TRUE(readWholeFile(f.dir / nameOf(i)) == avis[i])
                << i << (direct ? " direct" : " cached");
        }

        Fixture g;  // the first movie stops at a size limit in the middle of a block
        g.add(Queue, "big.avi");
        g.add(Queue, "small.avi");
        writeWholeFile(g.dir / "temp.kq4", avis[0] + avis[2]);
        Recorder declines;
        declines.direct = direct;
        {
            const vemlis::testing::FileSizeLimit limit(6 * mib + 5);
            splitWith(g.dir / "temp.kq4", g.file(), declines, true);
        }
        EXPECT_EQ(declines.reasons, std::vector<std::string>{"File too large"});
        EXPECT_EQ(g.movies[0]->getLoadFlag(), NoLoad);
        EXPECT_FALSE(std::filesystem::exists(g.dir / "big.avi.part"));
        EXPECT_TRUE(readWholeFile(g.dir / "small.avi") == avis[2]);
    }
}

// Without the offsets noted during the download, one pass finds the headers as it copies:
// headers that straddle its 4 MiB blocks, begin right at one or in a block's look-ahead,
// movies that are not written in between, junk before the first header.
TEST(SplitLargeMovies, TheOnePassFindsHeadersAcrossItsBlocks) {
    const std::size_t block = 4 << 20;
    std::mt19937 random(11);
    const auto movie = [&](std::size_t size, bool continued = false) {
        std::string bytes(header, 16);
        bytes.resize(size);
        for (std::size_t i = 16; i < size; ++i) bytes[i] = static_cast<char>('a' + random() % 26);
        if (continued) bytes.replace(block - 5, 16, "RIFF\x08\x00\x00\x00" "AVIXLIST", 16);  // stays in this movie
        return bytes;
    };
    const std::vector<std::string> avis{movie(block - 8), movie(block),       movie(block + 1, true),
                                        movie(block + 15), movie(block + 16), movie(2 * block - 3),
                                        movie(17)};
    const std::string junk(block + 9, 'j');
    std::string whole = junk;
    for (const auto& avi : avis) whole += avi;
    for (const bool direct : {true, false}) {
        Fixture f;
        for (std::size_t i = 0; i < avis.size(); ++i)
            f.add(i == 3 ? NoLoad : Queue, std::to_string(i).append(".avi"));
        writeWholeFile(f.dir / "temp.kq4", whole);
        Recorder recorder;
        recorder.direct = direct;
        splitWith(f.dir / "temp.kq4", f.file(), recorder, false);
        for (std::size_t i = 0; i < avis.size(); ++i) {
            if (i == 3) {
                EXPECT_FALSE(std::filesystem::exists(f.dir / "3.avi"));
                continue;
            }
            EXPECT_EQ(f.movies[i]->getLoadFlag(), Loaded) << i;
            EXPECT_TRUE(readWholeFile(f.dir / std::to_string(i).append(".avi")) == avis[i])
                << i << (direct ? " direct" : " cached");
        }
    }
}

TEST(HeaderIndex, KeepsNoMoreOffsetsThanItsLimitWhateverTheStreamHolds) {
    const std::string header("RIFF\x10\0\0\0AVI LIST", 16);
    std::string headers;
    for (int i = 0; i < 65536; ++i) headers += header;  // 1 MiB of back-to-back headers
    HeaderIndex index(3);
    for (std::size_t at = 0; at < headers.size(); at += 4093)
        index.feed(headers.data() + at, std::min<std::size_t>(4093, headers.size() - at));
    EXPECT_EQ(index.getHeaders(), (std::vector<std::int64_t>{0, 16, 32}));
    TempDir dir;
    vemlis::testing::writeWholeFile(dir / "headers", headers);
    EXPECT_EQ(indexFile(dir / "headers", 5).getHeaders().size(), 5u);
}

TEST(DirectWrites, EveryBlockLandsAlsoWhenRefusedStraightAndAFailureIsToldForItsFile) {
    TempDir dir;
    const std::string path = (dir / "movie.part").string();
    const int buffered = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const int direct = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_DIRECT);
    const int readOnly = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (direct < 0) GTEST_SKIP() << "no direct writes here";
    constexpr std::size_t page = DirectBuffer::alignment;
    {
        DirectWrites writes(2 * page, 2, 2);
        DirectBuffer* whole = writes.take();
        std::memset(whole->data(), 'a', page);
        writes.write(direct, buffered, 0, whole, page);
        // Not a whole page: refused straight, written through the page cache.
        DirectBuffer* part = writes.take();
        std::memset(part->data(), 'b', 100);
        writes.write(direct, buffered, page, part, 100);
        DirectBuffer* failing = writes.take();  // waits for a block given back
        writes.write(readOnly, readOnly, 2 * page, failing, page);
        writes.drain();
        EXPECT_EQ(writes.takeError(direct), 0);
        EXPECT_EQ(writes.takeError(readOnly), EBADF);
        EXPECT_EQ(writes.takeError(readOnly), 0);  // told once
    }
    ::close(buffered);
    ::close(direct);
    ::close(readOnly);
    EXPECT_EQ(readWholeFile(path), std::string(page, 'a') + std::string(100, 'b'));
}

TEST(MovieSegments, ConnectionsThatEndInsideAMovieNeverHoldUpTheWrites) {
    // Twenty connections each bring the first megabyte of their segment and stop, as after
    // steals near the end; then the rest comes. Each leaves bytes gathered for the disk.
    Fixture f;
    const Movie* movie = f.add(Queue, "one.avi");
    const std::int64_t length = (30 << 20) + 123;
    std::string bytes(static_cast<std::size_t>(length), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) >> 7);
    SegmentResume point;
    point.length = length;
    point.validator = "\"v\"";
    point.headers = {0};
    constexpr int count = 20;
    for (int i = 0; i < count; ++i) point.segments.push_back({length * i / count, length * (i + 1) / count, 0});
    Recorder handler;
    KeptParts notes(f.dir.path());
    const FreeSpace room;
    MovieSegments sink(f.file(), handler, room, notes, point);
    ASSERT_TRUE(sink.prepare());
    for (const bool rest : {false, true})
        for (Segment& s : point.segments) {
            const std::int64_t from = s.from + s.done, to = rest ? s.to : s.from + (1 << 20);
            ASSERT_TRUE(sink.writeAt(from, bytes.data() + from, static_cast<std::size_t>(to - from)));
            s.done = to - s.from;
        }
    ASSERT_TRUE(sink.finish(point.segments)) << sink.failure;
    EXPECT_EQ(movie->getLoadFlag(), Loaded);
    EXPECT_TRUE(readWholeFile(movie->getFileName()) == bytes);
}
