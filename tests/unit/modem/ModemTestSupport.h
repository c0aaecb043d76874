// Test support for the modem room: a port the test keeps while a Device owns it, a
// scripted Hayes modem at the far end of an in-memory line, and a folder with a
// Vetlina.ini and a Complex, so that a MODEM can be created as a run creates it.
#pragma once

#include "IdleDevice.h"
#include "SharedPort.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "app/Complex.h"
#include "device/Device.h"
#include "device/MemoryPort.h"
#include "device/WorkerThreads.h"
#include "scenario/Scenario.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vetlina::test {

// A Device that runs no loop of its own: its operations are called by the test.
using TestDevice = IdleDevice;

// Both ends of an in-memory line; the near end is handed to a Device by the factory.
struct Line {
    Line();
    std::shared_ptr<MemoryPort> near;
    std::shared_ptr<MemoryPort> far;
    // Each port the factory made, last first (for the carrier options).
    std::vector<SharedPort*> made;
    PortFactory factory();
    // Carrier, DSR and CTS as the computers at both ends see them.
    void setConnected(bool connected);
};

// A Hayes modem in numeric result mode at the far end of a line, on its own thread: it
// echoes what the computer types (unless echo is off), takes each command line at its
// CR and answers it after the LF that follows (as a modem holds its result until then).
// While the carrier is on it is in data mode: it neither reads, echoes nor answers, and
// what the computer sends waits at the far end for the far complex (what is left there
// goes when the connection ends). A connection stands only while the computer holds
// DTR: without it the modem hangs up (carrier and DSR go, "3" follows).
class FakeModem {
public:
    // Returns once the modem's thread runs (and so counts for a stepped clock).
    explicit FakeModem(Line& line);
    ~FakeModem();
    FakeModem(const FakeModem&) = delete;
    FakeModem& operator=(const FakeModem&) = delete;

    std::atomic<bool> echo{true};
    // The test runs on the stepped clock: the modem polls the line on the clock (so
    // that the clock waits for it) rather than in real time.
    std::atomic<bool> onSteppedClock{false};
    // An answer "20" to a command line connects (the carrier comes just before the
    // result), as on the held line of a session.
    std::atomic<bool> connectsOn20{false};
    // The answer to a command line (the text before its CR, "AT" included). The default
    // answers "0" to everything, with an identification line before it for ATI5 and the
    // reason "004" for ATS86?.
    void setAnswer(std::function<std::string(const std::string&)> answer);
    // Bytes the modem sends now (a result, a ring).
    void send(const std::string& bytes);
    // A connection stands (carrier and DSR on) or not; raise DTR first.
    void connect(bool on);

    std::vector<std::string> commands() const;
    // Waits (real time) until the computer has typed a command line starting with prefix.
    bool waitForCommand(const std::string& prefix, int realMs = 5000);

private:
    void run();
    std::string answerTo(const std::string& command);

    Line& line_;
    mutable std::mutex mutex_;
    std::function<std::string(const std::string&)> answer_;
    std::vector<std::string> commands_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};
    std::thread thread_;
};

// A complex's folder with its Vetlina.ini as the current directory, a Complex of the
// identifier 12345678 as the current one, and its scenario. Its create() makes the
// modem thread on the configured port and no analyzer.
class ModemRoom {
public:
    explicit ModemRoom(const std::string& extraIni = "");
    ~ModemRoom();

    // An entry of the run's scenario, due now, for the number (a copy of the entry
    // added before it, as the editor makes it; references to entries are then stale).
    ScenarioEntry& addEntry(const std::string& id, const std::string& number);

    TempFolder folder;
    CurrentDirectory cwd{folder.path()};
    TestUi ui;
    Scenario scenario;
    std::unique_ptr<Complex> complex;

    // Rewrites Vetlina.ini with more keys after the room's own.
    void configure(const std::string& extraIni);

private:
    // The complex's worker threads when create() is called: the modem thread on the
    // configured port, and no analyzer.
    class ModemOnly : public WorkerFactory {
    public:
        std::unique_ptr<AnalyzerThread> createAnalyzer(RunContext&) override { return nullptr; }
        std::unique_ptr<ModemThread> createModem(RunContext& complex, ModemRole role) override;
    } workers_;
};

} // namespace vetlina::test
