#include "reports/CycleStatistics.h"

#include "platform/ValueMarks.h"
#include "reports/DataFileFormat.h"
#include "reports/LiveResults.h"

#include <cmath>
#include <cstring>

namespace vetlina {
namespace {

// The last group delay of a cycle without one.
constexpr float kNoGroupDelay = -10001.0f;
// Harmonics above the channel's band are not measured.
constexpr double kBandTopHz = 3400.0;

bool timed(const Le<double>& time) {
    return time.get() >= 1.0;
}

float f32(double value) {
    return static_cast<float>(value);
}

// The value of a delivered 38-point curve at a frequency point: linear interpolation
// between the first pair of components that encloses it (a segment narrower than 1e-10
// Hz takes its lower component's value); a point outside the measured components takes
// the value of the component measured nearest to it.
double curveAt(const std::array<Le<float>, 38>& frequency, const std::array<Le<float>, 38>& value,
               double x) {
    for (int i = 0; i < 37; ++i) {
        const double f0 = frequency[i], f1 = frequency[i + 1];
        if (f0 <= x && x < f1) {
            if (f1 - f0 < 1e-10)
                return value[i];
            return value[i] + (value[i + 1] - value[i]) * (x - f0) / (f1 - f0);
        }
    }
    const int nearest = nearestComponent(frequency, x);
    return nearest < 0 ? 0.0 : static_cast<double>(value[nearest]);
}

void fillSine(GroupValues<SineStats::kItems>& g, const SineResult& r, double sineHz) {
    using S = SineStats;
    g.count = r.counter;
    auto& v = g.value;
    v[S::level] = r.level;
    v[S::frequency] = r.frequency;
    v[S::sinSNR] = r.snr;
    v[S::sinSNRps] = r.snrPs;
    v[S::sinJitPh] = r.jitPh;
    v[S::sinJitAm] = r.jitAm;
    v[S::sinShift] = r.shift;
    v[S::sinPulPrc] = r.pulPrc;
    v[S::sinPulCnt] = f32(r.pulCnt.get());
    v[S::sinPulRel] = r.pulRel;
    v[S::sinIntPrc] = r.intPrc;
    v[S::sinIntCnt] = f32(r.intCnt.get());
    v[S::sinIntRel] = r.intRel;
    v[S::sinSumPrc] = r.sumPrc;
    v[S::sinSumCnt] = f32(r.sumCnt.get());
    v[S::sinSumRel] = r.sumRel;
    v[S::sinHitPh] = f32(r.hitPh.get());
    v[S::sinHitAm] = f32(r.hitAm.get());
    v[S::sinMod] = parasiticModulation(r);
    v[S::sinAtt] = r.att;
    const bool secondAbove = 2.0 * sineHz > kBandTopHz;
    const bool thirdAbove = 3.0 * sineHz > kBandTopHz;
    v[S::sinDis2] = secondAbove ? kNotMeasured : r.dis2.get();
    v[S::sinDis3] = thirdAbove ? kNotMeasured : r.dis3.get();
    v[S::sinDis23] = secondAbove ? kNotMeasured : r.dis23.get();
}

void fillMultiFrequency(MultiFrequencyValues& g, const MttsResult& r, const ScenarioEntry& e,
                        double sendingLevel) {
    g.count = r.counter;
    g.level = r.level;
    const double attNotch = e.AttNotch.get();
    const double attOffset =
        attNotch >= 100.0 ? -interpolateAtReference(r.freq, r.att, attNotch, false) : sendingLevel;
    const double delNotch = e.DelNotch.get();
    const double delOffset =
        delNotch >= 100.0 ? -interpolateAtReference(r.freq, r.del, delNotch, false) : 0.0;
    for (int i = 0; i < kMttPoints; ++i) {
        const float attHz = e.AttF[i];
        g.attCounted[i] = attHz > kCountedPointHz;
        if (g.attCounted[i]) {
            double att = curveAt(r.freq, r.att, attHz);
            if (att < 0.0)
                att = 0.0;
            g.att[i] = f32(att + attOffset);
        }
        const float delHz = e.DelF[i];
        g.delCounted[i] = delHz > kCountedPointHz;
        if (g.delCounted[i])
            g.del[i] = f32(curveAt(r.freq, r.del, delHz) + delOffset);
    }
}

// One quantity of a group: the last value, and the sums when the value is present in a
// counted session.
void accumulate(const StatRef& ref, float x, int32_t sessions, int32_t validCount) {
    ref.last = x;
    if (x >= kMeasuredFloor && sessions != 0 && validCount > 0) {
        ref.sum = ref.sum.get() + x;
        ref.sumSq = ref.sumSq.get() + static_cast<double>(x) * x;
    } else {
        ref.last = kNotMeasured;
    }
}

// The session count of a block grows once per session in which its group counted.
int32_t countSession(Le<int32_t>& sessions, int32_t validCount) {
    if (validCount > 0)
        sessions = sessions.get() + 1;
    return sessions.get();
}

template <class Block, int Rows>
void accumulateGroup(Block& block, const GroupValues<Rows>& g) {
    static_assert(Rows == Block::kItems);
    if (!g.on)
        return;
    const int32_t n = countSession(block.count, g.count);
    for (int row = 0; row < Rows; ++row)
        accumulate(block.item(row), g.value[row], n, g.count);
}

void accumulateEcho(EchoStats& block, const DirectionValues& v) {
    if (v.talkerEcho.on) {
        const int32_t n = countSession(block.echoTalkCount, v.talkerEcho.count);
        accumulate(block.item(EchoStats::echoTalk), v.talkerEcho.value[0], n, v.talkerEcho.count);
    }
    if (v.listenerEcho.on) {
        const int32_t n = countSession(block.echoListCount, v.listenerEcho.count);
        accumulate(block.item(EchoStats::echoList), v.listenerEcho.value[0], n,
                   v.listenerEcho.count);
    }
}

void accumulateMultiFrequency(MultiFrequencyStats& block, const MultiFrequencyValues& g) {
    if (!g.on)
        return;
    const int32_t n = countSession(block.count, g.count);
    accumulate(block.level(), g.level, n, g.count);
    for (int i = 0; i < kMttPoints; ++i) {
        if (g.attCounted[i])
            accumulate(block.mttAtt(i), g.att[i], n, g.count);
        if (g.delCounted[i])
            accumulate(block.mttDel(i), g.del[i], n, g.count);
    }
}

void accumulateThroughput(ThroughputStats& block, const DirectionValues& v) {
    if (!v.throughputOn)
        return;
    const float x = v.throughput;
    block.disPassLast = x;
    if (x > kMeasuredFloor) {
        block.count = block.count.get() + 1;
        block.disPassSums.sum = block.disPassSums.sum.get() + x;
        block.disPassSums.sumSq = block.disPassSums.sumSq.get() + static_cast<double>(x) * x;
    }
}

template <class Block>
void resetLasts(Block& block) {
    for (int row = 0; row < Block::kItems; ++row)
        block.item(row).last = kNotMeasured;
}

void resetLasts(MultiFrequencyStats& block) {
    block.levelLast = kNotMeasured;
    for (int i = 0; i < kMttPoints; ++i) {
        block.mttAttLast[i] = kNotMeasured;
        block.mttDelLast[i] = kNoGroupDelay;
    }
}

} // namespace

GroupGates groupGates(const ScenarioEntry& e) {
    const bool generator = e.ComplexType == kGeneratorComplexType;
    const bool complex = e.ComplexType == kFullComplexType;
    const bool analog = e.Analog != 0;
    GroupGates g;
    g.sine = analog && (generator || timed(e.SinTime));
    g.o132 = analog && (generator || timed(e.O132Time));
    g.o131 = analog && complex && timed(e.O131Time) && e.o131SNROn != 0;
    g.noise = analog && complex && timed(e.BlkTime);
    g.echo = analog && (generator || timed(e.EchoTime));
    g.impedance = analog && complex && timed(e.ImpTime);
    g.multiFrequency = analog && (generator || timed(e.MTTSTime));
    g.o42 = analog && complex && timed(e.O42Time);
    g.throughput = complex && timed(e.DiscrTime) && e.disPassOn != 0;
    return g;
}

int32_t MultiFrequencyValues::attPoints() const {
    int32_t n = 0;
    for (bool counted : attCounted)
        n += counted ? 1 : 0;
    return n;
}

int32_t MultiFrequencyValues::delPoints() const {
    int32_t n = 0;
    for (bool counted : delCounted)
        n += counted ? 1 : 0;
    return n;
}

DirectionValues directionValues(const ScenarioEntry& e, const LiveResults& r, float throughput,
                                bool callerMeasured) {
    const GroupGates gates = groupGates(e);
    const bool generator = e.ComplexType == kGeneratorComplexType;
    DirectionValues v;
    v.callerMeasured = callerMeasured;
    v.calls = callPercentages(e);

    v.sine.on = gates.sine;
    fillSine(v.sine, r.sine, generator ? 1800.0 : static_cast<double>(e.SinFreq.get()));

    v.o132.on = gates.o132;
    v.o132.count = r.o132.counter;
    v.o132.value = {r.o132.level, r.o132.frequency, r.o132.snr,  r.o132.snrPs,
                    r.o132.jitPh, r.o132.jitAm,     r.o132.shift};

    v.o131.on = gates.o131;
    v.o131.count = r.o131.counter;
    v.o131.value = {r.o131.level, r.o131.snr};

    v.noise.on = gates.noise;
    v.noise.count = r.noise.counter;
    v.noise.value = {r.noise.noise, r.noise.noisePs, selectiveInterference(r.noise)};

    v.talkerEcho.on = gates.echo;
    v.talkerEcho.count = r.talkerEcho.counter;
    v.talkerEcho.value = {r.talkerEcho.echo};
    v.listenerEcho.on = gates.echo;
    v.listenerEcho.count = r.listenerEcho.counter;
    v.listenerEcho.value = {r.listenerEcho.echo};

    v.impedance.on = gates.impedance;
    v.impedance.count = r.impedance.counter;
    const ImpedanceResult& z = r.impedance;
    const double capacHz = e.CapacFreq.get();
    v.impedance.value = {
        f32(interpolateAtReference(z.freq, z.imped, e.ImpedFreq.get(), true)),
        capacHz < 100.0 ? 0.0f : f32(interpolateAtReference(z.freq, z.capac, capacHz, true))};

    v.multiFrequency.on = gates.multiFrequency;
    // The generator of the direction: the answerer's (LevR) when the caller measured.
    const double sendingLevel = generator        ? -10.0
                                : callerMeasured ? static_cast<double>(e.MTTSLevR.get())
                                                 : static_cast<double>(e.MTTSLev.get());
    fillMultiFrequency(v.multiFrequency, r.mtts, e, sendingLevel);

    v.o42.on = gates.o42;
    v.o42.count = r.o42.counter;
    v.o42.value = {r.o42.level, r.o42.dis2, r.o42.dis3, r.o42.dis23};

    v.throughputOn = gates.throughput;
    v.throughput = throughput;
    return v;
}

void resetCycleStatistics(ScenarioEntry& e) {
    std::memset(bytesOf(e) + kStatisticsOffset, 0, kSettingsOffset - kStatisticsOffset);
    for (SineStats* b : {&e.sineA, &e.sineB})
        resetLasts(*b);
    for (O132Stats* b : {&e.o132A, &e.o132B})
        resetLasts(*b);
    for (O131Stats* b : {&e.o131A, &e.o131B})
        resetLasts(*b);
    for (NoiseStats* b : {&e.noiseA, &e.noiseB})
        resetLasts(*b);
    for (EchoStats* b : {&e.echoA, &e.echoB})
        resetLasts(*b);
    for (ImpedanceStats* b : {&e.impedanceA, &e.impedanceB})
        resetLasts(*b);
    for (MultiFrequencyStats* b : {&e.mttA, &e.mttB})
        resetLasts(*b);
    for (O42Stats* b : {&e.o42A, &e.o42B})
        resetLasts(*b);
    for (ThroughputStats* b : {&e.throughputA, &e.throughputB})
        resetLasts(*b);
}

void updateCycleStatistics(ScenarioEntry& e, const DirectionValues& v) {
    const bool b = v.callerMeasured;
    accumulateGroup(b ? e.sineB : e.sineA, v.sine);
    accumulateGroup(b ? e.o132B : e.o132A, v.o132);
    accumulateGroup(b ? e.o131B : e.o131A, v.o131);
    accumulateGroup(b ? e.noiseB : e.noiseA, v.noise);
    accumulateEcho(b ? e.echoB : e.echoA, v);
    accumulateGroup(b ? e.impedanceB : e.impedanceA, v.impedance);
    accumulateMultiFrequency(b ? e.mttB : e.mttA, v.multiFrequency);
    accumulateGroup(b ? e.o42B : e.o42A, v.o42);
    accumulateThroughput(b ? e.throughputB : e.throughputA, v);
}

} // namespace vetlina
