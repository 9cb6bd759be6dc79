// Locks inside one process: the bytes they take, the bookkeeping between the
// handles of one environment, environments that share a file, the automatic
// releases, the record write-back and index-file locks that unlocking and
// locking take along, and files that need none.
#include "xbase/table/lock4.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "error_capture.h"
#include "lock_helpers.h"
#include "platform/ofd_lock.h"
#include "temp_dir.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/list4.h"
#include "xbase/core/mem4.h"
#include "xbase/record/field4.h"
#include "xbase/record/table4access.h"
#include "xbase/table/env4release.h"
#include "xbase/table/index4.h"
#include "xbase/table/table4.h"
#include "xbase/table/table4nav.h"
#include "xbase/table/table4write.h"

namespace {

using Ranges = std::vector<LockRange>;

class Lock4 : public LockTest {
  protected:
    void SetUp() override {
        LockTest::SetUp();
        env.singleOpen = 0;
    }
    table4* open(const std::string& path) {
        table4* t = table4open(&env, path.c_str());
        EXPECT_NE(t, nullptr);
        return t;
    }
    int32_t clearError() { return error4setCode(&env, 0); }

    ErrorCapture errors;
};

// ---- where the locks lie ---------------------------------------------------

enum class Take { record1, record3, append, file };

struct OffsetCase {
    const char* what;
    bool v30;
    uint8_t flags;
    Take take;
    LockRange expected;
};

const OffsetCase kOffsets[] = {
    {"plain, record 1", false, 0, Take::record1, {0x40000061, 0x40000061}},
    {"plain, record 3", false, 0, Take::record3, {0x40000061 + 40, 0x40000061 + 40}},
    {"plain, append", false, 0, Take::append, {0x7FFFFFFE, 0x7FFFFFFE}},
    {"plain, file", false, 0, Take::file, {0x40000000, 0x7FFFFFFE}},
    {"0x30, record 1", true, 0, Take::record1, {0x7FFFFFFD, 0x7FFFFFFD}},
    {"0x30, record 3", true, 0, Take::record3, {0x7FFFFFFB, 0x7FFFFFFB}},
    {"0x30, append", true, 0, Take::append, {0x7FFFFFFE, 0x7FFFFFFE}},
    {"0x30, file", true, 0, Take::file, {0x40000000, 0x7FFFFFFE}},
    {"flag bit 0, record 1", false, 0x01, Take::record1, {0x7FFFFFFD, 0x7FFFFFFD}},
    // Other flag bits keep the low scheme, for locking and releasing alike.
    {"flag bit 1, record 1", false, 0x02, Take::record1, {0x40000061, 0x40000061}},
    {"flags 0xFE, record 3", false, 0xFE, Take::record3, {0x40000061 + 40, 0x40000061 + 40}},
};

int32_t take(table4* t, Take what) {
    switch (what) {
        case Take::record1:
            return table4lockRecord(t, 1);
        case Take::record3:
            return table4lockRecord(t, 3);
        case Take::append:
            return table4lockAppend(t);
        case Take::file:
            return table4lockFile(t);
    }
    return -1;
}

TEST_F(Lock4, EachLockTakesTheBytesOfItsScheme) {
    for (const OffsetCase& c : kOffsets) {
        SCOPED_TRACE(c.what);
        std::string path = makeLockTable(dir, "offsets.dbf", c.v30, c.flags);
        table4* t = open(path);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(take(t, c.take), 0);
        EXPECT_EQ(systemLocks(path), Ranges{c.expected});
        EXPECT_EQ(table4unlock(t), 0);
        EXPECT_EQ(systemLocks(path), Ranges{});
        (void)table4close(t);
        unlink(path.c_str());
    }
}

TEST_F(Lock4, RecordsPastTheAppendByteCannotBeLocked) {
    std::string plain = makeLockTable(dir, "plain.dbf", false);
    std::string v30 = makeLockTable(dir, "v30.dbf", true);
    table4* p = open(plain);
    table4* h = open(v30);
    ASSERT_TRUE(p != nullptr && h != nullptr);
    // Plain: 0x40000000 + 97 + (n - 1) x 20 must stay below 0x7FFFFFFE.
    const int32_t lastPlain = 53687087;
    EXPECT_EQ(lock4recordPosition(p->dataFile, lastPlain), 0x7FFFFFF9);
    EXPECT_EQ(lock4recordPosition(p->dataFile, lastPlain + 1), -1);
    EXPECT_EQ(lock4recordPosition(h->dataFile, lock4highMaxRecord), 0x40000000);
    EXPECT_EQ(lock4recordPosition(h->dataFile, lock4highMaxRecord + 1), -1);

    struct Refused {
        table4* t;
        int32_t n;
    };
    for (Refused r : {Refused{p, lastPlain + 1}, Refused{p, INT32_MAX},
                      Refused{h, lock4highMaxRecord + 1}, Refused{h, INT32_MAX}}) {
        EXPECT_EQ(table4lockRecord(r.t, r.n), e4tableFull) << r.n;
        EXPECT_EQ(clearError(), e4tableFull);
    }
    // The last lockable record and the append byte are two separate locks of
    // one description: they must not merge into one range.
    env.unlockAuto = 0;
    ASSERT_EQ(table4lockRecord(p, lastPlain), 0);
    ASSERT_EQ(table4lockAppend(p), 0);
    EXPECT_EQ(systemLocks(plain), (Ranges{{0x7FFFFFF9, 0x7FFFFFF9}, {0x7FFFFFFE, 0x7FFFFFFE}}));
    EXPECT_EQ(table4unlock(p), 0);
    EXPECT_EQ(systemLocks(plain), Ranges{});
}

TEST_F(Lock4, BadArgumentsAndPendingErrors) {
    std::string path = makeLockTable(dir, "args.dbf", false);
    table4* t = open(path);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(table4lockRecord(t, 0), e4parm);
    EXPECT_EQ(clearError(), e4parm);
    EXPECT_EQ(table4lockRecord(t, -4), e4parm);
    EXPECT_EQ(clearError(), e4parm);
    EXPECT_EQ(table4lockRecord(nullptr, 1), e4parmNull);
    EXPECT_EQ(file4lock(&t->dataFile->file, -1, 1), e4parm);
    EXPECT_EQ(clearError(), e4parm);
    EXPECT_EQ(file4lock(&t->dataFile->file, 5, -1), e4parm);
    EXPECT_EQ(clearError(), e4parm);
    EXPECT_EQ(file4lock(&t->dataFile->file, 5, 0), 0);
    EXPECT_EQ(systemLocks(path), Ranges{});

    ASSERT_EQ(table4lockRecord(t, 2), 0);
    error4raise(&env, e4write, 80606);
    EXPECT_EQ(table4lockRecord(t, 3), e4codeBase);
    EXPECT_EQ(table4lockFile(t), e4codeBase);
    EXPECT_EQ(table4unlock(t), e4codeBase);
    EXPECT_EQ(env.errorCode, e4write);
    EXPECT_EQ(systemLocks(path), (Ranges{{0x40000061 + 20, 0x40000061 + 20}}));
    EXPECT_EQ(clearError(), e4write);
    EXPECT_EQ(table4unlock(t), 0);
    EXPECT_EQ(systemLocks(path), Ranges{});
}

// ---- handles of one environment ------------------------------------------

TEST_F(Lock4, HandlesOfOneEnvironmentRefuseEachOtherWithoutTheSystem) {
    std::string path = makeLockTable(dir, "two.dbf", false);
    table4* a = open(path);
    table4* b = open(path);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    ASSERT_EQ(a->dataFile, b->dataFile);
    env.lockDelay = 100;
    ASSERT_EQ(table4lockRecord(a, 7), 0);
    ASSERT_EQ(table4lockRecord(a, 7), 0);  // held already
    // Both handles lock through one description, which would grant B the
    // byte: the refusal comes from the bookkeeping, at once, with no wait.
    for (int32_t attempts : {1, 0, 3}) {
        env.lockAttempts = attempts;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(table4lockRecord(b, 7), r4locked) << attempts;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    }
    EXPECT_EQ(env.lockHolderOwner, a->lockOwner);
    EXPECT_STREQ(env.lockHolderAlias, "TWO");
    env.lockAttempts = -1;  // waiting for ourselves would never end
    EXPECT_EQ(table4lockRecord(b, 7), e4lock);
    EXPECT_EQ(clearError(), e4lock);
    EXPECT_EQ(table4isRecordLocked(a, 7), 1);
    EXPECT_EQ(table4isRecordLocked(b, 7), 0);

    // The file lock is refused while any handle holds a record or the append
    // lock (the ranges would merge), and excludes the other handle's locks.
    env.lockAttempts = 1;
    env.unlockAuto = 0;
    EXPECT_EQ(table4lockFile(b), r4locked);
    EXPECT_EQ(table4lockFile(a), r4locked);  // A's own record lock stands in the way
    ASSERT_EQ(table4unlock(a), 0);
    ASSERT_EQ(table4lockAppend(b), 0);
    EXPECT_EQ(table4lockAppend(a), r4locked);
    EXPECT_EQ(table4lockFile(a), r4locked);
    ASSERT_EQ(table4unlock(b), 0);
    ASSERT_EQ(table4lockFile(a), 0);
    EXPECT_EQ(table4lockRecord(a, 9), 0);  // covered by its file lock
    EXPECT_EQ(table4isRecordLocked(a, 12345), 1);
    EXPECT_EQ(table4lockRecord(b, 9), r4locked);
    EXPECT_EQ(table4lockAppend(b), r4locked);
    EXPECT_EQ(table4lockFile(b), r4locked);
    EXPECT_EQ(systemLocks(path), (Ranges{{0x40000000, 0x7FFFFFFE}}));
    EXPECT_EQ(table4unlock(a), 0);
    EXPECT_EQ(systemLocks(path), Ranges{});
}

TEST_F(Lock4, RecordEntriesStayInRecordOrder) {
    std::string path = makeLockTable(dir, "order.dbf", false);
    table4* a = open(path);
    table4* b = open(path);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    env.unlockAuto = 0;
    for (int32_t n : {5, 2, 9, 1}) ASSERT_EQ(table4lockRecord(a, n), 0);
    for (int32_t n : {7, 3}) ASSERT_EQ(table4lockRecord(b, n), 0);
    std::vector<int32_t> order;
    const list4* entries = &a->dataFile->recordLocks;
    for (auto* e = static_cast<lock4*>(list4first(entries)); e != nullptr;
         e = static_cast<lock4*>(list4next(entries, e)))
        order.push_back(e->recNo * (e->holder == a ? 1 : -1));
    EXPECT_EQ(order, (std::vector<int32_t>{1, 2, -3, 5, -7, 9}));
    EXPECT_EQ(systemLocks(path).size(), 6u);
    // Closing one handle releases its locks and only its own.
    EXPECT_EQ(table4close(a), 0);
    EXPECT_EQ(entries->nLink, 2);
    EXPECT_EQ(systemLocks(path),
              (Ranges{{0x40000061 + 40, 0x40000061 + 40}, {0x40000061 + 120, 0x40000061 + 120}}));
    EXPECT_EQ(table4isRecordLocked(b, 7), 1);
}

// Record lock entries come from a pool, which the allocation table of plain blocks
// never limits: a shared table holds as many record locks as its records need. (The
// high scheme's lock bytes lie side by side, so the system shows them as one range
// and the other tests reading the system's lock list are not slowed down.)
TEST_F(Lock4, ASharedTableHoldsMoreRecordLocksThanTheAllocationTableHasEntries) {
    std::string path = makeLockTable(dir, "many.dbf", true);
    table4* t = open(path);
    ASSERT_NE(t, nullptr);
    env.unlockAuto = 0;
    const int32_t count = mem4tableMax + 2000;
    for (int32_t n = 1; n <= count; ++n) ASSERT_EQ(table4lockRecord(t, n), 0) << n;
    EXPECT_EQ(t->dataFile->recordLocks.nLink, count);
    EXPECT_EQ(systemLocks(path), (Ranges{{lock4appendByte - count, lock4appendByte - 1}}));
    EXPECT_EQ(table4unlock(t), 0);
    EXPECT_EQ(t->dataFile->recordLocks.nLink, 0);
    EXPECT_EQ(systemLocks(path), Ranges{});
}

// ---- environments of one process -----------------------------------------

TEST_F(Lock4, EnvironmentsOfOneProcessExcludeEachOther) {
    std::string path = makeLockTable(dir, "envs.dbf", true);
    env4 other, third;
    ASSERT_EQ(env4init(&other, env4version), 0);
    ASSERT_EQ(env4init(&third, env4version), 0);
    for (env4* e : {&env, &other}) {
        e->lockAttempts = 1;
        e->unlockAuto = 0;  // keep every lock until asked
    }
    table4* mine = open(path);
    table4* theirs = table4open(&other, path.c_str());
    ASSERT_TRUE(mine != nullptr && theirs != nullptr);
    ASSERT_EQ(table4lockRecord(mine, 3), 0);
    ASSERT_EQ(table4lockAppend(mine), 0);
    EXPECT_EQ(table4lockRecord(theirs, 3), r4locked);
    EXPECT_EQ(other.lockHolderOwner, 0);  // somebody outside this environment
    EXPECT_EQ(table4lockAppend(theirs), r4locked);
    EXPECT_EQ(table4lockFile(theirs), r4locked);
    EXPECT_EQ(table4lockRecord(theirs, 6), 0);
    EXPECT_EQ(table4lockRecord(mine, 6), r4locked);

    // A third environment opens the file and closes it again: the locks of
    // the others belong to their own descriptions and stay.
    table4* passer = table4open(&third, path.c_str());
    ASSERT_NE(passer, nullptr);
    EXPECT_EQ(table4close(passer), 0);
    EXPECT_EQ(env4release(&third), 0);
    EXPECT_EQ(table4lockRecord(theirs, 3), r4locked);
    EXPECT_EQ(table4lockRecord(mine, 6), r4locked);
    EXPECT_EQ(
        systemLocks(path),
        (Ranges{{0x7FFFFFF8, 0x7FFFFFF8}, {0x7FFFFFFB, 0x7FFFFFFB}, {0x7FFFFFFE, 0x7FFFFFFE}}));

    // Closing one environment's table releases its locks only.
    EXPECT_EQ(table4close(mine), 0);
    EXPECT_EQ(table4lockRecord(theirs, 3), 0);
    EXPECT_EQ(table4isRecordLocked(theirs, 6), 1);
    EXPECT_EQ(systemLocks(path), (Ranges{{0x7FFFFFF8, 0x7FFFFFF8}, {0x7FFFFFFB, 0x7FFFFFFB}}));
    EXPECT_EQ(env4release(&other), 0);
    EXPECT_EQ(systemLocks(path), Ranges{});
}

// ---- automatic release ------------------------------------------------------

// Handles A and B share one table, C has another. Before the step A holds
// record 3 and the append lock, B record 4, C record 1.
struct AutoCase {
    int32_t unlockAuto;
    int32_t recordResult;  // A asks for record 5
    bool a3, aAppend, b4, c1;
    int32_t fileResult;  // A then asks for the file lock
};

const AutoCase kAuto[] = {
    {0, 0, true, true, true, true, r4locked},
    {1, 0, false, false, false, false, 0},
    {2, 0, false, false, true, true, r4locked},
};

TEST_F(Lock4, UnlockAutoDecidesWhatGoesBeforeANewLock) {
    std::string one = makeLockTable(dir, "one.dbf", false);
    std::string two = makeLockTable(dir, "two.dbf", false);
    for (const AutoCase& c : kAuto) {
        SCOPED_TRACE("unlockAuto " + std::to_string(c.unlockAuto));
        table4* a = open(one);
        table4* b = open(one);
        table4* other = open(two);
        ASSERT_TRUE(a != nullptr && b != nullptr && other != nullptr);
        env.unlockAuto = 0;
        env.lockAttempts = 1;
        ASSERT_EQ(table4lockRecord(a, 3), 0);
        ASSERT_EQ(table4lockAppend(a), 0);
        ASSERT_EQ(table4lockRecord(b, 4), 0);
        ASSERT_EQ(table4lockRecord(other, 1), 0);

        env.unlockAuto = c.unlockAuto;
        EXPECT_EQ(table4lockRecord(a, 5), c.recordResult);
        EXPECT_EQ(table4isRecordLocked(a, 5), 1);
        EXPECT_EQ(table4isRecordLocked(a, 3), c.a3);
        EXPECT_EQ(a->dataFile->appendLockOwner == a->lockOwner, c.aAppend);
        EXPECT_EQ(table4isRecordLocked(b, 4), c.b4);
        EXPECT_EQ(table4isRecordLocked(other, 1), c.c1);
        // The system's view follows the bookkeeping.
        size_t oneLocks = 1 + c.a3 + c.aAppend + c.b4;
        EXPECT_EQ(systemLocks(one).size(), oneLocks);
        EXPECT_EQ(systemLocks(two).size(), c.c1 ? 1u : 0u);

        EXPECT_EQ(table4lockFile(a), c.fileResult);
        EXPECT_EQ(a->dataFile->fileLockOwner == a->lockOwner, c.fileResult == 0);
        env.lockAttempts = -1;
        if (c.fileResult != 0) {
            EXPECT_EQ(table4lockFile(a), e4lock);
            EXPECT_EQ(clearError(), e4lock);
        }

        // table4unlock releases everything of the handle, whatever the setting.
        EXPECT_EQ(table4unlock(a), 0);
        EXPECT_EQ(table4isRecordLocked(a, 5), 0);
        EXPECT_EQ(a->dataFile->appendLockOwner, 0);
        EXPECT_EQ(systemLocks(one).size(), c.b4 ? 1u : 0u);
        EXPECT_EQ(env.unlockAuto, c.unlockAuto);
        EXPECT_EQ(env4closeAll(&env), 0);
    }
}

TEST_F(Lock4, ReleasingTheAppendLockWritesTheCountFirst) {
    for (int8_t mode : {0, 1, 2}) {
        SCOPED_TRACE("access mode " + std::to_string(mode));
        std::string path = makeLockTable(dir, "count.dbf", false);
        env.accessMode = mode;
        table4* t = open(path);
        ASSERT_NE(t, nullptr);
        table4file* d = t->dataFile;
        ASSERT_EQ(table4lockAppend(t), 0);
        // As an append leaves it: a count held in memory, header not yet written.
        d->heldCount = 5;
        d->countChanged = d->dateChanged = d->headerChanged = 1;
        EXPECT_EQ(readWhole(path).substr(4, 4), std::string(4, '\0'));
        EXPECT_EQ(table4unlock(t), 0);
        EXPECT_EQ(readWhole(path).substr(4, 4), std::string("\x05\0\0\0", 4));
        EXPECT_EQ(d->headerChanged, 0);
        // Shared, the next count comes from the file; otherwise this process
        // keeps knowing it.
        EXPECT_EQ(d->heldCount, mode == 0 ? -1 : 5);
        EXPECT_EQ(table4recordCountLow(d, t->lockOwner), 5);
        (void)table4close(t);
        unlink(path.c_str());
    }
}

// ---- record write-back and index files -------------------------------------

// Appends `count` blank records; the handle holds no lock afterwards.
void appendBlank(table4* t, int count) {
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(table4blank(t), 0);
        ASSERT_EQ(table4append(t), 0);
    }
    ASSERT_EQ(table4unlock(t), 0);
}

