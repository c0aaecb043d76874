// Set-up encoders of the analyzer: command words computed from the settings and the
// meter state. Each encoder updates the meter state as the command requires and
// returns a plan: the command blocks to send in order (each one SendCommand of the
// link), the value the set-up yields and the step label under which a failure is
// reported. The encoders send nothing themselves; sendPlan() walks a plan with the
// caller's send function.
#pragma once

#include "analyzer/MeterState.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace vetlina {

// Command codes (first word of a command block).
namespace command {
inline constexpr uint16_t MeterRestart = 0;
inline constexpr uint16_t Harmonic = 1;
inline constexpr uint16_t MultiFrequency = 2;
inline constexpr uint16_t O131 = 3;
inline constexpr uint16_t O42 = 4;
inline constexpr uint16_t Thresholds = 5;
inline constexpr uint16_t AfterRestart = 6;
inline constexpr uint16_t DeadTimes = 8;
inline constexpr uint16_t Echo = 9;
inline constexpr uint16_t Prefix = 10; // the 2-byte block sent before every command
inline constexpr uint16_t LevelRange = 11;
inline constexpr uint16_t Calibration = 13;
inline constexpr uint16_t LineMode = 15;
} // namespace command

// Step labels, also the failure texts of the set-up steps.
namespace label {
inline constexpr const char* HarmSet = "HarmSet()";
inline constexpr const char* MttsSet = "MTTSSet()";
inline constexpr const char* O131Set = "O131Set()";
inline constexpr const char* O42Set = "O42Set()";
inline constexpr const char* ImpedSet = "ImpedSet()";
inline constexpr const char* ThreshSet = "ThreshSet()";
inline constexpr const char* DeadTimeSet = "DeadTimeSet()";
inline constexpr const char* EchoSet = "ECHOSet()";
inline constexpr const char* RangeSet = "MeterLevHiLowRangeSet()";
inline constexpr const char* MeterRestart = "ZMKmeterRestart()";
} // namespace label

// One command block: 16-bit words, the code first, sent little-endian.
struct CommandBlock {
    static constexpr std::size_t kMaxWords = 17; // command 9, the largest
    std::array<uint16_t, kMaxWords> words{};
    uint8_t count = 0;   // words in use
    bool checked = true; // a failure to send it fails the set-up

    uint16_t code() const { return words[0]; }
    std::size_t byteCount() const { return count * std::size_t{2}; }
    // The bytes as the link sends them (low byte of each word first); returns byteCount().
    std::size_t toBytes(uint8_t* out) const;
};

// What one set-up sends, and what it yields.
struct CommandPlan {
    static constexpr std::size_t kMaxBlocks = 8;
    const char* label = ""; // step label for the failure text ("" for a bare command)
    std::array<CommandBlock, kMaxBlocks> blocks{};
    uint8_t count = 0;
    double result = 0.0;            // the set-up's value when everything went out
    double failureResult = 0.0;     // its value when a checked block failed
    bool failsAfterSending = false; // the set-up fails even when every block went out
    bool reportsInRange = false;    // on success the meter is in range (echo set-up)

    void add(const CommandBlock& block);
    void append(const CommandPlan& other); // the blocks of another plan, in order
};

struct PlanOutcome {
    bool ok = false;
    double value = 0.0;
};

// Sends the blocks of a plan in order with send(const uint8_t* bytes, size_t count) ->
// bool. A checked block that fails ends the plan at once with the failure result; an
// unchecked one is passed over.
template <class Send>
PlanOutcome sendPlan(const CommandPlan& plan, Send&& send) {
    uint8_t bytes[CommandBlock::kMaxWords * 2];
    for (std::size_t i = 0; i < plan.count; ++i) {
        const CommandBlock& block = plan.blocks[i];
        const std::size_t n = block.toBytes(bytes);
        if (!send(static_cast<const uint8_t*>(bytes), n) && block.checked)
            return {false, plan.failureResult};
    }
    if (plan.failsAfterSending)
        return {false, plan.failureResult};
    return {true, plan.result};
}

// Amplitude code of the generator for a level in dB relative to its full scale.
uint16_t amplitudeCode(double levelDb);

// The generator's frequency synthesis: a period of g samples at 25600 per second
// holding e whole cycles, chosen as the closest to the wanted frequency with g at most
// maxPeriod, and the phase increment per sample (2^32 = one cycle).
struct PeriodChoice {
    double frequency = 0.0; // achieved, Hz
    uint32_t period = 0;    // g, samples
    uint32_t phaseIncrement = 0;
};
PeriodChoice periodSearch(double frequency, uint32_t maxPeriod);

// Sine generator (command 1); level -200 dBm switches it off. Result: the achieved
// frequency, 0 on failure.
CommandPlan HarmSet(MeterState& state, double levelDbm, double frequencyHz);
// Multi-frequency, O.131 and O.42 generators (commands 2, 3, 4). Result: the realised
// level, -1000 on failure.
CommandPlan MttsSet(MeterState& state, double levelDbm);
CommandPlan O131Set(MeterState& state, double levelDbm);
CommandPlan O42Set(MeterState& state, double levelDbm);
// Impedance measurement: the multi-frequency generator plus the impedance line mode;
// fails (-1000) unless the realised level is above -50 dBm.
CommandPlan ImpedSet(MeterState& state, double levelDbm);
// Meter thresholds (command 5): impulse noise and interruption in dBm, level jump in
// dB, phase jump in degrees. Kept for re-sending.
CommandPlan ThreshSet(MeterState& state, double impulseDbm, double interruptionDbm,
                      double levelJumpDb, double phaseJumpDeg);
// Meter dead times in ms (command 8). Kept for re-sending.
CommandPlan DeadTimeSet(MeterState& state, double a, double b, double c, double d);

// The nine values of the echo set-up: two probe signals and the analysis time.
struct EchoSettings {
    double firstProbeTime = 2.0; // s
    double firstLevel = -200.0;  // dBm
    double firstFrequency = 1600.0;
    double firstPhase = 0.0;      // degrees
    double secondProbeTime = 2.0; // s
    double secondLevel = -200.0;
    double secondFrequency = 1600.0;
    double secondPhase = 0.0;
    double analysisTime = 0.02; // s
};
// Echo measurement (meter restart, line mode, command 9).
CommandPlan EchoSet(MeterState& state, const EchoSettings& settings);

// Meter range (command 11, line mode, and a meter restart when the range changed).
// Result: the top of the range. In impedance or echo mode only the kept top is
// returned and nothing is sent.
CommandPlan MeterLevHiLowRangeSet(MeterState& state, double maxSignalDbm, double minSignalDbm);

// Meter restart with the requested setting (command 0), followed by the kept
// thresholds and dead times.
CommandPlan ZmkMeterRestart(MeterState& state);

// Stores a line mode if it is accepted in the current state; false leaves it unchanged.
bool SetLineMode(MeterState& state, int mode);
// Command 15 with the stored line mode and the gain flag.
CommandPlan SendLineMode(const MeterState& state);

// Command 6, the bare command after a meter restart to no signal.
CommandPlan AfterRestartCommand();

} // namespace vetlina
