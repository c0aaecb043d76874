// The scenario editor's rules, driven as the window drives them: one handler call per
// control event, the messages recorded.
#include "editor/ScenarioEditor.h"

#include "RecordingDialogs.h"
#include "TempFolder.h"
#include "platform/Cp1251.h"
#include "scenario/ScenarioFiles.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

using test::RecordingDialogs;

class ScriptedFiles : public FileChooser {
public:
    std::optional<std::string> open, save;
    std::optional<std::string> chooseOpen(FileKind) override { return open; }
    std::optional<std::string> chooseSave(FileKind) override { return save; }
};

const EditorField& field(const char* name) {
    const EditorField* f = findEditorField(name);
    EXPECT_NE(f, nullptr) << name;
    return *f;
}
const EditorCheck& check(const char* name) {
    const EditorCheck* c = findEditorCheck(name);
    EXPECT_NE(c, nullptr) << name;
    return *c;
}

class ScenarioEditorTest : public ::testing::Test {
protected:
    ScenarioEditorTest() : scenario(defaultEntry(46000.5)), editor(scenario, dialogs, "12345678") {}

    std::string lastMessage() const {
        auto texts = dialogs.texts();
        return texts.empty() ? std::string() : texts.back();
    }
    FieldReply leave(const char* name, const char* utf8) {
        return editor.leaveField(field(name), toCp1251(utf8));
    }
    void uncheckAllBut(MeasureGroup keep) {
        for (const EditorCheck& c : editorChecks())
            if (c.group != MeasureGroup::None && c.group != keep)
                editor.setChecked(c, false);
    }

    RecordingDialogs dialogs;
    Scenario scenario;
    ScenarioEditor editor;
};

TEST(EntryRulesTest, IdentifiersAndDialNumbers) {
    struct {
        const char* id;
        bool valid;
    } ids[] = {{"12345678", true},   {"1234567X", false}, {"123456X8", true},
               {"123456x8", true},   {"12345X78", false}, {"1234567", false},
               {"123456789", false}, {"", false},         {"1234 678", false}};
    for (auto& c : ids)
        EXPECT_EQ(isValidEntryId(c.id), c.valid) << c.id;
    struct {
        const char* number;
        bool valid;
    } numbers[] = {{"t123*#", true},
                   {"123*", false},
                   {"8w123t*#", true},
                   {"8 495, 123-45!", true},
                   {"P9@W1", true},
                   {"T12abcdABCD", true},
                   {"12a", false},
                   {"12#", false},
                   {"12345678901234567890123456789012", true},
                   {"123456789012345678901234567890123", false},
                   {"12+3", false}};
    for (auto& c : numbers)
        EXPECT_EQ(isValidDialNumber(c.number), c.valid) << c.number;
}

TEST_F(ScenarioEditorTest, AddingRefusesABadIdentifierOrNumberWithItsMessage) {
    EXPECT_EQ(editor.addComplex("1234567X", "123"), AddOutcome::BadId);
    EXPECT_EQ(lastMessage(), "1234567X - неверный идентификатор");
    EXPECT_EQ(editor.addComplex("123456x7", "123*"), AddOutcome::BadNumber);
    EXPECT_EQ(lastMessage(), "123* - неверный номер");
    EXPECT_EQ(editor.addComplex("", "123"), AddOutcome::Nothing);
    EXPECT_EQ(scenario.count(), 0);
    EXPECT_FALSE(editor.canSave());
    EXPECT_EQ(editor.addComplex("123456x7", "t123*#"), AddOutcome::Added);
    EXPECT_EQ(scenario.listLine(0), "123456x7 # t123*#");
    EXPECT_TRUE(scenario.modified());
    EXPECT_TRUE(editor.canStartActive());
    EXPECT_FALSE(editor.sortEnabled());
    EXPECT_EQ(dialogs.seen().front().title, "Ошибка");
}

