// The data throughput test: its rules, and the step against a far complex that sends
// its pattern at the rate of a 2400 bit/s connection, or nothing.
#include "ScopedGlobals.h"
#include "SessionTestSupport.h"
#include "modem/ThroughputTest.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>

namespace vetlina {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

TEST(ThroughputRules, TheReferenceRateIs100PerCentAndNothingShowsAbove) {
    // 293.13 bytes a second for 10 s.
    EXPECT_NEAR(throughputPercent(2931, 10000), 99.99, 0.01);
    EXPECT_NEAR(throughputPercent(1466, 10000), 50.01, 0.01);
    EXPECT_EQ(throughputPercent(5000, 10000), 100.0f);
    EXPECT_EQ(throughputPercent(100, 0), 0.0f);
    EXPECT_EQ(toUtf8(throughputLine(97.777f)), "Пропускная способность = 97.78 %");
}

TEST(ThroughputRules, TheWarmUpIsAtMost20sAndOtherwiseThreeSecondsShortOfTheTest) {
    EXPECT_EQ(warmUpMs(60000), 20000u);
    EXPECT_EQ(warmUpMs(23000), 20000u);
    EXPECT_EQ(warmUpMs(22000), 19000u);
    EXPECT_EQ(warmUpMs(10000), 7000u);
    EXPECT_EQ(warmUpMs(2000), 0u);
}

TEST(ThroughputRules, TheDurationComesFromTheEntryAndIsHeldToADay) {
    ScenarioEntry e = defaultEntry(45000.0);
    e.DiscrTime = 60.0;
    EXPECT_EQ(throughputDurationMs(e), 60000u);
    e.DiscrTime = 1e300; // from a far complex
    EXPECT_EQ(throughputDurationMs(e), 86399000u);
    e.DiscrTime = -5.0;
    EXPECT_EQ(throughputDurationMs(e), 0u);
}

TEST(ThroughputRules, TheProgressBarFillsWithTheTimeAndStandsAtTheEnd) {
    EXPECT_EQ(throughputProgress(false, 60000, 60000), 0);
    EXPECT_EQ(throughputProgress(false, 30000, 60000), 50);
    EXPECT_EQ(throughputProgress(false, 299, 60000), 100); // 99.5 rounds up
    EXPECT_EQ(throughputProgress(true, -20, 60000), 100);
}

TEST(ThroughputRules, TheCommandLineSetsUp2400BitPerSecond) {
    ScenarioEntry e = defaultEntry(45000.0);
    EXPECT_EQ(throughputCommand(e, true), "AT%E2&L1S37=6%M0D\r\n");
    setText(e.DiscrAT, "&q5m1");
    EXPECT_EQ(throughputCommand(e, false), "AT%E2&Q5M1&L1S37=6%M0A\r\n");
}

// ---- The step ----------------------------------------------------------------------------

// A 2400 bit/s connection with the modems' error correction: 8.375 line bits per byte.
constexpr double kBytesPerSecond = 2400.0 / 8.375;

class ThroughputThreadTest : public ::testing::Test {
protected:
    explicit ThroughputThreadTest(double scale = 20.0) : scaled_(scale) {
        ScenarioEntry& e = room_.entry();
        e.DiscrTime = 10;
        room_.callingInCall();
        room_.farHangsUp(); // the analyzers hold the line
        room_.modem().SetCommand(ModemCommand::ThroughputTest);
    }

    // The far complex sends its pattern at the connection's rate while the connection
    // stands (after a short start), and what it sent is counted.
    void farSendsAtTheLinkRate() {
        const uint32_t start = tickMs();
        uint64_t sent = 0;
        // The connection comes once the modem has its command line.
        while (!room_.line.near->lines().carrier && ticksLeft(start + 60000, tickMs()) > 0)
            sleepMs(5);
        const uint32_t from = tickMs();
        while (room_.line.near->lines().carrier) {
            const double due = (tickMs() - from) / 1000.0 * kBytesPerSecond;
            while (sent < due) {
                const uint8_t byte = kPatternByte;
                room_.line.far->write(&byte, 1, 0);
                ++sent;
            }
            sleepMs(20);
        }
    }

