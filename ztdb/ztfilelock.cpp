// The counted lock and the read brackets of a database (see ztfile.h).
#include <chrono>
#include <thread>

#include "ztdb/ztassert.h"
#include "ztdb/ztfile.h"

namespace {

constexpr int kLockRetryMilliseconds = 100;
constexpr int kReadRestartStepMilliseconds = 10;

bool sleepFor(void*, int milliseconds) {
    std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                  std::chrono::milliseconds(milliseconds));
    return true;
}

}  // namespace

void ZTFile::setLockWaitHook(ZTLockWaitHook hook, void* context) {
    waitHook_ = hook;
    waitContext_ = context;
}

bool ZTFile::waitForLock() {
    return (waitHook_ != nullptr ? waitHook_ : sleepFor)(waitContext_, kLockRetryMilliseconds);
}

// The table and its index, whole. Record locks are never used: with write-behind on a shared
// file a block written back carries its neighbours as this process last read them.
bool ZTFile::lockRetry(table4* table, bool noWait) {
    if (!ZT_ASSERT(table != nullptr)) return false;
    for (;;) {
        const int32_t rc = table4lockAll(table);
        if (rc == 0) return true;
        takeError();
        if (rc != r4locked || noWait || !waitForLock()) return false;
    }
}

bool ZTFile::lock(bool noWait) {
    if (!ZT_ASSERT(isUsable())) return false;
    ++localChanges_;
    if (isExclusive()) return true;
    if (fileLocked_ == 0) {
        nextChain_ = 0;  // another process may have made chains since the last lock
        if (!lockRetry(rowTable_, noWait)) return false;
        // Nobody wrote since this handle let the lock go with a sound view (the library's
        // locks above kept what they hold on the same proof): no pack copy can be there (a
        // packer makes the sequence odd before it makes one) and every block and node held
        // is what the disk has.
        file4* rows = &rowTable_->dataFile->file;
        const bool trusted = file4seqSound(rows);
        viewDoubtful_ = false;
        // A packer killed before it finished left its copy: the files are put back first, and
        // opened again, since what this process knows of the index files (their ends, their
        // free blocks) may be the pack's.
        if (!trusted && !isReadOnly() && hasPackCopy()) return reopenAfterRestore(noWait, true);
        // A writer killed after its commit reached the journal, or a restart of the machine,
        // leaves the files short of the journal: they are brought up to it first. A writer
        // killed between its journal's sync and its first in-place write left the sequence
        // as it was: the journal is asked whatever the sequence says.
        if (journal_.open && !isReadOnly()) {
            const int32_t replayed = journal4recover(&journal_);
            if (replayed < 0) {
                takeError();
                if (table4unlock(rowTable_) != 0) takeError();
                return false;
            }
            if (replayed > 0) return reopenAfterRestore(noWait, false);
        }
        // Unless the sequence proves otherwise, another process may have written anything
        // since: no data block of either table
        // that this process holds may be trusted, nor any index block or node, except those
        // of an index just locked whose change counter has not moved. The headers need no
        // re-reading here: under the lock the library reads a table's count from the disk
        // when it is first needed.
        spanSound_ = trusted && file4seqSound(rows);
        // Only a replay moves it under the lock, and a replay opens everything again; were it
        // ever otherwise, the library's locks above trusted what they hold on a stale proof.
        if (trusted && !spanSound_) return reopenAfterRestore(noWait, false);
        if (!spanSound_) {
            journal_.changes.sound = file4seqNone;
            bool fresh = true;
            for (table4* t : {rowTable_, dictTable_})
                if (table4refresh(t) != 0) fresh = false;
            if (!fresh) {
                takeError();
                if (table4unlock(rowTable_) != 0) takeError();
                return false;
            }
        }
        // From here the writes of this handle move the sequence, each to a value it notes.
        journal_.changes.stored = file4seqLoad(rows);
        journal4begin(&journal_);
    }
    ++fileLocked_;
    return true;
}

bool ZTFile::reopenAfterRestore(bool noWait, bool packCopy) {
    const bool restored = !packCopy || restoreAfterKilledPack();
    if (table4unlock(rowTable_) != 0) takeError();
    const uint32_t mode = openMode_ & 15;
    const int32_t reads = fastNet_, restarts = readRestarts_;
    const uint32_t access = access_;
    closeTables();
    forgetDictionaryHints();
    openMode_ = openTables(mode, false);
    fastNet_ = reads;
    readRestarts_ = restarts;
    access_ = access;
    if (!restored || (openMode_ & 15) != mode || !lock(noWait)) return false;
    // Readers elsewhere may hold blocks of the pack's files: the change counters move.
    rowsChanged_ = dictionaryChanged_ = true;
    return true;
}

bool ZTFile::lockDictionary() {
    if (!ZT_ASSERT(fileLocked_ > 0 || isExclusive())) return false;
    if (complLocked_ || isExclusive()) return true;
    if (!lockRetry(dictTable_, false)) return false;
    complLocked_ = true;
    return true;
}

