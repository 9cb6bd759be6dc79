#include "platform_qt/qt_message_pump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

namespace qv {

namespace {

// Messages are delivered in batches so that input and painting still get their turn when a
// worker floods the window thread.
constexpr size_t kBatch = 256;

QEvent::Type wakeEventType() {
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

}  // namespace

class QtMessagePump::Dispatcher : public QObject {
  public:
    explicit Dispatcher(QtMessagePump& pump) : pump_(pump) {}

    bool event(QEvent* e) override {
        if (e->type() != wakeEventType()) return QObject::event(e);
        pump_.dispatch(kBatch);
        return true;
    }

  private:
    QtMessagePump& pump_;
};

QtMessagePump::QtMessagePump() : dispatcher_(std::make_unique<Dispatcher>(*this)) {
    wakeEventType();  // registered here, not first on a worker
}

QtMessagePump::~QtMessagePump() {
    close();  // no signal reaches the dispatcher after this
    dispatcher_.reset();
}

void QtMessagePump::signalUiThread() {
    QCoreApplication::postEvent(dispatcher_.get(), new QEvent(wakeEventType()));
}

bool QtMessagePump::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    if (done()) return true;
    const auto until = timeout == std::chrono::milliseconds::max() ? Clock::time_point::max()
                                                                   : Clock::now() + timeout;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(2);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || Clock::now() >= until) loop.quit();
    });
    tick.start();
    loop.exec();
    return done();
}

}  // namespace qv
