// Bringing the analyzer up against a scripted ZMK-5 on the in-memory port pair: the
// speed handshake with every failure code, identification, calibration, the DATA
// folder, and putting the analyzer to rest.
#include "ScriptedAnalyzer.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "analyzer/ZMK.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <cstdio>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const char* const kIdentificationFailure =
    "Отказ анализатора\r\n\r\nВозможно, требуется повторное включение питания";

class ZmkStartupTest : public ::testing::Test {
protected:
    ZmkStartupTest() : cwd_(folder_.path()) {
        // The waits of 300 ms for a byte need a few real milliseconds.
        setTimeScaleForTesting(5.0);
        configure(115200);
    }
    ~ZmkStartupTest() override { setTimeScaleForTesting(1.0); }

    void configure(int speed) {
        folder_.write("Vetlina.ini",
                      "[VETLINA]\r\nZMKPort=2\r\nZMKSpeed=" + std::to_string(speed) + "\r\n");
    }
    static test::ScriptedAnalyzer::Script script() {
        test::ScriptedAnalyzer::Script s;
        s.calibration[9] = 1234;
        s.calibration[10] = 56;
        s.calibration[0] = -7;
        return s;
    }
    std::unique_ptr<ZMK> start(test::ScriptedAnalyzer& analyzer) {
        return std::make_unique<ZMK>(ui_.bridge, analyzer.factory());
    }
    // The start-up failed with this line: reported in the protocol window and one box,
    // the run ended, the thread stopped.
    void expectFailure(ZMK& zmk, const std::string& line) {
        EXPECT_EQ(zmk.command(), AnalyzerCommand::Stopped);
        // A line with CR LF in it shows as several lines of the memo.
        EXPECT_THAT(toUtf8(ui_.models.protocol.text()), HasSubstr(line));
        const auto seen = ui_.dialogs.seen();
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().title, " Анализатор ZMK-5");
        EXPECT_EQ(seen.back().text, line);
        EXPECT_EQ(seen.back().icon, DialogIcon::Warning);
        EXPECT_THAT(ui_.takeMessages(), ::testing::Contains(MSG_RUN_END));
    }
    void makeDataFiles(int count) {
        makeFolder(folder_.file("DATA"));
        for (int i = 1; i <= count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "DATA/zmk%05d.dat", i);
            folder_.write(name, "x");
        }
        folder_.write("DATA/notes.txt", "kept");
    }

    test::TempFolder folder_;
    test::CurrentDirectory cwd_;
    test::TestUi ui_;
};

// ---- Success -----------------------------------------------------------------------------

TEST_F(ZmkStartupTest, ASoundAnalyzerComesUpAtTheConfiguredSpeedWithItsCalibration) {
    test::ScriptedAnalyzer analyzer(script());
    auto zmk = start(analyzer);
    EXPECT_EQ(zmk->command(), AnalyzerCommand::SwitchOff);
    EXPECT_EQ(zmk->portNumber, 2);
    EXPECT_THAT(ui_.protocolLines(), ElementsAre("COM2: ZMK-5 инициализирован"));
    EXPECT_TRUE(ui_.dialogs.seen().empty());
    EXPECT_TRUE(ui_.takeMessages().empty());
    EXPECT_EQ(zmk->serialNumber(), 1234);
    EXPECT_EQ(zmk->firmwareNumber(), 56);
    EXPECT_EQ(zmk->calibration()[0], -7);
    EXPECT_EQ(analyzer.computer().baudRate(), 115200u);
    // The speed command, the CR at the new speed, then the calibration request.
    EXPECT_THAT(analyzer.received(), ::testing::StartsWith("$S7\r\x02\x10\x2A"));
    ASSERT_EQ(analyzer.commands().size(), 1u);
    EXPECT_THAT(analyzer.commands()[0].words, ElementsAre(13));
}

TEST_F(ZmkStartupTest, EachAcceptedSpeedHasItsDigit) {
    for (auto [speed, digit] : {std::pair{57600, '6'}, std::pair{38400, '5'}}) {
        configure(speed);
        test::ScriptedAnalyzer analyzer(script());
        auto zmk = start(analyzer);
        EXPECT_EQ(zmk->command(), AnalyzerCommand::SwitchOff) << speed;
        EXPECT_EQ(analyzer.received().substr(0, 4), std::string("$S") + digit + "\r");
        EXPECT_EQ(analyzer.computer().baudRate(), static_cast<uint32_t>(speed));
    }
}

TEST_F(ZmkStartupTest, TheDestructorPutsTheAnalyzerToRestAndClosesThePort) {
    test::ScriptedAnalyzer analyzer(script());
    auto zmk = start(analyzer);
    ASSERT_EQ(zmk->command(), AnalyzerCommand::SwitchOff);
    zmk.reset();
    EXPECT_THAT(analyzer.received(), ::testing::EndsWith("\x1bH000\x1bZ"));
    EXPECT_FALSE(analyzer.computer().dtr());
    EXPECT_FALSE(analyzer.computer().isOpen());
}

