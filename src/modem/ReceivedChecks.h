// Checks of what comes from the far complex before the run uses it. Everything here is
// pure: the dialogue logs and acts on the answers.
//
// - A scenario entry handed over by the caller must lie within the editor's ranges
//   (scenario/EntryRanges.h) and carry sound statistics, or the call is refused.
// - Result sections hold measured values; a value that is not a number, infinite or of a
//   magnitude no measurement gives is stored as not measured (-999), a negative count as
//   not measured too, a negative block counter as 0.
// - Counts the far complex reports (its calls and outcomes, a busy pair's sessions) are
//   held to what a series can reach.
#pragma once

#include "modem/SessionBlocks.h"
#include "reports/LiveResults.h"
#include "scenario/ScenarioEntry.h"

#include <optional>
#include <string>
#include <string_view>

namespace vetlina {

// The largest magnitude a measured value of a result section can have; beyond it the
// value is absurd (no level, ratio, frequency, delay or impedance comes near).
inline constexpr float kLargestMeasuredValue = 1e6f;

// Why an entry received from callerIdent is refused, as its protocol line (code page
// 1251): "Сценарий от <caller> отвергнут: <field> = <value>: <what is allowed>";
// nothing when the entry may be used.
std::optional<std::string> refusedEntryLine(const ScenarioEntry& received,
                                            std::string_view callerIdent);

// Why an answerer refuses an entry (and a caller keeps it back): its first field out of
// the editor's ranges or its first unsound statistics value, as "<field> = <value>:
// <what is allowed>" (code page 1251); nothing when the entry is fit to hand over.
std::optional<std::string> unfitEntryReason(const ScenarioEntry& e);

// The same check of the caller's own entry before it is handed over: an entry that
// the answerer would refuse is not sent, since no call could ever take it further.
// "Сценарий не передан: <field> = <value>: <what is allowed>"; nothing when it is fit.
std::optional<std::string> unsendableEntryLine(const ScenarioEntry& own);

// The statistics area of an entry: every last value, sum and sum of squares finite, every
// count not negative. The first fault as "<block>: ..." (code page 1251), or nothing.
std::optional<std::string> statisticsFault(const ScenarioEntry& e);

// Makes the far side's results of a result block safe to store, in place (see above):
// the records, the throughput and, when given, the caller's counters (negative ones
// become 0). Returns how many values it replaced; 0 leaves every byte as it came.
int sanitizeReceivedResults(CountersSection* counters, LiveResults& live, float& throughput);

// The protocol line for a result block of which `replaced` values were not taken.
std::string untakenResultsLine(int replaced);

// Sessions a busy answerer still has to do with its pair, from its busy block: never
// negative, and never more than a series has.
int32_t busySessionsLeft(int32_t sessionsDone, int32_t numTotal);

} // namespace vetlina
