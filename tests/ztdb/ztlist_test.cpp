// Record lists, value lists, scans and browsing.
#include "ztdb/ztlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch_standin.h"
#include "ztfile_helpers.h"

namespace {

ZTArray<uint32_t> idArray(const std::vector<uint32_t>& v) {
    ZTArray<uint32_t> a;
    for (uint32_t x : v) a.append(x);
    return a;
}

struct OpenDatabase {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file{base.c_str()};
    OpenDatabase() { EXPECT_EQ(file.open(3, false), 3u); }
};

std::vector<std::pair<uintptr_t, uintptr_t>> browsed(BatchStandIn& owner) {
    std::vector<std::pair<uintptr_t, uintptr_t>> out;
    for (const BatchReport& r : owner.all())
        if (r.code == kZTCodeBrowsed) out.emplace_back(r.a, r.b);
    return out;
}

TEST(ZTBrowseTest, ReportsEachIDWithItsProgress) {
    OpenDatabase db;
    using Reports = std::vector<std::pair<uintptr_t, uintptr_t>>;
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
            Reports want = mode == ZTBrowse::kProgressPercent
                               ? Reports{{1003, 0}, {1005, 25}, {1004, 50}, {1007, 75}}
                               : Reports{{1003, 0}, {1005, 1}, {1004, 2}, {1007, 3}};
            EXPECT_EQ(browsed(owner), want) << threaded << mode;
            if (threaded) {
                EXPECT_EQ(codes.back(), kZTCodeJobFinished);
            }
        }
    }
}

TEST(ZTBrowseTest, AStopAnswerEndsTheWalkAtOnce) {
    OpenDatabase db;
    ZTArray<uint32_t> ids = idArray({1003, 1004, 1005});
    for (bool threaded : {false, true}) {
        ZTBrowse browse(&db.file, threaded);
        BatchStandIn owner(1);                     // answers -1 to the first report
        owner.job = threaded ? &browse : nullptr;  // inline, nobody takes reports meanwhile
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
