#include "sim/analyzer/Zmk5Link.h"

namespace vetlina::sim::zmk5 {

bool escapedInBlock(uint8_t byte) {
    return byte == STX || byte == ACK || byte == LF || byte == CR || byte == DLE || byte == ESC;
}

std::vector<uint8_t> frameBlock(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size() + bytes.size() / 8 + 2);
    out.push_back(STX);
    for (uint8_t byte : bytes) {
        if (escapedInBlock(byte)) {
            out.push_back(DLE);
            out.push_back(static_cast<uint8_t>(byte ^ kEscapeXor));
        } else {
            out.push_back(byte);
        }
    }
    out.push_back(CR);
    return out;
}

std::vector<uint8_t> wordBytes(std::span<const int16_t> words) {
    std::vector<uint8_t> bytes;
    bytes.reserve(words.size() * 2);
    for (int16_t word : words) {
        auto value = static_cast<uint16_t>(word);
        bytes.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
    }
    return bytes;
}

std::vector<uint8_t> frameWords(std::span<const int16_t> words) {
    return frameBlock(wordBytes(words));
}

std::vector<int16_t> blockWords(std::span<const uint8_t> bytes) {
    std::vector<int16_t> words(bytes.size() / 2);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return words;
}

BlockReceiver::Event BlockReceiver::feed(uint8_t byte) {
    if (byte == STX) {
        inBlock_ = true;
        escape_ = false;
        overLong_ = false;
        block_.clear();
        return Event::None;
    }
    if (!inBlock_) {
        character_ = byte;
        return Event::Character;
    }
    if (escape_) {
        escape_ = false;
        byte ^= kEscapeXor;
    } else if (byte == CR) {
        inBlock_ = false;
        return Event::Block;
    } else if (byte == DLE) {
        escape_ = true;
        return Event::None;
    }
    if (block_.size() < kMaxCommandBytes)
        block_.push_back(byte);
    else
        overLong_ = true;
    return Event::None;
}

void BlockReceiver::reset() {
    inBlock_ = false;
    escape_ = false;
    overLong_ = false;
    block_.clear();
}

} // namespace vetlina::sim::zmk5
