// The commit journal of a shared database: a writer ended at each write of a commit (the
// record, the in-place writes, the applied mark, the checkpoint) loses nothing committed and
// leaves a sound database; a restart of the machine replays everything since the checkpoint; a
// damaged journal never damages the files; a failed journal write fails the commit and changes
// nothing; the journal stays bounded.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "maintenance_helpers.h"
#include "xbase/child_process.h"
#include "ztrec_helpers.h"

namespace {

constexpr uint32_t kType = 1001;  // the fixture's Town field

std::string journalPath(const std::string& base) {
    return base + ".ZTJ";
}

int64_t sizeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

// Where the journal's last applied record ends, as its applied mark says (the file may go on
// past it: it grows ahead of its records).
int64_t recordsEnd(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(528);
    unsigned char b[8] = {};
    in.read(reinterpret_cast<char*>(b), 8);
    int64_t end = 0;
    for (int i = 7; i >= 0; --i) end = end << 8 | b[i];
    return end;
}

// The texts of a record's values of kType, by position, as the checker reads them.
std::map<uint32_t, std::string> valuesOf(const dbcheck::Report& report, uint32_t record) {
    std::map<uint32_t, std::string> out;
    for (const dbcheck::StoredRow& r : report.rows)
        if (!r.deleted && r.a == record && r.b == kType) out[r.c] = textOf(report, r.e);
    return out;
}

// A child that commits `count` values to records from 2000 and ends without closing, so
// that the journal keeps its records. 0 when every commit returned success.
int commitAndVanish(const std::string& base, int count, size_t length = 40) {
    return runChildEndingAtWrite(0, false, [&] {
        ZTFile file(base.c_str());
        if (file.open(3, false) != 3) return 2;
        for (int i = 0; i < count; ++i)
            if (addValue(file, 2000 + i, kType, 1, std::string(length, char('a' + i % 26))) == 0)
                return 3;
        _exit(0);  // no close: no checkpoint
    });
}

void expectCommitted(const dbcheck::Report& report, int count, size_t length = 40) {
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(valuesOf(report, 2000 + i)[1], std::string(length, char('a' + i % 26)))
            << "record " << 2000 + i;
}

// Opens with verify, as the next user would: the checker must find the files sound.
dbcheck::Report reopenAndCheck(const std::string& base) {
    {
        ZTFile file(base.c_str());
        EXPECT_NE(file.open(3, true) & 1, 0u);
    }
    dbcheck::Report report = dbcheck::checkDatabase(base);
    EXPECT_TRUE(report.sound()) << report.text();
    return report;
}

TEST(ZTJournal, AWriterEndedAtEachWriteOfACommitKeepsItWholeOrNotAtAll) {
    // One commit of a new record (two values, so that both tables and both indexes change)
    // and the close that checkpoints, ended at every write, whole and half. Once a writer ended
    // at some write finds its commit kept, every later end does too; at that write itself, a
    // half record is torn and so not committed.
    bool finished = false, replayed = false;
    int firstKept = 0;
    for (int nth = 1; !finished && nth < 200; ++nth)
        for (bool half : {false, true}) {
            SCOPED_TRACE("write " + std::to_string(nth) + (half ? " half" : " whole"));
            TempDir dir;
            const std::string base = writeDatabase(dir);
            const int code = runChildEndingAtWrite(nth, half, [&] {
                ZTFile file(base.c_str());
                if (file.open(3, false) != 3) return 2;
                if (!file.lock(false)) return 3;
                const bool ok = addValue(file, 2000, kType, 1, "first") != 0 &&
                                addValue(file, 2000, kType, 2, std::string(300, 'L')) != 0;
                if (!file.unlock() || !ok) return 4;
                return 5;  // the commit returned; the close follows
            });
            ASSERT_TRUE(code == file4exitCode || code == 5) << code;
            if (code == 5) finished = true;
            const dbcheck::Report report = reopenAndCheck(base);
            const auto values = valuesOf(report, 2000);
            if (values.empty()) {
                // Not committed: nothing of it, and nothing lost either.
                EXPECT_NE(code, 5);
                EXPECT_TRUE(firstKept == 0 || firstKept == nth)
                    << "a commit kept when ended at write " << firstKept << " is gone";
            } else {
                EXPECT_EQ(values.size(), 2u);
                EXPECT_EQ(values.at(1), "first");
                EXPECT_EQ(values.at(2), std::string(300, 'L'));
                if (code == file4exitCode) replayed = true;
                if (firstKept == 0) firstKept = nth;
            }
            for (uint32_t r = 1003; r < 1009; ++r)
                EXPECT_EQ(valuesOf(report, r)[1], "Town " + std::to_string(r));
        }
    EXPECT_TRUE(finished);
    // Some writer died after its commit reached the journal and the files got it from there.
    EXPECT_TRUE(replayed);
}

class ZTJournalRestart : public ::testing::Test {
  protected:
    void TearDown() override { journal4setBootIdForTest(nullptr); }
};

TEST_F(ZTJournalRestart, AnotherBootReplaysEverythingSinceTheCheckpoint) {
    TempDir dir;
    const std::string base = writeDatabase(dir);
    const FilesState before = filesState(base);
    ASSERT_EQ(commitAndVanish(base, 12), 0);
    // The power went: none of the in-place writes made since the checkpoint survived, while
    // the journal (synced) and its applied marks did.
    for (int i = 0; i < 4; ++i) {
        std::ofstream out(ZTFile::findTablePath(base, kDatabaseExtensions[i]),
                          std::ios::binary | std::ios::trunc);
        out << before.bytes[i];
    }
    journal4setBootIdForTest("another boot");
    const dbcheck::Report report = reopenAndCheck(base);
    expectCommitted(report, 12);
}

TEST_F(ZTJournalRestart, TheSameBootTrustsTheAppliedMarks) {
    TempDir dir;
    const std::string base = writeDatabase(dir);
    ASSERT_EQ(commitAndVanish(base, 3), 0);
    const FilesState applied = filesState(base);
    // Records all applied: the open replays nothing (the files keep their times).
    {
        ZTFile file(base.c_str());
        ASSERT_EQ(file.open(3, false), 3u);
    }
    EXPECT_TRUE(filesState(base) == applied);
}

TEST_F(ZTJournalRestart, ANewDatabaseNeverTakesTheJournalOfAnEarlierOneOfItsName) {
    TempDir dir;
    const std::string base = writeDatabase(dir);
    ASSERT_EQ(commitAndVanish(base, 4), 0);
    // The earlier database's tables are deleted; its journal, with its records, stays behind.
    for (const char* ext : {"ZT", "IX", "ZT2", "IX2"})
        ASSERT_EQ(unlink(ZTFile::findTablePath(base, ext).c_str()), 0);
    ASSERT_GT(sizeOf(journalPath(base)), 1024);
    {
        ZTFile maker(base.c_str());
        ASSERT_TRUE(maker.create(3, 30, 30));
    }
    // After a restart every record since the checkpoint would be replayed into the new files.
    journal4setBootIdForTest("another boot");
    const dbcheck::Report report = reopenAndCheck(base);
    EXPECT_TRUE(valuesOf(report, 2000).empty());
    EXPECT_TRUE(valuesOf(report, 1003).empty());
}

// Damage done to a journal whose records were all applied.
struct Damage {
    const char* name;
    std::function<void(const std::string& path)> apply;
};

void flipByte(const std::string& path, int64_t at) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(at);
    char c = 0;
    f.read(&c, 1);
    c = char(c ^ 0x5a);
    f.seekp(at);
    f.write(&c, 1);
}

