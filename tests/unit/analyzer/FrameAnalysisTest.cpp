// Recognition of the test signal and the level scale of the frame analysis, on signals
// synthesised sample by sample.
#include "Synthesis.h"
#include "analyzer/Encoders.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

using namespace test;

class FrameAnalysis : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(meter.hasWorkingMemory());
        setRange(meter);
    }
    int16_t analyse(const Signal& s, double rms = 0.0, unsigned seed = 1) {
        return feed(meter, samples(s, 0.0, rms, seed), actions);
    }
    float item(int i) const { return meter.out().levels[i]; }

    MeterComputation meter;
    RecordingActions actions;
};

TEST_F(FrameAnalysis, FullScaleSineReadsOneHalfDecibelBelowTheReferenceLevel) {
    // Hann window power gain 3/8 and the one-sided sum of the plain 4096-point transform:
    // 10 log10(0.375) + 3.7 = -0.56 dB. A transform of twice the size would read +5.4 dB.
    for (double top : {0.0, 20.0, -19.5}) {
        MeterComputation m;
        const double maxSignal = top == 20.0 ? 10.0 : top == 0.0 ? 0.0 : -30.0;
        setRange(m, maxSignal, top - 60.0);
        ASSERT_DOUBLE_EQ(m.state.referenceLevel, top);
        RecordingActions a;
        const int16_t code = feed(m, samples(sine(32767.0, 1000.0)), a);
        EXPECT_EQ(code, code::Unstable) << "first set after no signal";
        EXPECT_NEAR(m.out().levels[item::Level], top - 0.56, 0.02) << top;
    }
}

TEST_F(FrameAnalysis, SineLevelFollowsAmplitudeAtAnyFrequencyInTheBand) {
    for (double hz : {300.0, 1020.0, 1800.0, 2999.9, 3400.0}) {
        for (double db : {-6.0, -30.0, -50.0}) {
            MeterComputation m;
            setRange(m);
            RecordingActions a;
            feed(m, samples(sine(amplitudeDb(db), hz, 0.3)), a);
            EXPECT_GT(m.state.codes[0], 0) << hz << " Hz " << db;
            EXPECT_NEAR(m.out().levels[item::Level], db - 0.56, 0.05) << hz << " Hz " << db;
        }
    }
}

TEST_F(FrameAnalysis, SineIsRecognisedAtItsBinAndBecomesStableOnTheSecondSet) {
    EXPECT_EQ(analyse(sine(amplitudeDb(-10), 1000.0)), code::Unstable);
    EXPECT_EQ(meter.state.codes[0], 320);
    EXPECT_EQ(analyse(sine(amplitudeDb(-10), 1000.0)), 320);
    EXPECT_EQ(analyse(sine(amplitudeDb(-10), 1000.0)), 320);
}

TEST_F(FrameAnalysis, APeakMovingOneBinIsStableTwoBinsIsNot) {
    analyse(sine(amplitudeDb(-10), 1000.0));
    analyse(sine(amplitudeDb(-10), 1000.0));
    EXPECT_EQ(analyse(sine(amplitudeDb(-10), 1003.125)), 321);
    EXPECT_EQ(analyse(sine(amplitudeDb(-10), 1009.375)), code::Unstable); // bin 323
    EXPECT_EQ(analyse(sine(amplitudeDb(-10), 1009.375)), 323);
}

TEST_F(FrameAnalysis, FrequencyIsInterpolatedBetweenBins) {
    // The table of the Hann window's neighbour ratio is exact for the periodic window;
    // the 4095-point window and the linear steps of the table leave about 1 mHz.
    double worst = 0.0;
    for (double hz = 1000.0; hz <= 1003.2; hz += 0.2) {
        MeterComputation m;
        setRange(m);
        RecordingActions a;
        feed(m, samples(sine(amplitudeDb(-3), hz, 1.0)), a);
        worst = std::max(worst, std::fabs(m.out().levels[item::Frequency] - hz));
    }
    EXPECT_LT(worst, 0.005);
}

