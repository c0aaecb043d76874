// The run as the run window drives it: the three start modes with their entry
// preparation, message 1438, the operator's end of work with its closing lines, and
// the teardown.
#include "app/Run.h"

#include "TempFolder.h"
#include "TestUi.h"
#include "WorkerDoubles.h"
#include "app/StartModes.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "scenario/Scenario.h"
#include "scenario/ScenarioFiles.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

const DateTime kBegin = *encodeDateTime({2024, 3, 1, 8, 0, 0, 0});

class RunTest : public ::testing::Test {
protected:
    RunTest() : cwd_(folder_.path()), factory_(log_), scenario_(defaultEntry(kBegin)) {
        folder_.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\n");
        setTimeScaleForTesting(1.0);
        run_.ended = [this](RunEnd how) { ends_.push_back(how); };
    }
    ~RunTest() override {
        run_.ended = nullptr;
        setCurrentEntry(nullptr);
    }

    // Two answering complexes with a series under way: progress, counters and statistics.
    void fillScenario() {
        scenario_.setFileName("SCN/demo.scn");
        for (const char* id : {"00000201", "00000202"}) {
            ASSERT_TRUE(scenario_.append(id, "201"));
            ScenarioEntry& e = scenario_.current();
            e.BegTime = kBegin + 1.0;
            e.NextTime = kBegin + 5.0;
            e.Finished = 1;
            e.SeriesTime = kBegin - 2.0;
            e.SessionsDone = 4;
            for (int i = 0; i < 4; ++i)
                e.RunCounters[i] = i + 1;
            e.Calls = 9;
            e.FailNUS = 1;
            e.FailNUV = 2;
            e.FailOtb = 3;
            e.EvalCounterA = 2;
            e.EvalCounterB = 3;
            e.NumTotal = 7;
            e.sineA.count = 4;
        }
    }

    std::string protocol() { return readWholeFile("Prot/12345678/Prot.htm").value_or("<none>"); }

    // The run as the modem thread leaves it in a call: calling, with the entry current.
    void inASeries(double seriesTime, ModemRole role, bool finished = false) {
        ASSERT_NE(factory_.modem, nullptr);
        factory_.modem->currentRole = role;
        scenario_.entry(0).SeriesTime = seriesTime;
        scenario_.entry(0).Finished = finished ? 1 : 0;
        setCurrentEntry(&scenario_.entry(0));
    }

    void endAt(int hour, int minute, int second) {
        setNowForTesting(*encodeDateTime({2024, 3, 1, hour, minute, second, 0}));
        run_.endWork();
    }

    test::TempFolder folder_;
    test::CurrentDirectory cwd_;
    test::TestUi ui_;
    test::WorkerLog log_;
    test::DoubleFactory factory_;
    Scenario scenario_;
    vetlina::Run run_{ui_.bridge, factory_, scenario_, "12345678"};
    std::vector<RunEnd> ends_;
};

TEST_F(RunTest, PassiveStartAnswersAndLeavesTheEntriesAlone) {
    fillScenario();
    run_.handleMessage(MSG_PASSIVE_START);
    ASSERT_TRUE(run_.active());
    EXPECT_EQ(currentComplex(), run_.complex());
    EXPECT_EQ(factory_.givenRole, ModemRole::Answering);
    EXPECT_EQ(toUtf8(ui_.models.run.caption), "ЛИРС 12345678");
    EXPECT_EQ(toUtf8(ui_.models.run.stateLabel), "Пассивный старт");
    EXPECT_THAT(toUtf8(protocol()), EndsWith(" Пассивный старт"));
    const ScenarioEntry& e = scenario_.entry(1);
    EXPECT_EQ(static_cast<double>(e.NextTime), kBegin + 5.0);
    EXPECT_EQ(e.Finished, 1);
    EXPECT_EQ(static_cast<int32_t>(e.RunCounters[2]), 3);
    EXPECT_EQ(static_cast<int32_t>(e.Calls), 9);
}

