// The measurement sequence on the analyzer thread against a scripted ZMK-5 on the
// in-memory port pair, driven as the modem thread drives it (first-pass flag, then
// MeasureFirst or GenerateFirst), with a modem double that records what it is handed back. The
// clock runs fast; offsets are in seconds of the clock.
#include "ScopedGlobals.h"
#include "ScopedRun.h"
#include "ScriptedAnalyzer.h"
#include "SequenceSupport.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "analyzer/Encoders.h"
#include "app/Complex.h"

#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using test::everyKindEntry;
using ::testing::ElementsAre;

class ZmkSequenceThreadTest : public ::testing::Test {
protected:
    ZmkSequenceThreadTest() : cwd_(folder_.path()) {
        folder_.write("Vetlina.ini", "[VETLINA]\r\nZMKPort=2\r\nZMKSpeed=115200\r\n");
    }
    ~ZmkSequenceThreadTest() override {
        // The threads end on the real-time clock: this thread joins them.
        stepped_.off();
        zmk_.reset();
        modem_.reset();
        analyzer_.reset();
    }

    // The analyzer thread comes up, runs its first command (20) and idles.
    void bringUp(const ScenarioEntry& entry, ModemRole role = ModemRole::CallingInCall,
                 test::ScriptedAnalyzer::Script script = {}, double scale = test::kSequenceScale) {
        scale_.set(test::kStartupScale);
        entry_ = entry;
        current_.set(&entry_);
        script.steppedClock = true;
        analyzer_ = std::make_unique<test::ScriptedAnalyzer>(std::move(script));
        modem_ = std::make_unique<test::RecordingModem>(ui_.bridge, role);
        modem_->Resume();
        zmk_ = std::make_unique<test::BoundZmk>(ui_.bridge, analyzer_->factory(), modem_.get());
        ASSERT_EQ(zmk_->command(), AnalyzerCommand::SwitchOff);
        zmk_->Resume();
        // The calibration request and the switch-off reached the analyzer.
        ASSERT_TRUE(serveUntil(
            [&] {
                return zmk_->command() == AnalyzerCommand::Idle &&
                       analyzer_->commands().size() == 2;
            },
            5000));
        scale_.set(scale);
    }
    // As the modem thread starts a measurement.
    void startPass(AnalyzerCommand command) {
        zmk_->setFirstPass(true);
        start_ = tickMs();
        startupCommands_ = analyzer_->commands().size();
        ASSERT_TRUE(zmk_->SetCommand(command));
    }
    // Serves the hand-offs until the condition holds or realMs of real time have passed.
    bool serveUntil(const std::function<bool()>& done, int realMs) {
        return ui_.serveUntil(done, realMs);
    }
    bool handedBack(int realMs) {
        return serveUntil([&] { return !modem_->received().empty(); }, realMs);
    }
    double offset(uint32_t tick) const { return static_cast<int32_t>(tick - start_) / 1000.0; }
    // The commands since the pass started (the switch-off of start-up left out: counted,
    // not told by its tick, which the stepped clock may not have moved past yet).
    std::vector<test::ReceivedBlock> passCommands() const {
        auto all = analyzer_->commands();
        all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(
                                                 std::min(startupCommands_, all.size())));
        return all;
    }
    std::vector<std::string> dialogTexts() const { return ui_.dialogs.texts(); }

    // The analyzer's thread, the scripted analyzer and the modem's double run on the
    // stepped clock: the offsets of the commands are exact however busy the machine.
    test::ScopedSteppedClock stepped_;
    test::ScopedTimeScale scale_{1.0};
    test::ScopedCurrentEntry current_{nullptr};
    test::TempFolder folder_;
    test::CurrentDirectory cwd_;
    test::TestUi ui_;
    test::StateLines lines_{ui_.models};
    ScenarioEntry entry_{};
    std::unique_ptr<test::ScriptedAnalyzer> analyzer_;
    std::unique_ptr<test::RecordingModem> modem_;
    std::unique_ptr<test::BoundZmk> zmk_;
    uint32_t start_ = 0;
    std::size_t startupCommands_ = 0; // the analyzer's commands before the pass
};

