// The channel model of a pair of stations: what the line does to a signal on its way
// from one station's generator to the other station's meter, and what a station's
// meter sees of its own line (echo, impedance).
//
// The configuration's "model" object of a channel (ChannelConfig::model) holds the
// parameters of the direction from the channel's first station to its second; its
// optional member "reverse" holds the members that differ for the direction from
// the second to the first (the others are the same both ways). Everything a
// station's meter sees comes from the direction towards that station: the far
// signal, the noise and the events, and also the echo of the station's own signal
// and the impedance of its line. Members (all optional):
//
//   "attenuationDb": 0          loss of the channel at every frequency, dB
//   "attenuationResponse": [[Hz, dB], ...]   further loss by frequency, interpolated
//                               linearly between the points, constant beyond them
//   "groupDelayResponse": [[Hz, ms], ...]    group delay by frequency relative to the
//                               channel's own delay (which no measurement sees)
//   "noiseDbm": none            white Gaussian noise of this power in 300-3400 Hz
//   "frequencyShiftHz": 0       every component arrives shifted by this much
//   "phaseJitter": {"peakToPeakDeg": 0, "frequencyHz": 50}      sinusoidal phase
//                               modulation of the far signal
//   "amplitudeJitter": {"peakToPeakPercent": 0, "frequencyHz": 50}   sinusoidal
//                               amplitude modulation: the gain swings between
//                               1 - p/200 and 1 + p/200
//   "phaseHits": {"deg": 30, ...schedule}    lasting steps of the far signal's phase
//   "levelHits": {"db": 6, "durationMs": 100, ...schedule}   changes of the gain for
//                               a while (negative db: drops)
//   "impulses": {"peakDbm": -10, ...schedule}   impulses whose peak is that of a sine
//                               at peakDbm: a 1 ms burst of a decaying 1 kHz oscillation
//   "interruptions": {"durationMs": 50, ...schedule}   the line carries nothing
//   "harmonics": {"secondPercent": 0, "thirdPercent": 0, "atDbm": -10}   a memoryless
//                               curve at the receiving end that gives a sine arriving
//                               at atDbm these harmonics (the 2nd grows with the
//                               amplitude, the 3rd with its square)
//   "echo": {"returnLossDb": 30, "delayMs": 20, "listenerLossDb": 60}   the station's
//                               own signal comes back this much weaker after the delay
//                               (talker echo), and the far signal a second time after
//                               the delay, listenerLossDb weaker (listener echo)
//   "impedance": {"resistanceOhm": 600, "capacitanceUf": 0, "inductanceMh": 0,
//                 "circuit": "series"}
//                               the line as the station's impedance divider sees it
//                               across the meter's input: with "series" a resistance
//                               in series with a capacitance and an inductance, with
//                               "parallel" the three side by side (R || C || L); an
//                               element of 0 is not there (a short in series, an
//                               open in parallel)
//   "seed": 1                   of the direction's noise and random schedules
//
// A schedule: "everyS": T (events at firstS, firstS + T, ...; "firstS" defaults to
// T), or "perMinute": R (at random, R a minute on average). Times count from the
// moment the call reaches the meter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vetlina::sim {

struct EventSchedule {
    std::optional<double> everyS;
    double firstS = 0.0;
    std::optional<double> perMinute;
    bool active() const { return everyS.has_value() || perMinute.has_value(); }
};

struct DirectionModel {
    double attenuationDb = 0.0;
    std::vector<std::pair<double, double>> attenuationResponse; // Hz, dB
    std::vector<std::pair<double, double>> groupDelayResponse;  // Hz, ms
    std::optional<double> noiseDbm;
    double frequencyShiftHz = 0.0;
    double phaseJitterPpDeg = 0.0;
    double phaseJitterHz = 50.0;
    double amplitudeJitterPpPercent = 0.0;
    double amplitudeJitterHz = 50.0;
    double phaseHitDeg = 0.0;
    EventSchedule phaseHits;
    double levelHitDb = 0.0;
    double levelHitMs = 100.0;
    EventSchedule levelHits;
    double impulsePeakDbm = -10.0;
    EventSchedule impulses;
    double interruptionMs = 50.0;
    EventSchedule interruptions;
    double secondHarmonicPercent = 0.0;
    double thirdHarmonicPercent = 0.0;
    double harmonicsAtDbm = -10.0;
    std::optional<double> echoReturnLossDb;
    double echoDelayMs = 20.0;
    std::optional<double> listenerEchoLossDb;
    double impedanceOhm = 600.0;
    double impedanceCapacitanceUf = 0.0;
    double impedanceInductanceMh = 0.0;
    bool impedanceParallel = false; // "circuit": "parallel"
    bool impedanceGiven = false;
    uint32_t seed = 1;

    // Loss in dB (attenuation plus response) at a frequency.
    double lossDb(double hz) const;
    // Group delay relative to the channel's own, in s, at a frequency.
    double groupDelayS(double hz) const;
    // The phase the group delay gives a component: -2 pi x the integral of the group
    // delay from 0 Hz to hz (rad).
    double delayPhase(double hz) const;
};

struct ChannelModel {
    DirectionModel forward; // first station -> second
    DirectionModel reverse; // second -> first
    const DirectionModel& direction(bool reversed) const { return reversed ? reverse : forward; }
};

// parseChannelModel (network/ConfigReaders.h) reads a channel's model.

// Piecewise-linear interpolation in a table of points sorted by x: the first value
// below the first point, the last above the last; 0 for an empty table.
double interpolate(const std::vector<std::pair<double, double>>& points, double x);

} // namespace vetlina::sim
