#include "sim/ports/Rfc2217Server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace vetlina::sim {

namespace {

// Telnet.
constexpr uint8_t SE = 240;
constexpr uint8_t SB = 250;
constexpr uint8_t WILL = 251;
constexpr uint8_t WONT = 252;
constexpr uint8_t DO = 253;
constexpr uint8_t DONT = 254;
constexpr uint8_t IAC = 255;

constexpr uint8_t OPT_BINARY = 0;
constexpr uint8_t OPT_SGA = 3;
constexpr uint8_t OPT_COM_PORT = 44;

// COM-PORT-OPTION commands from the client; the server answers with +100.
constexpr uint8_t SIGNATURE = 0;
constexpr uint8_t SET_BAUDRATE = 1;
constexpr uint8_t SET_DATASIZE = 2;
constexpr uint8_t SET_PARITY = 3;
constexpr uint8_t SET_STOPSIZE = 4;
constexpr uint8_t SET_CONTROL = 5;
constexpr uint8_t NOTIFY_LINESTATE = 6;
constexpr uint8_t NOTIFY_MODEMSTATE = 7;
constexpr uint8_t FLOWCONTROL_SUSPEND = 8;
constexpr uint8_t FLOWCONTROL_RESUME = 9;
constexpr uint8_t SET_LINESTATE_MASK = 10;
constexpr uint8_t SET_MODEMSTATE_MASK = 11;
constexpr uint8_t PURGE_DATA = 12;
constexpr uint8_t SERVER_OFFSET = 100;

// Modem state bits.
constexpr uint8_t MS_CD = 0x80;
constexpr uint8_t MS_RI = 0x40;
constexpr uint8_t MS_DSR = 0x20;
constexpr uint8_t MS_CTS = 0x10;
constexpr uint8_t MS_DELTA_CD = 0x08;
constexpr uint8_t MS_RI_TRAILING = 0x04;
constexpr uint8_t MS_DELTA_DSR = 0x02;
constexpr uint8_t MS_DELTA_CTS = 0x01;

constexpr std::size_t kMaxSubnegotiation = 64;
constexpr std::size_t kDeviceBuffer = 4096;     // the server's buffer towards the device
constexpr std::size_t kComputerBuffer = 65536;  // ... towards the computer
constexpr std::size_t kSocketBacklog = 1 << 20; // output the client has not taken yet
constexpr uint32_t kMaxBaudRate = 4000000;
constexpr const char* kSignature = "vetlina-sim serial port";

bool setNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

const char* parityName(Parity parity) {
    switch (parity) {
    case Parity::None:
        return "none";
    case Parity::Odd:
        return "odd";
    case Parity::Even:
        return "even";
    case Parity::Mark:
        return "mark";
    case Parity::Space:
        return "space";
    }
    return "?";
}

const char* stopName(StopBits stop) {
    switch (stop) {
    case StopBits::One:
        return "1";
    case StopBits::OneAndHalf:
        return "1.5";
    case StopBits::Two:
        return "2";
    }
    return "?";
}

} // namespace

Rfc2217Server::Rfc2217Server(std::string station, std::string deviceName, SerialDevice& device,
                             EventLog& log)
    : station_(std::move(station)), deviceName_(std::move(deviceName)), device_(device), log_(log) {
    device_.attach(*this);
}

Rfc2217Server::~Rfc2217Server() = default;

bool Rfc2217Server::listen(uint16_t port, std::string& error) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int yes = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    if (::listen(fd.get(), 4) != 0 || !setNonBlocking(fd.get())) {
        error = "127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listener_ = std::move(fd);
    log_.write(station_, "listening", {{"device", deviceName_}, {"port", port_}});
    return true;
}

