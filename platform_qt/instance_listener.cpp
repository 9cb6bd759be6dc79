#include "platform_qt/instance_listener.h"

#include <QSocketNotifier>

namespace qv {

InstanceListener::InstanceListener(std::unique_ptr<InstanceServer> server)
    : server_(std::move(server)),
      notifier_(std::make_unique<QSocketNotifier>(server_->socketFd(), QSocketNotifier::Read)) {
    server_->setOnHandoff([this] {
        if (onHandoff_) onHandoff_();
    });
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { serve(); });
}

InstanceListener::~InstanceListener() {
    notifier_.reset();  // before the server closes the socket it watches
}

void InstanceListener::setOnHandoff(std::function<void()> onHandoff) {
    onHandoff_ = std::move(onHandoff);
}

void InstanceListener::serve() {
    notifier_->setEnabled(false);
    server_->servePending();
    notifier_->setEnabled(true);
}

}  // namespace qv
