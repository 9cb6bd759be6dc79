#pragma once
// Dates, times of day and datetime values of the table library.
//
// A date field holds 8 characters CCYYMMDD (the blank date is 8 blanks). Day
// numbers are Julian Day Numbers on the Gregorian calendar (2000-01-01 is
// 2451545); 0 stands for the blank date and -1 for an invalid one. Years 0 to
// 9999 are representable. Date texts of 8 characters are never terminated (they
// are written into record buffers); picture texts are NUL-terminated.
//
// A picture lays a date out as text: C, Y, M and D (any case) take the
// century, year, month and day digits in turn; a run of three or more M takes
// the English month name; every other character stands as it is. Reading text
// back matches positions, not separators. A picture without C drops the
// century, and reading such a text gives the current century: only pictures
// that carry the century (such as "DD/MM/CCYY") round-trip every date.
//
// A datetime field holds a day number and the milliseconds since midnight,
// each a little-endian 32-bit signed integer.
#include <cstdint>

struct env4;

// The environment's date picture (null for a null environment).
const char* date4getFormat(const env4* env);
// Stores a picture of fewer than 20 characters: 0; too long -930, null -935.
[[nodiscard]] int32_t date4setFormat(env4* env, const char* picture);

// Day number of the 8 characters at `date`: 0 for 8 blanks, -1 when a byte is
// neither a digit nor a blank or the date does not exist.
[[nodiscard]] int32_t date4julian(const char* date);
// Writes the 8 characters CCYYMMDD of `day`; 8 blanks for a day of 0 or less.
// A day outside the years 0 to 9999 writes 8 blanks and gives -950.
[[nodiscard]] int32_t date4fromJulian(char* date, int32_t day);

// Lays the 8 characters at `date` out by `picture` into `result`, which takes
// the picture's length plus a terminating NUL. 0, or -935 for a null argument.
[[nodiscard]] int32_t date4applyPicture(const char* date, char* result, const char* picture);
// Reads the NUL-terminated `text`, laid out by `picture`, into the 8
// characters CCYYMMDD at `result` (8 blanks for a blank text). Parts the
// picture lacks are taken as the current century, year 01, month 01, day 01; a
// month name that matches none gives month 00 (an invalid date). 0, or -935.
[[nodiscard]] int32_t date4parse(char* result, const char* text, const char* picture);

// Today's local date as the 8 characters CCYYMMDD. 0, -935 or -950.
[[nodiscard]] int32_t date4today(char* date);
// The local time of day as the 8 characters HH:MM:SS. 0, -935 or -950.
[[nodiscard]] int32_t time4now(char* time);

// A datetime value as a field stores it.
struct datetime4 {
    unsigned char bytes[8];
};
void datetime4put(datetime4* value, int32_t day, int32_t milliseconds);
[[nodiscard]] int32_t datetime4day(const datetime4* value);
[[nodiscard]] int32_t datetime4milliseconds(const datetime4* value);
// -1, 0 or 1: by day number, then by milliseconds (both signed).
[[nodiscard]] int32_t datetime4compare(const datetime4* a, const datetime4* b);
