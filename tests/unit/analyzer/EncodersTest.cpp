// Command words of the set-up encoders, checked against values worked out by hand from
// the formulas (amplitude 10^(dB/20) x 32767 + 0.5, the generator's period search at
// 25600 samples per second, thresholds against 8192 and 32767^2).
#include "analyzer/Encoders.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace vetlina {
namespace {

std::vector<uint16_t> words(const CommandBlock& b) {
    return std::vector<uint16_t>(b.words.begin(), b.words.begin() + b.count);
}

std::vector<int> codes(const CommandPlan& p) {
    std::vector<int> c;
    for (std::size_t i = 0; i < p.count; ++i)
        c.push_back(p.blocks[i].code());
    return c;
}

const CommandBlock& last(const CommandPlan& p) {
    return p.blocks[p.count - 1];
}

uint16_t lo(uint32_t v) {
    return static_cast<uint16_t>(v & 0xFFFF);
}
uint16_t hi(uint32_t v) {
    return static_cast<uint16_t>(v >> 16);
}

TEST(Encoders, CommandBlocksGoOutLittleEndian) {
    MeterState st;
    const CommandPlan p = HarmSet(st, 0.0, 1020.0);
    uint8_t bytes[34];
    ASSERT_EQ(last(p).toBytes(bytes), 12u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 9235 & 0xFF);
    EXPECT_EQ(bytes[3], 9235 >> 8);
}

TEST(Encoders, HarmSetWordsForLevelsAndFrequencies) {
    struct Case {
        double level, hz;
        uint16_t amplitude;
        uint32_t increment;
        uint16_t period, attenuator;
        double achieved;
    };
    const Case cases[] = {
        // 1020 Hz: 51 cycles in 1280 samples.
        {0.0, 1020.0, 9235, 2611u * 65536 + 13107, 1280, 8, 1020.0},
        // From -40 dBm down the attenuator goes to 16 with +0.84 dB.
        {-40.0, 1000.0, 92, 2560u * 65536, 128, 8, 1000.0},
        {-40.01, 1000.0, 361, 2560u * 65536, 128, 16, 1000.0},
        {-45.0, 1800.0, 203, 4608u * 65536, 128, 16, 1800.0},
        // Clamped to 6400 Hz (4 samples a cycle) and to 20 Hz.
        {10.0, 7000.0, 29204, 16384u * 65536, 4, 8, 6400.0},
        {-10.0, 10.0, 2920, 51u * 65536 + 13107, 1280, 8, 20.0},
        // No exact period: 307 cycles in 3537 samples is the closest within 4096.
        {-13.0, 2222.0, 2067, 5688u * 65536 + 20307, 3537, 8, 25600.0 * 307 / 3537},
        // -200 dBm switches the generator off.
        {-200.0, 1020.0, 0, 2611u * 65536 + 13107, 1280, 16, 1020.0},
    };
    for (const Case& c : cases) {
        MeterState st;
        const CommandPlan p = HarmSet(st, c.level, c.hz);
        EXPECT_STREQ(p.label, "HarmSet()");
        ASSERT_EQ(codes(p), (std::vector<int>{command::LineMode, command::Harmonic}));
        EXPECT_EQ(words(last(p)), (std::vector<uint16_t>{1, c.amplitude, lo(c.increment),
                                                         hi(c.increment), c.period, c.attenuator}))
            << c.level << " dBm " << c.hz << " Hz";
        EXPECT_DOUBLE_EQ(p.result, c.achieved);
        EXPECT_EQ(p.failureResult, 0.0);
    }
}

TEST(Encoders, GeneratorSetUpsSendTheLineModeFirstAndLeaveImpedanceAndEchoMode) {
    MeterState st;
    st.lineMode = 265;
    st.gainFlag = 32;
    st.impedanceMode = true;
    st.echoMode = true;
    const CommandPlan p = O42Set(st, -20.0);
    EXPECT_EQ(words(p.blocks[0]), (std::vector<uint16_t>{15, 297}));
    EXPECT_FALSE(st.impedanceMode);
    EXPECT_FALSE(st.echoMode);
}

TEST(Encoders, LevelGeneratorsWithTheirCorrections) {
    struct Case {
        CommandPlan (*encoder)(MeterState&, double);
        double level;
        uint16_t code, amplitude, attenuator;
        double realised;
    };
    const Case cases[] = {
        {MttsSet, -10.0, 2, 4925, 8, -10.00061}, // -11 + 4.54 dB
        {MttsSet, -55.0, 2, 108, 16, -55.02026}, // +0.84 + 4.54 dB
        {O131Set, -50.0, 3, 265, 16, -49.98382}, // +0.84 + 7.3 dB
        {O42Set, -20.0, 4, 1794, 8, -20.00228},  // -11 + 5.77 dB
    };
    for (const Case& c : cases) {
        MeterState st;
        const CommandPlan p = c.encoder(st, c.level);
        EXPECT_EQ(words(last(p)), (std::vector<uint16_t>{c.code, c.amplitude, c.attenuator}));
        EXPECT_NEAR(p.result, c.realised, 1e-5);
        EXPECT_EQ(p.failureResult, -1000.0);
        EXPECT_NEAR(st.generatorLevel, c.realised, 1e-5);
    }
}

TEST(Encoders, ImpedSetSwitchesTheLineInterfaceWithoutStoringTheMode) {
    for (auto [mode, sent] :
         {std::pair{11, 282}, {27, 282}, {265, 282}, {283, 282}, {3, 274}, {0, 274}}) {
        MeterState st;
        st.lineMode = mode;
        const CommandPlan p = ImpedSet(st, -10.0);
        EXPECT_STREQ(p.label, "ImpedSet()");
        ASSERT_EQ(codes(p), (std::vector<int>{command::LineMode, command::MultiFrequency,
                                              command::LineMode}));
        EXPECT_EQ(last(p).words[1], sent) << mode;
        EXPECT_EQ(st.lineMode, mode);
        EXPECT_TRUE(st.impedanceMode);
        EXPECT_EQ(st.impedanceSetCount, 1);
    }
}

TEST(Encoders, ImpedSetFailsAtARealisedLevelOfMinus50OrLessAfterTheGeneratorWasSet) {
    MeterState st;
    const CommandPlan p = ImpedSet(st, -51.0);
    EXPECT_EQ(codes(p), (std::vector<int>{command::LineMode, command::MultiFrequency}));
    int sent = 0;
    const PlanOutcome r = sendPlan(p, [&](const uint8_t*, std::size_t) { return ++sent, true; });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.value, -1000.0);
    EXPECT_EQ(sent, 2);
    EXPECT_FALSE(st.impedanceMode);
}

