// The modem's initialisation against the simulated Hayes modem of vetlina-sim, reached
// as the program reaches a modem: COM1 of the PORTS section, an RFC 2217 port.
#include "ModemNetwork.h"
#include "ModemTestSupport.h"
#include "device/ComPort.h"
#include "modem/Modem.h"
#include "platform/Clock.h"
#include "ui/UiBridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr double kScale = 5.0;

class ModemSimTest : public ::testing::Test {
protected:
    ModemSimTest() { setTimeScaleForTesting(kScale); }

    // Starts the simulator with station A's modem changed by `modem`, and points COM1
    // of the complex at it.
    void startSim(const nlohmann::json& modem = nlohmann::json::object()) {
        nlohmann::json network = test::modemNetwork();
        network["stations"][0]["modem"].update(modem);
        sim_ = std::make_unique<test::SimProcess>(network, room_.folder.path(), kScale,
                                                  test::SimClock::SharedWithThisProcess);
        ASSERT_TRUE(sim_->running());
        room_.configure(test::portsSection(*sim_, "A"));
    }
    std::unique_ptr<MODEM> create() {
        return std::make_unique<MODEM>(*room_.complex, comPortFactory(), ModemRole::Answering);
    }
    std::vector<std::string> lines() { return room_.ui.protocolLines(); }

    test::ModemRoom room_;
    std::unique_ptr<test::SimProcess> sim_;
};

TEST_F(ModemSimTest, AGoodModemIsReadyAndNamedInTheProtocolHeader) {
    startSim();
    room_.complex->create(ModemRole::Answering, "Пассивный старт"_cp);
    ASSERT_TRUE(room_.complex->started());
    EXPECT_THAT(lines(), Contains("COM1: Модем инициализирован"));
    EXPECT_EQ(modemIdentification(), "Modem of A");
    const std::string prot = room_.folder.read("Prot/12345678/Prot.htm");
    EXPECT_THAT(prot, HasSubstr("\r\nCom1: Модем "_cp + "Modem of A\r\nCom"));
    EXPECT_THAT(room_.ui.dialogs.texts(), IsEmpty());
    // The modem heard ATZ and ATI5, and the thread then waits for calls with DTR up.
    EXPECT_TRUE(test::waitReal(
        [&] {
            for (const auto& e : sim_->events("dtr", "A"))
                if (e.value("on", false))
                    return true;
            return false;
        },
        5000));
    std::vector<std::string> commands;
    for (const auto& e : sim_->events("command", "A"))
        commands.push_back(e.value("line", ""));
    EXPECT_THAT(commands, ElementsAre("ATZ", "ATI5"));
    room_.complex.reset();
}

TEST_F(ModemSimTest, AModemThatDoesNotEchoEndsTheRunWithTheSetUpOffered) {
    startSim({{"faults", {{"noEcho", true}}}});
    auto modem = create();
    EXPECT_EQ(modem->command(), ModemCommand::Stopped);
    EXPECT_THAT(lines(), Contains("COM1: Не вводится командная строка (нет эхо-символа)"));
    EXPECT_THAT(room_.ui.dialogs.texts(),
                Contains("COM1: Записать настройку в энергонезависимую память модема?"));
    EXPECT_THAT(room_.ui.takeMessages(), ElementsAre(MSG_RUN_END));
}

TEST_F(ModemSimTest, AModemAnsweringWithVerbalResultsIsSetUpOnRequestAndThenReady) {
    // The factory profile but for DSR control: echo on, and "OK" where the program
    // waits for "0".
    startSim({{"storedProfile", "&S1"}});
    room_.ui.dialogs.answerNext(DialogAnswer::Yes);
    {
        auto modem = create();
        EXPECT_EQ(modem->command(), ModemCommand::Stopped);
        EXPECT_THAT(lines(), Contains("COM1: Нет ответа на командую строку"));
    }
    auto seen = room_.ui.dialogs.seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].title, "Записана настройка модема");
    ASSERT_FALSE(sim_->events("profile-stored", "A").empty());
    const auto stored = sim_->events("profile-stored", "A").back()["settings"];
    EXPECT_EQ(stored["V"], 0);  // numeric results
    EXPECT_EQ(stored["&D"], 2); // DTR drop hangs up
    EXPECT_EQ(stored["&S"], 1); // DSR only while connected
    EXPECT_EQ(stored["S"]["0"], 2);

    // With its profile stored the modem now starts as the program expects.
    room_.ui.dialogs.clear();
    room_.ui.models.protocol.clear();
    auto modem = create();
    EXPECT_EQ(modem->command(), ModemCommand::WaitForCall);
    EXPECT_THAT(lines(), ElementsAre("COM1: Модем инициализирован"));
}

TEST_F(ModemSimTest, DsrAlwaysOnIsFoundBeforeAnyCommand) {
    startSim({{"faults", {{"dsrAlwaysOn", true}}}});
    auto modem = create();
    EXPECT_EQ(modem->command(), ModemCommand::Stopped);
    EXPECT_THAT(lines(), Contains("COM1: Модем имеет сигнал DSR = 1"));
    EXPECT_TRUE(sim_->events("command", "A").empty());
}

} // namespace
} // namespace vetlina
