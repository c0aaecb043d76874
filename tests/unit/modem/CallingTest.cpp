// Calling and answering: the rules that follow from an entry, and the steps of the
// modem thread (run here on the test's thread) against a scripted modem.
#include "modem/Calling.h"

#include "ModemTestSupport.h"
#include "ScopedGlobals.h"
#include "modem/Modem.h"
#include "platform/Clock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;

DateTime at(int day, int hour, int minute, int second = 0) {
    return *encodeDateTime({2024, 3, day, hour, minute, second, 0});
}

TEST(CallingRules, TrunkNumbersHoldAWaitAtOrAfterTheirFirstEight) {
    EXPECT_TRUE(isTrunkNumber("8w4951234567"));
    EXPECT_TRUE(isTrunkNumber("98,w123"));
    EXPECT_TRUE(isTrunkNumber("08812w"));
    EXPECT_FALSE(isTrunkNumber("4951234567"));
    EXPECT_FALSE(isTrunkNumber("w84951234567"));
    EXPECT_FALSE(isTrunkNumber("8"));
    EXPECT_FALSE(isTrunkNumber(""));
}

TEST(CallingRules, AWindowPastMidnightIsOpenFromItsStartToItsEnd) {
    ScenarioEntry e = defaultEntry(at(1, 22, 0));
    e.BegTime = at(1, 22, 0);
    e.EndTime = at(1, 6, 0);
    e.NextTime = e.BegTime;
    EXPECT_TRUE(callWindowOpen(e, at(1, 23, 30)));
    EXPECT_TRUE(callWindowOpen(e, at(2, 5, 59, 59)));
    EXPECT_FALSE(callWindowOpen(e, at(2, 6, 0)));
    EXPECT_FALSE(callWindowOpen(e, at(2, 21, 59)));
    // Within a day: from the start up to, not including, the end.
    e.BegTime = at(1, 8, 0);
    e.EndTime = at(1, 17, 0);
    e.NextTime = e.BegTime;
    EXPECT_TRUE(callWindowOpen(e, at(3, 8, 0)));
    EXPECT_FALSE(callWindowOpen(e, at(3, 17, 0)));
    EXPECT_FALSE(callWindowOpen(e, at(3, 7, 59)));
}

TEST(CallingRules, AnEntryIsDueOnceItsTimeHasComeAndInItsWindowUnlessASeriesRuns) {
    ScenarioEntry e = defaultEntry(at(1, 8, 0));
    e.BegTime = at(1, 8, 0);
    e.EndTime = at(1, 9, 0);
    e.NextTime = e.BegTime;
    EXPECT_TRUE(entryDue(e, at(1, 8, 30)));
    EXPECT_FALSE(entryDue(e, at(1, 7, 30))); // not yet
    EXPECT_FALSE(entryDue(e, at(1, 10, 0))); // window closed
    e.SessionsDone = 2;
    EXPECT_TRUE(entryDue(e, at(1, 10, 0))); // a series goes on outside the window
    e.Finished = 1;
    EXPECT_FALSE(entryDue(e, at(1, 8, 30)));
}

// A postponement moves NextTime, not the window: the entry waits for the window of
// its own day (or of the next day) and is dialled there.
TEST(CallingRules, APostponedEntryIsDialledInItsNextWindow) {
    ScenarioEntry e = defaultEntry(at(1, 10, 0));
    e.BegTime = at(1, 10, 0);
    e.EndTime = at(1, 12, 0);
    e.NextTime = at(1, 12, 5); // postponed at 11:55 by 600 s, past the window's end
    EXPECT_FALSE(entryDue(e, at(1, 12, 5)));
    EXPECT_FALSE(entryDue(e, at(2, 9, 59)));
    EXPECT_TRUE(entryDue(e, at(2, 10, 0)));
    EXPECT_TRUE(entryDue(e, at(2, 11, 59)));
    EXPECT_FALSE(entryDue(e, at(2, 12, 0)));
    // Postponed within the window: not before the new time, up to the window's end.
    e.NextTime = at(1, 10, 40);
    EXPECT_FALSE(entryDue(e, at(1, 10, 30)));
    EXPECT_TRUE(entryDue(e, at(1, 10, 40)));

    // Past midnight, 22:00 to 06:00, postponed at 05:58 to 06:08: the window stays
    // 22:00 to 06:00 and does not open for nearly the whole day.
    e.BegTime = at(1, 22, 0);
    e.EndTime = at(1, 6, 0);
    e.NextTime = at(2, 6, 8);
    EXPECT_FALSE(entryDue(e, at(2, 6, 8)));
    EXPECT_FALSE(entryDue(e, at(2, 15, 0)));
    EXPECT_FALSE(entryDue(e, at(2, 21, 59)));
    EXPECT_TRUE(entryDue(e, at(2, 22, 0)));
    EXPECT_TRUE(entryDue(e, at(3, 5, 59)));
    EXPECT_FALSE(entryDue(e, at(3, 6, 0)));
}

