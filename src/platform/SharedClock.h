// The clock shared by the processes of one simulated network (VETLINA_CLOCK_FILE): the
// simulator and every vetlina-run of a test map the same small file, so that they read
// one program time. The scale asked for (VETLINA_TIME_SCALE) is the fastest it runs;
// when the machine cannot wake the processes on time at that scale, the shared clock
// slows down for all of them at once, so that a late wake-up never costs more program
// time than a real computer's timer would, and it climbs back once wake-ups are
// punctual again. Real instants are steady-clock nanoseconds, passed in by the caller.
#pragma once

#include <cstdint>
#include <memory>

namespace vetlina {

class SharedClock {
public:
    // A late wake-up costs at most this much program time before the clock slows down:
    // about what the timer of an ordinary desktop computer costs a waiting thread.
    static constexpr double kTolerableLateMs = 40.0;
    // How often (real time) the scale is looked at.
    static constexpr int64_t kLookNs = 50'000'000;

    // Maps the file, made if missing; whichever process maps it first sets it up at
    // `scale`, the others take its scale as they find it. nullptr when the file cannot
    // be used (the process then keeps a clock of its own).
    static std::unique_ptr<SharedClock> open(const char* path, double scale,
                                             int64_t realNs = realNowNs());
    explicit SharedClock(void* map);
    ~SharedClock();
    SharedClock(const SharedClock&) = delete;
    SharedClock& operator=(const SharedClock&) = delete;

    // Program milliseconds since the shared clock was set up, at the real instant given.
    double ms(int64_t realNs) const;
    // The scale now, and the fastest (the one asked for).
    double scale() const;
    double fastest() const;

    // A wait of this process ended lateMs real milliseconds after it was due, at realNs.
    // Once per kLookNs one process looks at the latest lateness reported since the last
    // look: when it cost more program time than tolerable, the scale drops so that it
    // would not have; while wake-ups are punctual it climbs back by a tenth per look.
    // Never faster than asked for, never slower than real time (or than asked for, when
    // that is slower). The program time stays continuous across every change.
    void noteLate(double lateMs, int64_t realNs);

    // The scale asked for becomes `scale` from realNs on, for every process on the clock:
    // it runs at it at once and is governed under it from then. The program time stays
    // continuous.
    void setScale(double scale, int64_t realNs);

    static int64_t realNowNs();

private:
    struct Page;
    struct Origin {
        double scale;
        int64_t realNs;
        double programMs;
        uint64_t sequence; // the sequence it was read at (even)
    };
    bool setUp(double scale, int64_t realNs);
    Origin origin() const;
    void govern(int64_t realNs);
    // Moves the origin to realNs at the new scale, with the sequence lock held at
    // `sequence` (odd); releases the lock.
    void moveOrigin(uint64_t sequence, double scale, int64_t realNs);

    Page* page_;
};

} // namespace vetlina
