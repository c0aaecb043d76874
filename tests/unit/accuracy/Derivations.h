// What the injected channel should read as, derived here from the channel model and from
// the system's definitions, independently of the program's code: the psophometric
// weighting, the shares of band noise that fall into the windows of the sine analysis,
// the products of the receiving end's harmonic curve for the O.42 signal, the impedance
// of the line, the factors of the jitter scales.
#pragma once

#include <complex>

namespace vetlina::accuracy {

// The spectrum of the frame analysis: 3.125 Hz bins; white noise of the channel model
// fills the 993 bins 96..1088 (300..3400 Hz) evenly.
inline constexpr double kBinHz = 3.125;
inline constexpr int kNoiseFirstBin = 96;
inline constexpr int kNoiseLastBin = 1088;
inline constexpr int kNoiseBins = kNoiseLastBin - kNoiseFirstBin + 1;
// The sine's window: 32 bins around the peak bin (peak - 16 .. peak + 15).
inline constexpr int kSineWindowBins = 32;

// Psophometric weighting: attenuation in dB at a frequency (the system's table, linear
// between its points, constant beyond them).
double psophometricAttenuationDb(double hz);
double psophometricWeight(double hz);

// The psophometric factor of white noise in 300..3400 Hz: the mean of the weight over the
// band, integrated in the continuum (its noise bandwidth against 3100 Hz).
double psophometricBandFactor();

// The sine analysis of a sine of power s and white band noise of power n (both in the
// same unit) with the sine at peak bin k: what its windows hold.
struct SineWindows {
    double signal;        // the sine's window: the sine and its share of the noise
    double noise;         // the noise bins of the sine hypothesis
    double weightedNoise; // the psophometrically weighted bins outside the sine's window
};
SineWindows sineWindows(double s, double n, int peakBin);

// Peak bin of a sine under the Hann window: the bin nearest its frequency.
int peakBin(double hz);

// The receiving end's harmonic curve of the channel model (a memoryless cubic that gives
// a sine at the stated level the stated harmonics and keeps its fundamental) applied to
// the four equal O.42 tones: the powers of the fundamentals, of the second-order products
// that fall into 497..541 Hz and 2216..2259 Hz, and of the third-order products in
// 1872..1925 Hz, all relative to the same unit.
struct O42Powers {
    double signal, second, third;
};
O42Powers o42Powers(double levelDbm, double secondPercent, double thirdPercent, double atDbm);

// The line as the impedance divider sees it: R in series with C and L, or (parallel)
// R, C and L side by side; an element of 0 is not there.
std::complex<double> lineImpedance(double hz, double ohm, double uf, double mh,
                                   bool parallel = false);

// What the impedance measurement reads at a tone, derived from the divider's circuit: the
// generator drives R_ref = 597 ohm into the meter's input R_in; the reference sets see
// R_in / (R_ref + R_in) of it, the bridge sets Zp / (R_ref + Zp) with Zp = R_in || Z.
// The tone attenuations rise by 20 log10 of the ratio of the two and the phases fall by
// its angle; the system's divider model G = 1 + R_ref/R_in + R_ref/Z, with G that ratio
// times (R_ref + R_in)/R_in, gives Z back, its reactance counted positive for a
// capacitance. The capacitance (nF) is 1/(w X) at the tone's nominal frequency when
// |X/R| passes the validity threshold (0.2 below 10 kohm), else NaN.
struct ImpedanceReading {
    double resistance, reactance; // ohm, reactance positive capacitive
    double deviation;             // |Z| - 600 ohm
    double capacitanceNf;
};
ImpedanceReading dividerReading(std::complex<double> line, double rIn, double toneHz);

// Peak-to-peak scales of the jitter bands: the exact factor from the square root of a
// Hann-windowed 256-point band power to the peak-to-peak of a sinusoid, and the system's.
// A sinusoid of peak P sums to 256^2 P^2 (3/8) / 4 = 6144 P^2 over the bins of one side.
inline constexpr double kExactPhaseScale = 1.4619315; // (360/pi) / sqrt(6144), degrees
inline constexpr double kSystemPhaseScale = 11.48 * 0.12758357;
inline constexpr double kExactAmplitudeScale = 2.5515518; // 200 / sqrt(6144), per cent
inline constexpr double kSystemAmplitudeScale = 20.0 * 0.12820513;

} // namespace vetlina::accuracy
