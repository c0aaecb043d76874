// The data blocks the ZMK-5 sends, built from the instrument's own measurements.
// The first word is the negative block type; 32-bit values are split into a high
// and a low 16-bit word, 48-bit values into three, in the places each block has
// for them (the comments give the word numbers, 0-based, the type word being 0).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vetlina::sim::zmk5 {

namespace block {
constexpr int16_t Tracking = -12;
constexpr int16_t Calibration = -11;
constexpr int16_t EchoFrame = -10;
constexpr int16_t SignalFrame = -9;
constexpr int16_t MeterTable = -5;
constexpr int16_t EventStatistics = -4;
} // namespace block

constexpr int kFrameSamples = 64;
constexpr int kSetSamples = 4096;

// -11: the calibration table, 25 words after the type.
std::array<int16_t, 26> calibrationBlock(const std::array<int16_t, 25>& table);

// -9 (signal) or -10 (echo envelope): w1 high and w2 low word of the set's tag (ms
// since the meter's restart at the start of the set), w3..w66 the samples at
// positions position-64 .. position-1 of the set, w67 the position after them.
std::array<int16_t, 68> rawFrame(int16_t type, uint32_t tagMs, std::span<const int16_t> samples,
                                 int positionAfter);

// -5: the meter's table for the interval since the previous one.
struct MeterTable {
    uint32_t timeMs = 0;          // w1 high, w2 low: end of the interval since restart
    uint64_t sumOfSquares = 0;    // w4 low, w3 middle, w5 top: the input's squares ...
    uint16_t squareCount = 0;     // w6: ... over this many samples
    uint32_t noiseMeanSquare = 0; // w7 high, w8 low: mean square with the sine notched out
    uint32_t peakWord = 0;        // w9 high, w10 low: the input's peak, see Zmk5Meter.cpp
    int16_t amplitudeRise = 0;    // w11: -(largest amplitude / mean - 1) x 8196
    int16_t amplitudeFall = 0;    // w12: (1 - smallest amplitude / mean) x 8196
    int16_t phaseDeviation = 0;   // w13: sin(largest phase deviation) x 8196
    uint64_t frequencySum = 0;    // w15 low, w14 middle, w16 top: frequencies in
                                  // 3.125 x 2^-18 Hz ...
    uint16_t frequencyCount = 0;  // w17: ... summed over this many measurements
};
std::array<int16_t, 18> meterTableBlock(const MeterTable& table);

// -4: the event counters of the sine measurement since the meter's restart.
struct EventStatistics {
    uint32_t timeMs = 0;                     // w1 high, w2 low
    uint16_t suppressedCrossings = 0;        // w3: threshold crossings inside an impulse dead time
    uint16_t positiveImpulses = 0;           // w4
    uint16_t negativeImpulses = 0;           // w5
    uint32_t positiveImpulseSamples = 0;     // w6 high, w7 low: samples beyond +threshold
    uint32_t negativeImpulseSamples = 0;     // w8 high, w9 low: samples beyond -threshold
    uint32_t positiveImpulseSeconds = 0;     // w10 high, w11 low: errored seconds whose first
    uint32_t negativeImpulseSeconds = 0;     // w12 high, w13 low: impulse had this polarity
    std::array<uint16_t, 5> interruptions{}; // w14..w18: dropouts under 3 ms; interruptions
                                             // of 3-30 ms, 30-300 ms, 300-1000 ms; breaks of 1 s
                                             // and longer
    uint32_t interruptionSamples = 0; // w19 high, w20 low: samples in interruptions of 3 ms up
    uint32_t interruptionSeconds = 0; // w21 high, w22 low: seconds with such an interruption
    uint32_t erroredSeconds = 0;      // w23 high, w24 low: seconds with an impulse or one
    uint16_t levelHits = 0;           // w25
    uint16_t phaseHits = 0;           // w26
    // w27..w32: the threshold words as the meter holds them (read back by the computer).
    int16_t impulseThreshold = 0;       // w27
    uint32_t interruptionThreshold = 0; // w28 high, w29 low
    int16_t levelDropThreshold = 0;     // w30
    int16_t levelRiseThreshold = 0;     // w31
    int16_t phaseThreshold = 0;         // w32
};
std::array<int16_t, 33> eventStatisticsBlock(const EventStatistics& statistics);

// -12: one tone of the multi-frequency comb against the reference tone, measured
// over 1856 samples (frequencies in steps of 12800/1856 = 6.896552 Hz).
struct TrackingFrame {
    uint32_t timeMs = 0;     // w1 high, w2 low
    int16_t referenceRe = 0; // w3, w4: the reference tone's complex amplitude
    int16_t referenceIm = 0;
    int16_t referenceStep = 0; // w5: the reference tone's frequency in steps
    int16_t toneRe = 0;        // w6, w7: the tracked tone's complex amplitude
    int16_t toneIm = 0;
    int16_t toneStep = 0;  // w8: the tracked tone's frequency in steps
    bool overload = false; // w9: 32767 when the input was overloaded, else 0
};
std::array<int16_t, 10> trackingBlock(const TrackingFrame& frame);

} // namespace vetlina::sim::zmk5
