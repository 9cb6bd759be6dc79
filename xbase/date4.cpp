#include "xbase/date4.h"

#include <time.h>

#include <cstring>
#include <string>

#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/util4.h"

namespace {

// Day number of 0001-01-01 minus one: day numbers are Julian Day Numbers.
constexpr int32_t dayBase = 1721425;
// First and last day numbers that four year digits can hold (0000-01-01,
// 9999-12-31).
constexpr int32_t firstDay = 1721060;
constexpr int32_t lastDay = 5373484;

constexpr int32_t daysBeforeMonth[14] = {0,   0,   31,  59,  90,  120, 151,
                                         181, 212, 243, 273, 304, 334, 365};

const char* const monthNames[13] = {"",        "January",  "February", "March",  "April",
                                    "May",     "June",     "July",     "August", "September",
                                    "October", "November", "December"};

bool isLeap(int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Floor division, so that year 0 (a leap year) gets its own 366 days below
// year 1 instead of overlapping it.
int32_t floorDiv(int32_t a, int32_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

int32_t daysBeforeYear(int32_t year) {
    int32_t y = year - 1;
    return y * 365 + floorDiv(y, 4) - floorDiv(y, 100) + floorDiv(y, 400);
}

int32_t yearLength(int32_t year) {
    return isLeap(year) ? 366 : 365;
}

// Days before `month` in `year`.
int32_t monthStart(int32_t year, int32_t month) {
    return daysBeforeMonth[month] + ((month > 2 && isLeap(year)) ? 1 : 0);
}

void putDigits(char* out, int32_t value, int32_t width) {
    for (int32_t i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool localNow(struct tm* out) {
    time_t now = time(nullptr);
    return now != static_cast<time_t>(-1) && localtime_r(&now, out) != nullptr;
}

// Start and length of the first run of three or more M (any case) in
// `picture`; length 0 when there is none.
void findNameRun(const char* picture, size_t* start, size_t* length) {
    *start = 0;
    *length = 0;
    for (size_t i = 0; picture[i] != '\0';) {
        size_t run = 0;
        while (upperAscii(picture[i + run]) == 'M') ++run;
        if (run >= 3) {
            *start = i;
            *length = run;
            return;
        }
        i += run > 0 ? run : 1;
    }
}

}  // namespace

const char* date4getFormat(const env4* env) {
    return env == nullptr ? nullptr : env->dateFormat;
}

int32_t date4setFormat(env4* env, const char* picture) {
    if (env == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(96301));
    if (error4pending(env)) return e4codeBase;
    if (picture == nullptr) return error4raise(env, e4parmNull, E4LOC(96302));
    if (std::strlen(picture) >= sizeof env->dateFormat)
        return error4raise(env, e4parm, E4LOC(96303));
    u4ncpy(env->dateFormat, picture, sizeof env->dateFormat);
    return 0;
}

int32_t date4julian(const char* date) {
    if (date == nullptr) return -1;
    bool blank = true;
    for (int i = 0; i < 8; ++i) {
        if (date[i] != ' ' && (date[i] < '0' || date[i] > '9')) return -1;
        if (date[i] != ' ') blank = false;
    }
    if (blank) return 0;
    int32_t year = c4atoiN(date, 4);
    int32_t month = c4atoiN(date + 4, 2);
    int32_t day = c4atoiN(date + 6, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1) return -1;
    if (day > monthStart(year, month + 1) - monthStart(year, month)) return -1;
    return daysBeforeYear(year) + monthStart(year, month) + day + dayBase;
}

int32_t date4fromJulian(char* date, int32_t day) {
    if (date == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(96310));
    if (day <= 0) {
        std::memset(date, ' ', 8);
        return 0;
    }
    if (day < firstDay || day > lastDay) {
        std::memset(date, ' ', 8);
        return error4raise(nullptr, e4result, E4LOC(96311));
    }
    int32_t d = day - dayBase;
    // A first guess from the mean Gregorian year, then corrected by whole years.
    int32_t year = static_cast<int32_t>(int64_t{d} * 10000 / 3652425) + 1;
    int32_t r = d - daysBeforeYear(year);
    while (r < 1) {
        --year;
        r = d - daysBeforeYear(year);
    }
    while (r > yearLength(year)) {
        r -= yearLength(year);
        ++year;
    }
    int32_t month = 1;
    while (month < 12 && monthStart(year, month + 1) < r) ++month;
    putDigits(date, year, 4);
    putDigits(date + 4, month, 2);
    putDigits(date + 6, r - monthStart(year, month), 2);
    return 0;
}

int32_t date4applyPicture(const char* date, char* result, const char* picture) {
    if (date == nullptr || result == nullptr || picture == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(96320));
    // The caller's picture may be a constant: upper-case a copy.
    std::string upper(picture);
    for (char& c : upper) c = upperAscii(c);
    char source[9];
    std::memcpy(source, date, 8);
    source[8] = '\0';
    c4pictureMerge(result, upper.c_str(), source, "CCYYMMDD");

    size_t runStart, runLength;
    findNameRun(upper.c_str(), &runStart, &runLength);
    if (runLength > 0) {
        char* run = result + runStart;
        if (date[4] == ' ' && date[5] == ' ') {
            std::memset(run, ' ', runLength);
        } else {
            int32_t month = c4atoiN(date + 4, 2);
            if (month < 1) month = 1;
            if (month > 12) month = 12;
            const char* name = monthNames[month];
            size_t nameLength = std::strlen(name);
            for (size_t i = 0; i < runLength; ++i) run[i] = i < nameLength ? name[i] : ' ';
        }
    }
    // Month names are plain ASCII, the same in every character set: nothing to convert.
    return 0;
}

int32_t date4parse(char* result, const char* text, const char* picture) {
    if (result == nullptr || text == nullptr || picture == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(96330));
    std::memset(result, ' ', 8);
    const size_t textLength = std::strlen(text);
    // Per part (century, year, month, day): whether the picture has it and how
    // many of its two result characters the text has filled.
    static const char parts[] = "CYMD";
    bool inPicture[4] = {false, false, false, false};
    int32_t filled[4] = {0, 0, 0, 0};
    for (size_t i = 0; picture[i] != '\0'; ++i) {
        const char* slot = std::strchr(parts, upperAscii(picture[i]));
        if (slot == nullptr) continue;
        auto part = static_cast<int32_t>(slot - parts);
        inPicture[part] = true;
        if (i < textLength && filled[part] < 2) result[part * 2 + filled[part]++] = text[i];
    }
    if (std::memcmp(result, "        ", 8) == 0) return 0;

    if (!inPicture[0]) {
        struct tm now {};
        if (!localNow(&now)) return error4raise(nullptr, e4result, E4LOC(96331));
        putDigits(result, (now.tm_year + 1900) / 100, 2);
    }
    if (!inPicture[1]) std::memcpy(result + 2, "01", 2);
    if (!inPicture[2]) std::memcpy(result + 4, "01", 2);
    if (!inPicture[3]) std::memcpy(result + 6, "01", 2);

    size_t runStart, runLength;
    findNameRun(picture, &runStart, &runLength);
    if (runLength > 0) {
        char name[4] = {};
        size_t n = 0;
        for (; n < 3 && runStart + n < textLength; ++n) name[n] = text[runStart + n];
        while (n > 0 && name[n - 1] == ' ') --n;
        for (size_t k = 0; k < n; ++k) {
            if (k == 0)
                name[k] = upperAscii(name[k]);
            else if (name[k] >= 'A' && name[k] <= 'Z')
                name[k] = static_cast<char>(name[k] - 'A' + 'a');
        }
        std::memcpy(result + 4, "  ", 2);
        // An empty name matches nothing: a blank month must not read as January.
        for (int32_t m = 1; n > 0 && m <= 12; ++m) {
            if (std::strncmp(monthNames[m], name, n) == 0) {
                putDigits(result + 4, m, 2);
                break;
            }
        }
    }
    for (int k = 0; k < 8; ++k)
        if (result[k] == ' ') result[k] = '0';
    return 0;
}

int32_t date4today(char* date) {
    if (date == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(96340));
    struct tm now {};
    if (!localNow(&now)) return error4raise(nullptr, e4result, E4LOC(96341));
    putDigits(date, now.tm_year + 1900, 4);
    putDigits(date + 4, now.tm_mon + 1, 2);
    putDigits(date + 6, now.tm_mday, 2);
    return 0;
}

int32_t time4now(char* time) {
    if (time == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(96350));
    struct tm now {};
    if (!localNow(&now)) return error4raise(nullptr, e4result, E4LOC(96351));
    putDigits(time, now.tm_hour, 2);
    time[2] = ':';
    putDigits(time + 3, now.tm_min, 2);
    time[5] = ':';
    putDigits(time + 6, now.tm_sec, 2);
    return 0;
}

namespace {

int32_t get32le(const unsigned char* p) {
    uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    return static_cast<int32_t>(v);
}

void put32le(unsigned char* p, int32_t value) {
    auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

void datetime4put(datetime4* value, int32_t day, int32_t milliseconds) {
    put32le(value->bytes, day);
    put32le(value->bytes + 4, milliseconds);
}

int32_t datetime4day(const datetime4* value) {
    return get32le(value->bytes);
}

int32_t datetime4milliseconds(const datetime4* value) {
    return get32le(value->bytes + 4);
}

int32_t datetime4compare(const datetime4* a, const datetime4* b) {
    int32_t da = datetime4day(a), db = datetime4day(b);
    if (da != db) return da < db ? -1 : 1;
    int32_t ma = datetime4milliseconds(a), mb = datetime4milliseconds(b);
    if (ma != mb) return ma < mb ? -1 : 1;
    return 0;
}
