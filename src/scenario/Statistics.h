// The statistics area of a scenario entry: for every measured quantity and
// direction the last value (f32, -999 when missing) and the running sum and sum of
// squares of the values (f64), grouped in one block per measurement group and
// direction, each with the count of sessions that contributed.
//
// Inside most blocks the last values of a few neighbouring quantities stand
// together, followed by their sums; every quantity X is therefore kept as two
// members, XLast and XSums, wherever they stand, and item(row) reaches any of
// them uniformly in the order the statistics are evaluated and shown.
#pragma once

#include "platform/LittleEndian.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vetlina {

struct StatSums {
    Le<double> sum;
    Le<double> sumSq;
};
static_assert(sizeof(StatSums) == 16);

// The three numbers of one quantity, wherever they stand in its block.
struct StatRef {
    Le<float>& last;
    Le<double>& sum;
    Le<double>& sumSq;
};
struct StatValue {
    float last;
    double sum;
    double sumSq;
};

// Sine signal: level, frequency and the 21 sine parameters.
struct SineStats {
    Le<float> levelLast;
    StatSums levelSums;
    Le<float> frequencyLast;
    StatSums frequencySums;
    Le<float> sinSNRLast;
    StatSums sinSNRSums;
    Le<float> sinSNRpsLast;
    StatSums sinSNRpsSums;
    Le<float> sinJitPhLast;
    Le<float> sinJitAmLast;
    StatSums sinJitPhSums;
    StatSums sinJitAmSums;
    Le<float> sinShiftLast;
    StatSums sinShiftSums;
    Le<float> sinPulPrcLast;
    Le<float> sinPulCntLast;
    Le<float> sinPulRelLast;
    StatSums sinPulPrcSums;
    StatSums sinPulCntSums;
    StatSums sinPulRelSums;
    Le<float> sinIntPrcLast;
    Le<float> sinIntCntLast;
    Le<float> sinIntRelLast;
    StatSums sinIntPrcSums;
    StatSums sinIntCntSums;
    StatSums sinIntRelSums;
    Le<float> sinSumPrcLast;
    Le<float> sinSumCntLast;
    Le<float> sinSumRelLast;
    StatSums sinSumPrcSums;
    StatSums sinSumCntSums;
    StatSums sinSumRelSums;
    Le<float> sinHitPhLast;
    Le<float> sinHitAmLast;
    StatSums sinHitPhSums;
    StatSums sinHitAmSums;
    Le<float> sinModLast;
    StatSums sinModSums;
    Le<float> sinAttLast;
    StatSums sinAttSums;
    Le<float> sinDis2Last;
    Le<float> sinDis3Last;
    Le<float> sinDis23Last;
    StatSums sinDis2Sums;
    StatSums sinDis3Sums;
    StatSums sinDis23Sums;
    Le<int32_t> count;

    // Rows in evaluation order; the names are the data-file keys (level and
    // frequency have none of their own).
    static constexpr int kItems = 23;
    static constexpr const char* kItemNames[kItems] = {
        "level",     "frequency", "sinSNR",    "sinSNRps",  "sinJitPh",  "sinJitAm",
        "sinShift",  "sinPulPrc", "sinPulCnt", "sinPulRel", "sinIntPrc", "sinIntCnt",
        "sinIntRel", "sinSumPrc", "sinSumCnt", "sinSumRel", "sinHitPh",  "sinHitAm",
        "sinMod",    "sinAtt",    "sinDis2",   "sinDis3",   "sinDis23"};
    enum Item {
        level,
        frequency,
        sinSNR,
        sinSNRps,
        sinJitPh,
        sinJitAm,
        sinShift,
        sinPulPrc,
        sinPulCnt,
        sinPulRel,
        sinIntPrc,
        sinIntCnt,
        sinIntRel,
        sinSumPrc,
        sinSumCnt,
        sinSumRel,
        sinHitPh,
        sinHitAm,
        sinMod,
        sinAtt,
        sinDis2,
        sinDis3,
        sinDis23
    };
    StatRef item(int row);
    StatValue item(int row) const;
};

