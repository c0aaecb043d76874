// The fixed programme of an autonomous generator station: what it sends from the
// moment it answers a call. The default follows the measuring sequence of a complex
// that calls a generator (its range step, then sine, O.132, multi-frequency, listener
// and talker echo), counted from the answer:
//
//     0 ..  65 s   sine 1800 Hz, -5 dBm
//    65 ..  85 s   sine 1020 Hz, -5 dBm (O.132)
//    85 .. 105 s   multi-frequency comb, -10 dBm
//   105 .. 165 s   echo probes 1600 Hz, -5 dBm: 5 s on, 5 s off
//   165 .. 225 s   silence (the complex's talker echo), and silence from then on.
//
// A generator station's "generator" object may give another programme:
//   {"programme": [{"signal": "sine", "levelDbm": -5, "frequencyHz": 1800, "seconds": 65},
//                  {"signal": "probes", "levelDbm": -5, "frequencyHz": 1600,
//                   "onMs": 5000, "offMs": 5000, "seconds": 60}, ...],
//    "repeat": false}
// with "signal" one of "silence", "sine", "multi-frequency", "O.131", "O.42", "probes";
// "repeat" starts the programme again at its end instead of falling silent.
#pragma once

#include "sim/exchange/AnalyzerLine.h"
#include "sim/network/Config.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace vetlina::sim {

// The programme of a "generator" object; nullopt with error when it cannot be read.
std::optional<GeneratorProgramme> autonomousProgramme(const nlohmann::json& generator,
                                                      std::string& error);

// Checks what the analyzer side reads from the configuration (every analyzer's
// options, every channel's model, the generator programme) and gives the programme of
// the network's generator stations; nullopt with error (one line naming the member)
// when something cannot be used.
std::optional<GeneratorProgramme> prepareAnalyzerSide(const SimConfig& config, std::string& error);

// The programme of the network's generator stations. The exchange runs one programme
// for all of them: the first generator station's object gives it. nullopt with error
// ("stations[3].generator.programme[1].seconds: ...") when it cannot be read.
std::optional<GeneratorProgramme> networkGeneratorProgramme(const SimConfig& config,
                                                            std::string& error);

} // namespace vetlina::sim
