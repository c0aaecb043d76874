// The sections of the statistics window: for every effectively planned measurement
// group its heading and its rows in their order (level and frequency always, every
// selected parameter against its norm; the multi-frequency rows per frequency point),
// with the units the window shows (group delay in µs, capacitance in nF) and the
// relative-time norms as powers of ten.
#pragma once

#include "reports/Evaluation.h"
#include "reports/EvaluationRows.h"

namespace vetlina {

struct ScenarioEntry;

// A frequency point of the multi-frequency signal counts above this frequency (Hz).
inline constexpr double kFrequencyPointFloor = 99.99;

// Whether any measurement group or the throughput test is effectively planned.
bool anyGroupPlanned(const ScenarioEntry& entry);

// Adds the sections of the planned groups to the sheet, in their order, and takes the
// classes of the passport's parameters from their rows.
void addStatisticsSections(EvaluationSheet& sheet, const ScenarioEntry& entry,
                           PassportClasses& passport);

} // namespace vetlina
