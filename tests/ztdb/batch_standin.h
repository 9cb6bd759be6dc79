#pragma once
// A stand-in for the batch job's callback: each report is posted to a fake owner queue once the
// owner took the previous one (the wait goes through the job, so that a stop ends it), a count
// of remaining reports goes down with each, and the answer is -1 when it reaches 0, else 0. It
// never answers -2. The test plays the owner: take() waits for the next report.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "ztdb/ztthread.h"

struct BatchReport {
    uint32_t code;
    uintptr_t a, b;
};

class BatchStandIn {
  public:
    explicit BatchStandIn(int32_t remaining) : remaining_(remaining) {}

    ZTThread* job = nullptr;

    static uint32_t callback(uint32_t code, uintptr_t a, uintptr_t b, void* context) {
        return static_cast<BatchStandIn*>(context)->report(code, a, b);
    }

    // The owner takes the next report; false when none comes before the job ends.
    bool take(BatchReport* out) {
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait(lock, [&] { return !queue_.empty() || finished_; });
        if (queue_.empty()) return false;
        *out = queue_.front();
        queue_.pop_front();
        lock.unlock();
        if (job != nullptr) job->wake();
        return true;
    }
    // Waits until n reports are posted (taken or not).
    void awaitPosted(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait(lock, [&] { return all_.size() >= n || finished_; });
    }
    std::vector<BatchReport> all() {
        std::lock_guard<std::mutex> guard(mutex_);
        return all_;
    }
    // The most reports that waited at once while the job ran.
    size_t mostWaiting() {
        std::lock_guard<std::mutex> guard(mutex_);
        return mostWaiting_;
    }
    bool stopped() {
        std::lock_guard<std::mutex> guard(mutex_);
        return stopped_;
    }

  private:
    uint32_t report(uint32_t code, uintptr_t a, uintptr_t b) {
        switch (code) {
            case kZTCodeScanned:
            case kZTCodeScanFinished:
            case kZTCodeBrowsed:
            case kZTCodeProgress:
            case kZTCodeJobFinished:
                break;
            default:
                return 0;
        }
        // The owner must have taken the previous report; a stop ends the wait (the owner may be
        // waiting for the job itself).
        if (job != nullptr)
            job->waitUntil([&] {
                std::lock_guard<std::mutex> guard(mutex_);
                return queue_.empty();
            });
        std::lock_guard<std::mutex> guard(mutex_);
        queue_.push_back({code, a, b});
        all_.push_back({code, a, b});
        // Once the job is stopped its reports no longer wait (the owner may be waiting for it).
        if (job == nullptr || job->isRunning())
            mostWaiting_ = std::max(mostWaiting_, queue_.size());
        if (code == kZTCodeJobFinished) finished_ = true;
        posted_.notify_all();
        if (--remaining_ <= 0) {
            stopped_ = true;
            return kZTAnswerStop;
        }
        return 0;
    }

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<BatchReport> queue_;
    std::vector<BatchReport> all_;
    size_t mostWaiting_ = 0;
    int32_t remaining_;
    bool stopped_ = false;
    bool finished_ = false;
};
