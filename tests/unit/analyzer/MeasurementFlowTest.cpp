// A measurement as the sequence runs it: frames decoded set by set, every code handed
// to Accumulate for the current command, and the results-window lines at the end.
#include "Synthesis.h"
#include "analyzer/Encoders.h"
#include "analyzer/Results.h"
#include "analyzer/Tables.h"
#include "platform/Cp1251.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using namespace test;

class MeasurementFlow : public ::testing::Test {
protected:
    void SetUp() override { setRange(meter); }
    // Decodes sets of a signal and accumulates them for a command; returns how many
    // blocks were accumulated.
    int measure(AnalyzerCommand command, const Signal& s, int sets, double rms = 0.0) {
        int accumulated = 0;
        for (int i = 0; i < sets; ++i) {
            for (const auto& f : frames(samples(s, 0.32 * i, rms, 10 + i))) {
                const int16_t c = meter.DecodeBlock(f.data(), 68, actions);
                if (Accumulate(results, command, c, meter, ctx))
                    ++accumulated;
            }
        }
        return accumulated;
    }

    MeterComputation meter;
    RecordingActions actions;
    LiveResults results;
    ResultContext ctx;
};

TEST_F(MeasurementFlow, SineMeasurementFromFramesToLines) {
    ctx.sinFreq = 1800.0;
    ctx.sinLevR = 0.0;
    meter.state.adoptSine(576);
    ClearResult(results, ResultKind::Sine);
    // -10 dB of full scale at top 0 dBm: -10.56 dBm; a 2nd harmonic at 3600 Hz is beyond
    // the band and never measured.
    const double a = amplitudeDb(-10);
    EXPECT_EQ(measure(AnalyzerCommand::MeterSine, sum({sine(a, 1800.0), sine(a * 0.01, 3600.0)}), 4,
                      20.0),
              4);
    const SineResult& r = results.sine;
    EXPECT_EQ(r.counter.get(), 4);
    EXPECT_NEAR(r.level.get(), -10.56, 0.02);
    EXPECT_NEAR(r.frequency.get(), 1800.0, 0.01);
    EXPECT_NEAR(r.att.get(), 10.56, 0.02);
    EXPECT_GT(r.snr.get(), 50.0f);
    EXPECT_EQ(r.dis2.get(), 0.0f);
    const auto lines = ResultLines(ResultKind::Sine, results, meter, ctx);
    EXPECT_EQ(toUtf8(lines[0]), "Уровень............ -10.6 дБм    Частота............1800.0 Гц");
    EXPECT_EQ(lines[7].rfind("2-я гармоника......   ***"_cp, 0), 0u);
    EXPECT_GT(parasiticModulation(r), 60.0f) << "a clean sine: side components at the noise floor";
    EXPECT_EQ(toUtf8(lines[11]).substr(toUtf8(lines[11]).size() - 6), "     4");
}

TEST_F(MeasurementFlow, AnotherSignalDuringTheSineStepIsNotAccumulated) {
    ctx.sinFreq = 1020.0;
    EXPECT_EQ(measure(AnalyzerCommand::MeterSine, sine(amplitudeDb(-10), 1800.0), 3, 20.0), 0);
    EXPECT_EQ(results.sine.counter.get(), 0);
    EXPECT_EQ(toUtf8(ResultLines(ResultKind::Sine, results, meter, ctx)[0]),
              "Уровень............   0.0 дБм    Частота............   0.0 Гц");
}

TEST_F(MeasurementFlow, MultiFrequencyMeasurementRelativeToTheReferenceFrequency) {
    ctx.attNotch = 1000.0;
    ctx.delNotch = 1000.0;
    const Signal comb = [](double t) {
        double v = 0.0;
        for (int i = 1; i <= 38; ++i) {
            const double f = i * 100.0;
            const double gain = std::pow(10.0, -(f > 2500.0 ? 6.0 : 0.0) / 20.0);
            v +=
                1500.0 * gain * std::cos(2 * kPi * f * t + kTonePhaseSevenths[i - 1] * 2 * kPi / 7);
        }
        return v;
    };
    // The first set is new to the recognition (-10) and not accumulated.
    EXPECT_EQ(measure(AnalyzerCommand::MeterMtts, comb, 3, 5.0), 2);
    EXPECT_EQ(results.mtts.counter.get(), 2);
    const auto lines = ResultLines(ResultKind::Mtts, results, meter, ctx);
    // Line 3 + i holds tone i + 1 and tone i + 20: frequency, attenuation, delay in us.
    auto values = [&](int i) {
        std::array<double, 6> v{};
        EXPECT_EQ(std::sscanf(lines[3 + i].c_str(), "%lf %lf %lf %lf %lf %lf", &v[0], &v[1], &v[2],
                              &v[3], &v[4], &v[5]),
                  6);
        return v;
    };
    // Tone 10 (1000 Hz) is the reference: 0 dB and 0 us; 3000 Hz lies 6 dB down.
    const auto at1000 = values(9);
    EXPECT_EQ(at1000[0], 1000.0);
    EXPECT_NEAR(at1000[1], 0.0, 0.05);
    EXPECT_NEAR(at1000[2], 0.0, 0.05);
    const auto at3000 = values(10);
    EXPECT_EQ(at3000[3], 3000.0);
    EXPECT_NEAR(at3000[4], 6.0, 0.05);
    EXPECT_NEAR(at3000[5], 0.0, 1.0) << "us";
    EXPECT_NEAR(values(0)[1], 0.0, 0.05) << "100 Hz";
}

} // namespace
} // namespace vetlina
