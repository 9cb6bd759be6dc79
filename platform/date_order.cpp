#include "platform/date_order.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cstring>
#include <ctime>

namespace qv {

namespace {

// -1: not known yet; 0: month first; 1: day first.
std::atomic<int> gDayFirst{-1};

}  // namespace

bool localeDateDayFirst() {
    locale_t loc = newlocale(LC_TIME_MASK, "", nullptr);
    if (!loc) return false;  // the C locale writes month first
    std::tm sample{};
    sample.tm_year = 1999 - 1900;
    sample.tm_mon = 10;
    sample.tm_mday = 10;
    char text[64] = {0};
    size_t n = strftime_l(text, sizeof text, nl_langinfo_l(D_FMT, loc), &sample, loc);
    freelocale(loc);
    return !(n >= 2 && std::strncmp(text, "11", 2) == 0);
}

bool dateDayFirst() {
    int known = gDayFirst.load();
    if (known < 0) {
        int fromLocale = localeDateDayFirst() ? 1 : 0;
        if (gDayFirst.compare_exchange_strong(known, fromLocale)) known = fromLocale;
    }
    return known == 1;
}

void setDateDayFirst(bool dayFirst) {
    gDayFirst.store(dayFirst ? 1 : 0);
}

}  // namespace qv
