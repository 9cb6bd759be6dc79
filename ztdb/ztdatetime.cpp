#include "ztdb/ztdatetime.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>

#include "platform/date_order.h"

namespace {

// February allows 29 in every year.
const int32_t kDaysPerMonth[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Dates from this year on use the Gregorian calendar with full dates.
constexpr int32_t kFirstFullYear = 1752;
constexpr int32_t kMaxYear = 999999;  // six digits, as the parser reads them

constexpr int32_t kEpochShift = 1721119;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isNumberStart(char c) {
    return isDigit(c) || c == 'x' || c == 'X';
}
bool isDateGap(char c) {
    return c == ' ' || c == '.' || c == ',' || c == ';';
}

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Appends v (not negative) with at least width digits.
char* appendNumber(char* out, int32_t v, int width) {
    char digits[12];
    auto r = std::to_chars(digits, digits + sizeof digits, v);
    for (int n = int(r.ptr - digits); n < width; ++n) *out++ = '0';
    for (const char* p = digits; p < r.ptr; ++p) *out++ = *p;
    return out;
}

}  // namespace

ZTDateTime::ZTDateTime() : dayFirst(qv::dateDayFirst()) {}

bool ZTDateTime::parseNumber(int32_t* field, bool allowZero, bool* hadX) {
    int32_t value = 0;
    bool x = false;
    int read = 0;
    for (; read < 6 && isNumberStart(*cursor); ++read, ++cursor) {
        if (isDigit(*cursor))
            value = value * 10 + (*cursor - '0');
        else
            x = true;
    }
    if (read == 0) return false;
    if (x) {
        value = 0;
        if (hadX) *hadX = true;
    }
    *field = value;
    return allowZero || value != 0;
}

bool ZTDateTime::parse(const char* text) {
    valid = false;
    state = 0;
    cursor = text;
    if (!text || !*text || !std::strchr("0123456789aAbB", *text)) return false;
    year = month = day = hour = minute = second = 0;
    bc = false;

    bool era = false, hadX = false;
    int32_t slot[3] = {0, 0, 0};
    for (;;) {
        char c = *cursor;
        switch (state) {
            case 0:
                if (c == 'a' || c == 'A' || c == 'b' || c == 'B') {
                    char eraLetter = (c == 'a' || c == 'A') ? 'd' : 'c';
                    if ((cursor[1] | 0x20) != eraLetter || cursor[2] != ' ') return false;
                    bc = eraLetter == 'c';
                    era = true;
                    cursor += 3;
                } else if (!isNumberStart(c)) {
                    return false;
                }
                state = 3;
                break;
            case 3:
                if (!parseNumber(&slot[0], true, &hadX)) return false;
                if (*cursor == ':') {
                    hour = slot[0];
                    slot[0] = 0;
                    ++cursor;
                    state = 11;
                } else if (*cursor == '/') {
                    ++cursor;
                    state = 7;
                } else {
                    return false;
                }
                break;
            case 7:
                if (!parseNumber(&slot[1], true, &hadX) || *cursor != '/') return false;
                ++cursor;
                state = 8;
                break;
            case 8:
                if (!parseNumber(&slot[2], true, &hadX)) return false;
                if (*cursor == 0)
                    state = 14;
                else if (isDateGap(*cursor))
                    state = 9;
                else
                    return false;
                break;
            case 9:
                while (isDateGap(*cursor)) ++cursor;
                if (*cursor == 0)
                    state = 14;
                else if (isNumberStart(*cursor))
                    state = 10;
                else
                    return false;
                break;
            case 10:
                if (!parseNumber(&hour, true, &hadX) || *cursor != ':') return false;
                ++cursor;
                state = 11;
                break;
            case 11:
                if (!parseNumber(&minute, true, &hadX)) return false;
                if (*cursor == 0 || *cursor == ' ') {
                    state = 14;
                } else if (*cursor == ':') {
                    ++cursor;
                    state = 12;
                } else {
                    return false;
                }
                break;
            case 12:
                if (!parseNumber(&second, true, &hadX)) return false;
                state = 14;
                break;
            case 14:
                while (*cursor == ' ') ++cursor;
                if (*cursor) return false;
                state = 15;
                break;
        }
        if (state == 15) break;
    }

    if (hour >= 24 || minute >= 60 || second >= 60) return false;

    // Year first unless the last number can only be a year, or the first cannot be a day or
    // month: then day and month come in the user's order.
    bool yearFirst =
        slot[2] < kFirstFullYear && (era || slot[2] > 99 || slot[0] < 1 || slot[0] > 31);
    if (yearFirst) {
        year = slot[0];
        month = slot[1];
        day = slot[2];
    } else {
        year = slot[2];
        day = dayFirst ? slot[0] : slot[1];
        month = dayFirst ? slot[1] : slot[0];
    }
    if (!era && (day || month) && year >= 0 && year <= 99) year += year < 31 ? 2000 : 1900;
    if (bc) year = -year;

    bool early = year < kFirstFullYear;
    if (month < (early ? 0 : 1) || month > 12) return false;
    if (day < (early ? 0 : 1) || day > kDaysPerMonth[month]) return false;
    valid = true;
    return true;
}

const char* ZTDateTime::format(ZTStr* out, bool localForm) const {
    char text[64];  // "BC " and three 10-digit numbers at most, then the time
    char* p = text;
    bool hasDate = year || month || day;
    if (hasDate && (!localForm || year < kFirstFullYear)) {
        const char* era = year < 0 ? "BC " : year <= 99 ? "AD " : "";
        while (*era) *p++ = *era++;
        p = appendNumber(p, year < 0 ? -year : year, 1);
        *p++ = '/';
        p = appendNumber(p, month, 2);
        *p++ = '/';
        p = appendNumber(p, day, 2);
        *p++ = ' ';
        p = appendNumber(p, hour, 2);
        *p++ = ':';
        p = appendNumber(p, minute, 2);
        *p++ = ':';
        p = appendNumber(p, second, 2);
    } else {
        if (hasDate) {
            p = appendNumber(p, dayFirst ? day : month, 2);
            *p++ = '/';
            p = appendNumber(p, dayFirst ? month : day, 2);
            *p++ = '/';
            p = appendNumber(p, year, 1);
        }
        if (hour || minute || second) {
            if (hasDate) *p++ = ' ';
            p = appendNumber(p, hour, 2);
            *p++ = ':';
            p = appendNumber(p, minute, 2);
            if (second) {
                *p++ = ':';
                p = appendNumber(p, second, 2);
            }
        }
    }
    *p = 0;
    out->assign(text);
    return out->text;
}

void ZTDateTime::setNow(bool local) {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (local)
        localtime_r(&now, &parts);
    else
        gmtime_r(&now, &parts);
    year = parts.tm_year + 1900;
    month = parts.tm_mon + 1;
    day = parts.tm_mday;
    hour = parts.tm_hour;
    minute = parts.tm_min;
    second = std::min(parts.tm_sec, 59);  // a leap second reads as :59
    valid = true;
    bc = false;
}

// Days counted from March, so that the leap day ends a year; floor division keeps the count
// continuous through year 0 and the years before it.
int32_t ZTDateTime::toDayNumber() const {
    int64_t m = month, y = year;
    if (m > 2) {
        m -= 3;
    } else {
        m += 9;
        y -= 1;
    }
    int64_t c = floorDiv(y, 100);
    int64_t a = y - 100 * c;
    return int32_t(floorDiv(146097 * c, 4) + floorDiv(1461 * a, 4) + floorDiv(153 * m + 2, 5) +
                   day + kEpochShift);
}

bool ZTDateTime::fromDayNumber(int32_t n) {
    int64_t j = int64_t(n) - kEpochShift;
    int64_t centuries = floorDiv(4 * j - 1, 146097);
    int64_t d = (4 * j - 1 - 146097 * centuries) / 4;
    int64_t yearsInCentury = (4 * d + 3) / 1461;
    d = (4 * d + 3 - 1461 * yearsInCentury + 4) / 4;
    int64_t m = (5 * d - 3) / 153;
    d = (5 * d - 3 - 153 * m + 5) / 5;
    int64_t y = 100 * centuries + yearsInCentury;
    if (m < 10) {
        m += 3;
    } else {
        m -= 9;
        y += 1;
    }
    if (y < -kMaxYear || y > kMaxYear) {
        valid = false;
        return false;
    }
    year = int32_t(y);
    month = int32_t(m);
    day = int32_t(d);
    hour = minute = second = 0;
    bc = year < 0;
    valid = true;
    return true;
}
