// What several benchmarks need around the code they measure: message boxes that
// answer nothing, and the tests' helpers they share: a device whose thread does nothing
// of its own (the benchmark drives its operations directly) and the entry's flags.
#pragma once

#include "EntryKinds.h"
#include "IdleDevice.h"
#include "platform/Dialogs.h"

namespace vetlina::bench {

class SilentDialogs : public Dialogs {
public:
    void showMessage(const std::string&, const std::string&, DialogIcon) override {}
    DialogAnswer ask(const std::string&, const std::string&, DialogIcon, DialogButtons) override {
        return DialogAnswer::No;
    }
};

using test::IdleDevice;

} // namespace vetlina::bench
