#include "ztdb/ztkey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "date_order_pin.h"
#include "ztdb/ztnames.h"

namespace {

using Bytes = std::vector<unsigned char>;

const ZTKeyLengths kLengths = ZTKeyLengths::forKeyLength(30);

Bytes keyOf(const std::string& value, bool high = false, bool asText = false, bool noTail = false) {
    Bytes key(kLengths.lenKey + 1, 0xEE);
    makeKey(kLengths, value.c_str(), reinterpret_cast<char*>(key.data()), true, noTail, high,
            asText);
    EXPECT_EQ(key[kLengths.lenKey], 0);
    key.pop_back();
    return key;
}

int byteOrder(const Bytes& a, const Bytes& b) {
    int c = std::memcmp(a.data(), b.data(), a.size());
    return (c > 0) - (c < 0);
}

Bytes repeat(std::initializer_list<std::pair<int, unsigned char>> runs) {
    Bytes out;
    for (auto [count, byte] : runs) out.insert(out.end(), size_t(count), byte);
    return out;
}

TEST(ZTKeyLengthsTest, DerivedFromTheKeyLength) {
    EXPECT_EQ(kLengths.integerDigits, 15);
    EXPECT_EQ(kLengths.decimalDigits, 14);
    ZTKeyLengths shortKeys = ZTKeyLengths::forKeyLength(20);
    EXPECT_EQ(shortKeys.integerDigits, 15);
    EXPECT_EQ(shortKeys.decimalDigits, 4);
}

TEST(GuessValueTypeTest, Classes) {
    DateOrderPin pin(true);
    struct Case {
        const char* text;
        int type;
    } cases[] = {
        {"12", kValueNumber},
        {"-3.5", kValueNumber},
        {" 12 ", kValueNumber},
        {".5", kValueNumber},
        {"5.", kValueNumber},
        {"-0", kValueNumber},
        {"1 2", kValueText},
        {"1-2", kValueText},
        {"1.2.3", kValueText},
        {".", kValueText},
        {"-.", kValueText},
        {"-", kValueText},
        {"--5", kValueText},
        {"- 5", kValueText},
        {"1/2", kValueText},
        {"12a", kValueText},
        {"1,5", kValueText},
        {"", kValueText},
        {"123456789012345", kValueNumber},
        {"1234567890123456", kValueText},
        {"1.12345678901234", kValueNumber},
        {"1.123456789012345", kValueText},
        {"123456789002", kValueCheckNumber},
        {"123456-7890-02", kValueCheckNumber},
        {"1234/5678/9002", kValueCheckNumber},
        {"1234 5678 9002", kValueCheckNumber},
        {"123456789003", kValueNumber},
        {"123456-7890-03", kValueText},
        {"2003/2/1", kValueDate},
        {"12:30", kValueDate},
        {"AD 45/2/1", kValueDate},
        {"Shown\x1bi42", kValueNumber},
        {"42\x1bi", kValueText},  // an empty section: the whole value is examined
        {"42\x1bitext", kValueText},
    };
    for (const Case& c : cases) EXPECT_EQ(guessValueType(kLengths, c.text), c.type) << c.text;
    EXPECT_EQ(guessValueType(kLengths, nullptr), kValueText);
}

TEST(MakeKeyTest, NumberLayout) {
    EXPECT_EQ(keyOf("5"), repeat({{1, 18}, {14, 20}, {1, 25}, {14, 20}}));
    EXPECT_EQ(keyOf("-5"), repeat({{1, 17}, {14, 29}, {1, 24}, {14, 29}}));
    EXPECT_EQ(keyOf("5", true), repeat({{1, 18}, {14, 20}, {1, 25}, {14, 29}}));
    EXPECT_EQ(keyOf("12.5"), repeat({{1, 18}, {13, 20}, {1, 21}, {1, 22}, {1, 25}, {13, 20}}));
    // Leading zeros, a missing integer part and trailing decimal zeros change nothing.
    EXPECT_EQ(keyOf("007.50"), keyOf("7.5"));
    EXPECT_EQ(keyOf(".5"), keyOf("0.5"));
    EXPECT_EQ(keyOf("-1.50"), keyOf("-1.5"));
    // A check number keeps all its digits as an integer.
    EXPECT_EQ(keyOf("123456-7890-02"), keyOf("123456789002"));
    // The typed section decides.
    EXPECT_EQ(keyOf("Twelve\x1bi12"), keyOf("12"));
}

TEST(MakeKeyTest, DateLayout) {
    DateOrderPin pin(true);
    // yyyyyymmdd.hhmmss placed like a number with 10 integer digits.
    Bytes expected = repeat({{1, 18}, {5, 20}});
    for (char d : std::string("0020030201123045")) expected.push_back(uint8_t(20 + d - '0'));
    expected.insert(expected.end(), 30 - expected.size(), 20);
    EXPECT_EQ(keyOf("1/2/2003 12:30:45"), expected);
    EXPECT_EQ(keyOf("2003/02/01 12:30:45"), expected);
    Bytes bc = keyOf("BC 44/3/15");
    EXPECT_EQ(bc[0], 17);
    EXPECT_EQ(bc[6], 29);
    EXPECT_LT(byteOrder(bc, keyOf("AD 44/3/15")), 0);
}

TEST(MakeKeyTest, TextLayout) {
    // Empty: the end mark, the tail of a lower-case text with nothing skipped, fill.
    EXPECT_EQ(keyOf(""),
              repeat({{1, 1}, {1, 17}, {1, 16384 / 239 + 17}, {1, 16384 % 239 + 17}, {26, 17}}));
    // "ab": codes 2, 31; "-" is skipped and counted.
    EXPECT_EQ(keyOf("a-b"), repeat({{1, 0x23}, {1, 0x10}, {1, 18}, {1, 85}, {1, 149}, {25, 17}}));
    EXPECT_EQ(keyOf("a-b", true),
              repeat({{1, 0x23}, {1, 0x1F}, {1, 18}, {1, 85}, {1, 149}, {25, 255}}));
    EXPECT_EQ(keyOf("ae", false, false, true), repeat({{1, 0x24}, {1, 1}, {28, 17}}));
    // A number given as text is keyed by its characters.
    EXPECT_EQ(keyOf("12", false, true)[0], 0x15);
    // A binary value: all 255.
    EXPECT_EQ(keyOf("\x02\x01\x02\x11"), Bytes(30, 255));
}

TEST(MakeKeyTest, CaseWordOrdersTextsThatFoldAlike) {
    Bytes lower = keyOf("abc"), capital = keyOf("Abc"),
          accented = keyOf(
              "\xC4"
              "bc");
    // Equal up to the tail: codes 2 31 32 and the end mark.
    EXPECT_TRUE(std::equal(lower.begin(), lower.begin() + 4, capital.begin()));
    EXPECT_TRUE(std::equal(lower.begin(), lower.begin() + 4, accented.begin()));
    // The case word is in the last two tail bytes, after the end mark and the skipped count.
    auto caseWord = [](const Bytes& k, int at) { return (k[at] - 17) * 239 + (k[at + 1] - 17); };
    EXPECT_EQ(caseWord(capital, 4), 0);
    EXPECT_EQ(caseWord(lower, 4), 16384);
    EXPECT_EQ(caseWord(accented, 4), 32768);
    EXPECT_EQ(caseWord(keyOf("a\xE9"), 3), 16384 + 8192);  // codes 2 4, end mark byte 1
    EXPECT_LT(byteOrder(capital, lower), 0);
    EXPECT_LT(byteOrder(lower, accented), 0);
}

TEST(MakeKeyTest, TextsFillTheKeyExactly) {
    std::string longText(100, 'b');
    Bytes key = keyOf(longText);
    // Codes fill bytes 0 to 25; then the end mark and the tail (nothing skipped: characters past
    // the key are not read).
    EXPECT_EQ(key[25], 0x31);
    EXPECT_EQ(key[26], 1);
    EXPECT_EQ(key[27], 17);
    // Out of step by one nibble, the last code starts in byte 25 and the end mark closes byte 26.
    key = keyOf("a" + longText);
    EXPECT_EQ(key[25], 0x13);
    EXPECT_EQ(key[26], 0x10);
    EXPECT_EQ(key[27], 17);
    // A shorter key length for text keys.
    Bytes shortKey(21, 0xEE);
    makeKey(kLengths, longText.c_str(), reinterpret_cast<char*>(shortKey.data()), true, false,
            false, true, 12);
    EXPECT_EQ(shortKey[12], 0);
    EXPECT_EQ(shortKey[13], 0xEE);
}

TEST(MatchKeyPatternTest, PrefixContainsAndBounds) {
    auto pattern = [](const char* word, bool high = false) {
        Bytes key(31);
        makeKey(kLengths, word, reinterpret_cast<char*>(key.data()), true, true, high, true);
        return key;
    };
    auto match = [](const Bytes& key, const Bytes& pat, int op) {
        return matchKeyPattern(kLengths, reinterpret_cast<const char*>(key.data()),
                               reinterpret_cast<const char*>(pat.data()), op);
    };
    Bytes abae = keyOf("abae"), abc = keyOf("abc");
    EXPECT_TRUE(match(abae, pattern("ae"), '*'));
    EXPECT_TRUE(match(abae, pattern("ba"), '*'));
    EXPECT_FALSE(match(abae, pattern("ea"), '*'));
    EXPECT_FALSE(match(abae, pattern("aeb"), '*'));
    EXPECT_TRUE(match(keyOf("aab"), pattern("ab"), '#'));  // restarts after a partial match
    EXPECT_TRUE(match(abc, pattern("ab"), 0));
    EXPECT_FALSE(match(keyOf("acb"), pattern("ab"), 0));
    EXPECT_FALSE(match(keyOf("a"), pattern("ab"), 0));
    EXPECT_TRUE(match(abc, pattern(""), 0));
    EXPECT_TRUE(match(abc, pattern(""), '*'));
    // "b" is one two-nibble code: its second nibble never starts a match.
    EXPECT_FALSE(match(keyOf("b"), pattern("a"), '*'));
    // Bounds over the whole key.
    EXPECT_TRUE(match(abc, pattern("abd"), '<'));
    EXPECT_FALSE(match(abc, pattern("abb"), '<'));
    EXPECT_TRUE(match(abc, pattern("abb"), '>'));
    EXPECT_TRUE(match(keyOf("abzz"), pattern("ab", true), '<'));
    EXPECT_FALSE(match(keyOf("ac"), pattern("ab", true), '<'));
}

TEST(MatchKeyPatternTest, WalksStopAtTheKeyLength) {
    // Number keys hold no zero nibble; neither key nor pattern is terminated here, and the
    // sanitizers watch the reads.
    auto exact = [](const std::string& value) {
        auto key = std::make_unique<char[]>(size_t(kLengths.lenKey));
        makeKey(kLengths, value.c_str(), key.get(), false, false, false, false);
        return key;
    };
    auto key = exact("123456789012345.12345678901234");
    auto other = exact("-98765");
    for (int op : {0, int('*'), int('#'), int('<'), int('>')}) {
        matchKeyPattern(kLengths, key.get(), other.get(), op);
        matchKeyPattern(kLengths, other.get(), key.get(), op);
    }
    EXPECT_TRUE(matchKeyPattern(kLengths, key.get(), key.get(), 0));
    EXPECT_TRUE(matchKeyPattern(kLengths, key.get(), key.get(), '*'));
    EXPECT_TRUE(isNumericKey(key.get()));
    EXPECT_TRUE(isNumericKey(other.get()));
    EXPECT_FALSE(isNumericKey(reinterpret_cast<const char*>(keyOf("x").data())));
}

// Value order of texts: their letters and digits after folding, compared alphabetically (digits
// first); texts that fold alike are not compared here.
std::string foldedForOrder(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))
            out += char(c);
        else if (c >= 'A' && c <= 'Z')
            out += char(c - 'A' + 'a');
        else if (c == 140 || c == 156 || c == 198 || c == 230)
            out += 'e';
        else if (c >= 192)
            out += kFoldTable[c - 192];
    }
    return out;
}

