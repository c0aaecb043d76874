// The serial port behind a resolved port name (see portDevice in
// app/Configuration.h): "rfc2217://HOST:PORT" is a port on a serial device
// server, anything else a local device path.
#pragma once

#include "device/SerialPort.h"

#include <memory>
#include <string>
#include <string_view>

namespace vetlina {

inline constexpr std::string_view kRfc2217Scheme = "rfc2217://";

bool isRfc2217Device(std::string_view device);

// A closed port; a malformed rfc2217 address gives a port whose open() fails
// with CannotOpen and says why in lastError().
std::unique_ptr<SerialPort> makeSerialPort(const std::string& device);

} // namespace vetlina
