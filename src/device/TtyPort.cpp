#include "device/TtyPort.h"

#include "device/PollWait.h"
#include "platform/Clock.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace vetlina {
namespace {

struct SpeedEntry {
    uint32_t baudRate;
    speed_t speed;
};

constexpr std::array kSpeeds{
    SpeedEntry{50, B50},           SpeedEntry{75, B75},           SpeedEntry{110, B110},
    SpeedEntry{134, B134},         SpeedEntry{150, B150},         SpeedEntry{200, B200},
    SpeedEntry{300, B300},         SpeedEntry{600, B600},         SpeedEntry{1200, B1200},
    SpeedEntry{1800, B1800},       SpeedEntry{2400, B2400},       SpeedEntry{4800, B4800},
    SpeedEntry{9600, B9600},       SpeedEntry{19200, B19200},     SpeedEntry{38400, B38400},
    SpeedEntry{57600, B57600},     SpeedEntry{115200, B115200},   SpeedEntry{230400, B230400},
    SpeedEntry{460800, B460800},   SpeedEntry{500000, B500000},   SpeedEntry{576000, B576000},
    SpeedEntry{921600, B921600},   SpeedEntry{1000000, B1000000}, SpeedEntry{1152000, B1152000},
    SpeedEntry{1500000, B1500000}, SpeedEntry{2000000, B2000000}, SpeedEntry{2500000, B2500000},
    SpeedEntry{3000000, B3000000}, SpeedEntry{3500000, B3500000}, SpeedEntry{4000000, B4000000},
};

std::string errnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer); // the GNU form returns the text
}

// A device without modem-control lines (a pseudo-terminal) answers the line
// ioctls with one of these.
bool noModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

} // namespace

std::optional<speed_t> ttySpeed(uint32_t baudRate) {
    for (const auto& entry : kSpeeds) {
        if (entry.baudRate == baudRate)
            return entry.speed;
    }
    return std::nullopt;
}

TtyPort::TtyPort(std::string path) : path_(std::move(path)) {}

TtyPort::~TtyPort() {
    close();
}

bool TtyPort::fail(const char* operation) {
    int error = errno;
    lastError_ = path_ + ": " + operation + ": " + errnoText(error);
    return false;
}

PortOpenResult TtyPort::open(const LineSettings& settings) {
    if (isOpen()) {
        lastError_ = path_ + ": already open";
        return PortOpenResult::CannotOpen;
    }
    // Non-blocking, so that opening a line without carrier returns at once.
    UniqueFd fd(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        fail("open");
        return PortOpenResult::CannotOpen;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            lastError_ = path_ + ": the port is in use by another program";
        else
            fail("lock");
        return PortOpenResult::CannotOpen;
    }
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        fail("exclusive use");
        return PortOpenResult::SystemError;
    }

    auto speed = ttySpeed(settings.baudRate);
    if (!speed) {
        lastError_ =
            path_ + ": baud rate " + std::to_string(settings.baudRate) + " is not supported";
        return PortOpenResult::SystemError;
    }
    termios tio{};
    if (::tcgetattr(fd.get(), &tio) != 0) {
        fail("get line settings");
        return PortOpenResult::SystemError;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL | CRTSCTS | HUPCL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    tio.c_iflag |= IGNPAR | IGNBRK;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0 ||
        ::tcsetattr(fd.get(), TCSANOW, &tio) != 0) {
        fail("set line settings");
        return PortOpenResult::SystemError;
    }
    fd_ = std::move(fd);
    // tcsetattr succeeds when any part of the settings took: check the speed.
    if (!applySpeed(settings.baudRate)) {
        fd_.reset();
        return PortOpenResult::SystemError;
    }
    // DTR is raised by the driver on open already; a device without modem lines
    // cannot raise it and is still usable.
    int dtr = TIOCM_DTR;
    if (::ioctl(fd_.get(), TIOCMBIS, &dtr) != 0 && !noModemLines(errno)) {
        fail("raise DTR");
        fd_.reset();
        return PortOpenResult::SystemError;
    }
    return PortOpenResult::Ok;
}

void TtyPort::close() {
    if (!isOpen())
        return;
    // Output held by CTS would make the driver wait up to its closing time (30 s by
    // default) in close(); give it a moment and then discard it.
    waitTransmitted(tickMs() + kCloseDrainMs);
    ::tcflush(fd_.get(), TCOFLUSH);
    fd_.reset(); // releases the lock; HUPCL drops DTR
}

bool TtyPort::applySpeed(uint32_t baudRate) {
    auto speed = ttySpeed(baudRate);
    if (!speed) {
        lastError_ = path_ + ": baud rate " + std::to_string(baudRate) + " is not supported";
        return false;
    }
    termios tio{};
    if (::tcgetattr(fd_.get(), &tio) != 0)
        return fail("get line settings");
    if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0 ||
        ::tcsetattr(fd_.get(), TCSANOW, &tio) != 0)
        return fail("set baud rate");
    termios check{};
    if (::tcgetattr(fd_.get(), &check) != 0)
        return fail("get line settings");
    if (::cfgetospeed(&check) != *speed || ::cfgetispeed(&check) != *speed) {
        lastError_ = path_ + ": the device refused baud rate " + std::to_string(baudRate);
        return false;
    }
    baudRate_ = baudRate;
    return true;
}

