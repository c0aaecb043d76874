// vetlina-data ini check: what the program reads from a Vetlina.ini, and the mistakes
// an administrator makes when writing one; and the runner's line for a port that does
// not open.
#include "cli/IniCheck.h"

#include "cli/PortReports.h"
#include "cli/RunArguments.h"
#include "platform/Cp1251.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

bool onlyTtyUsb0(const std::string& device) {
    return device == "/dev/ttyUSB0";
}

IniCheckResult check(const std::string& text) {
    return checkIni(text, onlyTtyUsb0);
}

const std::string kGood = "[VETLINA]\r\n"
                          "; identifier of this complex\r\n"
                          "Ident=123456X8\r\n"
                          "User=" +
                          "Иванов"_cp +
                          "\r\n"
                          "ZMKPort=2\r\nModemPort=1\r\n"
                          "[TIMES]\r\nHangTime=120\r\n"
                          "[PORTS]\r\nCOM2=/dev/ttyUSB0\r\nCOM1=rfc2217://[::1]:7001\r\n";

TEST(IniCheckTest, AGoodFileListsEveryKeyAndBothPortsWithoutMistakes) {
    IniCheckResult result = check(kGood);
    EXPECT_EQ(result.mistakes, 0) << result.report;
    for (const char* line :
         {"  Ident=123456X8\n", "  User=Иванов\n", "  City=Москва    (not given: the default)\n",
          "  HangTime=120\n", "  PostTime=600    (not given: the default)\n",
          "  COM1=rfc2217://[::1]:7001\n", "  analyzer (ZMKPort=2): COM2 = \"/dev/ttyUSB0\"\n",
          "  modem (ModemPort=1): COM1 = \"rfc2217://[::1]:7001\", serial device server ::1, "
          "TCP port 7001\n",
          "Nothing looks wrong.\n"})
        EXPECT_THAT(result.report, HasSubstr(line));
}

TEST(IniCheckTest, EachMistakeIsNamedWithItsLine) {
    const struct {
        const char* name;
        std::string file;
        std::string expected;
    } cases[] = {
        {"inline comment on a port",
         "[VETLINA]\nIdent=12345678\n[PORTS]\nCOM2=/dev/ttyUSB0   ; a device path\n",
         "line 4: [PORTS] COM2: an inline comment \"; a device path\": the program keeps it as "
         "part of the value, which is \"/dev/ttyUSB0   ; a device path\""},
        {"a value that is only a comment", "[VETLINA]\nIdent=12345678\nModemInit=   ; extra\n",
         "line 3: [VETLINA] ModemInit: an inline comment \"; extra\""},
        {"UTF-8 text", "[VETLINA]\nIdent=12345678\nCity=Тверь\n",
         "line 3: [VETLINA] City: UTF-8 text \"Тверь\": Vetlina.ini is code page 1251"},
        {"a byte order mark", "\xEF\xBB\xBF[VETLINA]\nIdent=12345678\n",
         "line 1: the file begins with a UTF-8 byte order mark"},
        {"a short identifier", "[VETLINA]\nIdent=1234567\n",
         "line 2: [VETLINA] Ident: \"1234567\" is no identifier of a complex"},
        {"a lower-case x", "[VETLINA]\nIdent=123456x8\n", "\"123456x8\" is no identifier"},
        {"no identifier", "[VETLINA]\nCity=a\n",
         "\"??????x?\" is no identifier of a complex: "
         "8 characters, each a digit, the seventh may be "
         "a capital X (the key is missing)"},
        {"a long operator", "[VETLINA]\nIdent=12345678\nUser=" + std::string(40, 'u') + "\n",
         "line 3: [VETLINA] User: longer than 28 bytes: the program reads \"" +
             std::string(28, 'u') + "\""},
        {"a number with a unit", "[VETLINA]\nIdent=12345678\n[TIMES]\nPostTime=10min\n",
         "line 4: [TIMES] PostTime: text after the number: the program reads 10"},
        {"not a number", "[VETLINA]\nIdent=12345678\nZMKPort=two\n",
         "line 3: [VETLINA] ZMKPort: \"two\" is not a number: the program takes 2"},
        {"a speed the analyzer lacks", "[VETLINA]\nIdent=12345678\nZMKSpeed=9600\n",
         "line 3: [VETLINA] ZMKSpeed: 9600 is not a speed of the analyzer"},
        {"one port for both", "[VETLINA]\nIdent=12345678\nZMKPort=1\nModemPort=1\n",
         "line 4: [VETLINA] ZMKPort and ModemPort are both 1"},
        {"a misspelt key", "[VETLINA]\nIdent=12345678\nModemPrt=3\n",
         "line 3: [VETLINA] ModemPrt: the program knows no such key"},
        {"an unknown section", "[VETLINA]\nIdent=12345678\n[PORT]\nCOM2=/dev/ttyUSB0\n",
         "line 4: [PORT] COM2: the program reads no section [PORT]"},
        {"a key given twice", "[VETLINA]\nIdent=12345678\nident=87654321\n",
         "line 3: [VETLINA] ident: given again; the program takes the first one"},
        {"a line without =", "[VETLINA]\nIdent=12345678\nZMKPort 2\n",
         "line 3: the line is not read"},
        {"a malformed server", "[VETLINA]\nIdent=12345678\n[PORTS]\nCOM3=rfc2217://host\n",
         "line 4: [PORTS] COM3: \"rfc2217://host\" is not rfc2217://HOST:PORT"},
        {"a missing device", "[VETLINA]\nIdent=12345678\n[PORTS]\nCOM2=/dev/ttyACM0\n",
         "line 4: COM2 (the analyzer): there is no \"/dev/ttyACM0\" on this machine"},
        {"the default device", "[VETLINA]\nIdent=12345678\n",
         "COM2 (the analyzer): there is no \"/dev/ttyS1\" on this machine"},
        {"a relative path", "[VETLINA]\nIdent=12345678\n[PORTS]\nCOM1=ttyUSB1\n",
         "line 4: COM1: \"ttyUSB1\" is neither a device path"},
    };
    for (const auto& c : cases) {
        IniCheckResult result = check(c.file);
        EXPECT_GE(result.mistakes, 1) << c.name;
        EXPECT_THAT(result.report, HasSubstr(c.expected)) << c.name;
    }
}

