// The analyzer thread against the simulated ZMK-5 of vetlina-sim: start-up with every
// failure the instrument can show, and the measurement sequence of two complexes in a
// call, as the simulator's event log records it. The program's analyzer reaches its
// port as the program does, through PORTS in Vetlina.ini and an RFC 2217 client.
#include "ScopedGlobals.h"
#include "ScopedRun.h"
#include "SimSupport.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "analyzer/ZMK.h"
#include "app/Complex.h"
#include "device/ComPort.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The simulator and this process run on one shared clock (SimClock::SharedWithThisProcess):
// a busy machine wakes either late, and the clock slows down for both, so the simulator's
// stamps and the program's offsets are read on one governed time.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kSimScale = 4.0;
// A sanitized build analyses the frame sets several times slower: work, not a late
// wake-up, so the shared clock does not slow down for it, and its commands may come
// seconds late. The order and the never-early rule hold there all the same; the release
// build checks the lateness closely.
constexpr double kLateSlack = 3.0;
#else
constexpr double kSimScale = 10.0;
constexpr double kLateSlack = 0.0;
#endif
// Offsets count from the first command as the simulator received it; the pass began
// before it by the analyzer thread's look at its command and at its port (50 ms of the
// clock each), the block's bytes on the line and the simulator's poll, and a late
// wake-up costs up to about 40 ms of the shared clock before it slows down. Anything
// earlier than that is a step run ahead of its time.
constexpr double kEarly = 0.25;

class ZmkSimThreadTest : public ::testing::Test {
protected:
    ZmkSimThreadTest() : cwd_(folder_.path()) {}
    ~ZmkSimThreadTest() override {
        zmk_.reset();
        modem_.reset();
    }

    void startSim(const json& stations, const json& channels = json::array(),
                  double scale = kSimScale) {
        json config = {{"stations", stations}};
        if (!channels.empty())
            config["channels"] = channels;
        // The simulator and this process's threads read one clock: a busy machine slows
        // both alike, so the simulator's stamps and the program's offsets stay comparable.
        sim_ = std::make_unique<test::SimProcess>(config, folder_.path(), scale,
                                                  test::SimClock::SharedWithThisProcess);
        ASSERT_TRUE(sim_->running());
    }
    // Vetlina.ini of the program's complex: its analyzer on COM2 at the station's port.
    void configure(uint16_t port, int speed = 115200) {
        folder_.write(
            "Vetlina.ini",
            "[VETLINA]\r\nIdent=12345678\r\nZMKPort=2\r\nZMKSpeed=" + std::to_string(speed) +
                "\r\n[PORTS]\r\nCOM2=rfc2217://127.0.0.1:" + std::to_string(port) + "\r\n");
    }
    // The program's analyzer thread, brought up (and resumed when that worked).
    void bringUp(ModemRole role = ModemRole::CallingInCall) {
        modem_ = std::make_unique<test::RecordingModem>(ui_.bridge, role);
        modem_->Resume();
        zmk_ = std::make_unique<test::BoundZmk>(ui_.bridge, comPortFactory(), modem_.get());
        if (zmk_->command() == AnalyzerCommand::SwitchOff) {
            zmk_->Resume();
            serveUntil([&] { return zmk_->command() == AnalyzerCommand::Idle; }, 5000);
        }
    }
    bool serveUntil(const std::function<bool()>& done, int realMs) {
        return ui_.serveUntil(done, realMs);
    }
    // The line the start-up failed with, as the protocol window and the box show it.
    void expectStartupFailure(const std::string& line) {
        EXPECT_EQ(zmk_->command(), AnalyzerCommand::Stopped);
        EXPECT_THAT(toUtf8(ui_.models.protocol.text()), HasSubstr(line));
        ASSERT_FALSE(ui_.dialogs.seen().empty());
        EXPECT_EQ(ui_.dialogs.seen().back().text, line);
        EXPECT_EQ(ui_.dialogs.seen().back().title, " Анализатор ZMK-5");
        EXPECT_THAT(ui_.takeMessages(), ::testing::Contains(MSG_RUN_END));
    }
    // A station's analyzer commands from the log, with their ticks.
    std::vector<json> commands(const std::string& station) const {
        return sim_->events("analyzer-command", station);
    }

