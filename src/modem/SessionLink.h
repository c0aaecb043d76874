// The block layer between two complexes over a modem connection. Blocks have no
// length, sequence number or checksum: both sides know the length of the next block
// from the step of the dialogue, and the modems' own error correction guards the
// bytes. The layer sees lost and surplus characters by the length alone and repeats a
// block on request.
//
// The bytes on the wire are in SessionFraming.h. The receiver answers ACK for a block
// of the expected length and NAK for any other; a block goes at most four times.
#pragma once

#include "modem/SessionFraming.h"

#include <cstdint>
#include <span>

namespace vetlina {

class Device;

class SessionLink {
public:
    // The first transmission of a block and three repeats.
    static constexpr int kMaxTransmissions = 4;
    // The whole of one operation, counted from its call (not per attempt).
    static constexpr uint32_t kOperationLimitMs = 120000;

    // Works on the device's port and thread; the two counters are the modem thread's
    // (recvErrors, sendRepeats), incremented on the main thread and shown in the run
    // window's nMdmRecvErr and nMdmSendErr at once.
    SessionLink(Device& device, int32_t& recvErrors, int32_t& sendRepeats);

    // Sends the block and waits for its acknowledgement. An empty block: true at once,
    // nothing sent. False on a terminate request, on the carrier's loss, after the fourth
    // NAK, or when 120 000 ms have passed since the call. A lost acknowledgement
    // (another character than ACK or NAK while the carrier stands) counts a receive
    // error and is taken as delivered; a CR in its place (the far side has already sent
    // its next block) is answered with NAK so that the far side repeats that block.
    bool sendBlock(std::span<const uint8_t> data);

    // Receives a block of exactly buffer.size() bytes and acknowledges it; a block of
    // another length is answered with NAK and received again, at most four times. Never
    // writes past the buffer. An empty buffer: true at once, nothing read.
    bool receiveBlock(std::span<uint8_t> buffer);

private:
    enum class Check { Go, Terminated, TimeUp, NoCarrier };
    // The three checks made before each character written and between polls.
    Check check(uint32_t start);
    // Writes one byte, retried under the checks; the texts name the failure.
    bool writeChecked(uint8_t byte, uint32_t start, const char* timeUpText,
                      const char* noCarrierText);
    void countRecvError();
    void countSendRepeat();

    Device& device_;
    int32_t& recvErrors_;
    int32_t& sendRepeats_;
};

} // namespace vetlina
