// The sine analysis on synthesised sines: harmonics, psophometric noise, side
// components and jitter.
#include "Synthesis.h"
#include "analyzer/Encoders.h"
#include "analyzer/Tables.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

using namespace test;

class SineAnalysis : public ::testing::Test {
protected:
    void SetUp() override { setRange(meter); }
    void analyse(const Signal& s, double rms = 0.0) {
        feed(meter, samples(s, 0.0, rms), actions);
        ASSERT_GT(meter.state.codes[0], 0) << "a sine must be recognised";
    }
    float item(int i) const { return meter.out().levels[i]; }

    MeterComputation meter;
    RecordingActions actions;
};

TEST_F(SineAnalysis, HarmonicsAsDistancesAndPerCent) {
    // 2nd harmonic 1 % (-40 dB) and 3rd 0.5 % (-46 dB) of a 1000 Hz sine.
    const double a = amplitudeDb(-6);
    analyse(sum({sine(a, 1000.0), sine(a * 0.01, 2000.0, 0.4), sine(a * 0.005, 3000.0, 1.1)}));
    EXPECT_NEAR(item(item::Dist2), 40.0, 0.02);
    EXPECT_NEAR(item(item::Dist3), 46.02, 0.02);
    EXPECT_NEAR(item(item::Dis2), 1.0, 0.002);
    EXPECT_NEAR(item(item::Dis3), 0.5, 0.001);
    // Powers add: sqrt(1^2 + 0.5^2) = 1.118 %.
    EXPECT_NEAR(item(item::Dis23), std::sqrt(1.25), 0.002);
    EXPECT_NEAR(item(item::Dist23), -20.0 * std::log10(std::sqrt(1.25) / 100.0), 0.02);
}

TEST_F(SineAnalysis, HarmonicsBeyondTheBandEdgeAreMissing) {
    // Peak bin 362 (1131 Hz): 3rd harmonic at 3394 Hz still measured; bin 363 not.
    analyse(sine(amplitudeDb(-6), 362 * 3.125));
    EXPECT_NE(item(item::Dis3), kNotMeasured);
    analyse(sine(amplitudeDb(-6), 363 * 3.125));
    analyse(sine(amplitudeDb(-6), 363 * 3.125));
    EXPECT_EQ(meter.state.codes[0], 363);
    EXPECT_NE(item(item::Dis2), kNotMeasured);
    EXPECT_EQ(item(item::Dis3), kNotMeasured);
    EXPECT_EQ(item(item::Dist23), kNotMeasured);
    EXPECT_EQ(item(item::Dis23), kNotMeasured);
    // Peak bin 544 (1700 Hz): no harmonic at all.
    analyse(sine(amplitudeDb(-6), 1700.0));
    analyse(sine(amplitudeDb(-6), 1700.0));
    EXPECT_EQ(meter.state.codes[0], 544);
    for (int i : {item::Dist2, item::Dist3, item::Dist23, item::Dis2, item::Dis3, item::Dis23})
        EXPECT_EQ(item(i), kNotMeasured) << i;
    analyse(sine(amplitudeDb(-6), 543 * 3.125));
    EXPECT_NE(item(item::Dis2), kNotMeasured);
}

TEST_F(SineAnalysis, PsophometricNoiseWeightsTheSpectrum) {
    // A weak tone at 800 Hz (weight 0 dB) and at 300 Hz (-10.6 dB) as the only noise.
    const double a = amplitudeDb(-6);
    analyse(sum({sine(a, 2000.0), sine(amplitudeDb(-50), 800.0, 0.5)}));
    EXPECT_NEAR(item(item::NoisePs), -50.56, 0.05);
    EXPECT_NEAR(item(item::SnrPs), 44.0, 0.05);
    analyse(sum({sine(a, 2000.0), sine(amplitudeDb(-50), 300.0, 0.5)}));
    EXPECT_NEAR(item(item::NoisePs), -50.56 - 10.6, 0.05);
}

TEST_F(SineAnalysis, PsophometricSignalToNoiseHasAFloorOfMinus20) {
    // Strong out-of-band noise at 4000 Hz is weighted by -15 dB but still dominates; it
    // lies outside the band of the plain signal-to-noise.
    analyse(sum({sine(amplitudeDb(-40), 1000.0), sine(amplitudeDb(-1), 4000.0)}));
    EXPECT_GT(item(item::Snr), 20.0f);
    EXPECT_FLOAT_EQ(item(item::SnrPs), -20.0f);
}

