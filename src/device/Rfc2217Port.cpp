#include "device/Rfc2217Port.h"

#include "device/PollWait.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

namespace vetlina {

using namespace rfc2217;

namespace {

// At most this much is taken from the socket by one operation, so that a server
// flooding the connection cannot keep the caller in a read for ever.
constexpr std::size_t kPumpBudget = 256 * 1024;

// The kernel's send buffer is kept small: a serial line moves about 11 KB a
// second at 115200 baud, and a large buffer would only hide output held by CTS.
constexpr int kSendBuffer = 16 * 1024;

// A dead server on a quiet connection is found by TCP keepalive within about
// 25 s of real time, and unacknowledged output gives up after 30 s.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;
constexpr unsigned kUserTimeoutMs = 30000;

std::string errnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer); // the GNU form returns the text
}

bool isHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool isIpv6Char(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.' || c == '%' ||
           std::isalnum(static_cast<unsigned char>(c));
}

bool wanted(uint8_t option) {
    return option == OptionBinary || option == OptionSuppressGoAhead || option == OptionComPort;
}

void setOption(int fd, int level, int name, int value) {
    ::setsockopt(fd, level, name, &value, sizeof value); // a refusal leaves the default
}

} // namespace

std::optional<Rfc2217Address> parseRfc2217Address(std::string_view text) {
    Rfc2217Address address;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return std::nullopt;
        address.host = std::string(text.substr(1, close - 1));
        if (address.host.empty() ||
            !std::all_of(address.host.begin(), address.host.end(), isIpv6Char))
            return std::nullopt;
        portText = text.substr(close + 2);
    } else {
        auto colon = text.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        address.host = std::string(text.substr(0, colon));
        if (address.host.empty() ||
            !std::all_of(address.host.begin(), address.host.end(), isHostChar))
            return std::nullopt;
        portText = text.substr(colon + 1);
    }
    if (portText.empty() || portText.size() > 5)
        return std::nullopt;
    unsigned port = 0;
    for (char c : portText) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + unsigned(c - '0');
    }
    if (port == 0 || port > 65535)
        return std::nullopt;
    address.port = std::to_string(port);
    return address;
}

Rfc2217Port::Rfc2217Port(std::string hostPort) : hostPort_(std::move(hostPort)) {}

Rfc2217Port::~Rfc2217Port() {
    close();
}

std::size_t Rfc2217Port::heldBytes() const {
    return input_.size() + outputPending_ + decoder_.heldBytes();
}

void Rfc2217Port::resetState() {
    decoder_.reset();
    input_.clear();
    output_.clear();
    outputPending_ = 0;
    us_.fill(OptionState::No);
    him_.fill(OptionState::No);
    lost_ = false;
    suspended_ = false;
    modemState_.reset();
    lastModemPoll_ = tickMs();
    baudRate_ = 0;
    serverBaudRate_.reset();
    baudReplies_ = 0;
    overrun_ = 0;
}

void Rfc2217Port::lose(const std::string& why) {
    if (!lost_)
        lastError_ = "rfc2217://" + hostPort_ + ": " + why;
    lost_ = true;
    output_.clear();
    outputPending_ = 0;
}

