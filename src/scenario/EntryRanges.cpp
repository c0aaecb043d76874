#include "scenario/EntryRanges.h"

#include <array>
#include <cmath>
#include <cstring>

namespace vetlina {
namespace {

constexpr std::array<int32_t, 1> kEchoFreqChoices{1600};
constexpr std::array<int32_t, 2> kO132FreqChoices{820, 1020};
constexpr std::array<int32_t, 3> kMaxLevChoices{-20, 0, 20};

// The longest measurement time the editor can show ("hh:nn:ss" under one day).
constexpr double kLongestDuration = 86399.0;

#define VETLINA_FIELD(field) #field, offsetof(ScenarioEntry, field)

constexpr EntryRange whole(const char* name, std::size_t offset, double min, double max,
                           bool star = false) {
    return {name, offset, FieldStorage::I32, min, max, star, {}};
}
constexpr EntryRange decimal(const char* name, std::size_t offset, double min, double max,
                             bool star = false) {
    return {name, offset, FieldStorage::F32, min, max, star, {}};
}
constexpr EntryRange duration(const char* name, std::size_t offset) {
    return {name, offset, FieldStorage::F64, 0.0, kLongestDuration, false, {}};
}
constexpr EntryRange choice(const char* name, std::size_t offset,
                            std::span<const int32_t> choices) {
    return {name,  offset, FieldStorage::I32, double(choices.front()), double(choices.back()),
            false, choices};
}

// The norm points of the multi-frequency signal: "Att1".."Att14" and the rest.
constexpr const char* kAttNames[kMttPoints] = {"Att1",  "Att2",  "Att3",  "Att4", "Att5",
                                               "Att6",  "Att7",  "Att8",  "Att9", "Att10",
                                               "Att11", "Att12", "Att13", "Att14"};
constexpr const char* kAttFNames[kMttPoints] = {"AttF1",  "AttF2",  "AttF3",  "AttF4", "AttF5",
                                                "AttF6",  "AttF7",  "AttF8",  "AttF9", "AttF10",
                                                "AttF11", "AttF12", "AttF13", "AttF14"};
constexpr const char* kDelNames[kMttPoints] = {"Del1",  "Del2",  "Del3",  "Del4", "Del5",
                                               "Del6",  "Del7",  "Del8",  "Del9", "Del10",
                                               "Del11", "Del12", "Del13", "Del14"};
constexpr const char* kDelFNames[kMttPoints] = {"DelF1",  "DelF2",  "DelF3",  "DelF4", "DelF5",
                                                "DelF6",  "DelF7",  "DelF8",  "DelF9", "DelF10",
                                                "DelF11", "DelF12", "DelF13", "DelF14"};

std::vector<EntryRange> buildRanges() {
    std::vector<EntryRange> r{
        // Dialling and the numbers of sessions.
        whole(VETLINA_FIELD(LocalPaus), 1, 99),
        whole(VETLINA_FIELD(LocalCall), 1, 99),
        whole(VETLINA_FIELD(TrunkPaus), 1, 99),
        whole(VETLINA_FIELD(TrunkCall), 1, 99),
        whole(VETLINA_FIELD(Trunk8W), 1, 99),
        whole(VETLINA_FIELD(NumMin), 1, 100),
        whole(VETLINA_FIELD(NumTotal), 1, 100),
        // Generator.
        duration(VETLINA_FIELD(EchoTime)),
        decimal(VETLINA_FIELD(EchoLev), -40, 0),
        decimal(VETLINA_FIELD(EchoLevR), -40, 0),
        choice(VETLINA_FIELD(EchoFreq), kEchoFreqChoices),
        whole(VETLINA_FIELD(EchoT1), 20, 10000),
        whole(VETLINA_FIELD(EchoT2), 20, 10000),
        whole(VETLINA_FIELD(EchoT), 10, 500),
        duration(VETLINA_FIELD(SinTime)),
        decimal(VETLINA_FIELD(SinLev), -40, 10),
        decimal(VETLINA_FIELD(SinLevR), -40, 10),
        whole(VETLINA_FIELD(SinFreq), 300, 3400),
        duration(VETLINA_FIELD(O132Time)),
        decimal(VETLINA_FIELD(O132Lev), -58, 10),
        decimal(VETLINA_FIELD(O132LevR), -58, 10),
        choice(VETLINA_FIELD(O132Freq), kO132FreqChoices),
        duration(VETLINA_FIELD(O131Time)),
        decimal(VETLINA_FIELD(O131Lev), -68, 0),
        decimal(VETLINA_FIELD(O131LevR), -68, 0),
        duration(VETLINA_FIELD(MTTSTime)),
        decimal(VETLINA_FIELD(MTTSLev), -40, 0),
        decimal(VETLINA_FIELD(MTTSLevR), -40, 0),
        duration(VETLINA_FIELD(O42Time)),
        decimal(VETLINA_FIELD(O42Lev), -40, 0),
        decimal(VETLINA_FIELD(O42LevR), -40, 0),
        duration(VETLINA_FIELD(ImpTime)),
        decimal(VETLINA_FIELD(ImpLev), -40, 0),
        decimal(VETLINA_FIELD(ImpLevR), -40, 0),
        duration(VETLINA_FIELD(BlkTime)),
        duration(VETLINA_FIELD(DiscrTime)),
        // Meter and event thresholds.
        {VETLINA_FIELD(SincTime), FieldStorage::I32, 2, 10, false, {}, 2},
        whole(VETLINA_FIELD(DeadTime), 0, 125),
        choice(VETLINA_FIELD(MaxLev), kMaxLevChoices),
        whole(VETLINA_FIELD(MinLev), -100, 20),
        whole(VETLINA_FIELD(MinSNR), 0, 60),
        decimal(VETLINA_FIELD(ThHitPh), 5, 45),
        decimal(VETLINA_FIELD(ThHitAm), 2, 9),
        decimal(VETLINA_FIELD(ThRelPul), -20, 20),
        decimal(VETLINA_FIELD(ThRelInt), -20, 0),
        decimal(VETLINA_FIELD(ThAbsPul), -60, 10),
        decimal(VETLINA_FIELD(ThAbsInt), -60, 10),
        // Norms; every one may be left without a value except CapacFreq.
        decimal(VETLINA_FIELD(sinSNR), 0, 70, true),
        decimal(VETLINA_FIELD(sinSNRps), 0, 70, true),
        decimal(VETLINA_FIELD(sinJitPh), 0, 45, true),
        decimal(VETLINA_FIELD(sinJitAm), 0, 70, true),
        decimal(VETLINA_FIELD(sinShift), 0, 10, true),
        decimal(VETLINA_FIELD(sinPulPrc), 0, 100, true),
        whole(VETLINA_FIELD(sinPulCnt), 0, 9999, true),
        whole(VETLINA_FIELD(sinPulRel), -9, 0, true),
        decimal(VETLINA_FIELD(sinIntPrc), 0, 100, true),
        whole(VETLINA_FIELD(sinIntCnt), 0, 9999, true),
        whole(VETLINA_FIELD(sinIntRel), -9, 0, true),
        decimal(VETLINA_FIELD(sinSumPrc), 0, 100, true),
        whole(VETLINA_FIELD(sinSumCnt), 0, 9999, true),
        whole(VETLINA_FIELD(sinSumRel), -9, 0, true),
        whole(VETLINA_FIELD(sinHitPh), 0, 9999, true),
        whole(VETLINA_FIELD(sinHitAm), 0, 9999, true),
        decimal(VETLINA_FIELD(sinMod), 0, 80, true),
        decimal(VETLINA_FIELD(sinAtt), -60, 60, true),
        decimal(VETLINA_FIELD(sinDis2), 0, 10, true),
        decimal(VETLINA_FIELD(sinDis3), 0, 10, true),
        decimal(VETLINA_FIELD(sinDis23), 0, 10, true),
        decimal(VETLINA_FIELD(o132SNR), 0, 70, true),
        decimal(VETLINA_FIELD(o132SNRps), 0, 70, true),
        decimal(VETLINA_FIELD(o132JitPh), 0, 45, true),
        decimal(VETLINA_FIELD(o132JitAm), 0, 70, true),
        decimal(VETLINA_FIELD(o132Shift), 0, 10, true),
        decimal(VETLINA_FIELD(o131SNR), 0, 70, true),
        decimal(VETLINA_FIELD(blkNoise), -100, 0, true),
        decimal(VETLINA_FIELD(blkNoisePs), -100, 0, true),
        decimal(VETLINA_FIELD(blkNoiseSel), -100, 0, true),
        decimal(VETLINA_FIELD(echoTalk), 10, 70, true),
        decimal(VETLINA_FIELD(echoList), 10, 70, true),
        whole(VETLINA_FIELD(impImped), 0, 10000, true),
        decimal(VETLINA_FIELD(ImpedFreq), 300, 3400, true),
        whole(VETLINA_FIELD(impCapac), 10, 2000, true),
        decimal(VETLINA_FIELD(CapacFreq), 300, 3400, false),
        decimal(VETLINA_FIELD(AttNotch), 0, 3400, true),
        decimal(VETLINA_FIELD(DelNotch), 0, 3400, true),
        decimal(VETLINA_FIELD(o42Dis2), 0, 10, true),
        decimal(VETLINA_FIELD(o42Dis3), 0, 10, true),
        decimal(VETLINA_FIELD(o42Dis23), 0, 10, true),
        decimal(VETLINA_FIELD(disPass), 0, 100, true),
    };
    for (std::size_t k = 0; k < kMttPoints; ++k) {
        r.push_back(decimal(kAttNames[k], offsetof(ScenarioEntry, Att) + 4 * k, -60, 60, true));
        r.push_back(decimal(kAttFNames[k], offsetof(ScenarioEntry, AttF) + 4 * k, 0, 3400, true));
        r.push_back(whole(kDelNames[k], offsetof(ScenarioEntry, Del) + 4 * k, -20000, 20000, true));
        r.push_back(decimal(kDelFNames[k], offsetof(ScenarioEntry, DelF) + 4 * k, 0, 3400, true));
    }
    return r;
}

#undef VETLINA_FIELD

} // namespace

std::span<const EntryRange> entryRanges() {
    static const std::vector<EntryRange> ranges = buildRanges();
    return ranges;
}

const EntryRange* findEntryRange(std::string_view name) {
    for (const EntryRange& row : entryRanges())
        if (name == row.name)
            return &row;
    return nullptr;
}

double rangeValue(const ScenarioEntry& entry, const EntryRange& row) {
    const unsigned char* at = bytesOf(entry) + row.offset;
    switch (row.storage) {
    case FieldStorage::I32: {
        const int32_t v = loadLe<int32_t>(at);
        // A stored "no norm" stays -999 whatever the scale.
        if (row.storedPerShown != 1 && v > kNoNormBound)
            return static_cast<double>(v / row.storedPerShown);
        return v;
    }
    case FieldStorage::F32:
        return loadLe<float>(at);
    case FieldStorage::F64:
        return loadLe<double>(at);
    }
    return 0.0;
}

void setRangeValue(ScenarioEntry& entry, const EntryRange& row, double value) {
    unsigned char* at = bytesOf(entry) + row.offset;
    switch (row.storage) {
    case FieldStorage::I32:
        storeLe<int32_t>(at, static_cast<int32_t>(value) * row.storedPerShown);
        break;
    case FieldStorage::F32:
        storeLe<float>(at, static_cast<float>(value));
        break;
    case FieldStorage::F64:
        storeLe<double>(at, value);
        break;
    }
}

bool valueInRange(const EntryRange& row, double value) {
    if (std::isnan(value))
        return false;
    if (row.noNormAllowed && value <= kNoNormBound)
        return true;
    if (!row.choices.empty()) {
        for (int32_t c : row.choices)
            if (value == c)
                return true;
        return false;
    }
    return value >= row.min && value <= row.max;
}

} // namespace vetlina
