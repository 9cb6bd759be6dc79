// Record lists, value lists, scans and browsing.
#include "ztdb/ztlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "assert_capture.h"
#include "batch_standin.h"
#include "ztdb/ztformula.h"
#include "ztdb/ztrecord.h"
#include "ztdb/ztresult.h"
#include "ztfile_helpers.h"

namespace {

constexpr uint32_t kName = 1001;
constexpr uint32_t kTag = 1004;
constexpr uint32_t kPeople = 1002;
constexpr uint32_t kPeopleTrash = 1003;

ZTArray<uint32_t> idArray(const std::vector<uint32_t>& v) {
    ZTArray<uint32_t> a;
    for (uint32_t x : v) a.append(x);
    return a;
}

std::vector<uint32_t> toVector(const ZTArray<uint32_t>& a) {
    return std::vector<uint32_t>(a.data, a.data + a.size);
}

using Records = std::vector<std::pair<uint32_t, std::vector<std::string>>>;

// Fields Name and Tag; the set People of both, whose members are the records given (each with
// its names and the tag "t" + its ID); People's trash set.
struct PeopleDatabase {
    TempDir dir;
    std::string base;
    ZTFile file;

    explicit PeopleDatabase(const Records& records) {
        dbcheck::Fixture fx;
        fx.counter(5000);
        const uint32_t name = fx.field(kName, "Name");
        const uint32_t tag = fx.field(kTag, "Tag");
        fx.set(kPeople, "People", {name, tag});
        fx.set(kPeopleTrash, "People trash", {name});
        fx.value(kPeopleTrash, 101, 1, std::to_string(kPeople));
        for (const auto& [id, names] : records) {
            for (size_t i = 0; i < names.size(); ++i)
                fx.value(id, kName, uint32_t(i + 1), names[i]);
            fx.value(id, kTag, 1, "t" + std::to_string(id));
            fx.member(id, kPeople);
        }
        base = dir.file("people");
        EXPECT_TRUE(fx.write(base)) << fx.error;
        file.setName(base.c_str());
        EXPECT_EQ(file.open(3, false), 3u);
    }
};

// Records 1010 .. 1010 + n - 1 named "n00", "n01", ...
Records numbered(int n) {
    Records out;
    for (int i = 0; i < n; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "n%02d", i);
        out.push_back({1010 + uint32_t(i), {name}});
    }
    return out;
}

// Collects a search's reports; the test waits for the end of a walk (code 15).
struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<BatchReport> all;
    int finished = 0;
    uint32_t stopAtScanned = 0;  // answer -1 to this many-th report of a record

    static uint32_t callback(uint32_t code, uintptr_t a, uintptr_t b, void* context) {
        auto* self = static_cast<Reports*>(context);
        std::lock_guard<std::mutex> guard(self->mutex);
        self->all.push_back({code, a, b});
        if (code == ZTSearch::kCodeFinished) ++self->finished;
        self->changed.notify_all();
        if (code == kZTCodeScanned && self->stopAtScanned != 0 &&
            self->scanned().size() == self->stopAtScanned)
            return kZTAnswerStop;
        return 0;
    }
    void awaitFinished(int n = 1) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return finished >= n; });
    }
    std::vector<std::pair<uintptr_t, uintptr_t>> scanned() const {
        std::vector<std::pair<uintptr_t, uintptr_t>> out;
        for (const BatchReport& r : all)
            if (r.code == kZTCodeScanned) out.emplace_back(r.a, r.b);
        return out;
    }
    std::vector<uint32_t> scannedIDs() {
        std::lock_guard<std::mutex> guard(mutex);
        std::vector<uint32_t> out;
        for (auto [id, progress] : scanned()) out.push_back(uint32_t(id));
        return out;
    }
};

ZTSet peopleFields(ZTFile* file) {
    ZTSet fields(file, kPeople);
    EXPECT_TRUE(fields.load());
    return fields;
}

std::string cell(ZTList& list, int32_t row, uint32_t i) {
    ZTStr out;
    return list.getValue(row, i, &out)->text;
}

// ---- ZTList ----

