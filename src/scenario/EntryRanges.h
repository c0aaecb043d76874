// The ranges of the numeric settings of a scenario entry, as the editor keeps them:
// one row per field (its name, where it lies in the record, how it is stored, the
// range of values the editor accepts and whether the field may hold "no norm").
// The editor checks typed values against this table; a received entry can be checked
// against the same rows.
#pragma once

#include "scenario/ScenarioEntry.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vetlina {

// How a field is stored in the record.
enum class FieldStorage { I32, F32, F64 };

struct EntryRange {
    const char* name;     // the field of the record by its name (a norm by its key)
    std::size_t offset;   // in the record
    FieldStorage storage; // how the record holds it
    double min;           // the range the editor accepts, in the units it shows
    double max;
    bool noNormAllowed;               // the value may be kNoNorm ("   *")
    std::span<const int32_t> choices; // non-empty: only these values (fixed choice)
    int32_t storedPerShown = 1;       // SincTime: the record holds twice the seconds shown
};

// Every numeric setting the editor shows, dialling and durations included.
std::span<const EntryRange> entryRanges();
// The row of a field by name, nullptr for none.
const EntryRange* findEntryRange(std::string_view name);

// The value of a row's field in an entry as the editor shows it, and storing one (as
// the field's type: an i32 field truncates toward zero; SincTime is doubled).
double rangeValue(const ScenarioEntry& entry, const EntryRange& row);
void setRangeValue(ScenarioEntry& entry, const EntryRange& row, double value);

// True when a shown value lies in the row's range (or is "no norm" where allowed), or is
// one of its choices. MinLev is checked against its widest range here (-100..20); the
// editor narrows it to MaxLev - 80 .. MaxLev.
bool valueInRange(const EntryRange& row, double value);

} // namespace vetlina
