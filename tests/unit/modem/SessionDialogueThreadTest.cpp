// The session dialogue of one complex against a scripted far complex over an in-memory
// line: the greetings with their refusals, the scenario hand-over, the resume of a broken
// result exchange, the reconnection, the exchange with its data files and evaluation, the
// pause on unmet norms, the end of a series, and a session with an autonomous generator.
#include "EntryKinds.h"
#include "ScopedGlobals.h"
#include "SessionTestSupport.h"
#include "analyzer/ZMK.h"
#include "app/Complex.h"
#include "modem/Calling.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

#include <algorithm>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <vector>

namespace vetlina {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Bytes = std::vector<uint8_t>;

constexpr double kScale = 20.0;

// The clock at the tests' scale before the room's modem is made, and back after it.
struct Scaled : test::ScopedTimeScale {
    Scaled() : ScopedTimeScale(kScale) {}
};

// Sine only: the caller's result block is 16 + 160 bytes, the answerer's 160.
void sineOnly(ScenarioEntry& e) {
    const double sine = e.SinTime;
    test::setEveryKindTime(e, 0);
    e.SinTime = sine;
}

LiveResults sineLevel(float level) {
    LiveResults r;
    r.sine.level = level;
    r.sine.counter = 10;
    return r;
}

bool fileExists(const std::string& path) {
    return readWholeFile(path).has_value();
}

std::string fieldUtf8(const char* field, std::size_t n) {
    return toUtf8(std::string(field, strnlen(field, n)));
}

// ---- The caller's dialogue ---------------------------------------------------------

class CallerDialogueThreadTest : public ::testing::Test {
protected:
    CallerDialogueThreadTest() { room_.callingInCall(); }

    // The caller's dialogue against a far side that answers with `answer` after taking
    // the caller's greeting (kept in got_), then runs `more`.
    void dialogue(const GreetingBlock& answer, const std::function<void()>& more = {}) {
        room_.runSides([this] { room_.modem().callerDialogue(); },
                       [&] {
                           ASSERT_TRUE(room_.far->receiveBlock(got_));
                           // Acknowledged even where the caller refuses and hangs up.
                           ASSERT_TRUE(room_.far->sendBlock(answer));
                           if (more)
                               more();
                       });
    }

    Scaled scaled_;
    test::SessionRoom room_{ModemRole::Calling};
    GreetingBlock got_{};
};

TEST_F(CallerDialogueThreadTest, TheGreetingNamesBothComplexesAndTheSeries) {
    ScenarioEntry& e = room_.entry();
    e.SessionsDone = 2;
    e.SeriesTime = 45717.25;
    room_.modem().resumePending = true;
    dialogue(test::farGreeting("87654321", "12345678", 45717.25, 2));
    EXPECT_EQ(got_.version, 50);
    EXPECT_EQ(got_.resume, 1);
    EXPECT_EQ(blockText(got_.ident), "12345678");
    EXPECT_EQ(blockText(got_.wanted), "87654321");
    EXPECT_EQ(got_.seriesTime.get(), 45717.25);
    EXPECT_EQ(got_.sessionsDone.get(), 2);
}

TEST_F(CallerDialogueThreadTest, AnAnswererOfAnotherVersionIsRefusedAndTheEntryGivenUp) {
    GreetingBlock answer = test::farGreeting("87654321", "", 0.0, 0);
    answer.version = 49;
    dialogue(answer);
    EXPECT_THAT(room_.events(), ElementsAre("Есть связь", "Несоответствие версий ПО"));
    MODEM& modem = room_.modem();
    EXPECT_EQ(room_.entry().Finished, 1);
    EXPECT_EQ(modem.role(), ModemRole::Calling);
    EXPECT_EQ(modem.waitLimit, 3000);
    EXPECT_EQ(modem.command(), ModemCommand::WaitForCall);
    EXPECT_EQ(fieldText(room_.complex->peerIdent), "");
    EXPECT_FALSE(room_.line.near->dtr()); // hung up
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::Idle);
    EXPECT_THAT(room_.records.names(), IsEmpty());
}

TEST_F(CallerDialogueThreadTest, AnotherComplexAnsweringIsRefused) {
    dialogue(test::farGreeting("11111111", "", 0.0, 0));
    EXPECT_THAT(room_.events(), ElementsAre("Есть связь", "Вместо 87654321 ответил 11111111"));
    EXPECT_EQ(room_.entry().Finished, 1);
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);
    EXPECT_EQ(room_.modem().waitLimit, 3000);
}

