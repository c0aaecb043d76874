// Decoding of the analyzer's blocks by type and length, the assembly of frame sets, and
// the blocks the meter evaluates itself, against values worked out by hand.
#include "Synthesis.h"
#include "analyzer/Encoders.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

using namespace test;

class BlockDecoder : public ::testing::Test {
protected:
    void SetUp() override { setRange(meter); }
    int16_t decode(std::vector<int16_t> w) {
        return meter.DecodeBlock(w.data(), static_cast<int>(w.size()), actions);
    }
    static std::vector<int16_t> block(int16_t type, int words) {
        std::vector<int16_t> w(words, 0);
        w[0] = type;
        return w;
    }
    const std::array<float, meter::Count>& table() const { return meter.state.meterTable; }
    const std::array<float, event::Count>& events() const { return meter.out().events; }

    MeterComputation meter;
    RecordingActions actions;
};

TEST_F(BlockDecoder, EachTypeIsAcceptedOnlyWithItsExactLength) {
    const std::pair<int16_t, int> types[] = {{-14, 2},  {-13, 60}, {-12, 10}, {-11, 26},
                                             {-10, 68}, {-9, 68},  {-5, 18},  {-4, 33}};
    for (auto [type, words] : types) {
        EXPECT_NE(decode(block(type, words)), code::Rejected) << type;
        EXPECT_EQ(decode(block(type, words - 1)), code::Rejected) << type;
        EXPECT_EQ(decode(block(type, words + 1)), code::Rejected) << type;
    }
    for (int16_t type : {-1, -2, -3, -6, -7, -8, -15, 0, 1, 100})
        EXPECT_EQ(decode(block(type, 68)), code::Rejected) << type;
    EXPECT_EQ(meter.DecodeBlock(nullptr, 0, actions), code::Rejected);
}

TEST_F(BlockDecoder, StatusParameterTableAndCalibrationAreKept) {
    EXPECT_EQ(decode({-14, -2}), code::StatusWord);
    EXPECT_EQ(meter.out().statusWord, 0xFFFE);
    auto params = block(-13, 60);
    params[59] = 1234;
    EXPECT_EQ(decode(params), code::ParameterTable);
    EXPECT_EQ(meter.out().parameterTable[0], -13);
    EXPECT_EQ(meter.out().parameterTable[59], 1234);
    auto cal = block(-11, 26);
    for (int i = 1; i < 26; ++i)
        cal[i] = static_cast<int16_t>(100 + i);
    EXPECT_EQ(decode(cal), code::Calibration);
    EXPECT_TRUE(meter.out().calibrationReceived);
    EXPECT_EQ(meter.out().calibration[0], 101);
    EXPECT_EQ(meter.out().calibration[9], 110) << "serial number";
    EXPECT_EQ(meter.out().calibration[24], 125);
}

TEST_F(BlockDecoder, BytesAreLittleEndianWordsAndOnly512AreLookedAt) {
    const uint8_t status[] = {0xF2, 0xFF, 0x34, 0x12, 0x99};
    EXPECT_EQ(meter.DecodeBlockBytes(status, 4, actions), code::StatusWord);
    EXPECT_EQ(meter.out().statusWord, 0x1234);
    EXPECT_EQ(meter.DecodeBlockBytes(status, 5, actions), code::StatusWord) << "odd byte dropped";
    std::vector<uint8_t> huge(600, 0);
    huge[0] = 0xF2;
    huge[1] = 0xFF;
    EXPECT_EQ(meter.DecodeBlockBytes(huge.data(), huge.size(), actions), code::Rejected);
}

TEST_F(BlockDecoder, AnIncompleteSetReportsNothing) {
    const auto f = frames(samples(sine(8000.0, 1000.0)));
    for (int i = 0; i < 63; ++i)
        EXPECT_EQ(meter.DecodeBlock(f[i].data(), 68, actions), code::Nothing) << i;
    EXPECT_EQ(meter.state.samplePosition, 63 * 64);
    EXPECT_NE(meter.DecodeBlock(f[63].data(), 68, actions), code::Nothing);
    EXPECT_EQ(meter.state.samplePosition, 0);
}

