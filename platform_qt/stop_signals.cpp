#include "platform_qt/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

namespace qv {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the pipe, for the handler; -1 while no StopSignals exists.
std::atomic<int> gWriteFd{-1};
struct sigaction gFormer[std::size(kSignals)];

void onSignal(int) {
    const int saved = errno;
    const int fd = gWriteFd.load();
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already holds a stop that has not been read: nothing is lost.
        [[maybe_unused]] ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
    if (gWriteFd.load() >= 0 || ::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    gWriteFd.store(pipe_[1]);
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &gFormer[i]);
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[64];
        bool stopped = false;
        while (::read(pipe_[0], bytes, sizeof bytes) > 0) stopped = true;
        if (stopped && onStop_) onStop_();
    });
}

StopSignals::~StopSignals() {
    if (notifier_) {
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &gFormer[i], nullptr);
        gWriteFd.store(-1);
        notifier_.reset();
    }
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

}  // namespace qv
