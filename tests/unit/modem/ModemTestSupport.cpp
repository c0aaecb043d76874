#include "ModemTestSupport.h"

#include "device/ComPort.h"
#include "modem/Modem.h"
#include "platform/Clock.h"

#include <chrono>

namespace vetlina::test {

Line::Line() {
    auto [a, b] = MemoryLine::makePair();
    near = std::move(a);
    far = std::move(b);
    far->open(LineSettings{});
    near->setLines({.cts = true, .dsr = false, .ring = false, .carrier = false});
}

PortFactory Line::factory() {
    return [this](int32_t) -> std::unique_ptr<SerialPort> {
        auto port = std::make_unique<SharedPort>(near);
        made.insert(made.begin(), port.get());
        return port;
    };
}

void Line::setConnected(bool connected) {
    near->setLines({.cts = true, .dsr = connected, .ring = false, .carrier = connected});
    far->setLines({.cts = true, .dsr = connected, .ring = false, .carrier = connected});
}

FakeModem::FakeModem(Line& line) : line_(line) {
    thread_ = std::thread([this] { run(); });
    while (!started_)
        std::this_thread::yield();
}

FakeModem::~FakeModem() {
    StandAside aside;
    stop_ = true;
    thread_.join();
}

void FakeModem::setAnswer(std::function<std::string(const std::string&)> answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
}

void FakeModem::send(const std::string& bytes) {
    line_.far->write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0);
}

void FakeModem::connect(bool on) {
    connected_ = on;
    line_.setConnected(on);
}

std::vector<std::string> FakeModem::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

bool FakeModem::waitForCommand(const std::string& prefix, int realMs) {
    StandAside aside;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    while (std::chrono::steady_clock::now() < end) {
        for (const auto& c : commands())
            if (c.rfind(prefix, 0) == 0)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::string FakeModem::answerTo(const std::string& command) {
    std::function<std::string(const std::string&)> answer;
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(command);
        answer = answer_;
    }
    if (answer)
        return answer(command);
    if (command == "ATI5")
        return "Fake modem 14400\r\n0\r";
    if (command == "ATS86?")
        return "004\r\n0\r";
    return "0\r";
}

void FakeModem::run() {
    std::string typed;
    std::string held; // the answer to the last line, sent after its LF
    bool holding = false;
    auto since = std::chrono::steady_clock::now();
    uint32_t sinceTick = tickMs();
    started_ = true;
    // A line whose LF never comes gets its answer after a while all the same: 50 ms of
    // real time, or a second of the stepped clock (longer than the computer's 50 ms poll
    // of an empty line, after which its LF comes).
    auto lfOverdue = [&] {
        if (onSteppedClock)
            return tickReached(sinceTick + 1000);
        return std::chrono::steady_clock::now() - since > std::chrono::milliseconds(50);
    };
    while (!stop_) {
        if (connected_ && !line_.near->dtr()) {
            connect(false);
            // What the far complex has not read belongs to the ended connection.
            line_.far->purge();
            send("3\r");
        }

        uint8_t c = 0;
        if (connected_ || line_.far->read(&c, 1) != 1) {
            if (holding && lfOverdue()) {
                if (connectsOn20 && held == "20\r")
                    connect(true);
                send(held);
                holding = false;
            }
            if (onSteppedClock)
                sleepMs(1);
            else
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            continue;
        }
        if (echo)
            send(std::string(1, static_cast<char>(c)));
        if (holding) {
            if (connectsOn20 && held == "20\r")
                connect(true);
            send(held);
            holding = false;
            if (c == '\n')
                continue;
        }
        if (c == '\r') {
            std::size_t at = typed.find("AT");
            std::string command = at == std::string::npos ? typed : typed.substr(at);
            typed.clear();
            if (at == std::string::npos)
                continue;
            held = answerTo(command);
            holding = true;
            since = std::chrono::steady_clock::now();
            sinceTick = tickMs();
        } else if (c != '\n') {
            typed += static_cast<char>(c);
        }
    }
}

std::unique_ptr<ModemThread> ModemRoom::ModemOnly::createModem(RunContext& complex,
                                                               ModemRole role) {
    return std::make_unique<MODEM>(complex, comPortFactory(), role);
}

void ModemRoom::configure(const std::string& extraIni) {
    folder.write("Vetlina.ini", "[VETLINA]\nIdent=12345678\nModemPort=1\n" + extraIni);
}

ModemRoom::ModemRoom(const std::string& extraIni) {
    configure(extraIni);
    complex = std::make_unique<Complex>(ui.bridge, workers_, scenario, "12345678");
    setFieldText(complex->ownIdent, "12345678");
    setCurrentComplex(complex.get());
    setCurrentEntry(nullptr);
}

ModemRoom::~ModemRoom() {
    setCurrentEntry(nullptr);
    setCurrentComplex(nullptr);
    setTimeScaleForTesting(1.0);
    setNowForTesting(systemLocalNow());
}

ScenarioEntry& ModemRoom::addEntry(const std::string& id, const std::string& number) {
    scenario.append(id, number);
    ScenarioEntry& e = scenario.entry(scenario.count() - 1);
    // As an active start prepares it: due now.
    e.NextTime = static_cast<double>(e.BegTime);
    return e;
}

} // namespace vetlina::test
