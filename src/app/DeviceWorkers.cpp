#include "app/DeviceWorkers.h"

#include "analyzer/ZMK.h"
#include "modem/Modem.h"

namespace vetlina {

std::unique_ptr<AnalyzerThread> DeviceWorkers::createAnalyzer(RunContext& run) {
    return std::make_unique<ZMK>(run, ports_);
}

std::unique_ptr<ModemThread> DeviceWorkers::createModem(RunContext& run, ModemRole role) {
    return std::make_unique<MODEM>(run, ports_, role);
}

} // namespace vetlina
