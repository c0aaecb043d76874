// The heads of the four report documents and their opening.
#include "reports/Documents.h"

#include "FileSizeLimit.h"
#include "TempFolder.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

TEST(DocumentHeadsTest, ResultsStatisticsAndPassportsHeads) {
    EXPECT_EQ(toUtf8(resultsHead("12345678")),
              "<html>\r\n<h3 align=center>Результаты измерений комплекса 12345678</h3>\r\n");
    EXPECT_EQ(toUtf8(statisticsHead("12345678")),
              "<html>\r\n<h3 align=center>Статистика измерений комплекса 12345678</h3>\r\n");
    EXPECT_EQ(passportsHead(), "<html>\r\n<style type=\"text/css\">\r\n div.pasport { "
                               "page-break-after: always }\r\n</style>\r\n");
}

TEST(DocumentHeadsTest, SummaryHeadIsTheTableHeadClosedByItsEnd) {
    std::string head = toUtf8(summaryHead());
    EXPECT_THAT(head, StartsWith("<html>\r\n<h3 align=center>Сводная таблица паспортов "
                                 "измерений</h3>\r\n<table border=\"1\" cellpadding=\"2\">\r\n"
                                 "<tr><th rowspan=\"2\">Направление связи</th>\r\n"));
    EXPECT_THAT(head, EndsWith("<th>исх</th><th>вх</th><th>исх</th><th>вх</th>\r\n</table>"));
    // The signal/noise column begins with a Latin C.
    EXPECT_NE(head.find("<th colspan=\"2\">Cигнал/ Шум</th>\r\n"), std::string::npos);
    EXPECT_EQ(static_cast<unsigned char>(summaryHead()[summaryHead().find("игнал/"_cp) - 1]), 'C');
    // The title and the 19 strings of the table head each end in CR LF.
    std::size_t breaks = 0;
    for (std::size_t at = head.find("\r\n"); at != std::string::npos;
         at = head.find("\r\n", at + 2))
        ++breaks;
    EXPECT_EQ(breaks, 21u);
    // The second row of the head: ten pairs of исх/вх.
    std::size_t pairs = 0;
    for (std::size_t at = head.find("<th>исх</th><th>вх</th>"); at != std::string::npos;
         at = head.find("<th>исх</th><th>вх</th>", at + 1))
        ++pairs;
    EXPECT_EQ(pairs, 10u);
}

class ReportDocumentTest : public ::testing::Test {
protected:
    std::string path() const { return folder_.file("Rest.htm"); }
    test::TempFolder folder_;
};

TEST_F(ReportDocumentTest, NewDocumentGetsItsHeadAndIsPositionedAtItsEnd) {
    File file = openReportDocument(path(), "HEAD\r\n");
    ASSERT_TRUE(file.isOpen());
    EXPECT_EQ(file.position(), 6);
    ASSERT_TRUE(file.writeAll("entry"));
    EXPECT_EQ(readWholeFile(path()), "HEAD\r\nentry");
}

TEST_F(ReportDocumentTest, ExistingDocumentKeepsItsTextAndGetsNoSecondHead) {
    folder_.write("Rest.htm", "earlier runs");
    File file = openReportDocument(path(), "HEAD\r\n");
    ASSERT_TRUE(file.isOpen());
    EXPECT_EQ(file.position(), 12);
    EXPECT_EQ(readWholeFile(path()), "earlier runs");
}

TEST_F(ReportDocumentTest, SecondWriterIsRefusedAndFolderInPlaceFails) {
    File first = openReportDocument(path(), "H");
    ASSERT_TRUE(first.isOpen());
    EXPECT_FALSE(openReportDocument(path(), "H").isOpen());
    ASSERT_TRUE(makeFolder(folder_.file("Stat.htm")));
    EXPECT_FALSE(openReportDocument(folder_.file("Stat.htm"), "H").isOpen());
}

TEST_F(ReportDocumentTest, HeadThatCannotBeWrittenLeavesNoHeadlessDocument) {
    {
        test::FileSizeLimit limit(3);
        EXPECT_FALSE(openReportDocument(path(), "HEAD\r\n").isOpen());
    }
    EXPECT_FALSE(fileExists(path()));
    // The next run writes the head.
    EXPECT_TRUE(openReportDocument(path(), "HEAD\r\n").isOpen());
    EXPECT_EQ(readWholeFile(path()), "HEAD\r\n");
}

TEST(DocumentFoldersTest, IdentifierFolderIsMadeInsideProt) {
    test::TempFolder folder;
    test::CurrentDirectory cwd(folder.path());
    makeDocumentFolders("12345678");
    makeDocumentFolders("12345678"); // existing folders are no failure
    EXPECT_TRUE(folderExists("Prot/12345678"));
}

} // namespace
} // namespace vetlina
