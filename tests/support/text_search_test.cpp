#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/TextSearch.h"

using namespace tavik::text;

// Every search against the plain one of the standard library, on texts long enough for every
// vector width and short enough for the scalar tails, from every kind of start.
TEST(TextSearch, AgreesWithThePlainSearches) {
    std::mt19937 random(5);
    const std::string alphabet = "<>/\"=aEnt \r\n";
    for (int round = 0; round < 4000; ++round) {
        std::string text(random() % 300, ' ');
        for (char& c : text) c = alphabet[random() % (round % 2 ? 10 : alphabet.size())];
        std::string pattern(1 + random() % 6, ' ');
        for (char& c : pattern) c = alphabet[random() % 10];
        const std::size_t from = random() % (text.size() + 2);
        const std::string_view view(text);
        ASSERT_EQ(findText(text, pattern, from), from > text.size() ? std::string_view::npos : view.find(pattern, from))
            << text << " / " << pattern << " / " << from;
        if (from <= text.size()) {
            ASSERT_EQ(findFirstOf(text, from, {'"', '<', '\n'}), view.find_first_of("\"<\n", from)) << text;
        }
        ASSERT_EQ(hasLineBreak(text), view.find_first_of("\r\n") != std::string_view::npos) << text;
        std::string scratch;
        const std::string_view line = oneLine(text, scratch);
        ASSERT_EQ(line.size(), text.size());
        ASSERT_EQ(line.find_first_of("\r\n"), std::string_view::npos);
    }
}
