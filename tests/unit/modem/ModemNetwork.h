// The simulated network the modem's tests dial through: vetlina-sim as a process with
// the complexes of modemNetwork() (tests/support/SimProcess.h), and the program's port
// names for them.
#pragma once

#include "SimProcess.h"

#include <nlohmann/json.hpp>
#include <string>

namespace vetlina::test {

// The PORTS section of a complex whose COM1 is the station's modem.
inline std::string portsSection(SimProcess& sim, const std::string& station) {
    return "[PORTS]\nCOM1=rfc2217://127.0.0.1:" + std::to_string(sim.port(station, "modem")) + "\n";
}

} // namespace vetlina::test