TEST(IniCheckTest, InlineCommentsNeedABlankBeforeThem) {
    EXPECT_EQ(inlineCommentAt("/dev/ttyUSB0 ; x"), 13u);
    EXPECT_EQ(inlineCommentAt("; x"), 0u);
    EXPECT_EQ(inlineCommentAt("a\t# x"), 2u);
    EXPECT_EQ(inlineCommentAt("AT#CID=1;S7=60"), std::string::npos);
    EXPECT_EQ(inlineCommentAt("rfc2217://127.0.0.1:7001"), std::string::npos);
}

TEST(PortReportTest, TheFailureNamesTheDeviceItsSourceAndTheReason) {
    EXPECT_EQ(portOpenFailureLine(2, "/dev/ttyUSB0", true,
                                  "/dev/ttyUSB0: open: No such file or directory"),
              "vetlina-run: COM2: cannot open \"/dev/ttyUSB0\" (key COM2 of [PORTS] in "
              "Vetlina.ini): open: No such file or directory");
    EXPECT_EQ(portOpenFailureLine(1, "/dev/ttyS0", false, "/dev/ttyS0: open: Permission denied"),
              "vetlina-run: COM1: cannot open \"/dev/ttyS0\" (no key COM1 in [PORTS] of "
              "Vetlina.ini): open: Permission denied");
    std::string commented = portOpenFailureLine(2, "/dev/ttyUSB0   ; a device path", true,
                                                "/dev/ttyUSB0   ; a device path: open: No such");
    EXPECT_THAT(commented, HasSubstr("cannot open \"/dev/ttyUSB0   ; a device path\""));
    EXPECT_THAT(commented, HasSubstr("the value holds an inline comment"));
    EXPECT_THAT(portOpenFailureLine(1, "/dev/ttyS0", false, ""), Not(HasSubstr("inline")));
}

TEST(RunArgumentsTest, HelpWinsAndTheUsageErrorsStay) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"--passive", "--help"}, {"--active", "a.scn", "-h"}}) {
        auto parsed = parseRunArguments(args);
        ASSERT_TRUE(std::holds_alternative<RunArguments>(parsed));
        EXPECT_TRUE(std::get<RunArguments>(parsed).help);
    }
    EXPECT_FALSE(std::get<RunArguments>(parseRunArguments({"--passive"})).help);
    EXPECT_THAT(runHelp(), HasSubstr("--stop-after S"));
    EXPECT_THAT(runHelp(), HasSubstr(runUsage()));
}

} // namespace
} // namespace vetlina
