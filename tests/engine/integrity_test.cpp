// What a faulty or hostile server sends never becomes a movie called downloaded: every movie
// marked Loaded holds exactly the bytes of the server's file.
#include <gtest/gtest.h>

#include "AviGenerator.h"
#include "LoadHarness.h"

using namespace vemlis;
using namespace vemlis::testing;
using tavik::vemlis_loader::Broken;

namespace {

// Every movie the thread called downloaded holds its piece; none is a wrong link.
void expectNothingWrong(Harness& h, std::size_t i) {
    const auto& movies = h.file(i)->getMovies();
    for (std::size_t m = 0; m < movies.size(); ++m) {
        EXPECT_NE(movies[m]->getLoadFlag(), Broken) << m;
        if (movies[m]->getLoadFlag() == Loaded) {
            EXPECT_TRUE(readWholeFile(movies[m]->getFileName()) == h.series.pieces[h.path(i)][m]) << m;
        }
    }
}

// Starts the thread on the first file, breaks its first transfer at `cut`, and has the server
// misbehave from the next request on.
void resumeInto(Harness& h, std::int64_t cut, const Fault& fault, const std::string* newVersion = nullptr) {
    h.server.setFault(h.path(0), Fault::dropOnce(cut));
    h.start();
    ASSERT_TRUE(h.merged());
    h.queueAll(h.file(0));
    h.thread->start();
    // The file waits at least a second before its next try.
    ASSERT_TRUE(waitUntil([&] { return h.thread->getWaiting().has_value(); }));
    if (newVersion) h.server.setFile(h.path(0), *newVersion);
    h.server.setFault(h.path(0), fault);
}

}  // namespace

TEST(Integrity, SegmentsAnsweredWithAnotherRangeAreRefusedAndTheFileComesWhole) {
    // Shifted by 4096 bytes, or starting at 0 whatever was asked.
    for (const std::int64_t shift : {std::int64_t(4096), -(std::int64_t(1) << 40)}) {
        Harness h;
        const LargeFile large;
        const ServerFile* file = serveLarge(h, large);
        h.server.setFault("/large.avi", Fault::shifted(shift));
        h.start();
        ASSERT_TRUE(h.merged());
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return allLoaded(file); }, 30000)) << shift;
        expectLargeSaved(file, large);
        // The server's ranges are not used again for this file: a handful of requests in all.
        EXPECT_LE(h.server.requests("/large.avi"), 10);
    }
}

TEST(Integrity, AShortPartAfterAResumeIsNeverTakenForTheRest) {
    Harness h;
    const std::string bytes = wholeFile(h, 0);
    resumeInto(h, static_cast<std::int64_t>(bytes.size() / 3), Fault::shortParts(100));
    ASSERT_TRUE(waitUntil([&] { return allLoaded(h.file(0)); }, 20000));
    expectNothingWrong(h, 0);
    expectSaved(h, 0);
}

TEST(Integrity, APartOfAnotherVersionIsNeverJoinedToTheKeptOne) {
    Harness h;
    // The file changes on the server while a cache answers ranges whatever If-Range says.
    std::string newVersion;
    std::vector<std::string> newPieces;
    for (std::size_t m = 0; m < h.series.pieces[h.path(0)].size(); ++m) {
        newPieces.push_back(makeAvi(32, 24, 3, static_cast<std::uint32_t>(1000 + m)));
        newVersion += newPieces.back();
    }
    Fault ignoring;
    ignoring.ignoreIfRange = true;
    resumeInto(h, static_cast<std::int64_t>(wholeFile(h, 0).size() / 2), ignoring, &newVersion);
    ASSERT_TRUE(waitUntil([&] { return allLoaded(h.file(0)); }, 20000));
    const auto& movies = h.file(0)->getMovies();
    for (std::size_t m = 0; m < movies.size(); ++m)
        EXPECT_TRUE(readWholeFile(movies[m]->getFileName()) == newPieces[m]) << m;
}

TEST(Integrity, AWeakOrSameSecondValidatorNeverJoinsTwoVersions) {
    // Both stay as they were while the file changes, and the server matches them in If-Range.
    for (const Validator validator : {Validator::weakEtag, Validator::sameSecond}) {
        Harness h;
        h.server.setValidator(h.path(0), validator);
        std::string newVersion;
        std::vector<std::string> newPieces;
        for (std::size_t m = 0; m < h.series.pieces[h.path(0)].size(); ++m) {
            newPieces.push_back(makeAvi(32, 24, 3, static_cast<std::uint32_t>(2000 + m)));
            newVersion += newPieces.back();
        }
        resumeInto(h, static_cast<std::int64_t>(wholeFile(h, 0).size() / 2), Fault(), &newVersion);
        ASSERT_TRUE(waitUntil([&] { return allLoaded(h.file(0)); }, 20000));
        const auto& movies = h.file(0)->getMovies();
        for (std::size_t m = 0; m < movies.size(); ++m)
            EXPECT_TRUE(readWholeFile(movies[m]->getFileName()) == newPieces[m]) << m;
        EXPECT_EQ(h.server.lastHeader(h.path(0), "If-Range"), "");
    }
}

TEST(Integrity, ACompressedAnswerIsRefusedWithItsOwnReason) {
    Harness h;
    h.server.setFault(h.path(0), Fault::encoded("gzip"));
    h.start();
    ASSERT_TRUE(h.merged());
    h.queueAll(h.file(0));
    h.thread->start();
    ASSERT_TRUE(waitUntil([&] { return h.thread->getWaiting().has_value(); }));
    EXPECT_EQ(h.thread->getWaiting()->reason, "The server sent the file compressed (gzip)");
    EXPECT_EQ(h.server.lastHeader(h.path(0), "Accept-Encoding"), "identity");
    for (const Movie* m : h.file(0)->getMovies()) EXPECT_EQ(m->getLoadFlag(), Queue);
    EXPECT_FALSE(std::filesystem::exists(h.file(0)->getMovies()[0]->getFileName()));
}

TEST(Integrity, ServersThatAnswerRangesWithWholeFilesAreNotHammered) {
    Fault whole;
    whole.wholeForRanges = true;
    Fault newTags;
    newTags.newValidatorEachAnswer = true;
    for (const Fault& fault : {whole, newTags}) {
        Harness h;
        const LargeFile large;
        const ServerFile* file = serveLarge(h, large);
        h.server.setFault("/large.avi", fault);
        // A file queued after it goes on meanwhile.
        h.start();
        ASSERT_TRUE(h.merged());
        h.queueAll(h.file(0));
        h.thread->start();
        ASSERT_TRUE(waitUntil([&] { return allLoaded(file) && allLoaded(h.file(0)); }, 30000));
        expectLargeSaved(file, large);
        EXPECT_LE(h.server.requests("/large.avi"), 12);
    }
}
