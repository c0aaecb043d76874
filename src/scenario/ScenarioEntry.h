// The scenario entry: the fixed 3918-byte record of one answering complex. It is
// the unit of the scenario file, of the template file (its settings part) and of
// the hand-over to the far complex, so its image is binding to the byte: every
// number little-endian, no padding, fields at the offsets asserted below.
//
// Three parts side by side: identity and progress (0..94), the statistics of the
// series (95..3094), and the settings with the norms (3095..3917). A norm has an
// enable flag (XOn) and a value (X), named by its key in the norms file.
#pragma once

#include "platform/DateTime.h"
#include "platform/LittleEndian.h"
#include "platform/ValueMarks.h"
#include "scenario/Statistics.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace vetlina {

// ComplexType of an entry: a full complex (it measures too), or an autonomous generator.
inline constexpr uint8_t kFullComplexType = 0;
inline constexpr uint8_t kGeneratorComplexType = 1;

struct ScenarioEntry {
    // Identity and progress.
    char Id[10];
    char Number[32];
    uint8_t Finished;
    Le<double> SeriesTime;
    Le<int32_t> SessionsDone;
    // Postponements, consecutive НУС attempts, consecutive no-carrier outcomes,
    // consecutive Отб outcomes.
    Le<int32_t> RunCounters[4];
    // Calls..FailOtb travel together as one 16-byte block between the complexes.
    Le<int32_t> Calls;
    Le<int32_t> FailNUS;
    Le<int32_t> FailNUV;
    Le<int32_t> FailOtb;
    Le<int32_t> EvalCounterA;
    Le<int32_t> EvalCounterB;

    // Statistics: direction A is the one in which the calling complex generated
    // and the answering complex measured, direction B the reverse.
    SineStats sineA;
    SineStats sineB;
    O132Stats o132A;
    O132Stats o132B;
    O131Stats o131A;
    O131Stats o131B;
    NoiseStats noiseA;
    NoiseStats noiseB;
    EchoStats echoA;
    EchoStats echoB;
    ImpedanceStats impedanceA;
    ImpedanceStats impedanceB;
    MultiFrequencyStats mttA;
    MultiFrequencyStats mttB;
    O42Stats o42A;
    O42Stats o42B;
    ThroughputStats throughputA;
    ThroughputStats throughputB;

    // Settings: what a template holds.
    uint8_t ComplexType; // 0 a full complex, 1 an autonomous generator
    char AT[64];
    char DiscrAT[64];
    Le<int32_t> NumMin;
    Le<int32_t> NumTotal;
    Le<float> Busy;
    Le<float> Carr;
    Le<float> Break;
    Le<double> BegTime;
    Le<double> EndTime;
    Le<double> NextTime;
    Le<int32_t> LocalPaus;
    Le<int32_t> LocalCall;
    Le<int32_t> TrunkPaus;
    Le<int32_t> TrunkCall;
    Le<int32_t> Trunk8W;
    uint8_t Analog;

