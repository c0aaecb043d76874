#include "sim/signals/BandNoise.h"

#include "sim/signals/Fft.h"
#include "sim/signals/Signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vetlina::sim {

BandNoise::BandNoise(double lowHz, double highHz, double levelDbm, uint32_t seed)
    : levelDbm_(levelDbm), random_(seed), gauss_(0.0, 1.0), window_(kBlock), previous_(kBlock, 0.0),
      current_(kBlock, 0.0) {
    const double binHz = kMeterRate / kBlock;
    lowBin_ = std::clamp(static_cast<int>(std::ceil(lowHz / binHz)), 1, kBlock / 2 - 1);
    highBin_ = std::clamp(static_cast<int>(std::floor(highHz / binHz)), lowBin_, kBlock / 2 - 1);
    for (int n = 0; n < kBlock; ++n)
        window_[n] = std::sin(std::numbers::pi * (n + 0.5) / kBlock);
    // A sample is 2/N times the sum over the band of Re(X_k e^{...}), each of variance 1:
    // the block's variance is 4 x bins / N^2 before scaling; scaled to the stated power.
    const int bins = highBin_ - lowBin_ + 1;
    scale_ =
        kBlock / (2.0 * std::sqrt(static_cast<double>(bins))) * std::pow(10.0, levelDbm / 20.0);
    nextBlock();
    previous_.swap(current_);
    nextBlock();
}

void BandNoise::nextBlock() {
    std::vector<Complex> spectrum(kBlock);
    for (int k = lowBin_; k <= highBin_; ++k) {
        const Complex value(gauss_(random_), gauss_(random_));
        spectrum[k] = value;
        spectrum[kBlock - k] = std::conj(value);
    }
    fft(spectrum, true);
    for (int n = 0; n < kBlock; ++n)
        current_[n] = spectrum[n].real() * scale_ * window_[n];
}

void BandNoise::render(std::span<double> out) {
    constexpr int half = kBlock / 2;
    for (double& sample : out) {
        sample += previous_[half + position_] + current_[position_];
        if (++position_ == half) {
            position_ = 0;
            previous_.swap(current_);
            nextBlock();
        }
    }
}

} // namespace vetlina::sim
