#include "sim/channel/ChannelModel.h"

#include "sim/network/ConfigReaders.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <set>

namespace vetlina::sim {

namespace {

struct ParseError {
    std::string text;
};

std::string text(double x) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", x);
    return buffer;
}

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw ParseError{where + ": " + what};
}

double number(const nlohmann::json& object, const char* key, double low, double high,
              const std::string& where) {
    const auto& v = object.at(key);
    if (!v.is_number())
        fail(where + key, "a number is expected");
    const double x = v.get<double>();
    if (!(x >= low && x <= high))
        fail(where + key, "must lie in " + text(low) + " .. " + text(high));
    return x;
}

// Reads the member into `value` (a double or an optional one) when the object has it;
// leaves `value` as it was when not.
template <typename Value>
void numberIf(const nlohmann::json& object, const char* key, double low, double high,
              const std::string& where, Value& value) {
    if (object.contains(key))
        value = number(object, key, low, high, where);
}

void onlyKeys(const nlohmann::json& object, const std::string& where,
              const std::set<std::string>& keys) {
    if (!object.is_object())
        fail(where.empty() ? "model" : where.substr(0, where.size() - 1), "an object is expected");
    for (const auto& [key, value] : object.items())
        if (keys.count(key) == 0)
            fail(where + key, "not a member of the channel model");
}

std::vector<std::pair<double, double>> points(const nlohmann::json& v, double low, double high,
                                              const std::string& where) {
    if (!v.is_array() || v.empty())
        fail(where, "an array of [Hz, value] pairs is expected");
    std::vector<std::pair<double, double>> out;
    for (const auto& p : v) {
        if (!p.is_array() || p.size() != 2 || !p[0].is_number() || !p[1].is_number())
            fail(where, "an array of [Hz, value] pairs is expected");
        const double hz = p[0].get<double>();
        const double value = p[1].get<double>();
        if (!(hz >= 0.0 && hz <= 6400.0) || !(value >= low && value <= high))
            fail(where, "a point outside 0 .. 6400 Hz or " + text(low) + " .. " + text(high));
        out.emplace_back(hz, value);
    }
    std::sort(out.begin(), out.end());
    for (std::size_t i = 1; i < out.size(); ++i)
        if (out[i].first == out[i - 1].first)
            fail(where, "two points at " + text(out[i].first) + " Hz");
    return out;
}

void schedule(const nlohmann::json& object, EventSchedule& s, const std::string& where) {
    if (object.contains("everyS")) {
        s.everyS = number(object, "everyS", 0.001, 1e6, where);
        s.firstS = *s.everyS;
    }
    numberIf(object, "firstS", 0.0, 1e6, where, s.firstS);
    numberIf(object, "perMinute", 0.0, 60000.0, where, s.perMinute);
    if (s.everyS && s.perMinute)
        fail(where + "everyS", "give everyS or perMinute, not both");
}

