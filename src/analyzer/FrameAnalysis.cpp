// Analysis of a complete signal set: window and transform, the four hypotheses of the
// test signal, the selection, the range check, the stability of the recognition and
// the meter restarts it causes.
#include "analyzer/Analyses.h"
#include "analyzer/Tables.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace vetlina {

namespace {

// The hypotheses of what is on the line, in the order of their ties.
enum Hypothesis { SineHyp = 0, MultiHyp = 1, O131Hyp = 2, O42Hyp = 3 };

struct Estimate {
    double level = 0.0; // dBm
    double noise = 0.0; // dBm
    double snr = 0.0;   // dB
};

Estimate estimate(double signal, double noise, double reference, double noiseOffset, bool floor) {
    Estimate e;
    e.level = powerLevel(signal, reference);
    e.noise = powerLevel(noise, reference) + noiseOffset;
    e.snr = e.level - e.noise;
    if (floor)
        e.snr = std::max(e.snr, -20.0);
    return e;
}

} // namespace

Workspace::Workspace() {
    for (int i = 0; i < kSetSamples; ++i)
        hann[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / 4095.0));
    for (int j = 0; j < 256; ++j)
        hann256[j] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * j / 256.0));
    for (int k = 0; k < kBins; ++k)
        psophWeight[k] =
            static_cast<float>(std::pow(10.0, -psophometricAttenuation(k * kBinHz) / 10.0));
}

double Workspace::binSum(int from, int to) const {
    from = std::max(from, 0);
    to = std::min(to, kBins - 1);
    if (to < from)
        return 0.0;
    return cumulative[to + 1] - cumulative[from];
}

double Workspace::weightedSum(int from, int to) const {
    from = std::max(from, 0);
    to = std::min(to, kBins - 1);
    if (to < from)
        return 0.0;
    return cumulativeWeighted[to + 1] - cumulativeWeighted[from];
}

void transformSignalSet(Workspace& ws) {
    for (int i = 0; i < kSetSamples; ++i)
        ws.spectrum[i] = static_cast<float>(ws.timeSample(i)) * ws.hann[i];
    ws.real4096.forward(ws.spectrum.data());
    // Bin 0 is the plain DC term; the Nyquist term packed beside it is not a bin.
    ws.power[0] = ws.spectrum[0] * ws.spectrum[0];
    for (int k = 1; k < kBins; ++k) {
        const float re = ws.spectrum[2 * k], im = ws.spectrum[2 * k + 1];
        ws.power[k] = re * re + im * im;
    }
    ws.cumulative[0] = 0.0;
    ws.cumulativeWeighted[0] = 0.0;
    for (int k = 0; k < kBins; ++k) {
        ws.cumulative[k + 1] = ws.cumulative[k] + ws.power[k];
        ws.cumulativeWeighted[k + 1] =
            ws.cumulativeWeighted[k] + static_cast<double>(ws.power[k]) * ws.psophWeight[k];
    }
}

void prepareVisualSpectrum(const Workspace& ws, const MeterState& state, MeterOutputs& out,
                           int peak) {
    VisualSpectrum& v = out.spectrum;
    const int width =
        static_cast<int>(clampFinite(state.noiseBandwidth / kBinHz + 0.5, 1.0, kBins));
    v.binsPerBand = width;
    v.firstBin = ((peak - width / 2) % width + width) % width;
    v.bands = 0;
    for (int start = v.firstBin; start + width <= kBins; start += width) {
        const double level = powerLevel(ws.binSum(start, start + width - 1), state.referenceLevel);
        v.level[v.bands++] = static_cast<float>(std::clamp(level, -110.0, 20.0));
    }
}

