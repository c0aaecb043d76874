// The values of one measured direction of a session, derived once from its result
// records, and their accumulation into the cycle statistics of the scenario entry.
//
// The same values go to the data file of the direction (DataFiles.cpp) and into the
// statistics: spurious modulation and selective interference as the largest delivered
// value, the harmonics cut where the sine frequency puts them above 3400 Hz, impedance
// and capacitance at the scenario's frequencies, attenuation and group delay at the
// scenario's frequency points relative to their references.
#pragma once

#include "platform/ValueMarks.h"
#include "reports/CallPercentages.h"
#include "scenario/ScenarioEntry.h"

#include <array>
#include <cstdint>

namespace vetlina {

struct LiveResults;

// The groups of items a data file (and a norms file) carries for this entry; each holds
// only when its measurement was planned so that it delivers results (the analyzer
// groups also need the switch Analog). "far end a generator" is ComplexType 1, "far end
// a complex" ComplexType 0.
struct GroupGates {
    bool sine = false, o132 = false, o131 = false, noise = false, echo = false;
    bool impedance = false, multiFrequency = false, o42 = false, throughput = false;
};
GroupGates groupGates(const ScenarioEntry& entry);

// One group's values in the row order of its statistics block, with its valid count
// (the result record's counter) of the session.
template <int Rows>
struct GroupValues {
    bool on = false; // the group's gate holds
    int32_t count = 0;
    std::array<float, Rows> value{};
};

struct MultiFrequencyValues {
    bool on = false;
    int32_t count = 0;
    float level = 0;
    // At the scenario's attenuation points (AttF) and group-delay points (DelF); only a
    // point above 99.99 Hz is counted. Attenuation dB, group delay ms.
    std::array<bool, kMttPoints> attCounted{};
    std::array<float, kMttPoints> att{};
    std::array<bool, kMttPoints> delCounted{};
    std::array<float, kMttPoints> del{};
    int32_t attPoints() const;
    int32_t delPoints() const;
};

struct DirectionValues {
    bool callerMeasured = false; // block B of the statistics, else block A
    CallPercentages calls;
    GroupValues<SineStats::kItems> sine;
    GroupValues<O132Stats::kItems> o132;
    GroupValues<O131Stats::kItems> o131;
    GroupValues<NoiseStats::kItems> noise;
    GroupValues<1> talkerEcho;
    GroupValues<1> listenerEcho;
    GroupValues<ImpedanceStats::kItems> impedance; // deviation ohm, capacitance µF
    MultiFrequencyValues multiFrequency;
    GroupValues<O42Stats::kItems> o42;
    // Throughput, per cent, as the throughput test delivered it (-999 not measured).
    bool throughputOn = false;
    float throughput = kNotMeasured;
};

// The values of a direction from its result records. callerMeasured: the calling complex's
// analyzer measured this direction.
DirectionValues directionValues(const ScenarioEntry& entry, const LiveResults& results,
                                float throughput, bool callerMeasured);

// Clears the statistics area of the entry for a cycle that begins: every sum, sum of
// squares and count 0, every last value -999, the last group delays of the
// multi-frequency blocks -10001. Called by the calling side at the first session of a
// cycle (SessionsDone 0), before its norms file is written; the answering side takes the
// statistics with the entry the caller hands over.
void resetCycleStatistics(ScenarioEntry& entry);

// Folds the values of one direction into block B (the caller measured) or A of the
// entry's statistics: per group with valid count c the block's session count grows when
// c > 0; each quantity's last value becomes the value, and a present value (at least
// -900) of a counted session enters the sum and the sum of squares, else the last value
// is -999. Throughput counts a session whenever its value is above -900 and keeps the
// delivered value as the last. Only the groups whose gate holds are touched.
void updateCycleStatistics(ScenarioEntry& entry, const DirectionValues& values);

} // namespace vetlina
