#include "editor/ScenarioEditor.h"

#include "config/Configuration.h"
#include "platform/Cp1251.h"
#include "platform/DateTime.h"
#include "scenario/ScenarioFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vetlina {
namespace {

constexpr double kSecondsPerDay = 86400.0;
// What a norm without a value shows.
constexpr const char* kNoNormText = "   *";

// The session of an autonomous generator: its fixed programme, and the pause between
// two sessions of a cycle.
constexpr int64_t kGeneratorSessionSeconds = 245;
constexpr int64_t kSessionPauseSeconds = 10;
// A full complex: the greeting and hand-over of a session, the reconnection after
// measuring, the throughput test's set-up and the closing of a cycle.
constexpr int64_t kSessionBaseSeconds = 47;
constexpr int64_t kReconnectSeconds = 7;
constexpr int64_t kThroughputSetupSeconds = 12;
constexpr int64_t kCycleCloseSeconds = 13;

template <typename... Args>
std::string format(const char* fmt, Args... args) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// A whole number with blanks around it and nothing else.
std::optional<long long> parseWhole(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    const std::size_t digits = i;
    long long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (value < 1'000'000'000'000LL)
            value = value * 10 + (text[i] - '0');
        ++i;
    }
    if (i == digits)
        return std::nullopt;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i != text.size())
        return std::nullopt;
    return negative ? -value : value;
}

// The number a text begins with (after blanks; "," reads as the decimal point); 0 for
// a text that does not begin with a number.
double leadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    std::string number;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        number += text[i++];
    bool digits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && number.size() < 20) {
        number += text[i++];
        digits = true;
    }
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        number += '.';
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && number.size() < 40) {
            number += text[i++];
            digits = true;
        }
    }
    return digits ? std::strtod(number.c_str(), nullptr) : 0.0;
}

// The head of the messages about a refused value: seven blanks and the text in quotes.
std::string quoted(const std::string& text) {
    return "       '" + text + "' - ";
}

bool hasStar(std::string_view text) {
    return text.find('*') != std::string_view::npos;
}

// The fixed programme of an autonomous generator as the settings page shows it; the
// entry's own levels and frequencies are not changed.
struct GeneratorShown {
    const char* field;
    const char* text;
};
constexpr GeneratorShown kGeneratorShown[] = {
    {"EchoLev", "  -5.0"}, {"EchoLevR", "  -5.0"}, {"EchoFreq", "  1600"}, {"EchoT1", " 5000"},
    {"EchoT2", " 5000"},   {"EchoT", " 20"},       {"SinLev", "  -5.0"},   {"SinLevR", "  -5.0"},
    {"SinFreq", "  1800"}, {"O132Lev", "  -5.0"},  {"O132LevR", "  -5.0"}, {"O132Freq", "  1020"},
    {"MTTSLev", " -10.0"}, {"MTTSLevR", " -10.0"},
};

const char* generatorShown(const EditorField& field) {
    for (const GeneratorShown& g : kGeneratorShown)
        if (std::strcmp(g.field, field.name) == 0)
            return g.text;
    return nullptr;
}

// The times an autonomous generator's programme takes, in seconds.
struct GeneratorTime {
    std::size_t offset;
    double seconds;
};
constexpr GeneratorTime kGeneratorTimes[] = {
    {offsetof(ScenarioEntry, EchoTime), 60}, {offsetof(ScenarioEntry, SinTime), 60},
    {offsetof(ScenarioEntry, O132Time), 20}, {offsetof(ScenarioEntry, MTTSTime), 20},
    {offsetof(ScenarioEntry, O131Time), 0},  {offsetof(ScenarioEntry, O42Time), 0},
    {offsetof(ScenarioEntry, ImpTime), 0},   {offsetof(ScenarioEntry, BlkTime), 0},
    {offsetof(ScenarioEntry, DiscrTime), 0},
};

double groupSeconds(const ScenarioEntry& e, MeasureGroup group) {
    return shownValue(e, *findEditorField(groupInfo(group).timeField));
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The file's name without its folder, as caption text.
std::string fileNameText(const std::string& path) {
    const auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return isUtf8(name) ? toCp1251(name) : name;
}

} // namespace

bool isValidEntryId(std::string_view id) {
    if (id.size() != 8)
        return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const bool seventh = i == 6 && (id[i] == 'X' || id[i] == 'x');
        if (!isDigit(id[i]) && !seventh)
            return false;
    }
    return true;
}

