// The ZMK-5's side of its serial link: byte-stuffed blocks of 16-bit little-endian
// words between STX and CR, acknowledged by ACK; plain characters between blocks.
//
// The computer escapes STX, LF, CR, DLE and ESC inside its blocks (DLE, then the
// byte XOR 0x20). The analyzer escapes the same bytes and ACK as well: the computer
// takes an ACK byte as an acknowledgement wherever it meets it, so a data word with
// a byte 6 would otherwise lose that byte on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vetlina::sim::zmk5 {

constexpr uint8_t STX = 2;
constexpr uint8_t ACK = 6;
constexpr uint8_t LF = 10;
constexpr uint8_t CR = 13;
constexpr uint8_t DLE = 16;
constexpr uint8_t ESC = 27;
constexpr uint8_t kEscapeXor = 0x20;

// The analyzer's command buffer: no command is longer than 34 bytes.
constexpr std::size_t kMaxCommandBytes = 64;

// True for the bytes that the analyzer sends escaped inside a block.
bool escapedInBlock(uint8_t byte);

// One block on the wire: STX, the bytes with the control bytes escaped, CR.
std::vector<uint8_t> frameBlock(std::span<const uint8_t> bytes);
// The same for words, each sent low byte first.
std::vector<uint8_t> frameWords(std::span<const int16_t> words);
std::vector<uint8_t> wordBytes(std::span<const int16_t> words);

// Words of a block as received (little-endian); a trailing odd byte is left out.
std::vector<int16_t> blockWords(std::span<const uint8_t> bytes);

// The analyzer's receive side: what arrives between blocks is characters, what
// arrives between STX and CR is a block (un-escaped). A second STX before the CR
// starts the block again. A block longer than the command buffer keeps its first
// kMaxCommandBytes bytes and is marked over-long.
class BlockReceiver {
public:
    enum class Event { None, Character, Block };

    Event feed(uint8_t byte);

    // The character of the last Character event.
    uint8_t character() const { return character_; }
    // The last complete block (valid after a Block event until the next STX).
    const std::vector<uint8_t>& block() const { return block_; }
    bool overLong() const { return overLong_; }
    bool inBlock() const { return inBlock_; }

    void reset();

private:
    bool inBlock_ = false;
    bool escape_ = false;
    bool overLong_ = false;
    uint8_t character_ = 0;
    std::vector<uint8_t> block_;
};

} // namespace vetlina::sim::zmk5