TEST_F(CallerDialogueThreadTest, ABusyAnswererPostponesTheEntryBySixMinutesPerSessionLeft) {
    const DateTime before = now();
    dialogue(test::farGreeting("87654321", "55555555", 45000.0, 3),
             [this] { ASSERT_TRUE(room_.far->sendBlock(makeBusy(3, 10))); });
    EXPECT_THAT(room_.events(),
                ElementsAre("Есть связь", "Занят с 55555555 (3 из 10 сеансов завершены)"));
    const ScenarioEntry& e = room_.entry();
    EXPECT_EQ(e.Finished, 0);
    EXPECT_NEAR(static_cast<double>(e.NextTime), before + 7 * 360.0 / 86400.0, 60.0 / 86400.0);
    EXPECT_EQ(room_.modem().role(), ModemRole::Calling);
    EXPECT_EQ(room_.modem().waitLimit, 3000);
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);
    EXPECT_FALSE(room_.line.near->dtr());
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::Idle);
}

TEST_F(CallerDialogueThreadTest, ABusyBlockWithNonsenseCountsPostponesNoFurtherBackThanNow) {
    const DateTime before = now();
    dialogue(test::farGreeting("87654321", "55555555", 45000.0, 3),
             [this] { room_.far->sendBlock(makeBusy(2147483647, -2147483647 - 1)); });
    const double next = room_.entry().NextTime;
    EXPECT_GE(next, before);
    EXPECT_LT(next, now() + 60.0 / 86400.0);
}

TEST_F(CallerDialogueThreadTest, TheFirstSessionHandsTheScenarioOverAndStartsTheAnalyzer) {
    ScenarioEntry& e = room_.entry();
    room_.complex->statisticsHeaderDue = false;
    room_.complex->resultsHeaderDue = false;
    room_.ui.models.statistics.caption = "old";
    Bytes first(kEntryFirstBlock), second(kEntrySecondBlock);
    IdentityBlock theirs{};
    dialogue(test::farGreeting("87654321", "", 0.0, 0), [&] {
        ASSERT_TRUE(room_.far->receive(first));
        ASSERT_TRUE(room_.far->receive(second));
        ASSERT_TRUE(room_.far->receiveBlock(theirs));
        ASSERT_TRUE(room_.far->sendBlock(
            makeIdentity(toCp1251("Оператор Б"), toCp1251("Город Б"), toCp1251("АТС Б"))));
    });

    EXPECT_THAT(room_.events(), ElementsAre("Есть связь", "Передача сценария"));
    // The entry went as it stands, in its two halves.
    Bytes sent = first;
    sent.insert(sent.end(), second.begin(), second.end());
    EXPECT_EQ(std::memcmp(sent.data(), bytesOf(e), kEntrySize), 0);
    EXPECT_EQ(toUtf8(blockText(theirs.user)), "Оператор А");
    EXPECT_EQ(toUtf8(blockText(theirs.city)), "Город А");
    EXPECT_EQ(toUtf8(blockText(theirs.ats)), "АТС А");
    Complex& c = *room_.complex;
    EXPECT_EQ(fieldUtf8(c.peerUser, sizeof c.peerUser), "Оператор Б");
    EXPECT_EQ(fieldUtf8(c.peerCity, sizeof c.peerCity), "Город Б");
    EXPECT_EQ(fieldUtf8(c.peerAts, sizeof c.peerAts), "АТС Б");
    EXPECT_TRUE(c.statisticsHeaderDue);
    EXPECT_TRUE(c.resultsHeaderDue);
    EXPECT_EQ(toUtf8(room_.ui.models.statistics.caption), "Статистика");

    // The cycle begins: its statistics reset, then its norms file with (own, far).
    auto calls = room_.records.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].what, "reset");
    EXPECT_EQ(calls[1].what, "norms");
    EXPECT_TRUE(calls[1].calling);
    EXPECT_EQ(calls[1].caller, "12345678");
    EXPECT_EQ(calls[1].answerer, "87654321");

    // This side measures first; the modem has hung up and idles.
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::MeasureFirst);
    EXPECT_TRUE(room_.analyzer().firstPass());
    EXPECT_EQ(room_.modem().command(), ModemCommand::Idle);
    EXPECT_FALSE(room_.line.near->dtr());
}

TEST_F(CallerDialogueThreadTest, ANewSeriesTimeHandsTheScenarioOverAgain) {
    ScenarioEntry& e = room_.entry();
    e.SessionsDone = 2;
    e.SeriesTime = 45717.25;
    Bytes first(kEntryFirstBlock), second(kEntrySecondBlock);
    dialogue(test::farGreeting("87654321", "12345678", 45700.0, 2), [&] {
        IdentityBlock theirs{};
        ASSERT_TRUE(room_.far->receive(first));
        ASSERT_TRUE(room_.far->receive(second));
        ASSERT_TRUE(room_.far->receiveBlock(theirs));
        ASSERT_TRUE(room_.far->sendBlock(makeIdentity("b", "b", "b")));
    });
    EXPECT_THAT(room_.events(), ElementsAre("Есть связь", "Передача сценария"));
    // Not the first session: no reset, no norms file.
    EXPECT_THAT(room_.records.names(), IsEmpty());
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::MeasureFirst);
}