TEST(CallingRules, OverviewLinesTellWhenEachEntryIsWorked) {
    ScenarioEntry e = defaultEntry(at(1, 8, 0));
    setText(e.Id, "87654321");
    e.BegTime = at(1, 8, 0);
    e.EndTime = at(1, 17, 30);
    e.NextTime = at(1, 9, 15);
    EXPECT_EQ(toUtf8(overviewLine(e, at(1, 7, 0))),
              "87654321 - начало цикла с 09:15:00 до 17:30:00");
    e.NextTime = at(2, 9, 15);
    e.EndTime = at(2, 17, 30);
    EXPECT_EQ(toUtf8(overviewLine(e, at(1, 7, 0))),
              "87654321 - начать цикла с 02.03.2024 09:15:00 до 02.03.2024 17:30:00");
    e.NextTime = e.EndTime;
    EXPECT_EQ(toUtf8(overviewLine(e, at(1, 7, 0))), "87654321 - готов к выполнению");
    e.Finished = 1;
    EXPECT_EQ(toUtf8(overviewLine(e, at(1, 7, 0))), "87654321 - цикл выполнен");
}

TEST(CallingRules, TheCallLineAndTheDialCommandCarryTheModemCommands) {
    ScenarioEntry e = defaultEntry(at(1, 8, 0));
    setText(e.Id, "87654321");
    setText(e.Number, "8w495,123");
    setText(e.AT, "x3M1");
    EXPECT_EQ(toUtf8(callText(e)), "Вызов 87654321 (x3m1) тел: 8w495,123");
    EXPECT_EQ(dialCommand(e, false), "ATX3M1D8w495,123\r\n");
    setText(e.AT, "");
    e.ComplexType = kGeneratorComplexType;
    EXPECT_EQ(toUtf8(callText(e)), "Вызов генератора 87654321 тел: 8w495,123");
    EXPECT_EQ(dialCommand(e, false), "ATD8w495,123@;\r\n");
    EXPECT_EQ(dialCommand(e, true), "ATD8w495,123;\r\n");
}

TEST(CallingRules, WaitsFromUntrustedSecondsStayInRange) {
    EXPECT_EQ(secondsToWaitMs(15), 15000);
    EXPECT_EQ(secondsToWaitMs(-5), 0);
    EXPECT_EQ(secondsToWaitMs(int64_t{1} << 40), kUnlimitedWaitMs);
}

// ---- The steps ---------------------------------------------------------------------

class CallingTest : public ::testing::Test {
protected:
    // The modem's waits for its replies follow the fake modem's steps, not the machine's
    // load: the clock moves only while both threads sleep on it (at scale 20 on the real
    // clock, a busy machine let the start-up's replies come too late now and then).
    CallingTest() {
        fake_.onSteppedClock = true;
        // The dial command's result is what the test has put in dialResult_.
        fake_.setAnswer([this](const std::string& command) -> std::string {
            if (command.rfind("ATD", 0) == 0) {
                std::lock_guard lock(mutex_);
                return dialResult_;
            }
            if (command == "ATI5")
                return "Fake modem\r\n0\r";
            return "0\r";
        });
    }

    void dialResult(const std::string& result) {
        std::lock_guard lock(mutex_);
        dialResult_ = result;
    }
    std::unique_ptr<MODEM> calling() {
        auto modem = std::make_unique<MODEM>(*room_.complex, line_.factory(), ModemRole::Calling);
        EXPECT_EQ(modem->command(), ModemCommand::ChooseAndDial);
        room_.ui.models.protocol.clear();
        return modem;
    }
    std::unique_ptr<MODEM> answering() {
        auto modem = std::make_unique<MODEM>(*room_.complex, line_.factory(), ModemRole::Answering);
        EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
        // The rest of the identification reply (its LF and the result) is not wanted.
        modem->PurgePort();
        room_.ui.models.protocol.clear();
        return modem;
    }
    // One call: choose and dial, then the outcome. Its ASSERT returns only from here, so
    // every test calls it through ASSERT_NO_FATAL_FAILURE.
    void call(MODEM& modem) {
        modem.calls().chooseAndDial();
        ASSERT_EQ(modem.command(), ModemCommand::ClassifyDialResult);
        modem.calls().classifyDialResult();
    }
    std::vector<std::string> events() {
        // The event lines without their times ("hh:nn:ss "), blank lines as "".
        std::vector<std::string> out;
        for (const auto& line : room_.ui.protocolLines())
            out.push_back(line.size() > 9 && line[2] == ':' ? line.substr(9) : line);
        return out;
    }
    int dials() {
        int n = 0;
        for (const auto& c : fake_.commands())
            n += c.rfind("ATD", 0) == 0;
        return n;
    }

