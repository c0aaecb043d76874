// The documents of evaluated sessions: a scripted series of three sessions held against
// golden statistics, passport and summary documents written from the document formats,
// the passport's edge cases, and a full disk during a statistics entry.
#include "CycleSeries.h"
#include "FileSizeLimit.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "app/Complex.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "reports/DocumentEntries.h"
#include "reports/Evaluation.h"
#include "reports/Passport.h"
#include "scenario/Scenario.h"
#include "ui/RunMessages.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using test::addValue;
using test::countSession;

DateTime at(int h, int m, int s) {
    return *encodeDateTime({2024, 3, 1, h, m, s, 0});
}

// A golden document: UTF-8 in the source tree, cp1251 on disk.
std::string golden(const std::string& name) {
    const auto text =
        readWholeFile(std::string(VETLINA_SOURCE_DIR) + "/tests/unit/reports/golden/" + name);
    EXPECT_TRUE(text.has_value()) << name;
    return text ? toCp1251(*text) : std::string();
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class NoWorkers : public WorkerFactory {
public:
    std::unique_ptr<AnalyzerThread> createAnalyzer(RunContext&) override { return nullptr; }
    std::unique_ptr<ModemThread> createModem(RunContext&, ModemRole) override { return nullptr; }
};

// The series: sine "Помехи и перерывы, % сек." (max 30), O.132 signal/noise (min 28) and
// phase jitter (max 15), the attenuation response at 1000, 1800 and 2400 Hz (max 1, 2, 3).
ScenarioEntry seriesEntry() {
    ScenarioEntry e = test::quietEntry();
    for (auto* time : {&e.O131Time, &e.BlkTime, &e.EchoTime, &e.ImpTime, &e.O42Time})
        *time = 0.0;
    setText(e.Id, "87654321");
    setText(e.Number, "84951001");
    e.SeriesTime = at(10, 0, 0);
    e.NumMin = 3;
    e.NumTotal = 3;
    e.sinSumPrcOn = 1;
    e.sinSumPrc = 30.0f;
    e.o132SNROn = 1;
    e.o132SNR = 28.0f;
    e.o132JitPhOn = 1;
    e.o132JitPh = 15.0f;
    e.mttAttOn = 1;
    for (int k = 0; k < kMttPoints; ++k) {
        e.AttF[k] = 0.0f;
        e.Att[k] = -999.0f;
    }
    e.AttF[0] = 1000.0f;
    e.Att[0] = 1.0f;
    e.AttF[1] = 1800.0f;
    e.Att[1] = 2.0f;
    e.AttF[2] = 2400.0f;
    e.Att[2] = 3.0f;
    return e;
}

// The measured values of one session of the series, in B (measured at the caller) and A.
struct SessionValues {
    double sumPrcB, snrB, jitterA, att1800B;
};
const SessionValues kSeries[] = {{1, 40, 12, 1.0}, {3, 42, 16, 1.5}, {2, 41, 14, 2.0}};

void putSession(ScenarioEntry& e, const SessionValues& v) {
    for (auto* b : {&e.sineB, &e.sineA})
        countSession(*b);
    addValue(e.sineB.item(SineStats::level), -10);
    addValue(e.sineA.item(SineStats::level), -11);
    addValue(e.sineB.item(SineStats::frequency), 1800);
    addValue(e.sineA.item(SineStats::frequency), 1800);
    addValue(e.sineB.item(SineStats::sinSumPrc), v.sumPrcB);
    addValue(e.sineA.item(SineStats::sinSumPrc), 0);
    for (auto* b : {&e.o132B, &e.o132A}) {
        countSession(*b);
        addValue(b->item(O132Stats::level), -10);
        addValue(b->item(O132Stats::frequency), 1020);
    }
    addValue(e.o132B.item(O132Stats::o132SNR), v.snrB);
    addValue(e.o132A.item(O132Stats::o132SNR), 35);
    addValue(e.o132B.item(O132Stats::o132JitPh), 5);
    addValue(e.o132A.item(O132Stats::o132JitPh), v.jitterA);
    for (auto* b : {&e.mttB, &e.mttA}) {
        countSession(*b);
        addValue(b->level(), -10);
        addValue(b->mttAtt(0), 0.5);
        addValue(b->mttAtt(2), 2.5);
    }
    addValue(e.mttB.mttAtt(1), v.att1800B);
    addValue(e.mttA.mttAtt(1), 1.0);
    e.SessionsDone = e.SessionsDone.get() + 1;
}

class SessionDocumentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        cwd_ = std::make_unique<test::CurrentDirectory>(folder_.path());
        folder_.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\n");
        complex_ = std::make_unique<Complex>(ui_.bridge, workers_, scenario_, "12345678");
        setCurrentComplex(complex_.get());
        complex_->create(ModemRole::Calling, "start"_cp);
        ASSERT_TRUE(complex_->statisticsStream.isOpen());
        setFieldText(complex_->ownUser, "Связьтест"_cp);
        setFieldText(complex_->ownAts, "АТСЭ"_cp);
        setFieldText(complex_->ownCity, "Тверь"_cp);
        meet("87654321", "АТСК", "Связь", "Клин");
    }
    void TearDown() override {
        complex_.reset();
        setCurrentComplex(nullptr);
        setNowForTesting(systemLocalNow());
    }
    // The far complex of the next session, as the session dialogue receives it.
    void meet(const char* ident, const char* ats, const char* user, const char* city) {
        setFieldText(complex_->peerIdent, ident);
        setFieldText(complex_->peerAts, toCp1251(ats));
        setFieldText(complex_->peerUser, toCp1251(user));
        setFieldText(complex_->peerCity, toCp1251(city));
        complex_->statisticsHeaderDue = true;
    }
    bool evaluate(ScenarioEntry& e, DateTime when) {
        setNowForTesting(when);
        bool normFailed = true;
        evaluateSession(*complex_, e, true, normFailed);
        return normFailed;
    }
    std::string document(const char* name) const {
        return readWholeFile(std::string("Prot/") + name).value_or("");
    }
    // Plays the series of three sessions; the broken-norm flag after each.
    void playSeries(ScenarioEntry& e) {
        const int calls[] = {1, 2, 5};
        const bool broken[] = {false, true, false};
        for (int s = 0; s < 3; ++s) {
            SCOPED_TRACE(s + 1);
            e.Calls = calls[s];
            if (s == 2) {
                e.FailNUS = 1;
                e.FailOtb = 1;
            }
            putSession(e, kSeries[s]);
            EXPECT_EQ(evaluate(e, at(10, 5 + 10 * s, 0)), broken[s]);
        }
    }

    test::TempFolder folder_;
    std::unique_ptr<test::CurrentDirectory> cwd_;
    test::TestUi ui_;
    NoWorkers workers_;
    Scenario scenario_;
    std::unique_ptr<Complex> complex_;
};

