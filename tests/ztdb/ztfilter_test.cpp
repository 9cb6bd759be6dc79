#include "ztdb/ztfilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "date_order_pin.h"
#include "filter_helpers.h"

namespace {

const ZTKeyLengths kLengths = ZTKeyLengths::forKeyLength(30);
constexpr uint32_t kField = 1001;

// The stored index key of a value: exactly lenKey bytes, not terminated, so that a read past
// them is caught.
std::vector<char> storedKey(const ZTKeyLengths& lengths, const std::string& value) {
    std::vector<char> full(size_t(lengths.lenKey) + 1);
    makeKey(lengths, value.c_str(), full.data(), true, false, false, false);
    full.pop_back();
    return full;
}

// The record test as the row walk runs it: one reset, then each value until decided.
bool recordMatches(CFilterElem& elem, const std::vector<std::string>& values, bool byKey,
                   const ZTKeyLengths& lengths = kLengths) {
    elem.reset();
    for (const std::string& value : values) {
        if (elem.decided) break;
        if (byKey) {
            std::vector<char> key = storedKey(lengths, value);
            elem.test(key.data(), false, false);
        } else {
            elem.test(value.c_str(), false, true);
        }
    }
    return elem.matched;
}

class FilterTest : public ::testing::Test {
  protected:
    DateOrderPin pin_{true};
    ZTFilter filter_{kLengths};

