// A Device that runs no loop of its own: the test (or benchmark) calls its operations
// directly on its own thread.
#pragma once

#include "device/Device.h"

namespace vetlina::test {

class IdleDevice : public Device {
public:
    using Device::Device;

protected:
    void Execute() override {}
};

} // namespace vetlina::test