// The NAME bytes of record n as the disk holds them (the plain lock table).
std::string nameOnDisk(const std::string& path, int32_t n) {
    return readWhole(path).substr(97 + (n - 1) * 20 + 1, 10);
}

TEST_F(Lock4, UnlockWritesBackFirstAndKeepsTheLocksWhenThatFails) {
    std::string path = makeLockTable(dir, "back.dbf", false);
    table4* t = open(path);
    ASSERT_NE(t, nullptr);
    appendBlank(t, 4);
    auto change = [&](int32_t n, const char* name) {
        ASSERT_EQ(table4go(t, n), 0);
        ASSERT_EQ(field4assign(table4field(t, 1), name), 0);
    };
    change(2, "TWO");
    // Automatic releases before a new lock never write back: a record write
    // takes its own record lock on the way.
    ASSERT_EQ(table4lockRecord(t, 3), 0);
    ASSERT_EQ(table4lockRecord(t, 2), 0);
    EXPECT_EQ(nameOnDisk(path, 2), std::string(10, ' '));
    file4failWrite(file4kindData, 1);
    EXPECT_EQ(table4unlock(t), e4write);
    file4failWrite(0, 0);
    EXPECT_EQ(table4isRecordLocked(t, 2), 1);
    EXPECT_EQ(systemLocks(path).size(), 1u);
    EXPECT_EQ(clearError(), e4write);
    EXPECT_EQ(table4unlock(t), 0);
    EXPECT_EQ(nameOnDisk(path, 2), "TWO       ");
    EXPECT_EQ(systemLocks(path), Ranges{});
    // A close whose write-back fails still leaves no lock behind.
    change(3, "THREE");
    ASSERT_EQ(table4lockRecord(t, 3), 0);
    file4failWrite(file4kindData, 1);
    EXPECT_EQ(table4close(t), e4write);
    file4failWrite(0, 0);
    EXPECT_EQ(systemLocks(path), Ranges{});
    EXPECT_EQ(clearError(), e4write);
    // A handle of a file held exclusive counts as holding every lock.
    env.accessMode = 1;
    t = open(path);
    ASSERT_NE(t, nullptr);
    change(4, "FOUR");
    EXPECT_EQ(table4unlock(t), 0);
    EXPECT_EQ(nameOnDisk(path, 4), "FOUR      ");
}

