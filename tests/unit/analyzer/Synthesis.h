// Test signals for the computation, made from first principles: time samples of sines,
// combs and noise at 12800 per second, cut into the analyzer's raw frames, and a
// recorder of what the decoding asks of the measurement sequence.
#pragma once

#include "analyzer/MeterComputation.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace vetlina::test {

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kRate = 12800.0;
inline constexpr int kSet = 4096;

// The records of what the decoding asked for.
class RecordingActions : public DecoderActions {
public:
    void reportRange(int16_t report) override { reports.push_back(report); }
    bool send(const CommandPlan& plan) override {
        plans.push_back(plan);
        return sendResult;
    }
    void clear() {
        reports.clear();
        plans.clear();
    }
    // The command codes of every block sent, in order.
    std::vector<int> commandCodes() const {
        std::vector<int> codes;
        for (const auto& p : plans)
            for (std::size_t i = 0; i < p.count; ++i)
                codes.push_back(p.blocks[i].code());
        return codes;
    }
    std::vector<int16_t> reports;
    std::vector<CommandPlan> plans;
    bool sendResult = true;
};

// A signal as a function of time in seconds, in sample units (full scale 32767).
using Signal = std::function<double(double)>;

inline Signal sine(double amplitude, double hz, double phase = 0.0) {
    return [=](double t) { return amplitude * std::cos(2.0 * kPi * hz * t + phase); };
}

inline Signal sum(std::vector<Signal> parts) {
    return [parts](double t) {
        double v = 0.0;
        for (const auto& p : parts)
            v += p(t);
        return v;
    };
}

// Amplitude of a sine whose level is `dbFs` dB below a full-scale sine (32767).
inline double amplitudeDb(double dbFs) {
    return 32767.0 * std::pow(10.0, dbFs / 20.0);
}

// 4096 time samples of a signal starting at t0, rounded and clipped to 16 bits; white
// Gaussian noise of the given RMS (sample units) added when rms > 0.
inline std::vector<int16_t> samples(const Signal& s, double t0 = 0.0, double rms = 0.0,
                                    unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, rms > 0.0 ? rms : 1.0);
    std::vector<int16_t> out(kSet);
    for (int i = 0; i < kSet; ++i) {
        double v = s(t0 + i / kRate) + (rms > 0.0 ? gauss(rng) : 0.0);
        v = std::clamp(std::round(v), -32768.0, 32767.0);
        out[i] = static_cast<int16_t>(v);
    }
    return out;
}

// The 64 raw frames of a set: the analyzer sends the even time samples in the first
// half of the set and the odd ones in the second half.
inline std::vector<std::array<int16_t, 68>> frames(const std::vector<int16_t>& time,
                                                   int16_t type = -9, uint32_t tag = 1000) {
    std::vector<int16_t> set(kSet);
    for (int i = 0; i < kSet; ++i)
        set[(i % 2) ? kSet / 2 + i / 2 : i / 2] = time[i];
    std::vector<std::array<int16_t, 68>> out;
    for (int f = 0; f < kSet / 64; ++f) {
        std::array<int16_t, 68> w{};
        w[0] = type;
        w[1] = static_cast<int16_t>(tag >> 16);
        w[2] = static_cast<int16_t>(tag & 0xFFFF);
        for (int i = 0; i < 64; ++i)
            w[3 + i] = set[64 * f + i];
        w[67] = static_cast<int16_t>(64 * (f + 1));
        out.push_back(w);
    }
    return out;
}

// Feeds a whole set and returns the code of its last frame (the earlier ones must give
// nothing to report).
inline int16_t feed(MeterComputation& meter, const std::vector<int16_t>& time,
                    DecoderActions& actions, int16_t type = -9, uint32_t tag = 1000) {
    int16_t last = 0;
    for (const auto& f : frames(time, type, tag))
        last = meter.DecodeBlock(f.data(), 68, actions);
    return last;
}

// A meter set up as the range step does it: top 0 dBm, bottom -55 dBm, threshold 20 dB.
inline void setRange(MeterComputation& meter, double maxSignal = 0.0, double minSignal = -55.0,
                     double threshold = 20.0) {
    meter.state.recognitionThreshold = threshold;
    auto plan = MeterLevHiLowRangeSet(meter.state, maxSignal, minSignal);
    (void)plan;
}

} // namespace vetlina::test
