#include "scenario/EntryRanges.h"

#include "platform/Cp1251.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace vetlina {
namespace {

// 1 January of year 1 and the end of 31 December of year 9999 as day counts: the
// dates the date formats can show.
constexpr double kFirstDay = -693593.0;
constexpr double kAfterLastDay = 2958466.0;
// The longest duration the editor reads: a time of day, "23:59:59".
constexpr double kLongestDuration = 86399.0;
// A count far beyond any series that still leaves room to count on without overflow.
constexpr double kMaxCount = 1e9;

#define AT(member) offsetof(ScenarioEntry, member), sizeof(ScenarioEntry::member)

EntryField whole(std::string_view name, std::size_t offset, std::size_t size, double min,
                 double max, bool noNorm = false) {
    return {.name = name,
            .offset = offset,
            .size = size,
            .kind = FieldFamily::Whole,
            .min = min,
            .max = max,
            .noNorm = noNorm,
            .shortest = min};
}

EntryField decimal(std::string_view name, std::size_t offset, std::size_t size, double min,
                   double max, bool noNorm = false) {
    return {.name = name,
            .offset = offset,
            .size = size,
            .kind = FieldFamily::Decimal,
            .min = min,
            .max = max,
            .noNorm = noNorm};
}

EntryField norm(std::string_view name, std::size_t offset, std::size_t size, double min,
                double max) {
    return decimal(name, offset, size, min, max, true);
}

EntryField flag(std::string_view name, std::size_t offset, std::size_t size) {
    return {.name = name, .offset = offset, .size = size, .kind = FieldFamily::Flag, .max = 1};
}

EntryField duration(std::string_view name, std::size_t offset, std::size_t size, double shortest) {
    return {.name = name,
            .offset = offset,
            .size = size,
            .kind = FieldFamily::Duration,
            .max = kLongestDuration,
            .shortest = shortest};
}

EntryField dateTime(std::string_view name, std::size_t offset, std::size_t size,
                    bool edited = true) {
    return {.name = name,
            .offset = offset,
            .size = size,
            .kind = FieldFamily::DateTime,
            .min = kFirstDay,
            .max = kAfterLastDay,
            .edited = edited};
}

EntryField text(std::string_view name, std::size_t offset, std::size_t size, TextRule rule) {
    return {.name = name, .offset = offset, .size = size, .kind = FieldFamily::Text, .text = rule};
}

EntryField choice(std::string_view name, std::size_t offset, std::size_t size,
                  std::initializer_list<int32_t> values) {
    EntryField f{.name = name, .offset = offset, .size = size, .kind = FieldFamily::FixedChoice};
    for (int32_t v : values)
        f.choices[f.choiceCount++] = v;
    f.min = *values.begin();
    f.max = *(values.end() - 1);
    return f;
}

EntryField progress(EntryField f) {
    f.edited = false;
    return f;
}

// The multi-frequency points: name1..name14 of a f32 or i32 array.
const char* const kAttNames[kMttPoints] = {"Att1",  "Att2",  "Att3",  "Att4", "Att5",
                                           "Att6",  "Att7",  "Att8",  "Att9", "Att10",
                                           "Att11", "Att12", "Att13", "Att14"};
const char* const kAttFNames[kMttPoints] = {"AttF1",  "AttF2",  "AttF3",  "AttF4", "AttF5",
                                            "AttF6",  "AttF7",  "AttF8",  "AttF9", "AttF10",
                                            "AttF11", "AttF12", "AttF13", "AttF14"};
const char* const kDelNames[kMttPoints] = {"Del1",  "Del2",  "Del3",  "Del4", "Del5",
                                           "Del6",  "Del7",  "Del8",  "Del9", "Del10",
                                           "Del11", "Del12", "Del13", "Del14"};
const char* const kDelFNames[kMttPoints] = {"DelF1",  "DelF2",  "DelF3",  "DelF4", "DelF5",
                                            "DelF6",  "DelF7",  "DelF8",  "DelF9", "DelF10",
                                            "DelF11", "DelF12", "DelF13", "DelF14"};
const char* const kRunCounterNames[4] = {"RunCounters[0]", "RunCounters[1]", "RunCounters[2]",
                                         "RunCounters[3]"};

std::vector<EntryField> buildTable() {
    using E = ScenarioEntry;
    constexpr std::size_t i32 = 4, f32 = 4;
    std::vector<EntryField> t;
    // Identity and progress: the identity is edited with the list of complexes; the
    // progress is kept by the run and only has to make sense.
    t.push_back(text("Id", AT(Id), TextRule::Identifier));
    t.push_back(text("Number", AT(Number), TextRule::DialNumber));
    t.push_back(progress(flag("Finished", AT(Finished))));
    t.push_back(dateTime("SeriesTime", AT(SeriesTime), false));
    t.push_back(progress(whole("SessionsDone", AT(SessionsDone), 0, kMaxCount)));
    for (int i = 0; i < 4; ++i)
        t.push_back(progress(
            whole(kRunCounterNames[i], offsetof(E, RunCounters) + 4 * i, i32, 0, kMaxCount)));
    t.push_back(progress(whole("Calls", AT(Calls), 0, kMaxCount)));
    t.push_back(progress(whole("FailNUS", AT(FailNUS), 0, kMaxCount)));
    t.push_back(progress(whole("FailNUV", AT(FailNUV), 0, kMaxCount)));
    t.push_back(progress(whole("FailOtb", AT(FailOtb), 0, kMaxCount)));
    t.push_back(progress(whole("EvalCounterA", AT(EvalCounterA), 0, kMaxCount)));
    t.push_back(progress(whole("EvalCounterB", AT(EvalCounterB), 0, 4)));

    // General settings.
    t.push_back(flag("ComplexType", AT(ComplexType)));
    t.push_back(text("AT", AT(AT), TextRule::Commands));
    t.push_back(text("DiscrAT", AT(DiscrAT), TextRule::Commands));
    t.push_back(whole("NumMin", AT(NumMin), 1, 100));
    t.push_back(whole("NumTotal", AT(NumTotal), 1, 100));
    // The call norms have no editor control; they are per cent of the calls.
    t.push_back(progress(norm("Busy", AT(Busy), 0, 100)));
    t.push_back(progress(norm("Carr", AT(Carr), 0, 100)));
    t.push_back(progress(norm("Break", AT(Break), 0, 100)));
    t.push_back(dateTime("BegTime", AT(BegTime)));
    t.push_back(dateTime("EndTime", AT(EndTime)));
    t.push_back(dateTime("NextTime", AT(NextTime), false));
    t.push_back(whole("LocalPaus", AT(LocalPaus), 1, 99));
    t.push_back(whole("LocalCall", AT(LocalCall), 1, 99));
    t.push_back(whole("TrunkPaus", AT(TrunkPaus), 1, 99));
    t.push_back(whole("TrunkCall", AT(TrunkCall), 1, 99));
    t.push_back(whole("Trunk8W", AT(Trunk8W), 1, 99));
    t.push_back(flag("Analog", AT(Analog)));

    // Norms: the enable flags and the values, in record order.
    t.push_back(flag("sinSNROn", AT(sinSNROn)));
    t.push_back(norm("sinSNR", AT(sinSNR), 0, 70));
    t.push_back(flag("sinSNRpsOn", AT(sinSNRpsOn)));
    t.push_back(norm("sinSNRps", AT(sinSNRps), 0, 70));
    t.push_back(flag("sinJitPhOn", AT(sinJitPhOn)));
    t.push_back(flag("sinJitAmOn", AT(sinJitAmOn)));
    t.push_back(norm("sinJitPh", AT(sinJitPh), 0, 45));
    t.push_back(norm("sinJitAm", AT(sinJitAm), 0, 70));
    t.push_back(flag("sinShiftOn", AT(sinShiftOn)));
    t.push_back(norm("sinShift", AT(sinShift), 0, 10));
    t.push_back(flag("sinPulPrcOn", AT(sinPulPrcOn)));
    t.push_back(flag("sinPulCntOn", AT(sinPulCntOn)));
    t.push_back(flag("sinPulRelOn", AT(sinPulRelOn)));
    t.push_back(norm("sinPulPrc", AT(sinPulPrc), 0, 100));
    t.push_back(whole("sinPulCnt", AT(sinPulCnt), 0, 9999, true));
    t.push_back(whole("sinPulRel", AT(sinPulRel), -9, 0, true));
    t.push_back(flag("sinIntPrcOn", AT(sinIntPrcOn)));
    t.push_back(flag("sinIntCntOn", AT(sinIntCntOn)));
    t.push_back(flag("sinIntRelOn", AT(sinIntRelOn)));
    t.push_back(norm("sinIntPrc", AT(sinIntPrc), 0, 100));
    t.push_back(whole("sinIntCnt", AT(sinIntCnt), 0, 9999, true));
    t.push_back(whole("sinIntRel", AT(sinIntRel), -9, 0, true));
    t.push_back(flag("sinSumPrcOn", AT(sinSumPrcOn)));
    t.push_back(flag("sinSumCntOn", AT(sinSumCntOn)));
    t.push_back(flag("sinSumRelOn", AT(sinSumRelOn)));
    t.push_back(norm("sinSumPrc", AT(sinSumPrc), 0, 100));
    t.push_back(whole("sinSumCnt", AT(sinSumCnt), 0, 9999, true));
    t.push_back(whole("sinSumRel", AT(sinSumRel), -9, 0, true));
    t.push_back(flag("sinHitPhOn", AT(sinHitPhOn)));
    t.push_back(flag("sinHitAmOn", AT(sinHitAmOn)));
    t.push_back(whole("sinHitPh", AT(sinHitPh), 0, 9999, true));
    t.push_back(whole("sinHitAm", AT(sinHitAm), 0, 9999, true));
    t.push_back(flag("sinModOn", AT(sinModOn)));
    t.push_back(norm("sinMod", AT(sinMod), 0, 80));
    t.push_back(flag("sinAttOn", AT(sinAttOn)));
    t.push_back(norm("sinAtt", AT(sinAtt), -60, 60));
    t.push_back(flag("sinDis2On", AT(sinDis2On)));
    t.push_back(flag("sinDis3On", AT(sinDis3On)));
    t.push_back(flag("sinDis23On", AT(sinDis23On)));
    t.push_back(norm("sinDis2", AT(sinDis2), 0, 10));
    t.push_back(norm("sinDis3", AT(sinDis3), 0, 10));
    t.push_back(norm("sinDis23", AT(sinDis23), 0, 10));
    t.push_back(flag("o132SNROn", AT(o132SNROn)));
    t.push_back(norm("o132SNR", AT(o132SNR), 0, 70));
    t.push_back(flag("o132SNRpsOn", AT(o132SNRpsOn)));
    t.push_back(norm("o132SNRps", AT(o132SNRps), 0, 70));
    t.push_back(flag("o132JitPhOn", AT(o132JitPhOn)));
    t.push_back(flag("o132JitAmOn", AT(o132JitAmOn)));
    t.push_back(norm("o132JitPh", AT(o132JitPh), 0, 45));
    t.push_back(norm("o132JitAm", AT(o132JitAm), 0, 70));
    t.push_back(flag("o132ShiftOn", AT(o132ShiftOn)));
    t.push_back(norm("o132Shift", AT(o132Shift), 0, 10));
    t.push_back(flag("o131SNROn", AT(o131SNROn)));
    t.push_back(norm("o131SNR", AT(o131SNR), 0, 70));
    t.push_back(flag("blkNoiseOn", AT(blkNoiseOn)));
    t.push_back(norm("blkNoise", AT(blkNoise), -100, 0));
    t.push_back(flag("blkNoisePsOn", AT(blkNoisePsOn)));
    t.push_back(norm("blkNoisePs", AT(blkNoisePs), -100, 0));
    t.push_back(flag("blkNoiseSelOn", AT(blkNoiseSelOn)));
    t.push_back(norm("blkNoiseSel", AT(blkNoiseSel), -100, 0));
    t.push_back(flag("echoTalkOn", AT(echoTalkOn)));
    t.push_back(norm("echoTalk", AT(echoTalk), 10, 70));
    t.push_back(flag("echoListOn", AT(echoListOn)));
    t.push_back(norm("echoList", AT(echoList), 10, 70));
    t.push_back(flag("impImpedOn", AT(impImpedOn)));
    t.push_back(whole("impImped", AT(impImped), 0, 10000, true));
    t.push_back(norm("ImpedFreq", AT(ImpedFreq), 300, 3400));
    t.push_back(flag("impCapacOn", AT(impCapacOn)));
    t.push_back(whole("impCapac", AT(impCapac), 10, 2000, true));
    t.push_back(decimal("CapacFreq", AT(CapacFreq), 300, 3400)); // no "*" here
    t.push_back(flag("mttAttOn", AT(mttAttOn)));
    for (int k = 0; k < kMttPoints; ++k)
        t.push_back(norm(kAttNames[k], offsetof(E, Att) + 4 * k, f32, -60, 60));
    for (int k = 0; k < kMttPoints; ++k)
        t.push_back(norm(kAttFNames[k], offsetof(E, AttF) + 4 * k, f32, 0, 3400));
    t.push_back(norm("AttNotch", AT(AttNotch), 0, 3400));
    t.push_back(flag("mttDelOn", AT(mttDelOn)));
    for (int k = 0; k < kMttPoints; ++k)
        t.push_back(whole(kDelNames[k], offsetof(E, Del) + 4 * k, i32, -20000, 20000, true));
    for (int k = 0; k < kMttPoints; ++k)
        t.push_back(norm(kDelFNames[k], offsetof(E, DelF) + 4 * k, f32, 0, 3400));
    t.push_back(norm("DelNotch", AT(DelNotch), 0, 3400));
    t.push_back(flag("o42Dis2On", AT(o42Dis2On)));
    t.push_back(flag("o42Dis3On", AT(o42Dis3On)));
    t.push_back(flag("o42Dis23On", AT(o42Dis23On)));
    t.push_back(norm("o42Dis2", AT(o42Dis2), 0, 10));
    t.push_back(norm("o42Dis3", AT(o42Dis3), 0, 10));
    t.push_back(norm("o42Dis23", AT(o42Dis23), 0, 10));
    t.push_back(flag("disPassOn", AT(disPassOn)));
    t.push_back(norm("disPass", AT(disPass), 0, 100));

    // Generator settings.
    t.push_back(duration("EchoTime", AT(EchoTime), 10));
    t.push_back(decimal("EchoLev", AT(EchoLev), -40, 0));
    t.push_back(decimal("EchoLevR", AT(EchoLevR), -40, 0));
    t.push_back(choice("EchoFreq", AT(EchoFreq), {1600}));
    t.push_back(whole("EchoT1", AT(EchoT1), 20, 10000));
    t.push_back(whole("EchoT2", AT(EchoT2), 20, 10000));
    t.push_back(whole("EchoT", AT(EchoT), 10, 500));
    t.push_back(duration("SinTime", AT(SinTime), 20));
    t.push_back(decimal("SinLev", AT(SinLev), -40, 10));
    t.push_back(decimal("SinLevR", AT(SinLevR), -40, 10));
    t.push_back(whole("SinFreq", AT(SinFreq), 300, 3400));
    t.push_back(duration("O132Time", AT(O132Time), 10));
    t.push_back(decimal("O132Lev", AT(O132Lev), -58, 10));
    t.push_back(decimal("O132LevR", AT(O132LevR), -58, 10));
    t.push_back(choice("O132Freq", AT(O132Freq), {820, 1020}));
    t.push_back(duration("O131Time", AT(O131Time), 10));
    t.push_back(decimal("O131Lev", AT(O131Lev), -68, 0));
    t.push_back(decimal("O131LevR", AT(O131LevR), -68, 0));
    t.push_back(duration("MTTSTime", AT(MTTSTime), 10));
    t.push_back(decimal("MTTSLev", AT(MTTSLev), -40, 0));
    t.push_back(decimal("MTTSLevR", AT(MTTSLevR), -40, 0));
    t.push_back(duration("O42Time", AT(O42Time), 10));
    t.push_back(decimal("O42Lev", AT(O42Lev), -40, 0));
    t.push_back(decimal("O42LevR", AT(O42LevR), -40, 0));
    t.push_back(duration("ImpTime", AT(ImpTime), 10));
    t.push_back(decimal("ImpLev", AT(ImpLev), -40, 0));
    t.push_back(decimal("ImpLevR", AT(ImpLevR), -40, 0));
    t.push_back(duration("BlkTime", AT(BlkTime), 10));
    t.push_back(duration("DiscrTime", AT(DiscrTime), 10));

    // Meter settings and event thresholds.
    EntryField sinc = whole("SincTime", AT(SincTime), 2, 10);
    sinc.scale = 2;
    sinc.shortest = 1;
    t.push_back(sinc);
    t.push_back(whole("DeadTime", AT(DeadTime), 0, 125));
    t.push_back(choice("MaxLev", AT(MaxLev), {-20, 0, 20}));
    EntryField minLev = whole("MinLev", AT(MinLev), -80, 0);
    minLev.relativeTo = "MaxLev";
    t.push_back(minLev);
    t.push_back(whole("MinSNR", AT(MinSNR), 0, 60));
    t.push_back(decimal("ThHitPh", AT(ThHitPh), 5, 45));
    t.push_back(decimal("ThHitAm", AT(ThHitAm), 2, 9));
    t.push_back(flag("ThAbs", AT(ThAbs)));
    t.push_back(decimal("ThAbsPul", AT(ThAbsPul), -60, 10));
    t.push_back(decimal("ThAbsInt", AT(ThAbsInt), -60, 10));
    t.push_back(decimal("ThRelPul", AT(ThRelPul), -20, 20));
    t.push_back(decimal("ThRelInt", AT(ThRelInt), -20, 0));
    return t;
}

#undef AT

template <typename T>
T readAt(const ScenarioEntry& e, std::size_t offset) {
    Le<T> v;
    std::memcpy(&v, bytesOf(e) + offset, sizeof v);
    return v.get();
}

std::string number(double v) {
    if (std::isnan(v))
        return "nan";
    if (std::isinf(v))
        return v > 0 ? "inf" : "-inf";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::string decimalText(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

EntryRangeFault fault(const EntryField& f, std::string valueAndWhy) {
    return {&f, std::string(f.name) + valueAndWhy};
}

// Hayes dial string: digits and the modifiers anywhere; the tone characters only
// after a "t" or "T" has switched to tone dialling.
bool validDialNumber(std::string_view number) {
    static constexpr std::string_view kAny = "0123456789ptw -,!@PTW";
    static constexpr std::string_view kTone = "*#abcdABCD";
    bool tone = false;
    for (char c : number) {
        if (kAny.find(c) == std::string_view::npos &&
            !(tone && kTone.find(c) != std::string_view::npos))
            return false;
        tone = tone || c == 't' || c == 'T';
    }
    return true;
}

bool validIdentifier(std::string_view id) {
    if (id.size() != 8)
        return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        char c = id[i];
        if (!(c >= '0' && c <= '9') && !(i == 6 && (c == 'X' || c == 'x')))
            return false;
    }
    return true;
}

std::optional<EntryRangeFault> checkText(const ScenarioEntry& e, const EntryField& f) {
    const char* field = reinterpret_cast<const char*>(bytesOf(e) + f.offset);
    const void* nul = std::memchr(field, 0, f.size);
    std::string_view text(field, nul ? static_cast<const char*>(nul) - field : f.size);
    switch (f.text) {
    case TextRule::Identifier:
        if (!nul)
            return fault(f, ": нет завершающего нуля"_cp);
        if (!validIdentifier(text))
            return fault(f, ": неверный идентификатор"_cp);
        break;
    case TextRule::DialNumber:
        if (!validDialNumber(text))
            return fault(f, ": неверный номер"_cp);
        break;
    case TextRule::Commands:
        for (unsigned char c : text) {
            if (c < 0x20 || c == 0x7f) {
                char code[8];
                std::snprintf(code, sizeof code, "%02X", c);
                return fault(f, ": управляющий символ "_cp + code);
            }
        }
        break;
    case TextRule::None:
        break;
    }
    return std::nullopt;
}

} // namespace

std::span<const EntryField> entryFields() {
    static const std::vector<EntryField> table = buildTable();
    return table;
}

const EntryField* findEntryField(std::string_view name) {
    for (const EntryField& f : entryFields())
        if (f.name == name)
            return &f;
    return nullptr;
}

double fieldValue(const ScenarioEntry& e, const EntryField& f) {
    switch (f.kind) {
    case FieldFamily::Flag:
        return bytesOf(e)[f.offset];
    case FieldFamily::Whole:
    case FieldFamily::FixedChoice:
        return readAt<int32_t>(e, f.offset);
    case FieldFamily::Decimal:
        return readAt<float>(e, f.offset);
    case FieldFamily::Duration:
    case FieldFamily::DateTime:
        return readAt<double>(e, f.offset);
    case FieldFamily::Text:
        break;
    }
    return 0;
}

std::optional<EntryRangeFault> checkEntryRanges(const ScenarioEntry& e) {
    for (const EntryField& f : entryFields()) {
        if (f.kind == FieldFamily::Text) {
            if (auto bad = checkText(e, f))
                return bad;
            continue;
        }
        const double v = fieldValue(e, f);
        const std::string is = " = " + number(v);
        if (!std::isfinite(v))
            return fault(f, is + ": не число"_cp);
        if (f.noNorm && v <= kNoNormBound)
            continue;
        switch (f.kind) {
        case FieldFamily::Flag:
            if (v != 0 && v != 1)
                return fault(f, is + ": допустимо 0 или 1"_cp);
            break;
        case FieldFamily::FixedChoice: {
            bool listed = false;
            std::string allowed;
            for (int i = 0; i < f.choiceCount; ++i) {
                listed = listed || v == f.choices[i];
                allowed += (i ? " / " : "") + std::to_string(f.choices[i]);
            }
            if (!listed)
                return fault(f, is + ": допустимо только "_cp + allowed);
            break;
        }
        case FieldFamily::Whole: {
            double base = 0;
            if (!f.relativeTo.empty())
                if (const EntryField* b = findEntryField(f.relativeTo))
                    base = fieldValue(e, *b);
            // Shown units: SincTime 9 half-seconds shows as 4 s.
            const double shown = std::trunc(v / f.scale);
            const std::string shownIs = " = " + number(shown);
            const double lo = base + std::min(f.min, f.shortest), hi = base + f.max;
            if (shown < lo || shown > hi)
                return fault(f, shownIs + ": допустимо целое число от "_cp + number(lo) +
                                    " до "_cp + number(hi));
            break;
        }
        case FieldFamily::Decimal:
            if (v < f.min || v > f.max)
                return fault(f, is + ": допустимо число от "_cp + decimalText(f.min) + " до "_cp +
                                    decimalText(f.max));
            break;
        case FieldFamily::Duration:
            if (v < 0 || v > f.max)
                return fault(f, is + ": допустимо время от 0 до "_cp + number(f.max) + " сек"_cp);
            break;
        case FieldFamily::DateTime:
            if (v < f.min || v >= f.max)
                return fault(f, is + ": не дата"_cp);
            break;
        case FieldFamily::Text:
            break;
        }
    }
    // The editor keeps NumMin within NumTotal, and at least 3 when NumTotal is above 3.
    const int32_t numMin = e.NumMin.get(), numTotal = e.NumTotal.get();
    if (numMin > numTotal)
        return fault(*findEntryField("NumMin"), " = " + std::to_string(numMin) +
                                                    ": больше NumTotal = "_cp +
                                                    std::to_string(numTotal));
    return std::nullopt;
}

} // namespace vetlina
