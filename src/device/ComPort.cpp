#include "device/ComPort.h"

#include "app/Configuration.h"

namespace vetlina {

std::unique_ptr<SerialPort> makePortForDevice(const std::string& deviceName) {
    // The terminal and RFC 2217 port implementations plug in here; until then no device
    // name can be served and every open fails as "port cannot be opened".
    (void)deviceName;
    return nullptr;
}

std::unique_ptr<SerialPort> makeComPort(int32_t portNumber) {
    return makePortForDevice(portDevice(readConfiguration(), portNumber));
}

PortFactory comPortFactory() {
    return [](int32_t portNumber) { return makeComPort(portNumber); };
}

} // namespace vetlina
