// The ranges of every settable field of a scenario entry, as one table: the kind of
// the field (whole number, decimal, duration, fixed choice, flag, date-time, text),
// where it stands in the record, the range the editor accepts and whether "*" (no
// norm, stored -999) is allowed. The editor takes its limits from here; an entry
// that comes from elsewhere (the far complex, a file) is checked against the same
// table by checkEntryRanges before it is used.
//
// The table is plain data: the editor may add columns of its own (messages,
// display formats, steps, pages) to EntryField without touching the check.
#pragma once

#include "scenario/ScenarioEntry.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vetlina {

enum class FieldFamily : uint8_t {
    Whole,       // i32, min..max
    Decimal,     // f32, min..max (edited with one decimal)
    Duration,    // f64 seconds: 0 (the group is off) or up to max; see shortest
    FixedChoice, // i32, one of choices
    Flag,        // u8, 0 or 1 (check box, radio choice)
    DateTime,    // f64 day count, within the years 1..9999
    Text,        // char[size], code page 1251; see TextRule
};

// What the characters of a text field may be.
enum class TextRule : uint8_t {
    None,       // not a text
    Identifier, // 8 digits, the 7th may be "X" or "x"; terminated inside the field
    DialNumber, // the dial alphabet of a Hayes modem; may fill the field
    Commands,   // modem set-up commands: no control characters; may fill the field
};

struct EntryField {
    std::string_view name; // the field's name in the record (and of the editor's pair)
    std::size_t offset;    // byte offset in the record
    std::size_t size;      // bytes
    FieldFamily kind;
    double min = 0;      // whole, decimal: the range, in the units shown (SincTime in s)
    double max = 0;      // duration: the longest time, s; date-time: day counts
    bool noNorm = false; // "*" allowed: any value at or below kNoNormBound is "no norm"
    // Whole: the stored value is the shown value times this (SincTime: half-seconds);
    // shown = stored / scale, truncated.
    int32_t scale = 1;
    // Duration: the editor's shortest measuring time; a shorter non-zero time is
    // raised to it by the editor ("Минимальное время измерения %d сек"), not refused,
    // so entries made elsewhere with a shorter time are still valid.
    // Whole: the smallest value an entry made elsewhere may hold when it is below
    // the editor's min (SincTime: quick scenarios of the file tool hold 1 s).
    double shortest = 0;
    // Fixed choice: the values allowed (choiceCount of them).
    int32_t choices[3] = {0, 0, 0};
    int choiceCount = 0;
    TextRule text = TextRule::None;
    // Whole: the range is relative to the value of this field (MinLev: MaxLev − 80 ..
    // MaxLev); empty when the range is absolute.
    std::string_view relativeTo = {};
    // false for the fields the editor does not change (progress, call norms, NextTime):
    // they are checked for sense only.
    bool edited = true;
};

// Every field of an entry that is set by the editor or carried from one complex
// to the other, in record order. The statistics area is not in it.
std::span<const EntryField> entryFields();

// The row of a field by its name; nullptr when there is none.
const EntryField* findEntryField(std::string_view name);

// The value of a numeric field of the entry (flags, whole numbers, decimals,
// durations, date-times) as a double; for Whole, the stored value (not scaled).
double fieldValue(const ScenarioEntry& e, const EntryField& f);

struct EntryRangeFault {
    const EntryField* field;
    std::string reason; // code page 1251: the field's name, its value and what is allowed
};

// Checks a whole entry field by field in record order, then the rules between
// fields (NumMin and NumTotal); returns the first field out of range and why, or
// nothing when the entry is within every range. Floats that are not numbers or
// infinite are out of range everywhere, norms included.
std::optional<EntryRangeFault> checkEntryRanges(const ScenarioEntry& e);

} // namespace vetlina