    test::ScopedTimeScale scale_{1.0};
    test::ScopedCurrentEntry current_{nullptr};
    test::TempFolder folder_;
    test::CurrentDirectory cwd_;
    test::TestUi ui_;
    std::unique_ptr<test::SimProcess> sim_;
    std::unique_ptr<test::RecordingModem> modem_;
    std::unique_ptr<test::BoundZmk> zmk_;
    ScenarioEntry entry_{};
};

// ---- Start-up -------------------------------------------------------------------------------

TEST_F(ZmkSimThreadTest, TheSimulatedAnalyzerComesUpIdentifiedAndCalibrated) {
    startSim(json::array({test::complexStation("A", "1001", 1234, 305)}));
    configure(sim_->port("A", "analyzer"));
    bringUp();
    ASSERT_EQ(zmk_->command(), AnalyzerCommand::Idle);
    EXPECT_THAT(ui_.protocolLines(), ElementsAre("COM2: ZMK-5 инициализирован"));
    EXPECT_EQ(zmk_->serialNumber(), 1234);
    EXPECT_EQ(zmk_->firmwareNumber(), 305);
    EXPECT_TRUE(ui_.dialogs.seen().empty());

    zmk_.reset(); // put to rest
    ASSERT_TRUE(test::waitReal([&] { return !sim_->events("analyzer-reset", "A").empty(); }, 5000));
    sim_->stop();
    const auto speed = sim_->events("analyzer-speed", "A");
    ASSERT_FALSE(speed.empty());
    EXPECT_EQ(speed.back()["baud"], 115200);
    EXPECT_EQ(sim_->events("analyzer-calibration", "A").size(), 1u);
    EXPECT_TRUE(sim_->events("protocol-error", "A").empty());
    // The first command after start-up switches the line interface off.
    const auto cmds = commands("A");
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0]["code"], 13);
    EXPECT_EQ(cmds[1]["code"], 15);
    EXPECT_EQ(cmds[1]["mode"], 0);
}

TEST_F(ZmkSimThreadTest, EveryFailureTheSimulatedAnalyzerCanShowEndsTheStartUp) {
    auto faulty = [](const char* name, const char* number, json faults) {
        return test::complexStation(name, number, 1, 1, {{"faults", std::move(faults)}});
    };
    startSim(json::array({
        test::complexStation("A", "1001", 1, 1),
        faulty("B", "1002", {{"noHandshakeReply", json::object()}}),
        faulty("C", "1003", {{"wrongSpeedDigit", {{"digit", "6"}}}}),
        faulty("D", "1004", {{"wrongIdentification", json::object()}}),
        faulty("E", "1005", {{"noCalibration", json::object()}}),
        faulty("F", "1006", {{"switchedOff", {{"fromS", 0}}}}),
    }));
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"B", 115200, "COM2: Анализатор не отвечает на команды, нужно повторное включение"},
        {"C", 115200, "COM2: Анализатор не готов к работе, нужно повторное включение"},
        {"D", 115200, "Отказ анализатора\r\n\r\nВозможно, требуется повторное включение питания"},
        {"E", 115200, "Анализатор не имеет калибровочных данных"},
        {"F", 115200, "COM2: Анализатор отключен или выключен"},
        {"A", 9600, "COM2: Недопустимая скорость обмена"},
    };
    for (const auto& [station, speed, line] : cases) {
        SCOPED_TRACE(station);
        configure(sim_->port(station, "analyzer"), speed);
        ui_.dialogs.clear();
        bringUp();
        expectStartupFailure(line);
        zmk_.reset();
        modem_.reset();
    }
    // Nobody listens on the port.
    configure(1);
    ui_.dialogs.clear();
    bringUp();
    expectStartupFailure("COM2: недоступен");
}

