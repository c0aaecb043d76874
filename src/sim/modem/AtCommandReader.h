// Splits the body of an AT command line (what follows "AT", without the CR) into
// its commands, one at a time, so that the modem executes each before it reads the
// next, as Hayes modems do: "E0V0S0=2&D2" is E0, V0, S0=2, &D2.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vetlina::sim {

struct AtCommand {
    char prefix = 0;           // 0 for a basic command, or '&', '%', '\\' for an extended one
    char letter = 0;           // upper case
    std::optional<int> number; // the numeric argument, when one was given
    // S: the register, and '=' (set to value), '?' (query) or 0 (select only).
    int reg = 0;
    char op = 0;
    int value = 0;
    std::string dial; // D: the dial string as typed (the rest of the line)

    bool is(char p, char l) const { return prefix == p && letter == l; }
};

class AtCommandReader {
public:
    explicit AtCommandReader(std::string_view body) : body_(body) {}

    enum class Status { Command, End, Error };

    // The next command into out; End when the line is used up; Error for text
    // that is not a command (the rest of the line is not read).
    Status next(AtCommand& out);

private:
    void skipSpaces();
    std::optional<int> readNumber(bool& overflow);

    std::string_view body_;
    std::size_t pos_ = 0;
};

} // namespace vetlina::sim
