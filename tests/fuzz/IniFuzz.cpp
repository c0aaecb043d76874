// Fuzz target: the configuration file. Any bytes parse; every key the program reads
// gives a value within its buffer, and an integer is read without overflow.
#include "platform/Ini.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

struct Key {
    const char* section;
    const char* key;
};

// The sections and keys of Vetlina.ini, in the cases the program spells them.
constexpr Key kKeys[] = {
    {"VETLINA", "Ident"},
    {"VETLINA", "User"},
    {"VETLINA", "City"},
    {"VETLINA", "ATS"},
    {"VETLINA", "ZMKPort"},
    {"VETLINA", "ZMKSpeed"},
    {"VETLINA", "ModemPort"},
    {"VETLINA", "ModemInit"},
    {"TIMES", "PostTime"},
    {"TIMES", "HangTime"},
    {"TIMES", "NumNoCarrier"},
    {"TIMES", "AlarmTime"},
    {"PORTS", "COM1"},
    {"PORTS", "COM2"},
    {"vetlina", "IDENT"},
    {" VETLINA ", " Ident "},
    {"", ""},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const vetlina::IniFile ini = vetlina::IniFile::parse(text);
    for (const Key& k : kKeys) {
        for (std::size_t buffer :
             {std::size_t{0}, std::size_t{1}, std::size_t{9}, std::size_t{4096}}) {
            const std::string value = ini.readString(k.section, k.key, "default", buffer);
            if (value.size() + 1 > (buffer == 0 ? 1 : buffer))
                std::abort();
        }
        // The integer as the leading digits say, held to the 32-bit range.
        const int32_t number = ini.readInt(k.section, k.key, -7);
        if (!ini.has(k.section, k.key)) {
            if (number != -7)
                std::abort();
            continue;
        }
        const std::string held = ini.readString(k.section, k.key, "", 1u << 20);
        std::string_view v = held;
        const bool negative = !v.empty() && v.front() == '-';
        if (!v.empty() && (v.front() == '-' || v.front() == '+'))
            v.remove_prefix(1);
        if (v.empty() || v.front() < '0' || v.front() > '9') {
            if (number != -7)
                std::abort();
            continue;
        }
        long double model = 0;
        for (char c : v) {
            if (c < '0' || c > '9')
                break;
            model = std::min<long double>(model * 10 + (c - '0'), 1e12L);
        }
        if (negative)
            model = -model;
        model = std::clamp<long double>(model, INT32_MIN, INT32_MAX);
        if (static_cast<long double>(number) != model)
            std::abort();
    }
    return 0;
}
