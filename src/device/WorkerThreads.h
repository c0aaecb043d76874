// The two worker threads of a run as the run and the other thread see them. The analyzer
// thread ZMK derives from AnalyzerThread, the modem thread MODEM from ModemThread; both
// are Devices. The run creates them through its WorkerFactory (reports/RunContext.h).
#pragma once

#include "device/AnalyzerCommands.h"
#include "device/Device.h"
#include "device/ModemCommands.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vetlina {

struct LiveResults;

// The side the modem thread plays now.
enum class ModemRole : int8_t {
    Answering = 0,       // answering, idle (a passive start)
    AnsweringServed = 1, // answering, after a served session
    AnsweringInRun = 2,  // answering a call while the scenario is being run
    Calling = 3,         // calling, between calls (an active start)
    CallingInCall = 4,   // calling, in a call
};

static_assert(static_cast<int32_t>(AnalyzerCommand::Stopped) == Device::kStopCommand);
static_assert(static_cast<int32_t>(ModemCommand::Stopped) == Device::kStopCommand);

class AnalyzerThread : public Device {
public:
    using Device::Device;
    // The command number in the analyzer's terms (Device keeps the plain number).
    bool SetCommand(AnalyzerCommand c) { return Device::SetCommand(static_cast<int32_t>(c)); }
    AnalyzerCommand command() const { return static_cast<AnalyzerCommand>(Device::command()); }
    // The analyzer's serial and firmware numbers (calibration words 9 and 10), printed in
    // the protocol header; 0 before the calibration table has been read.
    virtual int16_t serialNumber() const = 0;
    virtual int16_t firmwareNumber() const = 0;
    // The first-pass flag: set by the modem thread before it starts a pass (MeasureFirst or
    // GenerateFirst), and around the data files of a session (which read it: set, this complex's
    // analyzer measured the direction whose results are live).
    virtual void setFirstPass(bool on) = 0;
    virtual bool firstPass() const = 0;
    // The live result records: written by the analyzer thread in its meter steps, and by
    // the modem thread between the analyzer's hand-back and its next hand-over (the
    // result exchange puts the far side's results there). The command numbers that hand
    // the line over order the accesses.
    virtual LiveResults& liveResults() = 0;
};

class ModemThread : public Device {
public:
    using Device::Device;
    // The command number in the modem's terms (Device keeps the plain number).
    bool SetCommand(ModemCommand c) { return Device::SetCommand(static_cast<int32_t>(c)); }
    ModemCommand command() const { return static_cast<ModemCommand>(Device::command()); }
    // The modem thread writes its role on its own thread; the main thread reads it at the
    // operator's end, so the implementation keeps it atomic.
    virtual ModemRole role() const = 0;
    // The run option "Упрощенный вызов генератора" as it was when the current call was dialled.
    virtual bool simplifiedCall() const = 0;
};

} // namespace vetlina
