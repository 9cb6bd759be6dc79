// Key events as the views see them: a key code first, then the character.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <string>
#include <vector>

#include "platform_qt/qt_keys.h"

namespace {

using qv::KeyCode;

TEST(KeysTest, KeyEventsBecomeKeyCodesAndCharacters) {
    constexpr int none = -1;
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        const char* text;  // UTF-8, as the desktop gives it
        KeyCode code;
        int character;
    } cases[] = {
        {Qt::Key_Return, Qt::NoModifier, "\r", 0x0D, 13},
        {Qt::Key_Enter, Qt::KeypadModifier, "\r", 0x0D, 13},
        {Qt::Key_Return, Qt::ControlModifier, "", 0x40D, 13},
        {Qt::Key_Backtab, Qt::ShiftModifier, "", 0x109, 9},
        {Qt::Key_Tab, Qt::ControlModifier, "", 0x409, 9},
        {Qt::Key_Escape, Qt::NoModifier, "\x1b", 0x1B, 27},
        {Qt::Key_Backspace, Qt::NoModifier, "\b", 0x08, 8},
        {Qt::Key_Space, Qt::NoModifier, " ", 0x20, ' '},
        {Qt::Key_PageUp, Qt::ShiftModifier, "", 0x121, none},
        {Qt::Key_PageDown, Qt::ControlModifier, "", 0x422, none},
        {Qt::Key_End, Qt::ControlModifier, "", 0x423, none},
        {Qt::Key_Home, Qt::ControlModifier, "", 0x424, none},
        {Qt::Key_Left, Qt::NoModifier, "", 0x25, none},
        {Qt::Key_Up, Qt::AltModifier, "", 0x226, none},
        {Qt::Key_Right, Qt::ControlModifier, "", 0x427, none},
        {Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier, "", 0x528, none},
        {Qt::Key_Insert, Qt::NoModifier, "", 0x2D, none},
        {Qt::Key_Delete, Qt::NoModifier, "\x7f", 0x2E, none},
        {Qt::Key_F1, Qt::NoModifier, "", 0x70, none},
        {Qt::Key_F4, Qt::NoModifier, "", 0x73, none},
        {Qt::Key_F24, Qt::NoModifier, "", 0x87, none},
        {Qt::Key_0, Qt::NoModifier, "0", 0x30, '0'},
        {Qt::Key_9, Qt::ControlModifier, "", 0x439, none},
        {Qt::Key_A, Qt::NoModifier, "a", 0x41, 'a'},
        {Qt::Key_A, Qt::ShiftModifier, "A", 0x141, 'A'},
        {Qt::Key_Z, Qt::ControlModifier, "\x1a", 0x45A, 26},
        {Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, "", 0x543, 3},
        {Qt::Key_E, Qt::AltModifier, "e", 0x245, none},  // Alt opens menus, types nothing
        {Qt::Key_Eacute, Qt::NoModifier, "é", 0, 0xE9},
        {Qt::Key_unknown, Qt::NoModifier, "€", 0, 0x80},
        {Qt::Key_unknown, Qt::NoModifier, "ж", 0, none},  // no place in the code page
        // Pressing a modifier key: Qt counts it as held, as the program always has.
        {Qt::Key_Control, Qt::NoModifier, "", 0x411, none},
        {Qt::Key_Shift, Qt::NoModifier, "", 0x110, none},
        {Qt::Key_Print, Qt::NoModifier, "", 0, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.key << " " << int(c.mods));
        QKeyEvent event(QEvent::KeyPress, c.key, c.mods, QString::fromUtf8(c.text));
        const qv::KeyStroke stroke = qv::keyStrokeOf(event);
        EXPECT_EQ(stroke.code, c.code);
        EXPECT_EQ(stroke.character ? int(*stroke.character) : none, c.character);
    }
}

// An edit that routes its keys through deliverKey, as the views' editors do.
class RoutedEdit : public QLineEdit {
  public:
    std::vector<std::string> log;
    KeyCode handleKey = 0;  // keyDown handles this code
    int swallowChar = -1;   // keyPress handles this character

  protected:
    void keyPressEvent(QKeyEvent* e) override {
        const bool handled = qv::deliverKey(
            *e,
            [&](KeyCode k) {
                log.push_back("down " + std::to_string(k));
                return k == handleKey;
            },
            [&](unsigned char c) {
                log.push_back(std::string("press ") + char(c));
                return int(c) == swallowChar;
            });
        if (!handled) QLineEdit::keyPressEvent(e);
    }
};

void press(QWidget* w, int key, Qt::KeyboardModifiers mods, const char* text) {
    QKeyEvent event(QEvent::KeyPress, key, mods, QString::fromUtf8(text));
    QApplication::sendEvent(w, &event);
}

TEST(KeysTest, KeyDownComesBeforeTheCharacterAndEitherMaySwallowTheKey) {
    RoutedEdit edit;
    edit.swallowChar = 'x';
    edit.handleKey = qv::kKeyA | qv::kKeyShift;
    press(&edit, Qt::Key_B, Qt::NoModifier, "b");
    press(&edit, Qt::Key_X, Qt::NoModifier, "x");
    press(&edit, Qt::Key_A, Qt::ShiftModifier, "A");
    press(&edit, Qt::Key_Left, Qt::NoModifier, "");
    press(&edit, Qt::Key_C, Qt::NoModifier, "c");
    EXPECT_EQ(edit.log,
              (std::vector<std::string>{"down 66", "press b", "down 88", "press x", "down 321",
                                        "press A", "down 37", "down 67", "press c"}));
    EXPECT_EQ(edit.text(), "cb");  // x and A swallowed; Left moved the caret before c
}

}  // namespace
