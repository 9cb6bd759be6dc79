#pragma once
// ZTThread: the base of the engine's long jobs. A job is bound to one database and runs its work
// (run, supplied by each derived job) either inline on the caller's thread or on a thread of its
// own; it reports through a callback and can be asked to stop.
//
// A threaded job never touches the caller's ZTFile: it works on a private duplicate (opened with
// the caller's mode, its own descriptors, so the OFD locks of the two exclude each other), made
// by setFile and closed with the job. A database held exclusive cannot be duplicated: the job
// then has no file and its start fails.
//
// Stopping: the work reads the running flag between steps; stop (the same as waitForEnd) clears
// it and waits for the thread. Waits never spin: without a wait hook they sleep on a condition
// variable that the end of the thread, a stop and wake() signal; with a hook (a user interface
// that must keep its events served) they call the hook, at most 50 ms at a time, until done.
//
// A threaded job sends the end notice (code 36, the job, 0) after its work; an answer of -2 makes
// the job delete itself, the thread detaching first. Inline runs send no end notice.
//
// A derived job's destructor calls waitForEnd before its own members go: the thread may still
// be inside run.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "ztdb/ztfile.h"

// The report of a job, a search or a scan: (code, a, b, context) -> answer. a is wide enough to
// carry the job itself (code 36).
using ZTCallback = uint32_t (*)(uint32_t code, uintptr_t a, uintptr_t b, void* context);

// Answers of a callback: stop the work; in answer to the end notice, the job deletes itself.
constexpr uint32_t kZTAnswerStop = 0xFFFFFFFFu;
constexpr uint32_t kZTAnswerDelete = 0xFFFFFFFEu;

// Codes of the jobs built on ZTThread.
constexpr uint32_t kZTCodeScanned = 21;  // record ID, percent
constexpr uint32_t kZTCodeScanFinished = 15;
constexpr uint32_t kZTCodeJobFinished = 36;  // the job, 0
constexpr uint32_t kZTCodeProgress = 37;     // 0, percent or units done
constexpr uint32_t kZTCodeBrowsed = 41;      // record ID, percent or index

class ZTThread {
  public:
    ZTThread(ZTFile* file, bool threaded);
    virtual ~ZTThread();
    ZTThread(const ZTThread&) = delete;
    ZTThread& operator=(const ZTThread&) = delete;

    // The work.
    virtual void run() = 0;
    // Stores the callback and its context and runs the work: inline before it returns, or on a
    // new thread (after waiting for a previous run). False when the job has no file or no thread
    // could be started.
    virtual bool start(ZTCallback callback, void* context);

    // Waits for the job, then binds it to file: a threaded job to its own duplicate (null when
    // none can be had), else to file itself.
    void setFile(ZTFile* file, bool threaded);
    ZTFile* getThreadFile() const { return file_; }
    bool ownsFile() const { return ownsFile_; }
    bool isThreaded() const { return threaded_; }
    bool isRunning() const { return running_.load(); }
    bool hasCallback() const { return callback_ != nullptr; }
    // A thread of this job exists and has not ended.
    bool isActive();

    // Calls the callback with the context (0 without one); -1 clears the running flag.
    uint32_t notify(uint32_t code, uintptr_t a, uintptr_t b);
    // Clears the running flag and waits until no thread of this job is left.
    void waitForEnd();
    void stop() { waitForEnd(); }

    // The job's own lock (recursive); nothing when not threaded.
    void enterCritical();
    void leaveCritical();

    // Between rows of long locked work: when the database's counted lock is held at depth 1 and
    // 2 seconds have passed since the last yield, the lock is given up for 150 ms. 0 nothing
    // done, 1 yielded (others may have written: what was read under the lock is stale), -1 the
    // lock could not be had again (the work must end).
    int yieldLock();

    // Waits until ready() holds or the job is asked to stop; ready()'s last answer. Anyone who
    // changes what ready() tests calls wake().
    bool waitUntil(const std::function<bool()>& ready);
    void wake();
    // What the waits call instead of sleeping on their condition variable (null: sleep).
    void setWaitHook(ZTLockWaitHook hook, void* context);

    static constexpr int kYieldEveryMilliseconds = 2000;
    static constexpr int kYieldPauseMilliseconds = 150;
    static constexpr int kWaitStepMilliseconds = 50;

  protected:
    std::atomic<bool> running_{false};

  private:
    void body();
    void dropFile();
    // Waits one step for the condition variable or the hook; the caller holds lock.
    void waitStep(std::unique_lock<std::mutex>& lock);

    ZTFile* file_ = nullptr;
    bool ownsFile_ = false;
    bool threaded_ = false;
    ZTCallback callback_ = nullptr;
    void* context_ = nullptr;
    std::chrono::steady_clock::time_point lastYield_{};

    std::mutex stateLock_;  // guards the thread handle
    std::condition_variable changed_;
    std::thread thread_;
    bool active_ = false;  // the handle is set: the thread has not passed its end
    std::recursive_mutex critical_;
    ZTLockWaitHook waitHook_ = nullptr;
    void* waitContext_ = nullptr;
};
