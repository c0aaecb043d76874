#include "platform/SharedClock.h"

#include "platform/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>

namespace vetlina {

// The file's layout: plain words of this machine, each only ever accessed atomically
// (the processes that share it run on the same machine, built from the same source).
struct SharedClock::Page {
    uint64_t state;       // 0 new, 1 being set up, 2 ready
    uint64_t sequence;    // odd while the origin is being moved
    uint64_t scaleBits;   // double: the scale now
    uint64_t fastestBits; // double: the scale asked for
    int64_t realNs;       // the origin: a real instant...
    uint64_t programBits; // ...and the program milliseconds then (double)
    uint64_t lateNs;      // the latest wake-up reported since the last look
    int64_t lookedNs;     // when the scale was last looked at
    int64_t aliveNs;      // the holder's last sign of life (0: nobody holds the clock)
};

namespace {

template <typename T>
std::atomic_ref<T> word(T& field) {
    return std::atomic_ref<T>(field);
}
uint64_t bits(double v) {
    return std::bit_cast<uint64_t>(v);
}
double value(uint64_t b) {
    return std::bit_cast<double>(b);
}

} // namespace

std::unique_ptr<SharedClock> SharedClock::open(const char* path, double scale, int64_t realNs) {
    UniqueFd fd(::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd || ::ftruncate(fd.get(), sizeof(Page)) != 0)
        return nullptr;
    void* map = ::mmap(nullptr, sizeof(Page), PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (map == MAP_FAILED)
        return nullptr;
    auto clock = std::make_unique<SharedClock>(map);
    if (!clock->setUp(scale, realNs))
        return nullptr;
    return clock;
}

SharedClock::SharedClock(void* map) : page_(static_cast<Page*>(map)) {}

SharedClock::~SharedClock() {
    ::munmap(page_, sizeof(Page));
}

int64_t SharedClock::realNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool SharedClock::setUp(double scale, int64_t realNs) {
    uint64_t fresh = 0;
    if (word(page_->state).compare_exchange_strong(fresh, 1, std::memory_order_acquire)) {
        word(page_->scaleBits).store(bits(scale), std::memory_order_relaxed);
        word(page_->fastestBits).store(bits(scale), std::memory_order_relaxed);
        word(page_->realNs).store(realNs, std::memory_order_relaxed);
        word(page_->programBits).store(bits(0.0), std::memory_order_relaxed);
        word(page_->lookedNs).store(realNs, std::memory_order_relaxed);
        word(page_->aliveNs).store(0, std::memory_order_relaxed);
        word(page_->state).store(2, std::memory_order_release);
        return true;
    }
    // Another process is setting it up: that takes microseconds.
    for (int i = 0; i < 100000; ++i) {
        if (word(page_->state).load(std::memory_order_acquire) == 2)
            return true;
        std::this_thread::yield();
    }
    return false;
}

SharedClock::Origin SharedClock::fields(uint64_t sequence, std::memory_order order) const {
    return {value(word(page_->scaleBits).load(order)), word(page_->realNs).load(order),
            value(word(page_->programBits).load(order)), word(page_->aliveNs).load(order),
            sequence};
}

// A sequence lock: the origin is read again when it was being moved meanwhile.
SharedClock::Origin SharedClock::origin() const {
    for (;;) {
        const uint64_t before = word(page_->sequence).load(std::memory_order_acquire);
        const Origin o = fields(before, std::memory_order_acquire);
        if ((before & 1) == 0 && word(page_->sequence).load(std::memory_order_acquire) == before)
            return o;
        std::this_thread::yield();
    }
}

double SharedClock::programAt(const Origin& o, int64_t realNs) {
    int64_t runNs = realNs - o.realNs;
    if (o.aliveNs != 0) {
        // Standing still from the end of the hold until the holder is taken for gone.
        const auto holdNs = static_cast<int64_t>(kHoldMs / o.scale * 1e6);
        const int64_t from = std::max(o.aliveNs + holdNs, o.realNs);
        const int64_t to = o.aliveNs + kGoneNs;
        runNs -= std::max<int64_t>(0, std::min(realNs, to) - from);
    }
    return o.programMs + static_cast<double>(std::max<int64_t>(runNs, 0)) / 1e6 * o.scale;
}

double SharedClock::ms(int64_t realNs) const {
    return programAt(origin(), realNs);
}

double SharedClock::scale() const {
    return origin().scale;
}

double SharedClock::fastest() const {
    return value(word(page_->fastestBits).load(std::memory_order_relaxed));
}

void SharedClock::noteLate(double lateMs, int64_t realNs) {
    const auto late = static_cast<uint64_t>(std::clamp(lateMs, 0.0, 1e6) * 1e6);
    auto worst = word(page_->lateNs);
    uint64_t seen = worst.load(std::memory_order_relaxed);
    while (late > seen && !worst.compare_exchange_weak(seen, late, std::memory_order_relaxed)) {
    }
    govern(realNs);
}

void SharedClock::govern(int64_t realNs) {
    int64_t looked = word(page_->lookedNs).load(std::memory_order_relaxed);
    if (realNs - looked < kLookNs ||
        !word(page_->lookedNs).compare_exchange_strong(looked, realNs, std::memory_order_relaxed))
        return;
    const double lateMs = static_cast<double>(word(page_->lateNs).exchange(0)) / 1e6;
    const double slowest = std::min(1.0, fastest());
    const Origin o = origin();
    double scale = o.scale;
    if (lateMs * scale > kTolerableLateMs)
        scale = std::max(slowest, kTolerableLateMs / lateMs / 2.0);
    else if (lateMs * scale < kTolerableLateMs / 4.0)
        scale = std::min(fastest(), scale * 1.1);
    if (scale == o.scale)
        return;
    // The origin read above is the one to move from only while nobody moved it since.
    uint64_t sequence = o.sequence;
    if ((sequence & 1) != 0 ||
        !word(page_->sequence)
             .compare_exchange_strong(sequence, sequence + 1, std::memory_order_acquire))
        return;
    moveOrigin(sequence + 1, scale, realNs);
}

void SharedClock::setScale(double scale, int64_t realNs) {
    const uint64_t sequence = lock();
    word(page_->fastestBits).store(bits(scale), std::memory_order_relaxed);
    moveOrigin(sequence, scale, realNs);
}

void SharedClock::hold(RealNow now) {
    moveHolder(true, now);
}

void SharedClock::alive(RealNow now) {
    if (word(page_->aliveNs).load(std::memory_order_relaxed) != 0)
        moveHolder(true, now);
}

void SharedClock::release(RealNow now) {
    moveHolder(false, now);
}

void SharedClock::moveHolder(bool holds, RealNow now) {
    const uint64_t sequence = lock();
    // The instant is read with the origin locked: a reader that saw the clock stand
    // still saw it before this instant, and the time it stood still stays behind.
    const int64_t realNs = now();
    moveOrigin(sequence, value(word(page_->scaleBits).load(std::memory_order_relaxed)), realNs,
               holds ? realNs : 0);
}

uint64_t SharedClock::lock() {
    for (;;) {
        uint64_t sequence = word(page_->sequence).load(std::memory_order_relaxed);
        if ((sequence & 1) == 0 &&
            word(page_->sequence)
                .compare_exchange_weak(sequence, sequence + 1, std::memory_order_acquire))
            return sequence + 1;
        std::this_thread::yield();
    }
}

void SharedClock::moveOrigin(uint64_t sequence, double scale, int64_t realNs,
                             std::optional<int64_t> aliveNs) {
    // The program time reached now is the new origin: the clock runs on continuously.
    const Origin from = fields(sequence, std::memory_order_relaxed);
    realNs = std::max(realNs, from.realNs);
    word(page_->programBits).store(bits(programAt(from, realNs)), std::memory_order_release);
    word(page_->realNs).store(realNs, std::memory_order_release);
    word(page_->scaleBits).store(bits(scale), std::memory_order_release);
    word(page_->aliveNs).store(aliveNs.value_or(from.aliveNs), std::memory_order_release);
    word(page_->sequence).store(sequence + 1, std::memory_order_release);
}

} // namespace vetlina
