// Calling end to end: a run of this complex (its Complex with the modem thread running)
// dials through vetlina-sim, and the call outcomes the simulator produces are logged and
// counted in the scenario entry, which the test reads in memory once the run is over.
#include "ModemNetwork.h"
#include "ModemTestSupport.h"
#include "device/Rfc2217Port.h"
#include "modem/Calling.h"
#include "modem/Modem.h"
#include "platform/Clock.h"

#include <array>
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
        sim_ = std::make_unique<test::SimProcess>(network, room_.folder.path(), kScale,
                                                  test::SimClock::SharedWithThisProcess);
        ASSERT_TRUE(sim_->running());
        room_.configure(test::portsSection(*sim_, "A"));
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
    // A computer on a station's modem port that holds DTR up, so that its modem answers
    // calls.
    void holdAnsweringPort(const std::string& station = "B") {
        auto port = std::make_unique<Rfc2217Port>("127.0.0.1:" +
                                                  std::to_string(sim_->port(station, "modem")));
        ASSERT_EQ(port->open(LineSettings{}), PortOpenResult::Ok);
        ASSERT_TRUE(port->setDtr(true));
        answeringPorts_.push_back(std::move(port));
    }
    void endRun() { room_.complex.reset(); }

    test::ModemRoom room_;
    std::unique_ptr<test::SimProcess> sim_;
    std::vector<std::unique_ptr<Rfc2217Port>> answeringPorts_;
};

TEST_F(CallingSimThreadTest, ABusyNumberPausesFourTimesAndIsThenPostponedByPostTime) {
    nlohmann::json network = test::modemNetwork();
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
    nlohmann::json network = test::modemNetwork();
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

TEST_F(CallingSimThreadTest, AConnectionToAFarSideThatSaysNothingEndsAsBroken) {
    // B's modem answers, but no complex greets: the caller's greeting is never
    // acknowledged, and the link gives up after its 120 s.
    startSim(test::modemNetwork());
    holdAnsweringPort();
    startRun();
    ASSERT_TRUE(runUntilLine("Есть связь"));
    ASSERT_TRUE(runUntilLine("Отбой", 120000));
    ASSERT_TRUE(runUntilEvent("hang-up", "A"));
    endRun();
    auto lines = callLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Вызов 22222222 тел: 1002");
    EXPECT_EQ(lines[1], "Есть связь");
    // The carrier still stood: the caller cut the connection itself.
    EXPECT_EQ(lines[2], "Отбой (принудительный разрыв связи)");
    const ScenarioEntry& e = room_.scenario.entry(0);
    EXPECT_GE(e.Calls, 1);
    EXPECT_EQ(e.FailOtb, 1);
    EXPECT_EQ(e.FailNUS + e.FailNUV, 0);
    EXPECT_EQ(e.RunCounters[runcounter::ConsecutiveOtb], 1);
    EXPECT_FALSE(sim_->events("connect", "A").empty());
}

TEST_F(CallingSimThreadTest, EveryOutcomeOfTheNetworkIsCountedInItsEntry) {
    // B is busy once and then its modems do not train (one no-carrier outcome gives an
    // entry up here); D's trunk number finds no second dial tone on A's line; C never
    // rings; D's local number answers.
    nlohmann::json network = test::modemNetwork();
    network["stations"][0]["modem"]["storedProfile"] = "M0S0=2&D2&S1V0\\N2\\V1S7=20S37=4";
    network["stations"][1]["modem"]["storedProfile"] = "M0S0=2&D2&S1V0\\N2\\V1S7=10S37=4";
    nlohmann::json d = network["stations"][1];
    d["name"] = "D";
    d["number"] = "1004";
    d["aliases"] = {"81004"};
    network["stations"].push_back(d);
    network["faults"] = {{{"fault", "busy"}, {"station", "B"}, {"times", 1}},
                         {{"fault", "noCarrier"}, {"station", "B"}, {"times", 1}},
                         {{"fault", "noDialTone"}, {"station", "A"}, {"secondDialToneOnly", true}},
                         {{"fault", "noAnswer"}, {"station", "C"}}};
    startSim(network);
    room_.configure(test::portsSection(*sim_, "A") + "[TIMES]\nNumNoCarrier=1\n");
    holdAnsweringPort("B");
    holdAnsweringPort("D");
    room_.addEntry("22222222", "1002");
    room_.addEntry("44444444", "8w1004").Trunk8W = 1;
    room_.addEntry("33333333", "1003").LocalCall = 1;
    room_.addEntry("44444444", "1004");
    room_.complex->create(ModemRole::Calling, "Активный старт"_cp);
    ASSERT_TRUE(room_.complex->started());
    ASSERT_TRUE(runUntilLine("Есть связь", 120000));
    endRun();

    using Run = std::array<int, 4>;
    auto run = [](const ScenarioEntry& e) {
        return Run{e.RunCounters[0], e.RunCounters[1], e.RunCounters[2], e.RunCounters[3]};
    };
    // B: busy (НУС), then no carrier, which ends the entry.
    const ScenarioEntry& b = room_.scenario.entry(0);
    EXPECT_EQ(b.Calls, 2);
    EXPECT_EQ(b.FailNUS, 1);
    EXPECT_EQ(b.FailNUV, 1);
    EXPECT_EQ(b.FailOtb, 0);
    EXPECT_EQ(run(b), (Run{0, 1, 1, 0}));
    EXPECT_EQ(b.Finished, 1);
    // D by trunk: no second dial tone, and its one attempt (Trunk8W) postpones it.
    const ScenarioEntry& trunk = room_.scenario.entry(1);
    EXPECT_EQ(trunk.Calls, 1);
    EXPECT_EQ(trunk.FailNUS, 1);
    EXPECT_EQ(trunk.FailNUV + trunk.FailOtb, 0);
    EXPECT_EQ(run(trunk), (Run{1, 0, 0, 0}));
    EXPECT_EQ(trunk.Finished, 0);
    // C: no answer, postponed after its one attempt.
    const ScenarioEntry& c = room_.scenario.entry(2);
    EXPECT_EQ(c.Calls, 1);
    EXPECT_EQ(c.FailNUS, 1);
    EXPECT_EQ(run(c), (Run{1, 0, 0, 0}));
    // D by its local number: connected, nothing failed.
    const ScenarioEntry& local = room_.scenario.entry(3);
    EXPECT_GE(local.Calls, 1);
    EXPECT_EQ(local.FailNUS + local.FailNUV + local.FailOtb, 0);
    EXPECT_EQ(run(local), (Run{0, 0, 0, 0}));

    auto lines = callLines();
    using ::testing::Contains;
    using ::testing::StartsWith;
    EXPECT_THAT(lines, Contains("НУС (занято). Пауза 15 сек"));
    EXPECT_THAT(lines, Contains("НУВ (нет несущей). Выполнение прекращено"));
    EXPECT_THAT(lines, Contains(StartsWith("НУС (нет ответа станции). Вызов отложен до ")));
    EXPECT_THAT(lines, Contains(StartsWith("НУС (нет ответа). Вызов отложен до ")));
}

} // namespace
} // namespace vetlina
