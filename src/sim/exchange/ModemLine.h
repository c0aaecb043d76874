// The modem's side of the exchange: what a station's Hayes modem does with its
// telephone line (take it, dial, originate or answer a data connection, send data)
// and what it senses on it (dial tone, ringback, busy tone, ringing, the far modem's
// carrier). The exchange owns the line; the modem polls it on the event loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vetlina::sim {

// How the modem uses the line.
enum class LineUse {
    OnHook,    // not using it
    OffHook,   // holding it: dialling, or in command mode after ";"
    Originate, // holding it and calling for the far modem's answer tone
    Answer,    // holding it and sending its own answer tone
};

// What the modem hears while it holds the line and no data connection stands.
enum class CallProgress {
    Silence, // nothing (no call, or a call whose far end said nothing)
    DialTone,
    Ringback, // the far station is ringing
    Busy,     // busy or unobtainable
    Answered, // the far end of the call has picked up
};

// How the last data connection ended, from this modem's side.
enum class LinkEnd {
    None,
    RemoteHangUp, // the far modem left the connection
    LineLost,     // the call was cut by the network
};

// The modem, as the exchange sees it.
class LineTerminal {
public:
    virtual ~LineTerminal() = default;
    // Data from the far modem over the connection.
    virtual void fromLine(std::span<const uint8_t> bytes) = 0;
};

class ModemLine {
public:
    virtual ~ModemLine() = default;

    virtual void attach(LineTerminal& terminal) = 0;

    // Takes or leaves the line, or starts the data handshake as the originating or
    // answering modem, at no more than rateLimit bit/s.
    virtual void use(LineUse use, uint32_t rateLimit) = 0;

    // A dial tone is on the line now (second: the tone a "W" waits for).
    virtual bool dialTone(bool second) const = 0;

    // The digits dialled since the line was taken, at the end of a number.
    virtual void dial(const std::string& digits) = 0;

    virtual CallProgress progress() const = 0;

    // The ring signal is on the line now.
    virtual bool ringing() const = 0;

    // The data connection with the far modem stands: its rate in bit/s.
    virtual std::optional<uint32_t> linkRate() const = 0;
    virtual LinkEnd lastLinkEnd() const = 0;

    // Data to the far modem; accepted only while the connection stands.
    virtual void send(std::span<const uint8_t> bytes) = 0;

    // Data given to send() that has not yet left for the far modem.
    virtual std::size_t pendingToLine() const = 0;
};

} // namespace vetlina::sim
