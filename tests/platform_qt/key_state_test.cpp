// "Is this key held now" on Qt: modifiers from the window system, other keys from the key
// events our windows receive.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTest>
#include <QWidget>

#include "platform_qt/qt_key_state.h"

namespace {

namespace key = qv::key;

TEST(QtKeyStateTest, KeysAreHeldFromPressToRelease) {
    QWidget window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QWindow* handle = window.windowHandle();
    qv::QtKeyState keys;

    QTest::keyPress(handle, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(keys.isDown(key::letter('A')));
    EXPECT_TRUE(keys.isDown(key::kControl));
    EXPECT_FALSE(keys.isDown(key::kShift));
    EXPECT_FALSE(keys.isDown(key::kAlt));
    QTest::keyPress(handle, Qt::Key_5, Qt::KeypadModifier);
    EXPECT_TRUE(keys.isDown(key::kNumPad0 + 5));
    EXPECT_FALSE(keys.isDown(key::digit(5)));

    QTest::keyRelease(handle, Qt::Key_A, Qt::ControlModifier);
    QTest::keyRelease(handle, Qt::Key_5, Qt::KeypadModifier);
    EXPECT_FALSE(keys.isDown(key::letter('A')));
    EXPECT_FALSE(keys.isDown(key::kNumPad0 + 5));
}

TEST(QtKeyStateTest, NoKeyIsHeldOnceAnotherProgramHasTheKeyboard) {
    QWidget window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    qv::QtKeyState keys;
    QTest::keyPress(window.windowHandle(), Qt::Key_F4);
    EXPECT_TRUE(keys.isDown(key::function(4)));
    // Another program takes the keyboard (the offscreen platform never says so: the test does,
    // as the window system would); the key's release goes there.
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(keys.isDown(key::function(4)));
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
}

}  // namespace