TEST_F(RunTest, ActiveStartBeginsEverySeriesAnew) {
    fillScenario();
    run_.handleMessage(MSG_ACTIVE_START);
    ASSERT_TRUE(run_.active());
    EXPECT_EQ(factory_.givenRole, ModemRole::Calling);
    EXPECT_EQ(toUtf8(ui_.models.run.stateLabel), "Активный старт, отработка сценария demo.scn");
    for (int i = 0; i < 2; ++i) {
        const ScenarioEntry& e = scenario_.entry(i);
        EXPECT_EQ(static_cast<double>(e.NextTime), kBegin + 1.0);
        EXPECT_EQ(e.Finished, 0);
        EXPECT_EQ(static_cast<double>(e.SeriesTime), 0.0);
        EXPECT_EQ(static_cast<int32_t>(e.SessionsDone), 0);
        for (const auto& counter : e.RunCounters)
            EXPECT_EQ(static_cast<int32_t>(counter), 0);
        EXPECT_EQ(static_cast<int32_t>(e.Calls), 0);
        EXPECT_EQ(static_cast<int32_t>(e.FailNUS), 0);
        EXPECT_EQ(static_cast<int32_t>(e.FailNUV), 0);
        EXPECT_EQ(static_cast<int32_t>(e.FailOtb), 0);
        EXPECT_EQ(static_cast<int32_t>(e.EvalCounterA), 0);
        EXPECT_EQ(static_cast<int32_t>(e.EvalCounterB), 0);
        // Settings and the statistics area are not the start's business.
        EXPECT_EQ(static_cast<int32_t>(e.NumTotal), 7);
        EXPECT_EQ(static_cast<int32_t>(e.sineA.count), 4);
    }
    EXPECT_EQ(textOf(scenario_.entry(1).Id), "00000202");
}

TEST_F(RunTest, ActiveRestartContinuesTheSeries) {
    fillScenario();
    run_.handleMessage(MSG_ACTIVE_RESTART);
    ASSERT_TRUE(run_.active());
    EXPECT_EQ(factory_.givenRole, ModemRole::Calling);
    EXPECT_EQ(toUtf8(ui_.models.run.stateLabel), "Активный рестарт, отработка сценария demo.scn");
    const ScenarioEntry& e = scenario_.entry(0);
    EXPECT_EQ(static_cast<double>(e.NextTime), kBegin + 1.0);
    for (const auto& counter : e.RunCounters)
        EXPECT_EQ(static_cast<int32_t>(counter), 0);
    EXPECT_EQ(e.Finished, 1);
    EXPECT_EQ(static_cast<double>(e.SeriesTime), kBegin - 2.0);
    EXPECT_EQ(static_cast<int32_t>(e.SessionsDone), 4);
    EXPECT_EQ(static_cast<int32_t>(e.Calls), 9);
    EXPECT_EQ(static_cast<int32_t>(e.FailOtb), 3);
    EXPECT_EQ(static_cast<int32_t>(e.EvalCounterA), 2);
    EXPECT_EQ(static_cast<int32_t>(e.EvalCounterB), 3);
}

TEST_F(RunTest, ThereIsNeverMoreThanOneComplex) {
    run_.handleMessage(MSG_PASSIVE_START);
    Complex* first = run_.complex();
    run_.handleMessage(MSG_ACTIVE_START);
    EXPECT_EQ(run_.complex(), first);
    auto events = log_.events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "modem created"), 1);
}

