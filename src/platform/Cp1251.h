// Code page 1251 <-> UTF-8. Text that is stored, sent or written into a document
// is code page 1251 bytes in std::string; literals are written in UTF-8 in the
// source and converted with _cp.
#pragma once

#include <string>
#include <string_view>

namespace vetlina {

// UTF-8 to code page 1251; a character the code page cannot hold, and every
// malformed UTF-8 sequence, becomes "?".
std::string toCp1251(std::string_view utf8);

// True when the text is well-formed UTF-8 (plain ASCII is).
bool isUtf8(std::string_view text);

// Code page 1251 to UTF-8. The one byte the code page leaves unassigned (0x98)
// becomes U+0098, so that every byte survives a round trip.
std::string toUtf8(std::string_view cp1251);

inline namespace literals {
// "Работа закончена"_cp: a UTF-8 literal as code page 1251 bytes.
inline std::string operator""_cp(const char* text, std::size_t length) {
    return toCp1251(std::string_view(text, length));
}
} // namespace literals

} // namespace vetlina
