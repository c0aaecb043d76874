// Waiting for a descriptor against the one clock: the ports wait for a socket
// or a tty in real-time slices derived from the clock's scale, and the clock
// alone decides when the time is up.
#pragma once

#include <cstdint>

namespace vetlina {

// Waits until fd reports one of events or the clock reaches deadline. Returns
// the reported events (POLLIN, POLLOUT, POLLHUP, POLLERR ...), 0 when the
// deadline was reached first, -1 when poll itself failed.
int pollUntil(int fd, short events, uint32_t deadline);

// The events fd reports now, without waiting (0 when none, -1 on failure).
int pollNow(int fd, short events);

} // namespace vetlina