    test::ScopedSteppedClock stepped_;
    test::ModemRoom room_{"[TIMES]\nHangTime=2\n"};
    test::Line line_;
    test::FakeModem fake_{line_};
    std::mutex mutex_;
    std::string dialResult_ = "7\r";
};

TEST_F(CallingTest, ABusyLocalNumberPausesFourTimesAndThenIsPostponed) {
    room_.addEntry("87654321", "1002");
    auto modem = calling();
    for (int i = 1; i <= 4; ++i) {
        ASSERT_NO_FATAL_FAILURE(call(*modem));
        EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
        EXPECT_EQ(modem->calls().waitLimit(), 15000);
        EXPECT_EQ(modem->role(), ModemRole::CallingInCall);
        // The end of the wait dials the same entry again.
        modem->SetCommand(ModemCommand::ChooseAndDial);
    }
    const DateTime before = now();
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_EQ(modem->command(), ModemCommand::ChooseAndDial);
    const ScenarioEntry& e = room_.scenario.entry(0);
    EXPECT_EQ(e.Calls, 5);
    EXPECT_EQ(e.FailNUS, 5);
    EXPECT_EQ(e.RunCounters[runcounter::Postponements], 1);
    EXPECT_EQ(e.RunCounters[runcounter::ConsecutiveNus], 0);
    EXPECT_NEAR(static_cast<double>(e.NextTime), before + 600.0 / 86400.0, 30.0 / 86400.0);
    EXPECT_GE(e.SeriesTime, 1.0); // the series began with the first call

    auto lines = events();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "НУС (занято). Пауза 15 сек"), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Вызов 87654321 тел: 1002"), 5);
    EXPECT_EQ(lines.back(), "НУС (занято). Вызов отложен до " + formatTime(e.NextTime));
    EXPECT_EQ(toUtf8(fieldText(room_.complex->peerIdent)), "87654321");
}

TEST_F(CallingTest, ATrunkNumberUsesTheTrunkAttemptsAndPause) {
    ScenarioEntry& e = room_.addEntry("87654321", "8w1002");
    e.TrunkCall = 2;
    e.TrunkPaus = 40;
    dialResult("8\r");
    auto modem = calling();
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_EQ(events().back(), "НУС (нет ответа). Пауза 40 сек");
    EXPECT_EQ(modem->calls().waitLimit(), 40000);
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_THAT(events().back(), ::testing::StartsWith("НУС (нет ответа). Вызов отложен до "));
}

TEST_F(CallingTest, ThreeCallsWithoutCarrierGiveTheEntryUp) {
    room_.addEntry("87654321", "1002");
    dialResult("3\r");
    auto modem = calling();
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_EQ(modem->command(), ModemCommand::ChooseAndDial);
    const ScenarioEntry& e = room_.scenario.entry(0);
    EXPECT_EQ(e.Finished, 1);
    EXPECT_EQ(e.FailNUV, 3);
    auto lines = events();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "НУВ (нет несущей)"), 2);
    EXPECT_EQ(lines.back(), "НУВ (нет несущей). Выполнение прекращено");
    // Nothing left to call: the complex turns to answering.
    modem->calls().chooseAndDial();
    EXPECT_EQ(modem->role(), ModemRole::Answering);
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
    EXPECT_EQ(currentEntry(), &modem->dialogue().receivedScenario());
}

TEST_F(CallingTest, NoDialToneIsNoAnswerOfTheStation) {
    ScenarioEntry& e = room_.addEntry("87654321", "1002");
    e.LocalCall = 2;
    dialResult("6\r");
    auto modem = calling();
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_EQ(events().back(), "НУС (нет ответа станции)");
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_THAT(events().back(),
                ::testing::StartsWith("НУС (нет ответа станции). Вызов отложен до "));
}

