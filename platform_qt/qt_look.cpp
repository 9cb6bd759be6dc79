#include "platform_qt/qt_look.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>

namespace qv {

QColor colorFromWord(ColorWord word) {
    return QColor(int(word & 0xFF), int(word >> 8 & 0xFF), int(word >> 16 & 0xFF));
}

ColorWord wordFromColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return ColorWord(rgb.red()) | ColorWord(rgb.green()) << 8 | ColorWord(rgb.blue()) << 16;
}

QColor systemColor(SystemColor which) {
    return systemColor(which, QGuiApplication::palette());
}

QColor systemColor(SystemColor which, const QPalette& palette) {
    switch (which) {
        case SystemColor::ButtonFace:
            return palette.color(QPalette::Active, QPalette::Button);
        case SystemColor::ButtonHighlight:
            return palette.color(QPalette::Active, QPalette::Light);
        case SystemColor::ButtonShadow:
            return palette.color(QPalette::Active, QPalette::Dark);
        case SystemColor::Highlight:
            return palette.color(QPalette::Active, QPalette::Highlight);
        case SystemColor::HighlightText:
            return palette.color(QPalette::Active, QPalette::HighlightedText);
        case SystemColor::GrayText:
            return palette.color(QPalette::Disabled, QPalette::Text);
        case SystemColor::InfoBackground:
            return palette.color(QPalette::Active, QPalette::ToolTipBase);
    }
    return palette.color(QPalette::Active, QPalette::Window);
}

QFont fontFromStored(const StoredFont& stored) {
    const QFont fallback = QGuiApplication::font();
    QFont font = fallback;
    const QString name = QString::fromStdString(stored.name);
    if (!name.isEmpty()) font.setFamilies({name, fallback.family()});
    if (stored.size >= 1 && stored.size <= 1000) font.setPointSize(stored.size);
    font.setBold(stored.style & kFontBold);
    font.setItalic(stored.style & kFontItalic);
    font.setUnderline(stored.style & kFontUnderline);
    font.setStrikeOut(stored.style & kFontStrikeOut);
    return font;
}

StoredFont storedFromFont(const QFont& font) {
    StoredFont stored;
    const QStringList families = font.families();
    stored.name = (families.isEmpty() ? font.family() : families.front()).toStdString();
    stored.size = font.pointSize() > 0 ? font.pointSize() : QGuiApplication::font().pointSize();
    stored.style = (font.bold() ? kFontBold : 0) | (font.italic() ? kFontItalic : 0) |
                   (font.underline() ? kFontUnderline : 0) |
                   (font.strikeOut() ? kFontStrikeOut : 0);
    return stored;
}

namespace {

// The drag cursors: an arrow pointing up or down to the edge of the row a drop would go to,
// drawn here rather than read from a file.
QCursor dragCursor(bool up) {
    constexpr int kSize = 32;
    QPixmap image(kSize, kSize);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, false);
        QPolygon arrow;
        arrow << QPoint(16, 2) << QPoint(26, 12) << QPoint(20, 12) << QPoint(20, 26)
              << QPoint(12, 26) << QPoint(12, 12) << QPoint(6, 12);
        if (!up) {
            for (QPoint& pt : arrow) pt.setY(kSize - 1 - pt.y());
        }
        p.setPen(QPen(Qt::white, 1));
        p.setBrush(Qt::black);
        p.drawPolygon(arrow);
        p.fillRect(QRect(4, up ? 0 : kSize - 2, kSize - 8, 2), Qt::black);  // the row's edge
    }
    return QCursor(image, 16, up ? 1 : kSize - 2);
}

}  // namespace

QCursor cursorFor(int number) {
    switch (number) {
        case kCursorHand:
            return QCursor(Qt::PointingHandCursor);
        case kCursorNoDrop:
            return QCursor(Qt::ForbiddenCursor);
        case kCursorDragUp:
            return dragCursor(true);
        case kCursorDragDown:
            return dragCursor(false);
        default:
            return QCursor(Qt::ArrowCursor);
    }
}

}  // namespace qv
