#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "model/Arena.h"

using namespace tavik::vemlis_loader;

TEST(Arena, HandsOutAlignedDisjointMemoryOfAnySize) {
    Arena arena;
    std::vector<std::pair<unsigned char*, std::size_t>> pieces;
    // Small pieces, texts that leave the next piece unaligned, and pieces beyond a block.
    for (std::size_t size : {1, 7, 16, 100, 65536, 3, 200000, 24, 0, 64}) {
        arena.keep("abc");
        auto* p = static_cast<unsigned char*>(arena.allocate(size));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u) << size;
        for (std::size_t i = 0; i < size; ++i) p[i] = static_cast<unsigned char>(pieces.size());
        pieces.emplace_back(p, size);
    }
    for (std::size_t n = 0; n < pieces.size(); ++n)
        for (std::size_t i = 0; i < pieces[n].second; ++i) ASSERT_EQ(pieces[n].first[i], n) << n << " " << i;
}

TEST(Arena, KeepsCopiesOfTexts) {
    Arena arena;
    std::string source = "http://host/file.avi";
    const std::string_view kept = arena.keep(source);
    source.assign(source.size(), 'x');
    EXPECT_EQ(kept, "http://host/file.avi");
    EXPECT_EQ(arena.keep(""), "");
    const std::string big(100000, 'b');
    EXPECT_EQ(arena.keep(big), big);
}

TEST(Arena, ServesStandardContainers) {
    Arena arena;
    std::vector<int, ArenaAllocator<int>> numbers{ArenaAllocator<int>(arena)};
    for (int i = 0; i < 10000; ++i) numbers.push_back(i);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(numbers[static_cast<std::size_t>(i)], i);

    using Text = std::basic_string<char, std::char_traits<char>, ArenaAllocator<char>>;
    std::map<int, Text, std::less<int>, ArenaAllocator<std::pair<const int, Text>>> texts{
        ArenaAllocator<std::pair<const int, Text>>(arena)};
    for (int i = 0; i < 100; ++i)
        texts.emplace(i, Text(std::string(static_cast<std::size_t>(i), 'a'), texts.get_allocator()));
    texts.at(50).assign("replaced, and longer than any small-string buffer");
    EXPECT_EQ(texts.at(99).size(), 99u);
    EXPECT_EQ(texts.at(50), "replaced, and longer than any small-string buffer");
}
