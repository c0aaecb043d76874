#include "SimProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vetlina::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string simBinary() {
    return std::string(VETLINA_BINARY_DIR) + "/src/sim/vetlina-sim";
}

} // namespace

SimProcess::SimProcess(const nlohmann::json& config, const std::string& folder, double timeScale)
    : log_(folder + "/sim.log") {
    const std::string configPath = folder + "/sim.json";
    std::ofstream(configPath) << config.dump(2);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (folder + "/sim.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("VETLINA_TIME_SCALE=", 0) != 0)
            env.emplace_back(*e);
    env.push_back("VETLINA_TIME_SCALE=" + std::to_string(timeScale));
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string binary = simBinary();
    std::string configArg = configPath;
    char* argv[] = {binary.data(), configArg.data(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, envp.data()) == 0)
        pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    if (pid_ > 0)
        waitFor([](const nlohmann::json& e) { return e.value("event", "") == "started"; }, 10000);
}

SimProcess::~SimProcess() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 250; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

bool SimProcess::running() const {
    return pid_ > 0 && !events("started").empty();
}

std::vector<nlohmann::json> SimProcess::events() const {
    std::vector<nlohmann::json> out;
    std::ifstream in(log_);
    std::string line;
    while (std::getline(in, line)) {
        auto event = nlohmann::json::parse(line, nullptr, false);
        if (!event.is_discarded()) // a line being written is not whole yet
            out.push_back(std::move(event));
    }
    return out;
}

std::vector<nlohmann::json> SimProcess::events(const std::string& event,
                                               const std::string& station) const {
    std::vector<nlohmann::json> out;
    for (auto& e : events())
        if (e.value("event", "") == event && (station.empty() || e.value("station", "") == station))
            out.push_back(std::move(e));
    return out;
}

bool SimProcess::waitFor(const std::function<bool(const nlohmann::json&)>& match,
                         int realMs) const {
    auto end = Clock::now() + std::chrono::milliseconds(realMs);
    do {
        for (const auto& e : events())
            if (match(e))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < end);
    return false;
}

uint16_t SimProcess::port(const std::string& station, const std::string& device) const {
    for (const auto& e : events("listening", station))
        if (e.value("device", "") == device)
            return e.value("port", uint16_t{0});
    return 0;
}

std::string SimProcess::portsSection(const std::string& station) const {
    return "[PORTS]\nCOM1=rfc2217://127.0.0.1:" + std::to_string(port(station)) + "\n";
}

nlohmann::json simNetwork() {
    auto complex = [](const char* name, const char* number) {
        return nlohmann::json{{"name", name},
                              {"type", "complex"},
                              {"number", number},
                              {"modem",
                               {{"port", 0},
                                {"storedProfile", "M0S0=2&D2&S1V0\\N2\\V1S7=60S37=4"},
                                {"identification", std::string("Modem of ") + name}}},
                              {"analyzer", {{"port", 0}}}};
    };
    return {{"stations", {complex("A", "1001"), complex("B", "1002"), complex("C", "1003")}}};
}

} // namespace vetlina::test
