// Multi-frequency, O.42, noise, echo and impedance analyses on synthesised signals.
#include "Synthesis.h"
#include "analyzer/Encoders.h"
#include "analyzer/Tables.h"

#include <complex>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using namespace test;

// The 38-tone comb: tone i at i x 100 Hz with its nominal phase, shaped by a channel
// with attenuation x(f) dB and phase phi(f) rad, at a time offset t0.
struct Channel {
    std::function<double(double)> attenuation = [](double) { return 0.0; };
    std::function<double(double)> phase = [](double) { return 0.0; };
};

Signal comb(double amplitude, const Channel& ch, double shiftHz = 0.0) {
    return [=](double t) {
        double v = 0.0;
        for (int i = 1; i <= 38; ++i) {
            const double f = i * 100.0 + shiftHz;
            v += amplitude * std::pow(10.0, -ch.attenuation(f) / 20.0) *
                 std::cos(2 * kPi * f * t + kTonePhaseSevenths[i - 1] * 2 * kPi / 7 + ch.phase(f));
        }
        return v;
    };
}

class SignalAnalyses : public ::testing::Test {
protected:
    void SetUp() override { setRange(meter); }
    int16_t analyse(const Signal& s, double t0 = 0.0, double rms = 0.0) {
        return feed(meter, samples(s, t0, rms), actions);
    }
    float item(int i) const { return meter.out().levels[i]; }

    MeterComputation meter;
    RecordingActions actions;
};

TEST_F(SignalAnalyses, CombIsRecognisedWithItsAttenuationResponse) {
    const double a = 2000.0;
    Channel ch;
    ch.attenuation = [](double f) { return 3.0 * std::pow((f - 1900.0) / 1500.0, 2); };
    analyse(comb(a, ch), 0.123);
    EXPECT_EQ(analyse(comb(a, ch), 0.443), code::MultiFrequency);
    // Tone share: attenuation = -15.05 - tone level, the tone level being that of a sine.
    const double share = -15.05 - (20.0 * std::log10(a / 32768.0) - 0.56);
    const ToneTables& t = meter.out().tones;
    EXPECT_EQ(t.offset, 0);
    for (int i = 0; i < 38; ++i) {
        const double f = (i + 1) * 100.0;
        EXPECT_FLOAT_EQ(t.frequency[i], static_cast<float>(f));
        EXPECT_NEAR(t.attenuation[i], share + ch.attenuation(f), 0.01) << f;
        EXPECT_GT(t.snr[i], 60.0f);
    }
    // The level is that of the 32 tones inside 300..3400 Hz, of which one tone's share is
    // 10 log10(1/32) = -15.05 dB. The comb's bins end at 96 and 1088, so the two edge
    // tones lose the outer neighbour of their Hann lobe: 1/6 of their power.
    double inBand = 0.0;
    for (int i = 3; i <= 34; ++i)
        inBand += std::pow(10.0, -ch.attenuation(i * 100.0) / 10.0) *
                  (i == 3 || i == 34 ? 5.0 / 6.0 : 1.0);
    EXPECT_NEAR(item(item::Level),
                10.0 * std::log10(inBand) + 20.0 * std::log10(a / 32768.0) - 0.56, 0.02);
}

TEST_F(SignalAnalyses, GroupDelayOfTheCombRelativeToTheSmallest) {
    // Group delay tau(f) = 0.3 ms + 0.4 ms ((f - 1900)/1000)^2; the phase is -2 pi times
    // its integral. The five-point differentiator is exact for this cubic phase; the end
    // tones take one-sided differences, i.e. the delay halfway to their neighbour.
    auto tau = [](double f) { return 0.0003 + 0.0004 * std::pow((f - 1900.0) / 1000.0, 2); };
    Channel ch;
    ch.phase = [](double f) {
        return -2 * kPi *
               (0.0003 * f + 0.0004 * (std::pow(f - 1900.0, 3) + std::pow(1900.0, 3)) / 3e6);
    };
    analyse(comb(2000.0, ch), 0.5);
    ASSERT_EQ(analyse(comb(2000.0, ch), 0.9), code::MultiFrequency);
    double smallest = 1.0;
    for (int i = 2; i <= 32; ++i)
        smallest = std::min(smallest, tau((i + 1) * 100.0));
    const auto& gd = meter.out().tones.groupDelay;
    for (int i = 2; i <= 35; ++i)
        EXPECT_NEAR(gd[i], (tau((i + 1) * 100.0) - smallest) * 1000.0, 0.001) << i;
    EXPECT_NEAR(gd[1], (tau(200.0) - smallest) * 1000.0, 0.005);
    EXPECT_NEAR(gd[0], (tau(150.0) - smallest) * 1000.0, 0.001);
    EXPECT_NEAR(gd[37], (tau(3750.0) - smallest) * 1000.0, 0.001);
}

