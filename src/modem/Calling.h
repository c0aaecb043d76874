// The rules of calling that follow from a scenario entry alone: which number is a
// trunk number, whether an entry's time window is open, whether an entry is due for a
// call, the line of the scenario overview, the call line of the protocol and the dial
// command. The steps of the modem thread that use them are CallHandling's.
#pragma once

#include "platform/DateTime.h"
#include "scenario/ScenarioEntry.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vetlina {

// The four run counters of an entry, in their order.
namespace runcounter {
inline constexpr int Postponements = 0;
inline constexpr int ConsecutiveNus = 1;       // consecutive НУС attempts
inline constexpr int ConsecutiveNoCarrier = 2; // consecutive no-carrier outcomes
inline constexpr int ConsecutiveOtb = 3;       // consecutive Отб outcomes
} // namespace runcounter

// The modem's numeric result lines as the program compares them (whole line, exact).
namespace result {
inline constexpr std::string_view Ok = "0";
inline constexpr std::string_view Ring = "2";
inline constexpr std::string_view NoCarrier = "3";
inline constexpr std::string_view Error = "4";
inline constexpr std::string_view NoDialTone = "6";
inline constexpr std::string_view Busy = "7";
inline constexpr std::string_view NoAnswer = "8";
inline constexpr std::string_view Connect = "20";
} // namespace result

// The entry calls an autonomous generator, not a complex.
bool isGenerator(const ScenarioEntry& entry);

// The modem commands of an entry (AT, DiscrAT) as the protocol shows them (lower case)
// and as they are typed (upper case): the Latin letters change, nothing else.
std::string lowerLatin(std::string_view text);
std::string upperLatin(std::string_view text);

// A trunk (long-distance) number holds an "8" and, at or after its first "8", a "w"
// (wait for the dial tone).
bool isTrunkNumber(std::string_view number);

// Whether the time of day of `at` lies in the entry's window: with B and E the times
// of day of BegTime and EndTime, B <= t < E when BegTime is before EndTime, else (a
// window past midnight) t >= B or t < E.
bool callWindowOpen(const ScenarioEntry& entry, DateTime at);

// Whether the entry may be dialled at `at`: not finished, its NextTime has come, and
// either a series is under way (SessionsDone above 0) or its window is open.
bool entryDue(const ScenarioEntry& entry, DateTime at);

// The line of the scenario overview for an entry (cp1251): Id + " - цикл выполнен",
// " - готов к выполнению", " - начать цикла с <date time> до <date time>" or
// " - начало цикла с <time> до <time>"; `at` is now (for "a later day").
std::string overviewLine(const ScenarioEntry& entry, DateTime at);

// The call line of the protocol (cp1251): "Вызов генератора " or "Вызов " + Id,
// " (" + the AT text in lower case + ")" when there is one, " тел: " + Number.
std::string callText(const ScenarioEntry& entry);

// The dial command: "AT" + the AT text in upper case + "D" + Number, then ";" (a
// generator called simply) or "@;" (a generator) for a generator entry, then CR LF.
std::string dialCommand(const ScenarioEntry& entry, bool simplifiedCall);

// Seconds (a count from an entry or the configuration, which may hold anything) as
// milliseconds of a wait: never negative, never beyond the longest wait there is.
int32_t secondsToWaitMs(int64_t seconds);

// The longest wait of the modem thread: an answering complex waiting for a call.
inline constexpr int32_t kUnlimitedWaitMs = 536870911;

} // namespace vetlina
