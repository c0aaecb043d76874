#include "platform/Clock.h"

#include "ScopedGlobals.h"

#include <atomic>
#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
    // The clock goes on from where it stood: across the change it moves by the real time
    // that passed meanwhile, taken at the new scale at most (a restart from the clock's
    // origin at the new scale would jump by the whole run so far, a thousandfold).
    setTimeScaleForTesting(1.0);
    sleepMs(20);
    uint32_t before = 0, after = 0;
    const double real = realMsOf([&] {
        before = tickMs();
        setTimeScaleForTesting(1000.0);
        after = tickMs();
    });
    EXPECT_LE(after - before, static_cast<uint32_t>(real * 1000.0) + 2u);
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

// The stepped clock: it stands still while a thread that uses it is at work (however
// long in real time), and wakes the sleepers one by one at their exact times.
TEST(SteppedClockThreadTest, TimeMovesOnlyWhenEveryThreadSleepsAndWakesThemInOrder) {
    std::vector<std::pair<std::string, uint32_t>> seen;
    uint32_t endOfStep = 0;
    {
        test::ScopedSteppedClock stepped;
        const uint32_t t0 = tickMs();
        std::mutex mutex;
        auto record = [&](const std::string& who) {
            std::lock_guard lock(mutex);
            seen.emplace_back(who, tickMs() - t0);
        };
        std::atomic<int> begun{0};
        std::thread a([&] {
            tickMs();
            ++begun;
            sleepMs(300);
            record("a");
            sleepMs(300);
            record("a again");
        });
        std::thread b([&] {
            tickMs();
            ++begun;
            sleepMs(500);
            record("b");
        });
        while (begun < 2)
            std::this_thread::yield();
        // This thread is at work: real time passes, the clock does not.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(tickMs() - t0, 0u);
        {
            test::StandAside aside;
            a.join();
            b.join();
        }
        endOfStep = tickMs() - t0;
        sleepMs(100); // alone, this thread's own sleep moves the clock
        EXPECT_EQ(tickMs() - t0, endOfStep + 100);
    }
    using ::testing::ElementsAre;
    using ::testing::Pair;
    EXPECT_THAT(seen, ElementsAre(Pair("a", 300u), Pair("b", 500u), Pair("a again", 600u)));
    EXPECT_GE(endOfStep, 600u);
}

} // namespace
} // namespace vetlina
