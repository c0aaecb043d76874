#include "platform/Clock.h"

#include "platform/SharedClock.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/mman.h>
#include <thread>

namespace vetlina {
namespace {

using RealClock = std::chrono::steady_clock;

double scaleFromEnvironment() {
    const char* text = std::getenv("VETLINA_TIME_SCALE");
    if (text == nullptr || *text == '\0')
        return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || !std::isfinite(value) || value <= 0.0)
        return 1.0;
    return value;
}

std::unique_ptr<SharedClock> sharedClockFromEnvironment(double scale) {
    const char* path = std::getenv("VETLINA_CLOCK_FILE");
    if (path == nullptr || *path == '\0')
        return nullptr;
    return SharedClock::open(path, scale);
}

// The clock is continuous: at every change of scale (or test rebase), and when a test
// joins or leaves a shared clock, the time reached so far becomes the new origin.
// Everything that reads the clock's source (the scale, the shared clock) does so under
// mutex_, so that a test may switch it while worker threads read and sleep on it.
class ScaledClock {
public:
    ScaledClock()
        : scale_(scaleFromEnvironment()), shared_(sharedClockFromEnvironment(scale_)),
          origin_(RealClock::now()), sharedOriginMs_(sharedMs(origin_)),
          tickOrigin_(static_cast<double>(startTick())), dateTimeOrigin_(systemLocalNow()) {}

    double scale() {
        std::lock_guard lock(mutex_);
        return scaleNow();
    }

    // Scaled milliseconds since the origin. Under mutex_.
    double elapsedMs(RealClock::time_point at) const {
        if (shared_)
            return sharedMs(at) - sharedOriginMs_;
        return std::chrono::duration<double, std::milli>(at - origin_).count() * scale_;
    }

    // Scaled (or stepped) milliseconds since the origin.
    double sinceOrigin() {
        if (!stepped_)
            return elapsedMs(RealClock::now());
        join();
        return steppedMs_;
    }

    uint32_t tick() {
        std::lock_guard lock(mutex_);
        double ms = tickOrigin_ + sinceOrigin();
        return static_cast<uint32_t>(static_cast<uint64_t>(ms) & 0xFFFFFFFFu);
    }

    DateTime dateTime() {
        std::lock_guard lock(mutex_);
        return dateTimeOrigin_ + sinceOrigin() / kMsPerDay;
    }

    // A new scale (none: the scale stays), tick or date-time from now on.
    void rebase(std::optional<double> newScale, std::optional<uint32_t> tick,
                std::optional<DateTime> dateTime) {
        std::lock_guard lock(mutex_);
        const double scale = newScale.value_or(scale_);
        // A joined shared clock runs at the scale the test asks for, in every process on it.
        if (joined_ && newScale)
            shared_->setScale(scale, SharedClock::realNowNs());
        if (stepped_) {
            // The stepped time goes on from where it is; only the origins move.
            scale_ = scale;
            if (tick)
                tickOrigin_ = static_cast<double>(*tick) - steppedMs_;
            if (dateTime)
                dateTimeOrigin_ = *dateTime - steppedMs_ / kMsPerDay;
            return;
        }
        // The time since the last origin counts at the scale it ran at; the new scale
        // holds from here on.
        auto at = RealClock::now();
        carryOrigins(elapsedMs(at));
        if (tick)
            tickOrigin_ = static_cast<double>(*tick);
        if (dateTime)
            dateTimeOrigin_ = *dateTime;
        origin_ = at;
        sharedOriginMs_ = sharedMs(at);
        scale_ = scale;
    }

    bool stepped() const { return steppedFlag_.load(std::memory_order_acquire); }

    // The test's shared clock in place of the process's own (or the environment's).
    bool joinShared(const char* path, double scale) {
        auto clock = SharedClock::open(path, scale);
        if (!clock)
            return false;
        std::lock_guard lock(mutex_);
        if (joined_)
            return false;
        switchSource([&] {
            environment_ = std::move(shared_);
            shared_ = std::move(clock);
        });
        joined_ = true;
        return true;
    }

    void leaveShared() {
        std::unique_ptr<SharedClock> left;
        std::lock_guard lock(mutex_);
        if (!joined_)
            return;
        switchSource([&] {
            left = std::move(shared_);
            shared_ = std::move(environment_);
        });
        joined_ = false;
    }

    void setStepped(bool on) {
        std::lock_guard lock(mutex_);
        if (on == stepped_)
            return;
        if (on) {
            carryOrigins(elapsedMs(RealClock::now()));
            steppedMs_ = 0.0;
            ++epoch_;
            members_ = 0;
            asleep_ = 0;
        } else {
            carryOrigins(steppedMs_);
            origin_ = RealClock::now();
            sharedOriginMs_ = sharedMs(origin_);
            // Whoever still sleeps wakes now: the stepped time is over.
            for (auto& [wake, sleeper] : sleepers_)
                sleeper->woken = true;
            sleepers_.clear();
            wakeUp_.notify_all();
        }
        stepped_ = on;
        steppedFlag_.store(on, std::memory_order_release);
    }

