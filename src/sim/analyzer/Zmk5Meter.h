// The ZMK-5's meter: it samples the line 12 800 times a second in its current range,
// and while it runs (from a restart, command 0) it sends what it sees:
// - raw frame sets (-9): 4096 consecutive samples (0.32 s) in 64 frames of 64. The
//   set is sent in the order the computer unpacks it: positions 0..2047 hold the
//   samples 0, 2, 4, ... and positions 2048..4095 the samples 1, 3, 5, ... of the
//   set; a frame leaves as soon as its samples are in. The next set is taken once the
//   last frame of the previous one has left, so the link sets the pace, and it begins
//   on the next multiple of 128 samples of the sample clock (10 ms, the period of the
//   multi-frequency comb: every set finds the comb's tones at the same phase);
// - after every set a meter table (-5) for the time since the previous table;
// - every second of meter time the event statistics (-4), while it follows a sine;
// - after every set in which it finds the multi-frequency comb, four tracking frames
//   (-12) for the next tones in turn.
// Blocks wait in the meter until the analyzer's link takes them; at most one set,
// one table and one statistics block wait at a time.
//
// In the echo modes the meter sends echo envelope sets (-10) instead of signal sets:
// 4096 envelope values at 1600 a second (2.56 s), in time order, each the rms (in
// codes, unsigned) of the input at the probe frequency over 8 samples. A set begins
// 32 values (20 ms) before the end of a probe, with the values aligned to that end:
// the end of the own first probe when the own generator sends probes (talker echo),
// else the end of the far probe, found where the input's energy (x[n]^2 -
// x[n-1] x[n+1], which is A^2 sin^2(w) for a tone) falls below a sixteenth of what it
// was for three samples in a row (listener echo; the end is then placed up to two
// samples late, never early, so that no part of the probe falls after it). After a set
// has left, the next probe end starts the next one. A table (-5) follows every echo set.
//
// The meter's scale: a signal whose samples have an rms of 32768 codes is at
// top + 2.45 dBm, where top = 20 dBm with the input gain (line mode + 32) or 0 dBm
// without, minus 1.5 dB per attenuator step (command 11). So a sine at the top level
// peaks at 34 938 codes (beyond the 16 bits: it is clipped), and a sine peaking at
// full scale is at top - 0.56 dBm. The input adds its own noise of -100 dBm, and every
// sample is rounded to whole codes and limited to +-32767.
#pragma once

#include "sim/analyzer/Zmk5Blocks.h"
#include "sim/analyzer/Zmk5Commands.h"
#include "sim/analyzer/Zmk5Events.h"
#include "sim/analyzer/Zmk5Tracker.h"

#include <array>
#include <complex>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace vetlina::sim {

constexpr double kMeterFullScaleRms = 32768.0;
constexpr double kMeterFullScaleDb = 2.45;
constexpr double kMeterNoiseDbm = -100.0;

// Codes per line unit in a range with the given top.
double meterCodesPerUnit(double topDbm);

class Zmk5Meter {
public:
    static constexpr int kSineBinLow = 96;
    static constexpr int kSineBinHigh = 1088;
    static constexpr double kBinHz = 3.125;
    static constexpr int kTrackingSamples = 1856;
    static constexpr int kTrackingPerSet = 4;

    explicit Zmk5Meter(uint32_t seed = 5);

    // Range: attenuator and bottom from command 11, the input gain from command 15.
    void setRange(int attenuator, int bottomCode);
    void setGain(bool on);
    double topDbm() const;
    bool gain() const { return gain_; }
    int attenuator() const { return attenuator_; }

    void setThresholds(const zmk5::ThresholdSet& thresholds) { events_.setThresholds(thresholds); }
    void setDeadTimes(const zmk5::DeadTimeSet& deadTimes) { events_.setDeadTimes(deadTimes); }