TEST_F(CallerDialogueThreadTest, TheSameSeriesOnBothSidesGoesStraightToMeasuring) {
    ScenarioEntry& e = room_.entry();
    e.SessionsDone = 2;
    e.SeriesTime = 45717.25;
    // A resume asked for by the far side alone is no resume.
    dialogue(test::farGreeting("87654321", "12345678", 45717.25, 2, true));
    EXPECT_THAT(room_.events(), ElementsAre("Есть связь"));
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::MeasureFirst);
    EXPECT_EQ(room_.modem().command(), ModemCommand::Idle);
    EXPECT_FALSE(room_.modem().resumePending);
}

TEST_F(CallerDialogueThreadTest, ABrokenResultExchangeIsResumedWithoutMeasuring) {
    ScenarioEntry& e = room_.entry();
    e.SessionsDone = 2;
    e.SeriesTime = 45717.25;
    room_.modem().resumePending = true;
    dialogue(test::farGreeting("87654321", "12345678", 45717.25, 2, true));
    EXPECT_THAT(room_.events(), ElementsAre("Есть связь"));
    EXPECT_EQ(room_.modem().command(), ModemCommand::ResultExchange);
    EXPECT_TRUE(room_.modem().resumePending);
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::Idle);
    EXPECT_TRUE(room_.line.near->dtr()); // the connection stands for the exchange
}

TEST_F(CallerDialogueThreadTest, ALostGreetingEndsTheCallAsBroken) {
    room_.runSides([this] { room_.modem().callerDialogue(); },
                   [this] {
                       ASSERT_TRUE(room_.far->receiveBlock(got_));
                       room_.farHangsUp();
                   });
    EXPECT_THAT(room_.events(), ElementsAre("Есть связь", "Отбой"));
    EXPECT_EQ(room_.entry().FailOtb, 1);
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);
    EXPECT_EQ(room_.modem().waitLimit, 10000);
}

// ---- The answerer's dialogue -------------------------------------------------------

class AnswererDialogueThreadTest : public ::testing::Test {
protected:
    AnswererDialogueThreadTest() { room_.answeringInCall(); }

    // The far caller sends its greeting and takes the answerer's (kept in got_), then
    // runs `more`.
    void dialogue(const GreetingBlock& greeting, const std::function<void()>& more = {}) {
        room_.runSides([this] { room_.modem().answererDialogue(); },
                       [&] {
                           ASSERT_TRUE(room_.far->sendBlock(greeting));
                           ASSERT_TRUE(room_.far->receiveBlock(got_));
                           if (more)
                               more();
                       });
    }

    // The caller's entry as the far complex hands it over.
    ScenarioEntry callersEntry() {
        ScenarioEntry e = defaultEntry(45000.0);
        setText(e.Id, "12345678");
        setText(e.Number, "1001");
        e.SeriesTime = 45717.25;
        e.NumTotal = 7;
        e.SinFreq = 1020;
        e.Calls = 1;
        return e;
    }

    Scaled scaled_;
    test::SessionRoom room_{ModemRole::Answering};
    GreetingBlock got_{};
};

TEST_F(AnswererDialogueThreadTest, TheFirstSessionTakesTheCallersEntryAndGeneratesFirst) {
    const ScenarioEntry sent = callersEntry();
    IdentityBlock theirs{};
    dialogue(test::farGreeting("87654321", "12345678", 45717.25, 0), [&] {
        const uint8_t* image = bytesOf(sent);
        ASSERT_TRUE(room_.far->send({image, kEntryFirstBlock}));
        ASSERT_TRUE(room_.far->send({image + kEntryFirstBlock, kEntrySecondBlock}));
        ASSERT_TRUE(room_.far->sendBlock(
            makeIdentity(toCp1251("Оператор Б"), toCp1251("Город Б"), toCp1251("АТС Б"))));
        ASSERT_TRUE(room_.far->receiveBlock(theirs));
        room_.farHangsUp();
    });

    // The answerer's greeting: nobody served yet, its idle entry.
    EXPECT_EQ(blockText(got_.ident), "12345678");
    EXPECT_EQ(blockText(got_.wanted), "");
    EXPECT_EQ(got_.sessionsDone.get(), 0);
    EXPECT_EQ(got_.seriesTime.get(), 0.0);

    EXPECT_THAT(room_.events(), ElementsAre("Есть связь", "Прием сценария от 87654321"));
    MODEM& modem = room_.modem();
    EXPECT_EQ(std::memcmp(bytesOf(modem.receivedScenario), bytesOf(sent), kEntrySize), 0);
    EXPECT_EQ(currentEntry(), &modem.receivedScenario);
    EXPECT_EQ(modem.role(), ModemRole::AnsweringServed);
    Complex& c = *room_.complex;
    EXPECT_EQ(fieldText(c.peerIdent), "87654321");
    EXPECT_EQ(fieldUtf8(c.peerUser, sizeof c.peerUser), "Оператор Б");
    EXPECT_EQ(fieldUtf8(c.peerAts, sizeof c.peerAts), "АТС Б");
    EXPECT_EQ(toUtf8(blockText(theirs.user)), "Оператор А");

    auto calls = room_.records.calls();
    ASSERT_EQ(calls.size(), 1u); // the caller resets the statistics, not the answerer
    EXPECT_EQ(calls[0].what, "norms");
    EXPECT_FALSE(calls[0].calling);
    EXPECT_EQ(calls[0].caller, "87654321");
    EXPECT_EQ(calls[0].answerer, "12345678");

    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::GenerateFirst);
    EXPECT_TRUE(room_.analyzer().firstPass());
    EXPECT_EQ(modem.command(), ModemCommand::Idle);
}

