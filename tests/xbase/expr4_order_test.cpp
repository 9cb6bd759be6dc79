// Key order: for random values of each type, the unsigned byte order of the
// keys is the order of the values, and DESCEND turns it round.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "expr_fixture.h"
#include "xbase/expr/expr4.h"

namespace {

constexpr int kSamples = 400;
constexpr int32_t kFirstDay = 1721426;  // 0001-01-01
constexpr int32_t kLastDay = 5373484;   // 9999-12-31

class ExprKeyOrder : public ExprTest {
  protected:
    std::mt19937_64 rng{20240229};

    // Keys of `expr` and `desc` for every value; then, in value order, each
    // key must not fall below the one before (rise strictly when `strict` and
    // the values differ) and the DESCEND keys (of `desc` when not null) the
    // other way round. Equal values must give equal keys.
    template <typename V>
    void expectOrder(const char* expr, const char* desc, const std::vector<V>& values,
                     const std::function<void(const V&)>& set,
                     const std::function<bool(const V&, const V&)>& less, bool strict) {
        struct Sample {
            V value;
            std::string key, down;
        };
        std::vector<Sample> samples;
        for (const V& v : values) {
            set(v);
            std::string key = table->key(expr);
            ASSERT_EQ(table->keyError, 0) << expr;
            std::string down = desc != nullptr ? table->key(desc) : std::string();
            ASSERT_EQ(table->keyError, 0) << desc;
            samples.push_back({v, key, down});
        }
        std::stable_sort(samples.begin(), samples.end(),
                         [&](const Sample& a, const Sample& b) { return less(a.value, b.value); });
        for (size_t i = 1; i < samples.size(); ++i) {
            const Sample& a = samples[i - 1];
            const Sample& b = samples[i];
            SCOPED_TRACE(testing::Message() << expr << " sample " << i);
            if (!less(a.value, b.value)) {
                EXPECT_EQ(a.key, b.key);
                EXPECT_EQ(a.down, b.down);
            } else if (strict) {
                EXPECT_LT(a.key, b.key);
                if (desc != nullptr) {
                    EXPECT_GT(a.down, b.down);
                }
            } else {
                EXPECT_LE(a.key, b.key);
                EXPECT_GE(a.down, b.down);
            }
        }
    }

    int64_t uniform(int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
    }
};

TEST_F(ExprKeyOrder, Text) {
    std::vector<std::string> values;
    for (int i = 0; i < kSamples; ++i) {
        std::string s(uniform(0, 10), ' ');
        // No NUL bytes: DESCEND maps 0 onto itself.
        for (char& c : s) c = static_cast<char>(uniform(i % 2 ? 'A' : 1, i % 2 ? 'D' : 255));
        s.resize(10, ' ');
        values.push_back(s);
    }
    expectOrder<std::string>(
        "NAME", "DESCEND(NAME)", values, [&](const std::string& v) { table->put("NAME", v); },
        std::less<std::string>(), true);
}

TEST_F(ExprKeyOrder, NumericText) {
    std::vector<int64_t> hundredths = {0, 1, -1, 99999999, -99999999, 999999999};
    for (int i = 0; i < kSamples; ++i)
        hundredths.push_back(i % 3 ? uniform(-99999999, 999999999) : uniform(-2000, 2000));
    auto set = [&](const int64_t& k) { table->putNumber("AMOUNT", static_cast<double>(k) / 100); };
    expectOrder<int64_t>("AMOUNT", "DESCEND(AMOUNT)", hundredths, set, std::less<int64_t>(), true);
    expectOrder<int64_t>("ASCEND(AMOUNT)", "DESCEND(AMOUNT*1)", hundredths, set,
                         std::less<int64_t>(), true);
}

TEST_F(ExprKeyOrder, Dates) {
    std::vector<int32_t> days = {0, kFirstDay, kLastDay, 2451545};
    for (int i = 0; i < kSamples; ++i)
        days.push_back(static_cast<int32_t>(uniform(kFirstDay, kLastDay)));
    auto set = [&](const int32_t& d) {
        if (d == 0)
            table->put("BORN", "        ");
        else
            table->putDay("BORN", d);
    };
    expectOrder<int32_t>("BORN", "DESCEND(BORN)", days, set, std::less<int32_t>(), true);
    expectOrder<int32_t>("BORN+0", "DESCEND(BORN+0)", days, set, std::less<int32_t>(), true);
    expectOrder<int32_t>("ASCEND(BORN)", "DESCEND(BORN-0)", days, set, std::less<int32_t>(), true);
}

TEST_F(ExprKeyOrder, Doubles) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0,
                                  -0.0,
                                  inf,
                                  -inf,
                                  std::numeric_limits<double>::denorm_min(),
                                  -std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::max(),
                                  1.0,
                                  -1.0};
    while (values.size() < kSamples) {
        double d = std::bit_cast<double>(static_cast<uint64_t>(rng()));
        if (values.size() % 2) d = static_cast<double>(uniform(-1000, 1000)) / 8;
        if (!std::isnan(d)) values.push_back(d);
    }
    auto set = [&](const double& d) { table->putRaw<double>("RATIO", d); };
    expectOrder<double>("RATIO", "DESCEND(RATIO)", values, set, std::less<double>(), true);
    expectOrder<double>("ASCEND(RATIO)", "DESCEND(RATIO*1)", values, set, std::less<double>(),
                        true);
}

