// An entry out of the editor's ranges in the session dialogue: the answerer refuses it
// with its reason before anything uses it and ends the call; a caller does not hand
// such an entry of its own over at all.
#include "ScopedGlobals.h"
#include "SessionTestSupport.h"
#include "analyzer/ZMK.h"
#include "app/Complex.h"
#include "platform/Cp1251.h"

#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Scaled : test::ScopedTimeScale {
    Scaled() : ScopedTimeScale(20.0) {}
};

TEST(ReceivedEntryThreadTest, AnEntryOutOfRangeIsRefusedAndTheCallEnds) {
    Scaled scaled;
    test::SessionRoom room(ModemRole::Answering);
    room.answeringInCall();
    ScenarioEntry sent = defaultEntry(45000.0);
    setText(sent.Id, "12345678");
    setText(sent.Number, "1001");
    sent.SinLev = std::nanf("");
    const ScenarioEntry before = room.modem().dialogue().receivedScenario();
    bool identityCame = true;
    room.runSides(
        [&] { room.modem().dialogue().answererDialogue(); },
        [&] {
            GreetingBlock got{};
            ASSERT_TRUE(
                room.far->sendBlock(test::farGreeting("87654321", "12345678", 45717.25, 0)));
            ASSERT_TRUE(room.far->receiveBlock(got));
            ASSERT_TRUE(room.far->send({bytesOf(sent), kEntryFirstBlock}));
            ASSERT_TRUE(room.far->send({bytesOf(sent) + kEntryFirstBlock, kEntrySecondBlock}));
            // The answerer hangs up instead of sending its identity, as soon as it has
            // taken the caller's (whose acknowledgement may then be lost).
            room.far->sendBlock(makeIdentity("a", "b", "c"));
            IdentityBlock theirs{};
            identityCame = room.far->receiveBlock(theirs);
        });
    EXPECT_FALSE(identityCame);
    EXPECT_THAT(room.events(),
                ElementsAre("Есть связь", "Прием сценария от 87654321",
                            "Сценарий от 87654321 отвергнут: SinLev = nan: не число", "Отбой"));
    // Nothing of the entry was taken: not the current entry, no norms file, no analyzer.
    MODEM& modem = room.modem();
    EXPECT_EQ(
        std::memcmp(bytesOf(modem.dialogue().receivedScenario()), bytesOf(before), kEntrySize), 0);
    EXPECT_EQ(modem.role(), ModemRole::Answering);
    EXPECT_EQ(fieldText(room.complex->peerIdent), "");
    EXPECT_THAT(room.records.names(), IsEmpty());
    EXPECT_EQ(room.analyzer().command(), AnalyzerCommand::Idle);
    EXPECT_EQ(modem.command(), ModemCommand::WaitForCall);
}

TEST(ReceivedEntryThreadTest, ACallerDoesNotHandOverAnEntryTheAnswererWouldRefuse) {
    // Made with the file tool, say: a norm beyond the editor's range. Every call would
    // end in the answerer's refusal, so the entry is given up for the run at once.
    Scaled scaled;
    test::SessionRoom room(ModemRole::Calling);
    room.callingInCall();
    room.entry().o132SNR = 90.0f;
    room.entry().SessionsDone = 0;
    room.runSides([&] { room.modem().dialogue().callerDialogue(); },
                  [&] {
                      GreetingBlock got{};
                      ASSERT_TRUE(room.far->receiveBlock(got));
                      ASSERT_TRUE(room.far->sendBlock(test::farGreeting("87654321", "", 0.0, 0)));
                  });
    EXPECT_THAT(room.events(),
                ElementsAre("Есть связь",
                            "Сценарий не передан: o132SNR = 90: допустимо число от 0.0 до 70.0"));
    EXPECT_EQ(room.entry().Finished, 1);
    EXPECT_FALSE(room.line.near->dtr()); // hung up
    EXPECT_THAT(room.records.names(), IsEmpty());
    EXPECT_EQ(room.analyzer().command(), AnalyzerCommand::Idle);
}

} // namespace
} // namespace vetlina
