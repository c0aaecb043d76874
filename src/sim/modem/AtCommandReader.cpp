#include "sim/modem/AtCommandReader.h"

#include <cctype>

namespace vetlina::sim {

namespace {
constexpr int kMaxNumber = 65535;
}

void AtCommandReader::skipSpaces() {
    while (pos_ < body_.size() && body_[pos_] == ' ')
        ++pos_;
}

std::optional<int> AtCommandReader::readNumber(bool& overflow) {
    skipSpaces();
    if (pos_ >= body_.size() || !std::isdigit(static_cast<unsigned char>(body_[pos_])))
        return std::nullopt;
    long value = 0;
    while (pos_ < body_.size() && std::isdigit(static_cast<unsigned char>(body_[pos_]))) {
        value = value * 10 + (body_[pos_] - '0');
        if (value > kMaxNumber)
            overflow = true;
        if (overflow)
            value = kMaxNumber + 1;
        ++pos_;
    }
    return static_cast<int>(value);
}

AtCommandReader::Status AtCommandReader::next(AtCommand& out) {
    out = AtCommand{};
    skipSpaces();
    if (pos_ >= body_.size())
        return Status::End;
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(body_[pos_++])));
    bool overflow = false;
    if (c == '&' || c == '%' || c == '\\') {
        skipSpaces();
        if (pos_ >= body_.size())
            return Status::Error;
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(body_[pos_++])));
        if (!std::isalpha(static_cast<unsigned char>(letter)))
            return Status::Error;
        out.prefix = c;
        out.letter = letter;
        out.number = readNumber(overflow);
        return overflow ? Status::Error : Status::Command;
    }
    if (!std::isalpha(static_cast<unsigned char>(c)))
        return Status::Error;
    out.letter = c;
    if (c == 'D') {
        out.dial = std::string(body_.substr(pos_));
        pos_ = body_.size();
        return Status::Command;
    }
    if (c == 'S') {
        auto reg = readNumber(overflow);
        if (!reg || overflow)
            return Status::Error;
        out.reg = *reg;
        skipSpaces();
        if (pos_ < body_.size() && body_[pos_] == '?') {
            ++pos_;
            out.op = '?';
        } else if (pos_ < body_.size() && body_[pos_] == '=') {
            ++pos_;
            out.op = '=';
            auto value = readNumber(overflow);
            if (overflow)
                return Status::Error;
            out.value = value.value_or(0);
        }
        return Status::Command;
    }
    out.number = readNumber(overflow);
    return overflow ? Status::Error : Status::Command;
}

} // namespace vetlina::sim
