// The window messages of a run, posted to the run window with both parameters 0.
#pragma once

#include <cstdint>

namespace vetlina {

enum RunMessage : int32_t {
    MSG_ACTIVE_START = 1428,   // active start of the scenario
    MSG_ACTIVE_RESTART = 1430, // active restart: the statistics of the entries continue
    MSG_PASSIVE_START = 1432,  // passive start: wait for calls
    MSG_RUN_END = 1438,        // a condition that ends the run: teardown without the closing lines
};

} // namespace vetlina
