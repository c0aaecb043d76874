#include "device/PollWait.h"

#include "platform/Clock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <poll.h>

namespace vetlina {
namespace {

// The longest single poll in real time: the clock is looked at again at least
// this often, so a deadline is never overslept by more than this.
constexpr int kSliceMs = 50;

int pollOnce(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        int r = ::poll(&p, 1, timeoutMs);
        if (r > 0)
            return p.revents;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

} // namespace

int pollNow(int fd, short events) {
    return pollOnce(fd, events, 0);
}

int pollUntil(int fd, short events, uint32_t deadline) {
    for (;;) {
        uint32_t tick = tickMs();
        if (tickReached(deadline, tick))
            return pollNow(fd, events);
        double realMs = ticksLeft(deadline, tick) / timeScale();
        int slice = std::clamp(static_cast<int>(std::ceil(realMs)), 1, kSliceMs);
        const auto start = std::chrono::steady_clock::now();
        int r = pollOnce(fd, events, slice);
        if (r != 0)
            return r;
        // A poll that timed out late tells the shared clock how punctual the machine is.
        noteLateWakeUp(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count() -
            slice);
    }
}

} // namespace vetlina
