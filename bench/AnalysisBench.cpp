// Speed of the analyzer computation: one frame set of each signal kind through
// DecodeBlock (assembly of 64 frames and the analysis of the complete set), and the
// received byte stream through a receive state machine into DecodeBlock.
//
//   bench_AnalysisBench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include "analyzer/Encoders.h"
#include "analyzer/MeterComputation.h"
#include "analyzer/Tables.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace vetlina {
namespace {

constexpr double kPi = std::numbers::pi;

class NoActions : public DecoderActions {
public:
    void reportRange(int16_t) override {}
    bool send(const CommandPlan&) override { return true; }
};

using Frames = std::vector<std::array<int16_t, 68>>;

// The 64 frames of a set of 4096 time samples (even samples in the first half).
Frames makeFrames(const std::vector<double>& time) {
    std::vector<int16_t> set(4096);
    for (int i = 0; i < 4096; ++i)
        set[(i % 2) ? 2048 + i / 2 : i / 2] =
            static_cast<int16_t>(std::clamp(std::round(time[i]), -32768.0, 32767.0));
    Frames frames;
    for (int f = 0; f < 64; ++f) {
        std::array<int16_t, 68> w{};
        w[0] = -9;
        w[2] = 100;
        for (int i = 0; i < 64; ++i)
            w[3 + i] = set[64 * f + i];
        w[67] = static_cast<int16_t>(64 * (f + 1));
        frames.push_back(w);
    }
    return frames;
}

std::vector<double> sineSignal() {
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 20.0);
    std::vector<double> x(4096);
    for (int i = 0; i < 4096; ++i) {
        const double t = i / 12800.0;
        x[i] = 12000.0 * (1.0 + 0.01 * std::sin(2 * kPi * 40 * t)) *
                   std::cos(2 * kPi * 1020.0 * t + 0.05 * std::sin(2 * kPi * 60 * t)) +
               noise(rng);
    }
    return x;
}

std::vector<double> combSignal() {
    std::vector<double> x(4096);
    for (int i = 0; i < 4096; ++i)
        for (int k = 1; k <= 38; ++k)
            x[i] += 600.0 * std::cos(2 * kPi * k * 100.0 * i / 12800.0 +
                                     kTonePhaseSevenths[k - 1] * 2 * kPi / 7);
    return x;
}

std::vector<double> noiseSignal() {
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 300.0);
    std::vector<double> x(4096);
    for (auto& v : x)
        v = noise(rng);
    return x;
}

void analyseSets(benchmark::State& state, const std::vector<double>& signal, int16_t expected) {
    MeterComputation meter;
    NoActions actions;
    meter.state.recognitionThreshold = 20.0;
    MeterLevHiLowRangeSet(meter.state, 0.0, -55.0);
    const Frames frames = makeFrames(signal);
    int16_t code = 0;
    for (int warm = 0; warm < 3; ++warm)
        for (const auto& f : frames)
            code = meter.DecodeBlock(f.data(), 68, actions);
    if (code != expected) {
        state.SkipWithError("the set was not recognised as expected");
        return;
    }
    for (auto _ : state) {
        for (const auto& f : frames)
            code = meter.DecodeBlock(f.data(), 68, actions);
        benchmark::DoNotOptimize(code);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_SineSet(benchmark::State& state) {
    analyseSets(state, sineSignal(), 326);
}
void BM_MultiFrequencySet(benchmark::State& state) {
    analyseSets(state, combSignal(), -1);
}
void BM_NoiseSet(benchmark::State& state) {
    analyseSets(state, noiseSignal(), 0);
}
BENCHMARK(BM_SineSet)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MultiFrequencySet)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NoiseSet)->Unit(benchmark::kMicrosecond);

// The bytes of a block as the analyzer sends it: STX, the words little-endian with the
// control bytes escaped (DLE, byte ^ 0x20), CR.
void stuff(const int16_t* words, int count, std::vector<uint8_t>& out) {
    out.push_back(2);
    for (int i = 0; i < count; ++i) {
        for (uint8_t b : {static_cast<uint8_t>(words[i] & 0xFF),
                          static_cast<uint8_t>((words[i] >> 8) & 0xFF)}) {
            if (b == 2 || b == 10 || b == 13 || b == 16 || b == 27) {
                out.push_back(16);
                out.push_back(b ^ 0x20);
            } else {
                out.push_back(b);
            }
        }
    }
    out.push_back(13);
}

// A minimal receive state machine (start, escape, end) standing in for the link's
// ReadEvent, feeding each complete block to DecodeBlockBytes.
void BM_ReceivedStream(benchmark::State& state) {
    std::vector<uint8_t> stream;
    const Frames frames = makeFrames(sineSignal());
    std::vector<int16_t> meterTable(18, 0);
    meterTable[0] = -5;
    meterTable[6] = 10;
    meterTable[5] = 1;
    for (const auto& f : frames) {
        stuff(f.data(), 68, stream);
        if (&f - frames.data() == 32)
            stuff(meterTable.data(), 18, stream);
    }
    MeterComputation meter;
    NoActions actions;
    MeterLevHiLowRangeSet(meter.state, 0.0, -55.0);
    std::array<uint8_t, 550> block{};
    long sets = 0;
    for (auto _ : state) {
        std::size_t length = 0;
        bool inBlock = false;
        uint8_t mask = 0;
        for (uint8_t byte : stream) {
            const uint8_t m = mask;
            mask = 0;
            if (byte == 2) {
                inBlock = true;
                length = 0;
            } else if (byte == 13) {
                if (inBlock && meter.DecodeBlockBytes(
                                   block.data(), std::min<std::size_t>(length, 512), actions) > 0)
                    ++sets;
                inBlock = false;
            } else if (byte == 16) {
                mask = 0x20;
            } else if (inBlock && length < block.size()) {
                block[length++] = byte ^ m;
            }
        }
    }
    benchmark::DoNotOptimize(sets);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_ReceivedStream)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace vetlina
