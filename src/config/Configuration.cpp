#include "config/Configuration.h"

#include "platform/Cp1251.h"
#include "platform/Files.h"

namespace vetlina {

IniFile readConfiguration() {
    return IniFile::load(kConfigurationFile);
}

std::string readKey(const IniFile& ini, const TextKey& key) {
    return ini.readString(key.section, key.key, toCp1251(key.defaultValue), key.buffer);
}

int32_t readKey(const IniFile& ini, const IntKey& key) {
    return ini.readInt(key.section, key.key, key.defaultValue);
}

bool isValidIdent(std::string_view ident) {
    if (ident.size() != 8)
        return false;
    for (std::size_t i = 0; i < ident.size(); ++i) {
        char c = ident[i];
        bool digit = c >= '0' && c <= '9';
        if (!digit && !(i == 6 && c == 'X'))
            return false;
    }
    return true;
}

std::string identFolderName(std::string_view ident) {
    std::string name(ident);
    bool onlyDots = !name.empty();
    for (char& c : name) {
        if (c == '/' || c == '\0')
            c = '_';
        onlyDots = onlyDots && c == '.';
    }
    if (name.empty() || onlyDots)
        for (char& c : name)
            c = '_';
    return name.empty() ? "_" : name;
}

std::string identFolder(std::string_view ident) {
    return "Prot/" + identFolderName(ident);
}

DocumentPaths documentPaths(std::string_view ident) {
    std::string folder = identFolder(ident) + "/";
    return {folder + "Prot.htm", folder + "Pasp.htm", folder + "Rest.htm", folder + "Stat.htm",
            "Prot/PaspTabl.htm"};
}

DocumentsExist documentsExist(const DocumentPaths& paths) {
    return {fileExists(paths.protocol), fileExists(paths.passports), fileExists(paths.results),
            fileExists(paths.statistics), fileExists(paths.summary)};
}

std::string portDevice(const IniFile& ini, int portNumber) {
    std::string key = "COM" + std::to_string(portNumber);
    std::string fallback = "/dev/ttyS" + std::to_string(portNumber - 1);
    std::string value = ini.readString("PORTS", key, "", 4096);
    return value.empty() ? fallback : value;
}

bool traceRequested(const std::vector<std::string>& parameters) {
    return !parameters.empty() && parameters.front() == "/d";
}

std::atomic<bool>& traceSwitch() {
    static std::atomic<bool> on{false};
    return on;
}

} // namespace vetlina
