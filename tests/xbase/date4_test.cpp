#include "xbase/date4.h"

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "error_capture.h"
#include "xbase/env4.h"
#include "xbase/error4.h"

namespace {

std::string fromJulian(int32_t day, int32_t* rc = nullptr) {
    std::string out(8, '?');
    int32_t r = date4fromJulian(out.data(), day);
    if (rc != nullptr) *rc = r;
    return out;
}

std::string applyPicture(const std::string& date, const char* picture) {
    std::string out(std::string(picture).size() + 1, '?');
    EXPECT_EQ(date4applyPicture(date.c_str(), out.data(), picture), 0);
    EXPECT_EQ(out.back(), '\0');
    out.pop_back();
    return out;
}

std::string parse(const char* text, const char* picture) {
    std::string out(8, '?');
    EXPECT_EQ(date4parse(out.data(), text, picture), 0);
    return out;
}

std::string currentCentury() {
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    return std::to_string((local.tm_year + 1900) / 100);
}

std::string dateText(int year, int month, int day) {
    char text[36];  // room for any int, so that nothing is cut
    snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
    return text;
}

int monthLength(int year, int month) {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Every calendar day from 0000-01-01 to 9999-12-31 gets the next day number,
// both ways; the numbers are Julian Day Numbers.
TEST(DayNumbers, EveryDayOfEveryYearRoundTrips) {
    int32_t expected = 1721060;  // 0000-01-01
    for (int year = 0; year <= 9999; ++year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= 31; ++day) {
                std::string text = dateText(year, month, day);
                if (day > monthLength(year, month)) {
                    ASSERT_EQ(date4julian(text.c_str()), -1) << text;
                    continue;
                }
                ASSERT_EQ(date4julian(text.c_str()), expected) << text;
                ASSERT_EQ(fromJulian(expected), text) << expected;
                ++expected;
            }
        }
    }
    EXPECT_EQ(expected - 1, 5373484);  // 9999-12-31
    EXPECT_EQ(date4julian("20000101"), 2451545);
    EXPECT_EQ(date4julian("00010101"), 1721426);
}

