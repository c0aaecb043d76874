#include "cli/StopSignals.h"

#include <pthread.h>

namespace vetlina {
namespace {

// Ends the watcher; blocked and waited for like the stop signals, never delivered.
constexpr int kWatcherEnd = SIGUSR1;

} // namespace

StopSignals::StopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, kWatcherEnd);
    pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previousPipe_);
    watcher_ = std::thread([this] { watch(); });
}

StopSignals::~StopSignals() {
    stopping_.store(true, std::memory_order_release);
    pthread_kill(watcher_.native_handle(), kWatcherEnd);
    watcher_.join();
    if (keepBlocked_) {
        sigaddset(&previousMask_, SIGINT);
        sigaddset(&previousMask_, SIGTERM);
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    sigaction(SIGPIPE, &previousPipe_, nullptr);
}

void StopSignals::setOnSignal(std::function<void()> onSignal) {
    std::lock_guard lock(mutex_);
    onSignal_ = std::move(onSignal);
}

void StopSignals::watch() {
    for (;;) {
        int signal = 0;
        if (sigwait(&signals_, &signal) != 0)
            continue;
        if (signal == kWatcherEnd) {
            if (stopping_.load(std::memory_order_acquire))
                return;
            continue;
        }
        requested_.store(true, std::memory_order_release);
        // Under the lock: once setOnSignal(nullptr) has returned, the callback is not
        // running and never runs again, so what it reaches may go.
        std::lock_guard lock(mutex_);
        if (onSignal_)
            onSignal_();
    }
}

} // namespace vetlina
