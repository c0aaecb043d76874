#include "platform/Files.h"

#include "TempFolder.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vetlina {
namespace {

TEST(Files, MakeFolderFailsWhenTheFolderExists) {
    test::TempFolder folder;
    EXPECT_TRUE(makeFolder(folder.file("Prot")));
    EXPECT_FALSE(makeFolder(folder.file("Prot")));
    EXPECT_TRUE(folderExists(folder.file("Prot")));
}

TEST(Files, ListsByPatternSortedAndIgnoringCase) {
    test::TempFolder folder;
    for (const char* name : {"zmk00002.dat", "zmk00001.dat", "ZMK00003.DAT", "zmk.txt", "a.dat"})
        folder.write(name, "x");
    makeFolder(folder.file("zmkfolder.dat"));
    auto names = listFiles(folder.path(), "zmk*.dat");
    EXPECT_EQ(names, (std::vector<std::string>{"ZMK00003.DAT", "zmk00001.dat", "zmk00002.dat"}));
    EXPECT_TRUE(listFiles(folder.file("nowhere"), "*").empty());
}

TEST(Files, CreateExclusiveNeverOverwrites) {
    test::TempFolder folder;
    folder.write("zmk00001.dat", "old");
    File file = File::open(folder.file("zmk00001.dat"), File::Mode::CreateExclusive);
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(folder.read("zmk00001.dat"), "old");
    File fresh = File::open(folder.file("zmk00002.dat"), File::Mode::CreateExclusive);
    ASSERT_TRUE(fresh.isOpen());
    EXPECT_TRUE(fresh.writeAll("new"));
    EXPECT_TRUE(fresh.sync());
}

TEST(Files, AtomicReplaceLeavesTheOldFileWhenTheDiskIsFull) {
    test::TempFolder folder;
    folder.write("a.scn", "old");
    EXPECT_TRUE(atomicReplace(folder.file("a.scn"), "new bytes"));
    EXPECT_EQ(folder.read("a.scn"), "new bytes");

    // A file size limit makes the write fail part way, as a full disk would.
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4;
    ::setrlimit(RLIMIT_FSIZE, &small);
    bool replaced = atomicReplace(folder.file("a.scn"), "much longer bytes");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(replaced);
    EXPECT_EQ(folder.read("a.scn"), "new bytes");
    EXPECT_EQ(listFiles(folder.path(), "*").size(), 1u); // no temporary left behind
}

TEST(Files, AtomicReplaceKeepsPermissionsAndLinks) {
    test::TempFolder folder;
    folder.write("real.scn", "old");
    ::chmod(folder.file("real.scn").c_str(), 0640);
    ::symlink("real.scn", folder.file("link.scn").c_str());
    ASSERT_TRUE(atomicReplace(folder.file("link.scn"), "new"));
    struct stat st {};
    ASSERT_EQ(::lstat(folder.file("link.scn").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(folder.read("real.scn"), "new");
    ASSERT_EQ(::stat(folder.file("real.scn").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(Files, SeekTruncateAndSizeOfAnOpenFile) {
    test::TempFolder folder;
    folder.write("Stat.htm", "head");
    File file = File::open(folder.file("Stat.htm"), File::Mode::ReadWrite);
    ASSERT_TRUE(file.isOpen());
    ASSERT_TRUE(file.seekToEnd());
    int64_t mark = file.position();
    EXPECT_EQ(mark, 4);
    file.writeAll("-first table-");
    ASSERT_TRUE(file.seek(mark));
    file.writeAll("-2-");
    EXPECT_TRUE(file.truncateHere());
    EXPECT_EQ(file.size(), 7);
    file.close();
    EXPECT_EQ(folder.read("Stat.htm"), "head-2-");
}

TEST(Files, ASecondWriterIsKeptOut) {
    test::TempFolder folder;
    folder.write("Prot.htm", "<html>\r\n");
    File first = File::open(folder.file("Prot.htm"), File::Mode::ReadWrite);
    File second = File::open(folder.file("Prot.htm"), File::Mode::ReadWrite);
    EXPECT_TRUE(first.lockForWriting());
    EXPECT_FALSE(second.lockForWriting());
}

TEST(Files, BaseNameDropsTheFolder) {
    EXPECT_EQ(baseName("SCN/day.scn"), "day.scn");
    EXPECT_EQ(baseName("day.scn"), "day.scn");
}

} // namespace
} // namespace vetlina