// With and without "Сохранять статистику сеансов".
class GoldenSeriesTest : public SessionDocumentsTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(SessionStatistics, GoldenSeriesTest, ::testing::Values(false, true));

TEST_P(GoldenSeriesTest, SeriesWritesTheGoldenDocuments) {
    {
        const bool keep = GetParam();
        ui_.models.options.saveStatistics = keep;
        ScenarioEntry e = seriesEntry();
        playSeries(e);
        EXPECT_EQ(document("12345678/Stat.htm"),
                  golden(keep ? "Stat_kept.htm" : "Stat_replaced.htm"));
        EXPECT_EQ(document("12345678/Pasp.htm"), golden("Pasp.htm"));
        // The windows show the last session; the pause window's list had the broken
        // jitter in session 2 and is back to the column heads.
        EXPECT_EQ(toUtf8(ui_.models.statistics.caption), "Сеанс 3 (из 3): класс 3 - цикл выполнен");
        EXPECT_EQ(ui_.models.statistics.lines.size(), 16u);
        EXPECT_EQ(ui_.models.pause.parameters.size(), 1u);
        // The protocol: the caption as an event line, then the links in their order.
        EXPECT_NE(document("12345678/Prot.htm")
                      .find("Сеанс 3 (из 3): класс 3 - цикл выполнен\r\n"
                            " <a href=\"Stat.htm#01032024102500\">Статистика</a>\r\n"
                            " <a href=\"Pasp.htm#01032024102500\">Паспорт</a>\r\n"_cp),
                  std::string::npos);
        EXPECT_EQ(occurrences(document("12345678/Prot.htm"), "Паспорт</a>"_cp), 1u);

        // A second far complex: a cycle of one session adds the second summary row.
        ScenarioEntry other = seriesEntry();
        setText(other.Id, "11223344");
        setText(other.Number, "84962002");
        other.SeriesTime = at(10, 50, 0);
        other.NumTotal = 1;
        other.Calls = 1;
        meet("11223344", "АТСД", "Дубна-связь", "Дубна");
        putSession(other, kSeries[0]);
        EXPECT_FALSE(evaluate(other, at(11, 0, 0)));
        EXPECT_EQ(document("PaspTabl.htm"), golden("PaspTabl.htm"));
    }
}

