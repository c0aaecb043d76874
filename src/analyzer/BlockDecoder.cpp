// Decoding of the analyzer's data blocks by type and exact length, the assembly of raw
// frames into frame sets, and the blocks the meter evaluates itself: the meter table
// (-5), the event statistics (-4) and the multi-frequency tracking (-12).
#include "analyzer/Analyses.h"
#include "analyzer/MeterComputation.h"
#include "analyzer/Tables.h"

#include <cmath>
#include <new>
#include <numbers>

namespace vetlina {

namespace {

constexpr double kTwoTo16 = 65536.0;
constexpr double kTwoTo32 = 4294967296.0;
constexpr double kTwoToMinus32 = 1.0 / 4294967296.0;
constexpr double kTwoToMinus30 = 1.0 / 1073741824.0;
constexpr double kTwoToMinus18 = 1.0 / 262144.0;
constexpr double kDegrees = 57.2958;

// Overload of a raw sample of the signal frames.
constexpr int kOverloadSample = 28499;

// Block types and their lengths in words.
struct BlockType {
    int16_t type;
    int words;
};
constexpr BlockType kStatus{-14, 2};
constexpr BlockType kParameters{-13, 60};
constexpr BlockType kTracking{-12, 10};
constexpr BlockType kCalibration{-11, 26};
constexpr BlockType kEchoFrame{-10, 68};
constexpr BlockType kSignalFrame{-9, 68};
constexpr BlockType kMeterTable{-5, 18};
constexpr BlockType kEvents{-4, 33};

// Words of a block: unsigned where the analyzer sends counts and word halves, signed
// where it sends samples and signed quantities.
struct Words {
    const int16_t* w;
    double u(int i) const { return static_cast<uint16_t>(w[i]); }
    double s(int i) const { return w[i]; }
    // A 32-bit count from its high and low word.
    double pair(int hi, int lo) const { return u(lo) + u(hi) * kTwoTo16; }
};

double meterDb(double x, double reference) {
    return std::clamp(db10(x), -120.0, 40.0) + reference + 8.47;
}

} // namespace

MeterComputation::MeterComputation() {
    try {
        workspace_ = std::make_unique<Workspace>();
        outputs_ = std::make_unique<MeterOutputs>();
    } catch (const std::bad_alloc&) {
        workspace_.reset();
        outputs_.reset();
        return;
    }
    reset();
}

MeterComputation::~MeterComputation() = default;

void MeterComputation::reset() {
    state.reset();
    if (!outputs_)
        return;
    MeterOutputs& o = *outputs_;
    o.levels.fill(kNotMeasured);
    o.sideComponents.fill(kNotMeasured);
    o.sideOffsets.fill(kNotMeasured);
    for (auto* table :
         {&o.tones.frequency, &o.tones.level, &o.tones.attenuation, &o.tones.groupDelay,
          &o.tones.snr, &o.tones.phase, &o.impedance.frequency, &o.impedance.modulus,
          &o.impedance.resistance, &o.impedance.reactance, &o.impedance.capacitance,
          &o.impedance.inductance, &o.impedance.referenceAttenuation, &o.impedance.referencePhase})
        table->fill(kNotMeasured);
    o.noiseBands.fill(kNotMeasured);
    o.noiseBandsWeighted.fill(kNotMeasured);
    o.events.fill(kNotMeasured);
    o.echoTime = kNotMeasured;
    o.echo = kNotMeasured;
    o.envelope.fill(-80.0f);
    o.tracking = TrackingTable{};
    o.tracking.level.fill(kNotMeasured);
    o.tracking.phase.fill(kNotMeasured);
    o.spectrum = VisualSpectrum{};
    o.dcMean = 0.0f;
    o.peakBin = 0;
}

int16_t MeterComputation::DecodeBlockBytes(const uint8_t* bytes, std::size_t byteCount,
                                           DecoderActions& actions) {
    int16_t words[256];
    const std::size_t n = std::min<std::size_t>(byteCount, 512) / 2;
    for (std::size_t i = 0; i < n; ++i)
        words[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return DecodeBlock(words, static_cast<int>(n), actions);
}

int16_t MeterComputation::DecodeBlock(const int16_t* words, int count, DecoderActions& actions) {
    if (!hasWorkingMemory())
        return code::Nothing;
    if (words == nullptr || count < 1)
        return code::Rejected;
    const int16_t type = words[0];
    auto is = [&](const BlockType& t) { return type == t.type && count == t.words; };
    MeterOutputs& o = *outputs_;

    if (is(kStatus)) {
        o.statusWord = static_cast<uint16_t>(words[1]);
        return code::StatusWord;
    }
    if (is(kParameters)) {
        std::copy(words, words + kParameters.words, o.parameterTable.begin());
        return code::ParameterTable;
    }
    if (is(kTracking))
        return decodeTracking(words, actions);
    if (is(kCalibration)) {
        std::copy(words + 1, words + kCalibration.words, o.calibration.begin());
        o.calibrationReceived = true;
        return code::Calibration;
    }
    if (is(kEchoFrame) || is(kSignalFrame))
        return decodeFrame(words, actions);
    if (is(kMeterTable))
        return decodeMeterTable(words, actions);
    if (is(kEvents))
        return decodeEventStatistics(words);
    return code::Rejected;
}

int16_t MeterComputation::decodeFrame(const int16_t* words, DecoderActions& actions) {
    const Words b{words};
    MeterState& st = state;
    const int16_t type = words[0];
    const uint32_t tag = static_cast<uint32_t>(b.pair(1, 2));
    const int position = static_cast<uint16_t>(words[67]);

    if (position == kFrameSamples) {
        st.samplePosition = 0;
        st.frameTag = tag;
        st.frameType = type;
        st.frameOverload = false;
    }
    // Frames out of order, of another set or of the other kind discard the set.
    if (position != st.samplePosition + kFrameSamples || tag != st.frameTag ||
        type != st.frameType || position > kSetSamples) {
        st.samplePosition = 0;
        return code::Nothing;
    }
    int16_t* dest = workspace_->samples.data() + st.samplePosition;
    for (int i = 0; i < kFrameSamples; ++i) {
        const int16_t v = words[3 + i];
        dest[i] = v;
        if (type == kSignalFrame.type && std::abs(static_cast<int>(v)) > kOverloadSample)
            st.frameOverload = true;
    }
    st.samplePosition = position;
    if (position < kSetSamples)
        return code::Nothing;

    st.samplePosition = 0;
    if (type == kEchoFrame.type)
        return analyseEchoSet(actions);
    if (st.frameOverload) {
        st.rangeState = kOverloaded;
        actions.reportRange(code::Overload);
    } else if (st.rangeState == kOverloaded) {
        st.rangeState = kInRange;
        actions.reportRange(code::InRange);
    }
    return analyseSignalSet(actions);
}

int16_t MeterComputation::decodeMeterTable(const int16_t* words, DecoderActions& actions) {
    const Words b{words};
    MeterState& st = state;
    auto& mt = st.meterTable;
    const double ref = st.referenceLevel;

    mt[meter::TimeTag] = static_cast<float>(b.pair(1, 2) * 0.001);

    // Peak level: compared with the top of the range for overload.
    double peak = meterDb(b.pair(9, 10) * kTwoToMinus32, ref);
    if (st.codes[0] < 0)
        peak = kNotMeasured;
    else if (st.codes[0] > 0)
        peak = outputs_->levels[item::Level] - ref + 12.4 + peak;
    if (peak != kNotMeasured && peak < -99.0)
        peak = -99.0;
    mt[meter::Peak] = static_cast<float>(peak);
    // A missing peak says nothing about the range.
    if (peak != kNotMeasured) {
        if (peak > ref) {
            st.rangeState = kOverloaded;
            actions.reportRange(code::Overload);
        } else if (st.rangeState != kInRange) {
            st.rangeState = kInRange;
            actions.reportRange(code::InRange);
        }
    }

    if (st.codes[0] < 0) {
        st.levelCount = 0;
        st.levelMean = 0.0;
        st.levelM2 = 0.0;
        return code::Nothing;
    }

    const double divisor = b.u(6);
    const double energy = b.u(4) + b.u(3) * kTwoTo16 + b.u(5) * kTwoTo32;
    const double level = meterDb(divisor != 0.0 ? energy / divisor * kTwoToMinus32 : 0.0, ref);
    mt[meter::Level] = static_cast<float>(level);
    if (st.sineRecognised()) {
        // Welford's running variance; the sample deviation from the second block on.
        ++st.levelCount;
        const double delta = level - st.levelMean;
        st.levelMean += delta / st.levelCount;
        st.levelM2 += delta * (level - st.levelMean);
        if (st.levelCount >= 2)
            mt[meter::LevelDeviation] =
                static_cast<float>(std::sqrt(std::max(0.0, st.levelM2 / (st.levelCount - 1))));
    }
    mt[meter::Noise] = static_cast<float>(meterDb(b.pair(7, 8) * kTwoToMinus32, ref));
    const double up = std::clamp(db10((8196.0 - b.s(11)) / 8196.0), 0.0, 80.0);
    const double down = -std::clamp(db10((8196.0 - b.s(12)) / 8196.0), -80.0, 0.0);
    mt[meter::LevelHits] = static_cast<float>(2.0 * std::max(up, down));
    mt[meter::PhaseHits] =
        static_cast<float>(std::asin(std::clamp(b.s(13) / 8196.0, -1.0, 1.0)) * kDegrees);
    if (b.u(17) != 0.0) {
        const double f =
            (b.u(15) + b.u(14) * kTwoTo16 + b.u(16) * kTwoTo32) / b.u(17) * kBinHz * kTwoToMinus18;
        double own = mt[meter::Frequency];
        if (own == kNotMeasured || std::fabs(f - own) > 0.5)
            own = f;
        own = 0.89 * own + 0.11 * f;
        mt[meter::Frequency] = static_cast<float>(own);
        if (std::fabs(own - 1020.0) < 12.0)
            mt[meter::FrequencyDeviation] = static_cast<float>(own - 1020.0);
        else if (std::fabs(own - 2000.0) < 12.0)
            mt[meter::FrequencyDeviation] = static_cast<float>(own - 2000.0);
        else
            mt[meter::FrequencyDeviation] = kNotMeasured;
    }
    return code::MeterTable;
}

int16_t MeterComputation::decodeEventStatistics(const int16_t* words) {
    // The statistics belong to the sine measurement; with another signal they are stale.
    if (state.codes[0] < 0)
        return code::Nothing;
    const Words b{words};
    auto& ev = outputs_->events;
    const double ref = state.referenceLevel;
    const double t = b.pair(1, 2) * 0.001;
    ev[event::Time] = static_cast<float>(t);
    ev[1] = static_cast<float>(b.u(3));
    ev[2] = static_cast<float>(b.u(4));
    ev[3] = static_cast<float>(b.u(5));
    for (int i = 0; i < 5; ++i)
        ev[8 + i] = static_cast<float>(b.u(14 + i));
    auto fraction = [&](int hi, int lo) {
        return t > 0.0 ? static_cast<float>(b.pair(hi, lo) * 7.8125e-5 / t) : 0.0f;
    };
    auto percent = [&](int hi, int lo) {
        return t > 0.0 ? static_cast<float>(std::min(100.0, b.pair(hi, lo) / t * 100.0)) : 0.0f;
    };
    ev[4] = fraction(6, 7);
    ev[5] = fraction(8, 9);
    ev[13] = fraction(19, 20);
    ev[6] = percent(10, 11);
    ev[7] = percent(12, 13);
    ev[14] = percent(21, 22);
    ev[17] = percent(23, 24);
    ev[15] = ev[2] + ev[3] + ev[8] + ev[9] + ev[10] + ev[11] + ev[12];
    ev[16] = std::min(1.0f, ev[13] + ev[4] + ev[5]);
    ev[event::LevelHits] = static_cast<float>(b.u(25));
    ev[event::PhaseHits] = static_cast<float>(b.u(26));

    // The thresholds as the analyzer holds them.
    ev[event::PulseThreshold] = static_cast<float>(
        (b.u(27) > 0.0 ? 20.0 * std::log10(b.u(27) / 8192.0) - 9.43 : -120.0) + ref);
    const double interruption = b.pair(28, 29);
    ev[event::InterruptionThreshold] = static_cast<float>(
        (interruption > 0.0 ? 10.0 * std::log10(interruption * kTwoToMinus30) + 2.125 : -120.0) +
        ref);
    auto jump = [](double w) {
        const double rest = 8192.0 - w;
        return rest > 0.0 ? std::fabs(20.0 * std::log10(8192.0 / rest)) : 0.0;
    };
    ev[event::LevelJumpThreshold] =
        static_cast<float>(std::max(jump(b.s(30)), jump(b.s(31))) * 1.1363636);
    // The phase-jump word is sin(c(p) p) x 6307.84; reading it back divides by the
    // correction at the corrected angle, so 15 degrees reads 14.98.
    const double x = b.s(32) * 1.2987013 / 8192.0;
    double phase = 0.0;
    if (x > -1.0 && x < 1.0) {
        phase = std::asin(x) * 180.0 / std::numbers::pi;
        phase /= phaseJumpCorrection(phase);
    }
    ev[event::PhaseJumpThreshold] = static_cast<float>(phase);
    return code::EventStatistics;
}

int16_t MeterComputation::decodeTracking(const int16_t* words, DecoderActions& actions) {
    const Words b{words};
    MeterState& st = state;
    if (b.u(9) == 32767.0) {
        st.rangeState = kOverloaded;
        actions.reportRange(code::Overload);
    } else if (st.rangeState == kOverloaded) {
        st.rangeState = kInRange;
        actions.reportRange(code::InRange);
    }

    const double ar = b.s(3), ai = b.s(4), br = b.s(6), bi = b.s(7);
    const double a2 = ar * ar + ai * ai, b2 = br * br + bi * bi;
    const double f = b.u(8) * 6.896552;
    const double f2 = b.u(5) * 6.896552;
    if (!(a2 > 7000.0 && b2 > 7000.0 && f >= 300.0 && f <= 3400.0 && f2 >= 200.0 && f2 <= 4000.0))
        return code::Tracking;

    TrackingTable& tr = outputs_->tracking;
    tr.timeTag = static_cast<float>(b.pair(1, 2) * 0.001);
    const double level = db10(b2 / a2);
    // Phase of b against a: arg(b conj(a)), 24 units per cycle.
    const double phase =
        std::atan2(bi * ar - br * ai, br * ar + bi * ai) * 24.0 / (2.0 * std::numbers::pi);
    const int slot = static_cast<int>(f * 0.01 - 0.5);
    if (slot < 1 || slot > 37)
        return code::Tracking;
    const double deviation = std::fabs(f - (slot + 1) * 100.0);
    const bool accepted = deviation <= tr.window;
    tr.window = static_cast<float>(std::clamp(0.9 * tr.window + 0.2 * deviation, 10.0, 50.0));
    if (!accepted)
        return code::Tracking;

    auto near = [&](double centre) { return std::fabs(f - centre) < 12.0; };
    if (near(3200.0) || near(2100.0) || near(1600.0)) {
        // A slot disturbed at these frequencies takes the mean of its neighbours.
        double l = 0.0, p = 0.0;
        int n = 0;
        for (int s : {slot - 1, slot + 1}) {
            if (s >= 0 && s < TrackingTable::kSlots && tr.count[s] > 0) {
                l += tr.level[s];
                p += tr.phase[s];
                ++n;
            }
        }
        if (n > 0) {
            tr.level[slot] = static_cast<float>(l / n);
            tr.phase[slot] = static_cast<float>(p / n);
            tr.count[slot] = 1;
        }
        return code::Tracking;
    }
    int& n = tr.count[slot];
    if (n == 0 || std::fabs(level - tr.level[slot]) > 2.0 ||
        std::fabs(phase - tr.phase[slot]) > 1.0) {
        n = 1;
        tr.level[slot] = static_cast<float>(level);
        tr.phase[slot] = static_cast<float>(phase);
    } else {
        ++n;
        tr.level[slot] = static_cast<float>(tr.level[slot] + (level - tr.level[slot]) / n);
        tr.phase[slot] = static_cast<float>(tr.phase[slot] + (phase - tr.phase[slot]) / n);
    }
    return code::Tracking;
}

int16_t MeterComputation::analyseEchoSet(DecoderActions& actions) {
    // 4096 envelope samples at 1600 per second, unsigned: the first 32 hold the probe,
    // the analysis window and the search for the probe's own echo follow.
    const Workspace& ws = *workspace_;
    MeterOutputs& o = *outputs_;
    MeterState& st = state;
    auto sample = [&](int i) { return static_cast<double>(static_cast<uint16_t>(ws.samples[i])); };

    const int window = std::clamp(
        static_cast<int>(clampFinite(st.echoAnalysisTime * 1600.0, 0.0, 1e6)), 1, kSetSamples - 32);
    const int search =
        std::clamp(static_cast<int>(clampFinite(st.echoSecondProbeTime * 1600.0 * 0.9, 0.0, 1e6)),
                   0, kSetSamples - 32);
    double probe = 0.0, probeTotal = 0.0;
    for (int i = 0; i < 32; ++i) {
        const double q = sample(i) * sample(i);
        probe = std::max(probe, q);
        probeTotal += q;
    }
    double sum = 0.0;
    for (int i = 32; i < 32 + window; ++i)
        sum += sample(i) * sample(i);
    double largest = 0.0;
    for (int i = 32; i < 32 + search; ++i)
        largest = std::max(largest, sample(i) * sample(i));

    double echo = kNotMeasured;
    if (largest > 0.0 && std::clamp(db10(probe / largest), 0.0, 100.0) > 8.0)
        echo =
            sum == 0.0 ? 100.0 : std::clamp(db10((probeTotal / 32.0) / (sum / window)), 0.0, 100.0);
    o.echo = static_cast<float>(echo);
    o.echoTime = static_cast<float>(st.frameTag * 0.001);

    double maximum = 0.0;
    for (int i = 0; i < kSetSamples; ++i)
        maximum = std::max(maximum, sample(i));
    if (maximum > 32766.0) {
        st.rangeState = kOverloaded;
        actions.reportRange(code::Overload);
    } else if (st.rangeState == kOverloaded) {
        st.rangeState = kInRange;
        actions.reportRange(code::InRange);
    }
    for (int i = 0; i < kSetSamples; ++i)
        o.envelope[i] =
            maximum > 0.0 ? static_cast<float>(std::clamp(
                                20.0 * std::log10(std::max(sample(i), 1e-9) / maximum), -80.0, 0.0))
                          : -80.0f;
    return code::Echo;
}

} // namespace vetlina
