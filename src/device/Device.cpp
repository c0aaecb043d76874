#include "device/Device.h"

#include "platform/Clock.h"
#include "ui/UiBridge.h"

namespace vetlina {

Device::Device(UiBridge& ui, PortFactory ports, EventWriter* run)
    : ui_(ui), run_(run), ports_(std::move(ports)) {}

Device::~Device() {
    ClosePort();
}

bool Device::SetCommand(int32_t n) {
    int32_t current = command_.load(std::memory_order_acquire);
    do {
        if (current == kStopCommand)
            return false;
    } while (!command_.compare_exchange_weak(current, n, std::memory_order_acq_rel,
                                             std::memory_order_acquire));
    return true;
}

// ---- Port operations ----------------------------------------------------------------

PortOpenResult Device::OpenPort() {
    ClosePort();
    lineSettings.baudRate = kOpeningBaudRate;
    openError_.clear();
    std::unique_ptr<SerialPort> port = ports_ ? ports_(portNumber) : nullptr;
    if (!port)
        return PortOpenResult::CannotOpen;
    PortOpenResult result = port->open(lineSettings);
    if (result != PortOpenResult::Ok) {
        openError_ = port->lastError();
        // A port that could not be set up may still hold its device.
        port->close();
        return result;
    }
    port_ = std::move(port);
    sleepMs(kOpenSettleMs);
    PurgePort();
    return PortOpenResult::Ok;
}

void Device::ClosePort() {
    if (port_) {
        port_->close();
        port_.reset();
    }
}

bool Device::portOpen() const {
    return port_ && port_->isOpen();
}

void Device::PurgePort() {
    if (!portOpen())
        return;
    port_->purge();
    port_->clearErrors();
    uint8_t discarded;
    port_->read(&discarded, 1);
    port_->clearErrors();
}

bool Device::ClearErrors() {
    if (!portOpen())
        return false;
    return port_->clearErrors().value_or(false);
}

bool Device::SetBaudRate(uint32_t baudRate) {
    lineSettings.baudRate = baudRate;
    return portOpen() && port_->setBaudRate(baudRate);
}

bool Device::putch(uint8_t byte) {
    if (!portOpen())
        return false;
    long written = port_->write(&byte, 1, kWriteTimeoutMs);
    if (written == 1)
        return true;
    // A time-out (nothing written) is no failure of the port and writes no line.
    if (written < 0)
        traceEvent(ClearErrors() ? " -cts hold" : " -putch error");
    return false;
}

bool Device::puts(const uint8_t* bytes, std::size_t count) {
    if (!portOpen())
        return false;
    long written = port_->write(bytes, count, kWriteTimeoutMs);
    if (written >= 0 && static_cast<std::size_t>(written) == count)
        return true;
    if (written < 0)
        traceEvent(ClearErrors() ? " -cts hold" : " -puts error");
    return false;
}

bool Device::puts(std::string_view bytes) {
    return puts(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool Device::getch(uint8_t& byte) {
    if (!portOpen())
        return false;
    long n = port_->read(&byte, 1);
    if (n == 1)
        return true;
    if (n < 0) {
        ClearErrors();
        traceEvent(" -getch error");
    }
    sleepMs(kEmptyReadSleepMs);
    return false;
}

bool Device::getch_wait(uint8_t& byte) {
    // A closed port would return at once on every try: no 300 ms of spinning.
    if (!portOpen())
        return false;
    uint32_t end = tickMs() + kByteWaitMs;
    for (;;) {
        if (getch(byte))
            return true;
        if (tickReached(end) || !portOpen())
            return false;
    }
}

std::size_t Device::gets(uint8_t* buffer, std::size_t max) {
    if (!portOpen() || max == 0)
        return 0;
    long n = port_->read(buffer, max);
    if (n > 0)
        return static_cast<std::size_t>(n);
    if (n < 0) {
        ClearErrors();
        traceEvent(" -gets error");
    }
    sleepMs(kEmptyReadSleepMs);
    return 0;
}

void Device::dtr(bool on) {
    if (!portOpen())
        return;
    if (!port_->setDtr(on)) {
        ClearErrors();
        traceEvent(" -dtr() error");
    }
}

bool Device::carrier() {
    if (!portOpen())
        return false;
    auto lines = port_->modemLines();
    if (!lines) {
        ClearErrors();
        traceEvent(" -carrier() error");
        return false;
    }
    return lines->carrier || lines->dsr;
}

bool Device::dsr() {
    if (!portOpen())
        return false;
    auto lines = port_->modemLines();
    if (!lines) {
        ClearErrors();
        traceEvent(" -dsr() error");
        return false;
    }
    return lines->dsr;
}

bool Device::cts() {
    if (!portOpen())
        return false;
    auto lines = port_->modemLines();
    if (!lines) {
        ClearErrors();
        traceEvent(" -cts() error");
        return false;
    }
    return lines->cts;
}

bool Device::dsr_or_cts_off() {
    if (!portOpen())
        return false;
    auto lines = port_->modemLines();
    if (!lines) {
        ClearErrors();
        traceEvent(" -dsr_or_cts_off() error");
        return false;
    }
    return !lines->dsr || !lines->cts;
}

// ---- Hand-offs ----------------------------------------------------------------------

void Device::showProtocolLine(const std::string& text) {
    protocolText = text;
    ui_.invokeSync([this] { ui_.models().addProtocolLine(protocolText); });
}

void Device::SetResultsCaption(const std::string& text) {
    resultsCaptionText = text;
    ui_.invokeSync([this] { ui_.models().setResultsCaption(resultsCaptionText); });
}

void Device::SetShowCaption(const std::string& text) {
    // The visualisation caption has no slot of its own; the text waits in the call.
    ui_.invokeSync([this, &text] { ui_.models().setShowCaption(text); });
}

void Device::ResetStatistics() {
    ui_.invokeSync([this] { ui_.models().resetStatistics(); });
}

void Device::SetStateText(const std::string& text) {
    stateText = text;
    ui_.invokeSync([this] { ui_.models().setStateText(stateText); });
}

void Device::ShowProgress() {
    ui_.invokeSync([this] {
        auto& models = ui_.models();
        models.show.kind(progressBar).progress = progress;
        models.notify(ModelPart::Visualisation);
    });
}

void Device::ShowCounter(RunCounter which, int32_t value) {
    ui_.invokeSync([this, which, value] { ui_.models().setCounter(which, value); });
}

void Device::invokeSync(const std::function<void()>& update) {
    ui_.invokeSync(update);
}

void Device::appendProtocol(const std::string& text) {
    if (run_ != nullptr)
        run_->appendProtocol(text);
}

void Device::OnFinished() {
    ui_.wake();
}

} // namespace vetlina
