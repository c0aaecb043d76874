// The ZMK-5's sine tracker: while the meter follows a sine (after a restart with a
// spectral bin), it demodulates the input at the sine's frequency into an envelope
// of 1600 complex values a second, follows its phase with a phase-locked loop, and
// notches the sine out of the input for the impulse counter.
//
// Demodulation: the input times e^{-j 2 pi f0 t}, low-passed by a 255-tap
// Blackman-windowed sinc with a 250 Hz cut-off (the image at 2 f0 is 74 dB down even
// for a 300 Hz sine) and taken every 8th sample. The envelope lags the input by 127
// samples (10 ms). The loop (natural frequency 3.6 Hz, damping 0.7) starts from the
// mean phase step of the first 40 ms, so it needs no pull-in.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

namespace vetlina::sim {

class Zmk5Tracker {
public:
    static constexpr int kDecimation = 8; // 12 800 / 1600
    static constexpr int kFilterTaps = 255;
    static constexpr int kAcquireEnvelopes = 64; // 40 ms

    Zmk5Tracker();

    // Follows a sine near frequencyHz from now on (all state cleared).
    void start(double frequencyHz);
    void stop();
    bool active() const { return active_; }

    // One input sample (codes). Returns true when it completed an envelope value.
    bool feed(double sample);

    // The last input sample, and the sine notched out of it (codes).
    double input() const { return x1_; }
    double residual() const { return residual_; }

    // The last envelope value: the sine's peak amplitude in codes, and the phase
    // error of the loop in rad (measured minus predicted, within +-pi).
    double amplitude() const { return amplitude_; }
    double phaseError() const { return phaseError_; }
    // True once the loop has its frequency (after the first 40 ms).
    bool locked() const { return locked_; }

    // While held the loop keeps predicting but does not follow the measurement (during
    // an interruption, or while a phase hit is being timed). relock() takes the
    // measured phase as the loop's phase again.
    void hold(bool on) { held_ = on; }
    void relock();

    // The loop's unwrapped phase (rad, relative to f0 x t) and its frequency.
    double loopPhase() const { return loopPhase_; }
    double frequencyHz() const;
    double nominalHz() const { return nominalHz_; }

private:
    void retuneNotch(double frequencyHz);

    bool active_ = false;
    double nominalHz_ = 0.0;
    std::complex<double> mixStep_{1.0, 0.0};
    std::complex<double> mixer_{1.0, 0.0};
    std::array<double, kFilterTaps> taps_{};
    std::vector<std::complex<double>> history_;
    std::size_t head_ = 0;
    int phaseOfDecimation_ = 0;
    int64_t inputCount_ = 0;

    // Envelope and loop.
    double amplitude_ = 0.0;
    double measuredPhase_ = 0.0;
    double phaseError_ = 0.0;
    double loopPhase_ = 0.0; // unwrapped
    double loopStep_ = 0.0;  // rad per envelope value
    bool locked_ = false;
    bool held_ = false;
    int acquired_ = 0;
    std::complex<double> lastEnvelope_{0.0, 0.0};
    std::complex<double> stepSum_{0.0, 0.0};

    // Notch (second order, pole radius 0.98: about 80 Hz wide).
    double notchB1_ = 0.0, notchA1_ = 0.0, notchA2_ = 0.0;
    double x1_ = 0.0, x2_ = 0.0, y1_ = 0.0, y2_ = 0.0;
    double notchHz_ = 0.0;
    double residual_ = 0.0;
};

} // namespace vetlina::sim
