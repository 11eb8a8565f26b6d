#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdio>
#include <thread>

#include "FakeUI.h"
#include "app/IdHTTPWithSpeedCounter.h"

using vemlis::TIdHTTPWithSpeedCounter;

// The figures a transfer reports, sampled on the GUI thread and told as the window's texts.
TEST(SpeedCounter, SamplesOnlyWhileATransferRunsAndTextsFollowTheSamples) {
    TIdHTTPWithSpeedCounter http;
    // At rest the sampling timer wakes nobody; a transfer on another thread starts and ends it.
    QCoreApplication::processEvents();
    EXPECT_FALSE(http.isSampling());
    std::thread([&] { http.getMeter().started(10); }).join();
    EXPECT_TRUE(vemlis::testing::waitUntil([&] { return http.isSampling(); }));
    std::thread([&] { http.getMeter().ended(); }).join();
    EXPECT_TRUE(vemlis::testing::waitUntil([&] { return !http.isSampling(); }));

    EXPECT_EQ(http.getSize(), "0");
    EXPECT_EQ(http.getRecieved(), "-");
    EXPECT_EQ(http.getSpeed(), "-");
    EXPECT_EQ(http.getTime(), "-");

    http.getMeter().started(1000000);
    EXPECT_EQ(http.getSize(), "976");
    http.getMeter().reached(2048);
    http.onTimer();
    EXPECT_EQ(http.getRecieved(), "2");
    EXPECT_EQ(http.getSpeed(), "-");  // one sample: not yet
    EXPECT_EQ(http.getTime(), "-");
    http.getMeter().reached(2048 + 1264);  // 1264 bytes per 100 ms = 12.34 kB/s
    http.onTimer();
    EXPECT_EQ(http.getSpeed(), "12.3");
    EXPECT_EQ(http.getTime(), "-");  // a tenth of a second says nothing of the time left
    for (int i = 2; i < 30; ++i) {
        http.getMeter().reached(2048 + 1264 * i);
        http.onTimer();
    }
    // (1000000 - 38704) / 1024 = 938 kB at 12.34375 kB/s = 75.99 s
    EXPECT_EQ(http.getTime(), "0:01:15");

    http.onTimer();  // a stall: the newest sample equals the one before, the window still moves
    EXPECT_EQ(http.getSpeed(), "11.9");
    http.getMeter().ended();
    EXPECT_EQ(http.getRecieved(), "-");
    EXPECT_EQ(http.getSpeed(), "-");
    EXPECT_EQ(http.getSize(), "976");
}

TEST(SpeedCounter, WindowIsTheLastHundredSamplesAndCountsAreSixtyFourBit) {
    TIdHTTPWithSpeedCounter http;
    const std::int64_t total = 6LL * 1024 * 1024 * 1024;  // 6 GiB
    http.getMeter().started(total);
    std::int64_t count = 5LL * 1024 * 1024 * 1024;
    for (int i = 0; i < 150; ++i) {
        // 10 MiB per tick for the first 50 ticks, then 1 MiB: only the last 10 s count.
        count += i < 50 ? 10 * 1024 * 1024 : 1024 * 1024;
        http.getMeter().reached(count);
        http.onTimer();
    }
    EXPECT_EQ(http.getSpeed(), "10240.0");
    EXPECT_EQ(http.getRecieved(), std::to_string(count / 1024));
    // (6 GiB - count) / 1024 kB at 10240 kB/s
    const std::int64_t seconds = static_cast<std::int64_t>((total - count) / 1024 / 10240.0L);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    EXPECT_EQ(http.getTime(), expected);

    // Nothing to count down without a length (0), or past the length announced.
    for (const std::int64_t announced : {std::int64_t(0), count - 1}) {
        TIdHTTPWithSpeedCounter other;
        other.getMeter().started(announced);
        other.getMeter().reached(count - 1024 * 1024);
        other.onTimer();
        other.getMeter().reached(count);
        other.onTimer();
        EXPECT_EQ(other.getSpeed(), "10240.0");
        EXPECT_EQ(other.getTime(), "-") << announced;
    }
}

TEST(SpeedCounter, HourFormatAndNoFigureBeyondADay) {
    for (const std::int64_t kB : {std::int64_t(45000), std::int64_t(864010)}) {
        TIdHTTPWithSpeedCounter http;
        http.getMeter().started((kB + 31) * 1024);
        for (int i = 1; i <= 31; ++i) {
            http.getMeter().reached(1024 * i);  // 1024 bytes per 100 ms = 10 kB/s
            http.onTimer();
        }
        EXPECT_EQ(http.getSpeed(), "10.0");
        EXPECT_EQ(http.getTime(), kB == 45000 ? "1:15:00" : "\u2014");  // 45000 kB at 10 kB/s; a day and a second
    }
}

