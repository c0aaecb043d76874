// SIGINT and SIGTERM as the operator's request to end the work. The signals are
// blocked in every thread and taken by a watcher thread of their own, so a signal
// never interrupts the run in the middle of a step. SIGPIPE is ignored while this
// object lives: a closed standard output (vetlina-run | head -1) must not end the run;
// the write fails with EPIPE instead, and the stream stops taking lines.
#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

namespace vetlina {

class StopSignals {
public:
    // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it creates
    // later: create this before any other thread.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Runs on the watcher thread after each signal (to wake the main thread). Setting
    // another (or none) waits until a call of the old one has returned.
    void setOnSignal(std::function<void()> onSignal);
    bool requested() const { return requested_.load(std::memory_order_acquire); }
    // The process ends with this object: SIGINT and SIGTERM stay blocked after it, so
    // that a request to end that comes while the run ends by itself (a service stopped
    // as its run finishes) is lost with the process instead of killing it, and the
    // run's own exit status stands.
    void keepBlockedToTheEnd() { keepBlocked_ = true; }

private:
    void watch();

    sigset_t signals_{};
    sigset_t previousMask_{};
    struct sigaction previousPipe_ {};
    std::atomic<bool> requested_{false};
    std::atomic<bool> stopping_{false};
    bool keepBlocked_ = false;
    std::mutex mutex_;
    std::function<void()> onSignal_;
    std::thread watcher_;
};

} // namespace vetlina
