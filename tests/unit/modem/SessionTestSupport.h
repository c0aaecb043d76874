// Test support for the session dialogue: a complex whose modem thread talks over an
// in-memory line to a scripted far complex, with a recording of what the session leaves
// in the records of its cycle and an analyzer that hands the line back at once.
//
// The modem thread's steps run on a thread of their own (modemSide), the far complex's
// script on another (farSide), and the test's thread serves the hand-offs of both as the
// main thread does.
#pragma once

#include "ModemTestSupport.h"
#include "ScopedGlobals.h"
#include "analyzer/Results.h"
#include "modem/Modem.h"
#include "modem/SessionBlocks.h"
#include "modem/SessionLink.h"
#include "modem/SessionRecords.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vetlina::test {

// What the session dialogue handed to the records of its cycle, in order.
class RecordingRecords : public SessionRecords {
public:
    struct Call {
        std::string what; // "reset", "norms", "data", "end", "evaluate"
        bool calling = false;
        std::string caller, answerer;
        bool localMeter = false;
        float sineLevel = 0.0f; // of the records handed to a data file
        float throughput = 0.0f;
        int32_t sessionsDone = 0;
        int finished = 0;
        std::string path; // of a cycle end
    };

    // What evaluateSession leaves: normFailed, and an early end of the series.
    std::atomic<bool> failNorms{false};
    std::atomic<bool> endEarly{false};

    std::vector<Call> calls() const;
    std::vector<std::string> names() const;

    void resetCycleStatistics(ScenarioEntry& entry) override;
    bool writeNormsFile(Device& thread, ScenarioEntry& entry, const CycleParties& parties) override;
    // Names the files as the data-file work numbers them: DATA/zmk00000.dat, ...
    bool writeDataFile(Device& thread, ScenarioEntry& entry, const CycleParties& parties,
                       const MeasuredDirection& direction, std::string& dataFileName,
                       std::string& previousDataFileName) override;
    void markCycleEnd(const std::string& path) override;
    void evaluateSession(RunContext& complex, ScenarioEntry& entry, bool calling,
                         bool& normFailed) override;

private:
    void add(Call call);
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    int files_ = 0;
};

// An analyzer thread that measures nothing: its command and first-pass flag are what
// the modem thread set. Once started (Resume) it plays both passes at once: on
// MeasureFirst or GenerateFirst it puts `measured` into its live records, clears its
// first-pass flag and hands back to the modem thread with `handBack`; on SwitchOff it
// lets the line go (Idle).
class FakeAnalyzer : public AnalyzerThread {
public:
    explicit FakeAnalyzer(UiBridge& ui) : AnalyzerThread(ui, nullptr) {
        SetCommand(AnalyzerCommand::Idle);
    }
    ~FakeAnalyzer() override;

    int16_t serialNumber() const override { return 1234; }
    int16_t firmwareNumber() const override { return 305; }
    void setFirstPass(bool on) override { first_ = on; }
    bool firstPass() const override { return first_; }
    LiveResults& liveResults() override { return live_; }

    LiveResults measured;
    ModemCommand handBack = ModemCommand::Reconnect;
    // The commands it took, in order (1, 10, 20).
    std::vector<AnalyzerCommand> taken() const;

protected:
    void Execute() override;

private:
    std::atomic<bool> first_{false};
    LiveResults live_;
    mutable std::mutex mutex_;
    std::vector<AnalyzerCommand> taken_;
};

// The far complex on the far end of the line: its block layer, while a connection
// stands (the fake modem leaves the bytes of a connection to it).
class FarComplex {
public:
    FarComplex(TestUi& ui, Line& line);
    bool send(std::span<const uint8_t> block) { return link_.sendBlock(block); }
    bool receive(std::span<uint8_t> block) { return link_.receiveBlock(block); }
    template <class Block>
    bool sendBlock(const Block& block) {
        return send(blockBytes(block));
    }
    template <class Block>
    bool receiveBlock(Block& block) {
        return receive(blockBytes(block));
    }

private:
    TestDevice device_;
    int32_t recvErrors_ = 0, sendRepeats_ = 0;
    SessionLink link_{device_, recvErrors_, sendRepeats_};
};

// A complex 12345678 ("Оператор А", "Город А", "АТС А") in its folder, with a modem
// thread (not started) on the near end of a line whose far end a fake modem serves, a
// fake analyzer, and the scripted far complex.
class SessionRoom {
public:
    explicit SessionRoom(ModemRole role, const std::string& extraIni = "");
    ~SessionRoom();

    MODEM& modem() { return *modem_; }
    FakeAnalyzer& analyzer() { return *analyzer_; }
    ScenarioEntry& entry(int i = 0) { return scenario.entry(i); }

    // The calling modem in a call of the scenario's first entry (its series begun), the
    // connection standing.
    void callingInCall();
    // The answering modem with a connection standing.
    void answeringInCall();

    // Runs the modem thread's side and the far complex's side at once, each on a thread
    // of its own, serving the hand-offs until both are done.
    // onMain runs on the test's thread between the hand-offs (an operator at the windows).
    void runSides(const std::function<void()>& modemSide, const std::function<void()>& farSide,
                  const std::function<void()>& onMain = {});
    // The far side hangs up as a calling complex does after its last block: it gives
    // the answer's acknowledgement its 2 s on the line, then the carrier goes.
    void farHangsUp();
    // Waits (real time) until the near side has hung up (DTR dropped).
    bool waitNearHangUp(int realMs = 10000);

    // The event lines without their times.
    std::vector<std::string> events() const;

    // Every thread of the room (modem, fake modem, fake analyzer, far complex, the
    // sides) runs on the stepped clock: the echo of a command line, the far complex's
    // block and the modem's wait for them keep their order however busy the machine.
    ScopedSteppedClock stepped;
    TempFolder folder;
    CurrentDirectory cwd{folder.path()};
    TestUi ui;
    Scenario scenario;
    Line line;
    FakeModem fake{line};
    RecordingRecords records;
    std::unique_ptr<Complex> complex;
    std::unique_ptr<FarComplex> far;

private:
    class NoWorkers : public WorkerFactory {
    public:
        std::unique_ptr<AnalyzerThread> createAnalyzer(RunContext&) override { return nullptr; }
        std::unique_ptr<ModemThread> createModem(RunContext&, ModemRole) override {
            return nullptr;
        }
    } workers_;
    MODEM* modem_ = nullptr;
    FakeAnalyzer* analyzer_ = nullptr;
};

// A greeting as the far complex sends it.
GreetingBlock farGreeting(const std::string& ident, const std::string& wanted, double seriesTime,
                          int32_t sessionsDone, bool resume = false);

} // namespace vetlina::test
