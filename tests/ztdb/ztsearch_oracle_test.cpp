// The complete result of a search against a brute-force filter-then-sort over generated
// databases: ascending and descending, inline and threaded, in field, set and record order, with
// query sets and in locate mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ztsearch_helpers.h"

using namespace searchtest;

namespace {

std::string field(uint32_t id) {
    return "(" + std::to_string(id) + ")";
}

// Texts, the conditions the oracle reads from them, sort field, set and query sets.
const std::vector<QueryCase>& queryCases() {
    static const std::vector<QueryCase> cases = {
        {"", {}, kName},
        {field(kName) + "b", {{kName, "b"}}, kName},
        {field(kName) + ">m", {{kName, ">m"}}, kName},
        {field(kName) + "<d", {{kName, "<d"}}, kName},
        {field(kName) + "sm", {{kName, "sm"}}, 0, kPeople},
        {field(kTags) + "red", {{kTags, "red"}}, kName},
        {field(kAmount) + ">50&<150", {{kAmount, ">50&<150"}}, kAmount},
        {field(kAmount) + ">50", {{kAmount, ">50"}}, kName, kPeople},
        {field(kName) + "-#", {{kName, "-#"}}, kAmount},
        {field(kTags) + "#", {{kTags, "#"}}, kName},
        {"", {}, ZTSearch::kRecordOrder, kPeople},
        {field(kTags) + "blue", {{kTags, "blue"}}, ZTSearch::kRecordOrder},
        {"text first " + field(kName) + "e" + field(kTags) + "green",
         {{kName, "e"}, {kTags, "green"}},
         kDate},
        {"", {}, kName, 0, {kByAmount}},
        {field(kName) + "m", {{kName, "m"}}, kName, 0, {kByAmount, kPeople}},
        // Quoted text belongs to the condition: no field group, no formula.
        {field(kName) + "\"x(1004)y\"", {{kName, "\"x(1004)y\""}}, kName},
        {field(kName) + "\"a=b\"", {{kName, "\"a=b\""}}, kName},
        // A group that is no field ID stays in the condition text.
        {field(kName) + "a(b)c", {{kName, "a(b)c"}}, kName},
        {field(kName) + "x(0)y", {{kName, "x(0)y"}}, kName},
        {"(99999999999)" + field(kName) + "e", {{kName, "e"}}, kName},
        {field(kLink) + "a", {{kLink, "a"}}, kName},
        {"", {}, kLink},
        {field(kDate) + ">2021-05-01", {{kDate, ">2021-05-01"}}, kDate},
        {"", {}, 0, kByAmount},
        {field(kName) + "s", {{kName, "s"}}, kName, kByAmount},
        // Formula conditions, after the first '=' outside quotes.
        {"=Amount>50", {}, kName, 0, {}, "Amount>50"},
        {field(kTags) + "red=len(Name)>4", {{kTags, "red"}}, kName, 0, {}, "len(Name)>4"},
        {field(kName) + "e=Amount", {{kName, "e"}}, kName, 0, {}, "Amount"},
        {"=Amount>100", {}, ZTSearch::kRecordOrder, 0, {}, "Amount>100"},
        {"=Amount<20", {}, 0, kPeople, {}, "Amount<20"},
        {field(kName) + "\"=\"=1", {{kName, "\"=\""}}, kName, 0, {}, "1"},
        {field(kName) + "m=Nofield>1", {{kName, "m"}}, kName, 0, {}, "Nofield>1"},
        // Bad input: an open quote, an open group, a long condition.
        {field(kName) + "\"ab", {{kName, "\"ab"}}, kName},
        {field(kName) + "e(" + std::to_string(kTags), {{kName, "e(1004"}}, kName},
        {field(kName) + std::string(10000, 'a'), {{kName, std::string(10000, 'a')}}, kName},
    };
    return cases;
}

struct Mode {
    bool threaded;
    bool descending;
    bool reseek = false;  // forward steps find the row again by its value
};

const Mode kModes[] = {{false, false}, {false, true},        {true, false},
                       {true, true},   {false, false, true}, {true, false, true}};

std::string describe(const QueryCase& q, const Mode& m) {
    return "query '" + q.text.substr(0, 40) + "' sort " + std::to_string(q.sortingField) + " set " +
           std::to_string(q.setMember) + (m.threaded ? " threaded" : " inline") +
           (m.descending ? " descending" : " ascending") + (m.reseek ? " re-seeking" : "");
}

// Runs the query over the whole result (both directions from the start) and reads the window.
std::vector<WindowRow> runWhole(GeneratedDatabase& db, const QueryCase& q, const Mode& m,
                                uint32_t start, bool* complete) {
    ZTSearch search(db.file.get(), m.threaded, 0, 1000000);
    search.setDescending(m.descending);
    if (m.reseek) search.setReseek(true);
    ZTArray<uint32_t> sets;
    for (uint32_t s : q.querySets) sets.add(s, true);
    EXPECT_TRUE(search.query(q.text.c_str(), q.sortingField, q.setMember, 0, goOn, nullptr, 0, 0,
                             q.querySets.empty() ? nullptr : &sets, false, start));
    search.makeAvailable(-200000, 200000);
    waitIdle(search);
    *complete = search.isComplete();
    return windowOf(search);
}

void expectSameRows(const std::vector<IndexRow>& expected, const std::vector<WindowRow>& got,
                    bool recordOrder, int32_t firstRow, bool checkNumbers,
                    const std::string& what) {
    ASSERT_EQ(got.size(), expected.size()) << what;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].record, expected[i].record) << what << " at " << i;
        if (!recordOrder) {
            EXPECT_EQ(got[i].text, expected[i].text) << what << " at " << i;
        }
        if (checkNumbers) {
            EXPECT_EQ(got[i].row, firstRow + int32_t(i)) << what;
        }
        if (testing::Test::HasFailure()) return;
    }
}

