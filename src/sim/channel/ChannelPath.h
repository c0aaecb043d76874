// What one analyzer's meter hears, rendered sample by sample at the meter's rate in
// line units (Signals.h):
// - the far generator's signal through the channel model of the call (ChannelModel.h):
//   each of its tones with the loss and the group-delay phase of its frequency and
//   the frequency shift; then the phase jitter and phase hits, the curve of the
//   harmonics, the amplitude jitter and level hits, the listener echo, the noise, the
//   interruptions and the impulses;
// - the talker echo of the station's own generator;
// - in the echo modes the own generator at the line terminals, and in the impedance
//   modes the own generator through the impedance divider: the generator drives the
//   reference resistor R_ref = 597 ohm into the meter's input resistance R_in =
//   31 111.1 ohm (39 888.9 ohm with the input gain). In the reference modes (274, 282)
//   the line is switched away and the meter sees R_in / (R_ref + R_in) of the
//   generator's voltage; in the bridge modes (275, 283) the line's impedance Z lies
//   across the input, Zp = R_in || Z, and each tone arrives with the complex transfer
//   Zp / (R_ref + Zp). Z has its physical sign (a capacitance has negative reactance).
//   Without a held line, or without an impedance in the channel model, nothing lies
//   across the input.
// Nothing of the line reaches the meter while the line interface has let it go.
#pragma once

#include "sim/analyzer/Zmk5Generator.h"
#include "sim/channel/ChannelModel.h"
#include "sim/exchange/AnalyzerLine.h"
#include "sim/signals/BandNoise.h"
#include "sim/signals/Signals.h"

#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace vetlina::sim {

// What the analyzer's line interface connects, from its line mode.
struct LineConnection {
    bool line = false;      // generator and meter are on the line (the line is held)
    bool ownDirect = false; // the meter hears its own generator at the line terminals
    enum class Divider { None, Reference, Measure };
    Divider divider = Divider::None; // the impedance divider is in circuit
    bool gain = false;               // the input gain (which also sets the divider's R_in)

    bool operator==(const LineConnection&) const = default;
};

constexpr double kDividerReferenceOhm = 597.0;
double dividerInputOhm(bool gain);

// Meter voltage over generator voltage of the impedance divider at one frequency, with
// the line's impedance across the meter's input (nullopt: nothing across it).
std::complex<double> dividerTransfer(const std::optional<std::complex<double>>& line, bool gain);
// The line's impedance at a frequency, from a direction of the channel model (physical
// sign); nullopt for a parallel circuit with nothing in it (an open line).
std::optional<std::complex<double>> lineImpedance(const DirectionModel& model, double hz);

// A sample ring for delayed copies (echoes).
class DelayLine {
public:
    explicit DelayLine(std::size_t capacity = 1 << 15) : buffer_(capacity, 0.0) {}
    void push(double value) {
        buffer_[head_] = value;
        head_ = (head_ + 1) % buffer_.size();
    }
    // The value pushed `delay` pushes ago (1: the last one).
    double delayed(std::size_t delay) const {
        return buffer_[(head_ + buffer_.size() - delay % buffer_.size()) % buffer_.size()];
    }
    void clear() { std::fill(buffer_.begin(), buffer_.end(), 0.0); }

private:
    std::vector<double> buffer_;
    std::size_t head_ = 0;
};

class ChannelPath {
public:
    // Adds samples first .. first + out.size() - 1 of the meter's input to out.
    void render(int64_t first, std::span<double> out, const std::optional<FarEnd>& far,
                const Zmk5Generator& own, const LineConnection& connection);

private:
    // A schedule's event times on the sample clock.
    class Schedule {
    public:
        Schedule() = default;
        Schedule(const EventSchedule& config, int64_t origin, uint32_t seed);
        bool active() const { return active_; }
        // The next event at or after sample n (its time moves on once passed).
        int64_t next() const { return next_; }
        void advance();

    private:
        bool active_ = false;
        EventSchedule config_;
        int64_t next_ = 0;
        std::mt19937 random_;
    };

    const DirectionModel& directionOf(const FarEnd& far) const;
    void follow(int64_t first, const std::optional<FarEnd>& far, const LineConnection& connection);
    void followDivider(const Zmk5Generator& own, const LineConnection& connection);
    void renderFar(int64_t first, std::span<double> out);

    DirectionModel ideal_;

    // The connection: the far signal as it arrives, and what it was made from.
    bool farPresent_ = false;
    GeneratorSignal farSignal_;
    const ChannelConfig* farChannel_ = nullptr;
    bool farReversed_ = false;
    const DirectionModel* direction_ = nullptr;
    int64_t connectionStart_ = 0;
    ToneBank farTones_;
    std::unique_ptr<BandNoise> noise_;
    Schedule phaseHits_, levelHits_, impulses_, interruptions_;
    double hitPhase_ = 0.0;
    int64_t levelHitEnd_ = -1;
    int64_t interruptionEnd_ = -1;
    int64_t impulseStart_ = -1;
    double impulseSign_ = 1.0;
    DelayLine farDelay_;
    DelayLine ownDelay_;

    // The divider's view of the own steady tones.
    ToneBank dividerTones_;
    GeneratorSignal dividerSignal_;
    int64_t dividerOrigin_ = -1;
    const DirectionModel* dividerModel_ = nullptr;
    bool dividerInputGain_ = false;

    std::vector<double> ownBuffer_;
    std::vector<std::complex<double>> analytic_;
};

} // namespace vetlina::sim