void Rfc2217Server::addPollFds(std::vector<pollfd>& fds) {
    listenerIndex_ = -1;
    clientIndex_ = -1;
    if (listener_.valid()) {
        listenerIndex_ = static_cast<int>(fds.size());
        fds.push_back({listener_.get(), POLLIN, 0});
    }
    if (client_.valid()) {
        short events = 0;
        if (toDevice_.size() < kDeviceBuffer)
            events |= POLLIN;
        if (!out_.empty())
            events |= POLLOUT;
        clientIndex_ = static_cast<int>(fds.size());
        fds.push_back({client_.get(), events, 0});
    }
}

void Rfc2217Server::service(const std::vector<pollfd>& fds) {
    if (clientIndex_ >= 0 && clientIndex_ < static_cast<int>(fds.size()) && client_.valid()) {
        short revents = fds[clientIndex_].revents;
        if (revents & POLLOUT)
            flushOut();
        if (client_.valid() && (revents & (POLLIN | POLLHUP | POLLERR)))
            readClient();
    }
    if (listenerIndex_ >= 0 && listenerIndex_ < static_cast<int>(fds.size()) &&
        (fds[listenerIndex_].revents & POLLIN))
        acceptClient();
}

// ---------------------------------------------------------------------------
// Connections

void Rfc2217Server::acceptClient() {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    UniqueFd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &length,
                          SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd.valid())
        return;
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    std::string peerText = std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
    if (client_.valid()) {
        log_.write(station_, "port-refused",
                   {{"device", deviceName_}, {"peer", peerText}, {"reason", "port in use"}});
        return; // fd closes: one computer per port
    }
    int yes = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    client_ = std::move(fd);
    state_ = TelnetState::Data;
    sub_.clear();
    subOverflow_ = false;
    lastWasCr_ = false;
    binary_ = sga_ = comPort_ = OptionState{};
    comPortNotified_ = false;
    format_ = LineFormat{};
    flow_ = Flow::None;
    breakOn_ = false;
    inboundFlow_ = 14;
    modemMask_ = 0xFF;
    lineMask_ = 0;
    suspended_ = false;
    toDevice_.clear();
    toComputer_.clear();
    out_.clear();
    creditToDevice_ = creditToComputer_ = 1.0;
    overrunLogged_ = false;
    log_.write(station_, "port-open", {{"device", deviceName_}, {"peer", peerText}});

    binary_.usAsked = binary_.themAsked = true;
    sga_.usAsked = sga_.themAsked = true;
    comPort_.themAsked = true;
    sendCommand(WILL, OPT_BINARY);
    sendCommand(DO, OPT_BINARY);
    sendCommand(WILL, OPT_SGA);
    sendCommand(DO, OPT_SGA);
    sendCommand(DO, OPT_COM_PORT);

    device_.setLineFormat(format_);
    device_.computerConnected(true);
    // Opening a port raises DTR and RTS, as a computer's serial driver does.
    dtr_ = true;
    rts_ = true;
    log_.write(station_, "dtr", {{"device", deviceName_}, {"on", true}});
    device_.setDtr(true);
    device_.setRts(true);
    flushOut();
}

void Rfc2217Server::closeClient(const char* reason) {
    if (!client_.valid())
        return;
    client_.reset();
    log_.write(station_, "port-closed", {{"device", deviceName_}, {"reason", reason}});
    toDevice_.clear();
    toComputer_.clear();
    out_.clear();
    if (dtr_) {
        dtr_ = false;
        log_.write(station_, "dtr", {{"device", deviceName_}, {"on", false}});
        device_.setDtr(false);
    }
    if (rts_) {
        rts_ = false;
        device_.setRts(false);
    }
    device_.computerConnected(false);
}

void Rfc2217Server::readClient() {
    uint8_t buffer[4096];
    std::size_t room = kDeviceBuffer > toDevice_.size() ? kDeviceBuffer - toDevice_.size() : 0;
    if (room == 0)
        room = 1; // still notice a closed connection
    ssize_t count = ::recv(client_.get(), buffer, std::min(room, sizeof buffer), 0);
    if (count == 0) {
        closeClient("closed by the computer");
        return;
    }
    if (count < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        closeClient(std::strerror(errno));
        return;
    }
    decode(buffer, static_cast<std::size_t>(count));
}

