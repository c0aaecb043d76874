// The channel model as the meter hears it: each impairment injected alone and measured
// with the tests' own analysis.
#include "SignalAnalysis.h"
#include "Zmk5TestSupport.h"
#include "sim/channel/ChannelPath.h"
#include "sim/network/Config.h"

#include <functional>
#include <gtest/gtest.h>

namespace vetlina::sim {
namespace {

using namespace test;

class Channel : public ::testing::Test {
protected:
    // Renders n samples of what the second station's meter hears from the first one's
    // generator, with the model given.
    std::vector<double> hear(const nlohmann::json& model, const GeneratorSignal& signal,
                             std::size_t n, int64_t first = 0) {
        config.first = "A";
        config.second = "B";
        config.model = test::channelModel(model);
        FarEnd far;
        far.station = "A";
        far.signal = signal;
        far.channel = &config;
        std::vector<double> x(n, 0.0);
        // In pieces, as the device renders between polls.
        for (std::size_t at = 0; at < n; at += 1280) {
            const std::size_t count = std::min<std::size_t>(1280, n - at);
            path.render(first + static_cast<int64_t>(at), std::span(x.data() + at, count), far, own,
                        LineConnection{.line = true});
        }
        return x;
    }

    ChannelConfig config;
    ChannelPath path;
    Zmk5Generator own;
};

TEST_F(Channel, AttenuationAndItsResponseShapeTheComb) {
    auto x = hear(R"({"attenuationDb": 6,
                      "attenuationResponse": [[300, 4], [1000, 0], [3000, 2], [3400, 10]]})"_json,
                  {signal_kind::MultiFrequency, -10.0, 0.0}, 4096);
    for (int i = 1; i <= 38; ++i) {
        const double hz = 100.0 * i;
        const double response = hz <= 300    ? 4.0
                                : hz <= 1000 ? 4.0 - 4.0 * (hz - 300) / 700
                                : hz <= 3000 ? 2.0 * (hz - 1000) / 2000
                                : hz <= 3400 ? 2.0 + 8.0 * (hz - 3000) / 400
                                             : 10.0;
        const double level = 20.0 * std::log10(std::abs(toneAt(x, hz)) / std::sqrt(2.0));
        EXPECT_NEAR(level, -10.0 - 15.0515 - 6.0 - response, 0.01) << hz;
    }
}

TEST_F(Channel, GroupDelayResponseIsSeenInThePhasesOfTheComb) {
    // The group delay rises by 2 ms from 1 kHz to 3 kHz.
    auto x = hear(R"({"groupDelayResponse": [[1000, 0], [3000, 2]]})"_json,
                  {signal_kind::MultiFrequency, -10.0, 0.0}, 4096);
    std::vector<double> phase(39, 0.0);
    for (int i = 1; i <= 38; ++i)
        phase[i] = std::arg(toneAt(x, 100.0 * i)) - kCombPhaseSevenths[i - 1] * 2.0 * kTestPi / 7.0;
    for (int i = 2; i <= 37; ++i) {
        // The delay between two neighbouring tones, -dphi/domega, at their midpoint.
        const double dphi = std::remainder(phase[i + 1] - phase[i], 2.0 * kTestPi);
        const double delay = -dphi / (2.0 * kTestPi * 100.0);
        const double mid = 100.0 * i + 50.0;
        const double expected = mid <= 1000 ? 0.0 : mid >= 3000 ? 2e-3 : 2e-3 * (mid - 1000) / 2000;
        EXPECT_NEAR(delay, expected, 1e-6) << mid;
    }
}

TEST_F(Channel, FrequencyShiftMovesTheSine) {
    auto x = hear(R"({"frequencyShiftHz": 7.5})"_json, {signal_kind::Sine, -10.0, 1000.0}, 25600);
    auto d = demodulate(x, 1000.0, 128, 128);
    // The phase turns at 7.5 Hz: 2 pi x 7.5 x 128/12800 rad per step.
    const double slope = (d.phase.back() - d.phase.front()) / (d.phase.size() - 1);
    EXPECT_NEAR(slope / (2.0 * kTestPi) * 100.0, 7.5, 1e-3);
    EXPECT_NEAR(dbm(meanSquare(x)), -10.0, 0.01);
}

TEST_F(Channel, PhaseJitterHasItsPeakToPeak) {
    auto x = hear(R"({"phaseJitter": {"peakToPeakDeg": 20, "frequencyHz": 50}})"_json,
                  {signal_kind::Sine, -10.0, 1000.0}, 25600);
    // 64 samples are five periods of 1000 Hz; the 5 ms window averages a 50 Hz swing by
    // sinc(pi x 50 x 0.005) = 0.90.
    auto d = demodulate(x, 1000.0, 64, 8);
    auto [low, high] = std::minmax_element(d.phase.begin(), d.phase.end());
    const double window = std::sin(kTestPi * 50 * 0.005) / (kTestPi * 50 * 0.005);
    EXPECT_NEAR((*high - *low) * 180.0 / kTestPi / window, 20.0, 0.3);
}