// ---- The measurement sequence -------------------------------------------------------------

// Two complexes A (the program's, calling) and B (the far one, answering) in a call:
// their modems connect, then both analyzers are started as their modem threads start
// them, and the modems stay on the line (the call stands while the caller holds it).
class ZmkSimCallThreadTest : public ZmkSimThreadTest {
protected:
    void startCall(const ScenarioEntry& entry, const json& model) {
        entry_ = entry;
        current_.set(&entry_);
        startSim(json::array({test::complexStation("A", "1001", 1234, 305),
                              test::complexStation("B", "1002", 4321, 7)}),
                 json::array({{{"between", {"A", "B"}}, {"model", model}}}));
        configure(sim_->port("A", "analyzer"));
        bringUp(ModemRole::CallingInCall);
        ASSERT_EQ(zmk_->command(), AnalyzerCommand::Idle);
        peer_ = std::make_unique<test::PeerAnalyzer>(sim_->port("B", "analyzer"),
                                                     ModemRole::AnsweringInRun);
        ASSERT_TRUE(peer_->ready());

        callerModem_ = std::make_unique<test::HayesLine>(sim_->port("A", "modem"));
        answererModem_ = std::make_unique<test::HayesLine>(sim_->port("B", "modem"));
        ASSERT_TRUE(callerModem_->open());
        ASSERT_TRUE(answererModem_->open());
        callerModem_->send("ATD1002\r");
        ASSERT_TRUE(callerModem_->awaitText("CONNECT", 20000)) << callerModem_->received();
        ASSERT_TRUE(answererModem_->awaitText("CONNECT", 5000)) << answererModem_->received();

        peer_->start(AnalyzerCommand::GenerateFirst);
        zmk_->setFirstPass(true);
        zmk_->SetCommand(AnalyzerCommand::MeasureFirst);
    }
    // Both analyzers handed back to their modems.
    ::testing::AssertionResult bothDone(int realMs) {
        if (serveUntil(
                [&] { return !modem_->received().empty() && !peer_->modem().received().empty(); },
                realMs))
            return ::testing::AssertionSuccess();
        // What either side reported instead of handing back.
        return ::testing::AssertionFailure()
               << "A: " << ::testing::PrintToString(ui_.dialogs.texts()) << ", protocol "
               << ::testing::PrintToString(ui_.protocolLines())
               << "; B: " << ::testing::PrintToString(peer_->dialogs());
    }
    ~ZmkSimCallThreadTest() override {
        peer_.reset();
        zmk_.reset();
    }

    std::unique_ptr<test::PeerAnalyzer> peer_;
    std::unique_ptr<test::HayesLine> callerModem_;
    std::unique_ptr<test::HayesLine> answererModem_;
};

// A step's commands as the simulator logged them, the decoder's own (meter restarts, the
// thresholds and dead times sent again with them, command 6) left out: those follow
// the signal, not the sequence.
struct StepCommand {
    int code;
    int mode; // line mode for command 15, else -1
    double at;
};

std::vector<StepCommand> stepCommands(const std::vector<json>& all, uint32_t from) {
    std::vector<StepCommand> out;
    for (const auto& c : all) {
        const int code = c["code"].get<int>();
        const uint32_t tick = c["tick"].get<uint32_t>();
        if (static_cast<int32_t>(tick - from) < 0 || code == 0 || code == 5 || code == 6 ||
            code == 8)
            continue;
        out.push_back({code, code == 15 ? c["mode"].get<int>() : -1,
                       static_cast<int32_t>(tick - from) / 1000.0});
    }
    return out;
}

