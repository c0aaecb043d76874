// vetlina-sim run by a test as the program meets it: a process of its own, started with
// a configuration the test writes, its event log (one JSON object per line) going to a
// file the test reads. The clock of the simulator runs at the test's time scale.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vetlina::test {

class SimProcess {
public:
    // Writes folder/sim.json, starts the simulator with VETLINA_TIME_SCALE = timeScale and
    // waits (real time) until it has started or failed.
    SimProcess(const nlohmann::json& config, const std::string& folder, double timeScale);
    // SIGTERM, then the process is waited for.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool running() const;
    // The TCP port a station's modem (or analyzer) listens on; 0 when unknown.
    uint16_t port(const std::string& station, const std::string& device = "modem") const;
    // "COM1=rfc2217://127.0.0.1:<modem port>" for a Vetlina.ini's PORTS section.
    std::string portsSection(const std::string& station) const;

    // The events logged so far.
    std::vector<nlohmann::json> events() const;
    std::vector<nlohmann::json> events(const std::string& event,
                                       const std::string& station = "") const;
    // Waits (real time) for an event that matches.
    bool waitFor(const std::function<bool(const nlohmann::json&)>& match, int realMs) const;

private:
    pid_t pid_ = -1;
    std::string log_;
};

// A network of complexes A (1001), B (1002) and C (1003) whose modems hold the stored
// profile the program writes (numeric results, answer on the second ring, DTR hangs up,
// DSR only while connected), with ports chosen by the simulator.
nlohmann::json simNetwork();

} // namespace vetlina::test
