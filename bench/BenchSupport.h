// What several benchmarks need around the code they measure: message boxes that
// answer nothing, and a device whose thread does nothing of its own (the benchmark
// drives its operations directly).
#pragma once

#include "device/Device.h"
#include "platform/Dialogs.h"

namespace vetlina::bench {

class SilentDialogs : public Dialogs {
public:
    void showMessage(const std::string&, const std::string&, DialogIcon) override {}
    DialogAnswer ask(const std::string&, const std::string&, DialogIcon, DialogButtons) override {
        return DialogAnswer::No;
    }
};

class IdleDevice : public Device {
public:
    using Device::Device;

protected:
    void Execute() override {}
};

} // namespace vetlina::bench
