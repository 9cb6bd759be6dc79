#pragma once
// The user's short-date order: whether the day comes before the month when dates are shown and
// typed. It is one setting of the program; until the program sets it, it is taken once from the
// environment's locale (LC_ALL, LC_TIME, LANG): the locale's short date of 10 November 1999 that
// begins with "11" means month first, anything else day first. It never changes stored bytes.

namespace qv {

bool dateDayFirst();
void setDateDayFirst(bool dayFirst);

// What the environment's locale says, asked afresh (the setting's default).
bool localeDateDayFirst();

}  // namespace qv