bool Rfc2217Port::connectTo(const Rfc2217Address& address, uint32_t deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    // A host name is looked up by the system's resolver, whose own time-outs
    // apply; a device server is normally named by its address, which is not.
    int status = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found);
    if (status != 0) {
        lastError_ = "rfc2217://" + hostPort_ + ": " + ::gai_strerror(status);
        return false;
    }
    std::string failure = "no address";
    for (addrinfo* ai = found; ai != nullptr && !tickReached(deadline); ai = ai->ai_next) {
        UniqueFd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             ai->ai_protocol));
        if (!fd) {
            failure = errnoText(errno);
            continue;
        }
        setOption(fd.get(), SOL_SOCKET, SO_SNDBUF, kSendBuffer);
        if (::connect(fd.get(), ai->ai_addr, ai->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                failure = errnoText(errno);
                continue;
            }
            int events = pollUntil(fd.get(), POLLOUT, deadline);
            if (events == 0) {
                failure = "no connection within " + std::to_string(kOpenTimeoutMs) + " ms";
                continue;
            }
            int error = 0;
            socklen_t length = sizeof error;
            if (events < 0)
                error = errno;
            else if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            if (error != 0) {
                failure = errnoText(error);
                continue;
            }
        }
        // The protocols above send small blocks and wait for their acknowledgement.
        setOption(fd.get(), IPPROTO_TCP, TCP_NODELAY, 1);
        setOption(fd.get(), SOL_SOCKET, SO_KEEPALIVE, 1);
        setOption(fd.get(), IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleS);
        setOption(fd.get(), IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalS);
        setOption(fd.get(), IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
        setOption(fd.get(), IPPROTO_TCP, TCP_USER_TIMEOUT, int(kUserTimeoutMs));
        socket_ = std::move(fd);
        ::freeaddrinfo(found);
        return true;
    }
    ::freeaddrinfo(found);
    if (tickReached(deadline) && failure == "no address")
        failure = "no connection within " + std::to_string(kOpenTimeoutMs) + " ms";
    lastError_ = "rfc2217://" + hostPort_ + ": " + failure;
    return false;
}

bool Rfc2217Port::comPortAgreed() const {
    return us_[OptionComPort] == OptionState::Yes || him_[OptionComPort] == OptionState::Yes;
}

bool Rfc2217Port::comPortRefused() const {
    return us_[OptionComPort] == OptionState::No && him_[OptionComPort] != OptionState::Yes;
}

PortOpenResult Rfc2217Port::open(const LineSettings& settings) {
    if (isOpen()) {
        lastError_ = "rfc2217://" + hostPort_ + ": already open";
        return PortOpenResult::CannotOpen;
    }
    resetState();
    auto address = parseRfc2217Address(hostPort_);
    if (!address) {
        lastError_ = "rfc2217://" + hostPort_ + ": malformed address (expected HOST:PORT)";
        return PortOpenResult::CannotOpen;
    }
    if (settings.baudRate == 0) {
        lastError_ = "rfc2217://" + hostPort_ + ": baud rate 0 is not supported";
        return PortOpenResult::SystemError;
    }
    uint32_t deadline = tickMs() + kOpenTimeoutMs;
    if (!connectTo(*address, deadline))
        return PortOpenResult::CannotOpen;

    requestOption(WILL, OptionBinary);
    requestOption(DO, OptionBinary);
    requestOption(WILL, OptionSuppressGoAhead);
    requestOption(DO, OptionSuppressGoAhead);
    requestOption(WILL, OptionComPort);
    bool settled = waitUntil([this] { return comPortAgreed() || comPortRefused(); }, deadline);
    if (!settled || !comPortAgreed()) {
        if (settled)
            lastError_ = "rfc2217://" + hostPort_ + ": the server refused COM-PORT-OPTION";
        else if (!lost_) // a lost connection has said why already
            lastError_ = "rfc2217://" + hostPort_ + ": no COM-PORT-OPTION agreed within " +
                         std::to_string(kOpenTimeoutMs) + " ms";
        socket_.reset();
        return PortOpenResult::CannotOpen;
    }

    baudRate_ = settings.baudRate;
    queueCommand(baudRateCommand(settings.baudRate));
    queueCommand(comPortCommand(SetDataSize, DataSize8));
    queueCommand(comPortCommand(SetParity, ParityNone));
    queueCommand(comPortCommand(SetStopSize, StopSize1));
    queueCommand(comPortCommand(SetControl, ControlHardwareFlow));
    queueCommand(comPortCommand(SetControl, ControlDtrOn));
    queueCommand(comPortCommand(SetModemStateMask, ModemLinesMask));
    queueCommand(comPortCommand(NotifyModemState));
    lastModemPoll_ = tickMs();
    waitUntil([this] { return baudReplies_ > 0 && modemState_.has_value(); },
              tickMs() + kReplyTimeoutMs);
    if (lost_) {
        socket_.reset();
        return PortOpenResult::CannotOpen;
    }
    if (serverBaudRate_ && *serverBaudRate_ != settings.baudRate) {
        lastError_ = "rfc2217://" + hostPort_ + ": the server set " +
                     std::to_string(*serverBaudRate_) + " baud instead of " +
                     std::to_string(settings.baudRate);
        socket_.reset();
        return PortOpenResult::SystemError;
    }
    return PortOpenResult::Ok;
}

