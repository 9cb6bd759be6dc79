#pragma once
// SIGTERM, SIGINT and SIGHUP (how the session, the terminal and `kill` ask a program to end)
// become one call on the user-interface thread, from its event loop, so that the program
// closes its main window as if the user had, instead of dying with its settings unwritten.
// One at a time per process; the signals' former handlers come back when it goes.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace qv {

class StopSignals {
  public:
    // Made on the user-interface thread, after the QCoreApplication.
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the signals could not be taken (they then keep their former handlers).
    bool installed() const { return notifier_ != nullptr; }

  private:
    std::function<void()> onStop_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace qv
