// The message pump's contract, for both realisations: the Qt event loop's and the headless one.

#include "platform_qt/message_pump.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform_qt/headless_pump.h"
#include "platform_qt/qt_message_pump.h"

namespace {

using namespace std::chrono_literals;

// A payload that counts the live objects of its kind, so that a test sees what was freed.
struct Tracked {
    static std::atomic<int> alive;
    int sender;
    int seq;
    Tracked(int s, int q) : sender(s), seq(q) { ++alive; }
    ~Tracked() { --alive; }
};
std::atomic<int> Tracked::alive{0};

qv::Message tracked(qv::MessageId id, int sender, int seq) {
    qv::Message m;
    m.id = id;
    m.wParam = uintptr_t(sender);
    m.lParam = seq;
    m.payload = qv::Payload::make<Tracked>(sender, seq);
    return m;
}

struct PumpKind {
    const char* name;
    std::function<std::unique_ptr<qv::MessagePump>()> make;
};

class MessagePumpTest : public testing::TestWithParam<PumpKind> {
  protected:
    void SetUp() override {
        Tracked::alive = 0;
        pump = GetParam().make();
    }
    void TearDown() override {
        pump.reset();
        EXPECT_EQ(Tracked::alive, 0) << "a payload outlived its message";
    }
    std::unique_ptr<qv::MessagePump> pump;
};

TEST_P(MessagePumpTest, PostsFromFourWorkersArriveOnceAndInOrderPerSender) {
    constexpr int kSenders = 4, kPerSender = 10000;
    std::vector<int> next(kSenders, 0);
    int received = 0, wrongThread = 0, outOfOrder = 0;
    qv::MessageReceiver window(*pump, [&](qv::Message& m) -> intptr_t {
        if (!pump->isUiThread()) ++wrongThread;
        Tracked* t = m.payload.get<Tracked>();
        if (!t || t->seq != next[t->sender] || m.lParam != t->seq) ++outOfOrder;
        if (t) next[t->sender] = t->seq + 1;
        ++received;
        return 0;
    });
    std::vector<std::thread> workers;
    for (int s = 0; s < kSenders; ++s)
        workers.emplace_back([&, s] {
            for (int i = 0; i < kPerSender; ++i)
                ASSERT_TRUE(pump->post(window.handle(), tracked(qv::kMsgJobPercent, s, i)));
        });
    EXPECT_TRUE(pump->runUntil([&] { return received == kSenders * kPerSender; }, 60s));
    for (auto& w : workers) w.join();
    pump->runUntil([] { return false; }, 20ms);  // nothing more may come
    EXPECT_EQ(received, kSenders * kPerSender);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(wrongThread, 0);
    EXPECT_EQ(next, std::vector<int>(kSenders, kPerSender));
    EXPECT_EQ(Tracked::alive, 0);
}

TEST_P(MessagePumpTest, SendReturnsTheHandlersResultFromAnyThread) {
    bool onUiThread = true;
    qv::MessageReceiver window(*pump, [&](qv::Message& m) -> intptr_t {
        onUiThread = onUiThread && pump->isUiThread();
        return intptr_t(m.wParam) * 2 + (m.payload.get<Tracked>() ? 1 : 0);
    });
    // From the user-interface thread the handler runs at once.
    EXPECT_EQ(pump->send(window.handle(), tracked(qv::kMsgJobCloseFile, 20, 0)), 41);

    std::optional<intptr_t> fromWorker;
    bool invoked = false;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        fromWorker = pump->send(window.handle(), tracked(qv::kMsgJobCloseFile, 50, 0));
        pump->invoke([&] { invoked = pump->isUiThread(); });
        finished = true;
    });
    EXPECT_TRUE(pump->runUntil([&] { return finished.load(); }, 30s));
    worker.join();
    EXPECT_EQ(fromWorker, 101);
    EXPECT_TRUE(invoked);
    EXPECT_TRUE(onUiThread);
}

TEST_P(MessagePumpTest, WindowWaitingForWorkerServicesItsSendButNoPost) {
    // The window waits for a worker to stop while the worker, before stopping, sends to the
    // window and waits for the answer: the wait services the send, so both finish. A message
    // posted earlier stays queued until the loop runs again.
    std::vector<qv::MessageId> handled;
    qv::MessageReceiver window(*pump, [&](qv::Message& m) -> intptr_t {
        handled.push_back(m.id);
        return 7;
    });
    ASSERT_TRUE(pump->post(window.handle(), tracked(qv::kMsgJobText, 0, 0)));
    std::atomic<bool> stopped{false};
    std::optional<intptr_t> answer;
    std::thread worker([&] {
        std::this_thread::sleep_for(20ms);  // the window is waiting by now
        answer = pump->send(window.handle(), tracked(qv::kMsgJobCloseFile, 0, 1));
        stopped = true;
    });
    EXPECT_TRUE(pump->waitFor([&] { return stopped.load(); }, 30s));
    worker.join();
    EXPECT_EQ(answer, 7);
    EXPECT_EQ(handled, std::vector<qv::MessageId>{qv::kMsgJobCloseFile});
    pump->runUntil([&] { return handled.size() == 2; }, 10s);
    EXPECT_EQ(handled, (std::vector<qv::MessageId>{qv::kMsgJobCloseFile, qv::kMsgJobText}));
}