bool TtyPort::setBaudRate(uint32_t baudRate) {
    if (!isOpen())
        return false;
    return applySpeed(baudRate);
}

long TtyPort::read(uint8_t* buffer, std::size_t size) {
    if (!isOpen())
        return -1;
    for (;;) {
        ssize_t n = ::read(fd_.get(), buffer, size);
        if (n > 0)
            return static_cast<long>(n);
        if (n == 0) {
            // With VMIN and VTIME 0 an empty read and a device that has gone
            // (a USB adapter pulled out, the tty hung up) both read 0; poll
            // tells them apart.
            int events = pollNow(fd_.get(), POLLIN);
            if (events > 0 && (events & (POLLHUP | POLLERR | POLLNVAL))) {
                errno = EIO;
                fail("read (the device has gone)");
                return -1;
            }
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        fail("read");
        return -1;
    }
}

std::optional<int> TtyPort::outputQueued() const {
    int queued = 0;
    if (::ioctl(fd_.get(), TIOCOUTQ, &queued) != 0)
        return std::nullopt;
    return queued;
}

void TtyPort::waitTransmitted(uint32_t deadline) {
    for (;;) {
        auto queued = outputQueued();
        if (!queued || *queued <= 0)
            return;
        uint32_t tick = tickMs();
        if (tickReached(deadline, tick))
            return;
        // Sleep about as long as the queued bytes take on the line (10 bits each).
        uint64_t lineMs = baudRate_ ? uint64_t(*queued) * 10000u / baudRate_ : 1;
        uint32_t left = static_cast<uint32_t>(ticksLeft(deadline, tick));
        sleepMs(static_cast<uint32_t>(std::clamp<uint64_t>(lineMs, 1, left)));
    }
}

long TtyPort::write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) {
    if (!isOpen())
        return -1;
    uint32_t deadline = tickMs() + timeoutMs;
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd_.get(), data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            fail("write");
            return -1;
        }
        if (tickReached(deadline))
            break;
        int events = pollUntil(fd_.get(), POLLOUT, deadline);
        if (events < 0) {
            fail("poll");
            return -1;
        }
        if (events == 0)
            break; // the time is up
        if ((events & POLLOUT) == 0) {
            errno = (events & POLLNVAL) ? EBADF : EIO;
            fail("write");
            return -1;
        }
    }
    if (timeoutMs == 0)
        return static_cast<long>(done); // no waiting asked for: queued counts as written

    waitTransmitted(deadline);
    auto queued = outputQueued();
    if (queued && *queued > 0) {
        ::tcflush(fd_.get(), TCOFLUSH);
        done -= std::min<std::size_t>(static_cast<std::size_t>(*queued), done);
    }
    return static_cast<long>(done);
}

bool TtyPort::purge() {
    if (!isOpen())
        return false;
    if (::tcflush(fd_.get(), TCIOFLUSH) != 0)
        return fail("purge");
    return true;
}

// Linux latches no error state on a tty (line errors are counted, not held until
// cleared), so there is nothing to clear. Transmission is held for CTS when CTS is
// off: output flow control by CTS is always on (CRTSCTS), so the driver sends
// nothing until CTS returns, whether or not bytes are waiting at this moment (a
// timed-out write has discarded its tail already). A device without modem lines
// is never held.
std::optional<bool> TtyPort::clearErrors() {
    if (!isOpen())
        return std::nullopt;
    int bits = 0;
    if (::ioctl(fd_.get(), TIOCMGET, &bits) != 0) {
        if (noModemLines(errno))
            return false;
        fail("line status");
        return std::nullopt;
    }
    return (bits & TIOCM_CTS) == 0;
}

bool TtyPort::setDtr(bool on) {
    if (!isOpen())
        return false;
    int bits = TIOCM_DTR;
    if (::ioctl(fd_.get(), on ? TIOCMBIS : TIOCMBIC, &bits) != 0)
        return fail(on ? "raise DTR" : "drop DTR");
    return true;
}

std::optional<ModemLines> TtyPort::modemLines() {
    if (!isOpen())
        return std::nullopt;
    int bits = 0;
    if (::ioctl(fd_.get(), TIOCMGET, &bits) != 0) {
        fail("modem lines");
        return std::nullopt;
    }
    ModemLines lines;
    lines.cts = (bits & TIOCM_CTS) != 0;
    lines.dsr = (bits & TIOCM_DSR) != 0;
    lines.ring = (bits & TIOCM_RNG) != 0;
    lines.carrier = (bits & TIOCM_CAR) != 0;
    return lines;
}

} // namespace vetlina