TEST_F(ScenarioEditorTest, NumMinAndNumTotalStayCoupled) {
    struct {
        const char* changed;
        const char* text;
        int numMin, numTotal; // before
        int wantMin, wantTotal;
    } cases[] = {
        {"NumTotal", "2", 3, 15, 2, 2},     {"NumTotal", "10", 1, 3, 3, 10},
        {"NumTotal", "4", 5, 15, 4, 4},     {"NumMin", "20", 3, 15, 20, 20},
        {"NumMin", "1", 3, 15, 3, 15},      {"NumTotal", "3", 3, 15, 3, 3},
        {"NumMin", "100", 3, 15, 100, 100},
    };
    for (auto& c : cases) {
        ScenarioEntry& e = scenario.current();
        e.NumMin = c.numMin;
        e.NumTotal = c.numTotal;
        EXPECT_TRUE(leave(c.changed, c.text).stored);
        EXPECT_EQ(e.NumMin.get(), c.wantMin) << c.changed << " " << c.text;
        EXPECT_EQ(e.NumTotal.get(), c.wantTotal) << c.changed << " " << c.text;
    }
    // The spin button couples the same way.
    scenario.current().NumMin = 3;
    scenario.current().NumTotal = 4;
    editor.spinPosition(field("NumTotal"));
    editor.spinClick(field("NumTotal"), -1);
    EXPECT_EQ(scenario.current().NumMin.get(), 3);
    EXPECT_EQ(scenario.current().NumTotal.get(), 3);
}

TEST_F(ScenarioEditorTest, StarMeansNoNormWhereANormMayBeLeftOpen) {
    FieldReply r = leave("SinSNR", "*");
    EXPECT_TRUE(r.stored);
    EXPECT_EQ(r.text, "   *");
    EXPECT_EQ(scenario.current().sinSNR.get(), kNoNorm);
    EXPECT_EQ(editor.spinPosition(field("SinSNR")), 35); // (70 - 0) / 2
    // A whole-number norm, and a decimal beyond its range with a star in it.
    EXPECT_EQ(leave("SinPulCnt", " *").text, "   *");
    EXPECT_EQ(scenario.current().sinPulCnt.get(), -999);
    EXPECT_EQ(leave("SinMod", "99*").text, "   *");
    EXPECT_TRUE(dialogs.seen().empty());

    // CapacFreq has no "no norm": the star is refused and the field keeps its value.
    r = leave("CapacFreq", "*");
    EXPECT_TRUE(r.refused);
    EXPECT_EQ(lastMessage(), "       '*' - ошибка :\r\rдопустимо число от 300.0 до 3400.0");
    EXPECT_EQ(scenario.current().CapacFreq.get(), 1800.0f);
    // A stored "no norm" shows as a star again.
    EXPECT_EQ(editor.shownText(field("SinSNR")), "   *");
}

TEST_F(ScenarioEditorTest, DecimalsAreReadFromTheirLeadingNumberAndCheckedExactly) {
    FieldReply r = leave("SinShift", "9.96");
    EXPECT_TRUE(r.stored);
    EXPECT_EQ(scenario.current().sinShift.get(), 9.96f);
    EXPECT_EQ(r.text, "  10.0");
    EXPECT_EQ(editor.spinPosition(field("SinShift")), 10);

    r = leave("SinShift", "10.04");
    EXPECT_TRUE(r.refused);
    EXPECT_EQ(lastMessage(), "       '10.04' - ошибка :\r\rдопустимо число от 0.0 до 10.0");
    EXPECT_EQ(scenario.current().sinShift.get(), 9.96f);

    EXPECT_EQ(leave("SinSNR", "abc").text, "   0.0");
    EXPECT_EQ(scenario.current().sinSNR.get(), 0.0f);
    EXPECT_TRUE(leave("EchoTalk", "abc").refused);
    EXPECT_EQ(scenario.current().echoTalk.get(), 23.0f);
    EXPECT_EQ(leave("SinLev", " -3,5dBm").text, "  -3.5");
}

