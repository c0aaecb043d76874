// vetlina-sim CONFIG.json: the simulated telephone network with its complexes'
// modems and analyzers on RFC 2217 ports of 127.0.0.1. Events go to stdout, one
// JSON object per line; a configuration that cannot be used is one line on stderr
// and exit status 1. SIGINT or SIGTERM end the simulator (exit status 0).
#include "sim/analyzer/Zmk5.h"
#include "sim/network/Config.h"
#include "sim/network/EventLog.h"
#include "sim/network/Simulator.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string_view>

namespace {

const char* const kUsage = "usage: vetlina-sim CONFIG.json\n"
                           "       vetlina-sim -h | --help\n";

const char* const kHelp =
    "\n"
    "Simulates a telephone network on this machine for the measuring complexes: every\n"
    "station of CONFIG.json is a complex (a ZMK-5 analyzer and a Hayes modem, each an\n"
    "RFC 2217 port on 127.0.0.1, reached from Vetlina.ini as COM<n>=rfc2217://127.0.0.1:PORT)\n"
    "or an autonomous generator (a number that answers). Only \"stations\" is required;\n"
    "\"channels\", \"faults\", \"rates\" and \"timing\" shape the lines, the faults and the\n"
    "times (see the user guide).\n"
    "\n"
    "Events go to stdout, one JSON object per line. VETLINA_TIME_SCALE=N runs the\n"
    "clock N times faster than real time. SIGINT or SIGTERM end the simulator.\n"
    "Exit status: 0 after such an end, 1 for a configuration that cannot be used (one\n"
    "line on stderr), 2 for a wrong command line.\n";

std::atomic<bool> stopRequested{false};

extern "C" void onSignal(int) {
    stopRequested.store(true, std::memory_order_release);
}

} // namespace

int main(int argc, char** argv) {
    using namespace vetlina::sim;
    if (argc == 2 && (std::string_view(argv[1]) == "-h" || std::string_view(argv[1]) == "--help")) {
        std::cout << kUsage << kHelp;
        return std::cout.flush() ? 0 : 1;
    }
    if (argc != 2) {
        std::fputs(kUsage, stderr);
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

    EventLog log(&std::cout);
    Simulator simulator(
        *config, log,
        {.analyzerFactory = makeZmk5, .generatorProgramme = config->generatorProgramme});
    if (!simulator.start(error)) {
        std::fprintf(stderr, "vetlina-sim: %s\n", error.c_str());
        return 1;
    }
    simulator.run(stopRequested);
    return 0;
}
