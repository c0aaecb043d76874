// Calling end to end: a run of this complex (its Complex with the modem thread running)
// dials through vetlina-sim, and the call outcomes the simulator produces are logged and
// counted in the scenario entry, which the test reads in memory once the run is over.
#include "ModemTestSupport.h"
#include "SimProcess.h"
#include "device/Rfc2217Port.h"
#include "modem/Calling.h"
#include "modem/Modem.h"
#include "platform/Clock.h"

#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

constexpr double kScale = 20.0;

class CallingSimThreadTest : public ::testing::Test {
protected:
    CallingSimThreadTest() { setTimeScaleForTesting(kScale); }
    ~CallingSimThreadTest() override { room_.complex.reset(); }

    void startSim(const nlohmann::json& network) {
        sim_ = std::make_unique<test::SimProcess>(network, room_.folder.path(), kScale);
        ASSERT_TRUE(sim_->running());
        room_.configure(sim_->portsSection("A"));
    }
    // The run of this complex, calling B.
    void startRun() {
        room_.addEntry("22222222", "1002");
        room_.complex->create(ModemRole::Calling, "Активный старт"_cp);
        ASSERT_TRUE(room_.complex->started());
    }
    // Serves the run (its hand-offs to the windows) until the condition holds or the real
    // time is up.
    bool serveUntil(const std::function<bool()>& condition, int realMs) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
        bool met = false;
        room_.ui.bridge.serveUntil([&] {
            met = condition();
            return met || std::chrono::steady_clock::now() > end;
        });
        return met;
    }
    // Serves the run until a protocol line holds the text.
    bool runUntilLine(const std::string& text, int realMs = 60000) {
        bool found = serveUntil(
            [&] {
                for (const auto& line : room_.ui.protocolLines())
                    if (line.find(text) != std::string::npos)
                        return true;
                return false;
            },
            realMs);
        if (!found)
            ADD_FAILURE() << "no line holding \"" << text << "\" in "
                          << ::testing::PrintToString(room_.ui.protocolLines());
        return found;
    }
    // Serves the run until the simulator has logged the event of the station.
    bool runUntilEvent(const std::string& event, const std::string& station, int realMs = 60000) {
        return serveUntil([&] { return !sim_->events(event, station).empty(); }, realMs);
    }
    // The event lines from the first call on, without their times.
    std::vector<std::string> callLines() {
        std::vector<std::string> out;
        bool calling = false;
        for (const auto& line : room_.ui.protocolLines()) {
            std::string text = line.size() > 9 && line[2] == ':' ? line.substr(9) : line;
            calling = calling || text.rfind("Вызов", 0) == 0;
            if (calling && !text.empty())
                out.push_back(text);
        }
        return out;
    }
    // A computer on B's modem port that holds DTR up, so that B's modem answers calls.
    void holdAnsweringPort() {
        answeringPort_ =
            std::make_unique<Rfc2217Port>("127.0.0.1:" + std::to_string(sim_->port("B")));
        ASSERT_EQ(answeringPort_->open(LineSettings{}), PortOpenResult::Ok);
        ASSERT_TRUE(answeringPort_->setDtr(true));
    }
    void endRun() { room_.complex.reset(); }

    test::ModemRoom room_;
    std::unique_ptr<test::SimProcess> sim_;
    std::unique_ptr<Rfc2217Port> answeringPort_;
};

