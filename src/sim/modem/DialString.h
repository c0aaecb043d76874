// The dial string of ATD, read into the steps the modem performs: digits (tone or
// pulse), pauses (","), waits for a dial tone ("W"), hook flashes ("!"), waits for
// the far end to answer ("@"), and the modifiers that end it (";": back to command
// mode after dialling) or change it ("R": connect as the answering modem, "L" at the
// start: the last number again). Spaces, "-", "(", ")" and "." are formatting; other
// characters are skipped and reported.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vetlina::sim {

struct DialStep {
    enum class Kind { Digit, Pause, WaitDialTone, Flash, WaitAnswer };
    Kind kind = Kind::Digit;
    char digit = 0;     // Digit: 0-9, *, #, A-D
    bool pulse = false; // Digit: dialled by pulses (P) rather than tones (T)
};

struct DialPlan {
    std::vector<DialStep> steps;
    bool returnToCommand = false; // ";"
    bool reverse = false;         // "R"
    bool redial = false;          // "L": dial the last number; steps are empty
    std::string skipped;          // characters that mean nothing to the modem
};

DialPlan parseDialString(std::string_view text);

// The digits of a dial plan, in order: the number the exchange routes.
std::string digitsOf(const DialPlan& plan);

} // namespace vetlina::sim
