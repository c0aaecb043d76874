// The ZMK-5 measuring a channel: what it streams from the channel model, read back
// with the computer's own conversions (written here from the computer's rules, not
// shared with the analyzer).
#include "Zmk5TestSupport.h"
#include "sim/signals/Signals.h"

#include <gtest/gtest.h>
#include <numbers>

namespace vetlina::sim {
namespace {

using test::Bench;
constexpr double kPi = std::numbers::pi;

class Zmk5Channel : public ::testing::Test {
protected:
    void SetUp() override {
        channel.first = "B"; // the far station
        channel.second = "A";
    }

    void farSends(const GeneratorSignal& signal) {
        FarEnd far;
        far.station = "B";
        far.signal = signal;
        far.channel = &channel;
        bench->line.far = far;
    }

    // Start-up, the line held in mode m, the 0 dBm range, thresholds of -8 dBm for
    // impulses (2 dB above a -10 dBm sine: the impulses and the sine together must stay
    // inside the range), -25 dBm for interruptions, 4 dB and 15 degrees for hits, 125 ms
    // dead times.
    void prepare(const nlohmann::json& model, int mode = 11) {
        channel.model = test::channelModel(model);
        bench = std::make_unique<Bench>();
        bench->startUp();
        bench->command({15, static_cast<int16_t>(mode)});
        bench->command({11, 58, 0});
        const auto t = thresholdWords(-8.0, -25.0, 4.0, 15.0);
        bench->command(
            {5, static_cast<int16_t>(t.impulse), static_cast<int16_t>(t.interruption & 0xFFFF),
             static_cast<int16_t>(t.interruption >> 16), static_cast<int16_t>(t.levelDrop),
             static_cast<int16_t>(t.levelRise), static_cast<int16_t>(t.phase)});
        bench->command({8, 1600, 1600, 200, 200});
        bench->take();
    }

    ChannelConfig channel;
    std::unique_ptr<Bench> bench;
};

TEST_F(Zmk5Channel, EventStatisticsCountWhatTheChannelDid) {
    prepare(R"({"noiseDbm": -55,
                "impulses": {"peakDbm": -5, "everyS": 1, "firstS": 0.25},
                "interruptions": {"durationMs": 50, "everyS": 2, "firstS": 0.5},
                "levelHits": {"db": -6, "durationMs": 100, "everyS": 2, "firstS": 1.0},
                "phaseHits": {"deg": 30, "everyS": 2, "firstS": 1.75}})"_json);
    farSends({signal_kind::Sine, -10.0, 1000.0});
    bench->command({0, 320}); // the meter follows the 1000 Hz sine
    bench->advance(6200);
    auto stats = test::ofType(bench->take().blocks, -4);
    ASSERT_GE(stats.size(), 6u);
    const auto s = test::readStatistics(stats.back(), 0.0);
    EXPECT_NEAR(s.seconds, 6.0, 0.01);
    EXPECT_EQ(s.impulses, 6);      // at 0.25, 1.25, ... 5.25 s
    EXPECT_EQ(s.interruptions, 3); // at 0.5, 2.5, 4.5 s, 30-300 ms each
    EXPECT_EQ(s.dropouts + s.breaks, 0);
    EXPECT_NEAR(s.interruptionTime * s.seconds, 0.15, 0.005);
    EXPECT_EQ(s.levelHits, 3);
    EXPECT_EQ(s.phaseHits, 3);
    EXPECT_NEAR(s.impulsePercent, 100.0, 0.5); // every second had its impulse
    EXPECT_NEAR(s.interruptionPercent, 50.0, 0.5);
}

TEST_F(Zmk5Channel, QuietChannelCountsNothing) {
    prepare(R"({"noiseDbm": -50, "phaseJitter": {"peakToPeakDeg": 10},
                "amplitudeJitter": {"peakToPeakPercent": 5}})"_json);
    farSends({signal_kind::Sine, -10.0, 1000.0});
    bench->command({0, 320});
    bench->advance(5200);
    auto stats = test::ofType(bench->take().blocks, -4);
    ASSERT_FALSE(stats.empty());
    const auto s = test::readStatistics(stats.back(), 0.0);
    EXPECT_EQ(s.impulses + s.interruptions + s.dropouts + s.levelHits + s.phaseHits, 0);
}

// The multi-frequency analysis of a set as the computer does it: Hann window with
// 4095, tone power in +-3 bins around 32 i, the angle at the centre bin.
struct CombTone {
    double levelDbm;
    double phase;
};
std::vector<CombTone> combTones(const std::vector<int16_t>& set, double top) {
    std::vector<Complex> x(4096);
    for (int i = 0; i < 4096; ++i)
        x[i] = set[i] * (0.5 - 0.5 * std::cos(2.0 * kPi * i / 4095.0));
    fft(x);
    std::vector<CombTone> tones(39);
    for (int i = 1; i <= 38; ++i) {
        double power = 0.0;
        for (int k = 32 * i - 3; k <= 32 * i + 3; ++k)
            power += std::norm(x[k]);
        tones[i].levelDbm = 10.0 * std::log10(power * 2.220446049250313e-16) + 3.7 + top;
        tones[i].phase = std::arg(x[32 * i]);
    }
    return tones;
}

