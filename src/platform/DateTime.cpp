#include "platform/DateTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace vetlina {
namespace {

bool isLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && isLeapYear(y)) ? 29 : days[m - 1];
}

// Days from 1 January of year 1 (proleptic Gregorian) to the given date.
long daysFromCivil(int y, int m, int d) {
    long days = d - 1;
    for (int month = 1; month < m; ++month)
        days += daysInMonth(y, month);
    long yy = y - 1;
    days += yy * 365 + yy / 4 - yy / 100 + yy / 400;
    return days;
}

const long kEpochDays = daysFromCivil(1899, 12, 30);
// 1 January of year 1 and 31 December of year 9999 as date-times.
const double kFirstDay = static_cast<double>(-kEpochDays);
const double kLastDay = static_cast<double>(daysFromCivil(9999, 12, 31) - kEpochDays);

void civilFromDays(long days, int& y, int& m, int& d) {
    // 400-year cycles of 146097 days keep the search short.
    y = 1 + static_cast<int>(days / 146097) * 400;
    days %= 146097;
    for (;;) {
        int length = isLeapYear(y) ? 366 : 365;
        if (days < length)
            break;
        days -= length;
        ++y;
    }
    m = 1;
    for (;;) {
        int length = daysInMonth(y, m);
        if (days < length)
            break;
        days -= length;
        ++m;
    }
    d = static_cast<int>(days) + 1;
}

bool allDigits(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

int toInt(std::string_view s) {
    int v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return v;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<DateTime> encodeDateTime(const CivilTime& t) {
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > daysInMonth(t.year, t.month))
        return std::nullopt;
    if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 ||
        t.second > 59 || t.millisecond < 0 || t.millisecond > 999)
        return std::nullopt;
    double date = static_cast<double>(daysFromCivil(t.year, t.month, t.day) - kEpochDays);
    double time =
        (((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond) / kMsPerDay;
    // Before day 0 the fraction counts away from zero, as the system's type does.
    return date < 0 ? date - time : date + time;
}

CivilTime decodeDateTime(DateTime dt) {
    CivilTime t;
    if (!std::isfinite(dt))
        return t;
    // A date-time from a damaged or hostile file may lie anywhere; outside the years
    // 1 to 9999 it is held at the nearer end, so every format stays within its text.
    constexpr double kLastMs = (kMsPerDay - 1.0) / kMsPerDay;
    dt = std::clamp(dt, kFirstDay - kLastMs, kLastDay + kLastMs);
    double whole = std::trunc(dt);
    long long ms = std::llround(std::fabs(dt - whole) * kMsPerDay);
    long days = static_cast<long>(whole);
    if (ms >= static_cast<long long>(kMsPerDay)) {
        ms -= static_cast<long long>(kMsPerDay);
        days += dt < 0 ? -1 : 1;
    }
    long absolute = days + kEpochDays;
    if (absolute < 0)
        absolute = 0;
    civilFromDays(absolute, t.year, t.month, t.day);
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}

DateTime dateOf(DateTime dt) {
    CivilTime t = decodeDateTime(dt);
    t.hour = t.minute = t.second = t.millisecond = 0;
    return encodeDateTime(t).value_or(0.0);
}

double timeOfDay(DateTime dt) {
    CivilTime t = decodeDateTime(dt);
    return (((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond) / kMsPerDay;
}

DateTime systemLocalNow() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::time_t seconds = ts.tv_sec;
    std::tm local{};
    localtime_r(&seconds, &local);
    CivilTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec > 59 ? 59 : local.tm_sec;
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return encodeDateTime(t).value_or(0.0);
}

std::string formatTime(DateTime dt) {
    CivilTime t = decodeDateTime(dt);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return text;
}

std::string formatDate(DateTime dt) {
    CivilTime t = decodeDateTime(dt);
    char text[16];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", t.day, t.month, t.year);
    return text;
}

std::string formatDateTime(DateTime dt) {
    return formatDate(dt) + " " + formatTime(dt);
}

std::string formatStamp(DateTime dt) {
    CivilTime t = decodeDateTime(dt);
    char text[24];
    std::snprintf(text, sizeof text, "%02d%02d%04d%02d%02d%02d", t.day, t.month, t.year, t.hour,
                  t.minute, t.second);
    return text;
}

std::optional<DateTime> parseDate(std::string_view text) {
    text = trim(text);
    auto first = text.find('.');
    if (first == std::string_view::npos)
        return std::nullopt;
    auto second = text.find('.', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    std::string_view day = text.substr(0, first);
    std::string_view month = text.substr(first + 1, second - first - 1);
    std::string_view year = text.substr(second + 1);
    if (!allDigits(day) || !allDigits(month) || !allDigits(year) || day.size() > 2 ||
        month.size() > 2 || year.size() != 4)
        return std::nullopt;
    CivilTime t;
    t.year = toInt(year);
    t.month = toInt(month);
    t.day = toInt(day);
    return encodeDateTime(t);
}

std::optional<double> parseTimeOfDay(std::string_view text) {
    text = trim(text);
    int parts[3] = {0, 0, 0};
    int count = 0;
    while (true) {
        auto colon = text.find(':');
        std::string_view part = text.substr(0, colon);
        if (count == 3 || !allDigits(part) || part.size() > 2)
            return std::nullopt;
        parts[count++] = toInt(part);
        if (colon == std::string_view::npos)
            break;
        text.remove_prefix(colon + 1);
    }
    if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 59)
        return std::nullopt;
    return ((parts[0] * 60.0 + parts[1]) * 60.0 + parts[2]) * 1000.0 / kMsPerDay;
}

} // namespace vetlina
