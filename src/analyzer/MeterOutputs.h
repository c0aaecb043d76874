// What the computation of the analyzer's data blocks produces: the sampling of the
// raw frames and the spectrum, the items of the level table and of the event
// statistics, and the tables and spectra the measurement sequence, the accumulation
// and the visualisation read after each block.
#pragma once

#include "analyzer/MeterState.h"

#include <array>
#include <cstdint>

namespace vetlina {

// Sampling of the raw frames and the spectrum.
inline constexpr int kSetSamples = 4096;
inline constexpr int kFrameSamples = 64;
inline constexpr int kBins = 2048;
inline constexpr double kSampleRate = 12800.0;
inline constexpr double kBinHz = 3.125;
inline constexpr int kTones = 38;
inline constexpr int kSideComponents = 17;
inline constexpr int kNoiseBands = 255;

// Items of the level table, the common output of the frame analysis.
namespace item {
inline constexpr int Noise = 0;
inline constexpr int NoisePs = 1;
inline constexpr int Level = 2;
inline constexpr int Dist2 = 3; // harmonic or product distances, dB
inline constexpr int Dist3 = 4;
inline constexpr int Dist23 = 5;
inline constexpr int Dis2 = 6; // the same in per cent
inline constexpr int Dis3 = 7;
inline constexpr int Dis23 = 8;
inline constexpr int Snr = 9;
inline constexpr int SnrPs = 10;
inline constexpr int JitPhLow = 11; // phase jitter, degrees: low, main and full band
inline constexpr int JitPh = 12;
inline constexpr int JitPhFull = 13;
inline constexpr int JitAmLow = 14; // amplitude jitter, per cent
inline constexpr int JitAm = 15;
inline constexpr int JitAmFull = 16;
inline constexpr int Frequency = 17;
inline constexpr int FrequencyDeviation = 18;
inline constexpr int Count = 19;
} // namespace item

// Items of the event statistics (block -4).
namespace event {
inline constexpr int Time = 0;
inline constexpr int PulseRelA = 4, PulseRelB = 5; // impulse noise relative time
inline constexpr int PulsePrcA = 6, PulsePrcB = 7; // impulse noise errored seconds, %
inline constexpr int PulseCntA = 2, PulseCntB = 3; // impulse noise counts
inline constexpr int IntCntA = 9, IntCntB = 10, IntCntC = 11;
inline constexpr int IntRel = 13;
inline constexpr int IntPrc = 14;
inline constexpr int SumCount = 15;
inline constexpr int SumRel = 16;
inline constexpr int SumPrc = 17;
inline constexpr int LevelHits = 18;
inline constexpr int PhaseHits = 19;
inline constexpr int PulseThreshold = 20;        // read back, dBm
inline constexpr int InterruptionThreshold = 21; // read back, dBm
inline constexpr int LevelJumpThreshold = 22;    // read back, dB
inline constexpr int PhaseJumpThreshold = 23;    // read back, degrees
inline constexpr int Count = 24;
} // namespace event

// Per-tone tables of the multi-frequency analysis.
struct ToneTables {
    int offset = 0;                          // comb offset n in bins, -16..15
    std::array<float, kTones> frequency{};   // Hz
    std::array<float, kTones> level{};       // dBm
    std::array<float, kTones> attenuation{}; // dB relative to the nominal tone share
    std::array<float, kTones> groupDelay{};  // ms relative to the smallest
    std::array<float, kTones> snr{};         // dB
    std::array<float, kTones> phase{};       // rad, 0..2pi, nominal phase removed
};

// Per-tone tables of the impedance analysis.
struct ImpedanceTables {
    std::array<float, kTones> frequency{};            // Hz
    std::array<float, kTones> modulus{};              // ohm
    std::array<float, kTones> resistance{};           // ohm
    std::array<float, kTones> reactance{};            // ohm, positive capacitive
    std::array<float, kTones> capacitance{};          // microfarad, or -999
    std::array<float, kTones> inductance{};           // millihenry, or -999
    std::array<float, kTones> referenceAttenuation{}; // dB, tone attenuations of the reference sets
    std::array<float, kTones> referencePhase{};       // rad of the reference sets
};

// Multi-frequency tracking of block -12, per 100 Hz slot, for the visualisation.
struct TrackingTable {
    static constexpr int kSlots = 38;
    float timeTag = kNotMeasured;      // s
    float window = 25.0f;              // Hz, how far a frequency may lie from its slot centre
    std::array<float, kSlots> level{}; // dB, b against a
    std::array<float, kSlots> phase{}; // phase difference, 24 per cycle
    std::array<int, kSlots> count{};
};

// Spectrum of the last signal set as the visualisation shows it: bands of the noise
// band width, aligned so that the peak bin is the centre of its band.
struct VisualSpectrum {
    int firstBin = 0;                 // first bin of band 0
    int binsPerBand = 8;              // band width in bins
    int bands = 0;                    // bands in use
    std::array<float, kBins> level{}; // dBm per band, -110 .. 20
};

// Everything the decoding computes; the measurement sequence, the accumulation and the
// visualisation read it after DecodeBlock.
struct MeterOutputs {
    std::array<float, item::Count> levels{};
    std::array<float, kSideComponents> sideComponents{}; // carrier minus component, dB
    std::array<float, kSideComponents> sideOffsets{};    // Hz
    ToneTables tones;
    ImpedanceTables impedance;
    std::array<float, kNoiseBands> noiseBands{};         // dBm per 25 Hz band
    std::array<float, kNoiseBands> noiseBandsWeighted{}; // psophometrically weighted
    float echoTime = kNotMeasured;                       // s, tag of the echo set
    float echo = kNotMeasured;                           // dB
    std::array<float, kSetSamples> envelope{};           // echo envelope, dB below its maximum
    std::array<float, event::Count> events{};
    std::array<int16_t, 25> calibration{};
    bool calibrationReceived = false;
    std::array<int16_t, 60> parameterTable{};
    uint16_t statusWord = 0;
    TrackingTable tracking;
    VisualSpectrum spectrum;
    float dcMean = 0.0f;
    int peakBin = 0;
};

} // namespace vetlina
