#include "platform/key_codes.h"

#include <gtest/gtest.h>

namespace {

namespace key = qv::key;

TEST(KeyCodes, CombinationsHaveTheNumbersStoredInMacrosAndCompareByTheViews) {
    struct Case {
        const char* what;
        int code;
        int expected;
    };
    const Case cases[] = {
        {"Ctrl+Enter", key::code(key::kReturn, false, false, true), 0x40D},
        {"Shift+PgUp", key::code(key::kPageUp, true, false, false), 0x121},
        {"Alt+Down", key::code(key::kDown, false, true, false), 0x228},
        {"Ctrl+Shift+Tab", key::code(key::kTab, true, false, true), 0x509},
        {"Ctrl+Home", key::code(key::kHome, false, false, true), 0x424},
        {"Insert", key::code(key::kInsert, false, false, false), 0x2D},
        {"Delete", key::kDelete, 0x2E},
        {"Escape", key::kEscape, 0x1B},
        {"Space", key::kSpace, 0x20},
        {"F1", key::function(1), 0x70},
        {"F4", key::function(4), 0x73},
        {"F16", key::function(16), 0x7F},
        {"digit 7", key::digit(7), 0x37},
        {"letter Z", key::letter('Z'), 0x5A},
        {"number pad 9", key::kNumPad0 + 9, 0x69},
        {"all modifiers over A", key::code('A', true, true, true), 0x741},
    };
    for (const Case& c : cases) EXPECT_EQ(c.code, c.expected) << c.what;
    EXPECT_EQ(key::virtualKeyOf(0x509), key::kTab);
    EXPECT_EQ(key::modifiersOf(0x509), key::kShiftBit | key::kCtrlBit);
}

TEST(KeyCodes, FakeKeyStateHoldsWhatTheTestPresses) {
    qv::FakeKeyState keys;
    const qv::KeyState& state = keys;
    EXPECT_FALSE(state.isDown(key::kControl));
    keys.press(key::kControl);
    keys.press(key::kAlt);
    EXPECT_TRUE(state.isDown(key::kControl));
    EXPECT_TRUE(state.isDown(key::kAlt));
    keys.release(key::kControl);
    EXPECT_FALSE(state.isDown(key::kControl));
    keys.releaseAll();
    EXPECT_FALSE(state.isDown(key::kAlt));
}

}  // namespace
