// The reader of the files of DATA: a sound file of each kind, and a damaged file refused
// at the byte where it goes wrong.
#include "reports/DataFileReader.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

std::string le32(int32_t v) {
    char b[4];
    storeLe<int32_t>(b, v);
    return std::string(b, 4);
}
std::string f32(float v) {
    char b[4];
    storeLe<float>(b, v);
    return std::string(b, 4);
}

// 'D' or 'M', caller, cycle start, written, "M" CALLER01 "G" ANSWER02, session 3, end 0.
std::string header(char kind = 'D') {
    std::string h(1, kind);
    h += '\1';
    char d[8];
    storeLe<double>(d, 45000.5);
    h.append(d, 8);
    storeLe<double>(d, 45001.75);
    h.append(d, 8);
    h += "MCALLER01GANSWER02";
    h += le32(3);
    h += '\0';
    return h;
}

const std::string kBusy = std::string("Busy", 5) + f32(25.0f);
const std::string kList = std::string("mttAtt", 7) + le32(1) + f32(-1.5f) + f32(1000.0f);
const std::string kEnd("end", 4);

TEST(DataFileReaderTest, SoundFilesOfEachKind) {
    DataFileContents c;
    DataFileError error;
    ASSERT_TRUE(readDataFile(header() + kBusy + kList + kEnd, c, error)) << error.describe();
    EXPECT_EQ(c.kind, DataFileKind::Data);
    EXPECT_EQ(c.cycleStart, 45000.5);
    EXPECT_EQ(c.writtenAt, 45001.75);
    EXPECT_EQ(c.callerRole, 'M');
    EXPECT_EQ(c.callerIdent, "CALLER01");
    EXPECT_EQ(c.answererIdent, "ANSWER02");
    EXPECT_EQ(c.session, 3);
    ASSERT_EQ(c.items.size(), 2u);
    EXPECT_EQ(c.items[0].key, "Busy");
    EXPECT_EQ(c.items[0].value, 25.0f);
    EXPECT_EQ(c.items[1].offset, 41u + kBusy.size());
    ASSERT_EQ(c.items[1].points.size(), 1u);
    EXPECT_EQ(c.items[1].points[0].value, -1.5f);
    EXPECT_EQ(c.items[1].points[0].frequency, 1000.0f);

    ASSERT_TRUE(readDataFile(header('M') + '\6', c, error)) << error.describe();
    EXPECT_EQ(c.kind, DataFileKind::Message);
    EXPECT_EQ(c.messageCode, 6);
    EXPECT_EQ(messageCodeText(c.messageCode), "Снято оператором");

    std::string norms = "S" + std::string(1, '\0') + std::string(8, '\0') + "CALLER01ANSW";
    norms.resize(223, '\0');
    norms[26] = '\0'; // plan: all zero
    ASSERT_TRUE(readDataFile(norms + kBusy + kEnd, c, error)) << error.describe();
    EXPECT_EQ(c.kind, DataFileKind::Norms);
    EXPECT_EQ(c.answererIdent, "ANSW");
    EXPECT_EQ(c.items.size(), 1u);
}

TEST(DataFileReaderTest, DamagedFilesAreRefusedAtTheirOffset) {
    auto patched = [](std::size_t at, char byte) {
        std::string h = header();
        h[at] = byte;
        return h + kEnd;
    };
    const std::string body = header();
    const std::size_t listCount = 41 + kBusy.size() + 7;
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t offset;
    } cases[] = {
        {"empty", "", 0},
        {"unknown kind", "X" + body.substr(1) + kEnd, 0},
        {"header cut off", body.substr(0, 20), 20},
        {"caller flag", patched(1, 2), 1},
        {"caller role", patched(18, 'X'), 18},
        {"roles not opposite", patched(27, 'M'), 27},
        {"session 0", body.substr(0, 36) + le32(0) + '\0' + kEnd, 36},
        {"cycle-end flag", patched(40, 7), 40},
        {"key without terminator", body + "Busy", 41},
        {"bad key byte", body + std::string("Bu-y", 5) + f32(1) + kEnd, 43},
        {"empty key", body + std::string(1, '\0') + kEnd, 41},
        {"key too long", body + std::string(33, 'k') + '\0' + f32(1) + kEnd, 41},
        {"value cut off", body + std::string("Busy", 5) + "ab", 46},
        {"repeated key", body + kBusy + kBusy + kEnd, 41 + kBusy.size()},
        {"list count 15", body + kBusy + std::string("mttAtt", 7) + le32(15) + kEnd, listCount},
        {"list count -1", body + kBusy + std::string("mttDel", 7) + le32(-1) + kEnd, listCount},
        {"list cut off", body + kBusy + std::string("mttAtt", 7) + le32(2) + f32(1) + f32(2),
         listCount + 4},
        {"no end", body + kBusy, 41 + kBusy.size()},
        {"bytes after end", body + kEnd + "x", 45},
        {"message code", header('M') + '\3', 41},
        {"bytes after the code", header('M') + '\4' + '\0', 42},
        {"norms header cut off", "S" + std::string(100, '\0'), 101},
        {"too long", body + std::string(kMaxDataFileSize, 'a'), kMaxDataFileSize},
    };
    for (const Case& c : cases) {
        DataFileContents contents;
        DataFileError error;
        EXPECT_FALSE(readDataFile(c.bytes, contents, error)) << c.what;
        EXPECT_EQ(error.offset, c.offset) << c.what << ": " << error.describe();
        EXPECT_FALSE(error.what.empty()) << c.what;
    }
}

} // namespace
} // namespace vetlina
