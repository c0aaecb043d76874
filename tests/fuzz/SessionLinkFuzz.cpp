// Fuzz target: the receive side of the session link. Any stream of characters from the
// far complex, received into a block of any expected length, must be taken apart into
// blocks exactly as the escaping rules say, never write past the block, and answer
// each CR with ACK for a block of the expected length and NAK for any other.
//
// Input: two bytes of the expected length (up to 4095, more than the longest block),
// then the characters as they come off the line.
#include "modem/SessionFraming.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using vetlina::BlockReceiver;

// The data bytes of one block on the wire, by the escaping rules, as the model.
std::vector<uint8_t> unescape(const uint8_t* wire, std::size_t size) {
    std::vector<uint8_t> out;
    uint8_t mask = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (wire[i] == vetlina::link::DLE) {
            mask = vetlina::link::kEscapeMask;
            continue;
        }
        out.push_back(static_cast<uint8_t>(wire[i] ^ mask));
        mask = 0;
    }
    return out;
}

// A block of data sent as encodeBlock makes it arrives whole and unchanged.
void checkRoundTrip(const std::vector<uint8_t>& data) {
    const std::string wire = vetlina::encodeBlock(data);
    std::vector<uint8_t> got(data.size() + 1, 0xA5);
    BlockReceiver receiver(std::span<uint8_t>(got.data(), data.size()));
    for (std::size_t i = 0; i < wire.size(); ++i) {
        const auto step = receiver.add(static_cast<uint8_t>(wire[i]));
        if ((step == BlockReceiver::Step::More) != (i + 1 < wire.size()))
            std::abort();
        if (i + 1 == wire.size() && step != BlockReceiver::Step::Complete)
            std::abort();
    }
    if (got.back() != 0xA5 || !std::equal(data.begin(), data.end(), got.begin()))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const std::size_t expected = (data[0] | (data[1] << 8)) & 0x0FFF;
    data += 2;
    size -= 2;
    // A guard byte after the block catches a write past it.
    std::vector<uint8_t> buffer(expected + 1, 0x5A);
    BlockReceiver receiver(std::span<uint8_t>(buffer.data(), expected));
    std::size_t blockStart = 0;
    int blocks = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const auto step = receiver.add(data[i]);
        if (buffer[expected] != 0x5A)
            std::abort();
        if (step == BlockReceiver::Step::More) {
            if (data[i] == vetlina::link::CR)
                std::abort();
            continue;
        }
        if (data[i] != vetlina::link::CR || receiver.blocks() != ++blocks)
            std::abort();
        const std::vector<uint8_t> model = unescape(data + blockStart, i - blockStart);
        const auto wanted = model.size() == expected  ? BlockReceiver::Step::Complete
                            : model.size() < expected ? BlockReceiver::Step::Short
                                                      : BlockReceiver::Step::Long;
        if (step != wanted)
            std::abort();
        if (step == BlockReceiver::Step::Complete &&
            !std::equal(model.begin(), model.end(), buffer.begin()))
            std::abort();
        if (model.size() <= 512)
            checkRoundTrip(model);
        blockStart = i + 1;
    }
    return 0;
}
