// JSON of one file of DATA for the file tool.
#include "cli/DataFileTool.h"
#include "platform/Cp1251.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/ValueMarks.h"

#include <cerrno>
#include <cstring>

namespace vetlina {
namespace {

const char* kindName(DataFileKind kind) {
    switch (kind) {
    case DataFileKind::Data:
        return "data";
    case DataFileKind::Norms:
        return "norms";
    case DataFileKind::Message:
        return "message";
    }
    return "";
}

OrderedJson dateJson(double days) {
    OrderedJson j;
    j["days"] = doubleJson(days);
    j["text"] = formatDateTime(days);
    return j;
}

// The keys of a norms file that carry a frequency, not a norm.
bool isFrequencyKey(const std::string& key) {
    return key == "ImpedFreq" || key == "CapacFreq" || key == "AttNotch" || key == "DelNotch";
}

// A norm is set when it is above -998 (-999: no norm).
OrderedJson normJson(float value) {
    OrderedJson j;
    j["on"] = value > kNoNormBound;
    j["value"] = floatJson(value);
    return j;
}

OrderedJson planJson(const MeasurementPlan& p) {
    OrderedJson j;
#define F(name) j[#name] = floatJson(p.name.get())
#define D(name) j[#name] = doubleJson(p.name.get())
#define I(name) j[#name] = p.name.get()
    D(EditEchoTime);
    F(EditEchoLev);
    F(EditEchoLevR);
    I(EditEchoFreq);
    I(EditEchoT1);
    I(EditEchoT2);
    I(EditEchoT);
    D(EditSinTime);
    F(EditSinLev);
    F(EditSinLevR);
    I(EditSinFreq);
    D(EditO132Time);
    F(EditO132Lev);
    F(EditO132LevR);
    I(EditO132Freq);
    D(EditO131Time);
    F(EditO131Lev);
    F(EditO131LevR);
    D(EditMTTSTime);
    F(EditMTTSLev);
    F(EditMTTSLevR);
    D(EditO42Time);
    F(EditO42Lev);
    F(EditO42LevR);
    D(EditImpTime);
    F(EditImpLev);
    F(EditImpLevR);
    D(EditBlkTime);
    D(EditDiscrTime);
    I(EditSincTime);
    I(EditDeadTime);
    I(EditMaxLev);
    I(EditMinLev);
    I(EditMinSNR);
    F(EditThHitPh);
    F(EditThHitAm);
    j["ThAbs"] = p.ThAbs;
    F(EditThAbsPul);
    F(EditThAbsInt);
    F(EditThRelPul);
    F(EditThRelInt);
#undef F
#undef D
#undef I
    return j;
}

} // namespace

bool readDataFileAt(const std::string& path, DataFileContents& contents, std::string& error) {
    errno = 0;
    File file = File::open(path, File::Mode::Read);
    if (!file.isOpen()) {
        error = path + ": cannot read: " + std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    // One byte more than the reader accepts, so that it can tell a file that is too long.
    std::string bytes(kMaxDataFileSize + 1, '\0');
    std::size_t have = 0;
    while (have < bytes.size()) {
        const long n = file.read(bytes.data() + have, bytes.size() - have);
        if (n < 0) {
            error = path + ": cannot read: " + std::strerror(errno != 0 ? errno : EIO);
            return false;
        }
        if (n == 0)
            break;
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    DataFileError damage;
    if (!readDataFile(bytes, contents, damage)) {
        error = path + ": damaged: " + damage.describe();
        return false;
    }
    return true;
}

OrderedJson dataFileToJson(const std::string& path, const DataFileContents& c) {
    OrderedJson j;
    j["file"] = path;
    j["kind"] = kindName(c.kind);
    j["callerFlag"] = c.callerFlag;
    j["cycleStart"] = dateJson(c.cycleStart);
    if (c.kind != DataFileKind::Norms)
        j["writtenAt"] = dateJson(c.writtenAt);
    if (c.kind != DataFileKind::Norms)
        j["callerRole"] = std::string(1, c.callerRole);
    j["callerIdent"] = toUtf8(c.callerIdent);
    if (c.kind != DataFileKind::Norms)
        j["answererRole"] = std::string(1, c.answererRole);
    j["answererIdent"] = toUtf8(c.answererIdent);
    if (c.kind != DataFileKind::Norms) {
        j["session"] = c.session;
        j["cycleEnd"] = c.cycleEnd;
    }
    if (c.kind == DataFileKind::Norms)
        j["plan"] = planJson(c.plan);
    if (c.kind == DataFileKind::Message) {
        j["code"] = c.messageCode;
        j["text"] = std::string(messageCodeText(c.messageCode));
        return j;
    }
    const bool norms = c.kind == DataFileKind::Norms;
    OrderedJson items = OrderedJson::object();
    for (const DataFileItem& item : c.items) {
        if (item.isList) {
            OrderedJson points = OrderedJson::array();
            for (const ListPoint& p : item.points) {
                OrderedJson point = norms ? normJson(p.value) : OrderedJson::object();
                if (!norms)
                    point["value"] = floatJson(p.value);
                point["frequency"] = floatJson(p.frequency);
                points.push_back(std::move(point));
            }
            items[item.key] = std::move(points);
        } else if (norms && !isFrequencyKey(item.key)) {
            items[item.key] = normJson(item.value);
        } else {
            items[item.key] = floatJson(item.value);
        }
    }
    j["items"] = std::move(items);
    return j;
}

} // namespace vetlina