TEST_F(SessionDocumentsTest, PassportPointsAndConditions) {
    // A point counts for 1000 (1020) Hz strictly within 1 Hz; the worse class counts.
    struct PointCase {
        float frequency;
        bool counts;
    };
    for (PointCase c : {PointCase{999.01f, true}, PointCase{1001.0f, false},
                        PointCase{1020.9f, true}, PointCase{1019.0f, false}}) {
        SCOPED_TRACE(c.frequency);
        ScenarioEntry e = seriesEntry();
        e.AttF[1] = c.frequency; // the point of class 3 in B
        putSession(e, kSeries[0]);
        putSession(e, kSeries[1]);
        const CycleEvaluation result = evaluateCycle(e, "12345678", "87654321");
        EXPECT_EQ(result.passport.attenuation.b, c.counts ? 3 : 1);
        EXPECT_EQ(result.passport.afc1800.b, 0);
    }

    // No point near 2400 Hz: "&nbsp" both ways, the electrical class unchanged.
    ScenarioEntry e = seriesEntry();
    ScenarioEntry without = seriesEntry();
    without.AttF[2] = 2500.0f;
    for (int s = 0; s < 3; ++s) {
        putSession(e, kSeries[s]);
        putSession(without, kSeries[s]);
    }
    const CycleEvaluation full = evaluateCycle(e, "1", "2");
    const CycleEvaluation missing = evaluateCycle(without, "1", "2");
    EXPECT_EQ(missing.passport.afc2400.b + missing.passport.afc2400.a, 0);
    EXPECT_EQ(missing.passport.electrical().b, full.passport.electrical().b);
    EXPECT_EQ(missing.passport.electrical().a, full.passport.electrical().a);
    PassportFacts facts;
    facts.classes = missing.passport;
    EXPECT_EQ(passportLines(facts)[23], "<tr align=center><td>&nbsp</td><td>&nbsp</td>");
    EXPECT_EQ(passportLines(facts).size(), 33u);

    // The conditions of a passport.
    EXPECT_TRUE(passportDue(seriesEntry()));
    ScenarioEntry noJitter = seriesEntry();
    noJitter.o132JitPhOn = 0;
    EXPECT_FALSE(passportDue(noJitter));
    ScenarioEntry shortSine = seriesEntry();
    shortSine.SinTime = 0.5;
    EXPECT_FALSE(passportDue(shortSine));
    shortSine.ComplexType = kGeneratorComplexType; // an autonomous generator's programme is fixed
    EXPECT_TRUE(passportDue(shortSine));
}

