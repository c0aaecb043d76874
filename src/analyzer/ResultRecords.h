// The result records of the measurement kinds. They travel between the two complexes
// in the result exchange and are read under the parameter keys by the evaluation and
// the data files, so their field order and widths are binding: 32-bit floats and
// 32-bit integers, in the order below, little-endian on the wire (toBytes/fromBytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vetlina {

struct SineResult {
    float level = 0;             // mean received level, dBm
    float frequency = 0;         // mean received frequency, Hz
    float snr = 0;               // sinSNR, dB
    float snrPs = 0;             // sinSNRps, dB
    float jitPh = 0;             // sinJitPh, degrees
    float jitAm = 0;             // sinJitAm, per cent
    float shift = 0;             // sinShift, Hz
    float pulPrc = 0;            // sinPulPrc, per cent of seconds
    int32_t pulCnt = 0;          // sinPulCnt
    float pulRel = 0;            // sinPulRel, fraction of the time
    float intPrc = 0;            // sinIntPrc
    int32_t intCnt = 0;          // sinIntCnt
    float intRel = 0;            // sinIntRel
    float sumPrc = 0;            // sinSumPrc
    int32_t sumCnt = 0;          // sinSumCnt
    float sumRel = 0;            // sinSumRel, at most 1
    int32_t hitPh = 0;           // sinHitPh
    int32_t hitAm = 0;           // sinHitAm
    std::array<float, 17> mod{}; // side components, carrier minus component, dB (sinMod)
    float att = 0;               // sinAtt, far generator level minus level, dB
    float dis2 = 0;              // sinDis2, per cent
    float dis3 = 0;              // sinDis3
    float dis23 = 0;             // sinDis23
    int32_t counter = 0;         // accumulated blocks
};

struct O132Result {
    float level = 0;
    float frequency = 0;
    float snr = 0;   // o132SNR
    float snrPs = 0; // o132SNRps
    float jitPh = 0; // o132JitPh
    float jitAm = 0; // o132JitAm
    float shift = 0; // o132Shift
    int32_t counter = 0;
};

struct O131Result {
    float level = 0;
    float snr = 0; // o131SNR
    int32_t counter = 0;
};

struct MttsResult {
    float level = 0;
    std::array<float, 38> att{};  // mttAtt, dB relative to the nominal tone share
    std::array<float, 38> del{};  // mttDel, ms relative to the smallest
    std::array<float, 38> freq{}; // Hz
    int32_t counter = 0;
};

struct O42Result {
    float level = 0;
    float dis2 = 0;  // o42Dis2, per cent
    float dis3 = 0;  // o42Dis3
    float dis23 = 0; // o42Dis23
    int32_t counter = 0;
};

struct ImpedanceResult {
    std::array<float, 38> imped{}; // impImped, ohm, deviation from 600 ohm
    std::array<float, 38> capac{}; // impCapac, microfarad
    std::array<float, 38> freq{};  // Hz
    int32_t counter = 0;
};

struct NoiseResult {
    float noise = 0;                   // blkNoise, dBm
    float noisePs = 0;                 // blkNoisePs, dBm
    std::array<float, 255> spectrum{}; // dBm per 25 Hz band
    int32_t counter = 0;
};

struct EchoResult {
    float echo = 0; // echoTalk or echoList, dB
    int32_t counter = 0;
};

static_assert(sizeof(float) == 4 && sizeof(int32_t) == 4);
static_assert(sizeof(SineResult) == 160);
static_assert(offsetof(SineResult, pulCnt) == 32 && offsetof(SineResult, hitAm) == 68);
static_assert(offsetof(SineResult, mod) == 72 && offsetof(SineResult, att) == 140);
static_assert(offsetof(SineResult, counter) == 156);
static_assert(sizeof(O132Result) == 32 && offsetof(O132Result, counter) == 28);
static_assert(sizeof(O131Result) == 12 && offsetof(O131Result, counter) == 8);
static_assert(sizeof(MttsResult) == 464 && offsetof(MttsResult, del) == 156);
static_assert(offsetof(MttsResult, freq) == 308 && offsetof(MttsResult, counter) == 460);
static_assert(sizeof(O42Result) == 20 && offsetof(O42Result, counter) == 16);
static_assert(sizeof(ImpedanceResult) == 460 && offsetof(ImpedanceResult, capac) == 152);
static_assert(offsetof(ImpedanceResult, freq) == 304 && offsetof(ImpedanceResult, counter) == 456);
static_assert(sizeof(NoiseResult) == 1032 && offsetof(NoiseResult, spectrum) == 8);
static_assert(offsetof(NoiseResult, counter) == 1028);
static_assert(sizeof(EchoResult) == 8 && offsetof(EchoResult, counter) == 4);

// Byte images of the records (little-endian fields in record order). toBytes writes
// exactly recordSize<T>() bytes; fromBytes reads them.
template <class Record>
constexpr std::size_t recordSize() {
    return sizeof(Record);
}
void toBytes(const SineResult& r, uint8_t* out);
void toBytes(const O132Result& r, uint8_t* out);
void toBytes(const O131Result& r, uint8_t* out);
void toBytes(const MttsResult& r, uint8_t* out);
void toBytes(const O42Result& r, uint8_t* out);
void toBytes(const ImpedanceResult& r, uint8_t* out);
void toBytes(const NoiseResult& r, uint8_t* out);
void toBytes(const EchoResult& r, uint8_t* out);
void fromBytes(const uint8_t* in, SineResult& r);
void fromBytes(const uint8_t* in, O132Result& r);
void fromBytes(const uint8_t* in, O131Result& r);
void fromBytes(const uint8_t* in, MttsResult& r);
void fromBytes(const uint8_t* in, O42Result& r);
void fromBytes(const uint8_t* in, ImpedanceResult& r);
void fromBytes(const uint8_t* in, NoiseResult& r);
void fromBytes(const uint8_t* in, EchoResult& r);

} // namespace vetlina