TEST_F(Zmk5Channel, CombThroughTheChannelGivesTheComputerItsResponse) {
    prepare(R"({"attenuationDb": 5,
                "attenuationResponse": [[300, 3], [1000, 0], [3400, 6]],
                "groupDelayResponse": [[600, 1.0], [1000, 0], [2800, 0], [3400, 1.5]]})"_json);
    farSends({signal_kind::MultiFrequency, -10.0, 0.0});
    bench->command({0, 0});
    bench->advance(3000);
    auto r = bench->take();
    auto sets = test::assembleSets(test::ofType(r.blocks, -9));
    ASSERT_FALSE(sets.empty());
    auto tones = combTones(sets.back(), 0.0);
    // Tone attenuation = -15.05 - L(tone) + the far level (the results' offset).
    std::vector<double> phase(39);
    for (int i = 3; i <= 34; ++i) {
        const double hz = 100.0 * i;
        const double response = hz <= 1000 ? 3.0 * (1000 - hz) / 700 : 6.0 * (hz - 1000) / 2400;
        EXPECT_NEAR(-15.05 - tones[i].levelDbm - 10.0, 5.0 + response, 0.05) << hz;
    }
    for (int i = 1; i <= 38; ++i)
        phase[i] = tones[i].phase - kCombPhaseSevenths[i - 1] * 2.0 * kPi / 7.0;
    // Group delay from neighbouring tones against tone 20 (2 kHz, flat region).
    auto delayAt = [&](int i) {
        return -std::remainder(phase[i + 1] - phase[i - 1], 2.0 * kPi) / (2.0 * kPi * 200.0);
    };
    const double flat = delayAt(20);
    EXPECT_NEAR((delayAt(7) - flat) * 1e3, 0.75, 0.02); // 700 Hz: 1.0 - 0.25 ms
    EXPECT_NEAR((delayAt(15) - flat) * 1e3, 0.0, 0.02);
    EXPECT_NEAR((delayAt(32) - flat) * 1e3, 1.0, 0.02); // 3200 Hz: 1.5 x 4/6
    // The tracking frames name the tones against 1000 Hz.
    auto tracking = test::ofType(r.blocks, -12);
    ASSERT_FALSE(tracking.empty());
    for (const auto& f : tracking) {
        const double toneHz = f[8] * 6.896552;
        EXPECT_GE(toneHz, 300.0);
        EXPECT_LE(toneHz, 3400.0);
        EXPECT_NEAR(f[5] * 6.896552, 1000.0, 3.5);
        EXPECT_GT(f[3] * f[3] + f[4] * f[4], 7000);
    }
}

// The echo analysis of an envelope set as the computer does it.
double computerEcho(const std::vector<int16_t>& frames68, double analysisS, double probe2S) {
    std::vector<double> e;
    for (std::size_t i = 0; i + 68 <= frames68.size(); i += 68)
        for (int q = 0; q < 64; ++q)
            e.push_back(static_cast<uint16_t>(frames68[i + 3 + q]));
    const int w = static_cast<int>(analysisS * 1600), d = static_cast<int>(probe2S * 1600 * 0.9);
    double top = 0.0, total = 0.0, sum = 0.0, after = 0.0;
    for (int i = 0; i < 32; ++i) {
        top = std::max(top, e[i] * e[i]);
        total += e[i] * e[i];
    }
    for (int i = 32; i < 32 + w; ++i)
        sum += e[i] * e[i];
    for (int i = 32; i < 32 + d; ++i)
        after = std::max(after, e[i] * e[i]);
    if (!(after > 0.0) || std::clamp(10.0 * std::log10(top / after), 0.0, 100.0) <= 8.0)
        return -999.0;
    if (sum == 0.0)
        return 100.0;
    return std::clamp(10.0 * std::log10((total / 32) / (sum / w)), 0.0, 100.0);
}

// The frames of the echo sets, each set's 64 frames in one vector.
std::vector<std::vector<int16_t>> echoSets(const std::vector<std::vector<int16_t>>& blocks) {
    std::vector<std::vector<int16_t>> sets;
    std::vector<int16_t> current;
    for (const auto& b : test::ofType(blocks, -10)) {
        if (b[67] == 64)
            current.clear();
        current.insert(current.end(), b.begin(), b.end());
        if (b[67] == 4096)
            sets.push_back(current);
    }
    return sets;
}

