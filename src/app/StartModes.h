// The three ways a run starts: what the run window's state label says, how the
// scenario entries are prepared, and the role the modem thread takes.
#pragma once

#include "device/WorkerThreads.h"
#include "ui/RunMessages.h"

#include <optional>
#include <string>

namespace vetlina {

class Scenario;

enum class StartMode {
    Active,  // active start: every entry begins its series anew
    Restart, // active restart: the series and statistics of the entries continue
    Passive, // passive start: answer calls
};

// The mode a start message asks for; nullopt for another message.
std::optional<StartMode> startModeOf(RunMessage message);
RunMessage startMessage(StartMode mode);

// A scenario file's name without folder as text of the protocol (cp1251). File names
// on this system are UTF-8: they are converted, a character the code page lacks
// becoming "?"; a name that is not UTF-8 is kept byte for byte.
std::string scenarioNameText(const std::string& scenarioFileName);

// The state label at start (cp1251): "Активный старт, отработка сценария " or
// "Активный рестарт, отработка сценария " + the scenario's file name without folder, or
// "Пассивный старт".
std::string startText(StartMode mode, const std::string& scenarioFileName);

// Calling for both active modes, answering (idle) for the passive one.
ModemRole startRole(StartMode mode);

// Prepares every entry of the scenario for the run. Active start: NextTime := BegTime,
// and the series begins anew (Finished, SeriesTime, SessionsDone, the four run
// counters, the call counters and both evaluation counters := 0). Active restart:
// NextTime := BegTime and the four run counters := 0; the rest is kept, so the
// statistics continue. Passive start: nothing.
void prepareEntries(Scenario& scenario, StartMode mode);

} // namespace vetlina
