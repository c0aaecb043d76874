// A device behind a simulated serial port (the Hayes modem, the ZMK-5 analyzer).
//
// The port server (Rfc2217Server) stands for the cable and the computer's UART: it
// hands the device what the computer does (bytes, line format, DTR, RTS, purges,
// the port opened or closed) and carries what the device does back (bytes and the
// status lines it drives). Everything runs on the simulator's one event loop: no
// call below may block, and no call comes from another thread.
//
// Time: the loop calls poll() every few milliseconds with the tick of the platform
// clock (platform/Clock.h, scaled by VETLINA_TIME_SCALE). Events between two polls
// happen "at" the tick of the last poll; a device keeps that tick itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vetlina::sim {

// The status lines a device drives towards the computer.
struct DeviceLines {
    bool cts = false;
    bool dsr = false;
    bool ring = false;    // RI
    bool carrier = false; // CD (RLSD)

    bool operator==(const DeviceLines&) const = default;
};

enum class Parity : uint8_t { None, Odd, Even, Mark, Space };
enum class StopBits : uint8_t { One, OneAndHalf, Two };

// The computer's line format, as last set through the port. A device that runs at
// another rate than the computer receives garbage; what it makes of that is its own
// business (the port delivers the bytes as the computer wrote them).
struct LineFormat {
    uint32_t baudRate = 9600;
    uint8_t dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;

    bool operator==(const LineFormat&) const = default;
};

// The port as the device sees it. Given to the device once (SerialDevice::attach)
// and valid for the device's lifetime.
class PortSide {
public:
    virtual ~PortSide() = default;

    // Bytes towards the computer, in order. The port carries them at the line
    // rate of its format; while no computer is connected they are lost, as on a
    // serial line without a cable.
    virtual void send(std::span<const uint8_t> bytes) = 0;

    // The lines the device drives now. The port tells the computer of every change.
    // While the computer has hardware flow control on, the port holds the
    // computer's bytes as long as CTS is off (as a UART does).
    virtual void setLines(const DeviceLines& lines) = 0;

    // Bytes given to send() that the port has not yet delivered to the computer.
    virtual std::size_t pendingToComputer() const = 0;
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Called once, before any other call; the device sets its initial lines here.
    virtual void attach(PortSide& port) = 0;

    // A computer opened the port (connected) or closed it (also when it went away
    // without closing). The port drops DTR and RTS itself before reporting a close.
    virtual void computerConnected(bool connected) = 0;

    // Bytes from the computer, in order, as the serial line delivers them.
    virtual void receive(std::span<const uint8_t> bytes) = 0;

    // The computer changed the line format (rate, data bits, parity, stop bits).
    virtual void setLineFormat(const LineFormat& format) = 0;

    // The computer's DTR and RTS outputs.
    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;

    // The computer discarded the port's queues: bytes from the device not yet read
    // (toComputer) and bytes written and not yet delivered (toDevice). The port has
    // already emptied its own buffers; a device may ignore this.
    virtual void purged(bool toComputer, bool toDevice) = 0;

    // One step of the device's own time: timers, answers that are due.
    virtual void poll(uint32_t tick) = 0;
};

} // namespace vetlina::sim