void Rfc2217Server::flushOut() {
    while (client_.valid() && !out_.empty()) {
        ssize_t sent = ::send(client_.get(), out_.data(), out_.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return;
            closeClient(std::strerror(errno));
            return;
        }
        out_.erase(0, static_cast<std::size_t>(sent));
    }
}

// ---------------------------------------------------------------------------
// Telnet

void Rfc2217Server::decode(const uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        uint8_t b = bytes[i];
        switch (state_) {
        case TelnetState::Data:
            if (b == IAC) {
                state_ = TelnetState::Iac;
                break;
            }
            if (!binary_.them) {
                // Network virtual terminal: CR NUL stands for a bare CR.
                bool dropNul = lastWasCr_ && b == 0;
                lastWasCr_ = b == '\r';
                if (dropNul)
                    break;
            }
            toDevice_.push_back(b);
            break;
        case TelnetState::Iac:
            state_ = TelnetState::Data;
            if (b == IAC) {
                toDevice_.push_back(IAC);
                lastWasCr_ = false;
            } else {
                iacCommand(b);
            }
            break;
        case TelnetState::Option:
            state_ = TelnetState::Data;
            negotiate(pendingCommand_, b);
            break;
        case TelnetState::Sub:
            if (b == IAC) {
                state_ = TelnetState::SubIac;
            } else if (sub_.size() < kMaxSubnegotiation) {
                sub_.push_back(b);
            } else {
                subOverflow_ = true;
            }
            break;
        case TelnetState::SubIac:
            if (b == IAC) {
                state_ = TelnetState::Sub;
                if (sub_.size() < kMaxSubnegotiation)
                    sub_.push_back(IAC);
                else
                    subOverflow_ = true;
            } else if (b == SE) {
                state_ = TelnetState::Data;
                subnegotiation();
            } else {
                protocolError("subnegotiation not ended by IAC SE");
                sub_.clear();
                subOverflow_ = false;
                state_ = TelnetState::Data;
                iacCommand(b);
            }
            break;
        }
    }
}

void Rfc2217Server::iacCommand(uint8_t command) {
    switch (command) {
    case WILL:
    case WONT:
    case DO:
    case DONT:
        pendingCommand_ = command;
        state_ = TelnetState::Option;
        break;
    case SB:
        sub_.clear();
        subOverflow_ = false;
        state_ = TelnetState::Sub;
        break;
    case SE:
        protocolError("IAC SE outside a subnegotiation");
        break;
    default:
        // NOP, data mark, break, AYT and the rest of the Telnet commands carry
        // nothing for a serial port.
        break;
    }
}

void Rfc2217Server::negotiate(uint8_t command, uint8_t option) {
    OptionState* state = option == OPT_BINARY     ? &binary_
                         : option == OPT_SGA      ? &sga_
                         : option == OPT_COM_PORT ? &comPort_
                                                  : nullptr;
    bool comPortBefore = comPort_.us || comPort_.them;
    if (state == nullptr) {
        if (command == DO)
            sendCommand(WONT, option);
        else if (command == WILL)
            sendCommand(DONT, option);
        return;
    }
    switch (command) {
    case DO:
        if (!state->us) {
            state->us = true;
            if (!state->usAsked)
                sendCommand(WILL, option);
        }
        state->usAsked = false;
        break;
    case DONT:
        if (state->us) {
            state->us = false;
            if (!state->usAsked)
                sendCommand(WONT, option);
        }
        state->usAsked = false;
        break;
    case WILL:
        if (!state->them) {
            state->them = true;
            if (!state->themAsked)
                sendCommand(DO, option);
        }
        state->themAsked = false;
        break;
    case WONT:
        if (state->them) {
            state->them = false;
            if (!state->themAsked)
                sendCommand(DONT, option);
        }
        state->themAsked = false;
        break;
    default:
        break;
    }
    if (option == OPT_BINARY && !binary_.them)
        lastWasCr_ = false;
    if (!comPortBefore && (comPort_.us || comPort_.them))
        comPortAgreed();
}

