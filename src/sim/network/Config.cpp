#include "sim/network/Config.h"

#include "platform/Files.h"
#include "sim/modem/HayesModem.h"
#include "sim/network/ConfigReaders.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace vetlina::sim {

namespace {

using nlohmann::json;

// A configuration error: where and what. Thrown and caught inside this file only.
struct Invalid {
    std::string message; // "where: what"
};

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw Invalid{where + ": " + what};
}

std::string member(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
}

std::string element(const std::string& where, std::size_t index) {
    return where + "[" + std::to_string(index) + "]";
}

void onlyKeys(const json& object, const std::string& where, std::set<std::string> keys) {
    for (const auto& [key, value] : object.items()) {
        (void)value;
        if (keys.count(key) == 0)
            fail(member(where, key), "unknown member");
    }
}

const json& objectAt(const json& parent, const std::string& key, const std::string& where) {
    const json& value = parent.at(key);
    if (!value.is_object())
        fail(member(where, key), "must be an object");
    return value;
}

int64_t integer(const json& parent, const std::string& key, const std::string& where, int64_t min,
                int64_t max) {
    const json& value = parent.at(key);
    if (!value.is_number_integer())
        fail(member(where, key), "must be an integer");
    int64_t number = value.get<int64_t>();
    if (value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX))
        fail(member(where, key), "out of range");
    if (number < min || number > max)
        fail(member(where, key),
             "must be between " + std::to_string(min) + " and " + std::to_string(max));
    return number;
}

double number(const json& parent, const std::string& key, const std::string& where, double min,
              double max) {
    const json& value = parent.at(key);
    if (!value.is_number())
        fail(member(where, key), "must be a number");
    double result = value.get<double>();
    if (!std::isfinite(result) || result < min || result > max)
        fail(member(where, key),
             "must be between " + json(min).dump() + " and " + json(max).dump());
    return result;
}

bool boolean(const json& parent, const std::string& key, const std::string& where) {
    const json& value = parent.at(key);
    if (!value.is_boolean())
        fail(member(where, key), "must be true or false");
    return value.get<bool>();
}

std::string text(const json& parent, const std::string& key, const std::string& where,
                 std::size_t maxLength, bool printableAscii) {
    const json& value = parent.at(key);
    if (!value.is_string())
        fail(member(where, key), "must be a string");
    std::string result = value.get<std::string>();
    if (result.size() > maxLength)
        fail(member(where, key), "longer than " + std::to_string(maxLength) + " characters");
    if (printableAscii) {
        for (char c : result)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                fail(member(where, key), "must be printable ASCII");
    }
    return result;
}

