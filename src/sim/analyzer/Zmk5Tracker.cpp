#include "sim/analyzer/Zmk5Tracker.h"

#include "sim/signals/Signals.h"

#include <cmath>
#include <numbers>

namespace vetlina::sim {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kCutoffHz = 250.0;
constexpr double kEnvelopeRate = kMeterRate / Zmk5Tracker::kDecimation;
constexpr double kLoopProportional = 0.02;
constexpr double kLoopIntegral = 0.0002;
constexpr double kNotchRadius = 0.98;
// The notch follows the loop's frequency when they differ by more than this.
constexpr double kNotchRetuneHz = 0.2;

double wrap(double angle) {
    return std::remainder(angle, 2.0 * kPi);
}

} // namespace

Zmk5Tracker::Zmk5Tracker() : history_(kFilterTaps) {
    const int middle = kFilterTaps / 2;
    double sum = 0.0;
    for (int k = 0; k < kFilterTaps; ++k) {
        const double n = k - middle;
        const double x = 2.0 * kCutoffHz / kMeterRate;
        const double sinc = n == 0 ? x : std::sin(kPi * x * n) / (kPi * n);
        const double phase = 2.0 * kPi * k / (kFilterTaps - 1);
        const double blackman = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
        taps_[k] = sinc * blackman;
        sum += taps_[k];
    }
    for (double& tap : taps_)
        tap /= sum;
}

void Zmk5Tracker::start(double frequencyHz) {
    active_ = true;
    nominalHz_ = frequencyHz;
    mixStep_ = std::polar(1.0, -2.0 * kPi * frequencyHz / kMeterRate);
    mixer_ = {1.0, 0.0};
    std::fill(history_.begin(), history_.end(), std::complex<double>{});
    head_ = 0;
    phaseOfDecimation_ = 0;
    inputCount_ = 0;
    amplitude_ = 0.0;
    measuredPhase_ = 0.0;
    phaseError_ = 0.0;
    loopPhase_ = 0.0;
    loopStep_ = 0.0;
    locked_ = false;
    held_ = false;
    acquired_ = 0;
    lastEnvelope_ = {};
    stepSum_ = {};
    x1_ = x2_ = y1_ = y2_ = 0.0;
    retuneNotch(frequencyHz);
}

void Zmk5Tracker::stop() {
    active_ = false;
}

void Zmk5Tracker::retuneNotch(double frequencyHz) {
    notchHz_ = frequencyHz;
    const double c = std::cos(2.0 * kPi * frequencyHz / kMeterRate);
    notchB1_ = -2.0 * c;
    notchA1_ = -2.0 * kNotchRadius * c;
    notchA2_ = kNotchRadius * kNotchRadius;
}

double Zmk5Tracker::frequencyHz() const {
    return nominalHz_ + loopStep_ * kEnvelopeRate / (2.0 * kPi);
}

void Zmk5Tracker::relock() {
    loopPhase_ += wrap(measuredPhase_ - loopPhase_);
    phaseError_ = 0.0;
}

bool Zmk5Tracker::feed(double sample) {
    // Notch: the pole radius sets the width, the unit-circle zeros remove the sine;
    // the gain is normalised to 1 far from the notch.
    const double y = sample + notchB1_ * x1_ + x2_ - notchA1_ * y1_ - notchA2_ * y2_;
    x2_ = x1_;
    x1_ = sample;
    y2_ = y1_;
    y1_ = y;
    residual_ = y * (1.0 + notchA2_) / 2.0;

    history_[head_] = sample * mixer_;
    head_ = (head_ + 1) % kFilterTaps;
    mixer_ *= mixStep_;
    if ((++inputCount_ & 1023) == 0)
        mixer_ /= std::abs(mixer_);
    if (++phaseOfDecimation_ < kDecimation)
        return false;
    phaseOfDecimation_ = 0;

    std::complex<double> z{};
    std::size_t index = head_; // the oldest value
    for (int k = kFilterTaps - 1; k >= 0; --k) {
        z += taps_[k] * history_[index];
        index = index + 1 == static_cast<std::size_t>(kFilterTaps) ? 0 : index + 1;
    }
    amplitude_ = 2.0 * std::abs(z);
    measuredPhase_ = std::arg(z);

    if (!locked_) {
        // The filter must be full before its output means anything.
        if (inputCount_ >= kFilterTaps) {
            if (acquired_ > 0)
                stepSum_ += z * std::conj(lastEnvelope_);
            lastEnvelope_ = z;
            if (++acquired_ >= kAcquireEnvelopes) {
                loopStep_ = std::arg(stepSum_);
                loopPhase_ = measuredPhase_;
                locked_ = true;
            }
        }
        phaseError_ = 0.0;
        return true;
    }

    loopPhase_ += loopStep_;
    phaseError_ = wrap(measuredPhase_ - loopPhase_);
    if (!held_) {
        loopPhase_ += kLoopProportional * phaseError_;
        loopStep_ += kLoopIntegral * phaseError_;
    }
    const double followed = frequencyHz();
    if (std::abs(followed - notchHz_) > kNotchRetuneHz)
        retuneNotch(followed);
    return true;
}

} // namespace vetlina::sim
