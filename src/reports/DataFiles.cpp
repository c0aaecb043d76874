#include "reports/DataFiles.h"

#include "device/Device.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/ValueMarks.h"
#include "reports/CycleStatistics.h"
#include "reports/DataFileFormat.h"
#include "reports/LiveResults.h"
#include "scenario/ScenarioEntry.h"
#include "ui/RunMessages.h"
#include "ui/UiBridge.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vetlina {
namespace {

// How many taken names in a row a new file skips before it gives up.
constexpr int kNameAttempts = 1000;

// ---- Item composition ------------------------------------------------------------------

class Items {
public:
    explicit Items(std::string& out) : out_(out) {}
    void key(std::string_view key) {
        out_.append(key);
        out_.push_back('\0');
    }
    void f32(float value) { put<float>(value); }
    void i32(int32_t value) { put<int32_t>(value); }
    void item(std::string_view k, float value) {
        key(k);
        f32(value);
    }
    void end() { key(kEndKey); }

private:
    template <typename T>
    void put(T value) {
        char bytes[sizeof(T)];
        storeLe<T>(bytes, value);
        out_.append(bytes, sizeof(T));
    }
    std::string& out_;
};

template <typename T>
void append(std::string& out, const T& record) {
    out.append(reinterpret_cast<const char*>(&record), sizeof(T));
}

// How a norm is held in the entry and written to the norms file.
enum class NormForm {
    Real,      // f32 as it is
    Integer,   // i32, written as f32
    PowerOfTen // i32 exponent n, written as 10 to the n
};

// One item of a group: its row in the group's values and its norm in the entry.
struct GroupItem {
    int row;
    uint8_t ScenarioEntry::*on;
    NormForm form;
    Le<float> ScenarioEntry::*real = nullptr;
    Le<int32_t> ScenarioEntry::*integer = nullptr;
};

#define REAL(Block, key)                                                                           \
    { Block::key, &ScenarioEntry::key##On, NormForm::Real, &ScenarioEntry::key }
#define INTEGER(Block, key)                                                                        \
    { Block::key, &ScenarioEntry::key##On, NormForm::Integer, nullptr, &ScenarioEntry::key }
#define POWER(Block, key)                                                                          \
    { Block::key, &ScenarioEntry::key##On, NormForm::PowerOfTen, nullptr, &ScenarioEntry::key }

constexpr GroupItem kSineItems[] = {
    REAL(SineStats, sinSNR),       REAL(SineStats, sinSNRps),   REAL(SineStats, sinJitPh),
    REAL(SineStats, sinJitAm),     REAL(SineStats, sinShift),   REAL(SineStats, sinPulPrc),
    INTEGER(SineStats, sinPulCnt), POWER(SineStats, sinPulRel), REAL(SineStats, sinIntPrc),
    INTEGER(SineStats, sinIntCnt), POWER(SineStats, sinIntRel), REAL(SineStats, sinSumPrc),
    INTEGER(SineStats, sinSumCnt), POWER(SineStats, sinSumRel), INTEGER(SineStats, sinHitPh),
    INTEGER(SineStats, sinHitAm),  REAL(SineStats, sinMod),     REAL(SineStats, sinAtt),
    REAL(SineStats, sinDis2),      REAL(SineStats, sinDis3),    REAL(SineStats, sinDis23)};
constexpr GroupItem kO132Items[] = {REAL(O132Stats, o132SNR), REAL(O132Stats, o132SNRps),
                                    REAL(O132Stats, o132JitPh), REAL(O132Stats, o132JitAm),
                                    REAL(O132Stats, o132Shift)};
constexpr GroupItem kO131Items[] = {REAL(O131Stats, o131SNR)};
constexpr GroupItem kNoiseItems[] = {REAL(NoiseStats, blkNoise), REAL(NoiseStats, blkNoisePs),
                                     REAL(NoiseStats, blkNoiseSel)};
constexpr GroupItem kTalkerItems[] = {
    {0, &ScenarioEntry::echoTalkOn, NormForm::Real, &ScenarioEntry::echoTalk}};
constexpr GroupItem kListenerItems[] = {
    {0, &ScenarioEntry::echoListOn, NormForm::Real, &ScenarioEntry::echoList}};
constexpr GroupItem kO42Items[] = {REAL(O42Stats, o42Dis2), REAL(O42Stats, o42Dis3),
                                   REAL(O42Stats, o42Dis23)};
constexpr GroupItem kThroughputItem = REAL(ThroughputStats, disPass);

#undef REAL
#undef INTEGER
#undef POWER

// The norm of an item as the norms file carries it; false when no norm is set.
bool normOf(const ScenarioEntry& e, const GroupItem& item, float& norm) {
    switch (item.form) {
    case NormForm::Real:
        norm = (e.*item.real).get();
        return norm > kNoNormBound;
    case NormForm::Integer: {
        const int32_t n = (e.*item.integer).get();
        norm = static_cast<float>(n);
        return n > kNoNormBound;
    }
    case NormForm::PowerOfTen: {
        const int32_t n = (e.*item.integer).get();
        norm = static_cast<float>(std::pow(10.0, n));
        return n > kNoNormBound;
    }
    }
    return false;
}

// The selected items of a gated group with the group's values (-999 for every item when
// the group counted no block).
template <int Rows, std::size_t N>
void dataItems(Items& out, const ScenarioEntry& e, const GroupValues<Rows>& g,
               const char* const* keys, const GroupItem (&items)[N]) {
    if (!g.on)
        return;
    for (const GroupItem& item : items)
        if (e.*item.on)
            out.item(keys[item.row], g.count > 0 ? g.value[item.row] : kNotMeasured);
}

template <std::size_t N>
void normItems(Items& out, const ScenarioEntry& e, bool gate, const char* const* keys,
               const GroupItem (&items)[N]) {
    if (!gate)
        return;
    for (const GroupItem& item : items) {
        float norm = 0;
        if (e.*item.on && normOf(e, item, norm))
            out.item(keys[item.row], norm);
    }
}

// A frequency list of a data file: the counted points' values (scaled) and frequencies.
void dataList(Items& out, std::string_view key, int32_t validCount,
              const std::array<bool, kMttPoints>& counted,
              const std::array<float, kMttPoints>& value, const Le<float> (&frequency)[kMttPoints],
              float scale) {
    out.key(key);
    int32_t n = 0;
    for (bool c : counted)
        n += c ? 1 : 0;
    if (validCount <= 0) {
        out.i32(0);
        return;
    }
    out.i32(n);
    for (int i = 0; i < kMttPoints; ++i) {
        if (!counted[i])
            continue;
        out.f32(value[i] * scale);
        out.f32(frequency[i]);
    }
}

// A frequency list of norms, written only when it has a counted point, and its reference.
template <typename Norm>
void normList(Items& out, std::string_view key, const Norm (&norm)[kMttPoints],
              const Le<float> (&frequency)[kMttPoints], std::string_view notchKey, float notch) {
    int32_t n = 0;
    for (const auto& f : frequency)
        n += f.get() > kCountedPointHz ? 1 : 0;
    if (n <= 0)
        return;
    out.key(key);
    out.i32(n);
    for (int i = 0; i < kMttPoints; ++i) {
        if (!(frequency[i].get() > kCountedPointHz))
            continue;
        out.f32(static_cast<float>(norm[i].get()));
        out.f32(frequency[i]);
    }
    out.item(notchKey, notch);
}

void setIdent(char (&field)[kIdentWidth], const std::string& ident) {
    std::memset(field, 0, kIdentWidth);
    std::memcpy(field, ident.data(), std::min(ident.size(), kIdentWidth));
}

// ---- The measurement plan ----------------------------------------------------------------

MeasurementPlan planOf(ScenarioEntry& e) {
    const bool generator = e.ComplexType == kGeneratorComplexType;
    if (!generator) {
        // A kind that is not effectively planned is not measured: its time is 0.
        const struct {
            bool (*performs)(const ScenarioEntry&);
            Le<double> ScenarioEntry::*time;
        } kinds[] = {{performsEcho, &ScenarioEntry::EchoTime},
                     {performsSine, &ScenarioEntry::SinTime},
                     {performsO132, &ScenarioEntry::O132Time},
                     {performsO131, &ScenarioEntry::O131Time},
                     {performsMultiFrequency, &ScenarioEntry::MTTSTime},
                     {performsO42, &ScenarioEntry::O42Time},
                     {performsImpedance, &ScenarioEntry::ImpTime},
                     {performsNoise, &ScenarioEntry::BlkTime},
                     {performsThroughput, &ScenarioEntry::DiscrTime}};
        bool planned[std::size(kinds)];
        for (std::size_t i = 0; i < std::size(kinds); ++i)
            planned[i] = kinds[i].performs(e);
        for (std::size_t i = 0; i < std::size(kinds); ++i)
            if (!planned[i])
                e.*kinds[i].time = 0.0;
    }
    MeasurementPlan p{};
    p.EditEchoTime = e.EchoTime;
    p.EditEchoLev = e.EchoLev;
    p.EditEchoLevR = e.EchoLevR;
    p.EditEchoFreq = e.EchoFreq;
    p.EditEchoT1 = e.EchoT1;
    p.EditEchoT2 = e.EchoT2;
    p.EditEchoT = e.EchoT;
    p.EditSinTime = e.SinTime;
    p.EditSinLev = e.SinLev;
    p.EditSinLevR = e.SinLevR;
    p.EditSinFreq = e.SinFreq;
    p.EditO132Time = e.O132Time;
    p.EditO132Lev = e.O132Lev;
    p.EditO132LevR = e.O132LevR;
    p.EditO132Freq = e.O132Freq;
    p.EditO131Time = e.O131Time;
    p.EditO131Lev = e.O131Lev;
    p.EditO131LevR = e.O131LevR;
    p.EditMTTSTime = e.MTTSTime;
    p.EditMTTSLev = e.MTTSLev;
    p.EditMTTSLevR = e.MTTSLevR;
    p.EditO42Time = e.O42Time;
    p.EditO42Lev = e.O42Lev;
    p.EditO42LevR = e.O42LevR;
    p.EditImpTime = e.ImpTime;
    p.EditImpLev = e.ImpLev;
    p.EditImpLevR = e.ImpLevR;
    p.EditBlkTime = e.BlkTime;
    p.EditDiscrTime = e.DiscrTime;
    p.EditSincTime = e.SincTime;
    p.EditDeadTime = e.DeadTime;
    p.EditMaxLev = e.MaxLev;
    p.EditMinLev = e.MinLev;
    p.EditMinSNR = e.MinSNR;
    p.EditThHitPh = e.ThHitPh;
    p.EditThHitAm = e.ThHitAm;
    p.ThAbs = e.ThAbs;
    p.EditThAbsPul = e.ThAbsPul;
    p.EditThAbsInt = e.ThAbsInt;
    p.EditThRelPul = e.ThRelPul;
    p.EditThRelInt = e.ThRelInt;
    if (generator) {
        // The generator's fixed programme: echo, sine, O.132 and multi-frequency.
        p.EditEchoTime = 60.0;
        p.EditEchoLev = -5.0f;
        p.EditEchoLevR = -5.0f;
        p.EditEchoFreq = 1600;
        p.EditEchoT1 = 5000;
        p.EditEchoT2 = 5000;
        p.EditEchoT = 20;
        p.EditSinTime = 60.0;
        p.EditSinLev = -5.0f;
        p.EditSinLevR = -5.0f;
        p.EditSinFreq = 1800;
        p.EditO132Time = 20.0;
        p.EditO132Lev = -5.0f;
        p.EditO132LevR = -5.0f;
        p.EditO132Freq = 1020;
        p.EditO131Time = 0.0;
        p.EditMTTSTime = 20.0;
        p.EditMTTSLev = -10.0f;
        p.EditMTTSLevR = -10.0f;
        p.EditO42Time = 0.0;
        p.EditImpTime = 0.0;
        p.EditBlkTime = 0.0;
        p.EditDiscrTime = 0.0;
    }
    return p;
}

// ---- Files -----------------------------------------------------------------------------

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool ensureFolder(const std::string& folder) {
    return folderExists(folder) || makeFolder(folder) || folderExists(folder);
}

std::string numberedPath(int64_t number) {
    char name[40];
    std::snprintf(name, sizeof name, "%s/zmk%05lld.dat", kDataFolder,
                  static_cast<long long>(number));
    return name;
}

// A name of DATA that no zmk*.dat pattern matches, unique in this process.
std::string temporaryPath() {
    static std::atomic<uint64_t> sequence{0};
    return std::string(kDataFolder) + "/new" + std::to_string(::getpid()) + "-" +
           std::to_string(sequence.fetch_add(1)) + ".tmp";
}

void reportFailure(EventWriter& writer, UiBridge& ui, Device* thread, const char* utf8Text) {
    const std::string text = toCp1251(utf8Text);
    if (thread)
        thread->stop();
    writer.logEvent(text, true);
    ui.dialogs().showMessage("Ошибка"_cp, text, DialogIcon::Warning);
    ui.post(MSG_RUN_END);
}

} // namespace

int64_t nextDataFileNumber(const std::string& folder) {
    if (!ensureFolder(folder))
        return -1;
    int64_t largest = -1;
    for (const std::string& name : listFiles(folder, "zmk*.dat"))
        if (auto n = dataFileNumber(name))
            largest = std::max(largest, *n);
    return largest + 1;
}

std::string newDataFilePath() {
    const int64_t n = nextDataFileNumber(kDataFolder);
    return numberedPath(n < 0 ? 0 : n);
}

PublishResult publishNewFile(std::string_view bytes, std::string& path) {
    if (!ensureFolder(kDataFolder))
        return PublishResult::CreateFailed;
    const std::string temporary = temporaryPath();
    {
        File file = File::open(temporary, File::Mode::CreateExclusive);
        if (!file.isOpen())
            return PublishResult::CreateFailed;
        if (!file.writeAll(bytes) || !file.sync()) {
            file.close();
            removeFile(temporary);
            return PublishResult::WriteFailed;
        }
    }
    int64_t number = nextDataFileNumber(kDataFolder);
    for (int attempt = 0; number >= 0 && attempt < kNameAttempts; ++attempt, ++number) {
        const std::string candidate = numberedPath(number);
        if (::link(temporary.c_str(), candidate.c_str()) == 0) {
            removeFile(temporary);
            syncFolder(kDataFolder);
            path = candidate;
            return PublishResult::Ok;
        }
        if (errno != EEXIST)
            break;
    }
    removeFile(temporary);
    return PublishResult::CreateFailed;
}

DataFileHeader dataFileHeader(char kind, const ScenarioEntry& e, const CycleParties& parties,
                              bool localMeter, DateTime writtenAt) {
    DataFileHeader h{};
    h.kind = kind;
    h.callerFlag = parties.calling ? 1 : 0;
    h.cycleStart = e.SeriesTime.get();
    h.writtenAt = writtenAt;
    // The caller measured when it is this complex and this complex measured, or when it
    // is the far complex and this one generated.
    const bool callerMeasured = parties.calling == localMeter;
    h.callerRole = callerMeasured ? kMeterRole : kGeneratorRole;
    h.answererRole = callerMeasured ? kGeneratorRole : kMeterRole;
    setIdent(h.callerIdent, parties.caller);
    setIdent(h.answererIdent, parties.answerer);
    h.session = e.SessionsDone.get() + 1;
    h.cycleEnd = e.Finished != 0 ? 1 : 0;
    return h;
}

std::string dataFileImage(const ScenarioEntry& e, const DataFileHeader& header,
                          const DirectionValues& v) {
    std::string out;
    out.reserve(1024);
    append(out, header);
    Items items(out);
    items.item("Busy", v.calls.busy);
    items.item("Carr", v.calls.carr);
    items.item("Break", v.calls.brk);
    dataItems(items, e, v.sine, SineStats::kItemNames, kSineItems);
    dataItems(items, e, v.o132, O132Stats::kItemNames, kO132Items);
    dataItems(items, e, v.o131, O131Stats::kItemNames, kO131Items);
    dataItems(items, e, v.noise, NoiseStats::kItemNames, kNoiseItems);
    dataItems(items, e, v.talkerEcho, &EchoStats::kItemNames[EchoStats::echoTalk], kTalkerItems);
    dataItems(items, e, v.listenerEcho, &EchoStats::kItemNames[EchoStats::echoList],
              kListenerItems);
    if (v.impedance.on) {
        const bool counted = v.impedance.count > 0;
        if (e.impImpedOn)
            items.item("impImped",
                       counted ? v.impedance.value[ImpedanceStats::impImped] : kNotMeasured);
        if (e.impCapacOn)
            items.item("impCapac", counted ? v.impedance.value[ImpedanceStats::impCapac] * 1000.0f
                                           : kNotMeasured);
    }
    const MultiFrequencyValues& m = v.multiFrequency;
    if (m.on) {
        if (e.mttAttOn)
            dataList(items, kAttListKey, m.count, m.attCounted, m.att, e.AttF, 1.0f);
        if (e.mttDelOn)
            dataList(items, kDelListKey, m.count, m.delCounted, m.del, e.DelF, 1000.0f);
    }
    dataItems(items, e, v.o42, O42Stats::kItemNames, kO42Items);
    if (v.throughputOn)
        items.item("disPass", v.throughput);
    items.end();
    return out;
}

std::string normsFileImage(ScenarioEntry& e, const CycleParties& parties) {
    NormsFileHeader h{};
    h.kind = kNormsKind;
    h.callerFlag = parties.calling ? 1 : 0;
    h.cycleStart = e.SeriesTime.get();
    setIdent(h.callerIdent, parties.caller);
    setIdent(h.answererIdent, parties.answerer);
    h.plan = planOf(e);
    const GroupGates g = groupGates(e);

    std::string out;
    out.reserve(1024);
    append(out, h);
    Items items(out);
    items.item("Busy", e.Busy);
    items.item("Carr", e.Carr);
    items.item("Break", e.Break);
    normItems(items, e, g.sine, SineStats::kItemNames, kSineItems);
    normItems(items, e, g.o132, O132Stats::kItemNames, kO132Items);
    normItems(items, e, g.o131, O131Stats::kItemNames, kO131Items);
    normItems(items, e, g.noise, NoiseStats::kItemNames, kNoiseItems);
    normItems(items, e, g.echo, &EchoStats::kItemNames[EchoStats::echoTalk], kTalkerItems);
    normItems(items, e, g.echo, &EchoStats::kItemNames[EchoStats::echoList], kListenerItems);
    if (g.impedance) {
        if (e.impImpedOn && e.impImped.get() > kNoNormBound) {
            items.item("impImped", static_cast<float>(e.impImped.get()));
            items.item("ImpedFreq", e.ImpedFreq);
        }
        if (e.impCapacOn && e.impCapac.get() > kNoNormBound) {
            items.item("impCapac", static_cast<float>(e.impCapac.get()));
            items.item("CapacFreq", e.CapacFreq);
        }
    }
    if (g.multiFrequency) {
        if (e.mttAttOn)
            normList(items, kAttListKey, e.Att, e.AttF, "AttNotch", e.AttNotch);
        if (e.mttDelOn)
            normList(items, kDelListKey, e.Del, e.DelF, "DelNotch", e.DelNotch);
    }
    normItems(items, e, g.o42, O42Stats::kItemNames, kO42Items);
    const GroupItem throughput[] = {kThroughputItem};
    normItems(items, e, g.throughput, ThroughputStats::kItemNames, throughput);
    items.end();
    return out;
}

bool writeNormsFile(Device& thread, ScenarioEntry& entry, const CycleParties& parties) {
    if (entry.SeriesTime.get() < 1.0)
        return true;
    std::string path;
    switch (publishNewFile(normsFileImage(entry, parties), path)) {
    case PublishResult::Ok:
        return true;
    case PublishResult::CreateFailed:
        reportFailure(thread, thread.ui(), &thread, "Ошибка создания файла норм");
        return false;
    case PublishResult::WriteFailed:
        reportFailure(thread, thread.ui(), &thread, "Ошибка записи в файл норм");
        return false;
    }
    return false;
}

bool writeDataFile(Device& thread, ScenarioEntry& entry, const CycleParties& parties,
                   const MeasuredDirection& direction, std::string& dataFileName,
                   std::string& previousDataFileName) {
    if (entry.SeriesTime.get() < 1.0)
        return true;
    const bool callerMeasured = parties.calling == direction.localMeter;
    // The values are derived once: the file and the statistics get the same ones.
    const DirectionValues values =
        directionValues(entry, direction.results, direction.throughput, callerMeasured);
    const DataFileHeader header =
        dataFileHeader(kDataKind, entry, parties, direction.localMeter, now());
    std::string path;
    switch (publishNewFile(dataFileImage(entry, header, values), path)) {
    case PublishResult::Ok:
        break;
    case PublishResult::CreateFailed:
        reportFailure(thread, thread.ui(), &thread, "Ошибка создания файла данных");
        return false;
    case PublishResult::WriteFailed:
        reportFailure(thread, thread.ui(), &thread, "Ошибка записи в файл данных");
        return false;
    }
    previousDataFileName = dataFileName;
    dataFileName = path;
    updateCycleStatistics(entry, values);
    return true;
}

void markCycleEnd(const std::string& path) {
    // Only a data file is patched; a file that has gone or is not one is left alone.
    File file = File::open(path, File::Mode::ReadWrite);
    if (!file.isOpen() || file.size() < static_cast<int64_t>(sizeof(DataFileHeader)))
        return;
    char kind = 0;
    if (file.read(&kind, 1) != 1 || kind != kDataKind)
        return;
    const char one = 1;
    if (file.seek(offsetof(DataFileHeader, cycleEnd)) && file.writeAll(std::string_view(&one, 1)))
        file.sync();
}

void reportDataFileFailure(EventWriter& writer, UiBridge& ui, const char* utf8Text) {
    reportFailure(writer, ui, nullptr, utf8Text);
}

} // namespace vetlina
