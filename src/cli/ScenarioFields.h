// The named fields of a scenario entry as the file tool shows and makes them:
// one row per JSON member (its path of names, its offset in the record, its kind
// and size). Showing and making both walk this one table, so they cannot drift
// apart; together the rows cover every byte of the record exactly once.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vetlina {

enum class FieldKind { U8, I32, F32, F64, Text };

struct FieldRow {
    std::vector<std::string> path; // JSON member names from the entry object down
    std::size_t offset;            // in the record
    FieldKind kind;
    std::size_t size;  // bytes of one value (of the whole field for text)
    std::size_t count; // 1: a single value; more: a JSON array of that many values
    bool dateTime;     // a date-time, also accepted as "dd.mm.yyyy hh:nn:ss"

    std::string name() const; // the path joined with "."
    std::size_t bytes() const { return size * count; }
};

// Every field of the record, in the order the JSON shows them: identity and
// progress, settings and norms, then the statistics by direction and group.
const std::vector<FieldRow>& scenarioFields();
// The fields of the settings part only (what a template holds).
const std::vector<FieldRow>& templateFields();

} // namespace vetlina