void Rfc2217Port::close() {
    if (!isOpen())
        return;
    if (!lost_ && !suspended_)
        waitUntil([this] { return outputPending_ == 0; }, tickMs() + kCloseDrainMs);
    socket_.reset();
    resetState();
}

void Rfc2217Port::requestOption(uint8_t verb, uint8_t option) {
    auto& state = (verb == WILL || verb == WONT) ? us_[option] : him_[option];
    state = OptionState::WantYes;
    queueCommand(optionCommand(verb, option));
}

// Commands are dropped once kCommandLimit bytes wait for a socket that takes
// nothing: a server that neither reads nor stops asking for options it will not
// get must not make us hold its refusals without end.
void Rfc2217Port::queueCommand(std::string bytes) {
    if (lost_ || outputPending_ + bytes.size() > kCommandLimit)
        return;
    outputPending_ += bytes.size();
    output_.push_back(OutputSegment{std::move(bytes), 0, false});
}

std::size_t Rfc2217Port::queueData(const uint8_t* data, std::size_t size) {
    if (output_.empty() || !output_.back().data)
        output_.push_back(OutputSegment{{}, 0, true});
    std::string& bytes = output_.back().bytes;
    std::size_t taken = 0;
    while (taken < size && outputPending_ < kOutputLimit) {
        std::size_t before = bytes.size();
        appendEscaped(bytes, data + taken, 1);
        outputPending_ += bytes.size() - before;
        ++taken;
    }
    return taken;
}

void Rfc2217Port::discardUnsentData() {
    std::deque<OutputSegment> kept;
    for (auto& segment : output_) {
        if (!segment.data) {
            kept.push_back(std::move(segment));
            continue;
        }
        if (segment.sent == 0)
            continue;
        // Partly sent: keep only what completes a doubled IAC already begun.
        std::size_t i = 0;
        while (i < segment.sent)
            i += static_cast<uint8_t>(segment.bytes[i]) == IAC ? 2 : 1;
        segment.bytes.resize(i);
        if (segment.sent < segment.bytes.size())
            kept.push_back(std::move(segment));
    }
    output_ = std::move(kept);
    outputPending_ = 0;
    for (const auto& segment : output_)
        outputPending_ += segment.bytes.size() - segment.sent;
}