bool isValidDialNumber(std::string_view number) {
    if (number.empty() || number.size() > sizeof(ScenarioEntry::Number))
        return false;
    constexpr std::string_view kDialChars = "ptw -,!@PTW";
    constexpr std::string_view kToneChars = "*#abcdABCD";
    bool tone = false;
    for (char c : number) {
        const bool dial = isDigit(c) || kDialChars.find(c) != std::string_view::npos;
        const bool toneChar = tone && kToneChars.find(c) != std::string_view::npos;
        if (!dial && !toneChar)
            return false;
        if (c == 't' || c == 'T')
            tone = true;
    }
    return true;
}

std::string durationText(int64_t seconds, const char* daysFormat) {
    const int64_t day = static_cast<int64_t>(kSecondsPerDay);
    std::string text;
    if (seconds >= day) {
        text = toCp1251(format(daysFormat, static_cast<int>(seconds / day)));
        seconds %= day;
    }
    return text + formatTime(static_cast<double>(seconds) / kSecondsPerDay);
}

ScenarioEditor::ScenarioEditor(Scenario& scenario, Dialogs& dialogs, std::string complexId)
    : scenario_(scenario), dialogs_(dialogs), complexId_(std::move(complexId)),
      complexIdValid_(isValidIdent(complexId_)), caption_("ЛИРС "_cp + complexId_),
      spins_(editorFields().size(), 0) {
    applyComplexTypeRule();
}

void ScenarioEditor::firstShown() {
    if (complexIdValid_ || identReported_)
        return;
    identReported_ = true;
    showError("Неверный идентификатор комплекса "_cp + complexId_ + " или нет файла .INI"_cp);
}

void ScenarioEditor::showError(const std::string& text) {
    dialogs_.showMessage("Ошибка"_cp, text, DialogIcon::Error);
}

FieldReply ScenarioEditor::refuse(const std::string& message, std::string text) {
    showError(message);
    return {false, true, std::move(text)};
}

void ScenarioEditor::notifyList() {
    if (listChanged)
        listChanged();
}

int& ScenarioEditor::spin(const EditorField& field) const {
    return spins_[static_cast<std::size_t>(&field - editorFields().data())];
}

// ---- Numeric fields ------------------------------------------------------------------

double ScenarioEditor::value(const EditorField& field) const {
    return shownValue(entry(), field);
}

void ScenarioEditor::storeValue(const EditorField& field, double v) {
    storeShown(scenario_.current(), field, v);
}

SpinRange ScenarioEditor::spinRange(const EditorField& field) const {
    SpinRange r{static_cast<int>(field.range->min), static_cast<int>(field.range->max),
                std::max(field.step, 1)};
    // A range relative to another field (MinLev: MaxLev - 80 .. MaxLev).
    if (!field.range->relativeTo.empty()) {
        const EntryField* base = findEntryField(field.range->relativeTo);
        const int offset = base ? static_cast<int>(fieldValue(entry(), *base)) : 0;
        r.min += offset;
        r.max += offset;
    }
    return r;
}

std::string ScenarioEditor::shownText(const EditorField& field) const {
    if (entry().ComplexType == kGeneratorComplexType)
        if (const char* fixed = generatorShown(field))
            return fixed;
    const double v = value(field);
    switch (field.family) {
    case FieldFamily::Duration:
        return durationText(static_cast<int64_t>(std::max(0.0, v)));
    case FieldFamily::Decimal:
        if (v <= kNoNormBound || std::isnan(v))
            return kNoNormText;
        return format(field.format, v);
    case FieldFamily::Whole:
    case FieldFamily::FixedChoice:
        if (v <= kNoNormBound)
            return kNoNormText;
        return format(field.format, static_cast<int>(v));
    default:
        return {};
    }
}

int ScenarioEditor::spinPosition(const EditorField& field) const {
    const SpinRange r = spinRange(field);
    const double v = value(field);
    if (field.family == FieldFamily::Duration)
        return 0;
    int& s = spin(field);
    if (v <= kNoNormBound || std::isnan(v))
        s = (r.max - r.min) / 2;
    else
        s = static_cast<int>(std::clamp<double>(std::lround(v), r.min, r.max));
    return s;
}

void ScenarioEditor::textEdited(const EditorField& field, std::string_view text, bool typed) {
    if (field.family != FieldFamily::Duration) {
        const SpinRange r = spinRange(field);
        spin(field) =
            static_cast<int>(std::clamp<double>(std::lround(leadingNumber(text)), r.min, r.max));
    }
    if (typed)
        scenario_.markModified();
}

