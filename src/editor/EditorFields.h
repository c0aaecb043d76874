// The numeric fields, check boxes and measurement groups of the scenario editor's
// pages: one row per field, so that the windows build their pages from the table and
// the editing rules apply to every row alike. A field is a pair of controls, the edit
// Edit<name> and the spin button UpDn<name>, bound to one field of the current entry.
#pragma once

#include "scenario/EntryRanges.h"
#include "scenario/ScenarioEntry.h"

#include <cstddef>
#include <span>
#include <string_view>

namespace vetlina {

// The pages of the editor, in the order of the page control.
enum class EditorPage { Dialling, Measurements, Settings, Norms1, Norms2, Norms3 };
inline constexpr std::size_t kEditorPageCount = 6;

// The measurement groups of a session.
enum class MeasureGroup { Echo, Sine, O132, O131, Mtts, O42, Imp, Noise, Throughput, None };
inline constexpr std::size_t kMeasureGroupCount = 9;

// The editor's columns beside a row of the entry's range table (scenario/EntryRanges.h):
// the field family is the row's kind (whole, decimal, duration, fixed choice), its
// range, "*" and shortest time are the row's; the format, step and page are the editor's.
struct EditorField {
    const char* name; // the controls' name without "Edit"/"UpDn": "SinSNR", "SinTime"
    const EntryField* range;
    FieldFamily family;
    const char* format; // of the shown value ("" for durations)
    int step;           // of the spin button
    EditorPage page;    // brought to front when a typed value is rejected
    MeasureGroup group; // a generator control of this group (None for the rest)
};

std::span<const EditorField> editorFields();
const EditorField* findEditorField(std::string_view name);

// A check box of the measurement page, bound to an enable flag of the entry.
struct EditorCheck {
    const char* name; // "CheckSinSNR"
    std::size_t flagOffset;
    MeasureGroup group; // None for "Электрические параметры" (CheckAnalog)
};
std::span<const EditorCheck> editorChecks();
const EditorCheck* findEditorCheck(std::string_view name);

// A measurement group: its time field and what it adds to a session besides its time.
struct GroupInfo {
    MeasureGroup group;
    const char* timeField; // "SinTime"
    int extraSeconds;      // E of the session time
};
const GroupInfo& groupInfo(MeasureGroup group);

// A field's value as the editor shows it (SincTime in seconds, truncated; a "no norm"
// stays -999), and storing a shown value in the field's type (a whole number truncated
// toward zero, SincTime doubled).
double shownValue(const ScenarioEntry& e, const EditorField& field);
void storeShown(ScenarioEntry& e, const EditorField& field, double value);
// One of a fixed-choice field's values.
bool isChoice(const EditorField& field, double value);

} // namespace vetlina
