#include "sim/analyzer/Zmk5Events.h"

#include "sim/analyzer/Zmk5Meter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vetlina::sim {

namespace {

constexpr int kSecondSamples = 12800;
constexpr int kHitEnvelopes = 7; // 4.4 ms at 1600 per second
// A lasting level change becomes the new mean after 0.2 s.
constexpr int kLevelFollowEnvelopes = 320;
constexpr double kMinimumWindowSamples = 12.8; // 1 ms
constexpr int kHitGuardEnvelopes = 48;         // 30 ms: the envelope filter's delay and rise
constexpr double kLevelMeanWeight = 1.0 / 320.0;
constexpr uint8_t kImpulseSecond = 1;
constexpr uint8_t kInterruptionSecond = 2;

double levelCodesRms(double relDb) {
    return kMeterFullScaleRms * std::pow(10.0, (relDb - kMeterFullScaleDb) / 20.0);
}

} // namespace

zmk5::ThresholdSet thresholdWords(double impulseRelDb, double interruptionRelDb, double levelJumpDb,
                                  double phaseJumpDeg) {
    zmk5::ThresholdSet t;
    t.impulse = static_cast<int>(
        std::min(32767.0, std::pow(10.0, (impulseRelDb + 9.43) * 0.05) * 8192.0 + 0.5));
    t.interruption = static_cast<uint32_t>(
        std::pow(10.0, (interruptionRelDb - 2.125) * 0.1) * 1073676289.0 + 0.5);
    const double g = levelJumpDb * 0.88;
    t.levelDrop = static_cast<int>((1.0 - std::pow(10.0, -g * 0.05)) * 8192.0);
    t.levelRise = static_cast<int>((1.0 - std::pow(10.0, g * 0.05)) * 8192.0);
    t.phase = static_cast<int>(std::sin(phaseJumpDeg * std::numbers::pi / 180.0) * 6307.84);
    return t;
}

Zmk5Events::Zmk5Events() {
    // The power-on settings: -14 and -24 dBm in the 0 dBm range, 4 dB, 15 degrees,
    // 125 ms dead times.
    setThresholds(thresholdWords(-14.0, -24.0, 4.0, 15.0));
    setDeadTimes({1600, 1600, 200, 200});
}

void Zmk5Events::setThresholds(const zmk5::ThresholdSet& t) {
    thresholds_ = t;
    impulsePeak_ =
        t.impulse > 0 ? std::sqrt(2.0) * levelCodesRms(20.0 * std::log10(t.impulse / 8192.0) - 9.43)
                      : 0.0;
    if (t.interruption > 0) {
        const double rel = 10.0 * std::log10(t.interruption / 1073676289.0) + 2.125;
        const double rms = levelCodesRms(rel);
        interruptionPower_ = rms * rms;
    } else {
        interruptionPower_ = 0.0;
    }
    levelLow_ = 1.0 - t.levelDrop / 8192.0;
    levelHigh_ = 1.0 - t.levelRise / 8192.0;
    phaseLimit_ = std::asin(std::clamp(t.phase / 6307.84, -1.0, 1.0));
}

void Zmk5Events::setDeadTimes(const zmk5::DeadTimeSet& deadTimes) {
    deadTimes_ = deadTimes;
}

void Zmk5Events::reset(double sineHz) {
    sample_ = 0;
    envelope_ = 0;
    counts_ = {};
    seconds_.clear();
    impulseDeadUntil_ = 0;
    beyond_ = false;
    // The power window spans whole periods of the sine, so that it does not ripple.
    const double period = kSecondSamples / std::max(sineHz, 1.0);
    const double periods = std::ceil(kMinimumWindowSamples / period);
    squares_.assign(static_cast<std::size_t>(std::max(1.0, std::round(periods * period))), 0.0);
    squaresHead_ = 0;
    squaresSum_ = 0.0;
    squaresSeen_ = 0;
    interrupted_ = false;
    interruptionStart_ = 0;
    interruptionDeadUntil_ = 0;
    interruptionCounted_ = true;
    hitsBlockedUntil_ = 0;
    settle_ = false;
    meanAmplitude_ = 0.0;
    levelOutSince_ = -1;
    levelCounted_ = false;
    levelDeadUntil_ = 0;
    phaseOutSince_ = -1;
    phaseDeadUntil_ = 0;
}

