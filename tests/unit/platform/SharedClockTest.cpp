// The clock of a simulated network's processes: two mappings of one file stand for two
// processes; real instants are given by the test, so that what it checks does not
// depend on the machine's speed.
#include "platform/SharedClock.h"

#include "TempFolder.h"

#include <gtest/gtest.h>
#include <optional>
#include <utility>
#include <vector>

namespace vetlina {
namespace {

constexpr int64_t kMs = 1'000'000; // nanoseconds
constexpr int64_t kLook = SharedClock::kLookNs;

class SharedClockTest : public ::testing::Test {
protected:
    std::string path() const { return folder_.file("clock"); }
    test::TempFolder folder_;
};

TEST_F(SharedClockTest, TheProcessesOfANetworkReadOneTimeAtTheScaleOfTheFirst) {
    const int64_t t0 = 1000 * kMs;
    auto sim = SharedClock::open(path().c_str(), 10.0, t0);
    ASSERT_TRUE(sim);
    // A complex started later, with another scale in its environment, joins the clock.
    auto complex = SharedClock::open(path().c_str(), 50.0, t0 + 300 * kMs);
    ASSERT_TRUE(complex);
    EXPECT_EQ(complex->scale(), 10.0);
    EXPECT_DOUBLE_EQ(sim->ms(t0 + 300 * kMs), 3000.0);
    EXPECT_DOUBLE_EQ(complex->ms(t0 + 300 * kMs), 3000.0);
    // A file that cannot be made leaves the process on a clock of its own.
    EXPECT_FALSE(SharedClock::open(folder_.file("no/such/folder/clock").c_str(), 10.0, t0));
}

TEST_F(SharedClockTest, LateWakeUpsSlowTheClockAndPunctualOnesBringItBack) {
    const int64_t t0 = 0;
    auto a = SharedClock::open(path().c_str(), 20.0, t0);
    auto b = SharedClock::open(path().c_str(), 20.0, t0);
    ASSERT_TRUE(a && b);
    int64_t t = t0;
    double before = a->ms(t);
    // Each step: one look period later, a wake-up `late` real ms late (or none); the
    // scale that follows from it, and the program time continuous across the change.
    struct Step {
        double lateMs;
        double scale;
    };
    const Step steps[] = {
        {1.0, 20.0},                // 20 ms of program time: tolerable
        {10.0, 2.0},                // 200 ms: slowed so that it would have cost 20 ms
        {100.0, 1.0},               // never slower than real time
        {0.0, 1.1},                 // punctual: a tenth faster per look
        {0.0, 1.21},  {30.0, 1.21}, // 36 ms: tolerable, and not punctual enough to speed up
    };
    for (const auto& step : steps) {
        t += kLook;
        const double expected = before + static_cast<double>(kLook) / kMs * a->scale();
        // Reported by either process: both read the change.
        b->noteLate(step.lateMs, t);
        SCOPED_TRACE(step.lateMs);
        EXPECT_NEAR(a->scale(), step.scale, 1e-9);
        EXPECT_NEAR(b->ms(t), expected, 1e-6);
        before = b->ms(t);
    }
    // Never faster than asked for.
    for (int i = 0; i < 60; ++i)
        a->noteLate(0.0, t += kLook);
    EXPECT_EQ(a->scale(), 20.0);
    // Reports within one look period are gathered: the worst of them counts once.
    a->noteLate(15.0, t + kLook / 4);
    a->noteLate(1.0, t + kLook / 2);
    EXPECT_EQ(a->scale(), 20.0);
    a->noteLate(0.0, t + kLook);
    EXPECT_NEAR(a->scale(), 40.0 / 15.0 / 2.0, 1e-9);
}

// The holder's real instants, as the clock reads them once its origin is locked.
int64_t holderNow = 0;
int64_t holderClock() {
    return holderNow;
}

TEST_F(SharedClockTest, ProgramTimeRunsOnlyWhileTheHolderComesRound) {
    // 100 ms of the clock at scale 10.
    constexpr auto kHold = static_cast<int64_t>(SharedClock::kHoldMs / 10.0 * kMs);
    constexpr int64_t kGone = SharedClock::kGoneNs;
    auto sim = SharedClock::open(path().c_str(), 10.0, 0);
    auto complex = SharedClock::open(path().c_str(), 10.0, 0);
    ASSERT_TRUE(sim && complex);
    holderNow = 100 * kMs;
    sim->hold(holderClock);
    // Each row: the holder's sign of life (or none), and the program time a complex
    // reads at real instants after it.
    struct Row {
        const char* what;
        std::optional<int64_t> aliveAt;
        std::vector<std::pair<int64_t, double>> reads; // real instant, program ms
    };
    const Row rows[] = {
        {"runs within the hold, stands still past it",
         std::nullopt,
         {{105 * kMs, 1050.0}, {100 * kMs + kHold, 1100.0}, {400 * kMs, 1100.0}}},
        {"goes on from where it stood at the next sign of life",
         500 * kMs,
         {{500 * kMs, 1100.0}, {505 * kMs, 1150.0}, {600 * kMs, 1200.0}}},
        {"a holder silent for long is taken for gone",
         std::nullopt,
         {{500 * kMs + kGone, 1200.0}, {500 * kMs + kGone + 10 * kMs, 1300.0}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.aliveAt) {
            holderNow = *row.aliveAt;
            sim->alive(holderClock);
        }
        for (auto [at, expected] : row.reads)
            EXPECT_NEAR(complex->ms(at), expected, 1e-6) << at / kMs << " ms";
    }
    // A late wake-up reported while the clock stands still slows it down from the time
    // it stood at, not from the real time that passed.
    holderNow = 10'000 * kMs;
    sim->alive(holderClock);
    const double stood = complex->ms(10'000 * kMs + kHold);
    complex->noteLate(100.0, 10'000 * kMs + kHold + kLook);
    EXPECT_EQ(complex->scale(), 1.0);
    EXPECT_NEAR(complex->ms(10'000 * kMs + kHold + kLook), stood, 1e-6);
    // At the slower scale the hold is as long in program time: longer in real time.
    holderNow = 10'500 * kMs;
    sim->alive(holderClock);
    const double resumed = complex->ms(10'500 * kMs);
    EXPECT_NEAR(complex->ms(10'550 * kMs), resumed + 50.0, 1e-6);
    EXPECT_NEAR(complex->ms(10'800 * kMs), resumed + SharedClock::kHoldMs, 1e-6);
    // Let go: the clock runs on, continuous, without a holder.
    holderNow = 11'000 * kMs;
    sim->release(holderClock);
    const double let = resumed + SharedClock::kHoldMs;
    EXPECT_NEAR(complex->ms(11'000 * kMs), let, 1e-6);
    EXPECT_NEAR(complex->ms(12'000 * kMs), let + 1000.0, 1e-6);
    // alive() after letting go does not take the clock again.
    holderNow = 13'000 * kMs;
    sim->alive(holderClock);
    EXPECT_NEAR(complex->ms(13'000 * kMs + kGone), let + 2000.0 + kGone / kMs, 1e-6);
}

} // namespace
} // namespace vetlina
