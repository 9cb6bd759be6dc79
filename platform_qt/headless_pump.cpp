#include "platform_qt/headless_pump.h"

#include <limits>

namespace qv {

size_t HeadlessPump::processMessages() {
    return dispatch(std::numeric_limits<size_t>::max());
}

bool HeadlessPump::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto until = timeout == std::chrono::milliseconds::max() ? Clock::time_point::max()
                                                                   : Clock::now() + timeout;
    for (;;) {
        processMessages();
        if (done()) return true;
        if (Clock::now() >= until) return false;
        waitForWork(until, true);
    }
}

void HeadlessPump::signalUiThread() {
    notifyWork();
}

}  // namespace qv