void Rfc2217Server::comPortAgreed() {
    if (comPortNotified_)
        return;
    comPortNotified_ = true;
    // The client learns the lines at once, without asking (no changes to report yet).
    notified_ = lines_;
    ringFell_ = false;
    notifyModemState(true);
}

void Rfc2217Server::subnegotiation() {
    if (subOverflow_) {
        protocolError("subnegotiation longer than " + std::to_string(kMaxSubnegotiation) +
                      " bytes");
        sub_.clear();
        subOverflow_ = false;
        return;
    }
    if (sub_.empty()) {
        protocolError("empty subnegotiation");
        return;
    }
    if (sub_[0] != OPT_COM_PORT) {
        protocolError("subnegotiation of option " + std::to_string(sub_[0]));
        return;
    }
    if (sub_.size() < 2) {
        protocolError("COM-PORT-OPTION without a command");
        return;
    }
    std::vector<uint8_t> value(sub_.begin() + 2, sub_.end());
    comPortCommand(sub_[1], value);
}

void Rfc2217Server::comPortCommand(uint8_t code, const std::vector<uint8_t>& value) {
    auto one = [&](const char* name) -> int {
        if (value.size() != 1) {
            protocolError(std::string(name) + " with " + std::to_string(value.size()) +
                          " value bytes");
            return -1;
        }
        return value[0];
    };
    switch (code) {
    case SIGNATURE:
        if (value.empty()) {
            std::string text = std::string(kSignature) + " " + station_ + " " + deviceName_;
            sendSub(SIGNATURE + SERVER_OFFSET, std::vector<uint8_t>(text.begin(), text.end()));
        } else {
            log_.write(station_, "signature",
                       {{"device", deviceName_}, {"text", printable(value)}});
        }
        break;
    case SET_BAUDRATE:
        setBaudRate(value);
        break;
    case SET_DATASIZE:
        if (int size = one("SET-DATASIZE"); size >= 0)
            setDataSize(size);
        break;
    case SET_PARITY:
        if (int parity = one("SET-PARITY"); parity >= 0)
            setParity(parity);
        break;
    case SET_STOPSIZE:
        if (int stop = one("SET-STOPSIZE"); stop >= 0)
            setStopSize(stop);
        break;
    case SET_CONTROL: {
        int control = one("SET-CONTROL");
        if (control >= 0)
            setControl(static_cast<uint8_t>(control));
        break;
    }
    case NOTIFY_MODEMSTATE:
        notifyModemState(true);
        break;
    case NOTIFY_LINESTATE:
        // The client asks for the line state: nothing to report on a simulated line.
        sendSub(NOTIFY_LINESTATE + SERVER_OFFSET, {0});
        break;
    case FLOWCONTROL_SUSPEND:
        suspended_ = true;
        log_.write(station_, "flow", {{"device", deviceName_}, {"suspended", true}});
        break;
    case FLOWCONTROL_RESUME:
        suspended_ = false;
        log_.write(station_, "flow", {{"device", deviceName_}, {"suspended", false}});
        break;
    case SET_LINESTATE_MASK: {
        int mask = one("SET-LINESTATE-MASK");
        if (mask < 0)
            break;
        lineMask_ = static_cast<uint8_t>(mask);
        sendSub(SET_LINESTATE_MASK + SERVER_OFFSET, {lineMask_});
        break;
    }
    case SET_MODEMSTATE_MASK: {
        int mask = one("SET-MODEMSTATE-MASK");
        if (mask < 0)
            break;
        modemMask_ = static_cast<uint8_t>(mask);
        logSetting("modemStateMask", mask);
        sendSub(SET_MODEMSTATE_MASK + SERVER_OFFSET, {modemMask_});
        break;
    }
    case PURGE_DATA: {
        int which = one("PURGE-DATA");
        if (which < 0)
            break;
        if (which < 1 || which > 3) {
            protocolError("PURGE-DATA " + std::to_string(which));
            break;
        }
        // 1: the server's receive buffer (from the device), 2: its transmit buffer
        // (to the device), 3: both.
        bool fromDevice = which & 1;
        bool toDevice = which & 2;
        if (fromDevice)
            toComputer_.clear();
        if (toDevice)
            toDevice_.clear();
        log_.write(station_, "purge",
                   {{"device", deviceName_}, {"fromDevice", fromDevice}, {"toDevice", toDevice}});
        device_.purged(fromDevice, toDevice);
        sendSub(PURGE_DATA + SERVER_OFFSET, {static_cast<uint8_t>(which)});
        break;
    }
    default:
        protocolError("COM-PORT-OPTION command " + std::to_string(code));
        break;
    }
}