TEST_F(AnswererDialogueThreadTest, ACallingComplexThatAnswersBecomesAnAnswererInItsRun) {
    room_.modem().setRole(ModemRole::Calling);
    const ScenarioEntry sent = callersEntry();
    dialogue(test::farGreeting("87654321", "12345678", 45717.25, 0), [&] {
        IdentityBlock theirs{};
        const uint8_t* image = bytesOf(sent);
        ASSERT_TRUE(room_.far->send({image, kEntryFirstBlock}));
        ASSERT_TRUE(room_.far->send({image + kEntryFirstBlock, kEntrySecondBlock}));
        ASSERT_TRUE(room_.far->sendBlock(makeIdentity("b", "b", "b")));
        ASSERT_TRUE(room_.far->receiveBlock(theirs));
        room_.farHangsUp();
    });
    EXPECT_EQ(room_.modem().role(), ModemRole::AnsweringInRun);
}

TEST_F(AnswererDialogueThreadTest, AHandOverBrokenOffLeavesTheEntryAsItWas) {
    const ScenarioEntry sent = callersEntry();
    dialogue(test::farGreeting("87654321", "12345678", 45717.25, 0), [&] {
        ASSERT_TRUE(room_.far->send({bytesOf(sent), kEntryFirstBlock}));
        room_.farHangsUp();
    });
    EXPECT_THAT(room_.events(), ElementsAre("Есть связь", "Прием сценария от 87654321", "Отбой"));
    MODEM& modem = room_.modem();
    EXPECT_EQ(modem.receivedScenario.SeriesTime, 0.0);
    EXPECT_EQ(textOf(modem.receivedScenario.Id), "");
    EXPECT_EQ(modem.role(), ModemRole::Answering);
    EXPECT_EQ(fieldText(room_.complex->peerIdent), "");
    EXPECT_THAT(room_.records.names(), IsEmpty());
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::Idle);
    EXPECT_EQ(modem.command(), ModemCommand::WaitForCall);
}

TEST_F(AnswererDialogueThreadTest, AnAnswererBusyWithAnotherComplexRefusesWithTheBusyBlock) {
    setFieldText(room_.complex->peerIdent, "55555555");
    room_.modem().receivedScenario.SessionsDone = 3;
    room_.modem().receivedScenario.NumTotal = 10;
    room_.modem().receivedScenario.SeriesTime = 45000.0;
    BusyBlock busy{};
    dialogue(test::farGreeting("87654321", "12345678", 45717.25, 0), [&] {
        ASSERT_TRUE(room_.far->receiveBlock(busy));
        room_.farHangsUp();
    });
    EXPECT_EQ(blockText(got_.wanted), "55555555");
    EXPECT_EQ(got_.sessionsDone.get(), 3);
    EXPECT_EQ(busy.sessionsDone.get(), 3);
    EXPECT_EQ(busy.numTotal.get(), 10);
    EXPECT_THAT(room_.events(), ElementsAre("Есть связь", "Отказано в обслуживании 87654321"));
    EXPECT_EQ(fieldText(room_.complex->peerIdent), "55555555");
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::Idle);
}

TEST_F(AnswererDialogueThreadTest, ACallForAnotherComplexOrVersionIsNotServed) {
    dialogue(test::farGreeting("87654321", "99999999", 45717.25, 0),
             [this] { room_.farHangsUp(); });
    EXPECT_THAT(room_.events(),
                ElementsAre("Есть связь", "Неправильная попытка 87654321 связаться с 99999999"));
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);

    room_.ui.models.protocol.clear();
    room_.answeringInCall();
    GreetingBlock other = test::farGreeting("87654321", "12345678", 45717.25, 0);
    other.version = 51;
    dialogue(other, [this] { room_.farHangsUp(); });
    EXPECT_THAT(room_.events(), ElementsAre("Есть связь", "Несоответствие версий ПО"));
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::Idle);
}

TEST_F(AnswererDialogueThreadTest, ABrokenResultExchangeIsResumedWithoutMeasuring) {
    MODEM& modem = room_.modem();
    modem.receivedScenario = callersEntry();
    modem.receivedScenario.SessionsDone = 1;
    modem.resumePending = true;
    setFieldText(room_.complex->peerIdent, "87654321");
    dialogue(test::farGreeting("87654321", "12345678", 45717.25, 1, true));
    EXPECT_EQ(got_.resume, 1);
    EXPECT_EQ(blockText(got_.wanted), "87654321");
    EXPECT_EQ(modem.command(), ModemCommand::ResultExchange);
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::Idle);
}