TEST_F(ZmkSimCallThreadTest, BothPassesRunInStepAndEachSideHandsBackOnce) {
    // Delay stored as 2 (h = 1 s); the sine 8 s (the search for it takes a few frame
    // sets at 115200 baud), every other kind 3 s. A meter kind takes S + T.
    const double S = 2, h = 1, Tsin = 8, T = 3, k = S + T, ksin = S + Tsin;
    ScenarioEntry e = test::everyKindEntry(T, 2);
    e.SinTime = Tsin;
    e.SinLev = -10.0f;  // the second pass's generator level
    e.SinLevR = -13.0f; // the first pass's
    ASSERT_NO_FATAL_FAILURE(
        startCall(e, {{"attenuationDb", 10.0}, {"noiseDbm", -70.0}, {"seed", 3}}));
    ASSERT_TRUE(bothDone(90000));
    serveUntil([] { return false; }, 200);
    // Each modem thread was handed back exactly once, with the throughput test next.
    EXPECT_THAT(modem_->commands(), ElementsAre(ModemCommand::ThroughputTest));
    EXPECT_THAT(peer_->modem().commands(), ElementsAre(ModemCommand::ThroughputTest));
    EXPECT_TRUE(ui_.dialogs.seen().empty());
    EXPECT_TRUE(peer_->dialogs().empty());
    sim_->stop();

    // A's commands from its first range step on, in order and at their offsets. The
    // second pass counts from its own range step, which restarts the deadline.
    const auto all = commands("A");
    uint32_t first = 0;
    for (const auto& c : all)
        if (c["code"] == 11 && first == 0)
            first = c["tick"].get<uint32_t>();
    ASSERT_NE(first, 0u);
    const auto got = stepCommands(all, first);
    const double m = 5 + ksin;     // the first meter step after the sine
    const double R = m + 7 * k;    // the second range step
    const double g = R + 5 + ksin; // the first generator step after the sine
    const std::vector<StepCommand> expected = {
        {11, -1, 0},
        {15, 11, 0},
        {15, 11, 0},
        {1, -1, 0}, // range
        {15, 11, m + 4 * k},
        {2, -1, m + 4 * k},
        {15, 282, m + 4 * k}, // impedance
        {15, 11, m + 4 * k + h + T},
        {1, -1, m + 4 * k + h + T}, // generator off
        {15, 283, m + 6 * k},
        {9, -1, m + 6 * k}, // talker echo
        {15, 11, m + 7 * k},
        {1, -1, m + 7 * k}, // generator off
        {11, -1, R},
        {15, 265, R},
        {15, 265, R},
        {1, -1, R}, // range, 2nd pass
        {15, 265, R + 5},
        {1, -1, R + 5}, // sine
        {15, 265, g},
        {1, -1, g}, // O.132
        {15, 265, g + k},
        {3, -1, g + k}, // O.131
        {15, 265, g + 2 * k},
        {2, -1, g + 2 * k}, // multi-frequency
        {15, 265, g + 3 * k},
        {4, -1, g + 3 * k}, // O.42
        {15, 265, g + 4 * k},
        {1, -1, g + 4 * k}, // impedance
        {15, 265, g + 5 * k},
        {1, -1, g + 5 * k}, // noise
        {15, 283, g + 6 * k},
        {9, -1, g + 6 * k}, // listener echo
        {15, 265, g + 7 * k},
        {1, -1, g + 7 * k}, // generator off
        {15, 265, g + 7 * k},
        {1, -1, g + 7 * k}, // end of the pass
    };
    constexpr std::size_t kSecondPass = 13;
    std::string timeline;
    for (const auto& c : got)
        timeline += std::to_string(c.code) + (c.mode >= 0 ? "/" + std::to_string(c.mode) : "") +
                    "@" + std::to_string(c.at) + " ";
    ASSERT_EQ(got.size(), expected.size()) << timeline;
    // How late the second range step restarted the deadline: no later than its earliest
    // command, for every command comes at or after its time.
    double lag = got[kSecondPass].at - expected[kSecondPass].at;
    for (std::size_t i = kSecondPass; i < got.size(); ++i)
        lag = std::min(lag, got[i].at - expected[i].at);
    EXPECT_GE(lag, -kEarly);
    EXPECT_LE(lag, 1.0 + kLateSlack);
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("command " + std::to_string(i) + ": " + timeline);
        EXPECT_EQ(got[i].code, expected[i].code);
        EXPECT_EQ(got[i].mode, expected[i].mode);
        const double at = expected[i].at + (i >= kSecondPass ? lag : 0.0);
        // Never early. Late by the waits' polls and by every command sent before it in
        // its step: the analyzer acknowledges behind the frame sets it is sending, about
        // 0.4 s a command at 115200 baud.
        int before = 0;
        for (const auto& c : all) {
            const double t = static_cast<int32_t>(c["tick"].get<uint32_t>() - first) / 1000.0;
            if (t >= at - kEarly && t < got[i].at)
                ++before;
        }
        EXPECT_GE(got[i].at, at - kEarly);
        EXPECT_LE(got[i].at, at + 0.6 + 0.5 * before + kLateSlack);
    }
    if (std::getenv("VETLINA_PRINT_TIMELINE")) {
        for (const auto& c : all)
            std::printf("%10.3f  %s\n",
                        static_cast<int32_t>(c["tick"].get<uint32_t>() - first) / 1000.0,
                        c.dump().c_str());
    }

    // Both measured the other's sine, each through 10 dB, each at the level the far
    // generator used in that pass: A measured B's first-pass level, B A's second-pass one.
    const SineResult& atA = zmk_->results().sine;
    const SineResult& atB = peer_->zmk().results().sine;
    EXPECT_GT(atA.counter, 0);
    EXPECT_GT(atB.counter, 0);
    EXPECT_NEAR(atA.level, -23.0, 0.5);
    EXPECT_NEAR(atB.level, -20.0, 0.5);
    EXPECT_NEAR(atA.att, 10.0, 0.5);
    EXPECT_NEAR(atB.att, 10.0, 0.5);
    EXPECT_NEAR(atA.frequency, 1800.0, 1.0);
}

