// The main window driven as the operator drives it: typing, clicking, choosing
// commands; what it stores is checked in the scenario and its files.
#include "GuiTestSupport.h"
#include "editor/EditorFields.h"
#include "gui/ComplexListModel.h"
#include "platform/Cp1251.h"
#include "scenario/ScenarioFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <fstream>
#include <gtest/gtest.h>

namespace vetlina::test {
namespace {

std::string utf8(const std::string& cp1251) {
    return toUtf8(cp1251);
}

TEST(MainWindowTest, ARefusedValueBringsItsPageToFrontAndKeepsTheField) {
    WindowFixture w;
    w.form->pages()->setCurrentIndex(0);
    w.typeField("SinShift", QStringLiteral("10.04"));
    ASSERT_EQ(w.dialogs.texts().size(), 1u);
    EXPECT_EQ(w.dialogs.texts()[0], "       '10.04' - ошибка :\r\rдопустимо число от 0.0 до 10.0");
    EXPECT_EQ(w.form->pages()->currentIndex(), static_cast<int>(EditorPage::Norms1));
    EXPECT_EQ(w.form->scenario().current().sinShift.get(), 5.0f);

    w.typeField("SinShift", QStringLiteral("9.96"));
    EXPECT_EQ(w.shown("SinShift"), QStringLiteral("  10.0"));
    EXPECT_EQ(w.form->scenario().current().sinShift.get(), 9.96f);
    w.typeField("SinSNR", QStringLiteral("*"));
    EXPECT_EQ(w.shown("SinSNR"), QStringLiteral("   *"));
    EXPECT_EQ(w.dialogs.texts().size(), 1u);

    // The coupled field follows on the page.
    w.typeField("NumTotal", QStringLiteral("2"));
    EXPECT_EQ(w.shown("NumMin"), QStringLiteral("   2"));
    w.typeField("MaxLev", QStringLiteral("-20"));
    w.typeField("MinLev", QStringLiteral("-10"));
    EXPECT_EQ(w.dialogs.texts().back(),
              "       '-10' - ошибка :\r\rдопустимо целое число от -100 до -20");
}

TEST(MainWindowTest, TheTotalsOfASessionWithEveryGroupOff) {
    WindowFixture w;
    w.typeField("NumTotal", QStringLiteral("1"));
    w.form->pages()->setCurrentIndex(static_cast<int>(EditorPage::Measurements));
    for (const EditorCheck& c : editorChecks()) {
        QCheckBox* box = w.form->checkBox(c.name);
        ASSERT_NE(box, nullptr) << c.name;
        if (c.group != MeasureGroup::None && box->isChecked())
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
    }
    EXPECT_EQ(w.form->totalLabel(0)->text(), QStringLiteral("00:00:47"));
    EXPECT_EQ(w.form->totalLabel(1)->text(), QStringLiteral("00:01:00"));
    EXPECT_TRUE(w.form->totalLabel(2)->text().isEmpty());
    // The groups' generator rows are switched off with them.
    EXPECT_FALSE(w.form->pair("SinLev")->edit()->isEnabled());
    EXPECT_TRUE(w.form->checkBox("CheckSinSNR")->isEnabled());
}

TEST(MainWindowTest, ATemplateGoesIntoTheSelectedComplex) {
    WindowFixture w;
    w.typeField("SinFreq", QStringLiteral("2400"));
    w.files.save = w.folder.file("t.pat");
    w.form->SpeedSaveTempClick();
    w.typeField("SinFreq", QStringLiteral("1000"));
    for (const char* id : {"11111111", "22222222"}) {
        w.type(w.edit("EditId"), QString::fromLatin1(id));
        QTest::keyClicks(w.edit("EditNum"), QStringLiteral("100"));
        QTest::keyClick(w.edit("EditNum"), Qt::Key_Return);
    }
    ASSERT_EQ(w.form->scenario().count(), 2);
    w.form->listBox()->setCurrentIndex(w.form->listBox()->model()->index(0, 0));
    EXPECT_EQ(w.form->scenario().currentIndex(), 0);
    w.files.open = w.folder.file("t.pat");
    w.form->SpeedOpenTempClick();
    EXPECT_EQ(w.shown("SinFreq"), QStringLiteral("  2400"));
    EXPECT_EQ(w.form->scenario().entry(0).SinFreq.get(), 2400);
    EXPECT_EQ(w.form->scenario().entry(1).SinFreq.get(), 1000);
}

TEST(MainWindowTest, ClosingWithUnsavedChangesAsksFirst) {
    WindowFixture w;
    w.type(w.edit("EditId"), QStringLiteral("12345678"));
    QTest::keyClicks(w.edit("EditNum"), QStringLiteral("t123*#"));
    QTest::keyClick(w.edit("EditNum"), Qt::Key_Return);
    ASSERT_EQ(w.form->scenario().count(), 1);
    EXPECT_TRUE(w.form->action("SpeedStart")->isEnabled());

    w.dialogs.answerNext(DialogAnswer::Cancel);
    EXPECT_FALSE(w.form->close());
    EXPECT_TRUE(w.form->isVisible());
    EXPECT_EQ(w.dialogs.texts().back(), "        Сохранить текущий сценарий ?");

    w.files.save = w.folder.file("a.scn");
    w.dialogs.answerNext(DialogAnswer::Yes);
    EXPECT_TRUE(w.form->close());
    EXPECT_EQ(w.folder.read("a.scn").size(), kScenarioHeaderSize + kEntrySize);
}

// The same scenario made twice: typed into the window and saved, and described as JSON
// for the file tool; the two files are the same to the byte.
TEST(MainWindowTest, AScenarioEditedInTheWindowIsTheFileToolsScenario) {
    WindowFixture w;
    w.type(w.edit("EditDate"), QStringLiteral("01.03.2027"));
    w.type(w.edit("EditBegTime"), QStringLiteral("08:00:00"));
    w.type(w.edit("EditEndTime"), QStringLiteral("20:30:00"));
    w.typeField("SinSNR", QStringLiteral("*"));
    w.typeField("SinShift", QStringLiteral("9.96"));
    EXPECT_EQ(w.form->scenario().current().sinShift.get(), 9.96f);
    w.typeField("NumTotal", QStringLiteral("2"));
    w.typeField("SinTime", QStringLiteral("00:01:00"));
    w.typeField("SincTime", QStringLiteral("5"));
    w.typeField("MaxLev", QStringLiteral("-20"));
    w.typeField("Del3", QStringLiteral("-150"));
    w.type(w.edit("EditAT"), QStringLiteral("X4"));
    QCheckBox* o42 = w.form->checkBox("CheckO42Dis2");
    w.form->pages()->setCurrentIndex(static_cast<int>(EditorPage::Measurements));
    QTest::mouseClick(o42, Qt::LeftButton, {}, QPoint(4, o42->height() / 2));
    for (auto [id, number] : {std::pair{"12345678", "t123*#"}, std::pair{"123456x8", "8w123"}}) {
        w.type(w.edit("EditId"), QString::fromLatin1(id));
        QTest::keyClicks(w.edit("EditNum"), QString::fromLatin1(number));
        QTest::keyClick(w.edit("EditNum"), Qt::Key_Return);
    }
    w.files.save = w.folder.file("window.scn");
    w.form->SpeedSaveScenClick();
    EXPECT_TRUE(w.dialogs.texts().empty());

    const std::string settings =
        R"("BegTime": "01.03.2027 08:00:00", "EndTime": "01.03.2027 20:30:00", "AT": "X4",
           "NumMin": 2, "NumTotal": 2, "SinTime": 60, "SincTime": 10, "MaxLev": -20,
           "norms": {"sinSNR": {"on": 1, "value": -999}, "sinShift": {"on": 1, "value": 9.96},
                     "o42Dis2": {"on": 0, "value": 1.5}},
           "Del": [2000, 1200, -150, 700, 400, 200, 100, 100, 100, 200, 300, 500, 1200, 2000])";
    std::ofstream(w.folder.file("tool.json"))
        << R"({"version": "01.12.99", "entries": [{"Id": "12345678", "Number": "t123*#", )"
        << settings << R"(}, {"Id": "123456x8", "Number": "8w123", )" << settings << "}]}";
    QProcess tool;
    tool.setWorkingDirectory(QString::fromStdString(w.folder.path()));
    tool.start(QStringLiteral(VETLINA_BINARY_DIR "/src/cli/vetlina-data"),
               {"scn", "make", "tool.json", "-o", "tool.scn"});
    ASSERT_TRUE(tool.waitForFinished(60000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    const std::string made = w.folder.read("tool.scn");
    const std::string saved = w.folder.read("window.scn");
    ASSERT_EQ(saved.size(), made.size());
    for (std::size_t i = 0; i < saved.size(); ++i)
        ASSERT_EQ(saved[i], made[i]) << "first difference at byte " << i << " (offset "
                                     << (i - kScenarioHeaderSize) % kEntrySize << " of an entry)";
}

TEST(MainWindowTest, AnInvalidIdentifierIsReportedWhenTheWindowFirstAppears) {
    WindowFixture w("1234567x");
    QTRY_COMPARE_WITH_TIMEOUT(int(w.dialogs.texts().size()), 1, 30000);
    EXPECT_EQ(w.dialogs.texts()[0], "Неверный идентификатор комплекса 1234567x или нет файла .INI");
    EXPECT_EQ(utf8(w.form->editor().caption()), "ЛИРС 1234567x");
}

TEST(MainWindowTest, EveryFieldAndCheckBoxOfTheTablesIsOnAPage) {
    WindowFixture w;
    for (const EditorField& f : editorFields()) {
        ASSERT_NE(w.form->pair(f.name), nullptr) << f.name;
        EXPECT_EQ(w.form->pair(f.name)->edit()->objectName(),
                  QStringLiteral("Edit") + QString::fromLatin1(f.name));
    }
    for (const EditorCheck& c : editorChecks())
        EXPECT_NE(w.form->checkBox(c.name), nullptr) << c.name;
}

TEST(MainWindowTest, TheModemSetUpGoesThroughTheModemCode) {
    WindowFixture w;
    w.folder.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\nModemPort=3\r\n"
                                  "[PORTS]\r\nCOM3=" +
                                      w.folder.file("no-such-tty") + "\r\n");
    w.form->action("ModemSetup")->trigger();
    bool reported = false;
    for (const RecordedDialog& d : w.dialogs.seen())
        reported = reported || (d.title == "Модем" && d.text.rfind("COM3: ", 0) == 0);
    EXPECT_TRUE(reported) << (w.dialogs.texts().empty() ? "" : w.dialogs.texts().back());
}

TEST(MainWindowTest, MenuOptionsAreKeptPerMachine) {
    QSettings settings(QStringLiteral("Orvelkan"), QStringLiteral("Vetlina"));
    settings.clear();
    settings.sync();
    {
        WindowFixture w;
        EXPECT_TRUE(w.form->action("Tools")->isChecked());
        w.form->action("StopOnNorms")->setChecked(true);
        w.form->action("Tools")->trigger();
        w.form.reset();
    }
    settings.sync();
    EXPECT_TRUE(settings.value(QStringLiteral("StatForm/Stop")).toBool());
    EXPECT_FALSE(settings.value(QStringLiteral("MainForm/Tools")).toBool());
    {
        WindowFixture again;
        EXPECT_TRUE(again.form->action("StopOnNorms")->isChecked());
        EXPECT_FALSE(again.form->action("Tools")->isChecked());
    }
    settings.clear();
}

} // namespace
} // namespace vetlina::test