    // Norms: enable flags and values.
    uint8_t sinSNROn;
    Le<float> sinSNR;
    uint8_t sinSNRpsOn;
    Le<float> sinSNRps;
    uint8_t sinJitPhOn;
    uint8_t sinJitAmOn;
    Le<float> sinJitPh;
    Le<float> sinJitAm;
    uint8_t sinShiftOn;
    Le<float> sinShift;
    uint8_t sinPulPrcOn;
    uint8_t sinPulCntOn;
    uint8_t sinPulRelOn;
    Le<float> sinPulPrc;
    Le<int32_t> sinPulCnt;
    Le<int32_t> sinPulRel; // decimal exponent: the norm is 10^sinPulRel
    uint8_t sinIntPrcOn;
    uint8_t sinIntCntOn;
    uint8_t sinIntRelOn;
    Le<float> sinIntPrc;
    Le<int32_t> sinIntCnt;
    Le<int32_t> sinIntRel;
    uint8_t sinSumPrcOn;
    uint8_t sinSumCntOn;
    uint8_t sinSumRelOn;
    Le<float> sinSumPrc;
    Le<int32_t> sinSumCnt;
    Le<int32_t> sinSumRel;
    uint8_t sinHitPhOn;
    uint8_t sinHitAmOn;
    Le<int32_t> sinHitPh;
    Le<int32_t> sinHitAm;
    uint8_t sinModOn;
    Le<float> sinMod;
    uint8_t sinAttOn;
    Le<float> sinAtt;
    uint8_t sinDis2On;
    uint8_t sinDis3On;
    uint8_t sinDis23On;
    Le<float> sinDis2;
    Le<float> sinDis3;
    Le<float> sinDis23;
    uint8_t o132SNROn;
    Le<float> o132SNR;
    uint8_t o132SNRpsOn;
    Le<float> o132SNRps;
    uint8_t o132JitPhOn;
    uint8_t o132JitAmOn;
    Le<float> o132JitPh;
    Le<float> o132JitAm;
    uint8_t o132ShiftOn;
    Le<float> o132Shift;
    uint8_t o131SNROn;
    Le<float> o131SNR;
    uint8_t blkNoiseOn;
    Le<float> blkNoise;
    uint8_t blkNoisePsOn;
    Le<float> blkNoisePs;
    uint8_t blkNoiseSelOn;
    Le<float> blkNoiseSel;
    uint8_t echoTalkOn;
    Le<float> echoTalk;
    uint8_t echoListOn;
    Le<float> echoList;
    uint8_t impImpedOn;
    Le<int32_t> impImped;
    Le<float> ImpedFreq;
    uint8_t impCapacOn;
    Le<int32_t> impCapac;
    Le<float> CapacFreq;
    // Multi-frequency signal: attenuation response and group delay at 14 points.
    uint8_t mttAttOn;
    Le<float> Att[kMttPoints];
    Le<float> AttF[kMttPoints];
    Le<float> AttNotch;
    uint8_t mttDelOn;
    Le<int32_t> Del[kMttPoints]; // µs
    Le<float> DelF[kMttPoints];
    Le<float> DelNotch;
    uint8_t o42Dis2On;
    uint8_t o42Dis3On;
    uint8_t o42Dis23On;
    Le<float> o42Dis2;
    Le<float> o42Dis3;
    Le<float> o42Dis23;
    uint8_t disPassOn;
    Le<float> disPass;

    // Generator settings: time (s; below 1 s the signal is not measured), outgoing
    // and incoming level (dBm), further fields.
    Le<double> EchoTime;
    Le<float> EchoLev;
    Le<float> EchoLevR;
    Le<int32_t> EchoFreq;
    Le<int32_t> EchoT1;
    Le<int32_t> EchoT2;
    Le<int32_t> EchoT;
    Le<double> SinTime;
    Le<float> SinLev;
    Le<float> SinLevR;
    Le<int32_t> SinFreq;
    Le<double> O132Time;
    Le<float> O132Lev;
    Le<float> O132LevR;
    Le<int32_t> O132Freq;
    Le<double> O131Time;
    Le<float> O131Lev;
    Le<float> O131LevR;
    Le<double> MTTSTime;
    Le<float> MTTSLev;
    Le<float> MTTSLevR;
    Le<double> O42Time;
    Le<float> O42Lev;
    Le<float> O42LevR;
    Le<double> ImpTime;
    Le<float> ImpLev;
    Le<float> ImpLevR;
    Le<double> BlkTime;
    Le<double> DiscrTime;

    // Meter settings and event thresholds.
    Le<int32_t> SincTime; // half-seconds
    Le<int32_t> DeadTime;
    Le<int32_t> MaxLev;
    Le<int32_t> MinLev;
    Le<int32_t> MinSNR;
    Le<float> ThHitPh;
    Le<float> ThHitAm;
    uint8_t ThAbs; // 1 absolute thresholds (dBm), 0 relative thresholds (dB)
    Le<float> ThAbsPul;
    Le<float> ThAbsInt;
    Le<float> ThRelPul;
    Le<float> ThRelInt;
};