TEST(ZTListTest, ACellShowsTheValueItsRowWasFoundBy) {
    PeopleDatabase db({{1010, {"apple", "banana"}}, {1011, {"cherry"}}});
    ZTSet fields = peopleFields(&db.file);
    for (bool threaded : {false, true}) {
        ZTList list(&db.file, &fields, threaded, 5, 40);  // the margin reaches back to the start
        Reports reports;
        ASSERT_TRUE(
            list.query("(1001)b", 0, &Reports::callback, &reports, 10, 0, nullptr, false, 0));
        reports.awaitFinished();
        list.interrupt();
        ASSERT_TRUE(list.isComplete());
        ASSERT_EQ(list.getLastRow(), 0);
        EXPECT_EQ(cell(list, 0, 0), "banana") << threaded;
        ZTStr text;
        EXPECT_STREQ(list.getCellText(0, 0, &text, true)->text, "banana");
        EXPECT_STREQ(list.getChoiceText(0, 0, &text, true)->text, "banana");
        EXPECT_EQ(list.getValueKind(0, 0), ZTRecord::kKindText);
        EXPECT_EQ(list.getTypeID(0, 0), kName);
        EXPECT_EQ(cell(list, 0, 1), "t1010");
        ZTRecord copy;
        ASSERT_TRUE(list.getRecord(0, &copy));
        EXPECT_STREQ(copy.getText(0), "banana");

        // Every row: a record listed under each of its names shows that name in its row.
        Reports all;
        ASSERT_TRUE(list.query("", 0, &Reports::callback, &all, 10, 0, nullptr, false, 0));
        all.awaitFinished();
        list.interrupt();
        ASSERT_EQ(list.getLastRow(), 2);
        EXPECT_EQ(cell(list, 0, 0) + cell(list, 1, 0) + cell(list, 2, 0), "applebananacherry");
        EXPECT_EQ(list.getRecordID(1), 1010u);

        // Rows outside the window give nothing.
        EXPECT_EQ(cell(list, 3, 0), "");
        EXPECT_STREQ(list.getCellText(3, 0, &text, true)->text, "");
        EXPECT_STREQ(list.getChoiceText(-1, 0, &text, false)->text, "");
        EXPECT_EQ(list.getTypeID(-1, 0), 0u);
        EXPECT_EQ(list.setActiveRecord(3, 0), -1);
        EXPECT_FALSE(list.getRecord(3, &copy));
        EXPECT_EQ(list.getFile(), &db.file);
    }
}

TEST(ZTListTest, ListsAndScansStartFromAResultOfTheirDatabase) {
    PeopleDatabase db({{1010, {"apple", "banana"}}, {1011, {"cherry"}}, {1012, {"bean"}}});
    ZTSet fields = peopleFields(&db.file);
    ZTResult result(&db.file, false);
    result.setQuery("(1001)b", 0, kPeople, 0, false, nullptr);

    ZTList list(&db.file, &fields, false, 5, 40);
    ASSERT_TRUE(list.queryResult(&result, nullptr, nullptr, 10, false, 0));
    ASSERT_EQ(list.getLastRow(), 1);
    EXPECT_EQ(cell(list, 0, 0) + " " + cell(list, 1, 0), "banana bean");

    ZTScan scan(&db.file, false, true, true, ZTScan::kNoMaximum);
    Reports reports;
    ASSERT_TRUE(scan.queryResult(&result, &Reports::callback, &reports, 1, 0));
    EXPECT_EQ(reports.scannedIDs(), (std::vector<uint32_t>{1010, 1012}));

    // A result of another database is a programming error: reported, nothing started.
    TempDir otherDir;
    ZTFile other(otherDir.file("other").c_str());
    ZTResult foreign(&other, false);
    foreign.setQuery("", 0, kPeople, kName, false, nullptr);
    AssertCapture capture;
    EXPECT_FALSE(list.queryResult(&foreign, nullptr, nullptr, 10, false, 0));
    EXPECT_FALSE(scan.queryResult(&foreign, &Reports::callback, &reports, 1, 0));
    EXPECT_EQ(AssertCapture::reports().size(), 2u);
}

