// Test support for the simulator: a small RFC 2217 client that drives a port the
// way the program does, and a harness that runs a whole simulator in the test's
// thread (the loop turns while the test waits), with its event log at hand.
#pragma once

#include "sim/network/Simulator.h"

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vetlina::sim::test {

class PortClient {
public:
    ~PortClient();

    // Connects and offers BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION.
    bool connect(uint16_t port);
    void close();
    bool connected() const { return fd_ >= 0; }
    bool closedByServer() const { return closedByServer_; }

    // Reads what the server sent, without waiting.
    void service();

    // Data, with IAC doubled.
    void write(const std::string& data);
    // Bytes as they are, Telnet commands included.
    void writeRaw(const std::string& bytes);

    void setBaudRate(uint32_t baud);
    void setControl(uint8_t value); // 3 hardware flow, 8/9 DTR on/off ...
    void setDtr(bool on) { setControl(on ? 8 : 9); }
    void setModemStateMask(uint8_t mask);
    void purge(uint8_t which);
    void comPort(uint8_t code, const std::string& value);

    // Data received so far; take() empties it.
    const std::string& data() const { return data_; }
    std::string take();

    // The last modem state the server notified, and how many notifications came.
    int modemState() const { return modemState_; }
    int notifications() const { return notifications_; }
    bool cts() const { return modemState_ & 0x10; }
    bool dsr() const { return modemState_ & 0x20; }
    bool ring() const { return modemState_ & 0x40; }
    bool carrier() const { return modemState_ & 0x80; }

    // COM-PORT-OPTION answers of the server (code, value), and the Telnet option
    // commands it sent (command, option).
    const std::vector<std::pair<int, std::string>>& replies() const { return replies_; }
    const std::vector<std::pair<int, int>>& negotiations() const { return negotiations_; }

private:
    void decode(uint8_t b);

    int fd_ = -1;
    bool closedByServer_ = false;
    enum class State { Data, Iac, Option, Sub, SubIac } state_ = State::Data;
    int optionCommand_ = 0;
    std::string sub_;
    std::string data_;
    int modemState_ = -1;
    int notifications_ = 0;
    std::vector<std::pair<int, std::string>> replies_;
    std::vector<std::pair<int, int>> negotiations_;
};

class SimHarness {
public:
    // Runs a simulator of the configuration (JSON text; ports 0 are fine) with the
    // clock scaled; the scale returns to 1 at the end.
    explicit SimHarness(const std::string& configJson, double timeScale = 50.0,
                        Simulator::Options options = {});
    ~SimHarness();

    Simulator& simulator() { return *simulator_; }
    Exchange& exchange() { return simulator_->exchange(); }
    HayesModem& modem(const std::string& station) { return *simulator_->modem(station); }

    // The client on a station's modem port, connected on first use and set up as
    // the program sets up its modem port (9600 baud, hardware flow control).
    PortClient& port(const std::string& station);

    // Turns the loop until the condition holds or scaledMs of the clock have
    // passed; false on time-out.
    bool until(const std::function<bool()>& condition, uint32_t scaledMs);
    // Turns the loop for scaledMs of the clock.
    void run(uint32_t scaledMs);

    // Types a command line ("AT...", CR LF appended) on a station's modem and
    // returns everything that came back until the text `end` arrived (or the
    // time ran out).
    std::string command(const std::string& station, const std::string& line,
                        const std::string& end = "\r", uint32_t scaledMs = 5000);
    // Waits until the station's modem port has received text; returns all data.
    std::string waitFor(const std::string& station, const std::string& text,
                        uint32_t scaledMs = 20000);

    const std::vector<nlohmann::json>& events() const { return events_; }
    // Events of that name (and station, when given).
    std::vector<nlohmann::json> eventsNamed(const std::string& event,
                                            const std::string& station = "") const;

private:
    void serviceClients();

    std::unique_ptr<EventLog> log_;
    std::unique_ptr<Simulator> simulator_;
    std::map<std::string, std::unique_ptr<PortClient>> clients_;
    std::vector<nlohmann::json> events_;
};

// A network of complexes A (1001), B (1002) and C (1003), whose modems hold the
// program's stored profile, and an autonomous generator G (2000); tests change it
// before they start a harness with it.
nlohmann::json network();

} // namespace vetlina::sim::test
