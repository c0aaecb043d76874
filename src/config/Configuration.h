// The configuration of a complex: the read-only file Vetlina.ini in the current
// directory, its keys with their buffers and defaults, the identifier rule, the
// document paths, the port names and the trace switch "/d".
#pragma once

#include "platform/Ini.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

// Relative to the current directory at the moment it is read.
inline constexpr const char* kConfigurationFile = "Vetlina.ini";

// A text key: read into a buffer of `buffer` bytes, so at most buffer - 1 bytes.
struct TextKey {
    const char* section;
    const char* key;
    const char* defaultValue; // UTF-8 in the source, code page 1251 when read
    std::size_t buffer;
};

struct IntKey {
    const char* section;
    const char* key;
    int32_t defaultValue;
};

namespace keys {
inline constexpr TextKey Ident{"VETLINA", "Ident", "??????x?", 9};
inline constexpr TextKey User{"VETLINA", "User", "Служба измерений каналов", 29};
inline constexpr TextKey City{"VETLINA", "City", "Москва", 19};
inline constexpr TextKey Ats{"VETLINA", "ATS", "АТС Э", 7};
inline constexpr IntKey ZmkPort{"VETLINA", "ZMKPort", 2};
inline constexpr IntKey ZmkSpeed{"VETLINA", "ZMKSpeed", 115200};
inline constexpr IntKey ModemPort{"VETLINA", "ModemPort", 1};
inline constexpr TextKey ModemInit{"VETLINA", "ModemInit", "", 80};
inline constexpr IntKey PostTime{"TIMES", "PostTime", 600};
inline constexpr IntKey HangTime{"TIMES", "HangTime", 300};
inline constexpr IntKey NumNoCarrier{"TIMES", "NumNoCarrier", 3};
inline constexpr IntKey AlarmTime{"TIMES", "AlarmTime", 300};
} // namespace keys

// The configuration file as it stands now (a missing file gives every default).
IniFile readConfiguration();

// A key's value (code page 1251), or its default.
std::string readKey(const IniFile& ini, const TextKey& key);
int32_t readKey(const IniFile& ini, const IntKey& key);

// A complex identifier is valid when it is exactly 8 characters, each a decimal
// digit, except that the seventh may also be a capital Latin "X".
bool isValidIdent(std::string_view ident);

// The five documents of a complex, relative to the current directory.
struct DocumentPaths {
    std::string protocol;   // Prot/<Ident>/Prot.htm
    std::string passports;  // Prot/<Ident>/Pasp.htm
    std::string results;    // Prot/<Ident>/Rest.htm
    std::string statistics; // Prot/<Ident>/Stat.htm
    std::string summary;    // Prot/PaspTabl.htm, shared by every identifier
};

// The folder of a complex's documents inside "Prot". The identifier comes from a
// file the operator edits: a "/" in it, or a name of only dots, would leave the
// folder "Prot", so such characters are replaced by "_".
std::string identFolderName(std::string_view ident);
std::string identFolder(std::string_view ident); // "Prot/" + identFolderName
DocumentPaths documentPaths(std::string_view ident);

// Which of the five documents exist now (they enable the commands that open them).
struct DocumentsExist {
    bool protocol = false, passports = false, results = false, statistics = false, summary = false;
};
DocumentsExist documentsExist(const DocumentPaths& paths);

// The serial device behind "COM<n>": the value of key "COM<n>" in section
// "PORTS" (a device path such as /dev/ttyUSB0, or rfc2217://HOST:PORT), else
// /dev/ttyS<n-1>.
std::string portDevice(const IniFile& ini, int portNumber);

// The trace switch: set when the first command-line parameter is exactly "/d"
// (case-sensitive) at the start of a run, and then kept for the process.
bool traceRequested(const std::vector<std::string>& parameters);
std::atomic<bool>& traceSwitch();

} // namespace vetlina