TEST(ZTListTest, RecordsFollowTheirRowsAsTheWindowSlides) {
    PeopleDatabase db(numbered(60));
    ZTSet fields = peopleFields(&db.file);
    for (bool threaded : {false, true}) {
        ZTList list(&db.file, &fields, threaded, 5, 40);
        ZTListMessageQueue queue;
        ASSERT_TRUE(list.query("", 0, &ztListCallbackEntry, &queue, 10, 0, nullptr, false, 0));
        // Rows are read while the worker fills, then the window slides forward and back.
        for (auto [first, last] : {std::pair{0, 9}, {40, 49}, {25, 29}, {0, 4}, {50, 59}}) {
            list.makeAvailable(first, last);
            for (int32_t row = first; row <= last; ++row) {
                while (list.getRowState(row) == ZTSearch::kRowNotLoaded) {
                    (void)queue.take();
                    if (list.getRowState(row) != ZTSearch::kRowNotLoaded) break;
                    ASSERT_TRUE(queue.waitForMessage(60000)) << "row " << row << " never came";
                }
                char want[8];
                std::snprintf(want, sizeof want, "n%02d", row);
                EXPECT_EQ(cell(list, row, 0), want) << threaded << " row " << row;
                EXPECT_EQ(cell(list, row, 1), "t" + std::to_string(1010 + row));
                EXPECT_EQ(list.getRecordID(row), 1010u + uint32_t(row));
            }
        }
        list.interrupt();
    }
}

TEST(ZTListTest, RefreshRepaintsAShownRowOrAsksForANewQuery) {
    PeopleDatabase db({{1010, {"ann"}}, {1011, {"bob"}}, {1012, {"cy"}}});
    ZTSet fields = peopleFields(&db.file);
    struct Case {
        uint32_t record, sub;
        int32_t status;
        const char* what;
    } cases[] = {
        {1011, kTag, ZTSearchRefreshInfo::kRepaint, "a field the list does not sort by"},
        {1011, kName, ZTSearchRefreshInfo::kRequery, "the sort field"},
        {kPeople, 1, ZTSearchRefreshInfo::kRequery, "the set's own record"},
        {1500, 77, ZTSearchRefreshInfo::kNothing, "a record not shown"},
    };
    for (const Case& c : cases) {
        ZTList list(&db.file, &fields, false, 0, 10);
        ASSERT_TRUE(list.query("", 0, nullptr, nullptr, 10, 0, nullptr, false, 0));
        for (int32_t row = 0; row < 3; ++row) (void)cell(list, row, 1);  // the view drew them
        ZTRefreshInfo info;
        info.add(&db.file, c.record, c.sub, ZTRefreshItem::kChanged);
        ZTSearchRefreshInfo out;
        EXPECT_EQ(list.dispatchRefresh(&info, &out) != 0, c.status != 0) << c.what;
        EXPECT_EQ(out.status, c.status) << c.what;
        if (c.status == ZTSearchRefreshInfo::kRepaint) {
            EXPECT_EQ(out.low, 1);
            EXPECT_EQ(out.high, 1);
        }
    }
}

// ---- value lists ----

TEST(ZTValListTest, HoldsAtMostTheRowsAskedFor) {
    PeopleDatabase db(numbered(30));
    ZTValList values;
    EXPECT_EQ(values.query(&db.file, kName, nullptr, 5), 5);
    EXPECT_EQ(values.getCount(), 5u);
    EXPECT_STREQ(values.getVal(4), "n04");
    EXPECT_EQ(values.getID(4), 1014u);
    EXPECT_EQ(values.getVal(5), nullptr);
    EXPECT_EQ(values.getID(5), 0u);
    EXPECT_EQ(values.query(&db.file, kName, "n2", 100), 10);  // a prefix condition on the field
    EXPECT_STREQ(values.getVal(0), "n20");
    EXPECT_EQ(values.query(&db.file, kName, nullptr, 0), 0);
}

