// The checker's second reading of the stored encodings against the engine's own: two
// implementations written apart must agree on every value class, key and packed text.
#include "support/dbkeys.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/date_order.h"
#include "ztdb/ztcodec.h"
#include "ztdb/ztkey.h"

namespace {

// Values of every class: numbers, check numbers, dates and times in both orders, texts with
// accented and uncoded characters, 'i' sections, binary values, and near misses of each.
std::vector<std::string> sampleValues(std::mt19937& rng, int n) {
    std::vector<std::string> out = {"",
                                    "0",
                                    "12",
                                    "-3.5",
                                    " 12 ",
                                    ".5",
                                    "5.",
                                    "1 2",
                                    "1-2",
                                    "1.2.3",
                                    "-",
                                    ".",
                                    "12:30",
                                    "12",
                                    "12:75",
                                    "1/2/2003",
                                    "31/2/2003",
                                    "29/2/2003",
                                    "2003/2/1",
                                    "1/2/03",
                                    "1/2/45",
                                    "AD 45/2/1",
                                    "BC 12/3/4",
                                    "xx/xx/1990",
                                    "1500/xx/xx",
                                    "1/2/2003 10:20:30",
                                    "1/2/2003, 10:20",
                                    "1/2/2003 x",
                                    "123456789012",
                                    "1234-5678-9012",
                                    "abc",
                                    "Abc",
                                    "\xC4"
                                    "bc",
                                    "\xC6gir",
                                    "\x8C"
                                    "uvre",
                                    "a\x1bi12\x1bxz",
                                    "\x1bi\x1bitext",
                                    std::string("\x02\x05\x07", 3),
                                    "!!!",
                                    "the quick brown fox jumps over the lazy dog",
                                    "123456789012345",
                                    "1234567890123456",
                                    "0.12345678901234",
                                    "0.123456789012345"};
    const std::string pieces[] = {"1",    "9", "0",  "/",    ":",   "-",   ".", " ", "a",    "E",
                                  "\xE9", "x", "12", "2003", "AD ", "bc ", ",", ";", "\xFF", "z"};
    std::uniform_int_distribution<int> piece(0, int(std::size(pieces)) - 1), len(1, 9);
    for (int i = 0; i < n; ++i) {
        std::string v;
        for (int k = len(rng); k > 0; --k) v += pieces[piece(rng)];
        out.push_back(v);
    }
    return out;
}

TEST(SecondKeys, AgreeWithTheEngineOnClassesAndKeys) {
    std::mt19937 rng(17);
    std::vector<std::string> values = sampleValues(rng, 20000);
    bool previous = qv::dateDayFirst();
    for (int lenKey : {20, 30, 40}) {
        ZTKeyLengths lengths = ZTKeyLengths::forKeyLength(lenKey);
        dbcheck::KeyShape shape = dbcheck::KeyShape::of(lenKey);
        ASSERT_EQ(shape.integerDigits, lengths.integerDigits);
        ASSERT_EQ(shape.decimalDigits, lengths.decimalDigits);
        for (bool dayFirst : {false, true}) {
            qv::setDateDayFirst(dayFirst);
            for (const std::string& v : values) {
                ASSERT_EQ(dbcheck::valueClass(shape, v, dayFirst),
                          guessValueType(lengths, v.c_str()))
                    << "\"" << v << "\" lenKey " << lenKey << " dayFirst " << dayFirst;
                std::string engine(size_t(lenKey), '\0');
                makeKey(lengths, v.c_str(), engine.data(), false, false, false, false);
                ASSERT_EQ(dbcheck::valueKey(shape, v, dayFirst), engine)
                    << "\"" << v << "\" lenKey " << lenKey << " dayFirst " << dayFirst;
            }
        }
    }
    qv::setDateDayFirst(previous);
}

TEST(SecondKeys, ReadTheEnginesPackedTexts) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> byte(1, 255), len(0, 600), kind(0, 3);
    for (int i = 0; i < 3000; ++i) {
        std::string text;
        for (int n = len(rng); n > 0; --n) {
            int k = kind(rng);
            text += k == 0 ? char(byte(rng)) : k == 1 ? ' ' : k == 2 ? 'e' : char('0' + n % 10);
        }
        ZTStr packed;
        if (packText(reinterpret_cast<const unsigned char*>(text.data()), uint32_t(text.size()),
                     &packed) == 0)
            continue;
        std::string out;
        ASSERT_TRUE(dbcheck::unpackText(packed.text, &out)) << i;
        EXPECT_EQ(out, text);
    }
    std::string out;
    EXPECT_FALSE(dbcheck::unpackText("\x01\x05\x2f", &out));      // a byte code cut short
    EXPECT_FALSE(dbcheck::unpackText("\x01\x03\x20\x44", &out));  // a repeat longer than the text
}

TEST(SecondKeys, BaseDigitsRoundTrip) {
    for (uint32_t v : {0u, 1u, 254u, 255u, 65024u, 255u * 255u * 255u - 1u}) {
        std::string d = dbcheck::digits(v, 3);
        EXPECT_EQ(d.find('\0'), std::string::npos);
        EXPECT_EQ(dbcheck::readDigits(reinterpret_cast<const unsigned char*>(d.data()), 3), v);
        unsigned char engine[3];
        writeBase255(v, engine, 3);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(engine), 3), d);
    }
}

}  // namespace
