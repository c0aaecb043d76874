#include "sim/analyzer/Zmk5Meter.h"

#include "Zmk5TestSupport.h"
#include "sim/signals/Fft.h"
#include "sim/signals/Signals.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <optional>

namespace vetlina::sim {
namespace {

constexpr double kPi = std::numbers::pi;
using test::assembleSets;
using test::ofType;
using test::pair;
using test::transformLevel;

// Every block the meter has ready, in order.
std::vector<std::vector<int16_t>> drain(Zmk5Meter& meter) {
    std::vector<std::vector<int16_t>> blocks;
    while (auto b = meter.takeBlock())
        blocks.push_back(std::move(*b));
    return blocks;
}

// Runs the meter over a signal given per sample, taking blocks as a fast link would.
template <class Signal>
std::vector<std::vector<int16_t>> run(Zmk5Meter& meter, int64_t samples, Signal signal) {
    std::vector<std::vector<int16_t>> blocks;
    std::vector<double> chunk;
    for (int64_t n = 0; n < samples; n += 64) {
        chunk.clear();
        for (int64_t i = n; i < std::min(samples, n + 64); ++i)
            chunk.push_back(signal(meter.samples() + (i - n)));
        meter.acquire(chunk);
        for (auto& b : drain(meter))
            blocks.push_back(std::move(b));
    }
    return blocks;
}

auto sine(double levelDbm, double hz, double phase = 0.0) {
    return [=](int64_t n) {
        return sineAmplitude(levelDbm) * std::cos(2.0 * kPi * hz * n / kMeterRate + phase);
    };
}

TEST(Zmk5Meter, SetsLeaveInTheOrderTheComputerUnpacks) {
    Zmk5Meter meter;
    meter.restart(0);
    // A ramp in line units: its codes rise by four every sample.
    const double perCode = 1.0 / meterCodesPerUnit(0.0);
    auto blocks = run(meter, 9000, [&](int64_t n) { return (n % 4096) * 4.0 * perCode; });
    auto frames = ofType(blocks, -9);
    ASSERT_GE(frames.size(), 128u);
    auto sets = assembleSets(frames);
    ASSERT_EQ(sets.size(), 2u);
    for (const auto& set : sets)
        for (int i = 1; i < 4096; ++i)
            ASSERT_GT(set[i], set[i - 1]) << i; // time order restored
    // Positions run 64 .. 4096 and the tag names the set's start in ms since the restart.
    for (int j = 0; j < 64; ++j)
        EXPECT_EQ(frames[j][67], 64 * (j + 1));
    EXPECT_EQ(pair(frames[0][1], frames[0][2]), 0u);
    EXPECT_EQ(pair(frames[64][1], frames[64][2]), 320u);
}

TEST(Zmk5Meter, AFrameLeavesOnlyOnceItsSamplesAreIn) {
    Zmk5Meter meter;
    meter.restart(0);
    // Frame 0 holds the samples 0, 2, ..., 126.
    std::vector<double> silence(126, 0.0);
    meter.acquire(silence);
    EXPECT_FALSE(meter.takeBlock());
    std::vector<double> one(1, 0.0);
    meter.acquire(one);
    auto first = meter.takeBlock();
    ASSERT_TRUE(first);
    EXPECT_EQ((*first)[0], -9);
    EXPECT_FALSE(meter.takeBlock());
}

TEST(Zmk5Meter, SetsBeginOnTheCombsPeriodSoItsTonesKeepTheirPhases) {
    // The computer takes each comb tone's phase at the start of a set against its nominal
    // phase, and the impedance measurement compares those phases between sets: every set
    // must begin at the same point of the comb's 10 ms period, however the link drains.
    Zmk5Meter meter;
    std::vector<double> lead(37, 0.0);
    meter.acquire(lead); // the restart falls between two periods
    meter.restart(0);
    auto comb = [](int64_t n) {
        double x = 0.0;
        for (int tone : {3, 7, 10, 24})
            x += 0.2 * std::cos(2.0 * kPi * tone * 100.0 * n / kMeterRate + tone);
        return x;
    };
    // A slow link: frames are taken only every 331 samples, so the last frame of a set
    // leaves at no particular point of the period.
    std::vector<std::vector<int16_t>> blocks;
    std::vector<double> chunk;
    for (int64_t n = 0; n < 12800 * 10; n += 331) {
        chunk.clear();
        for (int i = 0; i < 331; ++i)
            chunk.push_back(comb(meter.samples() + i));
        meter.acquire(chunk);
        if (auto b = meter.takeBlock())
            blocks.push_back(std::move(*b));
    }
    auto sets = assembleSets(ofType(blocks, -9));
    ASSERT_GE(sets.size(), 3u);
    for (std::size_t s = 1; s < sets.size(); ++s)
        for (int i = 0; i < 4096; i += 7)
            ASSERT_NEAR(sets[s][i], sets[0][i], 2) << "set " << s << ", sample " << i;
}

TEST(Zmk5Meter, ASineReadsItsLevelThroughTheComputersConversions) {
    struct Case {
        int attenuator;
        bool gain;
        double level;
    };
    for (Case c : {Case{0, false, -10.0}, Case{0, false, -40.0}, Case{13, false, -30.0},
                   Case{0, true, 5.0}}) {
        Zmk5Meter meter;
        meter.setRange(c.attenuator, 0);
        meter.setGain(c.gain);
        const double top = meter.topDbm();
        EXPECT_DOUBLE_EQ(top, (c.gain ? 20.0 : 0.0) - 1.5 * c.attenuator);
        meter.restart(0);
        auto blocks = run(meter, 4096 * 3, sine(c.level, 1000.0));
        auto sets = assembleSets(ofType(blocks, -9));
        ASSERT_FALSE(sets.empty());
        EXPECT_NEAR(transformLevel(sets[0], top), c.level, 0.02) << c.level;
        // The meter table: 10 log10(sum / count x 2^-32) + top + 8.47.
        auto tables = ofType(blocks, -5);
        ASSERT_FALSE(tables.empty());
        const auto& t = tables[0];
        const double sum = static_cast<uint16_t>(t[4]) + static_cast<uint16_t>(t[3]) * 65536.0 +
                           static_cast<uint16_t>(t[5]) * 4294967296.0;
        const double level =
            10.0 * std::log10(sum / static_cast<uint16_t>(t[6]) / 4294967296.0) + top + 8.47;
        EXPECT_NEAR(level, c.level, 0.02) << c.level;
    }
}

TEST(Zmk5Meter, TableGivesTheSinesFrequencyTheNoiseBesideItAndThePeak) {
    Zmk5Meter meter;
    meter.restart(576); // 1800 Hz, the sine is a little off the bin
    std::mt19937 random(3);
    std::normal_distribution<double> gauss(0.0, std::pow(10.0, -50.0 / 20.0));
    auto tone = sine(-10.0, 1801.37, 0.3);
    auto blocks = run(meter, 12800 * 3, [&](int64_t n) { return tone(n) + gauss(random); });
    auto tables = ofType(blocks, -5);
    ASSERT_GE(tables.size(), 3u);
    for (std::size_t i = 1; i < tables.size(); ++i) {
        const auto& t = tables[i];
        ASSERT_NE(t[17], 0);
        const double sum = static_cast<uint16_t>(t[15]) + static_cast<uint16_t>(t[14]) * 65536.0 +
                           static_cast<uint16_t>(t[16]) * 4294967296.0;
        const double hz = sum / t[17] * 3.125 / 262144.0;
        EXPECT_NEAR(hz, 1801.37, 0.01) << i;
        // The noise word, the sine notched out: white noise of -50 dBm over the whole 6.4 kHz,
        // a little of it taken by the notch.
        const double noise = 10.0 * std::log10(pair(t[7], t[8]) / 4294967296.0) + 8.47;
        EXPECT_NEAR(noise, -50.0, 0.3) << i;
        // The peak word against the sine: sine level + 20.87 + 10 log10(w / 2^32) is the level
        // of a sine with the input's peak: the sine's own peak and some 4 sigma of the noise.
        const double word = pair(t[9], t[10]);
        const double peak = -10.0 + 20.87 + 10.0 * std::log10(word / 4294967296.0);
        EXPECT_GT(peak, -10.0) << i;
        EXPECT_LT(peak, -9.7) << i;
    }
}

// Item 4 of the table as the computer reads it: the level of the peak word, and while a
// sine is followed, relative to the sine's level.
double tablePeak(const std::vector<int16_t>& t, double top, std::optional<double> sineDbm = {}) {
    const double raw = 10.0 * std::log10(pair(t[9], t[10]) / 4294967296.0) + top + 8.47;
    return sineDbm ? *sineDbm - top + 12.4 + raw : raw;
}

TEST(Zmk5Meter, TablePeakIsTheLevelOfASineWithTheInputsPeak) {
    // Without a sine followed: the input's peak as the level of a sine that peaks there,
    // measured ahead of the converter's limit, so that an input driven beyond full scale
    // reads above the top and the computer keeps the meter overloaded.
    for (double level : {-30.0, -10.0, -1.0, 2.0}) {
        Zmk5Meter meter;
        meter.restart(0);
        auto tables = ofType(run(meter, 4096 * 2, sine(level, 1000.0)), -5);
        ASSERT_FALSE(tables.empty());
        EXPECT_NEAR(tablePeak(tables[0], 0.0), level, 0.05) << level;
    }
    // Following a sine the word is the peak against the sine's power over the interval (the
    // computer adds the level it measured): 0 dB for a steady sine; a level hit of +6 dB for
    // 1280 of the 4096 samples of the fourth set's interval raises the peak by 6.02 dB and the
    // sine's mean power by 10 log10((2816 + 4 x 1280) / 4096) = 2.87 dB.
    Zmk5Meter meter;
    meter.restart(320); // 1000 Hz
    auto tone = sine(-20.0, 1000.0);
    auto blocks = run(meter, 12800 * 2, [&](int64_t n) {
        const bool hit = n >= 15000 && n < 16280; // 100 ms
        return tone(n) * (hit ? 2.0 : 1.0);
    });
    auto tables = ofType(blocks, -5);
    ASSERT_GE(tables.size(), 5u);
    for (std::size_t i : {1u, 2u, 4u})
        EXPECT_NEAR(tablePeak(tables[i], 0.0, 0.0), 0.0, 0.1) << i;
    EXPECT_NEAR(tablePeak(tables[3], 0.0, 0.0), 6.02 - 2.87, 0.15);
}

// ---- event counters ----------------------------------------------------------------------

using test::readStatistics;
using test::Statistics;

class Zmk5EventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        meter.restart(320); // 1000 Hz
        meter.setThresholds(thresholdWords(-14.0, -24.0, 4.0, 15.0));
        meter.setDeadTimes({1600, 1600, 200, 200}); // 125 ms each
    }

