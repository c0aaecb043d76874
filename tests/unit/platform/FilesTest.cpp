#include "platform/Files.h"

#include "TempFolder.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
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

// Only a regular file is replaced: a FIFO, a folder, or a link to either stays as it is
// (run as root, a tool pointed at /dev/null once turned it into a regular file).
TEST(Files, AtomicReplaceRefusesWhatIsNotARegularFile) {
    test::TempFolder folder;
    ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0666), 0);
    ASSERT_TRUE(makeFolder(folder.file("dir")));
    ::symlink("fifo", folder.file("link").c_str());
    for (const char* name : {"fifo", "dir", "link"}) {
        errno = 0;
        EXPECT_FALSE(atomicReplace(folder.file(name), "bytes")) << name;
        EXPECT_EQ(errno, EINVAL) << name;
    }
    struct stat st {};
    ASSERT_EQ(::stat(folder.file("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(listFiles(folder.path(), "*").size(), 0u); // no temporary left behind
    // A missing file is created.
    EXPECT_TRUE(atomicReplace(folder.file("new.scn"), "bytes"));
    EXPECT_EQ(folder.read("new.scn"), "bytes");
}

// A file is replaced only when its mode bits let this user write it, root included; a
// replaced file keeps its owner where the process may give it.
TEST(Files, AtomicReplaceHoldsRootToTheModeBitsAndKeepsTheOwner) {
    test::TempFolder folder;
    folder.write("ro.scn", "old");
    ::chmod(folder.file("ro.scn").c_str(), 0444);
    errno = 0;
    EXPECT_FALSE(atomicReplace(folder.file("ro.scn"), "new"));
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(folder.read("ro.scn"), "old");

    if (::geteuid() != 0)
        GTEST_SKIP() << "files of another user need root";
    constexpr uid_t kOther = 65534;
    folder.write("theirs.scn", "old");
    ASSERT_EQ(::chown(folder.file("theirs.scn").c_str(), kOther, kOther), 0);
    ::chmod(folder.file("theirs.scn").c_str(), 0644); // only its owner writes it
    EXPECT_FALSE(atomicReplace(folder.file("theirs.scn"), "new"));
    EXPECT_EQ(folder.read("theirs.scn"), "old");

    ::chmod(folder.file("theirs.scn").c_str(), 0666); // everybody writes it
    ASSERT_TRUE(atomicReplace(folder.file("theirs.scn"), "new"));
    EXPECT_EQ(folder.read("theirs.scn"), "new");
    struct stat st {};
    ASSERT_EQ(::stat(folder.file("theirs.scn").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kOther);
    EXPECT_EQ(st.st_gid, kOther);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

// A FIFO or a pipe (process substitution) is read as a stream to its end; a FIFO
// without a writer neither holds the open nor the reading beyond the silence limit.
TEST(Files, InputsThatAreNotRegularFilesAreReadAsStreams) {
    test::TempFolder folder;
    ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0666), 0);
    InputRead silent = readInput(folder.file("fifo"), 200);
    EXPECT_TRUE(silent.opened);
    EXPECT_EQ(silent.error, ETIMEDOUT);
    EXPECT_NE(inputErrorText(ETIMEDOUT).find("nothing came"), std::string::npos);

    std::thread writer([&] {
        File fifo = File::create(folder.file("fifo")); // waits for the reader
        fifo.writeAll("through the fifo");
    });
    InputRead fromFifo = readInput(folder.file("fifo"));
    writer.join();
    ASSERT_TRUE(fromFifo.ok()) << fromFifo.error;
    EXPECT_EQ(fromFifo.bytes, "through the fifo");

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "piped", 5), 5);
    ::close(fds[1]);
    auto piped = readWholeFile("/dev/fd/" + std::to_string(fds[0]));
    ::close(fds[0]);
    EXPECT_EQ(piped.value_or("<none>"), "piped");

    EXPECT_EQ(readInput(folder.path()).error, EISDIR);
    EXPECT_EQ(readInput("/dev/zero").error, EFBIG);
    InputRead missing = readInput(folder.file("missing"));
    EXPECT_FALSE(missing.opened);
    EXPECT_EQ(missing.error, ENOENT);
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
