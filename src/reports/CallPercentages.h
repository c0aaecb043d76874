// The call outcomes of a cycle as percentages of the calls made: НУС (no connection),
// НУВ (no interaction) and Отб (connection broken). The data files carry them under
// "Busy", "Carr" and "Break"; the evaluation, the passport and the summary table show
// them.
#pragma once

#include "scenario/ScenarioEntry.h"

namespace vetlina {

struct CallPercentages {
    float busy = 0; // НУС
    float carr = 0; // НУВ
    float brk = 0;  // Отб
};

// 100 x outcome count / calls made; all 0 while no call has been made.
inline CallPercentages callPercentages(const ScenarioEntry& entry) {
    CallPercentages p;
    const int32_t calls = entry.Calls.get();
    if (calls <= 0)
        return p;
    const double scale = 100.0 / calls;
    p.busy = static_cast<float>(entry.FailNUS.get() * scale);
    p.carr = static_cast<float>(entry.FailNUV.get() * scale);
    p.brk = static_cast<float>(entry.FailOtb.get() * scale);
    return p;
}

} // namespace vetlina
