#pragma once
// Time for the windows: a monotonic clock in milliseconds, and timers that tick on the thread
// that runs their timer service. The desktop realises the service on the user-interface
// thread; FakeTimerService (fake_timers.h) realises it for tests, where time moves only when
// the test says so.
//
// A Timer is stopped when made. start() (re)starts it: the first tick comes one interval
// later, and a repeating timer then ticks every interval until stopped; a single-shot timer is
// no longer active when its one tick runs. A tick may stop, restart or destroy its own timer
// (a timer that frees itself when done) and may start or stop others.

#include <cstdint>
#include <functional>
#include <memory>

namespace qv {

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; never goes back.
    virtual int64_t nowMs() const = 0;
};

// std::chrono::steady_clock.
class SteadyClock : public Clock {
  public:
    int64_t nowMs() const override;
};

// The intervals of the program's timers, in milliseconds.
namespace timer_ms {
inline constexpr int kIdle = 2000;                   // idle counter of the main window
inline constexpr int kBrokenFileMark = 10000;        // a freshly opened database stops being new
inline constexpr int kSplashClose = 3000;            // splash window closes when the main shows
inline constexpr int kJobCloseWait = 200;            // closing waits for the jobs to stop
inline constexpr int kListSelection = 100;           // list view selection settles
inline constexpr int kListScrollRetry = 500;         // list view scroll position retried
inline constexpr int kTreeCheckHint = 500;           // tree check-box hint appears
inline constexpr int kRecordPopup = 100;             // record-properties popup follows typing
inline constexpr int kSearchAnimation = 150;         // status-bar search animation step
inline constexpr int kImageButtonHeldMenu = 500;     // image button held down opens its menu
inline constexpr int kImageButtonTracking = 20;      // image button follows the mouse
inline constexpr int kSimulatedProgressStep = 3000;  // a job's simulated percent, as jobs ask
}  // namespace timer_ms

// The service's side of one timer.
class TimerSlot {
  public:
    virtual ~TimerSlot() = default;
    virtual void start(int intervalMs, bool singleShot) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

class TimerService {
  public:
    virtual ~TimerService() = default;
    // A stopped slot whose expiries run tick on the service's thread. The slot may be
    // destroyed while tick runs.
    virtual std::unique_ptr<TimerSlot> makeSlot(std::function<void()> tick) = 0;
};

class Timer {
  public:
    Timer(TimerService& service, int intervalMs, std::function<void()> onTick = {});
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void setOnTick(std::function<void()> onTick) { onTick_ = std::move(onTick); }
    // A new interval restarts an active timer with it.
    void setInterval(int intervalMs);
    int interval() const { return intervalMs_; }
    void setSingleShot(bool singleShot) { singleShot_ = singleShot; }
    bool isSingleShot() const { return singleShot_; }

    void start();
    void start(int intervalMs);
    void stop() { slot_->stop(); }
    bool isActive() const { return slot_->isActive(); }

  private:
    void tick();

    int intervalMs_;
    bool singleShot_ = false;
    std::function<void()> onTick_;
    std::unique_ptr<TimerSlot> slot_;
};

}  // namespace qv
