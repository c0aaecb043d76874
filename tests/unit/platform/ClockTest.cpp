#include "platform/Clock.h"

#include <chrono>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

double realMsOf(auto&& action) {
    auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

class ClockTest : public ::testing::Test {
protected:
    void TearDown() override { setTimeScaleForTesting(1.0); }
};

TEST_F(ClockTest, TimeScaleSpeedsUpSleepTicksAndNowAlike) {
    setTimeScaleForTesting(20.0);
    uint32_t tick0 = tickMs();
    DateTime now0 = now();
    double real = realMsOf([] { sleepMs(2000); });
    uint32_t ticks = tickMs() - tick0;
    double nowMs = (now() - now0) * kMsPerDay;

    // 2000 ms of the clock at scale 20 take about 100 ms of real time.
    EXPECT_GE(real, 95.0);
    EXPECT_LT(real, 1000.0);
    EXPECT_GE(ticks, 2000u);
    EXPECT_LT(ticks, 20000u);
    EXPECT_NEAR(nowMs, ticks, 2.0);
}

TEST_F(ClockTest, ScaleOneRunsInRealTime) {
    uint32_t tick0 = tickMs();
    double real = realMsOf([] { sleepMs(60); });
    EXPECT_GE(real, 59.0);
    EXPECT_GE(tickMs() - tick0, 59u);
}

TEST_F(ClockTest, ChangingTheScaleKeepsTheClockContinuous) {
    uint32_t before = tickMs();
    setTimeScaleForTesting(1000.0);
    uint32_t after = tickMs();
    EXPECT_LT(after - before, 100u);
}

TEST_F(ClockTest, DeadlinesCompareAcrossTheWrapOfTheTickCounter) {
    setTickForTesting(0xFFFFFF00u);
    uint32_t deadline = tickMs() + 1000; // wraps past zero
    EXPECT_LT(deadline, 0x1000u);
    EXPECT_FALSE(tickReached(deadline));
    EXPECT_GT(ticksLeft(deadline, tickMs()), 900);
    setTimeScaleForTesting(100.0);
    sleepMs(1100);
    EXPECT_TRUE(tickReached(deadline));
    EXPECT_LT(tickMs(), 0x10000u);
}

TEST_F(ClockTest, TickReachedComparesWithinHalfTheRange) {
    EXPECT_TRUE(tickReached(10, 10));
    EXPECT_TRUE(tickReached(0xFFFFFFF0u, 5));
    EXPECT_FALSE(tickReached(5, 0xFFFFFFF0u));
    EXPECT_FALSE(tickReached(11, 10));
}

TEST_F(ClockTest, NowCanBeSetForATest) {
    auto midnight = encodeDateTime({2026, 12, 8, 23, 59, 59, 0});
    ASSERT_TRUE(midnight);
    setNowForTesting(*midnight);
    setTimeScaleForTesting(100.0);
    sleepMs(2000);
    EXPECT_EQ(formatDate(now()), "09.12.2026");
}

} // namespace
} // namespace vetlina
