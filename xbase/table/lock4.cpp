#include "xbase/table/lock4.h"

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/file/file4.h"
#include "xbase/record/table4format.h"
#include "xbase/table/index4.h"
#include "xbase/table/table4.h"
#include "xbase/table/table4write.h"

namespace {

// Parts of a handle's locks, for the releases.
constexpr int kFileLock = 1;
constexpr int kAppendLock = 2;
constexpr int kRecordLocks = 4;
constexpr int kIndexLocks = 8;
constexpr int kAllLocks = kFileLock | kAppendLock | kRecordLocks | kIndexLocks;

bool openShared(const table4file* data) {
    return data->file.accessMode == 0;
}

// The one wait between lock attempts.
void lockWait(env4* env) {
    u4delayHundredth(env->lockDelay);
}

// Keeps the holder of a refused lock for diagnostics (null: another process).
void noteHolder(env4* env, const table4* holder) {
    env->lockHolderOwner = holder != nullptr ? holder->lockOwner : 0;
    u4ncpy(env->lockHolderAlias, holder != nullptr ? holder->alias : "",
           sizeof env->lockHolderAlias);
}

// A lock held by another handle of this environment: no system call. Waiting
// could never end (this thread would have to release it), so an unlimited
// attempt count is an error.
int32_t refuseInProcess(table4* t, const table4* holder, int32_t location) {
    env4* env = t->env;
    noteHolder(env, holder);
    if (env->lockAttempts < 0) return error4raiseText(env, e4lock, location, t->alias);
    return r4locked;
}

lock4* firstEntry(const table4file* data) {
    return static_cast<lock4*>(list4first(&data->recordLocks));
}

lock4* nextEntry(const table4file* data, const lock4* e) {
    return static_cast<lock4*>(list4next(&data->recordLocks, e));
}

lock4* recordEntry(const table4file* data, int32_t n) {
    for (lock4* e = firstEntry(data); e != nullptr; e = nextEntry(data, e))
        if (e->recNo == n) return e;
    return nullptr;
}

bool ownsRecordLocks(const table4file* data, int32_t owner) {
    for (lock4* e = firstEntry(data); e != nullptr; e = nextEntry(data, e))
        if (e->owner == owner) return true;
    return false;
}

// Links a new entry in record order; an unordered list is -910.
int32_t insertEntry(env4* env, table4file* data, lock4* entry) {
    lock4* before = nullptr;
    int32_t last = 0;
    for (lock4* e = firstEntry(data); e != nullptr; e = nextEntry(data, e)) {
        if (e->recNo <= last || e->recNo == entry->recNo)
            return error4raise(env, e4info, E4LOC(90801));
        last = e->recNo;
        if (before == nullptr && e->recNo > entry->recNo) before = e;
    }
    int32_t rc = before != nullptr ? list4addBefore(&data->recordLocks, before, entry)
                                   : list4add(&data->recordLocks, entry);
    return rc < 0 ? error4raise(env, e4info, E4LOC(90802)) : 0;
}

void freeEntry(env4* env, table4file* data, lock4* e) {
    // One the list does not hold is not ours to free (a damaged list keeps its entry).
    if (list4remove(&data->recordLocks, e) == 0) pool4free(env->lockPool, e);
}

// Writes the record count and date when they changed, while the lock that
// lets this process write the count is still held.
int32_t writeChangedHeader(table4file* data) {
    if (!data->headerChanged || data->file.isReadOnly) return 0;
    if (data->dateChanged) u4today(data->date);
    return table4writeHeader(data, data->dateChanged, data->countChanged);
}

// Releases the append or the file lock: header first, then the range; the
// next count is read from the file.
int32_t releaseCountLock(table4file* data, int32_t& owner, table4*& holder, int64_t position,
                         int64_t length) {
    int32_t rc = writeChangedHeader(data);
    if (rc < 0) return rc;
    if (!file4unlockLow(&data->file, position, length))
        return error4raiseText(data->env, e4unlock, E4LOC(90803), data->name);
    owner = 0;
    holder = nullptr;
    data->heldCount = -1;
    return 0;
}

// While unlockAuto is 0 the data-file unlocks do nothing.
int32_t unlockFileLock(table4* t) {
    table4file* d = t->dataFile;
    if (t->env->unlockAuto == 0 || d->fileLockOwner != t->lockOwner) return 0;
    int32_t rc =
        releaseCountLock(d, d->fileLockOwner, d->fileLockHolder, lock4fileStart, lock4fileLength);
    // As with record locks: once others may write, the old-record copy may go stale.
    if (rc == 0) t->recordOldNum = -1;
    return rc;
}

int32_t unlockAppendLock(table4* t) {
    table4file* d = t->dataFile;
    if (t->env->unlockAuto == 0 || d->appendLockOwner != t->lockOwner) return 0;
    return releaseCountLock(d, d->appendLockOwner, d->appendLockHolder, lock4appendByte, 1);
}

int32_t unlockRecordLocks(table4* t) {
    env4* env = t->env;
    table4file* d = t->dataFile;
    if (env->unlockAuto == 0) return 0;
    int32_t rc = 0;
    lock4* e = firstEntry(d);
    while (e != nullptr) {
        lock4* next = nextEntry(d, e);
        if (e->owner == t->lockOwner) {
            if (file4unlockLow(&d->file, e->position, 1)) {
                freeEntry(env, d, e);
                t->recordOldNum = -1;  // the old-record copy may go stale now
            } else if (rc == 0) {
                rc = error4raiseText(env, e4unlock, E4LOC(90804), d->name);
            }
        }
        e = next;
    }
    return rc;
}

int32_t unlockIndexLocks(table4file* data, int32_t owner) {
    int32_t rc = 0;
    for (void* f = list4first(&data->indexFiles); f != nullptr;
         f = list4next(&data->indexFiles, f)) {
        int32_t r = index4unlock(static_cast<index4file*>(f), owner);
        if (r < 0 && rc == 0) rc = r;
    }
    return rc;
}

// Releases the chosen parts of a handle's locks; the first error is returned
// after every part has been tried.
int32_t releaseParts(table4* t, int parts) {
    int32_t rc = 0;
    auto keep = [&rc](int32_t r) {
        if (r < 0 && rc == 0) rc = r;
    };
    if (parts & kFileLock) keep(unlockFileLock(t));
    if (parts & kAppendLock) keep(unlockAppendLock(t));
    if (parts & kRecordLocks) keep(unlockRecordLocks(t));
    if (parts & kIndexLocks) keep(unlockIndexLocks(t->dataFile, t->lockOwner));
    return rc;
}

// The automatic release before a new lock (and after a failed lockAll):
// unlockAuto 1 releases every table of the environment, 2 (or more) the
// chosen parts of this handle's locks, 0 nothing. A failure is -110.
int32_t releasePerSetting(table4* t, int ownParts) {
    env4* env = t->env;
    int32_t rc = 0;
    if (env->unlockAuto == 1) {
        for (auto* u = static_cast<table4*>(list4first(&env->tables)); u != nullptr;
             u = static_cast<table4*>(list4next(&env->tables, u))) {
            int32_t r = releaseParts(u, kAllLocks);
            if (r < 0 && rc == 0) rc = r;
        }
    } else if (env->unlockAuto != 0) {
        rc = releaseParts(t, ownParts);
    }
    return rc < 0 ? error4raise(env, e4unlock, E4LOC(90806)) : 0;
}

// Common entry checks of the table lock operations: 0 to go on, else the result.
int32_t enter(const table4* t, int32_t location) {
    if (t == nullptr || t->dataFile == nullptr)
        return error4raise(t != nullptr ? t->env : nullptr, e4parmNull, location);
    if (error4pending(t->env)) return e4codeBase;
    return 0;
}

// Forgets and unlocks whatever the handle still holds, writing nothing.
void forgetHandle(table4* t) {
    env4* env = t->env;
    table4file* d = t->dataFile;
    int32_t owner = t->lockOwner;
    if (d->fileLockOwner == owner) {
        file4unlockLow(&d->file, lock4fileStart, lock4fileLength);
        d->fileLockOwner = 0;
        d->fileLockHolder = nullptr;
        d->heldCount = -1;
    }
    if (d->appendLockOwner == owner) {
        file4unlockLow(&d->file, lock4appendByte, 1);
        d->appendLockOwner = 0;
        d->appendLockHolder = nullptr;
        d->heldCount = -1;
    }
    lock4* e = firstEntry(d);
    while (e != nullptr) {
        lock4* next = nextEntry(d, e);
        if (e->owner == owner) {
            file4unlockLow(&d->file, e->position, 1);
            freeEntry(env, d, e);
        }
        e = next;
    }
}

}  // namespace