bool ScenarioEditor::durationLabelLit(std::string_view text) {
    auto t = parseTimeOfDay(text);
    return t && std::lround(*t * kSecondsPerDay) >= 1;
}

FieldReply ScenarioEditor::leaveField(const EditorField& field, std::string_view text) {
    const EntryField& range = *field.range;
    const std::string typed(text);
    switch (field.family) {
    case FieldFamily::Whole: {
        const SpinRange r = spinRange(field);
        auto v = parseWhole(text);
        if (!v || *v < r.min || *v > r.max) {
            if (range.noNorm && hasStar(text)) {
                storeValue(field, kNoNorm);
                break;
            }
            return refuse(quoted(typed) + "ошибка :\r\rдопустимо целое число от "_cp +
                              toCp1251(format("%d до %d", r.min, r.max)),
                          typed);
        }
        storeValue(field, static_cast<double>(*v));
        break;
    }
    case FieldFamily::Decimal: {
        const double v = leadingNumber(text);
        if (v == 0.0 && range.noNorm && hasStar(text)) {
            storeValue(field, kNoNorm);
            break;
        }
        if (v > range.max || v < range.min) {
            if (range.noNorm && hasStar(text)) {
                storeValue(field, kNoNorm);
                break;
            }
            return refuse(quoted(typed) + "ошибка :\r\rдопустимо число от "_cp +
                              toCp1251(format("%.1f до %.1f", range.min, range.max)),
                          typed);
        }
        storeValue(field, v);
        break;
    }
    case FieldFamily::Duration: {
        auto t = parseTimeOfDay(text);
        if (!t)
            return refuse("'" + typed + "'" + " не время"_cp, typed);
        const int64_t seconds = std::llround(*t * kSecondsPerDay);
        const int minimum = static_cast<int>(range.shortest);
        if (seconds != 0 && seconds < minimum)
            return refuse(toCp1251(format("Минимальное время измерения %d сек", minimum)),
                          durationText(minimum));
        storeValue(field, static_cast<double>(seconds));
        break;
    }
    case FieldFamily::FixedChoice: {
        auto v = parseWhole(text);
        const bool allowed = v && isChoice(field, static_cast<double>(*v));
        if (std::strcmp(field.name, "EchoFreq") == 0) {
            // Echo is measured at 1600 Hz only: the field ends there in every case.
            if (!allowed)
                showError(quoted(typed) + "ошибка :\r\rэхо измеряется только на 1600 Гц"_cp);
            storeValue(field, 1600);
            break;
        }
        if (!allowed) {
            const bool o132 = std::strcmp(field.name, "O132Freq") == 0;
            return refuse(quoted(typed) +
                              (o132 ? "ошибка :\r\rдопустимы только частоты 820 / 1020 Гц"_cp
                                    : "ошибка :\r\rдопустимы только -20 / 0 / 20 дБм"_cp),
                          typed);
        }
        storeValue(field, static_cast<double>(*v));
        break;
    }
    default:
        return {false, false, std::string(text)};
    }
    coupleSessions(field);
    if (std::strcmp(field.name, "MaxLev") == 0)
        coupleMinLev();
    scenario_.markModified();
    FieldReply reply{true, false, shownText(field)};
    spinPosition(field);
    return reply;
}

FieldReply ScenarioEditor::spinClick(const EditorField& field, int direction) {
    if (field.family == FieldFamily::Duration)
        return {false, false, shownText(field)};
    const SpinRange r = spinRange(field);
    const int position = std::clamp(spin(field) + direction * r.step, r.min, r.max);
    spin(field) = position;
    storeValue(field, position);
    coupleSessions(field);
    if (std::strcmp(field.name, "MaxLev") == 0)
        coupleMinLev();
    scenario_.markModified();
    return {true, false, shownText(field)};
}

void ScenarioEditor::coupleSessions(const EditorField& changed) {
    const bool min = std::strcmp(changed.name, "NumMin") == 0;
    const bool total = std::strcmp(changed.name, "NumTotal") == 0;
    if (!min && !total)
        return;
    ScenarioEntry& e = scenario_.current();
    int32_t numMin = e.NumMin.get();
    int32_t numTotal = e.NumTotal.get();
    if (numTotal < numMin) {
        if (min)
            numTotal = numMin;
        else
            numMin = numTotal;
    }
    if (numTotal > 3 && numMin <= 2)
        numMin = 3;
    if (numTotal <= 3)
        numMin = numTotal;
    e.NumMin = numMin;
    e.NumTotal = numTotal;
}