// The commands of both passes, in order and at their offsets: seconds from the start
// of the pass (the first range command).
struct Expected {
    int code;
    double at;
};

TEST_F(ZmkSequenceThreadTest, BothPassesSendTheirCommandsInOrderAndAtTheirOffsets) {
    // Delay stored as 2 (h = 1 s), every kind 1 s: a meter kind takes S + T = 3 s.
    const double S = 2, h = 1, T = 1, k = S + T;
    bringUp(everyKindEntry(T, 2));
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(handedBack(30000));

    // The second pass starts its range step where the first ended, and its deadline
    // afresh from there (on both complexes alike): its offsets count from that moment,
    // when the visualisation caption changes.
    const double R = 5 + 8 * k;
    const uint32_t second = lines_.captionTick("Изменение направления измерений");
    ASSERT_NE(second, 0u);
    EXPECT_GE(offset(second), R - 0.05);
    EXPECT_LE(offset(second), R + 0.6);
    const double lag = offset(second) - R;
    const std::vector<Expected> expected = {
        // First pass: this complex measures.
        {11, 0},
        {15, 0},
        {0, 0},
        {15, 0},
        {1, 0}, // range, generator off
        {8, 5}, // sine: dead times
        {15, 5 + 5 * k},
        {2, 5 + 5 * k},
        {15, 5 + 5 * k}, // impedance set-up
        {15, 5 + 5 * k + h + T},
        {1, 5 + 5 * k + h + T}, // generator off after it
        {0, 5 + 7 * k},
        {8, 5 + 7 * k},
        {15, 5 + 7 * k},
        {9, 5 + 7 * k}, // talker echo
        {15, 5 + 8 * k},
        {1, 5 + 8 * k}, // generator off
        // Second pass: this complex generates.
        {11, R},
        {15, R},
        {15, R},
        {1, R}, // range (unchanged: no restart)
        {15, R + 5},
        {1, R + 5}, // sine
        {15, R + 5 + k},
        {1, R + 5 + k}, // O.132
        {15, R + 5 + 2 * k},
        {3, R + 5 + 2 * k}, // O.131
        {15, R + 5 + 3 * k},
        {2, R + 5 + 3 * k}, // multi-frequency
        {15, R + 5 + 4 * k},
        {4, R + 5 + 4 * k}, // O.42
        {15, R + 5 + 5 * k},
        {1, R + 5 + 5 * k}, // impedance: generator silent
        {15, R + 5 + 6 * k},
        {1, R + 5 + 6 * k}, // noise: generator silent
        {0, R + 5 + 7 * k},
        {8, R + 5 + 7 * k},
        {15, R + 5 + 7 * k},
        {9, R + 5 + 7 * k}, // listener echo
        {15, R + 5 + 8 * k},
        {1, R + 5 + 8 * k}, // generator off after it
        {15, R + 5 + 8 * k},
        {1, R + 5 + 8 * k}, // end of the pass
    };
    const std::size_t kFirstPassCommands = 17;
    const auto got = passCommands();
    std::string codes;
    for (const auto& c : got)
        codes += std::to_string(c.code()) + "@" + std::to_string(offset(c.tick)) + " ";
    ASSERT_EQ(got.size(), expected.size()) << codes;
    double late = 0.0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].code(), expected[i].code) << "command " << i;
        // Never early. Late by the polls of the link (an empty read sleeps 50 ms) and the
        // acknowledgements: a command takes up to a quarter of a second, so the later
        // commands of a step may come later.
        late = i > 0 && expected[i].at == expected[i - 1].at ? late + 0.25 : 0.4;
        const bool secondPass = i >= kFirstPassCommands;
        const double at = expected[i].at + (secondPass ? lag : 0.0);
        EXPECT_GE(offset(got[i].tick), at - 0.05) << "command " << i;
        EXPECT_LE(offset(got[i].tick), at + late) << "command " << i;
    }
    // The line modes: measure first, impedance, echo; then generate first.
    EXPECT_EQ(got[1].words[1], 11);
    EXPECT_EQ(got[8].words[1], 282);
    EXPECT_EQ(got[13].words[1], 283);
    EXPECT_EQ(got[18].words[1], 265);

    // Handed back once, 2 s after the last step, with the throughput test to follow.
    const auto back = modem_->received();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].command, ModemCommand::ThroughputTest);
    EXPECT_GE(offset(back[0].tick), R + lag + 5 + 8 * k + 2 - 0.05);
    EXPECT_LE(offset(back[0].tick), R + lag + 5 + 8 * k + 2 + 0.4);
    EXPECT_EQ(zmk_->command(), AnalyzerCommand::Idle);
    EXPECT_FALSE(zmk_->firstPass());

    // Every meter step began at its offset: the event lines tell.
    const std::vector<std::pair<const char*, double>> steps = {
        {"Измеритель: SIN", 5},
        {"Измеритель: O.132", 5 + k},
        {"Измеритель: O.131", 5 + 2 * k},
        {"Измеритель: МЧС", 5 + 3 * k},
        {"Измеритель: O.42", 5 + 4 * k},
        {"Измеритель: Импеданс", 5 + 5 * k},
        {"Измеритель: Шум", 5 + 6 * k},
        {"Измеритель: Эхо говорящего", 5 + 7 * k},
        {"Генератор: SIN", R + 5},
        {"Генератор: O.132", R + 5 + k},
        {"Генератор: O.131", R + 5 + 2 * k},
        {"Генератор: МЧС", R + 5 + 3 * k},
        {"Генератор: O.42", R + 5 + 4 * k},
        {"Генератор: Импеданс", R + 5 + 5 * k},
        {"Генератор: Шум", R + 5 + 6 * k},
        {"Измеритель: Эхо слушающего", R + 5 + 7 * k},
    };
    for (const auto& [text, expectedAt] : steps) {
        const uint32_t tick = lines_.tickOf(text);
        ASSERT_NE(tick, 0u) << text;
        const double at = expectedAt + (expectedAt > R ? lag : 0.0);
        EXPECT_GE(offset(tick), at - 0.05) << text;
        EXPECT_LE(offset(tick), at + 0.3) << text;
    }
    // The progress bars: the last generator step's (noise) ran full, the others were set
    // back to 0 when it began; the listener echo hid the panel.
    EXPECT_EQ(ui_.models.show.kind(ShowKind::Blk).progress, 100);
    EXPECT_EQ(ui_.models.show.kind(ShowKind::Sin).progress, 0);
    EXPECT_FALSE(ui_.models.show.panelVisible);
    EXPECT_EQ(toUtf8(ui_.models.show.caption), "Измеритель: синхронизация");
    EXPECT_TRUE(dialogTexts().empty());
    EXPECT_EQ(zmk_->results().sine.counter, 0);
}

