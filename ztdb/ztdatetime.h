#pragma once

#include <cstdint>

#include "ztdb/ztstr.h"

// ZTDateTime: a date and time of day as the user types it and as the engine stores it.
// The parser accepts "y/m/d" or "d/m/y" (in the user's day/month order) with an optional
// time "h:m[:s]", a time alone, an "AD " or "BC " era, and 'x' for a part not given; a plain
// number is never a date. Years before 1752 may leave month and day out (0). Index keys decide
// whether a value is a date with this parser, so what it accepts is part of the stored format.
// The canonical (stored) form is "[BC |AD ]y/mm/dd hh:mm:ss"; the local form shows day and month
// in the user's order. Day numbers count days continuously across the whole range, BC included
// (2000-01-01 is 2451545).
class ZTDateTime {
  public:
    int32_t year = 0;  // negative before the era
    int32_t month = 0;
    int32_t day = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    bool valid = false;  // result of the last parse
    const char* cursor = nullptr;
    int32_t state = 0;
    bool dayFirst;  // the user's order when this value was made
    bool bc = false;

    // Takes the user's day/month order from the program setting.
    ZTDateTime();

    // Parses the whole text; returns and keeps valid.
    bool parse(const char* text);
    // Reads 1 to 6 digits or 'x' at the cursor into field ('x' anywhere gives 0 and sets hadX).
    // Fails when nothing was read, or when the value is 0 and allowZero is false.
    bool parseNumber(int32_t* field, bool allowZero, bool* hadX);
    // Canonical form, or (localForm, years from 1752) the user's order without zero time parts.
    // Returns out's text.
    const char* format(ZTStr* out, bool localForm) const;
    // The current time, local or UTC.
    void setNow(bool local);
    int32_t toDayNumber() const;
    // Sets the date of day number n with the time 0; false when its year is out of range.
    bool fromDayNumber(int32_t n);
};