std::string dialNumber(const json& value, const std::string& where) {
    if (!value.is_string())
        fail(where, "must be a string of digits");
    std::string result = value.get<std::string>();
    if (result.empty() || result.size() > 40)
        fail(where, "must hold 1 to 40 digits");
    for (char c : result) {
        bool ok = (c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D');
        if (!ok)
            fail(where, "may hold only 0-9, *, # and A-D (what the exchange receives)");
    }
    return result;
}

ModemConfig parseModem(const json& object, const std::string& where) {
    onlyKeys(object, where,
             {"port", "identification", "productCode", "storedProfile", "profileFile", "maxRate",
              "connectCode", "resultDelayMs", "faults"});
    ModemConfig modem;
    if (!object.contains("port"))
        fail(member(where, "port"), "missing");
    modem.port = static_cast<uint16_t>(integer(object, "port", where, 0, 65535));
    if (object.contains("identification"))
        modem.identification = text(object, "identification", where, 80, true);
    if (object.contains("productCode"))
        modem.productCode = text(object, "productCode", where, 80, true);
    if (object.contains("storedProfile"))
        modem.storedProfile = text(object, "storedProfile", where, 200, true);
    if (object.contains("profileFile")) {
        modem.profileFile = text(object, "profileFile", where, 4096, false);
        if (modem.profileFile.empty())
            fail(member(where, "profileFile"), "must not be empty");
    }
    if (object.contains("maxRate"))
        modem.maxRate = static_cast<uint32_t>(integer(object, "maxRate", where, 300, 64000));
    if (object.contains("connectCode"))
        modem.connectCode = static_cast<int>(integer(object, "connectCode", where, 1, 255));
    if (object.contains("resultDelayMs"))
        modem.resultDelayMs =
            static_cast<uint32_t>(integer(object, "resultDelayMs", where, 0, 60000));
    if (object.contains("faults")) {
        std::string at = member(where, "faults");
        const json& faults = objectAt(object, "faults", where);
        onlyKeys(faults, at, {"noEcho", "dsrAlwaysOn"});
        if (faults.contains("noEcho"))
            modem.faults.noEcho = boolean(faults, "noEcho", at);
        if (faults.contains("dsrAlwaysOn"))
            modem.faults.dsrAlwaysOn = boolean(faults, "dsrAlwaysOn", at);
    }
    std::string error;
    if (!initialProfiles(modem, error))
        fail(where, error);
    return modem;
}

AnalyzerConfig parseAnalyzer(const json& object, const std::string& where) {
    // The analyzer's own options and faults belong to the analyzer; only the port
    // and the two identification words are read here.
    AnalyzerConfig analyzer;
    if (!object.contains("port"))
        fail(member(where, "port"), "missing");
    analyzer.port = static_cast<uint16_t>(integer(object, "port", where, 0, 65535));
    if (object.contains("serialNumber"))
        analyzer.options.serialNumber =
            static_cast<int>(integer(object, "serialNumber", where, -32768, 32767));
    if (object.contains("firmware"))
        analyzer.options.firmware =
            static_cast<int>(integer(object, "firmware", where, -32768, 32767));
    if (object.contains("faults") && !object.at("faults").is_object())
        fail(member(where, "faults"), "must be an object");
    return analyzer; // its options follow with the analyzer side (readAnalyzerSide)
}

StationConfig parseStation(const json& object, const std::string& where) {
    if (!object.is_object())
        fail(where, "must be an object");
    if (!object.contains("type"))
        fail(member(where, "type"), "missing (\"complex\" or \"generator\")");
    std::string type = text(object, "type", where, 20, true);
    StationConfig station;
    if (type == "complex") {
        station.kind = StationKind::Complex;
        onlyKeys(object, where, {"name", "type", "number", "aliases", "modem", "analyzer"});
    } else if (type == "generator") {
        station.kind = StationKind::Generator;
        onlyKeys(object, where,
                 {"name", "type", "number", "aliases", "answerAfterRings", "generator"});
    } else {
        fail(member(where, "type"), "must be \"complex\" or \"generator\"");
    }
    if (!object.contains("name"))
        fail(member(where, "name"), "missing");
    station.name = text(object, "name", where, 40, true);
    if (station.name.empty())
        fail(member(where, "name"), "must not be empty");
    if (!object.contains("number"))
        fail(member(where, "number"), "missing");
    station.number = dialNumber(object.at("number"), member(where, "number"));
    if (object.contains("aliases")) {
        const json& aliases = object.at("aliases");
        if (!aliases.is_array())
            fail(member(where, "aliases"), "must be an array of numbers");
        for (std::size_t i = 0; i < aliases.size(); ++i)
            station.aliases.push_back(dialNumber(aliases[i], element(member(where, "aliases"), i)));
    }
    if (station.kind == StationKind::Complex) {
        if (!object.contains("modem"))
            fail(member(where, "modem"), "missing");
        if (!object.contains("analyzer"))
            fail(member(where, "analyzer"), "missing");
        station.modem = parseModem(objectAt(object, "modem", where), member(where, "modem"));
        station.analyzer =
            parseAnalyzer(objectAt(object, "analyzer", where), member(where, "analyzer"));
    } else {
        if (object.contains("answerAfterRings"))
            station.answerAfterRings =
                static_cast<int>(integer(object, "answerAfterRings", where, 1, 20));
        if (object.contains("generator"))
            objectAt(object, "generator", where); // read with the analyzer side
    }
    return station;
}

const char* kFaultNames[] = {"busy",      "noAnswer",    "noDialTone",    "noCarrier",
                             "lineBreak", "byteLoss",    "byteDuplicate", "byteCorrupt",
                             "noEcho",    "dsrAlwaysOn", "modemOff",      "dsrLost"};
constexpr int kFaultKinds = sizeof kFaultNames / sizeof kFaultNames[0];

FaultConfig parseFault(const json& object, const std::string& where,
                       const std::set<std::string>& stations) {
    if (!object.is_object())
        fail(where, "must be an object");
    if (!object.contains("fault"))
        fail(member(where, "fault"), "missing");
    std::string name = text(object, "fault", where, 40, true);
    FaultConfig fault;
    bool known = false;
    for (int i = 0; i < kFaultKinds; ++i) {
        if (name == kFaultNames[i]) {
            fault.kind = static_cast<FaultKind>(i);
            known = true;
        }
    }
    if (!known)
        fail(member(where, "fault"), "unknown fault \"" + name + "\"");
    std::set<std::string> keys = {"fault", "station", "from", "until"};
    // The modem's own faults hold for their window; they have no count of acts.
    bool modemWindow = fault.kind == FaultKind::NoEcho || fault.kind == FaultKind::DsrAlwaysOn ||
                       fault.kind == FaultKind::ModemOff || fault.kind == FaultKind::DsrLost;
    if (!modemWindow)
        keys.insert("times");
    bool byteFault = fault.kind == FaultKind::ByteLoss || fault.kind == FaultKind::ByteDuplicate ||
                     fault.kind == FaultKind::ByteCorrupt;
    if (fault.kind == FaultKind::NoDialTone)
        keys.insert("secondDialToneOnly");
    if (fault.kind == FaultKind::LineBreak)
        keys.insert({"at", "afterConnectMs", "afterBytes"});
    if (byteFault)
        keys.insert({"probability", "seed"});
    onlyKeys(object, where, keys);
    if (!object.contains("station"))
        fail(member(where, "station"), "missing");
    fault.station = text(object, "station", where, 40, true);
    if (stations.count(fault.station) == 0)
        fail(member(where, "station"), "no station \"" + fault.station + "\"");
    if (object.contains("from"))
        fault.fromS = number(object, "from", where, 0.0, 1e9);
    if (object.contains("until")) {
        fault.untilS = number(object, "until", where, 0.0, 1e9);
        if (*fault.untilS <= fault.fromS)
            fail(member(where, "until"), "must be after \"from\"");
    }
    if (object.contains("times"))
        fault.times = static_cast<int>(integer(object, "times", where, 1, 1000000000));
    if (object.contains("secondDialToneOnly"))
        fault.secondDialToneOnly = boolean(object, "secondDialToneOnly", where);
    if (fault.kind == FaultKind::LineBreak) {
        int ways = 0;
        if (object.contains("at")) {
            fault.atS = number(object, "at", where, 0.0, 1e9);
            ++ways;
        }
        if (object.contains("afterConnectMs")) {
            fault.afterConnectMs =
                static_cast<uint32_t>(integer(object, "afterConnectMs", where, 0, 1000000000));
            ++ways;
        }
        if (object.contains("afterBytes")) {
            fault.afterBytes =
                static_cast<uint64_t>(integer(object, "afterBytes", where, 0, INT64_MAX));
            ++ways;
        }
        if (ways != 1)
            fail(where,
                 "a line break needs exactly one of \"at\", \"afterConnectMs\", \"afterBytes\"");
    }
    if (byteFault) {
        if (!object.contains("probability"))
            fail(member(where, "probability"), "missing");
        fault.probability = number(object, "probability", where, 0.0, 1.0);
        if (object.contains("seed"))
            fault.seed = static_cast<uint32_t>(integer(object, "seed", where, 0, UINT32_MAX));
    }
    return fault;
}

// The stations, each with a name, numbers and ports that no other uses; names gets
// their names.
std::vector<StationConfig> readStations(const json& stations, std::set<std::string>& names) {
    std::vector<StationConfig> result;
    std::set<std::string> numbers;
    std::set<uint16_t> ports;
    for (std::size_t i = 0; i < stations.size(); ++i) {
        std::string where = element("stations", i);
        StationConfig station = parseStation(stations[i], where);
        if (!names.insert(station.name).second)
            fail(member(where, "name"), "\"" + station.name + "\" is used twice");
        if (!numbers.insert(station.number).second)
            fail(member(where, "number"), "\"" + station.number + "\" reaches two stations");
        for (const auto& alias : station.aliases)
            if (!numbers.insert(alias).second)
                fail(member(where, "aliases"), "\"" + alias + "\" reaches two stations");
        if (station.kind == StationKind::Complex) {
            for (auto [port, key] : {std::pair{station.modem.port, "modem"},
                                     std::pair{station.analyzer.port, "analyzer"}}) {
                if (port != 0 && !ports.insert(port).second)
                    fail(member(member(where, key), "port"),
                         std::to_string(port) + " is used twice");
            }
        }
        result.push_back(std::move(station));
    }
    return result;
}

// The channels, each between two different stations of the network, one per pair.
std::vector<ChannelConfig> readChannels(const json& channels, const std::set<std::string>& names) {
    if (!channels.is_array())
        fail("channels", "must be an array");
    std::vector<ChannelConfig> result;
    std::set<std::pair<std::string, std::string>> pairs;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        std::string where = element("channels", i);
        const json& object = channels[i];
        if (!object.is_object())
            fail(where, "must be an object");
        onlyKeys(object, where, {"between", "lineRate", "model"});
        if (!object.contains("between") || !object.at("between").is_array() ||
            object.at("between").size() != 2 || !object.at("between")[0].is_string() ||
            !object.at("between")[1].is_string())
            fail(member(where, "between"), "must be two station names");
        ChannelConfig channel;
        channel.first = object.at("between")[0].get<std::string>();
        channel.second = object.at("between")[1].get<std::string>();
        for (const auto& name : {channel.first, channel.second})
            if (names.count(name) == 0)
                fail(member(where, "between"), "no station \"" + name + "\"");
        if (channel.first == channel.second)
            fail(member(where, "between"), "a channel joins two different stations");
        auto key = std::minmax(channel.first, channel.second);
        if (!pairs.insert({key.first, key.second}).second)
            fail(member(where, "between"), "a second channel between the same stations");
        if (object.contains("lineRate"))
            channel.lineRate =
                static_cast<uint32_t>(integer(object, "lineRate", where, 300, 64000));
        if (object.contains("model"))
            objectAt(object, "model", where); // read with the analyzer side
        result.push_back(std::move(channel));
    }
    return result;
}