TEST_F(ZmkSimCallThreadTest, RelativeThresholdsFromASineFoundAtMinus20dBm) {
    ScenarioEntry e = test::nothingEntry();
    e.sinSNROn = 1;
    e.SinTime = 8.0;
    e.SincTime = 2;
    e.SinLevR = -20.0f; // what B sends while A measures, on a lossless line
    e.ThAbs = 0;
    e.ThRelPul = 6.0f;
    e.ThRelInt = -15.0f;
    ASSERT_NO_FATAL_FAILURE(startCall(e, {{"noiseDbm", -70.0}, {"seed", 3}}));
    ASSERT_TRUE(bothDone(40000));
    EXPECT_TRUE(ui_.dialogs.seen().empty());
    sim_->stop();
    std::vector<json> thresholds;
    for (const auto& c : commands("A"))
        if (c["code"] == 5)
            thresholds.push_back(c);
    ASSERT_FALSE(thresholds.empty());
    // The analyzer's impulse word back in dBm (top of the range 0 dBm).
    const double impulse = 20.0 * std::log10(thresholds[0]["impulse"].get<int>() / 8192.0) - 9.43;
    EXPECT_NEAR(impulse, -14.0, 0.3);
    EXPECT_NEAR(zmk_->impulseThreshold(), -14.0, 0.3);
    EXPECT_EQ(entry_.ThAbsPul.get(), e.ThAbsPul.get()); // the entry is not rewritten
}