TEST_F(Channel, AmplitudeJitterHasItsPeakToPeak) {
    auto x = hear(R"({"amplitudeJitter": {"peakToPeakPercent": 10, "frequencyHz": 30}})"_json,
                  {signal_kind::Sine, -10.0, 1000.0}, 25600);
    auto d = demodulate(x, 1000.0, 64, 8);
    auto [low, high] = std::minmax_element(d.amplitude.begin(), d.amplitude.end());
    const double window = std::sin(kTestPi * 30 * 0.005) / (kTestPi * 30 * 0.005);
    EXPECT_NEAR((*high - *low) / sineAmplitude(-10.0) * 100.0 / window, 10.0, 0.2);
}

TEST_F(Channel, HarmonicsHaveTheirShareAtTheStatedLevel) {
    auto x = hear(R"({"harmonics": {"secondPercent": 2, "thirdPercent": 1, "atDbm": -10}})"_json,
                  {signal_kind::Sine, -10.0, 800.0}, 12800);
    const double fundamental = std::abs(toneAt(x, 800.0));
    EXPECT_NEAR(std::abs(toneAt(x, 1600.0)) / fundamental * 100.0, 2.0, 0.02);
    EXPECT_NEAR(std::abs(toneAt(x, 2400.0)) / fundamental * 100.0, 1.0, 0.02);
    // 6 dB weaker: the 2nd harmonic halves, the 3rd quarters.
    path = ChannelPath();
    auto y = hear(R"({"harmonics": {"secondPercent": 2, "thirdPercent": 1, "atDbm": -4}})"_json,
                  {signal_kind::Sine, -10.0, 800.0}, 12800);
    const double f = std::abs(toneAt(y, 800.0));
    EXPECT_NEAR(std::abs(toneAt(y, 1600.0)) / f * 100.0, 2.0 * std::pow(10.0, -6.0 / 20.0), 0.05);
    EXPECT_NEAR(std::abs(toneAt(y, 2400.0)) / f * 100.0, 1.0 * std::pow(10.0, -6.0 / 10.0), 0.02);
    // At its stated level the sine keeps its level: the curve does not compress it.
    EXPECT_NEAR(20.0 * std::log10(fundamental / sineAmplitude(-10.0)), 0.0, 1e-3);
}

TEST_F(Channel, NoiseJoinsTheSignalAtItsLevel) {
    auto x = hear(R"({"noiseDbm": -45, "seed": 3})"_json, {signal_kind::Sine, -10.0, 1000.0},
                  12800 * 10);
    // Without the sine (two bins either side of it), the band holds the noise.
    const double all = bandPower(x, 300.0, 3400.0);
    const double sine = bandPower(x, 999.0, 1001.0);
    EXPECT_NEAR(dbm(all - sine), -45.0, 0.2);
}

TEST_F(Channel, InterruptionsAndHitsComeOnTheirSchedule) {
    auto x = hear(R"({"interruptions": {"durationMs": 40, "everyS": 1},
                      "levelHits": {"db": -6, "durationMs": 100, "everyS": 1, "firstS": 0.6},
                      "phaseHits": {"deg": 45, "everyS": 1, "firstS": 0.8}})"_json,
                  {signal_kind::Sine, -10.0, 1000.0}, 12800 * 3);
    // Silence exactly for 40 ms (512 samples) from 1 s and 2 s.
    for (int s : {1, 2}) {
        EXPECT_EQ(meanSquare(x, 12800 * s, 512), 0.0) << s;
        EXPECT_GT(meanSquare(x, 12800 * s + 512, 100), 0.05) << s;
        EXPECT_GT(meanSquare(x, 12800 * s - 100, 100), 0.05) << s;
    }
    // The level drops by 6 dB for 100 ms from 0.6 s.
    const double before = meanSquare(x, 12800 * 55 / 100, 512);
    const double during = meanSquare(x, 12800 * 62 / 100, 640);
    EXPECT_NEAR(10.0 * std::log10(during / before), -6.0, 0.1);
    EXPECT_NEAR(10.0 * std::log10(meanSquare(x, 12800 * 72 / 100, 512) / before), 0.0, 0.1);
    // The phase steps by 45 degrees at 0.8 s and stays.
    auto p = demodulate(x, 1000.0, 64, 64);
    EXPECT_NEAR((p.phase[190] - p.phase[152]) * 180.0 / kTestPi, 45.0, 0.5);
    EXPECT_NEAR((p.phase[190] - p.phase[170]) * 180.0 / kTestPi, 0.0, 0.5);
}