    bool matches(const std::string& condition, const std::string& value) {
        filter_.setCondition(kField, condition.c_str());
        return filter_.match(kField, value.c_str());
    }
};

struct MatchCase {
    std::string condition;
    std::string value;
    bool expected;
};

TEST_F(FilterTest, ConditionsAgainstSingleValues) {
    const MatchCase cases[] = {
        {"abc", "abc", true},
        {"abc", "ABCDEF", true},
        {"abc", "\300bc", true},  // À
        {"abc", "a-b c", true},
        {"abc", "ab", false},
        {"abc", "xabc", false},
        {"abc", "123", false},
        {"*bc", "abc", true},
        {"*bc", "xxBCyy", true},
        {"*bc", "acb", false},
        {"<m", "apple", true},
        {"<m", "m", true},
        {"<m", "Mzz", true},
        {"<m", "n", false},
        {"<m", "15", true},  // numbers sort before every text
        {">m", "m", true},
        {">m", "M", true},
        {">m", "zoo", true},
        {">m", "lzz", false},
        {">m", "15", false},
        {"a&b", "ab", false},  // both words on one value: impossible
        {"a&b", "a", false},
        {">a&<c", "b", true},
        {">a&<c", "cz", true},
        {">a&<c", "d", false},
        {">a&<c", "1", false},
        {"a-ab", "axe", true},
        {"a-ab", "Abc", false},
        {"a-ab", "b", false},
        {"\"New York\"", "New York", true},
        {"\"New York\"", "new york", false},
        {"\"New York\"", "New York City", false},
        {"\"New York\"", "New-York", false},
        {"*\"York\"", "New York", true},
        {"*\"York\"", "Yorkshire", true},
        {"*\"York\"", "new york", false},
        {"*\"York\"", "Boston", false},
        {"5", "5.0", true},
        {"5", "5", true},
        {"5", "15", false},
        {"5", "5.5", false},
        {"5", "5 apples", true},
        {"<5", "4.99", true},
        {"<5", "5.5", true},
        {"<5", "6", false},
        {">1/1/2003", "15/3/2003", true},
        {">1/1/2003", "31/12/2002", false},
        {"**", "anything", true},
        {"**", "", true},
        {"#", "x", false},
        {"-#", "x", true},
        {"-abc", "abd", true},
        {"-abc", "abcd", false},
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(matches(c.condition, c.value), c.expected)
            << "'" << c.condition << "' against '" << c.value << "'";
}

TEST_F(FilterTest, FortyLetterWordMatchesAsFarAsTheKeyHoldsIt) {
    const std::string word = byteLetters(40);
    const size_t held = size_t(kLengths.lenKey) - 4;
    std::string changedLate = word;
    changedLate[held + 5] = 'b';
    std::string changedEarly = word;
    changedEarly[10] = 'a';
    const std::string quoted = "\"" + word + "\"";
    const MatchCase cases[] = {
        {word, word, true},
        {word, (word + "more"), true},
        {word, changedLate, true},
        {word, word.substr(0, held), true},
        {word, word.substr(0, held - 1), false},
        {word, changedEarly, false},
        {quoted, word, true},
        {quoted, (word + "more"), false},
        {quoted, changedLate, false},
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(matches(c.condition, c.value), c.expected)
            << "'" << c.condition << "' against '" << c.value << "'";
}

TEST_F(FilterTest, ValuesPastTheStackRoomAreCodedWhole) {
    // Around the stack room for the key (500 bytes with its terminator) and well past it.
    for (size_t length : {495u, 496u, 497u, 600u, 5000u}) {
        std::string value(length - 3, 'a');
        value += "xyz";
        EXPECT_TRUE(matches("*xyz", value)) << length;
        EXPECT_TRUE(matches("*\"xyz\"", value)) << length;
        EXPECT_TRUE(matches("aaa", value)) << length;
        EXPECT_FALSE(matches("xyz", value)) << length;
        EXPECT_FALSE(matches("*xyzz", value)) << length;
        EXPECT_FALSE(matches("aaa-*xyz", value)) << length;
    }
}

TEST_F(FilterTest, KeyBuffersFollowTheKeyLength) {
    // With longer keys a word is held further, so a late difference is seen.
    const std::string word = byteLetters(50);
    std::string changed = word;
    changed[40] = 'b';
    for (int lenKey : {20, 30, 60}) {
        ZTKeyLengths lengths = ZTKeyLengths::forKeyLength(lenKey);
        ZTFilter filter(lengths);
        filter.setCondition(kField, word.c_str());
        EXPECT_TRUE(filter.match(kField, word.c_str())) << lenKey;
        EXPECT_EQ(filter.match(kField, changed.c_str()), lenKey - 4 <= 40) << lenKey;
        EXPECT_FALSE(filter.match(kField, "bcd")) << lenKey;

        CFilterElem* elem = filter.getElem(kField);
        ASSERT_NE(elem, nullptr);
        EXPECT_EQ(recordMatches(*elem, {"x", word}, true, lengths), true) << lenKey;
        filter.setCondition(kField, ">1/1/2003&<1/1/2004");
        EXPECT_TRUE(filter.match(kField, "2/2/2003")) << lenKey;
        EXPECT_FALSE(filter.match(kField, "2/2/2004")) << lenKey;
    }
}

struct RecordCase {
    const char* condition;
    std::vector<std::string> values;
    bool expected;
};

// The values of a record are tested one by one after one reset, from their texts or from
// their stored keys; both give the same answers.
TEST_F(FilterTest, ConditionsAgainstRecords) {
    const RecordCase cases[] = {
        {"a&b", {"apple", "banana"}, true},
        {"a&b", {"banana", "apple"}, true},
        {"a&b", {"apple", "avocado"}, false},
        {">a&<c", {"b"}, true},
        {">a&<c", {"z", "b"}, true},
        {">a&<c", {"1", "z"}, false},
        {">a&<c", {"z", "1"}, false},
        {"a&>m", {"apple", "zoo"}, true},
        {"a-ab", {"a1"}, true},
        {"a-ab", {"a1", "abc"}, false},
        {"a-ab", {"abc", "a1"}, false},
        {"a+b", {"x", "bob"}, true},
        {"-abc", {}, true},
        {"-abc", {"x"}, true},
        {"-abc", {"x", "abc"}, false},
        {"#", {}, true},
        {"#", {"x"}, false},
        {"-#", {}, false},
        {"-#", {"x"}, true},
        {"-#", {"x", "y"}, true},
        {"5", {"abc", "5.0"}, true},
        {"5", {"15", "50"}, false},
        {"", {"x"}, true},
    };
    for (const RecordCase& c : cases) {
        for (bool byKey : {false, true}) {
            CFilterElem elem(kField, kLengths);
            elem.parse(c.condition);
            EXPECT_EQ(recordMatches(elem, c.values, byKey), c.expected)
                << "'" << c.condition << "' by " << (byKey ? "key" : "text");
        }
    }
}

TEST_F(FilterTest, DecidedStopsTheWalk) {
    CFilterElem elem(kField, kLengths);
    elem.parse("a");
    elem.reset();
    EXPECT_FALSE(elem.test("b", false, true));
    EXPECT_FALSE(elem.decided);
    EXPECT_TRUE(elem.test("abc", false, true));
    EXPECT_TRUE(elem.decided);

    elem.parse("a-ab");  // a '-' word can still turn a match round
    elem.reset();
    EXPECT_TRUE(elem.test("a1", false, true));
    EXPECT_FALSE(elem.decided);
    EXPECT_FALSE(elem.test("ab", false, true));
    EXPECT_TRUE(elem.decided);
}

TEST_F(FilterTest, ParseCountsAndQuotes) {
    CFilterElem elem(kField, kLengths);
    elem.parse("a&*b-c-#+#\"d\"&*\"e f\"");
    ASSERT_EQ(elem.size, 6u);
    const int32_t joiners[] = {'&', '&', '-', '-', '+', '&'};
    const int32_t prefixes[] = {0, '*', 0, '#', '#', '*'};
    for (uint32_t i = 0; i < elem.size; ++i) {
        EXPECT_EQ(elem[i].joiner, joiners[i]) << i;
        EXPECT_EQ(elem[i].prefix, prefixes[i]) << i;
    }
    EXPECT_EQ(elem.notCount, 1);
    EXPECT_EQ(elem.hashCount, 1);
    EXPECT_EQ(elem.starCount, 2);
    EXPECT_TRUE(elem.hasQuoted);
    EXPECT_FALSE(elem.all);
    EXPECT_EQ(std::string(elem.condition.text + elem[5].quoteOffset, elem[5].quoteLength), "e f");
    EXPECT_EQ(elem[0].quoteLength, 0u);

    elem.parse("**x");
    EXPECT_TRUE(elem.all);
    EXPECT_EQ(elem.lowText, CFilterElem::kOpen);

    elem.parse("&&--++");  // separators only: no words
    EXPECT_EQ(elem.size, 0u);
    EXPECT_EQ(elem.notCount, 0);
}

TEST_F(FilterTest, SetConditionKeepsOneElementPerField) {
    EXPECT_EQ(filter_.findElem(kField), -1);
    EXPECT_EQ(filter_.lowBoundText(kField), nullptr);
    filter_.setCondition(kField, "abc");
    filter_.setCondition(kField + 1, "xyz");
    filter_.setCondition(kField, "def");
    ASSERT_EQ(filter_.size, 2u);
    EXPECT_EQ(filter_.findElem(kField), 0);
    EXPECT_EQ(filter_.findElem(kField + 1), 1);
    EXPECT_TRUE(filter_.match(kField, "defg"));
    EXPECT_FALSE(filter_.match(kField, "abc"));
    EXPECT_TRUE(filter_.match(kField + 2, "anything"));  // no condition on that field

    filter_.setCondition(kField, "");
    EXPECT_EQ(filter_.findElem(kField), -1);
    filter_.setCondition(kField + 1, nullptr);
    EXPECT_EQ(filter_.size, 0u);

    filter_.setCondition(kField, "abc");
    filter_.textOnly = true;
    filter_.reset(ZTKeyLengths::forKeyLength(40));
    EXPECT_EQ(filter_.size, 0u);
    EXPECT_FALSE(filter_.textOnly);
    EXPECT_EQ(filter_.lengths.lenKey, 40);
}

TEST_F(FilterTest, Trivial) {
    EXPECT_TRUE(filter_.isTrivial());
    const struct {
        const char* condition;
        bool trivial;
    } cases[] = {
        {"abc", true},   {"New York", true}, {"&", true},     {"a+b", false},
        {"a&b", false},  {"abc&", false},    {"*abc", false}, {"<m", false},
        {"-abc", false}, {"#", false},       {"-#", false},
    };
    for (const auto& c : cases) {
        filter_.setCondition(kField, c.condition);
        EXPECT_EQ(filter_.isTrivial(), c.trivial) << c.condition;
    }
    filter_.setCondition(kField, "abc");
    filter_.setCondition(kField + 1, "def");
    EXPECT_FALSE(filter_.isTrivial());
}

TEST(PlainSearchTextTest, FirstCharacter) {
    EXPECT_TRUE(isPlainSearchText("abc"));
    EXPECT_TRUE(isPlainSearchText("<m"));
    EXPECT_TRUE(isPlainSearchText("\"x\""));
    for (const char* text : {"", "#", "*bc", "-abc"}) EXPECT_FALSE(isPlainSearchText(text));
    EXPECT_FALSE(isPlainSearchText(nullptr));
}

struct RangeCase {
    const char* condition;
    const char* low;
    const char* high;
    std::vector<std::string> inside;  // in key order
};

// A walk over a field's values in key order meets the range's values as one run: before it
// every value is past the low bound, after it past the high one, and the run holds exactly the
// values that the condition matches.
TEST_F(FilterTest, RangeKeysEncloseTheMatchingValues) {
    const std::vector<std::string> fixture = {
        "",  "1",     "2.5", "3", "5",        "7",     "7.5", "8",    "12",
        "a", "azz",   "b",   "B", "B\351",    "bzzzz", "c",   "C d",  "d",
        "D", "d-day", "dzz", "e", "\351clat", "m",     "zoo", "\377", "3/4/2003",
    };
    const RangeCase cases[] = {
        {">b&<d", "b", "d", {"B", "b", "B\351", "bzzzz", "c", "C d", "D", "d", "d-day", "dzz"}},
        {">3&<7", "3", "7", {"3", "5", "7", "7.5"}},
        {"c", "c", "c", {"c", "C d"}},
    };
    struct Entry {
        std::vector<char> key;
        std::string value;
    };
    std::vector<Entry> entries;
    for (const std::string& value : fixture) entries.push_back({storedKey(kLengths, value), value});
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::memcmp(a.key.data(), b.key.data(), size_t(kLengths.lenKey)) < 0;
    });

    for (const RangeCase& c : cases) {
        filter_.setCondition(kField, c.condition);
        EXPECT_STREQ(filter_.lowBoundText(kField), c.low) << c.condition;
        EXPECT_STREQ(filter_.highBoundText(kField), c.high) << c.condition;
        std::vector<std::string> inside, matched;
        size_t phase = 0;  // 0 below the range, 1 inside, 2 above
        for (const Entry& e : entries) {
            bool pastLow = filter_.isPastBound(kField, e.key.data(), -1);
            bool pastHigh = filter_.isPastBound(kField, e.key.data(), 1);
            ASSERT_FALSE(pastLow && pastHigh) << e.value;
            size_t now = pastLow ? 0 : pastHigh ? 2 : 1;
            EXPECT_GE(now, phase) << c.condition << ": " << e.value << " out of key order";
            phase = now;
            if (now == 1) inside.push_back(e.value);
            if (filter_.match(kField, e.value.c_str())) matched.push_back(e.value);
        }
        EXPECT_EQ(inside, c.inside) << c.condition;
        EXPECT_EQ(matched, c.inside) << c.condition;
    }
}

TEST_F(FilterTest, BoundsOfOpenAndMissingRanges) {
    std::vector<char> key = storedKey(kLengths, "zzz");
    std::vector<char> low = storedKey(kLengths, "");
    const struct {
        const char* condition;
        bool zzzPastHigh;
        bool emptyPastLow;
    } cases[] = {
        {"*b", false, false},   {"<m", true, false}, {">a", false, true},
        {"-abc", false, false}, {"#", false, false},
    };
    for (const auto& c : cases) {
        filter_.setCondition(kField, c.condition);
        EXPECT_EQ(filter_.isPastBound(kField, key.data(), 1), c.zzzPastHigh) << c.condition;
        EXPECT_EQ(filter_.isPastBound(kField, low.data(), -1), c.emptyPastLow) << c.condition;
    }
    EXPECT_FALSE(filter_.isPastBound(kField + 1, key.data(), 1));  // no condition

    // '&>' and '&<' words keep their end against words that would open it.
    filter_.setCondition(kField, ">c&*x&<f");
    EXPECT_STREQ(filter_.lowBoundText(kField), "c");
    EXPECT_STREQ(filter_.highBoundText(kField), "f");
    filter_.setCondition(kField, "c+*x");
    EXPECT_STREQ(filter_.lowBoundText(kField), "");
    EXPECT_FALSE(filter_.isPastBound(kField, low.data(), -1));

    // A number condition bounds by its number keys unless the filter is told to use text.
    filter_.setCondition(kField, "5");
    std::vector<char> text = storedKey(kLengths, "abc");
    EXPECT_TRUE(filter_.isPastBound(kField, text.data(), 1));
    filter_.textOnly = true;
    EXPECT_FALSE(filter_.isPastBound(kField, storedKey(kLengths, "5x").data(), 1));
    EXPECT_TRUE(filter_.isPastBound(kField, text.data(), 1));
}

TEST_F(FilterTest, BadConditionsGiveAnAnswer) {
    const std::string thousand = byteLetters(1000);
    const std::string value = "New York";
    const struct {
        std::string condition;
        bool matchesNewYork;
    } cases[] = {
        {"\"New York", true},  // an open quote runs to the end
        {"*\"York", true},
        {"\"", true},
        {"\"\"", true},
        {thousand, false},
        {"*" + thousand, false},
        {"\"" + thousand, false},
        {"-" + thousand, true},
        {"<<<>>>", true},
        {"#-#", false},
        {"-", true},
        {"*", true},
        {"&-+&-+", true},
        {"\x1bi", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(matches(c.condition, value), c.matchesNewYork) << c.condition.substr(0, 20);
}

// Random conditions over the characters that mean something to the parser: every one gives an
// answer, a single value is judged alike as a value and as a record, and from its stored key as
// from its text when the key holds the whole text.
TEST_F(FilterTest, RandomConditionsAreConsistent) {
    const std::string alphabet = "ab5.\"&&++--##**<<>> \xE9";
    const std::vector<std::string> values = {"", "a", "ab", "b5", "5", "5.5", "ba", "\311a"};
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        std::string condition;
        size_t length = random() % 24;
        for (size_t i = 0; i < length; ++i) condition += alphabet[random() % alphabet.size()];
        filter_.setCondition(kField, condition.c_str());
        CFilterElem* elem = filter_.getElem(kField);
        for (const std::string& value : values) {
            bool asValue = filter_.match(kField, value.c_str());
            if (!elem || elem->all) continue;
            ASSERT_EQ(recordMatches(*elem, {value}, false), asValue) << condition << " / " << value;
            if (elem->hasQuoted) continue;  // quoted words need the text
            ASSERT_EQ(recordMatches(*elem, {value}, true), asValue) << condition << " / " << value;
        }
    }
}

TEST(FilterThreadsTest, TwoThreadsTestDifferentFilters) {
    DateOrderPin pin(true);
    std::vector<std::string> values;
    for (int i = 0; i < 200; ++i)
        values.push_back((i % 3 ? "New York " : "Boston ") + std::to_string(i) +
                         std::string(size_t(i * 5), 'y'));
    const char* conditions[2] = {"*\"York\"-*\"9\"", ">b&<c"};
    std::vector<bool> expected[2];
    for (int t = 0; t < 2; ++t) {
        ZTFilter filter(kLengths);
        filter.setCondition(kField, conditions[t]);
        for (const std::string& v : values) expected[t].push_back(filter.match(kField, v.c_str()));
    }
    ASSERT_NE(expected[0], expected[1]);

    expectNoMismatchOnTwoThreads([&](int t) {
        int mismatches = 0;
        ZTFilter filter(kLengths);
        filter.setCondition(kField, conditions[t]);
        for (int pass = 0; pass < 50; ++pass)
            for (size_t i = 0; i < values.size(); ++i)
                if (filter.match(kField, values[i].c_str()) != expected[t][i]) ++mismatches;
        return mismatches;
    });
}

}  // namespace