TEST_F(FrameAnalysis, TheAnalyzersOwnFrequencyReplacesAnInterpolationWithinHalfAHertz) {
    meter.state.meterTable[meter::Frequency] = 1020.3f;
    analyse(sine(amplitudeDb(-10), 1020.0));
    EXPECT_FLOAT_EQ(item(item::Frequency), 1020.3f);
    EXPECT_NEAR(item(item::FrequencyDeviation), 0.3, 1e-4);
    meter.state.meterTable[meter::Frequency] = 1020.6f;
    analyse(sine(amplitudeDb(-10), 1020.0));
    EXPECT_NEAR(item(item::Frequency), 1020.0, 0.02);
}

TEST_F(FrameAnalysis, NoiseAndSignalToNoiseOfASine) {
    // White noise of RMS sigma spreads sigma^2 evenly over 0..6400 Hz; the noise of the
    // sine hypothesis covers bins 95..1089 without the 32 bins around the sine.
    const double rms = 100.0;
    analyse(sine(amplitudeDb(-10), 1000.0), rms);
    const double bins = (1089 - 95 + 1) - 32;
    const double noiseDb =
        20.0 * std::log10(rms * std::sqrt(2.0) / 32767.0) - 0.56 + 10.0 * std::log10(bins / 2048.0);
    EXPECT_NEAR(item(item::Noise), noiseDb, 0.4);
    EXPECT_NEAR(item(item::Snr), item(item::Level) - item(item::Noise), 1e-4);
    EXPECT_GT(meter.state.codes[0], 0);
}

TEST_F(FrameAnalysis, EverySignalToNoiseAtOrBelowTheThresholdIsNoise) {
    // A sine 15 dB above a wide noise floor, with the threshold at 20 dB.
    const double rms =
        amplitudeDb(-10) / std::sqrt(2.0) / std::pow(10.0, 0.75) * std::sqrt(2048.0 / 963.0);
    analyse(sine(amplitudeDb(-10), 1000.0), rms);
    EXPECT_EQ(meter.state.codes[0], code::Noise);
    EXPECT_NE(item(item::Noise), kNotMeasured);
    EXPECT_EQ(item(item::Level), kNotMeasured);
    EXPECT_EQ(item(item::Snr), kNotMeasured);
    EXPECT_NE(meter.out().noiseBands[0], kNotMeasured);
}

TEST_F(FrameAnalysis, ASineBelowTheBottomOfTheRangeIsNoise) {
    analyse(sine(amplitudeDb(-60), 1000.0));
    EXPECT_EQ(meter.state.codes[0], code::Noise);
    meter.state.bottomLevel = -70.0;
    analyse(sine(amplitudeDb(-60), 1000.0));
    EXPECT_EQ(meter.state.codes[0], 320);
}

TEST_F(FrameAnalysis, RaisingTheBottomToTheTopMakesEverythingNoise) {
    meter.state.bottomLevel = meter.state.referenceLevel;
    analyse(sine(amplitudeDb(-1), 1000.0));
    EXPECT_EQ(meter.state.codes[0], code::Noise);
}

TEST_F(FrameAnalysis, ANegativeThresholdStillEndsTheSelection) {
    // With a threshold below -20 dB every failed hypothesis would stay above it; each is
    // tried once and the set ends as noise.
    meter.state.recognitionThreshold = -40.0;
    meter.state.bottomLevel = 0.0;
    analyse(sine(amplitudeDb(-30), 1000.0), 50.0);
    EXPECT_EQ(meter.state.codes[0], code::Noise);
}

TEST_F(FrameAnalysis, O131BandOfNoiseIsRecognised) {
    // Energy confined to 350..546 Hz (bins 112..175): sines four bins apart, so that their
    // windowed spectra do not overlap and their powers add.
    std::vector<Signal> parts;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> phase(0.0, 2 * kPi);
    for (int k = 114; k <= 174; k += 4)
        parts.push_back(sine(1600.0, k * 3.125, phase(rng)));
    analyse(sum(parts), 2.0);
    EXPECT_EQ(meter.state.codes[0], code::O131);
    const double total = 10.0 * std::log10(16 * 1600.0 * 1600.0 / (32767.0 * 32767.0));
    EXPECT_NEAR(item(item::Level), total - 0.56, 0.05);
}

