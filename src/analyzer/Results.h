// The live result records of a measuring pass, their accumulation from the decoded
// blocks, their clearing, and the lines the results window shows for them.
//
// Measure calls Accumulate with the current command and each decoded code on the
// analyzer thread; when it returns true, the kind's lines are to be redrawn
// (ResultLines, through the synchronous hand-off to the GUI thread).
#pragma once

#include "analyzer/MeterComputation.h"
#include "analyzer/ResultRecords.h"

#include <array>
#include <string>
#include <vector>

namespace vetlina {

enum class ResultKind { Sine, O132, O131, Mtts, O42, Impedance, Noise, TalkerEcho, ListenerEcho };

// The kind a meter command accumulates into (2 sine, 3 O.132, 4 O.131, 5 multi-frequency,
// 6 O.42, 7 impedance, 8 noise, 9 talker echo, 18 listener echo); false for other commands.
bool resultKindOfCommand(int command, ResultKind& kind);

// How often each value that may be missing has been present since the clear: its first
// present value starts its mean. Kept beside the records, not part of their byte image.
struct ValueCounts {
    std::array<int32_t, 3> sineHarmonics{}; // dis2, dis3, dis23
    std::array<int32_t, 38> mttsAtt{};
    std::array<int32_t, 38> mttsDel{};
    std::array<int32_t, 3> o42Products{};
    std::array<int32_t, 38> impedance{};
    std::array<int32_t, 38> capacitance{};
};

// The records the analyzer accumulates into during a pass.
struct LiveResults {
    SineResult sine;
    O132Result o132;
    O131Result o131;
    MttsResult mtts;
    O42Result o42;
    ImpedanceResult impedance;
    NoiseResult noise;
    EchoResult talkerEcho;
    EchoResult listenerEcho;
    ValueCounts counts;
};

// What the accumulation and the display take from the scenario entry and the run.
struct ResultContext {
    bool autonomous = false;  // the far end is an autonomous generator
    bool firstPass = true;    // the first measuring pass of the session
    double sinFreq = 1800.0;  // EditSinFreq, Hz
    double o132Freq = 1020.0; // EditO132Freq, Hz
    double sinLev = -5.0;     // EditSinLev, dBm
    double sinLevR = -5.0;    // EditSinLevR, dBm
    double mttsLev = -10.0;   // EditMTTSLev, dBm
    double mttsLevR = -10.0;  // EditMTTSLevR, dBm
    double attNotch = 0.0;    // EditAttNotch, Hz (below 100: no reference frequency)
    double delNotch = 1900.0; // EditDelNotch, Hz

    double nominalSineFrequency() const; // 1800 Hz in autonomous mode
    double nominalO132Frequency() const; // 1020 Hz in autonomous mode
    double farSineLevel() const;         // the far generator's sine level in this pass
    double farMttsLevel() const;         // the far generator's multi-frequency level
};

// Accumulates a decoded block into the record of the kind that command measures.
// True when the record changed so that its lines are to be redrawn (the event
// statistics overwrite of code -4 changes the sine record without a redraw).
bool Accumulate(LiveResults& results, int command, int code, const MeterComputation& meter,
                const ResultContext& context);

// Clears a kind's record (all bytes 0) at the start of its meter step.
void ClearResult(LiveResults& results, ResultKind kind);

// The lines of the results window for a kind (code page 1251).
std::vector<std::string> ResultLines(ResultKind kind, const LiveResults& results,
                                     const MeterComputation& meter, const ResultContext& context);

// Parasitic modulation as shown and stored: the largest of the 17 components and 0.
float parasiticModulation(const SineResult& sine);
// Selective interference: the largest of the noise spectrum values 11..135, or -999.
float selectiveInterference(const NoiseResult& noise);

// Value at a reference frequency from a table of 38 components (frequencies ascending).
// Below 100 Hz: 0, or for the impedance record the largest absolute value of entries
// 2..34. Outside the measured frequencies the nearest end component's value is taken.
double interpolateAtReference(const std::array<Le<float>, 38>& frequency,
                              const std::array<Le<float>, 38>& value, double x,
                              bool impedanceRecord);

} // namespace vetlina