TEST_F(SessionDocumentsTest, NoPassportWithoutPhaseJitterAndOneClosingTable) {
    const std::string passportsBefore = document("12345678/Pasp.htm");
    const std::string summaryBefore = document("PaspTabl.htm");
    // A cycle that ends early without O.132 phase jitter: no passport, no row, no link.
    ScenarioEntry early = seriesEntry();
    early.o132JitPhOn = 0;
    early.NumTotal = 10;
    early.NumMin = 1;
    for (int s = 0; s < 10 && early.Finished == 0; ++s) {
        putSession(early, kSeries[0]);
        evaluate(early, at(9, s, 0));
    }
    ASSERT_EQ(early.Finished, 1);
    ASSERT_LT(early.SessionsDone.get(), 10);
    EXPECT_EQ(document("12345678/Pasp.htm"), passportsBefore);
    EXPECT_EQ(document("PaspTabl.htm"), summaryBefore);
    EXPECT_EQ(document("12345678/Prot.htm").find("Pasp.htm#"), std::string::npos);

    // Three passports: the head, three rows and one closing "</table>" at the end.
    for (int cycle = 0; cycle < 3; ++cycle) {
        ScenarioEntry e = seriesEntry();
        e.NumTotal = 1;
        putSession(e, kSeries[0]);
        evaluate(e, at(11, cycle, 0));
    }
    const std::string summary = document("PaspTabl.htm");
    EXPECT_EQ(summary.substr(0, summaryBefore.size() - 8),
              summaryBefore.substr(0, summaryBefore.size() - 8));
    EXPECT_EQ(occurrences(summary, "<tr align=center><td align=left nowrap>"), 3u);
    EXPECT_EQ(occurrences(summary, "</table>"), 1u);
    EXPECT_EQ(summary.substr(summary.size() - 8), "</table>");
    EXPECT_EQ(occurrences(document("12345678/Pasp.htm"), "<div class=\"pasport\">"), 3u);
}

TEST_F(SessionDocumentsTest, FullDiskDuringStatisticsEntryLeavesNoTornEntry) {
    const std::string before = document("12345678/Stat.htm");
    ScenarioEntry e = seriesEntry();
    putSession(e, kSeries[0]);
    {
        // Room for the protocol's lines, not for the statistics table.
        const auto protocolSize = document("12345678/Prot.htm").size();
        test::FileSizeLimit limit(std::max(protocolSize, before.size()) + 600);
        evaluate(e, at(10, 5, 0));
    }
    EXPECT_EQ(document("12345678/Stat.htm"), before);
    EXPECT_TRUE(complex_->statisticsHeaderDue);
    const auto dialogs = ui_.dialogs.seen();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].title, "Ошибка");
    EXPECT_EQ(dialogs[0].text, "Невозможна запись в файл статистики");
    EXPECT_EQ(toUtf8(ui_.models.run.stateLabel), "10:05:00 Невозможна запись в файл статистики");
    const auto messages = ui_.takeMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), MSG_RUN_END), messages.end());
    // The protocol kept recording: the caption, the link and the failure.
    const std::string protocol = document("12345678/Prot.htm");
    EXPECT_NE(protocol.find("Сеанс 1 (из 3): класс *\r\n <a href=\"Stat.htm#01032024100500\">"_cp),
              std::string::npos);
    EXPECT_NE(protocol.find("10:05:00 Невозможна запись в файл статистики\r\n"_cp),
              std::string::npos);
}

TEST_F(SessionDocumentsTest, FullDiskDuringSummaryRowKeepsTheTableClosed) {
    // Three earlier passports make the summary table the largest document.
    for (int cycle = 0; cycle < 3; ++cycle) {
        ScenarioEntry e = seriesEntry();
        e.NumTotal = 1;
        putSession(e, kSeries[0]);
        evaluate(e, at(11, cycle, 0));
    }
    const std::string summary = document("PaspTabl.htm");
    const std::string passports = document("12345678/Pasp.htm");
    ASSERT_GT(summary.size(), document("12345678/Stat.htm").size() + 300);
    ScenarioEntry e = seriesEntry();
    e.NumTotal = 1;
    putSession(e, kSeries[0]);
    {
        test::FileSizeLimit limit(summary.size() + 100);
        evaluate(e, at(12, 0, 0));
    }
    EXPECT_EQ(document("PaspTabl.htm"), summary);
    EXPECT_EQ(document("12345678/Pasp.htm"), passports);
    const auto dialogs = ui_.dialogs.seen();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, "Невозможна запись в сводную таблицу результатов измерений");
    // The statistics entry before it stands; no link to a passport that was not written.
    EXPECT_NE(document("12345678/Stat.htm").find("<a name=\"01032024120000\"></a>"),
              std::string::npos);
    EXPECT_EQ(document("12345678/Prot.htm").find("Pasp.htm#01032024120000"), std::string::npos);
}

} // namespace
} // namespace vetlina
