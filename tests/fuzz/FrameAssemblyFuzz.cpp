// Fuzz target: raw frames in any order, with any tags, kinds and contents, assembled into
// frame sets and analysed. The input steers a stream of frames that is mostly in order,
// so that sets complete and every analysis runs on signals of many shapes.
//
// Input: a signal description (kind, frequency, amplitude, noise, extra bytes), then one
// byte per frame: below 200 the next frame in order; otherwise a frame out of order, of
// another tag, of the other kind, or with a position from the next byte.
#include "analyzer/Encoders.h"
#include "analyzer/MeterComputation.h"
#include "analyzer/Tables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {

class Actions : public vetlina::DecoderActions {
public:
    void reportRange(int16_t) override {}
    bool send(const vetlina::CommandPlan&) override { return true; }
};

// The signal is the harness's own work, left out of the coverage: its branches say
// nothing of the code under test and tracing them cost a fifth of the time.
#define HARNESS_ONLY __attribute__((no_sanitize("coverage")))

// The described signal at one time sample, before the noise.
HARNESS_ONLY double clean(const uint8_t* d, int t) {
    const double pi = std::numbers::pi;
    const double amplitude = 32767.0 * std::pow(10.0, -d[2] / 40.0);
    const double f = 20.0 + d[1] * 25.0 + d[4] * 0.1;
    double v = 0.0;
    switch (d[0] % 5) {
    case 0: // sine with a harmonic and phase jitter
        v = amplitude * std::cos(2 * pi * f * t / 12800.0 +
                                 0.1 * d[5] * std::sin(2 * pi * 50 * t / 12800.0)) +
            amplitude * d[6] / 2550.0 * std::cos(4 * pi * f * t / 12800.0);
        break;
    case 1: // the multi-frequency comb, shifted
        for (int i = 1; i <= 38; ++i)
            v += amplitude / 12.0 *
                 std::cos(2 * pi * (i * 100.0 + d[4] % 16 * 3.125) * t / 12800.0 +
                          vetlina::kTonePhaseSevenths[i - 1] * 2 * pi / 7);
        break;
    case 2: // O.42-like four tones
        for (double g : {856.25, 865.625, 1375.0, 1387.5})
            v += amplitude / 4.0 * std::cos(2 * pi * g * t / 12800.0);
        break;
    case 3: // a raw pattern of the input
        v = static_cast<int8_t>(d[((t % 6) + 6) % 6 + 1]) * 256.0;
        break;
    default: // silence or full-scale square
        v = (d[5] & 1) ? ((t / (1 + d[1] % 32)) % 2 ? 32767.0 : -32768.0) : 0.0;
        break;
    }
    return v;
}

// The clean signal of the last description, each time sample worked out once: most
// inputs keep the description of the one they were made from, and the cosines cost
// far more than the frames they fill.
class SignalCache {
public:
    // Time samples run from -128 (a frame at position 0) to 28543 (position 255 * 64).
    static constexpr int kFirst = -128;
    static constexpr int kCount = 28672 + 128;

    HARNESS_ONLY double at(const uint8_t* d, int t) {
        if (!std::equal(d, d + kDescription, description_.begin())) {
            std::copy(d, d + kDescription, description_.begin());
            ++generation_;
        }
        const int i = t - kFirst;
        if (i < 0 || i >= kCount)
            return clean(d, t);
        if (made_[i] != generation_) {
            values_[i] = clean(d, t);
            made_[i] = generation_;
        }
        return values_[i];
    }

private:
    static constexpr std::size_t kDescription = 7;
    std::array<uint8_t, kDescription> description_{};
    uint32_t generation_ = 1;
    std::vector<double> values_ = std::vector<double>(kCount);
    std::vector<uint32_t> made_ = std::vector<uint32_t>(kCount, 0);
};

// One time sample of the described signal, with its noise.
HARNESS_ONLY int16_t sample(SignalCache& signal, const uint8_t* d, int t, uint32_t& noise) {
    double v = signal.at(d, t);
    noise = noise * 1664525u + 1013904223u;
    v += (static_cast<int>(noise >> 16) % 2001 - 1000) * d[3] / 255.0;
    return static_cast<int16_t>(std::clamp(std::round(v), -32768.0, 32767.0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHeader = 8;
    if (size < kHeader)
        return 0;
    static vetlina::MeterComputation meter;
    static SignalCache signal;
    meter.reset();
    meter.state = vetlina::MeterState{};
    meter.state.reset();
    meter.state.recognitionThreshold = data[7] % 40;
    (void)vetlina::MeterLevHiLowRangeSet(meter.state, 0.0, -70.0);
    if (data[7] & 0x80) {
        vetlina::SetLineMode(meter.state, 11);
        (void)vetlina::ImpedSet(meter.state, -10.0);
    }
    Actions actions;
    uint32_t noise = 1;
    uint32_t tag = 1000;
    int position = 64;
    std::array<int16_t, 68> frame{};
    for (size_t i = kHeader; i < size; ++i) {
        const uint8_t op = data[i];
        int16_t type = -9;
        int pos = position;
        if (op >= 200) {
            switch (op % 4) {
            case 0:
                pos = position + 64;
                break;
            case 1:
                ++tag;
                break;
            case 2:
                type = -10;
                break;
            default:
                pos = i + 1 < size ? data[++i] * 64 : 64;
                break;
            }
        }
        frame[0] = type;
        frame[1] = static_cast<int16_t>(tag >> 16);
        frame[2] = static_cast<int16_t>(tag & 0xFFFF);
        const int first = pos - 64;
        for (int k = 0; k < 64; ++k) {
            // Positions below 2048 hold even time samples, the others odd ones.
            const int p = first + k;
            const int t = p < 2048 ? 2 * p : 2 * (p - 2048) + 1;
            frame[3 + k] = sample(signal, data, t, noise);
        }
        frame[67] = static_cast<int16_t>(pos);
        const int16_t c = meter.DecodeBlock(frame.data(), 68, actions);
        if (c == vetlina::code::Rejected)
            std::abort();
        position = pos >= 4096 ? 64 : pos + 64;
    }
    return 0;
}
