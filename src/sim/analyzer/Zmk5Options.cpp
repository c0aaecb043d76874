#include "sim/analyzer/Zmk5Options.h"

#include "sim/network/ConfigReaders.h"

#include <utility>

namespace vetlina::sim {

namespace {

const std::pair<const char*, Zmk5FaultKind> kFaultNames[] = {
    {"switchedOff", Zmk5FaultKind::SwitchedOff},
    {"ackLost", Zmk5FaultKind::AckLost},
    {"blockCorrupt", Zmk5FaultKind::BlockCorrupt},
    {"noHandshakeReply", Zmk5FaultKind::NoHandshakeReply},
    {"wrongSpeedDigit", Zmk5FaultKind::WrongSpeedDigit},
    {"wrongIdentification", Zmk5FaultKind::WrongIdentification},
    {"noCalibration", Zmk5FaultKind::NoCalibration},
};

bool readFault(const nlohmann::json& j, Zmk5Fault& f, std::string& error) {
    if (!j.is_object()) {
        error = "an object is expected";
        return false;
    }
    for (const auto& [key, value] : j.items()) {
        if (key == "fromS" || key == "untilS") {
            if (!value.is_number() || value.get<double>() < 0.0) {
                error = key + ": a number of seconds is expected";
                return false;
            }
            if (key == "fromS")
                f.fromS = value.get<double>();
            else
                f.untilS = value.get<double>();
        } else if (key == "times" || key == "command" || key == "type") {
            if (!value.is_number_integer()) {
                error = key + ": a whole number is expected";
                return false;
            }
            if (key == "times")
                f.times = value.get<int>();
            else if (key == "command" && f.kind == Zmk5FaultKind::AckLost)
                f.command = value.get<int>();
            else if (key == "type" && f.kind == Zmk5FaultKind::BlockCorrupt)
                f.type = value.get<int>();
            else {
                error = key + ": not a member of this fault";
                return false;
            }
        } else if (key == "how" && f.kind == Zmk5FaultKind::BlockCorrupt) {
            if (value != "truncate" && value != "flip") {
                error = "how: \"truncate\" or \"flip\" is expected";
                return false;
            }
            f.flip = value == "flip";
        } else if (key == "digit" && f.kind == Zmk5FaultKind::WrongSpeedDigit) {
            if (!value.is_string() || value.get<std::string>().size() != 1) {
                error = "digit: one character is expected";
                return false;
            }
            f.digit = value.get<std::string>()[0];
        } else if (key == "text" && f.kind == Zmk5FaultKind::WrongIdentification) {
            if (!value.is_string()) {
                error = "text: a text is expected";
                return false;
            }
            f.text = value.get<std::string>();
        } else {
            error = key + ": not a member of this fault";
            return false;
        }
    }
    return true;
}

} // namespace

const char* zmk5FaultName(Zmk5FaultKind kind) {
    for (const auto& [name, value] : kFaultNames)
        if (value == kind)
            return name;
    return "?";
}

std::array<int16_t, 25> Zmk5Options::calibrationTable() const {
    if (calibration)
        return *calibration;
    std::array<int16_t, 25> table{};
    table[9] = static_cast<int16_t>(serialNumber);
    table[10] = static_cast<int16_t>(firmware);
    int sum = 0;
    for (int i = 0; i < 24; ++i)
        sum += table[i];
    table[24] = static_cast<int16_t>(-sum);
    return table;
}

std::optional<Zmk5Options> parseZmk5Options(const nlohmann::json& analyzer, int serialNumber,
                                            int firmware, std::string& error) {
    Zmk5Options options;
    options.serialNumber = serialNumber;
    options.firmware = firmware;
    if (analyzer.is_null())
        return options;
    if (!analyzer.is_object()) {
        error = "analyzer: an object is expected";
        return std::nullopt;
    }
    if (auto it = analyzer.find("calibration"); it != analyzer.end()) {
        if (!it->is_array() || it->size() != 25) {
            error = "calibration: 25 whole numbers are expected";
            return std::nullopt;
        }
        std::array<int16_t, 25> table{};
        for (std::size_t i = 0; i < 25; ++i) {
            const auto& v = (*it)[i];
            if (!v.is_number_integer() || v.get<int64_t>() < -32768 || v.get<int64_t>() > 32767) {
                error = "calibration[" + std::to_string(i) + "]: a 16-bit whole number is expected";
                return std::nullopt;
            }
            table[i] = static_cast<int16_t>(v.get<int>());
        }
        options.calibration = table;
    }
    if (auto it = analyzer.find("resetOnClose"); it != analyzer.end()) {
        if (!it->is_boolean()) {
            error = "resetOnClose: true or false is expected";
            return std::nullopt;
        }
        options.resetOnClose = it->get<bool>();
    }
    if (auto it = analyzer.find("seed"); it != analyzer.end()) {
        if (!it->is_number_unsigned()) {
            error = "seed: a whole number is expected";
            return std::nullopt;
        }
        options.seed = it->get<uint32_t>();
    }
    if (auto it = analyzer.find("faults"); it != analyzer.end()) {
        if (!it->is_object()) {
            error = "faults: an object is expected";
            return std::nullopt;
        }
        for (const auto& [name, value] : it->items()) {
            std::optional<Zmk5FaultKind> kind;
            for (const auto& [known, k] : kFaultNames)
                if (name == known)
                    kind = k;
            if (!kind) {
                error = "faults." + name + ": no such fault of the analyzer";
                return std::nullopt;
            }
            const bool many = value.is_array();
            const std::size_t count = many ? value.size() : 1;
            for (std::size_t i = 0; i < count; ++i) {
                Zmk5Fault fault;
                fault.kind = *kind;
                std::string inner;
                if (!readFault(many ? value[i] : value, fault, inner)) {
                    error = "faults." + name + (many ? "[" + std::to_string(i) + "]" : "") +
                            (inner.rfind("an object", 0) == 0 ? ": " : ".") + inner;
                    return std::nullopt;
                }
                options.faults.push_back(std::move(fault));
            }
        }
    }
    return options;
}

} // namespace vetlina::sim
