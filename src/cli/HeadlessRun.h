// vetlina-run: the run of a complex without windows, in the current directory. The
// UI bridge is served by an event loop on the main thread; protocol-window lines go
// to `out` (UTF-8), message boxes to `err`; SIGINT, SIGTERM, --stop-after and
// --exit-when-done end the run as the operator's "Закончить работу" answered Yes.
#pragma once

#include "cli/RunArguments.h"
#include "cli/StopSignals.h"
#include "reports/RunContext.h"

#include <ostream>

namespace vetlina {

// Exit statuses of vetlina-run.
inline constexpr int kExitOperatorEnd = 0; // the operator's end (signal, --stop-after, done)
inline constexpr int kExitUsage = 2;       // a usage error, or a scenario that cannot run
inline constexpr int kExitRunEnd = 3;      // the run ended through message 1438

// Runs one run to its end and returns the exit status.
int runHeadless(const RunArguments& args, WorkerFactory& workers, StopSignals& signals,
                std::ostream& out, std::ostream& err);

} // namespace vetlina
