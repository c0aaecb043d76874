#include "scenario/Scenario.h"

#include "platform/Cp1251.h"

#include <gtest/gtest.h>
#include <limits>

namespace vetlina {
namespace {

constexpr DateTime kDay = 45000.0;

Scenario makeScenario() {
    return Scenario(defaultEntry(kDay + 0.25));
}

std::vector<std::string> lines(const Scenario& s) {
    std::vector<std::string> out;
    for (int i = 0; i < s.count(); ++i)
        out.push_back(s.listLine(i));
    return out;
}

// Lifts the allocation limit again whatever the test does.
struct EntryLimitGuard {
    ~EntryLimitGuard() { setEntryLimitForTesting(std::numeric_limits<std::size_t>::max()); }
};

TEST(ScenarioList, AppendCopiesEveryByteOfTheCurrentEntryButIdAndNumber) {
    Scenario s = makeScenario();
    ASSERT_TRUE(s.append("11111111", "101"));
    ScenarioEntry& first = s.current();
    first.sinSNR = 33.0f;
    setText(first.AT, "&F&C1");
    first.SessionsDone = 7;
    first.Finished = 1;
    first.sineA.sinSNRLast = 29.5f;
    first.o42B.count = 4;
    setText(first.Number, "101"); // Number padding must not leak into the copy

    ASSERT_TRUE(s.append("22222222", "2"));
    EXPECT_EQ(s.currentIndex(), 1);
    const ScenarioEntry& copy = s.entry(1);
    EXPECT_EQ(textOf(copy.Id), "22222222");
    EXPECT_EQ(textOf(copy.Number), "2");
    for (std::size_t i = 1; i < sizeof copy.Number; ++i)
        EXPECT_EQ(copy.Number[i], 0) << i;
    EXPECT_EQ(std::memcmp(bytesOf(copy) + 42, bytesOf(s.entry(0)) + 42, kEntrySize - 42), 0);
    EXPECT_EQ(copy.SessionsDone, 7);
    EXPECT_EQ(copy.sineA.sinSNRLast.get(), 29.5f);
}

TEST(ScenarioList, AppendWithNoLineSelectedStartsFromTheDefaultEntry) {
    Scenario s = makeScenario();
    s.defaultEntry().NumTotal = 42;
    ASSERT_TRUE(s.append("12345678", "55"));
    EXPECT_EQ(s.entry(0).NumTotal, 42);
    EXPECT_EQ(s.count(), 1);
    EXPECT_EQ(s.listLine(0), "12345678 # 55");
}

TEST(ScenarioList, AppendKeepsTheSortOrderWhileSorted) {
    Scenario s = makeScenario();
    s.append("30000000", "1");
    s.append("10000000", "1");
    s.setSortedById(true);
    EXPECT_EQ(lines(s), (std::vector<std::string>{"10000000 # 1", "30000000 # 1"}));
    ASSERT_TRUE(s.append("20000000", "9"));
    EXPECT_EQ(s.currentIndex(), 1);
    ASSERT_TRUE(s.append("20000000", "1"));
    EXPECT_EQ(s.currentIndex(), 1);
    EXPECT_EQ(lines(s), (std::vector<std::string>{"10000000 # 1", "20000000 # 1", "20000000 # 9",
                                                  "30000000 # 1"}));
    s.setSortedById(false);
    s.append("00000000", "1");
    EXPECT_EQ(s.listLine(4), "00000000 # 1");
}

TEST(ScenarioList, AppendFailsWithoutMemoryAndChangesNothing) {
    EntryLimitGuard guard;
    Scenario s = makeScenario();
    ASSERT_TRUE(s.append("11111111", "1"));
    s.select(-1);
    setEntryLimitForTesting(1); // growing to two records fails
    EXPECT_FALSE(s.append("22222222", "2"));
    EXPECT_EQ(s.count(), 1);
    EXPECT_EQ(s.currentIndex(), -1);
    EXPECT_EQ(s.listLine(0), "11111111 # 1");
    EXPECT_EQ(toUtf8(noMemoryToGrowText()), "Нет памяти для расширения сценария");
}

TEST(ScenarioList, RemoveSelectsTheFollowingOrTheLastEntry) {
    Scenario s = makeScenario();
    for (const char* id : {"1", "2", "3"})
        s.append(id, "0");
    s.remove(1);
    EXPECT_EQ(lines(s), (std::vector<std::string>{"1 # 0", "3 # 0"}));
    EXPECT_EQ(s.currentIndex(), 1);
    s.remove(1);
    EXPECT_EQ(s.currentIndex(), 0);
    s.remove(0);
    EXPECT_EQ(s.count(), 0);
    EXPECT_EQ(s.currentIndex(), -1);
    s.remove(0); // nothing to remove
    EXPECT_EQ(s.count(), 0);
}

TEST(ScenarioList, SelectOutsideTheListSelectsTheDefaultEntry) {
    Scenario s = makeScenario();
    s.append("1", "0");
    s.select(0);
    EXPECT_EQ(&s.current(), &s.entry(0));
    s.select(5);
    EXPECT_EQ(&s.current(), &s.defaultEntry());
    EXPECT_FALSE(s.lineSelected());
}

TEST(ScenarioSort, SortByStartOrdersByBegTimeAndFollowsTheSelection) {
    Scenario s = makeScenario();
    const double starts[] = {kDay + 3, kDay + 1, std::numeric_limits<double>::quiet_NaN(), kDay + 2,
                             kDay + 0.5};
    const char* ids[] = {"c", "a", "nan", "b", "first"};
    for (int i = 0; i < 5; ++i) {
        s.append(ids[i], "0");
        s.current().BegTime = starts[i];
    }
    s.select(0); // "c"
    s.sortByStart();
    EXPECT_EQ(lines(s),
              (std::vector<std::string>{"first # 0", "a # 0", "b # 0", "c # 0", "nan # 0"}));
    EXPECT_EQ(s.currentIndex(), 3);
    EXPECT_EQ(textOf(s.current().Id), "c");
}

TEST(ScenarioSort, SortByIdComparesBytesAsUnsigned) {
    Scenario s = makeScenario();
    // Cyrillic letters are bytes above 127: they sort after the digits.
    s.append("Я"_cp, "1");
    s.append("12345678", "9");
    s.append("12345678", "10");
    s.append("1234567", "5");
    s.sortById();
    std::vector<std::string> expected = {"1234567 # 5", "12345678 # 10", "12345678 # 9",
                                         "Я # 1"_cp};
    EXPECT_EQ(lines(s), expected);
}

TEST(ScenarioSort, LargePermutationKeepsEveryRecordIntact) {
    Scenario s = makeScenario();
    for (int i = 0; i < 200; ++i) {
        std::string id = std::to_string((i * 37) % 200);
        s.append(id, "0");
        s.current().BegTime = kDay + (i * 37) % 200;
        s.current().SessionsDone = (i * 37) % 200;
    }
    s.sortByStart();
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(s.entry(i).SessionsDone, i);
        EXPECT_EQ(textOf(s.entry(i).Id), std::to_string(i));
    }
}

TEST(ScenarioEditing, MarkModifiedRestartsTheSeriesOfTheCurrentEntry) {
    Scenario s = makeScenario();
    s.append("1", "0");
    ScenarioEntry& e = s.current();
    e.Finished = 1;
    e.SessionsDone = 5;
    e.Calls = 9;
    e.FailNUS = 2;
    s.markModified();
    EXPECT_TRUE(s.modified());
    EXPECT_EQ(e.Finished, 0);
    EXPECT_EQ(e.SessionsDone, 0);
    EXPECT_EQ(e.Calls, 0);
    EXPECT_EQ(e.FailNUS, 2); // the outcome counts stay
}

TEST(ScenarioEditing, ClearKeepsTheShownSettingsForTheNextComplex) {
    Scenario s = makeScenario();
    s.append("1", "0");
    s.current().SinFreq = 1020;
    s.current().SessionsDone = 3;
    s.clear();
    EXPECT_EQ(s.count(), 0);
    EXPECT_FALSE(s.lineSelected());
    EXPECT_EQ(s.current().SinFreq, 1020);
    EXPECT_EQ(s.defaultEntry().SessionsDone, 0); // settings only, no progress
    s.append("2", "0");
    EXPECT_EQ(s.entry(0).SinFreq, 1020);
}

} // namespace
} // namespace vetlina