namespace {

// The strongest bin of the band in which a sine is looked for.
int findPeak(const Workspace& ws) {
    int peak = kFirstSineBin;
    for (int k = kFirstSineBin + 1; k <= kLastSineBin; ++k)
        if (ws.power[k] > ws.power[peak])
            peak = k;
    return peak;
}

using Hypotheses = std::array<Estimate, 4>;

// The four hypotheses. The sine's noise leaves out the 32 bins around the sine, so
// white noise reads 10 log10(963/995) = -0.14 dB below its level in 300..3400 Hz.
// The comb's bins stop at 96 and 1088, cutting the outer Hann neighbour (1/6 of the
// power) of the 300 Hz and 3400 Hz tones: a flat comb reads 0.045 dB low. O.131 noise
// is measured in 797..3403 Hz and raised by 0.76 dB = 10 log10(3100/2606) to the
// 300..3400 Hz band, exact for white noise.
Hypotheses estimateHypotheses(const Workspace& ws, int peak, double ref) {
    Hypotheses h;
    h[SineHyp] = estimate(ws.binSum(peak - 16, std::min(peak + 15, 1103)),
                          ws.binSum(95, peak - 17) + ws.binSum(peak + 16, 1089), ref, 0.0, true);
    double comb = 0.0, gaps = 0.0;
    for (int k = kFirstSineBin; k <= kLastSineBin; ++k) {
        const int r = k % 32;
        (r <= 5 || r > 26 ? comb : gaps) += ws.power[k];
    }
    h[MultiHyp] = estimate(comb, gaps, ref, 0.0, true);
    h[O131Hyp] = estimate(ws.binSum(112, 175), ws.binSum(255, 1089), ref, 0.76, true);
    h[O42Hyp] =
        estimate(ws.binSum(270, 280) + ws.binSum(433, 449),
                 ws.binSum(96, 254) + ws.binSum(295, 417) + ws.binSum(465, 1087), ref, 0.0, false);
    return h;
}

// Selection: the largest signal-to-noise first; a hypothesis whose test fails drops
// to -20 dB and is not tested again, so that the search ends whatever the threshold.
// The chosen hypothesis, or -1 for noise.
int selectHypothesis(const Workspace& ws, const MeterState& st, const Hypotheses& h, int peak) {
    const double A = st.recognitionThreshold;
    const double B = st.bottomLevel;
    double s[4], l[4];
    bool tried[4] = {false, false, false, false};
    for (int i = 0; i < 4; ++i) {
        s[i] = h[i].snr;
        l[i] = h[i].level;
    }
    for (;;) {
        int best = -1;
        for (int i = 0; i < 4; ++i)
            if (!tried[i] && (best < 0 || s[i] > s[best]))
                best = i;
        if (best < 0 || !(s[best] > A))
            return -1;
        tried[best] = true;
        bool pass = false;
        switch (best) {
        case SineHyp:
            pass = peak >= kFirstSineBin && peak <= kLastSineBin && s[0] > A && l[0] > B;
            break;
        case MultiHyp: {
            const int n = combOffset(peak);
            const float limit = ws.power[peak] / 64.0f;
            int teeth = 0;
            for (int p = n + 96; p < 1088; p += 32)
                if (ws.power[p] > limit)
                    ++teeth;
            pass = teeth > 4 && std::abs(n) <= 4 && s[1] > A && l[1] > B && s[0] < 0.0;
            break;
        }
        case O131Hyp:
            pass = s[2] > A && l[2] > B && s[0] < s[2] - 10.0;
            break;
        case O42Hyp:
            pass = s[3] > A && l[3] > B && s[0] < 10.0;
            break;
        }
        if (pass)
            return best;
        s[best] = -20.0;
    }
}

// The analysis of what was chosen: the raw code of the set (the sine's peak bin, or
// the code of the signal kind, or noise).
int analyseChosen(Workspace& ws, const MeterState& st, MeterOutputs& out, const Hypotheses& h,
                  int chosen, int peak) {
    if (chosen >= 0) {
        out.levels[item::Level] = static_cast<float>(h[chosen].level);
        out.levels[item::Noise] = static_cast<float>(h[chosen].noise);
        out.levels[item::Snr] = static_cast<float>(h[chosen].snr);
    }
    switch (chosen) {
    case SineHyp:
        analyseSine(ws, st, out, peak);
        return peak;
    case MultiHyp:
        analyseMultiFrequency(ws, st, out, peak);
        return code::MultiFrequency;
    case O131Hyp:
        return code::O131;
    case O42Hyp:
        analyseO42(ws, st, out);
        return code::O42;
    default:
        analyseNoise(ws, st, out);
        return code::Noise;
    }
}

// Range: the signal must stand above the bottom of the range and the noise be
// measurable; otherwise the meter is below its range.
void checkRange(MeterState& st, const MeterOutputs& out, DecoderActions& actions) {
    const double top = st.referenceLevel;
    const double level = out.levels[item::Level];
    const double noise = out.levels[item::Noise];
    const double snr = out.levels[item::Snr];
    bool inRange;
    if (snr != kNotMeasured)
        inRange = level >= std::max(top - 80.0, -95.0) &&
                  ((noise >= std::max(top - 75.0, -90.0) && snr >= 0.0) || st.impedanceMode);
    else
        inRange = noise >= std::max(top - 75.0, -90.0);
    if (inRange) {
        if (st.rangeState == kBelowRange) {
            st.rangeState = kInRange;
            actions.reportRange(code::InRange);
        }
    } else if (st.rangeState != kOverloaded) {
        // An overloaded set stays overloaded, so that the next set without overload
        // reports the return to range; otherwise a quiet line after an overload would
        // leave the measurement believing the meter overloaded.
        st.rangeState = kBelowRange;
    }
}

// The mean of the set's samples, for the visualisation.
float dcMean(const Workspace& ws) {
    long sum = 0;
    for (int16_t v : ws.samples)
        sum += v;
    return static_cast<float>(sum / static_cast<double>(kSetSamples));
}

// Stability: the history keeps what was recognised; a change is reported as -10.
int followStability(MeterState& st, int raw) {
    const int previous = st.codes[0];
    st.codes[2] = st.codes[1];
    st.codes[1] = st.codes[0];
    st.codes[0] = raw;
    if (raw > 0 ? std::abs(raw - previous) > 1 : raw != previous)
        return code::Unstable;
    return raw;
}

// Meter restarts: after another signal kind the meter locks to the new sine, or to
// no signal (followed by command 6); a sine that moved is locked to anew.
void requestRestarts(MeterState& st, int raw, DecoderActions& actions) {
    if (st.codes[2] < 0) {
        if (raw > 0) {
            st.restartRequested = raw;
            actions.send(ZmkMeterRestart(st));
        } else if (raw == 0) {
            st.restartRequested = 0;
            actions.send(ZmkMeterRestart(st));
            actions.send(AfterRestartCommand());
        }
    }
    if (raw > 0 && std::abs(raw - st.restartApplied) > 1) {
        st.restartRequested = raw;
        actions.send(ZmkMeterRestart(st));
    }
}

} // namespace

int16_t MeterComputation::analyseSignalSet(DecoderActions& actions) {
    Workspace& ws = *workspace_;
    MeterOutputs& out = *outputs_;
    MeterState& st = state;

    transformSignalSet(ws);
    out.levels.fill(kNotMeasured);
    const int peak = findPeak(ws);
    out.peakBin = peak;

    const Hypotheses h = estimateHypotheses(ws, peak, st.referenceLevel);
    const int chosen = selectHypothesis(ws, st, h, peak);
    const int raw = analyseChosen(ws, st, out, h, chosen, peak);
    checkRange(st, out, actions);

    prepareVisualSpectrum(ws, st, out, peak);
    out.dcMean = dcMean(ws);

    int result = followStability(st, raw);
    requestRestarts(st, raw, actions);

    if (result == code::MultiFrequency && st.impedanceMode) {
        analyseImpedance(st, out, actions);
        result = code::Impedance;
    }
    return static_cast<int16_t>(result);
}

} // namespace vetlina