// ---- Reconnection ----------------------------------------------------------------------

class ReconnectThreadTest : public ::testing::Test {
protected:
    Scaled scaled_;
    test::SessionRoom room_{ModemRole::Calling};
};

TEST_F(ReconnectThreadTest, TheCallerOriginatesOnTheHeldLineAndTheAnalyzerLetsItGo) {
    room_.callingInCall();
    room_.farHangsUp(); // the modems hung up for the analyzers' turn
    setText(room_.entry().AT, "x3M1");
    MODEM& modem = room_.modem();
    room_.analyzer().liveResults() = sineLevel(-12.0f);
    modem.throughput = 96.0f;
    room_.runSides([&] { modem.reconnect(); }, {});
    EXPECT_THAT(room_.events(), ElementsAre("Соединение модемов (x3m1)"));
    EXPECT_THAT(room_.fake.commands(), Contains("ATX3M1X1D"));
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::SwitchOff);
    EXPECT_EQ(modem.command(), ModemCommand::ResultExchange);
    // The own results are saved aside; from now on a break is resumed.
    EXPECT_EQ(modem.savedResults.sine.level, -12.0f);
    EXPECT_EQ(modem.savedThroughput, 96.0f);
    EXPECT_TRUE(modem.resumePending);
}

TEST_F(ReconnectThreadTest, TheAnswererAnswersAndAFailedConnectionCountsForTheCallerOnly) {
    room_.answeringInCall();
    room_.farHangsUp();
    setText(room_.entry().AT, "x3");
    room_.modem().setRole(ModemRole::AnsweringServed);
    room_.runSides([&] { room_.modem().reconnect(); }, {});
    EXPECT_THAT(room_.events(), ElementsAre("Соединение модемов"));
    EXPECT_THAT(room_.fake.commands(), Contains("ATB1A"));
    EXPECT_EQ(room_.modem().command(), ModemCommand::ResultExchange);

    // No carrier: the caller counts a НУВ, the answerer only says so.
    room_.fake.connect(false);
    room_.fake.setAnswer([](const std::string& c) { return c == "ATZ" ? "0\r" : "3\r"; });
    room_.ui.models.protocol.clear();
    room_.runSides([&] { room_.modem().reconnect(); }, {});
    EXPECT_THAT(room_.events(), ElementsAre("Соединение модемов", "Неустанов взаимодействия"));
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);

    room_.callingInCall();
    room_.fake.connect(false);
    const int32_t nuv = room_.entry().FailNUV;
    room_.ui.models.protocol.clear();
    room_.runSides([&] { room_.modem().reconnect(); }, {});
    EXPECT_THAT(room_.events(), ElementsAre("Соединение модемов (x3)", "НУВ (нет несущей)"));
    EXPECT_EQ(room_.entry().FailNUV, nuv + 1);
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);
}

// ---- The result exchange -----------------------------------------------------------------

class ResultExchangeThreadTest : public ::testing::Test {
protected:
    ResultExchangeThreadTest() {
        ScenarioEntry& e = room_.entry();
        sineOnly(e);
        e.SessionsDone = 1;
        e.NumTotal = 5;
        e.Calls = 4;
        e.FailNUS = 1;
        e.FailNUV = 1;
        e.FailOtb = 0;
        e.RunCounters[runcounter::ConsecutiveOtb] = 2;
        room_.callingInCall();
        MODEM& modem = room_.modem();
        // As the reconnection leaves it.
        modem.savedResults = sineLevel(-10.0f);
        modem.resumePending = true;
        modem.SetCommand(ModemCommand::ResultExchange);
    }

    // The caller's exchange against a far answerer whose sine level is -20 dBm.
    void exchange(const std::function<void()>& onMain = {}) {
        room_.runSides([this] { room_.modem().resultExchange(); },
                       [this] {
                           received_.assign(176, 0);
                           ASSERT_TRUE(room_.far->receive(received_));
                           Bytes answer(160);
                           toBytes(sineLevel(-20.0f).sine, answer.data());
                           ASSERT_TRUE(room_.far->send(answer));
                       },
                       onMain);
    }

    Scaled scaled_;
    test::SessionRoom room_{ModemRole::Calling};
    Bytes received_;
};