TEST_F(ExprKeyOrder, NotANumberHasOneKeyAfterInfinity) {
    std::string keys[3];
    const double nans[3] = {std::numeric_limits<double>::quiet_NaN(),
                            -std::numeric_limits<double>::quiet_NaN(),
                            std::bit_cast<double>(uint64_t{0x7FF0000000000123})};
    for (int i = 0; i < 3; ++i) {
        table->putRaw<double>("RATIO", nans[i]);
        keys[i] = table->key("RATIO");
    }
    EXPECT_EQ(keys[0], keys[1]);
    EXPECT_EQ(keys[0], keys[2]);
    table->putRaw<double>("RATIO", std::numeric_limits<double>::infinity());
    EXPECT_GT(keys[0], table->key("RATIO"));
}

TEST_F(ExprKeyOrder, Integers) {
    std::vector<int32_t> values = {0, -1, 1, INT32_MIN, INT32_MAX};
    for (int i = 0; i < kSamples; ++i)
        values.push_back(
            static_cast<int32_t>(i % 2 ? uniform(INT32_MIN, INT32_MAX) : uniform(-99, 99)));
    auto set = [&](const int32_t& v) { table->putRaw<int32_t>("COUNT", v); };
    expectOrder<int32_t>("COUNT", "DESCEND(COUNT)", values, set, std::less<int32_t>(), true);
}

TEST_F(ExprKeyOrder, Currency) {
    std::vector<int64_t> values = {0, -1, 1, INT64_MIN, INT64_MAX};
    for (int i = 0; i < kSamples; ++i)
        values.push_back(i % 2 ? static_cast<int64_t>(rng()) : uniform(-99999, 99999));
    auto set = [&](const int64_t& v) { table->putRaw<int64_t>("PRICE", v); };
    // DESCEND reads currency as a double, which cannot tell every value apart.
    expectOrder<int64_t>("PRICE", nullptr, values, set, std::less<int64_t>(), true);
    expectOrder<int64_t>("ASCEND(PRICE)", "DESCEND(PRICE)", values, set, std::less<int64_t>(),
                         false);
    // A number computed from currency keys in the currency form.
    std::vector<int64_t> small;
    for (int i = 0; i < kSamples; ++i) small.push_back(uniform(-999999999999, 999999999999));
    expectOrder<int64_t>("PRICE*1", "DESCEND(PRICE)", small, set, std::less<int64_t>(), true);
}

TEST_F(ExprKeyOrder, DateTimes) {
    using Stamp = std::pair<int32_t, int32_t>;
    std::vector<Stamp> values = {{0, 0}, {kLastDay, 86399999}, {2451545, 0}, {2451544, 86399999}};
    for (int i = 0; i < kSamples; ++i)
        values.push_back(
            {static_cast<int32_t>(i % 2 ? uniform(0, kLastDay) : uniform(2451540, 2451550)),
             static_cast<int32_t>(uniform(0, 86399999))});
    auto set = [&](const Stamp& s) { table->putStamp("STAMP", s.first, s.second); };
    expectOrder<Stamp>("STAMP", "DESCEND(STAMP)", values, set, std::less<Stamp>(), true);
    expectOrder<Stamp>("ASCEND(STAMP)", "DESCEND(STAMP)", values, set, std::less<Stamp>(), true);
}

TEST_F(ExprKeyOrder, Logicals) {
    std::vector<int> values = {1, 0, 1, 0};
    auto set = [&](const int& v) { table->put("FLAG", v ? "T" : "F"); };
    expectOrder<int>("FLAG", "DESCEND(FLAG)", values, set, std::less<int>(), true);
    expectOrder<int>("ASCEND(FLAG)", "DESCEND(FLAG)", values, set, std::less<int>(), true);
}

}  // namespace