TEST_F(ZmkSequenceThreadTest, WithNothingEnabledThePassEndsAfterTheRangeStep) {
    ScenarioEntry e = everyKindEntry(10.0, 8);
    e.Analog = 0; // every parameter selected, the electrical parameters switched off
    e.disPassOn = 0;
    bringUp(e);
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(handedBack(5000));
    const auto back = modem_->received();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].command, ModemCommand::Reconnect);
    EXPECT_NEAR(offset(back[0].tick), 5.0, 0.3);
    // Only the range step's commands went out; no step said a word.
    std::vector<int> codes;
    for (const auto& c : passCommands())
        codes.push_back(c.code());
    EXPECT_THAT(codes, ElementsAre(11, 15, 0, 15, 1));
    EXPECT_TRUE(lines_.lines().empty());
    EXPECT_EQ(zmk_->command(), AnalyzerCommand::Idle);
    EXPECT_TRUE(zmk_->firstPass()); // no second pass was run
}

TEST_F(ZmkSequenceThreadTest, AThroughputTestAloneHandsBackWithCommand7) {
    ScenarioEntry e = test::nothingEntry();
    e.disPassOn = 1;
    e.DiscrTime = 30.0;
    bringUp(e);
    startPass(AnalyzerCommand::GenerateFirst);
    ASSERT_TRUE(handedBack(5000));
    EXPECT_THAT(modem_->commands(), ElementsAre(ModemCommand::ThroughputTest));
}

