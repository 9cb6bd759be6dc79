#include "platform/fake_timers.h"

namespace qv {

class FakeTimerService::Slot : public TimerSlot {
  public:
    Slot(FakeTimerService& service, uint64_t id) : service_(service), id_(id) {}
    ~Slot() override { service_.entries_.erase(id_); }

    void start(int intervalMs, bool singleShot) override {
        Entry& entry = service_.entries_.at(id_);
        entry.intervalMs = intervalMs < 0 ? 0 : intervalMs;
        entry.singleShot = singleShot;
        entry.due = service_.now_ + entry.intervalMs;
        entry.active = true;
        entry.order = service_.nextOrder_++;
    }
    void stop() override { service_.entries_.at(id_).active = false; }
    bool isActive() const override { return service_.entries_.at(id_).active; }

  private:
    FakeTimerService& service_;
    uint64_t id_;
};

FakeTimerService::~FakeTimerService() = default;

std::unique_ptr<TimerSlot> FakeTimerService::makeSlot(std::function<void()> tick) {
    uint64_t id = nextId_++;
    entries_[id].tick = std::move(tick);
    return std::make_unique<Slot>(*this, id);
}

int FakeTimerService::activeCount() const {
    int count = 0;
    for (const auto& entry : entries_) count += entry.second.active ? 1 : 0;
    return count;
}

void FakeTimerService::advance(int64_t ms) {
    const int64_t target = now_ + (ms < 0 ? 0 : ms);
    for (;;) {
        auto next = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            const Entry& e = it->second;
            if (!e.active || e.due > target) continue;
            if (next == entries_.end() || e.due < next->second.due ||
                (e.due == next->second.due && e.order < next->second.order))
                next = it;
        }
        if (next == entries_.end()) break;
        const uint64_t id = next->first;
        Entry& entry = next->second;
        now_ = entry.due;
        if (entry.singleShot) {
            entry.active = false;
        } else {
            entry.due = now_ + (entry.intervalMs > 0 ? entry.intervalMs : 1);
        }
        // The tick may destroy its slot (and with it this entry): it runs from a local, which
        // goes back only if the slot is still there.
        std::function<void()> tick = std::move(entry.tick);
        tick();
        auto still = entries_.find(id);
        if (still != entries_.end()) still->second.tick = std::move(tick);
    }
    now_ = target;
}

}  // namespace qv
