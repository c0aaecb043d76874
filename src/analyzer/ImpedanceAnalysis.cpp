// Impedance and capacitance of the line from the multi-frequency tones.
//
// The measurement runs in two line modes. First the reference divider (sets 1..K): the
// generator drives the reference resistor R_ref into the meter's input resistance R_in,
// with the line switched away; each tone's attenuation and phase become its reference.
// Then, after the line mode is switched, the bridge: the line's impedance Z lies across
// the meter's input, the meter's voltage falls, and each tone's attenuation rises against
// its reference. Generator voltage over meter voltage, taken against the reference and
// scaled by (R_ref + R_in)/R_in, is
//     G = 10^((attenuation - reference attenuation)/20) e^(j phi) (R_ref + R_in)/R_in
//       = 1 + R_ref/R_in + R_ref/Z
// with phi the phase of the reference minus the current phase (the meter's voltage lags
// on a capacitive line), so that Z = R - jX has X counted positive for a capacitive
// reactance. Solving for Z gives R = N/D and X = Gi R_ref R_in^2 / D with
// D = |(G - 1) R_in - R_ref|^2 and N = R_ref R_in (R_in (Gr - 1) - R_ref).
#include "analyzer/Analyses.h"
#include "analyzer/Tables.h"

#include <cmath>
#include <initializer_list>
#include <numbers>

namespace vetlina {

namespace {

constexpr double kReferenceResistor = 597.0;
constexpr double kInputHighGain = 39888.9; // maximum signal above 0 dBm
constexpr double kInputLowGain = 31111.1;
constexpr double kOpen = 100000.0; // the result for a line that draws no current

double foldPi(double a) {
    a = std::fmod(a, 2.0 * std::numbers::pi);
    if (a > std::numbers::pi)
        a -= 2.0 * std::numbers::pi;
    else if (a < -std::numbers::pi)
        a += 2.0 * std::numbers::pi;
    return a;
}

bool isOneOf(int v, std::initializer_list<int> set) {
    for (int s : set)
        if (v == s)
            return true;
    return false;
}

} // namespace

void analyseImpedance(MeterState& state, MeterOutputs& out, DecoderActions& actions) {
    const bool through = isOneOf(state.lineMode, {11, 27, 265, 283});
    const int K = through ? 5 : 4;
    const int margin = through ? 2 : 1;
    int& c = state.impedanceSetCount;
    ImpedanceTables& z = out.impedance;
    const ToneTables& tones = out.tones;

    if (c <= K) {
        z.referenceAttenuation = tones.attenuation;
        z.referencePhase = tones.phase;
    }
    if (c == K) {
        // Switch the line into the divider; the stored mode stays as it is.
        CommandPlan plan;
        CommandBlock block;
        block.words[0] = command::LineMode;
        block.words[1] = static_cast<uint16_t>((through ? 283 : 275) + state.gainFlag);
        block.count = 2;
        plan.add(block);
        actions.send(plan);
    }
    if (margin + K >= c) {
        ++c;
        state.impedanceValid = false;
    } else {
        state.impedanceValid = true;
    }

    const double rIn = state.gainFlag != 0 ? kInputHighGain : kInputLowGain;
    const double rRef = kReferenceResistor;
    for (int i = 0; i < kTones; ++i) {
        const double g = std::pow(10.0, (tones.attenuation[i] - z.referenceAttenuation[i]) * 0.05) *
                         (rRef + rIn) / rIn;
        const double phi = foldPi(static_cast<double>(z.referencePhase[i]) - tones.phase[i]);
        const double gr = g * std::cos(phi);
        const double gi = g * std::sin(phi);
        const double a = (gr - 1.0) * rIn - rRef;
        const double den = a * a + (rIn * gi) * (rIn * gi);
        const double num = rRef * rIn * a;
        double r, x;
        if (std::fabs(num * 1e-5) >= std::fabs(den)) {
            r = kOpen;
            x = 0.0;
        } else {
            r = num / den;
            x = gi * rRef * rIn * rIn / den;
        }
        const double modulus = std::hypot(r, x);
        const double ratio = r != 0.0 ? std::fabs(x / r) : 0.0;
        float capacitance = kNotMeasured, inductance = kNotMeasured;
        if (ratio > impedanceValidityThreshold(modulus) && modulus > 10.0) {
            const double w = (i + 1) * 2.0 * std::numbers::pi * 0.1;
            if (x > 0.0)
                capacitance = static_cast<float>(1.0 / (w * x * 0.001));
            else
                inductance = static_cast<float>(-x / w);
        }
        z.frequency[i] = tones.frequency[i];
        z.resistance[i] = static_cast<float>(r);
        z.reactance[i] = static_cast<float>(x);
        z.modulus[i] = static_cast<float>(modulus);
        z.capacitance[i] = capacitance;
        z.inductance[i] = inductance;
    }
}

} // namespace vetlina