TEST_F(ZmkSequenceThreadTest, AKindShorterThanASecondIsSkipped) {
    ScenarioEntry e = test::nothingEntry();
    e.Analog = 1;
    e.sinSNROn = 1;
    e.SinTime = 0.5;
    bringUp(e);
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(handedBack(5000));
    EXPECT_THAT(modem_->commands(), ElementsAre(ModemCommand::Reconnect));
    EXPECT_EQ(lines_.tickOf("Измеритель: SIN"), 0u);
}

// ---- The sine -------------------------------------------------------------------------------

// The amplitude of a 1800 Hz sine that the meter reads at `dbm` in the range 0..-55 dBm.
double amplitudeReadAs(double dbm) {
    MeterComputation meter;
    test::RecordingActions actions;
    test::setRange(meter);
    const double nominal = test::amplitudeDb(dbm);
    for (uint32_t tag = 1; tag < 4; ++tag)
        test::feed(meter, test::samples(test::sine(nominal, 1800.0), 0.0, 3.0), actions, -9,
                   tag * 320);
    return nominal * std::pow(10.0, (dbm - meter.out().levels[item::Level]) / 20.0);
}

// A sine-only entry, 2 s of measurement, delay stored as 2.
ScenarioEntry sineEntry() {
    ScenarioEntry e = test::nothingEntry();
    e.Analog = 1;
    e.sinSNROn = 1;
    e.SinTime = 2.0;
    e.SincTime = 2;
    e.SinFreq = 1800;
    return e;
}

TEST_F(ZmkSequenceThreadTest, RelativeThresholdsFollowTheFoundSine) {
    ScenarioEntry e = sineEntry();
    e.ThAbs = 0;
    e.ThRelPul = 6.0f;
    e.ThRelInt = -15.0f;
    e.ThAbsPul = -30.0f;
    e.ThAbsInt = -40.0f;
    bringUp(e, ModemRole::CallingInCall, {}, test::kStreamScale);
    analyzer_->stream(test::sine(amplitudeReadAs(-20.0), 1800.0));
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(handedBack(20000));

    // The sine was found at -20 dBm; the impulse threshold is its level + 6 dB.
    const double level = zmk_->impulseThreshold() - 6.0;
    EXPECT_NEAR(level, -20.0, 0.1);
    EXPECT_NEAR(zmk_->interruptionThreshold(), level - 15.0, 1e-4);
    std::vector<test::ReceivedBlock> thresholds;
    for (const auto& c : passCommands())
        if (c.code() == 5)
            thresholds.push_back(c);
    ASSERT_FALSE(thresholds.empty());
    // The words the analyzer got are those of -14 dBm (within the level found).
    MeterState reference;
    reference.referenceLevel = 0.0;
    const CommandPlan at14 = ThreshSet(reference, -14.0, -29.0, e.ThHitAm.get(), e.ThHitPh.get());
    const double sent = 20.0 * std::log10(thresholds[0].words[1] / 8192.0) - 9.43;
    EXPECT_NEAR(sent, -14.0, 0.1);
    EXPECT_NEAR(thresholds[0].words[1], at14.blocks[0].words[1], 60);
    // The operator's absolute thresholds stay as they were set.
    EXPECT_EQ(entry_.ThAbsPul.get(), -30.0f);
    EXPECT_EQ(entry_.ThAbsInt.get(), -40.0f);
    // It was measured.
    EXPECT_GT(zmk_->results().sine.counter, 0);
    EXPECT_NEAR(zmk_->results().sine.frequency, 1800.0, 1.0);
    EXPECT_NE(lines_.tickOf("Измеритель: SIN"), 0u);
    EXPECT_EQ(lines_.tickOf(" -гармонический сигнал не обнаружен"), 0u);
}

