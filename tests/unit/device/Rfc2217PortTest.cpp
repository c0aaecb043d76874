// Rfc2217Port against a server this project did not write: pyserial's RFC 2217
// server in front of a fake serial port (rfc2217_peer.py), which reports what it
// saw as JSON lines.
#include "device/Rfc2217Port.h"

#include "PeerProcess.h"
#include "ScriptedServer.h"
#include "platform/Clock.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace vetlina {
namespace {

using nlohmann::json;
using test::toHex;

std::function<bool(const json&)> isEvent(const std::string& name, const json& value) {
    return [=](const json& e) { return e.value("event", "") == name && e["value"] == value; };
}

std::function<bool(const json&)> isSubnegotiation(const std::string& hex) {
    return [=](const json& e) {
        return e.value("event", "") == "subnegotiation" && e.value("hex", "") == hex;
    };
}

// Polls the port's lines until they are as wanted or 5 s of the clock have passed.
bool linesBecome(SerialPort& port, const std::function<bool(const ModemLines&)>& wanted) {
    uint32_t deadline = tickMs() + 5000;
    while (!tickReached(deadline)) {
        auto lines = port.modemLines();
        if (lines && wanted(*lines))
            return true;
        sleepMs(10);
    }
    return false;
}

// Reads until count bytes have come, the port fails, or 5 s have passed.
std::string readBytes(SerialPort& port, std::size_t count) {
    std::string got;
    uint32_t deadline = tickMs() + 5000;
    while (got.size() < count && !tickReached(deadline)) {
        uint8_t buffer[512];
        long n = port.read(buffer, sizeof buffer);
        if (n < 0)
            break;
        got.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        if (n == 0)
            sleepMs(5);
    }
    return got;
}

class Rfc2217PortWithPyserial : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(peer.port, 0) << "the RFC 2217 server script did not start "
                                   "(needs /usr/bin/python3 with python3-serial)";
        port = std::make_unique<Rfc2217Port>(peer.address());
        ASSERT_EQ(port->open(LineSettings{9600}), PortOpenResult::Ok) << port->lastError();
        ASSERT_TRUE(peer.process.waitForEvent("connected"));
    }

    test::Rfc2217Peer peer;
    std::unique_ptr<Rfc2217Port> port;
};

TEST_F(Rfc2217PortWithPyserial, OpenSetsTheLineUpAndRaisesDtr) {
    auto& server = peer.process;
    EXPECT_TRUE(server.waitFor(isEvent("baudrate", 9600)));
    EXPECT_TRUE(server.waitFor(isEvent("bytesize", 8)));
    EXPECT_TRUE(server.waitFor(isEvent("parity", "N")));
    EXPECT_TRUE(server.waitFor(isEvent("stopbits", 1)));
    EXPECT_TRUE(server.waitFor(isEvent("rtscts", true)));
    EXPECT_TRUE(server.waitFor(isEvent("dtr", true)));
    EXPECT_TRUE(server.waitFor(isSubnegotiation("2c0bf0"))); // SET-MODEMSTATE-MASK 0xF0
}

TEST_F(Rfc2217PortWithPyserial, BaudRateChangesReachTheServer) {
    ASSERT_TRUE(peer.process.waitFor(isEvent("baudrate", 9600)));
    EXPECT_TRUE(port->setBaudRate(115200)) << port->lastError();
    EXPECT_TRUE(peer.process.waitFor(isEvent("baudrate", 115200)));
    EXPECT_TRUE(port->setBaudRate(38400)) << port->lastError();
    EXPECT_TRUE(peer.process.waitFor(isEvent("baudrate", 38400)));
}

TEST_F(Rfc2217PortWithPyserial, DtrOffAndOnReachTheServer) {
    ASSERT_TRUE(peer.process.waitFor(isEvent("dtr", true)));
    EXPECT_TRUE(port->setDtr(false));
    EXPECT_TRUE(peer.process.waitFor(isEvent("dtr", false)));
    EXPECT_TRUE(port->setDtr(true));
    EXPECT_TRUE(peer.process.waitFor(isEvent("dtr", true)));
}

TEST_F(Rfc2217PortWithPyserial, LineChangesOfTheServersPortAreSeen) {
    peer.process.send({{"cmd", "lines"}, {"cts", 1}, {"dsr", 1}});
    EXPECT_TRUE(
        linesBecome(*port, [](auto& l) { return l.cts && l.dsr && !l.carrier && !l.ring; }));
    EXPECT_EQ(port->clearErrors(), false);

    peer.process.send({{"cmd", "lines"}, {"cts", 1}, {"dsr", 1}, {"cd", 1}});
    EXPECT_TRUE(linesBecome(*port, [](auto& l) { return l.cts && l.dsr && l.carrier; }));

    peer.process.send({{"cmd", "lines"}, {"dsr", 1}, {"ri", 1}});
    EXPECT_TRUE(
        linesBecome(*port, [](auto& l) { return !l.cts && l.dsr && l.ring && !l.carrier; }));
    // CTS off with hardware flow control: the server's port holds our output.
    EXPECT_EQ(port->clearErrors(), true);

    // All four off: the server does not notify this under the mask 0xF0 by
    // itself; the port's own request for the state brings it.
    peer.process.send({{"cmd", "lines"}});
    EXPECT_TRUE(
        linesBecome(*port, [](auto& l) { return !l.cts && !l.dsr && !l.ring && !l.carrier; }));
}

