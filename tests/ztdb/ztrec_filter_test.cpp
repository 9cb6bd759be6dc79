// Search conditions against the records of a database: the row walk of the record test, by key
// or by text, with link following for conditions on every field; the range of a condition over
// a field's rows in value order; two threads testing their own conditions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "date_order_pin.h"
#include "filter_helpers.h"
#include "ztdb/ztfilter.h"
#include "ztrec_helpers.h"

namespace {

constexpr uint32_t kField = 1001;
constexpr uint32_t kOther = 1002;
constexpr uint32_t kThird = 1003;

class ZTRecFilters : public ::testing::Test {
  protected:
    void SetUp() override {
        word_ = byteLetters(40);
        std::string late = word_, early = word_;
        late[30] = 'b';
        early[5] = 'a';
        values_ = {
            {1010, {"abcdef"}},
            {1011, {"xbcx"}},
            {1012, {"apple", "banana"}},
            {1013, {"b"}},
            {1014, {"a1", "abc"}},
            {1015, {"a1"}},
            {1016, {"New York"}},
            {1017, {"New York City"}},
            {1018, {"5.0"}},
            {1019, {"15"}},
            {1020, {}},
            {1021, {word_}},
            {1022, {late}},
            {1023, {early}},
            {1024, {std::string(597, 'a') + "xyz"}},
            {1025, {"Boston", "Yorkshire"}},
        };
        dbcheck::Fixture fx;
        fx.dayFirst = true;
        fx.counter(5000);
        fx.field(kField, "F");
        fx.field(kOther, "G");
        fx.field(kThird, "H");
        for (const auto& [record, texts] : values_) {
            uint32_t position = 1;
            for (const std::string& t : texts) fx.value(record, kField, position++, t);
            fx.value(record, kThird, 1, "other field");
        }
        // Conditions on every field follow links into the linked record's values.
        uint32_t zeta = fx.value(1031, kField, 1, "Zeta");
        fx.value(1031, kOther, 1, "Omega");
        fx.link(1030, kOther, 1, zeta);
        fx.value(1032, kThird, 1, "alpha");
        base_ = dir_.file("filters");
        ASSERT_TRUE(fx.write(base_)) << fx.error;
        file_.setName(base_.c_str());
        ASSERT_EQ(file_.open(3, false), 3u);
    }

    // The record's values tested one by one from their texts, as the filter defines it.
    bool byTexts(const char* condition, uint32_t record) {
        CFilterElem elem(kField, file_.getKeyLengths());
        elem.parse(condition);
        elem.reset();
        for (const std::string& t : values_[record]) {
            if (elem.decided) break;
            elem.test(t.c_str(), false, true);
        }
        return elem.matched;
    }

    bool byRows(const char* condition, uint32_t record, uint32_t field = kField) {
        CFilterElem elem(field, file_.getKeyLengths());
        elem.parse(condition);
        ZTRec rec(&file_);
        return rec.testRecord(record, &elem, false);
    }

