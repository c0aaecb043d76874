// vetlina-sim as a process: ports from its event log, a call between two of its
// modems, and its end on SIGTERM.
#include "SimTestSupport.h"
#include "TempFolder.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

extern char** environ;

namespace vetlina::sim::test {
namespace {

class SimProcess {
public:
    SimProcess(const std::string& config, const std::string& output) : output_(output) {
        std::string command = "VETLINA_TIME_SCALE=50 exec " + std::string(VETLINA_BINARY_DIR) +
                              "/src/sim/vetlina-sim " + config + " > " + output;
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
    }
    ~SimProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::vector<nlohmann::json> events() const {
        std::vector<nlohmann::json> events;
        std::istringstream lines(readWholeFile(output_).value_or(""));
        for (std::string line; std::getline(lines, line);)
            events.push_back(nlohmann::json::parse(line));
        return events;
    }
    uint16_t port(const std::string& station, const std::string& device) const {
        for (const auto& e : events())
            if (e["event"] == "listening" && e["station"] == station && e["device"] == device)
                return e["port"].get<uint16_t>();
        return 0;
    }
    // Sends SIGTERM and waits (real time) for the exit status.
    int stop() {
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 500 && !exited_; ++i) {
            exited_ = waitpid(pid_, &status, WNOHANG) == pid_;
            if (!exited_)
                usleep(10000);
        }
        return exited_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool running() const { return pid_ > 0; }

private:
    std::string output_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

// Waits in real time, the simulator running on its own.
bool waitReal(const std::function<bool()>& condition, int ms) {
    for (int waited = 0; waited < ms; waited += 5) {
        if (condition())
            return true;
        usleep(5000);
    }
    return condition();
}

TEST(SimProcess, TwoModemsConnectThroughTheSimulatorAndItStopsOnSigterm) {
    vetlina::test::TempFolder folder;
    folder.write("net.json", network().dump());
    SimProcess sim(folder.file("net.json"), folder.file("events.jsonl"));
    ASSERT_TRUE(sim.running());
    ASSERT_TRUE(waitReal([&] { return sim.port("B", "analyzer") != 0; }, 5000));
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

} // namespace
} // namespace vetlina::sim::test
