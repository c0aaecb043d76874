// The readers of the members of CONFIG.json that belong to the analyzer side: an
// analyzer's own options and faults, a channel's model, a generator station's
// programme. Each lives beside what it reads (analyzer/Zmk5Options.cpp,
// channel/ChannelModel.cpp, exchange/AutonomousGenerator.cpp); the configuration
// (Config.cpp) calls them, and the rest of the simulator gets their plain structs
// from Config.h, without the JSON library.
#pragma once

#include "sim/analyzer/Zmk5Options.h"
#include "sim/channel/ChannelModel.h"
#include "sim/exchange/AnalyzerLine.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace vetlina::sim {

// Reads the analyzer's own members of its configuration object. On failure error
// says which member is wrong ("faults[1].kind: ...").
std::optional<Zmk5Options> parseZmk5Options(const nlohmann::json& analyzer, int serialNumber,
                                            int firmware, std::string& error);

// Reads a channel's model. On failure error names the member ("noiseDbm: ...").
std::optional<ChannelModel> parseChannelModel(const nlohmann::json& model, std::string& error);

// The programme of a "generator" object; nullopt with error when it cannot be read.
std::optional<GeneratorProgramme> autonomousProgramme(const nlohmann::json& generator,
                                                      std::string& error);

} // namespace vetlina::sim
