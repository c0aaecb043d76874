#include "device/PortFactory.h"

#include "device/Rfc2217Port.h"
#include "device/TtyPort.h"

namespace vetlina {

bool isRfc2217Device(std::string_view device) {
    return device.starts_with(kRfc2217Scheme);
}

std::unique_ptr<SerialPort> makeSerialPort(const std::string& device) {
    if (isRfc2217Device(device))
        return std::make_unique<Rfc2217Port>(device.substr(kRfc2217Scheme.size()));
    return std::make_unique<TtyPort>(device);
}

} // namespace vetlina
