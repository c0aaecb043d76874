// vetlina-sim as a process for the tests of the program: started with a configuration
// the test writes (ports 0: the simulator takes free ones and says which), its JSON
// event log read back, ended by SIGTERM. Any module's tests may stand on it.
#pragma once

#include "ScopedGlobals.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vetlina::test {

// Waits in real time for a condition, polling.
inline bool waitReal(const std::function<bool()>& condition, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Which clock the simulator runs on.
enum class SimClock {
    // Its own, at the scale given.
    Own,
    // One shared clock (VETLINA_CLOCK_FILE in the folder) for the simulator and every
    // vetlina-run started while the SimProcess lives (the variable is in this process's
    // environment until then); this process keeps a clock of its own, at its scale.
    SharedWithChildren,
    // One shared clock for the simulator and this process, whose threads talk to it:
    // this process joins the clock before the simulator starts and leaves it once the
    // simulator has stopped. A busy machine then slows both alike instead of letting one
    // fall behind the other. While it is joined, setTimeScaleForTesting sets the scale of
    // both.
    SharedWithThisProcess,
};

class SimProcess {
public:
    // Starts vetlina-sim on the configuration, its clock at the scale given, its event
    // log into `log`.
    SimProcess(const nlohmann::json& config, const std::string& folder, double scale,
               SimClock clock = SimClock::Own)
        : configPath_(folder + "/sim.json"), logPath_(folder + "/sim-events.jsonl") {
        if (clock != SimClock::Own) {
            (void)tickMs(); // this process's own clock, made before the variable is set
            clock_ = folder + "/clock";
            ::unlink(clock_.c_str());
        }
        if (clock == SimClock::SharedWithThisProcess) {
            joined_ = std::make_unique<ScopedSharedClock>(clock_, scale);
            if (!joined_->joined())
                return; // not started: running() is false
        }
        if (clock == SimClock::SharedWithChildren) {
            environment_ = true;
            const char* before = std::getenv("VETLINA_CLOCK_FILE");
            savedClock_ = before ? std::optional<std::string>(before) : std::nullopt;
            ::setenv("VETLINA_CLOCK_FILE", clock_.c_str(), 1);
        }
        atomicReplace(configPath_, config.dump(2));
        std::ostringstream command;
        if (!clock_.empty())
            command << "VETLINA_CLOCK_FILE=" << clock_ << " ";
        command << "VETLINA_TIME_SCALE=" << scale << " exec " << VETLINA_BINARY_DIR
                << "/src/sim/vetlina-sim " << configPath_ << " > " << logPath_ << " 2> " << folder
                << "/sim-errors.txt";
        const std::string text = command.str();
        const char* argv[] = {"/bin/sh", "-c", text.c_str(), nullptr};
        if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
    }
    // With `sharedClock`: SimClock::SharedWithChildren.
    SimProcess(const nlohmann::json& config, const std::string& folder, double scale,
               bool sharedClock)
        : SimProcess(config, folder, scale,
                     sharedClock ? SimClock::SharedWithChildren : SimClock::Own) {}
    ~SimProcess() {
        stop();
        joined_.reset();
        if (!environment_)
            return;
        if (savedClock_)
            ::setenv("VETLINA_CLOCK_FILE", savedClock_->c_str(), 1);
        else
            ::unsetenv("VETLINA_CLOCK_FILE");
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool running() const { return pid_ > 0 && !exited_; }
    pid_t pid() const { return pid_; }

    std::vector<nlohmann::json> events() const {
        std::vector<nlohmann::json> out;
        std::istringstream lines(readWholeFile(logPath_).value_or(""));
        for (std::string line; std::getline(lines, line);) {
            auto event = nlohmann::json::parse(line, nullptr, false);
            if (!event.is_discarded())
                out.push_back(std::move(event));
        }
        return out;
    }
    // The events of one kind (and station, when given).
    std::vector<nlohmann::json> events(const std::string& kind,
                                       const std::string& station = "") const {
        std::vector<nlohmann::json> out;
        for (auto& e : events())
            if (e.value("event", "") == kind &&
                (station.empty() || e.value("station", "") == station))
                out.push_back(e);
        return out;
    }
    // The TCP port a station's device listens on, once the simulator has said so.
    uint16_t port(const std::string& station, const std::string& device, int realMs = 10000) {
        uint16_t found = 0;
        waitReal(
            [&] {
                for (const auto& e : events("listening", station))
                    if (e.value("device", "") == device)
                        found = e["port"].get<uint16_t>();
                return found != 0;
            },
            realMs);
        return found;
    }
    // SIGTERM, and the exit status (real-time wait).
    int stop() {
        if (pid_ <= 0 || exited_)
            return status_;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 500 && !exited_; ++i) {
            exited_ = waitpid(pid_, &status, WNOHANG) == pid_;
            if (!exited_)
                usleep(10000);
        }
        if (!exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            exited_ = true;
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
    }
    const std::string& logPath() const { return logPath_; }

private:
    std::string configPath_;
    std::string logPath_;
    std::string clock_;
    bool environment_ = false; // VETLINA_CLOCK_FILE set in this process's environment
    std::optional<std::string> savedClock_;
    std::unique_ptr<ScopedSharedClock> joined_; // SimClock::SharedWithThisProcess
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
};

// A simulated complex station whose modem holds the stored profile the program writes:
// numeric results, answer on the second ring, DTR hangs up, DSR only while connected;
// ports chosen by the simulator.
inline nlohmann::json modemStation(const std::string& name, const std::string& number) {
    return nlohmann::json{{"name", name},
                          {"type", "complex"},
                          {"number", number},
                          {"modem",
                           {{"port", 0},
                            {"storedProfile", "M0S0=2&D2&S1V0\\N2\\V1S7=60S37=4"},
                            {"identification", "Modem of " + name}}},
                          {"analyzer", {{"port", 0}}}};
}

// Complexes A (1001), B (1002) and C (1003), each a modemStation.
inline nlohmann::json modemNetwork() {
    return {{"stations",
             {modemStation("A", "1001"), modemStation("B", "1002"), modemStation("C", "1003")}}};
}

inline nlohmann::json complexStation(const std::string& name, const std::string& number, int serial,
                                     int firmware,
                                     nlohmann::json analyzerOptions = nlohmann::json::object()) {
    nlohmann::json analyzer = {{"port", 0}, {"serialNumber", serial}, {"firmware", firmware}};
    analyzer.update(analyzerOptions);
    return {{"name", name},
            {"type", "complex"},
            {"number", number},
            {"modem", {{"port", 0}, {"storedProfile", "M0S0=2&D2&S1V1X4"}}},
            {"analyzer", analyzer}};
}

} // namespace vetlina::test
