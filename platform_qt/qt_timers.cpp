#include "platform_qt/qt_timers.h"

#include <QTimer>
#include <algorithm>

namespace qv {

namespace {

class QtTimerSlot : public TimerSlot {
  public:
    explicit QtTimerSlot(std::function<void()> tick) : tick_(std::move(tick)) {
        timer_.setTimerType(Qt::PreciseTimer);
        // A single-shot QTimer is no longer active when it signals, as the slot must be.
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            std::function<void()> tick = tick_;  // the tick may destroy this slot
            tick();
        });
    }

    void start(int intervalMs, bool singleShot) override {
        timer_.setSingleShot(singleShot);
        timer_.start(std::max(intervalMs, 0));
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

  private:
    std::function<void()> tick_;
    QTimer timer_;
};

}  // namespace

std::unique_ptr<TimerSlot> QtTimerService::makeSlot(std::function<void()> tick) {
    return std::make_unique<QtTimerSlot>(std::move(tick));
}

}  // namespace qv
