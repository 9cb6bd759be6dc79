// Stored colours, fonts and cursors to and from Qt's.

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGuiApplication>
#include <QPixmap>

#include "platform_qt/qt_look.h"

namespace {

TEST(LookTest, ColorWordsAreRedInTheLowByte) {
    struct Case {
        qv::ColorWord word;
        QColor color;
    } cases[] = {
        {0x000000, QColor(0, 0, 0)},          {0x0000FF, QColor(255, 0, 0)},
        {0xFF0000, QColor(0, 0, 255)},        {0x800000, QColor(0, 0, 128)},
        {0x008080, QColor(128, 128, 0)},      {0xC0C0C0, QColor(192, 192, 192)},
        {0x123456, QColor(0x56, 0x34, 0x12)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(qv::colorFromWord(c.word), c.color);
        EXPECT_EQ(qv::wordFromColor(c.color), c.word);
    }
    EXPECT_EQ(qv::colorFromWord(0x80FF0000), QColor(0, 0, 255));   // high byte ignored
    EXPECT_EQ(qv::wordFromColor(QColor(1, 2, 3, 40)), 0x030201u);  // alpha dropped
    EXPECT_EQ(qv::wordFromColor(QColor::fromHsv(240, 255, 255)), 0xFF0000u);
}

TEST(LookTest, SystemColorsComeFromThePalette) {
    QPalette palette;
    int shade = 10;
    const QPalette::ColorRole roles[] = {
        QPalette::Button,          QPalette::Light, QPalette::Dark,       QPalette::Highlight,
        QPalette::HighlightedText, QPalette::Text,  QPalette::ToolTipBase};
    for (QPalette::ColorRole role : roles) {
        palette.setColor(QPalette::Active, role, QColor(shade, 0, 0));
        palette.setColor(QPalette::Disabled, role, QColor(0, shade, 0));
        shade += 10;
    }
    using S = qv::SystemColor;
    EXPECT_EQ(qv::systemColor(S::ButtonFace, palette), QColor(10, 0, 0));
    EXPECT_EQ(qv::systemColor(S::ButtonHighlight, palette), QColor(20, 0, 0));
    EXPECT_EQ(qv::systemColor(S::ButtonShadow, palette), QColor(30, 0, 0));
    EXPECT_EQ(qv::systemColor(S::Highlight, palette), QColor(40, 0, 0));
    EXPECT_EQ(qv::systemColor(S::HighlightText, palette), QColor(50, 0, 0));
    EXPECT_EQ(qv::systemColor(S::GrayText, palette), QColor(0, 60, 0));  // disabled text
    EXPECT_EQ(qv::systemColor(S::InfoBackground, palette), QColor(70, 0, 0));
    EXPECT_EQ(qv::systemColor(S::Highlight),
              QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight));
}

TEST(LookTest, StoredFontsRoundTrip) {
    const qv::StoredFont cases[] = {
        {"DejaVu Sans", 8, 0},
        {"DejaVu Serif", 12, qv::kFontBold | qv::kFontItalic},
        {"DejaVu Sans Mono", 10, qv::kFontUnderline | qv::kFontStrikeOut},
        {"DejaVu Sans", 1000, 15},
    };
    for (const qv::StoredFont& stored : cases) {
        SCOPED_TRACE(stored.name);
        const QFont font = qv::fontFromStored(stored);
        EXPECT_EQ(QFontInfo(font).family(), QString::fromStdString(stored.name));
        EXPECT_EQ(font.pointSize(), stored.size);
        EXPECT_EQ(qv::storedFromFont(font), stored);
    }
}

TEST(LookTest, MissingFaceFallsBackToTheDefaultAndKeepsItsName) {
    const QString defaultFace = QFontInfo(QGuiApplication::font()).family();
    for (const char* name : {"MS Sans Serif", "No Such Face 7"}) {
        SCOPED_TRACE(name);
        const qv::StoredFont stored{name, 9, qv::kFontBold};
        const QFont font = qv::fontFromStored(stored);
        EXPECT_EQ(QFontInfo(font).family(), defaultFace);
        EXPECT_TRUE(QFontInfo(font).bold());
        EXPECT_EQ(qv::storedFromFont(font), stored);
    }
    // Sizes no font has take the default size.
    const int defaultSize = QGuiApplication::font().pointSize();
    for (int size : {0, -8, 1001}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(qv::fontFromStored({"DejaVu Sans", size, 0}).pointSize(), defaultSize);
    }
    EXPECT_EQ(QFontInfo(qv::fontFromStored({"", 10, 0})).family(), defaultFace);
}

TEST(LookTest, CursorNumbersMapToQtCursors) {
    struct Case {
        int number;
        Qt::CursorShape shape;
    } cases[] = {
        {qv::kCursorDefault, Qt::ArrowCursor},
        {qv::kCursorHand, Qt::PointingHandCursor},
        {qv::kCursorNoDrop, Qt::ForbiddenCursor},
        {qv::kCursorDragUp, Qt::BitmapCursor},
        {qv::kCursorDragDown, Qt::BitmapCursor},
        {-99, Qt::ArrowCursor},
        {12345, Qt::ArrowCursor},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(qv::cursorFor(c.number).shape(), c.shape);
    }
    // The drag cursors are arrows pointing at the upper and lower edge of the row.
    const QCursor up = qv::cursorFor(qv::kCursorDragUp), down = qv::cursorFor(qv::kCursorDragDown);
    ASSERT_FALSE(up.pixmap().isNull());
    ASSERT_FALSE(down.pixmap().isNull());
    EXPECT_NE(up.pixmap().toImage(), down.pixmap().toImage());
    EXPECT_EQ(up.pixmap().toImage().mirrored(false, true), down.pixmap().toImage());
    EXPECT_LT(up.hotSpot().y(), 4);
    EXPECT_GT(down.hotSpot().y(), up.pixmap().height() - 4);
}

}  // namespace
