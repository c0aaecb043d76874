// The modem's creation for a run and its command-line primitives, against a scripted
// Hayes modem on an in-memory line.
#include "ModemTestSupport.h"
#include "ScopedGlobals.h"
#include "ScopedRun.h"
#include "config/Configuration.h"
#include "modem/Modem.h"
#include "platform/Clock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using TraceSwitch = test::ScopedTrace;

class ModemControlTest : public ::testing::Test {
protected:
    // The modem's waits for its replies follow the fake modem's steps, not the machine's
    // load: the clock moves only while both threads sleep on it.
    ModemControlTest() { fake_.onSteppedClock = true; }

    std::unique_ptr<MODEM> create(ModemRole role = ModemRole::Answering) {
        return std::make_unique<MODEM>(*room_.complex, line_.factory(), role);
    }
    // A modem created and initialised, its start-up lines and commands forgotten.
    std::unique_ptr<MODEM> ready() {
        auto modem = create();
        EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
        // The rest of the identification reply (its LF and the result) is not wanted.
        modem->PurgePort();
        room_.ui.models.protocol.clear();
        return modem;
    }
    std::vector<std::string> lines() { return room_.ui.protocolLines(); }
    std::vector<std::string> dialogs() { return room_.ui.dialogs.texts(); }

    test::ScopedSteppedClock stepped_;
    test::ModemRoom room_{"ModemInit=X4\n[TIMES]\nHangTime=2\n"};
    test::Line line_;
    test::FakeModem fake_{line_};
};

TEST_F(ModemControlTest, AGoodModemIsInitialisedAndIdentifiedAndWaitsForCalls) {
    auto modem = create();
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
    EXPECT_THAT(fake_.commands(), ElementsAre("ATZ", "ATI5"));
    EXPECT_THAT(lines(), Contains("COM1: Модем инициализирован"));
    EXPECT_EQ(toUtf8(modemIdentification()), "Fake modem 14400 Доп.настройка X4");
    EXPECT_FALSE(line_.near->dtr());
    EXPECT_EQ(currentEntry(), &modem->dialogue().receivedScenario());
    EXPECT_THAT(dialogs(), IsEmpty());
    EXPECT_THAT(room_.ui.takeMessages(), IsEmpty());
}

TEST_F(ModemControlTest, ACallingModemShowsTheScenarioAndStartsWithTheFirstEntry) {
    room_.addEntry("87654321", "1002");
    room_.addEntry("11112222", "1003");
    room_.scenario.entry(0).Finished = 1;
    auto modem = create(ModemRole::Calling);
    EXPECT_EQ(modem->command(), ModemCommand::ChooseAndDial);
    EXPECT_EQ(currentEntry(), &room_.scenario.entry(0));
    auto shown = lines();
    auto at = std::find(shown.begin(), shown.end(), "Сценарий 12345678:");
    ASSERT_NE(at, shown.end());
    EXPECT_EQ(*(at - 1), "");
    EXPECT_EQ(*(at + 1), "87654321 - цикл выполнен");
    EXPECT_EQ(*(at + 2), "11112222 - готов к выполнению");
}

TEST_F(ModemControlTest, AModemThatDoesNotEchoEndsTheRunAndOffersTheSetUp) {
    fake_.echo = false;
    auto modem = create();
    EXPECT_EQ(modem->command(), ModemCommand::Stopped);
    EXPECT_THAT(lines(), Contains("COM1: Не вводится командная строка (нет эхо-символа)"));
    EXPECT_THAT(dialogs(),
                ElementsAre("COM1: Не вводится командная строка (нет эхо-символа)\r\n\r\n "
                            "Возможно, модем неправильно настроен",
                            "COM1: Записать настройку в энергонезависимую память модема?"));
    EXPECT_THAT(room_.ui.takeMessages(), ElementsAre(MSG_RUN_END));
}

