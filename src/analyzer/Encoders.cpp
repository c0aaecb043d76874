#include "analyzer/Encoders.h"

#include "analyzer/Tables.h"

#include <cmath>
#include <initializer_list>
#include <numbers>

namespace vetlina {

namespace {

constexpr double kGeneratorRate = 25600.0;
constexpr double kTwoTo32 = 4294967296.0;

CommandBlock makeBlock(std::initializer_list<uint16_t> words, bool checked = true) {
    CommandBlock block;
    for (uint16_t w : words)
        block.words[block.count++] = w;
    block.checked = checked;
    return block;
}

uint16_t low(uint32_t v) {
    return static_cast<uint16_t>(v & 0xFFFFu);
}
uint16_t high(uint32_t v) {
    return static_cast<uint16_t>(v >> 16);
}

// A real value truncated toward zero into 32 bits; values beyond the word saturate and
// a value that is not a number gives 0.
uint32_t toWord32(double v) {
    if (!(v > 0.0))
        return 0;
    if (v >= kTwoTo32 - 1.0)
        return 0xFFFFFFFFu;
    return static_cast<uint32_t>(v);
}

// A real value truncated toward zero into a signed 16-bit word.
uint16_t toWord16(double v) {
    if (std::isnan(v))
        return 0;
    v = std::clamp(v, -32768.0, 32767.0);
    return static_cast<uint16_t>(static_cast<int16_t>(static_cast<int32_t>(v)));
}

// The generator's output attenuator: code 8 for levels from -40 dBm up, with the
// amplitude 11 dB lower; code 16 below, with the amplitude 0.84 dB higher.
struct GeneratorAttenuator {
    uint16_t code;
    double correction; // dB added to the level for the amplitude code
};
GeneratorAttenuator generatorAttenuator(double level) {
    if (level >= -40.0)
        return {8, -11.0};
    return {16, 0.84};
}

// The level an amplitude code realises with a correction; -200 dBm for a silent generator.
double realisedLevel(uint16_t code, double correction) {
    if (code == 0)
        return -200.0;
    return 20.0 * std::log10(code / 32767.0) - correction;
}

void clearModes(MeterState& state) {
    state.impedanceMode = false;
    state.echoMode = false;
}

bool isOneOf(int v, std::initializer_list<int> set) {
    for (int s : set)
        if (v == s)
            return true;
    return false;
}

CommandBlock lineModeBlock(const MeterState& state, int mode) {
    return makeBlock({command::LineMode, static_cast<uint16_t>(mode + state.gainFlag)});
}

// Levels of the scenario: dBm, a missing or absurd value held to a sane range.
double sanitiseLevel(double level) {
    return clampFinite(level, -200.0, 100.0);
}

CommandPlan levelGenerator(MeterState& state, double level, double extra, uint16_t code,
                           const char* label) {
    level = sanitiseLevel(level);
    CommandPlan plan;
    plan.label = label;
    plan.failureResult = -1000.0;
    clearModes(state);
    plan.add(lineModeBlock(state, state.lineMode));
    const GeneratorAttenuator att = generatorAttenuator(level);
    const double correction = att.correction + extra;
    const uint16_t amplitude = amplitudeCode(level + correction);
    plan.add(makeBlock({code, amplitude, att.code}));
    state.generatorLevel = realisedLevel(amplitude, correction);
    plan.result = state.generatorLevel;
    return plan;
}

} // namespace

std::size_t CommandBlock::toBytes(uint8_t* out) const {
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = static_cast<uint8_t>(words[i] & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    return byteCount();
}

void CommandPlan::add(const CommandBlock& block) {
    if (count < kMaxBlocks)
        blocks[count++] = block;
}

void CommandPlan::append(const CommandPlan& other) {
    for (std::size_t i = 0; i < other.count; ++i)
        add(other.blocks[i]);
}

uint16_t amplitudeCode(double levelDb) {
    const double a = std::pow(10.0, levelDb * 0.05) * 32767.0 + 0.5;
    if (!(a >= 0.0))
        return 0;
    if (a >= 32767.0)
        return 32767;
    return static_cast<uint16_t>(a);
}

PeriodChoice periodSearch(double frequency, uint32_t maxPeriod) {
    PeriodChoice best;
    bool found = false;
    for (uint32_t e = 1;; ++e) {
        const double g = std::floor(kGeneratorRate * e / frequency + 0.5);
        if (!(g <= maxPeriod))
            break;
        if (g < 1.0)
            continue;
        const double achieved = kGeneratorRate * e / g;
        if (!found || std::fabs(achieved - frequency) < std::fabs(best.frequency - frequency)) {
            found = true;
            best.frequency = achieved;
            best.period = static_cast<uint32_t>(g);
            best.phaseIncrement = toWord32(achieved / kGeneratorRate * kTwoTo32 + 0.5);
        }
    }
    if (!found) {
        best.period = maxPeriod;
        best.frequency = kGeneratorRate / maxPeriod;
        best.phaseIncrement = toWord32(best.frequency / kGeneratorRate * kTwoTo32 + 0.5);
    }
    return best;
}

CommandPlan HarmSet(MeterState& state, double levelDbm, double frequencyHz) {
    const double level = sanitiseLevel(levelDbm);
    const double f = clampFinite(frequencyHz, 20.0, 6400.0);
    CommandPlan plan;
    plan.label = label::HarmSet;
    plan.failureResult = 0.0;
    clearModes(state);
    plan.add(lineModeBlock(state, state.lineMode));
    const GeneratorAttenuator att = generatorAttenuator(level);
    const uint16_t amplitude = amplitudeCode(level + att.correction);
    const PeriodChoice p = periodSearch(f, 4096);
    plan.add(makeBlock({command::Harmonic, amplitude, low(p.phaseIncrement), high(p.phaseIncrement),
                        static_cast<uint16_t>(p.period), att.code}));
    state.generatorLevel = realisedLevel(amplitude, att.correction);
    plan.result = p.frequency;
    return plan;
}

CommandPlan MttsSet(MeterState& state, double levelDbm) {
    return levelGenerator(state, levelDbm, 4.54, command::MultiFrequency, label::MttsSet);
}

CommandPlan O131Set(MeterState& state, double levelDbm) {
    return levelGenerator(state, levelDbm, 7.3, command::O131, label::O131Set);
}

CommandPlan O42Set(MeterState& state, double levelDbm) {
    return levelGenerator(state, levelDbm, 5.77, command::O42, label::O42Set);
}

CommandPlan ImpedSet(MeterState& state, double levelDbm) {
    state.impedanceSetCount = 1;
    state.impedanceValid = false;
    CommandPlan plan = MttsSet(state, levelDbm);
    plan.label = label::ImpedSet;
    plan.failureResult = -1000.0;
    if (!(plan.result > -50.0)) {
        plan.failsAfterSending = true;
        return plan;
    }
    const int mode = isOneOf(state.lineMode, {11, 27, 265, 283}) ? 282 : 274;
    plan.add(lineModeBlock(state, mode));
    state.impedanceMode = true;
    return plan;
}

CommandPlan ThreshSet(MeterState& state, double impulseDbm, double interruptionDbm,
                      double levelJumpDb, double phaseJumpDeg) {
    const double impulse = clampFinite(impulseDbm, -60.0, 10.0);
    const double interruption = clampFinite(interruptionDbm, -60.0, 10.0);
    const double levelJump = clampFinite(levelJumpDb, 0.0, 12.0);
    const double phaseJump = clampFinite(phaseJumpDeg, 0.0, 60.0);
    const double ref = state.referenceLevel;

    const double w1 =
        std::min(32767.0, std::floor(std::pow(10.0, (impulse - ref + 9.43) * 0.05) * 8192.0 + 0.5));
    // The interruption threshold is a power against 32767^2; thresholds far above the
    // top of the range would not fit 32 bits and saturate.
    const uint32_t w23 =
        toWord32(std::pow(10.0, (interruption - ref - 2.125) * 0.1) * 1073676289.0 + 0.5);
    const double g = levelJump * 0.88;
    const double w4 = (1.0 - std::pow(10.0, -g * 0.05)) * 8192.0;
    const double w5 = (1.0 - std::pow(10.0, g * 0.05)) * 8192.0;
    const double w6 =
        std::sin(phaseJumpCorrection(phaseJump) * phaseJump * std::numbers::pi / 180.0) * 6307.84;

    state.thresholdWords = {toWord16(w1), low(w23),     high(w23),
                            toWord16(w4), toWord16(w5), toWord16(w6)};
    state.thresholdsKept = true;

    CommandPlan plan;
    plan.label = label::ThreshSet;
    const auto& w = state.thresholdWords;
    plan.add(makeBlock({command::Thresholds, w[0], w[1], w[2], w[3], w[4], w[5]}));
    return plan;
}

CommandPlan DeadTimeSet(MeterState& state, double a, double b, double c, double d) {
    a = clampFinite(a, 0.0, 125.0);
    b = clampFinite(b, 0.0, 125.0);
    c = clampFinite(c, 0.0, 125.0);
    d = clampFinite(d, 0.0, 125.0);
    state.deadTimeWords = {toWord16(a * 12.8), toWord16(b * 12.8), toWord16(c * 1.6),
                           toWord16(d * 1.6)};
    state.deadTimesKept = true;
    CommandPlan plan;
    plan.label = label::DeadTimeSet;
    const auto& w = state.deadTimeWords;
    plan.add(makeBlock({command::DeadTimes, w[0], w[1], w[2], w[3]}));
    return plan;
}

CommandPlan EchoSet(MeterState& state, const EchoSettings& s) {
    // Times as the generator counts them (25600 per second) must fit 32 bits.
    constexpr double kMaxTime = 80000.0;
    const double t1 = clampFinite(s.firstProbeTime, 0.0001, kMaxTime);
    const double t2 = clampFinite(s.secondProbeTime, 0.0001, kMaxTime);
    const double analysis =
        std::max(0.001, std::min(clampFinite(s.analysisTime, 0.001, kMaxTime), t2));
    const double level1 = clampFinite(s.firstLevel, -200.0, 0.0);
    const double level2 = clampFinite(s.secondLevel, -200.0, 0.0);
    const double f1 = clampFinite(s.firstFrequency, 100.0, 4000.0);
    const double f2 = clampFinite(s.secondFrequency, 100.0, 4000.0);
    const double phase1 = clampFinite(s.firstPhase, 0.0, 360.0);
    const double phase2 = clampFinite(s.secondPhase, 0.0, 360.0);

    CommandPlan plan;
    plan.label = label::EchoSet;
    clearModes(state);
    plan.append(ZmkMeterRestart(state));

    const GeneratorAttenuator att = generatorAttenuator(std::max(level1, level2));
    const int mode = state.lineMode;
    if (isOneOf(mode, {3, 19, 257}))
        plan.add(lineModeBlock(state, 275));
    else if (!isOneOf(mode, {131, 147}))
        plan.add(lineModeBlock(state, 283));
    state.echoMode = true;

    const uint32_t time1 = toWord32(t1 * kGeneratorRate + 0.5);
    const uint32_t time2 = toWord32(t2 * kGeneratorRate + 0.5);
    const uint32_t inc1 = periodSearch(f1, 2048).phaseIncrement;
    const uint32_t inc2 = periodSearch(f2, 2048).phaseIncrement;
    const uint32_t ph1 = toWord32(phase1 * 11930464.71);
    const uint32_t ph2 = toWord32(phase2 * 11930464.71);
    const uint16_t amp1 = amplitudeCode(level1 + att.correction);
    const uint16_t amp2 = amplitudeCode(level2 + att.correction);
    plan.add(makeBlock({command::Echo, low(time1), high(time1), amp1, low(inc1), high(inc1),
                        low(ph1), high(ph1), low(time2), high(time2), amp2, low(inc2), high(inc2),
                        low(ph2), high(ph2), 2048, att.code}));

    state.echoAnalysisTime = analysis;
    state.echoSecondProbeTime = t2;
    state.rangeState = kInRange;
    plan.reportsInRange = true;
    return plan;
}

CommandPlan MeterLevHiLowRangeSet(MeterState& state, double maxSignalDbm, double minSignalDbm) {
    CommandPlan plan;
    plan.label = label::RangeSet;
    if (state.impedanceMode || state.echoMode) {
        plan.result = plan.failureResult = state.referenceLevel;
        return plan;
    }
    const bool high = maxSignalDbm > 0.0;
    const int attenuator = maxSignalDbm > -19.0 ? 0 : 13;
    const double top = (high ? 20.0 : 0.0) - 1.5 * attenuator;
    const double bottom = clampFinite(minSignalDbm, top - 80.0, top);
    const bool changed =
        !state.rangeKept || top != state.referenceLevel || bottom != state.bottomLevel;
    state.gainFlag = high ? 32 : 0;
    state.attenuatorCode = attenuator;
    state.referenceLevel = top;
    state.bottomLevel = bottom;
    state.rangeKept = true;

    // Neither the range command nor what follows decides the step: the top is its result.
    plan.add(makeBlock(
        {command::LevelRange, amplitudeCode(bottom - top), static_cast<uint16_t>(attenuator)},
        false));
    CommandBlock mode = lineModeBlock(state, state.lineMode);
    mode.checked = false;
    plan.add(mode);
    if (changed) {
        CommandPlan restart = ZmkMeterRestart(state);
        for (std::size_t i = 0; i < restart.count; ++i)
            restart.blocks[i].checked = false;
        plan.append(restart);
    }
    plan.result = plan.failureResult = top;
    return plan;
}

CommandPlan ZmkMeterRestart(MeterState& state) {
    if (state.codes[0] < 1)
        state.restartRequested = 0;
    state.meterTable[meter::LevelDeviation] = kNotMeasured;
    state.levelCount = 0;
    state.levelMean = 0.0;
    state.levelM2 = 0.0;
    CommandPlan plan;
    plan.label = label::MeterRestart;
    plan.add(makeBlock({command::MeterRestart, static_cast<uint16_t>(state.restartRequested)}));
    state.restartApplied = state.restartRequested;
    if (state.thresholdsKept) {
        const auto& w = state.thresholdWords;
        plan.add(makeBlock({command::Thresholds, w[0], w[1], w[2], w[3], w[4], w[5]}));
    }
    if (state.deadTimesKept) {
        const auto& w = state.deadTimeWords;
        plan.add(makeBlock({command::DeadTimes, w[0], w[1], w[2], w[3]}));
    }
    return plan;
}

bool SetLineMode(MeterState& state, int mode) {
    if (isOneOf(mode, {274, 275, 282, 283})) {
        state.lineMode = mode;
        return true;
    }
    if (isOneOf(mode, {0, 3, 11, 19, 27, 131, 147, 257, 265}) && !state.impedanceMode &&
        !state.echoMode) {
        state.lineMode = mode;
        return true;
    }
    return false;
}

CommandPlan SendLineMode(const MeterState& state) {
    CommandPlan plan;
    plan.add(lineModeBlock(state, state.lineMode));
    return plan;
}

CommandPlan AfterRestartCommand() {
    CommandPlan plan;
    plan.add(makeBlock({command::AfterRestart}));
    return plan;
}

} // namespace vetlina
