#include "platform/Ini.h"

#include "platform/Files.h"

namespace vetlina {
namespace {

std::string_view trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string makeKey(std::string_view section, std::string_view key) {
    return lowerAscii(trim(section)) + '\n' + lowerAscii(trim(key));
}

} // namespace

IniFile IniFile::load(const std::string& path) {
    auto text = readWholeFile(path);
    return text ? parse(*text) : IniFile();
}

IniFile IniFile::parse(std::string_view text) {
    IniFile ini;
    std::string section;
    bool inSection = false;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        auto end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            auto close = line.find(']');
            if (close != std::string_view::npos) {
                section = std::string(line.substr(1, close - 1));
                inSection = true;
            } else {
                ini.unreadLines_.push_back(lineNumber);
            }
            continue;
        }
        auto equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) {
            ini.unreadLines_.push_back(lineNumber);
            continue;
        }
        std::string_view value = trim(line.substr(equals + 1));
        // A value in matching quotes is read without them.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        bool counts =
            ini.values_.emplace(makeKey(section, line.substr(0, equals)), std::string(value))
                .second;
        ini.entries_.push_back({lineNumber, std::string(trim(section)),
                                std::string(trim(line.substr(0, equals))), std::string(value),
                                counts});
    }
    return ini;
}

const std::string* IniFile::find(std::string_view section, std::string_view key) const {
    auto it = values_.find(makeKey(section, key));
    return it == values_.end() ? nullptr : &it->second;
}

bool IniFile::has(std::string_view section, std::string_view key) const {
    return find(section, key) != nullptr;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue, std::size_t bufferSize) const {
    const std::string* value = find(section, key);
    std::string_view text = value ? std::string_view(*value) : defaultValue;
    if (bufferSize == 0)
        return {};
    return std::string(text.substr(0, bufferSize - 1));
}

int32_t IniFile::readInt(std::string_view section, std::string_view key,
                         int32_t defaultValue) const {
    const std::string* value = find(section, key);
    if (value == nullptr)
        return defaultValue;
    std::string_view text = *value;
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return defaultValue;
    int64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        result = result * 10 + (c - '0');
        if (result > INT32_MAX)
            result = static_cast<int64_t>(INT32_MAX) + 1; // clamped below
    }
    if (negative)
        result = -result;
    if (result > INT32_MAX)
        return INT32_MAX;
    if (result < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(result);
}

} // namespace vetlina
