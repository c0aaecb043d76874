#include "sim/modem/DialString.h"

#include <cctype>

namespace vetlina::sim {

DialPlan parseDialString(std::string_view text) {
    DialPlan plan;
    bool pulse = false;
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i < text.size() && std::toupper(static_cast<unsigned char>(text[i])) == 'L') {
        plan.redial = true;
        ++i;
    }
    for (; i < text.size(); ++i) {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' ||
            (c >= 'A' && c <= 'D')) {
            if (!plan.redial)
                plan.steps.push_back({DialStep::Kind::Digit, c, pulse});
        } else if (c == 'T') {
            pulse = false;
        } else if (c == 'P') {
            pulse = true;
        } else if (c == ',') {
            plan.steps.push_back({DialStep::Kind::Pause});
        } else if (c == 'W') {
            plan.steps.push_back({DialStep::Kind::WaitDialTone});
        } else if (c == '!') {
            plan.steps.push_back({DialStep::Kind::Flash});
        } else if (c == '@') {
            plan.steps.push_back({DialStep::Kind::WaitAnswer});
        } else if (c == 'R') {
            plan.reverse = true;
        } else if (c == ';') {
            plan.returnToCommand = true;
            if (i + 1 < text.size())
                plan.skipped += text.substr(i + 1);
            break;
        } else if (c == ' ' || c == '-' || c == '(' || c == ')' || c == '.') {
            continue;
        } else {
            plan.skipped += text[i];
        }
    }
    return plan;
}

std::string digitsOf(const DialPlan& plan) {
    std::string digits;
    for (const auto& step : plan.steps)
        if (step.kind == DialStep::Kind::Digit)
            digits += step.digit;
    return digits;
}

} // namespace vetlina::sim