TEST_F(CallingTest, UnexpectedResultsGiveTheEntryUp) {
    room_.addEntry("87654321", "1002");
    room_.addEntry("11112222", "1003");
    auto modem = calling();
    dialResult("4\r");
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_EQ(events().back(), "Неправильная команда набора номера. Выполнение прекращено");
    EXPECT_EQ(room_.scenario.entry(0).Finished, 1);
    // "0" answers a complex's call only when something is wrong.
    dialResult("0\r");
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_EQ(events().back(), "Неправильное сообщение. Выполнение прекращено");
    EXPECT_EQ(room_.scenario.entry(1).Finished, 1);
    EXPECT_FALSE(line_.near->dtr());
}

TEST_F(CallingTest, ConnectionsLeadToTheDialogues) {
    ScenarioEntry& e = room_.addEntry("87654321", "1002");
    auto modem = calling();
    dialResult("20\r");
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_EQ(modem->command(), ModemCommand::CallerDialogue);
    e.ComplexType = kGeneratorComplexType;
    room_.ui.models.options.simpleGenerator = true;
    dialResult("0\r");
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_EQ(modem->command(), ModemCommand::GeneratorAnswered);
    EXPECT_TRUE(modem->simplifiedCall());
    EXPECT_EQ(fake_.commands().back(), "ATD1002;");
}

TEST_F(CallingTest, NoResultLineIsNoInteraction) {
    room_.addEntry("87654321", "1002");
    dialResult("");
    auto modem = calling();
    modem->calls().chooseAndDial();
    modem->calls().classifyDialResult();
    EXPECT_EQ(events().back(), "НУВ (нет сообщения о результате вызова)");
    EXPECT_EQ(room_.scenario.entry(0).FailNUV, 1);
    EXPECT_EQ(room_.scenario.entry(0).Calls, 1);
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
}

TEST_F(CallingTest, TheClockDecidesWhetherAWindowPastMidnightIsOpen) {
    ScenarioEntry& e = room_.addEntry("87654321", "1002");
    e.BegTime = at(1, 22, 0);
    e.EndTime = at(1, 6, 0);
    e.NextTime = e.BegTime;
    dialResult("7\r");
    auto modem = calling();
    struct Case {
        DateTime when;
        bool dialled;
    } cases[] = {
        {at(1, 23, 30), true}, {at(2, 5, 59), true}, {at(2, 6, 0), false}, {at(2, 21, 59), false}};
    for (const auto& c : cases) {
        setNowForTesting(c.when);
        const int before = dials();
        modem->SetCommand(ModemCommand::ChooseAndDial);
        modem->calls().chooseAndDial();
        if (c.dialled) {
            EXPECT_EQ(modem->command(), ModemCommand::ClassifyDialResult) << formatDateTime(c.when);
            EXPECT_TRUE(fake_.waitForCommand("ATD1002"));
            EXPECT_EQ(dials(), before + 1) << formatDateTime(c.when);
        } else {
            EXPECT_EQ(modem->command(), ModemCommand::WaitForCall) << formatDateTime(c.when);
            EXPECT_EQ(modem->role(), ModemRole::Calling);
            EXPECT_EQ(modem->calls().waitLimit(), 10000);
            EXPECT_EQ(dials(), before) << formatDateTime(c.when);
        }
    }
}

TEST_F(CallingTest, AnEntryOutsideItsWindowIsNotDialledBecauseItWasCurrent) {
    // At the start the first entry is current. It is closed now; the second is open.
    setNowForTesting(at(5, 10, 30));
    ScenarioEntry& closed = room_.addEntry("87654321", "1002");
    closed.BegTime = at(5, 8, 0);
    closed.EndTime = at(5, 9, 0);
    closed.NextTime = closed.BegTime;
    ScenarioEntry& open = room_.addEntry("11112222", "1003");
    open.BegTime = at(5, 10, 0);
    open.EndTime = at(5, 12, 0);
    open.NextTime = open.BegTime;
    auto modem = calling();
    ASSERT_EQ(currentEntry(), &room_.scenario.entry(0));
    modem->calls().chooseAndDial();
    EXPECT_EQ(currentEntry(), &room_.scenario.entry(1));
    EXPECT_TRUE(fake_.waitForCommand("ATD1003"));
    EXPECT_EQ(dials(), 1);
}

TEST_F(CallingTest, CallingTheOwnComplexIsWarnedOnceAtTheFirstCall) {
    room_.addEntry("12345678", "1001");
    auto modem = calling();
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    modem->SetCommand(ModemCommand::ChooseAndDial);
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    EXPECT_THAT(room_.ui.dialogs.texts(), ElementsAre(" Вызов собственного комплекса"));
    EXPECT_EQ(room_.ui.dialogs.seen()[0].title, " Предупреждение");
}

