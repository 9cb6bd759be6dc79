#pragma once
// Stored colours, fonts and cursors to and from Qt's.

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QPalette>

#include "platform_qt/look.h"

namespace qv {

// The high byte of a colour word is not part of the colour and is ignored.
QColor colorFromWord(ColorWord word);
// Alpha is dropped: stored colours are solid.
ColorWord wordFromColor(const QColor& color);
// The colour of the palette (by default the application's) for the system colour.
QColor systemColor(SystemColor which);
QColor systemColor(SystemColor which, const QPalette& palette);

// The font for a stored one. A face that is not installed falls back to the application's
// default face, while the font still names the stored face, so that storedFromFont gives it
// back unchanged. A size outside 1..1000 points takes the default font's size.
QFont fontFromStored(const StoredFont& stored);
StoredFont storedFromFont(const QFont& font);

// The Qt cursor for a cursor number; an unknown number gives the arrow.
QCursor cursorFor(int number);

}  // namespace qv
