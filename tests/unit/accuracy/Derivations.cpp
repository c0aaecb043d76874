#include "Derivations.h"

#include <array>
#include <cmath>
#include <limits>
#include <numbers>

namespace vetlina::accuracy {

namespace {

// The psophometric weighting as the system defines it.
constexpr std::array<double, 24> kWeightHz = {16,   50,   100,  200,  300,  400,  500,  600,
                                              700,  800,  900,  1000, 1200, 1400, 1600, 1800,
                                              2000, 2500, 3000, 3500, 4000, 4500, 5000, 6000};
constexpr std::array<double, 24> kWeightDb = {85.0, 63.0, 41.0, 21.0, 10.6, 6.3,  3.6,  2.0,
                                              0.9,  0.0,  -0.6, -1.0, 0.0,  0.9,  1.7,  2.4,
                                              3.0,  4.2,  5.6,  8.5,  15.0, 25.0, 36.0, 43.0};

constexpr std::array<double, 4> kO42Hz = {856.0, 863.0, 1374.0, 1385.0};

// Amplitude in line units (1.0 = the rms of 0 dBm) of a sine at a level.
double amplitude(double dbm) {
    return std::sqrt(2.0) * std::pow(10.0, dbm / 20.0);
}

} // namespace

double psophometricAttenuationDb(double hz) {
    if (hz <= kWeightHz.front())
        return kWeightDb.front();
    for (std::size_t i = 1; i < kWeightHz.size(); ++i)
        if (hz <= kWeightHz[i])
            return kWeightDb[i - 1] + (kWeightDb[i] - kWeightDb[i - 1]) * (hz - kWeightHz[i - 1]) /
                                          (kWeightHz[i] - kWeightHz[i - 1]);
    return kWeightDb.back();
}

double psophometricWeight(double hz) {
    return std::pow(10.0, -psophometricAttenuationDb(hz) / 10.0);
}

double psophometricBandFactor() {
    constexpr double step = 0.05;
    double sum = 0.0;
    int n = 0;
    for (double f = 300.0 + step / 2; f < 3400.0; f += step, ++n)
        sum += psophometricWeight(f);
    return sum / n;
}

int peakBin(double hz) {
    return static_cast<int>(std::lround(hz / kBinHz));
}

SineWindows sineWindows(double s, double n, int k) {
    const double perBin = n / kNoiseBins;
    double weighted = 0.0;
    for (int b = kNoiseFirstBin; b <= kNoiseLastBin; ++b)
        if (b < k - 16 || b > k + 15)
            weighted += perBin * psophometricWeight(b * kBinHz);
    return {s + kSineWindowBins * perBin, (kNoiseBins - kSineWindowBins) * perBin, weighted};
}

O42Powers o42Powers(double levelDbm, double secondPercent, double thirdPercent, double atDbm) {
    // The curve x + a2 x^2 + a3 x^3 (scaled): a sine of amplitude A0 gets a 2nd harmonic of
    // a2 A0^2 / 2 and a 3rd of a3 A0^3 / 4 against a fundamental of A0 (1 + 3u), u = a3 A0^2 / 4.
    const double a0 = amplitude(atDbm);
    const double k2 = secondPercent / 100.0, k3 = thirdPercent / 100.0;
    const double u = k3 / (1.0 - 3.0 * k3);
    const double a2 = 2.0 * k2 * (1.0 + 3.0 * u) / a0;
    const double a3 = 4.0 * u / (a0 * a0);
    // Four equal tones, each a quarter of the power. Their fundamentals gain 3/4 a3 A^3 from
    // the tone itself and 3/2 a3 A^3 from each of the three others.
    const double a = amplitude(levelDbm - 10.0 * std::log10(4.0));
    const double fundamental = a * (1.0 + a3 * a * a * (0.75 + 3 * 1.5));
    O42Powers p;
    p.signal = 4 * fundamental * fundamental / 2.0;
    // The sums and differences of a low and a high tone: a2 A^2 each, eight of them.
    int second = 0;
    double thirdAmplitudes = 0.0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            if (i == j)
                continue;
            const double d = kO42Hz[i] - kO42Hz[j];
            if (d >= 497.0 && d <= 541.0)
                ++second;
            if (i < j && kO42Hz[i] + kO42Hz[j] >= 2216.0 && kO42Hz[i] + kO42Hz[j] <= 2259.0)
                ++second;
            // 2 fi - fj: 3/4 a3 A^3.
            const double t = 2 * kO42Hz[i] - kO42Hz[j];
            if (t >= 1872.0 && t <= 1925.0)
                thirdAmplitudes += 0.75 * 0.75;
        }
    // fi + fj - fk, all three different: 3/2 a3 A^3.
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            for (int k = 0; k < 4; ++k) {
                if (k == i || k == j)
                    continue;
                const double t = kO42Hz[i] + kO42Hz[j] - kO42Hz[k];
                if (t >= 1872.0 && t <= 1925.0)
                    thirdAmplitudes += 1.5 * 1.5;
            }
    const double s2 = a2 * a * a;
    const double s3 = a3 * a * a * a;
    p.second = second * s2 * s2 / 2.0;
    p.third = thirdAmplitudes * s3 * s3 / 2.0;
    return p;
}

std::complex<double> lineImpedance(double hz, double ohm, double uf, double mh, bool parallel) {
    const double w = 2.0 * std::numbers::pi * hz;
    if (!parallel) {
        double x = w * mh * 1e-3;
        if (uf > 0.0)
            x -= 1.0 / (w * uf * 1e-6);
        return {ohm, x};
    }
    std::complex<double> y = 0.0;
    if (ohm > 0.0)
        y += 1.0 / ohm;
    if (uf > 0.0)
        y += std::complex<double>(0.0, w * uf * 1e-6);
    if (mh > 0.0)
        y += std::complex<double>(0.0, -1.0 / (w * mh * 1e-3));
    return 1.0 / y;
}

ImpedanceReading dividerReading(std::complex<double> line, double rIn, double toneHz) {
    constexpr double rRef = 597.0;
    const double referenceShare = rIn / (rRef + rIn);
    const std::complex<double> shunt = rIn * line / (rIn + line);
    const std::complex<double> bridgeShare = shunt / (rRef + shunt);
    // Attenuation and phase of the bridge sets against the reference sets.
    const double attenuationRise = 20.0 * std::log10(referenceShare / std::abs(bridgeShare));
    const double phaseFall = -std::arg(bridgeShare);
    const std::complex<double> g =
        std::polar(std::pow(10.0, attenuationRise / 20.0), phaseFall) * (rRef + rIn) / rIn;
    // G - 1 - R_ref/R_in = R_ref / Z', Z' = R - jX with X positive for a capacitance.
    const std::complex<double> z = rRef / (g - 1.0 - rRef / rIn);
    ImpedanceReading r{};
    r.resistance = z.real();
    r.reactance = -z.imag();
    r.deviation = std::abs(z) - 600.0;
    r.capacitanceNf = std::numeric_limits<double>::quiet_NaN();
    const double threshold = 0.2; // the system's threshold for moduli up to 10 kohm
    if (std::abs(z) > 10.0 && std::abs(z) <= 10000.0 && r.reactance > 0.0 &&
        r.reactance / std::abs(r.resistance) > threshold)
        r.capacitanceNf = 1e9 / (2.0 * std::numbers::pi * toneHz * r.reactance);
    return r;
}

} // namespace vetlina::accuracy
