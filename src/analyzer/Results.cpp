// Accumulation of the decoded blocks into the live result records, and their clearing.
#include "analyzer/Results.h"

#include "platform/ValueMarks.h"

#include <cmath>
#include <limits>

namespace vetlina {

namespace {

// Blocks of a sine more than this far from the nominal frequency are not the sine under test.
constexpr double kFrequencyWindow = 12.0;

// Running mean over n earlier values: (n old + value) / (n + 1).
void runningMean(Le<float>& field, double value, int32_t n) {
    field = static_cast<float>((static_cast<double>(n) * field.get() + value) / (n + 1.0));
}

// Running mean of a value that may be missing: a missing value is skipped, and the
// common counter still divides, so that a block without the value counts as one at
// the mean so far. Until the value has been present once there is no mean so far, and
// the cleared zero must not enter it: the first present value is taken as it is.
void meanWithGaps(Le<float>& field, double value, int32_t n, int32_t& present) {
    if (present == 0)
        field = static_cast<float>(value);
    else
        runningMean(field, value, n);
    ++present;
}

bool accumulateSine(LiveResults& res, int code, const MeterComputation& meter,
                    const ResultContext& ctx) {
    const MeterOutputs& out = meter.out();
    SineResult& r = res.sine;
    if (code == code::EventStatistics) {
        // The analyzer's own counts of the whole measurement so far replace the fields.
        const auto& ev = out.events;
        r.pulPrc = ev[event::PulsePrcA] + ev[event::PulsePrcB];
        r.pulCnt = static_cast<int32_t>(ev[event::PulseCntA] + ev[event::PulseCntB]);
        r.pulRel = ev[event::PulseRelA] + ev[event::PulseRelB];
        r.intPrc = ev[event::IntPrc];
        r.intCnt =
            static_cast<int32_t>(ev[event::IntCntA] + ev[event::IntCntB] + ev[event::IntCntC]);
        r.intRel = ev[event::IntRel];
        r.sumPrc = ev[event::SumPrc];
        r.sumCnt = r.pulCnt.get() + r.intCnt.get();
        r.sumRel = ev[event::SumRel];
        r.hitPh = static_cast<int32_t>(ev[event::PhaseHits]);
        r.hitAm = static_cast<int32_t>(ev[event::LevelHits]);
        return false;
    }
    if (code < 1)
        return false;
    const auto& l = out.levels;
    const double nominal = ctx.nominalSineFrequency();
    const double f = l[item::Frequency];
    if (!(std::fabs(f - nominal) < kFrequencyWindow))
        return false;
    const int32_t n = r.counter;
    runningMean(r.level, l[item::Level], n);
    runningMean(r.frequency, f, n);
    runningMean(r.snr, l[item::Snr], n);
    runningMean(r.snrPs, l[item::SnrPs], n);
    runningMean(r.jitPh, l[item::JitPh], n);
    runningMean(r.jitAm, l[item::JitAm], n);
    runningMean(r.shift, f - nominal, n);
    for (int j = 0; j < kSideComponents; ++j)
        runningMean(r.mod[j], out.sideComponents[j], n);
    runningMean(r.att, ctx.farSineLevel() - l[item::Level], n);
    Le<float>* harmonics[3] = {&r.dis2, &r.dis3, &r.dis23};
    const int items[3] = {item::Dis2, item::Dis3, item::Dis23};
    for (int i = 0; i < 3; ++i)
        if (l[items[i]] > kMeasuredFloor)
            meanWithGaps(*harmonics[i], l[items[i]], n, res.counts.sineHarmonics[i]);
    r.counter = r.counter.get() + 1;
    return true;
}

bool accumulateO132(LiveResults& res, int code, const MeterComputation& meter,
                    const ResultContext& ctx) {
    if (code < 1)
        return false;
    const auto& l = meter.out().levels;
    const double nominal = ctx.nominalO132Frequency();
    const double f = l[item::Frequency];
    if (!(std::fabs(f - nominal) < kFrequencyWindow))
        return false;
    O132Result& r = res.o132;
    const int32_t n = r.counter;
    runningMean(r.level, l[item::Level], n);
    runningMean(r.frequency, f, n);
    runningMean(r.snr, l[item::Snr], n);
    runningMean(r.snrPs, l[item::SnrPs], n);
    runningMean(r.jitPh, l[item::JitPh], n);
    runningMean(r.jitAm, l[item::JitAm], n);
    runningMean(r.shift, f - nominal, n);
    r.counter = r.counter.get() + 1;
    return true;
}

bool accumulateMtts(LiveResults& res, const MeterComputation& meter) {
    const MeterOutputs& out = meter.out();
    MttsResult& r = res.mtts;
    const int32_t n = r.counter;
    runningMean(r.level, out.levels[item::Level], n);
    for (int i = 0; i < kTones; ++i) {
        if (out.tones.attenuation[i] > kMeasuredFloor) {
            int32_t present = res.counts.mttsAtt[i];
            meanWithGaps(r.freq[i], out.tones.frequency[i], n, present);
            meanWithGaps(r.att[i], out.tones.attenuation[i], n, res.counts.mttsAtt[i]);
        }
        if (out.tones.groupDelay[i] > kMeasuredFloor)
            meanWithGaps(r.del[i], out.tones.groupDelay[i], n, res.counts.mttsDel[i]);
    }
    r.counter = r.counter.get() + 1;
    return true;
}

bool accumulateO42(LiveResults& res, const MeterComputation& meter) {
    const auto& l = meter.out().levels;
    O42Result& r = res.o42;
    const int32_t n = r.counter;
    runningMean(r.level, l[item::Level], n);
    Le<float>* products[3] = {&r.dis2, &r.dis3, &r.dis23};
    const int items[3] = {item::Dis2, item::Dis3, item::Dis23};
    for (int i = 0; i < 3; ++i)
        if (l[items[i]] > kNotMeasuredBound)
            meanWithGaps(*products[i], l[items[i]], n, res.counts.o42Products[i]);
    r.counter = r.counter.get() + 1;
    return true;
}

bool accumulateImpedance(LiveResults& res, const MeterComputation& meter) {
    if (!meter.state.impedanceValid)
        return false;
    const ImpedanceTables& z = meter.out().impedance;
    ImpedanceResult& r = res.impedance;
    const int32_t n = r.counter;
    for (int i = 0; i < kTones; ++i) {
        if (z.modulus[i] > 0.0f && z.modulus[i] <= 11000.0f) {
            int32_t present = res.counts.impedance[i];
            meanWithGaps(r.freq[i], z.frequency[i], n, present);
            meanWithGaps(r.imped[i], z.modulus[i] - 600.0, n, res.counts.impedance[i]);
        }
        if (z.capacitance[i] > 0.0f && z.capacitance[i] <= 5.0f)
            meanWithGaps(r.capac[i], z.capacitance[i], n, res.counts.capacitance[i]);
    }
    r.counter = r.counter.get() + 1;
    return true;
}

bool accumulateNoise(LiveResults& res, const MeterComputation& meter) {
    const MeterOutputs& out = meter.out();
    NoiseResult& r = res.noise;
    const int32_t n = r.counter;
    runningMean(r.noise, out.levels[item::Noise], n);
    runningMean(r.noisePs, out.levels[item::NoisePs], n);
    for (int j = 0; j < kNoiseBands; ++j)
        runningMean(r.spectrum[j], out.noiseBands[j], n);
    r.counter = r.counter.get() + 1;
    return true;
}

bool accumulateEcho(EchoResult& r, const MeterComputation& meter) {
    const float echo = meter.out().echo;
    if (!(echo > kNotMeasuredBound))
        return false;
    runningMean(r.echo, echo, r.counter);
    r.counter = r.counter.get() + 1;
    return true;
}

} // namespace

bool resultKindOfCommand(AnalyzerCommand command, ResultKind& kind) {
    switch (command) {
    case AnalyzerCommand::MeterSine:
        kind = ResultKind::Sine;
        return true;
    case AnalyzerCommand::MeterO132:
        kind = ResultKind::O132;
        return true;
    case AnalyzerCommand::MeterO131:
        kind = ResultKind::O131;
        return true;
    case AnalyzerCommand::MeterMtts:
        kind = ResultKind::Mtts;
        return true;
    case AnalyzerCommand::MeterO42:
        kind = ResultKind::O42;
        return true;
    case AnalyzerCommand::MeterImpedance:
        kind = ResultKind::Impedance;
        return true;
    case AnalyzerCommand::MeterNoise:
        kind = ResultKind::Noise;
        return true;
    case AnalyzerCommand::MeterTalkerEcho:
        kind = ResultKind::TalkerEcho;
        return true;
    case AnalyzerCommand::MeterListenerEcho:
        kind = ResultKind::ListenerEcho;
        return true;
    default:
        return false;
    }
}

double ResultContext::nominalSineFrequency() const {
    return autonomous ? 1800.0 : sinFreq;
}
double ResultContext::nominalO132Frequency() const {
    return autonomous ? 1020.0 : o132Freq;
}
double ResultContext::farSineLevel() const {
    if (autonomous)
        return -5.0;
    return firstPass ? sinLevR : sinLev;
}
double ResultContext::farMttsLevel() const {
    if (autonomous)
        return -10.0;
    return firstPass ? mttsLevR : mttsLev;
}

bool Accumulate(LiveResults& results, AnalyzerCommand command, int code,
                const MeterComputation& meter, const ResultContext& context) {
    ResultKind kind;
    if (!resultKindOfCommand(command, kind) || !meter.hasWorkingMemory())
        return false;
    switch (kind) {
    case ResultKind::Sine:
        return accumulateSine(results, code, meter, context);
    case ResultKind::O132:
        return accumulateO132(results, code, meter, context);
    case ResultKind::O131:
        if (code != code::O131)
            return false;
        runningMean(results.o131.level, meter.out().levels[item::Level],
                    results.o131.counter.get());
        runningMean(results.o131.snr, meter.out().levels[item::Snr], results.o131.counter.get());
        results.o131.counter = results.o131.counter.get() + 1;
        return true;
    case ResultKind::Mtts:
        return code == code::MultiFrequency && accumulateMtts(results, meter);
    case ResultKind::O42:
        return code == code::O42 && accumulateO42(results, meter);
    case ResultKind::Impedance:
        return code == code::Impedance && accumulateImpedance(results, meter);
    case ResultKind::Noise:
        return code == code::Noise && accumulateNoise(results, meter);
    case ResultKind::TalkerEcho:
        return code == code::Echo && accumulateEcho(results.talkerEcho, meter);
    case ResultKind::ListenerEcho:
        return code == code::Echo && accumulateEcho(results.listenerEcho, meter);
    }
    return false;
}

void ClearResult(LiveResults& results, ResultKind kind) {
    ValueCounts& c = results.counts;
    switch (kind) {
    case ResultKind::Sine:
        results.sine = SineResult{};
        c.sineHarmonics = {};
        break;
    case ResultKind::O132:
        results.o132 = O132Result{};
        break;
    case ResultKind::O131:
        results.o131 = O131Result{};
        break;
    case ResultKind::Mtts:
        results.mtts = MttsResult{};
        c.mttsAtt = {};
        c.mttsDel = {};
        break;
    case ResultKind::O42:
        results.o42 = O42Result{};
        c.o42Products = {};
        break;
    case ResultKind::Impedance:
        results.impedance = ImpedanceResult{};
        c.impedance = {};
        c.capacitance = {};
        break;
    case ResultKind::Noise:
        results.noise = NoiseResult{};
        break;
    case ResultKind::TalkerEcho:
        results.talkerEcho = EchoResult{};
        break;
    case ResultKind::ListenerEcho:
        results.listenerEcho = EchoResult{};
        break;
    }
}

} // namespace vetlina
