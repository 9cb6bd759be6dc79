#pragma once
// A timer service and clock for tests: time stands still until advance() moves it, firing on
// the calling thread every tick that falls due on the way, in time order (ties in the order
// the timers were started). During a tick the clock reads the tick's own time. A repeating
// timer of 0 ms ticks once a millisecond here. The service outlives its timers.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "platform/timer.h"

namespace qv {

class FakeTimerService : public TimerService, public Clock {
  public:
    FakeTimerService() = default;
    FakeTimerService(const FakeTimerService&) = delete;
    FakeTimerService& operator=(const FakeTimerService&) = delete;
    ~FakeTimerService() override;

    std::unique_ptr<TimerSlot> makeSlot(std::function<void()> tick) override;
    int64_t nowMs() const override { return now_; }

    void advance(int64_t ms);
    // Timers running now.
    int activeCount() const;

  private:
    class Slot;
    struct Entry {
        int64_t due = 0;
        int intervalMs = 0;
        bool singleShot = false;
        bool active = false;
        uint64_t order = 0;
        std::function<void()> tick;
    };

    int64_t now_ = 0;
    uint64_t nextId_ = 1;
    uint64_t nextOrder_ = 1;
    std::map<uint64_t, Entry> entries_;
};

}  // namespace qv