TEST_F(FrameAnalysis, OverloadOfASignalSetIsReportedAndItsEndReturnsToRange) {
    analyse(sine(32000.0, 1000.0), 30.0);
    ASSERT_EQ(actions.reports, (std::vector<int16_t>{code::Overload}));
    EXPECT_EQ(meter.state.rangeState, kOverloaded);
    actions.clear();
    analyse(sine(20000.0, 1000.0), 30.0);
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::InRange}));
    EXPECT_EQ(meter.state.rangeState, kInRange);
}

TEST_F(FrameAnalysis, AQuietLineAfterAnOverloadStillReportsTheReturnToRange) {
    // A clean sine: its noise lies below the range, which must not swallow the return
    // from overload (the measurement would never accumulate again).
    analyse(sine(32000.0, 1000.0));
    ASSERT_EQ(actions.reports, (std::vector<int16_t>{code::Overload}));
    actions.clear();
    analyse(sine(20000.0, 1000.0));
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::InRange}));
    EXPECT_EQ(meter.state.rangeState, kBelowRange) << "its quiet noise is below the range";
}

TEST_F(FrameAnalysis, ASignalBelowTheRangeIsReportedInRangeWhenItComesBack) {
    analyse([](double) { return 0.0; });
    EXPECT_EQ(meter.state.rangeState, kBelowRange);
    EXPECT_TRUE(actions.reports.empty());
    analyse(sine(amplitudeDb(-10), 1000.0), 30.0);
    EXPECT_EQ(meter.state.rangeState, kInRange);
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::InRange}));
}

TEST_F(FrameAnalysis, ASineAfterAnotherKindRestartsTheMeterAtItsBin) {
    meter.state.codes = {-1, -1, -1};
    meter.state.restartApplied = 0;
    analyse(sine(amplitudeDb(-10), 1000.0));
    ASSERT_FALSE(actions.plans.empty());
    EXPECT_STREQ(actions.plans[0].label, label::MeterRestart);
    EXPECT_EQ(actions.plans[0].blocks[0].words[1], 320);
    EXPECT_EQ(meter.state.restartApplied, 320);
    EXPECT_EQ(actions.plans.size(), 1u) << "the moved-sine rule sees the applied setting";
}

TEST_F(FrameAnalysis, NoSignalAfterAnotherKindRestartsToZeroAndSendsCommandSix) {
    meter.state.codes = {-3, -3, -3};
    meter.state.restartApplied = 400;
    meter.state.restartRequested = 400;
    analyse([](double) { return 0.0; });
    EXPECT_EQ(actions.commandCodes(),
              (std::vector<int>{command::MeterRestart, command::AfterRestart}));
    EXPECT_EQ(actions.plans[0].blocks[0].words[1], 0);
    EXPECT_EQ(meter.state.restartApplied, 0);
}

TEST_F(FrameAnalysis, ASineThatMovedFromTheAppliedSettingIsLockedAnew) {
    meter.state.adoptSine(320);
    meter.state.restartApplied = 320;
    analyse(sine(amplitudeDb(-10), 1003.1));
    EXPECT_TRUE(actions.plans.empty()) << "one bin is within the lock";
    analyse(sine(amplitudeDb(-10), 1010.0));
    ASSERT_EQ(actions.plans.size(), 1u);
    EXPECT_EQ(actions.plans[0].blocks[0].words[1], 323);
}

TEST_F(FrameAnalysis, VisualSpectrumBandsAreCentredOnThePeak) {
    analyse(sine(amplitudeDb(-10), 1000.0));
    const VisualSpectrum& v = meter.out().spectrum;
    EXPECT_EQ(v.binsPerBand, 8);
    EXPECT_EQ((320 - v.firstBin) % 8, 4);
    const int band = (320 - v.firstBin) / 8;
    EXPECT_NEAR(v.level[band], -10.56, 0.1);
    for (int b = 0; b < v.bands; ++b) {
        EXPECT_GE(v.level[b], -110.0f);
        EXPECT_LE(v.level[b], 20.0f);
    }
}

TEST_F(FrameAnalysis, DcMeanOfTheSet) {
    analyse(sum({sine(amplitudeDb(-10), 1000.0), [](double) { return 123.0; }}));
    EXPECT_NEAR(meter.out().dcMean, 123.0, 0.5);
}

} // namespace
} // namespace vetlina