TEST_F(BlockDecoder, AFrameOutOfOrderDiscardsTheSetUntilTheNextFirstFrame) {
    const auto f = frames(samples(sine(8000.0, 1000.0)));
    for (int i = 0; i < 10; ++i)
        meter.DecodeBlock(f[i].data(), 68, actions);
    EXPECT_EQ(meter.DecodeBlock(f[11].data(), 68, actions), code::Nothing); // frame 10 lost
    EXPECT_EQ(meter.state.samplePosition, 0);
    for (int i = 12; i < 64; ++i)
        EXPECT_EQ(meter.DecodeBlock(f[i].data(), 68, actions), code::Nothing) << "no set open";
    // A repeated frame also breaks the order.
    for (int i = 0; i < 5; ++i)
        meter.DecodeBlock(f[i].data(), 68, actions);
    meter.DecodeBlock(f[4].data(), 68, actions);
    EXPECT_EQ(meter.state.samplePosition, 0);
    // The next frame with position 64 starts a new set, which completes.
    int16_t last = 0;
    for (const auto& fr : f)
        last = meter.DecodeBlock(fr.data(), 68, actions);
    EXPECT_EQ(last, code::Unstable);
    EXPECT_EQ(meter.state.codes[0], 320);
}

TEST_F(BlockDecoder, FramesOfAnotherTagOrKindDoNotJoinTheSet) {
    auto f = frames(samples(sine(8000.0, 1000.0)), -9, 7000);
    for (int i = 0; i < 20; ++i)
        meter.DecodeBlock(f[i].data(), 68, actions);
    EXPECT_EQ(meter.state.frameTag, 7000u);
    auto other = frames(samples(sine(8000.0, 1000.0)), -9, 7320);
    EXPECT_EQ(meter.DecodeBlock(other[20].data(), 68, actions), code::Nothing);
    EXPECT_EQ(meter.state.samplePosition, 0);
    for (int i = 0; i < 20; ++i)
        meter.DecodeBlock(f[i].data(), 68, actions);
    auto echo = frames(samples(sine(8000.0, 1000.0)), -10, 7000);
    EXPECT_EQ(meter.DecodeBlock(echo[20].data(), 68, actions), code::Nothing);
    EXPECT_EQ(meter.state.samplePosition, 0);
}

TEST_F(BlockDecoder, OverloadIsASampleBeyond28499InASignalSetOnly) {
    std::vector<int16_t> s(kSet, 0);
    for (int i = 0; i < kSet; ++i)
        s[i] = static_cast<int16_t>(8000.0 * std::cos(2 * kPi * 1000.0 * i / kRate));
    s[1234] = 28499;
    feed(meter, s, actions);
    EXPECT_TRUE(actions.reports.empty());
    s[1234] = -28500;
    feed(meter, s, actions);
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::Overload}));
    // An echo envelope is not checked against the signal limit, only against its own.
    actions.clear();
    meter.state.rangeState = kInRange;
    std::vector<int16_t> envelope(kSet, 8000);
    envelope[1234] = 30000;
    feed(meter, envelope, actions, -10);
    EXPECT_TRUE(actions.reports.empty());
}

// The meter table (-5): peak w9:w10 = 0.01 x 2^32 (-20 dB), level (w3:w4 + w5 2^32)/w6 =
// 2^32/10 (-10 dB), noise w7:w8 = 4295 (-60 dB), level hits w11 = -8196 and w12 = 4098
// (both 3.01 dB), phase hits w13 = 4098 (30 degrees), frequency 1020 Hz in w14:w15/w17.
std::vector<int16_t> meterTableBlock() {
    std::vector<int16_t> w(18, 0);
    w[0] = -5;
    w[2] = 1500;
    w[3] = 0;
    w[4] = 0;
    w[5] = 1;
    w[6] = 10;
    w[7] = 0;
    w[8] = 4295;
    w[9] = 655;
    w[10] = 23593;
    w[11] = -8196;
    w[12] = 4098;
    w[13] = 4098;
    w[14] = 6528;
    w[15] = 0;
    w[16] = 0;
    w[17] = 5;
    return w;
}

