// vetlina-run with the simulated ZMK-5: the run brings its analyzer up and names it in
// the protocol header, and every way the analyzer can fail ends the run cleanly through
// the end message (exit status 3), the operator told once.
#include "RunProcess.h"
#include "SimProcess.h"
#include "TempFolder.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>

namespace vetlina {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

constexpr double kScale = 20.0;

// vetlina-run --passive in the folder.
class Runner : public test::RunProcess {
public:
    Runner(const test::TempFolder& folder, std::vector<std::string> extra = {})
        : RunProcess(folder, passive(std::move(extra)), std::to_string(kScale)) {}

private:
    static std::vector<std::string> passive(std::vector<std::string> extra) {
        extra.insert(extra.begin(), "--passive");
        return extra;
    }
};

class ZmkRunThreadTest : public ::testing::Test {
protected:
    // One station per way the analyzer can fail, besides a sound one.
    ZmkRunThreadTest()
        : sim_({{"stations",
                 {station("A", "1001", json::object()),
                  station("B", "1002", {{"noHandshakeReply", json::object()}}),
                  station("C", "1003", {{"wrongIdentification", json::object()}}),
                  station("D", "1004", {{"noCalibration", json::object()}}),
                  station("E", "1005", {{"switchedOff", {{"fromS", 8}}}})}}},
               simFolder_.path(), kScale, /*sharedClock=*/true) {}

    static json station(const char* name, const char* number, json faults) {
        return {{"name", name},
                {"type", "complex"},
                {"number", number},
                // The modem holds the stored profile the program writes.
                {"modem", {{"port", 0}, {"storedProfile", "M0S0=2&D2&S1V0\\N2\\V1S7=60S37=4"}}},
                {"analyzer",
                 {{"port", 0}, {"serialNumber", 1234}, {"firmware", 305}, {"faults", faults}}}};
    }
    // The complex's configuration: its analyzer on COM2, the station's.
    void configure(const std::string& station, int speed = 115200) {
        folder_.write(
            "Vetlina.ini",
            "[VETLINA]\r\nIdent=12345678\r\nZMKPort=2\r\nZMKSpeed=" + std::to_string(speed) +
                "\r\n[PORTS]\r\nCOM1=rfc2217://127.0.0.1:" +
                std::to_string(sim_.port(station, "modem")) + "\r\nCOM2=rfc2217://127.0.0.1:" +
                std::to_string(sim_.port(station, "analyzer")) + "\r\n");
    }
    std::string protocol() {
        return toUtf8(readWholeFile(folder_.file("Prot/12345678/Prot.htm")).value_or(""));
    }
    // A run that ended through the analyzer's failure: status 3, the one box on stderr.
    void expectEndedBy(Runner& runner, const std::string& text) {
        EXPECT_EQ(runner.wait(), 3) << runner.err();
        EXPECT_EQ(runner.err(), "[ Анализатор ZMK-5] " + text + "\n");
        EXPECT_THAT(runner.out(), HasSubstr(text));
    }

    test::TempFolder folder_;
    test::TempFolder simFolder_;
    test::SimProcess sim_;
};

TEST_F(ZmkRunThreadTest, TheRunBringsItsAnalyzerUpAndNamesItInTheProtocolHeader) {
    configure("A");
    Runner runner(folder_);
    // Once the modem thread waits for calls and the analyzer has switched its line
    // off (its first step after the start-up), the operator ends the run.
    ASSERT_TRUE(test::waitForText(folder_.file("Prot/12345678/Prot.htm"), "Жду звонка"_cp));
    ASSERT_TRUE(test::waitReal(
        [&] {
            for (const auto& c : sim_.events("analyzer-command", "A"))
                if (c["code"] == 15)
                    return true;
            return false;
        },
        10000));
    runner.signal(SIGTERM);
    EXPECT_EQ(runner.wait(), 0) << runner.err();
    EXPECT_EQ(runner.err(), "");
    EXPECT_THAT(runner.out(), ::testing::StartsWith("COM2: ZMK-5 инициализирован\n"));
    EXPECT_THAT(protocol(), HasSubstr("\r\nCom2: Анализатор Kerat ZMK-5 Сер.номер 1234 F.305"
                                      "</pre><p>"));
    // Put to rest at the end: generator off and the reset, then the port closed.
    ASSERT_TRUE(
        test::waitReal([&] { return sim_.events("analyzer-reset", "A").size() >= 2; }, 5000));
    sim_.stop();
    const auto resets = sim_.events("analyzer-reset", "A");
    EXPECT_EQ(resets[0]["cause"], "ESC H000");
    // The analyzer took exactly the calibration request and the switch-off.
    const auto commands = sim_.events("analyzer-command", "A");
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1]["code"], 15);
    EXPECT_EQ(commands[1]["mode"], 0);
}

TEST_F(ZmkRunThreadTest, EveryStartUpFailureEndsTheRunBeforeAnyDocumentIsOpened) {
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"B", 115200, "COM2: Анализатор не отвечает на команды, нужно повторное включение"},
        {"C", 115200, "Отказ анализатора\r\n\r\nВозможно, требуется повторное включение питания"},
        {"D", 115200, "Анализатор не имеет калибровочных данных"},
        {"A", 9600, "COM2: Недопустимая скорость обмена"},
    };
    for (const auto& [station, speed, text] : cases) {
        SCOPED_TRACE(station);
        configure(station, speed);
        Runner runner(folder_);
        EXPECT_EQ(runner.wait(), 3) << runner.err();
        // The headless front end prints the box's line breaks as plain new lines.
        EXPECT_EQ(runner.err(), "[ Анализатор ZMK-5] " +
                                    std::regex_replace(text, std::regex("\r\n"), "\n") + "\n");
        EXPECT_FALSE(fileExists(folder_.file("Prot/12345678/Prot.htm")));
    }
    // A port nobody serves: the runner names the device it tried before the system's box.
    folder_.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\nZMKPort=2\r\n[PORTS]\r\n"
                                 "COM2=rfc2217://127.0.0.1:1\r\n");
    Runner runner(folder_);
    EXPECT_EQ(runner.wait(), 3);
    EXPECT_THAT(runner.err(),
                ::testing::MatchesRegex("vetlina-run: COM2: cannot open \"rfc2217://127.0.0.1:1\" "
                                        "\\(key COM2 of \\[PORTS\\] in Vetlina.ini\\): [^\n]+\n"
                                        "\\[ Анализатор ZMK-5\\] COM2: недоступен\n"));
}

TEST_F(ZmkRunThreadTest, AnAnalyzerSwitchedOffDuringTheRunEndsItWithItsEventLine) {
    configure("E");
    Runner runner(folder_);
    expectEndedBy(runner, "Отключение анализатора");
    // In the protocol document as the last event line of the run. The modem thread,
    // waiting for a call meanwhile, announces its wait again whenever its step runs again
    // after another line came last (any line from its modem but a ring or a connection
    // runs the step again): that one announcement may follow, nothing else.
    EXPECT_TRUE(std::regex_search(
        protocol(), std::regex("Пассивный старт<br>[\\s\\S]*<br>[0-9]{2}:[0-9]{2}:[0-9]{2} "
                               "Отключение анализатора\r\n"
                               "(<br>\r\n<br>[0-9]{2}:[0-9]{2}:[0-9]{2} Жду звонка\r\n)?$")))
        << protocol();
}

} // namespace
} // namespace vetlina
