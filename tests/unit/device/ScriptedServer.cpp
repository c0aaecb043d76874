#include "ScriptedServer.h"

#include "device/Rfc2217Protocol.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vetlina::test {
namespace {

constexpr int kSliceMs = 10;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

} // namespace

bool ScriptedServer::Connection::send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (stopping())
            return false;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, kSliceMs) <= 0)
            continue;
        ssize_t n =
            ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
    }
    return true;
}

std::string ScriptedServer::Connection::receive(int realMs) {
    std::string got;
    for (int waited = 0; waited < realMs && !stopping(); waited += kSliceMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

void ScriptedServer::Connection::drainUntilClosed() {
    while (!stopping()) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return;
    }
}

void ScriptedServer::Connection::idleUntilStopped() {
    while (!stopping())
        ::poll(nullptr, 0, kSliceMs);
}

ScriptedServer::ScriptedServer(Script script, int receiveBuffer) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (receiveBuffer > 0) // inherited by the accepted socket
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    auto address = loopback(0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    port_ = boundPort(listener_);
    thread_ = std::thread([this, script = std::move(script)] { serve(script); });
}

ScriptedServer::~ScriptedServer() {
    stop_.store(true, std::memory_order_release);
    thread_.join();
    ::close(listener_);
}

void ScriptedServer::serve(Script script) {
    while (!stop_.load(std::memory_order_acquire)) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) <= 0)
            continue;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        Connection connection(fd, stop_);
        script(connection);
        ::close(fd);
        break;
    }
    finished_.store(true, std::memory_order_release);
}

std::string agreeingServerGreeting(uint32_t baudRate, uint8_t modemState) {
    using namespace rfc2217;
    std::string bytes = optionCommand(DO, OptionComPort);
    const uint8_t rate[4] = {uint8_t(baudRate >> 24), uint8_t(baudRate >> 16),
                             uint8_t(baudRate >> 8), uint8_t(baudRate)};
    bytes += comPortCommand(kServerOffset + SetBaudRate, rate, sizeof rate);
    bytes += comPortCommand(kServerOffset + NotifyModemState, modemState);
    return bytes;
}

int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int port = boundPort(fd);
    ::close(fd);
    return port;
}

} // namespace vetlina::test