// The line format the client asks for: each answered with the format now in force.

void Rfc2217Server::setBaudRate(const std::vector<uint8_t>& value) {
    if (value.size() != 4) {
        protocolError("SET-BAUDRATE with " + std::to_string(value.size()) + " value bytes");
        return;
    }
    uint32_t baud = (uint32_t(value[0]) << 24) | (uint32_t(value[1]) << 16) |
                    (uint32_t(value[2]) << 8) | value[3];
    if (baud != 0) {
        if (baud > kMaxBaudRate) {
            protocolError("baud rate " + std::to_string(baud) + " refused");
        } else if (baud != format_.baudRate) {
            format_.baudRate = baud;
            applyFormat();
            logSetting("baud", baud);
        }
    }
    uint32_t now = format_.baudRate;
    sendSub(SET_BAUDRATE + SERVER_OFFSET,
            {uint8_t(now >> 24), uint8_t(now >> 16), uint8_t(now >> 8), uint8_t(now)});
}

void Rfc2217Server::setDataSize(int size) {
    if (size >= 5 && size <= 8 && size != format_.dataBits) {
        format_.dataBits = static_cast<uint8_t>(size);
        applyFormat();
        logSetting("dataBits", size);
    } else if (size != 0 && (size < 5 || size > 8)) {
        protocolError("data size " + std::to_string(size) + " refused");
    }
    sendSub(SET_DATASIZE + SERVER_OFFSET, {format_.dataBits});
}

void Rfc2217Server::setParity(int parity) {
    if (parity >= 1 && parity <= 5) {
        Parity wanted = static_cast<Parity>(parity - 1);
        if (wanted != format_.parity) {
            format_.parity = wanted;
            applyFormat();
            logSetting("parity", parityName(wanted));
        }
    } else if (parity != 0) {
        protocolError("parity " + std::to_string(parity) + " refused");
    }
    sendSub(SET_PARITY + SERVER_OFFSET, {uint8_t(static_cast<int>(format_.parity) + 1)});
}

void Rfc2217Server::setStopSize(int stop) {
    if (stop >= 1 && stop <= 3) {
        StopBits wanted = stop == 1   ? StopBits::One
                          : stop == 2 ? StopBits::Two
                                      : StopBits::OneAndHalf;
        if (wanted != format_.stopBits) {
            format_.stopBits = wanted;
            applyFormat();
            logSetting("stopBits", stopName(wanted));
        }
    } else if (stop != 0) {
        protocolError("stop size " + std::to_string(stop) + " refused");
    }
    uint8_t now = format_.stopBits == StopBits::One ? 1 : format_.stopBits == StopBits::Two ? 2 : 3;
    sendSub(SET_STOPSIZE + SERVER_OFFSET, {now});
}

