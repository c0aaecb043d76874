// The serial port behind a port number "COM<n>" of the configuration: the key COM<n>
// of the section PORTS of Vetlina.ini (a device path, or rfc2217://HOST:PORT), else
// /dev/ttyS<n-1>.
#pragma once

#include "device/Device.h"
#include "device/SerialPort.h"

#include <memory>
#include <string>

namespace vetlina {

// The port of COM<n>, resolved through the configuration as it stands now (not open): a
// device server's port for rfc2217://HOST:PORT, else a terminal device.
std::unique_ptr<SerialPort> makeComPort(int32_t portNumber);

// The factory the program's device threads use.
PortFactory comPortFactory();

} // namespace vetlina
