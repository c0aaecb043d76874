// The bytes of a serial port behind a serial device server: Telnet framing with
// the COM-PORT-OPTION (44). This file holds the codes, the encoding of commands
// and data, and the receive state machine; Rfc2217Port holds the connection and
// the client's side of the dialogue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vetlina::rfc2217 {

// Telnet commands.
inline constexpr uint8_t SE = 240;
inline constexpr uint8_t NOP = 241;
inline constexpr uint8_t SB = 250;
inline constexpr uint8_t WILL = 251;
inline constexpr uint8_t WONT = 252;
inline constexpr uint8_t DO = 253;
inline constexpr uint8_t DONT = 254;
inline constexpr uint8_t IAC = 255;

// Telnet options.
inline constexpr uint8_t OptionBinary = 0;
inline constexpr uint8_t OptionEcho = 1;
inline constexpr uint8_t OptionSuppressGoAhead = 3;
inline constexpr uint8_t OptionComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers and
// notifies with the same code plus kServerOffset.
enum ComPortCommand : uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr uint8_t kServerOffset = 100;

// Values of the commands the client uses.
inline constexpr uint8_t DataSize8 = 8;
inline constexpr uint8_t ParityNone = 1;
inline constexpr uint8_t StopSize1 = 1;
inline constexpr uint8_t ControlHardwareFlow = 3;
inline constexpr uint8_t ControlDtrOn = 8;
inline constexpr uint8_t ControlDtrOff = 9;
inline constexpr uint8_t PurgeReceive = 1;
inline constexpr uint8_t PurgeTransmit = 2;
inline constexpr uint8_t PurgeBoth = 3;

// Modem-state bits of NOTIFY-MODEMSTATE; the low four are the change bits.
inline constexpr uint8_t ModemCts = 0x10;
inline constexpr uint8_t ModemDsr = 0x20;
inline constexpr uint8_t ModemRi = 0x40;
inline constexpr uint8_t ModemCd = 0x80;
inline constexpr uint8_t ModemLinesMask = 0xF0;

// IAC verb option.
std::string optionCommand(uint8_t verb, uint8_t option);

// IAC SB COM-PORT-OPTION command value... IAC SE, with IAC doubled in the value.
std::string comPortCommand(uint8_t command, const uint8_t* value, std::size_t size);
std::string comPortCommand(uint8_t command);
std::string comPortCommand(uint8_t command, uint8_t value);
// SET-BAUDRATE with the rate as 4 bytes, most significant first.
std::string baudRateCommand(uint32_t baudRate);

// Appends data bytes with every IAC doubled.
void appendEscaped(std::string& out, const uint8_t* data, std::size_t size);

// What the receive state machine finds in the byte stream.
class TelnetHandler {
public:
    virtual ~TelnetHandler() = default;
    // A run of data bytes (IAC IAC already undoubled).
    virtual void onData(const uint8_t* data, std::size_t size) = 0;
    // WILL, WONT, DO or DONT and its option.
    virtual void onNegotiation(uint8_t verb, uint8_t option) = 0;
    // The bytes between IAC SB and IAC SE (option first), IAC IAC undoubled.
    virtual void onSubnegotiation(const uint8_t* body, std::size_t size) = 0;
};

// The receive state machine. It keeps its state between calls, so a command
// may arrive split over any number of reads. Its memory is bounded: a
// subnegotiation longer than kMaxSubnegotiation is dropped whole, however long
// the server makes it; other Telnet commands (NOP, GA, AYT ...) are ignored.
class TelnetDecoder {
public:
    static constexpr std::size_t kMaxSubnegotiation = 256;

    void feed(const uint8_t* data, std::size_t size, TelnetHandler& handler);
    void reset();

    // Bytes held between calls (the subnegotiation being collected).
    std::size_t heldBytes() const { return body_.size(); }

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };

    State state_ = State::Data;
    uint8_t verb_ = 0;
    bool overlong_ = false;
    std::string body_;
};

} // namespace vetlina::rfc2217