    // A sleep on the stepped clock: it ends once the clock has been moved to its end,
    // which happens when every thread that counts sleeps.
    void steppedSleep(uint32_t ms) {
        std::unique_lock lock(mutex_);
        if (!stepped_) {
            lock.unlock();
            realSleep(ms);
            return;
        }
        // A thread that stands aside counts as asleep already.
        const bool counted = join();
        Sleeper self{counted, false};
        sleepers_.emplace(steppedMs_ + ms, &self);
        if (counted)
            ++asleep_;
        advanceIfIdle();
        wakeUp_.wait(lock, [&] { return self.woken; });
    }

    // A thread that has used the stepped clock no longer counts once it ends.
    void leave(uint64_t epoch, bool asideNow) {
        std::lock_guard lock(mutex_);
        if (!stepped_ || epoch != epoch_)
            return;
        --members_;
        if (asideNow)
            --asleep_;
        advanceIfIdle();
    }

    // The calling thread waits for the others by other means than sleepMs (serving
    // their hand-offs, joining them, polling in real time): it does not hold the clock.
    bool standAside(bool aside);

    // A sleep on the scaled clock. It counts in the process's run time, which goes on
    // continuously when the scale changes or a test joins or leaves a shared clock
    // meanwhile: it ends once that time has reached its end, never before. On a shared
    // clock it sleeps in slices, so that a change of the shared scale is followed within
    // a slice, and reports each slice's lateness.
    void realSleep(uint32_t ms) {
        if (ms == 0) {
            std::this_thread::yield();
            return;
        }
        constexpr double kSliceMs = 20.0;
        std::unique_lock lock(mutex_);
        const double end = runMs(RealClock::now()) + ms;
        for (;;) {
            const auto start = RealClock::now();
            const double left = end - runMs(start);
            if (left <= 0.0 || stepped_)
                return;
            const bool shared = shared_ != nullptr;
            const double realMs = shared ? std::min(kSliceMs, left / scaleNow()) : left / scale_;
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(realMs));
            const double took =
                std::chrono::duration<double, std::milli>(RealClock::now() - start).count();
            lock.lock();
            if (shared && shared_)
                shared_->noteLate(took - realMs, SharedClock::realNowNs());
        }
    }

    // This process holds the shared clock (or no longer), and shows life.
    void holdShared(bool on) {
        std::lock_guard lock(mutex_);
        holding_ = on;
        if (shared_)
            on ? shared_->hold() : shared_->release();
    }
    void sharedAlive() {
        std::lock_guard lock(mutex_);
        if (holding_ && shared_)
            shared_->alive();
    }

    // A wait that ended lateMs real milliseconds after it was due (shared clock only).
    void noteLate(double lateMs) {
        std::lock_guard lock(mutex_);
        if (shared_)
            shared_->noteLate(lateMs, SharedClock::realNowNs());
    }

private:
    // Under mutex_.
    double scaleNow() const { return shared_ ? shared_->scale() : scale_; }

    // The tick, run time and date-time reached `ms` past their origins become the
    // origins. Under mutex_.
    void carryOrigins(double ms) {
        tickOrigin_ += ms;
        runOrigin_ += ms;
        dateTimeOrigin_ += ms / kMsPerDay;
    }

    // Makes the time reached so far the origin of the source that `change` puts in
    // place. Under mutex_.
    template <typename Change>
    void switchSource(Change change) {
        // A clock this process holds is let go before another takes its place.
        if (holding_ && shared_)
            shared_->release();
        if (stepped_) {
            // The stepped time goes on; the origin is taken when it is turned off.
            change();
        } else {
            const auto at = RealClock::now();
            carryOrigins(elapsedMs(at));
            change();
            origin_ = at;
            sharedOriginMs_ = sharedMs(at);
        }
        if (holding_ && shared_)
            shared_->hold();
    }