TEST_F(SignalAnalyses, APureDelayHasNoGroupDelayDistortion) {
    Channel ch;
    ch.phase = [](double f) { return -2 * kPi * f * 0.0123; };
    analyse(comb(2000.0, ch));
    analyse(comb(2000.0, ch), 0.01);
    for (float g : meter.out().tones.groupDelay)
        EXPECT_NEAR(g, 0.0, 0.001);
}

TEST_F(SignalAnalyses, ShiftedCombIsFollowedByItsOffset) {
    // A channel that shifts every tone by +6.25 Hz: the comb sits two bins up.
    analyse(comb(2000.0, Channel{}, 6.25));
    EXPECT_EQ(analyse(comb(2000.0, Channel{}, 6.25), 0.2), code::MultiFrequency);
    EXPECT_EQ(meter.out().tones.offset, 2);
    EXPECT_FLOAT_EQ(meter.out().tones.frequency[9], 1006.25f);
}

TEST_F(SignalAnalyses, O42ProductsAsDistancesBelowTheSignal) {
    // Four tones in the O.42 bands, with 2nd-order products at 520 and 2240 Hz and a
    // 3rd-order product at 1900 Hz placed on bins of their bands.
    const double a = amplitudeDb(-12);
    const double p2 = a * 0.01, p3 = a * 0.003;
    const Signal s =
        sum({sine(a, 274 * 3.125), sine(a, 277 * 3.125, 1.0), sine(a, 440 * 3.125, 2.0),
             sine(a, 444 * 3.125, 3.0), sine(p2, 166 * 3.125), sine(p2, 716 * 3.125, 0.5),
             sine(p3, 608 * 3.125, 0.7)});
    EXPECT_EQ(analyse(s), code::Unstable);
    EXPECT_EQ(meter.state.codes[0], code::O42);
    // Signal power 4 a^2, 2nd-order power 2 p2^2, 3rd-order p3^2.
    const double d2 = 10.0 * std::log10(4.0 / (2.0 * 0.01 * 0.01));
    const double d3 = 10.0 * std::log10(4.0 / (0.003 * 0.003));
    const double d23 = 10.0 * std::log10(4.0 / (2.0 * 0.01 * 0.01 + 0.003 * 0.003));
    EXPECT_NEAR(item(item::Dist2), d2, 0.02);
    EXPECT_NEAR(item(item::Dist3), d3, 0.02);
    EXPECT_NEAR(item(item::Dist23), d23, 0.02);
    EXPECT_NEAR(item(item::Dis2), 100.0 * std::pow(10.0, -d2 / 20.0), 0.005);
    EXPECT_NEAR(item(item::Dis23), 100.0 * std::pow(10.0, -d23 / 20.0), 0.005);
}

TEST_F(SignalAnalyses, WhiteNoiseLevelAndBands) {
    // Gaussian noise of RMS sigma: each of the 2048 bins carries 1/2048 of its power.
    const double rms = 300.0;
    EXPECT_EQ(analyse([](double) { return 0.0; }, 0.0, rms), code::Noise);
    const double total = 20.0 * std::log10(rms * std::sqrt(2.0) / 32767.0) - 0.56;
    EXPECT_NEAR(item(item::Noise), total + 10.0 * std::log10(995.0 / 2048.0), 0.2);
    double bandMean = 0.0;
    for (float b : meter.out().noiseBands)
        bandMean += std::pow(10.0, b / 10.0);
    bandMean = 10.0 * std::log10(bandMean / kNoiseBands);
    EXPECT_NEAR(bandMean, total + 10.0 * std::log10(8.0 / 2048.0), 0.2);
    // Psophometric weighting of white noise over 0..6400 Hz is well below the flat level.
    EXPECT_LT(item(item::NoisePs), total - 2.0);
    EXPECT_EQ(item(item::Level), kNotMeasured);
}

