#include "cli/IniCheck.h"

#include "config/Configuration.h"
#include "device/PortFactory.h"
#include "device/Rfc2217Port.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/Ini.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <sys/stat.h>

namespace vetlina {
namespace {

// The keys the program reads, in the order of the file's example.
struct KnownKey {
    const TextKey* text = nullptr;
    const IntKey* number = nullptr;
    const char* section() const { return text ? text->section : number->section; }
    const char* name() const { return text ? text->key : number->key; }
};

constexpr std::array<KnownKey, 12> kKnownKeys = {{
    {&keys::Ident, nullptr},
    {&keys::User, nullptr},
    {&keys::City, nullptr},
    {&keys::Ats, nullptr},
    {nullptr, &keys::ZmkPort},
    {nullptr, &keys::ZmkSpeed},
    {nullptr, &keys::ModemPort},
    {&keys::ModemInit, nullptr},
    {nullptr, &keys::PostTime},
    {nullptr, &keys::HangTime},
    {nullptr, &keys::NumNoCarrier},
    {nullptr, &keys::AlarmTime},
}};

constexpr const char* kPortsSection = "PORTS";
// The working speeds of the analyzer link.
constexpr std::array<int32_t, 3> kAnalyzerSpeeds = {115200, 57600, 38400};

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(x) == lower(y);
    });
}