    // Command 0: starts (or starts again) with a sine's spectral bin to follow, or 0.
    // Returns false for a setting that is neither 0 nor a bin of 96..1088 (the meter then
    // runs without a sine).
    bool restart(int setting);
    // Echo modes: on with the probe frequency and the own generator (whose first probe,
    // if it sounds, marks the sets), or off.
    void setEcho(bool on, double probeHz = 0.0, const class Zmk5Generator* own = nullptr);
    bool echo() const { return echoOn_; }

    // Command 6: the signal is gone; the meter stops following a sine and starts its
    // table afresh.
    void noSignal();
    // Stops sending. Range and thresholds stay.
    void stop();
    // The power-on state: stopped, 0 dBm range without gain, the power-on thresholds
    // and dead times. The sample clock runs on.
    void powerOn();
    // Lets n samples pass unseen (while the analyzer has nothing to hear, or after a
    // stall of the simulator); a set being taken is dropped.
    void skip(int64_t n);
    bool running() const { return running_; }
    int setting() const { return setting_; }

    // The line signal of the next samples (line units).
    void acquire(std::span<const double> line);
    int64_t samples() const { return sampleCount_; }

    // The next block that is due, if any.
    std::optional<std::vector<int16_t>> takeBlock();

    const Zmk5Tracker& tracker() const { return tracker_; }
    const Zmk5Events& events() const { return events_; }

private:
    // Forgets the frame set being captured, the frames still to send and the statistics.
    void dropCapture();
    void startSet();
    void finishSet();
    void queueTable();
    void queueTracking();
    int frameReadyCount() const;
    uint32_t msSinceRestart(int64_t sample) const;

    // Range.
    int attenuator_ = 0;
    int bottomCode_ = 0;
    bool gain_ = false;
    double codesPerUnit_ = 0.0;

    std::mt19937 random_;
    std::normal_distribution<double> floorNoise_;

    bool running_ = false;
    int setting_ = 0;
    int64_t sampleCount_ = 0;
    int64_t restartSample_ = 0;

    // The set being taken and sent.
    bool capturing_ = false;
    bool armed_ = false;
    int64_t setStart_ = 0;
    std::vector<int16_t> set_; // in time order
    int framesSent_ = 0;

    std::deque<std::vector<int16_t>> small_; // tables, statistics, tracking
    std::optional<std::vector<int16_t>> statistics_;
    int64_t nextStatistics_ = 0;

    // The table's interval.
    double sumSquares_ = 0.0;
    double noiseSquares_ = 0.0;
    double peakCodes_ = 0.0; // largest |input| ahead of the converter's limit
    int64_t tableSamples_ = 0;
    double sinePower_ = 0.0;
    double amplitudeSum_ = 0.0;
    double amplitudeMin_ = 0.0;
    double amplitudeMax_ = 0.0;
    double phaseMax_ = 0.0;
    int64_t tableEnvelopes_ = 0;
    bool phaseStartValid_ = false;
    double phaseStart_ = 0.0;

    Zmk5Tracker tracker_;
    Zmk5Events events_;
    int trackingTone_ = 0;

    // Echo envelope sets.
    enum class EchoState { Waiting, Taking, Done };
    void echoSample(double x);
    void startEchoSet(int64_t end);
    bool echoOn_ = false;
    double echoHz_ = 0.0;
    const class Zmk5Generator* own_ = nullptr;
    EchoState echoState_ = EchoState::Waiting;
    std::vector<double> raw_; // the last samples, for the values before a probe end
    int64_t echoStart_ = 0;   // first sample of the set
    std::vector<uint16_t> envelope_;
    std::complex<double> window_{};
    int echoFramesSent_ = 0;
    double energyLevel_ = 0.0; // recent energy of a sounding probe
    int64_t soundingSince_ = -1;
    int quietRun_ = 0;
    double x1_ = 0.0, x2_ = 0.0; // the previous two samples
};

} // namespace vetlina::sim
