// A serial port on a local device (/dev/ttyS0, /dev/ttyUSB0 ...) through termios.
//
// Open: exclusive (TIOCEXCL keeps other programs out, an advisory flock keeps out a
// second Vetlina and any program that honours the lock, including one running as
// root, whom TIOCEXCL does not stop), raw 8N1, CTS output flow control (CRTSCTS,
// which also drives RTS as the input handshake), CLOCAL so that opening and
// reading never depend on carrier (the device layer watches CD itself), DTR raised.
//
// Write: the bytes are handed to the driver and then followed until they have left
// the driver's queue, within the time limit, so that output held by CTS shows as a
// short count as on a port whose write completes on transmission. What is still
// queued when the time runs out is discarded: the protocols above repeat whole
// blocks, and a stale tail sent later when CTS returns would only confuse the far end.
#pragma once

#include "device/SerialPort.h"
#include "platform/UniqueFd.h"

#include <optional>
#include <string>
#include <termios.h>

namespace vetlina {

// The termios speed constant of a baud rate; nullopt for a rate termios has none for.
std::optional<speed_t> ttySpeed(uint32_t baudRate);

class TtyPort final : public SerialPort {
public:
    explicit TtyPort(std::string path);
    ~TtyPort() override;
    TtyPort(const TtyPort&) = delete;
    TtyPort& operator=(const TtyPort&) = delete;

    PortOpenResult open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return fd_.valid(); }
    bool setBaudRate(uint32_t baudRate) override;
    long read(uint8_t* buffer, std::size_t size) override;
    long write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) override;
    bool purge() override;
    std::optional<bool> clearErrors() override;
    bool setDtr(bool on) override;
    std::optional<ModemLines> modemLines() override;
    std::string lastError() const override { return lastError_; }

    const std::string& path() const { return path_; }

    // How long close() lets queued output drain before discarding it (clock ms).
    static constexpr uint32_t kCloseDrainMs = 500;

private:
    bool fail(const char* operation); // records errno for lastError(), returns false
    bool applySpeed(uint32_t baudRate);
    // Bytes handed to the driver and not yet sent; nullopt when the driver cannot tell.
    std::optional<int> outputQueued() const;
    // Follows the driver's queue until it is empty or the deadline passes.
    void waitTransmitted(uint32_t deadline);

    std::string path_;
    UniqueFd fd_;
    uint32_t baudRate_ = 0;
    std::string lastError_;
};

} // namespace vetlina
