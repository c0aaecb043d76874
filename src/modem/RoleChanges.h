// How the side the modem thread plays changes when a session, a series or a wait for a
// call ends, and which step follows: decided from the role and the outcome alone, so
// that the whole table can be checked apart from the thread.
#pragma once

#include "device/ModemCommands.h"
#include "device/WorkerThreads.h"

namespace vetlina {

// The role and the step that follow an outcome, and what else the step must do.
struct RoleChange {
    ModemRole role;
    ModemCommand next;
    // The scenario's entries are worked from the first on (a complex that answered a
    // series while it was calling goes back to its own calls).
    bool backToFirstEntry = false;
    // The series of the answered caller is given up (it did not call again in time).
    bool seriesAbandoned = false;
    // The entry being called is dialled again (a caller's wait between calls ended).
    bool redial = false;

    bool operator==(const RoleChange&) const = default;
};

// The caller's scenario has come to an answering complex: it now serves that caller,
// in its own idle answering or in the middle of its own calls.
ModemRole roleAfterScenarioReceived(ModemRole role);

// A session's result exchange is through (the line let go). While the series goes on
// nothing changes; once it is finished the complex goes back to what it was before the
// series: calling between calls, or answering idle.
RoleChange roleAfterSession(ModemRole role, bool seriesFinished);

// The wait for a call ended without one (the limit of the role has passed).
RoleChange roleAfterNoCall(ModemRole role);

} // namespace vetlina
