#include "platform_qt/message_pump.h"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <iterator>
#include <vector>

namespace qv {

namespace {

constexpr MessageId kMsgInvoke = 1;  // private to the pump's own receiver
using Clock = std::chrono::steady_clock;

Clock::time_point deadline(std::chrono::milliseconds timeout) {
    if (timeout == std::chrono::milliseconds::max()) return Clock::time_point::max();
    return Clock::now() + timeout;
}

}  // namespace

// A send waiting for the user-interface thread. Guarded by the pump's mutex.
struct MessagePump::SendState {
    ReceiverHandle to;
    Message message;
    bool taken = false;      // the user-interface thread has it
    bool done = false;       // finished, delivered or not
    bool delivered = false;  // the handler ran
    intptr_t result = 0;
    std::condition_variable finished;
};

MessagePump::MessagePump() : uiThread_(std::this_thread::get_id()) {
    invokeHandler_ = std::make_unique<MessageHandler>([](Message& m) -> intptr_t {
        if (auto* fn = m.payload.get<std::function<void()>>()) (*fn)();
        return 0;
    });
    invoker_ = attach(invokeHandler_.get());
}

MessagePump::~MessagePump() {
    close();
}

ReceiverHandle MessagePump::attach(MessageHandler* handler) {
    assert(isUiThread());
    std::lock_guard<std::mutex> lock(mutex_);
    ReceiverHandle handle = nextHandle_++;
    receivers_[handle] = handler;
    return handle;
}

void MessagePump::detach(ReceiverHandle handle) {
    assert(isUiThread());
    // Freed after the lock: a payload's destructor may post.
    std::deque<Posted> dropped;
    std::vector<Message> unsent;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        receivers_.erase(handle);
        auto keep = std::stable_partition(posted_.begin(), posted_.end(),
                                          [&](const Posted& p) { return p.to != handle; });
        std::move(keep, posted_.end(), std::back_inserter(dropped));
        posted_.erase(keep, posted_.end());
        // Workers sending to it stop waiting now.
        for (auto it = sent_.begin(); it != sent_.end();) {
            if ((*it)->to != handle) {
                ++it;
                continue;
            }
            unsent.push_back(std::move((*it)->message));
            (*it)->done = true;
            (*it)->finished.notify_all();
            it = sent_.erase(it);
        }
    }
}

bool MessagePump::post(ReceiverHandle to, Message message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || !receivers_.count(to)) return false;
    posted_.push_back(Posted{to, std::move(message)});
    signalIfNeeded();
    return true;
}

void MessagePump::signalIfNeeded() {
    if (signalled_) return;
    signalled_ = true;
    signalUiThread();
}

std::optional<intptr_t> MessagePump::send(ReceiverHandle to, Message message,
                                          std::stop_token stop) {
    if (isUiThread()) {
        MessageHandler* handler = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = receivers_.find(to);
            if (closed_ || it == receivers_.end()) return std::nullopt;
            handler = it->second;
        }
        return (*handler)(message);
    }

    auto state = std::make_shared<SendState>();
    state->to = to;
    state->message = std::move(message);
    // Registered before the lock is taken: a stop already requested runs the callback at once.
    std::stop_callback onStop(stop, [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        state->finished.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_ || !receivers_.count(to)) return std::nullopt;  // state and message freed
    sent_.push_back(state);
    work_.notify_all();
    signalIfNeeded();

    state->finished.wait(lock, [&] { return state->done || stop.stop_requested(); });
    if (state->done) {
        if (!state->delivered) return std::nullopt;
        return state->result;
    }
    // Given up. A send still in the queue is taken out and freed here; one that is running
    // finishes on the user-interface thread and its result is dropped.
    if (!state->taken) {
        auto it = std::find(sent_.begin(), sent_.end(), state);
        if (it != sent_.end()) sent_.erase(it);
        Message dropped = std::move(state->message);
        lock.unlock();
    }
    return std::nullopt;
}

bool MessagePump::invoke(std::function<void()> fn, std::stop_token stop) {
    Message m;
    m.id = kMsgInvoke;
    m.payload = Payload::make<std::function<void()>>(std::move(fn));
    return send(invoker_, std::move(m), stop).has_value();
}

bool MessagePump::serviceOneSend(std::unique_lock<std::mutex>& lock) {
    if (sent_.empty()) return false;
    std::shared_ptr<SendState> state = std::move(sent_.front());
    sent_.pop_front();
    auto it = receivers_.find(state->to);
    if (it != receivers_.end()) {
        state->taken = true;
        MessageHandler* handler = it->second;
        lock.unlock();
        // Receivers are detached only on this thread, so the handler outlives this call.
        const intptr_t result = (*handler)(state->message);
        lock.lock();
        state->result = result;
        state->delivered = true;
    }
    state->done = true;
    Message done = std::move(state->message);  // freed here, not by a worker still holding state
    lock.unlock();
    state->finished.notify_all();  // after unlocking, so that the sender need not wait for it
    done = Message();
    lock.lock();
    return true;
}

size_t MessagePump::dispatch(size_t maxPosted) {
    assert(isUiThread());
    size_t delivered = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    signalled_ = false;
    for (;;) {
        if (serviceOneSend(lock)) continue;  // sends go first, also those that come meanwhile
        if (delivered >= maxPosted || posted_.empty()) break;
        Posted next = std::move(posted_.front());
        posted_.pop_front();
        auto it = receivers_.find(next.to);
        MessageHandler* handler = it == receivers_.end() ? nullptr : it->second;
        lock.unlock();
        if (handler) (*handler)(next.message);
        next = Posted();  // the payload is freed without the lock
        ++delivered;
        lock.lock();
    }
    if (!posted_.empty() || !sent_.empty()) signalIfNeeded();
    return delivered;
}

bool MessagePump::waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    assert(isUiThread());
    const auto until = deadline(timeout);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            while (serviceOneSend(lock)) {
            }
        }
        if (done()) return true;
        if (Clock::now() >= until) return false;
        waitForWork(until, false);
    }
}

void MessagePump::waitForWork(Clock::time_point until, bool posted) {
    // Conditions that nobody signals (a worker's flag) are tested again every few milliseconds.
    const auto slice = Clock::now() + std::chrono::milliseconds(5);
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t wakes = wakes_;
    work_.wait_until(lock, std::min(until, slice), [&] {
        return !sent_.empty() || wakes_ != wakes || closed_ || (posted && !posted_.empty());
    });
}

void MessagePump::notifyWork() {
    work_.notify_all();
}

void MessagePump::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++wakes_;
    }
    work_.notify_all();
}

void MessagePump::close() {
    // Freed after the lock: a payload's destructor may post.
    std::deque<Posted> posted;
    std::vector<Message> sent;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        posted.swap(posted_);
        for (auto& state : sent_) {
            sent.push_back(std::move(state->message));
            state->done = true;
            state->finished.notify_all();
        }
        sent_.clear();
    }
    work_.notify_all();
}

bool MessagePump::isClosed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

MessageReceiver::MessageReceiver(MessagePump& pump, MessageHandler handler)
    : pump_(pump), handler_(std::move(handler)), handle_(pump.attach(&handler_)) {}

MessageReceiver::~MessageReceiver() {
    pump_.detach(handle_);
}

}  // namespace qv