TEST_F(BlockDecoder, MeterTableItemsByHand) {
    EXPECT_EQ(decode(meterTableBlock()), code::MeterTable);
    EXPECT_FLOAT_EQ(table()[meter::TimeTag], 1.5f);
    EXPECT_NEAR(table()[meter::Peak], -20.0 + 8.47, 1e-4);
    EXPECT_NEAR(table()[meter::Level], -10.0 + 8.47, 1e-4);
    EXPECT_NEAR(table()[meter::Noise], -51.53, 1e-3);
    EXPECT_NEAR(table()[meter::LevelHits], 6.0206, 1e-4);
    EXPECT_NEAR(table()[meter::PhaseHits], 30.0, 1e-4);
    EXPECT_FLOAT_EQ(table()[meter::Frequency], 1020.0f);
    EXPECT_FLOAT_EQ(table()[meter::FrequencyDeviation], 0.0f);
    EXPECT_EQ(table()[meter::LevelDeviation], kNotMeasured) << "only while a sine is recognised";
    EXPECT_TRUE(actions.reports.empty()) << "already in range";
}

TEST_F(BlockDecoder, MeterTableFrequencyIsSmoothedAndJumpsOnLargeSteps) {
    decode(meterTableBlock());
    auto w = meterTableBlock();
    // 1020.3125 Hz: 1632.5 x 2^18 / 5 x 3.125 ... as w14:w15 = 427950080.
    w[14] = static_cast<int16_t>(427950080 >> 16);
    w[15] = static_cast<int16_t>(427950080 & 0xFFFF);
    decode(w);
    EXPECT_NEAR(table()[meter::Frequency], 1020.034375, 1e-4);
    EXPECT_NEAR(table()[meter::FrequencyDeviation], 0.034375, 1e-4);
    // 1025 Hz is more than 0.5 Hz away: the smoothing starts over.
    w[14] = static_cast<int16_t>(429916160 >> 16);
    w[15] = static_cast<int16_t>(429916160 & 0xFFFF);
    decode(w);
    EXPECT_FLOAT_EQ(table()[meter::Frequency], 1025.0f);
    EXPECT_FLOAT_EQ(table()[meter::FrequencyDeviation], 5.0f);
    w[17] = 0;
    decode(w);
    EXPECT_FLOAT_EQ(table()[meter::Frequency], 1025.0f) << "no frequency without a divisor";
}

TEST_F(BlockDecoder, MeterTableWithARecognisedSine) {
    meter.state.adoptSine(326);
    meter.out().levels[item::Level] = -10.0f;
    decode(meterTableBlock());
    EXPECT_NEAR(table()[meter::Peak], -10.0 - 0.0 + 12.4 + (-20.0 + 8.47), 1e-4);
    EXPECT_EQ(table()[meter::LevelDeviation], kNotMeasured) << "from the second block on";
    auto w = meterTableBlock();
    w[6] = 20; // level 10 log10(0.05) + 8.47 = -4.54
    decode(w);
    EXPECT_NEAR(table()[meter::LevelDeviation], 2.1286, 1e-3);
    // A restart starts the deviation over.
    ZmkMeterRestart(meter.state);
    decode(w);
    EXPECT_EQ(table()[meter::LevelDeviation], kNotMeasured);
    decode(w);
    EXPECT_FLOAT_EQ(table()[meter::LevelDeviation], 0.0f);
}

TEST_F(BlockDecoder, MeterTablePeakAboveTheTopIsOverload) {
    auto w = meterTableBlock();
    w[9] = -1; // the largest peak word: 0 dB of full scale
    w[10] = -1;
    decode(w);
    EXPECT_NEAR(table()[meter::Peak], 8.47, 1e-4);
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::Overload}));
    EXPECT_EQ(meter.state.rangeState, kOverloaded);
    decode(meterTableBlock());
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::Overload, code::InRange}));
    // A tiny peak is shown as -99.
    w[9] = 0;
    w[10] = 0;
    decode(w);
    EXPECT_FLOAT_EQ(table()[meter::Peak], -99.0f);
}

