#include "sim/channel/ChannelPath.h"

#include "sim/network/Config.h"

#include <cmath>
#include <numbers>

namespace vetlina::sim {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kNoiseLowHz = 300.0;
constexpr double kNoiseHighHz = 3400.0;
// An impulse: a 1 kHz oscillation starting at its peak and decaying with 0.25 ms over
// 1 ms.
constexpr double kImpulseHz = 1000.0;
constexpr double kImpulseDecaySamples = 3.2;
constexpr int kImpulseSamples = 13;

double samplesOf(double ms) {
    return ms * kMeterRate / 1000.0;
}

} // namespace

double dividerInputOhm(bool gain) {
    return gain ? 39888.9 : 31111.1;
}

std::complex<double> dividerTransfer(const std::optional<std::complex<double>>& line, bool gain) {
    const double rIn = dividerInputOhm(gain);
    // The meter's input resistance, with the line across it.
    std::complex<double> shunt = rIn;
    if (line) {
        if (std::abs(*line) == 0.0)
            return 0.0; // a short circuit across the input
        shunt = rIn * *line / (rIn + *line);
    }
    return shunt / (kDividerReferenceOhm + shunt);
}

std::optional<std::complex<double>> lineImpedance(const DirectionModel& model, double hz) {
    const double w = 2.0 * kPi * hz;
    const double r = model.impedanceOhm;
    const double c = model.impedanceCapacitanceUf * 1e-6;
    const double l = model.impedanceInductanceMh * 1e-3;
    if (!model.impedanceParallel) {
        double reactance = w * l;
        if (c > 0.0)
            reactance -= 1.0 / (w * c);
        return std::complex<double>(r, reactance);
    }
    // In parallel each element that is there adds its admittance.
    std::complex<double> admittance = 0.0;
    if (r > 0.0)
        admittance += 1.0 / r;
    if (c > 0.0)
        admittance += std::complex<double>(0.0, w * c);
    if (l > 0.0)
        admittance += std::complex<double>(0.0, -1.0 / (w * l));
    if (admittance == 0.0)
        return std::nullopt;
    return 1.0 / admittance;
}

// ---- schedules -----------------------------------------------------------------------------

ChannelPath::Schedule::Schedule(const EventSchedule& config, int64_t origin, uint32_t seed)
    : config_(config), random_(seed) {
    if (config.everyS) {
        active_ = true;
        next_ = origin + static_cast<int64_t>(std::llround(config.firstS * kMeterRate));
    } else if (config.perMinute && *config.perMinute > 0.0) {
        active_ = true;
        next_ = origin;
        advance();
    }
}

void ChannelPath::Schedule::advance() {
    if (config_.everyS) {
        next_ += std::max<int64_t>(1, std::llround(*config_.everyS * kMeterRate));
    } else {
        std::exponential_distribution<double> gap(*config_.perMinute / 60.0 / kMeterRate);
        next_ += std::max<int64_t>(1, std::llround(gap(random_)));
    }
}

// ---- the path ------------------------------------------------------------------------------

const DirectionModel& ChannelPath::directionOf(const FarEnd& far) const {
    return far.channel == nullptr ? ideal_ : far.channel->model.direction(far.reversed);
}

