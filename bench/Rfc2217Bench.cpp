// The cost of the serial-device-server port: decoding the Telnet stream, and a
// round trip of a block through Rfc2217Port and a loopback echo server.
#include "device/Rfc2217Port.h"
#include "device/Rfc2217Protocol.h"

#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace vetlina;
using namespace vetlina::rfc2217;

struct CountingHandler : TelnetHandler {
    std::size_t data = 0;
    void onData(const uint8_t*, std::size_t size) override { data += size; }
    void onNegotiation(uint8_t, uint8_t) override {}
    void onSubnegotiation(const uint8_t*, std::size_t) override {}
};

// Received data as it comes from a server: random bytes (so about one in 256
// is a doubled IAC) with a modem-state notification every 4 KiB.
void BM_TelnetDecoderReceive(benchmark::State& state) {
    std::mt19937 random(7);
    std::string wire;
    for (int block = 0; block < 16; ++block) {
        std::string data(4096, '\0');
        for (auto& byte : data)
            byte = static_cast<char>(random());
        appendEscaped(wire, reinterpret_cast<const uint8_t*>(data.data()), data.size());
        wire += comPortCommand(kServerOffset + NotifyModemState, 0x30);
    }
    TelnetDecoder decoder;
    CountingHandler handler;
    for (auto _ : state) {
        decoder.feed(reinterpret_cast<const uint8_t*>(wire.data()), wire.size(), handler);
        benchmark::DoNotOptimize(handler.data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 65536);
}
BENCHMARK(BM_TelnetDecoderReceive);

// A server on 127.0.0.1 that agrees to COM-PORT-OPTION and then sends back
// whatever comes (commands come back as client codes, which the port ignores).
class EchoServer {
public:
    EchoServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~EchoServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    void serve() {
        pollfd p{listener_, POLLIN, 0};
        while (!stop_ && ::poll(&p, 1, 10) <= 0) {
        }
        if (stop_)
            return;
        int fd = ::accept(listener_, nullptr, nullptr);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const uint8_t rate[4] = {0, 0, 0x25, 0x80};
        std::string greeting = optionCommand(DO, OptionComPort) +
                               comPortCommand(kServerOffset + SetBaudRate, rate, 4) +
                               comPortCommand(kServerOffset + NotifyModemState, 0x30);
        ::send(fd, greeting.data(), greeting.size(), MSG_NOSIGNAL);
        char buffer[65536];
        while (!stop_) {
            pollfd c{fd, POLLIN, 0};
            if (::poll(&c, 1, 10) <= 0)
                continue;
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            for (ssize_t sent = 0; sent < n;) {
                ssize_t m =
                    ::send(fd, buffer + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
                if (m <= 0)
                    break;
                sent += m;
            }
        }
        ::close(fd);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One block out and back: the port's share of a block-and-acknowledge exchange.
void BM_Rfc2217BlockRoundTrip(benchmark::State& state) {
    EchoServer server;
    Rfc2217Port port(server.address());
    if (port.open(LineSettings{9600}) != PortOpenResult::Ok) {
        state.SkipWithError(port.lastError().c_str());
        return;
    }
    std::string block(static_cast<std::size_t>(state.range(0)), '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 37); // includes 255 now and then
    std::string back(block.size(), '\0');
    for (auto _ : state) {
        port.write(reinterpret_cast<const uint8_t*>(block.data()), block.size(), 600);
        std::size_t got = 0;
        while (got < back.size()) {
            long n = port.read(reinterpret_cast<uint8_t*>(back.data()) + got, back.size() - got);
            if (n < 0) {
                state.SkipWithError("read failed");
                return;
            }
            got += static_cast<std::size_t>(n);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Rfc2217BlockRoundTrip)->Arg(16)->Arg(512)->Arg(4096)->UseRealTime();

} // namespace
