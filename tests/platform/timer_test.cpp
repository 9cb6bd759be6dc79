#include "platform/timer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fake_timers.h"

namespace {

using qv::FakeTimerService;
using qv::Timer;

// Each tick noted as name@time.
struct TickLog {
    FakeTimerService& clock;
    std::vector<std::string> ticks;
    std::function<void()> note(std::string name) {
        return [this, name] { ticks.push_back(name + "@" + std::to_string(clock.nowMs())); };
    }
};

TEST(FakeTimers, TimersOfDifferentIntervalsFireInTimeOrderHoweverTimeIsAdvanced) {
    const std::vector<std::string> expected = {"C@40",  "A@100", "A@200", "B@250",
                                               "A@300", "A@400", "A@500", "B@500"};
    const std::vector<std::vector<int64_t>> ways = {
        {500}, {123, 377}, std::vector<int64_t>(500, 1)};
    for (const auto& steps : ways) {
        FakeTimerService service;
        TickLog log{service, {}};
        Timer a(service, 100, log.note("A"));
        Timer b(service, 250, log.note("B"));
        Timer c(service, 40, log.note("C"));
        c.setSingleShot(true);
        a.start();
        b.start();  // started after A: at 500 it ticks after A
        c.start();
        for (int64_t step : steps) service.advance(step);
        EXPECT_EQ(log.ticks, expected) << steps.size() << " steps";
        EXPECT_EQ(service.nowMs(), 500);
        EXPECT_EQ(service.activeCount(), 2);
    }
}

TEST(FakeTimers, ATickStopsItselfAndATimerDueAtTheSameTime) {
    FakeTimerService service;
    TickLog log{service, {}};
    Timer b(service, 100, log.note("B"));
    Timer a(service, 100);
    a.setOnTick([&] {
        log.ticks.push_back("A@" + std::to_string(service.nowMs()));
        a.stop();
        b.stop();
    });
    a.start();
    b.start();
    service.advance(1000);
    EXPECT_EQ(log.ticks, std::vector<std::string>{"A@100"});
    EXPECT_FALSE(a.isActive());
    EXPECT_FALSE(b.isActive());
}

TEST(FakeTimers, ASingleShotTicksOnceUnlessItsTickStartsItAgain) {
    FakeTimerService service;
    int ticks = 0;
    bool activeDuringTick = true;
    Timer once(service, 100);
    once.setSingleShot(true);
    once.setOnTick([&] {
        activeDuringTick = once.isActive();
        if (++ticks == 1) once.start(30);
    });
    once.start();
    service.advance(1000);
    EXPECT_EQ(ticks, 2);  // at 100, and at 130 after its restart
    EXPECT_FALSE(activeDuringTick);
    EXPECT_FALSE(once.isActive());
}

TEST(FakeTimers, ATimerMayFreeItselfInItsTick) {
    FakeTimerService service;
    TickLog log{service, {}};
    Timer other(service, 150, log.note("other"));
    auto self = std::make_unique<Timer>(service, 100);
    self->setOnTick([&] {
        log.ticks.push_back("self@" + std::to_string(service.nowMs()));
        self.reset();
    });
    self->start();
    other.start();
    service.advance(400);
    EXPECT_EQ(log.ticks, (std::vector<std::string>{"self@100", "other@150", "other@300"}));
}

TEST(FakeTimers, ANewIntervalRestartsARunningTimer) {
    FakeTimerService service;
    TickLog log{service, {}};
    Timer timer(service, 100, log.note("T"));
    timer.start();
    service.advance(50);
    timer.setInterval(30);
    service.advance(60);
    Timer stopped(service, 10, log.note("S"));
    stopped.setInterval(20);  // a stopped timer stays stopped
    service.advance(100);
    EXPECT_EQ(log.ticks, (std::vector<std::string>{"T@80", "T@110", "T@140", "T@170", "T@200"}));
}

}  // namespace
