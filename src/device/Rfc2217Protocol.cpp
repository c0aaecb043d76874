#include "device/Rfc2217Protocol.h"

namespace vetlina::rfc2217 {

std::string optionCommand(uint8_t verb, uint8_t option) {
    return std::string{char(IAC), char(verb), char(option)};
}

void appendEscaped(std::string& out, const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(char(data[i]));
        if (data[i] == IAC)
            out.push_back(char(IAC));
    }
}

std::string comPortCommand(uint8_t command, const uint8_t* value, std::size_t size) {
    std::string out{char(IAC), char(SB), char(OptionComPort), char(command)};
    appendEscaped(out, value, size);
    out.push_back(char(IAC));
    out.push_back(char(SE));
    return out;
}

std::string comPortCommand(uint8_t command) {
    return comPortCommand(command, nullptr, 0);
}

std::string comPortCommand(uint8_t command, uint8_t value) {
    return comPortCommand(command, &value, 1);
}

std::string baudRateCommand(uint32_t baudRate) {
    const uint8_t value[4] = {uint8_t(baudRate >> 24), uint8_t(baudRate >> 16),
                              uint8_t(baudRate >> 8), uint8_t(baudRate)};
    return comPortCommand(SetBaudRate, value, sizeof value);
}

void TelnetDecoder::reset() {
    state_ = State::Data;
    verb_ = 0;
    overlong_ = false;
    body_.clear();
}

void TelnetDecoder::feed(const uint8_t* data, std::size_t size, TelnetHandler& handler) {
    static constexpr uint8_t kIacByte = IAC;
    std::size_t runStart = 0; // start of the data run being passed through unchanged
    auto flushRun = [&](std::size_t end) {
        if (end > runStart)
            handler.onData(data + runStart, end - runStart);
    };
    auto collect = [&](uint8_t byte) {
        if (body_.size() < kMaxSubnegotiation)
            body_.push_back(char(byte));
        else
            overlong_ = true;
    };

    for (std::size_t i = 0; i < size; ++i) {
        uint8_t byte = data[i];
        switch (state_) {
        case State::Data:
            if (byte != IAC)
                continue; // the run goes on
            flushRun(i);
            state_ = State::Iac;
            break;
        case State::Verb:
            handler.onNegotiation(verb_, byte);
            state_ = State::Data;
            break;
        case State::Sub:
            if (byte == IAC)
                state_ = State::SubIac;
            else
                collect(byte);
            break;
        case State::SubIac:
            if (byte == IAC) {
                collect(byte);
                state_ = State::Sub;
                break;
            }
            if (byte == SE) {
                if (!overlong_ && !body_.empty())
                    handler.onSubnegotiation(reinterpret_cast<const uint8_t*>(body_.data()),
                                             body_.size());
                body_.clear();
                body_.shrink_to_fit();
                overlong_ = false;
                state_ = State::Data;
                break;
            }
            // Any other command ends the subnegotiation unfinished: drop it and
            // take the command as it stands.
            body_.clear();
            body_.shrink_to_fit();
            overlong_ = false;
            [[fallthrough]];
        case State::Iac:
            if (byte == IAC) {
                handler.onData(&kIacByte, 1);
                state_ = State::Data;
            } else if (byte == SB) {
                body_.clear();
                overlong_ = false;
                state_ = State::Sub;
            } else if (byte == WILL || byte == WONT || byte == DO || byte == DONT) {
                verb_ = byte;
                state_ = State::Verb;
            } else {
                state_ = State::Data; // NOP, GA, AYT, a stray SE ...: nothing to do
            }
            break;
        }
        runStart = i + 1;
    }
    flushRun(size);
}

} // namespace vetlina::rfc2217