    DateOrderPin pin_{true};
    TempDir dir_;
    std::string base_;
    ZTFile file_{nullptr};
    std::string word_;
    std::map<uint32_t, std::vector<std::string>> values_;
};

TEST_F(ZTRecFilters, ConditionsAgainstRecords) {
    const std::string quotedWord = "\"" + word_ + "\"";
    const struct {
        std::string condition;
        uint32_t record;
        bool expected;
    } cases[] = {
        {"abc", 1010, true},
        {"abc", 1011, false},
        {"abc", 1014, true},
        {"*bc", 1011, true},
        {"*bc", 1013, false},
        {"<m", 1013, true},
        {"<m", 1016, false},
        {"<m", 1018, true},
        {"<m", 1020, false},
        {">m", 1016, true},
        {">m", 1013, false},
        {">m", 1019, false},
        {"a&b", 1012, true},
        {"a&b", 1014, false},
        {"a&b", 1013, false},
        {">a&<c", 1013, true},
        {">a&<c", 1011, false},
        {">a&<c", 1018, false},
        {"a-ab", 1015, true},
        {"a-ab", 1014, false},
        {"\"New York\"", 1016, true},
        {"\"New York\"", 1017, false},
        {"*\"York\"", 1017, true},
        {"*\"York\"", 1025, true},
        {"*\"York\"", 1010, false},
        {"5", 1018, true},
        {"5", 1019, false},
        {"**", 1020, true},
        {"#", 1020, true},
        {"#", 1010, false},
        {"-#", 1020, false},
        {"-#", 1010, true},
        {"-#", 1025, true},
        {word_, 1021, true},
        {word_, 1022, true},
        {word_, 1023, false},
        {quotedWord, 1021, true},
        {quotedWord, 1022, false},
        {"*xyz", 1024, true},
        {"*\"xyz\"", 1024, true},
        {"*xyz", 1010, false},
        {"aaa-*xyz", 1024, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(byRows(c.condition.c_str(), c.record), c.expected)
            << "'" << c.condition.substr(0, 12) << "' on " << c.record;

    // Every condition on every record: the row walk (keys, texts where the key is cut or a
    // word is quoted) agrees with testing the texts.
    for (const auto& c : cases) {
        if (c.condition == "**") continue;
        for (const auto& [record, texts] : values_)
            EXPECT_EQ(byRows(c.condition.c_str(), record), byTexts(c.condition.c_str(), record))
                << "'" << c.condition.substr(0, 12) << "' on " << record;
    }
    EXPECT_EQ(file_.getReadDepth(), 0);
}

TEST_F(ZTRecFilters, ConditionsOnEveryFieldFollowLinks) {
    // The link row's own key holds the linked value; the linked record's other values count too.
    EXPECT_TRUE(byRows("**zeta", 1030));
    EXPECT_TRUE(byRows("**omega", 1030));
    EXPECT_FALSE(byRows("**omega", 1032));
    EXPECT_TRUE(byRows("**alpha", 1032));
    EXPECT_TRUE(byRows("**field", 1010));  // any field from type 40 on
    // Conditions on one field do not follow links.
    EXPECT_FALSE(byRows("omega", 1030, kOther));
    EXPECT_TRUE(byRows("zeta", 1030, kOther));
    EXPECT_FALSE(byRows("zeta", 1030, kField));
}

// The range of '>b&<d' encloses exactly the values from b to d in value order, and the bound
// test agrees with the byte order of the keys.
TEST_F(ZTRecFilters, RangeKeysEncloseTheMatchingRows) {
    ZTFilter filter(file_.getKeyLengths());
    filter.setCondition(kField, ">b&<d");
    const CFilterElem* elem = filter.getElem(kField);
    ASSERT_NE(elem, nullptr);
    const size_t lenKey = size_t(file_.getLenKey());
    int phase = 0;
    std::vector<std::string> inside, matching;
    for (const WalkedRow& row : typeWalk(file_, kField)) {
        const bool pastLow = filter.isPastBound(kField, row.key.data(), -1);
        const bool pastHigh = filter.isPastBound(kField, row.key.data(), 1);
        EXPECT_EQ(pastHigh, std::memcmp(row.key.data(), elem->highTextKey, lenKey) > 0);
        ASSERT_FALSE(pastLow && pastHigh);
        const int now = pastLow ? 0 : pastHigh ? 2 : 1;
        EXPECT_GE(now, phase) << row.record;
        phase = now;
        const std::string text = chainText(file_, row.value);
        if (now == 1) inside.push_back(text);
        if (filter.match(kField, text.c_str())) matching.push_back(text);
    }
    EXPECT_EQ(inside, matching);
    std::vector<std::string> expected = {"b",   "banana",         "Boston",
                                         word_, values_[1022][0], values_[1023][0]};
    std::sort(expected.begin(), expected.end());
    std::sort(inside.begin(), inside.end());
    EXPECT_EQ(inside, expected);
}

// Two threads, each with its own database object and condition, test every record again and
// again and get the answers one thread gets alone.
TEST_F(ZTRecFilters, TwoThreadsTestTheirOwnConditions) {
    const char* conditions[2] = {"*\"York\"-*ci", ">a&<c"};
    std::vector<bool> expected[2];
    for (int t = 0; t < 2; ++t)
        for (const auto& entry : values_) expected[t].push_back(byRows(conditions[t], entry.first));
    ASSERT_NE(expected[0], expected[1]);
    expectNoMismatchOnTwoThreads([&](int t) {
        ZTFile mine(base_.c_str());
        if (mine.open(3, false) != 3) return 1;
        CFilterElem elem(kField, mine.getKeyLengths());
        elem.parse(conditions[t]);
        ZTRec rec(&mine);
        int mismatches = 0;
        for (int pass = 0; pass < 20; ++pass) {
            size_t i = 0;
            for (const auto& entry : values_)
                if (rec.testRecord(entry.first, &elem, false) != expected[t][i++]) ++mismatches;
        }
        return mismatches;
    });
}

}  // namespace
