// The block protocol between the computer and the ZMK-5 analyzer: byte-stuffed blocks
// of 16-bit little-endian words between STX and CR, each block from the computer
// acknowledged by one ACK byte, plain characters outside blocks (the identification
// and the replies of the speed handshake), the two link counters of the run window,
// and the single failure path of the analyzer thread.
//
// Everything here runs on the thread that owns the analyzer's port: the main thread
// during start-up, the analyzer thread afterwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vetlina {

class RunContext;

class Device;

// Control bytes of the link.
namespace zmkbyte {
inline constexpr uint8_t STX = 2; // start of block
inline constexpr uint8_t ACK = 6; // the analyzer took a block
inline constexpr uint8_t LF = 10;
inline constexpr uint8_t CR = 13;  // end of block
inline constexpr uint8_t DLE = 16; // the next byte is escaped (XOR 0x20)
inline constexpr uint8_t ESC = 27; // start of the analyzer's raw escape sequences
} // namespace zmkbyte

// Bits of the link status and of the event values ReadEvent returns.
namespace zmkstatus {
inline constexpr uint32_t LineFeedSeen = 0x0100; // set on LF, cleared on CR
inline constexpr uint32_t Acknowledged = 0x0200; // set on ACK, cleared when a block is sent
inline constexpr uint32_t EscapeSeen = 0x0400;   // only in the event value of an ESC byte
inline constexpr uint32_t InBlock = 0x0800;      // between STX and CR
inline constexpr uint32_t SwitchedOff = 0x2000;  // no data and DSR or CTS off
inline constexpr uint32_t BlockReady = 0x4000;   // a complete block waits to be taken
inline constexpr uint32_t CharEvent = 0x8000;    // a byte outside a block, in the low 8 bits
} // namespace zmkstatus

class ZmkLink {
public:
    // Bytes read from the port at a time.
    static constexpr std::size_t kChunkSize = 250;
    // Bytes kept of one block; later bytes of an over-long block are dropped.
    static constexpr std::size_t kBlockSize = 550;
    // How long an acknowledgement may take.
    static constexpr uint32_t kAckWaitMs = 2000;
    // Bytes read after that deadline at the most, to find an acknowledgement that came in
    // time but was not yet read.
    static constexpr std::size_t kLateReadMax = 4096;

    // The link of the analyzer on device's port; failures are reported through device.
    // run: the run whose message file a device failure writes (none outside a run).
    explicit ZmkLink(Device& device, RunContext* run = nullptr) : device_(device), run_(run) {}

    // One step of the receive state machine: the link status, with an event bit and a
    // character where the byte read calls for it.
    uint32_t ReadEvent();
    // Copies the ready block (at most max bytes) and clears BlockReady: the count, or 0
    // when no block is ready, max is 0 or the block is empty.
    std::size_t TakeBlock(uint8_t* buffer, std::size_t max);
    // Drops a ready block unread.
    void DropBlock() { status_ &= ~zmkstatus::BlockReady; }
    // Sends one block: the count on success, 0 when nothing was sent (count 0, the
    // previous block not acknowledged) or a byte could not be written.
    std::size_t SendBlock(const uint8_t* bytes, std::size_t count);
    // Waits up to 2 s for the acknowledgement of the previous block. True when it came
    // or the time ran out (counted as a lost acknowledgement); false when the thread is
    // asked to stop or the analyzer is switched off. What has arrived by the deadline is
    // read before the acknowledgement counts as lost: a thread woken late by a busy
    // machine finds the answer waiting in the port, not silence.
    bool WaitAck();
    // Sends one command: the announcing block with the word 10, then the command block,
    // each after the acknowledgement of the one before. A failure ends the run with
    // "Отказ анализатора". Nothing is sent once the thread is stopped.
    bool SendCommand(const uint8_t* bytes, std::size_t count);
    // The failure path of the analyzer thread (text in cp1251): the thread stops for
    // good, the event is logged, the message file is written, the operator sees a
    // message box and the run ends. Reported once: nothing happens when the thread was
    // stopped already.
    void AnalyzerFailure(const std::string& text);

    // The state the speed handshake leaves: Acknowledged only, no escape, empty block.
    void resetAfterHandshake();
    // Forgets what is left of the last chunk read from the port.
    void discardChunk() { chunkRemaining_ = 0; }
    // True when the last ReadEvent found nothing to read.
    bool lastReadEmpty() const { return lastReadEmpty_; }
    // Counts a block the decoder rejected.
    void countBadBlock();

    uint32_t status() const { return status_; }
    int32_t blockLength() const { return blockLength_; }
    int32_t nZmkRecvBadBlk() const { return badBlocks_; }
    int32_t nZmkSendNotReady() const { return lostAcks_; }

    // True when the thread is to end its current step: terminated, or stopped for good.
    bool stopRequested() const;

private:
    Device& device_;
    RunContext* run_;
    uint16_t status_ = 0;
    uint16_t escapeMask_ = 0;
    int32_t blockLength_ = 0;
    int32_t chunkRemaining_ = 0;
    std::size_t chunkPosition_ = 0;
    bool lastReadEmpty_ = false;
    std::array<uint8_t, kChunkSize> chunk_{};
    std::array<uint8_t, kBlockSize> block_{};
    int32_t badBlocks_ = 0;
    int32_t lostAcks_ = 0;
};

// Text of a failure while waiting: DSR or CTS dropped.
inline constexpr const char* kSwitchedOffText = "Отключение анализатора";
// Text of a command that could not be sent.
inline constexpr const char* kAnalyzerFaultText = "Отказ анализатора";
// Title of the analyzer's message boxes.
inline constexpr const char* kAnalyzerTitle = " Анализатор ZMK-5";

} // namespace vetlina
