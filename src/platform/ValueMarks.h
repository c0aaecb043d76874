// The marks of absent values: -999 for a value that was not measured, as the
// analyzer's tables, the result records, the data files, the scenario's statistics and
// the far complex's result blocks keep it, and -999 for a norm that is not set. Every
// layer takes the marks from here.
#pragma once

namespace vetlina {

// A value that was not measured (a missing table item, the throughput of a session
// without its test, the selective interference of an empty spectrum).
inline constexpr float kNotMeasured = -999.0f;

// A value that has been through arithmetic (a float read back, a sum, a mean) counts
// as not measured at or below this bound rather than only at the mark itself.
inline constexpr float kNotMeasuredBound = -998.0f;

// Results of the level-like kinds (levels, ratios, distortions, tone attenuations)
// count as measured only above this bound; far lower values are marks or remnants of
// them. Group delays, which may lie far below, have a bound of their own.
inline constexpr float kMeasuredFloor = -900.0f;

// A norm of this value is "no norm" (shown "   *"); any norm at or below
// kNoNormBound counts as absent.
inline constexpr float kNoNorm = -999.0f;
inline constexpr float kNoNormBound = -998.0f;

} // namespace vetlina
