// The port operations of Device on an in-memory line: their results, their waits and
// their diagnostic lines.
#include "device/Device.h"

#include "IdleDevice.h"
#include "ScopedRun.h"
#include "TestUi.h"
#include "config/Configuration.h"
#include "device/MemoryPort.h"
#include "platform/Clock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using TestDevice = test::IdleDevice;

// A port whose every answer the test sets: for the failure paths MemoryPort cannot
// combine (a write that fails while the port reports a CTS hold).
class ScriptedPort : public SerialPort {
public:
    PortOpenResult openResult = PortOpenResult::Ok;
    long writeResult = -1;
    std::optional<bool> clearResult = false;
    bool open_ = false;
    int closes = 0;

    PortOpenResult open(const LineSettings&) override {
        open_ = openResult == PortOpenResult::Ok;
        return openResult;
    }
    void close() override {
        open_ = false;
        ++closes;
    }
    bool isOpen() const override { return open_; }
    bool setBaudRate(uint32_t) override { return true; }
    long read(uint8_t*, std::size_t) override { return 0; }
    long write(const uint8_t*, std::size_t, uint32_t) override { return writeResult; }
    bool purge() override { return true; }
    std::optional<bool> clearErrors() override { return clearResult; }
    bool setDtr(bool) override { return true; }
    std::optional<ModemLines> modemLines() override { return std::nullopt; }
    std::string lastError() const override { return "scripted"; }
};

using TraceSwitch = test::ScopedTrace;

class DeviceTest : public ::testing::Test {
protected:
    DeviceTest() {
        auto [a, b] = MemoryLine::makePair();
        near_ = a.get();
        far_ = std::move(b);
        portForDevice_ = std::move(a);
        far_->open(LineSettings{});
        setNowForTesting(*encodeDateTime({2024, 3, 1, 12, 5, 9, 0}));
    }
    ~DeviceTest() override { setTimeScaleForTesting(1.0); }

    // The device's factory hands out the near end of the line once.
    PortFactory memoryPorts() {
        return [this](int32_t number) -> std::unique_ptr<SerialPort> {
            requestedPort_ = number;
            return std::move(portForDevice_);
        };
    }

    test::TestUi ui_;
    MemoryPort* near_;
    std::unique_ptr<MemoryPort> far_;
    std::unique_ptr<MemoryPort> portForDevice_;
    int32_t requestedPort_ = 0;
};

TEST_F(DeviceTest, ClosedPortOperationsReturnAtOnceWithoutLineOrSleep) {
    TraceSwitch trace(true);
    TestDevice device(ui_.bridge, memoryPorts());
    uint8_t byte = 0;
    uint8_t buffer[8];
    uint32_t start = tickMs();
    // Each of these would cost 50 ms if it slept; forty calls would take two seconds.
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(device.getch(byte));
        EXPECT_EQ(device.gets(buffer, sizeof buffer), 0u);
    }
    EXPECT_FALSE(device.getch_wait(byte));
    EXPECT_FALSE(device.putch('A'));
    EXPECT_FALSE(device.puts("AT\r"));
    EXPECT_FALSE(device.carrier());
    EXPECT_FALSE(device.dsr());
    EXPECT_FALSE(device.cts());
    EXPECT_FALSE(device.dsr_or_cts_off());
    EXPECT_FALSE(device.ClearErrors());
    device.dtr(true);
    device.PurgePort();
    EXPECT_LT(tickMs() - start, 250u);
    EXPECT_THAT(ui_.protocolLines(), IsEmpty());
}

TEST_F(DeviceTest, GetchWaitOnSilentLineTakesAtLeast300Ms) {
    setTimeScaleForTesting(20.0);
    TestDevice device(ui_.bridge, memoryPorts());
    ASSERT_EQ(device.OpenPort(), PortOpenResult::Ok);
    uint8_t byte = 0;
    uint32_t start = tickMs();
    EXPECT_FALSE(device.getch_wait(byte));
    EXPECT_GE(tickMs() - start, Device::kByteWaitMs);
}

TEST_F(DeviceTest, GetchWaitReturnsAByteThatIsThere) {
    setTimeScaleForTesting(20.0);
    TestDevice device(ui_.bridge, memoryPorts());
    ASSERT_EQ(device.OpenPort(), PortOpenResult::Ok);
    uint8_t x = 'x';
    far_->write(&x, 1, 0);
    uint8_t byte = 0;
    EXPECT_TRUE(device.getch_wait(byte));
    EXPECT_EQ(byte, 'x');
}

