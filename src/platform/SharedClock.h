// The clock shared by the processes of one simulated network (VETLINA_CLOCK_FILE): the
// simulator and every vetlina-run of a test map the same small file, so that they read
// one program time. The scale asked for (VETLINA_TIME_SCALE) is the fastest it runs;
// when the machine cannot wake the processes on time at that scale, the shared clock
// slows down for all of them at once, so that a late wake-up never costs more program
// time than a real computer's timer would, and it climbs back once wake-ups are
// punctual again. The simulator holds the clock while its loop runs: program time then
// runs on only as long as the simulated instruments and lines keep being computed.
// Real instants are steady-clock nanoseconds, passed in by the caller.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace vetlina {

class SharedClock {
public:
    // A late wake-up costs at most this much program time before the clock slows down:
    // about what the timer of an ordinary desktop computer costs a waiting thread.
    static constexpr double kTolerableLateMs = 40.0;
    // How often (real time) the scale is looked at.
    static constexpr int64_t kLookNs = 50'000'000;
    // While a process holds the clock, program time runs at most this far (program
    // milliseconds) past its last sign of life, and stands still from there until the
    // next one: an instrument of the simulator answers no later than this after a
    // command, at any scale...
    static constexpr double kHoldMs = 100.0;
    // ...unless the holder has been silent this long: it is taken for gone (killed), and
    // the clock runs on without it.
    static constexpr int64_t kGoneNs = 5'000'000'000;

    // Where the holder's real instants come from: read once the clock's origin is locked,
    // so that no reader can have seen the clock stand still past the instant recorded.
    using RealNow = int64_t (*)();

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

    // The simulator of the network holds the clock while its loop runs, and shows life
    // on every round of it: a program's wait then cannot run out while the instruments
    // and lines it waits on, held off the processor, were not computed. The program time
    // stays continuous across each of these.
    void hold(RealNow now = realNowNs);
    void alive(RealNow now = realNowNs);
    void release(RealNow now = realNowNs);

    static int64_t realNowNs();

private:
    struct Page;
    struct Origin {
        double scale;
        int64_t realNs;
        double programMs;
        int64_t aliveNs;   // the holder's last sign of life (0: nobody holds the clock)
        uint64_t sequence; // the sequence it was read at (even)
    };
    static double programAt(const Origin& o, int64_t realNs);
    bool setUp(double scale, int64_t realNs);
    // The origin's fields as they stand, read with `order`; `sequence` is recorded.
    Origin fields(uint64_t sequence, std::memory_order order) const;
    // The origin, read consistently under the sequence lock's protocol.
    Origin origin() const;
    void govern(int64_t realNs);
    // Moves the origin to realNs at the new scale, with the sequence lock held at
    // `sequence` (odd), and records the holder's last sign of life; releases the lock.
    void moveOrigin(uint64_t sequence, double scale, int64_t realNs,
                    std::optional<int64_t> aliveNs = std::nullopt);
    uint64_t lock();
    // Under the lock: the holder's sign of life (0: released) from now() on.
    void moveHolder(bool holds, RealNow now);

    Page* page_;
};

} // namespace vetlina