constexpr std::size_t kEntrySize = 3918;
// The statistics area and the settings part (what a template holds).
constexpr std::size_t kStatisticsOffset = 95;
constexpr std::size_t kSettingsOffset = 3095;
constexpr std::size_t kSettingsSize = kEntrySize - kSettingsOffset; // 823

static_assert(sizeof(ScenarioEntry) == kEntrySize);
static_assert(alignof(ScenarioEntry) == 1);
static_assert(std::is_trivially_copyable_v<ScenarioEntry>);
static_assert(std::is_standard_layout_v<ScenarioEntry>);

// Identity and progress.
static_assert(offsetof(ScenarioEntry, Id) == 0 && offsetof(ScenarioEntry, Number) == 10 &&
              offsetof(ScenarioEntry, Finished) == 42 &&
              offsetof(ScenarioEntry, SeriesTime) == 43 &&
              offsetof(ScenarioEntry, SessionsDone) == 51 &&
              offsetof(ScenarioEntry, RunCounters) == 55 && offsetof(ScenarioEntry, Calls) == 71 &&
              offsetof(ScenarioEntry, FailNUS) == 75 && offsetof(ScenarioEntry, FailNUV) == 79 &&
              offsetof(ScenarioEntry, FailOtb) == 83 &&
              offsetof(ScenarioEntry, EvalCounterA) == 87 &&
              offsetof(ScenarioEntry, EvalCounterB) == 91);
// Statistics blocks.
static_assert(offsetof(ScenarioEntry, sineA) == 95 && offsetof(ScenarioEntry, sineB) == 559 &&
              offsetof(ScenarioEntry, o132A) == 1023 && offsetof(ScenarioEntry, o132B) == 1167 &&
              offsetof(ScenarioEntry, o131A) == 1311 && offsetof(ScenarioEntry, o131B) == 1355 &&
              offsetof(ScenarioEntry, noiseA) == 1399 && offsetof(ScenarioEntry, noiseB) == 1463 &&
              offsetof(ScenarioEntry, echoA) == 1527 && offsetof(ScenarioEntry, echoB) == 1575 &&
              offsetof(ScenarioEntry, impedanceA) == 1623 &&
              offsetof(ScenarioEntry, impedanceB) == 1667 &&
              offsetof(ScenarioEntry, mttA) == 1711 && offsetof(ScenarioEntry, mttB) == 2295 &&
              offsetof(ScenarioEntry, o42A) == 2879 && offsetof(ScenarioEntry, o42B) == 2963 &&
              offsetof(ScenarioEntry, throughputA) == 3047 &&
              offsetof(ScenarioEntry, throughputB) == 3071);
// General settings.
static_assert(offsetof(ScenarioEntry, ComplexType) == 3095 && offsetof(ScenarioEntry, AT) == 3096 &&
              offsetof(ScenarioEntry, DiscrAT) == 3160 && offsetof(ScenarioEntry, NumMin) == 3224 &&
              offsetof(ScenarioEntry, NumTotal) == 3228 && offsetof(ScenarioEntry, Busy) == 3232 &&
              offsetof(ScenarioEntry, Carr) == 3236 && offsetof(ScenarioEntry, Break) == 3240 &&
              offsetof(ScenarioEntry, BegTime) == 3244 &&
              offsetof(ScenarioEntry, EndTime) == 3252 &&
              offsetof(ScenarioEntry, NextTime) == 3260 &&
              offsetof(ScenarioEntry, LocalPaus) == 3268 &&
              offsetof(ScenarioEntry, LocalCall) == 3272 &&
              offsetof(ScenarioEntry, TrunkPaus) == 3276 &&
              offsetof(ScenarioEntry, TrunkCall) == 3280 &&
              offsetof(ScenarioEntry, Trunk8W) == 3284 && offsetof(ScenarioEntry, Analog) == 3288);
