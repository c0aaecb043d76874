// The assembly of a modem result line from the characters the modem sends, apart from
// the port so that it can be checked on any byte stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vetlina {

// A result line keeps its first 38 characters and the last one received, so a modem
// that talks without end cannot make the line grow.
inline constexpr std::size_t kResultLineKept = 38;
inline constexpr std::size_t kResultLineMax = kResultLineKept + 1;

// Adds one received character to the line being read. True when the character is the
// CR that ends the line (the CR itself is not kept).
inline bool addResultLineChar(std::string& line, uint8_t c) {
    if (c == '\r')
        return true;
    if (line.size() < kResultLineMax)
        line += static_cast<char>(c);
    else
        line.back() = static_cast<char>(c);
    return false;
}

} // namespace vetlina
