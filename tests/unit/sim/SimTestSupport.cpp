#include "SimTestSupport.h"

#include "SimProcess.h"
#include "platform/Clock.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vetlina::sim::test {

namespace {
constexpr uint8_t IAC = 255;
constexpr uint8_t SB = 250;
constexpr uint8_t SE = 240;
constexpr uint8_t WILL = 251;
constexpr uint8_t DO = 253;
} // namespace

PortClient::~PortClient() {
    close();
}

bool PortClient::connect(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    int yes = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL, 0) | O_NONBLOCK);
    std::string offer;
    for (uint8_t option : {0, 3}) {
        offer += {char(IAC), char(WILL), char(option)};
        offer += {char(IAC), char(DO), char(option)};
    }
    offer += {char(IAC), char(WILL), char(44)};
    writeRaw(offer);
    return true;
}

void PortClient::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void PortClient::service() {
    if (fd_ < 0)
        return;
    uint8_t buffer[4096];
    for (;;) {
        ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
        if (count > 0) {
            for (ssize_t i = 0; i < count; ++i)
                decode(buffer[i]);
            continue;
        }
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            closedByServer_ = true;
            close();
        }
        return;
    }
}

void PortClient::decode(uint8_t b) {
    switch (state_) {
    case State::Data:
        if (b == IAC)
            state_ = State::Iac;
        else
            data_ += static_cast<char>(b);
        break;
    case State::Iac:
        if (b == IAC) {
            data_ += static_cast<char>(IAC);
            state_ = State::Data;
        } else if (b == SB) {
            sub_.clear();
            state_ = State::Sub;
        } else if (b >= 251) {
            optionCommand_ = b;
            state_ = State::Option;
        } else {
            state_ = State::Data;
        }
        break;
    case State::Option:
        negotiations_.push_back({optionCommand_, b});
        state_ = State::Data;
        break;
    case State::Sub:
        if (b == IAC)
            state_ = State::SubIac;
        else
            sub_ += static_cast<char>(b);
        break;
    case State::SubIac:
        if (b == IAC) {
            sub_ += static_cast<char>(IAC);
            state_ = State::Sub;
        } else {
            state_ = State::Data;
            if (sub_.size() >= 2 && static_cast<uint8_t>(sub_[0]) == 44) {
                int code = static_cast<uint8_t>(sub_[1]);
                std::string value = sub_.substr(2);
                replies_.push_back({code, value});
                if (code == 107 && value.size() == 1) {
                    modemState_ = static_cast<uint8_t>(value[0]);
                    ++notifications_;
                }
            }
        }
        break;
    }
}

void PortClient::write(const std::string& data) {
    std::string escaped;
    for (char c : data) {
        escaped += c;
        if (static_cast<uint8_t>(c) == IAC)
            escaped += c;
    }
    writeRaw(escaped);
}

void PortClient::writeRaw(const std::string& bytes) {
    std::size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return;
        }
        done += static_cast<std::size_t>(sent);
    }
}

void PortClient::comPort(uint8_t code, const std::string& value) {
    std::string bytes = {char(IAC), char(SB), char(44), char(code)};
    for (char c : value) {
        bytes += c;
        if (static_cast<uint8_t>(c) == IAC)
            bytes += c;
    }
    bytes += {char(IAC), char(SE)};
    writeRaw(bytes);
}

void PortClient::setBaudRate(uint32_t baud) {
    comPort(1, {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)});
}

void PortClient::setControl(uint8_t value) {
    comPort(5, std::string(1, char(value)));
}

void PortClient::setModemStateMask(uint8_t mask) {
    comPort(11, std::string(1, char(mask)));
}

void PortClient::purge(uint8_t which) {
    comPort(12, std::string(1, char(which)));
}

std::string PortClient::take() {
    std::string taken;
    taken.swap(data_);
    return taken;
}

// ---------------------------------------------------------------------------

SimHarness::SimHarness(const std::string& configJson, double timeScale,
                       Simulator::Options options) {
    setTimeScaleForTesting(timeScale);
    std::string error;
    auto config = parseConfig(configJson, error);
    if (!config)
        throw std::runtime_error("test configuration: " + error);
    log_ = std::make_unique<EventLog>(nullptr);
    log_->setObserver([this](const nlohmann::json& event) { events_.push_back(event); });
    simulator_ = std::make_unique<Simulator>(*config, *log_, std::move(options));
    if (!simulator_->start(error))
        throw std::runtime_error("simulator: " + error);
}

SimHarness::~SimHarness() {
    clients_.clear();
    simulator_.reset();
    setTimeScaleForTesting(1.0);
}

PortClient& SimHarness::port(const std::string& station) {
    auto& client = clients_[station];
    if (!client) {
        client = std::make_unique<PortClient>();
        if (!client->connect(simulator_->modemPort(station)))
            throw std::runtime_error("cannot connect to the modem port of " + station);
        client->setBaudRate(9600);
        client->setControl(3);
        until([&] { return client->notifications() > 0 && client->replies().size() >= 3; }, 2000);
        client->take();
    }
    return *client;
}

void SimHarness::serviceClients() {
    for (auto& [name, client] : clients_)
        client->service();
}

bool SimHarness::until(const std::function<bool()>& condition, uint32_t scaledMs) {
    uint32_t deadline = tickMs() + scaledMs;
    for (;;) {
        serviceClients();
        if (condition())
            return true;
        if (tickReached(deadline))
            return false;
        simulator_->step(1);
    }
}

void SimHarness::run(uint32_t scaledMs) {
    until([] { return false; }, scaledMs);
}

std::string SimHarness::command(const std::string& station, const std::string& line,
                                const std::string& end, uint32_t scaledMs) {
    PortClient& client = port(station);
    client.take();
    const std::string echo = line + "\r\n";
    client.write(echo);
    until(
        [&] {
            const std::string& data = client.data();
            // Wait for the whole echo; the end text counts only after what was echoed
            // (all of it, or the part before the modem stopped echoing: E0 takes
            // effect at the CR, so "ATE0\r" comes back without its LF).
            if (data.size() <= echo.size() && echo.compare(0, data.size(), data) == 0)
                return false;
            const std::size_t echoed =
                std::mismatch(data.begin(), data.end(), echo.begin(), echo.end()).first -
                data.begin();
            return data.find(end, echoed) != std::string::npos;
        },
        scaledMs);
    return client.take();
}

std::string SimHarness::waitFor(const std::string& station, const std::string& text,
                                uint32_t scaledMs) {
    PortClient& client = port(station);
    until([&] { return client.data().find(text) != std::string::npos; }, scaledMs);
    return client.take();
}

std::vector<nlohmann::json> SimHarness::eventsNamed(const std::string& event,
                                                    const std::string& station) const {
    std::vector<nlohmann::json> found;
    for (const auto& e : events_)
        if (e["event"] == event && (station.empty() || e["station"] == station))
            found.push_back(e);
    return found;
}

nlohmann::json network() {
    nlohmann::json config = vetlina::test::modemNetwork();
    config["stations"].push_back({{"name", "G"}, {"type", "generator"}, {"number", "2000"}});
    return config;
}

} // namespace vetlina::sim::test
