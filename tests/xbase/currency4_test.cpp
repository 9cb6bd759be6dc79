#include "xbase/values/currency4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "error_capture.h"
#include "xbase/core/error4.h"
#include "xbase/values/key4.h"

namespace {

currency4 make(int64_t units) {
    currency4 c;
    currency4put(&c, units);
    return c;
}

std::string toText(int64_t units, int32_t decimals) {
    currency4 c = make(units);
    char buffer[32];
    int32_t length = currency4toText(buffer, sizeof buffer, &c, decimals);
    EXPECT_GE(length, 0);
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer));
    return buffer;
}

constexpr int64_t sentinel = 777;

// The value read, or `sentinel` when the text was refused (the result must
// then be untouched).
int64_t fromText(const char* text, int32_t length = -1) {
    currency4 c = make(sentinel);
    int32_t rc =
        currency4fromText(&c, text, length < 0 ? static_cast<int32_t>(std::strlen(text)) : length);
    EXPECT_TRUE(rc == 0 || rc == -1) << text;
    if (rc != 0) {
        EXPECT_EQ(currency4get(&c), sentinel) << text;
    }
    return rc == 0 ? currency4get(&c) : sentinel;
}

TEST(CurrencyValue, StoredLeastSignificantFirstAndComparedBySign) {
    currency4 one = make(1), minusOne = make(-1), big = make(int64_t{0x0102030405060708});
    EXPECT_EQ(std::vector<unsigned char>(one.bytes, one.bytes + 8),
              (std::vector<unsigned char>{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<unsigned char>(big.bytes, big.bytes + 8),
              (std::vector<unsigned char>{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(std::vector<unsigned char>(minusOne.bytes, minusOne.bytes + 8),
              std::vector<unsigned char>(8, 0xFF));

    const int64_t ordered[] = {INT64_MIN, -10000, -1, 0, 1, 65536, 10000 * 65536LL, INT64_MAX};
    for (int64_t a : ordered)
        for (int64_t b : ordered) {
            currency4 x = make(a), y = make(b);
            EXPECT_EQ(currency4compare(&x, &y), a < b ? -1 : (a > b ? 1 : 0)) << a << " " << b;
        }
}

TEST(CurrencyText, Writes) {
    struct Case {
        int64_t units;
        int32_t decimals;
        const char* text;
    } cases[] = {
        {12345, 2, "1.23"},  // decimals are cut, not rounded
        {-5, 4, "-0.0005"},
        {12345, 4, "1.2345"},
        {12345, 0, "1"},
        {12345, 1, "1.2"},
        {12345, 5, "1.2345"},
        {12345, -1, "1.2345"},
        {0, 4, "0.0000"},
        {0, 0, "0"},
        {-5, 2, "0.00"},  // no sign before a value that shows as zero
        {-15000, 0, "-1"},
        {1234567890000, 2, "123456789.00"},
        {INT64_MAX, 4, "922337203685477.5807"},
        {INT64_MIN, 4, "-922337203685477.5808"},
    };
    for (const Case& c : cases) EXPECT_EQ(toText(c.units, c.decimals), c.text) << c.units;
}

TEST(CurrencyText, RefusesASmallBuffer) {
    currency4 c = make(-12345);  // "-1.2345": 7 characters and the NUL
    char buffer[8];
    EXPECT_EQ(currency4toText(buffer, 8, &c, 4), 7);
    EXPECT_STREQ(buffer, "-1.2345");
    EXPECT_EQ(currency4toText(buffer, 7, &c, 4), -1);
    EXPECT_EQ(currency4toText(buffer, 0, &c, 4), -1);
    EXPECT_EQ(currency4toText(nullptr, 8, &c, 4), -1);
}

TEST(CurrencyText, Reads) {
    struct Case {
        const char* text;
        int64_t units;  // `sentinel`: refused
    } cases[] = {
        {"1.2345", 12345},
        {"1.23456", sentinel},  // five decimals
        {"  -0.0005", -5},
        {"+12", 120000},
        {"12.5  ", 125000},
        {"1.", 10000},
        {".5", 5000},
        {"-0", 0},
        {"", 0},
        {"    ", 0},
        {"0000000000000000000000001.5", 15000},  // leading zeros are not digits that count
        {"922337203685477.5807", INT64_MAX},
        {"-922337203685477.5808", INT64_MIN},
        {"922337203685477.5808", sentinel},
        {"-922337203685477.5809", sentinel},
        {"1000000000000000", sentinel},  // 16 integer digits: 20 with the decimals, too big
        {"9223372036854775807", sentinel},
        {"99999999999999999999999", sentinel},
        {"12a", sentinel},
        {"1 2", sentinel},
        {"1.2.3", sentinel},
        {"-", sentinel},
        {".", sentinel},
        {"- 5", sentinel},
        {"**********", sentinel},  // a number too wide for its text
    };
    for (const Case& c : cases) EXPECT_EQ(fromText(c.text), c.units) << c.text;
}

TEST(CurrencyText, ReadsOnlyTheGivenLength) {
    EXPECT_EQ(fromText("12345", 3), 1230000);
    EXPECT_EQ(fromText("12\0"
                       "99",
                       5),
              120000);
    EXPECT_EQ(fromText("7", 0), 0);
    EXPECT_EQ(fromText("1.23456", 6), 12345);
    currency4 c = make(sentinel);
    EXPECT_EQ(currency4fromText(&c, nullptr, 3), -1);
    EXPECT_EQ(currency4fromText(&c, "1", -2), -1);
    EXPECT_EQ(currency4get(&c), sentinel);
}

TEST(CurrencyText, RoundTrips) {
    std::mt19937_64 random(20240607);
    std::vector<int64_t> values = {0,      1,         -1,        9999,         10000,
                                   -10000, INT64_MAX, INT64_MIN, INT64_MIN + 1};
    for (int i = 0; i < 20000; ++i) {
        auto v = static_cast<int64_t>(random());
        values.push_back(v >> (random() % 64));  // every magnitude
    }
    for (int64_t v : values) {
        std::string text = toText(v, 4);
        ASSERT_EQ(fromText(text.c_str()), v) << text;
    }
}

TEST(CurrencyArithmetic, RefusesOverflow) {
    enum Op { add, multiply, divide, negate };
    struct Case {
        Op op;
        int64_t a, b;
        int32_t rc;
        int64_t result;
    } cases[] = {
        {add, 15000, -2500, 0, 12500},
        {add, INT64_MAX, 0, 0, INT64_MAX},
        {add, INT64_MAX, 1, -1, 0},
        {add, INT64_MIN, -1, -1, 0},
        {add, INT64_MIN, INT64_MAX, 0, -1},
        {multiply, 12345, -3, 0, -37035},
        {multiply, 12345, 0, 0, 0},
        {multiply, INT64_MAX / 32767, 32767, 0, INT64_MAX / 32767 * 32767},
        {multiply, INT64_MAX / 32767 + 1, 32767, -1, 0},
        {multiply, INT64_MIN, -1, -1, 0},
        {multiply, INT64_MIN / 2, -32768, -1, 0},
        {divide, 70000, 2, 0, 35000},
        {divide, -7, 2, 0, -3},  // toward zero
        {divide, 7, -32768, 0, 0},
        {divide, INT64_MIN, 2, 0, INT64_MIN / 2},
        {divide, 12345, 0, -1, 0},
        {divide, INT64_MIN, -1, -1, 0},
        {negate, 12345, 0, 0, -12345},
        {negate, INT64_MAX, 0, 0, -INT64_MAX},
        {negate, INT64_MIN, 0, -1, 0},
    };
    for (const Case& c : cases) {
        currency4 a = make(c.a), b = make(c.b), result = make(sentinel);
        int32_t rc = 0;
        auto n = static_cast<int16_t>(c.b);
        switch (c.op) {
            case add:
                rc = currency4add(&result, &a, &b);
                break;
            case multiply:
                rc = currency4multiply(&result, &a, n);
                break;
            case divide:
                rc = currency4divide(&result, &a, n);
                break;
            case negate:
                rc = currency4negate(&result, &a);
                break;
        }
        EXPECT_EQ(rc, c.rc) << c.op << " " << c.a << " " << c.b;
        EXPECT_EQ(currency4get(&result), c.rc == 0 ? c.result : sentinel)
            << c.op << " " << c.a << " " << c.b;
    }
}

TEST(CurrencyArithmetic, ResultMayBeAnOperand) {
    currency4 a = make(12345);
    ASSERT_EQ(currency4add(&a, &a, &a), 0);
    EXPECT_EQ(currency4get(&a), 24690);
    ASSERT_EQ(currency4negate(&a, &a), 0);
    EXPECT_EQ(currency4get(&a), -24690);
}

// The key of a double read as currency is the currency key of the value
// rounded to four decimals; values the form cannot hold are refused.
TEST(CurrencyKey, FromDoubleRoundsToFourDecimals) {
    ErrorCapture errors;
    struct Case {
        double value;
        int32_t rc;
        int64_t units;
    } cases[] = {
        {1.2345, 0, 12345},
        {1.23456, 0, 12346},
        {-1.23455, 0, -12346},  // half away from zero
        {-0.0, 0, 0},
        {0.00004, 0, 0},
        {-0.00005, 0, -1},
        {99999999999999.5, 0, 999999999999995000},
        {-99999999999999.75, 0, -999999999999997500},
        {922337203685477.0, 0, 9223372036854770000},
        {922337203685478.0, e4width, 0},  // beyond 64 bits
        {999999999999999.9, e4width, 0},  // 20 characters, but beyond 64 bits
        {1e15, e4width, 0},               // more than 20 characters
        {-1e14, e4width, 0},
        {std::numeric_limits<double>::quiet_NaN(), e4width, 0},
        {std::numeric_limits<double>::infinity(), e4width, 0},
    };
    for (const Case& c : cases) {
        uint8_t key[key4currencyLength], expected[key4currencyLength];
        std::memset(key, 0xAA, sizeof key);
        EXPECT_EQ(key4fromCurrencyDouble(key, c.value), c.rc) << c.value;
        if (c.rc == 0)
            key4fromCurrency(expected, c.units);
        else
            std::memset(expected, 0xAA, sizeof expected);
        EXPECT_EQ(std::memcmp(key, expected, sizeof key), 0) << c.value;
    }

    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> spread(-1e13, 1e13);
    std::vector<double> values;
    for (int i = 0; i < 5000; ++i) values.push_back(spread(random) / std::pow(10.0, i % 14));
    std::sort(values.begin(), values.end());
    uint8_t previous[key4currencyLength];
    ASSERT_EQ(key4fromCurrencyDouble(previous, values[0]), 0);
    for (size_t i = 1; i < values.size(); ++i) {
        uint8_t key[key4currencyLength];
        ASSERT_EQ(key4fromCurrencyDouble(key, values[i]), 0) << values[i];
        ASSERT_LE(std::memcmp(previous, key, sizeof key), 0) << values[i - 1] << " " << values[i];
        std::memcpy(previous, key, sizeof key);
    }
}

}  // namespace