class SearchOracle : public testing::TestWithParam<uint32_t> {};

TEST_P(SearchOracle, CompleteResultEqualsFilterThenSort) {
    GeneratedDatabase db(GetParam(), 160);
    for (const QueryCase& q : queryCases()) {
        std::vector<IndexRow> expected = bruteForce(db, q, true);
        for (const Mode& m : kModes) {
            std::vector<IndexRow> want = expected;
            if (m.descending) std::reverse(want.begin(), want.end());
            bool complete = false;
            const std::vector<WindowRow> got = runWhole(db, q, m, 0, &complete);
            const std::string what = describe(q, m);
            EXPECT_TRUE(complete) << what;
            expectSameRows(want, got, q.sortingField == ZTSearch::kRecordOrder, 0, true, what);
            if (HasFailure()) return;
        }
    }
}

// Locate mode: the walk goes to the first row that passes every test and lists everything
// around it that passes the tests other than the sort field's own condition.
TEST_P(SearchOracle, LocateKeepsEveryTestButTheSortCondition) {
    GeneratedDatabase db(GetParam(), 160);
    for (const QueryCase& q : queryCases()) {
        const uint32_t sortBy = q.sortingField             ? q.sortingField
                                : q.setMember == kByAmount ? kAmount
                                                           : kName;
        bool sortCondition = false;
        for (const auto& c : q.conditions) sortCondition = sortCondition || c.first == sortBy;
        if (!sortCondition || sortBy == ZTSearch::kRecordOrder) continue;
        ZTFilter filter(db.file->getKeyLengths());
        for (const auto& c : q.conditions) filter.setCondition(c.first, c.second.c_str());
        for (const Mode& m : kModes) {
            std::vector<IndexRow> full = bruteForce(db, q, true);
            std::vector<IndexRow> others = bruteForce(db, q, false);
            if (m.descending) {
                std::reverse(full.begin(), full.end());
                std::reverse(others.begin(), others.end());
            }
            bool complete = false;
            const std::vector<WindowRow> got = runWhole(db, q, m, 0xFFFFFFFFu, &complete);
            const std::string what = "locate " + describe(q, m);
            EXPECT_TRUE(complete) << what;
            if (!full.empty()) {
                int32_t at = 0;
                while (others[size_t(at)].record != full[0].record ||
                       others[size_t(at)].text != full[0].text || others[size_t(at)].e != full[0].e)
                    ++at;
                expectSameRows(others, got, false, -at, true, what);
            } else if (filter.isTrivial()) {
                // A single word that nothing matches: the walk goes on past its bound, when it
                // has one that a value passes; a word whose range holds every value never ends.
                if (!got.empty()) expectSameRows(others, got, false, 0, false, what);
            } else {
                EXPECT_TRUE(got.empty()) << what;
            }
            if (HasFailure()) return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SearchOracle, testing::Values(1u, 2u, 3u));

}  // namespace
