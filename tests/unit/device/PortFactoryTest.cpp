#include "device/PortFactory.h"

#include "ScriptedServer.h"
#include "device/Rfc2217Port.h"
#include "device/TtyPort.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

TEST(PortFactory, Rfc2217NamesMakeDeviceServerPortsAndPathsMakeTtyPorts) {
    auto tty = makeSerialPort("/dev/ttyUSB0");
    ASSERT_NE(dynamic_cast<TtyPort*>(tty.get()), nullptr);
    EXPECT_EQ(dynamic_cast<TtyPort*>(tty.get())->path(), "/dev/ttyUSB0");
    EXPECT_NE(dynamic_cast<Rfc2217Port*>(makeSerialPort("rfc2217://10.0.0.7:4001").get()), nullptr);
    // The scheme is matched exactly, as the port name contract writes it.
    EXPECT_NE(dynamic_cast<TtyPort*>(makeSerialPort("RFC2217://host:1").get()), nullptr);
}

TEST(PortFactory, AnRfc2217PortOpensThroughTheFactory) {
    test::ScriptedServer server([](test::ScriptedServer::Connection& c) {
        c.send(test::agreeingServerGreeting());
        c.drainUntilClosed();
    });
    auto port = makeSerialPort("rfc2217://" + server.address());
    EXPECT_EQ(port->open(LineSettings{9600}), PortOpenResult::Ok) << port->lastError();
}

TEST(PortFactory, MalformedRfc2217AddressesCannotBeOpened) {
    for (const char* name :
         {"rfc2217://", "rfc2217://host", "rfc2217://host:", "rfc2217://:4001", "rfc2217://host:0",
          "rfc2217://host:65536", "rfc2217://host:40x1", "rfc2217://host:4001?logging=debug",
          "rfc2217://ho st:4001", "rfc2217://[::1]4001", "rfc2217://[]:4001", "rfc2217://h:1:2"}) {
        auto port = makeSerialPort(name);
        EXPECT_EQ(port->open(LineSettings{9600}), PortOpenResult::CannotOpen) << name;
        EXPECT_NE(port->lastError().find("malformed"), std::string::npos) << name;
        EXPECT_FALSE(port->isOpen());
    }
}

TEST(PortFactory, WellFormedRfc2217Addresses) {
    auto plain = parseRfc2217Address("serial-server.local:4001");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, "serial-server.local");
    EXPECT_EQ(plain->port, "4001");
    auto v6 = parseRfc2217Address("[fe80::1%eth0]:65535");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "fe80::1%eth0");
    EXPECT_EQ(v6->port, "65535");
    EXPECT_EQ(parseRfc2217Address("127.0.0.1:00023")->port, "23");
}

} // namespace
} // namespace vetlina