// Sends what the socket takes now. While the server has suspended our output
// nothing goes, commands included (it asked for both to stop).
bool Rfc2217Port::flushOutput() {
    while (!output_.empty() && !suspended_ && !lost_) {
        OutputSegment& segment = output_.front();
        std::size_t left = segment.bytes.size() - segment.sent;
        if (left == 0) {
            output_.pop_front();
            continue;
        }
        ssize_t n = ::send(socket_.get(), segment.bytes.data() + segment.sent, left,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            segment.sent += static_cast<std::size_t>(n);
            outputPending_ -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        lose("send: " + errnoText(errno));
    }
    return !lost_;
}

void Rfc2217Port::pump() {
    if (!socket_ || lost_)
        return;
    flushOutput();
    uint8_t chunk[4096];
    std::size_t budget = kPumpBudget;
    while (budget > 0 && !lost_) {
        ssize_t n = ::recv(socket_.get(), chunk, std::min(sizeof chunk, budget), MSG_DONTWAIT);
        if (n > 0) {
            decoder_.feed(chunk, static_cast<std::size_t>(n), *this);
            budget -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) {
            lose("the server closed the connection");
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            lose("receive: " + errnoText(errno));
        break;
    }
    flushOutput(); // answers to what came in
}

template <class Done>
bool Rfc2217Port::waitUntil(Done done, uint32_t deadline) {
    for (;;) {
        pump();
        if (done())
            return true;
        if (lost_ || !socket_ || tickReached(deadline))
            return false;
        short events = POLLIN;
        if (outputPending_ > 0 && !suspended_)
            events |= POLLOUT;
        int ready = pollUntil(socket_.get(), events, deadline);
        if (ready < 0) {
            lose("poll: " + errnoText(errno));
            return false;
        }
        if ((ready & (POLLERR | POLLNVAL)) && !(ready & POLLIN)) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, &error, &length);
            lose(error ? errnoText(error) : std::string("the connection failed"));
            return false;
        }
    }
}

void Rfc2217Port::onData(const uint8_t* data, std::size_t size) {
    std::size_t room = kInputLimit - input_.size();
    std::size_t taken = std::min(room, size);
    input_.insert(input_.end(), data, data + taken);
    overrun_ += size - taken;
}

// Telnet option negotiation: we want BINARY and SUPPRESS-GO-AHEAD on both sides
// and COM-PORT-OPTION, and refuse everything else (ECHO among them). A request
// that answers our own is not answered again, so the dialogue cannot loop.
void Rfc2217Port::onNegotiation(uint8_t verb, uint8_t option) {
    switch (verb) {
    case DO: {
        auto& state = us_[option];
        if (state == OptionState::WantYes) {
            state = OptionState::Yes;
        } else if (state == OptionState::No) {
            if (wanted(option)) {
                state = OptionState::Yes;
                queueCommand(optionCommand(WILL, option));
            } else {
                queueCommand(optionCommand(WONT, option));
            }
        }
        break;
    }
    case DONT: {
        auto& state = us_[option];
        if (state == OptionState::Yes)
            queueCommand(optionCommand(WONT, option));
        state = OptionState::No;
        break;
    }
    case WILL: {
        auto& state = him_[option];
        if (state == OptionState::WantYes) {
            state = OptionState::Yes;
        } else if (state == OptionState::No) {
            if (wanted(option)) {
                state = OptionState::Yes;
                queueCommand(optionCommand(DO, option));
            } else {
                queueCommand(optionCommand(DONT, option));
            }
        }
        break;
    }
    case WONT: {
        auto& state = him_[option];
        if (state == OptionState::Yes)
            queueCommand(optionCommand(DONT, option));
        state = OptionState::No;
        break;
    }
    default:
        break;
    }
}

// The server's side of COM-PORT-OPTION: its answers to our settings carry the
// code plus 100 with the value it applied; notifications carry the line state.
// Anything else (signature, line state, purge answers) needs nothing from us.
void Rfc2217Port::onSubnegotiation(const uint8_t* body, std::size_t size) {
    if (size < 2 || body[0] != OptionComPort)
        return;
    uint8_t command = body[1];
    const uint8_t* value = body + 2;
    std::size_t valueSize = size - 2;
    switch (command) {
    case kServerOffset + NotifyModemState:
        if (valueSize >= 1)
            modemState_ = value[0] & ModemLinesMask;
        break;
    case kServerOffset + SetBaudRate:
        if (valueSize >= 4) {
            serverBaudRate_ = uint32_t(value[0]) << 24 | uint32_t(value[1]) << 16 |
                              uint32_t(value[2]) << 8 | uint32_t(value[3]);
            ++baudReplies_;
        }
        break;
    case kServerOffset + FlowControlSuspend:
        suspended_ = true;
        break;
    case kServerOffset + FlowControlResume:
        suspended_ = false;
        break;
    default:
        break;
    }
}

