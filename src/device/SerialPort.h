// The serial port as the device layer uses it: open with the line settings,
// non-blocking read, bounded write, purge, error clearing with the CTS-hold report,
// DTR and the modem-status lines. Implementations: TtyPort (a real device),
// Rfc2217Port (a port behind a serial device server) and MemoryPort (tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vetlina {

// The line settings the system uses: 8 data bits, no parity, 1 stop bit, DTR
// raised on open, RTS by handshake, output flow control by CTS, no XON/XOFF.
// Only the baud rate varies.
struct LineSettings {
    uint32_t baudRate = 9600;
};

// The modem-status lines as the computer sees them.
struct ModemLines {
    bool cts = false;
    bool dsr = false;
    bool ring = false;
    bool carrier = false; // CD (RLSD)
};

enum class PortOpenResult {
    Ok = 0,
    CannotOpen = 1,  // no such device, in use, refused
    SystemError = 9, // the device opened but could not be set up
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the port exclusively (no second program may open it) and applies the
    // line settings; DTR is raised.
    virtual PortOpenResult open(const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Applies the line settings again with another baud rate.
    virtual bool setBaudRate(uint32_t baudRate) = 0;

    // Reads what is buffered, up to size bytes, without waiting: the count read,
    // 0 when nothing is buffered, -1 on a failure.
    virtual long read(uint8_t* buffer, std::size_t size) = 0;

    // Writes, waiting at most timeoutMs of the clock (flow control may hold the
    // output): the count written, which is less than size when the time ran out,
    // or -1 on a failure.
    virtual long write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) = 0;

    // Discards both queues (what was received and not read, what was written and
    // not yet sent).
    virtual bool purge() = 0;

    // Clears the port's error state and reports whether transmission is held
    // waiting for CTS; nullopt when the query fails.
    virtual std::optional<bool> clearErrors() = 0;

    virtual bool setDtr(bool on) = 0;

    // The modem-status lines; nullopt when the query fails.
    virtual std::optional<ModemLines> modemLines() = 0;

    // The text of the last system error, for messages such as "System Error".
    virtual std::string lastError() const = 0;
};

} // namespace vetlina