TEST(ZTValListTest, NameListsFindByExactBytes) {
    PeopleDatabase db({{1010, {"Ann"}}});
    ZTFieldList names;
    EXPECT_GE(names.query(&db.file, nullptr, 1000), 2);
    EXPECT_STREQ(names.getName(0), "Name");
    EXPECT_STREQ(names.getName(names.getCount() - 1), "Tag");
    EXPECT_EQ(names.findID("Tag"), kTag);
    EXPECT_EQ(names.findID("tag"), 0u);  // the query ignores case; finding does not
    EXPECT_EQ(names.findID("Nobody"), 0u);
    EXPECT_STREQ(names.findName(kName), "Name");
    EXPECT_EQ(names.findName(77), nullptr);
}

TEST(ZTValListTest, SetListsSelectSetsByKind) {
    PeopleDatabase db({{1010, {"Ann"}}});
    struct Case {
        uint32_t mask;
        std::vector<uint32_t> sets;
        const char* text;
    } cases[] = {
        {31, {kPeople, kPeopleTrash}, ""},
        {1, {kPeople}, "(43)#(46)#(101)#(106)#"},
        {8, {kPeopleTrash}, "(101)-#"},
        {1 | 8, {kPeople, kPeopleTrash}, "(43)#(46)#(106)#"},
        {0, {}, ""},
    };
    for (const Case& c : cases) {
        ZTStr text;
        ZTSetList::maskText(c.mask, &text);
        EXPECT_STREQ(text.text, c.text) << c.mask;
        ZTSetList sets;
        sets.query(&db.file, c.mask, 1000);
        std::vector<uint32_t> got;
        for (uint32_t i = 0; i < sets.getCount(); ++i) got.push_back(sets.getID(i));
        EXPECT_EQ(got, c.sets) << c.mask;
    }
}

// ---- ZTScan ----

TEST(ZTScanTest, UniqueReportsARecordOnceWhateverItsValues) {
    // 1010 is met under "b" and again under "d", after 1011's "c".
    PeopleDatabase db({{1010, {"b", "d"}}, {1011, {"c"}}, {1012, {"e"}}});
    for (bool threaded : {false, true}) {
        for (bool unique : {true, false}) {
            ZTScan scan(&db.file, threaded, unique, true, ZTScan::kNoMaximum);
            Reports reports;
            ASSERT_TRUE(
                scan.query("", kName, 0, 0, &Reports::callback, &reports, 0, nullptr, 0, 0));
            reports.awaitFinished();
            scan.interrupt();
            std::vector<uint32_t> want = unique ? std::vector<uint32_t>{1010, 1011, 1012}
                                                : std::vector<uint32_t>{1010, 1011, 1010, 1012};
            EXPECT_EQ(reports.scannedIDs(), want) << threaded << unique;
            ZTArray<uint32_t> kept;
            EXPECT_EQ(scan.getIDs(&kept), want.size());
            EXPECT_EQ(toVector(kept), want);
            EXPECT_EQ(reports.all.back().code, ZTSearch::kCodeFinished);
        }
    }
    // Two values of one record next to each other are two rows: without unique, two reports.
    PeopleDatabase adjacent({{1010, {"b", "c"}}, {1011, {"d"}}});
    ZTScan scan(&adjacent.file, false, false, true, ZTScan::kNoMaximum);
    Reports reports;
    ASSERT_TRUE(scan.query("", kName, 0, 0, &Reports::callback, &reports, 0, nullptr, 0, 0));
    EXPECT_EQ(reports.scannedIDs(), (std::vector<uint32_t>{1010, 1010, 1011}));
}

