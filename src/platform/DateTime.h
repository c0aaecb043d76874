// The date-time type of the system: days since 30 December 1899 as a double, the
// fraction being the time of day; and its text formats.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vetlina {

using DateTime = double;

constexpr double kMsPerDay = 86400000.0;

struct CivilTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// A calendar date and time of day as a date-time; nullopt for an impossible date
// or time (31 February, 24:00, year 0).
std::optional<DateTime> encodeDateTime(const CivilTime& t);
// The calendar fields of a date-time, the time of day rounded to milliseconds.
CivilTime decodeDateTime(DateTime dt);

// The date (whole days) and the time of day (fraction) of a date-time.
DateTime dateOf(DateTime dt);
double timeOfDay(DateTime dt);

// Current local date and time read from the operating system; only the clock
// (platform/Clock.h) calls this.
DateTime systemLocalNow();

std::string formatTime(DateTime dt);     // "hh:nn:ss"
std::string formatDate(DateTime dt);     // "dd.mm.yyyy"
std::string formatDateTime(DateTime dt); // "dd.mm.yyyy hh:nn:ss"
std::string formatStamp(DateTime dt);    // "ddmmyyyyhhnnss", the anchor stamp of documents

// "dd.mm.yyyy" (day and month may have one digit) to the date at midnight.
std::optional<DateTime> parseDate(std::string_view text);
// A time of day as typed in the editor: "hh:nn:ss", or the short forms "h:n" and
// "h:n:s"; the result is the fraction of a day.
std::optional<double> parseTimeOfDay(std::string_view text);

} // namespace vetlina