bool Rfc2217Port::setBaudRate(uint32_t baudRate) {
    if (!isOpen() || lost_)
        return false;
    if (baudRate == 0) {
        lastError_ = "rfc2217://" + hostPort_ + ": baud rate 0 is not supported";
        return false;
    }
    uint32_t repliesBefore = baudReplies_;
    queueCommand(baudRateCommand(baudRate));
    bool answered =
        waitUntil([&] { return baudReplies_ != repliesBefore; }, tickMs() + kReplyTimeoutMs);
    if (lost_)
        return false;
    if (answered && serverBaudRate_ != baudRate) {
        lastError_ = "rfc2217://" + hostPort_ + ": the server set " +
                     std::to_string(serverBaudRate_.value_or(0)) + " baud instead of " +
                     std::to_string(baudRate);
        return false;
    }
    baudRate_ = baudRate;
    return true;
}

long Rfc2217Port::read(uint8_t* buffer, std::size_t size) {
    if (!isOpen())
        return -1;
    pump();
    if (input_.empty())
        return lost_ ? -1 : 0;
    std::size_t n = std::min(size, input_.size());
    std::copy_n(input_.begin(), n, buffer);
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<long>(n);
}

long Rfc2217Port::write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) {
    if (!isOpen())
        return -1;
    pump();
    if (lost_)
        return -1;
    uint32_t deadline = tickMs() + timeoutMs;
    std::size_t done = 0;
    for (;;) {
        done += queueData(data + done, size - done);
        if (!flushOutput())
            return -1;
        if (done == size || tickReached(deadline))
            return static_cast<long>(done);
        short events = POLLIN;
        if (!suspended_)
            events |= POLLOUT;
        if (pollUntil(socket_.get(), events, deadline) < 0) {
            lose("poll: " + errnoText(errno));
            return -1;
        }
        pump();
        if (lost_)
            return -1;
    }
}

// One PURGE-DATA 3 clears both of the server's queues in one step, with one
// answer, rather than 1 and 2 in two. Here the data not yet sent goes, and
// what has arrived so far; what the server sent before it purged and is still
// on its way arrives afterwards, as bytes in flight on a real line would.
bool Rfc2217Port::purge() {
    if (!isOpen() || lost_)
        return false;
    discardUnsentData();
    queueCommand(comPortCommand(PurgeData, PurgeBoth));
    pump(); // what has arrived by now is discarded with the rest
    input_.clear();
    return !lost_;
}

std::optional<bool> Rfc2217Port::clearErrors() {
    if (!isOpen())
        return std::nullopt;
    pump();
    if (lost_)
        return std::nullopt;
    return suspended_ || (modemState_ && (*modemState_ & ModemCts) == 0);
}

bool Rfc2217Port::setDtr(bool on) {
    if (!isOpen() || lost_)
        return false;
    queueCommand(comPortCommand(SetControl, on ? ControlDtrOn : ControlDtrOff));
    pump();
    return !lost_;
}

std::optional<ModemLines> Rfc2217Port::modemLines() {
    if (!isOpen())
        return std::nullopt;
    pump();
    if (lost_)
        return ModemLines{};
    if (tickReached(lastModemPoll_ + kModemPollMs) && outputPending_ == 0) {
        queueCommand(comPortCommand(NotifyModemState));
        lastModemPoll_ = tickMs();
        flushOutput();
    }
    uint8_t state = modemState_.value_or(0);
    ModemLines lines;
    lines.cts = (state & ModemCts) != 0;
    lines.dsr = (state & ModemDsr) != 0;
    lines.ring = (state & ModemRi) != 0;
    lines.carrier = (state & ModemCd) != 0;
    return lines;
}

} // namespace vetlina