TEST_F(ScenarioEditorTest, WholeNumbersAreStrictAndShownInTheirFormat) {
    EXPECT_EQ(leave("SinFreq", "  1020 ").text, "  1020");
    EXPECT_TRUE(leave("SinFreq", "1020Hz").refused);
    EXPECT_EQ(lastMessage(), "       '1020Hz' - ошибка :\r\rдопустимо целое число от 300 до 3400");
    EXPECT_TRUE(leave("LocalPaus", "0").refused);
    EXPECT_EQ(leave("EchoT", "15").text, " 15");
    // SincTime is kept in half-seconds.
    EXPECT_EQ(leave("SincTime", "4").text, "   4");
    EXPECT_EQ(scenario.current().SincTime.get(), 8);
    scenario.current().SincTime = 9;
    EXPECT_EQ(editor.shownText(field("SincTime")), "   4");
}

TEST_F(ScenarioEditorTest, MeasurementTimesKeepTheirMinimum) {
    FieldReply r = leave("SinTime", "00:00:10");
    EXPECT_TRUE(r.refused);
    EXPECT_EQ(lastMessage(), "Минимальное время измерения 20 сек");
    EXPECT_EQ(r.text, "00:00:20");
    EXPECT_EQ(scenario.current().SinTime.get(), 30.0);
    // Leaving it again stores the minimum it shows.
    EXPECT_TRUE(leave("SinTime", r.text.c_str()).stored);
    EXPECT_EQ(scenario.current().SinTime.get(), 20.0);

    EXPECT_TRUE(leave("O132Time", "0:0:10").stored);
    EXPECT_EQ(scenario.current().O132Time.get(), 10.0);
    const int messages = static_cast<int>(dialogs.seen().size());
    EXPECT_TRUE(editor.rowLabelEnabled(MeasureGroup::Echo));
    EXPECT_EQ(leave("EchoTime", "00:00:00").text, "00:00:00");
    EXPECT_EQ(static_cast<int>(dialogs.seen().size()), messages);
    EXPECT_FALSE(editor.rowLabelEnabled(MeasureGroup::Echo));
    EXPECT_FALSE(ScenarioEditor::durationLabelLit("00:00:00"));
    EXPECT_TRUE(ScenarioEditor::durationLabelLit("0:0:1"));

    EXPECT_TRUE(leave("BlkTime", "ten").refused);
    EXPECT_EQ(lastMessage(), "'ten' не время");
}

TEST_F(ScenarioEditorTest, FixedChoicesAndTheMeterLimits) {
    EXPECT_EQ(leave("EchoFreq", "1000").text, "  1600");
    EXPECT_EQ(lastMessage(), "       '1000' - ошибка :\r\rэхо измеряется только на 1600 Гц");
    EXPECT_TRUE(leave("O132Freq", "900").refused);
    EXPECT_EQ(lastMessage(), "       '900' - ошибка :\r\rдопустимы только частоты 820 / 1020 Гц");
    editor.spinPosition(field("O132Freq"));
    EXPECT_EQ(editor.spinClick(field("O132Freq"), -1).text, "   820");

    EXPECT_TRUE(leave("MaxLev", "10").refused);
    EXPECT_EQ(lastMessage(), "       '10' - ошибка :\r\rдопустимы только -20 / 0 / 20 дБм");
    SpinRange r = editor.spinRange(field("MinLev"));
    EXPECT_EQ(r.min, -80);
    EXPECT_EQ(r.max, 0);
    EXPECT_TRUE(leave("MaxLev", "-20").stored);
    r = editor.spinRange(field("MinLev"));
    EXPECT_EQ(r.min, -100);
    EXPECT_EQ(r.max, -20);
    EXPECT_EQ(scenario.current().MinLev.get(), -55);
    EXPECT_TRUE(leave("MinLev", "-100").stored);
    EXPECT_TRUE(leave("MaxLev", "20").stored);
    EXPECT_EQ(scenario.current().MinLev.get(), -60);
    EXPECT_TRUE(leave("MinLev", "-61").refused);
}

