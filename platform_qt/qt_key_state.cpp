#include "platform_qt/qt_key_state.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include "platform_qt/qt_keys.h"

namespace qv {

QtKeyState::QtKeyState() {
    qApp->installEventFilter(this);
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, this,
                     [this](Qt::ApplicationState state) {
                         if (state != Qt::ApplicationActive) held_.clear();
                     });
}

QtKeyState::~QtKeyState() {
    if (qApp) qApp->removeEventFilter(this);
}

bool QtKeyState::isDown(int virtualKey) const {
    switch (virtualKey) {
        case key::kShift:
            return QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
        case key::kControl:
            return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
        case key::kAlt:
            return QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier;
        case key::kLeftButton:
            return QGuiApplication::mouseButtons() & Qt::LeftButton;
        case key::kRightButton:
            return QGuiApplication::mouseButtons() & Qt::RightButton;
        case key::kMiddleButton:
            return QGuiApplication::mouseButtons() & Qt::MiddleButton;
        default:
            return held_.count(virtualKey) != 0;
    }
}

bool QtKeyState::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        // A key event travels to the window and then to the widget (and on to its parents
        // while ignored): each one says the same, so keeping a set makes repeats harmless.
        const auto* keyEvent = static_cast<const QKeyEvent*>(event);
        if (!keyEvent->isAutoRepeat()) {
            const int vk =
                virtualKeyOf(keyEvent->key(), keyEvent->modifiers() & Qt::KeypadModifier);
            if (vk != 0) {
                if (type == QEvent::KeyPress)
                    held_.insert(vk);
                else
                    held_.erase(vk);
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace qv