// Sine norms.
static_assert(
    offsetof(ScenarioEntry, sinSNROn) == 3289 && offsetof(ScenarioEntry, sinSNR) == 3290 &&
    offsetof(ScenarioEntry, sinSNRpsOn) == 3294 && offsetof(ScenarioEntry, sinSNRps) == 3295 &&
    offsetof(ScenarioEntry, sinJitPhOn) == 3299 && offsetof(ScenarioEntry, sinJitAmOn) == 3300 &&
    offsetof(ScenarioEntry, sinJitPh) == 3301 && offsetof(ScenarioEntry, sinJitAm) == 3305 &&
    offsetof(ScenarioEntry, sinShiftOn) == 3309 && offsetof(ScenarioEntry, sinShift) == 3310 &&
    offsetof(ScenarioEntry, sinPulPrcOn) == 3314 && offsetof(ScenarioEntry, sinPulCntOn) == 3315 &&
    offsetof(ScenarioEntry, sinPulRelOn) == 3316 && offsetof(ScenarioEntry, sinPulPrc) == 3317 &&
    offsetof(ScenarioEntry, sinPulCnt) == 3321 && offsetof(ScenarioEntry, sinPulRel) == 3325 &&
    offsetof(ScenarioEntry, sinIntPrcOn) == 3329 && offsetof(ScenarioEntry, sinIntCntOn) == 3330 &&
    offsetof(ScenarioEntry, sinIntRelOn) == 3331 && offsetof(ScenarioEntry, sinIntPrc) == 3332 &&
    offsetof(ScenarioEntry, sinIntCnt) == 3336 && offsetof(ScenarioEntry, sinIntRel) == 3340 &&
    offsetof(ScenarioEntry, sinSumPrcOn) == 3344 && offsetof(ScenarioEntry, sinSumCntOn) == 3345 &&
    offsetof(ScenarioEntry, sinSumRelOn) == 3346 && offsetof(ScenarioEntry, sinSumPrc) == 3347 &&
    offsetof(ScenarioEntry, sinSumCnt) == 3351 && offsetof(ScenarioEntry, sinSumRel) == 3355 &&
    offsetof(ScenarioEntry, sinHitPhOn) == 3359 && offsetof(ScenarioEntry, sinHitAmOn) == 3360 &&
    offsetof(ScenarioEntry, sinHitPh) == 3361 && offsetof(ScenarioEntry, sinHitAm) == 3365 &&
    offsetof(ScenarioEntry, sinModOn) == 3369 && offsetof(ScenarioEntry, sinMod) == 3370 &&
    offsetof(ScenarioEntry, sinAttOn) == 3374 && offsetof(ScenarioEntry, sinAtt) == 3375 &&
    offsetof(ScenarioEntry, sinDis2On) == 3379 && offsetof(ScenarioEntry, sinDis3On) == 3380 &&
    offsetof(ScenarioEntry, sinDis23On) == 3381 && offsetof(ScenarioEntry, sinDis2) == 3382 &&
    offsetof(ScenarioEntry, sinDis3) == 3386 && offsetof(ScenarioEntry, sinDis23) == 3390);