TEST(ZTScanTest, LinkedValuesAndFarApartIDsScanLikeAnyOther) {
    // 1011's name links to 1010's "b"; kFar sits in another stretch of the ID range at the same
    // offset as 1010, with two names.
    constexpr uint32_t kFar = 1010 + 65536;
    TempDir dir;
    dbcheck::Fixture fx;
    fx.counter(kFar + 10);
    (void)fx.field(kName, "Name");
    const uint32_t b = fx.value(1010, kName, 1, "b");
    fx.link(1011, kName, 1, b);
    fx.value(1012, kName, 1, "c");
    fx.value(kFar, kName, 1, "a");
    fx.value(kFar, kName, 2, "d");
    const std::string base = dir.file("linked");
    ASSERT_TRUE(fx.write(base)) << fx.error;
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, false), 3u);

    const std::string onB = "(" + std::to_string(kName) + ")b";
    const std::string notB = "(" + std::to_string(kName) + ")-b";
    const struct {
        std::string text;
        bool unique;
        std::vector<uint32_t> want;  // in ID order
    } cases[] = {
        {"", false, {1010, 1011, 1012, kFar, kFar}},
        {"", true, {1010, 1011, 1012, kFar}},
        {onB, true, {1010, 1011}},  // the rows' texts are tested, the link's too
        {notB, true, {1012, kFar}},
    };
    for (const auto& c : cases) {
        ZTScan scan(&file, false, c.unique, true, ZTScan::kNoMaximum);
        Reports reports;
        ASSERT_TRUE(scan.query(c.text.c_str(), kName, 0, 0, &Reports::callback, &reports, 0,
                               nullptr, 0, 0));
        std::vector<uint32_t> got = reports.scannedIDs();
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, c.want) << c.text << c.unique;
    }
}

TEST(ZTScanTest, UniqueHoldsForIDsSpreadOverAWideRange) {
    // 200 records 65536 IDs apart, each named twice: the IDs run past what the scan keeps in
    // pages of bits, so both its pages and its fallback are used.
    TempDir dir;
    dbcheck::Fixture fx;
    (void)fx.field(kName, "Name");
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < 200; ++i) {
        const uint32_t id = 1010 + i * 65536;
        char name[8];
        std::snprintf(name, sizeof name, "%03u", i);
        fx.value(id, kName, 1, std::string("a") + name);
        fx.value(id, kName, 2, std::string("b") + name);
        ids.push_back(id);
    }
    fx.counter(ids.back() + 1);
    const std::string base = dir.file("spread");
    ASSERT_TRUE(fx.write(base)) << fx.error;
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, false), 3u);
    for (bool unique : {true, false}) {
        ZTScan scan(&file, false, unique, true, ZTScan::kNoMaximum);
        Reports reports;
        ASSERT_TRUE(scan.query("", kName, 0, 0, &Reports::callback, &reports, 0, nullptr, 0, 0));
        std::vector<uint32_t> want = ids;
        if (!unique) want.insert(want.end(), ids.begin(), ids.end());
        EXPECT_EQ(reports.scannedIDs(), want) << unique;
    }
}

TEST(ZTScanTest, AMaximumReportsExactlyThatManyAndAStopNoMore) {
    PeopleDatabase db(numbered(10));
    for (bool threaded : {false, true}) {
        ZTScan scan(&db.file, threaded, false, true, 3);
        Reports reports;
        ASSERT_TRUE(scan.query("", 0, kPeople, 0, &Reports::callback, &reports, 0, nullptr, 0, 0));
        reports.awaitFinished();
        scan.interrupt();
        EXPECT_EQ(reports.scannedIDs(), (std::vector<uint32_t>{1010, 1011, 1012})) << threaded;
        EXPECT_EQ(reports.scanned().back().second, 3u);  // progress: the count
        ZTArray<uint32_t> kept;
        scan.getIDs(&kept);
        EXPECT_EQ(toVector(kept), reports.scannedIDs());

        ZTScan stopped(&db.file, threaded, false, true, ZTScan::kNoMaximum);
        Reports stopping;
        stopping.stopAtScanned = 2;
        ASSERT_TRUE(
            stopped.query("", 0, kPeople, 0, &Reports::callback, &stopping, 0, nullptr, 0, 0));
        stopping.awaitFinished();
        stopped.interrupt();
        EXPECT_EQ(stopping.scannedIDs(), (std::vector<uint32_t>{1010, 1011})) << threaded;
        stopped.getIDs(&kept);
        EXPECT_EQ(toVector(kept), stopping.scannedIDs());
    }
}

TEST(ZTScanTest, ScrollModeReportsPercentOfTheRange) {
    PeopleDatabase db(numbered(5));
    ZTScan scan(&db.file, false, true, false, ZTScan::kNoMaximum);
    Reports reports;
    ASSERT_TRUE(scan.query("", kName, 0, 0, &Reports::callback, &reports, 0, nullptr, 1, 0));
    auto got = reports.scanned();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got.front().second, 0u);
    EXPECT_EQ(got.back().second, 100u);
    for (size_t i = 1; i < got.size(); ++i) EXPECT_LE(got[i - 1].second, got[i].second);
}