    Statistics runFor(double seconds, std::function<double(int64_t)> signal) {
        auto blocks = run(meter, static_cast<int64_t>(seconds * 12800), signal);
        auto stats = ofType(blocks, -4);
        EXPECT_FALSE(stats.empty());
        return stats.empty() ? Statistics{} : readStatistics(stats.back(), 0.0);
    }

    Zmk5Meter meter;
};

TEST_F(Zmk5EventsTest, ThresholdsAreReadBackAsTheyWereSet) {
    auto s = runFor(1.1, sine(-10.0, 1000.0));
    EXPECT_NEAR(s.impulseThreshold, -14.0, 0.01);
    EXPECT_NEAR(s.interruptionThreshold, -24.0, 0.01);
    EXPECT_NEAR(s.levelThreshold, 4.0, 0.01);
    EXPECT_NEAR(s.phaseThreshold, 15.0, 0.05);
    EXPECT_EQ(s.impulses + s.interruptions + s.dropouts + s.levelHits + s.phaseHits, 0);
    EXPECT_NEAR(s.seconds, 1.0, 0.001);
}

TEST_F(Zmk5EventsTest, ImpulsesAreCountedOncePerDeadTime) {
    // Peaks of -8 dBm-sine size (above the -14 dBm threshold) at 0.5 s, 0.55 s (inside the
    // dead time), 1.2 s (negative) and 2.5 s.
    auto tone = sine(-10.0, 1000.0);
    const double peak = sineAmplitude(-8.0) * 1.5;
    auto s = runFor(3.1, [&](int64_t n) {
        double x = tone(n);
        if (n == 6400 || n == 7040 || n == 32000)
            x += peak;
        if (n == 15360)
            x -= peak;
        return x;
    });
    EXPECT_EQ(s.impulses, 3);
    EXPECT_EQ(s.positive, 2);
    EXPECT_EQ(s.negative, 1);
    EXPECT_EQ(s.suppressed, 1);
    EXPECT_NEAR(s.impulsePercent, 3.0 / 3.0 * 100.0, 0.1); // seconds 0, 1 and 2 of 3
    EXPECT_GT(s.impulseTime, 0.0);
    EXPECT_LT(s.impulseTime, 20.0 / 12800.0 / 3.0);
}

