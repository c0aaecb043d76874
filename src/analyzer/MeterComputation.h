// The computation of the analyzer's data blocks: DecodeBlock turns every block the
// analyzer sends into numbers and a result code, assembles raw frames into frame sets,
// recognises the test signal on the line and computes its parameters.
//
// The computation is pure: where decoding must make the analyzer do something (a meter
// restart, command 6, a line mode of the impedance measurement) or report the range,
// it asks the DecoderActions that the measurement sequence implements. What it
// computes is described in MeterOutputs.h.
#pragma once

#include "analyzer/DecoderActions.h"
#include "analyzer/Encoders.h"
#include "analyzer/MeterOutputs.h"
#include "analyzer/MeterState.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vetlina {

struct Workspace;

class MeterComputation {
public:
    // Obtains the working memory once; hasWorkingMemory() tells whether that worked.
    MeterComputation();
    ~MeterComputation();
    MeterComputation(const MeterComputation&) = delete;
    MeterComputation& operator=(const MeterComputation&) = delete;

    bool hasWorkingMemory() const { return workspace_ != nullptr && outputs_ != nullptr; }

    // Decodes one block of count 16-bit words (as received, the type first) and returns
    // its result code. Blocks of an unknown type or length give code::Rejected.
    int16_t DecodeBlock(const int16_t* words, int count, DecoderActions& actions);
    // The same for the bytes of a block as the link un-stuffs them (little-endian
    // words; an odd last byte is ignored; at most 512 bytes are looked at).
    int16_t DecodeBlockBytes(const uint8_t* bytes, std::size_t byteCount, DecoderActions& actions);

    // Start-up reset of the computation state; result tables to missing.
    void reset();

    MeterState state;
    const MeterOutputs& out() const { return *outputs_; }
    MeterOutputs& out() { return *outputs_; }

private:
    int16_t decodeFrame(const int16_t* words, DecoderActions& actions);
    int16_t decodeMeterTable(const int16_t* words, DecoderActions& actions);
    int16_t decodeEventStatistics(const int16_t* words);
    int16_t decodeTracking(const int16_t* words, DecoderActions& actions);
    int16_t analyseSignalSet(DecoderActions& actions);
    int16_t analyseEchoSet(DecoderActions& actions);

    std::unique_ptr<Workspace> workspace_;
    std::unique_ptr<MeterOutputs> outputs_;
};

} // namespace vetlina