TEST_F(ZmkSequenceThreadTest, AbsoluteThresholdsAreSentAsSet) {
    ScenarioEntry e = sineEntry();
    e.ThAbs = 1;
    e.ThAbsPul = -30.0f;
    e.ThAbsInt = -40.0f;
    bringUp(e, ModemRole::CallingInCall, {}, test::kStreamScale);
    analyzer_->stream(test::sine(test::amplitudeDb(-20.0), 1800.0));
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(handedBack(20000));
    EXPECT_EQ(zmk_->impulseThreshold(), -30.0);
    EXPECT_EQ(zmk_->interruptionThreshold(), -40.0);
    MeterState reference;
    const CommandPlan expected =
        ThreshSet(reference, -30.0, -40.0, e.ThHitAm.get(), e.ThHitPh.get());
    bool seen = false;
    for (const auto& c : passCommands())
        if (c.code() == 5) {
            seen = true;
            for (int i = 1; i < 7; ++i)
                EXPECT_EQ(c.words[i], expected.blocks[0].words[i]) << i;
        }
    EXPECT_TRUE(seen);
}

TEST_F(ZmkSequenceThreadTest, ASine16HzOffIsNotFoundAndTheStepRunsToItsDeadline) {
    bringUp(sineEntry(), ModemRole::CallingInCall, {}, test::kStreamScale);
    analyzer_->stream(test::sine(test::amplitudeDb(-20.0), 1816.0));
    startPass(AnalyzerCommand::MeasureFirst);
    // The sine step ends at 5 + h + SinTime + h; the other steps skip at once, and the
    // second pass begins with its range step.
    ASSERT_TRUE(serveUntil(
        [&] {
            for (const auto& c : passCommands())
                if (c.code() == 11 && offset(c.tick) > 1.0)
                    return true;
            return false;
        },
        20000));
    uint32_t secondRange = 0;
    for (const auto& c : passCommands())
        if (c.code() == 11 && offset(c.tick) > 1.0 && secondRange == 0)
            secondRange = c.tick;
    EXPECT_GE(offset(secondRange), 5.0 + 1 + 2 + 1 - 0.05);
    EXPECT_LE(offset(secondRange), 5.0 + 1 + 2 + 1 + 0.6);
    for (const auto& c : passCommands())
        EXPECT_NE(c.code(), 5) << "thresholds are set only for a sine found";
    EXPECT_NE(lines_.tickOf(" -гармонический сигнал не обнаружен"), 0u);
    EXPECT_EQ(zmk_->results().sine.counter, 0);
    analyzer_->stopStream();
}

TEST_F(ZmkSequenceThreadTest, AMeasurementWithNothingAccumulatedSaysSoAndGoesOn) {
    ScenarioEntry e = test::nothingEntry();
    e.Analog = 1;
    e.o131SNROn = 1;
    e.O131Time = 1.0;
    e.SincTime = 2;
    bringUp(e);
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(handedBack(20000));
    EXPECT_THAT(modem_->commands(), ElementsAre(ModemCommand::Reconnect));
    EXPECT_NE(lines_.tickOf(" -сигнал не обнаружен"), 0u);
    EXPECT_EQ(zmk_->results().o131.counter, 0);
}