TEST_F(ResultExchangeThreadTest, TheCallerSendsCountersAndOwnResultsAndWritesBothDirections) {
    exchange();
    EXPECT_THAT(room_.events(), ElementsAre("Обмен результатами"));
    // Counters, then the own sine record.
    ASSERT_EQ(received_.size(), 176u);
    EXPECT_EQ(loadLe<int32_t>(received_.data()), 4);
    EXPECT_EQ(loadLe<int32_t>(received_.data() + 4), 1);
    EXPECT_EQ(loadLe<float>(received_.data() + 16), -10.0f);

    // The far side's results are written first (not measured here), then the own.
    auto calls = room_.records.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].what, "data");
    EXPECT_FALSE(calls[0].localMeter);
    EXPECT_EQ(calls[0].sineLevel, -20.0f);
    EXPECT_EQ(calls[0].sessionsDone, 1);
    EXPECT_TRUE(calls[0].calling);
    EXPECT_EQ(calls[0].caller, "12345678");
    EXPECT_EQ(calls[0].answerer, "87654321");
    EXPECT_EQ(calls[1].what, "data");
    EXPECT_TRUE(calls[1].localMeter);
    EXPECT_EQ(calls[1].sineLevel, -10.0f);
    EXPECT_EQ(calls[2].what, "evaluate");
    EXPECT_TRUE(calls[2].calling);
    EXPECT_EQ(calls[2].sessionsDone, 2);

    const ScenarioEntry& e = room_.entry();
    MODEM& modem = room_.modem();
    EXPECT_EQ(e.SessionsDone, 2);
    EXPECT_EQ(e.Finished, 0);
    EXPECT_EQ(e.RunCounters[runcounter::ConsecutiveOtb], 0);
    EXPECT_FALSE(modem.resumePending);
    EXPECT_EQ(room_.analyzer().liveResults().sine.level, -10.0f);
    EXPECT_TRUE(room_.analyzer().firstPass());
    EXPECT_EQ(modem.dataFileName, "DATA/zmk00001.dat");
    EXPECT_EQ(modem.previousDataFileName, "DATA/zmk00000.dat");
    // The progress is saved, the modem hangs up and waits before it dials again.
    EXPECT_TRUE(fileExists(room_.folder.file("unknown.scn")));
    EXPECT_FALSE(room_.line.near->dtr());
    EXPECT_EQ(modem.waitLimit, 8000);
    EXPECT_EQ(modem.role(), ModemRole::CallingInCall);
    EXPECT_EQ(fieldText(room_.complex->peerIdent), "87654321");
    EXPECT_EQ(modem.command(), ModemCommand::WaitForCall);
}

TEST_F(ResultExchangeThreadTest, TheLastSessionEndsTheSeriesAndTheCallerMovesOn) {
    room_.entry().NumTotal = 2;
    exchange();
    auto calls = room_.records.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].finished, 1); // set before the files are written
    EXPECT_EQ(room_.entry().Finished, 1);
    EXPECT_EQ(room_.modem().role(), ModemRole::Calling);
    EXPECT_EQ(fieldText(room_.complex->peerIdent), "");
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);
}

TEST_F(ResultExchangeThreadTest, ASeriesEndedEarlyMarksTheFilesOfItsLastSession) {
    room_.records.endEarly = true;
    exchange();
    auto calls = room_.records.calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[3].what, "end");
    EXPECT_EQ(calls[3].path, "DATA/zmk00000.dat");
    EXPECT_EQ(calls[4].what, "end");
    EXPECT_EQ(calls[4].path, "DATA/zmk00001.dat");
    EXPECT_EQ(room_.modem().role(), ModemRole::Calling);
}

TEST_F(ResultExchangeThreadTest, AConnectionBrokenInTheExchangeKeepsItPendingForTheResume) {
    room_.runSides([this] { room_.modem().resultExchange(); },
                   [this] {
                       Bytes got(176);
                       ASSERT_TRUE(room_.far->receive(got));
                       room_.farHangsUp();
                   });
    EXPECT_THAT(room_.events(), ElementsAre("Обмен результатами", "Отбой"));
    EXPECT_TRUE(room_.modem().resumePending);
    EXPECT_EQ(room_.entry().SessionsDone, 1);
    EXPECT_EQ(room_.entry().FailOtb, 1);
    EXPECT_THAT(room_.records.names(), IsEmpty());
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);
}

TEST_F(ResultExchangeThreadTest, AThroughputMissingOnOneSideIsMissingForBoth) {
    ScenarioEntry& e = room_.entry();
    e.DiscrTime = 30;
    room_.modem().savedThroughput = 97.0f;
    room_.runSides([this] { room_.modem().resultExchange(); },
                   [this] {
                       Bytes got(180);
                       ASSERT_TRUE(room_.far->receive(got));
                       EXPECT_EQ(loadLe<float>(got.data() + 176), 97.0f);
                       Bytes answer(164);
                       storeLe<float>(answer.data() + 160, -999.0f);
                       ASSERT_TRUE(room_.far->send(answer));
                   });
    auto calls = room_.records.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].throughput, -999.0f);
    EXPECT_EQ(calls[1].throughput, -999.0f);
}

