#include "reports/DataFileReader.h"

#include <cstring>
#include <set>

namespace vetlina {
namespace {

bool fail(DataFileError& error, std::size_t offset, std::string what) {
    error.offset = offset;
    error.what = std::move(what);
    return false;
}

std::string hexByte(unsigned char c) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[c >> 4] + digits[c & 15];
}

template <std::size_t N>
std::string identOf(const char (&field)[N]) {
    const void* nul = std::memchr(field, 0, N);
    return std::string(field, nul ? static_cast<const char*>(nul) - field : N);
}

bool isRole(char c) {
    return c == kGeneratorRole || c == kMeterRole;
}

bool readCommonHeader(std::string_view bytes, DataFileContents& c, DataFileError& error) {
    if (bytes.size() < sizeof(DataFileHeader))
        return fail(error, bytes.size(), "header cut off");
    DataFileHeader h;
    std::memcpy(&h, bytes.data(), sizeof h);
    if (h.callerFlag > 1)
        return fail(error, offsetof(DataFileHeader, callerFlag),
                    "caller flag " + std::to_string(h.callerFlag) + " is not 0 or 1");
    if (!isRole(h.callerRole))
        return fail(error, offsetof(DataFileHeader, callerRole),
                    "role letter " + hexByte(h.callerRole) + " is not G or M");
    if (!isRole(h.answererRole) || h.answererRole == h.callerRole)
        return fail(error, offsetof(DataFileHeader, answererRole),
                    "role letter " + hexByte(h.answererRole) + " is not the caller's opposite");
    if (h.session.get() < 1)
        return fail(error, offsetof(DataFileHeader, session),
                    "session number " + std::to_string(h.session.get()) + " is below 1");
    if (h.cycleEnd > 1)
        return fail(error, offsetof(DataFileHeader, cycleEnd),
                    "cycle-end flag " + std::to_string(h.cycleEnd) + " is not 0 or 1");
    c.callerFlag = h.callerFlag;
    c.cycleStart = h.cycleStart.get();
    c.writtenAt = h.writtenAt.get();
    c.callerRole = h.callerRole;
    c.answererRole = h.answererRole;
    c.callerIdent = identOf(h.callerIdent);
    c.answererIdent = identOf(h.answererIdent);
    c.session = h.session.get();
    c.cycleEnd = h.cycleEnd;
    return true;
}

bool readNormsHeader(std::string_view bytes, DataFileContents& c, DataFileError& error) {
    if (bytes.size() < sizeof(NormsFileHeader))
        return fail(error, bytes.size(), "header cut off");
    NormsFileHeader h;
    std::memcpy(&h, bytes.data(), sizeof h);
    if (h.callerFlag > 1)
        return fail(error, offsetof(NormsFileHeader, callerFlag),
                    "caller flag " + std::to_string(h.callerFlag) + " is not 0 or 1");
    if (h.plan.ThAbs > 1)
        return fail(error, offsetof(NormsFileHeader, plan) + offsetof(MeasurementPlan, ThAbs),
                    "threshold kind " + std::to_string(h.plan.ThAbs) + " is not 0 or 1");
    c.callerFlag = h.callerFlag;
    c.cycleStart = h.cycleStart.get();
    c.callerIdent = identOf(h.callerIdent);
    c.answererIdent = identOf(h.answererIdent);
    c.plan = h.plan;
    return true;
}

bool isKeyByte(char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9');
}

bool readItems(std::string_view bytes, std::size_t at, DataFileContents& c, DataFileError& error) {
    std::set<std::string, std::less<>> seen;
    while (at < bytes.size()) {
        const std::size_t keyAt = at;
        std::size_t n = 0;
        while (at + n < bytes.size() && bytes[at + n] != '\0') {
            if (!isKeyByte(bytes[at + n]))
                return fail(error, at + n,
                            "key byte " + hexByte(static_cast<unsigned char>(bytes[at + n])) +
                                " is not an ASCII letter or digit");
            if (++n > kMaxKeyLength)
                return fail(error, keyAt, "key longer than " + std::to_string(kMaxKeyLength));
        }
        if (at + n >= bytes.size())
            return fail(error, keyAt, "key without its terminating zero");
        if (n == 0)
            return fail(error, keyAt, "empty key");
        const std::string_view key = bytes.substr(at, n);
        at += n + 1;
        if (key == kEndKey) {
            if (at != bytes.size())
                return fail(error, at, std::to_string(bytes.size() - at) + " bytes after \"end\"");
            return true;
        }
        if (!seen.emplace(key).second)
            return fail(error, keyAt, "key \"" + std::string(key) + "\" repeated");
        DataFileItem item;
        item.key = std::string(key);
        item.offset = keyAt;
        if (bytes.size() - at < 4)
            return fail(error, at, "value of \"" + item.key + "\" cut off");
        if (isListKey(key)) {
            const int32_t count = loadLe<int32_t>(bytes.data() + at);
            if (count < 0 || count > kMaxListPoints)
                return fail(error, at,
                            "list count " + std::to_string(count) + " of \"" + item.key +
                                "\" is outside 0.." + std::to_string(kMaxListPoints));
            at += 4;
            const std::size_t need = static_cast<std::size_t>(count) * 8;
            if (bytes.size() - at < need)
                return fail(error, at, "list of \"" + item.key + "\" cut off");
            item.isList = true;
            for (int32_t i = 0; i < count; ++i, at += 8)
                item.points.push_back(
                    {loadLe<float>(bytes.data() + at), loadLe<float>(bytes.data() + at + 4)});
        } else {
            item.value = loadLe<float>(bytes.data() + at);
            at += 4;
        }
        c.items.push_back(std::move(item));
    }
    return fail(error, bytes.size(), "no \"end\"");
}

} // namespace