bool lock4highScheme(const table4file* data) {
    return data->version == table4version30 || (data->flags & table4flagProduction) != 0;
}

int64_t lock4recordPosition(const table4file* data, int32_t n) {
    if (n < 1) return -1;
    if (lock4highScheme(data)) return n > lock4highMaxRecord ? -1 : lock4appendByte - n;
    int64_t position = lock4fileStart + data->headerLen + int64_t{n - 1} * data->recordLen;
    return position < lock4appendByte ? position : -1;
}

int32_t table4lockRecord(table4* t, int32_t n) {
    if (int32_t rc = enter(t, E4LOC(90820))) return rc;
    env4* env = t->env;
    table4file* d = t->dataFile;
    if (n < 1) return error4raise(env, e4parm, E4LOC(90821));
    int64_t position = lock4recordPosition(d, n);
    if (position < 0) return error4raiseText(env, e4tableFull, E4LOC(90822), d->name);
    if (!openShared(d) || d->fileLockOwner == t->lockOwner) return 0;
    lock4* held = recordEntry(d, n);
    if (held != nullptr && held->owner == t->lockOwner) return 0;

    if (releasePerSetting(t, kAppendLock | kRecordLocks | kIndexLocks) < 0) return e4unlock;
    if (d->fileLockOwner != 0) return refuseInProcess(t, d->fileLockHolder, E4LOC(90823));
    if (lock4* other = recordEntry(d, n)) return refuseInProcess(t, other->holder, E4LOC(90824));

    auto* entry = static_cast<lock4*>(pool4allocCreate(env, &env->lockPool, env->memStartLock,
                                                       sizeof(lock4), env->memExpandLock, 0));
    if (entry == nullptr) return env->errorCode < 0 ? env->errorCode : e4memory;
    int32_t rc = file4lock(&d->file, position, 1);
    if (rc == 0) {
        entry->owner = t->lockOwner;
        entry->holder = t;
        entry->recNo = n;
        entry->position = position;
        rc = insertEntry(env, d, entry);
        if (rc == 0) {
            env->lockTakes++;
            return 0;
        }
        file4unlockLow(&d->file, position, 1);
    }
    if (rc == r4locked) noteHolder(env, nullptr);
    pool4free(env->lockPool, entry);
    return rc;
}

