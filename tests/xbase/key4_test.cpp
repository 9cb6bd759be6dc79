#include "xbase/values/key4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string hex(const uint8_t* b, int n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < n; i++) {
        if (i > 0) out += ' ';
        out += digits[b[i] >> 4];
        out += digits[b[i] & 15];
    }
    return out;
}

std::string doubleKey(double v) {
    uint8_t k[8];
    key4fromDouble(k, v);
    return hex(k, 8);
}

TEST(OrderedKeys, DoubleExamples) {
    EXPECT_EQ(doubleKey(0.0), "80 00 00 00 00 00 00 00");
    EXPECT_EQ(doubleKey(-1.0), "40 0f ff ff ff ff ff ff");
    EXPECT_EQ(doubleKey(1.0), "bf f0 00 00 00 00 00 00");
    // -0.0 equals 0.0, so it must key the same (not wrap the top byte to 00).
    EXPECT_EQ(doubleKey(-0.0), doubleKey(0.0));
    // Every NaN keys alike, after +infinity.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(doubleKey(nan), "ff f8 00 00 00 00 00 00");
    EXPECT_EQ(doubleKey(-nan), doubleKey(nan));
    EXPECT_EQ(doubleKey(std::numeric_limits<double>::signaling_NaN()), doubleKey(nan));
    EXPECT_LT(doubleKey(std::numeric_limits<double>::infinity()), doubleKey(nan));
}

TEST(OrderedKeys, IntegerAndCurrencyExamples) {
    uint8_t k4[4];
    key4fromInt(k4, -1);
    EXPECT_EQ(hex(k4, 4), "7f ff ff ff");
    key4fromInt(k4, 0);
    EXPECT_EQ(hex(k4, 4), "80 00 00 00");
    key4fromInt(k4, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(hex(k4, 4), "00 00 00 00");
    uint8_t k8[8];
    key4fromCurrency(k8, 12345);  // 1.2345
    EXPECT_EQ(hex(k8, 8), "80 00 00 00 00 00 30 39");
    key4fromCurrency(k8, -1);
    EXPECT_EQ(hex(k8, 8), "7f ff ff ff ff ff ff ff");
}

TEST(OrderedKeys, DateTimeIsTheDoubleOfDayAndFraction) {
    uint8_t a[8], b[8];
    key4fromDateTime(a, 2451545, 12 * 3600 * 1000);
    key4fromDouble(b, 2451545.5);
    EXPECT_EQ(hex(a, 8), hex(b, 8));
    key4fromDateTime(b, 2451545, 12 * 3600 * 1000 + 1);
    EXPECT_LT(std::memcmp(a, b, 8), 0);
}

// For random values of each form, byte order of the keys equals value order.
template <typename T, typename Make>
void expectOrderKept(std::vector<T> values, Make make, int length) {
    std::sort(values.begin(), values.end());
    for (size_t i = 1; i < values.size(); i++) {
        uint8_t a[8], b[8];
        make(a, values[i - 1]);
        make(b, values[i]);
        const int c = std::memcmp(a, b, size_t(length));
        if (values[i - 1] == values[i])
            EXPECT_EQ(c, 0) << values[i];
        else
            EXPECT_LT(c, 0) << values[i - 1] << " < " << values[i];
    }
}

TEST(OrderedKeys, ByteOrderIsValueOrder) {
    std::mt19937_64 rng(11);
    std::vector<double> doubles = {0.0,
                                   -0.0,
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::denorm_min(),
                                   -std::numeric_limits<double>::denorm_min(),
                                   std::numeric_limits<double>::max(),
                                   std::numeric_limits<double>::lowest()};
    std::vector<int32_t> ints = {0, -1, 1, std::numeric_limits<int32_t>::min(),
                                 std::numeric_limits<int32_t>::max()};
    std::vector<int64_t> currencies = {0, -1, 1, std::numeric_limits<int64_t>::min(),
                                       std::numeric_limits<int64_t>::max()};
    for (int i = 0; i < 2000; i++) {
        const uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, 8);
        if (!std::isnan(d)) doubles.push_back(d);
        doubles.push_back(double(int64_t(rng() % 2000001) - 1000000) / 8);
        ints.push_back(int32_t(uint32_t(rng())));
        currencies.push_back(int64_t(rng()));
    }
    expectOrderKept(doubles, key4fromDouble, 8);
    expectOrderKept(ints, key4fromInt, 4);
    expectOrderKept(currencies, key4fromCurrency, 8);
}

}  // namespace
