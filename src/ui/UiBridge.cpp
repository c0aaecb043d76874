#include "ui/UiBridge.h"

#include "platform/Clock.h"

#include <algorithm>
#include <chrono>

namespace vetlina {
namespace {
// How often serveUntil looks at its condition when nothing wakes it (ms of the clock).
constexpr uint32_t kServePollMs = 20;
} // namespace

UiBridge::UiBridge(Dialogs& dialogs, WindowModels& models)
    : dialogs_(dialogs), models_(models), mainThread_(std::this_thread::get_id()) {}

void UiBridge::invokeSync(const std::function<void()>& fn) {
    if (onMainThread()) {
        fn();
        return;
    }
    Invocation invocation{&fn, false, nullptr};
    std::unique_lock lock(mutex_);
    invocations_.push_back(&invocation);
    notifyWork(lock);
    lock.lock();
    workDone_.wait(lock, [&] { return invocation.done; });
    if (invocation.error)
        std::rethrow_exception(invocation.error);
}

void UiBridge::post(RunMessage message) {
    std::unique_lock lock(mutex_);
    messages_.push_back(message);
    notifyWork(lock);
}

// Wakes the main thread; unlocks, since the wake handler may take locks of its own.
void UiBridge::notifyWork(std::unique_lock<std::mutex>& lock) {
    woken_ = true;
    auto handler = wakeHandler_;
    lock.unlock();
    workQueued_.notify_all();
    if (handler)
        handler();
}

std::size_t UiBridge::serveInvocations() {
    std::size_t served = 0;
    std::unique_lock lock(mutex_);
    while (!invocations_.empty()) {
        Invocation* invocation = invocations_.front();
        invocations_.pop_front();
        lock.unlock();
        std::exception_ptr error;
        servingHandOff_ = true;
        try {
            (*invocation->fn)();
        } catch (...) {
            error = std::current_exception();
        }
        servingHandOff_ = false;
        lock.lock();
        invocation->error = error;
        invocation->done = true;
        ++served;
        workDone_.notify_all();
    }
    return served;
}

std::optional<RunMessage> UiBridge::takeMessage() {
    std::lock_guard lock(mutex_);
    if (messages_.empty())
        return std::nullopt;
    RunMessage message = messages_.front();
    messages_.pop_front();
    return message;
}

void UiBridge::discardMessages(RunMessage message) {
    std::lock_guard lock(mutex_);
    messages_.erase(std::remove(messages_.begin(), messages_.end(), message), messages_.end());
}

void UiBridge::waitForWork(uint32_t ms) {
    // The clock may run faster than real time: ms of the clock are ms / scale real ms.
    auto realWait = std::chrono::duration<double, std::milli>(ms / timeScale());
    std::unique_lock lock(mutex_);
    workQueued_.wait_for(lock, realWait,
                         [&] { return woken_ || !invocations_.empty() || !messages_.empty(); });
    woken_ = false;
}

void UiBridge::serveUntil(const std::function<bool()>& done) {
    // The main thread waits for the workers here, not on the clock.
    WaitingForOtherThreads waiting;
    for (;;) {
        serveInvocations();
        if (done())
            return;
        std::unique_lock lock(mutex_);
        // A finishing thread wakes us (Device wakes the bridge when its loop ends); the
        // bounded wait only guards against a thread that ends without doing so.
        auto realWait = std::chrono::duration<double, std::milli>(kServePollMs / timeScale());
        workQueued_.wait_for(lock, realWait, [&] { return woken_ || !invocations_.empty(); });
        woken_ = false;
    }
}

void UiBridge::wake() {
    std::unique_lock lock(mutex_);
    notifyWork(lock);
}

void UiBridge::setWakeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    wakeHandler_ = std::move(handler);
}

} // namespace vetlina
