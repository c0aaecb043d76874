#include "app/DeviceWorkers.h"

#include "analyzer/ZMK.h"
#include "app/Complex.h"
#include "device/ComPort.h"
#include "modem/Modem.h"

namespace vetlina {

std::unique_ptr<AnalyzerThread> DeviceWorkers::createAnalyzer(Complex& complex) {
    return std::make_unique<ZMK>(complex.ui(), comPortFactory());
}

std::unique_ptr<ModemThread> DeviceWorkers::createModem(Complex& complex, ModemRole role) {
    return std::make_unique<MODEM>(complex.ui(), comPortFactory(), role);
}

} // namespace vetlina
