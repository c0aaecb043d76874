#include "sim/signals/Signals.h"

#include <cmath>
#include <numbers>
#include <random>

namespace vetlina::sim {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Tones are re-anchored from the sample clock at this interval so that the phase
// recurrence never drifts.
constexpr int kAnchorSamples = 256;

} // namespace

const char* signalKindName(int kind) {
    switch (kind) {
    case signal_kind::Silence:
        return "silence";
    case signal_kind::Sine:
        return "sine";
    case signal_kind::MultiFrequency:
        return "multi-frequency";
    case signal_kind::O131:
        return "O.131";
    case signal_kind::O42:
        return "O.42";
    default:
        return "unknown";
    }
}

double sineAmplitude(double levelDbm) {
    return std::sqrt(2.0) * std::pow(10.0, levelDbm / 20.0);
}

std::vector<Tone> signalTones(const GeneratorSignal& signal) {
    std::vector<Tone> tones;
    switch (signal.kind) {
    case signal_kind::Sine:
        if (signal.frequencyHz > 0.0 && signal.levelDbm > -150.0)
            tones.push_back({signal.frequencyHz, sineAmplitude(signal.levelDbm), 0.0});
        break;
    case signal_kind::MultiFrequency: {
        const double amplitude = sineAmplitude(signal.levelDbm - kCombToneShareDb);
        for (int i = 0; i < kCombTones; ++i)
            tones.push_back(
                {kCombSpacingHz * (i + 1), amplitude, kCombPhaseSevenths[i] * kTwoPi / 7.0});
        break;
    }
    case signal_kind::O131: {
        // The pseudo-random phases are the generator's own, the same every time.
        std::mt19937 random(131);
        std::uniform_real_distribution<double> phase(0.0, kTwoPi);
        const double amplitude = sineAmplitude(signal.levelDbm) / std::sqrt(kO131Tones);
        for (int i = 0; i < kO131Tones; ++i)
            tones.push_back({kO131LowHz + kO131SpacingHz * i, amplitude, phase(random)});
        break;
    }
    case signal_kind::O42: {
        const double amplitude = sineAmplitude(signal.levelDbm - 10.0 * std::log10(4.0));
        for (std::size_t i = 0; i < kO42TonesHz.size(); ++i)
            tones.push_back({kO42TonesHz[i], amplitude, kTwoPi * static_cast<double>(i) / 4.0});
        break;
    }
    default:
        break;
    }
    return tones;
}

ToneBank::ToneBank(std::vector<Tone> tones, int64_t originSample)
    : tones_(std::move(tones)), origin_(originSample) {}

void ToneBank::renderAnalytic(int64_t first, std::span<std::complex<double>> out) const {
    for (const Tone& tone : tones_) {
        const double cyclesPerSample = tone.frequencyHz / kMeterRate;
        const std::complex<double> step = std::polar(1.0, kTwoPi * cyclesPerSample);
        for (std::size_t start = 0; start < out.size(); start += kAnchorSamples) {
            const int64_t n = first + static_cast<int64_t>(start) - origin_;
            // The whole cycles are dropped before the multiplication by 2 pi, so that the
            // phase stays exact however long the tone has run.
            const double cycles = std::fmod(cyclesPerSample * static_cast<double>(n), 1.0);
            std::complex<double> phasor = std::polar(tone.amplitude, tone.phase + kTwoPi * cycles);
            const std::size_t end = std::min(out.size(), start + kAnchorSamples);
            for (std::size_t i = start; i < end; ++i) {
                out[i] += phasor;
                phasor *= step;
            }
        }
    }
}

void ToneBank::render(int64_t first, std::span<double> out) const {
    std::vector<std::complex<double>> analytic(out.size());
    renderAnalytic(first, analytic);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] += analytic[i].real();
}

} // namespace vetlina::sim
