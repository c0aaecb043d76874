#include "sim/analyzer/Zmk5Blocks.h"

#include <algorithm>

namespace vetlina::sim::zmk5 {

namespace {

int16_t word(uint64_t value, int shift) {
    return static_cast<int16_t>(static_cast<uint16_t>((value >> shift) & 0xFFFF));
}

} // namespace

std::array<int16_t, 26> calibrationBlock(const std::array<int16_t, 25>& table) {
    std::array<int16_t, 26> w{};
    w[0] = block::Calibration;
    std::copy(table.begin(), table.end(), w.begin() + 1);
    return w;
}

std::array<int16_t, 68> rawFrame(int16_t type, uint32_t tagMs, std::span<const int16_t> samples,
                                 int positionAfter) {
    std::array<int16_t, 68> w{};
    w[0] = type;
    w[1] = word(tagMs, 16);
    w[2] = word(tagMs, 0);
    std::copy_n(samples.begin(), std::min<std::size_t>(samples.size(), kFrameSamples),
                w.begin() + 3);
    w[67] = static_cast<int16_t>(positionAfter);
    return w;
}

std::array<int16_t, 18> meterTableBlock(const MeterTable& t) {
    std::array<int16_t, 18> w{};
    w[0] = block::MeterTable;
    w[1] = word(t.timeMs, 16);
    w[2] = word(t.timeMs, 0);
    w[3] = word(t.sumOfSquares, 16);
    w[4] = word(t.sumOfSquares, 0);
    w[5] = word(t.sumOfSquares, 32);
    w[6] = static_cast<int16_t>(t.squareCount);
    w[7] = word(t.noiseMeanSquare, 16);
    w[8] = word(t.noiseMeanSquare, 0);
    w[9] = word(t.peakWord, 16);
    w[10] = word(t.peakWord, 0);
    w[11] = t.amplitudeRise;
    w[12] = t.amplitudeFall;
    w[13] = t.phaseDeviation;
    w[14] = word(t.frequencySum, 16);
    w[15] = word(t.frequencySum, 0);
    w[16] = word(t.frequencySum, 32);
    w[17] = static_cast<int16_t>(t.frequencyCount);
    return w;
}

std::array<int16_t, 33> eventStatisticsBlock(const EventStatistics& s) {
    std::array<int16_t, 33> w{};
    w[0] = block::EventStatistics;
    w[1] = word(s.timeMs, 16);
    w[2] = word(s.timeMs, 0);
    w[3] = static_cast<int16_t>(s.suppressedCrossings);
    w[4] = static_cast<int16_t>(s.positiveImpulses);
    w[5] = static_cast<int16_t>(s.negativeImpulses);
    w[6] = word(s.positiveImpulseSamples, 16);
    w[7] = word(s.positiveImpulseSamples, 0);
    w[8] = word(s.negativeImpulseSamples, 16);
    w[9] = word(s.negativeImpulseSamples, 0);
    w[10] = word(s.positiveImpulseSeconds, 16);
    w[11] = word(s.positiveImpulseSeconds, 0);
    w[12] = word(s.negativeImpulseSeconds, 16);
    w[13] = word(s.negativeImpulseSeconds, 0);
    for (int i = 0; i < 5; ++i)
        w[14 + i] = static_cast<int16_t>(s.interruptions[i]);
    w[19] = word(s.interruptionSamples, 16);
    w[20] = word(s.interruptionSamples, 0);
    w[21] = word(s.interruptionSeconds, 16);
    w[22] = word(s.interruptionSeconds, 0);
    w[23] = word(s.erroredSeconds, 16);
    w[24] = word(s.erroredSeconds, 0);
    w[25] = static_cast<int16_t>(s.levelHits);
    w[26] = static_cast<int16_t>(s.phaseHits);
    w[27] = s.impulseThreshold;
    w[28] = word(s.interruptionThreshold, 16);
    w[29] = word(s.interruptionThreshold, 0);
    w[30] = s.levelDropThreshold;
    w[31] = s.levelRiseThreshold;
    w[32] = s.phaseThreshold;
    return w;
}

std::array<int16_t, 10> trackingBlock(const TrackingFrame& f) {
    std::array<int16_t, 10> w{};
    w[0] = block::Tracking;
    w[1] = word(f.timeMs, 16);
    w[2] = word(f.timeMs, 0);
    w[3] = f.referenceRe;
    w[4] = f.referenceIm;
    w[5] = f.referenceStep;
    w[6] = f.toneRe;
    w[7] = f.toneIm;
    w[8] = f.toneStep;
    w[9] = f.overload ? int16_t{32767} : int16_t{0};
    return w;
}

} // namespace vetlina::sim::zmk5