    // The scale only paces the real-time waits of the test's own thread: the room runs
    // on the stepped clock.
    test::ScopedTimeScale scaled_;
    test::SessionRoom room_{ModemRole::Calling};
};

TEST_F(ThroughputThreadTest, AFarSideAtTheLinkRateMeasuresItsShareOfTheReference) {
    room_.runSides([this] { room_.modem().throughputTest(); }, [this] { farSendsAtTheLinkRate(); });
    MODEM& modem = room_.modem();
    // 286.6 of 293.13 bytes a second over the measuring, and the bytes that came before
    // it (the settling and the warm-up) on top: about 2 866 bytes in 9.7 s, 100.8 %, which
    // is shown and stored as 100.
    EXPECT_GE(modem.throughput, 97.0f);
    EXPECT_LE(modem.throughput, 100.0f);
    EXPECT_THAT(room_.events(), ElementsAre("Соединение на 2400 бит/с", "Пропускная способность"));
    EXPECT_THAT(room_.fake.commands(), Contains("AT%E2&L1S37=6%M0D"));
    const auto& results = room_.ui.models.results;
    EXPECT_EQ(toUtf8(results.caption), "Передача данных");
    ASSERT_EQ(results.lines.size(), 1u);
    EXPECT_EQ(toUtf8(results.lines[0]).rfind("Пропускная способность = ", 0), 0u)
        << toUtf8(results.lines[0]);
    EXPECT_EQ(room_.ui.models.show.kind(ShowKind::Disc).progress, 100);
    EXPECT_EQ(toUtf8(room_.ui.models.show.caption), "Пропускная способность");
    // Hung up, the port opened afresh, and on to the reconnection.
    EXPECT_FALSE(room_.line.near->dtr());
    EXPECT_TRUE(room_.line.near->isOpen());
    EXPECT_EQ(modem.command(), ModemCommand::Reconnect);
}

// The count of the measuring goes on from the warm-up's bytes. A paced line: once the
// connection stands, the far side's first 300 bytes are there at once, then 100 bytes a
// second follow, due by the reader's own clock. The test lasts 10 s from the connection:
// 300 ms of settling, a warm-up that takes everything there in one read, and about
// 9 700 ms of measuring. By hand: (300 + 100 x 10.0) bytes / 9.7 s = 134.0 bytes a second,
// x 100 / 293.13 = 45.72 %. A count that started afresh after the warm-up would give
// 100 / 293.13 = 34.11 %. Some 100 ms more or less of measuring move the figure by
// 0.5 point at most.
TEST_F(ThroughputThreadTest, TheMeasuringCountGoesOnFromTheWarmUp) {
    ASSERT_FALSE(room_.line.made.empty());
    constexpr uint64_t kBurst = 300;
    constexpr double kRate = 100.0; // bytes a second after the burst
    // The hook lives with the port, which the test closes and opens afresh at its end;
    // it holds what it uses.
    struct Pace {
        bool started = false;
        uint32_t from = 0;
        uint64_t sent = 0;
    };
    room_.line.made.front()->beforeRead = [pace = std::make_shared<Pace>(), near = room_.line.near,
                                           far = room_.line.far] {
        if (!near->lines().carrier)
            return;
        const uint32_t t = tickMs();
        if (!pace->started) {
            pace->started = true;
            pace->from = t;
        }
        const auto due = kBurst + static_cast<uint64_t>((t - pace->from) * kRate / 1000.0);
        std::vector<uint8_t> bytes(due - pace->sent, kPatternByte);
        pace->sent = due;
        far->write(bytes.data(), bytes.size(), 0);
    };
    room_.runSides([this] { room_.modem().throughputTest(); }, {});
    EXPECT_NEAR(room_.modem().throughput, 45.72, 0.7);
    EXPECT_EQ(room_.modem().command(), ModemCommand::Reconnect);
}

TEST_F(ThroughputThreadTest, AFarSideThatSendsNothingLeavesTheThroughputNotMeasured) {
    setText(room_.entry().DiscrAT, "&q5");
    room_.modem().throughput = 55.0f; // of an earlier session
    room_.runSides([this] { room_.modem().throughputTest(); }, {});
    EXPECT_EQ(room_.modem().throughput, -999.0f);
    EXPECT_THAT(room_.events(),
                ElementsAre("Соединение на 2400 бит/с (&q5)", "Пропускная способность",
                            " -пропускная способность не измерена"));
    EXPECT_THAT(room_.fake.commands(), Contains("AT%E2&Q5&L1S37=6%M0D"));
    const auto& results = room_.ui.models.results;
    EXPECT_EQ(toUtf8(results.caption), "Передача данных");
    ASSERT_EQ(results.lines.size(), 1u);
    EXPECT_EQ(toUtf8(results.lines[0]), "Пропускная способность не измерена");
    EXPECT_EQ(room_.modem().command(), ModemCommand::Reconnect);
}

TEST_F(ThroughputThreadTest, AModemThatRefusesTheSetUpGivesTheTestUp) {
    room_.fake.setAnswer([](const std::string& c) { return c == "ATZ" ? "0\r" : "4\r"; });
    room_.runSides([this] { room_.modem().throughputTest(); }, {});
    EXPECT_THAT(room_.events(),
                ElementsAre("Соединение на 2400 бит/с", "Неправильная команда настройки",
                            " -пропускная способность не измерена"));
    const auto& results = room_.ui.models.results;
    EXPECT_EQ(toUtf8(results.caption), "Соединение на 2400 бит/с");
    ASSERT_EQ(results.lines.size(), 1u);
    EXPECT_EQ(toUtf8(results.lines[0]), "Пропускная способность не измерена");
    EXPECT_EQ(room_.modem().throughput, -999.0f);
    EXPECT_EQ(room_.modem().command(), ModemCommand::Reconnect);
}

// Many command lines in the 90 s (their echoes keep their order on the stepped clock
// at any scale).
class ThroughputGiveUpThreadTest : public ThroughputThreadTest {};

TEST_F(ThroughputGiveUpThreadTest, NoConnectionWithin90SecondsGivesTheTestUp) {
    // Each attempt ends without carrier; the step keeps to its 90 s.
    room_.fake.setAnswer([](const std::string& c) { return c == "ATZ" ? "0\r" : "3\r"; });
    // The step's own time, on the modem's side (the test's thread may see the clock run
    // on while the sides end).
    uint32_t start = 0, end = 0;
    room_.runSides(
        [&] {
            start = tickMs();
            room_.modem().throughputTest();
            end = tickMs();
        },
        {});
    const int32_t took = -ticksLeft(start, end);
    EXPECT_GE(took, 90000) << took;
    // No attempt begun in the window's last 10 s, and none hanging in its 70 s wait for
    // the connection: the step ends before 100 s.
    EXPECT_LT(took, static_cast<int32_t>(kThroughputWindowMs + kThroughputNewAttemptMs)) << took;
    auto events = room_.events();
    EXPECT_GT(std::count(events.begin(), events.end(), " -неустанов взаимодействия"), 3);
    EXPECT_EQ(events.back(), " -пропускная способность не измерена");
    EXPECT_EQ(room_.modem().command(), ModemCommand::Reconnect);
}

} // namespace
} // namespace vetlina
