#include "SessionTestSupport.h"

#include "analyzer/ZMK.h"
#include "app/Complex.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace vetlina::test {

// ---- RecordingRecords ---------------------------------------------------------------

void RecordingRecords::add(Call call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

std::vector<RecordingRecords::Call> RecordingRecords::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> RecordingRecords::names() const {
    std::vector<std::string> out;
    for (const auto& c : calls())
        out.push_back(c.what);
    return out;
}

void RecordingRecords::resetCycleStatistics(ScenarioEntry& entry) {
    Call call;
    call.what = "reset";
    call.sessionsDone = entry.SessionsDone.get();
    add(std::move(call));
}

bool RecordingRecords::writeNormsFile(Device&, ScenarioEntry& entry, const CycleParties& parties) {
    Call call;
    call.what = "norms";
    call.calling = parties.calling;
    call.caller = parties.caller;
    call.answerer = parties.answerer;
    call.sessionsDone = entry.SessionsDone.get();
    add(std::move(call));
    return true;
}

bool RecordingRecords::writeDataFile(Device&, ScenarioEntry& entry, const CycleParties& parties,
                                     const MeasuredDirection& direction, std::string& dataFileName,
                                     std::string& previousDataFileName) {
    char name[32];
    {
        std::lock_guard lock(mutex_);
        std::snprintf(name, sizeof name, "DATA/zmk%05d.dat", files_++);
    }
    previousDataFileName = dataFileName;
    dataFileName = name;
    Call call;
    call.what = "data";
    call.calling = parties.calling;
    call.caller = parties.caller;
    call.answerer = parties.answerer;
    call.localMeter = direction.localMeter;
    call.sineLevel = direction.results.sine.level.get();
    call.throughput = direction.throughput;
    call.sessionsDone = entry.SessionsDone.get();
    call.finished = entry.Finished;
    call.path = name;
    add(std::move(call));
    return true;
}

void RecordingRecords::markCycleEnd(const std::string& path) {
    Call call;
    call.what = "end";
    call.path = path;
    add(std::move(call));
}

void RecordingRecords::evaluateSession(RunContext&, ScenarioEntry& entry, bool calling,
                                       bool& normFailed) {
    normFailed = failNorms.load();
    if (endEarly.load())
        entry.Finished = 1;
    Call call;
    call.what = "evaluate";
    call.calling = calling;
    call.sessionsDone = entry.SessionsDone.get();
    call.finished = entry.Finished;
    add(std::move(call));
}

// ---- FakeAnalyzer -------------------------------------------------------------------

FakeAnalyzer::~FakeAnalyzer() {
    stop();
    Terminate();
    DeviceThread::WaitFor();
}

std::vector<AnalyzerCommand> FakeAnalyzer::taken() const {
    std::lock_guard lock(mutex_);
    return taken_;
}

void FakeAnalyzer::Execute() {
    while (!Terminated()) {
        const AnalyzerCommand c = command();
        if (c == AnalyzerCommand::MeasureFirst || c == AnalyzerCommand::GenerateFirst ||
            c == AnalyzerCommand::SwitchOff) {
            {
                std::lock_guard lock(mutex_);
                taken_.push_back(c);
            }
            if (c == AnalyzerCommand::SwitchOff) {
                SetCommand(AnalyzerCommand::Idle);
                continue;
            }
            live_ = measured;
            first_ = false;
            SetCommand(AnalyzerCommand::Idle);
            if (Complex* complex = currentComplex(); complex && complex->modemThread)
                complex->modemThread->SetCommand(handBack);
        }
        sleepMs(5);
    }
}

// ---- FarComplex -----------------------------------------------------------------------

namespace {

// The far end of the line as the far complex uses it: the line holds it open already.
class FarEndPort : public SharedPort {
public:
    using SharedPort::SharedPort;
    PortOpenResult open(const LineSettings&) override { return PortOpenResult::Ok; }
    void close() override {}
    bool isOpen() const override { return true; }
};

} // namespace

FarComplex::FarComplex(TestUi& ui, Line& line)
    : device_(ui.bridge, [&line](int32_t) -> std::unique_ptr<SerialPort> {
          return std::make_unique<FarEndPort>(line.far);
      }) {
    device_.OpenPort();
}

// ---- SessionRoom ----------------------------------------------------------------------

SessionRoom::SessionRoom(ModemRole role, const std::string& extraIni) {
    folder.write("Vetlina.ini", "[VETLINA]\nIdent=12345678\nModemPort=1\nUser=" +
                                    toCp1251("Оператор А") + "\nCity=" + toCp1251("Город А") +
                                    "\nATS=" + toCp1251("АТС А") + "\n" + extraIni);
    scenario.append("87654321", "1002");
    ScenarioEntry& e = scenario.entry(0);
    e.NextTime = static_cast<double>(e.BegTime);

    complex = std::make_unique<Complex>(ui.bridge, workers_, scenario, "12345678");
    setFieldText(complex->ownIdent, "12345678");
    setFieldText(complex->ownUser, toCp1251("Оператор А"));
    setFieldText(complex->ownCity, toCp1251("Город А"));
    setFieldText(complex->ownAts, toCp1251("АТС А"));
    setCurrentComplex(complex.get());
    setCurrentEntry(nullptr);

    auto analyzer = std::make_unique<FakeAnalyzer>(ui.bridge);
    analyzer_ = analyzer.get();
    complex->analyzerThread = std::move(analyzer);

    fake.setAnswer([](const std::string& command) -> std::string {
        if (command == "ATI5")
            return "Fake modem\r\n0\r";
        if (command.rfind("ATX1D", 0) == 0 || command.find("X1D") != std::string::npos ||
            command == "ATB1A" || command.rfind("AT%E2", 0) == 0)
            return "20\r";
        return "0\r";
    });
    fake.connectsOn20 = true;
    fake.onSteppedClock = true;
    auto modem = std::make_unique<MODEM>(*complex, line.factory(), role);
    modem->records = &records;
    // What the modem said at its initialisation is not wanted.
    modem->PurgePort();
    modem_ = modem.get();
    complex->modemThread = std::move(modem);
    ui.models.protocol.clear();
    far = std::make_unique<FarComplex>(ui, line);
}

SessionRoom::~SessionRoom() {
    // The threads end on the real-time clock: this thread joins them.
    stepped.off();
    far.reset();
    complex.reset();
    setCurrentEntry(nullptr);
    setCurrentComplex(nullptr);
}

void SessionRoom::callingInCall() {
    ScenarioEntry& e = entry();
    if (e.SeriesTime < 1.0)
        e.SeriesTime = now();
    setCurrentEntry(&e);
    setFieldText(complex->peerIdent, textOf(e.Id));
    modem_->setRole(ModemRole::CallingInCall);
    modem_->SetCommand(ModemCommand::CallerDialogue);
    modem_->dtr(true);
    fake.connect(true);
}

void SessionRoom::answeringInCall() {
    modem_->SetCommand(ModemCommand::AnswererDialogue);
    modem_->dtr(true);
    fake.connect(true);
}

void SessionRoom::runSides(const std::function<void()>& modemSide,
                           const std::function<void()>& farSide,
                           const std::function<void()>& onMain) {
    std::atomic<int> done{0};
    std::atomic<int> begun{0};
    auto run = [&](const std::function<void()>& side) {
        return std::thread([&, side] {
            // The side counts for the stepped clock from here: the clock cannot run on
            // while the thread is still being started.
            tickMs();
            ++begun;
            if (side)
                side();
            ++done;
            ui.bridge.wake();
        });
    };
    std::thread a = run(modemSide);
    std::thread b = run(farSide);
    while (begun < 2)
        std::this_thread::yield();
    // This thread serves the sides' hand-offs and joins them.
    StandAside aside;
    ui.bridge.serveUntil([&] {
        if (onMain)
            onMain();
        return done == 2;
    });
    a.join();
    b.join();
}

void SessionRoom::farHangsUp() {
    sleepMs(MODEM::kHandOverHangUpMs);
    fake.connect(false);
}

bool SessionRoom::waitNearHangUp(int realMs) {
    StandAside aside;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    while (std::chrono::steady_clock::now() < end) {
        if (!line.near->dtr())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::vector<std::string> SessionRoom::events() const {
    std::vector<std::string> out;
    for (const auto& line : ui.protocolLines())
        out.push_back(line.size() > 9 && line[2] == ':' ? line.substr(9) : line);
    return out;
}

GreetingBlock farGreeting(const std::string& ident, const std::string& wanted, double seriesTime,
                          int32_t sessionsDone, bool resume) {
    return makeGreeting(resume, ident, wanted, seriesTime, sessionsDone);
}

} // namespace vetlina::test
