#include "sim/signals/Fft.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace vetlina::sim {

void fft(std::span<Complex> values, bool inverse) {
    const std::size_t n = values.size();
    if (n < 2)
        return;
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(values[i], values[j]);
    }
    const double sign = inverse ? 1.0 : -1.0;
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const double angle = sign * 2.0 * std::numbers::pi / static_cast<double>(length);
        const std::size_t half = length / 2;
        // Twiddles computed directly rather than by recurrence keep the error flat for
        // long transforms.
        for (std::size_t k = 0; k < half; ++k) {
            const Complex w(std::cos(angle * static_cast<double>(k)),
                            std::sin(angle * static_cast<double>(k)));
            for (std::size_t start = 0; start < n; start += length) {
                Complex& a = values[start + k];
                Complex& b = values[start + k + half];
                const Complex t = b * w;
                b = a - t;
                a += t;
            }
        }
    }
    if (inverse) {
        const double scale = 1.0 / static_cast<double>(n);
        for (Complex& value : values)
            value *= scale;
    }
}

std::vector<double> powerSpectrum(std::span<const double> samples) {
    std::vector<Complex> values(samples.begin(), samples.end());
    fft(values);
    std::vector<double> power(values.size() / 2);
    for (std::size_t k = 0; k < power.size(); ++k)
        power[k] = std::norm(values[k]);
    return power;
}

} // namespace vetlina::sim
