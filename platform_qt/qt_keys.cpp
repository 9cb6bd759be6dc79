#include "platform_qt/qt_keys.h"

#include "platform/ansi_text.h"

namespace qv {

namespace {

KeyCode virtualKey(int key) {
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return KeyCode(key);  // the same numbers
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return kKeyF1 + KeyCode(key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Backspace:
            return kKeyBackspace;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:  // Shift+Tab: the shift is in the modifiers
            return kKeyTab;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kKeyEnter;
        case Qt::Key_Shift:
            return kKeyShiftKey;
        case Qt::Key_Control:
            return kKeyCtrlKey;
        case Qt::Key_Alt:
            return kKeyAltKey;
        case Qt::Key_Escape:
            return kKeyEscape;
        case Qt::Key_Space:
            return kKeySpace;
        case Qt::Key_PageUp:
            return kKeyPageUp;
        case Qt::Key_PageDown:
            return kKeyPageDown;
        case Qt::Key_End:
            return kKeyEnd;
        case Qt::Key_Home:
            return kKeyHome;
        case Qt::Key_Left:
            return kKeyLeft;
        case Qt::Key_Up:
            return kKeyUp;
        case Qt::Key_Right:
            return kKeyRight;
        case Qt::Key_Down:
            return kKeyDown;
        case Qt::Key_Insert:
            return kKeyInsert;
        case Qt::Key_Delete:
            return kKeyDelete;
        default:
            return 0;
    }
}

}  // namespace

KeyStroke keyStrokeOf(const QKeyEvent& event) {
    KeyStroke stroke;
    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    const int key = event.key();
    if (KeyCode vk = virtualKey(key)) {
        stroke.code = vk | (shift ? kKeyShift : 0) | (alt ? kKeyAlt : 0) | (ctrl ? kKeyCtrl : 0);
    }

    // The character: control keys type their control character, Ctrl with a letter its control
    // code, Alt alone nothing (it opens menus); otherwise the text the key types, when the code
    // page has it.
    if (alt && !ctrl) return stroke;
    switch (stroke.code & 0xFF) {
        case kKeyBackspace:
        case kKeyTab:
        case kKeyEnter:
        case kKeyEscape:
            if (stroke.code) stroke.character = static_cast<unsigned char>(stroke.code & 0xFF);
            return stroke;
        default:
            break;
    }
    if (ctrl && !alt) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            stroke.character = static_cast<unsigned char>(key - Qt::Key_A + 1);
        return stroke;
    }
    const QList<uint> text = event.text().toUcs4();
    if (text.size() == 1 && text.front() >= 0x20) {
        const int byte = codePointToAnsi(char32_t(text.front()));
        if (byte >= 0x20 && byte != 0x7F) stroke.character = static_cast<unsigned char>(byte);
    }
    return stroke;
}

bool deliverKey(const QKeyEvent& event, const std::function<bool(KeyCode)>& keyDown,
                const std::function<bool(unsigned char)>& keyPress) {
    const KeyStroke stroke = keyStrokeOf(event);
    bool handled = stroke.code != 0 && keyDown(stroke.code);
    if (stroke.character) handled = keyPress(*stroke.character) || handled;
    return handled;
}

}  // namespace qv