// Holds the index lock byte of a file through a description of its own, as
// another process would, until released.
class ForeignIndexLock {
  public:
    explicit ForeignIndexLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR)) {
        EXPECT_EQ(qv::ofdTryLock(fd_, index4lockByte, 1, true), qv::OfdResult::ok);
    }
    ~ForeignIndexLock() { release(); }
    void release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

// A table with two index files of one tag each.
class IndexLocks : public Lock4 {
  protected:
    void SetUp() override {
        Lock4::SetUp();
        path = makeLockTable(dir, "indexed.dbf", false);
        t = open(path);
        ASSERT_NE(t, nullptr);
        const tag4def tags[] = {{"NAME", "NAME", nullptr, 0, 0}, {nullptr, nullptr, nullptr, 0, 0}};
        for (int i = 0; i < 2; ++i) {
            indexPath[i] = dir.file(i == 0 ? "one.cdx" : "two.cdx");
            index4* index = index4create(t, indexPath[i].c_str(), tags);
            ASSERT_NE(index, nullptr);
            files[i] = index->indexFile;
        }
        ASSERT_EQ(table4unlock(t), 0);
        env.lockDelay = 2;
    }
    // Which of the two index files this handle holds.
    std::vector<bool> held() const {
        return {files[0]->lockOwner == t->lockOwner, files[1]->lockOwner == t->lockOwner};
    }
    std::string path;
    std::string indexPath[2];
    table4* t = nullptr;
    index4file* files[2] = {};
};

