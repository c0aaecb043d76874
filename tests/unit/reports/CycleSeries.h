// What the evaluation tests share: an entry that measures nothing until a test selects
// what it needs, and the statistics of a session put into the entry as the accumulation
// would (the test plays the data files' part).
#pragma once

#include "scenario/ScenarioEntry.h"

namespace vetlina::test {

// A default entry with every selection flag off (the times stay at their defaults).
inline ScenarioEntry quietEntry() {
    ScenarioEntry e = defaultEntry(0.0);
    for (uint8_t* flag :
         {&e.sinSNROn,    &e.sinSNRpsOn,  &e.sinJitPhOn,  &e.sinJitAmOn,   &e.sinShiftOn,
          &e.sinPulPrcOn, &e.sinPulCntOn, &e.sinPulRelOn, &e.sinIntPrcOn,  &e.sinIntCntOn,
          &e.sinIntRelOn, &e.sinSumPrcOn, &e.sinSumCntOn, &e.sinSumRelOn,  &e.sinHitPhOn,
          &e.sinHitAmOn,  &e.sinModOn,    &e.sinAttOn,    &e.sinDis2On,    &e.sinDis3On,
          &e.sinDis23On,  &e.o132SNROn,   &e.o132SNRpsOn, &e.o132JitPhOn,  &e.o132JitAmOn,
          &e.o132ShiftOn, &e.o131SNROn,   &e.blkNoiseOn,  &e.blkNoisePsOn, &e.blkNoiseSelOn,
          &e.echoTalkOn,  &e.echoListOn,  &e.impImpedOn,  &e.impCapacOn,   &e.mttAttOn,
          &e.mttDelOn,    &e.o42Dis2On,   &e.o42Dis3On,   &e.o42Dis23On,   &e.disPassOn})
        *flag = 0;
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
