#include "editor/EditorFields.h"

#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

namespace vetlina {
namespace {

using P = EditorPage;
using G = MeasureGroup;

struct Row {
    const char* name;
    const char* format;
    int step;
    P page;
    G group;
    bool normKey; // the range is named by the norm's key (first letter small)
};

// The fields page by page, in the order of their pages' tab chains.
constexpr Row kRows[] = {
    // Dialling page.
    {"LocalPaus", "%4d", 1, P::Dialling, G::None, false},
    {"LocalCall", "%4d", 1, P::Dialling, G::None, false},
    {"TrunkPaus", "%4d", 1, P::Dialling, G::None, false},
    {"TrunkCall", "%4d", 1, P::Dialling, G::None, false},
    {"Trunk8W", "%4d", 1, P::Dialling, G::None, false},
    {"NumMin", "%4d", 1, P::Dialling, G::None, false},
    {"NumTotal", "%4d", 1, P::Dialling, G::None, false},
    // Settings page, the generator row by row.
    {"EchoTime", "", 1, P::Settings, G::Echo, false},
    {"EchoLev", "%6.1f", 1, P::Settings, G::Echo, false},
    {"EchoLevR", "%6.1f", 1, P::Settings, G::Echo, false},
    {"EchoFreq", "%6d", 0, P::Settings, G::Echo, false},
    {"EchoT1", "%5d", 10, P::Settings, G::Echo, false},
    {"EchoT2", "%5d", 10, P::Settings, G::Echo, false},
    {"EchoT", "%3d", 10, P::Settings, G::Echo, false},
    {"SinTime", "", 1, P::Settings, G::Sine, false},
    {"SinLev", "%6.1f", 1, P::Settings, G::Sine, false},
    {"SinLevR", "%6.1f", 1, P::Settings, G::Sine, false},
    {"SinFreq", "%6d", 10, P::Settings, G::Sine, false},
    {"O132Time", "", 1, P::Settings, G::O132, false},
    {"O132Lev", "%6.1f", 1, P::Settings, G::O132, false},
    {"O132LevR", "%6.1f", 1, P::Settings, G::O132, false},
    {"O132Freq", "%6d", 200, P::Settings, G::O132, false},
    {"O131Time", "", 1, P::Settings, G::O131, false},
    {"O131Lev", "%6.1f", 1, P::Settings, G::O131, false},
    {"O131LevR", "%6.1f", 1, P::Settings, G::O131, false},
    {"MTTSTime", "", 1, P::Settings, G::Mtts, false},
    {"MTTSLev", "%6.1f", 1, P::Settings, G::Mtts, false},
    {"MTTSLevR", "%6.1f", 1, P::Settings, G::Mtts, false},
    {"O42Time", "", 1, P::Settings, G::O42, false},
    {"O42Lev", "%6.1f", 1, P::Settings, G::O42, false},
    {"O42LevR", "%6.1f", 1, P::Settings, G::O42, false},
    {"ImpTime", "", 1, P::Settings, G::Imp, false},
    {"ImpLev", "%6.1f", 1, P::Settings, G::Imp, false},
    {"ImpLevR", "%6.1f", 1, P::Settings, G::Imp, false},
    {"BlkTime", "", 1, P::Settings, G::Noise, false},
    {"DiscrTime", "", 1, P::Settings, G::Throughput, false},
    // Settings page, the meter and the event thresholds.
    {"SincTime", "%4d", 1, P::Settings, G::None, false},
    {"DeadTime", "%4d", 1, P::Settings, G::None, false},
    {"MaxLev", "%4d", 20, P::Settings, G::None, false},
    {"MinLev", "%4d", 1, P::Settings, G::None, false},
    {"MinSNR", "%4d", 1, P::Settings, G::None, false},
    {"ThHitPh", "%6.1f", 1, P::Settings, G::None, false},
    {"ThHitAm", "%6.1f", 1, P::Settings, G::None, false},
    {"ThRelPul", "%6.1f", 1, P::Settings, G::None, false},
    {"ThRelInt", "%6.1f", 1, P::Settings, G::None, false},
    {"ThAbsPul", "%6.1f", 1, P::Settings, G::None, false},
    {"ThAbsInt", "%6.1f", 1, P::Settings, G::None, false},
    // "Нормы, 1 стр": the sine signal, O.132 and O.42.
    {"SinSNR", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinSNRps", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinJitPh", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinJitAm", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinShift", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinPulPrc", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinPulCnt", "%4d", 1, P::Norms1, G::None, true},
    {"SinPulRel", "%4d", 1, P::Norms1, G::None, true},
    {"SinIntPrc", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinIntCnt", "%4d", 1, P::Norms1, G::None, true},
    {"SinIntRel", "%4d", 1, P::Norms1, G::None, true},
    {"SinSumPrc", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinSumCnt", "%4d", 1, P::Norms1, G::None, true},
    {"SinSumRel", "%4d", 1, P::Norms1, G::None, true},
    {"SinHitPh", "%6d", 1, P::Norms1, G::None, true},
    {"SinHitAm", "%6d", 1, P::Norms1, G::None, true},
    {"SinMod", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinAtt", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinDis2", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinDis3", "%6.1f", 1, P::Norms1, G::None, true},
    {"SinDis23", "%6.1f", 1, P::Norms1, G::None, true},
    {"O132SNR", "%6.1f", 1, P::Norms1, G::None, true},
    {"O132SNRps", "%6.1f", 1, P::Norms1, G::None, true},
    {"O132JitPh", "%6.1f", 1, P::Norms1, G::None, true},
    {"O132JitAm", "%6.1f", 1, P::Norms1, G::None, true},
    {"O132Shift", "%6.1f", 1, P::Norms1, G::None, true},
    {"O42Dis2", "%6.1f", 1, P::Norms1, G::None, true},
    {"O42Dis3", "%6.1f", 1, P::Norms1, G::None, true},
    {"O42Dis23", "%6.1f", 1, P::Norms1, G::None, true},
    // "Нормы, 3 стр".
    {"BlkNoise", "%6.1f", 1, P::Norms3, G::None, true},
    {"BlkNoisePs", "%6.1f", 1, P::Norms3, G::None, true},
    {"BlkNoiseSel", "%6.1f", 1, P::Norms3, G::None, true},
    {"EchoTalk", "%6.1f", 1, P::Norms3, G::None, true},
    {"EchoList", "%6.1f", 1, P::Norms3, G::None, true},
    {"O131SNR", "%6.1f", 1, P::Norms3, G::None, true},
    {"DisPass", "%6.1f", 1, P::Norms3, G::None, true},
    {"ImpImped", "%5d", 10, P::Norms3, G::None, true},
    {"ImpCapac", "%5d", 10, P::Norms3, G::None, true},
    {"ImpedFreq", "%6.1f", 10, P::Norms3, G::None, false},
    {"CapacFreq", "%6.1f", 10, P::Norms3, G::None, false},
};

// "Нормы, 2 стр": the fourteen points of the attenuation response and of the group
// delay, with their reference frequencies.
std::vector<EditorField> buildFields() {
    std::vector<EditorField> fields;
    auto add = [&](const char* name, std::string rangeName, const char* format, int step, P page,
                   G group) {
        const EntryField* range = findEntryField(rangeName);
        if (!range)
            throw std::logic_error("no range for the editor field " + rangeName);
        fields.push_back({name, range, range->kind, format, step, page, group});
    };
    for (const Row& row : kRows) {
        std::string rangeName = row.name;
        if (row.normKey)
            rangeName[0] =
                static_cast<char>(std::tolower(static_cast<unsigned char>(rangeName[0])));
        add(row.name, rangeName, row.format, row.step, row.page, row.group);
    }
    // The range table names its rows with string literals, so their data() is a C string.
    for (const EntryField& range : entryFields()) {
        const std::string_view name = range.name;
        if (!name.starts_with("Att") && !name.starts_with("Del"))
            continue;
        const bool frequency =
            name.starts_with("AttF") || name.starts_with("DelF") || name.ends_with("Notch");
        const char* format = frequency || name.starts_with("Att") ? "%6.1f" : "%6d";
        add(name.data(), std::string(name), format, frequency || name.starts_with("Del") ? 10 : 1,
            P::Norms2, G::None);
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
    {G::Echo, "EchoTime", 0}, {G::Sine, "SinTime", 5},   {G::O132, "O132Time", 0},
    {G::O131, "O131Time", 0}, {G::Mtts, "MTTSTime", 13}, {G::O42, "O42Time", 0},
    {G::Imp, "ImpTime", 13},  {G::Noise, "BlkTime", 27}, {G::Throughput, "DiscrTime", 0},
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

double shownValue(const ScenarioEntry& e, const EditorField& field) {
    const EntryField& f = *field.range;
    const double stored = fieldValue(e, f);
    if (f.kind == FieldFamily::Whole && f.scale != 1 && stored > kNoNormBound)
        return static_cast<double>(static_cast<int32_t>(stored) / f.scale);
    return stored;
}

void storeShown(ScenarioEntry& e, const EditorField& field, double value) {
    const EntryField& f = *field.range;
    unsigned char* at = bytesOf(e) + f.offset;
    switch (f.kind) {
    case FieldFamily::Whole:
    case FieldFamily::FixedChoice: {
        const auto v = static_cast<int32_t>(value);
        storeLe<int32_t>(at, v <= kNoNormBound ? v : v * f.scale);
        break;
    }
    case FieldFamily::Decimal:
        storeLe<float>(at, static_cast<float>(value));
        break;
    case FieldFamily::Duration:
        storeLe<double>(at, value);
        break;
    default:
        break;
    }
}

bool isChoice(const EditorField& field, double value) {
    const EntryField& f = *field.range;
    for (int i = 0; i < f.choiceCount; ++i)
        if (value == f.choices[i])
            return true;
    return false;
}

} // namespace vetlina