    double sharedMs(RealClock::time_point at) const {
        return shared_ ? shared_->ms(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         at.time_since_epoch())
                                         .count())
                       : 0.0;
    }

    // Milliseconds the process has run on its clock, whatever the tests set the tick or
    // the date-time to. Under mutex_, not while stepped.
    double runMs(RealClock::time_point at) const { return runOrigin_ + elapsedMs(at); }

    struct Sleeper {
        bool counted; // in asleep_ (a thread standing aside is counted already)
        bool woken;
    };

    // Makes the calling thread count for the stepped clock (once per stepped period);
    // false while it stands aside (it counts as asleep then). Under mutex_.
    bool join();

    // When every thread that counts sleeps, the clock moves to the earliest wake-up and
    // the first sleeper due then wakes; it counts as at work again at once, so that
    // neither the clock nor another sleeper due at the same moment moves on before it
    // has run and slept again. One thread at a time: the threads of a test take their
    // turns in the order they went to sleep, however the machine schedules them.
    // Under mutex_.
    void advanceIfIdle() {
        bool woke = false;
        // A sleeper that stands aside holds nothing up: the next one wakes as well.
        while (asleep_ >= members_ && !sleepers_.empty()) {
            steppedMs_ = std::max(steppedMs_, sleepers_.begin()->first);
            Sleeper* sleeper = sleepers_.begin()->second;
            sleepers_.erase(sleepers_.begin());
            sleeper->woken = true;
            woke = true;
            if (sleeper->counted) {
                --asleep_;
                break;
            }
        }
        if (woke)
            wakeUp_.notify_all();
    }

    // Like the system's counter, the tick starts from the machine's uptime.
    static uint32_t startTick() {
        auto uptime = std::chrono::duration_cast<std::chrono::milliseconds>(
            RealClock::now().time_since_epoch());
        return static_cast<uint32_t>(uptime.count());
    }

    std::mutex mutex_;
    double scale_;
    std::unique_ptr<SharedClock> shared_; // the network's shared clock, when there is one
    // A test has joined shared_; the environment's shared clock (if any) waits meanwhile.
    bool joined_ = false;
    std::unique_ptr<SharedClock> environment_;
    bool holding_ = false; // this process (a simulator) holds the shared clock
    RealClock::time_point origin_;
    double sharedOriginMs_; // the shared clock's milliseconds at origin_
    double tickOrigin_;
    double runOrigin_ = 0.0;
    DateTime dateTimeOrigin_;

    // The stepped clock (tests only).
    bool stepped_ = false;
    std::atomic<bool> steppedFlag_{false};
    double steppedMs_ = 0.0;
    uint64_t epoch_ = 0;
    int members_ = 0;
    int asleep_ = 0;
    std::multimap<double, Sleeper*> sleepers_;
    std::condition_variable wakeUp_;
};

ScaledClock& theClock() {
    static ScaledClock clock;
    return clock;
}

// The calling thread's membership of the stepped clock: the period it joined, and its
// leave when the thread ends.
struct SteppedMembership {
    uint64_t epoch = 0;
    bool aside = false;
    ~SteppedMembership() {
        if (epoch != 0)
            theClock().leave(epoch, aside);
    }
};

thread_local SteppedMembership membership;

bool ScaledClock::join() {
    if (membership.epoch != epoch_) {
        membership.epoch = epoch_;
        membership.aside = false;
        ++members_;
    }
    return !membership.aside;
}

bool ScaledClock::standAside(bool aside) {
    std::lock_guard lock(mutex_);
    if (!stepped_)
        return false;
    join();
    const bool before = membership.aside;
    if (aside == before)
        return before;
    membership.aside = aside;
    if (aside) {
        ++asleep_;
        advanceIfIdle();
    } else {
        --asleep_;
    }
    return before;
}

} // namespace

double timeScale() {
    return theClock().scale();
}

uint32_t tickMs() {
    return theClock().tick();
}

DateTime now() {
    return theClock().dateTime();
}

void sleepMs(uint32_t ms) {
    if (ms > 0 && theClock().stepped())
        theClock().steppedSleep(ms);
    else
        theClock().realSleep(ms);
}

SharedClockHold::SharedClockHold() {
    theClock().holdShared(true);
}

SharedClockHold::~SharedClockHold() {
    theClock().holdShared(false);
}

void SharedClockHold::alive() {
    theClock().sharedAlive();
}

void noteLateWakeUp(double lateRealMs) {
    theClock().noteLate(lateRealMs);
}

void setTimeScaleForTesting(double scale) {
    if (scale > 0.0 && std::isfinite(scale))
        theClock().rebase(scale, std::nullopt, std::nullopt);
}

void setTickForTesting(uint32_t tick) {
    theClock().rebase(std::nullopt, tick, std::nullopt);
}

void setNowForTesting(DateTime dateTime) {
    theClock().rebase(std::nullopt, std::nullopt, dateTime);
}

void setSteppedClockForTesting(bool on) {
    theClock().setStepped(on);
    // The test's own thread counts from the start, like any thread that uses the clock.
    if (on)
        theClock().tick();
}

bool standAsideFromSteppedClockForTesting(bool aside) {
    return theClock().standAside(aside);
}

bool joinSharedClockForTesting(const char* path, double scale) {
    return theClock().joinShared(path, scale);
}

void leaveSharedClockForTesting() {
    theClock().leaveShared();
}

} // namespace vetlina
