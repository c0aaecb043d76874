#include "reports/ConfidenceTables.h"

#include <algorithm>

namespace vetlina {
namespace {

constexpr std::array<double, kConfidenceFactors> kF1 = {
    0,    6.5,  4.3,  3.2,  2.74, 2.49, 2.33, 2.22, 2.13, 2.07, 2.01, 1.97, 1.93,
    1.9,  1.87, 1.84, 1.82, 1.8,  1.78, 1.77, 1.75, 1.74, 1.72, 1.71, 1.7,  1.69,
    1.68, 1.67, 1.67, 1.66, 1.66, 1.65, 1.64, 1.64, 1.63, 1.63, 1.62, 1.62, 1.61,
    1.6,  1.6,  1.59, 1.59, 1.58, 1.58, 1.57, 1.57, 1.57, 1.56, 1.56};

constexpr std::array<double, kConfidenceFactors> kF2 = {
    0,    3.5,  1.85, 1.25, 1.0,  0.75, 0.67, 0.64, 0.62, 0.61, 0.6,  0.6,  0.59,
    0.58, 0.58, 0.57, 0.56, 0.56, 0.55, 0.55, 0.54, 0.54, 0.53, 0.53, 0.52, 0.52,
    0.51, 0.51, 0.51, 0.5,  0.5,  0.49, 0.49, 0.48, 0.48, 0.48, 0.48, 0.48, 0.47,
    0.47, 0.47, 0.47, 0.46, 0.46, 0.46, 0.46, 0.46, 0.45, 0.45, 0.45};

constexpr std::array<double, kConfidenceFactors>
negated(const std::array<double, kConfidenceFactors>& t) {
    std::array<double, kConfidenceFactors> out{};
    for (int i = 0; i < kConfidenceFactors; ++i)
        out[i] = -t[i];
    return out;
}

constexpr std::array<double, kConfidenceFactors> kF3 = negated(kF2);

} // namespace

ConfidenceFactors confidenceFactors(int sessionsDone) {
    const int k = std::clamp(sessionsDone - 1, 0, kConfidenceFactors - 1);
    return {kF1[k], kF2[k], kF3[k]};
}

const std::array<double, kConfidenceFactors>& confidenceTable1() {
    return kF1;
}
const std::array<double, kConfidenceFactors>& confidenceTable2() {
    return kF2;
}
const std::array<double, kConfidenceFactors>& confidenceTable3() {
    return kF3;
}

} // namespace vetlina
