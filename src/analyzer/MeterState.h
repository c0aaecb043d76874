// The state of the analyzer's meter as the computer keeps it: the measuring range,
// the recognised signal history, the restart setting, what was last sent for
// re-sending after a restart, the line-interface modes, the assembly of a frame set,
// the impedance set counting and the meter table of block -5.
//
// Everything here is written on the analyzer thread only: by the set-up encoders
// (Encoders.h), by the block decoding (MeterComputation.h) and by the measurement
// sequence where it says so (recognition threshold, bottom level during noise).
#pragma once

#include "platform/ValueMarks.h"

#include <array>
#include <cstdint>

namespace vetlina {

// Result codes of DecodeBlock besides the sine bins 96..1088.
namespace code {
inline constexpr int16_t Noise = 0;
inline constexpr int16_t MultiFrequency = -1;
inline constexpr int16_t O131 = -2;
inline constexpr int16_t O42 = -3;
inline constexpr int16_t EventStatistics = -4;
inline constexpr int16_t MeterTable = -5;
inline constexpr int16_t Echo = -6;
inline constexpr int16_t Impedance = -7;
inline constexpr int16_t Calibration = -8;
inline constexpr int16_t Tracking = -9;
inline constexpr int16_t Unstable = -10;
inline constexpr int16_t ParameterTable = -11;
inline constexpr int16_t StatusWord = -12;
inline constexpr int16_t Nothing = -1000;
inline constexpr int16_t Rejected = -2000;
// Range reports handed to DecoderActions::reportRange.
inline constexpr int16_t InRange = 1000;
inline constexpr int16_t Overload = 1002;
} // namespace code

// The spectral bins in which a sine is looked for: 300 Hz to 3400 Hz.
inline constexpr int kFirstSineBin = 96;
inline constexpr int kLastSineBin = 1088;

// Range state of the meter.
inline constexpr int kBelowRange = -1;
inline constexpr int kOverloaded = 0;
inline constexpr int kInRange = 1;

// Items of the meter table (block -5).
namespace meter {
inline constexpr int TimeTag = 0;
inline constexpr int Level = 1;
inline constexpr int LevelDeviation = 2;
inline constexpr int Noise = 3;
inline constexpr int Peak = 4;
inline constexpr int LevelHits = 5;
inline constexpr int PhaseHits = 6;
inline constexpr int Frequency = 7;
inline constexpr int FrequencyDeviation = 8;
inline constexpr int Count = 9;
} // namespace meter

struct MeterState {
    // Measuring range, set by MeterLevHiLowRangeSet.
    double referenceLevel = 0.0; // the top: dBm at the analyzer's full scale
    double bottomLevel = -80.0;  // lowest level of the range, top - 80 .. top
    int attenuatorCode = 0;      // 0, or 13 when the maximum signal is at most -19 dBm
    int gainFlag = 0;            // 32 when the maximum signal is above 0 dBm, else 0
    bool rangeKept = false;      // a range has been set at least once

    // Signal recognition.
    double recognitionThreshold = 20.0; // minimum signal-to-noise, dB
    int rangeState = kInRange;
    std::array<int, 3> codes{}; // recognised codes of the last three sets, newest first

    // Meter restart (command 0): the spectral bin the meter is to lock to, or 0.
    int restartRequested = 0;
    int restartApplied = 0;

    // Command words last sent by ThreshSet and DeadTimeSet (without the code word),
    // sent again after every meter restart.
    std::array<uint16_t, 6> thresholdWords{};
    bool thresholdsKept = false;
    std::array<uint16_t, 4> deadTimeWords{};
    bool deadTimesKept = false;

    // Line interface.
    bool impedanceMode = false;
    bool echoMode = false;
    int lineMode = 0; // stored mode; command 15 sends it with the gain flag added

    // Generator: the level the last generator set-up realised, dBm.
    double generatorLevel = -200.0;

    // Echo analysis settings from the last EchoSet, seconds.
    double echoAnalysisTime = 0.02;
    double echoSecondProbeTime = 2.0;

    // Assembly of a frame set (blocks -10 and -9).
    int samplePosition = 0; // samples collected, 0..4096
    uint32_t frameTag = 0;  // milliseconds, the tag every frame of the set carries
    int16_t frameType = 0;  // -10 echo set or -9 signal set
    bool frameOverload = false;

    // Band width of the visualisation spectrum, Hz.
    double noiseBandwidth = 25.0;

    // Impedance set counting (ImpedSet starts it at 1) and its verdict for the last set.
    int impedanceSetCount = 0;
    bool impedanceValid = false;

    // Meter table of block -5; item 7 is the analyzer's own frequency measurement,
    // which also refines the sine frequency of the frame analysis.
    std::array<float, meter::Count> meterTable{};
    // Running statistics of item 1 for the deviation of item 2.
    int levelCount = 0;
    double levelMean = 0.0;
    double levelM2 = 0.0;

    // The latest recognised code.
    int currentCode() const { return codes[0]; }
    bool sineRecognised() const { return codes[0] > 0; }

    // A sine found by the search: it becomes the last three codes and the restart setting.
    void adoptSine(int bin);

    // The state after start-up and identification: empty set, in range, no history,
    // 25 Hz bands, meter table missing.
    void reset();
};

} // namespace vetlina
