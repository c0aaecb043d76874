#include "platform/Clock.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
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

// The clock is continuous: at every change of scale (or test rebase) the scaled
// time reached so far becomes the new origin.
class ScaledClock {
public:
    ScaledClock()
        : scale_(scaleFromEnvironment()), origin_(RealClock::now()),
          tickOrigin_(static_cast<double>(startTick())), dateTimeOrigin_(systemLocalNow()) {}

    double scale() {
        std::lock_guard lock(mutex_);
        return scale_;
    }

    // Scaled milliseconds since the origin.
    double elapsedMs(RealClock::time_point at) const {
        return std::chrono::duration<double, std::milli>(at - origin_).count() * scale_;
    }

    uint32_t tick() {
        std::lock_guard lock(mutex_);
        double ms = tickOrigin_ + elapsedMs(RealClock::now());
        return static_cast<uint32_t>(static_cast<uint64_t>(ms) & 0xFFFFFFFFu);
    }

    DateTime dateTime() {
        std::lock_guard lock(mutex_);
        return dateTimeOrigin_ + elapsedMs(RealClock::now()) / kMsPerDay;
    }

    void rebase(double scale, std::optional<uint32_t> tick, std::optional<DateTime> dateTime) {
        std::lock_guard lock(mutex_);
        auto at = RealClock::now();
        double elapsed = elapsedMs(at);
        tickOrigin_ = tick ? static_cast<double>(*tick) : tickOrigin_ + elapsed;
        dateTimeOrigin_ = dateTime ? *dateTime : dateTimeOrigin_ + elapsed / kMsPerDay;
        origin_ = at;
        scale_ = scale;
    }

private:
    // Like the system's counter, the tick starts from the machine's uptime.
    static uint32_t startTick() {
        auto uptime = std::chrono::duration_cast<std::chrono::milliseconds>(
            RealClock::now().time_since_epoch());
        return static_cast<uint32_t>(uptime.count());
    }

    std::mutex mutex_;
    double scale_;
    RealClock::time_point origin_;
    double tickOrigin_;
    DateTime dateTimeOrigin_;
};

ScaledClock& theClock() {
    static ScaledClock clock;
    return clock;
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
    double realMs = ms / theClock().scale();
    if (realMs <= 0.0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(realMs));
}

void setTimeScaleForTesting(double scale) {
    if (scale > 0.0 && std::isfinite(scale))
        theClock().rebase(scale, std::nullopt, std::nullopt);
}

void setTickForTesting(uint32_t tick) {
    theClock().rebase(timeScale(), tick, std::nullopt);
}

void setNowForTesting(DateTime dateTime) {
    theClock().rebase(timeScale(), std::nullopt, dateTime);
}

} // namespace vetlina