TEST_F(BlockDecoder, MeterTableWhileAnotherKindIsOnTheLineGivesNothing) {
    meter.state.codes = {-1, -1, -1};
    meter.state.rangeState = kOverloaded;
    EXPECT_EQ(decode(meterTableBlock()), code::Nothing);
    EXPECT_EQ(table()[meter::Peak], kNotMeasured);
    EXPECT_TRUE(actions.reports.empty()) << "a missing peak says nothing about the range";
    EXPECT_EQ(table()[meter::Frequency], kNotMeasured);
}

std::vector<int16_t> eventBlock() {
    std::vector<int16_t> w(33, 0);
    w[0] = -4;
    w[2] = 10000; // 10 s
    w[3] = 1;
    w[4] = 2;
    w[5] = 3;
    w[7] = 12800; // 1 s of impulse noise
    w[9] = 1280;
    w[11] = 3; // errored seconds
    w[13] = 20;
    for (int i = 0; i < 5; ++i)
        w[14 + i] = static_cast<int16_t>(4 + i);
    w[20] = 6400;
    w[22] = 1;
    w[24] = 5;
    w[25] = 9;
    w[26] = 11;
    w[27] = 4840; // the thresholds of ThreshSet(-14, -24, 4, 15) at top 0 dBm
    w[28] = 39;
    w[29] = static_cast<int16_t>(64531);
    w[30] = 2729;
    w[31] = static_cast<int16_t>(61443);
    w[32] = 1696;
    return w;
}

TEST_F(BlockDecoder, EventStatisticsByHand) {
    EXPECT_EQ(decode(eventBlock()), code::EventStatistics);
    const auto& e = events();
    EXPECT_FLOAT_EQ(e[0], 10.0f);
    EXPECT_FLOAT_EQ(e[1], 1.0f);
    EXPECT_FLOAT_EQ(e[2], 2.0f);
    EXPECT_FLOAT_EQ(e[3], 3.0f);
    EXPECT_FLOAT_EQ(e[4], 0.1f);
    EXPECT_FLOAT_EQ(e[5], 0.01f);
    EXPECT_FLOAT_EQ(e[6], 30.0f);
    EXPECT_FLOAT_EQ(e[7], 100.0f) << "200 % is held at 100";
    EXPECT_FLOAT_EQ(e[8], 4.0f);
    EXPECT_FLOAT_EQ(e[12], 8.0f);
    EXPECT_FLOAT_EQ(e[13], 0.05f);
    EXPECT_FLOAT_EQ(e[14], 10.0f);
    EXPECT_FLOAT_EQ(e[15], 35.0f);
    EXPECT_FLOAT_EQ(e[16], 0.16f);
    EXPECT_FLOAT_EQ(e[17], 50.0f);
    EXPECT_FLOAT_EQ(e[18], 9.0f);
    EXPECT_FLOAT_EQ(e[19], 11.0f);
    // The thresholds read back are those that were sent, within the words' resolution;
    // the phase jump is corrected at the corrected angle (15.6 degrees), so it reads
    // 14.98 for 15.
    EXPECT_NEAR(e[event::PulseThreshold], -14.0, 0.001);
    EXPECT_NEAR(e[event::InterruptionThreshold], -24.0, 0.001);
    EXPECT_NEAR(e[event::LevelJumpThreshold], 4.0, 0.001);
    EXPECT_NEAR(e[event::PhaseJumpThreshold], 14.980, 0.001);
}

TEST_F(BlockDecoder, EventStatisticsOverZeroTimeAndWithoutThresholds) {
    auto w = eventBlock();
    w[2] = 0;
    w[27] = w[28] = w[29] = 0;
    w[30] = 8192; // nothing left of the level: no threshold
    w[31] = 0;
    w[32] = 8000; // beyond the arcsine
    decode(w);
    const auto& e = events();
    for (int i : {4, 5, 6, 7, 13, 14, 16, 17})
        EXPECT_FLOAT_EQ(e[i], 0.0f) << i;
    EXPECT_FLOAT_EQ(e[15], 35.0f);
    EXPECT_FLOAT_EQ(e[event::PulseThreshold], -120.0f);
    EXPECT_FLOAT_EQ(e[event::InterruptionThreshold], -120.0f);
    EXPECT_FLOAT_EQ(e[event::LevelJumpThreshold], 0.0f);
    EXPECT_FLOAT_EQ(e[event::PhaseJumpThreshold], 0.0f);
}