void Zmk5Events::markSecond(int64_t second, uint8_t flag) {
    if (second < 0)
        return;
    if (static_cast<std::size_t>(second) >= seconds_.size())
        seconds_.resize(static_cast<std::size_t>(second) + 1, 0);
    uint8_t& flags = seconds_[static_cast<std::size_t>(second)];
    if (flag == kInterruptionSecond && !(flags & kInterruptionSecond))
        ++counts_.interruptionSeconds;
    if (flags == 0)
        ++counts_.erroredSeconds;
    flags |= flag;
}

void Zmk5Events::endInterruption(int64_t endSample) {
    interrupted_ = false;
    // The power window ran over the interruption's edges: at the start it stayed above
    // the threshold for about a window, at the end it falls below it only briefly.
    const int64_t window = static_cast<int64_t>(squares_.size());
    const int64_t start = std::max<int64_t>(0, interruptionStart_ - window + 1);
    const int64_t length = endSample - start;
    if (!interruptionCounted_)
        return; // began inside the dead time of the previous one
    interruptionDeadUntil_ = endSample + deadTimes_.interruption;
    const double ms = length * 1000.0 / kSecondSamples;
    const int cls = ms < 3.0 ? 0 : ms < 30.0 ? 1 : ms < 300.0 ? 2 : ms < 1000.0 ? 3 : 4;
    if (counts_.interruptions[cls] < 65535)
        ++counts_.interruptions[cls];
    if (cls == 0)
        return;
    counts_.interruptionSamples += static_cast<uint32_t>(length);
    for (int64_t s = start / kSecondSamples; s <= (endSample - 1) / kSecondSamples; ++s)
        markSecond(s, kInterruptionSecond);
}

void Zmk5Events::feed(Zmk5Tracker& tracker, bool envelope) {
    const int64_t n = sample_++;
    measureInputPower(tracker.input());
    // Nothing is counted before the tracker has settled on the sine.
    if (tracker.locked()) {
        countImpulses(n, tracker.residual());
        followInterruption(n);
    }

    if (!envelope)
        return;
    const int64_t m = envelope_++;
    if (!tracker.locked())
        return;
    const double amplitude = tracker.amplitude();
    if (!guardInterruption(tracker, m, amplitude))
        return;
    countLevelHits(m, amplitude);
    countPhaseHits(tracker, m);
}

// The input itself, before the notch: its power over the window.
void Zmk5Events::measureInputPower(double x) {
    squaresSum_ += x * x - squares_[squaresHead_];
    squares_[squaresHead_] = x * x;
    squaresHead_ = (squaresHead_ + 1) % squares_.size();
    ++squaresSeen_;
}

// Impulses, on every sample of the notched input (r).
void Zmk5Events::countImpulses(int64_t n, double r) {
    const bool beyond = impulsePeak_ > 0.0 && std::abs(r) >= impulsePeak_;
    if (beyond) {
        if (r > 0)
            ++counts_.positiveImpulseSamples;
        else
            ++counts_.negativeImpulseSamples;
        if (!beyond_) {
            if (n >= impulseDeadUntil_) {
                impulseDeadUntil_ = n + deadTimes_.impulse;
                const int64_t second = n / kSecondSamples;
                const bool fresh = static_cast<std::size_t>(second) >= seconds_.size() ||
                                   !(seconds_[static_cast<std::size_t>(second)] & kImpulseSecond);
                if (r > 0) {
                    if (counts_.positiveImpulses < 65535)
                        ++counts_.positiveImpulses;
                    if (fresh)
                        ++counts_.positiveImpulseSeconds;
                } else {
                    if (counts_.negativeImpulses < 65535)
                        ++counts_.negativeImpulses;
                    if (fresh)
                        ++counts_.negativeImpulseSeconds;
                }
                markSecond(second, kImpulseSecond);
            } else if (counts_.suppressedCrossings < 65535) {
                ++counts_.suppressedCrossings;
            }
        }
    }
    beyond_ = beyond;
}

