#include "config/Configuration.h"

#include "TempFolder.h"
#include "platform/Cp1251.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vetlina {
namespace {

TEST(Configuration, IdentifierValidity) {
    EXPECT_TRUE(isValidIdent("12345678"));
    EXPECT_TRUE(isValidIdent("123456X8"));
    EXPECT_FALSE(isValidIdent("1234567X")); // X in the eighth place
    EXPECT_FALSE(isValidIdent("123456x8")); // lower-case x
    EXPECT_FALSE(isValidIdent("1234567"));
    EXPECT_FALSE(isValidIdent("123456789"));
    EXPECT_FALSE(isValidIdent("??????x?")); // the default
    EXPECT_FALSE(isValidIdent("12 45678"));
}

TEST(Configuration, EveryKeyHasItsDefaultWithoutAFile) {
    test::TempFolder folder;
    test::CurrentDirectory cd(folder.path());
    IniFile ini = readConfiguration();
    EXPECT_EQ(readKey(ini, keys::Ident), "??????x?");
    EXPECT_EQ(readKey(ini, keys::City), "Москва"_cp);
    EXPECT_EQ(readKey(ini, keys::Ats), "АТС Э"_cp);
    EXPECT_LE(readKey(ini, keys::User).size(), 28u);
    EXPECT_FALSE(readKey(ini, keys::User).empty());
    EXPECT_EQ(readKey(ini, keys::ModemInit), "");
    EXPECT_EQ(readKey(ini, keys::ZmkPort), 2);
    EXPECT_EQ(readKey(ini, keys::ZmkSpeed), 115200);
    EXPECT_EQ(readKey(ini, keys::ModemPort), 1);
    EXPECT_EQ(readKey(ini, keys::PostTime), 600);
    EXPECT_EQ(readKey(ini, keys::HangTime), 300);
    EXPECT_EQ(readKey(ini, keys::NumNoCarrier), 3);
    EXPECT_EQ(readKey(ini, keys::AlarmTime), 300);
}

TEST(Configuration, TextKeysKeepOneByteLessThanTheirBuffer) {
    test::TempFolder folder;
    test::CurrentDirectory cd(folder.path());
    folder.write("Vetlina.ini", "[VETLINA]\nIdent=1234567890\nUser=" + std::string(40, 'U') +
                                    "\nCity=" + std::string(30, 'C') +
                                    "\nATS=" + std::string(10, 'A') +
                                    "\nModemInit=" + std::string(100, 'M') + "\n");
    IniFile ini = readConfiguration();
    EXPECT_EQ(readKey(ini, keys::Ident), "12345678");
    EXPECT_EQ(readKey(ini, keys::User), std::string(28, 'U'));
    EXPECT_EQ(readKey(ini, keys::City), std::string(18, 'C'));
    EXPECT_EQ(readKey(ini, keys::Ats), std::string(6, 'A'));
    EXPECT_EQ(readKey(ini, keys::ModemInit), std::string(79, 'M'));
}

TEST(Configuration, TheFileIsLookedForInTheCurrentDirectory) {
    test::TempFolder here, elsewhere;
    elsewhere.write("Vetlina.ini", "[VETLINA]\nIdent=11111111\n");
    here.write("Vetlina.ini", "[VETLINA]\nIdent=22222222\n");
    test::CurrentDirectory cd(here.path());
    EXPECT_EQ(readKey(readConfiguration(), keys::Ident), "22222222");
}

TEST(Configuration, DocumentPathsByIdentifier) {
    DocumentPaths paths = documentPaths("12345678");
    EXPECT_EQ(paths.protocol, "Prot/12345678/Prot.htm");
    EXPECT_EQ(paths.passports, "Prot/12345678/Pasp.htm");
    EXPECT_EQ(paths.results, "Prot/12345678/Rest.htm");
    EXPECT_EQ(paths.statistics, "Prot/12345678/Stat.htm");
    EXPECT_EQ(paths.summary, "Prot/PaspTabl.htm");
}

TEST(Configuration, AnIdentifierCannotLeaveTheProtFolder) {
    EXPECT_EQ(identFolder("../../ab"), "Prot/.._.._ab");
    EXPECT_EQ(identFolder(".."), "Prot/__");
    EXPECT_EQ(identFolder(""), "Prot/_");
    EXPECT_EQ(identFolder("??????x?"), "Prot/??????x?");
}

TEST(Configuration, DocumentsExistFlags) {
    test::TempFolder folder;
    test::CurrentDirectory cd(folder.path());
    DocumentPaths paths = documentPaths("12345678");
    EXPECT_FALSE(documentsExist(paths).protocol);
    ::mkdir("Prot", 0777);
    ::mkdir("Prot/12345678", 0777);
    folder.write("Prot/12345678/Rest.htm", "<html>");
    folder.write("Prot/PaspTabl.htm", "<html>");
    DocumentsExist exist = documentsExist(paths);
    EXPECT_FALSE(exist.protocol);
    EXPECT_TRUE(exist.results);
    EXPECT_TRUE(exist.summary);
    EXPECT_FALSE(exist.statistics);
}

TEST(Configuration, PortNamesResolveThroughThePortsSection) {
    IniFile ini = IniFile::parse("[PORTS]\nCOM2=rfc2217://127.0.0.1:7002\ncom3=/dev/ttyUSB0\n");
    EXPECT_EQ(portDevice(ini, 2), "rfc2217://127.0.0.1:7002");
    EXPECT_EQ(portDevice(ini, 3), "/dev/ttyUSB0");
    EXPECT_EQ(portDevice(ini, 1), "/dev/ttyS0");
    EXPECT_EQ(portDevice(IniFile(), 9), "/dev/ttyS8");
}

TEST(Configuration, OnlyAFirstParameterOfExactlySlashDSwitchesTraceOn) {
    EXPECT_TRUE(traceRequested({"/d"}));
    EXPECT_TRUE(traceRequested({"/d", "x"}));
    EXPECT_FALSE(traceRequested({"x", "/d"}));
    EXPECT_FALSE(traceRequested({"/D"}));
    EXPECT_FALSE(traceRequested({"/d "}));
    EXPECT_FALSE(traceRequested({}));
}

} // namespace
} // namespace vetlina