TEST_F(IndexLocks, GroupRoundsFollowTheAttemptCount) {
    using Clock = std::chrono::steady_clock;
    // The second file held elsewhere: every round locks the first and gives it
    // back, with a wait of lockDelay between rounds.
    for (int32_t attempts : {0, 1, 3}) {
        SCOPED_TRACE("lockAttempts " + std::to_string(attempts));
        ForeignIndexLock other(indexPath[1]);
        env.lockAttempts = attempts;
        const auto start = Clock::now();
        EXPECT_EQ(table4lockIndexes(t->dataFile, t->lockOwner), r4locked);
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(attempts * 20));
        EXPECT_EQ(env.lockAttempts, attempts);
        // A failed group leaves no index file locked.
        EXPECT_EQ(held(), (std::vector<bool>{false, false}));
        EXPECT_EQ(systemLocks(indexPath[0]), Ranges{});
    }
    // Without a limit the rounds go on until the holder lets go.
    env.lockAttempts = -1;
    ForeignIndexLock other(indexPath[1]);
    std::thread letGo([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        other.release();
    });
    EXPECT_EQ(table4lockIndexes(t->dataFile, t->lockOwner), 0);
    letGo.join();
    EXPECT_EQ(held(), (std::vector<bool>{true, true}));
    EXPECT_EQ(table4unlock(t), 0);
    EXPECT_EQ(held(), (std::vector<bool>{false, false}));
    EXPECT_EQ(systemLocks(indexPath[1]), Ranges{});
}

