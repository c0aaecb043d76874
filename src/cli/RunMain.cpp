// vetlina-run: the run of a complex without windows (see cli/HeadlessRun.h).
#include "app/DeviceWorkers.h"
#include "cli/HeadlessRun.h"
#include "cli/PortReports.h"
#include "cli/RunArguments.h"
#include "cli/StopSignals.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace vetlina;
    // First, before any thread exists, so that every thread keeps the signals blocked.
    StopSignals signals;
    std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = parseRunArguments(args);
    if (auto* error = std::get_if<std::string>(&parsed)) {
        std::cerr << "vetlina-run: " << *error << '\n' << runUsage();
        return kExitUsage;
    }
    if (std::get<RunArguments>(parsed).help) {
        std::cout << runHelp();
        return std::cout.flush() ? 0 : 1;
    }
    signals.keepBlockedToTheEnd();
    DeviceWorkers workers(reportingPortFactory(std::cerr));
    return runHeadless(std::get<RunArguments>(parsed), workers, signals, std::cout, std::cerr);
}