TEST_F(SignalAnalyses, NoiseBandsPickOutATone) {
    // A weak tone at 1000 Hz lies in band 39 (bins 316..323).
    analyse(sine(amplitudeDb(-70), 1000.0), 0.0, 2.0);
    const auto& bands = meter.out().noiseBands;
    EXPECT_NEAR(bands[39], -70.56, 0.1);
    EXPECT_LT(bands[38], -85.0f);
    EXPECT_NEAR(meter.out().noiseBandsWeighted[39], -70.56 + 1.0, 0.1) << "1000 Hz weighs +1 dB";
}

// Echo sets: 4096 envelope values at 1600 per second; the probe in the first 32.
std::vector<int16_t> envelope(double probe, double echo, int echoFrom, int echoTo,
                              double rest = 0.0) {
    std::vector<int16_t> e(kSet);
    for (int i = 0; i < kSet; ++i) {
        const double v = i < 32 ? probe : (i >= echoFrom && i < echoTo) ? echo : rest;
        e[i] = static_cast<int16_t>(static_cast<uint16_t>(v));
    }
    return e;
}

// Echo frames carry the set in the order of the positions.
int16_t feedEcho(MeterComputation& m, const std::vector<int16_t>& set, DecoderActions& a) {
    int16_t last = 0;
    for (int f = 0; f < 64; ++f) {
        std::array<int16_t, 68> w{};
        w[0] = -10;
        w[1] = 0;
        w[2] = 500;
        for (int i = 0; i < 64; ++i)
            w[3 + i] = set[64 * f + i];
        w[67] = static_cast<int16_t>(64 * (f + 1));
        last = m.DecodeBlock(w.data(), 68, a);
    }
    return last;
}

TEST_F(SignalAnalyses, EchoIsTheProbeAgainstTheMeanOfTheAnalysisWindow) {
    EchoSettings s;
    s.secondProbeTime = 2.0;
    s.analysisTime = 0.02; // 32 samples
    EchoSet(meter.state, s);
    EXPECT_EQ(feedEcho(meter, envelope(30000.0, 300.0, 32, 64), actions), code::Echo);
    EXPECT_NEAR(meter.out().echo, 40.0, 0.01);
    EXPECT_FLOAT_EQ(meter.out().echoTime, 0.5f);
    // Half the window silent: the mean power halves, 3 dB more echo loss.
    feedEcho(meter, envelope(30000.0, 300.0, 32, 48), actions);
    EXPECT_NEAR(meter.out().echo, 43.01, 0.01);
    EXPECT_FLOAT_EQ(meter.out().envelope[0], 0.0f);
    EXPECT_NEAR(meter.out().envelope[40], -40.0, 0.01);
}

TEST_F(SignalAnalyses, EchoNeedsAProbeWellAboveWhatFollows) {
    EchoSet(meter.state, EchoSettings{});
    feedEcho(meter, envelope(1000.0, 700.0, 32, 100), actions);
    EXPECT_EQ(meter.out().echo, kNotMeasured) << "probe only 3 dB above";
    feedEcho(meter, envelope(1000.0, 0.0, 32, 100), actions);
    EXPECT_EQ(meter.out().echo, kNotMeasured) << "nothing after the probe";
    feedEcho(meter, envelope(1000.0, 0.0, 32, 100, 10.0), actions);
    EXPECT_FLOAT_EQ(meter.out().echo, 100.0f)
        << "a silent analysis window is the largest echo loss";
}

TEST_F(SignalAnalyses, EchoEnvelopeOverloadIsReported) {
    EchoSet(meter.state, EchoSettings{});
    feedEcho(meter, envelope(40000.0, 300.0, 32, 64), actions);
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::Overload}));
    feedEcho(meter, envelope(30000.0, 300.0, 32, 64), actions);
    EXPECT_EQ(actions.reports, (std::vector<int16_t>{code::Overload, code::InRange}));
}

// The impedance divider: the generator drives R_ref into the meter's input R_in; the
// bridge puts the line's impedance Z (physical sign: a capacitance has negative
// reactance) across R_in. Against the reference sets each tone changes by
// h = (1 + R_ref/R_in) / (1 + R_ref/R_in + R_ref/Z): lower, and lagging on a capacitive
// line.
Channel lineChannel(std::complex<double> z, double rIn) {
    const double rRef = 597.0;
    const std::complex<double> h = (1.0 + rRef / rIn) / (1.0 + rRef / rIn + rRef / z);
    Channel ch;
    ch.attenuation = [=](double) { return -20.0 * std::log10(std::abs(h)); };
    ch.phase = [=](double) { return std::arg(h); };
    return ch;
}

