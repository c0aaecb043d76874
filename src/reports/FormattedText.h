// printf-style formatting into a string for the fixed-width lines of the statistics
// window and the documents (cp1251 patterns; a line longer than the buffer is cut).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>

namespace vetlina {

template <typename... Args>
std::string formattedText(const std::string& pattern, Args... args) {
    char buffer[192];
    const int n = std::snprintf(buffer, sizeof buffer, pattern.c_str(), args...);
    if (n < 0)
        return std::string();
    return std::string(buffer,
                       std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

} // namespace vetlina
