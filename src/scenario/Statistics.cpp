#include "scenario/Statistics.h"

#include <cassert>

namespace vetlina {
namespace {

// Where the last value and the sums of one row stand in a block.
template <typename Block>
struct ItemPlace {
    Le<float> Block::*last;
    StatSums Block::*sums;
};

template <typename Block, std::size_t N>
StatRef refOf(Block& block, const ItemPlace<Block> (&places)[N], int row) {
    static_assert(N == Block::kItems);
    assert(row >= 0 && row < Block::kItems);
    StatSums& sums = block.*(places[row].sums);
    return {block.*(places[row].last), sums.sum, sums.sumSq};
}

StatValue valueOf(const StatRef& ref) {
    return {ref.last.get(), ref.sum.get(), ref.sumSq.get()};
}

#define PLACE(Block, name)                                                                         \
    { &Block::name##Last, &Block::name##Sums }

constexpr ItemPlace<SineStats> kSine[] = {
    PLACE(SineStats, level),     PLACE(SineStats, frequency), PLACE(SineStats, sinSNR),
    PLACE(SineStats, sinSNRps),  PLACE(SineStats, sinJitPh),  PLACE(SineStats, sinJitAm),
    PLACE(SineStats, sinShift),  PLACE(SineStats, sinPulPrc), PLACE(SineStats, sinPulCnt),
    PLACE(SineStats, sinPulRel), PLACE(SineStats, sinIntPrc), PLACE(SineStats, sinIntCnt),
    PLACE(SineStats, sinIntRel), PLACE(SineStats, sinSumPrc), PLACE(SineStats, sinSumCnt),
    PLACE(SineStats, sinSumRel), PLACE(SineStats, sinHitPh),  PLACE(SineStats, sinHitAm),
    PLACE(SineStats, sinMod),    PLACE(SineStats, sinAtt),    PLACE(SineStats, sinDis2),
    PLACE(SineStats, sinDis3),   PLACE(SineStats, sinDis23)};

constexpr ItemPlace<O132Stats> kO132[] = {PLACE(O132Stats, level),     PLACE(O132Stats, frequency),
                                          PLACE(O132Stats, o132SNR),   PLACE(O132Stats, o132SNRps),
                                          PLACE(O132Stats, o132JitPh), PLACE(O132Stats, o132JitAm),
                                          PLACE(O132Stats, o132Shift)};

constexpr ItemPlace<O131Stats> kO131[] = {PLACE(O131Stats, level), PLACE(O131Stats, o131SNR)};

constexpr ItemPlace<NoiseStats> kNoise[] = {
    PLACE(NoiseStats, blkNoise), PLACE(NoiseStats, blkNoisePs), PLACE(NoiseStats, blkNoiseSel)};

constexpr ItemPlace<EchoStats> kEcho[] = {PLACE(EchoStats, echoTalk), PLACE(EchoStats, echoList)};

constexpr ItemPlace<ImpedanceStats> kImpedance[] = {PLACE(ImpedanceStats, impImped),
                                                    PLACE(ImpedanceStats, impCapac)};

constexpr ItemPlace<O42Stats> kO42[] = {PLACE(O42Stats, level), PLACE(O42Stats, o42Dis2),
                                        PLACE(O42Stats, o42Dis3), PLACE(O42Stats, o42Dis23)};

constexpr ItemPlace<ThroughputStats> kThroughput[] = {PLACE(ThroughputStats, disPass)};

#undef PLACE

} // namespace

// The const readers go through the same table; the block is not changed.
#define BLOCK_ITEMS(Block, table)                                                                  \
    StatRef Block::item(int row) {                                                                 \
        return refOf(*this, table, row);                                                           \
    }                                                                                              \
    StatValue Block::item(int row) const {                                                         \
        return valueOf(refOf(const_cast<Block&>(*this), table, row));                              \
    }

BLOCK_ITEMS(SineStats, kSine)
BLOCK_ITEMS(O132Stats, kO132)
BLOCK_ITEMS(O131Stats, kO131)
BLOCK_ITEMS(NoiseStats, kNoise)
BLOCK_ITEMS(EchoStats, kEcho)
BLOCK_ITEMS(ImpedanceStats, kImpedance)
BLOCK_ITEMS(O42Stats, kO42)
BLOCK_ITEMS(ThroughputStats, kThroughput)

#undef BLOCK_ITEMS

StatRef MultiFrequencyStats::item(int row) {
    assert(row >= 0 && row < kItems);
    if (row == 0)
        return level();
    if (row <= kMttPoints)
        return mttAtt(row - 1);
    return mttDel(row - 1 - kMttPoints);
}

StatValue MultiFrequencyStats::item(int row) const {
    return valueOf(const_cast<MultiFrequencyStats&>(*this).item(row));
}

} // namespace vetlina
