// The long jobs of a database (see ztthread.h).
#include <system_error>

#include "ztdb/ztthread.h"

using Clock = std::chrono::steady_clock;

ZTThread::ZTThread(ZTFile* file, bool threaded) {
    setFile(file, threaded);
}

ZTThread::~ZTThread() {
    waitForEnd();
    dropFile();
}

void ZTThread::dropFile() {
    if (ownsFile_) delete file_;
    file_ = nullptr;
    ownsFile_ = false;
}

void ZTThread::setFile(ZTFile* file, bool threaded) {
    waitForEnd();
    dropFile();
    threaded_ = threaded;
    if (threaded && file != nullptr) {
        file_ = file->duplicate(0);
        ownsFile_ = file_ != nullptr;
    } else {
        file_ = file;
    }
}

bool ZTThread::isActive() {
    std::lock_guard<std::mutex> guard(stateLock_);
    return active_;
}

bool ZTThread::start(ZTCallback callback, void* context) {
    if (threaded_) waitForEnd();
    callback_ = callback;
    context_ = context;
    if (file_ == nullptr) return false;
    lastYield_ = Clock::now();
    running_ = true;
    if (!threaded_) {
        run();
        running_ = false;
        return true;
    }
    // The handle is set under the lock, so the thread's end (which clears it under the same
    // lock) always comes after.
    std::lock_guard<std::mutex> guard(stateLock_);
    try {
        thread_ = std::thread([this] { body(); });
    } catch (const std::system_error&) {
        running_ = false;
        return false;
    }
    active_ = true;
    return true;
}

void ZTThread::body() {
    run();
    const uint32_t answer = notify(kZTCodeJobFinished, reinterpret_cast<uintptr_t>(this), 0);
    std::unique_lock<std::mutex> lock(stateLock_);
    active_ = false;
    if (answer == kZTAnswerDelete) {
        // Nobody joins a job that deletes itself; its destructor finds no thread to wait for.
        thread_.detach();
        lock.unlock();
        delete this;
        return;
    }
    changed_.notify_all();
}

uint32_t ZTThread::notify(uint32_t code, uintptr_t a, uintptr_t b) {
    if (callback_ == nullptr) return 0;
    const uint32_t answer = callback_(code, a, b, context_);
    if (answer == kZTAnswerStop) running_ = false;
    return answer;
}

void ZTThread::waitStep(std::unique_lock<std::mutex>& lock) {
    if (waitHook_ == nullptr) {
        changed_.wait(lock);
        return;
    }
    lock.unlock();
    (void)waitHook_(waitContext_, kWaitStepMilliseconds);  // the wait goes on whatever it says
    lock.lock();
}

void ZTThread::waitForEnd() {
    running_ = false;
    std::unique_lock<std::mutex> lock(stateLock_);
    // A job that stops itself from inside its work cannot wait for its own thread.
    if (thread_.get_id() == std::this_thread::get_id()) return;
    changed_.notify_all();  // a wait inside the work ends now
    while (active_) waitStep(lock);
    std::thread ended = std::move(thread_);
    lock.unlock();
    if (ended.joinable()) ended.join();
}

bool ZTThread::waitUntil(const std::function<bool()>& ready) {
    std::unique_lock<std::mutex> lock(stateLock_);
    bool done = ready();
    while (!done && running_) {
        waitStep(lock);
        done = ready();
    }
    return done;
}

void ZTThread::wake() {
    { std::lock_guard<std::mutex> guard(stateLock_); }
    changed_.notify_all();
}

void ZTThread::setWaitHook(ZTLockWaitHook hook, void* context) {
    std::lock_guard<std::mutex> guard(stateLock_);
    waitHook_ = hook;
    waitContext_ = context;
}

void ZTThread::enterCritical() {
    if (threaded_) critical_.lock();
}

void ZTThread::leaveCritical() {
    if (threaded_) critical_.unlock();
}

int ZTThread::yieldLock() {
    // Under a nested lock nothing would be released; exclusive opens hold no lock.
    if (file_ == nullptr || !file_->isUsable() || file_->isExclusive() ||
        file_->getLockDepth() != 1)
        return 0;
    if (Clock::now() - lastYield_ < std::chrono::milliseconds(kYieldEveryMilliseconds)) return 0;
    const bool flushed = file_->unlock();
    std::this_thread::sleep_until(Clock::now() +
                                  std::chrono::milliseconds(kYieldPauseMilliseconds));
    const bool relocked = file_->lock(false);
    lastYield_ = Clock::now();
    return flushed && relocked ? 1 : -1;
}
