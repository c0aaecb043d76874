#include "editor/EditorFields.h"

#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

namespace vetlina {
namespace {

using F = FieldFamily;
using P = EditorPage;
using G = MeasureGroup;

struct Row {
    const char* name;
    F family;
    const char* format;
    int step;
    P page;
    G group;
    bool normKey; // the range is named by the norm's key (first letter small)
};

// The fields page by page, in the order of their pages' tab chains.
constexpr Row kRows[] = {
    // Dialling page.
    {"LocalPaus", F::Whole, "%4d", 1, P::Dialling, G::None, false},
    {"LocalCall", F::Whole, "%4d", 1, P::Dialling, G::None, false},
    {"TrunkPaus", F::Whole, "%4d", 1, P::Dialling, G::None, false},
    {"TrunkCall", F::Whole, "%4d", 1, P::Dialling, G::None, false},
    {"Trunk8W", F::Whole, "%4d", 1, P::Dialling, G::None, false},
    {"NumMin", F::Whole, "%4d", 1, P::Dialling, G::None, false},
    {"NumTotal", F::Whole, "%4d", 1, P::Dialling, G::None, false},
    // Settings page, the generator row by row.
    {"EchoTime", F::Duration, "", 1, P::Settings, G::Echo, false},
    {"EchoLev", F::Decimal, "%6.1f", 1, P::Settings, G::Echo, false},
    {"EchoLevR", F::Decimal, "%6.1f", 1, P::Settings, G::Echo, false},
    {"EchoFreq", F::Choice, "%6d", 0, P::Settings, G::Echo, false},
    {"EchoT1", F::Whole, "%5d", 10, P::Settings, G::Echo, false},
    {"EchoT2", F::Whole, "%5d", 10, P::Settings, G::Echo, false},
    {"EchoT", F::Whole, "%3d", 10, P::Settings, G::Echo, false},
    {"SinTime", F::Duration, "", 1, P::Settings, G::Sine, false},
    {"SinLev", F::Decimal, "%6.1f", 1, P::Settings, G::Sine, false},
    {"SinLevR", F::Decimal, "%6.1f", 1, P::Settings, G::Sine, false},
    {"SinFreq", F::Whole, "%6d", 10, P::Settings, G::Sine, false},
    {"O132Time", F::Duration, "", 1, P::Settings, G::O132, false},
    {"O132Lev", F::Decimal, "%6.1f", 1, P::Settings, G::O132, false},
    {"O132LevR", F::Decimal, "%6.1f", 1, P::Settings, G::O132, false},
    {"O132Freq", F::Choice, "%6d", 200, P::Settings, G::O132, false},
    {"O131Time", F::Duration, "", 1, P::Settings, G::O131, false},
    {"O131Lev", F::Decimal, "%6.1f", 1, P::Settings, G::O131, false},
    {"O131LevR", F::Decimal, "%6.1f", 1, P::Settings, G::O131, false},
    {"MTTSTime", F::Duration, "", 1, P::Settings, G::Mtts, false},
    {"MTTSLev", F::Decimal, "%6.1f", 1, P::Settings, G::Mtts, false},
    {"MTTSLevR", F::Decimal, "%6.1f", 1, P::Settings, G::Mtts, false},
    {"O42Time", F::Duration, "", 1, P::Settings, G::O42, false},
    {"O42Lev", F::Decimal, "%6.1f", 1, P::Settings, G::O42, false},
    {"O42LevR", F::Decimal, "%6.1f", 1, P::Settings, G::O42, false},
    {"ImpTime", F::Duration, "", 1, P::Settings, G::Imp, false},
    {"ImpLev", F::Decimal, "%6.1f", 1, P::Settings, G::Imp, false},
    {"ImpLevR", F::Decimal, "%6.1f", 1, P::Settings, G::Imp, false},
    {"BlkTime", F::Duration, "", 1, P::Settings, G::Noise, false},
    {"DiscrTime", F::Duration, "", 1, P::Settings, G::Throughput, false},
    // Settings page, the meter and the event thresholds.
    {"SincTime", F::Whole, "%4d", 1, P::Settings, G::None, false},
    {"DeadTime", F::Whole, "%4d", 1, P::Settings, G::None, false},
    {"MaxLev", F::Choice, "%4d", 20, P::Settings, G::None, false},
    {"MinLev", F::Whole, "%4d", 1, P::Settings, G::None, false},
    {"MinSNR", F::Whole, "%4d", 1, P::Settings, G::None, false},
    {"ThHitPh", F::Decimal, "%6.1f", 1, P::Settings, G::None, false},
    {"ThHitAm", F::Decimal, "%6.1f", 1, P::Settings, G::None, false},
    {"ThRelPul", F::Decimal, "%6.1f", 1, P::Settings, G::None, false},
    {"ThRelInt", F::Decimal, "%6.1f", 1, P::Settings, G::None, false},
    {"ThAbsPul", F::Decimal, "%6.1f", 1, P::Settings, G::None, false},
    {"ThAbsInt", F::Decimal, "%6.1f", 1, P::Settings, G::None, false},
    // "Нормы, 1 стр": the sine signal, O.132 and O.42.
    {"SinSNR", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinSNRps", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinJitPh", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinJitAm", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinShift", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinPulPrc", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinPulCnt", F::Whole, "%4d", 1, P::Norms1, G::None, true},
    {"SinPulRel", F::Whole, "%4d", 1, P::Norms1, G::None, true},
    {"SinIntPrc", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinIntCnt", F::Whole, "%4d", 1, P::Norms1, G::None, true},
    {"SinIntRel", F::Whole, "%4d", 1, P::Norms1, G::None, true},
    {"SinSumPrc", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinSumCnt", F::Whole, "%4d", 1, P::Norms1, G::None, true},
    {"SinSumRel", F::Whole, "%4d", 1, P::Norms1, G::None, true},
    {"SinHitPh", F::Whole, "%6d", 1, P::Norms1, G::None, true},
    {"SinHitAm", F::Whole, "%6d", 1, P::Norms1, G::None, true},
    {"SinMod", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinAtt", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinDis2", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinDis3", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"SinDis23", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"O132SNR", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"O132SNRps", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"O132JitPh", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"O132JitAm", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"O132Shift", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"O42Dis2", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"O42Dis3", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    {"O42Dis23", F::Decimal, "%6.1f", 1, P::Norms1, G::None, true},
    // "Нормы, 3 стр".
    {"BlkNoise", F::Decimal, "%6.1f", 1, P::Norms3, G::None, true},
    {"BlkNoisePs", F::Decimal, "%6.1f", 1, P::Norms3, G::None, true},
    {"BlkNoiseSel", F::Decimal, "%6.1f", 1, P::Norms3, G::None, true},
    {"EchoTalk", F::Decimal, "%6.1f", 1, P::Norms3, G::None, true},
    {"EchoList", F::Decimal, "%6.1f", 1, P::Norms3, G::None, true},
    {"O131SNR", F::Decimal, "%6.1f", 1, P::Norms3, G::None, true},
    {"DisPass", F::Decimal, "%6.1f", 1, P::Norms3, G::None, true},
    {"ImpImped", F::Whole, "%5d", 10, P::Norms3, G::None, true},
    {"ImpCapac", F::Whole, "%5d", 10, P::Norms3, G::None, true},
    {"ImpedFreq", F::Decimal, "%6.1f", 10, P::Norms3, G::None, false},
    {"CapacFreq", F::Decimal, "%6.1f", 10, P::Norms3, G::None, false},
};

// "Нормы, 2 стр": the fourteen points of the attenuation response and of the group
// delay, with their reference frequencies.
std::vector<EditorField> buildFields() {
    std::vector<EditorField> fields;
    auto add = [&](const char* name, std::string rangeName, F family, const char* format, int step,
                   P page, G group) {
        const EntryRange* range = findEntryRange(rangeName);
        if (!range)
            throw std::logic_error("no range for the editor field " + rangeName);
        fields.push_back({name, range, family, format, step, page, group});
    };
    for (const Row& row : kRows) {
        std::string rangeName = row.name;
        if (row.normKey)
            rangeName[0] =
                static_cast<char>(std::tolower(static_cast<unsigned char>(rangeName[0])));
        add(row.name, rangeName, row.family, row.format, row.step, row.page, row.group);
    }
    for (const EntryRange& range : entryRanges()) {
        const std::string_view name = range.name;
        const bool att = name.starts_with("Att");
        const bool del = name.starts_with("Del");
        if (!att && !del)
            continue;
        const bool point =
            name.size() <= 5 && !name.starts_with("AttF") && !name.starts_with("DelF");
        if (del && point && name != "DelNotch")
            add(range.name, range.name, F::Whole, "%6d", 10, P::Norms2, G::None);
        else if (att && point && name != "AttNotch")
            add(range.name, range.name, F::Decimal, "%6.1f", 1, P::Norms2, G::None);
        else
            add(range.name, range.name, F::Decimal, "%6.1f", 10, P::Norms2, G::None);
    }
    return fields;
}

#define VETLINA_FLAG(field) offsetof(ScenarioEntry, field)

constexpr EditorCheck kChecks[] = {
    {"CheckAnalog", VETLINA_FLAG(Analog), G::None},
    {"CheckSinSNR", VETLINA_FLAG(sinSNROn), G::Sine},
    {"CheckSinSNRps", VETLINA_FLAG(sinSNRpsOn), G::Sine},
    {"CheckSinJitPh", VETLINA_FLAG(sinJitPhOn), G::Sine},
    {"CheckSinJitAm", VETLINA_FLAG(sinJitAmOn), G::Sine},
    {"CheckSinShift", VETLINA_FLAG(sinShiftOn), G::Sine},
    {"CheckSinPulPrc", VETLINA_FLAG(sinPulPrcOn), G::Sine},
    {"CheckSinPulCnt", VETLINA_FLAG(sinPulCntOn), G::Sine},
    {"CheckSinPulRel", VETLINA_FLAG(sinPulRelOn), G::Sine},
    {"CheckSinIntPrc", VETLINA_FLAG(sinIntPrcOn), G::Sine},
    {"CheckSinIntCnt", VETLINA_FLAG(sinIntCntOn), G::Sine},
    {"CheckSinIntRel", VETLINA_FLAG(sinIntRelOn), G::Sine},
    {"CheckSinSumPrc", VETLINA_FLAG(sinSumPrcOn), G::Sine},
    {"CheckSinSumCnt", VETLINA_FLAG(sinSumCntOn), G::Sine},
    {"CheckSinSumRel", VETLINA_FLAG(sinSumRelOn), G::Sine},
    {"CheckSinHitPh", VETLINA_FLAG(sinHitPhOn), G::Sine},
    {"CheckSinHitAm", VETLINA_FLAG(sinHitAmOn), G::Sine},
    {"CheckSinMod", VETLINA_FLAG(sinModOn), G::Sine},
    {"CheckSinAtt", VETLINA_FLAG(sinAttOn), G::Sine},
    {"CheckSinDis2", VETLINA_FLAG(sinDis2On), G::Sine},
    {"CheckSinDis3", VETLINA_FLAG(sinDis3On), G::Sine},
    {"CheckSinDis23", VETLINA_FLAG(sinDis23On), G::Sine},
    {"CheckO132SNR", VETLINA_FLAG(o132SNROn), G::O132},
    {"CheckO132SNRps", VETLINA_FLAG(o132SNRpsOn), G::O132},
    {"CheckO132JitPh", VETLINA_FLAG(o132JitPhOn), G::O132},
    {"CheckO132JitAm", VETLINA_FLAG(o132JitAmOn), G::O132},
    {"CheckO132Shift", VETLINA_FLAG(o132ShiftOn), G::O132},
    {"CheckO131SNR", VETLINA_FLAG(o131SNROn), G::O131},
    {"CheckBlkNoise", VETLINA_FLAG(blkNoiseOn), G::Noise},
    {"CheckBlkNoisePs", VETLINA_FLAG(blkNoisePsOn), G::Noise},
    {"CheckBlkNoiseSel", VETLINA_FLAG(blkNoiseSelOn), G::Noise},
    {"CheckEchoTalk", VETLINA_FLAG(echoTalkOn), G::Echo},
    {"CheckEchoList", VETLINA_FLAG(echoListOn), G::Echo},
    {"CheckImpImped", VETLINA_FLAG(impImpedOn), G::Imp},
    {"CheckImpCapac", VETLINA_FLAG(impCapacOn), G::Imp},
    {"CheckMttAtt", VETLINA_FLAG(mttAttOn), G::Mtts},
    {"CheckMttDel", VETLINA_FLAG(mttDelOn), G::Mtts},
    {"CheckO42Dis2", VETLINA_FLAG(o42Dis2On), G::O42},
    {"CheckO42Dis3", VETLINA_FLAG(o42Dis3On), G::O42},
    {"CheckO42Dis23", VETLINA_FLAG(o42Dis23On), G::O42},
    {"CheckDisPass", VETLINA_FLAG(disPassOn), G::Throughput},
};

#undef VETLINA_FLAG

// In the order of MeasureGroup. The sine signal needs the longest time; the
// multi-frequency signal, impedance and noise add their own set-up to a session.
constexpr GroupInfo kGroups[kMeasureGroupCount] = {
    {G::Echo, "EchoTime", 10, 0},        {G::Sine, "SinTime", 20, 5},
    {G::O132, "O132Time", 10, 0},        {G::O131, "O131Time", 10, 0},
    {G::Mtts, "MTTSTime", 10, 13},       {G::O42, "O42Time", 10, 0},
    {G::Imp, "ImpTime", 10, 13},         {G::Noise, "BlkTime", 10, 27},
    {G::Throughput, "DiscrTime", 10, 0},
};

} // namespace

std::span<const EditorField> editorFields() {
    static const std::vector<EditorField> fields = buildFields();
    return fields;
}

const EditorField* findEditorField(std::string_view name) {
    for (const EditorField& f : editorFields())
        if (name == f.name)
            return &f;
    return nullptr;
}

std::span<const EditorCheck> editorChecks() {
    return kChecks;
}

const EditorCheck* findEditorCheck(std::string_view name) {
    for (const EditorCheck& c : kChecks)
        if (name == c.name)
            return &c;
    return nullptr;
}

const GroupInfo& groupInfo(MeasureGroup group) {
    return kGroups[static_cast<std::size_t>(group)];
}

} // namespace vetlina
