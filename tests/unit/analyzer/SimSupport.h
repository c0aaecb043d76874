// vetlina-sim as the far side of the analyzer tests (the process: SimProcess.h): a plain
// Hayes dialogue on a simulated modem so that two stations can be put in a call, and the
// far complex's analyzer thread in the same process.
#pragma once

#include "SequenceSupport.h"
#include "SimProcess.h"
#include "TestUi.h"
#include "device/PortFactory.h"
#include "device/SerialPort.h"
#include "platform/Clock.h"

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace vetlina::test {

// The simulated modem of a station spoken to as plain Hayes text.
class HayesLine {
public:
    explicit HayesLine(uint16_t port)
        : port_(makeSerialPort("rfc2217://127.0.0.1:" + std::to_string(port))) {}
    bool open() { return port_->open(LineSettings{9600}) == PortOpenResult::Ok; }
    void send(const std::string& text) {
        port_->write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 1000);
    }
    // Reads until the text has come (real-time wait); what came is kept.
    bool awaitText(const std::string& text, int realMs) {
        return waitReal(
            [&] {
                uint8_t buffer[256];
                long n = port_->read(buffer, sizeof buffer);
                if (n > 0)
                    received_.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
                return received_.find(text) != std::string::npos;
            },
            realMs);
    }
    const std::string& received() const { return received_; }

private:
    std::unique_ptr<SerialPort> port_;
    std::string received_;
};

// The port of a device server, without the configuration.
inline PortFactory serverPort(uint16_t port) {
    return
        [port](int32_t) { return makeSerialPort("rfc2217://127.0.0.1:" + std::to_string(port)); };
}

// The analyzer of the far complex in the same process: its own front end, modem double
// and analyzer thread, all made, served and destroyed on a thread of its own, which is
// that front end's main thread.
class PeerAnalyzer {
public:
    PeerAnalyzer(uint16_t port, ModemRole role) {
        std::promise<bool> up;
        auto started = up.get_future();
        thread_ = std::thread([this, port, role, &up] {
            TestUi ui;
            RecordingModem modem(ui.bridge, role);
            modem.Resume();
            BoundZmk zmk(ui.bridge, serverPort(port), &modem);
            modem_ = &modem;
            zmk_ = &zmk;
            dialogs_ = &ui.dialogs;
            up.set_value(zmk.command() == AnalyzerCommand::SwitchOff);
            zmk.Resume();
            while (!stop_) {
                ui.bridge.serveInvocations();
                ui.bridge.waitForWork(20);
            }
            zmk.stop();
            zmk.Terminate();
            ui.bridge.serveUntil([&] { return zmk.Finished(); });
        });
        ready_ = started.get();
    }
    ~PeerAnalyzer() {
        stop_ = true;
        thread_.join();
    }
    // Brought up (SwitchOff after its start-up).
    bool ready() const { return ready_; }
    // As the modem thread starts a pass.
    void start(AnalyzerCommand command) {
        zmk_->setFirstPass(true);
        zmk_->SetCommand(command);
    }
    RecordingModem& modem() { return *modem_; }
    // Read only after the modem double has been handed back to.
    const ZMK& zmk() const { return *zmk_; }
    std::vector<std::string> dialogs() const { return dialogs_->texts(); }

private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    bool ready_ = false;
    RecordingModem* modem_ = nullptr;
    BoundZmk* zmk_ = nullptr;
    RecordingDialogs* dialogs_ = nullptr;
};

} // namespace vetlina::test
