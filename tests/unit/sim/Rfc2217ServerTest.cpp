// The RFC 2217 server: negotiation, port control and its answers, the lines the
// device drives, IAC in data, one client at a time, bad input; and pyserial's RFC 2217
// client as an independent peer.
#include "SimTestSupport.h"
#include "TempFolder.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace vetlina::sim::test {
namespace {

// A device that records what the computer does to it and can echo its bytes.
class RecordingDevice final : public SerialDevice {
public:
    void attach(PortSide& port) override {
        port_ = &port;
        port.setLines(lines);
    }
    void computerConnected(bool connected) override { connections.push_back(connected); }
    void receive(std::span<const uint8_t> bytes) override {
        received.append(bytes.begin(), bytes.end());
        if (loopback)
            port_->send(bytes);
    }
    void setLineFormat(const LineFormat& format) override { formats.push_back(format); }
    void setDtr(bool on) override { dtr.push_back(on); }
    void setRts(bool on) override { rts.push_back(on); }
    void purged(bool toComputer, bool toDevice) override {
        purges.push_back(toComputer * 1 + toDevice * 2);
    }
    void poll(uint32_t) override {}

    void drive(const DeviceLines& newLines) {
        lines = newLines;
        port_->setLines(lines);
    }
    void send(const std::string& bytes) {
        port_->send({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    }

    bool loopback = false;
    DeviceLines lines{true, false, false, false};
    std::string received;
    std::vector<bool> connections, dtr, rts;
    std::vector<LineFormat> formats;
    std::vector<int> purges;

private:
    PortSide* port_ = nullptr;
};

class Rfc2217ServerTest : public ::testing::Test {
protected:
    explicit Rfc2217ServerTest(double scale = 50.0)
        : log(nullptr), server("S", "modem", device, log) {
        setTimeScaleForTesting(scale);
        log.setObserver([this](const nlohmann::json& e) { events.push_back(e); });
        std::string error;
        EXPECT_TRUE(server.listen(0, error)) << error;
    }
    ~Rfc2217ServerTest() override { setTimeScaleForTesting(1.0); }

    void step() {
        std::vector<pollfd> fds;
        server.addPollFds(fds);
        ::poll(fds.data(), fds.size(), 1);
        server.service(fds);
        server.poll(tickMs());
        for (auto* c : clients)
            c->service();
    }
    bool until(const std::function<bool()>& condition, uint32_t scaledMs = 3000) {
        uint32_t deadline = tickMs() + scaledMs;
        while (!condition()) {
            if (tickReached(deadline))
                return false;
            step();
        }
        return true;
    }
    // Connects a client and waits for the server's first modem-state notification.
    void open(PortClient& c) {
        ASSERT_TRUE(c.connect(server.port()));
        clients.push_back(&c);
        ASSERT_TRUE(until([&] { return c.notifications() > 0; }));
    }
    std::string lastReply(PortClient& c, int code) {
        for (auto it = c.replies().rbegin(); it != c.replies().rend(); ++it)
            if (it->first == code)
                return it->second;
        return "(none)";
    }
    std::size_t count(const std::string& event) const {
        std::size_t n = 0;
        for (const auto& e : events)
            n += e["event"] == event;
        return n;
    }

    EventLog log;
    RecordingDevice device;
    Rfc2217Server server;
    std::vector<nlohmann::json> events;
    std::vector<PortClient*> clients;
    PortClient client;
};

TEST_F(Rfc2217ServerTest, OffersBinaryAndSuppressGoAheadAndAsksForComPort) {
    open(client);
    std::vector<std::pair<int, int>> offered(client.negotiations().begin(),
                                             client.negotiations().begin() + 5);
    EXPECT_EQ(offered, (std::vector<std::pair<int, int>>{
                           {251, 0}, {253, 0}, {251, 3}, {253, 3}, {253, 44}}));
    // The client's answers to those offers are not answered again, and the client's own
    // WILL COM-PORT-OPTION needs no answer either (it was asked for).
    step();
    EXPECT_EQ(client.negotiations().size(), 5u);
    // An option the server does not do is refused.
    client.writeRaw("\xff\xfd\x01\xff\xfb\x18");
    ASSERT_TRUE(until([&] { return client.negotiations().size() == 7; }));
    EXPECT_EQ(client.negotiations()[5], (std::pair<int, int>{252, 1}));
    EXPECT_EQ(client.negotiations()[6], (std::pair<int, int>{254, 24}));
}

TEST_F(Rfc2217ServerTest, PortSettingsAreAnsweredWithTheValueInForce) {
    open(client);
    client.setBaudRate(115200);
    client.comPort(2, "\x07");
    client.comPort(3, "\x03");
    client.comPort(4, "\x02");
    ASSERT_TRUE(until([&] { return client.replies().size() >= 5; }));
    EXPECT_EQ(lastReply(client, 101), std::string("\x00\x01\xc2\x00", 4));
    EXPECT_EQ(lastReply(client, 102), "\x07");
    EXPECT_EQ(lastReply(client, 103), "\x03");
    EXPECT_EQ(lastReply(client, 104), "\x02");
    EXPECT_EQ(device.formats.back(), (LineFormat{115200, 7, Parity::Even, StopBits::Two}));
    // A request (0) and a refused value both answer with what is in force.
    client.setBaudRate(0);
    client.comPort(2, "\x09");
    ASSERT_TRUE(until([&] { return client.replies().size() >= 7; }));
    EXPECT_EQ(lastReply(client, 101), std::string("\x00\x01\xc2\x00", 4));
    EXPECT_EQ(lastReply(client, 102), "\x07");
    EXPECT_EQ(count("protocol-error"), 1u);
}

TEST_F(Rfc2217ServerTest, DtrFollowsTheClientAndDropsWhenItGoesAway) {
    open(client);
    EXPECT_EQ(device.dtr, std::vector<bool>{true}); // opening raises DTR
    client.setDtr(false);
    client.setControl(7);
    ASSERT_TRUE(until([&] { return client.replies().size() >= 3; }));
    EXPECT_EQ(device.dtr, (std::vector<bool>{true, false}));
    EXPECT_EQ(lastReply(client, 105), "\x09");
    client.setDtr(true);
    ASSERT_TRUE(until([&] { return device.dtr.size() == 3; }));
    client.close();
    ASSERT_TRUE(until([&] { return device.connections.size() == 2; }));
    EXPECT_EQ(device.dtr.back(), false);
    EXPECT_EQ(device.connections, (std::vector<bool>{true, false}));
    EXPECT_FALSE(server.clientConnected());
}

TEST_F(Rfc2217ServerTest, EveryChangeOfTheDeviceLinesIsNotifiedUnderTheMask) {
    open(client);
    EXPECT_EQ(client.modemState(), 0x10); // CTS
    device.drive({true, true, false, true});
    ASSERT_TRUE(until([&] { return client.notifications() == 2; }));
    EXPECT_EQ(client.modemState(), 0x10 | 0x20 | 0x80 | 0x02 | 0x08);
    client.setModemStateMask(0xF0);
    device.drive({true, true, true, true});
    ASSERT_TRUE(until([&] { return client.notifications() == 3; }));
    EXPECT_EQ(client.modemState(), 0xF0);
    device.drive({false, true, false, true});
    ASSERT_TRUE(until([&] { return client.notifications() == 4; }));
    EXPECT_EQ(client.modemState(), 0xA0);
    // Under a mask without CTS, a change of CTS alone is not told.
    client.setModemStateMask(0xE0);
    step();
    device.drive({true, true, false, true});
    for (int i = 0; i < 20; ++i)
        step();
    EXPECT_EQ(client.notifications(), 4);
    // A poll of the state is answered all the same.
    client.comPort(7, "");
    ASSERT_TRUE(until([&] { return client.notifications() == 5; }));
    EXPECT_EQ(client.modemState(), 0xA0);
}

TEST_F(Rfc2217ServerTest, IacIsDoubledBothWaysAndEveryByteValuePasses) {
    device.loopback = true;
    open(client);
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    client.write(bytes + bytes);
    ASSERT_TRUE(until([&] { return client.data().size() >= 512; }));
    EXPECT_EQ(device.received, bytes + bytes);
    EXPECT_EQ(client.take(), bytes + bytes);
}

TEST_F(Rfc2217ServerTest, PurgeEmptiesTheServersBuffers) {
    open(client);
    device.send(std::string(5000, 'x')); // more than the line carries at once
    client.purge(3);
    ASSERT_TRUE(until([&] { return lastReply(client, 112) == "\x03"; }));
    step();
    client.take();
    for (int i = 0; i < 20; ++i)
        step();
    EXPECT_EQ(client.data(), "");
    EXPECT_EQ(device.purges, std::vector<int>{3});
}

TEST_F(Rfc2217ServerTest, TheLineRunsAtTheBaudRate) {
    device.loopback = false;
    open(client);
    client.setBaudRate(1200); // 120 characters a second at 8N1
    ASSERT_TRUE(until([&] { return device.formats.back().baudRate == 1200; }));
    uint32_t start = tickMs();
    client.write(std::string(240, 'a'));
    ASSERT_TRUE(until([&] { return device.received.size() == 240; }, 10000));
    uint32_t elapsed = tickMs() - start;
    EXPECT_GE(elapsed, 1900u);
    EXPECT_LE(elapsed, 4000u);
}

TEST_F(Rfc2217ServerTest, HardwareFlowControlHoldsTheComputersBytesWhileCtsIsOff) {
    open(client);
    client.setControl(3);
    device.drive({false, false, false, false});
    ASSERT_TRUE(until([&] { return client.notifications() == 2; }));
    client.write("held");
    for (int i = 0; i < 50; ++i)
        step();
    EXPECT_EQ(device.received, "");
    device.drive({true, false, false, false});
    ASSERT_TRUE(until([&] { return device.received == "held"; }));
}

TEST_F(Rfc2217ServerTest, ASecondClientIsTurnedAway) {
    open(client);
    PortClient second;
    ASSERT_TRUE(second.connect(server.port()));
    clients.push_back(&second);
    ASSERT_TRUE(until([&] { return second.closedByServer(); }));
    EXPECT_EQ(count("port-refused"), 1u);
    device.loopback = true;
    client.write("still here");
    ASSERT_TRUE(until([&] { return client.data() == "still here"; }));
}

TEST_F(Rfc2217ServerTest, MalformedTelnetIsReportedAndDoesNotStopThePort) {
    open(client);
    device.loopback = true;
    client.writeRaw(std::string("\xff\xfa\x2c\x01") + std::string(200, '\x01') + "\xff\xf0");
    client.writeRaw("\xff\xfa\x18\x01\xff\xf0"); // subnegotiation of another option
    client.writeRaw("\xff\xfa\x2c\x63\xff\xf0"); // unknown command 99
    client.writeRaw(std::string("\xff\xfa\x2c\x01\x00\xff\xfb\x03", 8)); // not ended by IAC SE
    client.writeRaw("\xff\xf0");                                         // SE alone
    client.writeRaw("\xff\xfa\x2c\x05\xff\xf0"); // SET-CONTROL without its value
    client.write("ok");
    ASSERT_TRUE(until([&] { return client.data() == "ok"; }));
    EXPECT_EQ(count("protocol-error"), 6u);
    EXPECT_EQ(device.formats.back().baudRate, 9600u);
}

TEST_F(Rfc2217ServerTest, WithoutBinaryModeCarriageReturnNulIsACarriageReturn) {
    open(client);
    client.writeRaw(std::string("\xff\xfc\x00", 3)); // WONT BINARY
    client.writeRaw(std::string("a\r\0b\r\nc", 7));
    ASSERT_TRUE(until([&] { return device.received.size() >= 6; }));
    EXPECT_EQ(device.received, "a\rb\r\nc");
}

// pyserial's RFC 2217 client against the server, run by /usr/bin/python3.
class PyserialPeer : public Rfc2217ServerTest {
protected:
    PyserialPeer() : Rfc2217ServerTest(1.0) {}
};

TEST_F(PyserialPeer, BaudDtrLinesAndEveryByteValue) {
    device.loopback = true;
    device.lines = {true, true, false, true};
    device.drive(device.lines);
    vetlina::test::TempFolder folder;
    std::string script = std::string(VETLINA_SOURCE_DIR) + "/tests/unit/sim/rfc2217_peer.py";
    std::string url = "rfc2217://127.0.0.1:" + std::to_string(server.port());
    std::string output = folder.file("peer.out");
    std::string command = "exec /usr/bin/python3 " + script + " " + url + " > " + output + " 2>&1";
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = 0;
    bool exited = until(
        [&] {
            if (waitpid(pid, &status, WNOHANG) == pid)
                return true;
            // The peer checks RI while it rings: switch it on once the port is open.
            if (server.clientConnected() && !device.lines.ring && device.dtr.size() >= 3) {
                device.lines.ring = true;
                device.drive(device.lines);
            }
            return false;
        },
        30000);
    if (!exited) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    std::string report = readWholeFile(output).value_or("(no output)");
    ASSERT_TRUE(exited) << report;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
    EXPECT_EQ(device.formats.back().baudRate, 19200u);
    // pyserial raises DTR on open; the peer drops it and raises it again.
    ASSERT_GE(device.dtr.size(), 3u);
    EXPECT_EQ(std::vector<bool>(device.dtr.begin(), device.dtr.begin() + 3),
              (std::vector<bool>{true, false, true}));
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    EXPECT_EQ(device.received, bytes);
}

} // namespace
} // namespace vetlina::sim::test