// O.132: level, frequency and the 5 O.132 parameters (the first 140 bytes are laid
// out as in the sine block).
struct O132Stats {
    Le<float> levelLast;
    StatSums levelSums;
    Le<float> frequencyLast;
    StatSums frequencySums;
    Le<float> o132SNRLast;
    StatSums o132SNRSums;
    Le<float> o132SNRpsLast;
    StatSums o132SNRpsSums;
    Le<float> o132JitPhLast;
    Le<float> o132JitAmLast;
    StatSums o132JitPhSums;
    StatSums o132JitAmSums;
    Le<float> o132ShiftLast;
    StatSums o132ShiftSums;
    Le<int32_t> count;

    static constexpr int kItems = 7;
    static constexpr const char* kItemNames[kItems] = {
        "level", "frequency", "o132SNR", "o132SNRps", "o132JitPh", "o132JitAm", "o132Shift"};
    enum Item { level, frequency, o132SNR, o132SNRps, o132JitPh, o132JitAm, o132Shift };
    StatRef item(int row);
    StatValue item(int row) const;
};

struct O131Stats {
    Le<float> levelLast;
    StatSums levelSums;
    Le<float> o131SNRLast;
    StatSums o131SNRSums;
    Le<int32_t> count;

    static constexpr int kItems = 2;
    static constexpr const char* kItemNames[kItems] = {"level", "o131SNR"};
    enum Item { level, o131SNR };
    StatRef item(int row);
    StatValue item(int row) const;
};

struct NoiseStats {
    Le<float> blkNoiseLast;
    StatSums blkNoiseSums;
    Le<float> blkNoisePsLast;
    StatSums blkNoisePsSums;
    Le<float> blkNoiseSelLast;
    StatSums blkNoiseSelSums;
    Le<int32_t> count;

    static constexpr int kItems = 3;
    static constexpr const char* kItemNames[kItems] = {"blkNoise", "blkNoisePs", "blkNoiseSel"};
    enum Item { blkNoise, blkNoisePs, blkNoiseSel };
    StatRef item(int row);
    StatValue item(int row) const;
};

// Talker and listener echo are measured apart, so each keeps its own count.
struct EchoStats {
    Le<float> echoTalkLast;
    StatSums echoTalkSums;
    Le<float> echoListLast;
    StatSums echoListSums;
    Le<int32_t> echoTalkCount;
    Le<int32_t> echoListCount;

    static constexpr int kItems = 2;
    static constexpr const char* kItemNames[kItems] = {"echoTalk", "echoList"};
    enum Item { echoTalk, echoList };
    StatRef item(int row);
    StatValue item(int row) const;
};

struct ImpedanceStats {
    Le<float> impImpedLast;
    StatSums impImpedSums;
    Le<float> impCapacLast;
    StatSums impCapacSums;
    Le<int32_t> count;

    static constexpr int kItems = 2;
    static constexpr const char* kItemNames[kItems] = {"impImped", "impCapac"};
    enum Item { impImped, impCapac };
    StatRef item(int row);
    StatValue item(int row) const;
};

constexpr int kMttPoints = 14;

// Multi-frequency signal: level, then attenuation and group delay at the 14
// frequency points, each kept as three separate arrays (last values, sums, sums of
// squares).
struct MultiFrequencyStats {
    Le<float> levelLast;
    StatSums levelSums;
    Le<float> mttAttLast[kMttPoints];
    Le<double> mttAttSum[kMttPoints];
    Le<double> mttAttSumSq[kMttPoints];
    Le<float> mttDelLast[kMttPoints];
    Le<double> mttDelSum[kMttPoints];
    Le<double> mttDelSumSq[kMttPoints];
    Le<int32_t> count;