TEST(ZTJournal, ADamagedJournalNeverDamagesTheDatabase) {
    const Damage damages[] = {
        {"bad checksum in the last record",
         [](const std::string& p) { flipByte(p, recordsEnd(p) - 3); }},
        {"bad checksum in the first record", [](const std::string& p) { flipByte(p, 1024 + 30); }},
        {"truncated record",
         [](const std::string& p) { (void)truncate(p.c_str(), recordsEnd(p) - 9); }},
        {"truncated header", [](const std::string& p) { (void)truncate(p.c_str(), 100); }},
        {"garbage header", [](const std::string& p) { flipByte(p, 20); }},
        {"garbage mark", [](const std::string& p) { flipByte(p, 520); }},
        {"garbage everywhere",
         [](const std::string& p) {
             std::ofstream out(p, std::ios::binary | std::ios::trunc);
             for (int i = 0; i < 5000; ++i) out.put(char(i * 7919 % 251));
         }},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        TempDir dir;
        const std::string base = writeDatabase(dir);
        ASSERT_EQ(commitAndVanish(base, 6), 0);
        d.apply(journalPath(base));
        const dbcheck::Report report = reopenAndCheck(base);
        expectCommitted(report, 6);
        // And the database goes on taking commits.
        {
            ZTFile file(base.c_str());
            ASSERT_EQ(file.open(3, false), 3u);
            EXPECT_NE(addValue(file, 2100, kType, 1, "after"), 0u);
        }
        EXPECT_EQ(valuesOf(reopenAndCheck(base), 2100)[1], "after");
    }
}

TEST(ZTJournal, ACommitWhoseRecordCannotBeWrittenFailsAndChangesNothing) {
    TempDir dir;
    const std::string base = writeDatabase(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, false), 3u);
    ASSERT_NE(addValue(file, 2000, kType, 1, "kept"), 0u);
    const FilesState before = filesState(base);
    // The journal is the only file of its kind: its next write is the record, cut short.
    file4failWrite(file4kindOther, 1);
    EXPECT_EQ(addValue(file, 2001, kType, 1, "lost"), 0u);
    file4failWrite(0, 0);
    EXPECT_TRUE(filesState(base) == before);
    ASSERT_NE(addValue(file, 2002, kType, 1, "next"), 0u);
    file.close();
    const dbcheck::Report report = reopenAndCheck(base);
    EXPECT_EQ(valuesOf(report, 2000)[1], "kept");
    EXPECT_TRUE(valuesOf(report, 2001).empty());
    EXPECT_EQ(valuesOf(report, 2002)[1], "next");
}

TEST(ZTJournal, TheJournalStaysBounded) {
    TempDir dir;
    const std::string base = writeDatabase(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, false), 3u);
    int64_t largest = 0, last = sizeOf(journalPath(base));
    int lengthChanges = 0;
    for (int i = 0; i < 300; ++i) {
        ASSERT_NE(addValue(file, 2000 + i, kType, 1, std::string(4000, char('a' + i % 26))), 0u);
        const int64_t size = sizeOf(journalPath(base));
        largest = std::max(largest, size);
        if (size != last) ++lengthChanges;
        last = size;
    }
    EXPECT_GT(largest, int64_t{1} << 20);  // it did grow, and was emptied on the way
    EXPECT_LT(largest, int64_t{5} << 20);
    // It grows ahead of its records: few commits also sync a new length.
    EXPECT_LT(lengthChanges, 30);
    file.close();
    expectCommitted(reopenAndCheck(base), 300, 4000);
}

}  // namespace
