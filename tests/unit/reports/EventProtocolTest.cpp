// Event, trace and blank lines byte for byte, the run header, and the protocol
// document's opening and appending.
#include "reports/EventProtocol.h"

#include "FileSizeLimit.h"
#include "ScopedGlobals.h"
#include "ScopedRun.h"
#include "TempFolder.h"
#include "config/Configuration.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace vetlina {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records what the three operations hand to the window, the state label and the document.
class RecordingWriter : public EventWriter {
public:
    std::vector<std::string> window, state, document;
    void showProtocolLine(const std::string& text) override { window.push_back(text); }
    void SetStateText(const std::string& text) override { state.push_back(text); }
    void appendProtocol(const std::string& text) override { document.push_back(text); }
};

using TraceSwitch = test::ScopedTrace;

class EventLineTest : public ::testing::Test {
protected:
    test::ScopedNow now_{*encodeDateTime({2024, 3, 1, 12, 5, 9, 0})};
    RecordingWriter writer_;
};

TEST_F(EventLineTest, EventLineGoesToWindowStateLabelAndDocument) {
    writer_.logEvent("Снято оператором"_cp, true);
    EXPECT_THAT(writer_.window, ElementsAre("12:05:09 Снято оператором"_cp));
    EXPECT_THAT(writer_.state, ElementsAre("12:05:09 Снято оператором"_cp));
    EXPECT_THAT(writer_.document, ElementsAre("<br>12:05:09 Снято оператором\r\n"_cp));
}

TEST_F(EventLineTest, EventLineWithoutStateLabelLeavesTheLabel) {
    writer_.logEvent("Работа закончена"_cp, false);
    EXPECT_THAT(writer_.state, IsEmpty());
    EXPECT_THAT(writer_.document, ElementsAre("<br>12:05:09 Работа закончена\r\n"_cp));
}

TEST_F(EventLineTest, TraceLineOnlyWithTheSwitchAndNeverInTheDocument) {
    {
        TraceSwitch off(false);
        writer_.traceEvent(" -getch error");
        EXPECT_THAT(writer_.window, IsEmpty());
    }
    TraceSwitch on(true);
    writer_.traceEvent(" -getch error");
    EXPECT_THAT(writer_.window, ElementsAre("12:05:09  -getch error"));
    EXPECT_THAT(writer_.state, IsEmpty());
    EXPECT_THAT(writer_.document, IsEmpty());
}

TEST_F(EventLineTest, BlankLineIsAnEmptyWindowLineAndABreakInTheDocument) {
    writer_.logBlankLine();
    EXPECT_THAT(writer_.window, ElementsAre(""));
    EXPECT_THAT(writer_.document, ElementsAre("<br>\r\n"));
}

TEST_F(EventLineTest, TimeIsTwoDigitTwentyFourHour) {
    now_.set(*encodeDateTime({2024, 3, 1, 7, 0, 3, 0}));
    writer_.logEvent("a", false);
    now_.set(*encodeDateTime({2024, 3, 1, 23, 59, 59, 0}));
    writer_.logEvent("b", false);
    EXPECT_THAT(writer_.window, ElementsAre("07:00:03 a", "23:59:59 b"));
}

TEST(ProtocolHeaderTest, ComposesTheRunHeaderExactly) {
    ProtocolHeader h;
    h.ident = "0000001X";
    h.runStartTime = *encodeDateTime({1999, 12, 31, 23, 58, 7, 0});
    h.modemPort = 1;
    h.modemIdentification = "MDM 33.6 Доп.настройка &K3"_cp;
    h.analyzerPort = 2;
    h.analyzerSerial = -32768;
    h.analyzerFirmware = 512;
    h.startText = "Активный старт, отработка сценария demo.scn"_cp;
    EXPECT_EQ(toUtf8(protocolHeader(h)),
              "<h3 align=center>Протокол работы комплекса 0000001X от 31.12.1999</h3><pre>"
              "СПО ЛИРС V2M50\r\nCom1: Модем MDM 33.6 Доп.настройка &K3\r\nCom2: Анализатор "
              "Kerat ZMK-5 Сер.номер -32768 F.512</pre><p>23:58:07 Активный старт, отработка "
              "сценария demo.scn");
}

