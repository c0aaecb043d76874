// TtyPort on a pseudo-terminal: the test holds the master (the far end of the
// line) and the slave stays open in the test too, so its settings can be read.
// A pseudo-terminal has no modem-control lines; what needs them runs only on a
// real port named by VETLINA_TEST_TTY, with a loopback plug.
#include "device/TtyPort.h"

#include "platform/Clock.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vetlina {
namespace {

class PseudoTerminal {
public:
    PseudoTerminal() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            path_ = name;
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PseudoTerminal() {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
    }
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    void closeMaster() {
        ::close(master_);
        master_ = -1;
    }
    int slave() const { return slave_; }

    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the port sent, once count bytes have come or waitMs have passed.
    std::string receive(std::size_t count, int waitMs = 5000) const {
        std::string got;
        for (int i = 0; i < waitMs / 10 && got.size() < count; ++i) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            char buffer[4096];
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    // Waits until the slave's input queue holds count bytes.
    bool inputQueued(int count) const {
        for (int i = 0; i < 500; ++i) {
            int queued = 0;
            if (::ioctl(slave_, FIONREAD, &queued) == 0 && queued >= count)
                return true;
            ::usleep(10000);
        }
        return false;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

class TtyPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(pty.path().empty()) << "no pseudo-terminal"; }
    void TearDown() override { setTimeScaleForTesting(1.0); }
    PseudoTerminal pty;
};

std::string allByteValues() {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    return all;
}

std::string readAll(TtyPort& port, std::size_t count) {
    std::string got;
    uint32_t deadline = tickMs() + 5000;
    while (got.size() < count && !tickReached(deadline)) {
        uint8_t buffer[512];
        long n = port.read(buffer, sizeof buffer);
        if (n < 0)
            break;
        got.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        if (n == 0)
            sleepMs(2);
    }
    return got;
}

TEST_F(TtyPortTest, OpenSetsARawLineWithCtsFlowControlAndTheBaudRate) {
    TtyPort port(pty.path());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    EXPECT_TRUE(port.setBaudRate(115200)) << port.lastError();
    ASSERT_EQ(::tcgetattr(pty.slave(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), B115200);
    EXPECT_EQ(::cfgetispeed(&tio), B115200);
}

TEST_F(TtyPortTest, ABaudRateTermiosCannotSetIsASystemError) {
    TtyPort port(pty.path());
    EXPECT_EQ(port.open(LineSettings{12345}), PortOpenResult::SystemError);
    EXPECT_FALSE(port.isOpen());
    EXPECT_NE(port.lastError().find("12345"), std::string::npos);
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok);
    EXPECT_FALSE(port.setBaudRate(12345));
    EXPECT_TRUE(port.setBaudRate(57600));
}

TEST_F(TtyPortTest, ASecondOpenOfTheSameDeviceFails) {
    TtyPort first(pty.path());
    TtyPort second(pty.path());
    ASSERT_EQ(first.open(LineSettings{9600}), PortOpenResult::Ok) << first.lastError();
    EXPECT_EQ(second.open(LineSettings{9600}), PortOpenResult::CannotOpen);
    EXPECT_NE(second.lastError().find("in use"), std::string::npos) << second.lastError();
    EXPECT_EQ(first.open(LineSettings{9600}), PortOpenResult::CannotOpen); // already open
    first.close();
    EXPECT_EQ(second.open(LineSettings{9600}), PortOpenResult::Ok) << second.lastError();
}

TEST_F(TtyPortTest, MissingOrUnsuitableDevices) {
    TtyPort missing("/dev/ttyVetlinaNoSuchPort");
    EXPECT_EQ(missing.open(LineSettings{9600}), PortOpenResult::CannotOpen);
    EXPECT_NE(missing.lastError().find("No such file"), std::string::npos) << missing.lastError();
    TtyPort notATty("/dev/null");
    EXPECT_EQ(notATty.open(LineSettings{9600}), PortOpenResult::SystemError);
    EXPECT_FALSE(notATty.isOpen());
}

TEST_F(TtyPortTest, EveryByteValuePassesUnchangedBothWays) {
    TtyPort port(pty.path());
    ASSERT_EQ(port.open(LineSettings{115200}), PortOpenResult::Ok) << port.lastError();
    std::string payload = allByteValues() + "\r\n\r\x11\x13\x03\x04\x7f" + allByteValues();

    EXPECT_EQ(port.write(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(), 600),
              static_cast<long>(payload.size()));
    EXPECT_EQ(pty.receive(payload.size()), payload);

    pty.send(payload);
    EXPECT_EQ(readAll(port, payload.size()), payload);
}

TEST_F(TtyPortTest, ReadReturnsZeroAtOnceWhenNothingCame) {
    TtyPort port(pty.path());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok);
    uint8_t buffer[16];
    EXPECT_EQ(port.read(buffer, sizeof buffer), 0);
    pty.send("x");
    EXPECT_EQ(readAll(port, 1), "x");
    EXPECT_EQ(port.read(buffer, sizeof buffer), 0);
}

TEST_F(TtyPortTest, ReadsAndWritesFailOnceTheFarEndHasGone) {
    TtyPort port(pty.path());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok);
    pty.send("last");
    ASSERT_TRUE(pty.inputQueued(4));
    pty.closeMaster();
    uint8_t buffer[16];
    uint32_t deadline = tickMs() + 5000;
    long n = 0;
    while ((n = port.read(buffer, sizeof buffer)) >= 0 && !tickReached(deadline))
        sleepMs(2);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(port.write(buffer, 1, 600), -1);
    EXPECT_FALSE(port.lastError().empty());
}

