#include "ztdb/ztrefresh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Row = std::array<uint32_t, 4>;  // file, record, sub, flags
constexpr uint32_t kNone = ZTRefreshInfo::kNone;
constexpr uint32_t kAny = ZTRefreshInfo::kAnyRecord;

std::vector<Row> rows(const ZTRefreshInfo& info) {
    std::vector<Row> out;
    for (uint32_t i = 0; i < info.count(); ++i) {
        const ZTRefreshItem* it = info.getItem(i);
        out.push_back({it->fileID, it->recordID, it->subID, it->flags});
    }
    return out;
}

ZTRefreshItem item(const Row& r) {
    return ZTRefreshItem{r[0], r[1], r[2], r[3]};
}

TEST(ZTRefreshItemTest, CompareIsUnsignedAndAZeroInTheArgumentMatchesTheRest) {
    struct Case {
        Row a, b;
        int expected;
    };
    const Case cases[] = {
        {{1, 5, 7, 0}, {1, 5, 7, 3}, 0},           // flags never count
        {{1, 5, 7, 0}, {2, 0, 0, 0}, -1},          // the file decides first
        {{0x80000000, 1, 1, 0}, {1, 9, 9, 0}, 1},  // unsigned, not signed
        {{0xFFFFFFFF, 1, 1, 0}, {0xFFFFFFFE, 1, 1, 0}, 1},
        {{1, 5, 7, 0}, {1, 0, 0, 0}, 0},   // a whole-file item covers the record
        {{1, 0, 0, 0}, {1, 5, 7, 0}, -1},  // ... but not the other way round
        {{1, 5, 7, 0}, {1, 5, 0, 0}, 0},   // a whole-record item covers the value
        {{1, 5, 0, 0}, {1, 5, 7, 0}, -1},
        {{1, 6, 0, 0}, {1, 5, 7, 0}, 1},
        {{1, 5, 0x80000000, 0}, {1, 5, 7, 0}, 1},
        {{1, 0xFFFFFFFD, 1, 0}, {1, 0xFFFFFFFC, 9, 0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.a) + " vs " + ::testing::PrintToString(c.b));
        ZTRefreshItem a = item(c.a), b = item(c.b);
        EXPECT_EQ(a.compare(b), c.expected);
        EXPECT_EQ(a.isGreater(b), c.expected == 1);
        EXPECT_EQ(a.isLess(b), c.expected == -1);
        EXPECT_EQ(a.isEqual(b), c.expected == 0);
    }
}

