// The front end of a test: recording dialogs, the window models and the UI bridge,
// created on the test's thread (which is then the main thread of the bridge).
#pragma once

#include "RecordingDialogs.h"
#include "ScopedGlobals.h"
#include "platform/Cp1251.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vetlina::test {

struct TestUi {
    RecordingDialogs dialogs;
    WindowModels models;
    UiBridge bridge{dialogs, models};

    // The protocol window's lines in UTF-8.
    std::vector<std::string> protocolLines() const {
        std::vector<std::string> out;
        for (const auto& line : models.protocol.lines())
            out.push_back(toUtf8(line));
        return out;
    }
    // Serves the hand-offs to this (main) thread until the condition holds or realMs
    // of real time have passed; whether it holds.
    bool serveUntil(const std::function<bool()>& done, int realMs) {
        StandAside aside;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            bridge.serveInvocations();
            bridge.waitForWork(10);
        }
        bridge.serveInvocations();
        return true;
    }
    // Every run message queued so far, taken off the queue.
    std::vector<RunMessage> takeMessages() {
        std::vector<RunMessage> out;
        while (auto message = bridge.takeMessage())
            out.push_back(*message);
        return out;
    }
};

} // namespace vetlina::test
