// The simulated network as one object: the exchange, a Hayes modem and an analyzer
// for every complex station, each served on its own RFC 2217 port, and the one
// event loop that drives them all (poll over the sockets with a short period, then
// every device and the exchange with the scaled clock's tick).
#pragma once

#include "platform/Clock.h"
#include "sim/exchange/AnalyzerLine.h"
#include "sim/exchange/Exchange.h"
#include "sim/modem/HayesModem.h"
#include "sim/network/Config.h"
#include "sim/network/EventLog.h"
#include "sim/ports/Rfc2217Server.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vetlina::sim {

class Simulator {
public:
    struct Options {
        // Makes each complex's analyzer; without one, the analyzer ports serve a
        // switched-off instrument.
        AnalyzerFactory analyzerFactory;
        // What autonomous generator stations send.
        GeneratorProgramme generatorProgramme;
    };

    Simulator(const SimConfig& config, EventLog& log, Options options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens every port; false with error (one line) when one cannot be opened.
    bool start(std::string& error);

    // One pass of the loop: waits at most waitMs (real time) for the sockets,
    // serves them, then moves the exchange and every device on to the clock's tick.
    void step(int waitMs);

    // Runs until stop is set; then lets the network's shared clock go, which the
    // simulator holds from its start on.
    void run(const std::atomic<bool>& stop);

    // The ports actually listened on (useful with port 0 in the configuration).
    uint16_t modemPort(const std::string& station) const;
    uint16_t analyzerPort(const std::string& station) const;

    Exchange& exchange() { return *exchange_; }
    HayesModem* modem(const std::string& station);

private:
    struct Complex {
        std::string name;
        uint16_t modemPortWanted = 0;
        uint16_t analyzerPortWanted = 0;
        std::unique_ptr<HayesModem> modem;
        std::unique_ptr<SerialDevice> analyzer;
        std::unique_ptr<Rfc2217Server> modemServer;
        std::unique_ptr<Rfc2217Server> analyzerServer;
    };

    const Complex* find(const std::string& station) const;

    SimConfig config_;
    EventLog& log_;
    std::unique_ptr<Exchange> exchange_;
    std::vector<Complex> complexes_;
    std::vector<pollfd> fds_;
    std::optional<SharedClockHold> hold_; // from start() to the end of run()
};

// A device that is switched off: it drives no lines and answers nothing.
class SwitchedOffDevice final : public SerialDevice {
public:
    void attach(PortSide& port) override { port.setLines({}); }
    void computerConnected(bool) override {}
    void receive(std::span<const uint8_t>) override {}
    void setLineFormat(const LineFormat&) override {}
    void setDtr(bool) override {}
    void setRts(bool) override {}
    void purged(bool, bool) override {}
    void poll(uint32_t) override {}
};

} // namespace vetlina::sim
