#pragma once
// The timer service on QTimer: ticks run on the user-interface thread from its event loop (also
// inside modal dialogs and other nested loops). Timers are precise, so that those falling due
// together tick in the order of their times, as the fake service promises. A slot may be
// destroyed by its own tick.
//
// Made, used and destroyed on the user-interface thread, after the QCoreApplication.

#include <memory>

#include "platform/timer.h"

namespace qv {

class QtTimerService : public TimerService {
  public:
    std::unique_ptr<TimerSlot> makeSlot(std::function<void()> tick) override;
};

}  // namespace qv
