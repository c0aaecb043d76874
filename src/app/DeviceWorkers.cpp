#include "app/DeviceWorkers.h"

#include "analyzer/ZMK.h"
#include "app/Complex.h"
#include "modem/Modem.h"

namespace vetlina {

std::unique_ptr<AnalyzerThread> DeviceWorkers::createAnalyzer(Complex& complex) {
    return std::make_unique<ZMK>(complex.ui(), ports_);
}

std::unique_ptr<ModemThread> DeviceWorkers::createModem(Complex& complex, ModemRole role) {
    return std::make_unique<MODEM>(complex.ui(), ports_, role);
}

} // namespace vetlina
