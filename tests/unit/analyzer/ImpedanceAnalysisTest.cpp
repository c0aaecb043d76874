// The impedance analysis fed with the tone tables of the multi-frequency analysis: each
// tone's attenuation (and its level, -15.05 dB below it) and phase, first of the
// reference sets and then of the bridge sets, as the divider's circuit makes them.
#include "Synthesis.h"
#include "analyzer/Analyses.h"

#include <complex>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace vetlina {
namespace {

using namespace test;

// The divider's circuit: the generator drives 597 ohm into the meter's input R_in, and
// in the bridge the line (admittance y) lies across that input.
std::complex<double> meterShare(std::complex<double> y, double rIn) {
    return 1.0 / (1.0 + 597.0 * (1.0 / rIn + y));
}

struct Line {
    const char* name;
    std::function<std::complex<double>(double w)> admittance;
    std::function<std::complex<double>(double w)> impedance; // physical sign
    // Figures worked by hand: deviation from 600 ohm at a tone (Hz, ohm).
    std::vector<std::pair<double, double>> deviations;
};

// One set's tone tables with every tone at the meter share of a generator tone of
// -25.05 dBm (phase 0.9 i rad at the set's start).
void fillTones(ToneTables& t, const std::function<std::complex<double>(double hz)>& share) {
    for (int i = 0; i < kTones; ++i) {
        const double hz = 100.0 * (i + 1);
        const std::complex<double> h = share(hz);
        t.frequency[i] = static_cast<float>(hz);
        t.level[i] = static_cast<float>(-25.05 + 20.0 * std::log10(std::abs(h)));
        t.attenuation[i] = static_cast<float>(-15.05 - t.level[i]);
        double phase = std::fmod(0.9 * (i + 1) + std::arg(h), 2.0 * kPi);
        if (phase < 0.0)
            phase += 2.0 * kPi;
        t.phase[i] = static_cast<float>(phase);
    }
}

TEST(ImpedanceAnalysis, LineFromTheRiseOfTheToneAttenuationsOverTheReference) {
    const std::complex<double> j(0.0, 1.0);
    const Line lines[] = {
        {"600 ohm",
         [](double) { return std::complex<double>(1.0 / 600.0); },
         [](double) { return std::complex<double>(600.0); },
         {{300.0, 0.0}, {1800.0, 0.0}}},
        {"750 ohm + 2 uF",
         [&](double w) { return 1.0 / (750.0 + 1.0 / (j * w * 2e-6)); },
         [&](double w) { return 750.0 + 1.0 / (j * w * 2e-6); },
         {{100.0, 493.5}, {1800.0, 151.3}}},
    };
    for (const Line& line : lines)
        for (int gainFlag : {0, 32}) {
            SCOPED_TRACE(std::string(line.name) + (gainFlag ? ", input gain" : ""));
            const double rIn = gainFlag ? 39888.9 : 31111.1;
            MeterComputation meter;
            RecordingActions actions;
            meter.state.lineMode = 3; // four reference sets, one settling set
            meter.state.gainFlag = gainFlag;
            meter.state.impedanceMode = true;
            meter.state.impedanceSetCount = 1;
            MeterOutputs& out = meter.out();

            fillTones(out.tones, [&](double) { return meterShare(0.0, rIn); });
            for (int set = 1; set <= 4; ++set)
                analyseImpedance(meter.state, out, actions);
            ASSERT_EQ(actions.commandCodes(), (std::vector<int>{command::LineMode}));
            EXPECT_EQ(actions.plans[0].blocks[0].words[1], 275 + gainFlag);

            fillTones(out.tones,
                      [&](double hz) { return meterShare(line.admittance(2.0 * kPi * hz), rIn); });
            analyseImpedance(meter.state, out, actions);
            EXPECT_FALSE(meter.state.impedanceValid);
            analyseImpedance(meter.state, out, actions);
            ASSERT_TRUE(meter.state.impedanceValid);

            const ImpedanceTables& z = out.impedance;
            for (int i = 0; i < kTones; ++i) {
                const double hz = 100.0 * (i + 1);
                const std::complex<double> expected = line.impedance(2.0 * kPi * hz);
                EXPECT_NEAR(z.resistance[i], expected.real(), 0.05 + 1e-4 * std::abs(expected))
                    << hz;
                // Counted positive for a capacitance.
                EXPECT_NEAR(z.reactance[i], -expected.imag(), 0.05 + 1e-4 * std::abs(expected))
                    << hz;
                EXPECT_NEAR(z.modulus[i] - 600.0, std::abs(expected) - 600.0,
                            0.05 + 1e-4 * std::abs(expected))
                    << hz;
                // |X/R| above 0.2 up to 500 Hz for the series line; nothing for 600 ohm.
                if (expected.imag() < 0.0 && hz <= 500.0)
                    EXPECT_NEAR(z.capacitance[i], 2.0, 2e-3) << hz;
                else
                    EXPECT_EQ(z.capacitance[i], kNotMeasured) << hz;
                EXPECT_EQ(z.inductance[i], kNotMeasured) << hz;
            }
            for (const auto& [hz, deviation] : line.deviations) {
                const int i = static_cast<int>(hz / 100.0) - 1;
                EXPECT_NEAR(z.modulus[i] - 600.0, deviation, 0.05) << hz;
            }
        }
}

} // namespace
} // namespace vetlina
