// The confidence factors of the quality classes: the bound of a class is the mean
// of a parameter moved by its standard deviation times a factor that shrinks as the
// sessions of the cycle grow. Three tables of 50 factors, indexed by the sessions
// completed less one (49 and beyond share the last); the third is the negative of the
// second.
#pragma once

#include <array>

namespace vetlina {

inline constexpr int kConfidenceFactors = 50;

struct ConfidenceFactors {
    double f1;
    double f2;
    double f3; // -f2
};

// The factors for a cycle with sessionsDone sessions completed (k = sessionsDone - 1,
// held to 0..49).
ConfidenceFactors confidenceFactors(int sessionsDone);

// The tables themselves, for their tests.
const std::array<double, kConfidenceFactors>& confidenceTable1();
const std::array<double, kConfidenceFactors>& confidenceTable2();
const std::array<double, kConfidenceFactors>& confidenceTable3();

} // namespace vetlina