RatesConfig readRates(const json& rates) {
    RatesConfig result;
    onlyKeys(rates, "rates", {"lineRate", "bitsPerByte", "unthrottled"});
    if (rates.contains("lineRate"))
        result.lineRate = static_cast<uint32_t>(integer(rates, "lineRate", "rates", 300, 64000));
    if (rates.contains("bitsPerByte"))
        result.bitsPerByte = number(rates, "bitsPerByte", "rates", 1.0, 32.0);
    if (rates.contains("unthrottled"))
        result.unthrottled = boolean(rates, "unthrottled", "rates");
    return result;
}

TimingConfig readTiming(const json& timing) {
    TimingConfig result;
    onlyKeys(timing, "timing",
             {"firstRingMs", "ringPeriodMs", "ringOnMs", "handshakeMs", "resetMs"});
    auto ms = [&](const char* key, uint32_t& target, int64_t min) {
        if (timing.contains(key))
            target = static_cast<uint32_t>(integer(timing, key, "timing", min, 600000));
    };
    ms("firstRingMs", result.firstRingMs, 0);
    ms("ringPeriodMs", result.ringPeriodMs, 100);
    ms("ringOnMs", result.ringOnMs, 10);
    ms("handshakeMs", result.handshakeMs, 0);
    ms("resetMs", result.resetMs, 0);
    if (result.ringOnMs >= result.ringPeriodMs)
        fail("timing.ringOnMs", "must be shorter than timing.ringPeriodMs");
    return result;
}