TEST_F(IndexLocks, LockAllTakesTheFileThenTheIndexes) {
    env.lockAttempts = 1;
    // table4holdsLocks follows every state: whatever it denies, table4unlock has nothing to do.
    EXPECT_EQ(table4holdsLocks(t), 0);
    ASSERT_EQ(table4lockAll(t), 0);
    EXPECT_EQ(table4holdsLocks(t), 1);
    EXPECT_EQ(t->dataFile->fileLockOwner, t->lockOwner);
    EXPECT_EQ(held(), (std::vector<bool>{true, true}));
    EXPECT_EQ(systemLocks(indexPath[1]), (Ranges{{index4lockByte, index4lockByte}}));
    EXPECT_EQ(table4unlock(t), 0);
    EXPECT_EQ(table4holdsLocks(t), 0);
    EXPECT_EQ(held(), (std::vector<bool>{false, false}));
    EXPECT_EQ(systemLocks(path), Ranges{});

    // An index held by another owner fails the whole call; unlockAuto 2 gives
    // the file lock back, 0 leaves it.
    ASSERT_EQ(index4lock(files[1], 999), 0);
    EXPECT_EQ(table4lockAll(t), r4locked);
    EXPECT_EQ(t->dataFile->fileLockOwner, 0);
    EXPECT_EQ(table4holdsLocks(t), 0);  // the other owner's index lock is not this handle's
    EXPECT_EQ(systemLocks(path), Ranges{});
    env.unlockAuto = 0;
    EXPECT_EQ(table4lockAll(t), r4locked);
    EXPECT_EQ(t->dataFile->fileLockOwner, t->lockOwner);
    EXPECT_EQ(table4holdsLocks(t), 1);
    EXPECT_EQ(files[1]->lockOwner, 999);
    EXPECT_EQ(table4unlock(t), 0);
    EXPECT_EQ(systemLocks(path), Ranges{});

    // unlockAuto 2 releases this handle's index locks before a record lock.
    env.unlockAuto = 2;
    ASSERT_EQ(index4unlock(files[1], 999), 0);
    ASSERT_EQ(table4lockIndexes(t->dataFile, t->lockOwner), 0);
    EXPECT_EQ(table4holdsLocks(t), 1);
    ASSERT_EQ(table4lockRecord(t, 1), 0);
    EXPECT_EQ(held(), (std::vector<bool>{false, false}));
    EXPECT_EQ(table4holdsLocks(t), 1);
    EXPECT_EQ(table4unlock(t), 0);
    EXPECT_EQ(table4holdsLocks(t), 0);
}