// O.132, O.131, noise, echo, impedance norms.
static_assert(
    offsetof(ScenarioEntry, o132SNROn) == 3394 && offsetof(ScenarioEntry, o132SNR) == 3395 &&
    offsetof(ScenarioEntry, o132SNRpsOn) == 3399 && offsetof(ScenarioEntry, o132SNRps) == 3400 &&
    offsetof(ScenarioEntry, o132JitPhOn) == 3404 && offsetof(ScenarioEntry, o132JitAmOn) == 3405 &&
    offsetof(ScenarioEntry, o132JitPh) == 3406 && offsetof(ScenarioEntry, o132JitAm) == 3410 &&
    offsetof(ScenarioEntry, o132ShiftOn) == 3414 && offsetof(ScenarioEntry, o132Shift) == 3415 &&
    offsetof(ScenarioEntry, o131SNROn) == 3419 && offsetof(ScenarioEntry, o131SNR) == 3420 &&
    offsetof(ScenarioEntry, blkNoiseOn) == 3424 && offsetof(ScenarioEntry, blkNoise) == 3425 &&
    offsetof(ScenarioEntry, blkNoisePsOn) == 3429 && offsetof(ScenarioEntry, blkNoisePs) == 3430 &&
    offsetof(ScenarioEntry, blkNoiseSelOn) == 3434 &&
    offsetof(ScenarioEntry, blkNoiseSel) == 3435 && offsetof(ScenarioEntry, echoTalkOn) == 3439 &&
    offsetof(ScenarioEntry, echoTalk) == 3440 && offsetof(ScenarioEntry, echoListOn) == 3444 &&
    offsetof(ScenarioEntry, echoList) == 3445 && offsetof(ScenarioEntry, impImpedOn) == 3449 &&
    offsetof(ScenarioEntry, impImped) == 3450 && offsetof(ScenarioEntry, ImpedFreq) == 3454 &&
    offsetof(ScenarioEntry, impCapacOn) == 3458 && offsetof(ScenarioEntry, impCapac) == 3459 &&
    offsetof(ScenarioEntry, CapacFreq) == 3463);
// Multi-frequency, O.42 and throughput norms.
static_assert(
    offsetof(ScenarioEntry, mttAttOn) == 3467 && offsetof(ScenarioEntry, Att) == 3468 &&
    offsetof(ScenarioEntry, AttF) == 3524 && offsetof(ScenarioEntry, AttNotch) == 3580 &&
    offsetof(ScenarioEntry, mttDelOn) == 3584 && offsetof(ScenarioEntry, Del) == 3585 &&
    offsetof(ScenarioEntry, DelF) == 3641 && offsetof(ScenarioEntry, DelNotch) == 3697 &&
    offsetof(ScenarioEntry, o42Dis2On) == 3701 && offsetof(ScenarioEntry, o42Dis3On) == 3702 &&
    offsetof(ScenarioEntry, o42Dis23On) == 3703 && offsetof(ScenarioEntry, o42Dis2) == 3704 &&
    offsetof(ScenarioEntry, o42Dis3) == 3708 && offsetof(ScenarioEntry, o42Dis23) == 3712 &&
    offsetof(ScenarioEntry, disPassOn) == 3716 && offsetof(ScenarioEntry, disPass) == 3717);
// Generator settings.
static_assert(
    offsetof(ScenarioEntry, EchoTime) == 3721 && offsetof(ScenarioEntry, EchoLev) == 3729 &&
    offsetof(ScenarioEntry, EchoLevR) == 3733 && offsetof(ScenarioEntry, EchoFreq) == 3737 &&
    offsetof(ScenarioEntry, EchoT1) == 3741 && offsetof(ScenarioEntry, EchoT2) == 3745 &&
    offsetof(ScenarioEntry, EchoT) == 3749 && offsetof(ScenarioEntry, SinTime) == 3753 &&
    offsetof(ScenarioEntry, SinLev) == 3761 && offsetof(ScenarioEntry, SinLevR) == 3765 &&
    offsetof(ScenarioEntry, SinFreq) == 3769 && offsetof(ScenarioEntry, O132Time) == 3773 &&
    offsetof(ScenarioEntry, O132Lev) == 3781 && offsetof(ScenarioEntry, O132LevR) == 3785 &&
    offsetof(ScenarioEntry, O132Freq) == 3789 && offsetof(ScenarioEntry, O131Time) == 3793 &&
    offsetof(ScenarioEntry, O131Lev) == 3801 && offsetof(ScenarioEntry, O131LevR) == 3805 &&
    offsetof(ScenarioEntry, MTTSTime) == 3809 && offsetof(ScenarioEntry, MTTSLev) == 3817 &&
    offsetof(ScenarioEntry, MTTSLevR) == 3821 && offsetof(ScenarioEntry, O42Time) == 3825 &&
    offsetof(ScenarioEntry, O42Lev) == 3833 && offsetof(ScenarioEntry, O42LevR) == 3837 &&
    offsetof(ScenarioEntry, ImpTime) == 3841 && offsetof(ScenarioEntry, ImpLev) == 3849 &&
    offsetof(ScenarioEntry, ImpLevR) == 3853 && offsetof(ScenarioEntry, BlkTime) == 3857 &&
    offsetof(ScenarioEntry, DiscrTime) == 3865);
