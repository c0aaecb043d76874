// The message file of a cycle cut short, as the calling and the answering complex write it.
#include "reports/MessageFile.h"

#include "ScopedRun.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "WorkerDoubles.h"
#include "app/Complex.h"
#include "platform/Files.h"
#include "reports/DataFileReader.h"
#include "scenario/Scenario.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

TEST(MessageFileTest, HeaderAndCodeOfTheCurrentCycle) {
    test::TempFolder folder;
    test::CurrentDirectory here(folder.path());
    test::TestUi ui;
    test::WorkerLog log;
    test::DoubleFactory factory(log);
    Scenario scenario(defaultEntry(45000.0));
    Complex complex(ui.bridge, factory, scenario, "LOCAL001");
    setFieldText(complex.ownIdent, "LOCAL001");
    setFieldText(complex.peerIdent, "CALLER09");
    auto modem = std::make_unique<test::DoubleModem>(ui.bridge, log, "modem", false);
    test::DoubleModem& role = *modem;
    complex.modemThread = std::move(modem);
    ScenarioEntry entry = defaultEntry(45000.0);
    setText(entry.Id, "REMOTE01");
    entry.SessionsDone = 4;
    test::ScopedCurrentComplex current(&complex);
    test::ScopedCurrentEntry currentEntry(&entry);

    // No cycle yet, and a cycle that has ended: nothing was cut short.
    entry.SeriesTime = 0.5;
    writeMessageFile(&complex, complex, MessageCode::OperatorStop);
    entry.SeriesTime = 45000.25;
    entry.Finished = 1;
    writeMessageFile(&complex, complex, MessageCode::DeviceFailure);
    EXPECT_FALSE(folderExists("DATA") && !listFiles("DATA", "*").empty());

    entry.Finished = 0;
    struct Case {
        ModemRole role;
        MessageCode code;
        uint8_t callerFlag;
        const char *caller, *answerer;
        char callerRole, answererRole;
    } cases[] = {
        {ModemRole::CallingInCall, MessageCode::Hang, 1, "LOCAL001", "REMOTE01", 'M', 'G'},
        {ModemRole::AnsweringInRun, MessageCode::DeviceFailure, 0, "CALLER09", "LOCAL001", 'G',
         'M'},
    };
    for (const Case& c : cases) {
        role.currentRole = c.role;
        writeMessageFile(&complex, complex, c.code);
    }
    const auto names = listFiles("DATA", "*");
    ASSERT_EQ(names.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const Case& c = cases[i];
        const std::string bytes = readWholeFile("DATA/" + names[i]).value_or("");
        ASSERT_EQ(bytes.size(), 42u);
        DataFileContents contents;
        DataFileError error;
        ASSERT_TRUE(readDataFile(bytes, contents, error)) << error.describe();
        EXPECT_EQ(contents.kind, DataFileKind::Message);
        EXPECT_EQ(contents.callerFlag, c.callerFlag);
        EXPECT_EQ(contents.cycleStart, 45000.25);
        EXPECT_EQ(contents.callerIdent, c.caller);
        EXPECT_EQ(contents.answererIdent, c.answerer);
        EXPECT_EQ(contents.callerRole, c.callerRole);
        EXPECT_EQ(contents.answererRole, c.answererRole);
        EXPECT_EQ(contents.session, 5);
        EXPECT_EQ(contents.cycleEnd, 0);
        EXPECT_EQ(contents.messageCode, static_cast<uint8_t>(c.code));
    }
    EXPECT_TRUE(ui.dialogs.seen().empty());
}

} // namespace
} // namespace vetlina