void ScenarioEditor::coupleMinLev() {
    ScenarioEntry& e = scenario_.current();
    const int32_t maxLev = e.MaxLev.get();
    e.MinLev = std::clamp(e.MinLev.get(), maxLev - 80, maxLev);
}

bool ScenarioEditor::fieldEnabled(const EditorField& field) const {
    const std::string_view name = field.name;
    if (name == "ThRelPul" || name == "ThRelInt")
        return entry().ThAbs == 0;
    if (name == "ThAbsPul" || name == "ThAbsInt")
        return entry().ThAbs != 0;
    if (field.group == MeasureGroup::None)
        return true;
    if (!generatorFrameEnabled())
        return false;
    return groupActive(field.group);
}

// ---- Check boxes and groups ------------------------------------------------------------

bool ScenarioEditor::checked(const EditorCheck& check) const {
    return bytesOf(entry())[check.flagOffset] != 0;
}

void ScenarioEditor::setChecked(const EditorCheck& check, bool on) {
    bytesOf(scenario_.current())[check.flagOffset] = on ? 1 : 0;
    scenario_.markModified();
}

bool ScenarioEditor::groupActive(MeasureGroup group) const {
    if (group == MeasureGroup::None)
        return false;
    bool any = false;
    for (const EditorCheck& c : editorChecks())
        if (c.group == group && checked(c))
            any = true;
    if (group == MeasureGroup::Throughput)
        return any;
    return any && entry().Analog != 0;
}

bool ScenarioEditor::rowLabelEnabled(MeasureGroup group) const {
    return generatorFrameEnabled() && groupActive(group) && groupSeconds(entry(), group) >= 1.0;
}

bool ScenarioEditor::groupFrameEnabled(MeasureGroup group) const {
    if (entry().ComplexType != kGeneratorComplexType)
        return true;
    switch (group) {
    case MeasureGroup::O131:
    case MeasureGroup::O42:
    case MeasureGroup::Imp:
    case MeasureGroup::Noise:
    case MeasureGroup::Throughput:
        return false;
    default:
        return true;
    }
}

bool ScenarioEditor::checkEnabled(const EditorCheck& check) const {
    if (check.group == MeasureGroup::None)
        return true;
    if (!groupFrameEnabled(check.group))
        return false;
    const bool timeSet = groupSeconds(entry(), check.group) != 0.0;
    // A disabled time edit keeps the boxes usable, so that an inactive group can be
    // switched on again.
    const bool timeEditDisabled = !generatorFrameEnabled() || !groupActive(check.group);
    if (check.group == MeasureGroup::Throughput)
        return timeSet || timeEditDisabled;
    return entry().Analog != 0 && (timeSet || timeEditDisabled);
}

// ---- Texts, thresholds, complex type ---------------------------------------------------

void ScenarioEditor::setAtText(std::string_view text, bool typed) {
    setText(scenario_.current().AT, text);
    if (typed)
        scenario_.markModified();
}

void ScenarioEditor::setDiscrAtText(std::string_view text, bool typed) {
    setText(scenario_.current().DiscrAT, text);
    if (typed)
        scenario_.markModified();
}

bool ScenarioEditor::discrAtEnabled() const {
    return generatorFrameEnabled() && groupActive(MeasureGroup::Throughput);
}

void ScenarioEditor::setAbsoluteThresholds(bool absolute) {
    scenario_.current().ThAbs = absolute ? 1 : 0;
    scenario_.markModified();
}

void ScenarioEditor::setComplexType(uint8_t type) {
    scenario_.current().ComplexType =
        type == kGeneratorComplexType ? kGeneratorComplexType : kFullComplexType;
    applyComplexTypeRule();
    scenario_.markModified();
}

void ScenarioEditor::applyComplexTypeRule() {
    ScenarioEntry& e = scenario_.current();
    if (e.ComplexType != kGeneratorComplexType)
        return;
    for (const GeneratorTime& t : kGeneratorTimes)
        storeLe<double>(bytesOf(e) + t.offset, t.seconds);
}

// ---- Date and time window ------------------------------------------------------------

std::string ScenarioEditor::dateText() const {
    return formatDate(entry().BegTime.get());
}
std::string ScenarioEditor::begTimeText() const {
    return formatTime(entry().BegTime.get());
}
std::string ScenarioEditor::endTimeText() const {
    return formatTime(entry().EndTime.get());
}