// Meter settings and thresholds.
static_assert(offsetof(ScenarioEntry, SincTime) == 3873 &&
              offsetof(ScenarioEntry, DeadTime) == 3877 &&
              offsetof(ScenarioEntry, MaxLev) == 3881 && offsetof(ScenarioEntry, MinLev) == 3885 &&
              offsetof(ScenarioEntry, MinSNR) == 3889 && offsetof(ScenarioEntry, ThHitPh) == 3893 &&
              offsetof(ScenarioEntry, ThHitAm) == 3897 && offsetof(ScenarioEntry, ThAbs) == 3901 &&
              offsetof(ScenarioEntry, ThAbsPul) == 3902 &&
              offsetof(ScenarioEntry, ThAbsInt) == 3906 &&
              offsetof(ScenarioEntry, ThRelPul) == 3910 &&
              offsetof(ScenarioEntry, ThRelInt) == 3914);

// The image of an entry, byte for byte.
inline const unsigned char* bytesOf(const ScenarioEntry& entry) {
    return reinterpret_cast<const unsigned char*>(&entry);
}
inline unsigned char* bytesOf(ScenarioEntry& entry) {
    return reinterpret_cast<unsigned char*>(&entry);
}

// Text fields are code page 1251, NUL-padded; a text that fills its field has no
// terminator. textOf reads up to the first NUL or the end of the field, never past
// it.
template <std::size_t N>
std::string_view textOf(const char (&field)[N]) {
    const void* nul = std::memchr(field, 0, N);
    return std::string_view(field, nul ? static_cast<const char*>(nul) - field : N);
}

// Writes text NUL-padded to the end of the field, cut at the field's size; false
// when it had to be cut.
template <std::size_t N>
bool setText(char (&field)[N], std::string_view text) {
    std::size_t n = text.size() < N ? text.size() : N;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
    return n == text.size();
}

// The settings of a new entry (the "Default" values, every other byte zero); the
// start window covers the whole day around begTime: EndTime is 1e-8 days earlier.
ScenarioEntry defaultEntry(DateTime begTime);
// The same with begTime = now().
ScenarioEntry defaultEntry();

// The measurement groups that a session with this entry performs; they follow
// from the settings alone. All but throughput need the switch Analog.
bool performsSine(const ScenarioEntry& e);
bool performsO132(const ScenarioEntry& e);
bool performsO131(const ScenarioEntry& e);
bool performsNoise(const ScenarioEntry& e);
bool performsEcho(const ScenarioEntry& e);
bool performsImpedance(const ScenarioEntry& e);
bool performsMultiFrequency(const ScenarioEntry& e);
bool performsO42(const ScenarioEntry& e);
bool performsThroughput(const ScenarioEntry& e);

// The synchronisation delay is stored in half-seconds and shown in whole seconds
// (a stored 9 shows as 4).
int32_t sincSeconds(const ScenarioEntry& e);
void setSincSeconds(ScenarioEntry& e, int32_t seconds);

} // namespace vetlina