TEST_F(DeviceTest, OpenPortSetsOpeningSpeedRaisesDtrAndPurges) {
    setTimeScaleForTesting(20.0);
    TestDevice device(ui_.bridge, memoryPorts());
    device.portNumber = 2;
    EXPECT_EQ(device.OpenPort(), PortOpenResult::Ok);
    EXPECT_EQ(requestedPort_, 2);
    EXPECT_TRUE(device.portOpen());
    EXPECT_EQ(near_->baudRate(), 9600u);
    EXPECT_TRUE(near_->dtr());
    EXPECT_GE(near_->purgeCount(), 1);
    device.ClosePort();
    EXPECT_FALSE(device.portOpen());
}

TEST_F(DeviceTest, OpenPortReportsThePortsFailures) {
    near_->failOpen(PortOpenResult::SystemError);
    TestDevice device(ui_.bridge, memoryPorts());
    EXPECT_EQ(device.OpenPort(), PortOpenResult::SystemError);
    EXPECT_FALSE(device.portOpen());

    TestDevice noPort(ui_.bridge, [](int32_t) { return std::unique_ptr<SerialPort>(); });
    EXPECT_EQ(noPort.OpenPort(), PortOpenResult::CannotOpen);
    TestDevice noFactory(ui_.bridge, nullptr);
    EXPECT_EQ(noFactory.OpenPort(), PortOpenResult::CannotOpen);
}

TEST_F(DeviceTest, BytesPassBothWays) {
    setTimeScaleForTesting(20.0);
    TestDevice device(ui_.bridge, memoryPorts());
    ASSERT_EQ(device.OpenPort(), PortOpenResult::Ok);
    EXPECT_TRUE(device.putch(0xFF));
    EXPECT_TRUE(device.puts("AT\r"));
    uint8_t got[8] = {};
    ASSERT_EQ(far_->read(got, sizeof got), 4);
    EXPECT_EQ(got[0], 0xFF);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got + 1), 3), "AT\r");

    const uint8_t reply[] = {'0', '\r', 0};
    far_->write(reply, sizeof reply, 0);
    uint8_t buffer[2];
    EXPECT_EQ(device.gets(buffer, sizeof buffer), 2u);
    EXPECT_EQ(buffer[0], '0');
    uint8_t byte = 1;
    EXPECT_TRUE(device.getch(byte));
    EXPECT_EQ(byte, 0);
}

TEST_F(DeviceTest, LinesTellCarrierAsCdOrDsr) {
    TestDevice device(ui_.bridge, memoryPorts());
    ASSERT_EQ(device.OpenPort(), PortOpenResult::Ok);
    near_->setLines({.cts = true, .dsr = false, .ring = false, .carrier = false});
    EXPECT_FALSE(device.carrier());
    EXPECT_TRUE(device.cts());
    EXPECT_FALSE(device.dsr());
    EXPECT_TRUE(device.dsr_or_cts_off());
    near_->setLines({.cts = true, .dsr = true, .ring = false, .carrier = false});
    EXPECT_TRUE(device.carrier());
    EXPECT_FALSE(device.dsr_or_cts_off());
    near_->setLines({.cts = false, .dsr = false, .ring = false, .carrier = true});
    EXPECT_TRUE(device.carrier());
    EXPECT_TRUE(device.dsr_or_cts_off());
    device.dtr(false);
    EXPECT_FALSE(near_->dtr());
}

TEST_F(DeviceTest, FailuresWriteTheirTraceLinesOnlyWithTheSwitch) {
    setTimeScaleForTesting(20.0);
    TestDevice device(ui_.bridge, memoryPorts());
    ASSERT_EQ(device.OpenPort(), PortOpenResult::Ok);
    near_->failIo(true);
    uint8_t byte;
    uint8_t buffer[4];
    {
        TraceSwitch trace(false);
        EXPECT_FALSE(device.putch('A'));
        EXPECT_FALSE(device.getch(byte));
        EXPECT_FALSE(device.carrier());
        EXPECT_THAT(ui_.protocolLines(), IsEmpty());
    }
    TraceSwitch trace(true);
    EXPECT_FALSE(device.putch('A'));
    EXPECT_FALSE(device.puts("AT"));
    EXPECT_FALSE(device.getch(byte));
    EXPECT_EQ(device.gets(buffer, sizeof buffer), 0u);
    device.dtr(true);
    EXPECT_FALSE(device.carrier());
    EXPECT_FALSE(device.dsr());
    EXPECT_FALSE(device.cts());
    EXPECT_FALSE(device.dsr_or_cts_off());
    EXPECT_THAT(ui_.protocolLines(),
                ElementsAre("12:05:09  -putch error", "12:05:09  -puts error",
                            "12:05:09  -getch error", "12:05:09  -gets error",
                            "12:05:09  -dtr() error", "12:05:09  -carrier() error",
                            "12:05:09  -dsr() error", "12:05:09  -cts() error",
                            "12:05:09  -dsr_or_cts_off() error"));
}

