// Rfc2217Port against servers that misbehave: silence, refusals, garbage,
// endless subnegotiations, floods, a server that stops reading or suspends us.
// None of it may crash the port, hang it or make it hold memory without bound.
#include "PeerProcess.h"
#include "ScriptedServer.h"
#include "device/Rfc2217Port.h"
#include "platform/Clock.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <random>

namespace vetlina {
namespace {

using namespace rfc2217;
using test::fromHex;
using test::ScriptedServer;

// The most the port may hold at any moment.
constexpr std::size_t kHoldBound =
    Rfc2217Port::kInputLimit + Rfc2217Port::kCommandLimit + TelnetDecoder::kMaxSubnegotiation;

class Rfc2217Robustness : public ::testing::Test {
protected:
    void TearDown() override { setTimeScaleForTesting(1.0); }

    // Works the port (reads, lines, small writes) until it fails or the time is
    // up, checking its memory on every pass; returns what was read.
    std::string workUntilFailure(Rfc2217Port& port, uint32_t clockMs) {
        std::string got;
        uint32_t deadline = tickMs() + clockMs;
        while (!tickReached(deadline)) {
            uint8_t buffer[1024];
            long n = port.read(buffer, sizeof buffer);
            EXPECT_LE(port.heldBytes(), kHoldBound);
            if (n < 0)
                return got;
            got.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
            port.modemLines();
            port.clearErrors();
            if (n == 0)
                sleepMs(2);
        }
        ADD_FAILURE() << "the port did not notice the end of the connection";
        return got;
    }
};

TEST_F(Rfc2217Robustness, AServerThatNeverAgreesToComPortOptionCannotBeOpened) {
    ScriptedServer server([](ScriptedServer::Connection& c) { c.idleUntilStopped(); });
    setTimeScaleForTesting(25.0);
    Rfc2217Port port(server.address());
    uint32_t start = tickMs();
    EXPECT_EQ(port.open(LineSettings{9600}), PortOpenResult::CannotOpen);
    EXPECT_GE(tickMs() - start, Rfc2217Port::kOpenTimeoutMs);
    EXPECT_FALSE(port.isOpen());
    EXPECT_NE(port.lastError().find("COM-PORT-OPTION"), std::string::npos) << port.lastError();
}

TEST_F(Rfc2217Robustness, AServerRefusingComPortOptionIsNotWaitedOut) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.receive(50);
        c.send(optionCommand(DONT, OptionComPort) + optionCommand(WONT, OptionComPort));
        c.idleUntilStopped();
    });
    Rfc2217Port port(server.address());
    uint32_t start = tickMs();
    EXPECT_EQ(port.open(LineSettings{9600}), PortOpenResult::CannotOpen);
    EXPECT_LT(tickMs() - start, Rfc2217Port::kOpenTimeoutMs);
    EXPECT_NE(port.lastError().find("refused"), std::string::npos) << port.lastError();
}

TEST_F(Rfc2217Robustness, AServerThatOnlyAgreesIsTakenAtItsWord) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.send(optionCommand(DO, OptionComPort));
        c.drainUntilClosed();
    });
    setTimeScaleForTesting(25.0);
    Rfc2217Port port(server.address());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    auto lines = port.modemLines();
    ASSERT_TRUE(lines);
    EXPECT_FALSE(lines->cts || lines->dsr || lines->carrier || lines->ring);
    EXPECT_TRUE(port.setBaudRate(115200)); // no answer within its time: applied as asked
    const uint8_t data[] = {'x'};
    EXPECT_EQ(port.write(data, 1, 600), 1);
}

TEST_F(Rfc2217Robustness, AServerSettingAnotherBaudRateFailsTheOpen) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.send(test::agreeingServerGreeting(4800));
        c.drainUntilClosed();
    });
    Rfc2217Port port(server.address());
    EXPECT_EQ(port.open(LineSettings{115200}), PortOpenResult::SystemError);
    EXPECT_FALSE(port.isOpen());
    EXPECT_NE(port.lastError().find("4800"), std::string::npos) << port.lastError();
}

TEST_F(Rfc2217Robustness, RandomBytesFromTheServerAreSurvived) {
    for (unsigned seed : {1u, 2u, 3u}) {
        ScriptedServer server([seed](ScriptedServer::Connection& c) {
            std::mt19937 random(seed);
            std::string garbage(1 << 20, '\0');
            for (auto& byte : garbage)
                byte = static_cast<char>(random());
            c.send(test::agreeingServerGreeting());
            c.receive(200); // the line settings: the open completes in order
            c.send(garbage);
            c.receive(300);
        });
        Rfc2217Port port(server.address());
        ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
        workUntilFailure(port, 20000);
        EXPECT_FALSE(port.modemLines()->dsr);
    }
}

TEST_F(Rfc2217Robustness, ASubnegotiationCutOffByTheCloseIsSurvived) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.send(test::agreeingServerGreeting());
        c.receive(200); // the line settings, so that the close is orderly
        c.send("data" + fromHex("fffa2c6b"));
    });
    Rfc2217Port port(server.address());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    EXPECT_EQ(workUntilFailure(port, 5000), "data");
    auto lines = port.modemLines();
    ASSERT_TRUE(lines);
    EXPECT_FALSE(lines->cts || lines->dsr);
}

