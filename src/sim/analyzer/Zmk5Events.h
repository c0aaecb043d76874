// The ZMK-5's event counters of the sine measurement: impulse noise, interruptions,
// level hits and phase hits, counted from the meter's samples while the meter
// follows a sine, with the thresholds and dead times the computer set.
//
// The threshold words are read in the meter's own scale (Zmk5Meter.h: a signal of
// rms 32768 codes is at top + 2.45 dBm):
// - impulse (w1): a level 20 log10(w1/8192) - 9.43 dB relative to the top; an
//   impulse is counted when the input with the sine notched out reaches the peak of a
//   sine at that level;
// - interruption (w2, w3): a level 10 log10(w/32767^2) + 2.125 dB relative to the
//   top; the sine is interrupted while its power is below it;
// - level hits (w4, w5): the sine's amplitude against its recent mean falls below
//   1 - w4/8192 or rises above 1 - w5/8192 for 4 ms or more;
// - phase hits (w6): the phase leaves the loop's prediction by more than
//   asin(w6 / 6307.84) for 4 ms or more.
// A counted event starts its counter's dead time, during which that counter counts
// nothing more. Interruptions are classed by length: dropouts under 3 ms, then 3-30,
// 30-300 and 300-1000 ms, and breaks of 1 s or more; relative time and errored
// seconds take every interruption of 3 ms or more. Seconds are whole seconds of the
// meter's clock since the restart.
#pragma once

#include "sim/analyzer/Zmk5Blocks.h"
#include "sim/analyzer/Zmk5Commands.h"
#include "sim/analyzer/Zmk5Tracker.h"

#include <cstdint>
#include <vector>

namespace vetlina::sim {

class Zmk5Events {
public:
    Zmk5Events();

    void setThresholds(const zmk5::ThresholdSet& thresholds);
    void setDeadTimes(const zmk5::DeadTimeSet& deadTimes);
    const zmk5::ThresholdSet& thresholds() const { return thresholds_; }

    // All counters to zero, the clock to the restart, for a sine near sineHz.
    void reset(double sineHz = 1000.0);

    // One input sample (codes), after the tracker has taken it; envelope says whether
    // the tracker completed an envelope value with it. The counters hold the tracker's
    // loop while the sine is interrupted or a phase hit is being timed.
    void feed(Zmk5Tracker& tracker, bool envelope);

    // The counters since the reset, for the -4 block.
    zmk5::EventStatistics statistics() const;

    // Threshold values in the meter's scale (exposed for tests).
    double impulsePeakCodes() const { return impulsePeak_; }
    double interruptionPowerCodes() const { return interruptionPower_; }

private:
    // The steps of one sample (feed), in order.
    void measureInputPower(double x);
    void countImpulses(int64_t n, double r);
    void followInterruption(int64_t n);
    bool guardInterruption(Zmk5Tracker& tracker, int64_t m, double amplitude);
    void countLevelHits(int64_t m, double amplitude);
    void countPhaseHits(Zmk5Tracker& tracker, int64_t m);

    void markSecond(int64_t second, uint8_t flag);
    void endInterruption(int64_t endSample);

    zmk5::ThresholdSet thresholds_;
    zmk5::DeadTimeSet deadTimes_;
    double impulsePeak_ = 0.0;
    double interruptionPower_ = 0.0;
    double levelLow_ = 0.0;
    double levelHigh_ = 0.0;
    double phaseLimit_ = 0.0;

    int64_t sample_ = 0;   // input samples since the reset
    int64_t envelope_ = 0; // envelope values since the reset
    zmk5::EventStatistics counts_;
    std::vector<uint8_t> seconds_; // per second: 1 impulse, 2 interruption

    // Impulses.
    int64_t impulseDeadUntil_ = 0;
    bool beyond_ = false;

    // Interruptions (sample clock): the input's power over whole periods of the sine,
    // at least 1 ms.
    std::vector<double> squares_;
    std::size_t squaresHead_ = 0;
    double squaresSum_ = 0.0;
    int64_t squaresSeen_ = 0;
    bool interrupted_ = false;
    int64_t interruptionStart_ = 0;
    int64_t interruptionDeadUntil_ = 0;
    bool interruptionCounted_ = true;
    int64_t hitsBlockedUntil_ = 0; // envelope clock: no hits around an interruption
    bool settle_ = false;          // the loop and the mean amplitude start again after it

    // Level hits.
    double meanAmplitude_ = 0.0;
    int64_t levelOutSince_ = -1;
    bool levelCounted_ = false;
    int64_t levelDeadUntil_ = 0;

    // Phase hits.
    int64_t phaseOutSince_ = -1;
    int64_t phaseDeadUntil_ = 0;
};

// Threshold words for levels relative to the meter's top, as the computer encodes
// them (used for the meter's defaults and by tests).
zmk5::ThresholdSet thresholdWords(double impulseRelDb, double interruptionRelDb, double levelJumpDb,
                                  double phaseJumpDeg);

} // namespace vetlina::sim