TEST(ZTRefreshInfoTest, MergesAndSortsItems) {
    struct Case {
        const char* name;
        std::vector<Row> adds;
        std::vector<uint32_t> returned;
        std::vector<Row> expected;
    };
    const Case cases[] = {
        {"a whole record absorbs its values",
         {{10, 5, 7, 1}, {10, 5, 0, 2}},
         {0, 0},
         {{10, 5, 0, 3}}},
        {"a value ORs its flags into the whole record",
         {{10, 5, 0, 1}, {10, 5, 7, 2}},
         {0, 0},
         {{10, 5, 0, 3}}},
        {"a second whole record leaves the first as it is",
         {{10, 5, 0, 1}, {10, 5, 0, 2}},
         {0, 0},
         {{10, 5, 0, 1}}},
        {"a second whole file leaves the first as it is",
         {{10, 0, 0, 1}, {10, 0, 0, 2}},
         {0, 0},
         {{10, 0, 0, 1}}},
        {"a first whole file keeps its flags", {{10, 0, 0, 0}}, {0}, {{10, 0, 0, 0}}},
        {"the same item twice ORs the flags",
         {{10, 5, 7, 1}, {10, 5, 7, 2}},
         {0, 0},
         {{10, 5, 7, 3}}},
        {"finer items fold into a whole file",
         {{10, 0, 0, 1}, {10, 5, 7, 2}, {10, 5, 0, 2}},
         {0, 0, 0},
         {{10, 0, 0, 3}}},
        {"a whole file replaces only its own file's items",
         {{20, 1, 1, 1}, {10, 5, 7, 1}, {10, 6, 0, 2}, {30, 1, 0, 1}, {10, 0, 0, 0}},
         {0, 0, 1, 3, 0},
         {{10, 0, 0, 3}, {20, 1, 1, 1}, {30, 1, 0, 1}}},
        {"a whole record replaces only its own record's values",
         {{10, 4, 1, 1}, {10, 5, 7, 1}, {10, 5, 9, 1}, {10, 6, 1, 1}, {10, 5, 0, 0}},
         {0, 1, 2, 3, 1},
         {{10, 4, 1, 1}, {10, 5, 0, 3}, {10, 6, 1, 1}}},
        {"unsigned order, reserved IDs last",
         {{0xFFFFFFFF, 0xFFFFFFFD, 0, 1},
          {0x80000000, 1, 1, 1},
          {1, 0xFFFFFFFC, 0, 1},
          {1, 2, 0x80000000, 1},
          {1, 2, 3, 1}},
         {0, 0, 0, 0, 0},
         {{1, 2, 3, 1},
          {1, 2, 0x80000000, 1},
          {1, 0xFFFFFFFC, 0, 1},
          {0x80000000, 1, 1, 1},
          {0xFFFFFFFF, 0xFFFFFFFD, 0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZTRefreshInfo info;
        std::vector<uint32_t> returned;
        for (const Row& r : c.adds) returned.push_back(info.add(item(r)));
        EXPECT_EQ(returned, c.returned);
        EXPECT_EQ(rows(info), c.expected);
    }
}

TEST(ZTRefreshInfoTest, ShortFormsAddTheSameItems) {
    ZTRefreshInfo info;
    EXPECT_EQ(info.addByID(3, 4, 5, 1), 0u);
    EXPECT_EQ(info.addByID(2), 0u);
    EXPECT_EQ(rows(info), (std::vector<Row>{{2, 0, 0, 3}, {3, 4, 5, 1}}));
}

// A notice with files 5 (150 items), 9 (100 items) and 7 in between (n items).
ZTRefreshInfo noticeWithFile7Items(uint32_t n) {
    ZTRefreshInfo info;
    for (uint32_t r = 1; r <= 150; ++r) info.addByID(5, r, 1, 1);
    for (uint32_t r = 1; r <= 100; ++r) info.addByID(9, r, 1, 1);
    for (uint32_t r = 1; r <= n; ++r) info.addByID(7, r, 2, 1);
    return info;
}

TEST(ZTRefreshInfoTest, AFileOfMoreThan200ItemsCollapsesOnTheNextItem) {
    ZTRefreshInfo info = noticeWithFile7Items(200);
    EXPECT_EQ(info.addByID(7, 1000, 1, 1), 350u);  // the 201st stays an item of its own
    EXPECT_EQ(info.count(), 451u);

    struct Case {
        const char* name;
        Row next;
    };
    const Case cases[] = {
        {"a new record", {7, 2000, 3, 2}},
        {"an item already held", {7, 5, 2, 1}},
        {"a whole record", {7, 3000, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZTRefreshInfo collapsing = noticeWithFile7Items(201);
        ASSERT_EQ(collapsing.count(), 451u);
        EXPECT_EQ(collapsing.add(item(c.next)), 150u);
        ASSERT_EQ(collapsing.count(), 251u);
        EXPECT_EQ(rows(collapsing)[150], (Row{7, 0, 0, 3}));
        // The other files' items are untouched.
        EXPECT_EQ(collapsing.findByID(5), 0u);
        EXPECT_EQ(collapsing.findLastByID(5, kAny, 0), 149u);
        EXPECT_EQ(collapsing.findByID(9), 151u);
        EXPECT_EQ(collapsing.findLastByID(9, kAny, 151), 250u);
        // Later items of the file merge into the whole-file item.
        EXPECT_EQ(collapsing.addByID(7, 4000, 1, 1), 150u);
        EXPECT_EQ(collapsing.count(), 251u);
    }
}

// Whatever is added, the notice stays sorted and merged and never loses a change: every item
// ever added is covered by one in the list.
TEST(ZTRefreshInfoTest, RandomAddsKeepTheInvariantsAndLoseNothing) {
    const uint32_t files[] = {1, 0xFFFFFFFF, 0, 2, 0x80000000};
    const uint32_t subs[] = {0, 0, 1, 2, 0x80000000, 0xFFFFFFFF};
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        // Every third seed spreads one file over enough records to pass the collapse threshold
        // (a whole-file item of its own would take every later item in before that).
        bool wide = seed % 3 == 0;
        uint32_t fileRange = wide ? 1 : 5, recordRange = wide ? 400 : 6;
        ZTRefreshInfo info;
        std::vector<ZTRefreshItem> added;
        int collapses = 0;
        for (int step = 0; step < 1000; ++step) {
            uint32_t record = 1 + rng() % recordRange;
            if (record == recordRange) record = 0xFFFFFFFD;
            ZTRefreshItem it{files[rng() % fileRange], !wide && rng() % 8 == 0 ? 0 : record,
                             subs[rng() % 6], uint32_t(rng() % 4)};
            uint32_t first = info.findByID(it.fileID);
            bool full = first != kNone && info.findLastByID(it.fileID, kAny, first) - first >= 200;
            uint32_t at = info.add(it);
            ASSERT_LT(at, info.count());
            ASSERT_TRUE(it.isEqual(*info.getItem(at)));
            added.push_back(it);
            if (full) {
                ++collapses;
                ASSERT_EQ(info.findLastByID(it.fileID, kAny, at), at);
                ASSERT_EQ(info.getRecordID(at), 0u);
                ASSERT_EQ(info.getFlags(at), 3u);
            }

            for (uint32_t i = 1; i < info.count(); ++i) {
                const ZTRefreshItem& a = *info.getItem(i - 1);
                const ZTRefreshItem& b = *info.getItem(i);
                ASSERT_LT(std::tie(a.fileID, a.recordID, a.subID),
                          std::tie(b.fileID, b.recordID, b.subID));
                // A whole item never shares its file or record with another item.
                if (a.fileID == b.fileID) {
                    ASSERT_TRUE(a.recordID != 0 && b.recordID != 0);
                    if (a.recordID == b.recordID) {
                        ASSERT_TRUE(a.subID != 0 && b.subID != 0);
                    }
                }
            }
        }
        if (wide) {
            EXPECT_GT(collapses, 0);
        }
        for (const ZTRefreshItem& it : added) {
            bool covered = false;
            for (uint32_t i = 0; i < info.count() && !covered; ++i)
                covered = it.isEqual(*info.getItem(i));
            ASSERT_TRUE(covered) << it.fileID << " " << it.recordID << " " << it.subID;
        }
    }
}

TEST(ZTRefreshInfoTest, FindAndFindLast) {
    ZTRefreshInfo info;
    for (const Row& r :
         std::vector<Row>{{1, 3, 1, 1}, {1, 3, 2, 1}, {1, 4, 0, 1}, {2, 0, 0, 3}, {4, 7, 1, 1}})
        info.add(item(r));
    ASSERT_EQ(info.count(), 5u);

    struct Case {
        uint32_t file, record, start, find, findLast;
    };
    const Case cases[] = {
        {1, kAny, 0, 0, 2},
        {1, 3, 0, 0, 1},
        {1, 3, 1, 1, 1},
        {1, 4, 0, 2, kNone},
        {1, 5, 0, kNone, kNone},
        {1, kAny, 3, kNone, kNone},
        {2, kAny, 0, 3, kNone},
        {2, 0, 3, 3, 3},
        {2, 7, 0, kNone, kNone},
        {3, kAny, 0, kNone, kNone},
        {4, 7, 0, 4, kNone},
        {4, kAny, 4, 4, 4},
        {4, kAny, 5, kNone, kNone},
        {4, kAny, kNone, kNone, kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.file << "/" << c.record << " from " << c.start);
        EXPECT_EQ(info.findByID(c.file, c.record, c.start), c.find);
        EXPECT_EQ(info.findLastByID(c.file, c.record, c.start), c.findLast);
    }

    for (uint32_t past : {5u, 6u, kNone}) {
        EXPECT_EQ(info.getItem(past), nullptr);
        EXPECT_EQ(info.getFileID(past), kNone);
        EXPECT_EQ(info.getRecordID(past), kNone);
        EXPECT_EQ(info.getSubID(past), kNone);
        EXPECT_EQ(info.getFlags(past), kNone);
    }
    EXPECT_EQ(info.getFileID(4), 4u);
    EXPECT_EQ(info.getRecordID(4), 7u);
    EXPECT_EQ(info.getSubID(4), 1u);
    EXPECT_EQ(info.getFlags(3), 3u);
}

TEST(ZTRefreshInfoTest, SerialsResetAndAssign) {
    ZTRefreshInfo a, b;
    EXPECT_NE(a.getSerial(), 0u);
    EXPECT_GT(b.getSerial(), a.getSerial());
    EXPECT_EQ(ZTRefreshInfo(42).getSerial(), 42u);

    a.addByID(1, 2, 3, 1);
    a.addByID(1, 2, 4, 2);
    uint32_t old = a.getSerial();
    a.reset();
    EXPECT_EQ(a.count(), 0u);
    EXPECT_GT(a.getSerial(), old);
    a.reset(77);
    EXPECT_EQ(a.getSerial(), 77u);

    b.addByID(5, 6, 0, 1);
    b.addByID(3);
    a.addByID(9, 9, 9, 1);
    a = b;
    EXPECT_EQ(a.getSerial(), b.getSerial());
    EXPECT_EQ(rows(a), rows(b));
    const ZTRefreshInfo& self = a;
    a = self;  // must not empty itself
    EXPECT_EQ(rows(a), rows(b));
    EXPECT_EQ(ZTRefreshInfo(b).getSerial(), b.getSerial());
}

TEST(ZTRefreshInfoTest, SerialsFromSeveralThreadsAreDistinct) {
    constexpr int kThreads = 4, kEach = 20000;
    std::vector<std::vector<uint32_t>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&got, t] {
            for (int i = 0; i < kEach; ++i) got[t].push_back(ZTRefreshInfo().getSerial());
        });
    for (std::thread& th : threads) th.join();
    std::vector<uint32_t> all;
    for (const auto& g : got) all.insert(all.end(), g.begin(), g.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_NE(all.front(), 0u);
}

class CountingReceiver : public ZTRefreshedBaseClass {
  public:
    explicit CountingReceiver(uint32_t fileID = 0) { setFileByID(fileID); }
    int calls = 0;
    ZTRefreshInfo* lastInfo = nullptr;
    void* lastArg = nullptr;

    int refresh(ZTRefreshInfo* info, void* arg) override {
        ++calls;
        lastInfo = info;
        lastArg = arg;
        return 7;
    }
};

TEST(ZTRefreshedBaseClassTest, ActsOnANoticeOnce) {
    CountingReceiver r;
    ZTRefreshInfo notice;
    int tag = 0;
    EXPECT_EQ(r.dispatchRefresh(&notice, &tag), 7);
    EXPECT_EQ(r.lastInfo, &notice);
    EXPECT_EQ(r.lastArg, &tag);
    EXPECT_EQ(r.dispatchRefresh(&notice, &tag), 0);
    EXPECT_EQ(r.calls, 1);

    EXPECT_EQ(r.dispatchRefresh(nullptr, nullptr), 0);
    EXPECT_EQ(r.calls, 1);

    ZTRefreshedBaseClass plain;
    ZTRefreshInfo other;
    EXPECT_TRUE(plain.acceptRefresh(&other));
    EXPECT_FALSE(plain.acceptRefresh(&other));
    other.reset();  // a reused notice is new again
    EXPECT_EQ(plain.dispatchRefresh(&other, nullptr), 0);
    EXPECT_FALSE(plain.acceptRefresh(&other));
}

TEST(ZTRefreshedBaseClassTest, RemembersTheLastFiveSerials) {
    CountingReceiver r;
    std::vector<ZTRefreshInfo> notices(7);
    for (int i = 0; i < 5; ++i) r.dispatchRefresh(&notices[i], nullptr);
    EXPECT_EQ(r.calls, 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(r.dispatchRefresh(&notices[i], nullptr), 0);
    EXPECT_EQ(r.calls, 5);

    r.dispatchRefresh(&notices[5], nullptr);  // the sixth pushes the first out
    EXPECT_EQ(r.calls, 6);
    EXPECT_EQ(r.dispatchRefresh(&notices[0], nullptr), 7);
    EXPECT_EQ(r.calls, 7);
    EXPECT_EQ(r.dispatchRefresh(&notices[5], nullptr), 0);
    EXPECT_EQ(r.calls, 7);
}

TEST(ZTRefreshedBaseClassTest, AReceiverWithAFileIgnoresOtherFilesWithoutRememberingThem) {
    CountingReceiver withFile(7), withoutFile;
    ZTRefreshInfo empty, other, mine;
    other.addByID(8, 1, 0, 1);
    other.addByID(0xFFFFFFFF, 0xFFFFFFFD, 0, 0);
    mine.addByID(8, 1, 0, 1);
    mine.addByID(7, 3, 4, 1);

    EXPECT_EQ(withoutFile.dispatchRefresh(&empty, nullptr), 7);
    EXPECT_EQ(withoutFile.dispatchRefresh(&other, nullptr), 7);
    EXPECT_EQ(withFile.dispatchRefresh(&empty, nullptr), 0);
    EXPECT_EQ(withFile.dispatchRefresh(&other, nullptr), 0);
    EXPECT_EQ(withFile.calls, 0);

    // Refused notices take no place in the ring: the one accepted before them is still seen...
    EXPECT_EQ(withFile.dispatchRefresh(&mine, nullptr), 7);
    std::vector<ZTRefreshInfo> others(6);
    for (ZTRefreshInfo& o : others) {
        o.addByID(8);
        withFile.dispatchRefresh(&o, nullptr);
    }
    EXPECT_EQ(withFile.dispatchRefresh(&mine, nullptr), 0);
    // ...and a refused one is taken once it concerns the file.
    other.addByID(7);
    EXPECT_EQ(withFile.dispatchRefresh(&other, nullptr), 7);
    EXPECT_EQ(withFile.calls, 2);
}

TEST(ZTRefreshedBaseClassTest, SetFileForgetsSerialsSetFileIDAndCopiesKeepThem) {
    CountingReceiver r(7);
    ZTRefreshInfo notice;
    notice.addByID(7);
    notice.addByID(9);
    ASSERT_EQ(r.dispatchRefresh(&notice, nullptr), 7);

    CountingReceiver copy(1);
    copy = r;
    EXPECT_EQ(copy.getFileID(), 7u);
    EXPECT_EQ(copy.dispatchRefresh(&notice, nullptr), 0);

    r.setFileID(9);
    EXPECT_EQ(r.getFileID(), 9u);
    EXPECT_EQ(r.dispatchRefresh(&notice, nullptr), 0);
    r.setFileByID(9);
    EXPECT_EQ(r.dispatchRefresh(&notice, nullptr), 7);
    r.setFileByID(0);
    EXPECT_EQ(r.getFileID(), 0u);
    EXPECT_EQ(r.dispatchRefresh(&notice, nullptr), 7);
}

}  // namespace
