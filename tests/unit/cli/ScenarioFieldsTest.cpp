#include "cli/ScenarioFields.h"

#include "scenario/ScenarioEntry.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

namespace vetlina {
namespace {

const FieldRow* find(const std::vector<FieldRow>& fields, const std::string& name) {
    for (const FieldRow& f : fields)
        if (f.name() == name)
            return &f;
    return nullptr;
}

TEST(ScenarioFields, EveryByteOfTheRecordBelongsToExactlyOneField) {
    std::vector<int> owners(kEntrySize, 0);
    std::set<std::string> names;
    for (const FieldRow& f : scenarioFields()) {
        EXPECT_TRUE(names.insert(f.name()).second) << "twice: " << f.name();
        ASSERT_LE(f.offset + f.bytes(), kEntrySize) << f.name();
        for (std::size_t i = 0; i < f.bytes(); ++i)
            ++owners[f.offset + i];
    }
    for (std::size_t i = 0; i < kEntrySize; ++i)
        EXPECT_EQ(owners[i], 1) << "byte " << i;
}

TEST(ScenarioFields, TemplateFieldsAreExactlyTheSettings) {
    std::size_t bytes = 0;
    for (const FieldRow& f : templateFields()) {
        EXPECT_GE(f.offset, 3095u) << f.name();
        bytes += f.bytes();
    }
    EXPECT_EQ(bytes, 823u);
    EXPECT_EQ(find(templateFields(), "Id"), nullptr);
    EXPECT_EQ(find(templateFields(), "Statistics.A.sine.count"), nullptr);
}

// A cross-check of the table against offsets taken from the layout tables.
TEST(ScenarioFields, NamesLandOnTheirOffsets) {
    struct Expect {
        const char* name;
        std::size_t offset;
        FieldKind kind;
        std::size_t count;
    };
    const Expect expected[] = {
        {"Id", 0, FieldKind::Text, 1},
        {"Number", 10, FieldKind::Text, 1},
        {"RunCounters", 55, FieldKind::I32, 4},
        {"SeriesTime", 43, FieldKind::F64, 1},
        {"AT", 3096, FieldKind::Text, 1},
        {"BegTime", 3244, FieldKind::F64, 1},
        {"norms.sinJitPh.on", 3299, FieldKind::U8, 1},
        {"norms.sinJitAm.on", 3300, FieldKind::U8, 1},
        {"norms.sinJitAm.value", 3305, FieldKind::F32, 1},
        {"norms.sinPulRel.value", 3325, FieldKind::I32, 1},
        {"norms.ImpedFreq.value", 3454, FieldKind::F32, 1},
        {"norms.mttDel.on", 3584, FieldKind::U8, 1},
        {"Att", 3468, FieldKind::F32, 14},
        {"Del", 3585, FieldKind::I32, 14},
        {"DelNotch", 3697, FieldKind::F32, 1},
        {"norms.disPass.value", 3717, FieldKind::F32, 1},
        {"SinFreq", 3769, FieldKind::I32, 1},
        {"ThAbs", 3901, FieldKind::U8, 1},
        {"ThRelInt", 3914, FieldKind::F32, 1},
        {"Statistics.A.sine.level.last", 95, FieldKind::F32, 1},
        {"Statistics.A.sine.sinJitAm.sum", 95 + 104, FieldKind::F64, 1},
        {"Statistics.B.sine.sinDis23.sumSq", 559 + 452, FieldKind::F64, 1},
        {"Statistics.B.sine.count", 559 + 460, FieldKind::I32, 1},
        {"Statistics.A.o42.o42Dis3.sum", 2879 + 48, FieldKind::F64, 1},
        {"Statistics.B.echo.echoListCount", 1575 + 44, FieldKind::I32, 1},
        {"Statistics.A.multiFrequency.mttAtt.sum", 1711 + 76, FieldKind::F64, 14},
        {"Statistics.B.multiFrequency.mttDel.sumSq", 2295 + 468, FieldKind::F64, 14},
        {"Statistics.B.throughput.disPass.last", 3071, FieldKind::F32, 1},
    };
    for (const Expect& e : expected) {
        const FieldRow* f = find(scenarioFields(), e.name);
        ASSERT_NE(f, nullptr) << e.name;
        EXPECT_EQ(f->offset, e.offset) << e.name;
        EXPECT_EQ(f->kind, e.kind) << e.name;
        EXPECT_EQ(f->count, e.count) << e.name;
    }
}

TEST(ScenarioFields, EveryNormKeyIsThere) {
    const char* keys[] = {"sinSNR",    "sinSNRps",  "sinJitPh",  "sinJitAm",   "sinShift",
                          "sinPulPrc", "sinPulCnt", "sinPulRel", "sinIntPrc",  "sinIntCnt",
                          "sinIntRel", "sinSumPrc", "sinSumCnt", "sinSumRel",  "sinHitPh",
                          "sinHitAm",  "sinMod",    "sinAtt",    "sinDis2",    "sinDis3",
                          "sinDis23",  "o132SNR",   "o132SNRps", "o132JitPh",  "o132JitAm",
                          "o132Shift", "o131SNR",   "blkNoise",  "blkNoisePs", "blkNoiseSel",
                          "echoTalk",  "echoList",  "impImped",  "impCapac",   "o42Dis2",
                          "o42Dis3",   "o42Dis23",  "disPass"};
    for (const char* key : keys) {
        EXPECT_NE(find(scenarioFields(), std::string("norms.") + key + ".on"), nullptr) << key;
        EXPECT_NE(find(scenarioFields(), std::string("norms.") + key + ".value"), nullptr) << key;
    }
    EXPECT_EQ(find(scenarioFields(), "norms.mttAtt.value"), nullptr);
    EXPECT_EQ(find(scenarioFields(), "norms.CapacFreq.on"), nullptr);
}

} // namespace
} // namespace vetlina