void ChannelPath::follow(int64_t first, const std::optional<FarEnd>& far,
                         const LineConnection& connection) {
    const bool present = far.has_value() && connection.line;
    const GeneratorSignal signal = present ? far->signal : GeneratorSignal{};
    const ChannelConfig* channel = present ? far->channel : nullptr;
    const bool reversed = present && far->reversed;
    const bool sameConnection =
        present == farPresent_ && channel == farChannel_ && reversed == farReversed_;
    if (sameConnection && signal == farSignal_)
        return;
    farPresent_ = present;
    farSignal_ = signal;
    farChannel_ = channel;
    farReversed_ = reversed;
    direction_ = present ? &directionOf(*far) : nullptr;

    if (!sameConnection) {
        // A new connection: its noise and its events start now.
        connectionStart_ = first;
        noise_.reset();
        phaseHits_ = levelHits_ = impulses_ = interruptions_ = Schedule();
        hitPhase_ = 0.0;
        levelHitEnd_ = interruptionEnd_ = impulseStart_ = -1;
        impulseSign_ = 1.0;
        farDelay_.clear();
        if (direction_ != nullptr) {
            const DirectionModel& d = *direction_;
            if (d.noiseDbm)
                noise_ =
                    std::make_unique<BandNoise>(kNoiseLowHz, kNoiseHighHz, *d.noiseDbm, d.seed);
            phaseHits_ = Schedule(d.phaseHits, first, d.seed * 31u + 1u);
            levelHits_ = Schedule(d.levelHits, first, d.seed * 31u + 2u);
            impulses_ = Schedule(d.impulses, first, d.seed * 31u + 3u);
            interruptions_ = Schedule(d.interruptions, first, d.seed * 31u + 4u);
        }
    }

    std::vector<Tone> tones = signalTones(signal);
    if (direction_ != nullptr) {
        for (Tone& tone : tones) {
            tone.amplitude *= std::pow(10.0, -direction_->lossDb(tone.frequencyHz) / 20.0);
            tone.phase += direction_->delayPhase(tone.frequencyHz);
            tone.frequencyHz += direction_->frequencyShiftHz;
        }
    }
    farTones_ = ToneBank(std::move(tones), first);
}

void ChannelPath::followDivider(const Zmk5Generator& own, const LineConnection& connection) {
    if (connection.divider != LineConnection::Divider::Measure)
        return;
    const DirectionModel* model =
        farPresent_ && direction_ != nullptr && direction_->impedanceGiven ? direction_ : nullptr;
    const ToneBank& bank = own.steadyTones();
    if (own.steadySignal() == dividerSignal_ && bank.origin() == dividerOrigin_ &&
        model == dividerModel_ && connection.gain == dividerInputGain_)
        return;
    dividerSignal_ = own.steadySignal();
    dividerOrigin_ = bank.origin();
    dividerModel_ = model;
    dividerInputGain_ = connection.gain;
    std::vector<Tone> tones = bank.tones();
    for (Tone& tone : tones) {
        // Without a line (no call, or no impedance given) nothing is across the input.
        const std::complex<double> h = dividerTransfer(
            model != nullptr ? lineImpedance(*model, tone.frequencyHz) : std::nullopt,
            connection.gain);
        tone.amplitude *= std::abs(h);
        tone.phase += std::arg(h);
    }
    dividerTones_ = ToneBank(std::move(tones), bank.origin());
}