TEST(MakeKeyOrderTest, TextKeysSortLikeTheFoldedText) {
    std::mt19937 rng(99);
    const std::string alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -.,'\x8C\x9C\xC0\xC4"
        "\xC6\xC7\xC9\xD1\xD6\xD7\xD8\xDC\xDF\xE0\xE4\xE6\xE9\xF1\xF6\xF7\xFC\xFF";
    auto randomText = [&] {
        std::string t;
        for (int n = int(rng() % 12); n > 0; --n) t += alphabet[rng() % alphabet.size()];
        return t;
    };
    int compared = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string a = randomText(), b = randomText();
        std::string fa = foldedForOrder(a), fb = foldedForOrder(b);
        Bytes ka = keyOf(a, false, true), kb = keyOf(b, false, true);
        if (fa == fb) {  // alike but for the tail
            ASSERT_EQ(keyOf(a, false, true, true), keyOf(b, false, true, true)) << a << " / " << b;
            continue;
        }
        int expected = fa < fb ? -1 : 1;
        ASSERT_EQ(byteOrder(ka, kb), expected) << a << " / " << b;
        ++compared;
    }
    EXPECT_GT(compared, 15000);
}

// A random decimal number as text, and its exact value as (sign, 15 integer + 14 decimal digits).
std::pair<std::string, std::string> randomNumber(std::mt19937& rng) {
    int intDigits = int(rng() % 16), decimals = int(rng() % 15);
    if (intDigits == 0 && decimals == 0) intDigits = 1;
    std::string whole, fraction;
    for (int i = 0; i < intDigits; ++i) whole += char('0' + rng() % 10);
    for (int i = 0; i < decimals; ++i) fraction += char('0' + rng() % 10);
    bool negative = rng() % 2;
    std::string exact = std::string(size_t(15 - intDigits), '0') + whole + fraction +
                        std::string(size_t(14 - decimals), '0');
    if (exact.find_first_not_of('0') == std::string::npos) negative = false;  // no "-0"
    std::string text = (negative ? "-" : "") + whole + (decimals ? "." + fraction : "");
    return {text, (negative ? "-" : "+") + exact};
}

