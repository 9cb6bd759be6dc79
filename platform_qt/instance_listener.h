#pragma once
// The first instance's side of the single-instance handoff, on the user-interface thread: when
// a later start connects, the event loop serves it there, so the handoff callback runs where the
// windows live (it sends 0x8087 to the main window) and the later start waits until it returned.
// While one handoff is served (the callback may run a modal dialog) no other begins; the next
// is served when the event loop is back.

#include <functional>
#include <memory>

#include "platform/single_instance.h"

class QSocketNotifier;

namespace qv {

class InstanceListener {
  public:
    // Made on the user-interface thread, after the QCoreApplication.
    explicit InstanceListener(std::unique_ptr<InstanceServer> server);
    ~InstanceListener();
    InstanceListener(const InstanceListener&) = delete;
    InstanceListener& operator=(const InstanceListener&) = delete;

    // Runs once for each later start.
    void setOnHandoff(std::function<void()> onHandoff);

  private:
    void serve();

    std::unique_ptr<InstanceServer> server_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onHandoff_;
};

}  // namespace qv
