// One row of the statistics window: a parameter of the cycle held against its norm in
// both directions (B, measured at the calling complex, first; then A, measured at the
// answering complex): the last value, the mean and the standard deviation over the
// sessions, and the quality class 1 (best) to 4, 0 when there is none yet. A row whose
// last value breaks the norm also goes to the pause window's list of broken norms.
#pragma once

#include "platform/ValueMarks.h"
#include "scenario/Statistics.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

// "max": the value must not exceed the norm; "min": it must not fall below it.
enum class NormSense { Max, Min };

// No norm (-999, and anything at or below -998).
inline constexpr double kRowNoNorm = kNoNorm;

// One direction of a row: the held last value, sum and sum of squares (already in the
// row's unit) and the number of sessions that contributed.
struct RowDirection {
    StatValue value{kNotMeasured, 0.0, 0.0};
    int32_t count = 0;
};

// What the rows of one evaluation add up to: the lines of the statistics window
// (StatBox) and of the pause window (ParBox), the session class and whether a norm
// was broken. sessionsDone selects the confidence factors.
struct EvaluationSheet {
    int32_t sessionsDone = 0;
    std::vector<std::string> statLines; // StatBox
    std::vector<std::string> parLines;  // ParBox
    int sessionClass = 0;
    bool normFailed = false;
};

// The classes a row gave its two directions.
struct RowClasses {
    int b = 0;
    int a = 0;
};

// Evaluates one row (label cp1251, 25 characters; a row of "отн." in its label is
// printed "%7.0e", a group-delay row ("ГВП") is missing at -10000 and below, and rows
// of "Сдвиг" or "импеданс" are classed by the absolute mean). A row that is not selected
// adds nothing and has class 0 both ways. norm is the norm in the row's unit, kRowNoNorm
// for none.
RowClasses evaluateRow(EvaluationSheet& sheet, std::string_view label, bool selected,
                       const RowDirection& b, const RowDirection& a, NormSense sense, double norm);

// The mean and standard deviation of a direction as the row shows them; mean -999 and
// present false when no session contributed.
struct RowMoments {
    bool present = false;
    double mean = kNotMeasured;
    double deviation = 0.0;
};
RowMoments rowMoments(const RowDirection& d);

} // namespace vetlina
