// The timer service on QTimer, driven by the real event loop offscreen.

#include <gtest/gtest.h>

#include <QTest>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform_qt/qt_timers.h"

namespace {

using qv::Timer;

TEST(QtTimersTest, SingleShotTicksOnceAndIsNoLongerActiveInItsTick) {
    qv::QtTimerService service;
    Timer timer(service, 5);
    int ticks = 0;
    bool activeInTick = true;
    timer.setSingleShot(true);
    timer.setOnTick([&] {
        ++ticks;
        activeInTick = timer.isActive();
    });
    timer.start();
    EXPECT_TRUE(timer.isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks > 0; }, 10000));
    QTest::qWait(50);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(activeInTick);
    EXPECT_FALSE(timer.isActive());
}

TEST(QtTimersTest, RepeatingTimerTicksUntilItsTickStopsIt) {
    qv::QtTimerService service;
    Timer timer(service, 2);
    int ticks = 0;
    timer.setOnTick([&] {
        if (++ticks == 3) timer.stop();
    });
    timer.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 10000));
    QTest::qWait(30);
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer.isActive());
}

TEST(QtTimersTest, TimersFallingDueTogetherTickInTheOrderOfTheirTimes) {
    qv::QtTimerService service;
    std::vector<int> order;
    std::vector<std::unique_ptr<Timer>> timers;
    for (int ms : {30, 10, 20}) {
        timers.push_back(
            std::make_unique<Timer>(service, ms, [&order, ms] { order.push_back(ms); }));
        timers.back()->setSingleShot(true);
        timers.back()->start();
    }
    // The user-interface thread is busy past all three: they are all due when it is back.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_TRUE(QTest::qWaitFor([&] { return order.size() == 3; }, 10000));
    EXPECT_EQ(order, (std::vector<int>{10, 20, 30}));
}

TEST(QtTimersTest, ATickMayRestartOrDestroyItsOwnTimer) {
    qv::QtTimerService service;
    auto timer = std::make_unique<Timer>(service, 2);
    int ticks = 0;
    timer->setOnTick([&] {
        if (++ticks == 1)
            timer->start(4);  // a new interval from inside the tick
        else
            timer.reset();  // frees itself when done
    });
    timer->start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return timer == nullptr; }, 10000));
    QTest::qWait(20);
    EXPECT_EQ(ticks, 2);
}

}  // namespace
