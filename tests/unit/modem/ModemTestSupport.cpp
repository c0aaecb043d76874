#include "ModemTestSupport.h"

#include "device/ComPort.h"
#include "modem/Modem.h"
#include "platform/Clock.h"

#include <chrono>

namespace vetlina::test {

long SharedPort::read(uint8_t* buffer, std::size_t size) {
    long n = port_->read(buffer, size);
    if (n > 0)
        read_ += static_cast<std::size_t>(n);
    return n;
}

long SharedPort::write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) {
    if (filter) {
        std::string arriving;
        for (std::size_t i = 0; i < size; ++i)
            arriving += filter(data[i]);
        long n = port_->write(reinterpret_cast<const uint8_t*>(arriving.data()), arriving.size(),
                              timeoutMs);
        if (n < 0 || static_cast<std::size_t>(n) < arriving.size())
            return n < 0 ? n : 0;
        written_ += size;
        return static_cast<long>(size);
    }
    long n = port_->write(data, size, timeoutMs);
    if (n > 0)
        written_ += static_cast<std::size_t>(n);
    return n;
}

std::optional<ModemLines> SharedPort::modemLines() {
    auto lines = port_->modemLines();
    if (lines && ((carrierGoneAfterWritten > 0 && written_ >= carrierGoneAfterWritten) ||
                  (carrierGoneAfterRead > 0 && read_ >= carrierGoneAfterRead))) {
        lines->carrier = false;
        lines->dsr = false;
    }
    return lines;
}

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
}

FakeModem::~FakeModem() {
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
    while (!stop_) {
        if (connected_ && !line_.near->dtr()) {
            connect(false);
            // What the far complex has not read belongs to the ended connection.
            line_.far->purge();
            send("3\r");
        }

        uint8_t c = 0;
        if (connected_ || line_.far->read(&c, 1) != 1) {
            // A line whose LF never comes gets its answer after a while all the same.
            if (holding &&
                std::chrono::steady_clock::now() - since > std::chrono::milliseconds(50)) {
                if (connectsOn20 && held == "20\r")
                    connect(true);
                send(held);
                holding = false;
            }
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
