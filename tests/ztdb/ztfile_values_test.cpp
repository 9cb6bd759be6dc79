// Single values, names, database references and the counters of a database: reads on fixtures,
// the next-ID counter (at open, between processes and threads, at its bound), and the
// automatic-backup test.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "date_order_pin.h"
#include "xbase/child_process.h"
#include "ztrec_helpers.h"

namespace {

constexpr uint32_t kFieldName = 1;
constexpr uint32_t kSetName = 9;

// Field records named as the tests need, a set whose field list links to two of them, a trash
// set, and a record with a link value.
class ZTFileValues : public ::testing::Test {
  protected:
    void SetUp() override {
        dbcheck::Fixture fx;
        fx.dayFirst = true;
        fx.counter(3000);
        uint32_t id = 1001;
        for (const char* name : {"\311lan", "\306ther", "\214uvre", "a\327b", "1/2/2003", "12.5",
                                 "2024", "Town", "Town 2", "town!"}) {
            names_.push_back({id, fx.field(id, name)});
            ++id;
        }
        fx.set(1100, "Places", {names_[7].second, names_[0].second});
        fx.value(1101, kSetName, 1, "Places Trash");
        fx.value(1101, 101, 1, "1100");
        fx.value(1102, kSetName, 1, "Empty Trash");
        fx.value(1102, 101, 1, "");
        uint32_t berlin = fx.value(1200, 1008, 1, "Berlin");
        fx.link(1201, 1008, 1, berlin);
        fx.value(1202, 1008, 1, std::string("\001\377\377broken", 9));  // a packed text that
                                                                        // does not decode
        base_ = dir_.file("values");
        ASSERT_TRUE(fx.write(base_)) << fx.error;
        file_.setName(base_.c_str());
        ASSERT_EQ(file_.open(3, true), 3u);
    }

