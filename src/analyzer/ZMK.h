// The analyzer thread ZMK: the ZMK-5 analyzer on its serial port, brought up by the
// constructor (speed handshake, identification, calibration table, DATA folder) and
// then driven by a loop over its command number through the measurement sequence,
// generating while the far complex measures and measuring while it generates, and
// handing back to the modem thread when both directions are done.
//
// The thread composes four parts, each with its own state: the link (ZmkLink.h, the
// block protocol), the start-up (ZmkStartup.h), the result accumulation (ZmkResults.h,
// the computation of the blocks and the live records) and the sequence (ZmkSequence.h,
// the steps and their timed waits). VisualisationPanel.h sets up the progress panel of
// the visualisation window.
#pragma once

#include "analyzer/ZmkLink.h"
#include "analyzer/ZmkResults.h"
#include "analyzer/ZmkSequence.h"
#include "analyzer/ZmkStartup.h"
#include "device/WorkerThreads.h"
#include "reports/RunContext.h"
#include "scenario/ScenarioEntry.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace vetlina {

class ZMK : public AnalyzerThread {
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

    int16_t serialNumber() const override { return startup_.serialNumber(); }
    int16_t firmwareNumber() const override { return startup_.firmwareNumber(); }
    void setFirstPass(bool on) override { firstPass_.store(on, std::memory_order_release); }
    bool firstPass() const override { return firstPass_.load(std::memory_order_acquire); }
    LiveResults& liveResults() override { return results_.results(); }

    // The calibration table as the analyzer sent it.
    const std::array<int16_t, 25>& calibration() const { return startup_.calibration(); }
    // The live result records of the last measuring pass. Written only on the analyzer
    // thread inside its meter steps; others read them after the hand-back (the command
    // the modem thread receives orders the accesses).
    const LiveResults& results() const { return results_.results(); }
    // The thresholds last sent with "ThreshSet()" (impulse noise, interruption in dBm):
    // the entry's absolute thresholds, or those derived from a found sine.
    double impulseThreshold() const { return sequence_.impulseThreshold(); }
    double interruptionThreshold() const { return sequence_.interruptionThreshold(); }

    ZmkLink& link() { return link_; }

protected:
    void Execute() override;
    // The modem thread of the run (null when there is none).
    virtual ModemThread* modem();
    // The run's current scenario entry (null when there is none).
    virtual const ScenarioEntry* runEntry() const;

private:
    // The sequence asks the thread for the run's modem thread, entry and documents.
    friend class ZmkSequence;

    ZMK(UiBridge& ui, PortFactory ports, RunContext* run);
    // Reports a failed start-up: the thread stops, the line goes to the protocol and a
    // message box, and the run ends.
    void startupFailure(const std::string& line);

    RunContext* run_; // null outside a run
    ZmkLink link_;
    ZmkBringUp startup_;
    ZmkResults results_;
    ZmkSequence sequence_;
    std::atomic<bool> firstPass_{false};
};

} // namespace vetlina
