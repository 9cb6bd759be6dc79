// A shared handle keeps the blocks and nodes it holds from one lock to the next only while the
// change sequence proves that nobody else wrote: writes of another handle, another process, a
// pack, or a writer killed after its commit reached the journal are all seen at the next lock,
// and the files stay sound.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "maintenance_helpers.h"
#include "xbase/child_process.h"
#include "ztrec_helpers.h"

namespace {

constexpr uint32_t kType = 1001;  // the fixture's Town field

// A value long enough that a few dozen of them split the dictionary's and the rows' leaves.
std::string textFor(const char* who, int i) {
    return std::string(who) + std::to_string(i) + std::string(90, char('a' + i % 26));
}

// A new record with one value, through the handle's own record-ID counter: the record, 0 on
// failure.
uint32_t addRecord(ZTFile& file, const std::string& text) {
    const uint32_t record = file.newRecordID();
    return record != 0 && addValue(file, record, kType, 1, text) != 0 ? record : 0;
}

// True when the journal holds, where its applied mark says the next record goes, the record
// that follows the last one applied: committed, but not (or not known to be) written in place.
bool journalRecordPending(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    auto number = [&in](int64_t at) {
        unsigned char b[8] = {};
        in.seekg(at);
        in.read(reinterpret_cast<char*>(b), 8);
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
        return v;
    };
    const uint64_t applied = number(520);
    const int64_t end = int64_t(number(528));
    char magic[4] = {};
    in.seekg(end);
    in.read(magic, 4);
    return in && std::string(magic, 4) == "QVJR" && number(end + 8) == applied + 1;
}

std::map<uint32_t, std::string> recordTexts(const dbcheck::Report& report) {
    std::map<uint32_t, std::string> out;
    for (const dbcheck::StoredRow& r : report.rows)
        if (!r.deleted && r.b == kType && r.c == 1) out[r.a] = textOf(report, r.e);
    return out;
}

TEST(ZTFileView, HandlesTakingTurnsSeeEachOthersWritesAtTheirNextLock) {
    // Each handle's turns follow a turn of the other: a handle that trusted what it held from
    // its own last turn would hand out a record ID in use, miss the other's values, or write
    // its stale leaves back over the other's splits. Every few turns one packs.
    TempDir dir;
    const std::string base = writeDatabase(dir);
    ZTFile a(base.c_str()), b(base.c_str());
    ASSERT_EQ(a.open(3, false), 3u);
    ASSERT_EQ(b.open(3, false), 3u);
    std::map<uint32_t, std::string> made;
    std::vector<uint32_t> values;
    for (int turn = 0; turn < 120; ++turn) {
        SCOPED_TRACE("turn " + std::to_string(turn));
        ZTFile& writer = turn % 2 == 0 ? a : b;
        for (int k = 0; k < 3; ++k) {
            const std::string text = textFor(turn % 2 == 0 ? "a" : "b", turn * 3 + k);
            const uint32_t record = addRecord(writer, text);
            ASSERT_NE(record, 0u);
            ASSERT_EQ(made.count(record), 0u) << "record ID handed out twice";
            made[record] = text;
        }
        if (turn % 40 == 39) { ASSERT_TRUE(writer.pack()); }
    }
    for (ZTFile* file : {&a, &b}) {
        ZTReadBracket bracket(file);
        size_t seen = 0;
        for (const WalkedRow& row : typeWalk(*file, kType))
            if (made.count(row.record)) {
                EXPECT_EQ(chainText(*file, row.value), made[row.record]) << row.record;
                ++seen;
            }
        EXPECT_EQ(seen, made.size());
    }
    a.close();
    b.close();
    const dbcheck::Report report = dbcheck::checkDatabase(base);
    ASSERT_TRUE(report.sound()) << report.text();
    const auto stored = recordTexts(report);
    for (const auto& [record, text] : made)
        EXPECT_EQ(stored.count(record) ? stored.at(record) : "", text);
}

TEST(ZTFileView, AWriterKilledAtAnyWriteOfItsCommitIsSeenByAHandleThatKeptItsView) {
    // The kept handle wrote last, so it holds a view it may trust; then a process commits a
    // value and is ended at its nth write. Ended once its journal record is whole but before
    // any in-place write, it leaves the sequence where the kept handle saw it: the journal
    // still decides, and the kept handle's next commit goes after the replayed one.
    constexpr uint32_t kChild = 5000;
    bool finished = false, sawPending = false;
    for (int nth = 1; !finished && nth < 200; ++nth) {
        SCOPED_TRACE("write " + std::to_string(nth));
        TempDir dir;
        const std::string base = writeDatabase(dir);
        ZTFile kept(base.c_str());
        ASSERT_EQ(kept.open(3, false), 3u);
        const uint32_t first = addRecord(kept, textFor("k", 0));
        ASSERT_NE(first, 0u);
        const int code = runChildEndingAtWrite(nth, false, [&] {
            ZTFile file(base.c_str());
            if (file.open(3, false) != 3) return 2;
            if (addValue(file, kChild, kType, 1, textFor("c", 1)) == 0) return 3;
            _exit(5);  // no close: no checkpoint
        });
        ASSERT_TRUE(code == file4exitCode || code == 5) << code;
        finished = code == 5;
        // A whole record past the applied mark is a commit, however far its writer got.
        const bool pending = journalRecordPending(base + ".ZTJ");
        sawPending = sawPending || pending;
        const uint32_t last = addRecord(kept, textFor("k", 2));
        ASSERT_NE(last, 0u);
        kept.close();
        const dbcheck::Report report = dbcheck::checkDatabase(base);
        ASSERT_TRUE(report.sound()) << report.text();
        const auto stored = recordTexts(report);
        EXPECT_EQ(stored.at(first), textFor("k", 0));
        EXPECT_EQ(stored.at(last), textFor("k", 2));
        if (finished || pending) { EXPECT_EQ(stored.count(kChild), 1u) << "a commit was lost"; }
        if (stored.count(kChild)) { EXPECT_EQ(stored.at(kChild), textFor("c", 1)); }
        for (uint32_t r = 1003; r < 1009; ++r) EXPECT_EQ(stored.at(r), "Town " + std::to_string(r));
    }
    EXPECT_TRUE(finished);
    EXPECT_TRUE(sawPending);
}

}  // namespace
