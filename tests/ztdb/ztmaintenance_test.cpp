// The maintenance job: its plan and progress, stops in each pass, the purge, and the files it
// refuses.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "assert_capture.h"
#include "date_order_pin.h"
#include "maintenance_helpers.h"
#include "support/dbdamage.h"
#include "xbase/temp_dir.h"
#include "ztrec_helpers.h"

namespace {

// Records every report; answers -1 to the report numbered stopAt (from 1).
struct Progress {
    std::mutex mutex;
    std::vector<uint32_t> values;
    int stopAt = 0;
    static uint32_t callback(uint32_t code, uintptr_t, uintptr_t b, void* context) {
        auto* self = static_cast<Progress*>(context);
        std::lock_guard<std::mutex> guard(self->mutex);
        if (code != kZTCodeProgress) return 0;
        self->values.push_back(uint32_t(b));
        return int(self->values.size()) == self->stopAt ? kZTAnswerStop : 0;
    }
};

// Deletes every row of the record through the row cursor; the stand-in for the engine's
// record delete.
bool deleteRowsOf(ZTFile* file, uint32_t record) {
    if (!file->lock(false)) return false;
    ZTRec rec(file);
    bool ok = true;
    for (int left = 1000; ok && left > 0 && rec.seek(record, 0, 0, nullptr) == 0; --left)
        ok = rec.deleteRow();
    return file->unlock() && ok;
}

// 100 rows and 40 chunks, every record alive: a counter, two fields, a set of the first, 36
// members with a value each and 23 links between them.
std::string writeHundredRows(const TempDir& dir) {
    dbcheck::Fixture fx;
    fx.counter(2000);
    const uint32_t name = fx.field(1001, "Name");
    fx.field(1002, "Ref");
    fx.set(1003, "People", {name});
    std::vector<uint32_t> values;
    for (uint32_t r = 1004; r < 1040; ++r) {
        values.push_back(fx.value(r, 1001, 1, "Person " + std::to_string(r)));
        fx.member(r, 1003);
    }
    for (size_t i = 0; i < 23; ++i) fx.link(uint32_t(1004 + i), 1002, 1, values[i + 1]);
    EXPECT_EQ(fx.rows.size(), 100u);
    EXPECT_EQ(fx.chunks.size(), 40u);
    const std::string base = dir.file("db");
    EXPECT_TRUE(fx.write(base)) << fx.error;
    return base;
}

// The live rows of the records not excluded, by content (a pack moves them).
std::multiset<RowImage> liveRows(const dbcheck::Report& report, const std::set<uint32_t>& except) {
    std::multiset<RowImage> out;
    for (const dbcheck::StoredRow& r : report.rows)
        if (!r.deleted && r.a != 0 && !except.count(r.a)) out.insert(imageOf(r));
    return out;
}

// The sound database with two trash sets (records holding field 101) and a member of each.
std::string writeWithTrash(const TempDir& dir, dbcheck::Sound& s) {
    s.fx.set(1007, "Bin", {s.townField});
    s.fx.value(1007, 101, 1, "1003");
    s.fx.set(1008, "Old", {s.townField});
    s.fx.value(1008, 101, 1, "1003");
    s.fx.value(1009, 1002, 1, "Berlin");
    s.fx.member(1009, 1007);
    const std::string base = dir.file("db");
    EXPECT_TRUE(s.fx.write(base)) << s.fx.error;
    return base;
}

}  // namespace

TEST(ZTMaintenanceTest, AnEmptyDatabaseReportsNothing) {
    NewDatabase db;
    for (bool threaded : {false, true}) {
        Progress progress;
        ZTMaintenance job(&db.file, threaded, true, true, true, 1);
        ASSERT_TRUE(job.start(&Progress::callback, &progress));
        job.waitForEnd();
        EXPECT_TRUE(progress.values.empty());
        EXPECT_EQ(job.getTotal(), 0u);
    }
}

TEST(ZTMaintenanceTest, PackAndCheckPlanOneUnitPerRowAndChunkAndReportPercentages) {
    DateOrderPin pin(false);
    TempDir dir;
    const std::string base = writeHundredRows(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, false), 3u);
    Progress progress;
    ZTMaintenance job(&file, false, true, true, false, 1);
    ASSERT_TRUE(job.start(&Progress::callback, &progress));
    EXPECT_EQ(job.getTotal(), 365u);
    EXPECT_FALSE(job.hasFailed());
    EXPECT_EQ(job.getRepairs(), 0);
    // Rows of the pack pass one by one, the pack as 100, the check's rows and chunks one by
    // one, then the two name fixes as 5 and 20.
    std::vector<uint32_t> want;
    uint64_t done = 0;
    auto add = [&](uint64_t n) { want.push_back(uint32_t((done += n) * 100 / 365)); };
    for (int i = 0; i < 100; ++i) add(1);
    add(100);
    for (int i = 0; i < 140; ++i) add(1);
    add(5);
    add(20);
    EXPECT_EQ(progress.values, want);
    EXPECT_EQ(progress.values.back(), 100u);
    file.close();
    EXPECT_TRUE(dbcheck::checkDatabase(base).sound());
}