FieldReply ScenarioEditor::leaveDate(std::string_view text) {
    auto date = parseDate(text);
    if (!date)
        return refuse("'" + std::string(text) + "'" + " не дата"_cp, std::string(text));
    ScenarioEntry& e = scenario_.current();
    const double beg = timeOfDay(e.BegTime.get());
    const double end = timeOfDay(e.EndTime.get());
    e.BegTime = *date + beg;
    e.EndTime = *date + end;
    scenario_.markModified();
    notifyList();
    return {true, false, dateText()};
}

FieldReply ScenarioEditor::leaveBegTime(std::string_view text) {
    auto t = parseTimeOfDay(text);
    if (!t)
        return refuse("'" + std::string(text) + "'" + " не время"_cp, std::string(text));
    ScenarioEntry& e = scenario_.current();
    e.BegTime = dateOf(e.BegTime.get()) + *t;
    scenario_.markModified();
    notifyList();
    return {true, false, begTimeText()};
}

FieldReply ScenarioEditor::leaveEndTime(std::string_view text) {
    auto t = parseTimeOfDay(text);
    if (!t)
        return refuse("'" + std::string(text) + "'" + " не время"_cp, std::string(text));
    ScenarioEntry& e = scenario_.current();
    e.EndTime = dateOf(e.BegTime.get()) + *t;
    scenario_.markModified();
    return {true, false, endTimeText()};
}

// ---- Time totals ---------------------------------------------------------------------

TimeTotals ScenarioEditor::totals() const {
    const ScenarioEntry& e = entry();
    TimeTotals t;
    const int64_t sessions = std::max<int32_t>(e.NumTotal.get(), 1);
    const bool generator = e.ComplexType == kGeneratorComplexType;
    if (generator) {
        t.sessionSeconds = kGeneratorSessionSeconds;
        t.cycleSeconds =
            sessions * kGeneratorSessionSeconds + (sessions - 1) * kSessionPauseSeconds;
    } else {
        int64_t s = kSessionBaseSeconds;
        for (std::size_t g = 0; g < kMeasureGroupCount; ++g) {
            const auto group = static_cast<MeasureGroup>(g);
            if (group == MeasureGroup::Throughput || !groupActive(group))
                continue;
            const double seconds = groupSeconds(e, group);
            if (seconds > 1.0)
                s += (e.SincTime.get() + static_cast<int64_t>(seconds)) * 2 +
                     groupInfo(group).extraSeconds;
        }
        if (s > kSessionBaseSeconds)
            s += kReconnectSeconds;
        const double discr = e.DiscrTime.get();
        if (groupActive(MeasureGroup::Throughput) && discr > 1.0)
            s += static_cast<int64_t>(discr) + kThroughputSetupSeconds;
        t.sessionSeconds = s;
        t.cycleSeconds = sessions * s + (sessions - 1) * kSessionPauseSeconds + kCycleCloseSeconds;
    }
    t.session = durationText(t.sessionSeconds);
    t.cycle = durationText(t.cycleSeconds, generator ? "%d д. + " : "%dд.+");
    const bool timed =
        generator || (e.SinTime.get() > 1.0 && e.MTTSTime.get() > 1.0 && e.O132Time.get() > 1.0);
    if (e.Analog && e.sinSumPrcOn && e.mttAttOn && e.o132SNROn && e.o132JitPhOn && timed)
        t.passport = "Паспорт"_cp;
    return t;
}

// ---- The list of complexes -----------------------------------------------------------

AddOutcome ScenarioEditor::addComplex(std::string_view id, std::string_view number) {
    if (id.empty() || number.empty())
        return AddOutcome::Nothing;
    if (!isValidEntryId(id)) {
        showError(std::string(id) + " - неверный идентификатор"_cp);
        return AddOutcome::BadId;
    }
    if (!isValidDialNumber(number)) {
        showError(std::string(number) + " - неверный номер"_cp);
        return AddOutcome::BadNumber;
    }
    if (!scenario_.append(id, number)) {
        showError(noMemoryToGrowText());
        return AddOutcome::NoMemory;
    }
    applyComplexTypeRule();
    scenario_.setModified(true);
    notifyList();
    return AddOutcome::Added;
}

void ScenarioEditor::select(int line) {
    scenario_.select(line);
    applyComplexTypeRule();
}

