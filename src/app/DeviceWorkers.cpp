#include "app/DeviceWorkers.h"

#include "analyzer/ZMK.h"
#include "app/Complex.h"
#include "device/ComPort.h"

namespace vetlina {

std::unique_ptr<AnalyzerThread> DeviceWorkers::createAnalyzer(Complex& complex) {
    return std::make_unique<ZMK>(complex.ui(), comPortFactory());
}

std::unique_ptr<ModemThread> DeviceWorkers::createModem(Complex&, ModemRole) {
    return nullptr;
}

} // namespace vetlina
