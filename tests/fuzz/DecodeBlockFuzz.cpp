// Fuzz target: any sequence of received blocks, in any meter state, must decode without
// a crash, an out-of-range access or undefined behaviour, and give a listed code.
//
// Input: 4 bytes of meter state (maximum and minimum signal, threshold, modes), then
// blocks as [length byte][length bytes]; a length byte of 255 stands for a whole frame
// of 136 bytes.
#include "analyzer/Encoders.h"
#include "analyzer/MeterComputation.h"

#include <cstdint>
#include <cstdlib>

namespace {

class Actions : public vetlina::DecoderActions {
public:
    void reportRange(int16_t report) override {
        if (report != vetlina::code::InRange && report != vetlina::code::Overload)
            std::abort();
    }
    bool send(const vetlina::CommandPlan& plan) override {
        if (plan.count > vetlina::CommandPlan::kMaxBlocks)
            std::abort();
        return true;
    }
};

bool listed(int16_t c) {
    return (c >= vetlina::kFirstSineBin && c <= vetlina::kLastSineBin) || (c <= 0 && c >= -12) ||
           c == vetlina::code::Nothing || c == vetlina::code::Rejected;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static vetlina::MeterComputation meter;
    meter.reset();
    meter.state = vetlina::MeterState{};
    meter.state.reset();
    Actions actions;
    if (size >= 4) {
        vetlina::MeterState& st = meter.state;
        (void)vetlina::MeterLevHiLowRangeSet(st, static_cast<int8_t>(data[0]),
                                             static_cast<int8_t>(data[1]) - 60);
        st.recognitionThreshold = static_cast<int8_t>(data[2]);
        vetlina::SetLineMode(st, (data[3] & 1) ? 11 : 3);
        if (data[3] & 2)
            (void)vetlina::ImpedSet(st, -10.0);
        if (data[3] & 4)
            (void)vetlina::EchoSet(st, vetlina::EchoSettings{});
        if (data[3] & 8)
            st.adoptSine(96 + data[3]);
        data += 4;
        size -= 4;
    }
    while (size > 0) {
        size_t length = data[0] == 255 ? 136 : data[0];
        ++data;
        --size;
        if (length > size)
            length = size;
        const int16_t c = meter.DecodeBlockBytes(data, length, actions);
        if (!listed(c))
            std::abort();
        data += length;
        size -= length;
    }
    return 0;
}