void Rfc2217Server::setControl(uint8_t value) {
    uint8_t reply = value;
    switch (value) {
    case 0:
        reply = static_cast<uint8_t>(flow_);
        break;
    case 1:
    case 2:
    case 3:
        if (static_cast<Flow>(value) != flow_) {
            flow_ = static_cast<Flow>(value);
            logSetting("flowControl", value == 1 ? "none" : value == 2 ? "xon/xoff" : "hardware");
        }
        break;
    case 4:
        reply = breakOn_ ? 5 : 6;
        break;
    case 5:
    case 6:
        if (breakOn_ != (value == 5)) {
            breakOn_ = value == 5;
            logSetting("break", breakOn_);
        }
        break;
    case 7:
        reply = dtr_ ? 8 : 9;
        break;
    case 8:
    case 9:
        if (dtr_ != (value == 8)) {
            dtr_ = value == 8;
            log_.write(station_, "dtr", {{"device", deviceName_}, {"on", dtr_}});
            device_.setDtr(dtr_);
        }
        break;
    case 10:
        reply = rts_ ? 11 : 12;
        break;
    case 11:
    case 12:
        if (rts_ != (value == 11)) {
            rts_ = value == 11;
            log_.write(station_, "rts", {{"device", deviceName_}, {"on", rts_}});
            device_.setRts(rts_);
        }
        break;
    case 13:
        reply = inboundFlow_;
        break;
    case 14:
    case 15:
    case 16:
        inboundFlow_ = value;
        break;
    case 17:
    case 18:
    case 19:
        // DCD, DSR and DTR flow control: kept as requested, no effect here.
        break;
    default:
        protocolError("SET-CONTROL " + std::to_string(value));
        return;
    }
    sendSub(SET_CONTROL + SERVER_OFFSET, {reply});
}

void Rfc2217Server::sendCommand(uint8_t command, uint8_t option) {
    out_.push_back(static_cast<char>(IAC));
    out_.push_back(static_cast<char>(command));
    out_.push_back(static_cast<char>(option));
}

void Rfc2217Server::sendSub(uint8_t code, const std::vector<uint8_t>& value) {
    out_.push_back(static_cast<char>(IAC));
    out_.push_back(static_cast<char>(SB));
    out_.push_back(static_cast<char>(OPT_COM_PORT));
    out_.push_back(static_cast<char>(code));
    for (uint8_t b : value) {
        out_.push_back(static_cast<char>(b));
        if (b == IAC)
            out_.push_back(static_cast<char>(IAC));
    }
    out_.push_back(static_cast<char>(IAC));
    out_.push_back(static_cast<char>(SE));
    flushOut();
}

uint8_t Rfc2217Server::modemStateBits() const {
    return (lines_.carrier ? MS_CD : 0) | (lines_.ring ? MS_RI : 0) | (lines_.dsr ? MS_DSR : 0) |
           (lines_.cts ? MS_CTS : 0);
}

// Sends the modem state: on request or at agreement (reply), or when a line the
// client watches has changed.
void Rfc2217Server::notifyModemState(bool reply) {
    if (!client_.valid())
        return;
    uint8_t state = modemStateBits();
    uint8_t delta = 0;
    if (lines_.carrier != notified_.carrier)
        delta |= MS_DELTA_CD;
    if (ringFell_)
        delta |= MS_RI_TRAILING;
    if (lines_.dsr != notified_.dsr)
        delta |= MS_DELTA_DSR;
    if (lines_.cts != notified_.cts)
        delta |= MS_DELTA_CTS;
    uint8_t changed = delta;
    if (lines_.ring != notified_.ring)
        changed |= MS_RI;
    uint8_t watched = static_cast<uint8_t>(modemMask_ & (changed | (changed << 4)));
    if (!reply && watched == 0)
        return;
    notified_ = lines_;
    ringFell_ = false;
    sendSub(NOTIFY_MODEMSTATE + SERVER_OFFSET,
            {static_cast<uint8_t>((state | delta) & modemMask_)});
}

