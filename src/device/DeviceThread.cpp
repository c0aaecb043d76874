#include "device/DeviceThread.h"

#include "platform/Clock.h"

#include <algorithm>

namespace vetlina {

DeviceThread::~DeviceThread() {
    if (thread_.joinable()) {
        Terminate();
        thread_.join();
    }
}

void DeviceThread::Resume() {
    if (thread_.joinable() || Finished())
        return;
    thread_ = std::thread([this] {
        Execute();
        finished_.store(true, std::memory_order_release);
        OnFinished();
    });
}

bool DeviceThread::sleepUnlessTerminated(uint32_t ms) {
    constexpr uint32_t kSlice = 50;
    uint32_t end = tickMs() + ms;
    while (!Terminated()) {
        int32_t left = ticksLeft(end, tickMs());
        if (left <= 0)
            return true;
        sleepMs(std::min<uint32_t>(static_cast<uint32_t>(left), kSlice));
    }
    return false;
}

void DeviceThread::WaitFor() {
    if (thread_.joinable())
        thread_.join();
}

} // namespace vetlina