TEST(Encoders, ThreshSetWordsAndClamps) {
    struct Case {
        double ref, impulse, interruption, levelJump, phaseJump;
        std::vector<uint16_t> expected;
    };
    const Case cases[] = {
        // The defaults at top 0 dBm: interruption 10^(-2.6125) x 32767^2 = 2620435.
        {0.0, -14.0, -24.0, 4.0, 15.0, {5, 4840, 64531, 39, 2729, 61443, 1696}},
        // Clamped to -60 dBm, 10 dBm, 12 dB, 60 degrees; the interruption threshold
        // 7.9 dB above full scale does not fit 32 bits and saturates.
        {0.0, -70.0, 20.0, 13.0, 70.0, {5, 24, 65535, 65535, 5763, 46098, 5658}},
        // Top -19.5 dBm: the impulse word stops at 32767.
        {-19.5, -14.0, -24.0, 4.0, 15.0, {5, 32767, 41732, 3563, 2729, 61443, 1696}},
        {20.0, -30.0, -40.0, 0.0, 0.0, {5, 77, 658, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        MeterState st;
        st.referenceLevel = c.ref;
        const CommandPlan p = ThreshSet(st, c.impulse, c.interruption, c.levelJump, c.phaseJump);
        EXPECT_EQ(words(last(p)), c.expected) << c.ref << " " << c.impulse;
        EXPECT_TRUE(st.thresholdsKept);
        EXPECT_EQ(std::vector<uint16_t>(st.thresholdWords.begin(), st.thresholdWords.end()),
                  std::vector<uint16_t>(c.expected.begin() + 1, c.expected.end()));
    }
}

TEST(Encoders, DeadTimeSetWordsAndClamps) {
    MeterState st;
    EXPECT_EQ(words(last(DeadTimeSet(st, 125, 125, 125, 125))),
              (std::vector<uint16_t>{8, 1600, 1600, 200, 200}));
    EXPECT_EQ(words(last(DeadTimeSet(st, -5, 200, 62.5, 0.7))),
              (std::vector<uint16_t>{8, 0, 1600, 100, 1}));
    EXPECT_EQ(words(last(DeadTimeSet(st, std::nan(""), 10, 10, 10))),
              (std::vector<uint16_t>{8, 0, 128, 16, 16}));
}

TEST(Encoders, EchoSetRestartsTheMeterThenSwitchesTheLineAndSendsNineWords) {
    MeterState st;
    st.lineMode = 11;
    DeadTimeSet(st, 125, 125, 125, 125);
    EchoSettings s;
    s.firstProbeTime = 2.0;
    s.firstLevel = -10.0;
    s.firstFrequency = 1600.0;
    s.secondLevel = -200.0;
    s.secondFrequency = 1234.0;
    s.secondPhase = 90.0;
    const CommandPlan p = EchoSet(st, s);
    EXPECT_STREQ(p.label, "ECHOSet()");
    EXPECT_EQ(codes(p), (std::vector<int>{command::MeterRestart, command::DeadTimes,
                                          command::LineMode, command::Echo}));
    EXPECT_EQ(p.blocks[2].words[1], 283);
    // 1234 Hz within 2048 samples: 55 cycles in 1141 samples.
    const uint32_t inc2 = 207031728;
    EXPECT_EQ(words(last(p)), (std::vector<uint16_t>{9, lo(51200), hi(51200), 2920, 0, 4096, 0, 0,
                                                     lo(51200), hi(51200), 0, lo(inc2), hi(inc2),
                                                     lo(1073741823), hi(1073741823), 2048, 8}));
    EXPECT_EQ(last(p).byteCount(), 34u);
    EXPECT_TRUE(st.echoMode);
    EXPECT_FALSE(st.impedanceMode);
    EXPECT_EQ(st.lineMode, 11);
    EXPECT_TRUE(p.reportsInRange);
}

TEST(Encoders, EchoSetLineModesAndLimits) {
    for (auto [mode, sent] :
         {std::pair{3, 275}, {19, 275}, {257, 275}, {131, 0}, {147, 0}, {265, 283}}) {
        MeterState st;
        st.lineMode = mode;
        const CommandPlan p = EchoSet(st, EchoSettings{});
        const bool hasMode = codes(p).size() == 3;
        EXPECT_EQ(hasMode, sent != 0) << mode;
        if (hasMode) {
            EXPECT_EQ(p.blocks[1].words[1], sent);
        }
    }
    MeterState st;
    EchoSettings s;
    s.firstProbeTime = 1e12; // would not fit 32 bits
    s.firstPhase = 360.0;    // a whole turn
    s.secondProbeTime = 0.5;
    s.analysisTime = 2.0; // at most the second probe time
    s.firstLevel = 6.0;   // at most 0 dBm
    const CommandPlan p = EchoSet(st, s);
    const auto& w = last(p).words;
    EXPECT_EQ(w[1] | (w[2] << 16), static_cast<int>(80000.0 * 25600 + 0.5));
    EXPECT_EQ(w[3], 9235);
    EXPECT_EQ(w[6], 0xFFFF);
    EXPECT_EQ(w[7], 0xFFFF);
    EXPECT_DOUBLE_EQ(st.echoAnalysisTime, 0.5);
    EXPECT_DOUBLE_EQ(st.echoSecondProbeTime, 0.5);
}

TEST(Encoders, RangeSetChoosesAttenuatorTopAndBottom) {
    struct Case {
        double max, min;
        int gain, attenuator;
        double top, bottom;
        uint16_t level;
    };
    const Case cases[] = {
        {0.0, -55.0, 0, 0, 0.0, -55.0, 58},        // 10^(-55/20) x 32767
        {5.0, -100.0, 32, 0, 20.0, -60.0, 3},      // bottom kept within top - 80
        {-20.0, -30.0, 0, 13, -19.5, -30.0, 9782}, // -1.5 dB x 13
        {-18.0, 10.0, 0, 0, 0.0, 0.0, 32767},      // bottom at most the top
        {-19.0, -100.0, 0, 13, -19.5, -99.5, 3},   // -19 dBm is not above -19
    };
    for (const Case& c : cases) {
        MeterState st;
        st.lineMode = 11;
        const CommandPlan p = MeterLevHiLowRangeSet(st, c.max, c.min);
        EXPECT_STREQ(p.label, "MeterLevHiLowRangeSet()");
        EXPECT_EQ(st.gainFlag, c.gain);
        EXPECT_EQ(st.attenuatorCode, c.attenuator);
        EXPECT_DOUBLE_EQ(st.referenceLevel, c.top);
        EXPECT_DOUBLE_EQ(st.bottomLevel, c.bottom);
        EXPECT_EQ(p.result, c.top);
        ASSERT_EQ(codes(p), (std::vector<int>{command::LevelRange, command::LineMode,
                                              command::MeterRestart}));
        EXPECT_EQ(words(p.blocks[0]),
                  (std::vector<uint16_t>{11, c.level, static_cast<uint16_t>(c.attenuator)}));
        EXPECT_EQ(p.blocks[1].words[1], 11 + c.gain);
        for (std::size_t i = 0; i < p.count; ++i)
            EXPECT_FALSE(p.blocks[i].checked) << "the top decides the step";
    }
}

TEST(Encoders, RangeSetRestartsOnlyWhenTheRangeChanged) {
    MeterState st;
    MeterLevHiLowRangeSet(st, 0.0, -55.0);
    EXPECT_EQ(codes(MeterLevHiLowRangeSet(st, 0.0, -55.0)),
              (std::vector<int>{command::LevelRange, command::LineMode}));
    EXPECT_EQ(codes(MeterLevHiLowRangeSet(st, 0.0, -50.0)).size(), 3u);
    st.echoMode = true;
    const CommandPlan p = MeterLevHiLowRangeSet(st, 10.0, -20.0);
    EXPECT_EQ(p.count, 0u);
    EXPECT_EQ(p.result, 0.0) << "the kept top";
    EXPECT_DOUBLE_EQ(st.bottomLevel, -50.0);
}

TEST(Encoders, MeterRestartSendsTheSettingAndResendsKeptThresholdsAndDeadTimes) {
    MeterState st;
    st.adoptSine(326);
    EXPECT_EQ(codes(ZmkMeterRestart(st)), (std::vector<int>{command::MeterRestart}));
    ThreshSet(st, -14, -24, 4, 15);
    DeadTimeSet(st, 125, 125, 125, 125);
    st.meterTable[meter::LevelDeviation] = 1.5f;
    const CommandPlan p = ZmkMeterRestart(st);
    EXPECT_STREQ(p.label, "ZMKmeterRestart()");
    ASSERT_EQ(codes(p),
              (std::vector<int>{command::MeterRestart, command::Thresholds, command::DeadTimes}));
    EXPECT_EQ(p.blocks[0].words[1], 326);
    EXPECT_EQ(words(p.blocks[1]), (std::vector<uint16_t>{5, 4840, 64531, 39, 2729, 61443, 1696}));
    EXPECT_EQ(words(p.blocks[2]), (std::vector<uint16_t>{8, 1600, 1600, 200, 200}));
    EXPECT_EQ(st.restartApplied, 326);
    EXPECT_EQ(st.meterTable[meter::LevelDeviation], kNotMeasured);
    // Without a recognised sine the setting is 0.
    st.codes[0] = -1;
    EXPECT_EQ(ZmkMeterRestart(st).blocks[0].words[1], 0);
    EXPECT_EQ(st.restartApplied, 0);
}

TEST(Encoders, LineModesAcceptedByState) {
    MeterState st;
    for (int m : {0, 3, 11, 19, 27, 131, 147, 257, 265, 274, 275, 282, 283})
        EXPECT_TRUE(SetLineMode(st, m)) << m;
    for (int m : {1, 12, 266, 284, -1})
        EXPECT_FALSE(SetLineMode(st, m)) << m;
    EXPECT_EQ(st.lineMode, 283);
    st.impedanceMode = true;
    EXPECT_FALSE(SetLineMode(st, 0));
    EXPECT_TRUE(SetLineMode(st, 275));
    st.impedanceMode = false;
    st.echoMode = true;
    EXPECT_FALSE(SetLineMode(st, 11));
    EXPECT_EQ(st.lineMode, 275);
    st.gainFlag = 32;
    EXPECT_EQ(words(SendLineMode(st).blocks[0]), (std::vector<uint16_t>{15, 307}));
}

TEST(Encoders, SendPlanStopsAtACheckedFailureAndPassesUncheckedOnes) {
    MeterState st;
    ThreshSet(st, -14, -24, 4, 15);
    CommandPlan range = MeterLevHiLowRangeSet(st, 0.0, -55.0);
    std::vector<int> sent;
    auto failAll = [&](const uint8_t* b, std::size_t) {
        sent.push_back(b[0]);
        return false;
    };
    PlanOutcome r = sendPlan(range, failAll);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.value, 0.0);
    EXPECT_EQ(sent, (std::vector<int>{11, 15, 0, 5}));
    sent.clear();
    r = sendPlan(HarmSet(st, 0, 1020), failAll);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.value, 0.0);
    EXPECT_EQ(sent, (std::vector<int>{15}));
}

} // namespace
} // namespace vetlina
