#include "platform/Ini.h"

#include "TempFolder.h"
#include "platform/Cp1251.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

TEST(Ini, SectionAndKeyNamesAreCaseInsensitiveAndValuesTrimmed) {
    IniFile ini = IniFile::parse("[vetlina]\r\n  ident =  12345678  \r\nZMKPORT=3\r\n");
    EXPECT_EQ(ini.readString("VETLINA", "Ident", "??????x?", 9), "12345678");
    EXPECT_EQ(ini.readInt("Vetlina", "ZMKPort", 2), 3);
}

TEST(Ini, TextIsCutToTheBufferSizeLessOne) {
    std::string forty(40, 'A');
    IniFile ini = IniFile::parse("[VETLINA]\nUser=" + forty + "\n");
    EXPECT_EQ(ini.readString("VETLINA", "User", "", 29), std::string(28, 'A'));
    // The default is cut the same way.
    EXPECT_EQ(ini.readString("VETLINA", "Missing", "123456789012", 9), "12345678");
}

TEST(Ini, RawCodePage1251BytesAreKept) {
    IniFile ini = IniFile::parse("[VETLINA]\nCity=" + "Санкт-Петербург"_cp + "\n");
    EXPECT_EQ(ini.readString("VETLINA", "City", "", 19), "Санкт-Петербург"_cp);
}

TEST(Ini, IntegersComeFromTheLeadingDigits) {
    IniFile ini = IniFile::parse("[T]\na=600 s\nb=-15x\nc=abc\nd=\ne=+7\nf=99999999999\ng=-\n");
    EXPECT_EQ(ini.readInt("T", "a", 1), 600);
    EXPECT_EQ(ini.readInt("T", "b", 1), -15);
    EXPECT_EQ(ini.readInt("T", "c", 1), 1);
    EXPECT_EQ(ini.readInt("T", "d", 1), 1);
    EXPECT_EQ(ini.readInt("T", "e", 1), 7);
    EXPECT_EQ(ini.readInt("T", "f", 1), INT32_MAX);
    EXPECT_EQ(ini.readInt("T", "g", 1), 1);
    EXPECT_EQ(ini.readInt("T", "absent", 42), 42);
}

TEST(Ini, KeysBelongToTheirSectionAndCommentsAreSkipped) {
    IniFile ini = IniFile::parse("Ident=outside\n[A]\n;Ident=comment\nx=1\n[B]\nIdent=b\n");
    EXPECT_FALSE(ini.has("A", "Ident"));
    EXPECT_EQ(ini.readString("B", "Ident", "", 9), "b");
    EXPECT_EQ(ini.readInt("A", "x", 0), 1);
}

TEST(Ini, AMissingFileGivesEveryDefault) {
    test::TempFolder folder;
    IniFile ini = IniFile::load(folder.file("Vetlina.ini"));
    EXPECT_EQ(ini.readString("VETLINA", "Ident", "??????x?", 9), "??????x?");
    EXPECT_EQ(ini.readInt("TIMES", "PostTime", 600), 600);
}

TEST(Ini, LoadsFromAFile) {
    test::TempFolder folder;
    folder.write("Vetlina.ini", "[PORTS]\nCOM2=rfc2217://127.0.0.1:4000\n");
    IniFile ini = IniFile::load(folder.file("Vetlina.ini"));
    EXPECT_EQ(ini.readString("ports", "com2", "", 256), "rfc2217://127.0.0.1:4000");
}

} // namespace
} // namespace vetlina
