#include "platform/timer.h"

#include <chrono>

namespace qv {

int64_t SteadyClock::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Timer::Timer(TimerService& service, int intervalMs, std::function<void()> onTick)
    : intervalMs_(intervalMs),
      onTick_(std::move(onTick)),
      slot_(service.makeSlot([this] { tick(); })) {}

void Timer::setInterval(int intervalMs) {
    intervalMs_ = intervalMs;
    if (isActive()) start();
}

void Timer::start() {
    slot_->start(intervalMs_, singleShot_);
}

void Timer::start(int intervalMs) {
    intervalMs_ = intervalMs;
    start();
}

void Timer::tick() {
    // The callback may destroy this timer: it runs from a copy, and nothing of the timer is
    // touched after it returns.
    std::function<void()> onTick = onTick_;
    if (onTick) onTick();
}

}  // namespace qv