    // Row 0 is the level, rows 1..14 the attenuation points, rows 15..28 the group
    // delay points.
    static constexpr int kItems = 1 + 2 * kMttPoints;
    StatRef level() { return {levelLast, levelSums.sum, levelSums.sumSq}; }
    StatRef mttAtt(int point) { return {mttAttLast[point], mttAttSum[point], mttAttSumSq[point]}; }
    StatRef mttDel(int point) { return {mttDelLast[point], mttDelSum[point], mttDelSumSq[point]}; }
    StatRef item(int row);
    StatValue item(int row) const;
};

struct O42Stats {
    Le<float> levelLast;
    StatSums levelSums;
    Le<float> o42Dis2Last;
    Le<float> o42Dis3Last;
    Le<float> o42Dis23Last;
    StatSums o42Dis2Sums;
    StatSums o42Dis3Sums;
    StatSums o42Dis23Sums;
    Le<int32_t> count;

    static constexpr int kItems = 4;
    static constexpr const char* kItemNames[kItems] = {"level", "o42Dis2", "o42Dis3", "o42Dis23"};
    enum Item { level, o42Dis2, o42Dis3, o42Dis23 };
    StatRef item(int row);
    StatValue item(int row) const;
};

struct ThroughputStats {
    Le<float> disPassLast;
    StatSums disPassSums;
    Le<int32_t> count;

    static constexpr int kItems = 1;
    static constexpr const char* kItemNames[kItems] = {"disPass"};
    enum Item { disPass };
    StatRef item(int row);
    StatValue item(int row) const;
};

// Block sizes and the places of the counts.
static_assert(sizeof(SineStats) == 464 && offsetof(SineStats, count) == 460);
static_assert(sizeof(O132Stats) == 144 && offsetof(O132Stats, count) == 140);
static_assert(sizeof(O131Stats) == 44 && offsetof(O131Stats, count) == 40);
static_assert(sizeof(NoiseStats) == 64 && offsetof(NoiseStats, count) == 60);
static_assert(sizeof(EchoStats) == 48 && offsetof(EchoStats, echoTalkCount) == 40 &&
              offsetof(EchoStats, echoListCount) == 44);
static_assert(sizeof(ImpedanceStats) == 44 && offsetof(ImpedanceStats, count) == 40);
static_assert(sizeof(MultiFrequencyStats) == 584 && offsetof(MultiFrequencyStats, count) == 580);
static_assert(sizeof(O42Stats) == 84 && offsetof(O42Stats, count) == 80);
static_assert(sizeof(ThroughputStats) == 24 && offsetof(ThroughputStats, count) == 20);

// Last value / sum offsets inside the blocks.
static_assert(offsetof(SineStats, levelSums) == 4 && offsetof(SineStats, frequencyLast) == 20 &&
              offsetof(SineStats, frequencySums) == 24 && offsetof(SineStats, sinSNRLast) == 40 &&
              offsetof(SineStats, sinSNRSums) == 44 && offsetof(SineStats, sinSNRpsLast) == 60 &&
              offsetof(SineStats, sinSNRpsSums) == 64 && offsetof(SineStats, sinJitPhLast) == 80 &&
              offsetof(SineStats, sinJitPhSums) == 88 && offsetof(SineStats, sinJitAmLast) == 84 &&
              offsetof(SineStats, sinJitAmSums) == 104 &&
              offsetof(SineStats, sinShiftLast) == 120 && offsetof(SineStats, sinShiftSums) == 124);