TEST_F(Channel, ImpulsesPeakAtTheirLevelAlternatingInSign) {
    auto x = hear(R"({"impulses": {"peakDbm": -2, "everyS": 0.5, "firstS": 0.25}})"_json,
                  GeneratorSignal{}, 12800 * 2);
    const double peak = sineAmplitude(-2.0);
    int count = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        if (std::abs(x[n]) < 0.5 * peak)
            continue;
        EXPECT_EQ(n, 3200u + 6400u * count) << count;
        EXPECT_NEAR(x[n], count % 2 == 0 ? peak : -peak, 1e-12);
        ++count;
        n += 12; // the rest of the 1 ms burst stays below half its peak
    }
    EXPECT_EQ(count, 4);
}

TEST_F(Channel, RandomScheduleKeepsItsRateAndItsSeed) {
    auto count = [&](uint32_t seed) {
        path = ChannelPath();
        nlohmann::json model = R"({"impulses": {"peakDbm": -10, "perMinute": 120}})"_json;
        model["seed"] = seed;
        auto x = hear(model, GeneratorSignal{}, 12800 * 30);
        std::vector<std::size_t> at;
        for (std::size_t n = 0; n < x.size(); ++n)
            if (std::abs(x[n]) > 0.5 * sineAmplitude(-10.0) && (at.empty() || n > at.back() + 12))
                at.push_back(n);
        return at;
    };
    const auto first = count(5);
    // 60 expected in 30 s; a Poisson count has a standard deviation of about 7.7.
    EXPECT_NEAR(static_cast<double>(first.size()), 60.0, 25.0);
    EXPECT_EQ(count(5), first);
    EXPECT_NE(count(6), first);
}

TEST_F(Channel, TalkerEchoReturnsTheOwnSignalLaterAndWeaker) {
    own.echo({true, -10.0, 1600.0, 0.0, 2560}, {false, -200.0, 1600.0, 0.0, 2560}, 0);
    auto x =
        hear(R"({"echo": {"returnLossDb": 20, "delayMs": 30}})"_json, GeneratorSignal{}, 12800);
    // The probe sounds 0..0.2 s; its echo from 30 ms to 230 ms at -30 dBm.
    EXPECT_LT(meanSquare(x, 0, 380), 1e-12);
    EXPECT_NEAR(dbm(meanSquare(x, 400, 2400)), -30.0, 0.05);
    EXPECT_LT(meanSquare(x, 2950, 2000), 1e-12);
}

TEST_F(Channel, ListenerEchoRepeatsTheFarSignal) {
    auto x = hear(R"({"attenuationDb": 3, "echo": {"delayMs": 25, "listenerLossDb": 30}})"_json,
                  {signal_kind::Sine, -10.0, 1000.0}, 12800);
    // The direct signal and its copy 25 ms (320 samples) later: the sum's amplitude is
    // |1 + 10^(-30/20) e^{-j w 320}| of the direct one.
    const double expected = std::abs(
        1.0 + std::pow(10.0, -1.5) * std::polar(1.0, -2.0 * kTestPi * 1000.0 * 320 / 12800));
    EXPECT_NEAR(std::abs(toneAt(x, 1000.0, 640, 6400)) / sineAmplitude(-13.0), expected, 1e-6);
    // Before the copy arrives only the direct signal.
    EXPECT_NEAR(std::abs(toneAt(x, 1000.0, 0, 256)) / sineAmplitude(-13.0), 1.0, 1e-6);
}

// The impedance divider by its circuit: the generator's voltage drives R_ref into the
// meter's input resistance R_in, and in the bridge modes the line's admittance Y lies
// across that input: meter / generator = 1 / (1 + R_ref (1/R_in + Y)).
std::complex<double> meterShare(std::complex<double> lineAdmittance, bool gain) {
    const double rIn = gain ? 39888.9 : 31111.1;
    return 1.0 / (1.0 + 597.0 * (1.0 / rIn + lineAdmittance));
}

