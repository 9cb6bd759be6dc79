#include "platform/date_order.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(DateOrderTest, CLocaleWritesMonthFirst) {
    ::setenv("LC_ALL", "C", 1);
    EXPECT_FALSE(qv::localeDateDayFirst());
    // A locale that is not installed falls back to the C locale's order.
    ::setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
    EXPECT_FALSE(qv::localeDateDayFirst());
    ::unsetenv("LC_ALL");
}

TEST(DateOrderTest, TheSettingWinsOverTheLocale) {
    qv::setDateDayFirst(true);
    EXPECT_TRUE(qv::dateDayFirst());
    qv::setDateDayFirst(false);
    EXPECT_FALSE(qv::dateDayFirst());
}

}  // namespace
