#include "analyzer/ZmkLink.h"

#include "device/Device.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "reports/MessageFile.h"
#include "ui/UiBridge.h"

#include <algorithm>

namespace vetlina {

namespace {

// The word 10, the block that announces every command.
constexpr uint8_t kAnnounce[2] = {0x0A, 0x00};

// Bytes that would act as control bytes on the line and go escaped.
bool needsEscape(uint8_t byte) {
    return byte == zmkbyte::STX || byte == zmkbyte::LF || byte == zmkbyte::CR ||
           byte == zmkbyte::DLE || byte == zmkbyte::ESC;
}

} // namespace

bool ZmkLink::stopRequested() const {
    return device_.Terminated() || device_.stopped();
}

uint32_t ZmkLink::ReadEvent() {
    using namespace zmkstatus;
    lastReadEmpty_ = false;
    if (chunkRemaining_ <= 0) {
        const std::size_t n = device_.gets(chunk_.data(), chunk_.size());
        if (n == 0) {
            lastReadEmpty_ = true;
            if (device_.dsr_or_cts_off())
                status_ |= SwitchedOff;
            return status_;
        }
        chunkRemaining_ = static_cast<int32_t>(n);
        chunkPosition_ = 0;
    }
    const uint8_t byte = chunk_[chunkPosition_++];
    --chunkRemaining_;
    const uint16_t mask = escapeMask_;
    escapeMask_ = 0;

    // Control bytes act as they came: an escaped byte is never one of them.
    switch (byte) {
    case zmkbyte::STX:
        status_ |= InBlock;
        blockLength_ = 0;
        return status_;
    case zmkbyte::ACK:
        status_ |= Acknowledged;
        return status_;
    case zmkbyte::LF: {
        // The bits are or-ed, not added: a second line feed must not carry into the
        // acknowledgement bit.
        const uint32_t before = status_;
        status_ |= LineFeedSeen;
        return before | CharEvent | LineFeedSeen | zmkbyte::LF;
    }
    case zmkbyte::CR:
        if (status_ & InBlock) {
            status_ &= ~(InBlock | LineFeedSeen);
            status_ |= BlockReady;
            return status_;
        }
        status_ &= ~(InBlock | LineFeedSeen);
        return status_ | CharEvent | zmkbyte::CR;
    case zmkbyte::DLE:
        escapeMask_ = 0x20;
        return status_;
    case zmkbyte::ESC:
        return status_ | EscapeSeen;
    default:
        break;
    }
    const uint8_t data = static_cast<uint8_t>(byte ^ mask);
    if (!(status_ & InBlock))
        return status_ | CharEvent | data;
    if (blockLength_ < static_cast<int32_t>(kBlockSize))
        block_[blockLength_++] = data;
    return status_;
}

std::size_t ZmkLink::TakeBlock(uint8_t* buffer, std::size_t max) {
    if (!(status_ & zmkstatus::BlockReady))
        return 0;
    status_ &= ~zmkstatus::BlockReady;
    if (max == 0 || blockLength_ <= 0)
        return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(blockLength_), max);
    std::copy_n(block_.begin(), n, buffer);
    return n;
}

std::size_t ZmkLink::SendBlock(const uint8_t* bytes, std::size_t count) {
    if (count == 0 || !(status_ & zmkstatus::Acknowledged))
        return 0;
    status_ &= ~zmkstatus::Acknowledged;
    if (!device_.putch(zmkbyte::STX))
        return 0;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        if (needsEscape(byte)) {
            if (!device_.putch(zmkbyte::DLE) || !device_.putch(static_cast<uint8_t>(byte ^ 0x20)))
                return 0;
        } else if (!device_.putch(byte)) {
            return 0;
        }
    }
    if (!device_.putch(zmkbyte::CR))
        return 0;
    return count;
}

bool ZmkLink::WaitAck() {
    const uint32_t deadline = tickMs() + kAckWaitMs;
    // Past the deadline, the bytes already received are still read, up to this many (a
    // streaming analyzer cannot keep the wait alive).
    std::size_t lateBytes = kLateReadMax;
    for (;;) {
        if (device_.Terminated())
            return false;
        const bool late = tickReached(deadline);
        const uint32_t event = ReadEvent();
        if (event & zmkstatus::SwitchedOff) {
            AnalyzerFailure(toCp1251(kSwitchedOffText));
            return false;
        }
        // A block that arrives now is lost: the analyzer is not meant to send one.
        if (event & zmkstatus::BlockReady)
            DropBlock();
        if (event & zmkstatus::Acknowledged)
            return true;
        if (late && (lastReadEmpty_ || --lateBytes == 0))
            break;
    }
    ++lostAcks_;
    device_.ShowCounter(RunCounter::ZmkSendNotReady, lostAcks_);
    // The next SendBlock finds Acknowledged clear and sends nothing, unless the
    // acknowledgement arrives in between.
    return true;
}

bool ZmkLink::SendCommand(const uint8_t* bytes, std::size_t count) {
    // A stopped thread sends nothing more to the analyzer.
    if (stopRequested())
        return false;
    const bool sent = WaitAck() && SendBlock(kAnnounce, sizeof kAnnounce) == sizeof kAnnounce &&
                      WaitAck() && SendBlock(bytes, count) == count && count > 0;
    if (sent)
        return true;
    // A stop request ends the command without a word; a switched-off analyzer has
    // been reported by WaitAck already (a failure is reported once).
    if (!device_.Terminated())
        AnalyzerFailure(toCp1251(kAnalyzerFaultText));
    return false;
}

void ZmkLink::AnalyzerFailure(const std::string& text) {
    if (!device_.stop())
        return;
    device_.logEvent(text, true);
    writeMessageFile(run_, device_, MessageCode::DeviceFailure);
    device_.ui().dialogs().showMessage(toCp1251(kAnalyzerTitle), text, DialogIcon::Warning);
    device_.ui().post(MSG_RUN_END);
}

void ZmkLink::resetAfterHandshake() {
    status_ = zmkstatus::Acknowledged;
    escapeMask_ = 0;
    blockLength_ = 0;
}

void ZmkLink::countBadBlock() {
    ++badBlocks_;
    device_.ShowCounter(RunCounter::ZmkRecvBadBlk, badBlocks_);
}

} // namespace vetlina
