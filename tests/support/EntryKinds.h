// The measurement kinds of a scenario entry by their times (a kind with time 0 is not
// measured) and its parameters by their selection flags: one list of the nine time
// fields and one of the forty flags, for the tests that enable or disable them.
#pragma once

#include "scenario/ScenarioEntry.h"

namespace vetlina::test {

// Sets the time of every measurement kind (0 disables them all).
inline void setEveryKindTime(ScenarioEntry& e, double seconds) {
    for (auto* t : {&e.SinTime, &e.O132Time, &e.O131Time, &e.MTTSTime, &e.O42Time, &e.ImpTime,
                    &e.BlkTime, &e.EchoTime, &e.DiscrTime})
        *t = seconds;
}

// Sets every selection flag of the entry's parameters (0 clears them all: the entry
// measures nothing until a test selects something).
inline void setEverySelection(ScenarioEntry& e, uint8_t on) {
    for (uint8_t* flag :
         {&e.sinSNROn,    &e.sinSNRpsOn,  &e.sinJitPhOn,  &e.sinJitAmOn,   &e.sinShiftOn,
          &e.sinPulPrcOn, &e.sinPulCntOn, &e.sinPulRelOn, &e.sinIntPrcOn,  &e.sinIntCntOn,
          &e.sinIntRelOn, &e.sinSumPrcOn, &e.sinSumCntOn, &e.sinSumRelOn,  &e.sinHitPhOn,
          &e.sinHitAmOn,  &e.sinModOn,    &e.sinAttOn,    &e.sinDis2On,    &e.sinDis3On,
          &e.sinDis23On,  &e.o132SNROn,   &e.o132SNRpsOn, &e.o132JitPhOn,  &e.o132JitAmOn,
          &e.o132ShiftOn, &e.o131SNROn,   &e.blkNoiseOn,  &e.blkNoisePsOn, &e.blkNoiseSelOn,
          &e.echoTalkOn,  &e.echoListOn,  &e.impImpedOn,  &e.impCapacOn,   &e.mttAttOn,
          &e.mttDelOn,    &e.o42Dis2On,   &e.o42Dis3On,   &e.o42Dis23On,   &e.disPassOn})
        *flag = on;
}

// Clears every selection flag of the entry.
inline void clearEverySelection(ScenarioEntry& e) {
    setEverySelection(e, 0);
}

} // namespace vetlina::test
