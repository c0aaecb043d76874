// The worker factory of the program: the analyzer thread ZMK on the port "ZMKPort" and
// the modem thread MODEM on the port "ModemPort", both through the configured serial
// ports (device/ComPort.h).
#pragma once

#include "device/ComPort.h"
#include "reports/RunContext.h"

namespace vetlina {

class DeviceWorkers : public WorkerFactory {
public:
    // ports: the serial ports behind the port numbers (the configured ones by default).
    explicit DeviceWorkers(PortFactory ports = comPortFactory()) : ports_(std::move(ports)) {}

    // The analyzer thread ZMK and the modem thread MODEM, each on its configured port.
    std::unique_ptr<AnalyzerThread> createAnalyzer(RunContext& run) override;
    std::unique_ptr<ModemThread> createModem(RunContext& run, ModemRole role) override;

private:
    PortFactory ports_;
};

} // namespace vetlina
