#include "analyzer/Transforms.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

namespace vetlina {
namespace {

std::vector<std::complex<double>> naiveDft(const std::vector<std::complex<double>>& x, int sign) {
    const int n = static_cast<int>(x.size());
    std::vector<std::complex<double>> out(n);
    for (int k = 0; k < n; ++k)
        for (int m = 0; m < n; ++m)
            out[k] += x[m] * std::polar(1.0, sign * 2.0 * std::numbers::pi * k * m / n);
    return out;
}

TEST(Transforms, ComplexForwardAndInverseMatchTheDefinition) {
    for (int n : {8, 128, 512}) {
        std::mt19937 rng(n);
        std::uniform_real_distribution<double> u(-1000.0, 1000.0);
        std::vector<std::complex<double>> x(n);
        std::vector<float> data(2 * n);
        for (int i = 0; i < n; ++i) {
            x[i] = {u(rng), u(rng)};
            data[2 * i] = static_cast<float>(x[i].real());
            data[2 * i + 1] = static_cast<float>(x[i].imag());
        }
        ComplexTransform t(n);
        std::vector<float> inverse = data;
        t.forward(data.data());
        t.inverse(inverse.data());
        const auto fx = naiveDft(x, -1), ix = naiveDft(x, +1);
        for (int k = 0; k < n; ++k) {
            EXPECT_NEAR(data[2 * k], fx[k].real(), 0.05 * std::sqrt(n)) << n << " bin " << k;
            EXPECT_NEAR(data[2 * k + 1], fx[k].imag(), 0.05 * std::sqrt(n)) << n << " bin " << k;
            EXPECT_NEAR(inverse[2 * k], ix[k].real(), 0.05 * std::sqrt(n));
            EXPECT_NEAR(inverse[2 * k + 1], ix[k].imag(), 0.05 * std::sqrt(n));
        }
    }
}

TEST(Transforms, RealTransformIsThePlainTransformOfTheRealSamples) {
    for (int n : {4, 16, 256, 1024}) {
        std::mt19937 rng(n + 1);
        std::uniform_real_distribution<double> u(-30000.0, 30000.0);
        std::vector<std::complex<double>> x(n);
        std::vector<float> data(n);
        for (int i = 0; i < n; ++i) {
            data[i] = static_cast<float>(std::round(u(rng)));
            x[i] = data[i];
        }
        RealTransform t(n);
        t.forward(data.data());
        const auto fx = naiveDft(x, -1);
        const double tol = 2e-6 * 30000.0 * n;
        EXPECT_NEAR(data[0], fx[0].real(), tol);
        EXPECT_NEAR(data[1], fx[n / 2].real(), tol);
        for (int k = 1; k < n / 2; ++k) {
            EXPECT_NEAR(data[2 * k], fx[k].real(), tol) << n << " bin " << k;
            EXPECT_NEAR(data[2 * k + 1], fx[k].imag(), tol) << n << " bin " << k;
        }
    }
}

TEST(Transforms, ARealCosineOnABinGivesHalfItsAmplitudeTimesN) {
    // The level scale of the computation rests on this: no normalisation by n.
    const int n = 4096;
    std::vector<float> data(n);
    for (int i = 0; i < n; ++i)
        data[i] = static_cast<float>(1000.0 * std::cos(2.0 * std::numbers::pi * 320 * i / n));
    RealTransform(n).forward(data.data());
    EXPECT_NEAR(data[640], 1000.0 * n / 2, 1.0);
    EXPECT_NEAR(data[641], 0.0, 1.0);
}

} // namespace
} // namespace vetlina
