#pragma once
// The message pump without a window system, for tests of models: the test's own thread is the
// user-interface thread and delivers messages when it calls processMessages or runUntil.

#include "platform_qt/message_pump.h"

namespace qv {

class HeadlessPump : public MessagePump {
  public:
    // Delivers every pending message, and those that handlers post meanwhile. Returns the
    // number of posted messages delivered.
    size_t processMessages();
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds::max()) override;

  protected:
    void signalUiThread() override;
};

}  // namespace qv