void Rfc2217Server::setLines(const DeviceLines& lines) {
    if (lines == lines_)
        return;
    if (lines_.ring && !lines.ring)
        ringFell_ = true;
    lines_ = lines;
    if (comPortNotified_)
        notifyModemState(false);
}

void Rfc2217Server::applyFormat() {
    device_.setLineFormat(format_);
}

void Rfc2217Server::protocolError(const std::string& detail) {
    log_.write(station_, "protocol-error", {{"device", deviceName_}, {"detail", detail}});
}

void Rfc2217Server::logSetting(const char* setting, nlohmann::json value) {
    log_.write(station_, "port-setting",
               {{"device", deviceName_}, {"setting", setting}, {"value", value}});
}

// ---------------------------------------------------------------------------
// The serial line

double Rfc2217Server::charsPerMs() const {
    double bits = 1.0 + format_.dataBits + (format_.parity == Parity::None ? 0.0 : 1.0) +
                  (format_.stopBits == StopBits::One   ? 1.0
                   : format_.stopBits == StopBits::Two ? 2.0
                                                       : 1.5);
    return format_.baudRate / bits / 1000.0;
}

void Rfc2217Server::send(std::span<const uint8_t> bytes) {
    if (!client_.valid())
        return;
    std::size_t room = kComputerBuffer - std::min(kComputerBuffer, toComputer_.size());
    std::size_t take = std::min(room, bytes.size());
    toComputer_.insert(toComputer_.end(), bytes.begin(), bytes.begin() + take);
    if (take < bytes.size() && !overrunLogged_) {
        overrunLogged_ = true;
        log_.write(station_, "overrun",
                   {{"device", deviceName_},
                    {"lost", bytes.size() - take},
                    {"detail", "the computer does not read its port"}});
    }
}

void Rfc2217Server::poll(uint32_t tick) {
    uint32_t elapsed = ticking_ ? tick - lastTick_ : 0;
    lastTick_ = tick;
    ticking_ = true;
    double rate = charsPerMs();
    // The line carries what waits at its rate, also across a late poll. An idle line
    // saves nothing up but lets the next character go at once, so that an echo does
    // not wait for the poll after next.
    double cap = std::max(rate * 5000.0, 16.0);
    auto advance = [&](double& credit, bool busy) {
        credit = busy ? std::min(credit + elapsed * rate, cap) : 1.0;
    };

    // Computer to device, held while the device holds CTS off under hardware flow control.
    bool held = flow_ == Flow::Hardware && !lines_.cts;
    advance(creditToDevice_, client_.valid() && !held && !toDevice_.empty());
    if (client_.valid() && !held && !toDevice_.empty()) {
        std::size_t count = std::min(toDevice_.size(), static_cast<std::size_t>(creditToDevice_));
        if (count > 0) {
            std::vector<uint8_t> chunk(toDevice_.begin(), toDevice_.begin() + count);
            toDevice_.erase(toDevice_.begin(), toDevice_.begin() + count);
            creditToDevice_ -= static_cast<double>(count);
            device_.receive(chunk);
        }
    }

    device_.poll(tick);

    // Device to computer.
    advance(creditToComputer_, !toComputer_.empty());
    if (client_.valid() && !suspended_ && out_.size() < kSocketBacklog && !toComputer_.empty()) {
        std::size_t count =
            std::min(toComputer_.size(), static_cast<std::size_t>(creditToComputer_));
        bool binary = binary_.us;
        for (std::size_t i = 0; i < count; ++i) {
            uint8_t b = toComputer_.front();
            toComputer_.pop_front();
            out_.push_back(static_cast<char>(b));
            if (b == IAC)
                out_.push_back(static_cast<char>(IAC));
            else if (b == '\r' && !binary)
                out_.push_back('\0');
        }
        creditToComputer_ -= static_cast<double>(count);
    }
    flushOut();
}

} // namespace vetlina::sim