// ---- The failure codes of the handshake ------------------------------------------------------

TEST_F(ZmkStartupTest, Speed9600FailsWithCode7AlthoughItIsTheOpeningSpeed) {
    configure(9600);
    test::ScriptedAnalyzer analyzer(script());
    auto zmk = start(analyzer);
    expectFailure(*zmk, "COM2: Недопустимая скорость обмена");
    EXPECT_EQ(analyzer.received(), "");
    EXPECT_FALSE(analyzer.computer().isOpen());
    zmk.reset();
    EXPECT_EQ(analyzer.received(), ""); // closed: no rest sequences either
}

TEST_F(ZmkStartupTest, APortThatCannotBeOpenedIsUnavailable) {
    test::ScriptedAnalyzer analyzer(script());
    analyzer.computer().failOpen(PortOpenResult::CannotOpen);
    auto zmk = start(analyzer);
    expectFailure(*zmk, "COM2: недоступен");
    EXPECT_EQ(ui_.dialogs.seen().size(), 1u);
}

TEST_F(ZmkStartupTest, ASystemErrorShowsTheSystemsTextFirst) {
    test::ScriptedAnalyzer analyzer(script());
    analyzer.computer().failOpen(PortOpenResult::SystemError);
    auto zmk = start(analyzer);
    expectFailure(*zmk, "COM2: Системная ошибка");
    const auto seen = ui_.dialogs.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].title, "System Error");
    EXPECT_EQ(seen[0].text, "memory port");
}

TEST_F(ZmkStartupTest, DsrOffAndCtsOffAreTheirOwnCodes) {
    {
        auto s = script();
        s.lines = {true, false, false, false}; // CTS on, DSR off
        test::ScriptedAnalyzer analyzer(s);
        auto zmk = start(analyzer);
        expectFailure(*zmk, "COM2: Анализатор отключен или выключен");
        EXPECT_FALSE(analyzer.computer().isOpen());
    }
    ui_.dialogs.clear();
    {
        auto s = script();
        s.lines = {false, true, false, false};
        test::ScriptedAnalyzer analyzer(s);
        auto zmk = start(analyzer);
        expectFailure(*zmk, "COM2: Анализатор выключен");
        EXPECT_FALSE(analyzer.computer().isOpen());
    }
}

TEST_F(ZmkStartupTest, ASpeedCommandThatCannotBeWrittenIsCode4) {
    test::ScriptedAnalyzer analyzer(script());
    analyzer.computer().holdOutput(true);
    auto zmk = start(analyzer);
    expectFailure(*zmk, "COM2: Не выдана команда установки скорости");
    EXPECT_FALSE(analyzer.computer().isOpen());
}

TEST_F(ZmkStartupTest, NoReplyIsCode5AndTheDestructorStillPutsTheAnalyzerToRest) {
    auto s = script();
    s.speedReply = "-";
    test::ScriptedAnalyzer analyzer(s);
    auto zmk = start(analyzer);
    expectFailure(*zmk, "COM2: Анализатор не отвечает на команды, нужно повторное включение");
    EXPECT_TRUE(analyzer.computer().isOpen());
    EXPECT_EQ(analyzer.received(), "$S7");
    zmk.reset();
    EXPECT_EQ(analyzer.received(), "$S7\x1bH000\x1bZ");
}

TEST_F(ZmkStartupTest, AWrongReplyIsCode6) {
    const std::string line = "COM2: Анализатор не готов к работе, нужно повторное включение";
    for (const char* reply : {"$S6", "$N7", "S$7"}) {
        auto s = script();
        s.speedReply = reply;
        test::ScriptedAnalyzer analyzer(s);
        auto zmk = start(analyzer);
        expectFailure(*zmk, line);
        EXPECT_TRUE(analyzer.computer().isOpen()) << reply;
        ui_.dialogs.clear();
    }
    // The analyzer took the speed but does not answer the CR at it.
    auto s = script();
    s.answerCr = false;
    test::ScriptedAnalyzer analyzer(s);
    auto zmk = start(analyzer);
    expectFailure(*zmk, line);
}

// ---- Identification and calibration -----------------------------------------------------------

TEST_F(ZmkStartupTest, AnIdentificationAfterAStrayCharacterNeverMatches) {
    auto s = script();
    s.identification = "\rZMK-5 Kerat, channel analyzer\r\n";
    test::ScriptedAnalyzer analyzer(s);
    const uint32_t start = tickMs();
    auto zmk = std::make_unique<ZMK>(ui_.bridge, analyzer.factory());
    EXPECT_GE(static_cast<int32_t>(tickMs() - start), 3000);
    // The port came up; the analyzer did not identify itself.
    EXPECT_EQ(ui_.protocolLines().front(), "COM2: ZMK-5 инициализирован");
    expectFailure(*zmk, kIdentificationFailure);
    EXPECT_TRUE(analyzer.commands().empty()); // no calibration request
}

