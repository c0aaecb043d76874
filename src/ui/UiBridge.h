// How the core reaches the front end (the Qt windows or the headless runner) without
// calling it: synchronous hand-offs to the main thread, the run messages for the run
// window, the message boxes, and the window models.
//
// The main thread is the thread that created the bridge. Its event loop serves the
// bridge: serveInvocations() runs the queued hand-offs, takeMessage() gives the queued
// run messages. A front end with an event loop of its own (Qt) installs a wake handler
// that schedules a serve; the headless runner blocks in waitForWork().
#pragma once

#include "platform/Dialogs.h"
#include "ui/RunMessages.h"
#include "ui/WindowModels.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace vetlina {

class UiBridge {
public:
    UiBridge(Dialogs& dialogs, WindowModels& models);
    UiBridge(const UiBridge&) = delete;
    UiBridge& operator=(const UiBridge&) = delete;

    bool onMainThread() const { return std::this_thread::get_id() == mainThread_; }

    // Runs fn on the main thread and returns once it has run: inline when called on the
    // main thread, else queued for the main thread while the caller waits. This is the
    // one way a worker thread touches a window model.
    void invokeSync(const std::function<void()>& fn);

    // Queues a run message for the run window (any thread).
    void post(RunMessage message);

    // Main thread: runs every queued hand-off; returns how many ran.
    std::size_t serveInvocations();
    // Main thread: the oldest queued run message.
    std::optional<RunMessage> takeMessage();
    // Main thread: drops every queued message of this code (stale ends of a finished run).
    void discardMessages(RunMessage message);
    // Main thread: blocks until a hand-off or a message is queued, wake() is called, or ms
    // milliseconds of the clock have passed.
    void waitForWork(uint32_t ms);
    // Main thread: serves hand-offs until done() is true. Teardown waits for the worker
    // threads this way, so that a worker inside a hand-off can always finish.
    void serveUntil(const std::function<bool()>& done);

    // Main thread: true while a worker's hand-off runs, that is while the worker that
    // asked for it waits (what that worker wrote before it may be read safely).
    bool servingHandOff() const { return servingHandOff_; }

    // Any thread: wakes waitForWork (and calls the wake handler).
    void wake();
    // Called from any thread whenever work is queued or wake() is called.
    void setWakeHandler(std::function<void()> handler);

    Dialogs& dialogs() { return dialogs_; }
    WindowModels& models() { return models_; }

private:
    struct Invocation {
        const std::function<void()>* fn;
        bool done = false;
        std::exception_ptr error; // what fn threw, thrown again on the invoking thread
    };

    void notifyWork(std::unique_lock<std::mutex>& lock);

    Dialogs& dialogs_;
    WindowModels& models_;
    std::thread::id mainThread_;

    std::mutex mutex_;
    std::condition_variable workQueued_; // main thread waits for work
    std::condition_variable workDone_;   // workers wait for their hand-off
    std::deque<Invocation*> invocations_;
    std::deque<RunMessage> messages_;
    bool woken_ = false;
    bool servingHandOff_ = false; // main thread only
    std::function<void()> wakeHandler_;
};

} // namespace vetlina