TEST_P(MessagePumpTest, StopTokenAbandonsAWaitingSendAndFreesItsPayload) {
    int handled = 0;
    qv::MessageReceiver window(*pump, [&](qv::Message&) -> intptr_t { return ++handled; });
    std::optional<intptr_t> answer{-1};
    std::atomic<bool> returned{false};
    std::jthread worker([&](std::stop_token stop) {
        answer = pump->send(window.handle(), tracked(qv::kMsgJobCloseFile, 0, 0), stop);
        returned = true;
    });
    while (Tracked::alive == 0) std::this_thread::yield();  // the send is queued
    worker.request_stop();                                  // the window never looked
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(answer, std::nullopt);
    EXPECT_EQ(Tracked::alive, 0);
    pump->runUntil([] { return false; }, 20ms);
    EXPECT_EQ(handled, 0);
}

TEST_P(MessagePumpTest, MessagesThatAreNeverDeliveredFreeTheirPayloads) {
    int handled = 0;
    auto counting = [&](qv::Message&) -> intptr_t { return ++handled; };

    // Posted to a receiver that is gone already.
    auto gone = std::make_unique<qv::MessageReceiver>(*pump, counting);
    const qv::ReceiverHandle stale = gone->handle();
    gone.reset();
    EXPECT_FALSE(pump->post(stale, tracked(qv::kMsgJobText, 0, 0)));
    EXPECT_EQ(pump->send(stale, tracked(qv::kMsgJobCloseFile, 0, 0)), std::nullopt);
    EXPECT_EQ(Tracked::alive, 0);

    // Queued for a receiver that goes before the loop runs; a new receiver never gets them.
    auto leaving = std::make_unique<qv::MessageReceiver>(*pump, counting);
    for (int i = 0; i < 3; ++i) pump->post(leaving->handle(), tracked(qv::kMsgJobText, 0, i));
    EXPECT_EQ(Tracked::alive, 3);
    leaving.reset();
    EXPECT_EQ(Tracked::alive, 0);
    qv::MessageReceiver newcomer(*pump, counting);
    EXPECT_NE(newcomer.handle(), stale);
    pump->runUntil([] { return false; }, 20ms);
    EXPECT_EQ(handled, 0);

    // Waited for in a worker's send when the receiver goes.
    {
        auto target = std::make_unique<qv::MessageReceiver>(*pump, counting);
        std::optional<intptr_t> answer{-1};
        const auto handle = target->handle();  // the worker must not read `target` while it goes
        std::thread worker(
            [&] { answer = pump->send(handle, tracked(qv::kMsgJobCloseFile, 2, 0)); });
        while (Tracked::alive < 1) std::this_thread::yield();
        std::this_thread::sleep_for(20ms);  // most likely queued by now; either way it fails
        target.reset();
        worker.join();
        EXPECT_EQ(answer, std::nullopt);
        EXPECT_EQ(Tracked::alive, 0);
    }

    // Queued, or waiting in a worker's send, when the program closes.
    pump->post(newcomer.handle(), tracked(qv::kMsgJobText, 0, 0));
    std::optional<intptr_t> answer{-1};
    std::thread worker(
        [&] { answer = pump->send(newcomer.handle(), tracked(qv::kMsgJobCloseFile, 1, 0)); });
    while (Tracked::alive < 2) std::this_thread::yield();
    pump->close();
    worker.join();
    EXPECT_EQ(answer, std::nullopt);
    EXPECT_EQ(Tracked::alive, 0);
    EXPECT_FALSE(pump->post(newcomer.handle(), tracked(qv::kMsgJobText, 0, 0)));
    EXPECT_EQ(Tracked::alive, 0);
    EXPECT_EQ(handled, 0);
}

TEST_P(MessagePumpTest, PayloadCanBeTakenByTheHandler) {
    std::unique_ptr<Tracked> kept;
    qv::MessageReceiver window(*pump, [&](qv::Message& m) -> intptr_t {
        EXPECT_EQ(m.payload.get<int>(), nullptr);  // another type is not handed out
        kept = m.payload.take<Tracked>();
        return 0;
    });
    pump->post(window.handle(), tracked(qv::kMsgJobRefresh, 3, 4));
    ASSERT_TRUE(pump->runUntil([&] { return kept != nullptr; }, 10s));
    EXPECT_EQ(kept->sender, 3);
    EXPECT_EQ(Tracked::alive, 1);
    kept.reset();
}

INSTANTIATE_TEST_SUITE_P(
    Pumps, MessagePumpTest,
    testing::Values(PumpKind{"Headless", [] { return std::make_unique<qv::HeadlessPump>(); }},
                    PumpKind{"Qt", [] { return std::make_unique<qv::QtMessagePump>(); }}),
    [](const testing::TestParamInfo<PumpKind>& info) { return std::string(info.param.name); });

TEST(QtMessagePumpTest, MessagesArriveInsideNestedEventLoops) {
    // A modal dialog runs its own loop; messages from workers still reach their windows there.
    qv::QtMessagePump pump;
    QEventLoop modal;
    qv::MessageReceiver window(pump, [&](qv::Message&) -> intptr_t {
        modal.quit();
        return 0;
    });
    qv::Message finished;
    finished.id = qv::kMsgJobFinished;
    std::thread worker([&] { pump.post(window.handle(), std::move(finished)); });
    QTimer::singleShot(30000, &modal, [&] { modal.exit(1); });
    EXPECT_EQ(modal.exec(), 0);
    worker.join();
}

}  // namespace
