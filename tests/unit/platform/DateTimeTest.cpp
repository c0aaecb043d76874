#include "platform/DateTime.h"

#include <gtest/gtest.h>
#include <limits>

namespace vetlina {
namespace {

DateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return encodeDateTime({y, mo, d, h, mi, s, ms}).value();
}

TEST(DateTime, DayZeroIsThirtiethOfDecember1899) {
    EXPECT_EQ(at(1899, 12, 30), 0.0);
    EXPECT_EQ(at(1900, 1, 1), 2.0);
    EXPECT_EQ(at(2000, 1, 1), 36526.0);
    EXPECT_DOUBLE_EQ(at(2000, 1, 1, 12), 36526.5);
}

TEST(DateTime, FormatsAtMidnightAndAtTheEndOfTheDay) {
    DateTime midnight = at(2026, 1, 1);
    EXPECT_EQ(formatTime(midnight), "00:00:00");
    EXPECT_EQ(formatDate(midnight), "01.01.2026");
    EXPECT_EQ(formatDateTime(midnight), "01.01.2026 00:00:00");
    EXPECT_EQ(formatStamp(midnight), "01012026000000");

    DateTime last = at(2025, 12, 31, 23, 59, 59);
    EXPECT_EQ(formatDateTime(last), "31.12.2025 23:59:59");
    EXPECT_EQ(formatStamp(last), "31122025235959");

    // Half a millisecond before midnight rounds to the next day, as the
    // system's type decodes it.
    EXPECT_EQ(formatDateTime(midnight - 0.4 / kMsPerDay), "01.01.2026 00:00:00");
    // The start-up default end of the time window, 1e-8 days (0.864 ms) before the
    // start, shows the second before.
    EXPECT_EQ(formatTime(at(2026, 3, 1, 8) - 1e-8), "07:59:59");
}

TEST(DateTime, LeapDaysAndImpossibleDates) {
    EXPECT_TRUE(encodeDateTime({2024, 2, 29}));
    EXPECT_FALSE(encodeDateTime({2023, 2, 29}));
    EXPECT_FALSE(encodeDateTime({1900, 2, 29}));
    EXPECT_TRUE(encodeDateTime({2000, 2, 29}));
    EXPECT_FALSE(encodeDateTime({2026, 4, 31}));
    EXPECT_FALSE(encodeDateTime({2026, 1, 1, 24, 0, 0}));
    EXPECT_EQ(formatDate(at(2024, 2, 29) + 1), "01.03.2024");
}

TEST(DateTime, DecodeRoundTripsEveryFieldOverCenturies) {
    for (int year : {1900, 1999, 2000, 2026, 2100}) {
        for (int month = 1; month <= 12; ++month) {
            CivilTime in{year, month, 28, 13, 7, 42, 250};
            CivilTime out = decodeDateTime(encodeDateTime(in).value());
            EXPECT_EQ(out.year, year);
            EXPECT_EQ(out.month, month);
            EXPECT_EQ(out.day, 28);
            EXPECT_EQ(out.hour, 13);
            EXPECT_EQ(out.minute, 7);
            EXPECT_EQ(out.second, 42);
            EXPECT_EQ(out.millisecond, 250);
        }
    }
}

TEST(DateTime, DateAndTimeOfDayParts) {
    DateTime dt = at(2026, 12, 8, 18, 30);
    EXPECT_EQ(dateOf(dt), at(2026, 12, 8));
    EXPECT_NEAR(timeOfDay(dt), 18.5 / 24, 1e-12);
}

TEST(DateTime, ParsesDates) {
    EXPECT_EQ(parseDate("08.12.2026"), at(2026, 12, 8));
    EXPECT_EQ(parseDate("8.1.2026"), at(2026, 1, 8));
    EXPECT_EQ(parseDate(" 29.02.2024 "), at(2024, 2, 29));
    EXPECT_FALSE(parseDate("29.02.2023"));
    EXPECT_FALSE(parseDate("08.12.26"));
    EXPECT_FALSE(parseDate("08-12-2026"));
    EXPECT_FALSE(parseDate("08.12.2026x"));
    EXPECT_FALSE(parseDate(""));
}

TEST(DateTime, ParsesTimesOfDayInTheFormsAUserTypes) {
    auto seconds = [](std::optional<double> t) {
        return t ? static_cast<long>(*t * 86400 + 0.5) : -1;
    };
    EXPECT_EQ(seconds(parseTimeOfDay("08:30:15")), 8 * 3600 + 30 * 60 + 15);
    EXPECT_EQ(seconds(parseTimeOfDay("8:5")), 8 * 3600 + 5 * 60);
    EXPECT_EQ(seconds(parseTimeOfDay("8:5:7")), 8 * 3600 + 5 * 60 + 7);
    EXPECT_EQ(seconds(parseTimeOfDay("00:00:00")), 0);
    EXPECT_EQ(seconds(parseTimeOfDay("23:59:59")), 86399);
    EXPECT_FALSE(parseTimeOfDay("24:00:00"));
    EXPECT_FALSE(parseTimeOfDay("12:60"));
    EXPECT_FALSE(parseTimeOfDay("12"));
    EXPECT_FALSE(parseTimeOfDay("1:2:3:4"));
    EXPECT_FALSE(parseTimeOfDay("ab:cd"));
    EXPECT_FALSE(parseTimeOfDay("12::00"));
}

// Date-times read from a damaged or hostile file: every format gives a text of its
// usual length, held at the first or last representable day, and never runs into
// undefined behaviour (the sanitized build checks that).
TEST(DateTime, FormatsOfValuesFarOutsideTheCalendarStayWithinIt) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {1e17, "31.12.9999 23:59:59"},   {1e300, "31.12.9999 23:59:59"},
        {3e6, "31.12.9999 23:59:59"},    {-1e17, "01.01.0001 23:59:59"},
        {-1e300, "01.01.0001 23:59:59"}, {inf, "30.12.1899 00:00:00"},
        {-inf, "30.12.1899 00:00:00"},   {nan, "30.12.1899 00:00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatDateTime(c.value), c.text) << c.value;
        EXPECT_EQ(formatStamp(c.value).size(), 14u) << c.value;
        EXPECT_GE(timeOfDay(c.value), 0.0) << c.value;
        EXPECT_LT(timeOfDay(c.value), 1.0) << c.value;
    }
    EXPECT_EQ(formatDateTime(at(9999, 12, 31, 12)), "31.12.9999 12:00:00");
}

} // namespace
} // namespace vetlina
