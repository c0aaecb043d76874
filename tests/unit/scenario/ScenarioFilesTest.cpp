#include "scenario/ScenarioFiles.h"

#include "RecordingDialogs.h"
#include "TempFolder.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

#include <csignal>
#include <gtest/gtest.h>
#include <limits>
#include <sys/resource.h>

namespace vetlina {
namespace {

constexpr DateTime kDay = 45000.0;

std::string le32(int32_t n) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((static_cast<uint32_t>(n) >> (8 * i)) & 0xFF);
    return out;
}

std::string recordBytes(const ScenarioEntry& e) {
    return std::string(reinterpret_cast<const char*>(bytesOf(e)), kEntrySize);
}

ScenarioEntry complex(const char* id, const char* number, DateTime start) {
    ScenarioEntry e = defaultEntry(start);
    setText(e.Id, id);
    setText(e.Number, number);
    return e;
}

// A scenario file made by hand: mark, N, records.
std::string scenarioBytes(const std::vector<ScenarioEntry>& entries, int32_t n) {
    std::string bytes = "01.12.99" + le32(n);
    for (const ScenarioEntry& e : entries)
        bytes += recordBytes(e);
    return bytes;
}

// A scenario holding two complexes, the first one selected and modified.
Scenario loadedWithTwo() {
    Scenario s(defaultEntry(kDay));
    s.append("11111111", "1");
    s.append("22222222", "2");
    s.select(0);
    s.setModified(true);
    s.setFileName("previous.scn");
    return s;
}

void expectUnchanged(const Scenario& s) {
    ASSERT_EQ(s.count(), 2);
    EXPECT_EQ(s.listLine(0), "11111111 # 1");
    EXPECT_EQ(s.listLine(1), "22222222 # 2");
    EXPECT_EQ(s.currentIndex(), 0);
    EXPECT_TRUE(s.modified());
    EXPECT_EQ(s.fileName(), "previous.scn");
}

struct EntryLimitGuard {
    ~EntryLimitGuard() { setEntryLimitForTesting(std::numeric_limits<std::size_t>::max()); }
};

// Makes writes beyond a few bytes fail, as a full disk would.
class FullDisk {
public:
    FullDisk() {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved_;
        small.rlim_cur = 16;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FullDisk() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    struct rlimit saved_ {};
    void (*previous_)(int) = nullptr;
};

TEST(ScenarioFile, SaveWritesMarkCountAndRecordsInListOrder) {
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    Scenario s(defaultEntry(kDay));
    s.append("22222222", "2");
    s.current().BegTime = kDay + 2;
    s.append("11111111", "1");
    s.current().BegTime = kDay + 1;
    s.current().sineB.sinSNRLast = 30.25f;
    s.setModified(true);

    ASSERT_TRUE(saveScenario(s, folder.file("a.scn"), dialogs));
    EXPECT_TRUE(dialogs.seen().empty());
    EXPECT_EQ(folder.read("a.scn"),
              scenarioBytes({s.entry(0), s.entry(1)}, 2)); // list order, not start order
    EXPECT_FALSE(s.modified());
    EXPECT_EQ(s.fileName(), folder.file("a.scn"));
}

TEST(ScenarioFile, LoadGivesBackEveryByteOrderedByStart) {
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    ScenarioEntry late = complex("33333333", "3", kDay + 3);
    late.SessionsDone = 4;
    late.o42A.o42Dis3Sums.sumSq = 12.5;
    late.Id[9] = 0x7F; // bytes after the terminator are kept as they are
    ScenarioEntry early = complex("44444444", "4", kDay + 1);
    ScenarioEntry middle = complex("11111111", "1", kDay + 2);
    folder.write("a.scn", scenarioBytes({late, early, middle}, 3));

    Scenario s = loadedWithTwo();
    ASSERT_TRUE(loadScenario(s, folder.file("a.scn"), dialogs));
    EXPECT_TRUE(dialogs.seen().empty());
    ASSERT_EQ(s.count(), 3);
    EXPECT_EQ(recordBytes(s.entry(0)), recordBytes(early));
    EXPECT_EQ(recordBytes(s.entry(1)), recordBytes(middle));
    EXPECT_EQ(recordBytes(s.entry(2)), recordBytes(late));
    EXPECT_FALSE(s.lineSelected());
    EXPECT_FALSE(s.modified());
    EXPECT_EQ(s.fileName(), folder.file("a.scn"));

    // Saved again, the same records come back in the new order.
    ASSERT_TRUE(saveScenario(s, folder.file("b.scn"), dialogs));
    EXPECT_EQ(folder.read("b.scn"), scenarioBytes({early, middle, late}, 3));
}

TEST(ScenarioFile, LoadSortsByIdentifierWhenTheSwitchIsOn) {
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    folder.write("a.scn", scenarioBytes({complex("30000000", "1", kDay + 1),
                                         complex("10000000", "1", kDay + 3),
                                         complex("20000000", "1", kDay + 2)},
                                        3));
    Scenario s(defaultEntry(kDay));
    s.setSortedById(true);
    ASSERT_TRUE(loadScenario(s, folder.file("a.scn"), dialogs));
    EXPECT_EQ(s.listLine(0), "10000000 # 1");
    EXPECT_EQ(s.listLine(2), "30000000 # 1");
}

TEST(ScenarioFile, AnEmptyScenarioLoads) {
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    folder.write("empty.scn", scenarioBytes({}, 0));
    Scenario s = loadedWithTwo();
    ASSERT_TRUE(loadScenario(s, folder.file("empty.scn"), dialogs));
    EXPECT_EQ(s.count(), 0);
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST(ScenarioFile, DamagedFilesAreRefusedAndChangeNothing) {
    test::TempFolder folder;
    const ScenarioEntry one = complex("12345678", "1", kDay);
    const std::string valid = scenarioBytes({one, one}, 2);
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"template mark", "21.12.98" + le32(0)},
        {"mark differs in its last byte", "01.12.98" + le32(0)},
        {"shorter than the mark", "01.12"},
        {"mark without a count", "01.12.99"},
        {"negative count", scenarioBytes({one}, -1)},
        {"count beyond the records", scenarioBytes({one, one}, 3)},
        {"last record cut short", valid.substr(0, valid.size() - 1)},
        {"huge count", scenarioBytes({one}, std::numeric_limits<int32_t>::max())},
        {"empty file", ""},
    };
    for (const Case& c : cases) {
        test::RecordingDialogs dialogs;
        folder.write("bad.scn", c.bytes);
        Scenario s = loadedWithTwo();
        EXPECT_FALSE(loadScenario(s, folder.file("bad.scn"), dialogs)) << c.what;
        expectUnchanged(s);
        ASSERT_EQ(dialogs.seen().size(), 1u) << c.what;
        EXPECT_EQ(dialogs.seen()[0].title, " Ошибка") << c.what;
        EXPECT_EQ(dialogs.seen()[0].text, "Несовместимый формат сценария") << c.what;
        EXPECT_EQ(dialogs.seen()[0].icon, DialogIcon::Error);
    }
}

TEST(ScenarioFile, AHugeCountIsCheckedBeforeAnyRoomIsTaken) {
    EntryLimitGuard guard;
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    folder.write("huge.scn", scenarioBytes({}, 1000000));
    setEntryLimitForTesting(10); // taking room for the records would fail
    Scenario s = loadedWithTwo();
    EXPECT_FALSE(loadScenario(s, folder.file("huge.scn"), dialogs));
    ASSERT_EQ(dialogs.texts().size(), 1u);
    EXPECT_EQ(dialogs.texts()[0], "Несовместимый формат сценария");
}

TEST(ScenarioFile, NoRoomForTheRecordsIsReported) {
    EntryLimitGuard guard;
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    const ScenarioEntry one = complex("12345678", "1", kDay);
    folder.write("a.scn", scenarioBytes({one, one, one}, 3));
    setEntryLimitForTesting(2);
    Scenario s = loadedWithTwo();
    EXPECT_FALSE(loadScenario(s, folder.file("a.scn"), dialogs));
    expectUnchanged(s);
    ASSERT_EQ(dialogs.seen().size(), 1u);
    EXPECT_EQ(dialogs.seen()[0].title, "Ошибка");
    EXPECT_EQ(dialogs.seen()[0].text, "Нет памяти для сценария");
}

TEST(ScenarioFile, AFileThatCannotBeOpenedShowsTheSystemError) {
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    Scenario s = loadedWithTwo();
    EXPECT_FALSE(loadScenario(s, folder.file("missing.scn"), dialogs));
    expectUnchanged(s);
    ASSERT_EQ(dialogs.seen().size(), 1u);
    EXPECT_EQ(dialogs.seen()[0].title, "Ошибка");
    EXPECT_NE(dialogs.seen()[0].text.find("missing.scn"), std::string::npos);
    EXPECT_NE(dialogs.seen()[0].text.find("No such file"), std::string::npos);

    makeFolder(folder.file("SCN"));
    dialogs.clear();
    EXPECT_FALSE(loadScenario(s, folder.file("SCN"), dialogs));
    EXPECT_EQ(dialogs.seen().size(), 1u);
    expectUnchanged(s);
}

TEST(ScenarioFile, AFailedSaveLeavesTheOldFileAndTheState) {
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    const std::string old = scenarioBytes({complex("99999999", "9", kDay)}, 1);
    folder.write("a.scn", old);
    Scenario s = loadedWithTwo();
    bool saved;
    {
        FullDisk full;
        saved = saveScenario(s, folder.file("a.scn"), dialogs);
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(folder.read("a.scn"), old);
    EXPECT_EQ(listFiles(folder.path(), "*").size(), 1u);
    expectUnchanged(s);
    ASSERT_EQ(dialogs.seen().size(), 1u);
    EXPECT_EQ(dialogs.seen()[0].title, "Ошибка");
    EXPECT_NE(dialogs.seen()[0].text.find("a.scn"), std::string::npos);

    dialogs.clear();
    EXPECT_FALSE(saveScenario(s, folder.file("nowhere/a.scn"), dialogs));
    EXPECT_EQ(dialogs.seen().size(), 1u);
    expectUnchanged(s);
}

TEST(TemplateFile, SaveWritesTheMarkAndTheSettingsOfTheCurrentEntry) {
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    Scenario s = loadedWithTwo();
    s.current().SinFreq = 1020;
    ASSERT_TRUE(saveTemplate(s, folder.file("t.pat"), dialogs));
    const std::string bytes = folder.read("t.pat");
    ASSERT_EQ(bytes.size(), 831u);
    EXPECT_EQ(bytes.substr(0, 8), "21.12.98");
    EXPECT_EQ(bytes.substr(8), recordBytes(s.current()).substr(3095));
    EXPECT_TRUE(s.modified()); // saving a template leaves the flag alone
}

TEST(TemplateFile, LoadedIntoASelectedEntryItRestartsItsSeries) {
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    ScenarioEntry source = complex("00000000", "0", kDay + 7.5);
    source.NumMin = 5;
    source.NumTotal = 20;
    source.EndTime = kDay + 7.25;
    source.sinSNROn = 0;
    setText(source.AT, "&F&D2");
    folder.write("t.pat", "21.12.98" + recordBytes(source).substr(3095));

    Scenario s(defaultEntry(kDay));
    s.append("11111111", "1");
    ScenarioEntry& target = s.current();
    target.Finished = 1;
    target.SessionsDone = 6;
    target.Calls = 8;
    target.FailOtb = 2;
    target.sineA.count = 6;
    const std::string before = recordBytes(target);

    ASSERT_TRUE(loadTemplate(s, folder.file("t.pat"), dialogs));
    EXPECT_TRUE(dialogs.seen().empty());
    EXPECT_TRUE(s.modified());
    EXPECT_EQ(target.Finished, 0);
    EXPECT_EQ(target.SessionsDone, 0);
    EXPECT_EQ(target.Calls, 0);
    EXPECT_EQ(target.FailOtb, 2);
    EXPECT_EQ(textOf(target.Id), "11111111");
    // Settings, window and numbers of sessions come from the template; the
    // statistics stay.
    const std::string after = recordBytes(target);
    EXPECT_EQ(after.substr(3095), recordBytes(source).substr(3095));
    EXPECT_EQ(after.substr(95, 3000), before.substr(95, 3000));
    EXPECT_EQ(target.NumTotal, 20);
    EXPECT_EQ(target.BegTime, kDay + 7.5);
}

TEST(TemplateFile, LoadedWithNoLineSelectedItBecomesTheStartOfNewComplexes) {
    test::TempFolder folder;
    test::RecordingDialogs dialogs;
    ScenarioEntry source = defaultEntry(kDay);
    source.ComplexType = 1;
    source.DiscrTime = 120.0;
    folder.write("t.pat", "21.12.98" + recordBytes(source).substr(3095));

    Scenario s(defaultEntry(kDay));
    s.append("11111111", "1");
    s.select(-1);
    ASSERT_TRUE(loadTemplate(s, folder.file("t.pat"), dialogs));
    EXPECT_FALSE(s.modified());
    EXPECT_EQ(s.defaultEntry().ComplexType, 1);
    EXPECT_EQ(s.entry(0).ComplexType, 0); // the listed complex is untouched
    s.append("22222222", "2");
    EXPECT_EQ(s.current().ComplexType, 1);
    EXPECT_EQ(s.current().DiscrTime, 120.0);
}

TEST(TemplateFile, WrongOrShortTemplatesAreRefused) {
    test::TempFolder folder;
    const std::string settings = recordBytes(defaultEntry(kDay)).substr(3095);
    const std::pair<const char*, std::string> cases[] = {
        {"scenario mark", "01.12.99" + settings},
        {"settings cut short", "21.12.98" + settings.substr(0, 822)},
        {"mark only", "21.12.98"},
        {"empty", ""},
    };
    for (const auto& [what, bytes] : cases) {
        test::RecordingDialogs dialogs;
        folder.write("t.pat", bytes);
        Scenario s = loadedWithTwo();
        s.current().SinFreq = 1234;
        EXPECT_FALSE(loadTemplate(s, folder.file("t.pat"), dialogs)) << what;
        EXPECT_EQ(s.current().SinFreq, 1234) << what;
        ASSERT_EQ(dialogs.seen().size(), 1u) << what;
        EXPECT_EQ(dialogs.seen()[0].title, "Ошибка") << what;
        EXPECT_EQ(dialogs.seen()[0].text, "Несовместимый формат шаблона") << what;
    }
}

TEST(ProgressFile, WithoutAFileNameProgressGoesToUnknownScn) {
    test::TempFolder folder;
    test::CurrentDirectory here(folder.path());
    Scenario s(defaultEntry(kDay));
    s.append("11111111", "1");
    s.current().SessionsDone = 2;
    bool failed = false;
    ASSERT_TRUE(saveProgress(s, [&](const std::string&) { failed = true; }));
    EXPECT_FALSE(failed);
    EXPECT_EQ(s.fileName(), "unknown.scn");
    EXPECT_EQ(folder.read("unknown.scn"), scenarioBytes({s.entry(0)}, 1));
}

TEST(ProgressFile, AFailedWriteCallsTheRunsHookAndKeepsTheOldFile) {
    test::TempFolder folder;
    const std::string old = scenarioBytes({complex("99999999", "9", kDay)}, 1);
    folder.write("run.scn", old);
    Scenario s = loadedWithTwo();
    s.setFileName(folder.file("run.scn"));
    std::vector<std::string> reported;
    bool saved;
    {
        FullDisk full;
        saved = saveProgress(s, [&](const std::string& text) { reported.push_back(text); });
    }
    EXPECT_FALSE(saved);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(toUtf8(reported[0]), "Ошибка записи файла сценария");
    EXPECT_EQ(folder.read("run.scn"), old);

    s.setFileName(folder.file("gone/run.scn"));
    EXPECT_FALSE(saveProgress(s, nullptr)); // no hook: still reported as a failure
}

} // namespace
} // namespace vetlina
