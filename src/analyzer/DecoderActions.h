// What the pure computation of the analyzer's data blocks (MeterComputation.h) asks of
// the measurement sequence that feeds it: the sequence implements it.
#pragma once

#include "analyzer/Encoders.h"

#include <cstdint>

namespace vetlina {

// What the decoding asks of the measurement sequence.
class DecoderActions {
public:
    virtual ~DecoderActions() = default;
    // code::InRange (1000) or code::Overload (1002).
    virtual void reportRange(int16_t report) = 0;
    // Sends a plan (meter restart, command 6, a line mode) with SendCommand; a failure
    // goes the sequence's failure path with the plan's label.
    virtual bool send(const CommandPlan& plan) = 0;
};

} // namespace vetlina
