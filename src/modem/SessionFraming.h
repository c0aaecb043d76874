// The bytes of the session link between two complexes, apart from the port: a block on
// the wire is its data bytes, each 6, 13, 16 or 21 sent as DLE followed by the byte XOR
// 32, and then CR. SessionLink (SessionLink.h) sends and receives blocks with these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vetlina {

namespace link {
inline constexpr uint8_t ACK = 6;  // acknowledgement of a complete block
inline constexpr uint8_t CR = 13;  // end of a block
inline constexpr uint8_t DLE = 16; // escape: the next character is a data byte XOR 32
inline constexpr uint8_t NAK = 21; // request to repeat the block
inline constexpr uint8_t kEscapeMask = 32;
} // namespace link

// The bytes of a block as they go on the wire: escaped data, then CR.
std::string encodeBlock(std::span<const uint8_t> data);

// Whether a data byte goes escaped.
constexpr bool needsEscape(uint8_t byte) {
    return byte == link::ACK || byte == link::CR || byte == link::DLE || byte == link::NAK;
}

// The receive side of the link apart from the port: the far side's characters go in one
// by one, and at each CR it says whether the block is complete (answer ACK) or has lost
// or surplus characters (answer NAK and receive it again). Never writes past the
// buffer; a surplus character is dropped, and an escape never reaches past its block.
class BlockReceiver {
public:
    enum class Step {
        More,     // the block goes on
        Complete, // exactly buffer.size() bytes came: the buffer holds them
        Short,    // fewer bytes came before the CR
        Long      // more bytes came before the CR
    };

    explicit BlockReceiver(std::span<uint8_t> buffer) : buffer_(buffer) {}
    Step add(uint8_t c);
    // Blocks ended so far with a CR; a fourth wrong one ends the reception.
    int blocks() const { return blocks_; }

private:
    std::span<uint8_t> buffer_;
    std::size_t count_ = 0;
    uint8_t mask_ = 0;
    int blocks_ = 0;
};

} // namespace vetlina
