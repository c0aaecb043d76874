// The UI bridge between the worker threads and the main thread. Run under
// ThreadSanitizer.
#include "TestUi.h"
#include "platform/Clock.h"
#include "ui/UiBridge.h"

#include <atomic>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace vetlina {
namespace {

using ::testing::ElementsAre;

TEST(UiBridgeThreadTest, InvokeOnTheMainThreadRunsInline) {
    test::TestUi ui;
    int ran = 0;
    ui.bridge.invokeSync([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(ui.bridge.serveInvocations(), 0u);
}

TEST(UiBridgeThreadTest, WorkerWaitsUntilTheMainThreadHasRunItsHandOff) {
    test::TestUi ui;
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        ui.bridge.invokeSync([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    sleepMs(30);
    EXPECT_FALSE(returned.load());
    ui.bridge.serveUntil([&] { return returned.load(); });
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(UiBridgeThreadTest, WhatAHandOffThrowsReachesTheWorker) {
    test::TestUi ui;
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            ui.bridge.invokeSync([] { throw std::runtime_error("update failed"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
    });
    ui.bridge.serveUntil([&] { return caught.load(); });
    worker.join();
    EXPECT_TRUE(caught.load());
}

TEST(UiBridgeThreadTest, MessagesArriveInOrderAndWakeTheMainThread) {
    test::TestUi ui;
    std::atomic<int> woken{0};
    ui.bridge.setWakeHandler([&] { ++woken; });
    std::thread worker([&] {
        ui.bridge.post(MSG_PASSIVE_START);
        ui.bridge.post(MSG_RUN_END);
    });
    worker.join();
    ui.bridge.waitForWork(60000); // returns at once: messages are queued
    EXPECT_GE(woken.load(), 2);
    EXPECT_EQ(ui.bridge.takeMessage(), MSG_PASSIVE_START);
    EXPECT_EQ(ui.bridge.takeMessage(), MSG_RUN_END);
    EXPECT_EQ(ui.bridge.takeMessage(), std::nullopt);
}

TEST(UiBridgeThreadTest, DiscardDropsOnlyThatMessage) {
    test::TestUi ui;
    ui.bridge.post(MSG_RUN_END);
    ui.bridge.post(MSG_ACTIVE_START);
    ui.bridge.post(MSG_RUN_END);
    ui.bridge.discardMessages(MSG_RUN_END);
    EXPECT_THAT(ui.takeMessages(), ElementsAre(MSG_ACTIVE_START));
}

TEST(UiBridgeThreadTest, ManyWorkersHandOffConcurrently) {
    test::TestUi ui;
    constexpr int kWorkers = 4, kEach = 200;
    std::atomic<int> finished{0};
    int counter = 0; // touched only on the main thread, inside the hand-offs
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&] {
            for (int i = 0; i < kEach; ++i)
                ui.bridge.invokeSync([&] { ++counter; });
            ++finished;
        });
    ui.bridge.serveUntil([&] { return finished.load() == kWorkers; });
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(counter, kWorkers * kEach);
}

} // namespace
} // namespace vetlina