TEST_F(Channel, ImpedanceDividerIsTheCircuitOfGeneratorReferenceResistorInputAndLine) {
    const std::complex<double> j(0.0, 1.0);
    struct Case {
        const char* model;
        std::function<std::complex<double>(double w)> admittance; // of the line, siemens
    };
    const Case cases[] = {
        {R"({"resistanceOhm": 650, "capacitanceUf": 1.5})",
         [&](double w) { return 1.0 / (650.0 + 1.0 / (j * w * 1.5e-6)); }},
        {R"({"resistanceOhm": 600, "capacitanceUf": 0.05, "circuit": "parallel"})",
         [&](double w) { return 1.0 / 600.0 + j * w * 50e-9; }},
        {R"({"resistanceOhm": 300, "inductanceMh": 20})",
         [&](double w) { return 1.0 / (300.0 + j * w * 0.02); }},
    };
    for (const Case& c : cases)
        for (bool gain : {false, true}) {
            SCOPED_TRACE(std::string(c.model) + (gain ? ", gain" : ""));
            path = ChannelPath();
            own.steady({signal_kind::MultiFrequency, -10.0, 0.0}, 0);
            config.first = "A";
            config.second = "B";
            config.model = test::channelModel({{"impedance", nlohmann::json::parse(c.model)}});
            FarEnd far{"A", false, GeneratorSignal{}, &config, false};
            std::vector<double> reference(4096, 0.0), bridge(4096, 0.0), open(4096, 0.0);
            path.render(
                0, reference, far, own,
                {.line = true, .divider = LineConnection::Divider::Reference, .gain = gain});
            path.render(4096, bridge, far, own,
                        {.line = true, .divider = LineConnection::Divider::Measure, .gain = gain});
            // The bridge without a held line: nothing across the input.
            path.render(8192, open, std::nullopt, own,
                        {.divider = LineConnection::Divider::Measure, .gain = gain});
            for (int i = 1; i <= 38; ++i) {
                const double hz = 100.0 * i;
                // The generator's tone (sets start at whole comb periods: 4096 = 32 x 128).
                const std::complex<double> generator =
                    std::polar(sineAmplitude(-10.0 - 15.0515),
                               kCombPhaseSevenths[i - 1] * 2.0 * kTestPi / 7.0);
                const std::complex<double> expectedRef = generator * meterShare(0.0, gain);
                const std::complex<double> expected =
                    generator * meterShare(c.admittance(2.0 * kTestPi * hz), gain);
                EXPECT_LT(std::abs(toneAt(reference, hz) - expectedRef), 1e-6 * std::abs(generator))
                    << hz;
                EXPECT_LT(std::abs(toneAt(bridge, hz) - expected), 1e-6 * std::abs(generator))
                    << hz;
                EXPECT_LT(std::abs(toneAt(open, hz) - expectedRef), 1e-6 * std::abs(generator))
                    << hz;
            }
        }
}

TEST_F(Channel, NothingArrivesWhileTheLineIsLetGo) {
    config.model = test::channelModel(R"({"noiseDbm": -30})"_json);
    FarEnd far{"A", false, {signal_kind::Sine, -10.0, 1000.0}, &config, false};
    std::vector<double> x(1000, 0.0);
    path.render(0, x, far, own, LineConnection{});
    EXPECT_EQ(meanSquare(x), 0.0);
}

TEST(ChannelModel, MembersAreCheckedAndReverseOverrides) {
    std::string error;
    auto m = parseChannelModel(
        R"({"attenuationDb": 10, "noiseDbm": -50, "reverse": {"attenuationDb": 12}})"_json, error);
    ASSERT_TRUE(m) << error;
    EXPECT_EQ(m->forward.attenuationDb, 10.0);
    EXPECT_EQ(m->reverse.attenuationDb, 12.0);
    EXPECT_EQ(m->reverse.noiseDbm, -50.0);
    EXPECT_NE(m->reverse.seed, m->forward.seed);

    EXPECT_FALSE(parseChannelModel(R"({"attenuation": 3})"_json, error));
    EXPECT_EQ(error, "attenuation: not a member of the channel model");
    EXPECT_FALSE(parseChannelModel(R"({"reverse": {"noiseDbm": "loud"}})"_json, error));
    EXPECT_EQ(error, "reverse.noiseDbm: a number is expected");
    EXPECT_FALSE(parseChannelModel(R"({"impulses": {"everyS": 1, "perMinute": 3}})"_json, error));
    EXPECT_FALSE(parseChannelModel(R"({"attenuationResponse": [[300, 1], [300, 2]]})"_json, error));
    EXPECT_FALSE(parseChannelModel(R"({"phaseJitter": {"peakToPeakDeg": 500}})"_json, error));
    EXPECT_FALSE(parseChannelModel(R"({"impedance": {"circuit": "bridge"}})"_json, error));
    EXPECT_EQ(error, "impedance.circuit: \"series\" or \"parallel\" is expected");
    m = parseChannelModel(
        R"({"impedance": {"resistanceOhm": 300}, "reverse": {"impedance": {"circuit": "parallel"}}})"_json,
        error);
    ASSERT_TRUE(m) << error;
    EXPECT_FALSE(m->forward.impedanceParallel);
    EXPECT_TRUE(m->reverse.impedanceParallel);
    EXPECT_EQ(m->reverse.impedanceOhm, 300.0);
}

} // namespace
} // namespace vetlina::sim