TEST_F(RunTest, EndMessageTearsDownWithoutClosingLinesAndASecondDoesNothing) {
    fillScenario();
    run_.handleMessage(MSG_PASSIVE_START);
    ui_.bridge.serveUntil([&] { return log_.events().size() >= 4; });
    std::string before = protocol();
    ui_.bridge.post(MSG_RUN_END); // a second failing writer's message, still queued
    run_.handleMessage(MSG_RUN_END);
    EXPECT_FALSE(run_.active());
    EXPECT_EQ(currentComplex(), nullptr);
    EXPECT_EQ(currentEntry(), &scenario_.entry(0));
    EXPECT_THAT(ends_, ElementsAre(RunEnd::Message));
    EXPECT_EQ(protocol(), before);
    EXPECT_EQ(test::checkLifecycle(log_.events(), {"analyzer", "modem"}, false), "");
    EXPECT_TRUE(ui_.takeMessages().empty()) << "the stale end message is dropped";
    run_.handleMessage(MSG_RUN_END);
    EXPECT_THAT(ends_, ElementsAre(RunEnd::Message));
}

TEST_F(RunTest, WithoutEntriesTheCurrentEntryBecomesAnEmptyPlaceholder) {
    run_.handleMessage(MSG_PASSIVE_START);
    run_.handleMessage(MSG_RUN_END);
    ASSERT_NE(currentEntry(), nullptr);
    EXPECT_EQ(textOf(currentEntry()->Id), "");
    EXPECT_EQ(static_cast<double>(currentEntry()->SeriesTime), 0.0);
}

TEST_F(RunTest, FailedCreationReturnsToIdleThroughTheEndMessage) {
    factory_.failAnalyzer = true;
    run_.handleMessage(MSG_PASSIVE_START);
    auto messages = ui_.takeMessages();
    ASSERT_FALSE(messages.empty());
    for (auto message : messages)
        run_.handleMessage(message);
    EXPECT_FALSE(run_.active());
    EXPECT_THAT(ends_, ElementsAre(RunEnd::Message));
    EXPECT_FALSE(fileExists("Prot/12345678/Prot.htm"));
    EXPECT_THAT(ui_.protocolLines(), ElementsAre("COM: analyzer failed"));
    // A new run can start after it.
    factory_.failAnalyzer = false;
    run_.handleMessage(MSG_PASSIVE_START);
    EXPECT_TRUE(run_.active());
}

TEST_F(RunTest, OperatorEndInASeriesNotesTheStopThenTheEnd) {
    fillScenario();
    run_.handleMessage(MSG_ACTIVE_START);
    inASeries(kBegin, ModemRole::CallingInCall);
    std::string before = protocol();
    endAt(12, 5, 9);
    EXPECT_EQ(toUtf8(protocol().substr(before.size())),
              "<br>12:05:09 Снято оператором\r\n<br>\r\n<br>12:05:09 Работа закончена\r\n");
    EXPECT_THAT(ui_.protocolLines(),
                ElementsAre("12:05:09 Снято оператором", "", "12:05:09 Работа закончена"));
    // The stop is on the state label; the end is not.
    EXPECT_EQ(toUtf8(ui_.models.run.stateLabel), "12:05:09 Снято оператором");
    EXPECT_THAT(ends_, ElementsAre(RunEnd::Operator));
    EXPECT_EQ(currentComplex(), nullptr);
}

TEST_F(RunTest, OperatorEndOutsideASeriesOnlyEndsTheWork) {
    struct Case {
        double seriesTime;
        ModemRole role;
        bool finished;
    };
    // No series begun; an idle answerer; a series that has ended (not cut short).
    for (auto c :
         {Case{0.0, ModemRole::Calling, false}, Case{1.0, ModemRole::Calling, false},
          Case{kBegin, ModemRole::Answering, false}, Case{kBegin, ModemRole::Calling, true}}) {
        fillScenario();
        run_.handleMessage(MSG_ACTIVE_START);
        inASeries(c.seriesTime, c.role, c.finished);
        std::string before = protocol();
        endAt(12, 5, 9);
        EXPECT_EQ(toUtf8(protocol().substr(before.size())),
                  "<br>\r\n<br>12:05:09 Работа закончена\r\n")
            << "series " << c.seriesTime << " role " << static_cast<int>(c.role);
        scenario_.clear();
    }
}

