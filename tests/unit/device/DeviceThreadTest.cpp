// Device threads: the suspended start, the terminate request, the command hand-over
// between threads and the hand-offs to the main thread. Run under ThreadSanitizer.
#include "ScopedGlobals.h"
#include "TestUi.h"
#include "device/Device.h"
#include "platform/Clock.h"

#include <atomic>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

namespace vetlina {
namespace {

using ::testing::ElementsAre;

// A loop like the workers': one pass per command, ending on the terminate request.
class LoopDevice : public Device {
public:
    using Device::Device;
    std::atomic<int> passes{0};
    std::atomic<int> steps{0};

    void Execute() override {
        while (!Terminated()) {
            ++passes;
            int32_t command = this->command();
            if (command == 5) {
                showProtocolLine("line one");
                SetStateText("state");
                ShowCounter(RunCounter::ZmkRecvBadBlk, 7);
                showProtocolLine("line two");
                ++steps;
                SetCommand(0);
            }
            sleepMs(1);
        }
    }
};

TEST(DeviceThreadTest, NothingRunsBeforeResume) {
    test::TestUi ui;
    LoopDevice device(ui.bridge, nullptr);
    sleepMs(20);
    EXPECT_EQ(device.passes.load(), 0);
    EXPECT_FALSE(device.Started());
    EXPECT_FALSE(device.Finished());
    device.WaitFor(); // never started: returns at once
}

TEST(DeviceThreadTest, TerminateEndsTheLoopAndResumeStartsOnlyOnce) {
    test::TestUi ui;
    LoopDevice device(ui.bridge, nullptr);
    device.Resume();
    device.Resume();
    ui.bridge.serveUntil([&] { return device.passes.load() > 3; });
    device.Terminate();
    ui.bridge.serveUntil([&] { return device.Finished(); });
    device.WaitFor();
    EXPECT_TRUE(device.Finished());
    EXPECT_TRUE(device.Terminated());
}

TEST(DeviceThreadTest, HandOffsFromTheWorkerRunOnTheMainThreadInOrder) {
    test::TestUi ui;
    std::thread::id mainId = std::this_thread::get_id();
    std::vector<std::thread::id> appliedOn;
    ui.models.changed = [&](ModelPart) { appliedOn.push_back(std::this_thread::get_id()); };
    LoopDevice device(ui.bridge, nullptr);
    device.Resume();
    device.SetCommand(5);
    ui.bridge.serveUntil([&] { return device.steps.load() == 1; });
    device.SetCommand(Device::kStopCommand);
    device.Terminate();
    ui.bridge.serveUntil([&] { return device.Finished(); });
    device.WaitFor();
    EXPECT_THAT(ui.protocolLines(), ElementsAre("line one", "line two"));
    EXPECT_EQ(ui.models.run.stateLabel, "state");
    EXPECT_EQ(ui.models.run.counter(RunCounter::ZmkRecvBadBlk), 7);
    ASSERT_EQ(appliedOn.size(), 4u);
    for (auto id : appliedOn)
        EXPECT_EQ(id, mainId);
}

TEST(DeviceThreadTest, LongSleepEndsSoonAfterTheTerminateRequest) {
    test::TestUi ui;
    test::ScopedTimeScale scale(20.0);
    std::atomic<int> result{-1};
    std::atomic<bool> sleeping{false};
    std::atomic<uint32_t> slept{0};
    class Sleeper : public Device {
    public:
        using Device::Device;
        std::function<void()> body;
        void Execute() override { body(); }
    } sleeper(ui.bridge, nullptr);
    sleeper.body = [&] {
        uint32_t start = tickMs();
        sleeping = true;
        result = sleeper.sleepUnlessTerminated(600000) ? 1 : 0;
        slept = tickMs() - start;
    };
    sleeper.Resume();
    // The request comes once the sleeper sleeps (or is about to).
    ui.bridge.serveUntil([&] { return sleeping.load(); });
    sleeper.Terminate();
    ui.bridge.serveUntil([&] { return sleeper.Finished(); });
    sleeper.WaitFor();
    EXPECT_EQ(result.load(), 0);
    // Not the ten minutes asked for (30 s of real time): the bound is the sleep itself,
    // which a slow machine cannot reach by being slow.
    EXPECT_LT(slept.load(), 600000u);

    // Without the request the whole time is slept.
    Sleeper awake(ui.bridge, nullptr);
    uint32_t start = tickMs();
    EXPECT_TRUE(awake.sleepUnlessTerminated(400));
    EXPECT_GE(tickMs() - start, 400u);
}

TEST(DeviceThreadTest, StopWinsOverAConcurrentCommand) {
    test::TestUi ui;
    for (int round = 0; round < 50; ++round) {
        LoopDevice device(ui.bridge, nullptr);
        std::atomic<bool> go{false};
        std::thread steering([&] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < 200; ++i)
                device.SetCommand(i % 7 + 1);
        });
        std::thread stopping([&] {
            while (!go.load())
                std::this_thread::yield();
            device.SetCommand(Device::kStopCommand);
        });
        go = true;
        steering.join();
        stopping.join();
        EXPECT_EQ(device.command(), Device::kStopCommand) << "round " << round;
    }
}

} // namespace
} // namespace vetlina