TEST_F(CallingSimThreadTest, ABusyNumberPausesFourTimesAndIsThenPostponedByPostTime) {
    nlohmann::json network = test::simNetwork();
    network["faults"] = {{{"fault", "busy"}, {"station", "B"}}};
    startSim(network);
    startRun();
    ASSERT_TRUE(runUntilLine(" - готов к выполнению"));
    const DateTime runStart = now();
    ASSERT_TRUE(runUntilLine("НУС (занято). Вызов отложен до ", 120000));
    endRun();

    const std::string call = "Вызов 22222222 тел: 1002";
    const std::string pause = "НУС (занято). Пауза 15 сек";
    auto lines = callLines();
    ASSERT_EQ(lines.size(), 10u) << ::testing::PrintToString(lines);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[2 * i], call);
        EXPECT_EQ(lines[2 * i + 1], pause);
    }
    EXPECT_EQ(lines[8], call);
    const ScenarioEntry& e = room_.scenario.entry(0);
    EXPECT_EQ(lines[9], "НУС (занято). Вызов отложен до " + formatTime(e.NextTime));

    EXPECT_EQ(e.Calls, 5);
    EXPECT_EQ(e.FailNUS, 5);
    EXPECT_EQ(e.FailNUV, 0);
    EXPECT_EQ(e.FailOtb, 0);
    EXPECT_EQ(e.RunCounters[runcounter::Postponements], 1);
    EXPECT_EQ(e.RunCounters[runcounter::ConsecutiveNus], 0);
    EXPECT_EQ(e.Finished, 0);
    // Four pauses of 15 s lie between the first call and the postponement by 600 s.
    EXPECT_GT(static_cast<double>(e.NextTime), runStart + 660.0 / 86400.0);
    EXPECT_LT(static_cast<double>(e.NextTime), runStart + 780.0 / 86400.0);
    EXPECT_EQ(sim_->events("busy", "A").size(), 5u);
}

TEST_F(CallingSimThreadTest, ThreeCallsWithoutCarrierGiveTheEntryUpAndTheComplexAnswers) {
    nlohmann::json network = test::simNetwork();
    // A's modem waits 20 s for the far carrier, so that each failed call is short, and
    // B's gives up 10 s after it answered, so that its line is free for the next call.
    network["stations"][0]["modem"]["storedProfile"] = "M0S0=2&D2&S1V0\\N2\\V1S7=20S37=4";
    network["stations"][1]["modem"]["storedProfile"] = "M0S0=2&D2&S1V0\\N2\\V1S7=10S37=4";
    network["faults"] = {{{"fault", "noCarrier"}, {"station", "B"}}};
    startSim(network);
    holdAnsweringPort();
    startRun();
    ASSERT_TRUE(runUntilLine("НУВ (нет несущей). Выполнение прекращено", 120000));
    ASSERT_TRUE(runUntilLine("Жду звонка"));
    endRun();

    auto lines = callLines();
    const std::string call = "Вызов 22222222 тел: 1002";
    EXPECT_THAT(lines,
                ::testing::ElementsAre(call, "НУВ (нет несущей)", call, "НУВ (нет несущей)", call,
                                       "НУВ (нет несущей). Выполнение прекращено", "Жду звонка"));
    const ScenarioEntry& e = room_.scenario.entry(0);
    EXPECT_EQ(e.Calls, 3);
    EXPECT_EQ(e.FailNUV, 3);
    EXPECT_EQ(e.FailNUS, 0);
    EXPECT_EQ(e.RunCounters[runcounter::ConsecutiveNoCarrier], 3);
    EXPECT_EQ(e.Finished, 1);
    EXPECT_EQ(sim_->events("fault", "B").size(), 3u);
}

TEST_F(CallingSimThreadTest, AConnectionReachesTheCallersDialogueWithoutCountingAFailure) {
    startSim(test::simNetwork());
    holdAnsweringPort();
    startRun();
    ASSERT_TRUE(runUntilLine("Есть связь"));
    // The connection ends cleanly: B's modem reports the far side gone.
    ASSERT_TRUE(runUntilEvent("hang-up", "B"));
    endRun();
    auto lines = callLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Вызов 22222222 тел: 1002");
    EXPECT_EQ(lines[1], "Есть связь");
    const ScenarioEntry& e = room_.scenario.entry(0);
    EXPECT_GE(e.Calls, 1);
    EXPECT_EQ(e.FailNUS + e.FailNUV + e.FailOtb, 0);
    EXPECT_FALSE(sim_->events("connect", "A").empty());
}

} // namespace
} // namespace vetlina
