// JSON of scenario and template files for the file tool.
//
// A scenario is {"version": "01.12.99", "entries": [...]}, a template is one
// object of settings with "version": "21.12.98"; the members are the fields of
// the field table. Texts are UTF-8 (code page 1251 in the file), with the bytes of
// a field up to its last non-NUL byte, so that bytes after a terminator survive as
// "\u0000..." escapes. Numbers are printed so that they read back to the same bits;
// what JSON numbers cannot hold is written as a string: "inf", "-inf", and a NaN as
// its bits in hexadecimal ("0x7FC00000", "0x7FF8000000000000").
#pragma once

#include "scenario/ScenarioEntry.h"

#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

using OrderedJson = nlohmann::ordered_json;

// A number as the file tool shows it: a float as the shortest decimal that reads back
// to it, a double as it is; what JSON cannot hold as a string ("inf", "-inf", a NaN as
// its bits in hexadecimal).
OrderedJson floatJson(float value);
OrderedJson doubleJson(double value);

OrderedJson scenarioToJson(std::span<const ScenarioEntry> entries);
OrderedJson templateToJson(const ScenarioEntry& entry); // the settings fields only

// From JSON text. Members left out take the values of a new entry (start window
// now; EndTime, when left out, 1e-8 days before BegTime). False with a one-line
// reason naming the member for bad JSON, unknown members, wrong types, values out
// of range and texts longer than their fields.
bool scenarioFromJson(std::string_view text, std::vector<ScenarioEntry>& entries,
                      std::string& error);
bool templateFromJson(std::string_view text, ScenarioEntry& entry, std::string& error);

} // namespace vetlina