TEST_F(SineAnalysis, SideComponentsAreDistancesBelowTheCarrier) {
    // Amplitude modulation at 50 Hz by 2 %: each side tone is 1 % = 40 dB below.
    const double a = amplitudeDb(-6);
    analyse([=](double t) {
        return a * (1.0 + 0.02 * std::cos(2 * kPi * 50.0 * t)) * std::cos(2 * kPi * 1000.0 * t);
    });
    const auto& side = meter.out().sideComponents;
    EXPECT_FLOAT_EQ(side[8], 0.0f);
    EXPECT_NEAR(side[7], 40.0, 0.05);
    EXPECT_NEAR(side[9], 40.0, 0.05);
    EXPECT_GT(side[6], 60.0);
    EXPECT_FLOAT_EQ(meter.out().sideOffsets[0], -400.0f);
    EXPECT_FLOAT_EQ(meter.out().sideOffsets[16], 400.0f);
}

TEST_F(SineAnalysis, SideComponentsNearTheLowerBandEdgeStayInsideTheSpectrum) {
    // At bin 96 the -400 Hz component would lie below bin 0; only real bins count.
    analyse(sine(amplitudeDb(-6), 300.0));
    for (float v : meter.out().sideComponents)
        EXPECT_TRUE(std::isfinite(v));
}

// Peak-to-peak phase deviation in degrees and peak-to-peak relative amplitude deviation
// in per cent of a sinusoidal jitter. The constants of the system read 11.48 where
// 360/pi/10 = 11.459 would be exact (+0.19 %) and 1/7.8 where 10/sqrt(6144) would be
// exact (+0.49 %).
TEST_F(SineAnalysis, JitterIsThePeakToPeakDeviationOfASinusoidalJitter) {
    struct Case {
        double carrier, jitterHz, phaseDeg, am;
    };
    for (const Case c : {Case{1020.0, 50.0, 5.0, 0.02}, Case{1800.0, 120.0, 2.0, 0.05},
                         Case{600.0, 25.0, 10.0, 0.01}, Case{2800.0, 250.0, 1.0, 0.005}}) {
        const double a = amplitudeDb(-6);
        analyse([=](double t) {
            return a * (1.0 + c.am * std::sin(2 * kPi * c.jitterHz * t + 0.3)) *
                   std::cos(2 * kPi * c.carrier * t +
                            c.phaseDeg * kPi / 180.0 * std::sin(2 * kPi * c.jitterHz * t));
        });
        EXPECT_NEAR(item(item::JitPh), 2.0 * c.phaseDeg * 1.0019, 0.01 * c.phaseDeg) << c.carrier;
        EXPECT_NEAR(item(item::JitAm), 2.0 * c.am * 100.0 * 1.0049, 2.0 * c.am) << c.carrier;
        EXPECT_NEAR(item(item::JitPhFull), item(item::JitPh), 0.02 * c.phaseDeg);
    }
}

TEST_F(SineAnalysis, SlowJitterFallsInTheLowBand) {
    const double a = amplitudeDb(-6);
    analyse([=](double t) {
        return a *
               std::cos(2 * kPi * 1000.0 * t + 4.0 * kPi / 180.0 * std::sin(2 * kPi * 12.5 * t));
    });
    EXPECT_NEAR(item(item::JitPhLow), 8.0, 0.2);
    EXPECT_LT(item(item::JitPh), 0.5);
    EXPECT_NEAR(item(item::JitPhFull), 8.0, 0.2);
}

TEST_F(SineAnalysis, ACleanSineHasNoJitterAndLimitsHoldForWildOnes) {
    analyse(sine(amplitudeDb(-6), 1020.0, 0.2));
    EXPECT_LT(item(item::JitPh), 0.01);
    EXPECT_LT(item(item::JitAm), 0.01);
    // 40 degrees of phase deviation: 80 degrees peak-to-peak is shown as 45.
    const double a = amplitudeDb(-6);
    analyse([=](double t) {
        return a *
               std::cos(2 * kPi * 1020.0 * t + 40.0 * kPi / 180.0 * std::sin(2 * kPi * 30.0 * t));
    });
    EXPECT_FLOAT_EQ(item(item::JitPh), 45.0f);
}

} // namespace
} // namespace vetlina
