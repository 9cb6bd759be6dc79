#include "platform_qt/qt_keys.h"

#include "platform/ansi_text.h"

namespace qv {

int virtualKeyOf(int qtKey, bool keypad) {
    if (keypad) {
        // Digits and operators of the number pad (with Num Lock on); its other keys are the
        // arrows, Home, End and the rest, as on the main block.
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return key::kNumPad0 + (qtKey - Qt::Key_0);
        switch (qtKey) {
            case Qt::Key_Asterisk:
                return key::kNumPadMultiply;
            case Qt::Key_Plus:
                return key::kNumPadAdd;
            case Qt::Key_Minus:
                return key::kNumPadSubtract;
            case Qt::Key_Period:
            case Qt::Key_Comma:  // the decimal key of keyboards that write a comma
                return key::kNumPadDecimal;
            case Qt::Key_Slash:
                return key::kNumPadDivide;
            default:
                break;
        }
    }
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return qtKey;  // the same numbers
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return key::function(1 + qtKey - Qt::Key_F1);
    switch (qtKey) {
        case Qt::Key_Cancel:
            return key::kCancel;
        case Qt::Key_Backspace:
            return key::kBackspace;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:  // Shift+Tab: the shift is in the modifiers
            return key::kTab;
        case Qt::Key_Clear:
            return key::kClear;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return key::kReturn;
        case Qt::Key_Shift:
            return key::kShift;
        case Qt::Key_Control:
            return key::kControl;
        case Qt::Key_Alt:
            return key::kAlt;
        case Qt::Key_Pause:
            return key::kPause;
        case Qt::Key_CapsLock:
            return key::kCapsLock;
        case Qt::Key_Escape:
            return key::kEscape;
        case Qt::Key_Space:
            return key::kSpace;
        case Qt::Key_PageUp:
            return key::kPageUp;
        case Qt::Key_PageDown:
            return key::kPageDown;
        case Qt::Key_End:
            return key::kEnd;
        case Qt::Key_Home:
            return key::kHome;
        case Qt::Key_Left:
            return key::kLeft;
        case Qt::Key_Up:
            return key::kUp;
        case Qt::Key_Right:
            return key::kRight;
        case Qt::Key_Down:
            return key::kDown;
        case Qt::Key_Print:
            return key::kPrintScreen;
        case Qt::Key_Insert:
            return key::kInsert;
        case Qt::Key_Delete:
            return key::kDelete;
        case Qt::Key_NumLock:
            return key::kNumLock;
        case Qt::Key_ScrollLock:
            return key::kScrollLock;
        default:
            return 0;
    }
}

KeyStroke keyStrokeOf(const QKeyEvent& event) {
    KeyStroke stroke;
    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    const int qtKey = event.key();
    if (int vk = virtualKeyOf(qtKey, mods & Qt::KeypadModifier))
        stroke.code = key::code(vk, shift, alt, ctrl);

    // The character: control keys type their control character, Ctrl with a letter its control
    // code, Alt alone nothing (it opens menus); otherwise the text the key types, when the code
    // page has it.
    if (alt && !ctrl) return stroke;
    switch (key::virtualKeyOf(stroke.code)) {
        case key::kBackspace:
        case key::kTab:
        case key::kReturn:
        case key::kEscape:
            if (stroke.code) stroke.character = static_cast<unsigned char>(stroke.code & 0xFF);
            return stroke;
        default:
            break;
    }
    if (ctrl && !alt) {
        if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
            stroke.character = static_cast<unsigned char>(qtKey - Qt::Key_A + 1);
        return stroke;
    }
    const QList<uint> text = event.text().toUcs4();
    if (text.size() == 1 && text.front() >= 0x20) {
        const int byte = codePointToAnsi(char32_t(text.front()));
        if (byte >= 0x20 && byte != 0x7F) stroke.character = static_cast<unsigned char>(byte);
    }
    return stroke;
}

bool deliverKey(const QKeyEvent& event, const std::function<bool(int)>& keyDown,
                const std::function<bool(unsigned char)>& keyPress) {
    const KeyStroke stroke = keyStrokeOf(event);
    bool handled = stroke.code != 0 && keyDown(stroke.code);
    if (stroke.character) handled = keyPress(*stroke.character) || handled;
    return handled;
}

}  // namespace qv
