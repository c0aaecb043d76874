#include "device/ComPort.h"

#include "config/Configuration.h"
#include "device/PortFactory.h"

namespace vetlina {

std::unique_ptr<SerialPort> makeComPort(int32_t portNumber) {
    return makeSerialPort(portDevice(readConfiguration(), portNumber));
}

PortFactory comPortFactory() {
    return [](int32_t portNumber) { return makeComPort(portNumber); };
}

} // namespace vetlina