int valueOrder(const std::string& a, const std::string& b) {
    if (a[0] != b[0]) return a[0] == '-' ? -1 : 1;
    int c = a.compare(b);
    c = (c > 0) - (c < 0);
    return a[0] == '-' ? -c : c;
}

TEST(MakeKeyOrderTest, NumberKeysSortByValue) {
    std::mt19937 rng(5);
    int compared = 0;
    for (int i = 0; i < 20000; ++i) {
        auto [ta, va] = randomNumber(rng);
        auto [tb, vb] = randomNumber(rng);
        if (guessValueType(kLengths, ta.c_str()) != kValueNumber ||
            guessValueType(kLengths, tb.c_str()) != kValueNumber)
            continue;  // a rare 12-digit check number
        ASSERT_EQ(byteOrder(keyOf(ta), keyOf(tb)), valueOrder(va, vb)) << ta << " / " << tb;
        ++compared;
    }
    EXPECT_GT(compared, 19000);
    // Numbers sort after the empty text and before every other text.
    EXPECT_LT(byteOrder(keyOf(""), keyOf("-999999999999999")), 0);
    EXPECT_LT(byteOrder(keyOf("999999999999999"), keyOf("0a")), 0);
}

TEST(MakeKeyOrderTest, DateKeysSortByTime) {
    DateOrderPin pin(false);
    std::mt19937 rng(11);
    auto randomDate = [&] {
        std::tuple<int, int, int, int, int, int> t{1 + rng() % 9999, 1 + rng() % 12, 1 + rng() % 28,
                                                   rng() % 24,       rng() % 60,     rng() % 60};
        if (rng() % 3 == 0) std::get<0>(t) = 1990 + rng() % 3;  // close dates too
        return t;
    };
    for (int i = 0; i < 20000; ++i) {
        auto a = randomDate(), b = randomDate();
        auto text = [](const std::tuple<int, int, int, int, int, int>& t) {
            auto [y, mo, d, h, mi, s] = t;
            return (y < 100 ? "AD " : "") + std::to_string(y) + "/" + std::to_string(mo) + "/" +
                   std::to_string(d) + " " + std::to_string(h) + ":" + std::to_string(mi) + ":" +
                   std::to_string(s);
        };
        int expected = a < b ? -1 : (b < a ? 1 : 0);
        ASSERT_EQ(byteOrder(keyOf(text(a)), keyOf(text(b))), expected)
            << text(a) << " / " << text(b);
    }
}

}  // namespace
