// The one clock of the process: tick counter, sleep and the local date-time.
//
// VETLINA_TIME_SCALE (a positive number, default 1) makes this clock run that many
// times faster than real time: ticks, sleeps and now() alike. Nothing else in the
// program reads a clock or sleeps.
#pragma once

#include "platform/DateTime.h"

#include <cstdint>

namespace vetlina {

// How many times faster than real time the clock runs.
double timeScale();

// Milliseconds of the system tick counter; wraps around at 2^32 like the
// system's own 32-bit counter.
uint32_t tickMs();

// Sleeps for ms milliseconds of the clock (ms / timeScale() of real time).
void sleepMs(uint32_t ms);

// The local date and time: the start time of the process plus the scaled
// time elapsed since.
DateTime now();

// VETLINA_CLOCK_FILE (a file path, optional) makes the processes of one simulated
// network share one clock: each maps the file, and the one that maps it first sets it
// up at VETLINA_TIME_SCALE. The scale is then the fastest the shared clock runs: when
// the machine wakes the processes' waits late, it slows down for all of them alike,
// so that a late wake-up costs no more program time than on a real computer, and
// speeds up again once they are punctual. Without the variable the clock is the
// process's own, at VETLINA_TIME_SCALE exactly.
//
// A wait outside sleepMs (a poll with a timeout) that ended lateRealMs real
// milliseconds after it was due: the shared clock counts it (nothing without one).
void noteLateWakeUp(double lateRealMs);

// The simulator of a network holds the shared clock from its start until its loop ends
// (nothing without a shared clock): program time then runs on only as long as the loop
// keeps coming round, a short hold past each round at most, so that no program's wait
// runs out while the simulated instruments and lines it waits on were held off the
// processor. A holder silent for seconds is taken for gone (killed), and the clock runs
// on without it. Constructed once the simulator's ports are open; alive() on every round.
class SharedClockHold {
public:
    SharedClockHold();
    ~SharedClockHold();
    SharedClockHold(const SharedClockHold&) = delete;
    SharedClockHold& operator=(const SharedClockHold&) = delete;
    void alive();
};

// True once the 32-bit tick counter has reached a 32-bit deadline; correct across
// the wrap of the counter as long as the two are less than 2^31 ms apart.
inline bool tickReached(uint32_t deadline, uint32_t tick) {
    return static_cast<int32_t>(tick - deadline) >= 0;
}
inline bool tickReached(uint32_t deadline) {
    return tickReached(deadline, tickMs());
}

// Signed milliseconds from tick to deadline (negative once it has passed).
inline int32_t ticksLeft(uint32_t deadline, uint32_t tick) {
    return static_cast<int32_t>(deadline - tick);
}

// Test hooks: a test may run the clock at another scale, move the tick counter
// (to cross its wrap) or set the date-time. Each keeps the clock continuous from
// the moment of the call.
void setTimeScaleForTesting(double scale);
void setTickForTesting(uint32_t tick);
void setNowForTesting(DateTime dateTime);

// Test hook: the process joins the shared clock in the file at `path`, as
// VETLINA_CLOCK_FILE makes a process join one at its start (the first to map the file
// sets it up at `scale`): the threads of a test then read one program time with the
// simulator they talk to, and a late wake-up in either process slows it for both. The
// tick and the date-time run on continuously from where they were. While joined,
// setTimeScaleForTesting sets the scale of the shared clock (the fastest it runs) for
// every process on it. False, and the clock as it was, when the file cannot be used or
// a shared clock is joined already.
bool joinSharedClockForTesting(const char* path, double scale);
// Back to the process's own clock (or the environment's shared one), at the scale last
// set, continuous from the shared time reached. Nothing when not joined.
void leaveSharedClockForTesting();

// Test hook: the stepped clock. While on, the clock stands still as long as any thread
// that has used it (read its tick or the date-time, or slept on it) is at work, and
// moves on, to the earliest wake-up asked for, only once every such thread sleeps in
// sleepMs or stands aside; a thread that ends no longer counts. A busy machine then
// slows a test down but cannot reorder its events. Off turns back to the scaled
// real-time clock, continuous from the stepped time reached, and wakes every sleeper.
void setSteppedClockForTesting(bool on);
// While a thread waits for the others by other means than sleepMs (serving their
// hand-offs, joining them, polling in real time) it stands aside: it does not hold the
// stepped clock. Returns whether it stood aside before (false while the clock is not
// stepped), for a guard that nests.
bool standAsideFromSteppedClockForTesting(bool aside);

// The calling thread waits for other threads (on a condition they signal, or a join),
// not on the clock, while the guard lives: it holds up no stepped clock meanwhile.
// Nothing when the clock is not stepped. Guards nest.
class WaitingForOtherThreads {
public:
    WaitingForOtherThreads() : before_(standAsideFromSteppedClockForTesting(true)) {}
    ~WaitingForOtherThreads() { standAsideFromSteppedClockForTesting(before_); }
    WaitingForOtherThreads(const WaitingForOtherThreads&) = delete;
    WaitingForOtherThreads& operator=(const WaitingForOtherThreads&) = delete;

private:
    bool before_;
};

} // namespace vetlina
