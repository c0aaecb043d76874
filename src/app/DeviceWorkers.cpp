#include "app/DeviceWorkers.h"

namespace vetlina {

std::unique_ptr<AnalyzerThread> DeviceWorkers::createAnalyzer(Complex&) {
    return nullptr;
}

std::unique_ptr<ModemThread> DeviceWorkers::createModem(Complex&, ModemRole) {
    return nullptr;
}

} // namespace vetlina
