#pragma once
// A re-entrant lock that lives as long as the process.
//
// The table library guards its process-wide state (memory pools, the key
// evaluator's shared buffers) with locks that any thread may take at any time,
// even while another thread is tearing its last environment down. Such a lock
// is therefore made on first use and never destroyed: no thread can ever meet
// a dead lock, and a thread may take it again while it already holds it.
#include <mutex>

namespace qv {

class ProcessLock {
  public:
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool try_lock() { return mutex_.try_lock(); }

    // The process's lock named by Slot; the same object for every caller.
    template <int Slot>
    static ProcessLock& get() {
        static ProcessLock* lock = new ProcessLock;  // never destroyed, on purpose
        return *lock;
    }

  private:
    ProcessLock() = default;
    std::recursive_mutex mutex_;
};

}  // namespace qv
