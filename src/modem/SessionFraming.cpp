#include "modem/SessionFraming.h"

namespace vetlina {

std::string encodeBlock(std::span<const uint8_t> data) {
    std::string wire;
    wire.reserve(data.size() * 2 + 1);
    for (uint8_t byte : data) {
        if (needsEscape(byte)) {
            wire += static_cast<char>(link::DLE);
            wire += static_cast<char>(byte ^ link::kEscapeMask);
        } else {
            wire += static_cast<char>(byte);
        }
    }
    wire += static_cast<char>(link::CR);
    return wire;
}

BlockReceiver::Step BlockReceiver::add(uint8_t c) {
    if (c == link::CR) {
        const std::size_t count = count_;
        count_ = 0;
        mask_ = 0;
        ++blocks_;
        return count == buffer_.size()  ? Step::Complete
               : count < buffer_.size() ? Step::Short
                                        : Step::Long;
    }
    if (c == link::DLE) {
        mask_ = link::kEscapeMask;
        return Step::More;
    }
    const uint8_t byte = c ^ mask_;
    mask_ = 0;
    if (count_ < buffer_.size())
        buffer_[count_++] = byte;
    else
        count_ = buffer_.size() + 1; // surplus: dropped
    return Step::More;
}

} // namespace vetlina
