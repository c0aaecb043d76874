// Analysis of a recognised sine: harmonics, psophometric noise, side components,
// the interpolated frequency and the phase and amplitude jitter.
#include "analyzer/Analyses.h"
#include "analyzer/Tables.h"

#include <cmath>
#include <numbers>

namespace vetlina {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Peak-to-peak phase deviation in degrees of a sinusoidal jitter from the summed bin
// power of its Hann-windowed 256-point phase series (radians), and the same for the
// relative amplitude in per cent. A sinusoid of peak P sums to 256^2 P^2 (3/8)/4 =
// 6144 P^2 over its bins, so sqrt(band) = 78.38 P. Exact factors would be
// (360/pi)/78.38 = 1.4619 for degrees peak-to-peak and 200/78.38 = 2.5516 for per cent;
// the system's 11.48 x 0.12758357 = 1.4647 and 20/7.8 = 2.5641 read 0.19 % and 0.49 %
// high.
constexpr double kPhaseJitterScale = 11.48 * 0.12758357;
constexpr double kAmplitudeJitterScale = 20.0 * 0.12820513;

// Power of the bins from..to of a 256-point real transform (bins 1..127 only).
double bandPower(const std::array<float, 256>& x, int from, int to) {
    double p = 0.0;
    for (int b = from; b <= to; ++b)
        p += static_cast<double>(x[2 * b]) * x[2 * b] +
             static_cast<double>(x[2 * b + 1]) * x[2 * b + 1];
    return p;
}

struct Bands {
    double low, main, full;
};

Bands jitterBands(std::array<float, 256>& series, const Workspace& ws, RealTransform const& t) {
    for (int j = 0; j < 256; ++j)
        series[j] *= ws.hann256[j];
    t.forward(series.data());
    Bands b;
    b.low = bandPower(series, 1, 7);
    b.main = bandPower(series, 6, 97);
    b.full = b.low + b.main - bandPower(series, 6, 7);
    return b;
}

void analyseJitter(Workspace& ws, MeterOutputs& out, double frequency) {
    // Demodulate: x e^(i theta) puts the carrier at 0 Hz. theta advances by
    // 2 pi f / 12800 a sample; e^(i theta) is kept as a unit phasor turned by that step
    // (the same angle, without the folding of theta).
    const double step = kTwoPi * frequency / kSampleRate;
    const double stepRe = std::cos(step), stepIm = std::sin(step);
    double re = 1.0, im = 0.0;
    float* z = ws.complexWork.data();
    for (int i = 0; i < kSetSamples; ++i) {
        const double x = ws.timeSample(i);
        z[2 * i] = static_cast<float>(x * re);
        z[2 * i + 1] = static_cast<float>(x * im);
        const double r = re * stepRe - im * stepIm;
        im = re * stepIm + im * stepRe;
        re = r;
        if ((i & 255) == 255) {
            const double norm = 1.0 / std::hypot(re, im);
            re *= norm;
            im *= norm;
        }
    }
    ws.complex4096.forward(z);

    // Keep +-350 Hz around the carrier (bins 0..111 and 3984..4095) and transform back.
    // Only every 16th point of the inverse is used (256 points, 800 per second); with
    // the kept bins folded modulo 256 (0..111 and 144..255, which do not overlap) the
    // 256-point inverse gives exactly those points.
    float* y = ws.decimated.data();
    for (int k = 0; k < 256; ++k) {
        const int source = k < 112 ? k : k >= 144 ? kSetSamples - 256 + k : -1;
        y[2 * k] = source >= 0 ? z[2 * source] : 0.0f;
        y[2 * k + 1] = source >= 0 ? z[2 * source + 1] : 0.0f;
    }
    ws.complex256.inverse(y);

    // 256 points at 800 per second: amplitude and unwrapped phase.
    double previous = 0.0, unwrapped = 0.0, phaseSum = 0.0, amplitudeSum = 0.0;
    for (int j = 0; j < 256; ++j) {
        const double re = y[2 * j], im = y[2 * j + 1];
        const double a = std::hypot(re, im);
        const double p = std::atan2(im, re);
        if (j == 0) {
            unwrapped = p;
        } else {
            double d = p - previous;
            d -= kTwoPi * std::floor((d + std::numbers::pi) / kTwoPi);
            unwrapped += d;
        }
        previous = p;
        ws.phase[j] = static_cast<float>(unwrapped);
        ws.amplitude[j] = static_cast<float>(a);
        phaseSum += unwrapped;
        amplitudeSum += a;
    }
    const double phaseMean = phaseSum / 256.0;
    const double amplitudeMean = amplitudeSum / 256.0;
    for (int j = 0; j < 256; ++j) {
        ws.phase[j] = static_cast<float>(ws.phase[j] - phaseMean);
        ws.amplitude[j] =
            amplitudeMean > 0.0
                ? static_cast<float>((ws.amplitude[j] - amplitudeMean) / amplitudeMean)
                : 0.0f;
    }

    const Bands ph = jitterBands(ws.phase, ws, ws.real256);
    const Bands am = jitterBands(ws.amplitude, ws, ws.real256);
    auto phase = [](double p) {
        return static_cast<float>(std::min(45.0, std::sqrt(p) * kPhaseJitterScale));
    };
    auto amplitude = [](double p) {
        return static_cast<float>(std::min(70.0, std::sqrt(p) * kAmplitudeJitterScale));
    };
    out.levels[item::JitPhLow] = phase(ph.low);
    out.levels[item::JitPh] = phase(ph.main);
    out.levels[item::JitPhFull] = phase(ph.full);
    out.levels[item::JitAmLow] = amplitude(am.low);
    out.levels[item::JitAm] = amplitude(am.main);
    out.levels[item::JitAmFull] = amplitude(am.full);
}

// Deviation from 1020 Hz or 2000 Hz when the frequency lies within 12 Hz of one of them.
float nominalDeviation(double f) {
    if (std::fabs(f - 1020.0) < 12.0)
        return static_cast<float>(f - 1020.0);
    if (std::fabs(f - 2000.0) < 12.0)
        return static_cast<float>(f - 2000.0);
    return kNotMeasured;
}

} // namespace

