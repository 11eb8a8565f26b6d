#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <sstream>

#include "support/EndLooker.h"
#include "support/Fixer.h"
#include "support/LimitedStack.h"

using tavik::containers::LimitedStack;
using tavik::streams::CharEndLooker;
namespace cx = tavik::containers::exceptions;
namespace sx = tavik::streams::exceptions;

TEST(LimitedStack, KeepsTheNewestValuesAndReportsBadIndexes) {
    LimitedStack<int> stack(3);
    for (int v : {1, 2, 3, 4}) stack.push(v);
    EXPECT_EQ(stack.size(), 3);
    EXPECT_EQ(stack.bottom(), 2);
    EXPECT_EQ(stack.at(1), 3);
    EXPECT_EQ(stack.top(), 4);
    try {
        stack.at(3);
        FAIL() << "no exception";
    } catch (const cx::LimitedStackWrongIndex& e) {
        EXPECT_EQ(e.getIndex(), 3);
        EXPECT_EQ(e.getLowest(), 0);
        EXPECT_EQ(e.getHighest(), 2);
        EXPECT_EQ(e.getMessage(),
                  "Неверно указан индекс: указан индекс 3, допустим от 0 до 2. "
                  "В стеке отсутствует элемент с таким индексом.");
    }
    EXPECT_THROW(stack.at(-1), cx::LimitedStackException);
    stack.clear();
    EXPECT_THROW(stack.top(), tavik::exceptions::WrongIndex);
    stack.push(7);
    EXPECT_EQ(stack.size(), 1);
    EXPECT_EQ(stack.top(), 7);
    EXPECT_EQ(stack.bottom(), 7);
}

TEST(LimitedStack, HoldsSixtyFourBitCountsAndRejectsBadCapacities) {
    LimitedStack<std::int64_t> big(2);
    big.push(5'000'000'000LL);
    big.push(6'000'000'000LL);
    big.push(7'000'000'000LL);
    EXPECT_EQ(big.top() - big.bottom(), 1'000'000'000LL);
    EXPECT_THROW(LimitedStack<int>(0), cx::LimitedStackException);
}

TEST(LimitedStack, AllocationFailureBecomesTheLibrarysOwnException) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator stops the program instead of throwing";
#endif
    using Block = std::array<char, 1 << 20>;  // 2^31 of them: far more than any machine has
    try {
        LimitedStack<Block> huge(std::numeric_limits<std::int32_t>::max());
        // The stack escapes, so the optimiser cannot leave the allocation out.
        asm volatile("" : : "g"(&huge) : "memory");
        FAIL() << "the allocation succeeded";
    } catch (const cx::LimitedStackOutOfMemory& e) {
        EXPECT_EQ(e.getCount(), std::numeric_limits<std::int32_t>::max());
        EXPECT_EQ(e.getSize(), 1 << 20);
        EXPECT_NE(e.getMessage().find("недостаточно памяти."), std::string::npos);
        EXPECT_EQ(e.getDescription(), "Недостаточно памяти.");
    }
}

TEST(EndLooker, SkipsAndCopiesBetweenMarkersWithAWildcard) {
    const char marker[] = "AB*D";
    CharEndLooker looker(marker, '*', 4);
    std::istringstream in("xyABcDzwABQD");
    looker.skip(in);
    EXPECT_TRUE(looker.found());
    std::ostringstream first;
    looker.copy(in, first);
    EXPECT_EQ(first.str(), "ABcDzw");
    EXPECT_TRUE(looker.found());
    EXPECT_FALSE(in.fail());
    std::ostringstream second;
    looker.copy(in, second);
    EXPECT_EQ(second.str(), "ABQD");
    EXPECT_TRUE(in.fail());
}

TEST(EndLooker, ShortTailAndMissingMarker) {
    const char marker[] = "RIFF";
    CharEndLooker looker(marker, '*', 4);
    std::istringstream none("no marker here");
    looker.skip(none);
    EXPECT_TRUE(none.fail());
    EXPECT_FALSE(looker.found());

    std::istringstream tail("RIFFab");
    looker.skip(tail);
    std::ostringstream out;
    looker.copy(tail, out);
    EXPECT_EQ(out.str(), "RIFFab");  // fewer bytes than the marker after it still reach the output
}

TEST(EndLooker, RejectsBadMarkers) {
    try {
        CharEndLooker looker(nullptr, '*', 16);
        FAIL();
    } catch (const sx::EndLookerWrongEnd<char>& e) {
        EXPECT_EQ(e.getPointer(), nullptr);
        EXPECT_EQ(e.getTypeName(), "char *");
        EXPECT_EQ(e.getMessage(), "Ошибка: Передан недопустимый указатель на концевую строку.");
    }
    try {
        CharEndLooker looker("x", '*', 0);
        FAIL();
    } catch (const sx::EndLookerWrongSize& e) {
        EXPECT_EQ(e.getLength(), 0);
        EXPECT_EQ(e.getMessage(), "Ошибка: Длина концевой строки должна быть не меньше 1.");
    }
    EXPECT_THROW(CharEndLooker("x", '*', -3), sx::EndLookerException);
}

TEST(Fixer, RestoresAtScopeEndOrEarlyRelease) {
    bool flag = false;
    {
        tavik::fixer<bool> guard(flag, true);
        EXPECT_TRUE(flag);
    }
    EXPECT_FALSE(flag);
    {
        tavik::fixer<bool> guard(flag, true);
        guard.release();
        EXPECT_FALSE(flag);
        flag = true;
    }
    EXPECT_TRUE(flag);  // the end of a released guard changes nothing
}
