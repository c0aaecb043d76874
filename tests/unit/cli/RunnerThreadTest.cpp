// vetlina-run end to end: the built runner in a folder of its own, ended by a signal,
// by --stop-after, or by message 1438. Its threads run under ThreadSanitizer in that
// build, so these tests carry the label `thread`.
#include "RunProcess.h"
#include "SimProcess.h"
#include "TempFolder.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

#include <csignal>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>

namespace vetlina {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kIni = "[VETLINA]\r\nIdent=12345678\r\nZMKPort=2\r\nModemPort=1\r\n";

// The runner as a child process in the folder (10 times real speed unless told: the
// start-ups of the analyzer and the modem must hear each reply of the simulator within
// their limits even on a loaded machine).
class Runner : public test::RunProcess {
public:
    Runner(const test::TempFolder& folder, std::vector<std::string> args,
           const std::string& timeScale = "10")
        : RunProcess(folder, std::move(args), timeScale) {}
};

using test::waitForText;

// The complex's analyzer and modem: those of a simulated complex station, the modem
// holding the stored profile the program writes.
nlohmann::json network() {
    return {{"stations",
             {{{"name", "A"},
               {"type", "complex"},
               {"number", "1001"},
               {"modem",
                {{"port", 0},
                 {"storedProfile", "M0S0=2&D2&S1V0\\N2\\V1S7=60S37=4"},
                 {"identification", "Modem of A"}}},
               {"analyzer", {{"port", 0}, {"serialNumber", 1234}, {"firmware", 305}}}}}}};
}

class RunnerThreadTest : public ::testing::Test {
protected:
    RunnerThreadTest() : sim_(network(), simFolder_.path(), 10.0, /*sharedClock=*/true) {
        ports_ = "[PORTS]\r\nCOM1=rfc2217://127.0.0.1:" + std::to_string(sim_.port("A", "modem")) +
                 "\r\nCOM2=rfc2217://127.0.0.1:" + std::to_string(sim_.port("A", "analyzer")) +
                 "\r\n";
        folder_.write("Vetlina.ini", kIni + ports_);
    }
    std::string document(const std::string& name) {
        return readWholeFile(folder_.file(name)).value_or("<none>");
    }
    test::TempFolder folder_;
    test::TempFolder simFolder_;
    test::SimProcess sim_;
    std::string ports_;
};

TEST_F(RunnerThreadTest, PassiveRunWritesTheDocumentsAndEndsOnSigterm) {
    Runner runner(folder_, {"--passive"});
    ASSERT_TRUE(runner.started());
    ASSERT_TRUE(waitForText(folder_.file("Prot/12345678/Prot.htm"), "Пассивный старт"_cp));
    // The other documents are open once the protocol is; the summary is the last one.
    ASSERT_TRUE(waitForText(folder_.file("Prot/PaspTabl.htm"), "</table>"));
    // The modem thread has begun to wait for calls.
    ASSERT_TRUE(waitForText(folder_.file("Prot/12345678/Prot.htm"), "Жду звонка"_cp));
    runner.signal(SIGTERM);
    ASSERT_EQ(runner.wait(), 0) << runner.err();

    std::string protocol = toUtf8(document("Prot/12345678/Prot.htm"));
    EXPECT_THAT(protocol, StartsWith("<html>\r\n<h3 align=center>Протокол работы комплекса "
                                     "12345678 от "));
    EXPECT_THAT(protocol, HasSubstr("</h3><pre>СПО ЛИРС V2M50\r\nCom1: Модем Modem of A\r\nCom2: "
                                    "Анализатор Kerat ZMK-5 Сер.номер 1234 F.305</pre><p>"));
    // The modem waits for calls; the operator's end: a blank line and "Работа закончена".
    EXPECT_TRUE(std::regex_search(protocol, std::regex(" Пассивный старт<br>\r\n<br>"
                                                       "[0-9]{2}:[0-9]{2}:[0-9]{2} "
                                                       "Жду звонка\r\n<br>\r\n<br>"
                                                       "[0-9]{2}:[0-9]{2}:[0-9]{2} "
                                                       "Работа закончена\r\n$")))
        << protocol;
    EXPECT_EQ(toUtf8(document("Prot/12345678/Rest.htm")),
              "<html>\r\n<h3 align=center>Результаты измерений комплекса 12345678</h3>\r\n");
    EXPECT_EQ(toUtf8(document("Prot/12345678/Stat.htm")),
              "<html>\r\n<h3 align=center>Статистика измерений комплекса 12345678</h3>\r\n");
    EXPECT_THAT(document("Prot/12345678/Pasp.htm"), StartsWith("<html>\r\n<style"));
    EXPECT_THAT(toUtf8(document("Prot/PaspTabl.htm")),
                StartsWith("<html>\r\n<h3 align=center>Сводная таблица паспортов измерений"));

    // The protocol window's lines on stdout, in UTF-8.
    EXPECT_THAT(runner.out(), EndsWith(" Работа закончена\n"));
    EXPECT_THAT(runner.out(),
                StartsWith("COM2: ZMK-5 инициализирован\nCOM1: Модем инициализирован\n\n"));
    EXPECT_EQ(runner.err(), "");
}

// vetlina-run | head -1: the reader of stdout has gone. The run goes on to its end and
// writes its documents; only the lines on stdout are lost.
TEST_F(RunnerThreadTest, AClosedStdoutDoesNotEndTheRun) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    ::close(pipeFds[0]); // nobody reads
    test::RunProcess runner(folder_, {"--passive", "--stop-after", "20"}, "10", pipeFds[1]);
    ::close(pipeFds[1]);
    ASSERT_TRUE(runner.started());
    ASSERT_EQ(runner.wait(), 0) << runner.err();
    EXPECT_THAT(toUtf8(document("Prot/12345678/Prot.htm")), EndsWith(" Работа закончена\r\n"));
    EXPECT_THAT(toUtf8(document("Prot/PaspTabl.htm")), HasSubstr("</table>"));
    EXPECT_EQ(runner.err(), "");
}