TEST_F(ZmkSequenceThreadTest, AnOverloadedMeterIsReportedOnceAndItsBlocksAreNotMeasured) {
    ScenarioEntry e = test::nothingEntry();
    e.o132SNROn = 1;
    e.O132Time = 6.0;
    e.O132Freq = 1020;
    e.SincTime = 2;
    bringUp(e, ModemRole::CallingInCall, {}, test::kStreamScale);
    // Clipped at full scale first, then at -20 dBm.
    auto loud = std::make_shared<std::atomic<bool>>(true);
    analyzer_->stream([loud](double t) {
        return (*loud ? 40000.0 : test::amplitudeDb(-20.0)) * std::cos(2 * test::kPi * 1020.0 * t);
    });
    startPass(AnalyzerCommand::MeasureFirst);
    // Into the measurement (5 s range, 1 s wait), overloaded for 3 s.
    ASSERT_TRUE(serveUntil([&] { return offset(tickMs()) > 9.0; }, 20000));
    const int32_t whileOverloaded = zmk_->results().o132.counter;
    *loud = false;
    ASSERT_TRUE(handedBack(30000));
    const std::string protocol = toUtf8(ui_.models.protocol.text());
    const auto overload = protocol.find(" -перегрузка измерителя");
    ASSERT_NE(overload, std::string::npos) << protocol;
    EXPECT_EQ(protocol.find(" -перегрузка измерителя", overload + 1), std::string::npos);
    EXPECT_GT(protocol.find(" -есть измерительный диапазон"), overload);
    // The two range lines go to the protocol only, never to the state label.
    for (const auto& line : lines_.lines())
        EXPECT_EQ(line.text.find("диапазон"), std::string::npos) << line.text;
    EXPECT_EQ(whileOverloaded, 0);
    EXPECT_GT(zmk_->results().o132.counter, 0);
    EXPECT_NEAR(zmk_->results().o132.frequency, 1020.0, 1.0);
}

TEST_F(ZmkSequenceThreadTest, ADamagedBlockIsCountedAndTheMeasurementGoesOn) {
    ScenarioEntry e = test::nothingEntry();
    e.o131SNROn = 1;
    e.O131Time = 3.0;
    e.SincTime = 2;
    bringUp(e);
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(serveUntil([&] { return offset(tickMs()) > 7.0; }, 10000));
    analyzer_->sendBlock({-4, 1, 2}); // event statistics of 3 words instead of 33
    analyzer_->sendBlock({-77, 0});   // a type the analyzer does not have
    ASSERT_TRUE(handedBack(20000));
    EXPECT_EQ(zmk_->link().nZmkRecvBadBlk(), 2);
    EXPECT_EQ(ui_.models.run.counterText(RunCounter::ZmkRecvBadBlk), "2");
    EXPECT_THAT(modem_->commands(), ElementsAre(ModemCommand::Reconnect));
}

// ---- Failures ---------------------------------------------------------------------------------

TEST_F(ZmkSequenceThreadTest, SwitchingTheAnalyzerOffMidMeasurementEndsTheRunOnce) {
    ScenarioEntry e = test::nothingEntry();
    e.Analog = 1;
    e.o132SNROn = 1;
    e.O132Time = 20.0;
    e.SincTime = 2;
    bringUp(e);
    startPass(AnalyzerCommand::MeasureFirst);
    // Into the O.132 measurement, then DSR and CTS drop.
    ASSERT_TRUE(serveUntil([&] { return lines_.tickOf("Измеритель: O.132") != 0; }, 10000));
    ASSERT_TRUE(serveUntil([&] { return offset(tickMs()) > 7.5; }, 10000));
    analyzer_->computer().setLines({false, false, false, false});
    ASSERT_TRUE(serveUntil([&] { return zmk_->command() == AnalyzerCommand::Stopped; }, 5000));
    serveUntil([] { return false; }, 300);
    EXPECT_EQ(dialogTexts(), std::vector<std::string>{"Отключение анализатора"});
    EXPECT_THAT(ui_.takeMessages(), ElementsAre(MSG_RUN_END));
    EXPECT_EQ(lines_.lines().back().text, "Отключение анализатора");
    EXPECT_TRUE(modem_->received().empty());
}