// The scenario file is rewritten after each session; an active run that ends (the
// operator's end or message 1438) keeps the calls it made since then, with their
// outcome counters. A run that made no call, and a passive run, leave the file alone.
TEST_F(RunTest, AnActiveRunThatEndsKeepsItsCallsInTheScenarioFile) {
    struct Case {
        RunMessage start;
        int newCalls;
        bool byEndMessage;
        bool saved;
    };
    for (auto c :
         {Case{MSG_ACTIVE_START, 2, false, true}, Case{MSG_ACTIVE_RESTART, 1, true, true},
          Case{MSG_ACTIVE_START, 0, false, false}, Case{MSG_PASSIVE_START, 1, false, false}}) {
        std::filesystem::remove_all("SCN");
        std::filesystem::create_directories("SCN");
        fillScenario();
        run_.handleMessage(c.start);
        ScenarioEntry& e = scenario_.entry(0);
        e.Calls = e.Calls + c.newCalls;
        e.FailNUV = e.FailNUV + c.newCalls;
        int32_t calls = e.Calls;
        if (c.byEndMessage)
            run_.handleMessage(MSG_RUN_END);
        else
            run_.endWork();
        EntryArray saved;
        bool exists = std::filesystem::exists("SCN/demo.scn");
        EXPECT_EQ(exists, c.saved) << "calls " << c.newCalls;
        if (exists) {
            ASSERT_EQ(readScenarioFile("SCN/demo.scn", saved).status, FileStatus::Ok);
            ASSERT_EQ(saved.size(), 2u);
            EXPECT_EQ(static_cast<int32_t>(saved[0].Calls), calls);
            EXPECT_EQ(static_cast<int32_t>(saved[0].FailNUV), static_cast<int32_t>(e.FailNUV));
        }
        scenario_.clear();
    }
}

// A scenario file that cannot be written is shown to the operator once: by the save
// after a session (which ends the run), or by the save at the end of the run when no
// session came to it.
TEST_F(RunTest, AScenarioFileThatCannotBeWrittenIsShownOnce) {
    for (bool failedInASession : {true, false}) {
        fillScenario();
        scenario_.setFileName("no such folder/demo.scn");
        run_.handleMessage(MSG_ACTIVE_START);
        ASSERT_TRUE(run_.active());
        ScenarioEntry& e = scenario_.entry(0);
        e.Calls = e.Calls + 1;
        if (failedInASession) {
            EXPECT_FALSE(run_.complex()->saveProgress());
            EXPECT_THAT(ui_.takeMessages(), ElementsAre(MSG_RUN_END));
            run_.handleMessage(MSG_RUN_END);
        } else {
            run_.endWork();
        }
        EXPECT_FALSE(run_.active());
        const auto texts = ui_.dialogs.texts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "Ошибка записи файла сценария"), 1)
            << "failed in a session: " << failedInASession;
        ui_.dialogs.clear();
        scenario_.clear();
    }
}

TEST_F(RunTest, OperatorEndWithoutAModemThreadOnlyEndsTheWork) {
    factory_.makeModem = false;
    fillScenario();
    run_.handleMessage(MSG_ACTIVE_START);
    scenario_.entry(0).SeriesTime = kBegin;
    setCurrentEntry(&scenario_.entry(0));
    std::string before = protocol();
    endAt(12, 5, 9);
    EXPECT_THAT(toUtf8(protocol().substr(before.size())), Not(HasSubstr("Снято оператором")));
}

TEST_F(RunTest, CounterLinesOnlyForNonZeroCountersInTheirOrder) {
    run_.handleMessage(MSG_PASSIVE_START);
    ui_.models.setCounter(RunCounter::ZmkRecvBadBlk, 5);
    ui_.models.setCounter(RunCounter::MdmSendErr, 2);
    std::string before = protocol();
    endAt(23, 0, 1);
    EXPECT_EQ(toUtf8(protocol().substr(before.size())),
              "<br>\r\n<br>23:00:01 Работа закончена\r\n"
              "<br>23:00:01  -повторений передачи модема: 2\r\n"
              "<br>23:00:01  -сбойных блоков анализатора: 5\r\n");
}

