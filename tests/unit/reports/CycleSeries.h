// What the evaluation tests share: an entry that measures nothing until a test selects
// what it needs, and the statistics of a session put into the entry as the accumulation
// would (the test plays the data files' part).
#pragma once

#include "EntryKinds.h"

namespace vetlina::test {

// A default entry with every selection flag off (the times stay at their defaults).
inline ScenarioEntry quietEntry() {
    ScenarioEntry e = defaultEntry(0.0);
    clearEverySelection(e);
    return e;
}

// One session's value of a quantity: the last value, and the sums of a present one.
inline void addValue(StatRef item, double x) {
    item.last = static_cast<float>(x);
    if (x > -900) {
        item.sum = item.sum.get() + x;
        item.sumSq = item.sumSq.get() + x * x;
    }
}

template <typename Block>
void countSession(Block& block) {
    block.count = block.count.get() + 1;
}

} // namespace vetlina::test
