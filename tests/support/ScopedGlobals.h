// Guards for what a test changes in the process as a whole: each sets its global for
// the guard's lifetime and puts back what was there before, however the test ends (a
// failed ASSERT returns early; a line at the end of the test would not run).
// The current directory has its guard in TempFolder.h (CurrentDirectory).
#pragma once

#include "platform/Clock.h"

#include <string>

namespace vetlina::test {

// The clock runs `scale` times faster than real time while the guard lives.
class ScopedTimeScale {
public:
    explicit ScopedTimeScale(double scale) : saved_(timeScale()) { setTimeScaleForTesting(scale); }
    ~ScopedTimeScale() { setTimeScaleForTesting(saved_); }
    ScopedTimeScale(const ScopedTimeScale&) = delete;
    ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;

    // Another scale within the guard (the saved one is still restored at its end).
    void set(double scale) { setTimeScaleForTesting(scale); }

private:
    double saved_;
};

// The process reads the shared clock in the file at `path` while the guard lives (see
// joinSharedClockForTesting), the one a simulator process started on the same file
// reads: both run on one program time, governed by how punctually either wakes up.
class ScopedSharedClock {
public:
    ScopedSharedClock(const std::string& path, double scale)
        : joined_(joinSharedClockForTesting(path.c_str(), scale)) {}
    ~ScopedSharedClock() {
        if (joined_)
            leaveSharedClockForTesting();
    }
    ScopedSharedClock(const ScopedSharedClock&) = delete;
    ScopedSharedClock& operator=(const ScopedSharedClock&) = delete;

    bool joined() const { return joined_; }

private:
    bool joined_;
};

// The stepped clock while the guard lives (see setSteppedClockForTesting): time moves
// only when every thread that uses the clock sleeps on it, so that a busy machine makes
// the test slower but never changes what it sees. Made on the test's own thread.
class ScopedSteppedClock {
public:
    ScopedSteppedClock() { setSteppedClockForTesting(true); }
    ~ScopedSteppedClock() { off(); }
    ScopedSteppedClock(const ScopedSteppedClock&) = delete;
    ScopedSteppedClock& operator=(const ScopedSteppedClock&) = delete;

    // Back to the real-time clock before the guard ends: for a teardown that joins
    // threads (which sleep their way to the end of their loops).
    void off() { setSteppedClockForTesting(false); }
};

// The calling thread stands aside from the stepped clock while the guard lives: it
// waits for the other threads by other means than sleepMs (serving their hand-offs,
// joining them, polling in real time). Nothing when the stepped clock is off.
using StandAside = WaitingForOtherThreads;

// now() starts from `dateTime` while the guard lives; afterwards it reads the
// system's local time again.
class ScopedNow {
public:
    explicit ScopedNow(DateTime dateTime) { setNowForTesting(dateTime); }
    ~ScopedNow() { setNowForTesting(systemLocalNow()); }
    ScopedNow(const ScopedNow&) = delete;
    ScopedNow& operator=(const ScopedNow&) = delete;

    void set(DateTime dateTime) { setNowForTesting(dateTime); }
};

} // namespace vetlina::test