TEST(DayNumbers, EdgeCases) {
    struct Case {
        const char* date;
        int32_t day;
    } cases[] = {
        {"20000229", 1721425 + 730119 + 60},
        {"19000229", -1},  // 1900 is not a leap year
        {"        ", 0},
        {"00001231", 1721425},  // year 0 is a leap year of its own, below year 1
        {"00010101", 1721426},
        {"1999 3 5", 2451243},                // blanks read as in any number
        {"    0305", 1721060 + 31 + 29 + 4},  // a blank year is year 0
        {"1999-3-5", -1},
        {"19991301", -1},
        {"19990001", -1},
        {"19990100", -1},
        {"19990431", -1},
        {"1999030x", -1},
        {"0000    ", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(date4julian(c.date), c.day) << c.date;
}

TEST(DayNumbers, OutOfRangeDaysWriteBlanks) {
    ErrorCapture errors;
    struct Case {
        int32_t day, rc;
    } cases[] = {
        {0, 0},
        {-1, 0},
        {INT32_MIN, 0},
        {1, e4result},
        {1721059, e4result},
        {5373485, e4result},
        {INT32_MAX, e4result},
    };
    for (const Case& c : cases) {
        int32_t rc = 99;
        EXPECT_EQ(fromJulian(c.day, &rc), "        ") << c.day;
        EXPECT_EQ(rc, c.rc) << c.day;
    }
    EXPECT_EQ(date4fromJulian(nullptr, 2451545), e4parmNull);
}

TEST(DatePicture, LaysOutDates) {
    struct Case {
        const char* date;
        const char* picture;
        const char* text;
    } cases[] = {
        {"19990305", "DD MMMM YY", "05 Marc 99"},
        {"19990305", "MM/DD/YY", "03/05/99"},
        {"19990305", "dd/mm/ccyy", "05/03/1999"},
        {"19990305", "CCYY-MM-DD", "1999-03-05"},
        {"19990305", "CCYYMMDD", "19990305"},
        {"19991205", "DD MMM CCYY", "05 Dec 1999"},
        {"19990905", "MMMMMMMMM DD", "September 05"},
        {"19990905", "MMMMMMMMMMMM", "September   "},
        {"19990505", "MMMMMMM!", "May    !"},
        {"19991505", "MMM", "Dec"},  // month clamped to 1..12
        {"19990005", "MMM", "Jan"},
        {"        ", "MM/DD/YY", "  /  /  "},
        {"        ", "DD MMMM CCYY", "            "},
        {"19990305", "DDD X", "05D X"},  // the template has two D: a third stays
        {"19990305", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(applyPicture(c.date, c.picture), c.text) << c.date << " " << c.picture;
}

TEST(DatePicture, ReadsTextByPosition) {
    const std::string cc = currentCentury();
    struct Case {
        const char* text;
        const char* picture;
        std::string date;
    } cases[] = {
        {"03/05/99", "MM/DD/YY", cc + "990305"},  // no C: the current century
        {"05/03/1999", "DD/MM/CCYY", "19990305"},
        {"05/03/1999", "dd/mm/ccyy", "19990305"},
        {"  /  /  ", "MM/DD/YY", "        "},  // the blank date stays blank
        {"", "DD/MM/CCYY", "        "},
        {" 3/ 5/99", "MM/DD/YY", cc + "990305"},
        {"3/5/99", "MM/DD/YY", cc + "003//9"},  // positions, not separators
        {"05 Mar 1999", "DD MMM CCYY", "19990305"},
        {"05 mar 1999", "DD MMM CCYY", "19990305"},
        {"05 MAY 1999", "DD MMM CCYY", "19990505"},
        {"05 Ju  1999", "DD MMM CCYY", "19990605"},  // first name that starts so
        {"05 Xyz 1999", "DD MMM CCYY", "19990005"},  // no such month: month 00
        {"05     1999", "DD MMM CCYY", "19990005"},  // a blank name is no month
        {"September 05, 1999", "MMMMMMMMM DD, CCYY", "19990905"},
        {"1999", "CCYY", "19990101"},
        {"03", "MM", cc + "010301"},
        {"03/05", "MM/DD/CCYY", "00000305"},  // a short text leaves zeros
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.text, c.picture), c.date) << c.text << " " << c.picture;
    EXPECT_EQ(date4julian(parse("3/5/99", "MM/DD/YY").c_str()), -1);
    EXPECT_EQ(date4julian(parse("05 Xyz 1999", "DD MMM CCYY").c_str()), -1);
}

// A stored date laid out by a picture that carries the century and read back
// by the same picture is the same date, for every day; the blank date too.
TEST(DatePicture, CenturyPicturesRoundTripEveryDate) {
    const char* pictures[] = {"DD/MM/CCYY", "CCYYMMDD", "dd mmm ccyy", "MMMMMMMMM DD, CCYY",
                              "MMMM DD CCYY"};
    for (const char* picture : pictures) {
        // Every day for the first picture, a spread of days for the others.
        int32_t step = picture == pictures[0] ? 1 : 37;
        for (int32_t day = 1721060; day <= 5373484; day += step) {
            std::string date = fromJulian(day);
            std::string text = applyPicture(date, picture);
            ASSERT_EQ(parse(text.c_str(), picture), date) << picture << " " << text;
        }
        std::string blank(8, ' ');
        EXPECT_EQ(parse(applyPicture(blank, picture).c_str(), picture), blank) << picture;
    }
}

// Two-digit years keep their current-century rule: dates of this century come
// back unchanged, others come back in this century.
TEST(DatePicture, TwoDigitYearsTakeTheCurrentCentury) {
    const std::string cc = currentCentury();
    for (const char* yy : {"00", "01", "50", "99"}) {
        std::string date = cc + yy + "1231";
        EXPECT_EQ(parse(applyPicture(date, "MM/DD/YY").c_str(), "MM/DD/YY"), date);
    }
    EXPECT_EQ(parse(applyPicture("18991231", "MM/DD/YY").c_str(), "MM/DD/YY"), cc + "991231");
}

TEST(DatePicture, NullArguments) {
    ErrorCapture errors;
    char out[16];
    EXPECT_EQ(date4applyPicture(nullptr, out, "MM"), e4parmNull);
    EXPECT_EQ(date4applyPicture("19990305", nullptr, "MM"), e4parmNull);
    EXPECT_EQ(date4applyPicture("19990305", out, nullptr), e4parmNull);
    EXPECT_EQ(date4parse(nullptr, "03", "MM"), e4parmNull);
    EXPECT_EQ(date4parse(out, nullptr, "MM"), e4parmNull);
    EXPECT_EQ(date4parse(out, "03", nullptr), e4parmNull);
}

TEST(DateFormat, SetAndGet) {
    ErrorCapture errors;
    env4 env;
    ASSERT_EQ(env4init(&env, env4version), 0);
    EXPECT_STREQ(date4getFormat(&env), "MM/DD/YY");
    EXPECT_EQ(date4setFormat(&env, "DD.MM.CCYY"), 0);
    EXPECT_STREQ(date4getFormat(&env), "DD.MM.CCYY");
    const char* longest = "CCYY-MM-DD  MMMMMMM";  // 19 characters
    EXPECT_EQ(date4setFormat(&env, longest), 0);
    EXPECT_STREQ(date4getFormat(&env), longest);

    EXPECT_EQ(date4setFormat(&env, "CCYY-MM-DD  MMMMMMMM"), e4parm);
    EXPECT_STREQ(date4getFormat(&env), longest);
    EXPECT_EQ(date4setFormat(&env, "DD/MM/YY"), e4codeBase);  // pending error
    EXPECT_EQ(error4setCode(&env, 0), e4parm);
    EXPECT_EQ(date4setFormat(&env, nullptr), e4parmNull);
    EXPECT_EQ(error4setCode(&env, 0), e4parmNull);
    EXPECT_STREQ(date4getFormat(&env), longest);
    EXPECT_EQ(date4setFormat(nullptr, "MM"), e4parmNull);
    EXPECT_EQ(date4getFormat(nullptr), nullptr);
    (void)env4release(&env);
}

TEST(Clock, TodayAndNowAreLocal) {
    auto localDate = [] {
        time_t now = time(nullptr);
        struct tm local {};
        localtime_r(&now, &local);
        return dateText(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    };
    std::string before = localDate();
    char today[8];
    ASSERT_EQ(date4today(today), 0);
    std::string after = localDate();
    std::string got(today, 8);
    EXPECT_TRUE(got == before || got == after) << got;
    EXPECT_GT(date4julian(today), 0);

    char now[8];
    ASSERT_EQ(time4now(now), 0);
    std::string text(now, 8);
    ASSERT_EQ(text[2], ':');
    ASSERT_EQ(text[5], ':');
    for (int i : {0, 1, 3, 4, 6, 7}) ASSERT_TRUE(text[i] >= '0' && text[i] <= '9') << text;
    EXPECT_LT(std::stoi(text.substr(0, 2)), 24);
    EXPECT_LT(std::stoi(text.substr(3, 2)), 60);
    EXPECT_LT(std::stoi(text.substr(6, 2)), 61);  // a leap second
}

TEST(DateTime, StoredLayoutAndOrder) {
    datetime4 value;
    datetime4put(&value, 2451545, 43200000);  // 2000-01-01 at noon
    const unsigned char stored[8] = {0x59, 0x68, 0x25, 0x00, 0x00, 0x2E, 0x93, 0x02};
    EXPECT_EQ(std::vector<unsigned char>(value.bytes, value.bytes + 8),
              std::vector<unsigned char>(stored, stored + 8));

    // Round trips through the stored form, in the order the values should sort.
    const std::pair<int32_t, int32_t> ordered[] = {
        {INT32_MIN, 0},
        {-1, 86399999},
        {0, -1},
        {0, 0},
        {0, 1},
        {2451545, 0},
        {2451545, 43200000},
        {2451546, 0},
        {5373484, 86399999},
        {INT32_MAX, INT32_MAX},
    };
    std::vector<datetime4> values;
    for (auto [day, ms] : ordered) {
        datetime4 v;
        datetime4put(&v, day, ms);
        EXPECT_EQ(datetime4day(&v), day);
        EXPECT_EQ(datetime4milliseconds(&v), ms);
        values.push_back(v);
    }
    for (size_t i = 0; i < values.size(); ++i)
        for (size_t j = 0; j < values.size(); ++j)
            EXPECT_EQ(datetime4compare(&values[i], &values[j]), i < j ? -1 : (i > j ? 1 : 0))
                << i << " " << j;
}

}  // namespace
