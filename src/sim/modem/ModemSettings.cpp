#include "sim/modem/ModemSettings.h"

namespace vetlina::sim {

namespace {

constexpr int kKnownRegisters[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 18, 25, 30, 37, 86};

// The S37 table of the modem: value -> line rate in bit/s.
struct RateEntry {
    int value;
    uint32_t rate;
};
constexpr RateEntry kS37Rates[] = {{1, 300},    {2, 300},    {3, 300},    {5, 1200},
                                   {6, 2400},   {8, 4800},   {9, 7200},   {10, 9600},
                                   {11, 12000}, {12, 14400}, {13, 16800}, {14, 19200},
                                   {15, 21600}, {16, 24000}, {17, 26400}, {18, 28800}};

// Switches the modem accepts and keeps without acting on them, with their
// largest value.
struct OtherSwitch {
    char prefix;
    char letter;
    int max;
};
constexpr OtherSwitch kOtherSwitches[] = {
    {0, 'N', 1},    {0, 'W', 2},    {0, 'Y', 1},     {'&', 'A', 3},  {'&', 'B', 2},
    {'&', 'G', 2},  {'&', 'H', 7},  {'&', 'I', 5},   {'&', 'K', 6},  {'&', 'M', 5},
    {'&', 'N', 15}, {'&', 'P', 3},  {'&', 'Q', 9},   {'&', 'R', 2},  {'&', 'U', 15},
    {'&', 'X', 2},  {'&', 'Y', 1},  {'%', 'C', 3},   {'%', 'E', 5},  {'%', 'M', 3},
    {'\\', 'A', 3}, {'\\', 'B', 9}, {'\\', 'G', 1},  {'\\', 'J', 1}, {'\\', 'K', 5},
    {'\\', 'N', 7}, {'\\', 'Q', 3}, {'\\', 'T', 90}, {'\\', 'V', 2}, {'\\', 'X', 1}};

std::string switchName(char prefix, char letter) {
    std::string name;
    if (prefix != 0)
        name += prefix;
    name += letter;
    return name;
}

} // namespace

SettingResult applySetting(ModemSettings& settings, const AtCommand& command) {
    int value = command.number.value_or(0);
    if (command.prefix == 0 && command.letter == 'S') {
        if (command.op == '?')
            return SettingResult::NotASetting;
        if (!knownRegister(command.reg))
            return SettingResult::Invalid;
        if (command.op == 0)
            return SettingResult::Applied;
        if (!writableRegister(command.reg) || command.value > 255)
            return SettingResult::Invalid;
        settings.s[command.reg] = static_cast<uint8_t>(command.value);
        return SettingResult::Applied;
    }
    struct Basic {
        char prefix;
        char letter;
        int* target;
        int max;
    };
    const Basic basics[] = {{0, 'E', &settings.echo, 1},        {0, 'Q', &settings.quiet, 1},
                            {0, 'V', &settings.verbose, 1},     {0, 'X', &settings.resultSet, 4},
                            {0, 'M', &settings.speaker, 3},     {0, 'L', &settings.volume, 3},
                            {0, 'B', &settings.bell, 1},        {'&', 'C', &settings.dcd, 1},
                            {'&', 'D', &settings.dtr, 3},       {'&', 'S', &settings.dsr, 1},
                            {'&', 'L', &settings.leasedLine, 1}};
    for (const auto& basic : basics) {
        if (command.is(basic.prefix, basic.letter)) {
            if (value > basic.max)
                return SettingResult::Invalid;
            *basic.target = value;
            return SettingResult::Applied;
        }
    }
    if (command.prefix == 0 && (command.letter == 'P' || command.letter == 'T')) {
        if (command.number)
            return SettingResult::Invalid;
        settings.pulseDial = command.letter == 'P' ? 1 : 0;
        return SettingResult::Applied;
    }
    for (const auto& other : kOtherSwitches) {
        if (command.is(other.prefix, other.letter)) {
            if (value > other.max)
                return SettingResult::Invalid;
            settings.other[switchName(other.prefix, other.letter)] = value;
            return SettingResult::Applied;
        }
    }
    return SettingResult::NotASetting;
}

ModemSettings factorySettings() {
    ModemSettings settings;
    auto& s = settings.s;
    s[sreg::EscapeChar] = '+';
    s[sreg::CarriageReturn] = 13;
    s[sreg::LineFeed] = 10;
    s[sreg::Backspace] = 8;
    s[sreg::DialToneWait] = 2;
    s[sreg::CarrierWait] = 50;
    s[sreg::CommaPause] = 2;
    s[sreg::CarrierDetectTime] = 6;
    s[sreg::CarrierLossTime] = 14;
    s[sreg::ToneDuration] = 95;
    s[sreg::EscapeGuard] = 50;
    s[25] = 5;
    return settings;
}

bool knownRegister(int n) {
    for (int known : kKnownRegisters)
        if (known == n)
            return true;
    return false;
}

bool writableRegister(int n) {
    return knownRegister(n) && n != sreg::DisconnectReason;
}

uint32_t rateOfS37(int value, uint32_t bestRate) {
    for (const auto& entry : kS37Rates)
        if (entry.value == value)
            return entry.rate < bestRate ? entry.rate : bestRate;
    return bestRate;
}

nlohmann::json settingsToJson(const ModemSettings& settings) {
    nlohmann::json json = {
        {"E", settings.echo},      {"Q", settings.quiet},       {"V", settings.verbose},
        {"X", settings.resultSet}, {"M", settings.speaker},     {"L", settings.volume},
        {"B", settings.bell},      {"&C", settings.dcd},        {"&D", settings.dtr},
        {"&S", settings.dsr},      {"&L", settings.leasedLine}, {"P", settings.pulseDial}};
    nlohmann::json other = nlohmann::json::object();
    for (const auto& [name, value] : settings.other)
        other[name] = value;
    json["other"] = other;
    nlohmann::json registers = nlohmann::json::object();
    for (int n : kKnownRegisters)
        registers[std::to_string(n)] = settings.s[n];
    json["S"] = registers;
    return json;
}

std::optional<ModemSettings> settingsFromJson(const nlohmann::json& json) {
    if (!json.is_object())
        return std::nullopt;
    ModemSettings settings = factorySettings();
    struct Field {
        const char* name;
        int* target;
        int max;
    };
    Field fields[] = {{"E", &settings.echo, 1},        {"Q", &settings.quiet, 1},
                      {"V", &settings.verbose, 1},     {"X", &settings.resultSet, 4},
                      {"M", &settings.speaker, 3},     {"L", &settings.volume, 3},
                      {"B", &settings.bell, 1},        {"&C", &settings.dcd, 1},
                      {"&D", &settings.dtr, 3},        {"&S", &settings.dsr, 1},
                      {"&L", &settings.leasedLine, 1}, {"P", &settings.pulseDial, 1}};
    for (const auto& field : fields) {
        auto it = json.find(field.name);
        if (it == json.end())
            continue;
        if (!it->is_number_integer() || it->get<int>() < 0 || it->get<int>() > field.max)
            return std::nullopt;
        *field.target = it->get<int>();
    }
    if (auto it = json.find("other"); it != json.end()) {
        if (!it->is_object())
            return std::nullopt;
        for (const auto& [name, value] : it->items()) {
            if (!value.is_number_integer() || value.get<int>() < 0 || value.get<int>() > 255 ||
                name.empty() || name.size() > 2)
                return std::nullopt;
            settings.other[name] = value.get<int>();
        }
    }
    if (auto it = json.find("S"); it != json.end()) {
        if (!it->is_object())
            return std::nullopt;
        for (const auto& [name, value] : it->items()) {
            int n = -1;
            try {
                n = std::stoi(name);
            } catch (...) {
                return std::nullopt;
            }
            if (!knownRegister(n) || !value.is_number_integer() || value.get<int>() < 0 ||
                value.get<int>() > 255)
                return std::nullopt;
            settings.s[n] = static_cast<uint8_t>(value.get<int>());
        }
    }
    return settings;
}

} // namespace vetlina::sim
