// The measurement sequence of the analyzer thread: the steps its loop runs by command
// number (the range step, the meter steps, the generator steps, the end of the pass,
// the switch-off and the idle poll) and the timed waits they are made of.
//
// A pass is the range step, then the meter steps (this complex measures) or the
// generator steps (it generates), then the end of the pass. The two complexes run
// their passes at the same time, one generating while the other measures, and stay in
// step only through the stored deadline of the thread: every step advances it by
// durations that both take from the same scenario entry.
//
// Everything here runs on the analyzer thread.
#pragma once

#include "analyzer/Encoders.h"
#include "analyzer/Results.h"
#include "device/AnalyzerCommands.h"
#include "device/ModemCommands.h"
#include "scenario/ScenarioEntry.h"
#include "ui/WindowModels.h"

#include <cstdint>

namespace vetlina {

class ZMK;
class ZmkLink;
class ZmkResults;

class ZmkSequence {
public:
    // The sequence of thread, on its link, accumulating into results.
    ZmkSequence(ZMK& thread, ZmkLink& link, ZmkResults& results);

    // Runs the step of a command number once.
    void step(AnalyzerCommand command);

    // The thresholds last sent with "ThreshSet()" (impulse noise, interruption in dBm):
    // the entry's absolute thresholds, or those derived from a found sine.
    double impulseThreshold() const { return impulseThreshold_; }
    double interruptionThreshold() const { return interruptionThreshold_; }

    // Rows of the step tables (ZmkSequence.cpp).
    struct MeterKind;
    struct GeneratorKind;

private:
    // ---- Steps (ZmkSequence.cpp) -----------------------------------------------------
    void idlePoll();
    void rangeStep(AnalyzerCommand command);
    void meterSine();
    void meterStep(const MeterKind& kind);
    void meterImpedance();
    void meterTalkerEcho();
    void meterListenerEcho();
    void generatorStep(const GeneratorKind& kind);
    void endOfPass();
    void switchOff();
    // Sets the own command, then the modem's: the modem may answer at once with a
    // command of its own for this thread (SwitchOff), which must not be overwritten.
    void handBack(AnalyzerCommand ownCommand, ModemCommand modemCommand);
    ModemCommand measuredCommand(); // ThroughputTest or Reconnect
    // Sends a plan with SendCommand; a failure ends the run with the plan's label.
    bool run(const CommandPlan& plan);

    // ---- Waits (ZmkWaits.cpp) ----------------------------------------------------------
    bool WaitDeadline(int type, double seconds);
    bool WaitFor(int type, double seconds);
    bool Pause(double seconds);
    bool PauseDeadline(double seconds);
    bool Measure(int type, ResultKind kind, const char* caption);
    enum class Search { Found, NotFound, Stopped };
    Search WaitHarmonic(int& bin);
    bool GeneratorRun(ShowKind bar, double seconds);
    bool waitUntil(uint32_t until, int type);
    bool pauseUntil(uint32_t until);
    void advanceDeadline(double seconds);

    // ---- Scenario ----------------------------------------------------------------------
    const ScenarioEntry& entry() const;
    bool autonomous() const;
    ResultContext resultContext() const;
    double syncDelay() const; // the synchronisation delay, s
    double halfDelay() const; // h

    ZMK& thread_;
    ZmkLink& link_;
    ZmkResults& results_;
    AnalyzerCommand stepCommand_ = AnalyzerCommand::Idle; // the step that runs now
    double impulseThreshold_ = 0.0;
    double interruptionThreshold_ = 0.0;
    ScenarioEntry fallbackEntry_; // settings when the run has no current entry
};

} // namespace vetlina
