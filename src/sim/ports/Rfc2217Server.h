// A serial port of a station served over TCP on 127.0.0.1 as a serial device
// server does: Telnet with the COM-PORT-OPTION (RFC 2217).
//
// Negotiation: the server offers BINARY and SUPPRESS-GO-AHEAD both ways and asks
// for COM-PORT-OPTION; it agrees to these three from the client and refuses every
// other option. Port control: SET-BAUDRATE, SET-DATASIZE, SET-PARITY,
// SET-STOPSIZE, SET-CONTROL (flow control, BREAK, DTR, RTS), SET-LINESTATE-MASK,
// SET-MODEMSTATE-MASK, PURGE-DATA, FLOWCONTROL-SUSPEND/RESUME, SIGNATURE, and the
// client's poll of the line state (NOTIFY-MODEMSTATE); each request is answered
// with its code + 100 and the value in force. The lines the device drives (CTS,
// DSR, RI, CD) are sent with NOTIFY-MODEMSTATE at connection and on every change,
// under the client's mask. IAC is doubled in data both ways.
//
// The serial line itself is simulated too: bytes travel both ways at the rate of
// the line format (start bit, data bits, parity, stop bits), and with hardware flow
// control the computer's bytes wait while the device holds CTS off.
//
// One client at a time: a second connection is closed at once. A client that goes
// away is a computer that closed its port: DTR and RTS drop.
#pragma once

#include "platform/UniqueFd.h"
#include "sim/network/EventLog.h"
#include "sim/ports/SerialDevice.h"

#include <cstdint>
#include <deque>
#include <poll.h>
#include <string>
#include <vector>

namespace vetlina::sim {

class Rfc2217Server final : public PortSide {
public:
    // device: the device behind the port; it is attached here.
    Rfc2217Server(std::string station, std::string deviceName, SerialDevice& device, EventLog& log);
    ~Rfc2217Server() override;
    Rfc2217Server(const Rfc2217Server&) = delete;
    Rfc2217Server& operator=(const Rfc2217Server&) = delete;

    // Listens on 127.0.0.1:port (0: a free port); false with error when it cannot.
    bool listen(uint16_t port, std::string& error);
    uint16_t port() const { return port_; }
    bool clientConnected() const { return client_.valid(); }

    // The event loop: the descriptors to wait on are appended to fds; after the
    // wait, service() handles what happened to them (same vector).
    void addPollFds(std::vector<pollfd>& fds);
    void service(const std::vector<pollfd>& fds);

    // Moves bytes along the simulated serial line both ways and polls the device.
    void poll(uint32_t tick);

    // PortSide
    void send(std::span<const uint8_t> bytes) override;
    void setLines(const DeviceLines& lines) override;
    std::size_t pendingToComputer() const override { return toComputer_.size(); }

    const LineFormat& lineFormat() const { return format_; }
    bool dtr() const { return dtr_; }

private:
    struct OptionState {
        bool us = false;        // we do the option
        bool usAsked = false;   // we offered it and wait for the answer
        bool them = false;      // the client does it
        bool themAsked = false; // we asked the client and wait for the answer
    };

    enum class TelnetState { Data, Iac, Option, Sub, SubIac };
    enum class Flow : uint8_t { None = 1, XonXoff = 2, Hardware = 3 };

    void acceptClient();
    void closeClient(const char* reason);
    void readClient();
    void flushOut();

    void decode(const uint8_t* bytes, std::size_t size);
    void iacCommand(uint8_t command);
    void negotiate(uint8_t command, uint8_t option);
    void subnegotiation();
    void comPortCommand(uint8_t code, const std::vector<uint8_t>& value);
    void setBaudRate(const std::vector<uint8_t>& value);
    void setDataSize(int size);
    void setParity(int parity);
    void setStopSize(int stop);
    void setControl(uint8_t value);

    void sendCommand(uint8_t command, uint8_t option);
    void sendSub(uint8_t code, const std::vector<uint8_t>& value);
    void notifyModemState(bool reply);
    uint8_t modemStateBits() const;
    void comPortAgreed();
    void applyFormat();
    void protocolError(const std::string& detail);
    void logSetting(const char* setting, nlohmann::json value);

    double charsPerMs() const;

    std::string station_;
    std::string deviceName_;
    SerialDevice& device_;
    EventLog& log_;
    UniqueFd listener_;
    UniqueFd client_;
    uint16_t port_ = 0;
    int listenerIndex_ = -1;
    int clientIndex_ = -1;

    // Telnet.
    TelnetState state_ = TelnetState::Data;
    uint8_t pendingCommand_ = 0;
    std::vector<uint8_t> sub_;
    bool subOverflow_ = false;
    bool lastWasCr_ = false;
    OptionState binary_, sga_, comPort_;
    bool comPortNotified_ = false;

    // The port's settings and lines.
    LineFormat format_;
    Flow flow_ = Flow::None;
    bool dtr_ = false;
    bool rts_ = false;
    bool breakOn_ = false;
    uint8_t inboundFlow_ = 14;
    uint8_t modemMask_ = 0xFF;
    uint8_t lineMask_ = 0;
    bool suspended_ = false;
    DeviceLines lines_;
    DeviceLines notified_;
    bool ringFell_ = false;

    // The serial line: computer to device and back, and the socket's output.
    std::deque<uint8_t> toDevice_;
    std::deque<uint8_t> toComputer_;
    std::string out_;
    double creditToDevice_ = 1.0;
    double creditToComputer_ = 1.0;
    uint32_t lastTick_ = 0;
    bool ticking_ = false;
    bool overrunLogged_ = false;
};

} // namespace vetlina::sim
