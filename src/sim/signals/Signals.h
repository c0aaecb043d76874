// The test signals of the simulated network, as the ZMK-5's generator (or an
// autonomous generator station) puts them on the line, and the line units in which
// the simulator carries them.
//
// Line units: a value of 1.0 is the rms voltage of 0 dBm into 600 ohm (0.7746 V). A
// signal "at L dBm" has the mean power 10^(L/10) in these units; its level is always
// the power of the whole signal:
// - Sine (the sine measurement, the O.132 tone, the echo probes): one tone of L dBm,
//   amplitude sqrt(2) x 10^(L/20).
// - MultiFrequency: 38 tones at 100, 200, ..., 3800 Hz; the 32 tones inside the
//   300-3400 Hz band together carry L dBm, so each tone is at L - 15.05 dBm (the six
//   tones outside the band have the same level). Tone i (1..38) starts with the
//   phase k_i x 2 pi / 7 of a cosine, with k_i from kCombPhaseSevenths.
// - O131: a pseudo-random noise of 64 equal tones on the 3.125 Hz grid from 350 to
//   546.875 Hz (repeating every 0.32 s), with random phases from a fixed seed; L dBm
//   in all.
// - O42: four equal tones at 856, 863, 1374 and 1385 Hz, each at L - 6.02 dBm.
// - Silence: nothing.
// Phases are those of cosines at the start of the signal; signals are generated
// from the sample clock, so their phases run on continuously from frame to frame.
#pragma once

#include "sim/exchange/AnalyzerLine.h"

#include <array>
#include <complex>
#include <cstdint>
#include <span>
#include <vector>

namespace vetlina::sim {

// The kinds of GeneratorSignal (AnalyzerLine.h).
namespace signal_kind {
constexpr int Silence = 0;
constexpr int Sine = 1;
constexpr int MultiFrequency = 2;
constexpr int O131 = 3;
constexpr int O42 = 4;
} // namespace signal_kind

const char* signalKindName(int kind);

// The analyzer's meter samples the line 12 800 times a second.
constexpr double kMeterRate = 12800.0;

constexpr int kCombTones = 38;
constexpr double kCombSpacingHz = 100.0;
constexpr double kCombToneShareDb = 15.0515; // 10 log10(32): one of the 32 tones in band
constexpr std::array<int, kCombTones> kCombPhaseSevenths = {4, 0, 0, 0, 0, 0, 6, 0, 1, 2, 3, 1, 3,
                                                            5, 0, 2, 6, 2, 5, 1, 4, 0, 4, 1, 5, 2,
                                                            4, 2, 0, 5, 3, 4, 3, 2, 1, 0, 2, 6};
constexpr std::array<double, 4> kO42TonesHz = {856.0, 863.0, 1374.0, 1385.0};
constexpr double kO131LowHz = 350.0;
constexpr int kO131Tones = 64;
constexpr double kO131SpacingHz = 3.125;

// Amplitude in line units of a sine at a level.
double sineAmplitude(double levelDbm);

// One spectral line of a signal: a cosine amplitude x cos(2 pi f t + phase).
struct Tone {
    double frequencyHz = 0.0;
    double amplitude = 0.0;
    double phase = 0.0; // rad at the signal's start
};

// The tones of a generator signal (none for silence).
std::vector<Tone> signalTones(const GeneratorSignal& signal);

// A bank of tones rendered from the sample clock. Each tone may carry a complex gain
// (what a path does to it); the phase of tone i at sample n (counted from the bank's
// origin) is phase_i + arg(gain_i) + 2 pi f_i n / 12800.
class ToneBank {
public:
    ToneBank() = default;
    ToneBank(std::vector<Tone> tones, int64_t originSample);

    bool empty() const { return tones_.empty(); }
    const std::vector<Tone>& tones() const { return tones_; }
    int64_t origin() const { return origin_; }

    // Adds the analytic signal sum a_i e^{j(2 pi f_i t + phase_i)} of samples
    // first .. first + out.size() - 1 to out; the line signal is its real part.
    void renderAnalytic(int64_t first, std::span<std::complex<double>> out) const;
    // Adds the real signal.
    void render(int64_t first, std::span<double> out) const;

private:
    std::vector<Tone> tones_;
    int64_t origin_ = 0;
};

} // namespace vetlina::sim
