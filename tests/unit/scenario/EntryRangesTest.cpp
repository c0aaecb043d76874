#include "scenario/EntryRanges.h"

#include "platform/Cp1251.h"
#include "platform/DateTime.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace vetlina {
namespace {

ScenarioEntry validEntry() {
    ScenarioEntry e = defaultEntry(45000.5);
    setText(e.Id, "123456X8");
    setText(e.Number, "T8-495-123,45#");
    return e;
}

TEST(EntryRanges, DefaultsAreInsideEveryRange) {
    auto bad = checkEntryRanges(validEntry());
    EXPECT_FALSE(bad) << bad->reason;
}

TEST(EntryRanges, RowsCoverTheSettingsWithoutOverlap) {
    // Every byte of the settings part belongs to exactly one row, so a field added to
    // the record without a range shows here.
    std::vector<int> owner(kEntrySize, 0);
    std::set<std::string_view> names;
    for (const EntryField& f : entryFields()) {
        EXPECT_TRUE(names.insert(f.name).second) << f.name;
        ASSERT_LE(f.offset + f.size, kEntrySize) << f.name;
        for (std::size_t i = f.offset; i < f.offset + f.size; ++i)
            ++owner[i];
    }
    for (std::size_t i = kSettingsOffset; i < kEntrySize; ++i)
        EXPECT_EQ(owner[i], 1) << "byte " << i;
    for (std::size_t i = 0; i < kStatisticsOffset; ++i)
        EXPECT_EQ(owner[i], 1) << "byte " << i;
    EXPECT_EQ(findEntryField("sinSNR")->offset, 3290u);
    EXPECT_EQ(findEntryField("DelF14")->offset, 3641u + 4 * 13);
}

TEST(EntryRanges, DateLimitsAreTheFormattableYears) {
    EXPECT_EQ(findEntryField("BegTime")->min, *encodeDateTime({.year = 1, .month = 1, .day = 1}));
    EXPECT_EQ(findEntryField("BegTime")->max,
              *encodeDateTime({.year = 9999, .month = 12, .day = 31}) + 1);
}

struct Case {
    const char* what;
    std::function<void(ScenarioEntry&)> change;
    const char* field; // nullptr: the entry stays valid
};

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(EntryRanges, FirstFieldOutOfRangeIsNamed) {
    const std::vector<Case> cases = {
        // Edges of decimal ranges, and "*".
        {"sinSNR at max", [](auto& e) { e.sinSNR = 70.0f; }, nullptr},
        {"sinSNR above", [](auto& e) { e.sinSNR = 70.01f; }, "sinSNR"},
        {"sinSNR no norm", [](auto& e) { e.sinSNR = kNoNorm; }, nullptr},
        {"sinSNR -998.5", [](auto& e) { e.sinSNR = -998.5f; }, nullptr},
        {"sinSNR NaN", [](auto& e) { e.sinSNR = kNaN; }, "sinSNR"},
        {"sinAtt -inf", [](auto& e) { e.sinAtt = -kInf; }, "sinAtt"},
        {"CapacFreq has no *", [](auto& e) { e.CapacFreq = kNoNorm; }, "CapacFreq"},
        {"ImpedFreq *", [](auto& e) { e.ImpedFreq = kNoNorm; }, nullptr},
        {"SinLev 1e38", [](auto& e) { e.SinLev = 1e38f; }, "SinLev"},
        {"ThRelInt above 0", [](auto& e) { e.ThRelInt = 0.5f; }, "ThRelInt"},
        // Whole numbers, with "*" where it is allowed.
        {"sinPulRel -10", [](auto& e) { e.sinPulRel = -10; }, "sinPulRel"},
        {"sinPulCnt *", [](auto& e) { e.sinPulCnt = -999; }, nullptr},
        {"Del14 20001", [](auto& e) { e.Del[13] = 20001; }, "Del14"},
        {"EchoT 9", [](auto& e) { e.EchoT = 9; }, "EchoT"},
        {"LocalPaus 0", [](auto& e) { e.LocalPaus = 0; }, "LocalPaus"},
        {"DeadTime *", [](auto& e) { e.DeadTime = -999; }, "DeadTime"},
        // Fixed choices and flags.
        {"O132Freq 820", [](auto& e) { e.O132Freq = 820; }, nullptr},
        {"O132Freq 920", [](auto& e) { e.O132Freq = 920; }, "O132Freq"},
        {"EchoFreq 1800", [](auto& e) { e.EchoFreq = 1800; }, "EchoFreq"},
        {"MaxLev 10", [](auto& e) { e.MaxLev = 10; }, "MaxLev"},
        {"Analog 2", [](auto& e) { e.Analog = 2; }, "Analog"},
        {"sinDis23On 255", [](auto& e) { e.sinDis23On = 255; }, "sinDis23On"},
        {"ComplexType 2", [](auto& e) { e.ComplexType = 2; }, "ComplexType"},
        // MinLev follows MaxLev.
        {"MinLev 20 under MaxLev 20",
         [](auto& e) {
             e.MaxLev = 20;
             e.MinLev = 20;
         },
         nullptr},
        {"MinLev 5 under MaxLev 0", [](auto& e) { e.MinLev = 5; }, "MinLev"},
        {"MinLev -100 under MaxLev -20",
         [](auto& e) {
             e.MaxLev = -20;
             e.MinLev = -100;
         },
         nullptr},
        {"MinLev -81 under MaxLev 0", [](auto& e) { e.MinLev = -81; }, "MinLev"},
        // SincTime: half-seconds; 1 s (quick scenarios) passes, 0 and 11 s do not.
        {"SincTime 21 halves", [](auto& e) { e.SincTime = 21; }, nullptr},
        {"SincTime 22 halves", [](auto& e) { e.SincTime = 22; }, "SincTime"},
        {"SincTime 2 halves", [](auto& e) { e.SincTime = 2; }, nullptr},
        {"SincTime 1 half", [](auto& e) { e.SincTime = 1; }, "SincTime"},
        {"SincTime huge", [](auto& e) { e.SincTime = 2000000000; }, "SincTime"},
        // Durations: 0, short test times, a day at most.
        {"SinTime 0", [](auto& e) { e.SinTime = 0.0; }, nullptr},
        {"SinTime 4", [](auto& e) { e.SinTime = 4.0; }, nullptr},
        {"SinTime 86400", [](auto& e) { e.SinTime = 86400.0; }, "SinTime"},
        {"DiscrTime -1", [](auto& e) { e.DiscrTime = -1.0; }, "DiscrTime"},
        {"BlkTime 1e300", [](auto& e) { e.BlkTime = 1e300; }, "BlkTime"},
        {"EchoTime NaN", [](auto& e) { e.EchoTime = std::nan(""); }, "EchoTime"},
        // Date-times and progress.
        {"BegTime 1e17", [](auto& e) { e.BegTime = 1e17; }, "BegTime"},
        {"NextTime -inf", [](auto& e) { e.NextTime = -HUGE_VAL; }, "NextTime"},
        {"SeriesTime 0", [](auto& e) { e.SeriesTime = 0.0; }, nullptr},
        {"SessionsDone -1", [](auto& e) { e.SessionsDone = -1; }, "SessionsDone"},
        {"FailOtb -5", [](auto& e) { e.FailOtb = -5; }, "FailOtb"},
        {"RunCounters[3] -1", [](auto& e) { e.RunCounters[3] = -1; }, "RunCounters[3]"},
        {"EvalCounterB 5", [](auto& e) { e.EvalCounterB = 5; }, "EvalCounterB"},
        {"Busy NaN", [](auto& e) { e.Busy = kNaN; }, "Busy"},
        // Between fields.
        {"NumMin above NumTotal",
         [](auto& e) {
             e.NumMin = 5;
             e.NumTotal = 4;
         },
         "NumMin"},
        {"NumTotal 101", [](auto& e) { e.NumTotal = 101; }, "NumTotal"},
        // Texts.
        {"Id unterminated", [](auto& e) { std::memset(e.Id, '1', sizeof e.Id); }, "Id"},
        {"Id 7 digits", [](auto& e) { setText(e.Id, "1234567"); }, "Id"},
        {"Id X in 8th place", [](auto& e) { setText(e.Id, "1234567X"); }, "Id"},
        {"Id x in 7th place", [](auto& e) { setText(e.Id, "123456x8"); }, nullptr},
        {"Id letters", [](auto& e) { setText(e.Id, "12345A78"); }, "Id"},
        {"Number filled", [](auto& e) { std::memset(e.Number, '7', sizeof e.Number); }, nullptr},
        {"Number tone before T", [](auto& e) { setText(e.Number, "12#T3"); }, "Number"},
        {"Number CR", [](auto& e) { setText(e.Number, "123\rATZ"); }, "Number"},
        {"AT filled", [](auto& e) { std::memset(e.AT, 'M', sizeof e.AT); }, nullptr},
        {"DiscrAT CR", [](auto& e) { setText(e.DiscrAT, "&F\rATH"); }, "DiscrAT"},
        {"AT escape", [](auto& e) { setText(e.AT, "\x1b[2J"); }, "AT"},
        // Two faults: the first in record order is the one named.
        {"two faults",
         [](auto& e) {
             e.ThAbsPul = 11.0f;
             e.sinSNR = -1.0f;
         },
         "sinSNR"},
    };
    for (const Case& c : cases) {
        ScenarioEntry e = validEntry();
        c.change(e);
        auto bad = checkEntryRanges(e);
        if (!c.field) {
            EXPECT_FALSE(bad) << c.what << ": " << bad->reason;
            continue;
        }
        ASSERT_TRUE(bad) << c.what;
        EXPECT_EQ(bad->field->name, c.field) << c.what;
        // The reason names the field first.
        EXPECT_EQ(bad->reason.rfind(c.field, 0), 0u) << c.what << ": " << bad->reason;
    }
}

TEST(EntryRanges, ReasonsSayValueAndRange) {
    ScenarioEntry e = validEntry();
    e.sinSNR = 71.0f;
    EXPECT_EQ(checkEntryRanges(e)->reason, "sinSNR = 71: допустимо число от 0.0 до 70.0"_cp);
    e = validEntry();
    e.EchoLev = kNaN;
    EXPECT_EQ(checkEntryRanges(e)->reason, "EchoLev = nan: не число"_cp);
    e = validEntry();
    e.MaxLev = 20;
    e.MinLev = -61;
    EXPECT_EQ(checkEntryRanges(e)->reason, "MinLev = -61: допустимо целое число от -60 до 20"_cp);
    e = validEntry();
    setText(e.AT, "X\n");
    EXPECT_EQ(checkEntryRanges(e)->reason, "AT: управляющий символ 0A"_cp);
}

} // namespace
} // namespace vetlina