    DateOrderPin pin_{true};
    TempDir dir_;
    std::string base_;
    ZTFile file_{nullptr};
    std::vector<std::pair<uint32_t, uint32_t>> names_;  // record, value number
};

TEST_F(ZTFileValues, NamesAreFoundByTheirFolding) {
    const struct {
        const char* asked;
        uint32_t record;
    } cases[] = {
        {"\311lan", 1001},  {"ELAN", 1001},     {"elan", 1001},
        {"\306ther", 1002}, {"\306THER", 1002}, {"\214uvre", 1003},
        {"\234UVRE", 1003}, {"a\327b", 1004},   {"1/2/2003", 1005},
        {"12.5", 1006},     {"2024", 1007},     {"Town", 1008},
        {"TOWN", 1008},     {"town 2", 1009},   {"Town!", 1008},
        {"Paris", 0},       {"Elan-", 1001},    {"125", 0},
        {"---", 0},         {"\327\367", 0},    {"", 0},
        {nullptr, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(file_.findName(kFieldName, c.asked), c.record) << (c.asked ? c.asked : "null");
    // Set names are another type; the set's field-list links never answer for a field.
    EXPECT_EQ(file_.findName(kSetName, "places"), 1100u);
    EXPECT_EQ(file_.findName(kSetName, "Town"), 0u);
}

TEST_F(ZTFileValues, UniqueNames) {
    ZTStr name;
    name.assign("Town");
    EXPECT_STREQ(file_.makeUniqueName(kFieldName, &name), "Town 3");
    name.assign("Village");
    EXPECT_STREQ(file_.makeUniqueName(kFieldName, &name), "Village");
    name.assign("\311LAN");
    EXPECT_STREQ(file_.makeUniqueName(kFieldName, &name), "\311LAN 2");
}

TEST_F(ZTFileValues, SingleValues) {
    ZTStr text;
    EXPECT_TRUE(file_.getValue(kFieldName, 1008, &text, false));
    EXPECT_STREQ(text.text, "Town");
    EXPECT_TRUE(file_.getName(kFieldName, 1001, &text));
    EXPECT_STREQ(text.text, "\311lan");
    // A link row is a value only when any row counts.
    EXPECT_FALSE(file_.getValue(1008, 1201, &text, false));
    EXPECT_STREQ(text.text, "");
    EXPECT_TRUE(file_.getValue(1008, 1201, &text, true));
    EXPECT_STREQ(text.text, "Berlin");
    EXPECT_FALSE(file_.getValue(1008, 1300, &text, true));
    EXPECT_FALSE(file_.getValue(1008, 1202, &text, false));  // does not decode
    EXPECT_STREQ(text.text, "");

    EXPECT_TRUE(file_.hasValue(1201, 1008));
    EXPECT_FALSE(file_.hasValue(1201, 1007));
    EXPECT_FALSE(file_.hasValue(1300, 1008));

    EXPECT_TRUE(file_.findFieldName(1002, &text));
    EXPECT_STREQ(text.text, "\306ther");
    EXPECT_FALSE(file_.findFieldName(0, &text));
    EXPECT_FALSE(file_.findFieldName(1100, &text));  // a set's first type-1 row is a link
    EXPECT_STREQ(text.text, "");
    EXPECT_FALSE(file_.findFieldName(1999, &text));
    EXPECT_TRUE(file_.findSetName(1100, &text));
    EXPECT_STREQ(text.text, "Places");
    EXPECT_FALSE(file_.findSetName(1008, &text));

    EXPECT_EQ(file_.getNameLink(1100), 1008u);  // the set's first field
    EXPECT_EQ(file_.getNameLink(1008), 0u);     // a field's name is no link
    EXPECT_EQ(file_.getNameLink(0), 0u);

    EXPECT_TRUE(file_.isTrashSet(1101));
    EXPECT_FALSE(file_.isTrashSet(1102));
    EXPECT_FALSE(file_.isTrashSet(1100));
    EXPECT_FALSE(file_.isTrashSet(0));
    EXPECT_EQ(file_.getReadDepth(), 0);
}

TEST(ZTFileReferences, DatabaseRecordsRoundTrip) {
    NewDatabase db;
    ASSERT_TRUE(ZTRec(&db.file).setCounter(5000));
    const std::string longA = "/home/user/documents/databases/archive/a1";
    const std::string longB = "/home/user/documents/databases/archive/a2";
    const struct {
        uint32_t record;
        std::string path;
        const char* ext;
    } stored[] = {
        {1020, "/data/People", "ZT"},
        {1021, "/data/Places", nullptr},
        {1022, "/DATA/PLACES", nullptr},
        {1023, longA, nullptr},
        {1024, longB, "zt2"},
    };
    for (const auto& s : stored) {
        ZTStr value;
        value.assign(s.path.c_str());
        if (s.ext) value.setTag('e', s.ext);
        ASSERT_NE(addValue(db.file, s.record, 33, 1, value.text), 0u);
    }
    const struct {
        std::string path;
        const char* ext;
        uint32_t record;
    } asked[] = {
        {"/data/People", "ZT", 1020},
        {"/data/People.zt", "ZT", 1020},
        {"/data/People", nullptr, 0},
        {"/data/People", "IX", 0},
        {"/data/Places", nullptr, 1021},
        {"/data/Places.ZT2", "", 1021},
        {"/DATA/PLACES", nullptr, 1022},
        {"/data/places", nullptr, 0},
        {longA, nullptr, 1023},
        {longB, "zt2", 1024},
        {longB, nullptr, 0},
        {"", nullptr, 0},
    };
    for (const auto& a : asked)
        EXPECT_EQ(db.file.findDatabaseRecord(a.path.c_str(), a.ext), a.record)
            << a.path << " / " << (a.ext ? a.ext : "none");

    ZTStr name, ext;
    EXPECT_TRUE(db.file.getDatabaseRecordName(1020, &name, &ext));
    EXPECT_STREQ(name.text, "/data/People");
    EXPECT_STREQ(ext.text, "ZT");
    EXPECT_TRUE(db.file.getDatabaseRecordName(1021, &name, &ext));
    EXPECT_STREQ(name.text, "/data/Places");
    EXPECT_STREQ(ext.text, "");
    EXPECT_FALSE(db.file.getDatabaseRecordName(1099, &name, &ext));
    EXPECT_STREQ(name.text, "");
}

TEST(ZTFileCounters, RecordIDs) {
    {
        // A new database opened without the check hands out 1001 and stores 1002.
        NewDatabase db(3, false);
        EXPECT_EQ(db.file.getChangeCount(), 0u);
        EXPECT_EQ(db.file.newRecordID(), 1001u);
        EXPECT_EQ(db.file.getChangeCount(), 1002u);
        EXPECT_EQ(db.file.newRecordID(), 1002u);
    }
    {
        // The check at open stores 1002 first.
        NewDatabase db(3, true);
        EXPECT_EQ(db.file.getChangeCount(), 1002u);
        EXPECT_EQ(db.file.newRecordID(), 1002u);
        dbcheck::Report report = db.check();
        EXPECT_TRUE(report.sound()) << report.text();
    }
    {
        // A counter that fell behind the rows: the check at open and newRecordID both go above.
        NewDatabase db(3, false);
        ASSERT_NE(addValue(db.file, 1500, 1001, 1, "x"), 0u);
        ASSERT_TRUE(ZTRec(&db.file).setCounter(1200));
        EXPECT_EQ(db.file.newRecordID(), 1501u);
        ASSERT_TRUE(ZTRec(&db.file).setCounter(1200));
        db.file.close();
        FilesState before = filesState(db.base);
        EXPECT_EQ(db.file.open(11, true) & 15, 11u);  // read-only: nothing is written
        EXPECT_EQ(db.file.getChangeCount(), 1200u);
        db.file.close();
        EXPECT_TRUE(filesState(db.base) == before);
        EXPECT_EQ(db.file.open(3, true), 3u);
        EXPECT_EQ(db.file.getChangeCount(), 1501u);
    }
    {
        // The last ID three base-255 digits hold is handed out once; then the counter refuses.
        NewDatabase db(3, false);
        ASSERT_TRUE(ZTRec(&db.file).setCounter(16581373));
        EXPECT_EQ(db.file.newRecordID(), 16581373u);
        EXPECT_EQ(db.file.newRecordID(), 16581374u);
        EXPECT_EQ(db.file.getLastError(), 0);
        EXPECT_EQ(db.file.newRecordID(), 0u);
        EXPECT_EQ(db.file.getLastError(), ZTFile::kErrorNoRecordID);
        EXPECT_EQ(db.file.getChangeCount(), 16581375u);
        EXPECT_EQ(db.file.getLockDepth(), 0);
        // Rows of the last record leave no ID either.
        ASSERT_TRUE(ZTRec(&db.file).setCounter(0));
        ASSERT_NE(addValue(db.file, 16581374, 1001, 1, "last"), 0u);
        EXPECT_EQ(db.file.newRecordID(), 0u);
    }
}

TEST(ZTFileCounters, ACounterSharingAnotherRowsValueNeverChangesThatValue) {
    // The counter's row points at the chain of record 1500's value: the next ID comes from it,
    // and the new count goes into a chain of the counter's own.
    NewDatabase db(3, false);
    ASSERT_NE(addValue(db.file, 1500, 1001, 1, "1700"), 0u);
    ZTRec value(&db.file);
    ASSERT_EQ(value.seek(1500, 1001, 1, ""), 0);
    ZTRec counter(&db.file);
    ASSERT_TRUE(counter.setCounter(1200));
    ASSERT_TRUE(db.file.lock(false));
    EXPECT_EQ(counter.getCounter(), 1200u);
    ASSERT_TRUE(counter.setRowValue(value.valueID, "1700", true));
    ASSERT_TRUE(db.file.unlock());
    EXPECT_EQ(db.file.newRecordID(), 1700u);
    EXPECT_EQ(db.file.getChangeCount(), 1701u);
    ZTStr text;
    ASSERT_TRUE(ZTRec(&db.file).readChain(value.valueID, &text));
    EXPECT_STREQ(text.text, "1700");
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTFileCounters, TheCheckAtOpenGivesWayToAHeldLock) {
    NewDatabase db(3, false);
    ASSERT_NE(addValue(db.file, 1500, 1001, 1, "x"), 0u);
    Child holder([&](int in, int out) {
        ZTFile mine(db.base.c_str());
        int32_t got = mine.open(3, false) == 3 && mine.lock(false) ? 1 : 0;
        if (!writeValue(out, got)) _exit(2);
        (void)await(in);
        (void)mine.unlock();
    });
    ASSERT_EQ(holder.receiveValue<int32_t>(-1), 1);
    ZTFile other(db.base.c_str());
    EXPECT_EQ(other.open(3, true), 3u);
    EXPECT_EQ(other.getChangeCount(), 0u);
    holder.send('q');
}

// Two processes, then two objects on two threads, ask for IDs at once: every ID is handed out
// once, and the counter ends above them all.
TEST(ZTFileCounters, RecordIDsBetweenProcessesAndThreads) {
    NewDatabase db(3, true);
    constexpr int kEach = 1000;
    auto asker = [&](int, int out) {
        ZTFile mine(db.base.c_str());
        if (mine.open(3, false) != 3) _exit(2);
        for (int i = 0; i < kEach; ++i)
            if (!writeValue(out, mine.newRecordID())) _exit(2);
    };
    std::vector<uint32_t> ids;
    {
        Child a(asker), b(asker);
        for (int i = 0; i < kEach; ++i) {
            ids.push_back(a.receiveValue<uint32_t>(0));
            ids.push_back(b.receiveValue<uint32_t>(0));
        }
    }
    constexpr int kThreadEach = 200;
    std::vector<uint32_t> fromThreads[2];
    auto worker = [&](int t) {
        ZTFile mine(db.base.c_str());
        if (mine.open(3, false) != 3) return;
        for (int i = 0; i < kThreadEach; ++i) fromThreads[t].push_back(mine.newRecordID());
    };
    std::thread t0(worker, 0), t1(worker, 1);
    t0.join();
    t1.join();
    for (auto& v : fromThreads) ids.insert(ids.end(), v.begin(), v.end());

    ASSERT_EQ(ids.size(), size_t(2 * kEach + 2 * kThreadEach));
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 0u), 0);
    std::set<uint32_t> unique(ids.begin(), ids.end());
    EXPECT_EQ(unique.size(), ids.size());
    EXPECT_GT(db.file.getChangeCount(), *unique.rbegin());
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTFileCounters, AutomaticBackupThreshold) {
    NewDatabase db;
    ZTRec rec(&db.file);
    const struct {
        uint32_t counter;
        uint32_t threshold;
        bool backup;
        uint32_t stored;  // the backup count afterwards
    } steps[] = {
        {100, 100, false, 0},  // exactly at the threshold
        {100, 99, true, 100},  // one above
        {100, 0, false, 100},  {200, 100, false, 100},
        {201, 100, true, 201}, {4294967295u, 4294967294u, false, 201},  // no overflow
    };
    for (const auto& s : steps) {
        ASSERT_TRUE(rec.setCounter(s.counter));
        EXPECT_EQ(db.file.checkAutoBackup(s.threshold), s.backup) << s.counter;
        EXPECT_EQ(db.file.getBackupChangeCount(), s.stored) << s.counter;
    }
    EXPECT_EQ(db.file.getLockDepth(), 0);
}

}  // namespace
