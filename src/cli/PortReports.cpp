#include "cli/PortReports.h"

#include "cli/HeadlessDialogs.h"
#include "cli/IniCheck.h"
#include "config/Configuration.h"
#include "device/PortFactory.h"

namespace vetlina {
namespace {

// A port that reports a failed open; everything else goes to the port it wraps.
class ReportingPort final : public SerialPort {
public:
    ReportingPort(std::unique_ptr<SerialPort> port, int32_t number, std::string device,
                  bool configured, std::ostream& err)
        : port_(std::move(port)), number_(number), device_(std::move(device)),
          configured_(configured), err_(err) {}

    PortOpenResult open(const LineSettings& settings) override {
        PortOpenResult result = port_->open(settings);
        if (result != PortOpenResult::Ok)
            writeTerminalLine(
                err_, portOpenFailureLine(number_, device_, configured_, port_->lastError()));
        return result;
    }
    void close() override { port_->close(); }
    bool isOpen() const override { return port_->isOpen(); }
    bool setBaudRate(uint32_t baudRate) override { return port_->setBaudRate(baudRate); }
    long read(uint8_t* buffer, std::size_t size) override { return port_->read(buffer, size); }
    long write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) override {
        return port_->write(data, size, timeoutMs);
    }
    bool purge() override { return port_->purge(); }
    std::optional<bool> clearErrors() override { return port_->clearErrors(); }
    bool setDtr(bool on) override { return port_->setDtr(on); }
    std::optional<ModemLines> modemLines() override { return port_->modemLines(); }
    std::string lastError() const override { return port_->lastError(); }

private:
    std::unique_ptr<SerialPort> port_;
    int32_t number_;
    std::string device_;
    bool configured_;
    std::ostream& err_;
};

} // namespace

std::string portOpenFailureLine(int32_t portNumber, const std::string& device, bool configured,
                                const std::string& portError) {
    const std::string com = "COM" + std::to_string(portNumber);
    std::string reason = portError;
    if (reason.starts_with(device + ": "))
        reason.erase(0, device.size() + 2);
    std::string line =
        "vetlina-run: " + com + ": cannot open \"" + device + "\" (" +
        (configured ? "key " + com + " of [PORTS] in " : "no key " + com + " in [PORTS] of ") +
        kConfigurationFile + ")";
    if (!reason.empty())
        line += ": " + reason;
    if (configured && inlineCommentAt(device) != std::string::npos)
        line += "; the value holds an inline comment, which Vetlina.ini keeps as part of the "
                "value: put comments on lines of their own";
    return line;
}

PortFactory reportingPortFactory(std::ostream& err) {
    return [&err](int32_t portNumber) -> std::unique_ptr<SerialPort> {
        const IniFile ini = readConfiguration();
        const std::string device = portDevice(ini, portNumber);
        const bool configured =
            !ini.readString("PORTS", "COM" + std::to_string(portNumber), "", 2).empty();
        return std::make_unique<ReportingPort>(makeSerialPort(device), portNumber, device,
                                               configured, err);
    };
}

} // namespace vetlina