TEST_F(RunTest, EveryCounterHasItsLine) {
    run_.handleMessage(MSG_PASSIVE_START);
    ui_.models.setCounter(RunCounter::ZmkRecvBadBlk, 1);
    ui_.models.setCounter(RunCounter::ZmkSendNotReady, 2);
    ui_.models.setCounter(RunCounter::MdmRecvErr, 3);
    ui_.models.setCounter(RunCounter::MdmSendErr, 4);
    endAt(23, 0, 1);
    EXPECT_THAT(ui_.protocolLines(), ElementsAre("", "23:00:01 Работа закончена",
                                                 "23:00:01  -повторений передачи модема: 4",
                                                 "23:00:01  -ошибок приема модема: 3",
                                                 "23:00:01  -потерь подтверждений анализатора: 2",
                                                 "23:00:01  -сбойных блоков анализатора: 1"));
}

TEST_F(RunTest, CloseQueryAnsweredNoLeavesTheRunAsItWas) {
    run_.handleMessage(MSG_PASSIVE_START);
    ui_.bridge.serveUntil([&] { return log_.events().size() >= 4; });
    std::string before = protocol();
    ui_.dialogs.answerNext(DialogAnswer::No);
    EXPECT_FALSE(run_.closeQuery());
    EXPECT_TRUE(run_.active());
    EXPECT_EQ(protocol(), before);
    EXPECT_EQ(factory_.modem->command(), ModemCommand::Idle);
    EXPECT_EQ(factory_.analyzer->command(), AnalyzerCommand::SwitchOff);
    auto seen = ui_.dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "ЛИРС");
    EXPECT_EQ(seen[0].text, "Закончить работу ?");
    EXPECT_TRUE(seen[0].question);

    ui_.dialogs.answerNext(DialogAnswer::Yes);
    EXPECT_TRUE(run_.closeQuery());
    EXPECT_FALSE(run_.active());
    EXPECT_THAT(ends_, ElementsAre(RunEnd::Operator));
}

TEST_F(RunTest, ANewRunStartsWithFreshWindows) {
    run_.handleMessage(MSG_PASSIVE_START);
    ui_.models.setCounter(RunCounter::MdmRecvErr, 3);
    ui_.models.setResultsCaption("old");
    run_.handleMessage(MSG_RUN_END);
    run_.handleMessage(MSG_PASSIVE_START);
    EXPECT_EQ(ui_.models.run.counter(RunCounter::MdmRecvErr), 0);
    EXPECT_EQ(toUtf8(ui_.models.results.caption), " Результаты");
    EXPECT_TRUE(ui_.models.protocol.lines().empty());
}

// File names on this system are UTF-8; the protocol's text is code page 1251.
TEST(StartTextTest, TheScenarioNameIsConvertedToTheCodePageOfTheProtocol) {
    const struct {
        StartMode mode;
        const char* file;
        std::string expected; // cp1251
    } cases[] = {
        {StartMode::Active, "SCN/сценарий.scn",
         "Активный старт, отработка сценария сценарий.scn"_cp},
        {StartMode::Restart, "/srv/a/SCN/Ёлка.scn",
         "Активный рестарт, отработка сценария Ёлка.scn"_cp},
        // A character the code page lacks becomes "?".
        {StartMode::Active, "SCN/漢字.scn", "Активный старт, отработка сценария ??.scn"_cp},
        // A name already in the code page is kept byte for byte.
        {StartMode::Active, "SCN/\xF1\xF6\xE5\xED.scn",
         "Активный старт, отработка сценария "_cp + "\xF1\xF6\xE5\xED.scn"},
        {StartMode::Passive, "SCN/сценарий.scn", "Пассивный старт"_cp},
    };
    for (const auto& c : cases)
        EXPECT_EQ(startText(c.mode, c.file), c.expected) << c.file;
}

} // namespace
} // namespace vetlina