TEST_F(TtyPortTest, PurgeDiscardsWhatWasReceived) {
    TtyPort port(pty.path());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok);
    pty.send("stale reply");
    ASSERT_TRUE(pty.inputQueued(11));
    EXPECT_TRUE(port.purge());
    uint8_t buffer[16];
    EXPECT_EQ(port.read(buffer, sizeof buffer), 0);
    pty.send("fresh");
    EXPECT_EQ(readAll(port, 5), "fresh");
}

TEST_F(TtyPortTest, AWriteTheFarEndDoesNotTakeEndsInItsTime) {
    TtyPort port(pty.path());
    ASSERT_EQ(port.open(LineSettings{115200}), PortOpenResult::Ok);
    setTimeScaleForTesting(4.0);
    std::string big(4 << 20, 'a'); // far more than the pseudo-terminal buffers
    uint32_t start = tickMs();
    long n = port.write(reinterpret_cast<const uint8_t*>(big.data()), big.size(), 600);
    uint32_t took = tickMs() - start;
    EXPECT_GE(n, 0) << port.lastError();
    EXPECT_LT(static_cast<std::size_t>(n), big.size());
    EXPECT_GE(took, 600u);
    EXPECT_LT(took, 600u + 2000u);
    // The far end then gets exactly what was reported written.
    EXPECT_EQ(pty.receive(static_cast<std::size_t>(n)).size(), static_cast<std::size_t>(n));
    EXPECT_EQ(pty.receive(1, 100), "");
}

TEST_F(TtyPortTest, WithoutModemLinesNothingIsHeldAndTheLinesCannotBeRead) {
    TtyPort port(pty.path());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok);
    EXPECT_EQ(port.clearErrors(), false);
    if (port.modemLines())
        GTEST_SKIP() << "this pseudo-terminal has modem lines";
    EXPECT_FALSE(port.setDtr(false));
    EXPECT_FALSE(port.lastError().empty());
}

TEST_F(TtyPortTest, AClosedPortDoesNothing) {
    TtyPort port(pty.path());
    uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1), -1);
    EXPECT_EQ(port.write(&byte, 1, 600), -1);
    EXPECT_FALSE(port.purge());
    EXPECT_FALSE(port.setDtr(true));
    EXPECT_FALSE(port.setBaudRate(9600));
    EXPECT_FALSE(port.modemLines());
    EXPECT_FALSE(port.clearErrors());
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok);
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.read(&byte, 1), -1);
}

// On a real port with a loopback plug (DTR to DSR and CD, RTS to CTS):
//   VETLINA_TEST_TTY=/dev/ttyUSB0 unit_device --gtest_filter='TtyPortHardware*'
TEST(TtyPortHardware, DtrIsSeenBackOnDsrAndCarrier) {
    const char* device = std::getenv("VETLINA_TEST_TTY");
    if (device == nullptr || *device == '\0')
        GTEST_SKIP() << "modem lines need a real serial port: a pseudo-terminal has none. "
                        "Set VETLINA_TEST_TTY to a port with a loopback plug to run this.";
    TtyPort port(device);
    ASSERT_EQ(port.open(LineSettings{9600}), PortOpenResult::Ok) << port.lastError();
    ASSERT_TRUE(port.modemLines()) << port.lastError();
    sleepMs(50);
    EXPECT_TRUE(port.modemLines()->dsr);
    EXPECT_TRUE(port.modemLines()->carrier);
    EXPECT_TRUE(port.modemLines()->cts); // RTS raised by the input handshake
    EXPECT_EQ(port.clearErrors(), false);
    ASSERT_TRUE(port.setDtr(false));
    sleepMs(50);
    EXPECT_FALSE(port.modemLines()->dsr);
    EXPECT_FALSE(port.modemLines()->carrier);
    ASSERT_TRUE(port.setDtr(true));
    sleepMs(50);
    EXPECT_TRUE(port.modemLines()->dsr);
    const uint8_t probe[] = {0x55, 0xFF, 0x0D};
    EXPECT_EQ(port.write(probe, sizeof probe, 600), 3);
}

} // namespace
} // namespace vetlina
