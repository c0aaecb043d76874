#include "sim/ChannelModel.h"

namespace vetlina::sim {

namespace {

bool readNumber(const nlohmann::json& object, const char* key, double& value, std::string& error) {
    auto it = object.find(key);
    if (it == object.end())
        return true;
    if (!it->is_number()) {
        error = std::string(key) + ": a number is expected";
        return false;
    }
    value = it->get<double>();
    return true;
}

bool readDirection(const nlohmann::json& object, DirectionModel& d, std::string& error) {
    if (!object.is_object()) {
        error = "an object is expected";
        return false;
    }
    if (!readNumber(object, "attenuationDb", d.attenuationDb, error))
        return false;
    if (object.contains("noiseDbm")) {
        double noise = 0.0;
        if (!readNumber(object, "noiseDbm", noise, error))
            return false;
        d.noiseDbm = noise;
    }
    if (auto it = object.find("seed"); it != object.end()) {
        if (!it->is_number_unsigned()) {
            error = "seed: a whole number is expected";
            return false;
        }
        d.seed = it->get<uint32_t>();
    }
    return true;
}

} // namespace

std::optional<ChannelModel> parseChannelModel(const nlohmann::json& model, std::string& error) {
    ChannelModel result;
    if (!readDirection(model, result.forward, error))
        return std::nullopt;
    result.reverse = result.forward;
    // The reverse direction has its own random sequences unless it names a seed.
    result.reverse.seed = result.forward.seed + 0x9E3779B9u;
    if (auto it = model.find("reverse"); it != model.end()) {
        std::string inner;
        if (!readDirection(*it, result.reverse, inner)) {
            error = "reverse." + inner;
            return std::nullopt;
        }
    }
    return result;
}

} // namespace vetlina::sim
