// ZTSearch: query texts, the window arithmetic, start positions, scroll positions and estimates,
// refresh, threads, and the list view's callback stand-in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "assert_capture.h"
#include "ztdb/ztresult.h"
#include "ztsearch_helpers.h"

using namespace searchtest;

namespace {

std::string group(uint32_t id) {
    return "(" + std::to_string(id) + ")";
}

// Shows the conditions the search parsed, and answers every changed row.
class OpenSearch : public ZTSearch {
  public:
    using ZTSearch::ZTSearch;
    std::map<uint32_t, std::string> conditions() {
        std::map<uint32_t, std::string> out;
        for (uint32_t i = 0; i < callerFilter()->size; ++i)
            out[callerFilter()->data[i]->fieldID] = callerFilter()->data[i]->condition.text;
        return out;
    }
    bool rowChanged(int32_t, ZTRefreshInfo*) override { return true; }
};

// Waits for a condition that the worker makes true; fails instead of hanging when it never
// comes (a lost request).
template <class F>
bool eventually(F ready) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// ---- query texts ----

TEST(SearchQueryText, GroupsQuotesAndFormulaSplit) {
    NamesDatabase db(5);
    struct Case {
        std::string text;
        std::map<uint32_t, std::string> want;
    } cases[] = {
        {"(12)smith(15)>100", {{12, "smith"}, {15, ">100"}}},
        {"smith", {}},
        {"(12)a(b)c", {{12, "a(b)c"}}},
        {"lead (12)x(0)y", {{12, "x(0)y"}}},
        {"(12)x=1+(13)", {{12, "x"}}},
        {"(12)\"a=b\"(13)c", {{12, "\"a=b\""}, {13, "c"}}},
        {"(12)\"(13)c\"", {{12, "\"(13)c\""}}},
        {"(12)\"open(13)c", {{12, "\"open(13)c"}}},
        {"(99999999999)x(7)y", {{7, "y"}}},
        {"(4294967295)x", {{4294967295u, "x"}}},
        {"((12)x(13", {{12, "x(13"}}},
        {"(12)", {}},
    };
    OpenSearch search(db.file.get(), false, 0, 50);
    for (const Case& c : cases) {
        ASSERT_TRUE(
            search.query(c.text.c_str(), kName, 0, 0, nullptr, nullptr, 0, 0, nullptr, false, 0));
        EXPECT_EQ(search.conditions(), c.want) << c.text;
    }
}

TEST(SearchQueryText, BrokenQueriesAreRefusedAndReported) {
    NamesDatabase db(5);
    ZTSearch search(db.file.get(), false, 0, 50);
    AssertCapture capture;
    EXPECT_FALSE(search.query("", 0, 0, 0, nullptr, nullptr, 10, 0, nullptr, false, 0));
    // Field 1001 is no set: it has no first field.
    EXPECT_FALSE(search.query("", 0, kName, 0, nullptr, nullptr, 10, 0, nullptr, false, 0));
    EXPECT_EQ(capture.reports().size(), 2u);
    EXPECT_FALSE(search.isQueryStarted());
    ZTSearch unbound(nullptr, true, 0, 50);
    EXPECT_FALSE(unbound.query("", kName, 0, 0, nullptr, nullptr, 10, 0, nullptr, false, 0));
}

TEST(SearchQueryText, QueryFieldMakesAConditionOfAPlainText) {
    NamesDatabase db(40);
    ZTSearch search(nullptr, false, 20, 200, 500);
    EXPECT_EQ(search.getOptionWord(), 500u);
    // "n001" is a condition on the field: n0010 .. n0019.
    EXPECT_EQ(search.queryField(db.file.get(), kName, "n001", 0, 100, 120), 10);
    EXPECT_STREQ(search.getRowValue(0), "n0010");
    EXPECT_EQ(search.getRowState(10), ZTSearch::kRowBeyondEnd);
    // Holding a group, the text is taken as it is.
    EXPECT_EQ(search.queryField(db.file.get(), kName, "(1004)red", 0, 100, 120), 14);
}

// ---- the window ----

TEST(SearchWindow, RequestedRangeRoundsOutWithoutOverflow) {
    struct Case {
        int64_t first, last;
        int32_t margin, capacity;
        int64_t reqFirst, reqLast;
    } cases[] = {
        {0, 9, 0, 100, 0, 10},
        {25, 30, 5, 100, 10, 40},
        {-5, 3, 0, 100, -10, 10},
        {0, 199, 100, 1000, -100, 300},
        // A scan: everything, through two rows.
        {0, 0x7FFFFFFE, 0, 2, 0, 0x80000000LL + 2},
        {-0x7FFFFFFF, 0x7FFFFFFE, 100, 400, -2147483800LL, 2147483800LL},
        // The list view: margins cut to what a window of 400 holds around 41 rows.
        {1234, 1274, 100, 400, 1055, 1400},
        {1200, 1240, 100, 400, 1021, 1400},
        {1150, 1190, 100, 1000, 900, 1300},
    };
    for (const Case& c : cases) {
        int64_t f = 0, l = 0;
        ZTSearch::requestedRange(c.first, c.last, c.margin, c.capacity, &f, &l);
        EXPECT_EQ(f, c.reqFirst) << c.first << ".." << c.last << " margin " << c.margin;
        EXPECT_EQ(l, c.reqLast) << c.first << ".." << c.last << " margin " << c.margin;
    }
}

struct Counter {
    std::atomic<uint32_t> added{0}, ends{0};
    static uint32_t entry(uint32_t code, uintptr_t, uintptr_t, void* context) {
        auto* self = static_cast<Counter*>(context);
        if (code == ZTSearch::kCodeRowAdded) self->added++;
        if (code == ZTSearch::kCodeEndReached) self->ends++;
        return 0;
    }
};

// Every row through a window of two, as a scan asks for it.
TEST(SearchWindow, AllRowsThroughTheSmallestWindow) {
    GeneratedDatabase db(11, 120);
    const QueryCase q{group(kTags) + "red", {{kTags, "red"}}, kName};
    const size_t expected = bruteForce(db, q, true).size();
    for (bool threaded : {false, true}) {
        Counter counter;
        ZTSearch search(db.file.get(), threaded, 0, 1);
        ASSERT_TRUE(search.query(q.text.c_str(), kName, 0, 0, Counter::entry, &counter, 0x7FFFFFFF,
                                 0, nullptr, false, 0));
        waitIdle(search);
        EXPECT_EQ(counter.added.load(), expected) << threaded;
        EXPECT_EQ(counter.ends.load(), 1u);
        EXPECT_EQ(search.getLastRow() - search.getFirstRow(), 1);  // capacity raised to 2
        EXPECT_EQ(search.getRowState(search.getLastRow() + 1), ZTSearch::kRowBeyondEnd);
    }
}

TEST(SearchWindow, RowsOutsideTheWindowAreEmpty) {
    NamesDatabase db(30);
    ZTSearch search(db.file.get(), false, 0, 100);
    ASSERT_TRUE(search.query("", kName, 0, 0, nullptr, nullptr, 5, 0, nullptr, false, 0));
    EXPECT_EQ(search.getRowState(3), ZTSearch::kRowInWindow);
    EXPECT_EQ(search.getRowState(25), ZTSearch::kRowNotLoaded);
    // Nothing was asked for before the first row: the walk has not looked there.
    EXPECT_EQ(search.getRowState(-1), ZTSearch::kRowNotLoaded);
    EXPECT_EQ(search.getRecordID(25), 0u);
    EXPECT_EQ(search.getRowValue(25), nullptr);
    ZTArray<uint32_t> ids;
    EXPECT_FALSE(search.getRowIDs(25, 30, &ids));
    EXPECT_TRUE(search.getRowIDs(8, 1000, &ids));
    ASSERT_EQ(ids.size, 3u);  // rows 8, 9, 10
    EXPECT_EQ(ids.data[0], db.byName[8]);
    EXPECT_FALSE(search.isComplete());
    EXPECT_EQ(search.makeAvailable(2, 6), 0);  // all there already
    EXPECT_EQ(search.makeAvailable(-5, 40), 1);
    EXPECT_TRUE(search.isComplete());
    EXPECT_EQ(search.getRowState(-1), ZTSearch::kRowBeyondEnd);
    EXPECT_EQ(search.getRecordCount(), 30);
}

// A prefix on the sort field reads the matching rows and stops at the end of the range.
TEST(SearchWindow, PrefixConditionReadsInProportionToTheMatches) {
    NamesDatabase db(3000);
    for (bool descending : {false, true}) {
        ZTSearch search(db.file.get(), false, 0, 5000);
        search.setDescending(descending);
        ASSERT_TRUE(search.query((group(kName) + "n15").c_str(), kName, 0, 0, nullptr, nullptr,
                                 1000, 0, nullptr, false, 0));
        search.makeAvailable(-1000, 1000);
        EXPECT_TRUE(search.isComplete());
        EXPECT_EQ(search.getRecordCount(), 100);
        EXPECT_STREQ(search.getRowValue(0), descending ? "n1599" : "n1500");
        EXPECT_LE(search.getRowsExamined(), 104u);
    }
}

// ---- start positions ----

TEST(SearchStart, RecordAndOtherEnd) {
    GeneratedDatabase db(5, 120);
    const QueryCase q{"", {}, kName};
    const std::vector<IndexRow> all = bruteForce(db, q, true);
    const IndexRow& middle = all[all.size() / 2];
    // The record's first value by position, wherever it sorts.
    size_t at = 0;
    for (const dbcheck::FixtureRow& r : db.fx.rows)
        if (r.a == middle.record && r.b == kName && r.c == 1)
            while (all[at].e != r.e) ++at;
    for (bool threaded : {false, true}) {
        ZTSearch search(db.file.get(), threaded, 0, 100000);
        ASSERT_TRUE(
            search.query("", kName, 0, 0, nullptr, nullptr, 0, 0, nullptr, false, middle.record));
        search.makeAvailable(-1000, 1000);
        waitIdle(search);
        EXPECT_EQ(search.getRecordID(0), middle.record);
        EXPECT_EQ(search.getFirstRow(), -int32_t(at));
        EXPECT_EQ(search.getLastRow() - search.getFirstRow() + 1, int32_t(all.size()));

        ASSERT_TRUE(search.query("", kName, 0, 0, nullptr, nullptr, 0, 0, nullptr, false,
                                 uint32_t(ZTSearch::kStartOtherEnd)));
        search.makeAvailable(-1000, 1000);
        waitIdle(search);
        EXPECT_EQ(search.getLastRow(), 0);
        EXPECT_EQ(search.getRecordID(0), all.back().record);
        EXPECT_EQ(search.getRecordID(search.getFirstRow()), all.front().record);
    }
}

// Locate mode on a single plain word that nothing matches: the view is asked (code 16), and
// goes on from the place the word would have.
TEST(SearchStart, LocatePastTheBoundAsksAndGoesOn) {
    NamesDatabase db(50);
    struct Answer {
        uint32_t code16 = 0;
        uint32_t answer = 0;
        static uint32_t entry(uint32_t code, uintptr_t, uintptr_t, void* context) {
            auto* self = static_cast<Answer*>(context);
            if (code == ZTSearch::kCodeBoundPassed) {
                self->code16++;
                return self->answer;
            }
            return 0;
        }
    };
    for (uint32_t answer : {0u, kZTAnswerStop}) {
        Answer a;
        a.answer = answer;
        ZTSearch search(db.file.get(), false, 0, 1000);
        ASSERT_TRUE(search.query((group(kName) + "n0025x").c_str(), kName, 0, 0, Answer::entry, &a,
                                 0, 0, nullptr, false, 0xFFFFFFFFu));
        search.makeAvailable(-100, 100);
        EXPECT_GE(a.code16, 1u);
        if (answer == 0) {
            EXPECT_STREQ(search.getRowValue(0), "n0026");
            EXPECT_EQ(search.getRecordCount(), 50);
        } else {
            EXPECT_EQ(search.getRecordID(0), 0u);
        }
    }
}

// ---- scroll positions and estimates ----

TEST(SearchScroll, EstimateRoundsToOneDigit) {
    struct Case {
        int64_t rows;
        double span;
        int32_t want;
    } cases[] = {
        {1234, 1.0, 1000}, {1678, 1.0, 2000}, {95, 1.0, 100}, {9, 1.0, 9},
        {150, 0.5, 300},   {10, 0.0, -1},     {10, -0.5, -1}, {10, 1e-300, 2000000000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ZTSearch::estimateCount(c.rows, c.span), c.want) << c.rows << " " << c.span;
}

TEST(SearchScroll, PositionsEstimatesAndScrollTo) {
    NamesDatabase db(1000);
    for (bool threaded : {false, true}) {
        for (bool descending : {false, true}) {
            const std::string what = std::string(threaded ? "threaded" : "inline") +
                                     (descending ? " descending" : " ascending");
            ZTSearch search(db.file.get(), threaded, 0, 400);
            search.setDescending(descending);
            ASSERT_TRUE(search.query("", kName, 0, 0, nullptr, nullptr, 1, 0, nullptr, true, 0));
            waitIdle(search);
            EXPECT_EQ(search.getRecordCount(), -1) << what;  // fewer than 10 rows
            search.makeAvailable(0, 99);
            waitIdle(search);
            EXPECT_EQ(search.getScrollPos(0), descending ? 1.0 : 0.0) << what;
            EXPECT_EQ(search.getRecordCount(), 1000) << what;
            EXPECT_EQ(search.getScrollPos(5000), -1.0) << what;

            search.scrollTo(0.5, 20);
            waitIdle(search);
            const std::string at = search.getRowValue(0) ? search.getRowValue(0) : "";
            EXPECT_GE(at, "n0450") << what;
            EXPECT_LE(at, "n0550") << what;

            search.scrollTo(1.0, 20);
            waitIdle(search);
            EXPECT_STREQ(search.getRowValue(0), "n0999") << what;
            EXPECT_EQ(search.getScrollPos(0), 1.0) << what;
        }
    }
}

TEST(SearchScroll, SingleRowHasPositionZero) {
    NamesDatabase db(30);
    ZTSearch search(db.file.get(), false, 0, 50);
    ASSERT_TRUE(search.query((group(kName) + "n0007").c_str(), kName, 0, 0, nullptr, nullptr, 0, 0,
                             nullptr, true, 0));
    search.makeAvailable(-10, 10);
    ASSERT_TRUE(search.isComplete());
    EXPECT_EQ(search.getScrollPos(0), 0.0);
}

// ---- refresh ----

TEST(SearchRefresh, StatusFollowsWhatTheQueryWatches) {
    NamesDatabase db(30);
    const uint32_t shown = db.byName[3];    // n0003, tagged red
    const uint32_t hidden = db.byName[28];  // not in the window
    const uint32_t fresh = kFirstRecord + 500;
    struct Case {
        const char* what;
        uint32_t sortingField;
        uint32_t record, sub, flags;
        int32_t status;
    } cases[] = {
        {"other field of a shown row", kName, shown, kDate, 3, 1},
        {"sort field", kName, shown, kName, 3, 2},
        {"condition field of a hidden record", kName, hidden, kTags, 3, 2},
        {"query set", kName, hidden, kByAmount, 3, 2},
        {"set of the rows", kName, hidden, kPeople, 1, 2},
        {"record gone", kName, hidden, 0, 2, 2},
        {"whole database", kName, 0, 0, 3, 2},
        {"other field of a hidden record", kName, hidden, kDate, 3, 0},
        {"new record in field order", kName, fresh, kDate, 1, 0},
        {"new record in record order", ZTSearch::kRecordOrder, fresh, kDate, 1, 2},
    };
    ZTArray<uint32_t> sets;
    sets.add(kByAmount, true);
    sets.add(kPeople, true);
    for (const Case& c : cases) {
        OpenSearch search(db.file.get(), false, 0, 100);
        ASSERT_TRUE(search.query(group(kTags).append("red").c_str(), c.sortingField, kPeople, 0,
                                 nullptr, nullptr, 5, 0, &sets, false, 0));
        ZTRefreshInfo info;
        info.add(db.file.get(), c.record, c.sub, c.flags);
        ZTSearchRefreshInfo out;
        EXPECT_EQ(search.dispatchRefresh(&info, &out), c.status != 0) << c.what;
        EXPECT_EQ(out.status, c.status) << c.what;
        if (c.status == 1) {
            int32_t row = search.getFirstRow();
            while (search.getRecordID(row) != shown) ++row;
            EXPECT_EQ(out.low, row) << c.what;
            EXPECT_EQ(out.high, row) << c.what;
        }
    }
}

TEST(SearchRefresh, UnwatchedChangeNamesTheRowEvenWhenItDoesNotReact) {
    NamesDatabase db(10);
    ZTSearch plain(db.file.get(), false, 0, 100);
    ASSERT_TRUE(plain.query("", kName, 0, 0, nullptr, nullptr, 10, 0, nullptr, false, 0));
    ZTRefreshInfo info;
    info.add(db.file.get(), db.byName[2], kDate, 3);
    ZTSearchRefreshInfo out;
    EXPECT_EQ(plain.dispatchRefresh(&info, &out), 0);
    EXPECT_EQ(out.low, 2);  // the row is named all the same
    EXPECT_EQ(out.status, 0);
}

// With a formula condition any change of a record may change whether it matches.
TEST(SearchRefresh, FormulaConditionRequeriesOnAnyItem) {
    NamesDatabase db(10);
    ZTSearch search(db.file.get(), false, 0, 100);
    ASSERT_TRUE(
        search.query("=len(Tags)>0", kName, 0, 0, nullptr, nullptr, 10, 0, nullptr, false, 0));
    EXPECT_EQ(search.getRecordID(0), db.byName[0]);
    EXPECT_EQ(search.getRecordID(1), db.byName[3]);
    ZTRefreshInfo info;
    info.add(db.file.get(), db.byName[1], kDate, 3);
    ZTSearchRefreshInfo out;
    EXPECT_EQ(search.dispatchRefresh(&info, &out), 1);
    EXPECT_EQ(out.status, ZTSearchRefreshInfo::kRequery);
}

// ---- the own result description ----

TEST(SearchResult, DescribesTheQueryAndTheRowsSeen) {
    NamesDatabase db(40);
    ZTArray<uint32_t> sets;
    sets.add(kPeople, true);
    const std::string text = group(kTags) + "red";
    ZTSearch search(db.file.get(), true, 0, 100);
    ASSERT_TRUE(search.query(text.c_str(), kName, 0, 0, nullptr, nullptr, 5, 1, &sets, false, 0));
    waitIdle(search);
    ZTResult partial(nullptr, false);
    search.getResult(&partial);
    EXPECT_EQ(partial.getFile(), db.file.get());
    EXPECT_STREQ(partial.getText(), text.c_str());
    EXPECT_EQ(partial.getSortingField(), kName);
    EXPECT_TRUE(partial.getOption());
    ASSERT_EQ(partial.getQueryIDs().size, 1u);
    EXPECT_FALSE(partial.hasIDList());  // not complete: the rows are kept, not explicit
    EXPECT_EQ(partial.getIDCount(), 0u);

    search.makeAvailable(-20, 40);
    waitIdle(search);
    ZTResult whole(nullptr, false);
    search.getResult(&whole);
    ASSERT_TRUE(whole.hasIDList());
    ASSERT_EQ(whole.getIDCount(), 14u);
    for (uint32_t i = 0; i < 14; ++i) EXPECT_EQ(whole.getListID(i), db.byName[i * 3]);

    // The same query again from the description, here in descending order.
    ZTSearch again(db.file.get(), false, 0, 100);
    again.setDescending(true);
    ASSERT_TRUE(again.queryResult(&whole, nullptr, nullptr, 0, false, 0));
    again.makeAvailable(-20, 40);
    ASSERT_EQ(again.getRecordCount(), 14);
    EXPECT_EQ(again.getRecordID(0), db.byName[39]);
}

// ---- databases that cannot be shared ----

TEST(SearchThreads, ExclusiveDatabaseIsSearchedInline) {
    GeneratedDatabase db(3, 60, 7);
    ZTSearch search(db.file.get(), true, 0, 1000);
    EXPECT_FALSE(search.ownsFile());
    EXPECT_FALSE(search.isThreaded());
    EXPECT_EQ(search.getFile(), db.file.get());
    const QueryCase q{group(kName) + ">c", {{kName, ">c"}}, kName};
    ASSERT_TRUE(
        search.query(q.text.c_str(), kName, 0, 0, nullptr, nullptr, 0, 0, nullptr, false, 0));
    search.makeAvailable(-200, 200);
    EXPECT_FALSE(search.isActive());
    EXPECT_EQ(search.getRecordCount(), int32_t(bruteForce(db, q, true).size()));
}

// ---- threads ----

// Scrolling, interrupting, refreshing and reading rows from this thread while the worker fills
// the window: every requested row arrives, in its place.
TEST(SearchThreads, EveryRequestedRowArrives) {
    NamesDatabase db(3000);
    ZTListMessageQueue queue;
    ZTSearch search(db.file.get(), true, 100, 400);
    ASSERT_TRUE(search.ownsFile());
    ASSERT_TRUE(
        search.query("", kName, 0, 0, ztListCallbackEntry, &queue, 40, 0, nullptr, false, 0));
    std::mt19937 rng(3);
    for (int step = 0; step < 300; ++step) {
        const int32_t first = int32_t(rng() % 2950);
        search.makeAvailable(first, first + 40);
        if (step % 7 == 0) search.interrupt();
        if (step % 7 == 0) search.makeAvailable(first, first + 40);
        if (step % 11 == 0) {
            ZTRefreshInfo info;
            info.add(db.file.get(), db.byName[first], kDate, 3);
            ZTSearchRefreshInfo out;
            search.dispatchRefresh(&info, &out);
            if (out.status == ZTSearchRefreshInfo::kRequery) {
                search.makeAvailable(first, first + 40);
            }
        }
        // Reads while the worker may still add rows.
        (void)search.getRecordID(first);
        (void)search.getRecordCount();
        (void)queue.take();
        ASSERT_TRUE(eventually([&] {
            for (int32_t r = first; r <= first + 40; ++r)
                if (search.getRowState(r) != ZTSearch::kRowInWindow) return false;
            return true;
        })) << "rows "
            << first << ".." << first + 40 << " never came (step " << step << ")";
        for (int32_t r = first; r <= first + 40; r += 8)
            ASSERT_EQ(search.getRecordID(r), db.byName[size_t(r)]) << r;
    }
}

// A request made after the worker's last look at the requested rows, just before its thread
// ends, is still served by that worker.
TEST(SearchThreads, RequestAtTheEndOfARunIsNotLost) {
    NamesDatabase db(100);
    struct Late {
        ZTSearch* search = nullptr;
        std::atomic<int> runs{0};
        static uint32_t entry(uint32_t code, uintptr_t, uintptr_t, void* context) {
            auto* self = static_cast<Late*>(context);
            // The first run has passed its last check: rows before the start are asked for now.
            if (code == ZTSearch::kCodeFinished && self->runs++ == 0) {
                EXPECT_EQ(self->search->makeAvailable(-30, 5), 0);  // the worker picks it up
            }
            return 0;
        }
    };
    Late late;
    ZTSearch search(db.file.get(), true, 0, 100);
    late.search = &search;
    ASSERT_TRUE(
        search.query("", kName, 0, 0, Late::entry, &late, 10, 0, nullptr, false, db.byName[50]));
    ASSERT_TRUE(eventually([&] { return late.runs.load() >= 1; }));
    waitIdle(search);
    EXPECT_EQ(late.runs.load(), 2);
    for (int32_t row = -30; row <= 10; ++row)
        ASSERT_EQ(search.getRecordID(row), db.byName[size_t(50 + row)]) << row;
}

// The stand-in callback never blocks the worker, however slowly its messages are read.
TEST(SearchThreads, ListCallbackStandInNeverBlocks) {
    NamesDatabase db(10000);
    ZTListMessageQueue queue;
    ZTSearch search(db.file.get(), true, 0, 20000);
    ASSERT_TRUE(
        search.query("", kName, 0, 0, ztListCallbackEntry, &queue, 10000, 0, nullptr, false, 0));
    waitIdle(search);
    const std::vector<ZTListMessage> messages = queue.take();
    size_t added = 0;
    for (const ZTListMessage& m : messages) added += m.code == ZTSearch::kCodeRowAdded;
    EXPECT_EQ(added, 10000u);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().code, ZTSearch::kCodeFinished);
    EXPECT_EQ(messages.back().a, reinterpret_cast<uintptr_t>(&search));
    EXPECT_EQ(ztListCallbackEntry(11, 1, 1, nullptr), 0u);
}

// A search told to delete itself when its walk ends does so (threaded and inline).
TEST(SearchThreads, FinishedSearchDeletesItselfOnRequest) {
    NamesDatabase db(20);
    struct Ended {
        std::atomic<int> finished{0};
        static uint32_t entry(uint32_t code, uintptr_t, uintptr_t, void* context) {
            if (code != ZTSearch::kCodeFinished) return 0;
            static_cast<Ended*>(context)->finished++;
            return kZTAnswerDelete;
        }
    };
    for (bool threaded : {false, true}) {
        Ended ended;
        auto* search = new ZTSearch(db.file.get(), threaded, 0, 100);
        ASSERT_TRUE(search->query("", kName, 0, 0, Ended::entry, &ended, 10, 0, nullptr, false, 0));
        ASSERT_TRUE(eventually([&] { return ended.finished.load() == 1; }));
        // Deleting runs under ASan: a search used after it deleted itself is reported there.
    }
}

}  // namespace
