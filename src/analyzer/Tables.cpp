#include "analyzer/Tables.h"

namespace vetlina {

double lookupTable(std::span<const double> xs, std::span<const double> ys, double x) {
    const std::size_t n = std::min(xs.size(), ys.size());
    if (n == 0)
        return 0.0;
    if (!(x > xs[0]))
        return ys[0];
    if (x >= xs[n - 1])
        return ys[n - 1];
    std::size_t i = 1;
    while (i < n - 1 && x >= xs[i])
        ++i;
    const double x0 = xs[i - 1], x1 = xs[i];
    return ys[i - 1] + (ys[i] - ys[i - 1]) * (x - x0) / (x1 - x0);
}

double psophometricAttenuation(double hz) {
    static constexpr double kHz[] = {16,   50,   100,  200,  300,  400,  500,  600,
                                     700,  800,  900,  1000, 1200, 1400, 1600, 1800,
                                     2000, 2500, 3000, 3500, 4000, 4500, 5000, 6000};
    static constexpr double kDb[] = {85.0, 63.0, 41.0, 21.0, 10.6, 6.3,  3.6,  2.0,
                                     0.9,  0.0,  -0.6, -1.0, 0.0,  0.9,  1.7,  2.4,
                                     3.0,  4.2,  5.6,  8.5,  15.0, 25.0, 36.0, 43.0};
    return lookupTable(kHz, kDb, hz);
}

double phaseJumpCorrection(double degrees) {
    static constexpr double kDeg[] = {5, 10, 20, 30, 40};
    static constexpr double kFactor[] = {1.0, 1.03, 1.05, 1.06, 1.063};
    return lookupTable(kDeg, kFactor, degrees);
}

namespace {
struct HannOffsetTable {
    std::array<double, 65> ratio{};
    std::array<double, 65> offset{};
    HannOffsetTable() {
        for (int m = 0; m <= 64; ++m) {
            const double d = m / 128.0;
            const double a = (1.0 + d) / (2.0 - d);
            ratio[m] = a * a;
            offset[m] = d;
        }
    }
};
} // namespace

double hannBinOffset(double ratio) {
    static const HannOffsetTable table;
    return lookupTable(table.ratio, table.offset, ratio);
}

double impedanceValidityThreshold(double ohm) {
    static constexpr double kOhm[] = {300, 600, 1000, 2000, 4000, 6000, 10000, 20000, 30000, 40000};
    static constexpr double kRatio[] = {0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.3, 0.5, 1.0};
    return lookupTable(kOhm, kRatio, ohm);
}

} // namespace vetlina
