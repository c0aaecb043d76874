// The headless run in this process, with doubles of the worker threads: the run ends
// by itself once every entry of an active run is finished, and prints what the
// threads hand to the protocol window. Run under ThreadSanitizer.
#include "RecordingDialogs.h"
#include "ScopedGlobals.h"
#include "TempFolder.h"
#include "WorkerDoubles.h"
#include "app/Complex.h"
#include "cli/HeadlessRun.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "scenario/Scenario.h"
#include "scenario/ScenarioFiles.h"

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace vetlina {
namespace {

using ::testing::HasSubstr;

class HeadlessRunThreadTest : public ::testing::Test {
protected:
    HeadlessRunThreadTest() : cwd_(folder_.path()), factory_(log_) {
        folder_.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\n");
        Scenario scenario;
        scenario.append("00000201", "201");
        scenario.append("00000202", "202");
        test::RecordingDialogs dialogs;
        saveScenario(scenario, "demo.scn", dialogs);
    }

    // The operator's end as the run receives it (the signal watcher takes it): a thread
    // ends the run once it has seen what the test waits for, instead of a duration.
    // Only while the run goes on: a signal that comes after the watcher has gone would
    // end the test's process.
    static void operatorEnds(test::DoubleModem& modem) {
        if (!modem.Terminated())
            ::kill(::getpid(), SIGTERM);
    }

    int run(RunArguments args) {
        StopSignals signals;
        return runHeadless(args, factory_, signals, out_, err_);
    }

    // The modem's work: it finishes the entries one by one, logging each.
    static void finishEntries(test::DoubleModem& modem) {
        Scenario& scenario = currentComplex()->scenario();
        for (int i = 0; i < scenario.count(); ++i) {
            modem.logEvent("started " + std::to_string(i), true);
            sleepMs(1000);
            scenario.entry(i).Finished = 1;
            modem.logEvent("finished " + std::to_string(i), true);
        }
    }

    test::ScopedTimeScale scale_{100.0};
    test::TempFolder folder_;
    test::CurrentDirectory cwd_;
    test::WorkerLog log_;
    test::DoubleFactory factory_;
    std::ostringstream out_, err_;
};

TEST_F(HeadlessRunThreadTest, ActiveRunEndsOnceEveryEntryIsFinished) {
    factory_.modemAtStart = finishEntries;
    RunArguments args;
    args.mode = StartMode::Active;
    args.scenarioFile = "demo.scn";
    args.exitWhenDone = true;
    args.stopAfter = 600; // a guard: the run must end long before
    uint32_t start = tickMs();
    EXPECT_EQ(run(args), kExitOperatorEnd) << err_.str();
    EXPECT_LT(tickMs() - start, 600000u) << "ended by the guard, not by the finished entries";
    std::string out = out_.str();
    // The end comes after the last entry is finished, and not before.
    auto at = [&](const std::string& text) { return out.find(text); };
    ASSERT_NE(at("finished 1"), std::string::npos) << out;
    EXPECT_LT(at("finished 0"), at("started 1"));
    EXPECT_LT(at("finished 1"), at("Работа закончена"));
    std::string protocol = readWholeFile("Prot/12345678/Prot.htm").value();
    EXPECT_THAT(toUtf8(protocol), HasSubstr("Активный старт, отработка сценария demo.scn"));
    EXPECT_EQ(test::checkLifecycle(log_.events(), {"analyzer", "modem"}, false), "");
}

TEST_F(HeadlessRunThreadTest, PassiveRunIgnoresExitWhenDone) {
    // A run that took --exit-when-done would end (and stop its threads) at once.
    factory_.modemAtStart = [](test::DoubleModem& modem) {
        modem.logEvent("waiting", true);
        if (modem.sleepUnlessTerminated(2000))
            modem.logEvent("still running", true);
        operatorEnds(modem);
    };
    RunArguments args;
    args.mode = StartMode::Passive;
    args.exitWhenDone = true;
    args.stopAfter = 600; // a guard: the modem ends the run
    EXPECT_EQ(run(args), kExitOperatorEnd);
    EXPECT_THAT(out_.str(), HasSubstr("waiting\n"));
    EXPECT_THAT(out_.str(), HasSubstr("still running\n"));
}

TEST_F(HeadlessRunThreadTest, RunOptionsReachTheThreads) {
    std::atomic<int> seen{-1};
    factory_.modemAtStart = [&](test::DoubleModem& modem) {
        RunOptions& o = currentComplex()->options();
        seen = o.saveResults * 1 + o.saveStatistics * 2 + o.stopOnNorms * 4 + o.simpleGenerator * 8;
        operatorEnds(modem);
    };
    RunArguments args;
    args.mode = StartMode::Passive;
    args.saveResults = true;
    args.simpleGenerator = true;
    args.stopAfter = 600; // a guard: the modem ends the run
    EXPECT_EQ(run(args), kExitOperatorEnd);
    EXPECT_EQ(seen.load(), 1 + 8);
}

TEST_F(HeadlessRunThreadTest, AnUnattendedCallersPauseWindowGoesOnAfterItsCountdown) {
    folder_.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\n[TIMES]\r\nAlarmTime=3\r\n");
    std::atomic<int32_t> shownFrom{0};
    std::atomic<int32_t> hiddenAfterMs{-1};
    // As the session dialogue does after unmet norms: show the window, then watch it.
    factory_.modemAtStart = [&](test::DoubleModem& modem) {
        modem.invokeSync([&] {
            modem.ui().models().pause.showAsCaller();
            shownFrom = modem.ui().models().pause.countdown;
        });
        const uint32_t start = tickMs();
        while (!modem.Terminated()) {
            bool visible = true;
            modem.invokeSync([&] { visible = modem.ui().models().pause.visible; });
            if (!visible) {
                hiddenAfterMs = static_cast<int32_t>(tickMs() - start);
                break;
            }
            sleepMs(100);
        }
        operatorEnds(modem);
    };
    RunArguments args;
    args.mode = StartMode::Passive;
    args.stopAfter = 600; // a guard: the modem ends the run
    EXPECT_EQ(run(args), kExitOperatorEnd);
    EXPECT_EQ(shownFrom.load(), 3);
    // Three ticks of a second (never sooner); the run goes on until the modem ends it,
    // so it was the countdown that hid the window, not the run's end.
    EXPECT_GE(hiddenAfterMs.load(), 2000);
}

TEST_F(HeadlessRunThreadTest, AnAnswerersPauseWindowWaitsWithoutCountdown) {
    std::atomic<bool> stillShown{false};
    factory_.modemAtStart = [&](test::DoubleModem& modem) {
        modem.invokeSync([&] { modem.ui().models().pause.showAsAnswerer(); });
        sleepMs(5000);
        modem.invokeSync([&] { stillShown = modem.ui().models().pause.visible; });
        modem.invokeSync([&] { modem.ui().models().pause.hide(); });
        operatorEnds(modem);
    };
    RunArguments args;
    args.mode = StartMode::Passive;
    args.stopAfter = 600; // a guard: the modem ends the run
    EXPECT_EQ(run(args), kExitOperatorEnd);
    EXPECT_TRUE(stillShown.load());
}

TEST_F(HeadlessRunThreadTest, AThreadThatFailsItsStartUpEndsTheRunWithStatus3) {
    factory_.failModem = true;
    RunArguments args;
    args.mode = StartMode::Passive;
    EXPECT_EQ(run(args), kExitRunEnd);
    EXPECT_EQ(err_.str(), "[modem] start-up failed\n");
    EXPECT_EQ(out_.str(), "COM: modem failed\n");
}

} // namespace
} // namespace vetlina
