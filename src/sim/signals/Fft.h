// The simulator's own discrete Fourier transform: an in-place radix-2 transform of
// complex values, used by the simulated instruments (band-limited noise, the
// analyzer's recognition of the multi-frequency comb) and by their tests.
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace vetlina::sim {

using Complex = std::complex<double>;

// Forward transform X[k] = sum x[n] e^{-2 pi i k n / N}, or with inverse the
// transform with e^{+...} divided by N. N must be a power of two.
void fft(std::span<Complex> values, bool inverse = false);

// Power of each bin 0..N/2-1 of a real sequence whose length is a power of two.
std::vector<double> powerSpectrum(std::span<const double> samples);

} // namespace vetlina::sim
