// Analyses of the multi-frequency signal (attenuation and group delay of 38 tones),
// of the O.42 four-tone signal and of noise.
#include "analyzer/Analyses.h"
#include "analyzer/Tables.h"

#include <cmath>
#include <numbers>

namespace vetlina {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Share of one tone in the nominal multi-frequency level: 10 log10(1/32).
constexpr double kToneShare = -15.05;

// Differentiator factors: 1/(2 pi 100 Hz), 1/(2 pi 200 Hz), 1/(12 2 pi 100 Hz).
constexpr double kOneStep = 0.0015915494;
constexpr double kTwoSteps = 0.00079577472;
constexpr double kFivePoint = 1.3262912e-4;

double foldTwoPi(double a) {
    a = std::fmod(a, kTwoPi);
    if (a < 0.0)
        a += kTwoPi;
    return a;
}

void fillDistances(MeterOutputs& out, double level, double p2, double p3, double reference) {
    const double d2 = level - powerLevel(p2, reference);
    const double d3 = level - powerLevel(p3, reference);
    const double d23 = level - powerLevel(p2 + p3, reference);
    out.levels[item::Dist2] = static_cast<float>(d2);
    out.levels[item::Dist3] = static_cast<float>(d3);
    out.levels[item::Dist23] = static_cast<float>(d23);
    out.levels[item::Dis2] = static_cast<float>(std::pow(10.0, -d2 / 20.0) * 100.0);
    out.levels[item::Dis3] = static_cast<float>(std::pow(10.0, -d3 / 20.0) * 100.0);
    out.levels[item::Dis23] = static_cast<float>(std::pow(10.0, -d23 / 20.0) * 100.0);
}

} // namespace

void analyseMultiFrequency(const Workspace& ws, const MeterState& state, MeterOutputs& out,
                           int peak) {
    const double ref = state.referenceLevel;
    ToneTables& t = out.tones;
    const int n = combOffset(peak);
    t.offset = n;
    double phase[kTones];
    for (int i = 1; i <= kTones; ++i) {
        const int c = 32 * i + n;
        const double tone = ws.binSum(c - 3, c + 3);
        const double noise = ws.binSum(c - 16, c - 4) + ws.binSum(c + 4, c + 16);
        const double snr = noise > 0.0 ? std::clamp(db10(tone / noise), -20.0, 120.0) : 120.0;
        const double angle = std::atan2(ws.spectrum[2 * c + 1], ws.spectrum[2 * c]);
        phase[i - 1] = foldTwoPi(angle - kTonePhaseSevenths[i - 1] * kTwoPi / 7.0);
        const double level = powerLevel(tone, ref);
        t.frequency[i - 1] = static_cast<float>(i * 100.0 + n * kBinHz);
        t.level[i - 1] = static_cast<float>(level);
        t.phase[i - 1] = static_cast<float>(phase[i - 1]);
        t.attenuation[i - 1] = static_cast<float>(std::clamp(kToneShare - level, -99.0, 99.0));
        t.snr[i - 1] = static_cast<float>(std::clamp(snr, -99.0, 99.0));
    }

    // Group delay: phase differences of neighbouring tones, unwrapped along the comb and
    // taken relative to the difference from tone 9 to tone 10 (which removes the delay
    // common to all tones), summed into a phase curve and differentiated. The
    // five-point differentiator is exact for phase curves up to the fourth power; the
    // end tones use one-sided differences and so give the delay halfway to their
    // neighbour (150 Hz and 3750 Hz), the second and second-last a two-step difference.
    double d[kTones - 1];
    for (int m = 0; m < kTones - 1; ++m) {
        d[m] = phase[m + 1] - phase[m];
        if (m > 0) {
            while (d[m] - d[m - 1] > std::numbers::pi)
                d[m] -= kTwoPi;
            while (d[m] - d[m - 1] < -std::numbers::pi)
                d[m] += kTwoPi;
        }
    }
    const double reference = d[8];
    double phi[kTones];
    phi[0] = 0.0;
    for (int m = 1; m < kTones; ++m)
        phi[m] = phi[m - 1] + (d[m - 1] - reference);
    double gd[kTones];
    gd[0] = (phi[0] - phi[1]) * kOneStep * 1000.0;
    gd[1] = (phi[0] - phi[2]) * kTwoSteps * 1000.0;
    for (int m = 2; m <= 35; ++m)
        gd[m] =
            (-phi[m - 2] + 8.0 * phi[m - 1] - 8.0 * phi[m + 1] + phi[m + 2]) * kFivePoint * 1000.0;
    gd[36] = (phi[35] - phi[37]) * kTwoSteps * 1000.0;
    gd[37] = (phi[36] - phi[37]) * kOneStep * 1000.0;
    double smallest = 99.0;
    for (int m = 2; m <= 32; ++m)
        smallest = std::min(smallest, gd[m]);
    for (int m = 0; m < kTones; ++m)
        t.groupDelay[m] = static_cast<float>(std::clamp(gd[m] - smallest, -99.0, 99.0));
}

void analyseO42(const Workspace& ws, const MeterState& state, MeterOutputs& out) {
    const double p2 = ws.binSum(159, 173) + ws.binSum(709, 723);
    const double p3 = ws.binSum(599, 616);
    fillDistances(out, out.levels[item::Level], p2, p3, state.referenceLevel);
}

void analyseNoise(const Workspace& ws, const MeterState& state, MeterOutputs& out) {
    const double ref = state.referenceLevel;
    out.levels[item::Noise] = static_cast<float>(powerLevel(ws.binSum(95, 1089), ref));
    out.levels[item::NoisePs] = static_cast<float>(powerLevel(ws.weightedSum(0, kBins - 1), ref));
    for (int j = 0; j < kNoiseBands; ++j) {
        const int from = 8 * j + 4, to = 8 * j + 11;
        out.noiseBands[j] = static_cast<float>(powerLevel(ws.binSum(from, to), ref));
        out.noiseBandsWeighted[j] = static_cast<float>(powerLevel(ws.weightedSum(from, to), ref));
    }
}

} // namespace vetlina
