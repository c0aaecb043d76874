// The result records of the measurement kinds. They travel between the two complexes
// in the result exchange and are read under the parameter keys by the evaluation and
// the data files, so their field order and widths are binding: 32-bit floats and
// 32-bit integers, in the order below, little-endian. Each record is its own byte
// image (Le fields, no padding); toBytes/fromBytes copy it.
#pragma once

#include "platform/LittleEndian.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vetlina {

struct SineResult {
    Le<float> level{};               // mean received level, dBm
    Le<float> frequency{};           // mean received frequency, Hz
    Le<float> snr{};                 // sinSNR, dB
    Le<float> snrPs{};               // sinSNRps, dB
    Le<float> jitPh{};               // sinJitPh, degrees
    Le<float> jitAm{};               // sinJitAm, per cent
    Le<float> shift{};               // sinShift, Hz
    Le<float> pulPrc{};              // sinPulPrc, per cent of seconds
    Le<int32_t> pulCnt{};            // sinPulCnt
    Le<float> pulRel{};              // sinPulRel, fraction of the time
    Le<float> intPrc{};              // sinIntPrc
    Le<int32_t> intCnt{};            // sinIntCnt
    Le<float> intRel{};              // sinIntRel
    Le<float> sumPrc{};              // sinSumPrc
    Le<int32_t> sumCnt{};            // sinSumCnt
    Le<float> sumRel{};              // sinSumRel, at most 1
    Le<int32_t> hitPh{};             // sinHitPh
    Le<int32_t> hitAm{};             // sinHitAm
    std::array<Le<float>, 17> mod{}; // side components, carrier minus component, dB (sinMod)
    Le<float> att{};                 // sinAtt, far generator level minus level, dB
    Le<float> dis2{};                // sinDis2, per cent
    Le<float> dis3{};                // sinDis3
    Le<float> dis23{};               // sinDis23
    Le<int32_t> counter{};           // accumulated blocks
};

struct O132Result {
    Le<float> level{};
    Le<float> frequency{};
    Le<float> snr{};   // o132SNR
    Le<float> snrPs{}; // o132SNRps
    Le<float> jitPh{}; // o132JitPh
    Le<float> jitAm{}; // o132JitAm
    Le<float> shift{}; // o132Shift
    Le<int32_t> counter{};
};

struct O131Result {
    Le<float> level{};
    Le<float> snr{}; // o131SNR
    Le<int32_t> counter{};
};

struct MttsResult {
    Le<float> level{};
    std::array<Le<float>, 38> att{};  // mttAtt, dB relative to the nominal tone share
    std::array<Le<float>, 38> del{};  // mttDel, ms relative to the smallest
    std::array<Le<float>, 38> freq{}; // Hz
    Le<int32_t> counter{};
};

struct O42Result {
    Le<float> level{};
    Le<float> dis2{};  // o42Dis2, per cent
    Le<float> dis3{};  // o42Dis3
    Le<float> dis23{}; // o42Dis23
    Le<int32_t> counter{};
};

struct ImpedanceResult {
    std::array<Le<float>, 38> imped{}; // impImped, ohm, deviation from 600 ohm
    std::array<Le<float>, 38> capac{}; // impCapac, microfarad
    std::array<Le<float>, 38> freq{};  // Hz
    Le<int32_t> counter{};
};

struct NoiseResult {
    Le<float> noise{};                     // blkNoise, dBm
    Le<float> noisePs{};                   // blkNoisePs, dBm
    std::array<Le<float>, 255> spectrum{}; // dBm per 25 Hz band
    Le<int32_t> counter{};
};

struct EchoResult {
    Le<float> echo{}; // echoTalk or echoList, dB
    Le<int32_t> counter{};
};

static_assert(std::is_trivially_copyable_v<SineResult> && alignof(SineResult) == 1);
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

// Parasitic modulation as shown and stored: the largest of the 17 components and 0.
float parasiticModulation(const SineResult& sine);
// Selective interference: the largest of the noise spectrum values 11..135, or -999.
float selectiveInterference(const NoiseResult& noise);

// The component of a 38-point table measured nearest to frequency x (components with a
// frequency below 1e-9 Hz were not measured); -1 when none was.
int nearestComponent(const std::array<Le<float>, 38>& frequency, double x);

// Value at a reference frequency from a table of 38 components (frequencies ascending).
// Below 100 Hz: 0, or for the impedance record the largest absolute value of entries
// 2..34. Outside the measured frequencies the nearest end component's value is taken.
double interpolateAtReference(const std::array<Le<float>, 38>& frequency,
                              const std::array<Le<float>, 38>& value, double x,
                              bool impedanceRecord);

} // namespace vetlina