TEST_F(ResultExchangeThreadTest, UnmetNormsPauseTheCallerUntilTheOperatorGoesOn) {
    room_.records.failNorms = true;
    room_.ui.models.options.stopOnNorms = true;
    room_.ui.models.pause.alarmTime = 300;
    bool shownAsCaller = false;
    exchange([&] {
        // The operator stops the countdown, writes a note and goes on.
        PauseWindowModel& pause = room_.ui.models.pause;
        if (pause.visible && pause.stopEnabled) {
            shownAsCaller = pause.timerOn && pause.countdown == 300;
            pause.stop();
            pause.note = toCp1251("Проверка линии");
            pause.start();
        }
    });
    EXPECT_TRUE(shownAsCaller);
    EXPECT_THAT(room_.events(), ElementsAre("Обмен результатами", "", "Измерения остановлены",
                                            "Проверка линии", "Измерения продолжены"));
    // The state label keeps the exchange: those lines are for the protocol only.
    const std::string label = toUtf8(room_.ui.models.run.stateLabel);
    EXPECT_EQ(label.substr(std::min<std::size_t>(label.size(), 9)), "Обмен результатами");
    EXPECT_FALSE(room_.ui.models.pause.visible);
    EXPECT_FALSE(room_.line.near->dtr());
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);
}

TEST_F(ResultExchangeThreadTest, WithoutTheRunOptionUnmetNormsDoNotPause) {
    room_.records.failNorms = true;
    exchange();
    EXPECT_THAT(room_.events(), ElementsAre("Обмен результатами"));
    EXPECT_TRUE(room_.modem().normFailed);
    EXPECT_FALSE(room_.line.near->dtr());
}

class AnswererExchangeThreadTest : public ::testing::Test {
protected:
    AnswererExchangeThreadTest() {
        MODEM& modem = room_.modem();
        ScenarioEntry& e = modem.receivedScenario;
        e = defaultEntry(45000.0);
        sineOnly(e);
        e.SeriesTime = 45717.25;
        e.SessionsDone = 1;
        e.NumTotal = 5;
        setCurrentEntry(&e);
        setFieldText(room_.complex->peerIdent, "87654321");
        modem.setRole(ModemRole::AnsweringServed);
        modem.savedResults = sineLevel(-10.0f);
        modem.resumePending = true;
        room_.answeringInCall();
        modem.SetCommand(ModemCommand::ResultExchange);
    }

    // The far caller sends counters 6/1/2/0 and its sine level -20, takes the answer
    // (kept in answer_) and hangs up.
    void exchange(const std::function<void()>& onMain = {}) {
        room_.runSides([this] { room_.modem().resultExchange(); },
                       [this] {
                           Bytes block(176);
                           CountersSection c{};
                           c.calls = 6;
                           c.failNUS = 1;
                           c.failNUV = 2;
                           std::memcpy(block.data(), &c, sizeof c);
                           toBytes(sineLevel(-20.0f).sine, block.data() + 16);
                           ASSERT_TRUE(room_.far->send(block));
                           answer_.assign(160, 0);
                           ASSERT_TRUE(room_.far->receive(answer_));
                           room_.farHangsUp();
                       },
                       onMain);
    }

    Scaled scaled_;
    test::SessionRoom room_{ModemRole::Answering};
    Bytes answer_;
};

TEST_F(AnswererExchangeThreadTest, TheAnswererTakesTheCountersAndAnswersWithItsOwnResults) {
    exchange();
    EXPECT_THAT(room_.events(), ElementsAre("Обмен результатами с 87654321"));
    EXPECT_EQ(loadLe<float>(answer_.data()), -10.0f);
    const ScenarioEntry& e = room_.modem().receivedScenario;
    EXPECT_EQ(e.Calls, 6);
    EXPECT_EQ(e.FailNUV, 2);
    EXPECT_EQ(e.SessionsDone, 2);
    auto calls = room_.records.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_FALSE(calls[0].calling);
    EXPECT_EQ(calls[0].caller, "87654321");
    EXPECT_EQ(calls[0].answerer, "12345678");
    EXPECT_FALSE(calls[0].localMeter);
    EXPECT_EQ(calls[0].sineLevel, -20.0f);
    EXPECT_TRUE(calls[1].localMeter);
    EXPECT_EQ(calls[1].sineLevel, -10.0f);
    EXPECT_FALSE(calls[2].calling);
    // The answerer saves no scenario; it waits for the next call of the series.
    EXPECT_FALSE(fileExists(room_.folder.file("unknown.scn")));
    EXPECT_EQ(room_.modem().role(), ModemRole::AnsweringServed);
    EXPECT_FALSE(room_.modem().resumePending);
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);
}

TEST_F(AnswererExchangeThreadTest, AtTheEndOfTheSeriesTheAnswererIsIdleAgain) {
    room_.modem().receivedScenario.NumTotal = 2;
    exchange();
    EXPECT_EQ(room_.modem().receivedScenario.Finished, 1);
    EXPECT_EQ(room_.modem().role(), ModemRole::Answering);
    EXPECT_EQ(fieldText(room_.complex->peerIdent), "");
}

TEST_F(AnswererExchangeThreadTest, AnAnswererInItsRunGoesBackToCallingFromTheFirstEntry) {
    room_.modem().receivedScenario.NumTotal = 2;
    room_.modem().setRole(ModemRole::AnsweringInRun);
    exchange();
    EXPECT_EQ(room_.modem().role(), ModemRole::Calling);
    EXPECT_EQ(currentEntry(), &room_.scenario.entry(0));
}

