// The live result records of a measuring pass, their accumulation from the decoded
// blocks, their clearing, and the lines the results window shows for them.
//
// Measure calls Accumulate with the current command and each decoded code on the
// analyzer thread; when it returns true, the kind's lines are to be redrawn
// (ResultLines, through the synchronous hand-off to the GUI thread).
#pragma once

#include "analyzer/MeterComputation.h"
#include "device/AnalyzerCommands.h"
#include "reports/LiveResults.h"

#include <array>
#include <string>
#include <vector>

namespace vetlina {

enum class ResultKind { Sine, O132, O131, Mtts, O42, Impedance, Noise, TalkerEcho, ListenerEcho };

// The kind a meter step accumulates into; false for the other commands.
bool resultKindOfCommand(AnalyzerCommand command, ResultKind& kind);

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
bool Accumulate(LiveResults& results, AnalyzerCommand command, int code,
                const MeterComputation& meter, const ResultContext& context);

// Clears a kind's record (all bytes 0) at the start of its meter step.
void ClearResult(LiveResults& results, ResultKind kind);

// The lines of the results window for a kind (code page 1251).
std::vector<std::string> ResultLines(ResultKind kind, const LiveResults& results,
                                     const MeterComputation& meter, const ResultContext& context);

} // namespace vetlina
