// The serial ports of vetlina-run: the configured ports (device/ComPort.h), each of which
// says on the runner's stderr why it did not open and which device it tried. The
// system's own message names only the port ("COM2: недоступен"); an administrator needs
// the device behind it and the reason.
#pragma once

#include "device/Device.h"

#include <ostream>
#include <string>

namespace vetlina {

// The line for a port that did not open: "vetlina-run: COM2: cannot open "DEVICE"
// (its source): REASON", with a hint when the value holds an inline comment.
// portError is the port's lastError(); a leading "DEVICE: " is dropped from it.
std::string portOpenFailureLine(int32_t portNumber, const std::string& device, bool configured,
                                const std::string& portError);

// The configured ports; a failed open writes portOpenFailureLine to `err`
// (writeTerminalLine).
PortFactory reportingPortFactory(std::ostream& err);

} // namespace vetlina
