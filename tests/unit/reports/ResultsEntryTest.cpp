// The results document's entry of one measurement and the protocol's link to it.
#include "reports/ResultsEntry.h"

#include "ScopedRun.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "app/Complex.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "scenario/Scenario.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

DateTime at(int h, int m, int s) {
    return *encodeDateTime({2024, 3, 1, h, m, s, 0});
}

TEST(ResultsEntry, TheLinkAndTheEntryAreComposedToTheByte) {
    EXPECT_EQ(resultsLink(at(9, 8, 7)), "<a href=\"Rest.htm#01032024090807\"> &#61&#62</a>\r\n");
    EXPECT_EQ(sessionHeading(at(10, 0, 0), "12345678", "87654321", "84951001"),
              toCp1251("01.03.2024 10:00:00  &nbsp 12345678-87654321 тел: 84951001"));
    // The anchor stands before everything of the entry, so that the protocol's link
    // shows the heading and the caption line too.
    EXPECT_EQ(resultsEntry(at(9, 8, 7), "", "Шум"_cp, {"a", "b"}),
              "<a name=\"01032024090807\"></a><pre>--- 09:08:07 "_cp + "Шум"_cp +
                  "\r\na\r\nb\r\n</pre>\r\n");
    EXPECT_EQ(resultsEntry(at(9, 8, 7), "H", "C", {}),
              "<a name=\"01032024090807\"></a><h3>H</h3>\r\n<pre>--- 09:08:07 C\r\n</pre>\r\n");
}

class NoWorkers : public WorkerFactory {
public:
    std::unique_ptr<AnalyzerThread> createAnalyzer(RunContext&) override { return nullptr; }
    std::unique_ptr<ModemThread> createModem(RunContext&, ModemRole) override { return nullptr; }
};

TEST(ResultsEntry, AppendedEntriesTakeTheWindowsListAndTheHeadingOnce) {
    test::TempFolder folder;
    test::CurrentDirectory cwd(folder.path());
    folder.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\n");
    test::TestUi ui;
    NoWorkers workers;
    Scenario scenario;
    ScenarioEntry entry = defaultEntry();
    setText(entry.Id, "87654321");
    setText(entry.Number, "1001");
    entry.SeriesTime = at(10, 0, 0);
    auto complex = std::make_unique<Complex>(ui.bridge, workers, scenario, "12345678");
    test::ScopedCurrentComplex current(complex.get());
    complex->create(ModemRole::Calling, "start"_cp);
    test::ScopedCurrentEntry currentEntry(&entry);
    ASSERT_TRUE(complex->resultsStream.isOpen());
    const std::string before = *readWholeFile("Prot/12345678/Rest.htm");

    ui.models.setResultsCaption("Шум"_cp);
    ui.models.results.lines = {"one"_cp, "two"_cp};
    EXPECT_TRUE(appendResults(*complex, *complex, at(11, 0, 0)));
    EXPECT_FALSE(complex->resultsHeaderDue);
    ui.models.results.lines = {"three"};
    EXPECT_TRUE(appendResults(*complex, *complex, at(11, 1, 0)));

    const std::string after = *readWholeFile("Prot/12345678/Rest.htm");
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(after.substr(before.size()),
              resultsEntry(at(11, 0, 0),
                           sessionHeading(at(10, 0, 0), "12345678", "87654321", "1001"), "Шум"_cp,
                           {"one", "two"}) +
                  resultsEntry(at(11, 1, 0), "", "Шум"_cp, {"three"}));
}

} // namespace
} // namespace vetlina
