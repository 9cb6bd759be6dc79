#include "platform_qt/application.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace qv {

namespace {

bool isSet(const char* value) {
    return value && *value;
}

}  // namespace

Application::Application() : active_(QGuiApplication::applicationState() == Qt::ApplicationActive) {
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, this,
                     [this](Qt::ApplicationState state) { stateChanged(state); });
}

void Application::setTitle(std::string_view title) {
    QGuiApplication::setApplicationDisplayName(
        QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
}

std::string Application::title() const {
    return QGuiApplication::applicationDisplayName().toStdString();
}

void Application::stateChanged(Qt::ApplicationState state) {
    // Inactive, hidden and suspended all mean another program has the user now: one event for
    // the change, not one for each of them.
    const bool active = state == Qt::ApplicationActive;
    if (active == active_) return;
    active_ = active;
    const std::function<void()>& handler = active ? onActivate_ : onDeactivate_;
    if (handler) handler();
}

QSize Application::screenSize() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(800, 600);  // Qt's size of a screen it cannot see
}

void Application::bringToFront(QWidget& window) {
    if (window.isMinimized()) window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

std::optional<std::string> Application::platformFor(const char* qpaPlatform, const char* display,
                                                    const char* waylandDisplay) {
    if (isSet(qpaPlatform) || !isSet(display) || isSet(waylandDisplay)) return std::nullopt;
    return "xcb";
}

}  // namespace qv