TEST_F(ZmkSequenceThreadTest, ALostAcknowledgementMidSequenceEndsTheRunWithoutAHandBack) {
    test::ScriptedAnalyzer::Script script;
    // The dead-time command of the sine step is never acknowledged.
    script.acknowledge = [](const std::vector<uint16_t>& w) { return w.empty() || w[0] != 8; };
    bringUp(sineEntry(), ModemRole::CallingInCall, script);
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(serveUntil([&] { return zmk_->command() == AnalyzerCommand::Stopped; }, 10000));
    serveUntil([] { return false; }, 300);
    EXPECT_EQ(dialogTexts(), std::vector<std::string>{"Отказ анализатора"});
    EXPECT_EQ(zmk_->link().nZmkSendNotReady(), 1);
    EXPECT_TRUE(modem_->received().empty());
}

// ---- Autonomous generator --------------------------------------------------------------------

TEST_F(ZmkSequenceThreadTest, AnAutonomousGeneratorWithoutASineHandsBack11) {
    ScenarioEntry e = test::nothingEntry();
    e.ComplexType = kGeneratorComplexType;
    e.SincTime = 8;
    bringUp(e, ModemRole::CallingInCall, {}, 5 * test::kSequenceScale);
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(handedBack(10000));
    const auto back = modem_->received();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].command, ModemCommand::NoGeneratorSignal);
    // The search lasts 60 s less h from the end of the range step.
    EXPECT_NEAR(offset(back[0].tick), 5.0 + 60.0 - 4.0, 0.6);
    ASSERT_TRUE(serveUntil([&] { return zmk_->command() == AnalyzerCommand::Idle; },
                           5000)); // 20, then idle
    EXPECT_NE(lines_.tickOf("Ожидание гармонического сигнала"), 0u);
}

TEST_F(ZmkSequenceThreadTest, AnAutonomousGeneratorIsFollowedThroughItsProgramme) {
    ScenarioEntry e = test::nothingEntry();
    e.ComplexType = kGeneratorComplexType;
    e.SincTime = 8;
    bringUp(e, ModemRole::CallingInCall, {}, test::kStreamScale);
    analyzer_->stream(test::sine(test::amplitudeDb(-5.0), 1800.0));
    startPass(AnalyzerCommand::MeasureFirst);
    ASSERT_TRUE(serveUntil([&] { return lines_.tickOf("Измеритель: SIN") != 0; }, 40000));
    // Found: the rest of the programme is silent here, and may run fast.
    analyzer_->stopStream();
    scale_.set(5 * test::kSequenceScale);
    ASSERT_TRUE(handedBack(20000));
    EXPECT_THAT(modem_->commands(), ElementsAre(ModemCommand::GeneratorSessionComplete));
    ASSERT_TRUE(serveUntil([&] { return zmk_->command() == AnalyzerCommand::Idle; }, 5000));

    // 1 -> 2 -> 3 -> 5 -> 18 -> 9: sine, O.132, multi-frequency, listener, talker echo.
    std::vector<std::string> order;
    for (const auto& l : lines_.lines())
        if (l.text.rfind("Измеритель: ", 0) == 0)
            order.push_back(l.text);
    EXPECT_THAT(order, ElementsAre("Измеритель: SIN", "Измеритель: O.132", "Измеритель: МЧС",
                                   "Измеритель: Эхо слушающего", "Измеритель: Эхо говорящего"));
    // The fixed durations: O.132 and multi-frequency 20 s each, each echo 60 s.
    const double sine = offset(lines_.tickOf("Измеритель: O.132"));
    EXPECT_NEAR(offset(lines_.tickOf("Измеритель: МЧС")), sine + 20.0, 0.6);
    EXPECT_NEAR(offset(lines_.tickOf("Измеритель: Эхо слушающего")), sine + 40.0, 0.6);
    EXPECT_NEAR(offset(lines_.tickOf("Измеритель: Эхо говорящего")), sine + 100.0, 0.6);
    EXPECT_NEAR(offset(modem_->received()[0].tick), sine + 160.0, 0.6);
}

} // namespace
} // namespace vetlina