bool hasHighBytes(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The port number of a key "COM<n>" of [PORTS]; 0 for another key.
int comNumber(std::string_view key) {
    if (key.size() < 4 || key.size() > 12 || !sameName(key.substr(0, 3), "COM"))
        return 0;
    int n = 0;
    for (char c : key.substr(3)) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Text for the report: the file's bytes are code page 1251.
std::string shown(std::string_view cp1251) {
    return "\"" + toUtf8(cp1251) + "\"";
}

class Checker {
public:
    Checker(std::string_view bytes, const std::function<bool(const std::string&)>& deviceExists)
        : bytes_(bytes), ini_(IniFile::parse(bytes)), deviceExists_(deviceExists) {}

    IniCheckResult run() {
        if (bytes_.starts_with("\xEF\xBB\xBF"))
            mistake(1, "the file begins with a UTF-8 byte order mark: the program does not "
                       "read its first line; Vetlina.ini is code page 1251 text");
        for (int line : ini_.unreadLines())
            mistake(line, "the line is not read (a key needs \"KEY=value\" inside a "
                          "[SECTION]; a comment line begins with \";\")");
        for (const IniFile::Entry& entry : ini_.entries())
            checkEntry(entry);
        listKeys();
        listPorts();

        std::ostringstream out;
        out << keys_.str() << ports_.str();
        if (mistakes_.empty()) {
            out << "Nothing looks wrong.\n";
        } else {
            std::stable_sort(mistakes_.begin(), mistakes_.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            out << "Possible mistakes:\n";
            for (const auto& [line, text] : mistakes_)
                out << "  " << (line > 0 ? "line " + std::to_string(line) + ": " : "") << text
                    << "\n";
        }
        return {out.str(), static_cast<int>(mistakes_.size())};
    }

private:
    void mistake(int line, std::string text) { mistakes_.emplace_back(line, std::move(text)); }

    const KnownKey* known(const IniFile::Entry& entry) const {
        for (const KnownKey& key : kKnownKeys)
            if (sameName(entry.section, key.section()) && sameName(entry.key, key.name()))
                return &key;
        return nullptr;
    }

    void checkEntry(const IniFile::Entry& entry) {
        const std::string where = "[" + toUtf8(entry.section) + "] " + toUtf8(entry.key) + ": ";
        const KnownKey* key = known(entry);
        const bool portKey = sameName(entry.section, kPortsSection) && comNumber(entry.key) > 0;
        if (!key && !portKey) {
            bool knownSection = sameName(entry.section, kPortsSection) ||
                                std::any_of(kKnownKeys.begin(), kKnownKeys.end(), [&](auto& k) {
                                    return sameName(entry.section, k.section());
                                });
            mistake(entry.line, where + (knownSection ? "the program knows no such key"
                                                      : "the program reads no section [" +
                                                            toUtf8(entry.section) + "]"));
            return;
        }
        if (!entry.counts) {
            mistake(entry.line, where + "given again; the program takes the first one");
            return;
        }
        const std::string& value = entry.value;
        if (std::size_t at = inlineCommentAt(value); at != std::string::npos)
            mistake(entry.line, where + "an inline comment " + shown(value.substr(at)) +
                                    ": the program keeps it as part of the value, which is " +
                                    shown(value) +
                                    "; put comments on lines of their own, beginning with \";\"");
        if (hasHighBytes(value) && isUtf8(value))
            mistake(entry.line, where + "UTF-8 text " + shown(toCp1251(value)) +
                                    ": Vetlina.ini is code page 1251, so the program reads " +
                                    shown(value) + " (convert the file: iconv -f UTF-8 -t CP1251)");
        if (key && key->text && value.size() >= key->text->buffer)
            mistake(entry.line, where + "longer than " + std::to_string(key->text->buffer - 1) +
                                    " bytes: the program reads " +
                                    shown(value.substr(0, key->text->buffer - 1)));
        if (key && key->number)
            checkNumber(entry, where);
    }

    void checkNumber(const IniFile::Entry& entry, const std::string& where) {
        std::string_view text = entry.value;
        std::size_t digits = text.starts_with('-') || text.starts_with('+') ? 1 : 0;
        std::size_t first = digits;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
            ++digits;
        if (digits == first)
            mistake(entry.line, where + shown(text) + " is not a number: the program takes " +
                                    std::to_string(number(entry)));
        else if (digits < text.size() && inlineCommentAt(text) == std::string::npos)
            mistake(entry.line, where + "text after the number: the program reads " +
                                    std::to_string(number(entry)));
    }

    int32_t number(const IniFile::Entry& entry) const {
        const KnownKey* key = known(entry);
        return key && key->number ? readKey(ini_, *key->number) : 0;
    }

    void listKeys() {
        for (const char* section : {"VETLINA", "TIMES"}) {
            keys_ << "[" << section << "]\n";
            for (const KnownKey& key : kKnownKeys) {
                if (std::string_view(key.section()) != section)
                    continue;
                keys_ << "  " << key.name() << "=";
                if (key.text)
                    keys_ << toUtf8(readKey(ini_, *key.text));
                else
                    keys_ << readKey(ini_, *key.number);
                if (!ini_.has(key.section(), key.name()))
                    keys_ << "    (not given: the default)";
                keys_ << "\n";
            }
        }
        std::string ident = readKey(ini_, keys::Ident);
        if (!isValidIdent(ident))
            mistake(lineOf("VETLINA", "Ident"),
                    "[VETLINA] Ident: " + shown(ident) +
                        " is no identifier of a complex: 8 characters, each a digit, the "
                        "seventh may be a capital X" +
                        (ini_.has("VETLINA", "Ident") ? "" : " (the key is missing)"));
        keys_ << "[" << kPortsSection << "]\n";
        for (const IniFile::Entry& entry : ini_.entries())
            if (entry.counts && sameName(entry.section, kPortsSection) && comNumber(entry.key) > 0)
                keys_ << "  " << toUtf8(entry.key) << "=" << toUtf8(entry.value) << "\n";
    }

    void listPorts() {
        const int32_t analyzer = readKey(ini_, keys::ZmkPort);
        const int32_t modem = readKey(ini_, keys::ModemPort);
        ports_ << "Ports:\n";
        listPort("analyzer", "ZMKPort", analyzer);
        listPort("modem", "ModemPort", modem);
        if (analyzer == modem)
            mistake(lineOf("VETLINA", "ModemPort"),
                    "[VETLINA] ZMKPort and ModemPort are both " + std::to_string(modem) +
                        ": the analyzer and the modem need a port each");
        const int32_t speed = readKey(ini_, keys::ZmkSpeed);
        if (std::find(kAnalyzerSpeeds.begin(), kAnalyzerSpeeds.end(), speed) ==
            kAnalyzerSpeeds.end())
            mistake(lineOf("VETLINA", "ZMKSpeed"),
                    "[VETLINA] ZMKSpeed: " + std::to_string(speed) +
                        " is not a speed of the analyzer (115200, 57600 or 38400)");
        for (const IniFile::Entry& entry : ini_.entries()) {
            if (!entry.counts || !sameName(entry.section, kPortsSection) ||
                comNumber(entry.key) == 0 || !isRfc2217Device(entry.value))
                continue;
            if (!parseRfc2217Address(std::string_view(entry.value).substr(kRfc2217Scheme.size())))
                mistake(entry.line, "[PORTS] " + toUtf8(entry.key) + ": " + shown(entry.value) +
                                        " is not rfc2217://HOST:PORT (an IPv6 host in "
                                        "brackets, a port of 1 to 65535)");
        }
    }

    void listPort(const char* role, const char* key, int32_t number) {
        ports_ << "  " << role << " (" << key << "=" << number << "): ";
        if (number < 1) {
            ports_ << "no port\n";
            mistake(lineOf("VETLINA", key),
                    std::string("[VETLINA] ") + key + ": the ports are numbered from 1");
            return;
        }
        const std::string com = "COM" + std::to_string(number);
        const std::string device = portDevice(ini_, number);
        const bool configured = ini_.has(kPortsSection, com);
        ports_ << com << " = " << shown(device)
               << (configured ? "" : " (no key " + com + " in [PORTS]: the default)");
        if (isRfc2217Device(device)) {
            auto address =
                parseRfc2217Address(std::string_view(device).substr(kRfc2217Scheme.size()));
            if (address)
                ports_ << ", serial device server " << address->host << ", TCP port "
                       << address->port;
            ports_ << "\n";
            return;
        }
        ports_ << "\n";
        const int line = configured ? lineOf(kPortsSection, com) : 0;
        if (!device.starts_with('/'))
            mistake(line, com + ": " + shown(device) +
                              " is neither a device path (/dev/...) nor rfc2217://HOST:PORT");
        else if (!deviceExists_(device))
            mistake(line,
                    com + " (the " + role + "): there is no " + shown(device) + " on this machine");
    }

    int lineOf(std::string_view section, std::string_view key) const {
        for (const IniFile::Entry& entry : ini_.entries())
            if (entry.counts && sameName(entry.section, section) && sameName(entry.key, key))
                return entry.line;
        return 0;
    }

    std::string_view bytes_;
    IniFile ini_;
    const std::function<bool(const std::string&)>& deviceExists_;
    std::ostringstream keys_;
    std::ostringstream ports_;
    std::vector<std::pair<int, std::string>> mistakes_;
};

} // namespace

std::size_t inlineCommentAt(std::string_view value) {
    for (std::size_t i = 0; i < value.size(); ++i)
        if ((value[i] == ';' || value[i] == '#') &&
            (i == 0 || value[i - 1] == ' ' || value[i - 1] == '\t'))
            return i;
    return std::string_view::npos;
}

IniCheckResult checkIni(std::string_view bytes,
                        const std::function<bool(const std::string&)>& deviceExists) {
    return Checker(bytes, deviceExists).run();
}

int iniCheckCommand(const std::vector<std::string>& file, std::ostream& out, std::ostream& err) {
    const std::string path = file.empty() ? kConfigurationFile : file.front();
    errno = 0;
    auto bytes = readWholeFile(path);
    if (!bytes) {
        err << "vetlina-data: " << path
            << ": cannot read: " << std::strerror(errno != 0 ? errno : EIO) << "\n";
        return 1;
    }
    auto exists = [](const std::string& device) {
        struct stat info {};
        return ::stat(device.c_str(), &info) == 0;
    };
    IniCheckResult result = checkIni(*bytes, exists);
    out << path << " as the program reads it (code page 1251, shown in UTF-8):\n" << result.report;
    out.flush();
    if (!out) {
        err << "vetlina-data: cannot write to standard output\n";
        return 1;
    }
    return result.mistakes == 0 ? 0 : 1;
}

} // namespace vetlina
