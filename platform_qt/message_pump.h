#pragma once
// Messages between threads and the user-interface thread.
//
// A MessageReceiver lives on the user-interface thread and has a handle, a plain number that any
// thread may keep and post to; a handle is never reused, so a message to a receiver that is gone
// finds nothing and is freed. Posting works from any thread and keeps the order of each sender.
// Sending waits for the handler's result: from the user-interface thread it calls the handler at
// once; from a worker it queues the message ahead of every posted one and waits until the
// user-interface thread has handled it, the worker's stop token asks it to give up, the receiver
// goes or the pump closes.
//
// The user-interface thread must never block on a worker by other means than waitFor (or
// runUntil): those service pending sends, so a worker sending while the window waits for it
// cannot deadlock.
//
// The pump is the Qt event loop's (QtMessagePump) or a headless one for tests of models
// (HeadlessPump); both share this class and differ only in how the user-interface thread is woken.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "platform_qt/message.h"

namespace qv {

using ReceiverHandle = uint64_t;  // 0 is no receiver
using MessageHandler = std::function<intptr_t(Message&)>;

class MessagePump {
  public:
    // Made on the user-interface thread, which it takes as its own.
    MessagePump();
    virtual ~MessagePump();
    MessagePump(const MessagePump&) = delete;
    MessagePump& operator=(const MessagePump&) = delete;

    // Any thread. False when the receiver is gone or the pump is closed; the message is then
    // freed.
    bool post(ReceiverHandle to, Message message);
    // Any thread. The handler's result, or nothing when the message was not delivered (receiver
    // gone, pump closed, or the stop token asked the sender to give up first); an undelivered
    // message is freed.
    std::optional<intptr_t> send(ReceiverHandle to, Message message, std::stop_token stop = {});
    // Runs fn on the user-interface thread and waits for it, on the terms of send. False when it
    // did not run.
    bool invoke(std::function<void()> fn, std::stop_token stop = {});

    // User-interface thread: waits until done() holds or the timeout passes, handling the sends
    // of workers meanwhile (but no posted message). True when done() held.
    bool waitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
    // User-interface thread: delivers sends and posted messages until done() holds or the
    // timeout passes. True when done() held.
    virtual bool runUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds::max()) = 0;
    // Any thread: makes waitFor and runUntil test their condition again now.
    void wake();

    // Frees every queued message, fails the sends that wait, and refuses further messages.
    void close();
    bool isClosed() const;
    bool isUiThread() const { return std::this_thread::get_id() == uiThread_; }

    // User-interface thread: delivers the pending sends and then at most maxPosted posted
    // messages (sends that arrive meanwhile go first). Returns the number of posted ones.
    size_t dispatch(size_t maxPosted);

  protected:
    // Tells the user-interface thread that messages wait; called with the pump's lock held (so it
    // must not call back into the pump), at most once until the next dispatch begins.
    virtual void signalUiThread() = 0;
    // Waits until a send arrives (or a posted message, when posted is true), wake() is called,
    // the pump closes or the time passes; at most a few milliseconds, so that conditions nobody
    // signals are tested again soon.
    void waitForWork(std::chrono::steady_clock::time_point until, bool posted);
    // Wakes waitForWork; safe with the pump's lock held.
    void notifyWork();

  private:
    friend class MessageReceiver;
    struct SendState;
    struct Posted {
        ReceiverHandle to;
        Message message;
    };

    ReceiverHandle attach(MessageHandler* handler);
    void detach(ReceiverHandle handle);
    // Handles the first waiting send, if any; called and returning with the lock held.
    bool serviceOneSend(std::unique_lock<std::mutex>& lock);
    void signalIfNeeded();  // with the lock held

    const std::thread::id uiThread_;
    mutable std::mutex mutex_;
    std::condition_variable work_;  // sends, wake() and close() for the user-interface thread
    std::map<ReceiverHandle, MessageHandler*> receivers_;
    std::deque<Posted> posted_;
    std::deque<std::shared_ptr<SendState>> sent_;
    ReceiverHandle nextHandle_ = 1;
    uint64_t wakes_ = 0;
    bool signalled_ = false;
    bool closed_ = false;
    ReceiverHandle invoker_ = 0;
    std::unique_ptr<MessageHandler> invokeHandler_;
};

// An object of the user-interface thread that receives messages. Made and destroyed on that
// thread, before its pump is destroyed; destroying it frees the messages still queued for it.
class MessageReceiver {
  public:
    MessageReceiver(MessagePump& pump, MessageHandler handler);
    ~MessageReceiver();
    MessageReceiver(const MessageReceiver&) = delete;
    MessageReceiver& operator=(const MessageReceiver&) = delete;

    ReceiverHandle handle() const { return handle_; }
    MessagePump& pump() const { return pump_; }

  private:
    MessagePump& pump_;
    MessageHandler handler_;
    ReceiverHandle handle_;
};

}  // namespace qv
