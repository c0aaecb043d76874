// The channel model of a pair of stations: what the line does to a signal on its way
// from one station's generator to the other station's meter. The configuration's
// "model" object of a channel (ChannelConfig::model) holds the parameters of the
// direction from the channel's first station to its second; an optional member
// "reverse" holds the members that differ for the other direction (the rest are
// the same both ways).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace vetlina::sim {

struct DirectionModel {
    double attenuationDb = 0.0;     // "attenuationDb": loss of the channel, dB
    std::optional<double> noiseDbm; // "noiseDbm": white noise in 300-3400 Hz, dBm
    uint32_t seed = 1;              // "seed": of the direction's random generators
};

struct ChannelModel {
    DirectionModel forward; // first station -> second
    DirectionModel reverse; // second -> first
    const DirectionModel& direction(bool reversed) const { return reversed ? reverse : forward; }
};

// Reads a channel's model. On failure error names the member ("noiseDbm: ...").
std::optional<ChannelModel> parseChannelModel(const nlohmann::json& model, std::string& error);

} // namespace vetlina::sim
