// Working memory of the computation and the analyses of a complete frame set. Internal
// to the computation: MeterComputation calls these with its state and outputs.
#pragma once

#include "analyzer/MeterComputation.h"
#include "analyzer/Transforms.h"

#include <array>
#include <cstdint>

namespace vetlina {

// Obtained once when the computation is made; no analysis allocates.
struct Workspace {
    Workspace();

    std::array<int16_t, kSetSamples> samples{};         // the assembled frame set
    std::array<float, kSetSamples> spectrum{};          // windowed samples, then their transform
    std::array<float, kBins> power{};                   // bin powers
    std::array<double, kBins + 1> cumulative{};         // cumulative[k] = power of bins 0..k-1
    std::array<double, kBins + 1> cumulativeWeighted{}; // the same psophometrically weighted
    std::array<float, 2 * kSetSamples> complexWork{};   // sine demodulation
    std::array<float, 512> decimated{};                 // 256 complex points of the demodulation
    std::array<float, 256> phase{};                     // demodulated phase series
    std::array<float, 256> amplitude{};                 // demodulated amplitude series
    std::array<float, kSetSamples> hann{};              // 0.5 - 0.5 cos(2 pi i / 4095)
    std::array<float, 256> hann256{};                   // 0.5 - 0.5 cos(2 pi j / 256)
    std::array<float, kBins> psophWeight{};             // 10^(-attenuation/10) per bin
    RealTransform real4096{kSetSamples};
    ComplexTransform complex4096{kSetSamples};
    ComplexTransform complex256{256};
    RealTransform real256{256};

    // Sample i of the set in time order: even i from the first half of the set, odd i
    // from the second half.
    int16_t timeSample(int i) const { return samples[(i & 1) ? kSetSamples / 2 + i / 2 : i / 2]; }
    // Power of bins from..to inclusive; bins outside 0..2047 are left out.
    double binSum(int from, int to) const;
    // Psophometrically weighted power of bins from..to inclusive.
    double weightedSum(int from, int to) const;
};

// Window, transform and bin powers of the set in the workspace.
void transformSignalSet(Workspace& ws);

// Comb offset of the multi-frequency signal: the peak bin modulo 32 in -16..15.
inline int combOffset(int peak) {
    const int r = peak % 32;
    return r >= 16 ? r - 32 : r;
}

// The analyses, each filling its items of the outputs (levels item 0, 2 and 9 are
// those of the chosen hypothesis and already set).
void analyseSine(Workspace& ws, const MeterState& state, MeterOutputs& out, int peak);
void analyseMultiFrequency(const Workspace& ws, const MeterState& state, MeterOutputs& out,
                           int peak);
void analyseO42(const Workspace& ws, const MeterState& state, MeterOutputs& out);
void analyseNoise(const Workspace& ws, const MeterState& state, MeterOutputs& out);
// Impedance of the tones of the last multi-frequency analysis, with the set counting.
void analyseImpedance(MeterState& state, MeterOutputs& out, DecoderActions& actions);
// Spectrum bands for the visualisation.
void prepareVisualSpectrum(const Workspace& ws, const MeterState& state, MeterOutputs& out,
                           int peak);

} // namespace vetlina