TEST_F(SignalAnalyses, ImpedanceOfALineFromTheDividerModel) {
    // 600 ohm in series with 1 uF: reactance 1/(2 pi f C) per tone.
    const double c = 1e-6, r = 600.0;
    const double rIn = 31111.1;
    SetLineMode(meter.state, 11);
    ImpedSet(meter.state, -10.0);
    ASSERT_TRUE(meter.state.impedanceMode);

    Channel reference;
    // The line depends on frequency: build it tone by tone.
    Channel line;
    line.attenuation = [=](double f) {
        return lineChannel({r, -1.0 / (2 * kPi * f * c)}, rIn).attenuation(f);
    };
    line.phase = [=](double f) { return lineChannel({r, -1.0 / (2 * kPi * f * c)}, rIn).phase(f); };

    // The first set is new to the recognition (-10); then the reference sets count until
    // the line mode for the measurement goes out with the fifth.
    EXPECT_EQ(analyse(comb(1000.0, reference)), code::Unstable);
    int sets = 0;
    while (actions.commandCodes().empty() && sets < 10) {
        EXPECT_EQ(analyse(comb(1000.0, reference), 0.32 * ++sets), code::Impedance);
        EXPECT_FALSE(meter.state.impedanceValid);
    }
    EXPECT_EQ(sets, 5);
    ASSERT_EQ(actions.commandCodes(), (std::vector<int>{command::LineMode}));
    EXPECT_EQ(actions.plans[0].blocks[0].words[1], 283);
    EXPECT_EQ(meter.state.lineMode, 11) << "the stored mode stays";

    // Two sets settle after the switch; the third is valid.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(analyse(comb(1000.0, line), 3.0 + i), code::Impedance);
        EXPECT_FALSE(meter.state.impedanceValid);
    }
    EXPECT_EQ(analyse(comb(1000.0, line), 5.0), code::Impedance);
    EXPECT_TRUE(meter.state.impedanceValid);
    const ImpedanceTables& z = meter.out().impedance;
    for (int i = 0; i < 38; ++i) {
        const double f = (i + 1) * 100.0;
        const double x = 1.0 / (2 * kPi * f * c);
        EXPECT_NEAR(z.resistance[i], r, 2.0) << f;
        EXPECT_NEAR(z.reactance[i], x, 2.0) << f;
        EXPECT_NEAR(z.modulus[i], std::hypot(r, x), 2.0) << f;
        if (x / r > 0.21) {
            EXPECT_NEAR(z.capacitance[i], 1.0, 0.01) << f;
        } else if (x / r < 0.19) {
            EXPECT_EQ(z.capacitance[i], kNotMeasured) << f;
        }
        EXPECT_EQ(z.inductance[i], kNotMeasured);
    }
}

TEST_F(SignalAnalyses, AnInductiveLineGivesInductanceAndAnOpenLineNothing) {
    const double rIn = 31111.1;
    SetLineMode(meter.state, 3); // counting to 4 with one settling set
    ImpedSet(meter.state, -10.0);
    analyse(comb(1000.0, Channel{}));
    for (int i = 1; i <= 4; ++i)
        analyse(comb(1000.0, Channel{}), 0.3 * i);
    ASSERT_EQ(actions.commandCodes(), (std::vector<int>{command::LineMode}));
    EXPECT_EQ(actions.plans[0].blocks[0].words[1], 275);
    // 300 ohm with 50 mH.
    Channel line;
    line.attenuation = [=](double f) {
        return lineChannel({300.0, 2 * kPi * f * 0.05}, rIn).attenuation(f);
    };
    line.phase = [=](double f) { return lineChannel({300.0, 2 * kPi * f * 0.05}, rIn).phase(f); };
    analyse(comb(1000.0, line), 3.0);
    EXPECT_FALSE(meter.state.impedanceValid);
    analyse(comb(1000.0, line), 4.0);
    EXPECT_TRUE(meter.state.impedanceValid);
    EXPECT_NEAR(meter.out().impedance.resistance[9], 300.0, 1.0);
    EXPECT_NEAR(meter.out().impedance.inductance[9], 50.0, 0.5);
    EXPECT_EQ(meter.out().impedance.capacitance[9], kNotMeasured);
    // No change against the reference: the line draws nothing.
    analyse(comb(1000.0, Channel{}), 5.0);
    EXPECT_FLOAT_EQ(meter.out().impedance.modulus[9], 100000.0f);
}

} // namespace
} // namespace vetlina