// Interruptions: the sine's power below the threshold.
void Zmk5Events::followInterruption(int64_t n) {
    const double power = squaresSum_ / static_cast<double>(squares_.size());
    const bool low = interruptionPower_ > 0.0 && power < interruptionPower_;
    if (low && !interrupted_) {
        interrupted_ = true;
        interruptionStart_ = n;
        interruptionCounted_ = n >= interruptionDeadUntil_;
    } else if (!low && interrupted_) {
        endInterruption(n);
    }
}

// Around an interruption the envelope (which lags the input by the filter's delay)
// means nothing; afterwards the loop and the mean start from what is there. False
// while the envelope value m is not to be judged for hits.
bool Zmk5Events::guardInterruption(Zmk5Tracker& tracker, int64_t m, double amplitude) {
    if (interrupted_) {
        hitsBlockedUntil_ = m + kHitGuardEnvelopes;
        settle_ = true;
    }
    if (m < hitsBlockedUntil_) {
        tracker.hold(true);
        return false;
    }
    if (settle_) {
        settle_ = false;
        tracker.relock();
        tracker.hold(false);
        meanAmplitude_ = amplitude;
        levelOutSince_ = -1;
        phaseOutSince_ = -1;
        return false;
    }
    return true;
}

void Zmk5Events::countLevelHits(int64_t m, double amplitude) {
    if (meanAmplitude_ <= 0.0)
        meanAmplitude_ = amplitude;
    const double ratio = amplitude / meanAmplitude_;
    if (ratio < levelLow_ || ratio > levelHigh_) {
        if (levelOutSince_ < 0) {
            levelOutSince_ = m;
            levelCounted_ = false;
        }
        const int64_t length = m - levelOutSince_ + 1;
        if (!levelCounted_ && length >= kHitEnvelopes) {
            levelCounted_ = true;
            if (m >= levelDeadUntil_) {
                levelDeadUntil_ = m + deadTimes_.levelHit;
                if (counts_.levelHits < 65535)
                    ++counts_.levelHits;
            }
        }
        if (length >= kLevelFollowEnvelopes) {
            meanAmplitude_ = amplitude;
            levelOutSince_ = -1;
        }
    } else {
        levelOutSince_ = -1;
        meanAmplitude_ += kLevelMeanWeight * (amplitude - meanAmplitude_);
    }
}

void Zmk5Events::countPhaseHits(Zmk5Tracker& tracker, int64_t m) {
    if (std::abs(tracker.phaseError()) > phaseLimit_) {
        if (phaseOutSince_ < 0)
            phaseOutSince_ = m;
        tracker.hold(true);
        if (m - phaseOutSince_ + 1 >= kHitEnvelopes) {
            if (m >= phaseDeadUntil_) {
                phaseDeadUntil_ = m + deadTimes_.phaseHit;
                if (counts_.phaseHits < 65535)
                    ++counts_.phaseHits;
            }
            tracker.relock();
            tracker.hold(false);
            phaseOutSince_ = -1;
        }
    } else {
        phaseOutSince_ = -1;
        tracker.hold(false);
    }
}

zmk5::EventStatistics Zmk5Events::statistics() const {
    zmk5::EventStatistics s = counts_;
    s.timeMs = static_cast<uint32_t>(sample_ * 1000 / kSecondSamples);
    s.impulseThreshold = static_cast<int16_t>(thresholds_.impulse);
    s.interruptionThreshold = thresholds_.interruption;
    s.levelDropThreshold = static_cast<int16_t>(thresholds_.levelDrop);
    s.levelRiseThreshold = static_cast<int16_t>(thresholds_.levelRise);
    s.phaseThreshold = static_cast<int16_t>(thresholds_.phase);
    return s;
}

} // namespace vetlina::sim