void analyseSine(Workspace& ws, const MeterState& state, MeterOutputs& out, int k) {
    const double ref = state.referenceLevel;
    const double signal = ws.binSum(k - 16, k + 15);
    const double level = powerLevel(signal, ref);

    // Harmonics up to the 3400 Hz band edge.
    if (k <= 543) {
        const double p2 = ws.binSum(2 * k - 16, 2 * k + 15);
        const double d2 = level - powerLevel(p2, ref);
        out.levels[item::Dist2] = static_cast<float>(d2);
        out.levels[item::Dis2] = static_cast<float>(std::pow(10.0, -d2 / 20.0) * 100.0);
        if (k <= 362) {
            const double p3 = ws.binSum(3 * k - 16, 3 * k + 15);
            const double d3 = level - powerLevel(p3, ref);
            const double d23 = level - powerLevel(p2 + p3, ref);
            out.levels[item::Dist3] = static_cast<float>(d3);
            out.levels[item::Dis3] = static_cast<float>(std::pow(10.0, -d3 / 20.0) * 100.0);
            out.levels[item::Dist23] = static_cast<float>(d23);
            out.levels[item::Dis23] = static_cast<float>(std::pow(10.0, -d23 / 20.0) * 100.0);
        }
    }

    // Psophometric noise: everything but the sine, weighted.
    const double ps = ws.weightedSum(0, k - 17) + ws.weightedSum(k + 16, kBins - 1);
    out.levels[item::NoisePs] = static_cast<float>(powerLevel(ps, ref));
    out.levels[item::SnrPs] = static_cast<float>(std::max(-20.0, level - powerLevel(ps, ref)));

    // Side components every 50 Hz up to +-400 Hz, as distances below the carrier. Near
    // the lower band edge a component may lie below 0 Hz; only bins of the spectrum count.
    double component[kSideComponents];
    for (int j = 0; j < kSideComponents; ++j) {
        const int offset = j - 8;
        const int centre = k + 16 * offset;
        const int half = std::abs(offset) > 2 ? 4 : 2;
        const double p = ws.binSum(centre - half, centre + half);
        component[j] =
            std::max(-200.0, std::clamp(db10(p * kPowerScale), -300.0, 100.0) + kLevelOffset + ref);
        out.sideOffsets[j] = static_cast<float>(offset * 50.0);
    }
    for (int j = 0; j < kSideComponents; ++j)
        out.sideComponents[j] = static_cast<float>(component[8] - component[j]);

    // Frequency: the peak bin refined by the larger neighbour under the Hann window, or
    // the analyzer's own measurement when it agrees within 0.5 Hz. The ratio table is
    // exact for the periodic window; the 4095-point window and the table's linear steps
    // leave about 1 mHz.
    const double peakPower = ws.power[k];
    const double left = ws.power[k - 1], right = ws.power[k + 1];
    const double ratio = peakPower > 0.0 ? std::max(left, right) / peakPower : 0.0;
    const double delta = hannBinOffset(ratio);
    double f = (right > left ? k + delta : k - delta) * kBinHz;
    const float own = state.meterTable[meter::Frequency];
    if (own != kNotMeasured && std::fabs(f - own) < 0.5)
        f = own;
    out.levels[item::Frequency] = static_cast<float>(f);
    out.levels[item::FrequencyDeviation] = nominalDeviation(f);

    analyseJitter(ws, out, f);
}

} // namespace vetlina
