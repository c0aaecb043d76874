// What one analyzer's meter hears: the far generator's signal through the channel
// model of the call, the own generator where the line interface lets the meter hear
// it, and the line's noise, rendered sample by sample at the meter's rate in line
// units (Signals.h).
#pragma once

#include "sim/AnalyzerLine.h"
#include "sim/BandNoise.h"
#include "sim/ChannelModel.h"
#include "sim/Signals.h"
#include "sim/Zmk5Generator.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>

namespace vetlina::sim {

class EventLog;

// What the analyzer's line interface connects, from its line mode.
struct LineConnection {
    bool line = false;      // generator and meter are on the line (the line is held)
    bool ownDirect = false; // the meter hears its own generator at the line terminals
    enum class Divider { None, Reference, Measure };
    Divider divider = Divider::None; // the impedance divider is in circuit
    bool gain = false;               // the input gain (which also sets the divider's R_in)

    bool operator==(const LineConnection&) const = default;
};

class ChannelPath {
public:
    // log and station: where a channel model that cannot be read is reported.
    ChannelPath(EventLog* log, std::string station);

    // Adds samples first .. first + out.size() - 1 of the meter's input to out.
    void render(int64_t first, std::span<double> out, const std::optional<FarEnd>& far,
                const Zmk5Generator& own, const LineConnection& connection);

private:
    const DirectionModel& directionOf(const FarEnd& far);
    void follow(int64_t first, const std::optional<FarEnd>& far, const LineConnection& connection);

    EventLog* log_;
    std::string station_;
    std::map<const ChannelConfig*, std::optional<ChannelModel>> models_;
    DirectionModel ideal_;

    // The far signal as it arrives, and what it was made from.
    bool farPresent_ = false;
    GeneratorSignal farSignal_;
    const ChannelConfig* farChannel_ = nullptr;
    bool farReversed_ = false;
    ToneBank farTones_;
    std::unique_ptr<BandNoise> noise_;
    const DirectionModel* direction_ = nullptr;
};

} // namespace vetlina::sim
