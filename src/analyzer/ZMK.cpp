// The analyzer thread: its construction (the start-up of the analyzer), its loop over
// the command number, and its end (the analyzer put back to rest).
#include "analyzer/ZMK.h"

#include "config/Configuration.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "ui/UiBridge.h"

#include <cstdio>

namespace vetlina {

namespace {

constexpr const char* kIdentificationFailure =
    "Отказ анализатора\r\n\r\nВозможно, требуется повторное включение питания";
constexpr const char* kNoCalibration = "Анализатор не имеет калибровочных данных";

std::string portPrefix(int32_t portNumber) {
    char text[24];
    std::snprintf(text, sizeof text, "COM%1d: ", portNumber);
    return text;
}

} // namespace

ZMK::ZMK(RunContext& run, PortFactory ports) : ZMK(run.ui(), std::move(ports), &run) {}

ZMK::ZMK(UiBridge& ui, PortFactory ports) : ZMK(ui, std::move(ports), nullptr) {}

ZMK::ZMK(UiBridge& ui, PortFactory ports, RunContext* run)
    : AnalyzerThread(ui, std::move(ports), run), run_(run), link_(*this, run),
      startup_(*this, link_), results_(*this, link_), sequence_(*this, link_, results_) {
    const IniFile ini = readConfiguration();
    portNumber = readKey(ini, keys::ZmkPort);
    const int32_t speed = readKey(ini, keys::ZmkSpeed);

    // The computation's working memory, obtained once for the whole run.
    ZmkStartup code = ZmkStartup::Ok;
    if (!results_.obtainWorkingMemory()) {
        code = ZmkStartup::NoMemory;
    } else {
        code = static_cast<ZmkStartup>(static_cast<int>(OpenPort()));
        if (code == ZmkStartup::Ok)
            code = startup_.speedHandshake(speed);
    }

    if (code != ZmkStartup::Ok) {
        if (code == ZmkStartup::SystemError)
            ui.dialogs().showMessage("System Error", openError(), DialogIcon::Warning);
        if (code == ZmkStartup::NoMemory)
            startupFailure(toCp1251(startupText(code)));
        else
            startupFailure(portPrefix(portNumber) + toCp1251(startupText(code)));
        return;
    }
    showProtocolLine(portPrefix(portNumber) + toCp1251(startupText(code)));

    startup_.tidyDataFolder();
    link_.discardChunk();
    if (!startup_.identify()) {
        startupFailure(toCp1251(kIdentificationFailure));
        return;
    }
    // When the command itself fails, "Отказ анализатора" has been reported already; the
    // operator sees both messages.
    if (!startup_.readCalibration(results_.meter().out())) {
        startupFailure(toCp1251(kNoCalibration));
        return;
    }
    results_.resetMeter();
    SetCommand(AnalyzerCommand::SwitchOff);
}

void ZMK::endThread() {
    if (Started() && !Finished()) {
        SetCommand(AnalyzerCommand::Stopped);
        Terminate();
        if (ui().onMainThread())
            ui().serveUntil([this] { return Finished(); });
    }
    DeviceThread::WaitFor();
}

ZMK::~ZMK() {
    // The last resort for an owner that did not end the thread: the loop uses everything
    // below.
    endThread();

    results_.releaseWorkingMemory();
    startup_.putToRest();
}

void ZMK::startupFailure(const std::string& line) {
    SetCommand(AnalyzerCommand::Stopped);
    showProtocolLine(line);
    ui().dialogs().showMessage(toCp1251(kAnalyzerTitle), line, DialogIcon::Warning);
    ui().post(MSG_RUN_END);
}

// ---- The loop -------------------------------------------------------------------------

void ZMK::Execute() {
    while (!Terminated()) {
        const AnalyzerCommand current = command();
        if (current == AnalyzerCommand::Stopped) {
            // Stopped for good: nothing more goes to the analyzer until the run ends it.
            sleepUnlessTerminated(50);
            continue;
        }
        sequence_.step(current);
    }
}

ModemThread* ZMK::modem() {
    return run_ ? run_->modem() : nullptr;
}

const ScenarioEntry* ZMK::runEntry() const {
    return run_ ? run_->entry() : nullptr;
}

} // namespace vetlina
