// The worker factory of the program: the analyzer thread ZMK on the port "ZMKPort" and
// the modem thread MODEM on the port "ModemPort", both through the configured serial
// ports (device/ComPort.h).
#pragma once

#include "app/WorkerThreads.h"

namespace vetlina {

class DeviceWorkers : public WorkerFactory {
public:
    // The analyzer thread class plugs in here; until it exists createAnalyzer returns
    // null and the run goes on without an analyzer. createModem makes MODEM.
    std::unique_ptr<AnalyzerThread> createAnalyzer(Complex& complex) override;
    std::unique_ptr<ModemThread> createModem(Complex& complex, ModemRole role) override;
};

} // namespace vetlina