TEST(ZTMaintenanceTest, CountsModeReportsTheUnitsDone) {
    DateOrderPin pin(false);
    TempDir dir;
    const std::string base = writeHundredRows(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, false), 3u);
    Progress progress;
    ZTMaintenance job(&file, false, false, true, false, 0);
    ASSERT_TRUE(job.start(&Progress::callback, &progress));
    ASSERT_FALSE(progress.values.empty());
    EXPECT_EQ(progress.values.front(), 100u);  // the index rebuild: one unit per row
    EXPECT_EQ(progress.values.back(), uint32_t(job.getDone()));
    EXPECT_EQ(job.getDone(), job.getTotal());
}

TEST(ZTMaintenanceTest, AStopInThePackRowsStillPurgesThenSkipsPackAndCheck) {
    DateOrderPin pin(false);
    TempDir dir;
    dbcheck::Sound sound;
    sound.fx.rows[2].d = sound.fx.keyOf("other");  // damage that only the check repairs
    const std::string base = writeWithTrash(dir, sound);
    const int64_t length = dbcheck::fileLength(base + ".ZT");
    std::vector<uint32_t> deleted;
    {
        ZTFile file(base.c_str());
        ASSERT_EQ(file.open(3, false), 3u);
        Progress progress;
        progress.stopAt = 1;
        ZTMaintenance job(&file, false, true, true, true, 1);
        job.setRecordDeleter([&](ZTFile* f, uint32_t record) {
            deleted.push_back(record);
            return deleteRowsOf(f, record);
        });
        ASSERT_TRUE(job.start(&Progress::callback, &progress));
        EXPECT_EQ(progress.values.size(), 1u) << "no report after the stop";
        EXPECT_FALSE(job.hasFailed());
    }
    EXPECT_EQ(std::set<uint32_t>(deleted.begin(), deleted.end()), (std::set<uint32_t>{1007, 1008}));
    const dbcheck::Report after = dbcheck::checkDatabase(base);
    EXPECT_EQ(dbcheck::fileLength(base + ".ZT"), length) << "the tables were packed";
    EXPECT_TRUE(after.has(4)) << "the check ran: " << after.text();
    EXPECT_TRUE(rowsOf(after, 1007, 101).empty());
    EXPECT_TRUE(rowsOf(after, 1008, 101).empty());
}

TEST(ZTMaintenanceTest, AStopInTheCheckStillFixesNamesAndVersionAndASecondCheckRepairsNothing) {
    DateOrderPin pin(false);
    TempDir dir;
    dbcheck::Sound sound;
    sound.fx.chunkField = "C";  // an older dictionary
    const std::string base = dir.file("db");
    ASSERT_TRUE(sound.fx.write(base)) << sound.fx.error;
    std::vector<uint32_t> nameTypes;
    {
        ZTFile file(base.c_str());
        ASSERT_EQ(file.open(3, false), 3u);
        ASSERT_EQ(file.getDictionaryVersion(), 500);
        Progress progress;
        progress.stopAt = 2;  // the index rebuild, then the first row of the check
        ZTMaintenance job(&file, false, false, true, false, 1);
        job.setNameFixer([&](ZTFile*, uint32_t type) {
            nameTypes.push_back(type);
            return 0;
        });
        ASSERT_TRUE(job.start(&Progress::callback, &progress));
        EXPECT_EQ(progress.values.size(), 2u);
        EXPECT_EQ(nameTypes, (std::vector<uint32_t>{9, 1}));
        EXPECT_EQ(file.getDictionaryVersion(), 600);
    }
    const MaintenanceResult second = maintain(base, false, true, false);
    EXPECT_TRUE(second.started);
    EXPECT_EQ(second.repairs, 0);
}

TEST(ZTMaintenanceTest, ThePackRemovesTrashAndDeadRecordsAndKeepsTheRest) {
    DateOrderPin pin(false);
    TempDir dir;
    dbcheck::Sound sound;
    const std::string base = writeWithTrash(dir, sound);
    const dbcheck::Report before = dbcheck::checkDatabase(base);
    ASSERT_TRUE(before.sound()) << before.text();
    // 1006 belongs to no set, 1009 only to a trash set: neither is alive once the trash goes.
    const std::set<uint32_t> gone = {1006, 1007, 1008, 1009};
    const MaintenanceResult done = maintain(base, true, true, true);  // the engine's delete
    EXPECT_TRUE(done.started);
    EXPECT_FALSE(done.failed);
    const dbcheck::Report after = dbcheck::checkDatabase(base);
    EXPECT_TRUE(after.sound()) << after.text();
    EXPECT_EQ(liveRows(after, {}), liveRows(before, gone));
    for (const dbcheck::StoredRow& r : after.rows) EXPECT_FALSE(r.deleted) << "packed away";
}

