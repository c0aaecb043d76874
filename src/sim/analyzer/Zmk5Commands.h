// The command blocks the ZMK-5 understands, decoded from the instrument's side:
// the first word is the command code, the parameter words follow. Every command is
// preceded by the announcement block (the single word 10).
//
// Generator words: an amplitude code (0..32767, the sine's peak as a fraction of the
// DAC's full scale) and an attenuator code, which sets the full scale of the
// generator's output: code 8 puts 32767 at +11 dBm, code 16 at -0.84 dBm. The
// composite signals carry their crest allowance on top: the level of the
// multi-frequency comb is 4.54 dB, of the O.131 signal 7.3 dB and of the O.42
// signal 5.77 dB below the level of a sine with the same amplitude code. The
// generator runs at 25 600 samples per second from a 32-bit phase accumulator.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace vetlina::sim::zmk5 {

namespace command {
constexpr int MeterRestart = 0;
constexpr int Harmonic = 1;
constexpr int MultiFrequency = 2;
constexpr int O131 = 3;
constexpr int O42 = 4;
constexpr int Thresholds = 5;
constexpr int NoSignal = 6;
constexpr int DeadTimes = 8;
constexpr int Echo = 9;
constexpr int Announce = 10;
constexpr int MeterRange = 11;
constexpr int Calibration = 13;
constexpr int LineMode = 15;
} // namespace command

// Length in bytes of each command block; nullopt for a code the analyzer does not know.
std::optional<int> commandBytes(int code);

constexpr double kGeneratorRate = 25600.0;
constexpr double kPhaseSteps = 4294967296.0; // 2^32: one turn of the phase accumulator

// Crest allowance of the composite generator signals, dB.
constexpr double kMultiFrequencyShareDb = 4.54;
constexpr double kO131ShareDb = 7.3;
constexpr double kO42ShareDb = 5.77;

// Level in dBm of a sine generated with this amplitude code through this
// attenuator; nullopt for an attenuator code the generator does not have. An
// amplitude code of 0 is silence (no level).
std::optional<double> generatorFullScaleDbm(int attenuator);
double amplitudeLevelDbm(int amplitudeCode, double fullScaleDbm);

double phaseIncrementHz(uint32_t increment);

struct MeterRestart {
    int setting = 0; // the spectral bin (3.125 Hz) of the sine to follow, or 0: no sine
};

struct HarmonicSet {
    int amplitudeCode = 0;
    uint32_t increment = 0; // phase increment per generator sample
    int period = 0;         // samples of the generator's whole-cycle table
    int attenuator = 0;
};

// The multi-frequency comb, the O.131 and the O.42 signal: amplitude and attenuator.
struct CompositeSet {
    int kind = 0; // command::MultiFrequency, O131 or O42
    int amplitudeCode = 0;
    int attenuator = 0;
};

// Raw threshold words of the event counters (see Zmk5Meter.h for their meaning).
struct ThresholdSet {
    int impulse = 0;           // w1
    uint32_t interruption = 0; // w2 low, w3 high
    int levelDrop = 0;         // w4
    int levelRise = 0;         // w5 (negative)
    int phase = 0;             // w6
};

// Dead times of the event counters: impulses and interruptions in samples at 12 800
// per second, level and phase hits in envelope samples at 1600 per second.
struct DeadTimeSet {
    int impulse = 0;
    int interruption = 0;
    int levelHit = 0;
    int phaseHit = 0;
};

// The echo generator: probe 1 for its time, then probe 2 for its time, again and
// again; times in generator samples (25 600 per second), phases as a 32-bit turn.
struct EchoSet {
    uint32_t firstSamples = 0;
    int firstAmplitude = 0;
    uint32_t firstIncrement = 0;
    uint32_t firstPhase = 0;
    uint32_t secondSamples = 0;
    int secondAmplitude = 0;
    uint32_t secondIncrement = 0;
    uint32_t secondPhase = 0;
    int envelopeHalf = 0; // the constant 2048
    int attenuator = 0;
};

struct MeterRange {
    int bottomCode = 0; // the range's lowest level as an amplitude fraction of full scale
    int attenuator = 0; // 0..31, 1.5 dB each
};

struct LineMode {
    int mode = 0;      // the line interface's switching mode
    bool gain = false; // +20 dB input gain (the value 32 added to the mode)
};

struct NoSignal {};
struct CalibrationRequest {};
struct Announcement {};

using Command =
    std::variant<MeterRestart, HarmonicSet, CompositeSet, ThresholdSet, NoSignal, DeadTimeSet,
                 EchoSet, Announcement, MeterRange, CalibrationRequest, LineMode>;

// Decodes one received block. On failure error says why ("unknown command 7",
// "command 1 with 10 bytes, expected 12", ...), for the event log.
std::optional<Command> decodeCommand(std::span<const uint8_t> block, std::string& error);

} // namespace vetlina::sim::zmk5