TEST_F(ScenarioEditorTest, SessionAndCycleTimes) {
    scenario.current().NumTotal = 1;
    scenario.current().NumMin = 1;
    uncheckAllBut(MeasureGroup::None);
    TimeTotals t = editor.totals();
    EXPECT_EQ(t.session, "00:00:47");
    EXPECT_EQ(t.cycle, "00:01:00");
    EXPECT_EQ(t.passport, "");

    // The sine signal alone: (SincTime 8 + 30 s) * 2 + 5, then 7 for the reconnection.
    editor.setChecked(check("CheckSinSNR"), true);
    EXPECT_EQ(editor.totals().sessionSeconds, 47 + (8 + 30) * 2 + 5 + 7);
    // Throughput adds its time and its set-up even without the electrical parameters.
    editor.setChecked(check("CheckAnalog"), false);
    editor.setChecked(check("CheckDisPass"), true);
    EXPECT_FALSE(editor.groupActive(MeasureGroup::Sine));
    EXPECT_TRUE(editor.groupActive(MeasureGroup::Throughput));
    EXPECT_EQ(editor.totals().sessionSeconds, 47 + 60 + 12);

    // A long cycle shows its days.
    editor.setChecked(check("CheckAnalog"), true);
    scenario.current().NumTotal = 100;
    scenario.current().SinTime = 3600.0;
    t = editor.totals();
    EXPECT_EQ(t.cycleSeconds, 100 * t.sessionSeconds + 99 * 10 + 13);
    EXPECT_EQ(t.cycle, durationText(t.cycleSeconds));
    EXPECT_EQ(toUtf8(t.cycle).substr(0, 5), "8д.+");

    // An autonomous generator: 245 s a session, its days shown "%d д. + ".
    editor.setComplexType(kGeneratorComplexType);
    t = editor.totals();
    EXPECT_EQ(t.session, "00:04:05");
    EXPECT_EQ(t.cycleSeconds, 100 * 245 + 99 * 10);
    EXPECT_EQ(t.cycle, "07:04:50");
}

TEST_F(ScenarioEditorTest, UncheckingAGroupsLastBoxSwitchesItsControlsOff) {
    const int64_t before = editor.totals().sessionSeconds;
    editor.setChecked(check("CheckMttAtt"), false);
    EXPECT_TRUE(editor.fieldEnabled(field("MTTSLev")));
    editor.setChecked(check("CheckMttDel"), false);
    EXPECT_FALSE(editor.fieldEnabled(field("MTTSLev")));
    EXPECT_FALSE(editor.fieldEnabled(field("MTTSTime")));
    // The boxes stay usable so that the group can be switched on again.
    EXPECT_TRUE(editor.checkEnabled(check("CheckMttAtt")));
    EXPECT_EQ(editor.totals().sessionSeconds, before - ((8 + 30) * 2 + 13));
    // A group with a zero time keeps its boxes only while its time edit is disabled.
    EXPECT_TRUE(leave("O42Time", "0:0:0").stored);
    EXPECT_FALSE(editor.checkEnabled(check("CheckO42Dis2")));
    EXPECT_TRUE(editor.fieldEnabled(field("ThRelPul")));
    editor.setAbsoluteThresholds(true);
    EXPECT_FALSE(editor.fieldEnabled(field("ThRelPul")));
    EXPECT_TRUE(editor.fieldEnabled(field("ThAbsInt")));
}

