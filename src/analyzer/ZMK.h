// The analyzer thread ZMK: the ZMK-5 analyzer on its serial port, brought up by the
// constructor (speed handshake, identification, calibration table, DATA folder) and
// then driven by a loop over its command number through the measurement sequence,
// generating while the far complex measures and measuring while it generates, and
// handing back to the modem thread when both directions are done.
//
// The work is split by concern: ZmkLink.cpp (the block protocol), ZmkStartup.cpp
// (construction and destruction), ZmkSequence.cpp (the command loop and its steps),
// ZmkWaits.cpp (the timed waits and the measurement), VisualisationPanel.cpp (the
// progress panel of the visualisation window).
#pragma once

#include "analyzer/MeterComputation.h"
#include "analyzer/Results.h"
#include "analyzer/ZmkLink.h"
#include "device/WorkerThreads.h"
#include "platform/DateTime.h"
#include "reports/RunContext.h"
#include "scenario/ScenarioEntry.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace vetlina {

// The identification text the analyzer sends after the speed handshake.
inline constexpr const char* kZmkIdentification = "ZMK-5 Kerat, channel analyzer\r\n";

// Start-up result codes; each but 0 ends the run with its text.
enum class ZmkStartup : int {
    Ok = 0,
    PortUnavailable = 1,
    DsrOff = 2,
    CtsOff = 3,
    SpeedNotSent = 4,
    NoReply = 5,
    WrongReply = 6,
    BadSpeed = 7,
    NoMemory = 8,
    SystemError = 9,
};
// The text of a start-up code (UTF-8), appended to "COM<n>: " (code 8 stands alone).
const char* startupText(ZmkStartup code);

class ZMK : public AnalyzerThread, private DecoderActions {
public:
    // Brings the analyzer up on the port "ZMKPort" at the speed "ZMKSpeed" of the
    // configuration. The command tells the outcome: SwitchOff after success, Stopped
    // after a failure, which has been reported and has ended the run (MSG_RUN_END).
    // run: the run the thread works for (its modem thread, current entry, documents).
    ZMK(RunContext& run, PortFactory ports);
    // An analyzer outside a run: it has no modem thread, no current entry and no documents.
    ZMK(UiBridge& ui, PortFactory ports);
    // Switches the analyzer back to its idle state and closes the port. The thread has
    // ended before (the run ends it first; see endThread).
    ~ZMK() override;

    // Stops the loop for good and waits for its end, serving the hand-offs meanwhile when
    // called on the main thread. An owner calls it before it destroys the object (a
    // class derived from ZMK in its own destructor), so that no step runs while the
    // object is being taken apart.
    void endThread();

    int16_t serialNumber() const override { return calibration_[kSerialWord]; }
    int16_t firmwareNumber() const override { return calibration_[kFirmwareWord]; }
    void setFirstPass(bool on) override { firstPass_.store(on, std::memory_order_release); }
    bool firstPass() const override { return firstPass_.load(std::memory_order_acquire); }
    LiveResults& liveResults() override { return results_; }

    // The calibration table as the analyzer sent it.
    const std::array<int16_t, 25>& calibration() const { return calibration_; }
    // The live result records of the last measuring pass. Written only on the analyzer
    // thread inside its meter steps; others read them after the hand-back (the command
    // the modem thread receives orders the accesses).
    const LiveResults& results() const { return results_; }
    // The thresholds last sent with "ThreshSet()" (impulse noise, interruption in dBm):
    // the entry's absolute thresholds, or those derived from a found sine.
    double impulseThreshold() const { return impulseThreshold_; }
    double interruptionThreshold() const { return interruptionThreshold_; }

    ZmkLink& link() { return link_; }
    // The thread's own WaitFor (the end of its loop), beside the timed wait of the sequence.
    using DeviceThread::WaitFor;

    // Rows of the step tables (ZmkSequence.cpp).
    struct MeterKind;
    struct GeneratorKind;

protected:
    void Execute() override;
    // The modem thread of the run (null when there is none).
    virtual ModemThread* modem();
    // The run's current scenario entry (null when there is none).
    virtual const ScenarioEntry* runEntry() const;

private:
    ZMK(UiBridge& ui, PortFactory ports, RunContext* run);

    static constexpr std::size_t kSerialWord = 9;
    static constexpr std::size_t kFirmwareWord = 10;

    // ---- Start-up (ZmkStartup.cpp) -------------------------------------------------
    ZmkStartup speedHandshake(int32_t speed);
    bool identify();
    bool readCalibration();
    void tidyDataFolder();
    void startupFailure(const std::string& line);

    // ---- Sequence (ZmkSequence.cpp) -------------------------------------------------
    void step(AnalyzerCommand command);
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
    // command of its own for this thread (20), which must not be overwritten.
    void handBack(AnalyzerCommand ownCommand, ModemCommand modemCommand);
    ModemCommand measuredCommand(); // ThroughputTest or Reconnect

    // ---- Set-up steps ---------------------------------------------------------------
    // Sends a plan with SendCommand; a failure ends the run with the plan's label.
    bool run(const CommandPlan& plan);

    // ---- Waits (ZmkWaits.cpp) -------------------------------------------------------
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
    // One received block through the decoder: repaint and bad-block counting.
    int16_t decodeReady(int type);
    void repaint(int16_t code);
    void showResultLines(ResultKind kind);
    void showResultLine(const std::string& line);
    void advanceDeadline(double seconds);

    // ---- Decoder actions -------------------------------------------------------------
    void reportRange(int16_t report) override;
    bool send(const CommandPlan& plan) override;

    // ---- Scenario ---------------------------------------------------------------------
    const ScenarioEntry& entry() const;
    bool autonomous() const;
    ResultContext resultContext() const;
    double syncDelay() const; // the synchronisation delay, s
    double halfDelay() const; // h

    RunContext* run_; // null outside a run
    ZmkLink link_;
    std::unique_ptr<MeterComputation> meter_;
    LiveResults results_;
    std::array<int16_t, 25> calibration_{};
    std::atomic<bool> firstPass_{false};
    bool measuring_ = false;
    bool overload_ = false;
    AnalyzerCommand stepCommand_ = AnalyzerCommand::Idle; // the step that runs now
    double impulseThreshold_ = 0.0;
    double interruptionThreshold_ = 0.0;
    ScenarioEntry fallbackEntry_; // settings when the run has no current entry
};

} // namespace vetlina
