#pragma once
// The message pump of the Qt event loop: messages are delivered by the user-interface thread's
// event loop, also inside modal dialogs and other nested loops. Needs a QCoreApplication (or a
// subclass) made before it, on the same thread.

#include <memory>

#include "platform_qt/message_pump.h"

namespace qv {

class QtMessagePump : public MessagePump {
  public:
    QtMessagePump();
    ~QtMessagePump() override;

    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds::max()) override;

  protected:
    void signalUiThread() override;

  private:
    class Dispatcher;
    std::unique_ptr<Dispatcher> dispatcher_;
};

}  // namespace qv
