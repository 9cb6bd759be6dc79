#include "platform/ansi_text.h"

#include <gtest/gtest.h>

namespace {

TEST(AnsiText, EveryByteRoundTrips) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    auto back = qv::utf8ToAnsi(qv::ansiToUtf8(all));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, all);
}

TEST(AnsiText, KnownCharacters) {
    struct Case {
        std::string ansi;
        std::string utf8;
    } cases[] = {
        {"abc", "abc"},
        {"\x80", "\xE2\x82\xAC"},            // euro sign
        {"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},  // été
        {"\x9C", "\xC5\x93"},                // oe ligature
        {"\x81", "\xC2\x81"},                // undefined byte keeps its value
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qv::ansiToUtf8(c.ansi), c.utf8);
        EXPECT_EQ(qv::utf8ToAnsi(c.utf8).value_or("?"), c.ansi);
    }
}

TEST(AnsiText, RefusesWhatTheCodePageCannotHold) {
    struct Case {
        const char* utf8;
        std::size_t bad;
    } cases[] = {
        {"ok \xE2\x98\x83", 3},     // snowman: not in the code page
        {"a\xC3", 1},               // truncated sequence
        {"\xC0\xAF", 0},            // overlong slash
        {"x\xED\xA0\x80", 1},       // surrogate
        {"ab\xF0\x9F\x98\x80", 2},  // emoji
        {"\xFF", 0},                // not UTF-8 at all
    };
    for (const auto& c : cases) {
        std::size_t bad = 99;
        EXPECT_FALSE(qv::utf8ToAnsi(c.utf8, &bad).has_value()) << c.utf8;
        EXPECT_EQ(bad, c.bad) << c.utf8;
    }
}

}  // namespace