TEST_F(RunnerThreadTest, SigintEndsTheRunToo) {
    Runner runner(folder_, {"--passive"});
    ASSERT_TRUE(runner.started());
    ASSERT_TRUE(waitForText(folder_.file("Prot/PaspTabl.htm"), "</table>"));
    runner.signal(SIGINT);
    ASSERT_EQ(runner.wait(), 0) << runner.err();
    EXPECT_THAT(toUtf8(document("Prot/12345678/Prot.htm")), EndsWith(" Работа закончена\r\n"));
}

TEST_F(RunnerThreadTest, StopAfterCountsTheScaledClock) {
    // 20 s of the clock at 10 times real time: 2 s.
    Runner runner(folder_, {"--passive", "--stop-after", "20"});
    ASSERT_TRUE(runner.started());
    ASSERT_EQ(runner.wait(), 0) << runner.err();
    std::string protocol = document("Prot/12345678/Prot.htm");
    EXPECT_THAT(toUtf8(protocol), EndsWith(" Работа закончена\r\n"));
    // The end is written 20 s of the clock after the start, not before. The header's time
    // is taken once the analyzer and the modem are up, which takes a few seconds of this
    // fast clock (more in the sanitizer builds). And it counts the clock, not real
    // seconds: those would put the end 200 s of the clock after the start. (Between the
    // two, the end's lateness is the machine's: a run held off the processor for 0.4 s
    // has lost 4 s of this clock before the shared clock slows down.)
    auto at = [&](std::size_t pos) {
        return std::stoi(protocol.substr(pos, 2)) * 3600 +
               std::stoi(protocol.substr(pos + 3, 2)) * 60 + std::stoi(protocol.substr(pos + 6, 2));
    };
    std::size_t start = protocol.find("<p>") + 3;
    std::size_t end = protocol.rfind("<br>") + 4;
    int seconds = (at(end) - at(start) + 86400) % 86400;
    EXPECT_GE(seconds, 14);
    EXPECT_LT(seconds, 200);
}

TEST_F(RunnerThreadTest, ADocumentThatCannotBeOpenedEndsThroughTheEndMessage) {
    ASSERT_TRUE(makeFolder(folder_.file("Prot")));
    ASSERT_TRUE(makeFolder(folder_.file("Prot/12345678")));
    ASSERT_TRUE(makeFolder(folder_.file("Prot/12345678/Rest.htm")));
    Runner runner(folder_, {"--passive"});
    ASSERT_TRUE(runner.started());
    EXPECT_EQ(runner.wait(), 3);
    EXPECT_EQ(runner.err(), "[Ошибка] Не могу открыть файл результатов измерений\n");
    // The run ended without the operator's closing lines.
    EXPECT_THAT(toUtf8(document("Prot/12345678/Prot.htm")), EndsWith(" Пассивный старт"));
}

TEST_F(RunnerThreadTest, InvalidIdentifierIsReportedAndTheRunGoesOn) {
    folder_.write("Vetlina.ini", "[VETLINA]\r\nIdent=1234567x\r\n" + ports_);
    Runner runner(folder_, {"--passive", "--stop-after", "0"});
    ASSERT_TRUE(runner.started());
    EXPECT_EQ(runner.wait(), 0);
    EXPECT_EQ(runner.err(),
              "[Ошибка] Неверный идентификатор комплекса 1234567x или нет файла .INI\n");
    EXPECT_TRUE(fileExists(folder_.file("Prot/1234567x/Prot.htm")));
}

TEST_F(RunnerThreadTest, UsageErrorsAndScenariosThatCannotRun) {
    Runner noMode(folder_, {"--trace"});
    EXPECT_EQ(noMode.wait(), 2);
    EXPECT_THAT(noMode.err(), HasSubstr("usage: vetlina-run"));

    Runner missing(folder_, {"--active", "SCN/none.scn"});
    EXPECT_EQ(missing.wait(), 2);
    EXPECT_THAT(missing.err(), StartsWith("[Ошибка] "));
    EXPECT_FALSE(folderExists(folder_.file("Prot")));

    // A scenario file of no entries: "01.12.99" and N = 0.
    folder_.write("empty.scn", std::string("01.12.99") + std::string(4, '\0'));
    Runner empty(folder_, {"--active", "empty.scn"});
    EXPECT_EQ(empty.wait(), 2);
    EXPECT_EQ(empty.err(), "[Ошибка] Нет сценария\n");
}

} // namespace
} // namespace vetlina
