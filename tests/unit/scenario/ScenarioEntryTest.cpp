#include "scenario/ScenarioEntry.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vetlina {
namespace {

struct Field {
    const char* name;
    long expectedOffset;
    std::size_t expectedSize;
    long offset;
    std::size_t size;
};

long offsetIn(const ScenarioEntry& e, const void* member) {
    return static_cast<const char*>(member) - reinterpret_cast<const char*>(&e);
}

// The record's fields with the offsets and sizes of the binding layout, typed from
// the layout tables; the right-hand side is where the compiler put them.
#define FIELD(member, offset, size)                                                                \
    { #member, offset, size, offsetIn(e, &e.member), sizeof(e.member) }

TEST(ScenarioEntryLayout, EveryFieldStandsAtItsOffset) {
    const ScenarioEntry e{};
    const std::vector<Field> fields = {
        FIELD(Id, 0, 10),
        FIELD(Number, 10, 32),
        FIELD(Finished, 42, 1),
        FIELD(SeriesTime, 43, 8),
        FIELD(SessionsDone, 51, 4),
        FIELD(RunCounters, 55, 16),
        FIELD(Calls, 71, 4),
        FIELD(FailNUS, 75, 4),
        FIELD(FailNUV, 79, 4),
        FIELD(FailOtb, 83, 4),
        FIELD(EvalCounterA, 87, 4),
        FIELD(EvalCounterB, 91, 4),
        FIELD(sineA, 95, 464),
        FIELD(sineB, 559, 464),
        FIELD(o132A, 1023, 144),
        FIELD(o132B, 1167, 144),
        FIELD(o131A, 1311, 44),
        FIELD(o131B, 1355, 44),
        FIELD(noiseA, 1399, 64),
        FIELD(noiseB, 1463, 64),
        FIELD(echoA, 1527, 48),
        FIELD(echoB, 1575, 48),
        FIELD(impedanceA, 1623, 44),
        FIELD(impedanceB, 1667, 44),
        FIELD(mttA, 1711, 584),
        FIELD(mttB, 2295, 584),
        FIELD(o42A, 2879, 84),
        FIELD(o42B, 2963, 84),
        FIELD(throughputA, 3047, 24),
        FIELD(throughputB, 3071, 24),
        FIELD(ComplexType, 3095, 1),
        FIELD(AT, 3096, 64),
        FIELD(DiscrAT, 3160, 64),
        FIELD(NumMin, 3224, 4),
        FIELD(NumTotal, 3228, 4),
        FIELD(Busy, 3232, 4),
        FIELD(Carr, 3236, 4),
        FIELD(Break, 3240, 4),
        FIELD(BegTime, 3244, 8),
        FIELD(EndTime, 3252, 8),
        FIELD(NextTime, 3260, 8),
        FIELD(LocalPaus, 3268, 4),
        FIELD(LocalCall, 3272, 4),
        FIELD(TrunkPaus, 3276, 4),
        FIELD(TrunkCall, 3280, 4),
        FIELD(Trunk8W, 3284, 4),
        FIELD(Analog, 3288, 1),
        FIELD(sinSNROn, 3289, 1),
        FIELD(sinSNR, 3290, 4),
        FIELD(sinSNRpsOn, 3294, 1),
        FIELD(sinSNRps, 3295, 4),
        FIELD(sinJitPhOn, 3299, 1),
        FIELD(sinJitPh, 3301, 4),
        FIELD(sinJitAmOn, 3300, 1),
        FIELD(sinJitAm, 3305, 4),
        FIELD(sinShiftOn, 3309, 1),
        FIELD(sinShift, 3310, 4),
        FIELD(sinPulPrcOn, 3314, 1),
        FIELD(sinPulPrc, 3317, 4),
        FIELD(sinPulCntOn, 3315, 1),
        FIELD(sinPulCnt, 3321, 4),
        FIELD(sinPulRelOn, 3316, 1),
        FIELD(sinPulRel, 3325, 4),
        FIELD(sinIntPrcOn, 3329, 1),
        FIELD(sinIntPrc, 3332, 4),
        FIELD(sinIntCntOn, 3330, 1),
        FIELD(sinIntCnt, 3336, 4),
        FIELD(sinIntRelOn, 3331, 1),
        FIELD(sinIntRel, 3340, 4),
        FIELD(sinSumPrcOn, 3344, 1),
        FIELD(sinSumPrc, 3347, 4),
        FIELD(sinSumCntOn, 3345, 1),
        FIELD(sinSumCnt, 3351, 4),
        FIELD(sinSumRelOn, 3346, 1),
        FIELD(sinSumRel, 3355, 4),
        FIELD(sinHitPhOn, 3359, 1),
        FIELD(sinHitPh, 3361, 4),
        FIELD(sinHitAmOn, 3360, 1),
        FIELD(sinHitAm, 3365, 4),
        FIELD(sinModOn, 3369, 1),
        FIELD(sinMod, 3370, 4),
        FIELD(sinAttOn, 3374, 1),
        FIELD(sinAtt, 3375, 4),
        FIELD(sinDis2On, 3379, 1),
        FIELD(sinDis2, 3382, 4),
        FIELD(sinDis3On, 3380, 1),
        FIELD(sinDis3, 3386, 4),
        FIELD(sinDis23On, 3381, 1),
        FIELD(sinDis23, 3390, 4),
        FIELD(o132SNROn, 3394, 1),
        FIELD(o132SNR, 3395, 4),
        FIELD(o132SNRpsOn, 3399, 1),
        FIELD(o132SNRps, 3400, 4),
        FIELD(o132JitPhOn, 3404, 1),
        FIELD(o132JitPh, 3406, 4),
        FIELD(o132JitAmOn, 3405, 1),
        FIELD(o132JitAm, 3410, 4),
        FIELD(o132ShiftOn, 3414, 1),
        FIELD(o132Shift, 3415, 4),
        FIELD(o131SNROn, 3419, 1),
        FIELD(o131SNR, 3420, 4),
        FIELD(blkNoiseOn, 3424, 1),
        FIELD(blkNoise, 3425, 4),
        FIELD(blkNoisePsOn, 3429, 1),
        FIELD(blkNoisePs, 3430, 4),
        FIELD(blkNoiseSelOn, 3434, 1),
        FIELD(blkNoiseSel, 3435, 4),
        FIELD(echoTalkOn, 3439, 1),
        FIELD(echoTalk, 3440, 4),
        FIELD(echoListOn, 3444, 1),
        FIELD(echoList, 3445, 4),
        FIELD(impImpedOn, 3449, 1),
        FIELD(impImped, 3450, 4),
        FIELD(ImpedFreq, 3454, 4),
        FIELD(impCapacOn, 3458, 1),
        FIELD(impCapac, 3459, 4),
        FIELD(CapacFreq, 3463, 4),
        FIELD(mttAttOn, 3467, 1),
        FIELD(Att, 3468, 56),
        FIELD(AttF, 3524, 56),
        FIELD(AttNotch, 3580, 4),
        FIELD(mttDelOn, 3584, 1),
        FIELD(Del, 3585, 56),
        FIELD(DelF, 3641, 56),
        FIELD(DelNotch, 3697, 4),
        FIELD(o42Dis2On, 3701, 1),
        FIELD(o42Dis2, 3704, 4),
        FIELD(o42Dis3On, 3702, 1),
        FIELD(o42Dis3, 3708, 4),
        FIELD(o42Dis23On, 3703, 1),
        FIELD(o42Dis23, 3712, 4),
        FIELD(disPassOn, 3716, 1),
        FIELD(disPass, 3717, 4),
        FIELD(EchoTime, 3721, 8),
        FIELD(EchoLev, 3729, 4),
        FIELD(EchoLevR, 3733, 4),
        FIELD(EchoFreq, 3737, 4),
        FIELD(EchoT1, 3741, 4),
        FIELD(EchoT2, 3745, 4),
        FIELD(EchoT, 3749, 4),
        FIELD(SinTime, 3753, 8),
        FIELD(SinLev, 3761, 4),
        FIELD(SinLevR, 3765, 4),
        FIELD(SinFreq, 3769, 4),
        FIELD(O132Time, 3773, 8),
        FIELD(O132Lev, 3781, 4),
        FIELD(O132LevR, 3785, 4),
        FIELD(O132Freq, 3789, 4),
        FIELD(O131Time, 3793, 8),
        FIELD(O131Lev, 3801, 4),
        FIELD(O131LevR, 3805, 4),
        FIELD(MTTSTime, 3809, 8),
        FIELD(MTTSLev, 3817, 4),
        FIELD(MTTSLevR, 3821, 4),
        FIELD(O42Time, 3825, 8),
        FIELD(O42Lev, 3833, 4),
        FIELD(O42LevR, 3837, 4),
        FIELD(ImpTime, 3841, 8),
        FIELD(ImpLev, 3849, 4),
        FIELD(ImpLevR, 3853, 4),
        FIELD(BlkTime, 3857, 8),
        FIELD(DiscrTime, 3865, 8),
        FIELD(SincTime, 3873, 4),
        FIELD(DeadTime, 3877, 4),
        FIELD(MaxLev, 3881, 4),
        FIELD(MinLev, 3885, 4),
        FIELD(MinSNR, 3889, 4),
        FIELD(ThHitPh, 3893, 4),
        FIELD(ThHitAm, 3897, 4),
        FIELD(ThAbs, 3901, 1),
        FIELD(ThAbsPul, 3902, 4),
        FIELD(ThAbsInt, 3906, 4),
        FIELD(ThRelPul, 3910, 4),
        FIELD(ThRelInt, 3914, 4),
    };
    // The fields tile the record: sorted by offset, each one ends where the next
    // begins, and the last one ends at 3918.
    std::vector<std::pair<long, std::size_t>> spans;
    for (const Field& f : fields) {
        EXPECT_EQ(f.offset, f.expectedOffset) << f.name;
        EXPECT_EQ(f.size, f.expectedSize) << f.name;
        spans.emplace_back(f.expectedOffset, f.expectedSize);
    }
    std::sort(spans.begin(), spans.end());
    long end = 0;
    for (auto [offset, size] : spans) {
        EXPECT_EQ(offset, end);
        end = offset + static_cast<long>(size);
    }
    EXPECT_EQ(end, 3918);
}
#undef FIELD

struct Place {
    long last;
    long sum;
};

// Where item(row) of a block lands: last value, sum and sum of squares (which
// follows the sum by 8 bytes in every block).
template <typename Block>
void expectItems(const ScenarioEntry& e, Block& block, long blockOffset,
                 const std::vector<Place>& places, const char* group) {
    ASSERT_EQ(static_cast<int>(places.size()), Block::kItems) << group;
    for (int row = 0; row < Block::kItems; ++row) {
        StatRef ref = block.item(row);
        EXPECT_EQ(offsetIn(e, &ref.last), blockOffset + places[row].last) << group << " " << row;
        EXPECT_EQ(offsetIn(e, &ref.sum), blockOffset + places[row].sum) << group << " " << row;
        EXPECT_EQ(offsetIn(e, &ref.sumSq), blockOffset + places[row].sum + 8)
            << group << " " << row;
    }
}

TEST(ScenarioEntryLayout, StatisticsItemsStandWhereTheBlocksKeepThem) {
    ScenarioEntry e{};
    const std::vector<Place> sine = {{0, 4},     {20, 24},   {40, 44},   {60, 64},   {80, 88},
                                     {84, 104},  {120, 124}, {140, 152}, {144, 168}, {148, 184},
                                     {200, 212}, {204, 228}, {208, 244}, {260, 272}, {264, 288},
                                     {268, 304}, {320, 328}, {324, 344}, {360, 364}, {380, 384},
                                     {400, 412}, {404, 428}, {408, 444}};
    expectItems(e, e.sineA, 95, sine, "sine A");
    expectItems(e, e.sineB, 559, sine, "sine B");
    const std::vector<Place> o132 = {{0, 4},   {20, 24},  {40, 44},  {60, 64},
                                     {80, 88}, {84, 104}, {120, 124}};
    expectItems(e, e.o132A, 1023, o132, "O.132 A");
    expectItems(e, e.o132B, 1167, o132, "O.132 B");
    expectItems(e, e.o131A, 1311, {{0, 4}, {20, 24}}, "O.131 A");
    expectItems(e, e.o131B, 1355, {{0, 4}, {20, 24}}, "O.131 B");
    expectItems(e, e.noiseA, 1399, {{0, 4}, {20, 24}, {40, 44}}, "noise A");
    expectItems(e, e.noiseB, 1463, {{0, 4}, {20, 24}, {40, 44}}, "noise B");
    expectItems(e, e.echoA, 1527, {{0, 4}, {20, 24}}, "echo A");
    expectItems(e, e.echoB, 1575, {{0, 4}, {20, 24}}, "echo B");
    expectItems(e, e.impedanceA, 1623, {{0, 4}, {20, 24}}, "impedance A");
    expectItems(e, e.impedanceB, 1667, {{0, 4}, {20, 24}}, "impedance B");
    const std::vector<Place> o42 = {{0, 4}, {20, 32}, {24, 48}, {28, 64}};
    expectItems(e, e.o42A, 2879, o42, "O.42 A");
    expectItems(e, e.o42B, 2963, o42, "O.42 B");
    expectItems(e, e.throughputA, 3047, {{0, 4}}, "throughput A");
    expectItems(e, e.throughputB, 3071, {{0, 4}}, "throughput B");

    // Multi-frequency: level, then the attenuation and group-delay points, whose
    // sums and sums of squares are kept as separate arrays.
    std::vector<Place> mtt = {{0, 4}};
    for (int k = 0; k < 14; ++k)
        mtt.push_back({20 + 4 * k, 76 + 8 * k});
    for (int k = 0; k < 14; ++k)
        mtt.push_back({300 + 4 * k, 356 + 8 * k});
    for (auto [block, offset] : {std::pair{&e.mttA, 1711L}, std::pair{&e.mttB, 2295L}}) {
        ASSERT_EQ(MultiFrequencyStats::kItems, 29);
        for (int row = 0; row < 29; ++row) {
            StatRef ref = block->item(row);
            EXPECT_EQ(offsetIn(e, &ref.last), offset + mtt[row].last) << row;
            EXPECT_EQ(offsetIn(e, &ref.sum), offset + mtt[row].sum) << row;
            long sumSq = row == 0 ? mtt[row].sum + 8 : mtt[row].sum + 112;
            EXPECT_EQ(offsetIn(e, &ref.sumSq), offset + sumSq) << row;
        }
    }

    // Counts.
    EXPECT_EQ(offsetIn(e, &e.sineA.count), 95 + 460);
    EXPECT_EQ(offsetIn(e, &e.o132B.count), 1167 + 140);
    EXPECT_EQ(offsetIn(e, &e.o131A.count), 1311 + 40);
    EXPECT_EQ(offsetIn(e, &e.noiseB.count), 1463 + 60);
    EXPECT_EQ(offsetIn(e, &e.echoA.echoTalkCount), 1527 + 40);
    EXPECT_EQ(offsetIn(e, &e.echoA.echoListCount), 1527 + 44);
    EXPECT_EQ(offsetIn(e, &e.impedanceB.count), 1667 + 40);
    EXPECT_EQ(offsetIn(e, &e.mttB.count), 2295 + 580);
    EXPECT_EQ(offsetIn(e, &e.o42A.count), 2879 + 80);
    EXPECT_EQ(offsetIn(e, &e.throughputB.count), 3071 + 20);
}

TEST(ScenarioEntryLayout, StatisticsItemsReadBackWhatWasWritten) {
    ScenarioEntry e{};
    StatRef snr = e.sineB.item(SineStats::sinSNR);
    snr.last = 31.5f;
    snr.sum = 63.0;
    snr.sumSq = 1984.5;
    StatValue v = static_cast<const SineStats&>(e.sineB).item(SineStats::sinSNR);
    EXPECT_EQ(v.last, 31.5f);
    EXPECT_EQ(v.sum, 63.0);
    EXPECT_EQ(v.sumSq, 1984.5);
    EXPECT_EQ(e.sineB.sinSNRLast.get(), 31.5f);
    EXPECT_EQ(e.sineA.sinSNRLast.get(), 0.0f);
}

TEST(ScenarioEntryText, AFullNumberHasNoTerminatorAndLeavesFinishedAlone) {
    ScenarioEntry e{};
    e.Finished = 1;
    std::string number(32, '9');
    EXPECT_TRUE(setText(e.Number, number));
    EXPECT_EQ(e.Finished, 1);
    EXPECT_EQ(bytesOf(e)[42], 1);
    EXPECT_EQ(textOf(e.Number), number);
}

TEST(ScenarioEntryText, TextIsNulPaddedAndReadToTheFirstNul) {
    ScenarioEntry e{};
    std::memset(e.Id, 'x', sizeof e.Id);
    EXPECT_TRUE(setText(e.Id, "1234567X"));
    EXPECT_EQ(textOf(e.Id), "1234567X");
    EXPECT_EQ(e.Id[8], 0);
    EXPECT_EQ(e.Id[9], 0);

    EXPECT_FALSE(setText(e.Id, "12345678901")); // cut at the field
    EXPECT_EQ(textOf(e.Id), "1234567890");
    EXPECT_EQ(e.Number[0], 0);

    std::memcpy(e.AT, "AB\0CD", 5);
    EXPECT_EQ(textOf(e.AT), "AB");
}

TEST(ScenarioEntryDefaults, NewEntryHoldsTheDefaultSettings) {
    const DateTime begin = 45000.25;
    const ScenarioEntry e = defaultEntry(begin);

    EXPECT_EQ(e.ComplexType, 0);
    EXPECT_EQ(textOf(e.AT), "");
    EXPECT_EQ(textOf(e.DiscrAT), "");
    EXPECT_EQ(e.NumMin, 3);
    EXPECT_EQ(e.NumTotal, 15);
    EXPECT_EQ(e.Busy, 20.0f);
    EXPECT_EQ(e.Carr, 20.0f);
    EXPECT_EQ(e.Break, 20.0f);
    EXPECT_EQ(e.BegTime, begin);
    EXPECT_EQ(e.EndTime, begin - 1e-8);
    EXPECT_EQ(e.NextTime, 0.0);
    EXPECT_EQ(e.LocalPaus, 15);
    EXPECT_EQ(e.LocalCall, 5);
    EXPECT_EQ(e.TrunkPaus, 20);
    EXPECT_EQ(e.TrunkCall, 3);
    EXPECT_EQ(e.Trunk8W, 6);
    EXPECT_EQ(e.Analog, 1);

    struct Norm {
        const char* key;
        uint8_t on;
        double value;
        uint8_t expectedOn;
        double expectedValue;
    };
#define NORM(key, on, value)                                                                       \
    { #key, e.key##On, static_cast < double>(e.key.get()), on, value }
    const Norm norms[] = {
        NORM(sinSNR, 1, 28.0),    NORM(sinSNRps, 1, 30.0),    NORM(sinJitPh, 1, 15.0),
        NORM(sinJitAm, 1, 26.0),  NORM(sinShift, 1, 5.0),     NORM(sinPulPrc, 1, 30.0),
        NORM(sinPulCnt, 0, 100),  NORM(sinPulRel, 0, -4),     NORM(sinIntPrc, 1, 30.0),
        NORM(sinIntCnt, 0, 100),  NORM(sinIntRel, 0, -4),     NORM(sinSumPrc, 1, 30.0),
        NORM(sinSumCnt, 0, 100),  NORM(sinSumRel, 0, -4),     NORM(sinHitPh, 1, 10),
        NORM(sinHitAm, 1, 10),    NORM(sinMod, 1, 50.0),      NORM(sinAtt, 1, 30.0),
        NORM(sinDis2, 1, 1.5),    NORM(sinDis3, 1, 1.5),      NORM(sinDis23, 1, 1.5),
        NORM(o132SNR, 1, 28.0),   NORM(o132SNRps, 1, 30.0),   NORM(o132JitPh, 1, 15.0),
        NORM(o132JitAm, 1, 50.0), NORM(o132Shift, 1, 5.0),    NORM(o131SNR, 1, 28.0),
        NORM(blkNoise, 1, -40.0), NORM(blkNoisePs, 1, -40.0), NORM(blkNoiseSel, 1, -50.0),
        NORM(echoTalk, 1, 23.0),  NORM(echoList, 1, 24.0),    NORM(impImped, 0, 600),
        NORM(impCapac, 0, 500),   NORM(o42Dis2, 1, 1.5),      NORM(o42Dis3, 1, 1.5),
        NORM(o42Dis23, 1, 1.5),   NORM(disPass, 1, 50.0),
    };
#undef NORM
    for (const Norm& n : norms) {
        EXPECT_EQ(n.on, n.expectedOn) << n.key;
        EXPECT_EQ(n.value, n.expectedValue) << n.key;
    }
    EXPECT_EQ(e.ImpedFreq, 1800.0f);
    EXPECT_EQ(e.CapacFreq, 1800.0f);
    EXPECT_EQ(e.mttAttOn, 1);
    EXPECT_EQ(e.mttDelOn, 1);

    const float att[14] = {-999, -999, -999, -999, 22, 25, 27, 29, 30, 30, 37, 43, 49, 50};
    const float attF[14] = {-999, -999, -999, -999, 200,  400,  600,
                            800,  1000, 1020, 1800, 2400, 3000, 3400};
    const int32_t del[14] = {2000, 1200, 1000, 700, 400, 200,  100,
                             100,  100,  200,  300, 500, 1200, 2000};
    const float delF[14] = {300,  400,  500,  600,  800,  1000, 1400,
                            1600, 2200, 2400, 2800, 3000, 3300, 3400};
    for (int k = 0; k < 14; ++k) {
        EXPECT_EQ(e.Att[k], att[k]) << k;
        EXPECT_EQ(e.AttF[k], attF[k]) << k;
        EXPECT_EQ(e.Del[k], del[k]) << k;
        EXPECT_EQ(e.DelF[k], delF[k]) << k;
    }
    EXPECT_EQ(e.AttNotch, -999.0f);
    EXPECT_EQ(e.DelNotch, 1900.0f);

    struct Generator {
        const char* name;
        double time, time0;
        float lev, lev0, levR, levR0;
    };
#define GEN(name) #name, e.name##Time, 30.0, e.name##Lev, -10.0f, e.name##LevR, -10.0f
    const Generator generators[] = {{GEN(Echo)}, {GEN(Sin)}, {GEN(O132)}, {GEN(O131)},
                                    {GEN(MTTS)}, {GEN(O42)}, {GEN(Imp)}};
#undef GEN
    for (const Generator& g : generators) {
        EXPECT_EQ(g.time, g.time0) << g.name;
        EXPECT_EQ(g.lev, g.lev0) << g.name;
        EXPECT_EQ(g.levR, g.levR0) << g.name;
    }
    EXPECT_EQ(e.EchoFreq, 1600);
    EXPECT_EQ(e.EchoT1, 2000);
    EXPECT_EQ(e.EchoT2, 2000);
    EXPECT_EQ(e.EchoT, 20);
    EXPECT_EQ(e.SinFreq, 1800);
    EXPECT_EQ(e.O132Freq, 1020);
    EXPECT_EQ(e.BlkTime, 30.0);
    EXPECT_EQ(e.DiscrTime, 60.0);

    EXPECT_EQ(e.SincTime, 8);
    EXPECT_EQ(e.DeadTime, 125);
    EXPECT_EQ(e.MaxLev, 0);
    EXPECT_EQ(e.MinLev, -55);
    EXPECT_EQ(e.MinSNR, 0);
    EXPECT_EQ(e.ThHitPh, 15.0f);
    EXPECT_EQ(e.ThHitAm, 4.0f);
    EXPECT_EQ(e.ThAbs, 0);
    EXPECT_EQ(e.ThAbsPul, -14.0f);
    EXPECT_EQ(e.ThAbsInt, -24.0f);
    EXPECT_EQ(e.ThRelPul, 6.0f);
    EXPECT_EQ(e.ThRelInt, -15.0f);
}

TEST(ScenarioEntryDefaults, IdentityProgressAndStatisticsStartAtZero) {
    const ScenarioEntry e = defaultEntry(45000.0);
    for (std::size_t i = 0; i < kSettingsOffset; ++i)
        ASSERT_EQ(bytesOf(e)[i], 0) << "byte " << i;
}

TEST(ScenarioEntryDefaults, TheDefaultWindowCoversTheWholeDay) {
    const ScenarioEntry e = defaultEntry(45000.75);
    // The end of the window lies on the same date, a moment earlier in the day than
    // its beginning: the window runs past midnight round to just before the start.
    EXPECT_EQ(std::floor(e.EndTime.get()), std::floor(e.BegTime.get()));
    EXPECT_LT(e.EndTime.get(), e.BegTime.get());
    EXPECT_NEAR(e.BegTime - e.EndTime, 1e-8, 1e-11);
}

TEST(ScenarioEntryGroups, EachGroupNeedsTimeAFlagAndTheAnalogSwitch) {
    ScenarioEntry e = defaultEntry(45000.0);
    EXPECT_TRUE(performsSine(e));
    EXPECT_TRUE(performsO132(e));
    EXPECT_TRUE(performsO131(e));
    EXPECT_TRUE(performsNoise(e));
    EXPECT_TRUE(performsEcho(e));
    EXPECT_FALSE(performsImpedance(e)); // both impedance norms are off by default
    EXPECT_TRUE(performsMultiFrequency(e));
    EXPECT_TRUE(performsO42(e));
    EXPECT_TRUE(performsThroughput(e));

    e.impCapacOn = 1;
    EXPECT_TRUE(performsImpedance(e));

    // A time of 00:00:00 switches the group off, flags or not; just under one
    // second does too.
    e.SinTime = 0.0;
    EXPECT_FALSE(performsSine(e));
    e.SinTime = 0.999;
    EXPECT_FALSE(performsSine(e));
    e.SinTime = 1.0;
    EXPECT_TRUE(performsSine(e));

    // Without the analyzer switch no electrical group runs, throughput still does.
    e.Analog = 0;
    EXPECT_FALSE(performsSine(e) || performsO132(e) || performsO131(e) || performsNoise(e) ||
                 performsEcho(e) || performsImpedance(e) || performsMultiFrequency(e) ||
                 performsO42(e));
    EXPECT_TRUE(performsThroughput(e));
    e.DiscrTime = 0.5;
    EXPECT_FALSE(performsThroughput(e));
}

TEST(ScenarioEntryGroups, AGroupWithEveryFlagOffIsNotPerformed) {
    ScenarioEntry e = defaultEntry(45000.0);
    uint8_t* sineFlags[] = {&e.sinSNROn,    &e.sinSNRpsOn,  &e.sinJitPhOn,  &e.sinJitAmOn,
                            &e.sinShiftOn,  &e.sinPulPrcOn, &e.sinPulCntOn, &e.sinPulRelOn,
                            &e.sinIntPrcOn, &e.sinIntCntOn, &e.sinIntRelOn, &e.sinSumPrcOn,
                            &e.sinSumCntOn, &e.sinSumRelOn, &e.sinHitPhOn,  &e.sinHitAmOn,
                            &e.sinModOn,    &e.sinAttOn,    &e.sinDis2On,   &e.sinDis3On,
                            &e.sinDis23On};
    for (uint8_t* flag : sineFlags)
        *flag = 0;
    EXPECT_FALSE(performsSine(e));
    // Any one flag brings the group back.
    for (uint8_t* flag : sineFlags) {
        *flag = 1;
        EXPECT_TRUE(performsSine(e)) << "flag at " << offsetIn(e, flag);
        *flag = 0;
    }

    e.mttAttOn = 0;
    e.mttDelOn = 0;
    EXPECT_FALSE(performsMultiFrequency(e));
    e.mttDelOn = 1;
    EXPECT_TRUE(performsMultiFrequency(e));

    e.o42Dis2On = e.o42Dis3On = e.o42Dis23On = 0;
    EXPECT_FALSE(performsO42(e));
    e.echoTalkOn = e.echoListOn = 0;
    EXPECT_FALSE(performsEcho(e));
    e.blkNoiseOn = e.blkNoisePsOn = e.blkNoiseSelOn = 0;
    EXPECT_FALSE(performsNoise(e));
    e.o132SNROn = e.o132SNRpsOn = e.o132JitPhOn = e.o132JitAmOn = e.o132ShiftOn = 0;
    EXPECT_FALSE(performsO132(e));
    e.o131SNROn = 0;
    EXPECT_FALSE(performsO131(e));
    e.disPassOn = 0;
    EXPECT_FALSE(performsThroughput(e));
}

TEST(ScenarioEntrySettings, SynchronisationDelayIsKeptInHalfSeconds) {
    ScenarioEntry e = defaultEntry(45000.0);
    setSincSeconds(e, 4);
    EXPECT_EQ(e.SincTime, 8);
    e.SincTime = 9;
    EXPECT_EQ(sincSeconds(e), 4);
    setSincSeconds(e, 10);
    EXPECT_EQ(e.SincTime, 20);
}

} // namespace
} // namespace vetlina