int32_t table4lockAppend(table4* t) {
    if (int32_t rc = enter(t, E4LOC(90830))) return rc;
    table4file* d = t->dataFile;
    if (!openShared(d) || d->appendLockOwner == t->lockOwner || d->fileLockOwner == t->lockOwner)
        return 0;

    if (releasePerSetting(t, kRecordLocks | kIndexLocks) < 0) return e4unlock;
    if (d->appendLockOwner != 0) return refuseInProcess(t, d->appendLockHolder, E4LOC(90831));
    if (d->fileLockOwner != 0) return refuseInProcess(t, d->fileLockHolder, E4LOC(90832));
    int32_t rc = file4lock(&d->file, lock4appendByte, 1);
    if (rc == r4locked) noteHolder(t->env, nullptr);
    if (rc != 0) return rc;
    d->appendLockOwner = t->lockOwner;
    d->appendLockHolder = t;
    t->env->lockTakes++;
    // The end of the file is where others appended while we held nothing: a
    // buffered block there would write their records back as we last saw them.
    // Unless the change sequence proves that nobody wrote since.
    if (file4seqSound(&d->file)) return 0;
    return file4dropBuffers(&d->file);
}

int32_t table4lockFile(table4* t) {
    if (int32_t rc = enter(t, E4LOC(90840))) return rc;
    table4file* d = t->dataFile;
    if (!openShared(d) || d->fileLockOwner == t->lockOwner) return 0;

    if (releasePerSetting(t, kAllLocks) < 0) return e4unlock;
    // The range covers the append and every record byte: taking it over any
    // of those through the same description would merge with them.
    if (d->fileLockOwner != 0) return refuseInProcess(t, d->fileLockHolder, E4LOC(90841));
    if (d->appendLockOwner != 0) return refuseInProcess(t, d->appendLockHolder, E4LOC(90842));
    if (lock4* e = firstEntry(d)) return refuseInProcess(t, e->holder, E4LOC(90843));
    int32_t rc = file4lock(&d->file, lock4fileStart, lock4fileLength);
    if (rc == r4locked) noteHolder(t->env, nullptr);
    if (rc != 0) return rc;
    d->fileLockOwner = t->lockOwner;
    d->fileLockHolder = t;
    t->env->lockTakes++;
    // Other processes may have written while we held nothing (unless the change sequence
    // proves that nobody did).
    if (file4seqSound(&d->file)) return 0;
    return file4dropBuffers(&d->file);
}