// ---- files that need no system lock --------------------------------------

struct NoLockCase {
    const char* what;
    int8_t accessMode;
    int32_t readOnly;
    bool countsAsLocked;  // every handle counts as holding every lock
};

const NoLockCase kNoLocks[] = {
    {"exclusive", 1, 0, true},
    {"deny write", 2, 0, true},
    {"shared, read-only", 0, 1, false},
};

TEST_F(Lock4, FilesNotSharedForWritingTakeNoSystemLock) {
    std::string path = makeLockTable(dir, "alone.dbf", false);
    for (const NoLockCase& c : kNoLocks) {
        SCOPED_TRACE(c.what);
        env.accessMode = c.accessMode;
        env.readOnly = c.readOnly;
        env.lockAttempts = -1;
        env.lockDelay = 1000;
        table4* a = open(path);
        table4* b = open(path);
        ASSERT_TRUE(a != nullptr && b != nullptr);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(table4lockFile(a), 0);
        EXPECT_EQ(table4lockAll(a), 0);
        if (c.countsAsLocked) {
            EXPECT_EQ(table4lockRecord(b, 7), 0);
            EXPECT_EQ(table4lockAppend(b), 0);
            EXPECT_EQ(table4lockFile(b), 0);
            EXPECT_EQ(table4isRecordLocked(b, 12345), 1);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(table4isRecordLocked(a, 3), 1);
        EXPECT_EQ(systemLocks(path), Ranges{});
        EXPECT_EQ(table4unlock(a), 0);
        if (c.countsAsLocked) {
            EXPECT_EQ(table4holdsLocks(a), 1);
        }
        EXPECT_EQ(table4unlock(b), 0);
        EXPECT_EQ(env4closeAll(&env), 0);
    }
}

}  // namespace