TEST_F(CallingTest, AnAnsweringComplexAnnouncesItsWaitOnceAndAnswersARing) {
    auto modem = answering();
    fake_.send("2\r");
    modem->calls().waitForCall();
    EXPECT_THAT(events(), ElementsAre("", "Жду звонка", "", "Звонок"));
    EXPECT_EQ(modem->command(), ModemCommand::RingReceived);
    EXPECT_TRUE(line_.near->dtr());

    fake_.send("2\r");
    modem->calls().ringReceived();
    EXPECT_EQ(events().back(), "Звонок");
    EXPECT_EQ(modem->command(), ModemCommand::RingReceived);
    fake_.send("20\r");
    modem->calls().ringReceived();
    EXPECT_EQ(modem->command(), ModemCommand::AnswererDialogue);

    // Waiting again after a line that holds "Зво" announces nothing new.
    modem->SetCommand(ModemCommand::WaitForCall);
    fake_.send("3\r");
    modem->calls().waitForCall();
    EXPECT_EQ(events().size(), 5u);
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
}

TEST_F(CallingTest, RingOutcomesOtherThanAConnection) {
    auto modem = answering();
    modem->SetCommand(ModemCommand::RingReceived);
    fake_.send("3\r");
    modem->calls().ringReceived();
    EXPECT_EQ(events().back(), "Неустанов взаимодействия");
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
    modem->SetCommand(ModemCommand::RingReceived);
    fake_.send("RING\r");
    modem->calls().ringReceived();
    EXPECT_EQ(events().back(), "Неправильное сообщение о соединении");
    EXPECT_FALSE(line_.near->dtr());
}

TEST_F(CallingTest, AnAnswererThatServedASessionHangsAfterHangTimeWithoutACall) {
    auto modem = answering();
    modem->dialogue().receivedScenario().SessionsDone = 3;
    modem->setRole(ModemRole::AnsweringServed);
    setFieldText(room_.complex->peerIdent, "87654321");
    modem->calls().waitForCall();
    auto lines = events();
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines.back(), "Зависание");
    EXPECT_EQ(modem->role(), ModemRole::Answering);
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
    EXPECT_EQ(modem->dialogue().receivedScenario().SessionsDone, 0);
    EXPECT_EQ(modem->dialogue().receivedScenario().Finished, 1);
    EXPECT_EQ(fieldText(room_.complex->peerIdent), "");
}

TEST_F(CallingTest, TheEndOfACallersWaitDialsTheSameEntryAgain) {
    room_.addEntry("87654321", "1002");
    auto modem = calling();
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    ASSERT_EQ(modem->command(), ModemCommand::WaitForCall);
    modem->calls().setWaitLimit(500);
    modem->calls().waitForCall();
    EXPECT_EQ(modem->command(), ModemCommand::ClassifyDialResult);
    EXPECT_TRUE(fake_.waitForCommand("ATD1002"));
    EXPECT_EQ(dials(), 2);
    // A caller between calls announces no wait of its own.
    auto lines = events();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Жду звонка"), 0);
}

TEST_F(CallingTest, ALostDialogueEndsTheCallerSideAsBrokenOff) {
    room_.addEntry("87654321", "1002");
    auto modem = calling();
    ASSERT_NO_FATAL_FAILURE(call(*modem));
    modem->dtr(true);
    fake_.connect(true);
    modem->calls().linkBrokenCaller();
    EXPECT_EQ(events().back(), "Отбой (принудительный разрыв связи)");
    EXPECT_FALSE(modem->carrier());
    modem->calls().linkBrokenCaller();
    EXPECT_EQ(events().back(), "Отбой");
    const ScenarioEntry& e = room_.scenario.entry(0);
    EXPECT_EQ(e.FailOtb, 2);
    EXPECT_EQ(e.RunCounters[runcounter::ConsecutiveOtb], 2);
    EXPECT_EQ(modem->calls().waitLimit(), 10000);
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
}

TEST_F(CallingTest, ALostDialogueOnTheAnsweringSideWaitsForTheCarrierToGo) {
    auto modem = answering();
    modem->SetCommand(ModemCommand::AnswererDialogue);
    modem->calls().linkBrokenAnswerer();
    EXPECT_EQ(events().back(), "Отбой");
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
}

} // namespace
} // namespace vetlina
