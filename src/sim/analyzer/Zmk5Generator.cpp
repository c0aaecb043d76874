#include "sim/analyzer/Zmk5Generator.h"

#include <algorithm>

namespace vetlina::sim {

void Zmk5Generator::off(int64_t sample) {
    steady(GeneratorSignal{}, sample);
}

void Zmk5Generator::steady(const GeneratorSignal& signal, int64_t sample) {
    echo_ = false;
    steady_ = signal;
    bank_ = ToneBank(signalTones(signal), sample);
}

void Zmk5Generator::echo(const EchoProbe& first, const EchoProbe& second, int64_t sample) {
    steady_ = GeneratorSignal{};
    bank_ = ToneBank();
    echo_ = true;
    first_ = first;
    second_ = second;
    first_.samples = std::max<int64_t>(first_.samples, 1);
    second_.samples = std::max<int64_t>(second_.samples, 1);
    echoStart_ = sample;
}

int64_t Zmk5Generator::cycleSamples() const {
    return first_.samples + second_.samples;
}

int64_t Zmk5Generator::firstProbeEnd(int64_t sample) const {
    const int64_t cycle = cycleSamples();
    const int64_t elapsed = std::max<int64_t>(sample - echoStart_, 0);
    return echoStart_ + (elapsed / cycle) * cycle + first_.samples;
}

GeneratorSignal Zmk5Generator::signalAt(int64_t sample) const {
    if (!echo_)
        return steady_;
    const int64_t cycle = cycleSamples();
    const int64_t within = sample < echoStart_ ? 0 : (sample - echoStart_) % cycle;
    const EchoProbe& p = within < first_.samples ? first_ : second_;
    if (!p.on)
        return GeneratorSignal{};
    return GeneratorSignal{signal_kind::Sine, p.levelDbm, p.frequencyHz};
}

void Zmk5Generator::render(int64_t first, std::span<double> out) const {
    if (!echo_) {
        bank_.render(first, out);
        return;
    }
    // Probe by probe: each piece is a tone bank whose origin is the probe's start.
    const int64_t cycle = cycleSamples();
    int64_t n = first;
    const int64_t end = first + static_cast<int64_t>(out.size());
    while (n < end) {
        if (n < echoStart_) {
            n = std::min(end, echoStart_);
            continue;
        }
        const int64_t cycleStart = echoStart_ + ((n - echoStart_) / cycle) * cycle;
        const bool inFirst = n < cycleStart + first_.samples;
        const EchoProbe& p = inFirst ? first_ : second_;
        const int64_t probeStart = inFirst ? cycleStart : cycleStart + first_.samples;
        const int64_t probeEnd = probeStart + p.samples;
        const int64_t stop = std::min(end, probeEnd);
        if (p.on) {
            ToneBank piece({{p.frequencyHz, sineAmplitude(p.levelDbm), p.phase}}, probeStart);
            piece.render(n, out.subspan(static_cast<std::size_t>(n - first),
                                        static_cast<std::size_t>(stop - n)));
        }
        n = stop;
    }
}

} // namespace vetlina::sim