TEST_F(Rfc2217Robustness, AnEndlessSubnegotiationIsDroppedWithBoundedMemory) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        // Lines 0x30 first; then a notification of all lines that never ends.
        c.send(test::agreeingServerGreeting(9600, 0x30) + fromHex("fffa2c6bf0") +
               std::string(2 << 20, 'x') + fromHex("fff0") + "OK");
        c.drainUntilClosed();
    });
    Rfc2217Port port(server.address());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    std::string got;
    uint32_t deadline = tickMs() + 20000;
    while (got.size() < 2 && !tickReached(deadline)) {
        uint8_t buffer[64];
        long n = port.read(buffer, sizeof buffer);
        ASSERT_GE(n, 0) << port.lastError();
        ASSERT_LE(port.heldBytes(), kHoldBound);
        got.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, "OK");
    auto lines = port.modemLines();
    ASSERT_TRUE(lines);
    EXPECT_TRUE(lines->cts && lines->dsr);
    EXPECT_FALSE(lines->carrier || lines->ring); // the overlong notification was not taken
}

TEST_F(Rfc2217Robustness, RepliesToAServerThatAsksWithoutReadingStayBounded) {
    std::atomic<bool> flooded{false};
    ScriptedServer server(
        [&flooded](ScriptedServer::Connection& c) {
            std::string flood;
            for (int i = 0; i < 200000; ++i)
                flood += optionCommand(WILL, 5); // refused each time with DONT 5
            c.send(test::agreeingServerGreeting() + flood);
            flooded.store(true);
            c.idleUntilStopped();
        },
        4096);
    Rfc2217Port port(server.address());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    uint32_t deadline = tickMs() + 20000;
    while (!flooded.load() && !tickReached(deadline)) {
        port.modemLines();
        ASSERT_LE(port.heldBytes(), Rfc2217Port::kCommandLimit);
    }
    ASSERT_TRUE(flooded.load());
    for (int i = 0; i < 20; ++i)
        port.modemLines();
    EXPECT_LE(port.heldBytes(), Rfc2217Port::kCommandLimit);
}

TEST_F(Rfc2217Robustness, AWriteToAServerThatDoesNotReadEndsInItsTime) {
    ScriptedServer server(
        [](ScriptedServer::Connection& c) {
            c.send(test::agreeingServerGreeting());
            c.idleUntilStopped();
        },
        4096);
    Rfc2217Port port(server.address());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    std::string big(8 << 20, 'a');
    uint32_t start = tickMs();
    long n = port.write(reinterpret_cast<const uint8_t*>(big.data()), big.size(), 300);
    uint32_t took = tickMs() - start;
    EXPECT_GE(n, 0);
    EXPECT_LT(static_cast<std::size_t>(n), big.size());
    EXPECT_GE(took, 300u);
    EXPECT_LT(took, 5000u);
    EXPECT_LE(port.heldBytes(), Rfc2217Port::kOutputLimit + 1);
}

TEST_F(Rfc2217Robustness, OutputWaitsWhileTheServerSuspendsIt) {
    std::mutex mutex;
    std::string whileSuspended, afterResume;
    std::atomic<bool> reported{false};
    ScriptedServer server([&](ScriptedServer::Connection& c) {
        c.send(test::agreeingServerGreeting() + comPortCommand(kServerOffset + FlowControlSuspend));
        std::string held = c.receive(600);
        c.send(comPortCommand(kServerOffset + FlowControlResume));
        std::string resumed = c.receive(1000);
        {
            std::lock_guard lock(mutex);
            whileSuspended = held;
            afterResume = resumed;
        }
        reported.store(true);
        c.drainUntilClosed();
    });
    Rfc2217Port port(server.address());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    uint32_t deadline = tickMs() + 5000;
    while (port.clearErrors() != true && !tickReached(deadline))
        sleepMs(5);
    EXPECT_EQ(port.clearErrors(), true); // held, although CTS is on
    const uint8_t data[] = {'a', 'b', 'c'};
    EXPECT_EQ(port.write(data, 3, 100), 3); // queued, as a driver queues while CTS is off
    deadline = tickMs() + 10000;
    while (!reported.load() && !tickReached(deadline)) {
        uint8_t buffer[16];
        port.read(buffer, sizeof buffer);
        sleepMs(5);
    }
    ASSERT_TRUE(reported.load());
    std::lock_guard lock(mutex);
    EXPECT_EQ(whileSuspended.find("abc"), std::string::npos);
    EXPECT_NE(afterResume.find("abc"), std::string::npos);
    EXPECT_NE(afterResume.find(fromHex("fffa2c0100002580fff0")), std::string::npos)
        << "the line settings waited for the resume too";
    EXPECT_EQ(port.clearErrors(), false);
}

TEST_F(Rfc2217Robustness, DataNotReadIsLostBeyondTheLimitButTheLinesStayCurrent) {
    std::string flood(Rfc2217Port::kInputLimit * 3, '\0');
    for (std::size_t i = 0; i < flood.size(); ++i)
        flood[i] = static_cast<char>('a' + i % 26);
    ScriptedServer server([&flood](ScriptedServer::Connection& c) {
        c.send(test::agreeingServerGreeting(9600, 0x30) + flood +
               comPortCommand(kServerOffset + NotifyModemState, 0xB0));
        c.drainUntilClosed();
    });
    Rfc2217Port port(server.address());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    uint32_t deadline = tickMs() + 10000;
    while (!port.modemLines()->carrier && !tickReached(deadline))
        ASSERT_LE(port.heldBytes(), kHoldBound);
    EXPECT_TRUE(port.modemLines()->carrier);
    EXPECT_EQ(port.overrunBytes(), flood.size() - Rfc2217Port::kInputLimit);
    std::string kept(Rfc2217Port::kInputLimit, '\0');
    EXPECT_EQ(port.read(reinterpret_cast<uint8_t*>(kept.data()), kept.size()),
              static_cast<long>(kept.size()));
    EXPECT_EQ(kept, flood.substr(0, kept.size())); // the oldest bytes, in order
}

} // namespace
} // namespace vetlina
