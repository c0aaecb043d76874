// A serial port behind a serial device server, reached over TCP with the Telnet
// COM-PORT-OPTION (rfc2217://HOST:PORT).
//
// Open: connect; negotiate BINARY and SUPPRESS-GO-AHEAD both ways and
// COM-PORT-OPTION; the connect and this negotiation must finish within
// kOpenTimeoutMs of the clock, else the port cannot be opened. Then the line
// settings go out (SET-BAUDRATE, SET-DATASIZE 8, SET-PARITY 1 none, SET-STOPSIZE 1,
// SET-CONTROL 3 hardware flow control, SET-CONTROL 8 DTR on, SET-MODEMSTATE-MASK
// 0xF0) followed by a request for the modem state (NOTIFY-MODEMSTATE sent by the
// client), and open waits up to kReplyTimeoutMs for the server's answer to the
// baud rate and its first modem-state notification. A server that answers with
// another baud rate than asked for fails the open as a system error; a server
// that stays silent is taken at its word.
//
// Modem lines: taken from the server's NOTIFY-MODEMSTATE (CTS 0x10, DSR 0x20,
// RI 0x40, CD 0x80); all off until the first notification. modemLines() also asks
// for the state again every kModemPollMs while it is being watched, because a
// server may leave a change unreported (with the mask 0xF0 some servers never
// report all four lines going off, since the masked state is then zero).
//
// No thread of its own: read(), write(), modemLines() and the other operations
// each take what the socket holds, decode it and answer the server. The port is
// used by one thread. Every buffer is bounded: received data waiting to be read
// at most kInputLimit bytes (more is lost and counted, as in an overrun of a
// driver's queue, so that the line state behind it still gets through), output
// not yet taken by the socket at most kOutputLimit bytes of data (kCommandLimit
// with the commands), a subnegotiation at most
// TelnetDecoder::kMaxSubnegotiation bytes.
//
// A connection closed or broken by the server: read() and write() fail (-1) once
// the data received before it has been read, the lines read all off, clearErrors()
// fails. close() and a new open() start afresh.
#pragma once

#include "device/Rfc2217Protocol.h"
#include "device/SerialPort.h"
#include "platform/UniqueFd.h"

#include <array>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace vetlina {

// HOST:PORT of a serial device server; an IPv6 host is written in brackets.
struct Rfc2217Address {
    std::string host;
    std::string port;
};
// nullopt for anything else (empty host, missing or non-numeric port, port 0 or
// above 65535, characters that do not belong in a host name, options after '?').
std::optional<Rfc2217Address> parseRfc2217Address(std::string_view hostPort);

class Rfc2217Port final : public SerialPort, private rfc2217::TelnetHandler {
public:
    // hostPort: what follows "rfc2217://" in the port name.
    explicit Rfc2217Port(std::string hostPort);
    ~Rfc2217Port() override;
    Rfc2217Port(const Rfc2217Port&) = delete;
    Rfc2217Port& operator=(const Rfc2217Port&) = delete;

    PortOpenResult open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return socket_.valid(); }
    bool setBaudRate(uint32_t baudRate) override;
    long read(uint8_t* buffer, std::size_t size) override;
    long write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) override;
    bool purge() override;
    // Transmission counts as held for CTS while the server has suspended our
    // output (FLOWCONTROL-SUSPEND) or has notified CTS off: the server's port runs
    // with hardware flow control, so it sends nothing while CTS is off.
    std::optional<bool> clearErrors() override;
    bool setDtr(bool on) override;
    std::optional<ModemLines> modemLines() override;
    std::string lastError() const override { return lastError_; }

    static constexpr uint32_t kOpenTimeoutMs = 5000;
    static constexpr uint32_t kReplyTimeoutMs = 1000;
    static constexpr uint32_t kModemPollMs = 500;
    static constexpr uint32_t kCloseDrainMs = 500;
    static constexpr std::size_t kInputLimit = 64 * 1024;
    static constexpr std::size_t kOutputLimit = 4096;
    static constexpr std::size_t kCommandLimit = 16 * 1024;

    // What the port holds in memory now (received data, unsent output, a
    // subnegotiation being collected), and the received data lost to overrun.
    std::size_t heldBytes() const;
    uint64_t overrunBytes() const { return overrun_; }

private:
    enum class OptionState : uint8_t { No, WantYes, Yes };

    // Output waiting for the socket, in order. Data (escaped) is kept apart
    // from commands so that a purge can discard the data alone.
    struct OutputSegment {
        std::string bytes;
        std::size_t sent = 0;
        bool data = false;
    };

    // TelnetHandler
    void onData(const uint8_t* data, std::size_t size) override;
    void onNegotiation(uint8_t verb, uint8_t option) override;
    void onSubnegotiation(const uint8_t* body, std::size_t size) override;

    void resetState();
    bool connectTo(const Rfc2217Address& address, uint32_t deadline);
    void requestOption(uint8_t verb, uint8_t option);
    void queueCommand(std::string bytes);
    std::size_t queueData(const uint8_t* data, std::size_t size);
    void discardUnsentData();
    bool flushOutput();
    void pump();
    template <class Done>
    bool waitUntil(Done done, uint32_t deadline);
    void lose(const std::string& why);
    bool comPortAgreed() const;
    bool comPortRefused() const;

    std::string hostPort_;
    UniqueFd socket_;
    rfc2217::TelnetDecoder decoder_;
    std::deque<uint8_t> input_;
    std::deque<OutputSegment> output_;
    std::size_t outputPending_ = 0;
    std::array<OptionState, 256> us_{};  // options on our side (WILL)
    std::array<OptionState, 256> him_{}; // options on the server's side (DO)
    bool lost_ = false;
    bool suspended_ = false;
    std::optional<uint8_t> modemState_;
    uint32_t lastModemPoll_ = 0;
    uint32_t baudRate_ = 0;
    std::optional<uint32_t> serverBaudRate_;
    uint32_t baudReplies_ = 0;
    uint64_t overrun_ = 0;
    std::string lastError_;
};

} // namespace vetlina
