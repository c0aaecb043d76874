// The command line of vetlina-run and its message boxes without an operator.
#include "cli/RunArguments.h"

#include "cli/HeadlessDialogs.h"
#include "platform/Cp1251.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace vetlina {
namespace {

RunArguments parsed(const std::vector<std::string>& args) {
    auto result = parseRunArguments(args);
    if (auto* error = std::get_if<std::string>(&result)) {
        ADD_FAILURE() << *error;
        return {};
    }
    return std::get<RunArguments>(result);
}

std::string usageError(const std::vector<std::string>& args) {
    auto result = parseRunArguments(args);
    auto* error = std::get_if<std::string>(&result);
    return error ? *error : "";
}

TEST(RunArgumentsTest, ModesWithTheirScenario) {
    EXPECT_EQ(parsed({"--passive"}).mode, StartMode::Passive);
    RunArguments active = parsed({"--active", "SCN/a.scn"});
    EXPECT_EQ(active.mode, StartMode::Active);
    EXPECT_EQ(active.scenarioFile, "SCN/a.scn");
    EXPECT_EQ(parsed({"--restart", "b.scn"}).mode, StartMode::Restart);
}

TEST(RunArgumentsTest, EveryOptionAndSwitch) {
    RunArguments run =
        parsed({"--passive", "--trace", "--option", "save-results", "--option", "save-stats",
                "--option", "stop-on-norms", "--option", "simple-generator", "--answer", "yes",
                "--exit-when-done", "--stop-after", "2.5"});
    EXPECT_TRUE(run.trace);
    EXPECT_TRUE(run.saveResults);
    EXPECT_TRUE(run.saveStatistics);
    EXPECT_TRUE(run.stopOnNorms);
    EXPECT_TRUE(run.simpleGenerator);
    EXPECT_TRUE(run.answerYes);
    EXPECT_TRUE(run.exitWhenDone);
    EXPECT_EQ(run.stopAfter, 2.5);
}

TEST(RunArgumentsTest, DefaultsLeaveEverythingOffAndAnswerNo) {
    RunArguments run = parsed({"--passive"});
    EXPECT_FALSE(run.trace || run.saveResults || run.saveStatistics || run.stopOnNorms ||
                 run.simpleGenerator || run.answerYes || run.exitWhenDone);
    EXPECT_FALSE(run.stopAfter.has_value());
    EXPECT_FALSE(parsed({"--passive", "--answer", "no"}).answerYes);
}

TEST(RunArgumentsTest, UsageErrors) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {},
             {"--trace"},
             {"--passive", "--active", "a.scn"},
             {"--active"},
             {"--restart", ""},
             {"--passive", "--option"},
             {"--passive", "--option", "save-everything"},
             {"--passive", "--answer", "maybe"},
             {"--passive", "--answer"},
             {"--passive", "--stop-after"},
             {"--passive", "--stop-after", "-1"},
             {"--passive", "--stop-after", "ten"},
             {"--passive", "--stop-after", "5s"},
             {"--passive", "--stop-after", "nan"},
             {"--passive", "--stop-after", "inf"},
             {"--passive", "--stop-after", "1e300"},
             {"--passive", "/d"},
         }) {
        EXPECT_NE(usageError(args), "") << ::testing::PrintToString(args);
    }
}

TEST(HeadlessDialogsTest, MessagesAndQuestionsAsTitleAndTextInUtf8) {
    std::ostringstream err;
    HeadlessDialogs no(err, false);
    no.showMessage("Ошибка"_cp, "Не могу открыть файл протокола"_cp, DialogIcon::Warning);
    EXPECT_EQ(no.ask(" Папка DATA"_cp, "Удалить?\r\n\r\nДа"_cp, DialogIcon::Question,
                     DialogButtons::YesNo),
              DialogAnswer::No);
    HeadlessDialogs yes(err, true);
    EXPECT_EQ(yes.ask("Модем"_cp, "Записать?"_cp, DialogIcon::Question, DialogButtons::YesNo),
              DialogAnswer::Yes);
    EXPECT_EQ(err.str(), "[Ошибка] Не могу открыть файл протокола\n"
                         "[ Папка DATA] Удалить?\n\nДа -> no\n"
                         "[Модем] Записать? -> yes\n");
}

TEST(HeadlessDialogsTest, TerminalTextTurnsLineBreaksIntoNewlines) {
    EXPECT_EQ(textForTerminal("a\r\nb\rc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(textForTerminal("Вызов"_cp), "Вызов");
    // Texts from the far complex and the modem cannot steer the terminal: escape
    // sequences, bells, backspaces, tabs, NUL and DEL become '?'.
    EXPECT_EQ(textForTerminal(std::string("\x1b]0;x\x07 \x1b[2J\b\t\0\x7f.", 16)),
              "?]0;x? ?[2J????.");
    std::ostringstream err;
    HeadlessDialogs dialogs(err, false);
    dialogs.showMessage("\x1b[31m", "Ident \x1b[2Jx\r\ny", DialogIcon::Error);
    EXPECT_EQ(err.str(), "[?[31m] Ident ?[2Jx\ny\n");
}

} // namespace
} // namespace vetlina
