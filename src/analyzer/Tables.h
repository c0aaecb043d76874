// Constants, tables and level conversions shared by the analyses.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <span>

namespace vetlina {

// 2^-52: scales the power of the plain 4096-point transform so that, with the 3.7 dB
// offset, a sine at the analyzer's full scale reads close to the reference level.
//
// Level scale: a sine of amplitude A under the Hann window puts N^2 A^2 (3/8)/4 into
// the bins of one side (N = 4096; 3/8 is the window's power gain), so a full-scale
// sine (A = 2^15) sums to 0.375 x 2^52 and reads 10 log10(0.375) + 3.7 = -0.56 dB
// against the reference level; an exact 0 dB would need 4.26 dB instead of 3.7. Noise
// is summed over bins in the same way and carries the same -0.56 dB, so signal-to-noise
// ratios are free of it, and no noise-bandwidth correction of the window applies to
// sums over bins. A transform of twice the size would read every level 6 dB high.
inline constexpr double kPowerScale = 2.2204458655e-16;
inline constexpr double kLevelOffset = 3.7;

// 10 log10(x), where x at or below 1e-20 (or not a number) counts as -200 dB.
inline double db10(double x) {
    if (!(x > 1e-20))
        return -200.0;
    return 10.0 * std::log10(x);
}

// Level in dBm of a sum of bin powers: clamp(10 log10(P 2^-52), -200, 100) + 3.7 + top.
inline double powerLevel(double power, double reference) {
    return std::clamp(db10(power * kPowerScale), -200.0, 100.0) + kLevelOffset + reference;
}

// x limited to [lo, hi]; a value that is not a number becomes lo.
inline double clampFinite(double x, double lo, double hi) {
    if (std::isnan(x))
        return lo;
    return std::clamp(x, lo, hi);
}

// Piecewise-linear lookup: below the first point its value, above the last point the
// last value, otherwise linear between the enclosing points (xs ascending).
double lookupTable(std::span<const double> xs, std::span<const double> ys, double x);

// Psophometric weighting: attenuation in dB at a frequency in Hz.
double psophometricAttenuation(double hz);

// Phase-jump correction factor at a phase jump in degrees.
double phaseJumpCorrection(double degrees);

// Fractional bin offset of a sine under the Hann window from the ratio of the larger
// neighbour's power to the peak power (0.25 .. 1.0 -> 0 .. 0.5).
double hannBinOffset(double ratio);

// Impedance validity threshold: the least |X/R| at an impedance modulus in ohm.
double impedanceValidityThreshold(double ohm);

// Nominal phases of the 38 multi-frequency tones in units of 2 pi / 7.
inline constexpr std::array<int, 38> kTonePhaseSevenths = {4, 0, 0, 0, 0, 0, 6, 0, 1, 2, 3, 1, 3,
                                                           5, 0, 2, 6, 2, 5, 1, 4, 0, 4, 1, 5, 2,
                                                           4, 2, 0, 5, 3, 4, 3, 2, 1, 0, 2, 6};

} // namespace vetlina
