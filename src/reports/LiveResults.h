// The result records the analyzer accumulates into during a pass, as the run keeps them
// live: the analyzer thread fills them (analyzer/Results.h), the session exchanges and
// files them, the statistics of a cycle read them.
#pragma once

#include "reports/ResultRecords.h"

#include <array>
#include <cstdint>

namespace vetlina {

// How often each value that may be missing has been present since the clear: its first
// present value starts its mean. Kept beside the records, not part of their byte image.
struct ValueCounts {
    std::array<int32_t, 3> sineHarmonics{}; // dis2, dis3, dis23
    std::array<int32_t, 38> mttsAtt{};
    std::array<int32_t, 38> mttsDel{};
    std::array<int32_t, 3> o42Products{};
    std::array<int32_t, 38> impedance{};
    std::array<int32_t, 38> capacitance{};
};

// The records the analyzer accumulates into during a pass.
struct LiveResults {
    SineResult sine;
    O132Result o132;
    O131Result o131;
    MttsResult mtts;
    O42Result o42;
    ImpedanceResult impedance;
    NoiseResult noise;
    EchoResult talkerEcho;
    EchoResult listenerEcho;
    ValueCounts counts;
};

} // namespace vetlina