TEST_F(ScenarioEditorTest, AnAutonomousGeneratorRunsItsFixedProgramme) {
    scenario.current().SinLev = -12.0f;
    editor.setComplexType(kGeneratorComplexType);
    const ScenarioEntry& e = scenario.current();
    EXPECT_EQ(e.SinTime.get(), 60.0);
    EXPECT_EQ(e.O132Time.get(), 20.0);
    EXPECT_EQ(e.BlkTime.get(), 0.0);
    EXPECT_EQ(editor.shownText(field("SinLev")), "  -5.0");
    EXPECT_EQ(e.SinLev.get(), -12.0f); // shown only, not stored
    EXPECT_EQ(editor.shownText(field("MTTSLevR")), " -10.0");
    EXPECT_EQ(editor.shownText(field("EchoTime")), "00:01:00");
    EXPECT_FALSE(editor.generatorFrameEnabled());
    EXPECT_FALSE(editor.groupFrameEnabled(MeasureGroup::Noise));
    EXPECT_FALSE(editor.checkEnabled(check("CheckDisPass")));
    EXPECT_TRUE(editor.checkEnabled(check("CheckSinSNR")));
    editor.setComplexType(kFullComplexType);
    EXPECT_EQ(editor.shownText(field("SinLev")), " -12.0");
}

TEST_F(ScenarioEditorTest, DateAndTimeWindow) {
    EXPECT_TRUE(editor.leaveDate("01.02.2027").stored);
    EXPECT_EQ(editor.dateText(), "01.02.2027");
    EXPECT_EQ(editor.begTimeText(), "12:00:00");
    EXPECT_TRUE(editor.leaveBegTime("8:30").stored);
    EXPECT_TRUE(editor.leaveEndTime("06:00:00").stored);
    EXPECT_EQ(formatDateTime(scenario.current().BegTime.get()), "01.02.2027 08:30:00");
    EXPECT_EQ(formatDateTime(scenario.current().EndTime.get()), "01.02.2027 06:00:00");
    EXPECT_TRUE(editor.leaveDate("31.02.2027").refused);
    EXPECT_EQ(lastMessage(), "'31.02.2027' не дата");
    EXPECT_TRUE(editor.leaveEndTime("25:00").refused);
    EXPECT_EQ(lastMessage(), "'25:00' не время");
}

TEST_F(ScenarioEditorTest, ATemplateAppliesToTheSelectedComplexOnly) {
    test::TempFolder folder;
    ScriptedFiles files;
    // The settings of the default entry, saved as a template.
    EXPECT_TRUE(leave("SinFreq", "2000").stored);
    EXPECT_TRUE(leave("NumTotal", "7").stored);
    files.save = folder.file("t.pat");
    EXPECT_TRUE(editor.saveTemplateAs(files));

    // Two complexes made from other settings; the second has progress.
    EXPECT_TRUE(leave("SinFreq", "1000").stored);
    ASSERT_EQ(editor.addComplex("11111111", "1"), AddOutcome::Added);
    ASSERT_EQ(editor.addComplex("22222222", "2"), AddOutcome::Added);
    scenario.entry(1).SessionsDone = 4;
    scenario.entry(1).Finished = 1;
    scenario.entry(1).Calls = 9;

    editor.select(1);
    files.open = folder.file("t.pat");
    EXPECT_TRUE(editor.openTemplate(files));
    EXPECT_EQ(scenario.entry(1).SinFreq.get(), 2000);
    EXPECT_EQ(scenario.entry(1).NumTotal.get(), 7);
    EXPECT_EQ(scenario.entry(1).SessionsDone.get(), 0);
    EXPECT_EQ(scenario.entry(1).Finished, 0);
    EXPECT_EQ(textOf(scenario.entry(1).Id), "22222222");
    EXPECT_EQ(scenario.entry(0).SinFreq.get(), 1000);

    // With no line selected the template goes into the default entry, and the next
    // complex inherits it.
    editor.select(-1);
    EXPECT_TRUE(leave("SinFreq", "500").stored);
    EXPECT_TRUE(editor.openTemplate(files));
    ASSERT_EQ(editor.addComplex("33333333", "3"), AddOutcome::Added);
    EXPECT_EQ(scenario.entry(2).SinFreq.get(), 2000);
}