TEST_F(ModemControlTest, AVerbalOkIsNoAnswerAndTheSetUpWrittenStoresNumericResults) {
    fake_.setAnswer([](const std::string& command) -> std::string {
        if (command == "ATZ")
            return "\r\nOK\r\n";
        return "0\r";
    });
    room_.ui.dialogs.answerNext(DialogAnswer::Yes);
    auto modem = create();
    EXPECT_EQ(modem->command(), ModemCommand::Stopped);
    EXPECT_THAT(lines(), Contains("COM1: Нет ответа на командую строку"));
    // Three tries of ATZ, then the factory reset typed blind and the set-up line.
    const std::string setup = "ATM0S0=2X4&D2&S1V0\\N2\\V1S7=60S37=4&WZ";
    EXPECT_THAT(fake_.commands(), ElementsAre("ATZ", "ATZ", "ATZ", "AT&F", setup));
    auto seen = room_.ui.dialogs.seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].title, "Записана настройка модема");
    EXPECT_EQ(seen[2].text, setup + "\r\n");
    EXPECT_THAT(room_.ui.takeMessages(), ElementsAre(MSG_RUN_END));
}

TEST_F(ModemControlTest, DsrOnBeforeAnyCommandMeansTheProfileLacksDsrControl) {
    line_.near->setLines({.cts = true, .dsr = true, .ring = false, .carrier = false});
    auto modem = create();
    EXPECT_EQ(modem->command(), ModemCommand::Stopped);
    EXPECT_THAT(lines(), Contains("COM1: Модем имеет сигнал DSR = 1"));
    EXPECT_THAT(fake_.commands(), IsEmpty());
    EXPECT_THAT(dialogs(), Contains(HasSubstr("Возможно, модем неправильно настроен")));
}

TEST_F(ModemControlTest, PortFailuresAreReportedWithoutTheSetUpOffer) {
    MODEM unavailable(
        room_.ui.bridge, [](int32_t) { return std::unique_ptr<SerialPort>(); },
        ModemRole::Answering);
    EXPECT_EQ(unavailable.command(), ModemCommand::Stopped);
    EXPECT_THAT(dialogs(), ElementsAre("COM1: недоступен"));

    room_.ui.dialogs.clear();
    line_.near->failOpen(PortOpenResult::SystemError);
    auto broken = create();
    EXPECT_EQ(broken->command(), ModemCommand::Stopped);
    auto seen = room_.ui.dialogs.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].title, "System Error");
    EXPECT_EQ(seen[0].text, "memory port");
    EXPECT_EQ(seen[1].text, "COM1: Системная ошибка");
}

TEST_F(ModemControlTest, AModemThatTakesNothingIsSwitchedOff) {
    setTimeScaleForTesting(200.0);
    line_.near->holdOutput(true);
    auto modem = create();
    EXPECT_EQ(modem->command(), ModemCommand::Stopped);
    EXPECT_THAT(dialogs(), ElementsAre("COM1: Модем отключен или выключен"));
}

TEST_F(ModemControlTest, TheInitialSetUpIsWrittenOnRequestFromTheMainWindow) {
    room_.ui.dialogs.answerNext(DialogAnswer::Yes);
    MODEM::writeInitialSetup(room_.ui.bridge, line_.factory());
    const std::string setup = "ATM0S0=2X4&D2&S1V0\\N2\\V1S7=60S37=4&WZ";
    EXPECT_THAT(fake_.commands(), ElementsAre("AT&F", setup));
    auto seen = room_.ui.dialogs.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].title, "Модем");
    EXPECT_TRUE(seen[0].question);
    EXPECT_EQ(seen[1].title, "Записана настройка модема");
    // The port is given back, and nothing of a run happened.
    EXPECT_FALSE(line_.near->isOpen());
    EXPECT_THAT(room_.ui.takeMessages(), IsEmpty());
    EXPECT_THAT(lines(), IsEmpty());

    // Refused: nothing is typed. A port that cannot be opened is reported.
    room_.ui.dialogs.clear();
    MODEM::writeInitialSetup(room_.ui.bridge, line_.factory());
    EXPECT_EQ(fake_.commands().size(), 2u);
    MODEM::writeInitialSetup(room_.ui.bridge,
                             [](int32_t) { return std::unique_ptr<SerialPort>(); });
    EXPECT_THAT(dialogs(),
                ElementsAre("COM1: Записать настройку в энергонезависимую память модема?",
                            "COM1: недоступен"));
}