TEST_F(ZmkSimCallThreadTest, ASineMoreThan16HzOffIsNotFoundAndTheStepRunsToItsDeadline) {
    ScenarioEntry e = test::nothingEntry();
    e.sinSNROn = 1;
    e.SinTime = 8.0;
    e.SincTime = 2;
    e.SinLevR = -10.0f;
    ASSERT_NO_FATAL_FAILURE(
        startCall(e, {{"frequencyShiftHz", 16.5}, {"noiseDbm", -70.0}, {"seed", 3}}));
    ASSERT_TRUE(bothDone(40000));
    sim_->stop();
    const auto all = commands("A");
    std::vector<uint32_t> ranges;
    for (const auto& c : all) {
        EXPECT_NE(c["code"], 5) << "thresholds are set only for a sine found";
        if (c["code"] == 11)
            ranges.push_back(c["tick"].get<uint32_t>());
    }
    ASSERT_EQ(ranges.size(), 2u);
    // The sine step ran to its deadline: 5 + h + SinTime + h from the first range step.
    const double second = static_cast<int32_t>(ranges[1] - ranges[0]) / 1000.0;
    EXPECT_GE(second, 5 + 1 + 8 + 1 - kEarly);
    EXPECT_LE(second, 5 + 1 + 8 + 1 + 1.0 + kLateSlack);
    EXPECT_EQ(zmk_->results().sine.counter, 0);
    EXPECT_THAT(toUtf8(ui_.models.protocol.text()),
                HasSubstr(" -гармонический сигнал не обнаружен"));
}

TEST_F(ZmkSimThreadTest, WithNothingEnabledThePassEndsAfterTheRangeStep) {
    entry_ = test::nothingEntry();
    current_.set(&entry_);
    startSim(json::array({test::complexStation("A", "1001", 1, 1)}));
    configure(sim_->port("A", "analyzer"));
    bringUp();
    ASSERT_EQ(zmk_->command(), AnalyzerCommand::Idle);
    zmk_->setFirstPass(true);
    zmk_->SetCommand(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(serveUntil([&] { return !modem_->received().empty(); }, 10000));
    EXPECT_THAT(modem_->commands(), ElementsAre(ModemCommand::Reconnect));
    sim_->stop();
    const auto all = commands("A");
    ASSERT_GE(all.size(), 3u);
    uint32_t range = 0;
    for (const auto& c : all)
        if (c["code"] == 11)
            range = c["tick"].get<uint32_t>();
    // The range step's commands are the last the analyzer got.
    EXPECT_EQ(all.back()["code"], 1);
    EXPECT_LT(static_cast<int32_t>(all.back()["tick"].get<uint32_t>() - range), 2000);
}

TEST_F(ZmkSimThreadTest, SwitchingTheAnalyzerOffMidMeasurementEndsTheRunOnce) {
    entry_ = test::nothingEntry();
    entry_.o132SNROn = 1;
    entry_.O132Time = 200.0;
    entry_.SincTime = 2;
    current_.set(&entry_);
    startSim(json::array({test::complexStation("A", "1001", 1, 1,
                                               {{"faults", {{"switchedOff", {{"fromS", 30}}}}}})}));
    configure(sim_->port("A", "analyzer"));
    bringUp();
    ASSERT_EQ(zmk_->command(), AnalyzerCommand::Idle);
    zmk_->setFirstPass(true);
    zmk_->SetCommand(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(serveUntil([&] { return zmk_->command() == AnalyzerCommand::Stopped; }, 30000));
    serveUntil([] { return false; }, 300);
    // It was measuring O.132 when the analyzer went.
    const std::string protocol = toUtf8(ui_.models.protocol.text());
    EXPECT_THAT(protocol, HasSubstr("Измеритель: O.132"));
    EXPECT_LT(protocol.find("Измеритель: O.132"), protocol.find("Отключение анализатора"));
    EXPECT_EQ(ui_.dialogs.texts(), std::vector<std::string>{"Отключение анализатора"});
    EXPECT_THAT(ui_.takeMessages(), ElementsAre(MSG_RUN_END));
    EXPECT_TRUE(modem_->received().empty());
}

} // namespace
} // namespace vetlina