TEST_F(Zmk5Channel, TalkerEchoSetsGiveTheReturnLoss) {
    // 386 samples of delay are 48 1/4 periods of 1600 Hz: during the probe its echo adds
    // in quadrature and leaves the probe's level as it is.
    prepare(R"({"noiseDbm": -70, "echo": {"returnLossDb": 22, "delayMs": 30.15625}})"_json);
    farSends(GeneratorSignal{});
    // The computer's echo set-up: meter restart, line mode 283, then the probes: 2 s of
    // -10 dBm at 1600 Hz, 2 s of pause.
    bench->command({0, 0});
    bench->command({15, 283});
    bench->command({9, -14336, 0, 2920, 0, 0x1000, 0, 0, -14336, 0, 0, 0, 0x1000, 0, 0, 2048, 8});
    EXPECT_TRUE(bench->line.held);
    bench->take();
    bench->advance(10000);
    auto r = bench->take();
    EXPECT_TRUE(test::ofType(r.blocks, -9).empty());
    auto sets = echoSets(r.blocks);
    ASSERT_GE(sets.size(), 2u);
    for (const auto& set : sets)
        EXPECT_NEAR(computerEcho(set, 0.02, 2.0), 22.0, 0.1);
}

TEST_F(Zmk5Channel, ListenerEchoSetsFollowTheFarProbes) {
    prepare(R"({"attenuationDb": 4, "noiseDbm": -70,
                "echo": {"delayMs": 25.15625, "listenerLossDb": 28}})"_json);
    farSends(GeneratorSignal{});
    // The listener's set-up: both probes silent, at the far probes' frequency.
    bench->command({0, 0});
    bench->command({15, 283});
    bench->command({9, -14336, 0, 0, 0, 0x1000, 0, 0, -14336, 0, 0, 0, 0x1000, 0, 0, 2048, 8});
    std::vector<std::vector<int16_t>> blocks;
    // The far talker: 2 s of -10 dBm at 1600 Hz, 2 s of pause, three times.
    for (int cycle = 0; cycle < 3; ++cycle) {
        farSends({signal_kind::Sine, -10.0, 1600.0});
        bench->advance(2000);
        farSends(GeneratorSignal{});
        bench->advance(2000);
        for (auto& b : bench->take().blocks)
            blocks.push_back(std::move(b));
    }
    auto sets = echoSets(blocks);
    ASSERT_GE(sets.size(), 2u);
    // The far probe's end is found to within two samples (late, never early): the last
    // value before it may lack a quarter of the probe, a tenth of a dB on the result.
    for (const auto& set : sets)
        EXPECT_NEAR(computerEcho(set, 0.02, 2.0), 28.0, 0.2);
}

// The line modes of the impedance measurement through the whole analyzer: the tone
// attenuations (-15.05 - L(tone), L on the 0 dBm range) in the reference mode 282 and the
// bridge mode 283, against the divider's circuit: the generator drives R_ref = 597 ohm
// into R_in = 31 111.1 ohm, and in the bridge the line lies across R_in.
TEST_F(Zmk5Channel, ImpedanceModesAreTheDividerWithoutAndWithTheLine) {
    prepare(R"({"impedance": {"resistanceOhm": 750, "capacitanceUf": 2}})"_json);
    farSends(GeneratorSignal{});
    bench->command({0, 0});
    bench->command({2, 4925, 8}); // the comb at -10 dBm: each tone at -25.05 dBm
    bench->command({15, 282});    // the divider without the line
    bench->take();
    bench->advance(2500);
    auto reference = test::assembleSets(test::ofType(bench->take().blocks, -9));
    bench->command({15, 283}); // and with it
    bench->advance(700);
    bench->take();
    bench->advance(2500);
    auto bridge = test::assembleSets(test::ofType(bench->take().blocks, -9));
    ASSERT_FALSE(reference.empty());
    ASSERT_FALSE(bridge.empty());
    for (const auto* sets : {&reference, &bridge})
        for (const auto& set : *sets)
            for (int16_t x : set)
                ASSERT_LT(std::abs(x), 28500); // no overload
    const auto ref = combTones(reference.back(), 0.0);
    const auto cur = combTones(bridge.back(), 0.0);
    const double rIn = 31111.1, rRef = 597.0, toneDbm = -10.0 - 15.0515;
    for (int i = 1; i <= 38; ++i) {
        const double w = 2.0 * kPi * 100.0 * i;
        const std::complex<double> line(750.0, -1.0 / (w * 2e-6));
        const std::complex<double> shunt = 1.0 / (1.0 / rIn + 1.0 / line);
        const double refShare = rIn / (rRef + rIn);
        const std::complex<double> share = shunt / (rRef + shunt);
        EXPECT_NEAR(-15.05 - ref[i].levelDbm, -15.05 - toneDbm - 20.0 * std::log10(refShare), 0.02)
            << i;
        EXPECT_NEAR(-15.05 - cur[i].levelDbm, -15.05 - toneDbm - 20.0 * std::log10(std::abs(share)),
                    0.02)
            << i;
        // The line's current makes the bridge's tones lag those of the reference.
        EXPECT_NEAR(std::remainder(cur[i].phase - ref[i].phase, 2.0 * kPi), std::arg(share), 2e-3)
            << i;
    }
}

} // namespace
} // namespace vetlina::sim