TEST_F(BlockDecoder, EventStatisticsAreIgnoredWhileAnotherKindIsOnTheLine) {
    meter.state.codes = {-2, 0, 0};
    EXPECT_EQ(decode(eventBlock()), code::Nothing);
    EXPECT_EQ(events()[0], kNotMeasured);
}

std::vector<int16_t> trackingBlock(int16_t frequencyWord, int16_t br, int16_t bi) {
    // a = (100, 0); b as given; both frequencies from the same word (6.896552 Hz steps).
    return {-12, 0, 2000, 100, 0, frequencyWord, br, bi, frequencyWord, 0};
}

TEST_F(BlockDecoder, TrackingAveragesPerSlotAndRestartsOnAJump) {
    EXPECT_EQ(decode(trackingBlock(145, 0, 200)), code::Tracking); // 1000 Hz, +6.02 dB, +90 deg
    const TrackingTable& t = meter.out().tracking;
    EXPECT_FLOAT_EQ(t.timeTag, 2.0f);
    EXPECT_NEAR(t.level[9], 6.0206, 1e-4);
    EXPECT_NEAR(t.phase[9], 6.0, 1e-4) << "a quarter of 24";
    EXPECT_EQ(t.count[9], 1);
    decode(trackingBlock(145, 0, 220));
    EXPECT_EQ(t.count[9], 2);
    EXPECT_NEAR(t.level[9], (6.0206 + 20 * std::log10(2.2)) / 2, 1e-3);
    decode(trackingBlock(145, 0, 400)); // 12 dB: more than 2 dB off the average
    EXPECT_EQ(t.count[9], 1);
    EXPECT_NEAR(t.level[9], 12.0412, 1e-3);
}

TEST_F(BlockDecoder, TrackingRejectsFarFrequenciesWeakVectorsAndBorrowsNearDisturbedOnes) {
    const TrackingTable& t = meter.out().tracking;
    decode(trackingBlock(152, 0, 200)); // 1048 Hz: 48 Hz from the slot centre
    EXPECT_EQ(t.count[9], 0);
    decode(trackingBlock(145, 0, 80)); // |b|^2 6400 is too weak
    EXPECT_EQ(t.count[9], 0);
    decode(trackingBlock(218, 0, 200)); // 1503 Hz -> slot 14
    decode(trackingBlock(247, 0, 400)); // 1703 Hz -> slot 16
    decode(trackingBlock(232, 100, 0)); // 1600 Hz: the mean of its neighbours
    EXPECT_NEAR(t.level[15], (6.0206 + 12.0412) / 2, 1e-3);
}

TEST_F(BlockDecoder, TrackingOverloadWord) {
    auto w = trackingBlock(145, 0, 200);
    w[9] = 32767;
    decode(w);
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::Overload}));
    decode(trackingBlock(145, 0, 200));
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::Overload, code::InRange}));
    decode(trackingBlock(145, 0, 200));
    EXPECT_EQ(actions.reports.size(), 2u);
}

TEST_F(BlockDecoder, ResetFillsTheResultTablesWithMissing) {
    decode(meterTableBlock());
    decode(eventBlock());
    meter.reset();
    EXPECT_EQ(table()[meter::Frequency], kNotMeasured);
    EXPECT_EQ(events()[event::Time], kNotMeasured);
    EXPECT_EQ(meter.out().levels[item::Level], kNotMeasured);
    EXPECT_EQ(meter.out().tones.attenuation[0], kNotMeasured);
    EXPECT_EQ(meter.out().echo, kNotMeasured);
    EXPECT_EQ(meter.state.rangeState, kInRange);
    EXPECT_EQ(meter.state.noiseBandwidth, 25.0);
}

} // namespace
} // namespace vetlina