static_assert(
    offsetof(SineStats, sinPulPrcLast) == 140 && offsetof(SineStats, sinPulPrcSums) == 152 &&
    offsetof(SineStats, sinPulCntLast) == 144 && offsetof(SineStats, sinPulCntSums) == 168 &&
    offsetof(SineStats, sinPulRelLast) == 148 && offsetof(SineStats, sinPulRelSums) == 184 &&
    offsetof(SineStats, sinIntPrcLast) == 200 && offsetof(SineStats, sinIntPrcSums) == 212 &&
    offsetof(SineStats, sinIntCntLast) == 204 && offsetof(SineStats, sinIntCntSums) == 228 &&
    offsetof(SineStats, sinIntRelLast) == 208 && offsetof(SineStats, sinIntRelSums) == 244 &&
    offsetof(SineStats, sinSumPrcLast) == 260 && offsetof(SineStats, sinSumPrcSums) == 272 &&
    offsetof(SineStats, sinSumCntLast) == 264 && offsetof(SineStats, sinSumCntSums) == 288 &&
    offsetof(SineStats, sinSumRelLast) == 268 && offsetof(SineStats, sinSumRelSums) == 304);
static_assert(offsetof(SineStats, sinHitPhLast) == 320 &&
              offsetof(SineStats, sinHitPhSums) == 328 &&
              offsetof(SineStats, sinHitAmLast) == 324 &&
              offsetof(SineStats, sinHitAmSums) == 344 && offsetof(SineStats, sinModLast) == 360 &&
              offsetof(SineStats, sinModSums) == 364 && offsetof(SineStats, sinAttLast) == 380 &&
              offsetof(SineStats, sinAttSums) == 384 && offsetof(SineStats, sinDis2Last) == 400 &&
              offsetof(SineStats, sinDis2Sums) == 412 && offsetof(SineStats, sinDis3Last) == 404 &&
              offsetof(SineStats, sinDis3Sums) == 428 && offsetof(SineStats, sinDis23Last) == 408 &&
              offsetof(SineStats, sinDis23Sums) == 444);
static_assert(offsetof(O132Stats, frequencyLast) == 20 && offsetof(O132Stats, o132SNRLast) == 40 &&
              offsetof(O132Stats, o132SNRpsLast) == 60 &&
              offsetof(O132Stats, o132JitPhLast) == 80 &&
              offsetof(O132Stats, o132JitAmLast) == 84 &&
              offsetof(O132Stats, o132JitPhSums) == 88 &&
              offsetof(O132Stats, o132JitAmSums) == 104 &&
              offsetof(O132Stats, o132ShiftLast) == 120 &&
              offsetof(O132Stats, o132ShiftSums) == 124);
static_assert(offsetof(O131Stats, o131SNRLast) == 20 && offsetof(O131Stats, o131SNRSums) == 24);
static_assert(offsetof(NoiseStats, blkNoisePsLast) == 20 &&
              offsetof(NoiseStats, blkNoiseSelLast) == 40 &&
              offsetof(NoiseStats, blkNoiseSelSums) == 44);
static_assert(offsetof(EchoStats, echoListLast) == 20 && offsetof(EchoStats, echoListSums) == 24);
static_assert(offsetof(ImpedanceStats, impCapacLast) == 20 &&
              offsetof(ImpedanceStats, impCapacSums) == 24);
static_assert(offsetof(MultiFrequencyStats, mttAttLast) == 20 &&
              offsetof(MultiFrequencyStats, mttAttSum) == 76 &&
              offsetof(MultiFrequencyStats, mttAttSumSq) == 188 &&
              offsetof(MultiFrequencyStats, mttDelLast) == 300 &&
              offsetof(MultiFrequencyStats, mttDelSum) == 356 &&
              offsetof(MultiFrequencyStats, mttDelSumSq) == 468);
static_assert(offsetof(O42Stats, o42Dis2Last) == 20 && offsetof(O42Stats, o42Dis3Last) == 24 &&
              offsetof(O42Stats, o42Dis23Last) == 28 && offsetof(O42Stats, o42Dis2Sums) == 32 &&
              offsetof(O42Stats, o42Dis3Sums) == 48 && offsetof(O42Stats, o42Dis23Sums) == 64);
static_assert(offsetof(ThroughputStats, disPassSums) == 4);

} // namespace vetlina