// What belongs to the analyzer side, read after the rest: every analyzer's options, then
// every channel's model, then the generator programme. An error names the whole member
// ("stations[1].analyzer.faults.melt: ...").
void readAnalyzerSide(const json& root, SimConfig& config) {
    const json& stations = root.at("stations");
    for (std::size_t i = 0; i < config.stations.size(); ++i) {
        AnalyzerConfig& analyzer = config.stations[i].analyzer;
        if (config.stations[i].kind != StationKind::Complex)
            continue;
        std::string error;
        auto options = parseZmk5Options(stations[i].at("analyzer"), analyzer.options.serialNumber,
                                        analyzer.options.firmware, error);
        if (!options)
            throw Invalid{element("stations", i) + ".analyzer." + error};
        analyzer.options = std::move(*options);
    }
    for (std::size_t i = 0; i < config.channels.size(); ++i) {
        std::string error;
        auto model =
            parseChannelModel(root.at("channels")[i].value("model", json::object()), error);
        if (!model)
            throw Invalid{element("channels", i) + ".model." + error};
        config.channels[i].model = std::move(*model);
    }
    std::string error;
    std::optional<GeneratorProgramme> programme;
    auto generator = std::find_if(config.stations.begin(), config.stations.end(),
                                  [](const auto& s) { return s.kind == StationKind::Generator; });
    if (generator == config.stations.end()) {
        programme = autonomousProgramme(json::object(), error);
        if (!programme)
            throw Invalid{error};
    } else {
        const std::size_t i = static_cast<std::size_t>(generator - config.stations.begin());
        programme = autonomousProgramme(stations[i].value("generator", json::object()), error);
        if (!programme)
            throw Invalid{element("stations", i) + ".generator." + error};
    }
    config.generatorProgramme = std::move(*programme);
}