TEST(ZTScanTest, TheFormulaRecordFinderAgreesWithAScanOfTheQuotedValue) {
    PeopleDatabase db({{1010, {"Zed", "Anna"}},
                       {1011, {"anna"}},
                       {1012, {"Anna", "Bob"}},
                       {1013, {"Annabel"}},
                       {1014, {"\xC9ve"}},
                       {1015, {"Eve"}}});
    ZTSetOrderFinder finder;
    for (const char* value : {"Anna", "anna", "Annabel", "Ann", "Bob", "\xC9ve", "Eve", "Nobody"}) {
        ZTScan scan(&db.file, false, true, true, 1);
        Reports reports;
        const std::string text = "(" + std::to_string(kName) + ")\"" + value + "\"";
        ASSERT_TRUE(scan.query(text.c_str(), 0, kPeople, 0, &Reports::callback, &reports, 0,
                               nullptr, 0, 0));
        std::vector<uint32_t> found = reports.scannedIDs();
        EXPECT_EQ(finder.findRecord(&db.file, kPeople, kName, value), found.empty() ? 0 : found[0])
            << value;
    }
}

// ---- ZTBrowse ----

std::vector<std::pair<uintptr_t, uintptr_t>> browsed(BatchStandIn& owner) {
    std::vector<std::pair<uintptr_t, uintptr_t>> out;
    for (const BatchReport& r : owner.all())
        if (r.code == kZTCodeBrowsed) out.emplace_back(r.a, r.b);
    return out;
}

TEST(ZTBrowseTest, ReportsEachIDWithItsProgress) {
    PeopleDatabase db({});
    using Pairs = std::vector<std::pair<uintptr_t, uintptr_t>>;
    ZTArray<uint32_t> ids = idArray({1003, 1005, 1004, 1007});
    for (bool threaded : {false, true}) {
        for (uint32_t mode : {ZTBrowse::kProgressPercent, 0u}) {
            ZTBrowse browse(&db.file, threaded);
            BatchStandIn owner(1000);
            owner.job = threaded ? &browse : nullptr;  // inline, nobody takes reports meanwhile
            ASSERT_TRUE(browse.start(ids, &BatchStandIn::callback, &owner, mode));
            BatchReport r{};
            std::vector<uint32_t> codes;
            if (threaded)
                while (owner.take(&r)) codes.push_back(r.code);
            browse.stop();
            Pairs want = mode == ZTBrowse::kProgressPercent
                             ? Pairs{{1003, 0}, {1005, 25}, {1004, 50}, {1007, 75}}
                             : Pairs{{1003, 0}, {1005, 1}, {1004, 2}, {1007, 3}};
            EXPECT_EQ(browsed(owner), want) << threaded << mode;
            if (threaded) {
                EXPECT_EQ(codes.back(), kZTCodeJobFinished);
            }
        }
    }
}

TEST(ZTBrowseTest, AStopAnswerEndsTheWalkAtOnce) {
    PeopleDatabase db({});
    ZTArray<uint32_t> ids = idArray({1003, 1004, 1005});
    for (bool threaded : {false, true}) {
        ZTBrowse browse(&db.file, threaded);
        BatchStandIn owner(1);  // answers -1 to the first report
        owner.job = threaded ? &browse : nullptr;
        ASSERT_TRUE(browse.start(ids, &BatchStandIn::callback, &owner, 1));
        BatchReport r{};
        if (threaded)
            while (owner.take(&r)) {
            }
        browse.stop();
        EXPECT_EQ(browsed(owner).size(), 1u) << threaded;
    }
    // An empty list and a browse without a callback report nothing and end.
    ZTBrowse browse(&db.file, false);
    EXPECT_TRUE(browse.start(ZTArray<uint32_t>(), nullptr, nullptr, 1));
    EXPECT_TRUE(browse.start(ids, nullptr, nullptr, 1));
}

}  // namespace
