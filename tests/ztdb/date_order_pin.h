#pragma once

#include "platform/date_order.h"

// Pins the user's day/month order for one test and puts the previous one back.
class DateOrderPin {
  public:
    explicit DateOrderPin(bool dayFirst) : previous_(qv::dateDayFirst()) {
        qv::setDateDayFirst(dayFirst);
    }
    ~DateOrderPin() { qv::setDateDayFirst(previous_); }
    DateOrderPin(const DateOrderPin&) = delete;
    DateOrderPin& operator=(const DateOrderPin&) = delete;

  private:
    bool previous_;
};
