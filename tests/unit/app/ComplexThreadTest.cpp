// The worker threads of a run against its teardown, and their event lines in one
// document. Run under ThreadSanitizer.
#include "ScopedGlobals.h"
#include "ScopedRun.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "WorkerDoubles.h"
#include "app/Complex.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "scenario/Scenario.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>

namespace vetlina {
namespace {

class ComplexThreadTest : public ::testing::Test {
protected:
    ComplexThreadTest() : cwd_(folder_.path()), factory_(log_) {
        folder_.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\n");
    }

    std::unique_ptr<Complex> start() {
        auto complex = std::make_unique<Complex>(ui_.bridge, factory_, scenario_, "12345678");
        current_.set(complex.get());
        complex->create(ModemRole::Calling, "start");
        return complex;
    }

    test::ScopedTimeScale scale_{20.0};
    test::ScopedCurrentComplex current_{nullptr};
    test::TempFolder folder_;
    test::CurrentDirectory cwd_;
    test::TestUi ui_;
    test::WorkerLog log_;
    test::DoubleFactory factory_;
    Scenario scenario_;
};

TEST_F(ComplexThreadTest, TeardownServesAWorkerBlockedInAHandOff) {
    std::atomic<bool> inHandOff{false};
    std::atomic<int> handOffs{0};
    // The modem's step keeps handing lines to the window until it is stopped.
    factory_.modemStep = [&](test::DoubleModem& modem) {
        while (!modem.Terminated()) {
            inHandOff = true;
            modem.showProtocolLine("busy");
            ++handOffs;
        }
    };
    auto complex = start();
    ASSERT_TRUE(complex->started());
    factory_.modem->SetCommand(ModemCommand::CallerDialogue);
    // Nobody serves yet: the modem waits inside its first hand-off.
    while (!inHandOff.load())
        sleepMs(1);
    sleepMs(20);
    EXPECT_EQ(handOffs.load(), 0);

    complex.reset();
    current_.set(nullptr);
    EXPECT_GE(handOffs.load(), 1);
    EXPECT_THAT(log_.events(), testing::Contains("modem ended"));
    EXPECT_THAT(log_.events(), testing::Contains("modem deleted"));
}

TEST_F(ComplexThreadTest, AThreadEndingLateMayStillReachTheOtherThread) {
    std::atomic<int> lateResult{-2};
    // After its loop, the modem sets the analyzer's command, as a modem in the middle of
    // a hand-over would; the analyzer must still exist, and stay stopped.
    factory_.modemAtEnd = [&](test::DoubleModem&) {
        sleepMs(100);
        Complex* complex = currentComplex();
        lateResult = complex->analyzerThread->SetCommand(AnalyzerCommand::MeasureFirst) ? 1 : 0;
    };
    auto complex = start();
    ASSERT_TRUE(complex->started());
    ui_.bridge.serveUntil([&] { return log_.events().size() >= 4; });
    complex.reset();
    current_.set(nullptr);
    EXPECT_EQ(lateResult.load(), 0);
    auto events = log_.events();
    auto at = [&](const std::string& e) { return std::find(events.begin(), events.end(), e); };
    EXPECT_LT(at("modem ended"), at("analyzer deleted"));
}

TEST_F(ComplexThreadTest, EventLinesOfThreeThreadsStayWhole) {
    constexpr int kLines = 150;
    auto writeLines = [](EventWriter& writer, const std::string& who) {
        for (int i = 0; i < kLines; ++i)
            writer.logEvent(who + " " + std::to_string(i), i % 2 == 0);
    };
    factory_.analyzerStep = [&](test::DoubleAnalyzer& a) { writeLines(a, "A"); };
    factory_.modemStep = [&](test::DoubleModem& m) { writeLines(m, "M"); };
    auto complex = start();
    ASSERT_TRUE(complex->started());
    factory_.analyzer->SetCommand(AnalyzerCommand::MeasureFirst);
    factory_.modem->SetCommand(ModemCommand::WaitForCall);
    writeLines(*complex, "G");
    ui_.bridge.serveUntil([&] {
        return factory_.analyzer->steps.load() == 1 && factory_.modem->steps.load() == 1 &&
               factory_.analyzer->command() == AnalyzerCommand::Idle &&
               factory_.modem->command() == ModemCommand::Idle;
    });
    complex.reset();
    current_.set(nullptr);

    std::string text = readWholeFile("Prot/12345678/Prot.htm").value();
    std::string lines = text.substr(text.find("start") + 5);
    std::regex record("<br>\\d\\d:\\d\\d:\\d\\d ([AMG]) (\\d+)\r\n");
    std::map<std::string, int> next;
    auto it = std::sregex_iterator(lines.begin(), lines.end(), record);
    std::size_t covered = 0;
    for (; it != std::sregex_iterator(); ++it) {
        EXPECT_EQ(static_cast<std::size_t>(it->position()), covered) << "torn record";
        covered += it->length();
        // Each writer's lines come in its own order.
        EXPECT_EQ(std::stoi((*it)[2]), next[(*it)[1]]++);
    }
    EXPECT_EQ(covered, lines.size());
    EXPECT_EQ(next["A"], kLines);
    EXPECT_EQ(next["M"], kLines);
    EXPECT_EQ(next["G"], kLines);
    EXPECT_EQ(ui_.models.protocol.lines().size(), 3u * kLines);
}

} // namespace
} // namespace vetlina