int32_t table4lockIndexes(table4file* data, int32_t owner) {
    if (data == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90850));
    env4* env = data->env;
    if (error4pending(env)) return e4codeBase;
    if (data->indexFiles.nLink == 0) return 0;
    const int32_t saved = env->lockAttempts;
    int32_t roundsLeft = saved;  // further rounds; negative: no end
    env->lockAttempts = 1;
    int32_t rc = 0;
    for (;;) {
        rc = 0;
        for (void* f = list4first(&data->indexFiles); f != nullptr && rc == 0;
             f = list4next(&data->indexFiles, f))
            rc = index4lock(static_cast<index4file*>(f), owner);
        if (rc != r4locked) break;
        unlockIndexLocks(data, owner);
        if (roundsLeft == 0) break;
        if (roundsLeft > 0) roundsLeft--;
        lockWait(env);
    }
    env->lockAttempts = saved;
    return rc;
}

int32_t table4lockAll(table4* t) {
    if (int32_t rc = enter(t, E4LOC(90860))) return rc;
    int32_t rc = table4lockFile(t);
    if (rc == 0) rc = table4lockIndexes(t->dataFile, t->lockOwner);
    if (rc == r4locked && releasePerSetting(t, kAllLocks) < 0) return e4unlock;
    return rc;
}

// A file not opened shared counts as locked in full by every handle.
static bool holdsDataLocks(const table4* t) {
    const table4file* d = t->dataFile;
    const int32_t owner = t->lockOwner;
    return !openShared(d) || d->fileLockOwner == owner || d->appendLockOwner == owner ||
           ownsRecordLocks(d, owner);
}

// Asked between most reads: the lists are walked in place, and mostly found empty.
int32_t table4holdsLocks(const table4* t) {
    if (t == nullptr || t->dataFile == nullptr) return 1;  // table4unlock reports it
    if (holdsDataLocks(t)) return 1;
    const table4file* d = t->dataFile;
    const int32_t owner = t->lockOwner;
    // As index4unlock tells the locks it releases.
    const link4* last = d->indexFiles.lastNode;
    for (const link4* at = last != nullptr ? last->next : nullptr; at != nullptr;
         at = at == last ? nullptr : at->next) {
        const int32_t holder = reinterpret_cast<const index4file*>(at)->lockOwner;
        if (holder != 0 && (owner == 0 || owner == holder)) return 1;
    }
    return 0;
}

int32_t table4unlock(table4* t) {
    if (int32_t rc = enter(t, E4LOC(90870))) return rc;
    env4* env = t->env;
    table4file* d = t->dataFile;
    int32_t owner = t->lockOwner;
    int32_t rc = 0;
    const bool shared = openShared(d);
    if (holdsDataLocks(t)) {
        rc = table4writeBack(t);
        if (rc < 0) return rc;
        const int32_t saved = env->unlockAuto;
        if (saved == 0) env->unlockAuto = 1;
        rc = shared ? releaseParts(t, kFileLock | kAppendLock | kRecordLocks)
                    : writeChangedHeader(d);
        env->unlockAuto = saved;
    }
    // Index locks are released even when no data-file lock was held: a table
    // opened exclusive holds them without any data-file lock.
    int32_t r = unlockIndexLocks(d, owner);
    return rc < 0 ? rc : r;
}

int32_t table4unlockAppend(table4* t) {
    if (int32_t rc = enter(t, E4LOC(90875))) return rc;
    return unlockAppendLock(t);
}

int32_t table4unlockRecord(table4* t, int32_t n) {
    if (int32_t rc = enter(t, E4LOC(90876))) return rc;
    table4file* d = t->dataFile;
    lock4* e = recordEntry(d, n);
    if (t->env->unlockAuto == 0 || e == nullptr || e->owner != t->lockOwner) return 0;
    if (!file4unlockLow(&d->file, e->position, 1))
        return error4raiseText(t->env, e4unlock, E4LOC(90877), d->name);
    freeEntry(t->env, d, e);
    if (t->recordOldNum == n) t->recordOldNum = -1;
    return 0;
}

int32_t table4isRecordLocked(const table4* t, int32_t n) {
    if (t == nullptr || t->dataFile == nullptr) return 0;
    const table4file* d = t->dataFile;
    if (!openShared(d) || d->fileLockOwner == t->lockOwner) return 1;
    if (d->recordLocks.lastNode == nullptr) return 0;  // none at all: every read asks
    const lock4* e = recordEntry(d, n);
    return e != nullptr && e->owner == t->lockOwner ? 1 : 0;
}

int32_t lock4dropHandle(table4* t) {
    if (t == nullptr || t->dataFile == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(90880));
    int32_t rc = table4unlock(t);
    forgetHandle(t);
    return rc;
}