void readDirection(const nlohmann::json& o, DirectionModel& d, bool top) {
    std::set<std::string> keys = {"attenuationDb",
                                  "attenuationResponse",
                                  "groupDelayResponse",
                                  "noiseDbm",
                                  "frequencyShiftHz",
                                  "phaseJitter",
                                  "amplitudeJitter",
                                  "phaseHits",
                                  "levelHits",
                                  "impulses",
                                  "interruptions",
                                  "harmonics",
                                  "echo",
                                  "impedance",
                                  "seed"};
    if (top)
        keys.insert("reverse");
    const std::string where = top ? "" : "reverse.";
    onlyKeys(o, where, keys);
    numberIf(o, "attenuationDb", -20.0, 100.0, where, d.attenuationDb);
    if (o.contains("attenuationResponse"))
        d.attenuationResponse =
            points(o.at("attenuationResponse"), -40.0, 100.0, where + "attenuationResponse");
    if (o.contains("groupDelayResponse"))
        d.groupDelayResponse =
            points(o.at("groupDelayResponse"), -20.0, 20.0, where + "groupDelayResponse");
    numberIf(o, "noiseDbm", -120.0, 10.0, where, d.noiseDbm);
    numberIf(o, "frequencyShiftHz", -50.0, 50.0, where, d.frequencyShiftHz);
    if (o.contains("phaseJitter")) {
        const auto& j = o.at("phaseJitter");
        const std::string w = where + "phaseJitter.";
        onlyKeys(j, w, {"peakToPeakDeg", "frequencyHz"});
        numberIf(j, "peakToPeakDeg", 0.0, 180.0, w, d.phaseJitterPpDeg);
        numberIf(j, "frequencyHz", 0.1, 300.0, w, d.phaseJitterHz);
    }
    if (o.contains("amplitudeJitter")) {
        const auto& j = o.at("amplitudeJitter");
        const std::string w = where + "amplitudeJitter.";
        onlyKeys(j, w, {"peakToPeakPercent", "frequencyHz"});
        numberIf(j, "peakToPeakPercent", 0.0, 100.0, w, d.amplitudeJitterPpPercent);
        numberIf(j, "frequencyHz", 0.1, 300.0, w, d.amplitudeJitterHz);
    }
    if (o.contains("phaseHits")) {
        const auto& j = o.at("phaseHits");
        const std::string w = where + "phaseHits.";
        onlyKeys(j, w, {"deg", "everyS", "firstS", "perMinute"});
        numberIf(j, "deg", -180.0, 180.0, w, d.phaseHitDeg);
        schedule(j, d.phaseHits, w);
    }
    if (o.contains("levelHits")) {
        const auto& j = o.at("levelHits");
        const std::string w = where + "levelHits.";
        onlyKeys(j, w, {"db", "durationMs", "everyS", "firstS", "perMinute"});
        numberIf(j, "db", -40.0, 20.0, w, d.levelHitDb);
        numberIf(j, "durationMs", 0.1, 1e6, w, d.levelHitMs);
        schedule(j, d.levelHits, w);
    }
    if (o.contains("impulses")) {
        const auto& j = o.at("impulses");
        const std::string w = where + "impulses.";
        onlyKeys(j, w, {"peakDbm", "everyS", "firstS", "perMinute"});
        numberIf(j, "peakDbm", -80.0, 20.0, w, d.impulsePeakDbm);
        schedule(j, d.impulses, w);
    }
    if (o.contains("interruptions")) {
        const auto& j = o.at("interruptions");
        const std::string w = where + "interruptions.";
        onlyKeys(j, w, {"durationMs", "everyS", "firstS", "perMinute"});
        numberIf(j, "durationMs", 0.1, 1e6, w, d.interruptionMs);
        schedule(j, d.interruptions, w);
    }
    if (o.contains("harmonics")) {
        const auto& j = o.at("harmonics");
        const std::string w = where + "harmonics.";
        onlyKeys(j, w, {"secondPercent", "thirdPercent", "atDbm"});
        numberIf(j, "secondPercent", 0.0, 30.0, w, d.secondHarmonicPercent);
        numberIf(j, "thirdPercent", 0.0, 30.0, w, d.thirdHarmonicPercent);
        numberIf(j, "atDbm", -60.0, 10.0, w, d.harmonicsAtDbm);
    }
    if (o.contains("echo")) {
        const auto& j = o.at("echo");
        const std::string w = where + "echo.";
        onlyKeys(j, w, {"returnLossDb", "delayMs", "listenerLossDb"});
        numberIf(j, "returnLossDb", 0.0, 100.0, w, d.echoReturnLossDb);
        numberIf(j, "delayMs", 0.0, 1000.0, w, d.echoDelayMs);
        numberIf(j, "listenerLossDb", 0.0, 150.0, w, d.listenerEchoLossDb);
    }
    if (o.contains("impedance")) {
        const auto& j = o.at("impedance");
        const std::string w = where + "impedance.";
        onlyKeys(j, w, {"resistanceOhm", "capacitanceUf", "inductanceMh", "circuit"});
        d.impedanceGiven = true;
        numberIf(j, "resistanceOhm", 0.0, 1e6, w, d.impedanceOhm);
        numberIf(j, "capacitanceUf", 0.0, 1000.0, w, d.impedanceCapacitanceUf);
        numberIf(j, "inductanceMh", 0.0, 10000.0, w, d.impedanceInductanceMh);
        if (j.contains("circuit")) {
            const auto& c = j.at("circuit");
            if (c == "series")
                d.impedanceParallel = false;
            else if (c == "parallel")
                d.impedanceParallel = true;
            else
                fail(w + "circuit", "\"series\" or \"parallel\" is expected");
        }
    }
    if (o.contains("seed")) {
        if (!o.at("seed").is_number_unsigned())
            fail(where + "seed", "a whole number is expected");
        d.seed = o.at("seed").get<uint32_t>();
    }
}

} // namespace

double interpolate(const std::vector<std::pair<double, double>>& table, double x) {
    if (table.empty())
        return 0.0;
    if (x <= table.front().first)
        return table.front().second;
    if (x >= table.back().first)
        return table.back().second;
    auto it = std::upper_bound(table.begin(), table.end(), x,
                               [](double v, const auto& p) { return v < p.first; });
    const auto& [x1, y1] = *it;
    const auto& [x0, y0] = *(it - 1);
    return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
}

double DirectionModel::lossDb(double hz) const {
    return attenuationDb + interpolate(attenuationResponse, hz);
}

double DirectionModel::groupDelayS(double hz) const {
    return interpolate(groupDelayResponse, hz) * 1e-3;
}

double DirectionModel::delayPhase(double hz) const {
    if (groupDelayResponse.empty() || hz <= 0.0)
        return 0.0;
    // The integral of a piecewise-linear function: trapezoids between its corners.
    std::vector<double> corners = {0.0};
    for (const auto& [x, y] : groupDelayResponse)
        if (x > 0.0 && x < hz)
            corners.push_back(x);
    corners.push_back(hz);
    double integral = 0.0;
    for (std::size_t i = 1; i < corners.size(); ++i)
        integral += (corners[i] - corners[i - 1]) *
                    (groupDelayS(corners[i]) + groupDelayS(corners[i - 1])) / 2.0;
    return -2.0 * std::numbers::pi * integral;
}

std::optional<ChannelModel> parseChannelModel(const nlohmann::json& model, std::string& error) {
    try {
        ChannelModel result;
        readDirection(model, result.forward, true);
        result.reverse = result.forward;
        // The reverse direction has random sequences of its own unless it names a seed.
        result.reverse.seed = result.forward.seed + 0x9E3779B9u;
        if (auto it = model.find("reverse"); it != model.end())
            readDirection(*it, result.reverse, false);
        return result;
    } catch (const ParseError& e) {
        error = e.text;
        return std::nullopt;
    }
}

} // namespace vetlina::sim