TEST_F(DeviceTest, HeldOutputTimesOutWithoutALine) {
    setTimeScaleForTesting(50.0);
    TraceSwitch trace(true);
    TestDevice device(ui_.bridge, memoryPorts());
    ASSERT_EQ(device.OpenPort(), PortOpenResult::Ok);
    near_->holdOutput(true);
    uint32_t start = tickMs();
    EXPECT_FALSE(device.putch('A'));
    EXPECT_GE(tickMs() - start, Device::kWriteTimeoutMs);
    EXPECT_FALSE(device.puts("AT"));
    EXPECT_THAT(ui_.protocolLines(), IsEmpty());
}

TEST_F(DeviceTest, FailedWriteDuringCtsHoldSaysCtsHold) {
    TraceSwitch trace(true);
    auto scripted = std::make_unique<ScriptedPort>();
    ScriptedPort* port = scripted.get();
    TestDevice device(ui_.bridge, [&](int32_t) { return std::move(scripted); });
    setTimeScaleForTesting(20.0);
    ASSERT_EQ(device.OpenPort(), PortOpenResult::Ok);
    port->clearResult = true;
    EXPECT_FALSE(device.putch('A'));
    EXPECT_FALSE(device.puts("AT"));
    // A partial write (the time ran out) is no failure of the port.
    port->writeResult = 1;
    EXPECT_FALSE(device.puts("AT"));
    EXPECT_THAT(ui_.protocolLines(), ElementsAre("12:05:09  -cts hold", "12:05:09  -cts hold"));
}

TEST_F(DeviceTest, FailedOpenReleasesThePort) {
    auto scripted = std::make_unique<ScriptedPort>();
    ScriptedPort* port = scripted.get();
    port->openResult = PortOpenResult::SystemError;
    TestDevice device(ui_.bridge, [&](int32_t) { return std::move(scripted); });
    EXPECT_EQ(device.OpenPort(), PortOpenResult::SystemError);
    // The factory's port is gone with the failed open; a second open asks for a new one.
    EXPECT_EQ(device.OpenPort(), PortOpenResult::CannotOpen);
    (void)port;
}

TEST_F(DeviceTest, SetCommandAfterStopStaysStopped) {
    TestDevice device(ui_.bridge, nullptr);
    EXPECT_EQ(device.command(), 0);
    EXPECT_TRUE(device.SetCommand(20));
    EXPECT_EQ(device.command(), 20);
    EXPECT_TRUE(device.SetCommand(Device::kStopCommand));
    EXPECT_FALSE(device.SetCommand(4));
    EXPECT_FALSE(device.SetCommand(Device::kStopCommand));
    EXPECT_EQ(device.command(), Device::kStopCommand);
}

TEST_F(DeviceTest, HandOffsOnTheMainThreadUpdateTheModelsAtOnce) {
    TestDevice device(ui_.bridge, nullptr);
    device.SetStateText("state");
    device.SetResultsCaption("caption");
    device.SetShowCaption("show");
    device.progressBar = ShowKind::Mtts;
    device.progress = 42;
    device.ShowProgress();
    device.ShowCounter(RunCounter::MdmSendErr, 3);
    ui_.models.statistics.lines = {"x"};
    device.ResetStatistics();
    EXPECT_EQ(ui_.models.run.stateLabel, "state");
    EXPECT_EQ(ui_.models.results.caption, "caption");
    EXPECT_EQ(ui_.models.show.caption, "show");
    EXPECT_EQ(ui_.models.show.kind(ShowKind::Mtts).progress, 42);
    EXPECT_EQ(ui_.models.run.counterText(RunCounter::MdmSendErr), "3");
    EXPECT_EQ(toUtf8(ui_.models.statistics.caption), "Статистика");
    EXPECT_THAT(ui_.models.statistics.lines, IsEmpty());
}

} // namespace
} // namespace vetlina