void ChannelPath::renderFar(int64_t first, std::span<double> out) {
    const std::size_t n = out.size();
    const DirectionModel& d = *direction_;
    analytic_.assign(n, {});
    farTones_.renderAnalytic(first, analytic_);
    std::vector<double> noise(n, 0.0);
    if (noise_)
        noise_->render(noise);

    const double jitterPeak = d.phaseJitterPpDeg / 2.0 * kPi / 180.0;
    const double jitterStep = 2.0 * kPi * d.phaseJitterHz / kMeterRate;
    const double amDepth = d.amplitudeJitterPpPercent / 200.0;
    const double amStep = 2.0 * kPi * d.amplitudeJitterHz / kMeterRate;
    const double hitGain = std::pow(10.0, d.levelHitDb / 20.0);
    const auto hitSamples = static_cast<int64_t>(std::llround(samplesOf(d.levelHitMs)));
    const auto breakSamples = static_cast<int64_t>(std::llround(samplesOf(d.interruptionMs)));
    const double impulsePeak = sineAmplitude(d.impulsePeakDbm);
    // The harmonic curve (x + a2 x^2 + a3 x^3) / (1 + 3u): a sine of amplitude A gets a 2nd
    // harmonic of a2 A^2 / 2, a 3rd of a3 A^3 / 4 = u A and a fundamental of A (1 + 3u);
    // at the stated level A0 the division keeps the fundamental at A0 and the two
    // harmonics at their shares of it.
    const double reference = sineAmplitude(d.harmonicsAtDbm);
    const double k2 = d.secondHarmonicPercent / 100.0;
    const double k3 = d.thirdHarmonicPercent / 100.0;
    const double u = k3 / (1.0 - 3.0 * k3);
    const double a2 = 2.0 * k2 * (1.0 + 3.0 * u) / reference;
    const double a3 = 4.0 * u / (reference * reference);
    const double curveScale = 1.0 / (1.0 + 3.0 * u);
    const bool listener = d.listenerEchoLossDb.has_value();
    const double listenerGain = listener ? std::pow(10.0, -*d.listenerEchoLossDb / 20.0) : 0.0;
    const auto echoDelay =
        static_cast<std::size_t>(std::max<int64_t>(1, std::llround(samplesOf(d.echoDelayMs))));

    for (std::size_t i = 0; i < n; ++i) {
        const int64_t s = first + static_cast<int64_t>(i);
        const auto t = static_cast<double>(s - connectionStart_);
        while (phaseHits_.active() && phaseHits_.next() <= s) {
            hitPhase_ += d.phaseHitDeg * kPi / 180.0;
            phaseHits_.advance();
        }
        const double theta = hitPhase_ + jitterPeak * std::sin(jitterStep * t);
        double r =
            theta == 0.0 ? analytic_[i].real() : (analytic_[i] * std::polar(1.0, theta)).real();
        if (a2 != 0.0 || a3 != 0.0)
            r = (r + a2 * r * r + a3 * r * r * r) * curveScale;
        double gain = 1.0 + amDepth * std::sin(amStep * t);
        while (levelHits_.active() && levelHits_.next() <= s) {
            levelHitEnd_ = levelHits_.next() + hitSamples;
            levelHits_.advance();
        }
        if (s < levelHitEnd_)
            gain *= hitGain;
        r *= gain;
        if (listener) {
            const double echo = listenerGain * farDelay_.delayed(echoDelay);
            farDelay_.push(r);
            r += echo;
        }
        r += noise[i];
        while (interruptions_.active() && interruptions_.next() <= s) {
            interruptionEnd_ = interruptions_.next() + breakSamples;
            interruptions_.advance();
        }
        if (s < interruptionEnd_)
            r = 0.0;
        while (impulses_.active() && impulses_.next() <= s) {
            impulseStart_ = impulses_.next();
            impulseSign_ = -impulseSign_;
            impulses_.advance();
        }
        if (impulseStart_ >= 0 && s - impulseStart_ < kImpulseSamples) {
            const auto k = static_cast<double>(s - impulseStart_);
            r += -impulseSign_ * impulsePeak * std::exp(-k / kImpulseDecaySamples) *
                 std::cos(2.0 * kPi * kImpulseHz * k / kMeterRate);
        }
        out[i] += r;
    }
}

void ChannelPath::render(int64_t first, std::span<double> out, const std::optional<FarEnd>& far,
                         const Zmk5Generator& own, const LineConnection& connection) {
    follow(first, far, connection);
    followDivider(own, connection);
    const std::size_t n = out.size();
    ownBuffer_.assign(n, 0.0);
    own.render(first, ownBuffer_);

    // The divider's reference is taken with the line switched away from the meter.
    const bool lineHeard = farPresent_ && connection.divider != LineConnection::Divider::Reference;
    if (lineHeard)
        renderFar(first, out);

    // The own signal's echo from the line, and its history for later echoes.
    const bool talker = lineHeard && direction_->echoReturnLossDb.has_value();
    const double echoGain = talker ? std::pow(10.0, -*direction_->echoReturnLossDb / 20.0) : 0.0;
    const auto delay =
        talker ? static_cast<std::size_t>(std::llround(samplesOf(direction_->echoDelayMs))) : 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (talker)
            out[i] += echoGain * (delay == 0 ? ownBuffer_[i] : ownDelay_.delayed(delay));
        ownDelay_.push(ownBuffer_[i]);
    }

    if (connection.ownDirect) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] += ownBuffer_[i];
    } else if (connection.divider == LineConnection::Divider::Reference) {
        const double h = dividerTransfer(std::nullopt, connection.gain).real();
        for (std::size_t i = 0; i < n; ++i)
            out[i] += h * ownBuffer_[i];
    } else if (connection.divider == LineConnection::Divider::Measure) {
        dividerTones_.render(first, out);
    }
}

} // namespace vetlina::sim