TEST_F(Zmk5EventsTest, InterruptionsAreClassedByLength) {
    auto tone = sine(-10.0, 1000.0);
    auto gap = [](int64_t n, double atS, double ms) {
        return n >= atS * 12800 && n < atS * 12800 + ms * 12.8;
    };
    auto s = runFor(4.1, [&](int64_t n) {
        if (gap(n, 0.6, 2.0) || gap(n, 1.3, 50.0) || gap(n, 2.4, 400.0))
            return 0.0;
        return tone(n);
    });
    EXPECT_EQ(s.dropouts, 1);
    EXPECT_EQ(s.interruptions, 2);
    EXPECT_EQ(s.breaks, 0);
    EXPECT_NEAR(s.interruptionTime * s.seconds, 0.45, 0.01);
    EXPECT_NEAR(s.interruptionPercent, 2.0 / 4.0 * 100.0, 0.1);
    EXPECT_EQ(s.levelHits + s.phaseHits, 0); // the sine's return is no hit
}

TEST_F(Zmk5EventsTest, LevelAndPhaseHits) {
    // An abrupt hit also leaves a transient in the notched input; with the impulse
    // threshold 6 dB above the sine (the relative setting) it is no impulse.
    meter.setThresholds(thresholdWords(-4.0, -25.0, 4.0, 15.0));
    auto tone = sine(-10.0, 1000.0);
    const double up = std::pow(10.0, 6.0 / 20.0);
    auto s = runFor(4.1, [&](int64_t n) {
        const double seconds = n / 12800.0;
        if (seconds >= 1.0 && seconds < 1.1)
            return up * tone(n); // a level hit of +6 dB for 100 ms
        if (seconds >= 2.0)      // a lasting phase step of 30 degrees
            return sineAmplitude(-10.0) * std::cos(2.0 * kPi * 1000.0 * seconds + kPi / 6.0);
        return tone(n);
    });
    EXPECT_EQ(s.levelHits, 1);
    EXPECT_EQ(s.phaseHits, 1);
    EXPECT_EQ(s.impulses + s.interruptions, 0);
}

TEST_F(Zmk5EventsTest, SmallChangesAreNoHits) {
    auto s = runFor(3.1, [&](int64_t n) {
        const double seconds = n / 12800.0;
        const double gain = seconds >= 1.0 ? std::pow(10.0, 2.0 / 20.0) : 1.0; // 2 dB < 4 dB
        const double phase = seconds >= 2.0 ? 8.0 * kPi / 180.0 : 0.0;         // 8 < 15 degrees
        return gain * sineAmplitude(-10.0) * std::cos(2.0 * kPi * 1000.0 * seconds + phase);
    });
    EXPECT_EQ(s.levelHits + s.phaseHits + s.impulses + s.interruptions, 0);
}

} // namespace
} // namespace vetlina::sim
