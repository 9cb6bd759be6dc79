// Writing records: keys kept in step, refusals and failing disks undone in
// full, appends at the end of the file, write-back at unlock and close, pack,
// flush, refresh and rebuild.
#include "xbase/table4write.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "people_table.h"
#include "xbase/lock4.h"
#include "xbase/tag4.h"

namespace {

using Entries = std::vector<std::string>;

struct Snapshot {
    std::string data;
    Entries name, amount, code;
    bool operator==(const Snapshot&) const = default;
};

class Writing : public PeopleTest {
  protected:
    // Ann, Bob and Cy with codes A1, B2, C3.
    table4* threePeople(int8_t accessMode = 1, bool v30 = false) {
        table4* t = create("people", accessMode, v30);
        if (t == nullptr) return nullptr;
        for (const Person& p : {Person{"Ann", 1.5, "A1", "x"}, Person{"Bob", 20, "B2", "y"},
                                Person{"Cy", -3, "C3", "z"}})
            EXPECT_EQ(appendPerson(t, p), 0);
        EXPECT_EQ(table4flush(t), 0);
        return t;
    }
    // The data file's bytes and every tag as they stand on disk; the index is
    // written back first (which writes nothing to the data file).
    Snapshot snapshot(table4* t) {
        Snapshot s;
        s.data = readWhole(t->dataFile->file.name);
        auto* index = static_cast<index4*>(list4first(&t->indexes));
        EXPECT_EQ(index4update(index->indexFile), 0);
        const index4checkReport report = checkIndex(index->indexFile->file.name);
        EXPECT_EQ(problemsOf(report), "");
        s.name = tagEntries(report, "NAME");
        s.amount = tagEntries(report, "AMOUNT");
        s.code = tagEntries(report, "CODE");
        return s;
    }
    int32_t headerCount(table4* t) {
        const std::string bytes = readWhole(t->dataFile->file.name);
        int32_t n;
        std::memcpy(&n, bytes.data() + 4, 4);
        return n;
    }
};

TEST_F(Writing, AppendsEndTheFileAsItsVersionWants) {
    for (bool v30 : {false, true}) {
        for (int8_t mode : {int8_t(0), int8_t(1)}) {
            SCOPED_TRACE(std::string(v30 ? "0x30" : "0x03") + (mode ? " exclusive" : " shared"));
            const std::string name = std::string("t") + (v30 ? "30" : "03") + char('0' + mode);
            table4* t = create(name.c_str(), mode, v30);
            ASSERT_NE(t, nullptr);
            for (int i = 0; i < 3; ++i) {
                ASSERT_EQ(appendPerson(
                              t, {"P" + std::to_string(i), double(i), "C" + std::to_string(i), ""}),
                          0);
                EXPECT_EQ(t->recNum, i + 1);
                EXPECT_EQ(table4recordCount(t), i + 1);
            }
            table4file* d = t->dataFile;
            const std::string bytes = readWhole(d->file.name);
            ASSERT_EQ(bytes.size(), size_t(d->headerLen + 3 * d->recordLen + (v30 ? 0 : 1)));
            if (!v30) {
                EXPECT_EQ(bytes.back(), '\x1A');
            }
            // Shared: the count is in the header at once; exclusive: at flush.
            EXPECT_EQ(headerCount(t), mode == 0 ? 3 : 0);
            ASSERT_EQ(table4flush(t), 0);
            EXPECT_EQ(headerCount(t), 3);
            EXPECT_EQ(table4close(t), 0);
        }
    }
}

TEST_F(Writing, ChangedRecordsKeepEveryTagInStep) {
    table4* t = threePeople();
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(table4go(t, 2), 0);
    putPerson(t, {"Abe", 7.25, "Z9", "y"});
    ASSERT_EQ(table4go(t, 1), 0);  // written back on the way
    ASSERT_EQ(table4go(t, 3), 0);
    ASSERT_EQ(field4assign(table4fieldByName(t, "NOTE"), "only"), 0);  // no key changes
    ASSERT_EQ(table4write(t, -1, 0), 0);
    EXPECT_EQ(t->recordChanged, 0);
    const Snapshot s = snapshot(t);
    EXPECT_EQ(s.name, (Entries{"ABE|2", "ANN|1", "CY|3"}));
    EXPECT_EQ(s.amount, (Entries{"-3.00|3", "1.50|1", "7.25|2"}));
    EXPECT_EQ(s.code, (Entries{"A1|1", "C3|3", "Z9|2"}));
    ASSERT_EQ(table4go(t, 2), 0);
    EXPECT_EQ(personOf(t), (Person{"Abe", 7.25, "Z9", "y"}));
    ASSERT_EQ(table4go(t, 3), 0);
    EXPECT_EQ(personOf(t).note, "only");
}

TEST_F(Writing, RefusedKeysLeaveTagsDataAndBufferAsTheyWere) {
    for (int16_t code : {tag4uniqueRefuse, tag4uniqueError}) {
        SCOPED_TRACE(code);
        table4* t = threePeople();
        ASSERT_NE(t, nullptr);
        table4findTag(t, "CODE")->errUnique = code;
        const Snapshot before = snapshot(t);
        const int32_t expected = code == tag4uniqueRefuse ? r4unique : e4unique;

        // A write whose NAME and AMOUNT keys change first, then CODE is refused.
        ASSERT_EQ(table4go(t, 2), 0);
        putPerson(t, {"Zoe", 99, "A1", "new"});
        EXPECT_EQ(table4write(t, -1, 0), expected);
        EXPECT_EQ(clearError(), code == tag4uniqueRefuse ? 0 : e4unique);
        EXPECT_EQ(personOf(t), (Person{"Bob", 20, "B2", "y"}));
        EXPECT_EQ(t->recordChanged, 0);
        EXPECT_EQ(snapshot(t), before);

        // An append refused: nothing written, no record current, the buffer kept.
        EXPECT_EQ(appendPerson(t, {"Dan", 4, "C3", ""}), expected);
        EXPECT_EQ(clearError(), code == tag4uniqueRefuse ? 0 : e4unique);
        EXPECT_EQ(t->recNum, 0);
        EXPECT_EQ(table4recordCount(t), 3);
        EXPECT_EQ(personOf(t).name, "Dan");
        EXPECT_EQ(snapshot(t), before);
        // Put right, the same buffer appends.
        ASSERT_EQ(field4assign(table4fieldByName(t, "CODE"), "D4"), 0);
        EXPECT_EQ(table4append(t), 0);
        EXPECT_EQ(t->recNum, 4);
        EXPECT_EQ(table4close(t), 0);
        for (const std::string& name : dir.entries()) unlink(dir.file(name).c_str());
    }
}

// A changed buffer that -340 refused (written as another record here) is not
// written back by the close that follows.
TEST_F(Writing, CloseAfterARefusalWritesNothing) {
    table4* t = threePeople();
    ASSERT_NE(t, nullptr);
    table4findTag(t, "CODE")->errUnique = tag4uniqueError;
    const std::string before = readWhole(t->dataFile->file.name);
    ASSERT_EQ(table4go(t, 1), 0);
    putPerson(t, {"Ann", 1.5, "C3", "x"});
    ASSERT_EQ(table4write(t, 2, 0), e4unique);
    EXPECT_EQ(t->recordChanged, 1);
    EXPECT_EQ(table4close(t), e4unique);
    EXPECT_EQ(clearError(), e4unique);
    EXPECT_EQ(readWhole(dir.file("people.dbf")), before);
}

struct Failure {
    const char* what;
    int8_t accessMode;
    int8_t kind;  // of the file whose write fails
    int32_t nth;
    bool append;
};

// A disk that fails in the middle of a write (half the bytes land) leaves every
// tag and the data file as they were.
TEST_F(Writing, FailingDiskWritesAreUndoneInFull) {
    const Failure cases[] = {
        {"write, exclusive", 1, file4kindData, 1, false},
        {"write, shared", 0, file4kindData, 1, false},
        {"append record, exclusive", 1, file4kindData, 1, true},
        {"append record, shared", 0, file4kindData, 1, true},
        {"append header, shared", 0, file4kindData, 2, true},
        {"append index node, shared", 0, file4kindIndex, 1, true},
    };
    for (const Failure& c : cases) {
        SCOPED_TRACE(c.what);
        table4* t = threePeople(c.accessMode);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(table4unlock(t), 0);
        const Snapshot before = snapshot(t);
        int32_t rc = 0;
        file4failWrite(c.kind, c.nth);
        if (c.append) {
            rc = appendPerson(t, {"Dan", 4, "D4", "new"});
        } else {
            ASSERT_EQ(table4go(t, 2), 0);
            putPerson(t, {"Bea", 8, "E5", "new"});
            rc = table4write(t, -1, 0);
        }
        file4failWrite(0, 0);
        EXPECT_EQ(rc, e4write);
        EXPECT_EQ(clearError(), e4write);
        EXPECT_EQ(table4recordCount(t), 3);
        if (c.kind == file4kindData) {
            EXPECT_EQ(readWhole(t->dataFile->file.name), before.data);
        }
        const Snapshot after = snapshot(t);
        EXPECT_EQ(after.name, before.name);
        EXPECT_EQ(after.amount, before.amount);
        EXPECT_EQ(after.code, before.code);
        // What failed can be done again: an append anew, a write from the buffer
        // that still holds the change.
        if (c.append) {
            EXPECT_EQ(appendPerson(t, {"Dan", 4, "D4", "new"}), 0);
            EXPECT_EQ(t->recNum, 4);
        } else {
            EXPECT_EQ(t->recordChanged, 1);
            EXPECT_EQ(table4write(t, -1, 1), 0);
            EXPECT_EQ(snapshot(t).code, (Entries{"A1|1", "C3|3", "E5|2"}));
        }
        EXPECT_EQ(table4close(t), 0);
        for (const std::string& name : dir.entries()) unlink(dir.file(name).c_str());
    }
}

TEST_F(Writing, WriteBackAtUnlockAndClose) {
    table4* t = threePeople(0);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(table4unlock(t), 0);
    // Unlock writes the changed record back before the lock goes.
    ASSERT_EQ(table4lockRecord(t, 2), 0);
    ASSERT_EQ(table4go(t, 2), 0);
    putPerson(t, {"Bob", 21, "B2", "unlock"});
    ASSERT_EQ(table4unlock(t), 0);
    EXPECT_EQ(table4isRecordLocked(t, 2), 0);
    // Close writes back a record changed without any lock held.
    ASSERT_EQ(table4go(t, 3), 0);
    putPerson(t, {"Cyd", -3, "C3", "close"});
    ASSERT_EQ(table4close(t), 0);
    t = open("people", 1);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(table4go(t, 2), 0);
    EXPECT_EQ(personOf(t).note, "unlock");
    ASSERT_EQ(table4go(t, 3), 0);
    EXPECT_EQ(personOf(t).note, "close");
    EXPECT_EQ(snapshot(t).name, (Entries{"ANN|1", "BOB|2", "CYD|3"}));
}

// Index blocks held back by write-behind reach the disk as the file closes; a disk that
// fails then fails the close, which must not report success.
TEST_F(Writing, AFailingWriteBackAtCloseFailsTheClose) {
    env.bufferMemory = 256 * 1024;
    ASSERT_EQ(buffer4start(&env), 0);
    table4* t = threePeople();
    ASSERT_NE(t, nullptr);
    const tag4def tags[] = {{"NOTE", "NOTE", nullptr, 0, 0}, {nullptr, nullptr, nullptr, 0, 0}};
    index4* notes = index4create(t, dir.file("notes").c_str(), tags);
    ASSERT_NE(notes, nullptr);
    ASSERT_TRUE(notes->indexFile->file.writeBehind);
    EXPECT_EQ(appendPerson(t, {"Dan", 4, "D4", "held"}), 0);
    file4failWrite(file4kindIndex, 1);
    EXPECT_EQ(index4close(notes), e4write);
    file4failWrite(0, 0);
    EXPECT_EQ(clearError(), e4write);
    EXPECT_EQ(table4close(t), 0);
}

// Closing an index file writes the table's changed record back first, so that the keys
// of the closing file follow the change too.
TEST_F(Writing, ClosingAnIndexWritesTheChangedRecordWithItsKeys) {
    table4* t = threePeople();
    ASSERT_NE(t, nullptr);
    const tag4def tags[] = {{"NOTE", "NOTE", nullptr, 0, 0}, {nullptr, nullptr, nullptr, 0, 0}};
    index4* notes = index4create(t, dir.file("notes").c_str(), tags);
    ASSERT_NE(notes, nullptr);
    ASSERT_EQ(table4go(t, 2), 0);
    ASSERT_EQ(field4assign(table4fieldByName(t, "NOTE"), "changed"), 0);
    EXPECT_EQ(index4close(notes), 0);
    EXPECT_EQ(t->recordChanged, 0);
    const index4checkReport report = checkIndex(dir.file("notes.cdx"));
    EXPECT_EQ(problemsOf(report), "");
    EXPECT_EQ(tagEntries(report, "NOTE"), (Entries{"changed|2", "x|1", "z|3"}));
    ASSERT_EQ(table4go(t, 2), 0);
    EXPECT_EQ(personOf(t).note, "changed");
}

TEST_F(Writing, WhereWritesAreRefused) {
    table4* t = threePeople();
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(table4goEof(t), 3);
    EXPECT_EQ(table4write(t, -1, 0), e4write);
    clearError();
    EXPECT_EQ(table4write(t, 5, 0), e4write);  // beyond the count (+1 for the holder)
    clearError();
    // A record loaded at bof is current and may be written.
    ASSERT_EQ(table4go(t, 1), 0);
    ASSERT_EQ(table4skip(t, -1), r4bof);
    putPerson(t, {"Ana", 1.5, "A1", "bof"});
    EXPECT_EQ(table4write(t, -1, 0), 0);
    // Skip needs a current record.
    ASSERT_EQ(table4beginAppend(t, 0), 0);
    EXPECT_EQ(t->recNum, 0);
    EXPECT_EQ(personOf(t).note, "bof");  // the buffer is kept for the caller
    EXPECT_EQ(table4skip(t, 1), e4info);
    clearError();
    ASSERT_EQ(table4close(t), 0);
    env.readOnly = 1;
    t = open("people", 0);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(table4go(t, 1), 0);
    EXPECT_EQ(personOf(t).note, "bof");
    EXPECT_EQ(table4write(t, -1, 0), e4write);
    clearError();
    EXPECT_EQ(table4append(t), e4write);
    clearError();
    EXPECT_EQ(table4pack(t), e4write);
    clearError();
    EXPECT_EQ(table4reindex(t), e4write);
    clearError();
}

// Record lock bytes of the low scheme must stay below the append byte: an
// append that would pass about 1 GiB of data is refused before it writes.
TEST_F(Writing, AppendPastTheLockLimitIsRefused) {
    const field4def wide[] = {{"TEXT", 'C', 999, 0, 0}, {nullptr, 0, 0, 0, 0}};
    env.accessMode = 1;
    table4* t = table4create(&env, dir.file("wide").c_str(), wide, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(table4close(t), 0);
    // A header count at the limit: the next record's lock byte would pass it.
    std::string bytes = readWhole(dir.file("wide.dbf"));
    const int32_t full = 1073742;
    std::memcpy(bytes.data() + 4, &full, 4);
    writeWhole(dir.file("wide.dbf"), bytes);
    env.accessMode = 0;
    t = table4open(&env, dir.file("wide").c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(table4append(t), e4tableFull);
    EXPECT_EQ(clearError(), e4tableFull);
    EXPECT_EQ(readWhole(dir.file("wide.dbf")), bytes);
}

TEST_F(Writing, PackKeepsLiveRecordsInOrderAndRebuildsTheTags) {
    table4* t = create();
    ASSERT_NE(t, nullptr);
    const int n = 10000;
    for (int i = 1; i <= n; ++i)
        ASSERT_EQ(appendPerson(t, {"P" + std::to_string(i), double(i % 97), std::to_string(i), ""}),
                  0);
    for (int i = 3; i <= n; i += 3) {
        ASSERT_EQ(table4go(t, i), 0);
        table4recordBuffer(t)[0] = '*';
        ASSERT_EQ(table4write(t, -1, 0), 0);
    }
    // Another program's byte for a live record is kept too.
    ASSERT_EQ(table4go(t, 1), 0);
    table4recordBuffer(t)[0] = '!';
    ASSERT_EQ(table4write(t, -1, 0), 0);
    ASSERT_EQ(table4pack(t), 0);
    const int kept = n - n / 3;
    EXPECT_EQ(table4recordCount(t), kept);
    EXPECT_EQ(t->recNum, -1);
    table4file* d = t->dataFile;
    EXPECT_EQ(readWhole(d->file.name).size(), size_t(d->headerLen + kept * d->recordLen + 1));
    EXPECT_EQ(headerCount(t), kept);
    int32_t at = 0;
    for (int i = 1; i <= n; ++i) {
        if (i % 3 == 0) continue;
        ASSERT_EQ(table4go(t, ++at), 0);
        ASSERT_EQ(personOf(t).code, std::to_string(i)) << "record " << at;
    }
    const Snapshot s = snapshot(t);
    ASSERT_EQ(s.code.size(), size_t(kept));
    ASSERT_EQ(s.name.size(), size_t(kept));
    // Every key points at the record now holding it.
    table4selectTag(t, table4findTag(t, "CODE"));
    for (const std::string& entry : s.code) {
        const std::string code = entry.substr(0, entry.find('|'));
        ASSERT_EQ(table4seek(t, code.c_str()), 0);
        EXPECT_EQ(std::to_string(t->recNum), entry.substr(entry.find('|') + 1));
        EXPECT_EQ(personOf(t).code, code);
    }
}

TEST_F(Writing, PackOfNothingLeftEndsTheFileAsAnAppendWould) {
    for (bool v30 : {false, true}) {
        SCOPED_TRACE(v30 ? "0x30" : "0x03");
        table4* t = threePeople(1, v30);
        ASSERT_NE(t, nullptr);
        for (int i = 1; i <= 3; ++i) {
            ASSERT_EQ(table4go(t, i), 0);
            table4recordBuffer(t)[0] = '*';
            ASSERT_EQ(table4write(t, -1, 0), 0);
        }
        ASSERT_EQ(table4pack(t), 0);
        EXPECT_EQ(t->bof, 1);
        EXPECT_EQ(t->eof, 1);
        const std::string bytes = readWhole(t->dataFile->file.name);
        EXPECT_EQ(bytes.size(), size_t(t->dataFile->headerLen + (v30 ? 0 : 1)));
        if (!v30) {
            EXPECT_EQ(bytes.back(), '\x1A');
        }
        EXPECT_EQ(snapshot(t).name, Entries{});
        EXPECT_EQ(table4goTop(t), 3);
        EXPECT_EQ(table4close(t), 0);
        for (const std::string& name : dir.entries()) unlink(dir.file(name).c_str());
    }
}

TEST_F(Writing, RefreshAndReindexAfterAnotherWriter) {
    table4* t = threePeople(0);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(table4unlock(t), 0);
    // A second environment (as another process would) changes record 1's key.
    env4 other;
    ASSERT_EQ(env4init(&other, env4version), 0);
    table4* u = table4open(&other, dir.file("people").c_str());
    ASSERT_NE(u, nullptr);
    ASSERT_EQ(table4go(u, 1), 0);
    putPerson(u, {"Zed", 1.5, "A1", "x"});
    ASSERT_EQ(table4write(u, -1, 1), 0);
    ASSERT_EQ(table4close(u), 0);
    (void)env4release(&other);
    EXPECT_EQ(table4refresh(t), 0);
    table4selectTag(t, table4findTag(t, "NAME"));
    ASSERT_EQ(table4goBottom(t), 0);
    EXPECT_EQ(personOf(t).name, "Zed");
    // A rebuild gives the same tags.
    const Snapshot before = snapshot(t);
    ASSERT_EQ(table4reindex(t), 0);
    EXPECT_EQ(t->recNum, -1);
    ASSERT_EQ(table4unlock(t), 0);
    EXPECT_EQ(snapshot(t), before);
}

}  // namespace
