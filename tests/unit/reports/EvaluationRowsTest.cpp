// One row of the statistics window: its text in every format, its classes and the
// broken-norm rule, held against the worked examples of the evaluation.
#include "reports/EvaluationRows.h"

#include "platform/Cp1251.h"
#include "reports/ConfidenceTables.h"

#include <gtest/gtest.h>
#include <initializer_list>

namespace vetlina {
namespace {

// A direction that held these values, one per session (the last one is the last value).
RowDirection held(std::initializer_list<double> values) {
    RowDirection d;
    for (double x : values) {
        d.value.last = static_cast<float>(x);
        d.value.sum += x;
        d.value.sumSq += x * x;
        ++d.count;
    }
    return d;
}
const RowDirection kNothing = {{-999.0f, 0.0, 0.0}, 0};

struct RowCase {
    const char* name;
    const char* label;
    RowDirection b;
    RowDirection a;
    NormSense sense;
    double norm;
    int32_t sessionsDone;
    const char* text; // the row as the window shows it (UTF-8)
    int classB;
    int classA;
    bool broken;
};

const RowCase kRows[] = {
    // Sessions 10 and 12 against a min-norm of 5: k = 1, 11 - 1.41 x 6.5 < 5 and
    // 11 - 1.41 x 3.5 = 6.05 >= 5: class 2. Nothing measured the other way.
    {"MinNormAfterTwoSessions", "Сигнал/шум,дБ............", held({10, 12}), kNothing,
     NormSense::Min, 5, 2,
     "Сигнал/шум,дБ............    5.00    12.00   11.00   1.41  2     ****    ****   ****  *", 2,
     0, false},
    // One session: a valid norm but class 0, shown "*".
    {"OneSessionHasNoClass", "Сигнал/шум,дБ............", held({10}), held({4}), NormSense::Min, 5,
     1, "Сигнал/шум,дБ............    5.00    10.00   10.00   0.00  *     4.00    4.00   0.00  *  ",
     0, 0, true},
    // -3 Hz every session against 2 Hz: classed by the absolute mean 3 (class 4), while the
    // signed last value -3 does not exceed the norm.
    {"FrequencyShiftByAbsoluteMean", "Сдвиг частоты,Гц.........", held({-3, -3}), held({-3, -3}),
     NormSense::Max, 2, 2,
     "Сдвиг частоты,Гц.........    2.00    -3.00   -3.00   0.00  4    -3.00   -3.00   0.00  4  ", 4,
     4, false},
    // A relative-time row with the norm 1e-5 is printed "%7.0e" throughout.
    {"RelativeTimeNorm", "Имп.помехи, отн.время....", held({1e-6, 3e-6}), kNothing, NormSense::Max,
     1e-5, 2,
     "Имп.помехи, отн.время....   1e-05    3e-06   2e-06  1e-06  2     ****    ****   ****  *", 2,
     0, false},
    // ... and a norm of 0 is no norm for it.
    {"RelativeTimeNormZero", "Имп.помехи, отн.время....", held({1e-6, 3e-6}), kNothing,
     NormSense::Max, 0, 2,
     "Имп.помехи, отн.время....    ****    3e-06   2e-06  1e-06  *     ****    ****   ****  *", 0,
     0, false},
    // No norm (-999): "****" in the norm column and "*" both ways, never broken.
    {"NoNorm", "Сигнал/шум,дБ............", held({10, 12}), held({10, 12}), NormSense::Min,
     kRowNoNorm, 2,
     "Сигнал/шум,дБ............    ****    12.00   11.00   1.41  *    12.00   11.00   1.41  *  ", 0,
     0, false},
    // A last value that is missing while the mean stands.
    {"LastMissingMeanPresent", "Сигнал/шум,дБ............", RowDirection{{-999.0f, 22.0, 244.0}, 2},
     kNothing, NormSense::Min, 5, 2,
     "Сигнал/шум,дБ............    5.00     ****   11.00   1.41  2     ****    ****   ****  *", 2,
     0, false},
    // A max-norm broken by the last value: 12.5 + 10.61 x 3.5 > 15, 12.5 - 10.61 x 3.5 <= 15.
    {"MaxNormBroken", "Дрожание фазы,град.......", held({5, 20}), kNothing, NormSense::Max, 15, 2,
     "Дрожание фазы,град.......   15.00    20.00   12.50  10.61  3     ****    ****   ****  *", 3,
     0, true},
    // Group delay (µs): present above -10000 only (the reset value -10001 ms is missing), and
    // broken by a last value above the norm whatever the row's direction.
    {"GroupDelayAboveNorm", "ГВП,мкс....... 800,Гц....", RowDirection{{-10001000.0f, 0, 0}, 0},
     held({50, 150}), NormSense::Min, 100, 2,
     "ГВП,мкс....... 800,Гц....  100.00     ****    ****   ****  *   150.00  100.00  70.71  3  ", 0,
     3, true},
    // -999 is a present group delay; -10000 is not.
    {"GroupDelayPresenceBound", "ГВП,мкс....... 800,Гц....", held({-9000, -9999}),
     RowDirection{{-10000.0f, 0, 0}, 0}, NormSense::Max, kRowNoNorm, 2,
     "ГВП,мкс....... 800,Гц....   *****  -9999.00 -9499.50 706.40  *     ****    ****   ****  *", 0,
     0, false},
};

TEST(EvaluationRowTest, TextsClassesAndBrokenNorms) {
    for (const RowCase& c : kRows) {
        SCOPED_TRACE(c.name);
        EvaluationSheet sheet;
        sheet.sessionsDone = c.sessionsDone;
        const RowClasses classes =
            evaluateRow(sheet, toCp1251(c.label), true, c.b, c.a, c.sense, c.norm);
        ASSERT_EQ(sheet.statLines.size(), 1u);
        EXPECT_EQ(toUtf8(sheet.statLines[0]), c.text);
        EXPECT_EQ(classes.b, c.classB);
        EXPECT_EQ(classes.a, c.classA);
        EXPECT_EQ(sheet.sessionClass, std::max(c.classB, c.classA));
        EXPECT_EQ(sheet.normFailed, c.broken);
        EXPECT_EQ(sheet.parLines, c.broken ? sheet.statLines : std::vector<std::string>{});
    }
}

TEST(EvaluationRowTest, UnselectedRowAddsNothingAndSessionClassOnlyGrows) {
    EvaluationSheet sheet;
    sheet.sessionsDone = 2;
    sheet.sessionClass = 3;
    const RowClasses none = evaluateRow(sheet, "Сигнал/шум,дБ............"_cp, false, held({1, 2}),
                                        held({1, 2}), NormSense::Min, 50);
    EXPECT_EQ(none.b + none.a, 0);
    EXPECT_TRUE(sheet.statLines.empty());
    EXPECT_FALSE(sheet.normFailed);
    // A class-1 row leaves the session class where it was.
    evaluateRow(sheet, "Сигнал/шум,дБ............"_cp, true, held({40, 40}), held({40, 40}),
                NormSense::Min, 28);
    EXPECT_EQ(sheet.sessionClass, 3);
}

TEST(EvaluationRowTest, ConfidenceTables) {
    const auto& f1 = confidenceTable1();
    const auto& f2 = confidenceTable2();
    const auto& f3 = confidenceTable3();
    EXPECT_EQ(f1[0], 0);
    EXPECT_EQ(f1[1], 6.5);
    EXPECT_EQ(f1[9], 2.07);
    EXPECT_EQ(f1[10], 2.01);
    EXPECT_EQ(f1[29], 1.66);
    EXPECT_EQ(f1[49], 1.56);
    EXPECT_EQ(f2[4], 1.0);
    EXPECT_EQ(f2[10], 0.6);
    EXPECT_EQ(f2[29], 0.5);
    EXPECT_EQ(f2[49], 0.45);
    for (int k = 0; k < kConfidenceFactors; ++k) {
        EXPECT_EQ(f3[k], -f2[k]);
        // F1 never below F2 beyond the first session; both never grow with k.
        if (k > 0) {
            EXPECT_GE(f1[k], f2[k]);
            EXPECT_LE(f1[k], f1[k - 1] + (k == 1 ? 7 : 0));
            EXPECT_LE(f2[k], f2[k - 1] + (k == 1 ? 4 : 0));
        }
    }
    // k = min(sessions done - 1, 49).
    EXPECT_EQ(confidenceFactors(2).f1, 6.5);
    EXPECT_EQ(confidenceFactors(1).f1, 0);
    EXPECT_EQ(confidenceFactors(100).f2, 0.45);
    EXPECT_EQ(confidenceFactors(3).f3, -1.85);
}

} // namespace
} // namespace vetlina