TEST_F(ModemControlTest, ReadLineKeepsTheFirst38CharactersAndTheLastOne) {
    auto modem = ready();
    std::string fifty;
    for (int i = 0; i < 50; ++i)
        fifty += static_cast<char>('A' + i % 26);
    fake_.send(fifty + "\r7\r");
    ASSERT_TRUE(modem->control().readLine(1000));
    EXPECT_EQ(modem->control().line(), fifty.substr(0, 38) + fifty.back());
    ASSERT_TRUE(modem->control().readLine(1000));
    EXPECT_EQ(modem->control().line(), "7");
    // A line that has arrived is read even by a wait whose time is up (a thread that a
    // busy machine woke past its deadline).
    fake_.send("2\r");
    ASSERT_TRUE(modem->control().readLine(0));
    EXPECT_EQ(modem->control().line(), "2");
    EXPECT_FALSE(modem->control().readLine(200));
    EXPECT_EQ(modem->control().line(), "");
}

TEST_F(ModemControlTest, WaitOkWantsAZeroRightBeforeCr) {
    auto modem = ready();
    fake_.send("x0y0\r");
    EXPECT_TRUE(modem->control().waitOk());
    setTimeScaleForTesting(200.0);
    fake_.send("\r\nOK\r\n0 \r");
    EXPECT_FALSE(modem->control().waitOk());
}

TEST_F(ModemControlTest, ACommandLineThatNeverEchoesIsAFatalModemFailure) {
    auto modem = ready();
    fake_.echo = false;
    setTimeScaleForTesting(1000.0);
    EXPECT_FALSE(modem->control().commandLine("ATH\r\n"));
    EXPECT_EQ(modem->command(), ModemCommand::Stopped);
    auto shown = lines();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_THAT(shown[0], EndsWith(" Не выполнен ввод командной строки в модем"));
    // CTS is on: the modem is there but fails.
    EXPECT_THAT(shown[1], EndsWith(" Отказ модема"));
    auto seen = room_.ui.dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, " Модем");
    EXPECT_EQ(seen[0].text, "Отказ модема");
    EXPECT_THAT(room_.ui.takeMessages(), ElementsAre(MSG_RUN_END));
    // A second failure of a stopped modem does nothing.
    modem->control().modemFailure("x");
    EXPECT_EQ(lines().size(), 2u);
}

TEST_F(ModemControlTest, AModemWithoutLinesFailsAsSwitchedOff) {
    auto modem = ready();
    line_.near->setLines({});
    modem->control().modemFailure("Модем не отвечает на команду ATZ"_cp);
    EXPECT_THAT(lines().back(), EndsWith(" Отключение модема"));
}

TEST_F(ModemControlTest, HangUpDropsDtrAndWaitsForTheCarrierToGo) {
    auto modem = ready();
    modem->dtr(true);
    fake_.connect(true);
    EXPECT_TRUE(modem->control().hangUp());
    EXPECT_FALSE(line_.near->dtr());
    EXPECT_FALSE(modem->carrier());
    EXPECT_NE(modem->command(), ModemCommand::Stopped);
}

TEST_F(ModemControlTest, AModemThatKeepsTheConnectionAfterDtrDropsHasFailed) {
    auto modem = ready();
    line_.setConnected(true); // the lines stay on whatever DTR does
    setTimeScaleForTesting(2000.0);
    EXPECT_FALSE(modem->control().awaitDisconnect());
    auto shown = lines();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_THAT(shown[0], EndsWith(" Принудительный разрыв связи"));
    EXPECT_THAT(shown[1], EndsWith(" Модем не разорвал связь при сбросе DTR"));
    EXPECT_EQ(modem->command(), ModemCommand::Stopped);
}

TEST_F(ModemControlTest, TheDisconnectReasonIsAskedOnlyInTraceMode) {
    auto modem = ready();
    {
        TraceSwitch off(false);
        modem->control().disconnectReason();
        EXPECT_THAT(fake_.commands(), Not(Contains("ATS86?")));
    }
    TraceSwitch on(true);
    modem->control().disconnectReason();
    EXPECT_THAT(fake_.commands(), Contains("ATS86?"));
    EXPECT_THAT(lines(), Contains(EndsWith(" Причина разрыва соединения: S86 = 004")));
}

} // namespace
} // namespace vetlina
