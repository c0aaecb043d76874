// The simulated network the modem's tests dial through: vetlina-sim as a process
// (tests/support/SimProcess.h) with complexes whose modems hold the stored profile the
// program writes.
#pragma once

#include "SimProcess.h"

#include <nlohmann/json.hpp>
#include <string>

namespace vetlina::test {

// Complexes A (1001), B (1002) and C (1003): numeric results, answer on the second ring,
// DTR hangs up, DSR only while connected; ports chosen by the simulator.
inline nlohmann::json modemNetwork() {
    auto complex = [](const char* name, const char* number) {
        return nlohmann::json{{"name", name},
                              {"type", "complex"},
                              {"number", number},
                              {"modem",
                               {{"port", 0},
                                {"storedProfile", "M0S0=2&D2&S1V0\\N2\\V1S7=60S37=4"},
                                {"identification", std::string("Modem of ") + name}}},
                              {"analyzer", {{"port", 0}}}};
    };
    return {{"stations", {complex("A", "1001"), complex("B", "1002"), complex("C", "1003")}}};
}

// The PORTS section of a complex whose COM1 is the station's modem.
inline std::string portsSection(SimProcess& sim, const std::string& station) {
    return "[PORTS]\nCOM1=rfc2217://127.0.0.1:" + std::to_string(sim.port(station, "modem")) + "\n";
}

} // namespace vetlina::test