void ScenarioEditor::removeSelected() {
    if (!scenario_.lineSelected())
        return;
    scenario_.remove(scenario_.currentIndex());
    // The list no longer matches its file: closing asks to save it.
    scenario_.setModified(true);
    applyComplexTypeRule();
    notifyList();
}

void ScenarioEditor::setSorted(bool on) {
    scenario_.setSortedById(on);
    notifyList();
}

void ScenarioEditor::editSelectedId(std::string_view text, bool typed) {
    if (!scenario_.lineSelected())
        return;
    setText(scenario_.current().Id, text);
    if (typed)
        scenario_.markModified();
    notifyList();
}

void ScenarioEditor::editSelectedNumber(std::string_view text, bool typed) {
    if (!scenario_.lineSelected())
        return;
    setText(scenario_.current().Number, text);
    if (typed)
        scenario_.markModified();
    notifyList();
}

bool ScenarioEditor::checkSelectedId() {
    if (!scenario_.lineSelected())
        return true;
    const std::string id(textOf(entry().Id));
    if (isValidEntryId(id))
        return true;
    showError(id + " - неверный идентификатор"_cp);
    return false;
}

bool ScenarioEditor::checkSelectedNumber() {
    if (!scenario_.lineSelected())
        return true;
    const std::string number(textOf(entry().Number));
    if (isValidDialNumber(number))
        return true;
    showError(number + " - неверный номер"_cp);
    return false;
}

// ---- Commands --------------------------------------------------------------------------

bool ScenarioEditor::offerSave(const std::string& question, FileChooser& files) {
    const DialogAnswer answer =
        dialogs_.ask("", question, DialogIcon::Question, DialogButtons::YesNoCancel);
    if (answer == DialogAnswer::Cancel)
        return false;
    if (answer == DialogAnswer::Yes) {
        // A cancelled save dialog still lets the command go on.
        if (scenario_.lineSelected())
            saveScenarioAs(files);
        else
            saveTemplateAs(files);
    }
    return true;
}

void ScenarioEditor::setCaptionFromFile() {
    caption_ = " ЛИРС "_cp + complexId_ + " :  " + fileNameText(scenario_.fileName());
}

bool ScenarioEditor::newScenario(FileChooser& files) {
    if (scenario_.modified() &&
        !offerSave(scenario_.lineSelected() ? "Сохранить текущий сценарий ?"_cp
                                            : "Сохранить текущий шаблон ?"_cp,
                   files))
        return false;
    scenario_.clear();
    scenario_.setModified(false);
    caption_ = "ЛИРС "_cp + complexId_;
    applyComplexTypeRule();
    notifyList();
    return true;
}

bool ScenarioEditor::openScenario(FileChooser& files) {
    if (scenario_.modified() && scenario_.lineSelected() &&
        !offerSave("        Сохранить текущий сценарий ?"_cp, files))
        return false;
    auto path = files.chooseOpen(FileKind::Scenario);
    if (!path)
        return false;
    if (!loadScenario(scenario_, *path, dialogs_))
        return false;
    setCaptionFromFile();
    applyComplexTypeRule();
    notifyList();
    return true;
}

bool ScenarioEditor::saveScenarioAs(FileChooser& files) {
    auto path = files.chooseSave(FileKind::Scenario);
    if (!path || !saveScenario(scenario_, *path, dialogs_))
        return false;
    setCaptionFromFile();
    return true;
}

bool ScenarioEditor::openTemplate(FileChooser& files) {
    auto path = files.chooseOpen(FileKind::Template);
    if (!path || !loadTemplate(scenario_, *path, dialogs_))
        return false;
    applyComplexTypeRule();
    notifyList();
    return true;
}

bool ScenarioEditor::saveTemplateAs(FileChooser& files) {
    auto path = files.chooseSave(FileKind::Template);
    return path && saveTemplate(scenario_, *path, dialogs_);
}

bool ScenarioEditor::closeQuery(FileChooser& files) {
    if (!scenario_.modified())
        return true;
    return offerSave(scenario_.lineSelected() ? "        Сохранить текущий сценарий ?"_cp
                                              : "        Сохранить текущий шаблон ?"_cp,
                     files);
}

bool ScenarioEditor::mayStart(bool active) {
    if (active && scenario_.count() == 0) {
        showError("Нет сценария"_cp);
        return false;
    }
    return true;
}

void ScenarioEditor::afterRun() {
    select(scenario_.count() > 0 && scenario_.currentIndex() == 0 ? 0 : -1);
    notifyList();
}

} // namespace vetlina
