#pragma once
// The program's stored forms of colours, fonts and cursors, without Qt: what preferences, label
// formats and layouts keep. qt_look.h turns them into Qt's.

#include <cstdint>
#include <string>

namespace qv {

// A colour word: 0x00BBGGRR, red in the low byte.
using ColorWord = uint32_t;

// The system colours the windows draw with, named by use.
enum class SystemColor {
    ButtonFace,       // faces of buttons and panels
    ButtonHighlight,  // the lit edge of a raised frame
    ButtonShadow,     // the shaded edge of a raised frame
    Highlight,        // background of selected items
    HighlightText,    // text of selected items
    GrayText,         // text that is only a hint or is disabled
    InfoBackground,   // background of hint windows
};

// Font style bits, as stored.
constexpr uint32_t kFontBold = 1;
constexpr uint32_t kFontItalic = 2;
constexpr uint32_t kFontUnderline = 4;
constexpr uint32_t kFontStrikeOut = 8;

// A font as stored: the face name (UTF-8; kept as written even when no such face is installed),
// the size in points and the style bits.
struct StoredFont {
    std::string name;
    int size = 0;
    uint32_t style = 0;
    bool operator==(const StoredFont&) const = default;
};

// Cursor numbers the windows ask for.
constexpr int kCursorDefault = 0;
constexpr int kCursorDragUp = -3;  // drop above the row
constexpr int kCursorHand = -10;   // over a link
constexpr int kCursorNoDrop = -13;
constexpr int kCursorDragDown = -17;  // drop below the row

}  // namespace qv
