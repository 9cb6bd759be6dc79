#pragma once
// Key codes as the views test them: a virtual key number plus modifier bits. The numbers are
// the program's own, kept as its macros and layouts store them.

#include <cstdint>

namespace qv {

using KeyCode = uint32_t;

constexpr KeyCode kKeyBackspace = 0x08;
constexpr KeyCode kKeyTab = 0x09;
constexpr KeyCode kKeyEnter = 0x0D;
constexpr KeyCode kKeyShiftKey = 0x10;  // the modifier keys themselves
constexpr KeyCode kKeyCtrlKey = 0x11;
constexpr KeyCode kKeyAltKey = 0x12;
constexpr KeyCode kKeyEscape = 0x1B;
constexpr KeyCode kKeySpace = 0x20;
constexpr KeyCode kKeyPageUp = 0x21;
constexpr KeyCode kKeyPageDown = 0x22;
constexpr KeyCode kKeyEnd = 0x23;
constexpr KeyCode kKeyHome = 0x24;
constexpr KeyCode kKeyLeft = 0x25;
constexpr KeyCode kKeyUp = 0x26;
constexpr KeyCode kKeyRight = 0x27;
constexpr KeyCode kKeyDown = 0x28;
constexpr KeyCode kKeyInsert = 0x2D;
constexpr KeyCode kKeyDelete = 0x2E;
constexpr KeyCode kKey0 = 0x30;   // to 0x39
constexpr KeyCode kKeyA = 0x41;   // to 0x5A
constexpr KeyCode kKeyF1 = 0x70;  // to F24, 0x87

constexpr KeyCode kKeyShift = 0x100;
constexpr KeyCode kKeyAlt = 0x200;
constexpr KeyCode kKeyCtrl = 0x400;

}  // namespace qv
