#include <gtest/gtest.h>

#include <algorithm>

#include "model/UiTexts.h"

using namespace tavik::vemlis_loader;

TEST(UiTexts, RowsAreExactAndIndexedByLoadFlag) {
    EXPECT_EQ(uiText(0), "Language");
    EXPECT_EQ(uiText(37), "Recieved, kB:");
    EXPECT_EQ(uiText(42), "Abord download after current file");
    EXPECT_EQ(uiText(32), uiText(71));
    EXPECT_NE(&uiText(32), &uiText(71));
    EXPECT_NE(uiText(78).find("becauseerrors"), std::string::npos);
    EXPECT_EQ(uiText(26), "AVI files (*.avi)|*.avi|All files (*.*)|*.*");
    EXPECT_EQ(statusNames[NoLoad], "Not in queue");
    EXPECT_EQ(statusNames[Broken], "Wrong link");
    EXPECT_EQ(statusName(static_cast<LoadFlag>(9)), "Not in queue");
    EXPECT_EQ(reloadQuestions[NoLoad], nullptr);
    EXPECT_EQ(reloadQuestions[Queue], nullptr);
    EXPECT_EQ(std::string(reloadQuestions[Loaded]), uiText(50));
    EXPECT_EQ(std::string(reloadQuestions[Broken]), uiText(51));

    const std::string& help = uiText(25);
    EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 12);
    EXPECT_NE(help.find("following  substrings"), std::string::npos);
    EXPECT_TRUE(help.ends_with("\n/E - Title of episode in English without index"));
    EXPECT_THROW(uiText(79), std::out_of_range);
}
