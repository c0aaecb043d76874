#include "platform/Clock.h"

#include "ScopedGlobals.h"
#include "TempFolder.h"
#include "platform/SharedClock.h"

#include <atomic>
#include <chrono>
#include <functional>
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

// ---- A test's shared clock ------------------------------------------------------------------

// The fastest scale in play: the program milliseconds a step may move the clock by are
// its real milliseconds times this.
constexpr double kFastest = 50.0;

class SharedClockForTestingTest : public ClockTest {
protected:
    ~SharedClockForTestingTest() override { leaveSharedClockForTesting(); }
    std::string path() const { return folder_.file("clock"); }
    test::TempFolder folder_;
};

TEST_F(SharedClockForTestingTest, JoiningAndLeavingKeepTheClockContinuousAndItsScaleShared) {
    setTimeScaleForTesting(2.0);
    // The simulator maps the file first: its scale is the network's, and its clock has
    // run for 500 s when the test joins.
    auto sim =
        SharedClock::open(path().c_str(), kFastest, SharedClock::realNowNs() - 10'000'000'000);
    ASSERT_TRUE(sim);
    // Each step, and the scale this process runs at after it. The tick and the date-time
    // move on across every step by no more than its real time allows.
    struct Step {
        const char* name;
        std::function<void()> action;
        double scale;
    };
    const Step steps[] = {
        {"join, at the simulator's scale",
         [&] { ASSERT_TRUE(joinSharedClockForTesting(path().c_str(), 10.0)); }, kFastest},
        {"a second join is refused",
         [&] { EXPECT_FALSE(joinSharedClockForTesting(path().c_str(), 10.0)); }, kFastest},
        {"the test's scale is the network's", [] { setTimeScaleForTesting(20.0); }, 20.0},
        {"the simulator woke 100 ms late: both slow down to real time",
         [&] {
             // Looked at once per look period: reported until then.
             while (sim->scale() != 1.0) {
                 sim->noteLate(100.0, SharedClock::realNowNs());
                 std::this_thread::sleep_for(std::chrono::milliseconds(2));
             }
         },
         1.0},
        {"leave, at the scale last set", [] { leaveSharedClockForTesting(); }, 20.0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        const uint32_t tick0 = tickMs();
        const DateTime now0 = now();
        const double real = realMsOf(step.action);
        const double movedMs = static_cast<int32_t>(tickMs() - tick0);
        EXPECT_GE(movedMs, 0.0);
        EXPECT_LE(movedMs, (real + 1.0) * kFastest + 1.0);
        EXPECT_GE(now(), now0);
        EXPECT_LE((now() - now0) * kMsPerDay, (real + 1.0) * kFastest + 1.0);
        EXPECT_EQ(timeScale(), step.scale);
    }
    EXPECT_EQ(sim->fastest(), 20.0);
    // A file that cannot be used leaves the clock as it was.
    EXPECT_FALSE(joinSharedClockForTesting(folder_.file("no/such/folder/clock").c_str(), 5.0));
    EXPECT_EQ(timeScale(), 20.0);
}

TEST_F(SharedClockForTestingTest, AJoinedProcessReadsTheTimeOfTheOtherMapping) {
    auto sim = SharedClock::open(path().c_str(), kFastest);
    ASSERT_TRUE(sim && joinSharedClockForTesting(path().c_str(), kFastest));
    // The simulator's milliseconds read just before and just after each tick.
    auto simMs = [&] { return sim->ms(SharedClock::realNowNs()); };
    const double before0 = simMs();
    const uint32_t tick0 = tickMs();
    const double after0 = simMs();
    sleepMs(500);
    const double before1 = simMs();
    const uint32_t tick1 = tickMs();
    const double after1 = simMs();
    const double ticks = static_cast<int32_t>(tick1 - tick0);
    EXPECT_GE(ticks, 500.0);
    // The tick is whole milliseconds.
    EXPECT_GE(ticks, before1 - after0 - 1.0);
    EXPECT_LE(ticks, after1 - before0 + 1.0);
}

// Worker threads read and sleep on the clock while the test joins and leaves a shared
// clock again and again: their ticks never go back, and every sleep lasts its time.
using SharedClockSwitchThreadTest = SharedClockForTestingTest;

TEST_F(SharedClockSwitchThreadTest, SwitchesAreSafeForThreadsOnTheClock) {
    setTimeScaleForTesting(kFastest);
    auto sim = SharedClock::open(path().c_str(), kFastest);
    ASSERT_TRUE(sim);
    std::atomic<bool> stop{false};
    std::atomic<int> faults{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i)
        workers.emplace_back([&] {
            uint32_t last = tickMs();
            while (!stop) {
                const uint32_t start = tickMs();
                sleepMs(30);
                const uint32_t tick = tickMs();
                if (static_cast<int32_t>(tick - last) < 0 ||
                    static_cast<int32_t>(tick - start) < 30)
                    ++faults;
                last = tick;
                (void)now();
                noteLateWakeUp(0.0);
            }
        });
    for (int i = 0; i < 20; ++i) {
        if (!joinSharedClockForTesting(path().c_str(), kFastest)) {
            ADD_FAILURE() << "join " << i;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        leaveSharedClockForTesting();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(faults, 0);
}

} // namespace
} // namespace vetlina
