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

#include "sim/network/ConfigReaders.h"
#include "sim/signals/Signals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace vetlina::sim {

namespace {

struct Step {
    GeneratorSignal signal;
    bool probes = false;
    double onMs = 0.0;
    double offMs = 0.0;
    double ms = 0.0;
};

std::vector<Step> defaultSteps() {
    return {
        {{signal_kind::Sine, -5.0, 1800.0}, false, 0, 0, 65000},
        {{signal_kind::Sine, -5.0, 1020.0}, false, 0, 0, 20000},
        {{signal_kind::MultiFrequency, -10.0, 0.0}, false, 0, 0, 20000},
        {{signal_kind::Sine, -5.0, 1600.0}, true, 5000, 5000, 60000},
        {{signal_kind::Silence, -200.0, 0.0}, false, 0, 0, 60000},
    };
}

double number(const nlohmann::json& o, const char* key, double low, double high,
              const std::string& where, std::string& error) {
    if (!error.empty())
        return NAN; // the first fault of a step is the one reported
    auto it = o.find(key);
    if (it == o.end()) {
        error = where + key + ": missing";
        return NAN;
    }
    if (!it->is_number() || !(it->get<double>() >= low && it->get<double>() <= high)) {
        char range[64];
        std::snprintf(range, sizeof range, "%g .. %g", low, high);
        error = where + key + ": a number in " + range + " is expected";
        return NAN;
    }
    return it->get<double>();
}

GeneratorProgramme programmeOf(std::vector<Step> steps, bool repeat) {
    double total = 0.0;
    for (const Step& s : steps)
        total += s.ms;
    auto shared = std::make_shared<const std::vector<Step>>(std::move(steps));
    return [shared, total, repeat](uint32_t msSinceAnswer) -> GeneratorSignal {
        double t = msSinceAnswer;
        if (repeat && total > 0.0)
            t = std::fmod(t, total);
        for (const Step& s : *shared) {
            if (t < s.ms) {
                if (!s.probes)
                    return s.signal;
                const double within = std::fmod(t, s.onMs + s.offMs);
                return within < s.onMs ? s.signal : GeneratorSignal{};
            }
            t -= s.ms;
        }
        return GeneratorSignal{};
    };
}

} // namespace

std::optional<GeneratorProgramme> autonomousProgramme(const nlohmann::json& generator,
                                                      std::string& error) {
    if (generator.is_null() || (generator.is_object() && generator.empty()))
        return programmeOf(defaultSteps(), false);
    if (!generator.is_object()) {
        error = "an object is expected";
        return std::nullopt;
    }
    for (const auto& [key, value] : generator.items())
        if (key != "programme" && key != "repeat") {
            error = key + ": not a member of the generator";
            return std::nullopt;
        }
    bool repeat = false;
    if (auto it = generator.find("repeat"); it != generator.end()) {
        if (!it->is_boolean()) {
            error = "repeat: true or false is expected";
            return std::nullopt;
        }
        repeat = it->get<bool>();
    }
    auto it = generator.find("programme");
    if (it == generator.end())
        return programmeOf(defaultSteps(), repeat);
    if (!it->is_array() || it->empty()) {
        error = "programme: an array of steps is expected";
        return std::nullopt;
    }
    std::vector<Step> steps;
    for (std::size_t i = 0; i < it->size(); ++i) {
        const nlohmann::json& o = (*it)[i];
        const std::string where = "programme[" + std::to_string(i) + "].";
        if (!o.is_object() || !o.contains("signal") || !o.at("signal").is_string()) {
            error = where + "signal: missing";
            return std::nullopt;
        }
        Step step;
        const std::string kind = o.at("signal").get<std::string>();
        std::vector<std::string> keys = {"signal", "seconds"};
        step.ms = number(o, "seconds", 0.001, 1e6, where, error) * 1000.0;
        if (kind == "silence") {
            step.signal = {};
        } else if (kind == "sine" || kind == "probes") {
            step.signal = {signal_kind::Sine, number(o, "levelDbm", -80.0, 10.0, where, error),
                           number(o, "frequencyHz", 100.0, 4000.0, where, error)};
            keys.insert(keys.end(), {"levelDbm", "frequencyHz"});
            if (kind == "probes") {
                step.probes = true;
                step.onMs = number(o, "onMs", 1.0, 1e6, where, error);
                step.offMs = number(o, "offMs", 1.0, 1e6, where, error);
                keys.insert(keys.end(), {"onMs", "offMs"});
            }
        } else if (kind == "multi-frequency" || kind == "O.131" || kind == "O.42") {
            const int k = kind == "multi-frequency" ? signal_kind::MultiFrequency
                          : kind == "O.131"         ? signal_kind::O131
                                                    : signal_kind::O42;
            step.signal = {k, number(o, "levelDbm", -80.0, 10.0, where, error), 0.0};
            keys.push_back("levelDbm");
        } else {
            error = where + "signal: unknown signal \"" + kind + "\"";
            return std::nullopt;
        }
        if (!error.empty())
            return std::nullopt;
        for (const auto& [key, value] : o.items())
            if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
                error = where + key + ": not a member of this step";
                return std::nullopt;
            }
        steps.push_back(step);
    }
    return programmeOf(std::move(steps), repeat);
}

} // namespace vetlina::sim