std::string DataFileError::describe() const {
    return "offset " + std::to_string(offset) + ": " + what;
}

std::string_view messageCodeText(uint8_t code) {
    switch (code) {
    case 4:
        return "НУВ (нет несущей). Выполнение прекращено";
    case 5:
        return "Отказ анализатора или модема";
    case 6:
        return "Снято оператором";
    case 7:
        return "Зависание";
    default:
        return {};
    }
}

bool readDataFile(std::string_view bytes, DataFileContents& c, DataFileError& error) {
    c = DataFileContents{};
    if (bytes.size() > kMaxDataFileSize)
        return fail(error, kMaxDataFileSize,
                    "file longer than " + std::to_string(kMaxDataFileSize) + " bytes");
    if (bytes.empty())
        return fail(error, 0, "empty file");
    switch (bytes[0]) {
    case kDataKind:
        c.kind = DataFileKind::Data;
        return readCommonHeader(bytes, c, error) &&
               readItems(bytes, sizeof(DataFileHeader), c, error);
    case kNormsKind:
        c.kind = DataFileKind::Norms;
        return readNormsHeader(bytes, c, error) &&
               readItems(bytes, sizeof(NormsFileHeader), c, error);
    case kMessageKind:
        c.kind = DataFileKind::Message;
        if (!readCommonHeader(bytes, c, error))
            return false;
        if (bytes.size() < kMessageFileSize)
            return fail(error, bytes.size(), "message code cut off");
        c.messageCode = static_cast<uint8_t>(bytes[sizeof(DataFileHeader)]);
        if (messageCodeText(c.messageCode).empty())
            return fail(error, sizeof(DataFileHeader),
                        "message code " + std::to_string(c.messageCode) + " is unknown");
        if (bytes.size() > kMessageFileSize)
            return fail(error, kMessageFileSize,
                        std::to_string(bytes.size() - kMessageFileSize) +
                            " bytes after the message code");
        return true;
    default:
        return fail(error, 0,
                    "kind " + hexByte(static_cast<unsigned char>(bytes[0])) + " is not D, S or M");
    }
}

} // namespace vetlina