TEST_F(ScenarioEditorTest, UnsavedChangesAreOfferedForSavingOnClose) {
    test::TempFolder folder;
    ScriptedFiles files;
    EXPECT_TRUE(editor.closeQuery(files)); // nothing changed: no question
    EXPECT_TRUE(dialogs.seen().empty());

    ASSERT_EQ(editor.addComplex("12345678", "100"), AddOutcome::Added);
    dialogs.answerNext(DialogAnswer::Cancel);
    EXPECT_FALSE(editor.closeQuery(files));
    ASSERT_EQ(dialogs.seen().size(), 1u);
    EXPECT_EQ(dialogs.seen()[0].text, "        Сохранить текущий сценарий ?");
    EXPECT_EQ(dialogs.seen()[0].title, "");
    EXPECT_TRUE(dialogs.seen()[0].question);

    dialogs.answerNext(DialogAnswer::No);
    EXPECT_TRUE(editor.closeQuery(files));
    EXPECT_TRUE(scenario.modified());

    // Yes saves through the save dialog; a cancelled dialog still lets the window close.
    dialogs.answerNext(DialogAnswer::Yes);
    EXPECT_TRUE(editor.closeQuery(files));
    files.save = folder.file("a.scn");
    dialogs.answerNext(DialogAnswer::Yes);
    EXPECT_TRUE(editor.closeQuery(files));
    EXPECT_FALSE(scenario.modified());
    EXPECT_EQ(editor.caption(), toCp1251(" ЛИРС 12345678 :  a.scn"));
    EXPECT_EQ(folder.read("a.scn").size(), kScenarioHeaderSize + kEntrySize);

    // With no line selected the question is about the template.
    editor.select(-1);
    leave("SinFreq", "900");
    dialogs.clear();
    dialogs.answerNext(DialogAnswer::Cancel);
    EXPECT_FALSE(editor.closeQuery(files));
    EXPECT_EQ(dialogs.texts().at(0), "        Сохранить текущий шаблон ?");
}

TEST_F(ScenarioEditorTest, NewScenarioAndStartNeedTheirList) {
    ScriptedFiles files;
    EXPECT_FALSE(editor.mayStart(true));
    EXPECT_EQ(lastMessage(), "Нет сценария");
    EXPECT_TRUE(editor.mayStart(false));
    ASSERT_EQ(editor.addComplex("12345678", "100"), AddOutcome::Added);
    ASSERT_EQ(editor.addComplex("02345678", "200"), AddOutcome::Added);
    editor.setSorted(true);
    EXPECT_EQ(scenario.listLine(0), "02345678 # 200");
    EXPECT_EQ(scenario.currentIndex(), 0);
    dialogs.answerNext(DialogAnswer::No);
    EXPECT_TRUE(editor.newScenario(files));
    EXPECT_EQ(dialogs.texts().back(), "Сохранить текущий сценарий ?");
    EXPECT_EQ(scenario.count(), 0);
    EXPECT_FALSE(editor.canStartActive());
    EXPECT_EQ(editor.caption(), toCp1251("ЛИРС 12345678"));
}

TEST(ScenarioEditorIdentTest, AnInvalidComplexIdentifierIsReportedOnceWhenTheWindowAppears) {
    RecordingDialogs dialogs;
    Scenario scenario;
    ScenarioEditor editor(scenario, dialogs, "??????x?");
    EXPECT_FALSE(editor.complexIdValid());
    editor.firstShown();
    editor.firstShown();
    ASSERT_EQ(dialogs.texts().size(), 1u);
    EXPECT_EQ(dialogs.texts()[0], "Неверный идентификатор комплекса ??????x? или нет файла .INI");
}

} // namespace
} // namespace vetlina