TEST_F(ZmkStartupTest, AnotherInstrumentOrAnEndlessTextFailsIdentification) {
    {
        auto s = script();
        s.identification = "ZMK-4 Kerat, channel analyzer\r\n";
        test::ScriptedAnalyzer analyzer(s);
        auto zmk = start(analyzer);
        expectFailure(*zmk, kIdentificationFailure);
    }
    {
        auto s = script();
        s.identification = std::string(200, 'Z');
        test::ScriptedAnalyzer analyzer(s);
        const uint32_t start = tickMs();
        auto zmk = std::make_unique<ZMK>(ui_.bridge, analyzer.factory());
        // Given up after 80 characters, long before the 3 s.
        EXPECT_LT(static_cast<int32_t>(tickMs() - start), 2500);
        expectFailure(*zmk, kIdentificationFailure);
    }
}

TEST_F(ZmkStartupTest, CalibrationBlocksOf50Or54BytesAreIgnored) {
    {
        auto s = script();
        s.calibrationReplies = {50, 54};
        test::ScriptedAnalyzer analyzer(s);
        auto zmk = start(analyzer);
        expectFailure(*zmk, "Анализатор не имеет калибровочных данных");
        EXPECT_EQ(zmk->serialNumber(), 0);
    }
    ui_.dialogs.clear();
    auto s = script();
    s.calibrationReplies = {50, 54, 52};
    test::ScriptedAnalyzer analyzer(s);
    auto zmk = start(analyzer);
    EXPECT_EQ(zmk->command(), AnalyzerCommand::SwitchOff);
    EXPECT_EQ(zmk->serialNumber(), 1234);
}

TEST_F(ZmkStartupTest, AFailedCalibrationCommandShowsBothMessages) {
    auto s = script();
    // The announcing block is not acknowledged: the request never goes out.
    s.acknowledge = [](const std::vector<uint16_t>& words) { return words.size() != 1; };
    test::ScriptedAnalyzer analyzer(s);
    auto zmk = start(analyzer);
    EXPECT_EQ(zmk->command(), AnalyzerCommand::Stopped);
    EXPECT_EQ(ui_.dialogs.texts(),
              (std::vector<std::string>{"Отказ анализатора",
                                        "Анализатор не имеет калибровочных данных"}));
    EXPECT_EQ(zmk->link().nZmkSendNotReady(), 1);
    EXPECT_EQ(ui_.models.run.counterText(RunCounter::ZmkSendNotReady), "1");
}

// ---- DATA folder -------------------------------------------------------------------------------

TEST_F(ZmkStartupTest, Exactly800DataFilesAskNothing) {
    makeDataFiles(800);
    test::ScriptedAnalyzer analyzer(script());
    auto zmk = start(analyzer);
    EXPECT_EQ(zmk->command(), AnalyzerCommand::SwitchOff);
    EXPECT_TRUE(ui_.dialogs.seen().empty());
    EXPECT_EQ(listFiles("DATA", "zmk*.dat").size(), 800u);
}

TEST_F(ZmkStartupTest, With801DataFilesTheOperatorIsAskedAndNoKeepsThem) {
    makeDataFiles(801);
    test::ScriptedAnalyzer analyzer(script());
    ui_.dialogs.answerNext(DialogAnswer::No);
    auto zmk = start(analyzer);
    EXPECT_EQ(zmk->command(), AnalyzerCommand::SwitchOff);
    const auto seen = ui_.dialogs.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].question);
    EXPECT_EQ(seen[0].title, " Папка DATA");
    EXPECT_EQ(seen[0].text,
              "Количество *.dat файлов больше 800\r\n\r\nУдалить файлы из папки \\DATA ?");
    EXPECT_EQ(listFiles("DATA", "zmk*.dat").size(), 801u);
}

TEST_F(ZmkStartupTest, YesDeletesTheDataFilesAndSaysSo) {
    makeDataFiles(801);
    test::ScriptedAnalyzer analyzer(script());
    ui_.dialogs.answerNext(DialogAnswer::Yes);
    auto zmk = start(analyzer);
    EXPECT_EQ(zmk->command(), AnalyzerCommand::SwitchOff);
    EXPECT_TRUE(listFiles("DATA", "zmk*.dat").empty());
    EXPECT_TRUE(fileExists("DATA/notes.txt"));
    EXPECT_THAT(ui_.protocolLines(),
                ElementsAre("COM2: ZMK-5 инициализирован", " -выполнено удаление *.dat файлов"));
}

} // namespace
} // namespace vetlina