bool ZTFile::unlock() {
    if (!ZT_ASSERT(isUsable())) return false;
    if (isExclusive() || fileLocked_ == 0) return true;  // an unlock too many does nothing
    if (--fileLocked_ > 0) return true;
    const bool bothLocked = complLocked_;
    nextChain_ = 0;
    // A write that changed no key (a long value's chunks beyond its key) still moves the
    // indexes' change counters, by which readers learn that their buffered data went stale.
    if (rowsChanged_ || dictionaryChanged_)
        for (index4* ix : {rowIndex_, dictIndex_}) index4versionAdvance(ix->indexFile);
    bool ok = isReadOnly() || flush();
    if (journal4end(&journal_) != 0) {
        takeError();
        ok = false;
    }
    // Whatever was written in place outside the commits is done: readers may trust again.
    journal4endChange(&journal_);
    // What this handle holds may be what a failed commit never wrote: the releases below
    // must not take it for the disk's.
    file4seq& changes = journal_.changes;
    if (!ok || viewDoubtful_) changes.sound = file4seqNone;
    if (complLocked_) {
        complLocked_ = false;
        if (table4unlock(dictTable_) != 0) {
            takeError();
            ok = false;
            // Others must not wait for a lock that nobody counts any more.
            if (lock4dropHandle(dictTable_) != 0) takeError();
        }
    }
    if (table4unlock(rowTable_) != 0) {
        takeError();
        ok = false;
        if (lock4dropHandle(rowTable_) != 0) takeError();
    }
    // Under the row table's lock every store to the sequence was this handle's: the last one
    // (or the value found at the lock) is where it stood at the release. The view is sound
    // there when it was at the lock and this handle's own writes carried it along (a rewrite
    // in place does not), or when the span read afresh every table and both indexes'
    // headers under their locks. Any failure leaves it in doubt.
    if (!ok || viewDoubtful_)
        changes.sound = file4seqNone;
    else if (!spanSound_ && bothLocked && !viewDoubtful_ && !changes.writing)
        changes.sound = changes.stored;
    spanSound_ = false;
    return ok;
}

// The dictionary first: a reader that sees a new row finds the value it points at.
bool ZTFile::flush() {
    if (!ZT_ASSERT(isUsable())) return false;
    bool ok = true;
    for (auto [table, changed] :
         {std::pair{dictTable_, &dictionaryChanged_}, std::pair{rowTable_, &rowsChanged_}}) {
        if (!*changed) continue;
        if (table4flush(table) == 0)
            *changed = false;
        else
            ok = false;
    }
    // Under the lock the flushed writes are held: one synced journal record commits them all.
    // Writes of a flush that failed part way never reach the files.
    if (!ok) journal4discard(&journal_);
    if (ok && journal4commit(&journal_) != 0) ok = false;
    if (!ok) takeError();
    return ok;
}

void ZTFile::refreshTables(bool force) {
    if (!isUsable() || (isExclusive() && !force)) return;
    // The count is read from the header on disk whenever no lock holds it.
    for (table4* t : {rowTable_, dictTable_})
        if (table4recordCount(t) < 0) takeError();
}

// The outermost bracket holds this process's view of both indexes: their change counters are
// read at the first seek that needs each and trusted for the rest of the bracket, as is the
// row count. A change of another process within the bracket is seen at the next bracket, or
// at once where a read breaks on it (recoverRead asks for fresh checks).
void ZTFile::beginRead() {
    if (!ZT_ASSERT(isUsable()) || isExclusive()) return;
    if (fastNet_++ > 0) return;
    readRestarts_ = 0;
    holdViews(true);
}

void ZTFile::holdViews(bool hold) {
    for (index4* ix : {rowIndex_, dictIndex_})
        if (ix) index4viewHold(ix->indexFile, hold ? 1 : 0);
    bracketCount_ = -1;
}

int32_t ZTFile::readRowCount() {
    if (!rowTable_) return -1;
    const bool held = fastNet_ > 0 && fileLocked_ == 0 && isUsable() && !isExclusive();
    if (held && bracketCount_ >= 0 && countAt_ == localChanges_) return bracketCount_;
    const int32_t n = table4recordCount(rowTable_);
    if (held && n >= 0) {
        bracketCount_ = n;
        countAt_ = localChanges_;
    }
    return n;
}

// The change counters of both indexes as this process last read them. The library reads them
// at every seek of a reader without the lock and renews its view of an index that moved, but
// not the data files' blocks this process holds.
bool ZTFile::rowIndexUnchanged() {
    if (!isUsable()) return false;
    const int32_t rc = index4versionCheck(rowIndex_->indexFile, 0);
    if (rc < 0) takeError();
    return rc == 0;
}

void ZTFile::dropDataBuffers() {
    if (!isUsable()) return;
    for (table4* t : {rowTable_, dictTable_})
        if (file4dropBuffers(&t->dataFile->file) != 0) takeError();
}

// A walk that failed under another process's change starts again after the buffers are
// dropped, a bounded number of times with growing pauses: a damaged index fails every walk the
// same way and must not keep a reader looping.
bool ZTFile::recoverRead() {
    if (!ZT_ASSERT(isUsable())) return false;
    if (fastNet_ < 1 || error4code(&env_) == 0) return false;
    if (readRestarts_ >= kMaxReadRestarts) return false;
    const int pause = readRestarts_ * kReadRestartStepMilliseconds;
    ++readRestarts_;
    if (pause > 0) sleepFor(nullptr, pause);
    takeError();
    for (index4* ix : {rowIndex_, dictIndex_})
        if (ix) index4viewRecheck(ix->indexFile);
    bracketCount_ = -1;
    if (buffer4suspend(&env_) != 0) {
        takeError();
        return false;
    }
    if (env_.bufferMemory != 0 && buffer4start(&env_) != 0) {
        takeError();
        env_.bufferMemory = 0;
    }
    return true;
}

void ZTFile::endRead() {
    if (!ZT_ASSERT(isUsable()) || isExclusive()) return;
    if (fastNet_ > 0 && --fastNet_ == 0) {
        takeError();
        readRestarts_ = 0;
        holdViews(false);
    }
}
