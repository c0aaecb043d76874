// The measurement kinds of a scenario entry by their times: a kind with time 0 is not
// measured. One list of the nine time fields for the tests that enable or disable them.
#pragma once

#include "scenario/ScenarioEntry.h"

namespace vetlina::test {

// Sets the time of every measurement kind (0 disables them all).
inline void setEveryKindTime(ScenarioEntry& e, double seconds) {
    for (auto* t : {&e.SinTime, &e.O132Time, &e.O131Time, &e.MTTSTime, &e.O42Time, &e.ImpTime,
                    &e.BlkTime, &e.EchoTime, &e.DiscrTime})
        *t = seconds;
}

} // namespace vetlina::test
