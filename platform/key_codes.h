#pragma once
// Key codes as the views compare them: the virtual-key number of the key plus a bit for each
// modifier held (0x100 Shift, 0x200 Alt, 0x400 Ctrl). The numbers are the ones stored in macros
// and handed between the views, so they keep their values; the desktop maps its key events
// onto them. KeyState answers whether a key is held at this moment (Ctrl or Alt held while the
// main window starts resets stored settings; macros test modifiers while they replay).

#include <set>

namespace qv::key {

inline constexpr int kLeftButton = 0x01;
inline constexpr int kRightButton = 0x02;
inline constexpr int kCancel = 0x03;  // Ctrl-Break
inline constexpr int kMiddleButton = 0x04;
inline constexpr int kBackspace = 0x08;
inline constexpr int kTab = 0x09;
inline constexpr int kClear = 0x0C;  // 5 on the number pad without Num Lock
inline constexpr int kReturn = 0x0D;
inline constexpr int kShift = 0x10;
inline constexpr int kControl = 0x11;
inline constexpr int kAlt = 0x12;
inline constexpr int kPause = 0x13;
inline constexpr int kCapsLock = 0x14;
inline constexpr int kEscape = 0x1B;
inline constexpr int kSpace = 0x20;
inline constexpr int kPageUp = 0x21;
inline constexpr int kPageDown = 0x22;
inline constexpr int kEnd = 0x23;
inline constexpr int kHome = 0x24;
inline constexpr int kLeft = 0x25;
inline constexpr int kUp = 0x26;
inline constexpr int kRight = 0x27;
inline constexpr int kDown = 0x28;
inline constexpr int kPrintScreen = 0x2C;
inline constexpr int kInsert = 0x2D;
inline constexpr int kDelete = 0x2E;
inline constexpr int kNumPad0 = 0x60;  // to kNumPad9 = 0x69
inline constexpr int kNumPadMultiply = 0x6A;
inline constexpr int kNumPadAdd = 0x6B;
inline constexpr int kNumPadSubtract = 0x6D;
inline constexpr int kNumPadDecimal = 0x6E;
inline constexpr int kNumPadDivide = 0x6F;
inline constexpr int kNumLock = 0x90;
inline constexpr int kScrollLock = 0x91;

// '0'..'9' are 0x30..0x39 and 'A'..'Z' are 0x41..0x5A, the characters' own codes.
constexpr int digit(int n) {
    return 0x30 + n;
}
constexpr int letter(char upper) {
    return upper;
}
// F1 is 0x70, up to F24 at 0x87.
constexpr int function(int n) {
    return 0x6F + n;
}

inline constexpr int kShiftBit = 0x100;
inline constexpr int kAltBit = 0x200;
inline constexpr int kCtrlBit = 0x400;
inline constexpr int kModifierBits = kShiftBit | kAltBit | kCtrlBit;

constexpr int code(int virtualKey, bool shift, bool alt, bool ctrl) {
    return (virtualKey & 0xFF) | (shift ? kShiftBit : 0) | (alt ? kAltBit : 0) |
           (ctrl ? kCtrlBit : 0);
}
constexpr int virtualKeyOf(int keyCode) {
    return keyCode & 0xFF;
}
constexpr int modifiersOf(int keyCode) {
    return keyCode & kModifierBits;
}

}  // namespace qv::key

namespace qv {

class KeyState {
  public:
    virtual ~KeyState() = default;
    // True while the key (a virtual-key number, no modifier bits) is held down.
    virtual bool isDown(int virtualKey) const = 0;
};

// Keys held by the test's say-so.
class FakeKeyState : public KeyState {
  public:
    void press(int virtualKey) { held_.insert(virtualKey); }
    void release(int virtualKey) { held_.erase(virtualKey); }
    void releaseAll() { held_.clear(); }
    bool isDown(int virtualKey) const override { return held_.count(virtualKey) != 0; }

  private:
    std::set<int> held_;
};

}  // namespace qv
