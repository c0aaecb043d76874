#include "analyzer/Transforms.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace vetlina {

ComplexTransform::ComplexTransform(int n) : n_(n) {
    cos_.resize(n / 2);
    sin_.resize(n / 2);
    for (int k = 0; k < n / 2; ++k) {
        const double a = 2.0 * std::numbers::pi * k / n;
        cos_[k] = static_cast<float>(std::cos(a));
        sin_[k] = static_cast<float>(std::sin(a));
    }
    int bits = 0;
    while ((1 << bits) < n)
        ++bits;
    for (uint32_t i = 0; i < static_cast<uint32_t>(n); ++i) {
        uint32_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1u) << (bits - 1 - b);
        if (r > i)
            swaps_.emplace_back(i, r);
    }
}

void ComplexTransform::run(float* data, float sign) const {
    for (const auto& [a, b] : swaps_) {
        std::swap(data[2 * a], data[2 * b]);
        std::swap(data[2 * a + 1], data[2 * b + 1]);
    }
    for (int m = 2; m <= n_; m *= 2) {
        const int half = m / 2;
        const int step = n_ / m;
        for (int j = 0; j < half; ++j) {
            const float wr = cos_[j * step];
            const float wi = sign * sin_[j * step];
            for (int s = j; s < n_; s += m) {
                float* p = data + 2 * s;
                float* q = data + 2 * (s + half);
                const float tr = wr * q[0] - wi * q[1];
                const float ti = wr * q[1] + wi * q[0];
                q[0] = p[0] - tr;
                q[1] = p[1] - ti;
                p[0] += tr;
                p[1] += ti;
            }
        }
    }
}

RealTransform::RealTransform(int n) : n_(n), half_(n / 2) {
    cos_.resize(n / 4 + 1);
    sin_.resize(n / 4 + 1);
    for (int k = 0; k <= n / 4; ++k) {
        const double a = 2.0 * std::numbers::pi * k / n;
        cos_[k] = static_cast<float>(std::cos(a));
        sin_[k] = static_cast<float>(std::sin(a));
    }
}

void RealTransform::forward(float* data) const {
    // Even samples as real parts, odd samples as imaginary parts: Z = FFT(x[2m] + i x[2m+1]).
    half_.forward(data);
    const int h = n_ / 2;
    const float z0r = data[0];
    const float z0i = data[1];
    data[0] = z0r + z0i; // X[0]
    data[1] = z0r - z0i; // X[n/2]
    // X[k] = E[k] + w^k O[k] with E = (Z[k] + conj Z[h-k]) / 2, O = (Z[k] - conj Z[h-k]) / 2i,
    // w = e^(-2 pi i / n); X[h-k] = conj(E - w^k O).
    for (int k = 1; k <= h / 2; ++k) {
        const int j = h - k;
        const float ar = data[2 * k], ai = data[2 * k + 1];
        const float br = data[2 * j], bi = -data[2 * j + 1];
        const float er = 0.5f * (ar + br), ei = 0.5f * (ai + bi);
        // (a - b) / 2i = -i (a - b) / 2
        const float or_ = 0.5f * (ai - bi), oi = -0.5f * (ar - br);
        const float wr = cos_[k], wi = -sin_[k];
        const float tr = wr * or_ - wi * oi;
        const float ti = wr * oi + wi * or_;
        data[2 * k] = er + tr;
        data[2 * k + 1] = ei + ti;
        if (j != k) {
            data[2 * j] = er - tr;
            data[2 * j + 1] = -(ei - ti);
        }
    }
}

} // namespace vetlina
