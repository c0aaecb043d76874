#include "analyzer/MeterState.h"

namespace vetlina {

void MeterState::adoptSine(int bin) {
    codes = {bin, bin, bin};
    restartRequested = bin;
}

void MeterState::reset() {
    samplePosition = 0;
    frameTag = 0;
    frameType = 0;
    frameOverload = false;
    rangeState = kInRange;
    codes = {0, 0, 0};
    noiseBandwidth = 25.0;
    meterTable.fill(kNotMeasured);
    levelCount = 0;
    levelMean = 0.0;
    levelM2 = 0.0;
}

} // namespace vetlina
