#include "ztdb/ztdatetime.h"

#include <gtest/gtest.h>

#include <string>

#include "date_order_pin.h"

namespace {

struct Expected {
    bool valid;
    int32_t year, month, day, hour, minute, second;
};

void expectParse(const char* text, bool dayFirst, const Expected& e) {
    DateOrderPin pin(dayFirst);
    ZTDateTime d;
    EXPECT_EQ(d.parse(text), e.valid) << text << (dayFirst ? " (day first)" : " (month first)");
    if (!e.valid || !d.valid) return;
    EXPECT_EQ(d.year, e.year) << text;
    EXPECT_EQ(d.month, e.month) << text;
    EXPECT_EQ(d.day, e.day) << text;
    EXPECT_EQ(d.hour, e.hour) << text;
    EXPECT_EQ(d.minute, e.minute) << text;
    EXPECT_EQ(d.second, e.second) << text;
}

const Expected kInvalid = {false, 0, 0, 0, 0, 0, 0};

TEST(ZTDateTimeTest, ParseUnderBothOrders) {
    struct Case {
        const char* text;
        Expected dayFirst, monthFirst;
    } cases[] = {
        {"1/2/2003", {true, 2003, 2, 1, 0, 0, 0}, {true, 2003, 1, 2, 0, 0, 0}},
        {"2003/2/1", {true, 2003, 2, 1, 0, 0, 0}, {true, 2003, 2, 1, 0, 0, 0}},
        {"1/2/03", {true, 2003, 2, 1, 0, 0, 0}, {true, 2003, 1, 2, 0, 0, 0}},
        {"1/2/45", {true, 1945, 2, 1, 0, 0, 0}, {true, 1945, 1, 2, 0, 0, 0}},
        {"1/2/30", {true, 2030, 2, 1, 0, 0, 0}, {true, 2030, 1, 2, 0, 0, 0}},
        {"1/2/31", {true, 1931, 2, 1, 0, 0, 0}, {true, 1931, 1, 2, 0, 0, 0}},
        {"AD 45/2/1", {true, 45, 2, 1, 0, 0, 0}, {true, 45, 2, 1, 0, 0, 0}},
        {"ad 5/12/31", {true, 5, 12, 31, 0, 0, 0}, {true, 5, 12, 31, 0, 0, 0}},
        {"BC 44/3/15", {true, -44, 3, 15, 0, 0, 0}, {true, -44, 3, 15, 0, 0, 0}},
        {"12:30", {true, 0, 0, 0, 12, 30, 0}, {true, 0, 0, 0, 12, 30, 0}},
        {"23:59:59", {true, 0, 0, 0, 23, 59, 59}, {true, 0, 0, 0, 23, 59, 59}},
        {"12:30 ", {true, 0, 0, 0, 12, 30, 0}, {true, 0, 0, 0, 12, 30, 0}},
        {"12", kInvalid, kInvalid},
        {"12:75", kInvalid, kInvalid},
        {"24:00", kInvalid, kInvalid},
        {"12:30:60", kInvalid, kInvalid},
        {"31/2/2003", kInvalid, kInvalid},
        {"29/2/2003", {true, 2003, 2, 29, 0, 0, 0}, kInvalid},
        {"2/29/2003", kInvalid, {true, 2003, 2, 29, 0, 0, 0}},
        {"13/1/2003", {true, 2003, 1, 13, 0, 0, 0}, kInvalid},
        {"xx/xx/1990", kInvalid, kInvalid},
        {"1500/xx/xx", {true, 1500, 0, 0, 0, 0, 0}, {true, 1500, 0, 0, 0, 0, 0}},
        {"1500/xx/5", kInvalid, kInvalid},
        {"2003/2/1 12:30", {true, 2003, 2, 1, 12, 30, 0}, {true, 2003, 2, 1, 12, 30, 0}},
        {"2003/2/1, 8:05:09", {true, 2003, 2, 1, 8, 5, 9}, {true, 2003, 2, 1, 8, 5, 9}},
        {"2003/2/1;.12:30  ", {true, 2003, 2, 1, 12, 30, 0}, {true, 2003, 2, 1, 12, 30, 0}},
        {"2003/2/1 ", {true, 2003, 2, 1, 0, 0, 0}, {true, 2003, 2, 1, 0, 0, 0}},
        {"2003/2/1 12", kInvalid, kInvalid},
        {"2003/2/1x", kInvalid, kInvalid},
        {"2003/2", kInvalid, kInvalid},
        {"2003/2/1 12:30 x", kInvalid, kInvalid},
        {"1234567/1/1", kInvalid, kInvalid},
        {"x/1/2003", kInvalid, kInvalid},
        {"AD45/2/1", kInvalid, kInvalid},
        {"abc", kInvalid, kInvalid},
        {"", kInvalid, kInvalid},
        {"-1/2/2003", kInvalid, kInvalid},
    };
    for (const Case& c : cases) {
        expectParse(c.text, true, c.dayFirst);
        expectParse(c.text, false, c.monthFirst);
    }
    ZTDateTime d;
    EXPECT_FALSE(d.parse(nullptr));
}

TEST(ZTDateTimeTest, FormatCanonicalAndLocal) {
    struct Case {
        const char* text;
        const char* canonical;
        const char* localDayFirst;
        const char* localMonthFirst;
    } cases[] = {
        {"2003/2/1", "2003/02/01 00:00:00", "01/02/2003", "02/01/2003"},
        {"2003/2/1 8:05", "2003/02/01 08:05:00", "01/02/2003 08:05", "02/01/2003 08:05"},
        {"2003/2/1 8:05:07", "2003/02/01 08:05:07", "01/02/2003 08:05:07", "02/01/2003 08:05:07"},
        {"AD 45/2/1", "AD 45/02/01 00:00:00", "AD 45/02/01 00:00:00", "AD 45/02/01 00:00:00"},
        {"BC 44/3/15", "BC 44/03/15 00:00:00", "BC 44/03/15 00:00:00", "BC 44/03/15 00:00:00"},
        {"1500/xx/xx", "1500/00/00 00:00:00", "1500/00/00 00:00:00", "1500/00/00 00:00:00"},
        {"12:30", "12:30", "12:30", "12:30"},
        {"0:00:05", "00:00:05", "00:00:05", "00:00:05"},
    };
    ZTStr out;
    for (const Case& c : cases) {
        for (bool dayFirst : {true, false}) {
            DateOrderPin pin(dayFirst);
            ZTDateTime d;
            ASSERT_TRUE(d.parse("2003/2/1"));
            ASSERT_TRUE(d.parse(c.text)) << c.text;
            EXPECT_STREQ(d.format(&out, false), c.canonical) << c.text;
            EXPECT_STREQ(d.format(&out, true), dayFirst ? c.localDayFirst : c.localMonthFirst)
                << c.text;
        }
    }
}

TEST(ZTDateTimeTest, DayNumbersAreContinuousAcrossTheRange) {
    ZTDateTime d;
    ASSERT_TRUE(d.parse("2000/1/1"));
    EXPECT_EQ(d.toDayNumber(), 2451545);
    ASSERT_TRUE(d.parse("1970/1/1"));
    EXPECT_EQ(d.toDayNumber(), 2440588);

    // From 10000 BC to AD 10000, each day number gives a date whose successor is the next
    // calendar day, and back.
    const int32_t first = 1721119 - 10000 * 366, last = 1721119 + 10000 * 366;
    ZTDateTime prev;
    ASSERT_TRUE(prev.fromDayNumber(first - 1));
    for (int32_t n = first; n <= last; ++n) {
        ZTDateTime cur;
        ASSERT_TRUE(cur.fromDayNumber(n));
        ASSERT_EQ(cur.toDayNumber(), n);
        bool leap = cur.year % 4 == 0 && (cur.year % 100 != 0 || cur.year % 400 == 0);
        int32_t monthDays[] = {0, 31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        bool nextDay = cur.year == prev.year && cur.month == prev.month && cur.day == prev.day + 1;
        bool nextMonth = cur.year == prev.year && cur.month == prev.month + 1 && cur.day == 1 &&
                         prev.day == monthDays[prev.month];
        bool nextYear = cur.year == prev.year + 1 && cur.month == 1 && cur.day == 1 &&
                        prev.month == 12 && prev.day == 31;
        ASSERT_TRUE(nextDay || nextMonth || nextYear)
            << n << ": " << prev.year << "/" << prev.month << "/" << prev.day << " -> " << cur.year
            << "/" << cur.month << "/" << cur.day;
        prev = cur;
    }
}

TEST(ZTDateTimeTest, BeforeTheEraAndYearZero) {
    // Year 0 (1 BC) is a leap year in this count; its Jan/Feb precede March 1 of year 0.
    ZTDateTime d;
    d.year = 0, d.month = 2, d.day = 29;
    int32_t leapDay = d.toDayNumber();
    d.month = 3, d.day = 1;
    EXPECT_EQ(d.toDayNumber(), leapDay + 1);
    d.year = 0, d.month = 1, d.day = 1;
    int32_t yearStart = d.toDayNumber();
    d.year = -1, d.month = 12, d.day = 31;
    EXPECT_EQ(d.toDayNumber(), yearStart - 1);
    ASSERT_TRUE(d.parse("BC 1/1/1"));
    EXPECT_EQ(d.toDayNumber(), 1721060 - 365);
}

// Formats every day of the years 1 to 9999 (with a varying time) and parses it back.
void roundTripEveryDay(bool dayFirst, bool localForm) {
    DateOrderPin pin(dayFirst);
    ZTDateTime first, last, date;
    first.year = 1, first.month = 1, first.day = 1;
    last.year = 9999, last.month = 12, last.day = 31;
    ZTStr text;
    for (int32_t n = first.toDayNumber(); n <= last.toDayNumber(); ++n) {
        ASSERT_TRUE(date.fromDayNumber(n));
        date.hour = n % 24, date.minute = n % 60, date.second = (n / 7) % 60;
        date.format(&text, localForm);
        ZTDateTime back;
        bool same = back.parse(text.text) && back.toDayNumber() == n && back.hour == date.hour &&
                    back.minute == date.minute && back.second == date.second;
        ASSERT_TRUE(same) << text.text;  // a plain test first: millions of days
    }
}

// The canonical form does not depend on the order.
TEST(ZTDateTimeTest, CanonicalFormRoundTripsEveryDayOfYears1To9999) {
    roundTripEveryDay(true, false);
}
TEST(ZTDateTimeTest, LocalFormRoundTripsEveryDayOfYears1To9999DayFirst) {
    roundTripEveryDay(true, true);
}
TEST(ZTDateTimeTest, LocalFormRoundTripsEveryDayOfYears1To9999MonthFirst) {
    roundTripEveryDay(false, true);
}

TEST(ZTDateTimeTest, SetNowGivesAValidDate) {
    ZTDateTime d;
    d.setNow(false);
    EXPECT_TRUE(d.valid);
    EXPECT_GE(d.year, 2024);
    ZTStr text;
    ZTDateTime back;
    EXPECT_TRUE(back.parse(d.format(&text, false)));
}

}  // namespace
