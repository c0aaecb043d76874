// vetlina-sim as a process: ports from its event log, a call between two of its
// modems, and its end on SIGTERM.
#include "SimProcess.h"

#include "SimTestSupport.h"
#include "TempFolder.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/SharedClock.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

namespace vetlina::sim::test {
namespace {

using vetlina::test::SimProcess;
using vetlina::test::waitReal;

TEST(SimProcess, TwoModemsConnectThroughTheSimulatorAndItStopsOnSigterm) {
    vetlina::test::TempFolder folder;
    SimProcess sim(network(), folder.path(), 50);
    ASSERT_TRUE(sim.running());
    ASSERT_NE(sim.port("B", "analyzer"), 0);
    PortClient a, b;
    ASSERT_TRUE(a.connect(sim.port("A", "modem")));
    ASSERT_TRUE(b.connect(sim.port("B", "modem")));
    a.write("ATD1002\r\n");
    ASSERT_TRUE(waitReal(
        [&] {
            a.service();
            b.service();
            return a.data().find("20\r") != std::string::npos &&
                   b.data().find("20\r") != std::string::npos;
        },
        5000))
        << a.data() << " / " << b.data();
    a.take();
    b.write(std::string("\xff\x00\x0d", 3));
    ASSERT_TRUE(waitReal(
        [&] {
            a.service();
            return a.data().size() >= 3;
        },
        2000));
    EXPECT_EQ(a.data(), std::string("\xff\x00\x0d", 3));
    EXPECT_EQ(sim.stop(), 0);
    auto events = sim.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["event"], "stopped");
    for (const auto& e : events) {
        EXPECT_TRUE(e.contains("time") && e.contains("tick") && e.contains("station") &&
                    e.contains("event"))
            << e.dump();
    }
}

TEST(SimProcess, TheSharedClockStandsStillWhileTheSimulatorIsHeldOffTheProcessor) {
    constexpr double kScale = 10.0;
    vetlina::test::TempFolder folder;
    SimProcess sim(network(), folder.path(), kScale,
                   vetlina::test::SimClock::SharedWithThisProcess);
    ASSERT_TRUE(sim.running());
    // It holds the clock from its start on.
    ASSERT_TRUE(waitReal([&] { return !sim.events("started").empty(); }, 10000));
    // Held off: a program's wait on the instruments would have run out in the meantime,
    // with nobody there to answer it.
    ASSERT_EQ(kill(sim.pid(), SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(waitpid(sim.pid(), &status, WUNTRACED), sim.pid());
    ASSERT_TRUE(WIFSTOPPED(status));
    const uint32_t stopped = tickMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the fault: 3 s of the clock
    const uint32_t later = tickMs();
    // At most the hold past the simulator's last round, which came before `stopped`.
    EXPECT_LE(later - stopped, static_cast<uint32_t>(SharedClock::kHoldMs) + 1);
    ASSERT_EQ(kill(sim.pid(), SIGCONT), 0);
    // Back on the processor: the clock runs on.
    EXPECT_TRUE(waitReal([&] { return tickMs() - later > 100; }, 5000));
    EXPECT_EQ(sim.stop(), 0);
}

} // namespace
} // namespace vetlina::sim::test
