// The ZMK-5's generator as it drives the line: the sine (HarmSet), the composite
// signals (multi-frequency comb, O.131, O.42), the echo probes, or nothing. It knows
// its output sample by sample (for what the own meter hears: the echo of the line and
// the impedance divider) and tells the exchange what it sends at a moment.
//
// Echo probes: probe 1 for its time, then probe 2 for its time, again and again from
// the moment of the command; each probe is a sine that starts with its own phase. A
// probe with amplitude code 0 is a pause.
#pragma once

#include "sim/exchange/AnalyzerLine.h"
#include "sim/signals/Signals.h"

#include <cstdint>
#include <optional>
#include <span>

namespace vetlina::sim {

struct EchoProbe {
    bool on = false;
    double levelDbm = -200.0;
    double frequencyHz = 0.0;
    double phase = 0.0;  // rad
    int64_t samples = 0; // length in meter samples (12 800 per second)
};

class Zmk5Generator {
public:
    // Every setting takes effect at the given meter sample.
    void off(int64_t sample);
    void steady(const GeneratorSignal& signal, int64_t sample);
    void echo(const EchoProbe& first, const EchoProbe& second, int64_t sample);

    bool echoing() const { return echo_; }
    // The steady signal (silence while echoing or off).
    const GeneratorSignal& steadySignal() const { return steady_; }
    const ToneBank& steadyTones() const { return bank_; }

    // What the generator sends at a sample.
    GeneratorSignal signalAt(int64_t sample) const;
    // Adds the output of samples first .. first + out.size() - 1 (line units).
    void render(int64_t first, std::span<double> out) const;

    // Echo probes: the sample at which the first probe of the cycle that contains
    // sample ends, and the cycle's length.
    int64_t firstProbeEnd(int64_t sample) const;
    int64_t cycleSamples() const;
    const EchoProbe& probe(int which) const { return which == 0 ? first_ : second_; }

private:
    GeneratorSignal steady_;
    ToneBank bank_;
    bool echo_ = false;
    EchoProbe first_, second_;
    int64_t echoStart_ = 0;
};

} // namespace vetlina::sim
