// The worker factory of the program: the analyzer thread ZMK on the port "ZMKPort" and
// the modem thread MODEM on the port "ModemPort", both through the configured serial
// ports (device/ComPort.h).
#pragma once

#include "app/WorkerThreads.h"

namespace vetlina {

class DeviceWorkers : public WorkerFactory {
public:
    // The analyzer thread ZMK and the modem thread MODEM, each on its configured port.
    std::unique_ptr<AnalyzerThread> createAnalyzer(Complex& complex) override;
    std::unique_ptr<ModemThread> createModem(Complex& complex, ModemRole role) override;
};

} // namespace vetlina
