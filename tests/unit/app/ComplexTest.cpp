// Creation and destruction of the Complex of a run: the order of its steps, the stop
// at the first failure, the documents it opens and closes, and the protocol header.
#include "app/Complex.h"

#include "FileSizeLimit.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "WorkerDoubles.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "scenario/Scenario.h"
#include "scenario/ScenarioFiles.h"

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace vetlina {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr const char* kIni = "[VETLINA]\r\nIdent=12345678\r\nUser=Оператор\r\nCity=Тверь\r\n"
                             "ATS=АТСК\r\nZMKPort=4\r\nModemPort=3\r\n";

// A document that a second writer can lock again is closed.
bool documentClosed(const std::string& path) {
    File file = File::open(path, File::Mode::ReadWrite);
    return file.isOpen() && file.lockForWriting();
}

class ComplexTest : public ::testing::Test {
protected:
    ComplexTest() : cwd_(folder_.path()), factory_(log_) {
        folder_.write("Vetlina.ini", toCp1251(kIni));
        setNowForTesting(*encodeDateTime({2024, 3, 1, 12, 5, 9, 0}));
        setTimeScaleForTesting(1.0);
    }
    ~ComplexTest() override {
        setCurrentComplex(nullptr);
        setTimeScaleForTesting(1.0);
    }

    std::unique_ptr<Complex> makeComplex() {
        auto complex = std::make_unique<Complex>(ui_.bridge, factory_, scenario_, "12345678");
        setCurrentComplex(complex.get());
        return complex;
    }

    void destroy(std::unique_ptr<Complex>& complex) {
        complex.reset();
        setCurrentComplex(nullptr);
    }

    std::string read(const std::string& path) { return readWholeFile(path).value_or("<none>"); }

    test::TempFolder folder_;
    test::CurrentDirectory cwd_;
    test::TestUi ui_;
    test::WorkerLog log_;
    test::DoubleFactory factory_;
    Scenario scenario_;
};

TEST_F(ComplexTest, CreationStartsBothThreadsAfterTheDocumentsAndDestructionEndsThem) {
    auto complex = makeComplex();
    complex->create(ModemRole::Calling, "start");
    EXPECT_TRUE(complex->started());
    EXPECT_EQ(factory_.givenRole, ModemRole::Calling);
    EXPECT_TRUE(ui_.takeMessages().empty());
    for (const char* name :
         {"Prot/12345678/Prot.htm", "Prot/12345678/Pasp.htm", "Prot/12345678/Rest.htm",
          "Prot/12345678/Stat.htm", "Prot/PaspTabl.htm"}) {
        EXPECT_TRUE(fileExists(name)) << name;
        EXPECT_FALSE(documentClosed(name)) << name << " is not held by the run";
    }
    EXPECT_EQ(fieldText(complex->ownIdent), "12345678");
    EXPECT_EQ(toUtf8(fieldText(complex->ownUser)), "Оператор");
    EXPECT_EQ(toUtf8(fieldText(complex->ownCity)), "Тверь");
    EXPECT_EQ(toUtf8(fieldText(complex->ownAts)), "АТСК");
    EXPECT_EQ(fieldText(complex->peerIdent), "");
    EXPECT_TRUE(complex->statisticsHeaderDue);
    EXPECT_TRUE(complex->resultsHeaderDue);

    // Both threads are past their start before the teardown begins.
    ui_.bridge.serveUntil([&] { return log_.events().size() >= 4; });
    destroy(complex);
    EXPECT_EQ(test::checkLifecycle(log_.events(), {"analyzer", "modem"}, false), "");
    for (const char* name :
         {"Prot/12345678/Prot.htm", "Prot/12345678/Pasp.htm", "Prot/12345678/Rest.htm",
          "Prot/12345678/Stat.htm", "Prot/PaspTabl.htm"})
        EXPECT_TRUE(documentClosed(name)) << name;
}

TEST_F(ComplexTest, AnalyzerThatFailsStopsBeforeTheModemAndTheDocuments) {
    factory_.failAnalyzer = true;
    auto complex = makeComplex();
    complex->create(ModemRole::Answering, "start");
    EXPECT_FALSE(complex->started());
    EXPECT_THAT(ui_.takeMessages(), testing::Contains(MSG_RUN_END));
    EXPECT_FALSE(folderExists("Prot"));
    destroy(complex);
    EXPECT_EQ(test::checkLifecycle(log_.events(), {"analyzer"}, false), "");
}

TEST_F(ComplexTest, ModemThatFailsStopsBeforeTheDocuments) {
    factory_.failModem = true;
    auto complex = makeComplex();
    complex->create(ModemRole::Answering, "start");
    EXPECT_FALSE(complex->started());
    EXPECT_THAT(ui_.takeMessages(), testing::Contains(MSG_RUN_END));
    EXPECT_FALSE(folderExists("Prot"));
    destroy(complex);
    EXPECT_EQ(test::checkLifecycle(log_.events(), {"analyzer", "modem"}, false), "");
}

// Each document in turn cannot be opened (a folder stands where the file would be).
struct DocumentFailure {
    const char* blocked;
    const char* message;
    int opened; // how many documents before it are open
};

class ComplexDocumentFailureTest : public ComplexTest,
                                   public ::testing::WithParamInterface<DocumentFailure> {};

TEST_P(ComplexDocumentFailureTest, ClosesWhatWasOpenedAndNeverRunsAStep) {
    const char* const order[] = {"Prot/12345678/Prot.htm", "Prot/12345678/Pasp.htm",
                                 "Prot/12345678/Rest.htm", "Prot/12345678/Stat.htm",
                                 "Prot/PaspTabl.htm"};
    makeFolder("Prot");
    makeFolder("Prot/12345678");
    ASSERT_TRUE(makeFolder(GetParam().blocked));

    auto complex = makeComplex();
    complex->create(ModemRole::Calling, "start");
    EXPECT_FALSE(complex->started());
    EXPECT_THAT(ui_.takeMessages(), ElementsAre(MSG_RUN_END));
    EXPECT_THAT(ui_.dialogs.texts(), ElementsAre(GetParam().message));
    for (int i = 0; i < 5; ++i) {
        if (i < GetParam().opened) {
            EXPECT_FALSE(documentClosed(order[i])) << order[i] << " should be open";
        } else if (order[i] != std::string(GetParam().blocked)) {
            EXPECT_FALSE(fileExists(order[i])) << order[i] << " should not be opened";
        }
    }
    // The threads are stopped before they are resumed: neither performs a step.
    factory_.analyzer->SetCommand(AnalyzerCommand::MeterO132);
    factory_.modem->SetCommand(ModemCommand::ChooseAndDial);
    destroy(complex);
    for (int i = 0; i < GetParam().opened; ++i)
        EXPECT_TRUE(documentClosed(order[i])) << order[i];
    EXPECT_EQ(test::checkLifecycle(log_.events(), {"analyzer", "modem"}, false), "");
}

std::string documentName(const ::testing::TestParamInfo<DocumentFailure>& info) {
    std::string name = baseName(info.param.blocked);
    return name.substr(0, name.find('.'));
}

INSTANTIATE_TEST_SUITE_P(
    EachDocument, ComplexDocumentFailureTest,
    ::testing::Values(
        DocumentFailure{"Prot/12345678/Prot.htm", "Не могу открыть файл протокола", 0},
        DocumentFailure{"Prot/12345678/Pasp.htm", "Не могу открыть файл паспортов", 1},
        DocumentFailure{"Prot/12345678/Rest.htm", "Не могу открыть файл результатов измерений", 2},
        DocumentFailure{"Prot/12345678/Stat.htm", "Не могу открыть файл статистики", 3},
        DocumentFailure{"Prot/PaspTabl.htm",
                        "Не могу открыть сводную таблицу результатов измерений", 4}),
    documentName);

TEST_F(ComplexTest, HeaderNamesThePortsAndTheNumbersTheThreadsHold) {
    factory_.analyzerPort = 2;
    factory_.modemPort = 1;
    factory_.serial = 1234;
    factory_.firmware = -5;
    setModemIdentification(toCp1251("MDM-336 V.34"));
    auto complex = makeComplex();
    complex->create(ModemRole::Answering, "Пассивный старт"_cp);
    ASSERT_TRUE(complex->started());
    EXPECT_EQ(toUtf8(read("Prot/12345678/Prot.htm")),
              "<html>\r\n<h3 align=center>Протокол работы комплекса 12345678 от "
              "01.03.2024</h3><pre>СПО ЛИРС V2M50\r\nCom1: Модем MDM-336 V.34\r\nCom2: "
              "Анализатор Kerat ZMK-5 Сер.номер 1234 F.-5</pre><p>12:05:09 Пассивный старт");
    EXPECT_NEAR(complex->runStartTime, *encodeDateTime({2024, 3, 1, 12, 5, 9, 0}), 1.0 / 86400);
    destroy(complex);
    setModemIdentification("");
}

TEST_F(ComplexTest, WithoutThreadClassesTheHeaderShowsTheConfiguredPortsAndNoNumbers) {
    factory_.makeAnalyzer = false;
    factory_.makeModem = false;
    setModemIdentification(toCp1251("left from before"));
    auto complex = makeComplex();
    complex->create(ModemRole::Answering, "Пассивный старт"_cp);
    EXPECT_TRUE(complex->started());
    EXPECT_THAT(
        toUtf8(read("Prot/12345678/Prot.htm")),
        HasSubstr("\r\nCom3: Модем \r\nCom4: Анализатор Kerat ZMK-5 Сер.номер 0 F.0</pre>"));
    destroy(complex);
    setModemIdentification("");
}

TEST_F(ComplexTest, ASecondRunAppendsItsHeaderAfterTheFirstRun) {
    factory_.makeAnalyzer = factory_.makeModem = false;
    auto complex = makeComplex();
    complex->create(ModemRole::Answering, "first");
    complex->logEvent("line of the first run", false);
    destroy(complex);
    std::string first = read("Prot/12345678/Prot.htm");

    setNowForTesting(*encodeDateTime({2024, 3, 2, 8, 0, 0, 0}));
    complex = makeComplex();
    complex->create(ModemRole::Answering, "second");
    destroy(complex);
    std::string both = read("Prot/12345678/Prot.htm");
    ASSERT_THAT(both, StartsWith(first));
    EXPECT_THAT(both.substr(first.size()), StartsWith("<h3 align=center>"));
    EXPECT_THAT(both.substr(first.size()), HasSubstr("</pre><p>08:00:00 second"));
    EXPECT_EQ(both.find("<html>", 1), std::string::npos);
}

TEST_F(ComplexTest, CreationClearsTheCurrentScenarioEntry) {
    alignas(8) char placeholder[16];
    setCurrentEntry(reinterpret_cast<ScenarioEntry*>(placeholder));
    auto complex = makeComplex();
    EXPECT_EQ(currentEntry(), nullptr);
    destroy(complex);
}

TEST_F(ComplexTest, FailingProtocolWriteShowsItsMessageAndEndsTheRunOncePerLine) {
    factory_.makeAnalyzer = factory_.makeModem = false;
    auto complex = makeComplex();
    complex->create(ModemRole::Answering, "start");
    ASSERT_TRUE(complex->started());
    complex->logEvent("kept", false);
    std::string before = read("Prot/12345678/Prot.htm");
    {
        test::FileSizeLimit limit(before.size() + 5);
        complex->logEvent("lost one", true);
        complex->logBlankLine();
    }
    EXPECT_EQ(read("Prot/12345678/Prot.htm"), before) << "no torn line stays in the document";
    EXPECT_THAT(ui_.dialogs.texts(), ElementsAre("Невозможна запись в файл протокола",
                                                 "Невозможна запись в файл протокола"));
    EXPECT_EQ(ui_.dialogs.seen()[0].title, "Ошибка");
    EXPECT_EQ(ui_.dialogs.seen()[0].icon, DialogIcon::Warning);
    EXPECT_THAT(ui_.takeMessages(), ElementsAre(MSG_RUN_END, MSG_RUN_END));
    // The window still shows the lines; the document stays open for the lines that follow.
    EXPECT_THAT(ui_.protocolLines(), ElementsAre("12:05:09 kept", "12:05:09 lost one", ""));
    complex->logEvent("after", false);
    EXPECT_EQ(read("Prot/12345678/Prot.htm"), before + "<br>12:05:09 after\r\n");
    destroy(complex);
}

TEST_F(ComplexTest, ProgressIsSavedToTheScenarioFile) {
    ASSERT_TRUE(scenario_.append("00000201", "201"));
    scenario_.setFileName("progress.scn");
    auto complex = makeComplex();
    complex->create(ModemRole::Calling, "start");
    scenario_.entry(0).SessionsDone = 3;
    EXPECT_TRUE(complex->saveProgress());
    EntryArray back;
    ASSERT_EQ(readScenarioFile("progress.scn", back).status, FileStatus::Ok);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(static_cast<int32_t>(back[0].SessionsDone), 3);
    EXPECT_TRUE(ui_.takeMessages().empty());
    destroy(complex);
}

TEST_F(ComplexTest, ProgressThatCannotBeSavedStopsTheModemAndEndsTheRun) {
    ASSERT_TRUE(scenario_.append("00000201", "201"));
    scenario_.setFileName("no such folder/progress.scn");
    auto complex = makeComplex();
    complex->create(ModemRole::Calling, "start");
    EXPECT_FALSE(complex->saveProgress());
    EXPECT_EQ(factory_.modem->command(), ModemCommand::Stopped);
    EXPECT_THAT(ui_.protocolLines(), ElementsAre("12:05:09 Ошибка записи файла сценария"));
    EXPECT_EQ(toUtf8(ui_.models.run.stateLabel), "12:05:09 Ошибка записи файла сценария");
    EXPECT_THAT(read("Prot/12345678/Prot.htm"),
                testing::EndsWith("<br>12:05:09 Ошибка записи файла сценария\r\n"_cp));
    EXPECT_THAT(ui_.dialogs.texts(), ElementsAre("Ошибка записи файла сценария"));
    EXPECT_EQ(ui_.dialogs.seen()[0].title, "Ошибка");
    EXPECT_THAT(ui_.takeMessages(), ElementsAre(MSG_RUN_END));
    destroy(complex);
}

} // namespace
} // namespace vetlina
