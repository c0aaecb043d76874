// The evaluation of a cycle: the caption and the class text, the good-session streak and
// the early end of a cycle, and whether the statistics are enough for it.
#include "reports/Evaluation.h"

#include "CycleSeries.h"
#include "platform/Cp1251.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

using test::addValue;
using test::countSession;

// Sine signal/noise only (a min-norm of 28), both directions measured.
ScenarioEntry snrEntry(int32_t numMin, int32_t numTotal) {
    ScenarioEntry e = test::quietEntry();
    e.sinSNROn = 1;
    e.sinSNR = 28.0f;
    e.NumMin = numMin;
    e.NumTotal = numTotal;
    return e;
}

// One session: the value in both directions (counted unless missing), the session
// counted, the cycle evaluated.
CycleEvaluation session(ScenarioEntry& e, double value) {
    for (SineStats* block : {&e.sineB, &e.sineA}) {
        if (value > -900)
            countSession(*block);
        addValue(block->item(SineStats::sinSNR), value);
    }
    e.SessionsDone = e.SessionsDone.get() + 1;
    e.Calls = e.SessionsDone.get();
    return evaluateCycle(e, "12345678", "87654321");
}

struct EarlyEndCase {
    const char* name;
    int32_t numMin;
    int32_t numTotal;
    int missingSession; // a session without a valid value (0: none)
    int32_t endSession;
    bool early;
};

TEST(CycleEvaluationTest, GoodSessionStreakAndEarlyEnd) {
    const EarlyEndCase cases[] = {
        // The streak counts from session NumMin - 2 = 8: 8, 9, 10, and 10 valid sessions.
        {"StreakFromSessionEight", 10, 20, 0, 10, true},
        // Session 9 without a value keeps its class but not its count: 10 valid at 11.
        {"TenValidSessionsNeeded", 10, 20, 9, 11, true},
        // Below 4 the minimum is 3 sessions: session 1 has no class, 2..4 are class 1.
        {"SmallMinimum", 3, 20, 0, 4, true},
        // A streak that would end the cycle at its last planned session ends it as planned.
        {"PlannedEnd", 3, 3, 0, 3, false},
    };
    for (const EarlyEndCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScenarioEntry e = snrEntry(c.numMin, c.numTotal);
        CycleEvaluation last;
        int32_t done = 0;
        while (done < c.numTotal) {
            ++done;
            last = session(e, done == c.missingSession ? -999.0 : 40.0);
            EXPECT_EQ(last.sessionClass, done == 1 ? 0 : 1);
            EXPECT_EQ(e.EvalCounterB.get(), last.sessionClass);
            // The streak: class-1 sessions from session NumMin - 2 on.
            const int32_t from = std::max(2, c.numMin - 2);
            EXPECT_EQ(e.EvalCounterA.get(), done >= from ? done - from + 1 : 0);
            if (last.finished)
                break;
        }
        EXPECT_EQ(done, c.endSession);
        EXPECT_TRUE(last.finished);
        EXPECT_EQ(last.earlyEnd, c.early);
        EXPECT_EQ(e.Finished, c.early ? 1 : 0);
        const std::string tail = c.early ? " - досрочное выполнение" : " - цикл выполнен";
        EXPECT_EQ(toUtf8(last.caption), "Сеанс " + std::to_string(done) + " (из " +
                                            std::to_string(c.numTotal) + "): класс 1" + tail);
    }
}

TEST(CycleEvaluationTest, CaptionCallLineAndClassText) {
    ScenarioEntry e = snrEntry(3, 15);
    e.FailNUS = 2;
    const CycleEvaluation first = session(e, 40.0);
    // The first session of a cycle shows "*".
    EXPECT_EQ(toUtf8(first.caption), "Сеанс 1 (из 15): класс *");
    ASSERT_GE(first.statLines.size(), 3u);
    EXPECT_EQ(toUtf8(first.statLines[0]),
              "Вызов 1 НУС 2 НУВ 0 Отб 0            Исх 12345678               Вх 87654321");
    EXPECT_EQ(first.parLines.size(), 1u); // the column heads only
    EXPECT_FALSE(first.normFailed);
    // A broken norm in session 2: mean 30, deviation 14.1, 30 + 14.1 x 3.5 >= 28 is class
    // 3, and the row goes to the pause window.
    const CycleEvaluation second = session(e, 20.0);
    EXPECT_EQ(toUtf8(second.caption), "Сеанс 2 (из 15): класс 3");
    EXPECT_TRUE(second.normFailed);
    ASSERT_EQ(second.parLines.size(), 2u);
    EXPECT_EQ(e.EvalCounterA.get(), 0);
    // Nothing planned: the call line alone, class 0 shown "*".
    ScenarioEntry none = test::quietEntry();
    none.NumTotal = 5;
    const CycleEvaluation empty = session(none, 40.0);
    EXPECT_EQ(empty.statLines.size(), 1u);
    EXPECT_TRUE(empty.parLines.empty());
    EXPECT_EQ(toUtf8(session(none, 40.0).caption), "Сеанс 2 (из 5): класс *");
}

TEST(CycleEvaluationTest, EnoughStatisticsCountsNormedPlannedGroups) {
    ScenarioEntry e = snrEntry(4, 20);
    e.sineB.count = 4;
    e.sineA.count = 3;
    EXPECT_FALSE(enoughStatistics(e)); // block A of a far complex counts too
    e.ComplexType = kGeneratorComplexType;
    EXPECT_TRUE(enoughStatistics(e)); // an autonomous generator measures nothing
    e.ComplexType = kFullComplexType;
    e.sinSNR = -999.0f;
    EXPECT_TRUE(enoughStatistics(e)); // no normed parameter in the group
    e.sinSNR = 28.0f;
    e.Analog = 0;
    EXPECT_TRUE(enoughStatistics(e));
    e.Analog = 1;
    e.sineA.count = 4;
    EXPECT_TRUE(enoughStatistics(e));
    // O.42: a product counts as normed when its norm is not 0.
    e.o42Dis2On = 1;
    e.o42Dis2 = 0.0f;
    EXPECT_TRUE(enoughStatistics(e));
    e.o42Dis2 = 1.5f;
    EXPECT_FALSE(enoughStatistics(e));
    e.o42B.count = 4;
    e.o42A.count = 4;
    // Multi-frequency: only counted points (above 99.99 Hz) with a norm make it normed.
    e.mttAttOn = 1;
    for (int k = 0; k < kMttPoints; ++k)
        e.Att[k] = -999.0f;
    e.Att[0] = 1.0f;
    e.AttF[0] = 50.0f;
    EXPECT_TRUE(enoughStatistics(e));
    e.AttF[0] = 1000.0f;
    EXPECT_FALSE(enoughStatistics(e));
}

} // namespace
} // namespace vetlina
