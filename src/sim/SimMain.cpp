// vetlina-sim CONFIG.json: the simulated telephone network with its complexes'
// modems and analyzers on RFC 2217 ports of 127.0.0.1. Events go to stdout, one
// JSON object per line; a configuration that cannot be used is one line on stderr
// and exit status 1. SIGINT or SIGTERM end the simulator (exit status 0).
#include "sim/AutonomousGenerator.h"
#include "sim/Config.h"
#include "sim/EventLog.h"
#include "sim/Simulator.h"
#include "sim/Zmk5.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onSignal(int) {
    stopRequested.store(true, std::memory_order_release);
}

} // namespace

int main(int argc, char** argv) {
    using namespace vetlina::sim;
    if (argc != 2) {
        std::fprintf(stderr, "usage: vetlina-sim CONFIG.json\n");
        return 2;
    }
    std::string error;
    auto config = loadConfig(argv[1], error);
    if (!config) {
        std::fprintf(stderr, "vetlina-sim: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    auto programme = prepareAnalyzerSide(*config, error);
    if (!programme) {
        std::fprintf(stderr, "vetlina-sim: %s\n", error.c_str());
        return 1;
    }

    EventLog log(&std::cout);
    Simulator simulator(*config, log,
                        {.analyzerFactory = makeZmk5, .generatorProgramme = *programme});
    if (!simulator.start(error)) {
        std::fprintf(stderr, "vetlina-sim: %s\n", error.c_str());
        return 1;
    }
    simulator.run(stopRequested);
    return 0;
}
