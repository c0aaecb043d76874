// The tests' own analysis of rendered signals: plain DFTs at a frequency, band power
// through the transform, and demodulation of a tone into amplitude and phase.
#pragma once

#include "sim/signals/Fft.h"
#include "sim/signals/Signals.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace vetlina::sim::test {

constexpr double kTestPi = std::numbers::pi;

// Complex amplitude of the component at hz over whole samples (2/N sum x e^{-jwn}).
inline std::complex<double> toneAt(const std::vector<double>& x, double hz, std::size_t first = 0,
                                   std::size_t count = 0) {
    if (count == 0)
        count = x.size() - first;
    std::complex<double> sum{};
    for (std::size_t n = 0; n < count; ++n)
        sum += x[first + n] *
               std::polar(1.0, -2.0 * kTestPi * hz * static_cast<double>(n) / kMeterRate);
    return sum * (2.0 / static_cast<double>(count));
}

inline double dbm(double meanSquare) {
    return 10.0 * std::log10(meanSquare);
}

// Mean power (line units squared) of x between lowHz and highHz, from the transform of
// the first power-of-two samples (rectangular window: the signal should fit it).
inline double bandPower(const std::vector<double>& x, double lowHz, double highHz) {
    std::size_t n = 1;
    while (n * 2 <= x.size())
        n *= 2;
    auto power = powerSpectrum(std::span(x.data(), n));
    double sum = 0.0;
    const double binHz = kMeterRate / static_cast<double>(n);
    for (std::size_t k = 1; k < power.size(); ++k) {
        const double hz = k * binHz;
        if (hz >= lowHz && hz <= highHz)
            sum += power[k];
    }
    // Parseval: the mean square of a real signal is 2/N^2 times the positive bins.
    return 2.0 * sum / (static_cast<double>(n) * static_cast<double>(n));
}

inline double meanSquare(const std::vector<double>& x, std::size_t first = 0,
                         std::size_t count = 0) {
    if (count == 0)
        count = x.size() - first;
    double sum = 0.0;
    for (std::size_t n = 0; n < count; ++n)
        sum += x[first + n] * x[first + n];
    return sum / static_cast<double>(count);
}

// Amplitude and phase of a tone near hz, every `step` samples, each from a window of
// `window` samples centred there (one or more whole periods keeps the image out).
struct Demodulated {
    std::vector<double> amplitude;
    std::vector<double> phase; // unwrapped, rad
};
inline Demodulated demodulate(const std::vector<double>& x, double hz, std::size_t window,
                              std::size_t step) {
    Demodulated d;
    double previous = 0.0;
    for (std::size_t start = 0; start + window <= x.size(); start += step) {
        std::complex<double> sum{};
        for (std::size_t n = start; n < start + window; ++n)
            sum +=
                x[n] * std::polar(1.0, -2.0 * kTestPi * hz * static_cast<double>(n) / kMeterRate);
        const double a = 2.0 * std::abs(sum) / static_cast<double>(window);
        double p = std::arg(sum);
        if (!d.phase.empty())
            p = previous + std::remainder(p - previous, 2.0 * kTestPi);
        previous = p;
        d.amplitude.push_back(a);
        d.phase.push_back(p);
    }
    return d;
}

} // namespace vetlina::sim::test