SimConfig parse(const json& root) {
    if (!root.is_object())
        fail("(top)", "must be an object");
    onlyKeys(root, "", {"stations", "channels", "faults", "rates", "timing"});
    SimConfig config;
    if (!root.contains("stations") || !root.at("stations").is_array() ||
        root.at("stations").empty())
        fail("stations", "must be a non-empty array");
    std::set<std::string> names;
    config.stations = readStations(root.at("stations"), names);
    if (root.contains("channels"))
        config.channels = readChannels(root.at("channels"), names);
    if (root.contains("faults")) {
        const json& faults = root.at("faults");
        if (!faults.is_array())
            fail("faults", "must be an array");
        for (std::size_t i = 0; i < faults.size(); ++i)
            config.faults.push_back(parseFault(faults[i], element("faults", i), names));
    }
    if (root.contains("rates"))
        config.rates = readRates(objectAt(root, "rates", ""));
    if (root.contains("timing"))
        config.timing = readTiming(objectAt(root, "timing", ""));
    readAnalyzerSide(root, config);
    return config;
}

} // namespace

const char* faultName(FaultKind kind) {
    return kFaultNames[static_cast<int>(kind)];
}

std::optional<SimConfig> parseConfig(const std::string& jsonText, std::string& error) {
    json root;
    try {
        root = json::parse(jsonText);
    } catch (const json::parse_error& e) {
        error = std::string("not JSON: ") + e.what();
        return std::nullopt;
    }
    try {
        return parse(root);
    } catch (const Invalid& invalid) {
        error = invalid.message;
        return std::nullopt;
    } catch (const json::exception& e) {
        error = std::string("malformed configuration: ") + e.what();
        return std::nullopt;
    }
}

std::optional<SimConfig> loadConfig(const std::string& path, std::string& error) {
    auto text = readWholeFile(path);
    if (!text) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    auto config = parseConfig(*text, error);
    if (!config)
        error = path + ": " + error;
    return config;
}

} // namespace vetlina::sim