class ProtocolDocumentTest : public ::testing::Test {
protected:
    std::string path() const { return folder_.file("Prot.htm"); }
    std::string content() const { return readWholeFile(path()).value_or("<none>"); }
    test::TempFolder folder_;
};

TEST_F(ProtocolDocumentTest, NewDocumentBeginsWithHtmlAndTheHeader) {
    ProtocolDocument doc;
    ASSERT_TRUE(doc.open(path(), "HEADER"));
    EXPECT_EQ(content(), "<html>\r\nHEADER");
    EXPECT_TRUE(doc.append("<br>12:00:00 x\r\n"));
    EXPECT_TRUE(doc.append(""));
    EXPECT_EQ(content(), "<html>\r\nHEADER<br>12:00:00 x\r\n");
}

TEST_F(ProtocolDocumentTest, ExistingDocumentIsAppendedToAndNeverTruncated) {
    folder_.write("Prot.htm", "<html>\r\nold run");
    ProtocolDocument doc;
    ASSERT_TRUE(doc.open(path(), "NEW"));
    EXPECT_TRUE(doc.append("<br>\r\n"));
    EXPECT_EQ(content(), "<html>\r\nold runNEW<br>\r\n");
}

TEST_F(ProtocolDocumentTest, SecondWriterCannotOpenTheDocument) {
    ProtocolDocument first, second;
    ASSERT_TRUE(first.open(path(), "A"));
    EXPECT_FALSE(second.open(path(), "B"));
    EXPECT_EQ(content(), "<html>\r\nA");
    first.close();
    EXPECT_TRUE(second.open(path(), "B"));
}

TEST_F(ProtocolDocumentTest, AppendWhileClosedWritesNothingAndIsNoFailure) {
    ProtocolDocument doc;
    EXPECT_TRUE(doc.append("<br>x\r\n"));
    EXPECT_FALSE(fileExists(path()));
}

TEST_F(ProtocolDocumentTest, FolderInThePlaceOfTheFileFailsTheOpen) {
    ASSERT_TRUE(makeFolder(path()));
    ProtocolDocument doc;
    EXPECT_FALSE(doc.open(path(), "H"));
    EXPECT_FALSE(doc.isOpen());
}

TEST_F(ProtocolDocumentTest, FailedAppendLeavesNoTornLine) {
    ProtocolDocument doc;
    ASSERT_TRUE(doc.open(path(), "H"));
    {
        test::FileSizeLimit limit(12); // "<html>\r\nH" is 9 bytes: 3 more fit
        EXPECT_FALSE(doc.append("<br>12:00:00 lost\r\n"));
    }
    EXPECT_EQ(content(), "<html>\r\nH");
    EXPECT_TRUE(doc.append("<br>\r\n"));
    EXPECT_EQ(content(), "<html>\r\nH<br>\r\n");
}

TEST_F(ProtocolDocumentTest, HeaderThatCannotBeWrittenLeavesNoHalfDocument) {
    {
        test::FileSizeLimit limit(4);
        ProtocolDocument doc;
        EXPECT_FALSE(doc.open(path(), "HEADER"));
    }
    // The next run starts the document afresh, with its head.
    EXPECT_FALSE(fileExists(path()));
    folder_.write("Prot.htm", "<html>\r\nold");
    {
        test::FileSizeLimit limit(13);
        ProtocolDocument doc;
        EXPECT_FALSE(doc.open(path(), "HEADER"));
    }
    EXPECT_EQ(content(), "<html>\r\nold");
}

} // namespace
} // namespace vetlina