TEST_F(AnswererExchangeThreadTest, UnmetNormsHoldTheAnswererUntilTheCallerHangsUp) {
    room_.records.failNorms = true;
    room_.ui.models.options.stopOnNorms = true;
    bool shownAsAnswerer = false;
    exchange([&] {
        // The operator reads the list and writes a note, but does not go on.
        PauseWindowModel& pause = room_.ui.models.pause;
        if (pause.visible && pause.note.empty()) {
            shownAsAnswerer = !pause.stopEnabled && pause.startEnabled && !pause.timerOn;
            pause.note = toCp1251("Шум на линии");
        }
    });
    EXPECT_TRUE(shownAsAnswerer);
    EXPECT_THAT(room_.events(),
                ElementsAre("Обмен результатами с 87654321", "", "Измерения остановлены",
                            "Шум на линии", "Измерения продолжены после разрыва связи"));
    EXPECT_FALSE(room_.ui.models.pause.visible);
    EXPECT_FALSE(room_.line.near->dtr());
}

// ---- A session with an autonomous generator ----------------------------------------------

class GeneratorSessionThreadTest : public ::testing::Test {
protected:
    GeneratorSessionThreadTest() {
        ScenarioEntry& e = room_.entry();
        e.ComplexType = 1;
        e.NumTotal = 3;
        room_.callingInCall();
        room_.modem().SetCommand(ModemCommand::GeneratorAnswered);
    }
    Scaled scaled_;
    test::SessionRoom room_{ModemRole::Calling};
};

TEST_F(GeneratorSessionThreadTest, AnAnsweredGeneratorStartsTheCycleAndTheAnalyzerAlone) {
    room_.runSides([this] { room_.modem().generatorAnswered(); }, {});
    EXPECT_THAT(room_.events(), ElementsAre("Есть ответ"));
    auto calls = room_.records.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].what, "reset");
    EXPECT_EQ(calls[1].what, "norms");
    EXPECT_EQ(calls[1].caller, "12345678");
    EXPECT_EQ(calls[1].answerer, "87654321");
    Complex& c = *room_.complex;
    EXPECT_EQ(fieldText(c.peerUser), "................");
    EXPECT_EQ(fieldText(c.peerCity), "........");
    EXPECT_EQ(fieldText(c.peerAts), "....");
    EXPECT_EQ(room_.analyzer().command(), AnalyzerCommand::MeasureFirst);
    EXPECT_TRUE(room_.analyzer().firstPass());
    EXPECT_EQ(room_.modem().command(), ModemCommand::Idle);
    EXPECT_FALSE(room_.line.near->dtr()); // the line is the analyzer's
}

TEST_F(GeneratorSessionThreadTest, TheOptionOfASimpleCallLeavesTheAnswerUnannounced) {
    room_.ui.models.options.simpleGenerator = true;
    room_.entry().SessionsDone = 1;
    room_.runSides([this] { room_.modem().generatorAnswered(); }, {});
    EXPECT_THAT(room_.events(), IsEmpty());
    EXPECT_THAT(room_.records.names(), IsEmpty());
}

TEST_F(GeneratorSessionThreadTest, ACompleteSessionWritesOneDataFileAndCountsTheSession) {
    room_.analyzer().liveResults() = sineLevel(-5.5f);
    room_.entry().SessionsDone = 1;
    room_.runSides([this] { room_.modem().generatorSessionComplete(); }, {});
    auto calls = room_.records.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].what, "data");
    EXPECT_TRUE(calls[0].localMeter);
    EXPECT_EQ(calls[0].sineLevel, -5.5f);
    EXPECT_EQ(calls[0].throughput, -999.0f);
    EXPECT_EQ(calls[1].what, "evaluate");
    EXPECT_EQ(room_.entry().SessionsDone, 2);
    EXPECT_EQ(room_.entry().Finished, 0);
    EXPECT_EQ(room_.modem().waitLimit, 10000);
    EXPECT_EQ(room_.modem().role(), ModemRole::CallingInCall);
    EXPECT_TRUE(fileExists(room_.folder.file("unknown.scn")));
    EXPECT_EQ(room_.modem().command(), ModemCommand::WaitForCall);

    // A series ended early by the evaluation marks the file of its last session.
    room_.entry().NumTotal = 5;
    room_.records.endEarly = true;
    room_.runSides([this] { room_.modem().generatorSessionComplete(); }, {});
    calls = room_.records.calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[3].what, "evaluate");
    EXPECT_EQ(calls[4].what, "end");
    EXPECT_EQ(calls[4].path, "DATA/zmk00001.dat");
    EXPECT_EQ(room_.modem().role(), ModemRole::Calling);
    EXPECT_EQ(fieldText(room_.complex->peerIdent), "");
}

} // namespace
} // namespace vetlina
