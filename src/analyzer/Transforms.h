// The spectral transforms of the computation: an in-place radix-2 complex transform
// with bit reversal, and the real transform built on it with the real-signal split
// step. Tables are made once at construction; a transform allocates nothing.
#pragma once

#include <cstdint>
#include <vector>

namespace vetlina {

// Complex transform of n points (n a power of two), interleaved re, im floats.
// forward: X[k] = sum x[m] e^(-2 pi i k m / n); inverse: the same with e^(+...),
// unnormalised (inverse(forward(x)) = n x).
class ComplexTransform {
public:
    explicit ComplexTransform(int n);
    int size() const { return n_; }
    void forward(float* data) const { run(data, -1.0f); }
    void inverse(float* data) const { run(data, +1.0f); }

private:
    void run(float* data, float sign) const;

    int n_;
    std::vector<float> cos_;                           // cos(2 pi k / n), k < n/2
    std::vector<float> sin_;                           // sin(2 pi k / n)
    std::vector<std::pair<uint32_t, uint32_t>> swaps_; // bit-reversal pairs
};

// Real transform of n samples (n a power of two, at least 4) in place: the n/2-point
// complex transform of the even and odd samples as one complex sequence, then the split
// step. The result is the plain (unnormalised) transform of the n real samples:
// data[2k], data[2k+1] = re, im of X[k] for k = 1 .. n/2-1, data[0] = X[0] and
// data[1] = X[n/2] (both real).
class RealTransform {
public:
    explicit RealTransform(int n);
    int size() const { return n_; }
    void forward(float* data) const;

private:
    int n_;
    ComplexTransform half_;
    std::vector<float> cos_; // cos(2 pi k / n), k <= n/4
    std::vector<float> sin_;
};

} // namespace vetlina