TEST(ZTMaintenanceTest, TheCheckGivesDuplicateSetAndFieldNamesSuffixes) {
    DateOrderPin pin(false);
    TempDir dir;
    dbcheck::Sound sound;
    sound.fx.set(1007, "people", {sound.townField});
    sound.fx.field(1008, "TOWN");
    const std::string base = dir.file("db");
    ASSERT_TRUE(sound.fx.write(base)) << sound.fx.error;
    const MaintenanceResult done = maintain(base, false, true, false);
    EXPECT_TRUE(done.started);
    EXPECT_FALSE(done.failed);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, false), 3u);
    for (const auto& [type, first, second] : {std::tuple{ZTFile::kSetNameType, 1003u, 1007u},
                                              std::tuple{ZTFile::kFieldNameType, 1002u, 1008u}}) {
        ZTStr a, b;
        ASSERT_TRUE(file.getName(type, first, &a));
        ASSERT_TRUE(file.getName(type, second, &b));
        a.fold(nullptr);
        b.fold(nullptr);
        EXPECT_FALSE(a.equals(b.text)) << a.text << " and " << b.text;
    }
    file.close();
    const dbcheck::Report after = dbcheck::checkDatabase(base);
    EXPECT_TRUE(after.sound()) << after.text();
}

TEST(ZTMaintenanceTest, APurgeWhoseDeleteFailsEndsWithAnError) {
    DateOrderPin pin(false);
    using Deleter = ZTMaintenance::RecordDeleter;
    const std::pair<const char*, Deleter> deleters[] = {
        {"refused", [](ZTFile*, uint32_t) { return false; }},
        {"done nothing", [](ZTFile*, uint32_t) { return true; }},
    };
    for (const auto& [name, deleter] : deleters) {
        SCOPED_TRACE(name);
        TempDir dir;
        dbcheck::Sound sound;
        const std::string base = writeWithTrash(dir, sound);
        int calls = 0;
        const MaintenanceResult done =
            maintain(base, true, false, true, [&](ZTFile* f, uint32_t r) {
                ++calls;
                return deleter(f, r);
            });
        EXPECT_TRUE(done.failed);
        EXPECT_LE(calls, 2);
        const dbcheck::Report after = dbcheck::checkDatabase(base);
        EXPECT_TRUE(after.sound()) << after.text();
        EXPECT_FALSE(rowsOf(after, 1007, 101).empty());
    }
}

TEST(ZTMaintenanceTest, ACheckWithoutIndexesBuildsThemAndOpensThem) {
    DateOrderPin pin(false);
    TempDir dir;
    const std::string base = writeDatabase(dir);
    ASSERT_EQ(std::remove((base + ".IX").c_str()), 0);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, false) & 3, 1u);
    ZTMaintenance job(&file, false, false, true, false, 1);
    ASSERT_TRUE(job.start(nullptr, nullptr));
    EXPECT_FALSE(job.hasFailed());
    EXPECT_TRUE(file.isUsable()) << "opened again with its indexes for the check";
    file.close();
    const dbcheck::Report after = dbcheck::checkDatabase(base);
    EXPECT_TRUE(after.sound()) << after.text();
}

TEST(ZTMaintenanceTest, FilesItCannotWorkOn) {
    TempDir dir;
    const std::string base = writeDatabase(dir);
    {
        // Held exclusive: a threaded job gets no copy and says so; nothing crashes.
        ZTFile file(base.c_str());
        ASSERT_EQ(file.open(7, false), 7u);
        ZTMaintenance job(&file, true, true, true, false, 1);
        EXPECT_FALSE(job.start(nullptr, nullptr));
    }
    const std::pair<uint32_t, bool> programmingErrors[] = {{11, false}, {1, true}};
    for (const auto& [mode, pack] : programmingErrors) {
        SCOPED_TRACE(mode);
        ZTFile file(base.c_str());
        ASSERT_EQ(file.open(mode, false) & 15, mode);
        AssertCapture capture;
        ZTMaintenance job(&file, false, pack, true, false, 1);
        EXPECT_FALSE(job.start(nullptr, nullptr));
        EXPECT_EQ(capture.reports().size(), 1u);
    }
}
