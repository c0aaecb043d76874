#include "device/DeviceThread.h"

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

void DeviceThread::WaitFor() {
    if (thread_.joinable())
        thread_.join();
}

} // namespace vetlina
