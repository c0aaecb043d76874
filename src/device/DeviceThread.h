// The thread base of the two worker threads of a run (the analyzer thread ZMK and
// the modem thread MODEM): a thread that is created suspended and started later by
// its owner, with a terminate request that every wait of the loop polls.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace vetlina {

class DeviceThread {
public:
    // Suspended: nothing runs until Resume().
    DeviceThread() = default;
    // The owner ends the thread (Terminate, WaitFor) before destroying the object, since
    // Execute belongs to the derived class. As a last resort a thread still running is
    // asked to end and joined here.
    virtual ~DeviceThread();
    DeviceThread(const DeviceThread&) = delete;
    DeviceThread& operator=(const DeviceThread&) = delete;

    // Starts Execute on the thread the first time it is called; later calls do nothing.
    // Called by the owner (the main thread) only.
    void Resume();
    // Asks the loop to end; Execute sees it through Terminated().
    void Terminate() { terminated_.store(true, std::memory_order_release); }
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

    // True once the thread was started and Execute has returned.
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    bool Started() const { return thread_.joinable() || Finished(); }
    // Waits until Execute has returned (at once when the thread was never started).
    void WaitFor();

    // Sleeps ms milliseconds of the clock, looking at the terminate request at least every
    // 50 ms; false (at once) when it is set. The waits of the worker loops use it so that
    // the end of a run never waits for a long pause.
    bool sleepUnlessTerminated(uint32_t ms);

protected:
    // The loop of the thread; it returns when Terminated() is seen.
    virtual void Execute() = 0;
    // Runs on the thread right after Execute has returned and Finished() became true, so
    // that an owner waiting for the end can be woken.
    virtual void OnFinished() {}

private:
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
};

} // namespace vetlina