TEST_F(Rfc2217PortWithPyserial, EveryByteValuePassesUnchangedBothWays) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    std::string payload = all + "\xff\xff\r\r\xff\n" + all;

    long written =
        port->write(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(), 600);
    EXPECT_EQ(written, static_cast<long>(payload.size()));
    EXPECT_EQ(toHex(peer.process.collectData(payload.size())), toHex(payload));

    peer.process.send({{"cmd", "send"}, {"hex", toHex(payload)}});
    EXPECT_EQ(toHex(readBytes(*port, payload.size())), toHex(payload));
}

TEST_F(Rfc2217PortWithPyserial, PurgeReachesTheServerAndDiscardsWhatCame) {
    peer.process.send({{"cmd", "send"}, {"hex", toHex("stale reply")}});
    ASSERT_TRUE(peer.process.waitForEvent("done"));
    uint32_t deadline = tickMs() + 5000;
    while (port->heldBytes() < 11 && !tickReached(deadline)) {
        port->modemLines(); // takes in what the socket holds
        sleepMs(5);
    }
    ASSERT_GE(port->heldBytes(), 11u);

    EXPECT_TRUE(port->purge());
    EXPECT_TRUE(peer.process.waitFor(isSubnegotiation("2c0c03"))); // PURGE-DATA both
    EXPECT_TRUE(peer.process.waitForEvent("purge"));
    uint8_t byte;
    EXPECT_EQ(port->read(&byte, 1), 0);

    peer.process.send({{"cmd", "send"}, {"hex", toHex("fresh")}});
    EXPECT_EQ(readBytes(*port, 5), "fresh");
}

TEST_F(Rfc2217PortWithPyserial, ServerClosingTheConnectionFailsReadsAndWritesAndDropsTheLines) {
    peer.process.send({{"cmd", "lines"}, {"cts", 1}, {"dsr", 1}, {"cd", 1}});
    ASSERT_TRUE(linesBecome(*port, [](auto& l) { return l.carrier; }));
    peer.process.send({{"cmd", "send"}, {"hex", toHex("last words")}});
    peer.process.send({{"cmd", "close"}});
    ASSERT_TRUE(peer.process.waitFor([](const json& e) {
        return e.value("event", "") == "done" && e.value("cmd", "") == "close";
    }));

    // What came before the close is still delivered, then reads fail.
    EXPECT_EQ(readBytes(*port, 10), "last words");
    uint8_t buffer[16];
    uint32_t deadline = tickMs() + 5000;
    long n = 0;
    while ((n = port->read(buffer, sizeof buffer)) == 0 && !tickReached(deadline))
        sleepMs(5);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(port->write(buffer, 4, 600), -1);
    auto lines = port->modemLines();
    ASSERT_TRUE(lines);
    EXPECT_FALSE(lines->cts || lines->dsr || lines->carrier || lines->ring);
    EXPECT_FALSE(port->clearErrors());
    EXPECT_FALSE(port->setDtr(true));
    EXPECT_FALSE(port->setBaudRate(9600));
    EXPECT_FALSE(port->lastError().empty());

    // A new open starts afresh.
    port->close();
    EXPECT_EQ(port->open(LineSettings{9600}), PortOpenResult::Ok) << port->lastError();
    EXPECT_TRUE(peer.process.waitForEvent("connected"));
}

TEST(Rfc2217PortOpen, TheLinesAreKnownAsSoonAsTheOpenReturns) {
    // The analyzer's start-up looks at DSR and CTS right after opening.
    test::Rfc2217Peer peer;
    ASSERT_GT(peer.port, 0);
    peer.process.send({{"cmd", "lines"}, {"cts", 1}, {"dsr", 1}});
    ASSERT_TRUE(peer.process.waitForEvent("done"));
    Rfc2217Port port(peer.address());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    auto lines = port.modemLines();
    ASSERT_TRUE(lines);
    EXPECT_TRUE(lines->cts);
    EXPECT_TRUE(lines->dsr);
    EXPECT_FALSE(lines->carrier);
}

TEST(Rfc2217PortOpen, ARefusedConnectionCannotBeOpened) {
    Rfc2217Port port("127.0.0.1:" + std::to_string(test::closedPort()));
    EXPECT_EQ(port.open(LineSettings{9600}), PortOpenResult::CannotOpen);
    EXPECT_FALSE(port.isOpen());
    EXPECT_NE(port.lastError().find("refused"), std::string::npos) << port.lastError();
}

TEST(Rfc2217PortOpen, AClosedPortDoesNothing) {
    Rfc2217Port port("127.0.0.1:1");
    uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1), -1);
    EXPECT_EQ(port.write(&byte, 1, 600), -1);
    EXPECT_FALSE(port.purge());
    EXPECT_FALSE(port.setDtr(true));
    EXPECT_FALSE(port.setBaudRate(9600));
    EXPECT_FALSE(port.modemLines());
    EXPECT_FALSE(port.clearErrors());
}

} // namespace
} // namespace vetlina
