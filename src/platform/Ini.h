// Read-only INI file with the semantics of the platform's private-profile reader:
// section and key names compare case-insensitively (ASCII), values are trimmed,
// text values are cut to their buffer size less one byte, and the bytes are kept
// as they stand (code page 1251). The program never writes an INI file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

class IniFile {
public:
    // One "key=value" line of a section, as read (names and value trimmed, the value
    // without its matching quotes). Every occurrence is listed in file order; `counts`
    // is false for a key given again in its section, which is ignored.
    struct Entry {
        int line = 0; // 1-based
        std::string section;
        std::string key;
        std::string value;
        bool counts = true;
    };

    // A missing or unreadable file reads as an empty one: every key takes its default.
    static IniFile load(const std::string& path);
    static IniFile parse(std::string_view text);

    bool has(std::string_view section, std::string_view key) const;

    // The value, or the default when the key is absent; either is cut to
    // bufferSize - 1 bytes, as a fixed buffer of bufferSize bytes with its
    // terminating zero would hold it.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue, std::size_t bufferSize) const;

    // The integer in the leading digits of the value (an optional sign, then
    // decimal digits); the default when the key is absent or holds no digits.
    int32_t readInt(std::string_view section, std::string_view key, int32_t defaultValue) const;

    const std::vector<Entry>& entries() const { return entries_; }
    // Lines that are neither blank, a comment, a section heading nor a key of a section
    // (a line without "=", a key before the first section): 1-based, in file order.
    const std::vector<int>& unreadLines() const { return unreadLines_; }

private:
    const std::string* find(std::string_view section, std::string_view key) const;

    // Lower-cased "section\nkey" -> value; the first occurrence of a key wins.
    std::map<std::string, std::string> values_;
    std::vector<Entry> entries_;
    std::vector<int> unreadLines_;
};

} // namespace vetlina
