#include "xbase/table/table4write.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/expr/expr4.h"
#include "xbase/file/file4.h"
#include "xbase/index/tag4.h"
#include "xbase/record/table4format.h"
#include "xbase/table/index4.h"
#include "xbase/table/lock4.h"
#include "xbase/table/table4.h"
#include "xbase/table/table4internal.h"

namespace {

constexpr uint8_t kRemoved = 1;  // the change removed the tag's old key
constexpr uint8_t kAdded = 2;    // the change added the tag's new key

// As enter, for the calls that change the file: a read-only handle is -120.
int32_t enterWriting(table4* t, error4span<3> location) {
    if (int32_t rc = table4enter(t, location)) return rc;
    return t->readOnly ? error4raiseText(t->env, e4write, location.at<2>(), t->alias) : 0;
}

int32_t recordPosition(const table4file* d, int32_t n, int64_t* pos) {
    *pos = int64_t{d->headerLen} + int64_t{n - 1} * d->recordLen;
    return *pos + d->recordLen <= INT32_MAX ? 0 : -1;
}

template <typename Each>
void forEachIndexFile(table4file* d, Each each) {
    for (auto* f = static_cast<index4file*>(list4first(&d->indexFiles)); f != nullptr;
         f = static_cast<index4file*>(list4next(&d->indexFiles, f)))
        each(f);
}

// Takes the index locks that changes to the tags need, unless the handle holds
// them: only index files opened shared need one. *took tells whether it did.
int32_t lockIndexes(table4* t, bool* took) {
    table4file* d = t->dataFile;
    bool needed = false;
    forEachIndexFile(d, [&](index4file* f) {
        if (f->file.accessMode == 0 && !f->file.isReadOnly && f->lockOwner != t->lockOwner)
            needed = true;
    });
    if (!needed) return 0;
    const int32_t rc = table4lockIndexes(d, t->lockOwner);
    if (rc == 0) *took = true;
    return rc;
}

// Writes back and releases the handle's index locks; the first error.
int32_t unlockIndexes(table4* t) {
    int32_t rc = 0;
    forEachIndexFile(t->dataFile, [&](index4file* f) {
        const int32_t r = index4unlock(f, t->lockOwner);
        if (r < 0 && rc == 0) rc = r;
    });
    return rc;
}

// The handle's tags in order (index files as opened, tags in file order), with
// what a change did to each, so that a refused change can be undone.
class TagWork {
  public:
    explicit TagWork(table4* t) {
        for (auto* index = static_cast<index4*>(list4first(&t->indexes)); index != nullptr;
             index = static_cast<index4*>(list4next(&t->indexes, index)))
            for (auto* tag = static_cast<tag4*>(list4first(&index->tags)); tag != nullptr;
                 tag = static_cast<tag4*>(list4next(&index->tags, tag)))
                if (tag->tagFile->expr != nullptr) add(tag);
    }
    int count() const { return count_; }
    tag4* tag(int i) { return entry(i).tag; }
    uint8_t& done(int i) { return entry(i).done; }

  private:
    struct Entry {
        tag4* tag;
        uint8_t done;
    };
    static constexpr int kInline = 24;

    Entry& entry(int i) { return more_.empty() ? inline_[i] : more_[size_t(i)]; }
    void add(tag4* tag) {
        if (count_ == kInline) more_.assign(inline_, inline_ + kInline);
        if (count_ < kInline)
            inline_[count_] = Entry{tag, 0};
        else
            more_.push_back(Entry{tag, 0});
        count_++;
    }

    Entry inline_[kInline];
    std::vector<Entry> more_;  // every entry, once there are more than kInline
    int count_ = 0;
};

// Adds a record's key with the handle's duplicate-key code: 0, 20 or 25, or an
// error (-340 for a refused duplicate, or a null key in a candidate tag).
int32_t addKey(tag4* tag, const table4key& key, int32_t n) {
    tag4file* tf = tag->tagFile;
    const int16_t code = tag4uniqueCode(tag);
    if (key.isNull && (code == tag4candidateRefuse || code == tag4candidateError)) {
        if (code == tag4candidateRefuse) return r4unique;
        return error4raiseText(tf->env, e4unique, E4LOC(93501), tf->alias,
                               tf->indexFile->file.name);
    }
    return tag4addKey(tf, key.bytes, n, code);
}

// Undoes what a change of record n did to tags [0, last], the last first: keys
// added are removed, keys removed (from `oldRecord`) are added again. A pending
// error is kept. 0, or the error met undoing (then pending).
int32_t undoKeys(table4* t, TagWork& work, int last, int32_t n, const char* oldRecord) {
    env4* env = t->env;
    int32_t failed = 0;
    error4aside(env, [&] {
        for (int i = last; i >= 0; --i) {
            const uint8_t done = work.done(i);
            work.done(i) = 0;
            tag4* tag = work.tag(i);
            table4key key;
            int32_t rc = 0;
            if (done & kAdded) {
                rc = table4keyOf(t, tag, t->record, &key);
                if (rc == 0) rc = tag4removeKey(tag->tagFile, key.bytes, n);
            }
            if (rc >= 0 && (done & kRemoved)) {
                rc = table4keyOf(t, tag, oldRecord, &key);
                if (rc == 0) rc = tag4addKey(tag->tagFile, key.bytes, n, 0);
            }
            if (rc < 0) {
                // Go on with the other tags; the first failure is reported.
                if (failed == 0) failed = rc;
                env->errorCode = 0;
            }
        }
        return 0;
    });
    if (failed < 0) env->errorCode = failed;
    return failed;
}

// After a step failed with `rc`: undoes tags [0, last] and gives the result.
int32_t failAfter(table4* t, TagWork& work, int last, int32_t n, const char* oldRecord,
                  int32_t rc) {
    const int32_t undone = undoKeys(t, work, last, n, oldRecord);
    return undone < 0 ? undone : rc;
}

// Keeps every tag in step with record n going from `oldRecord` (null: a
// record that did not exist) to the buffer. 0, or the refusal or error with
// every tag as it was.
int32_t changeKeys(table4* t, TagWork& work, int32_t n, const char* oldRecord) {
    bool locked = false;
    for (int i = 0; i < work.count(); ++i) {
        tag4* tag = work.tag(i);
        tag4file* tf = tag->tagFile;
        table4key before, after;
        before.passes = false;
        int32_t rc = oldRecord != nullptr ? table4keyOf(t, tag, oldRecord, &before) : 0;
        if (rc == 0) rc = table4keyOf(t, tag, t->record, &after);
        if (rc < 0) return failAfter(t, work, i - 1, n, oldRecord, rc);
        if (!before.passes && !after.passes) continue;
        if (before.passes && after.passes &&
            std::memcmp(before.bytes, after.bytes, tf->keyLength) == 0)
            continue;
        if (!locked) {
            // Nothing has changed yet: a refused lock leaves everything as it was.
            bool took = false;
            if ((rc = lockIndexes(t, &took)) != 0) return rc;
            locked = true;
        }
        if (before.passes) {
            rc = tag4removeKey(tf, before.bytes, n);
            if (rc < 0) return failAfter(t, work, i - 1, n, oldRecord, rc);
            if (rc == 0) work.done(i) |= kRemoved;
        }
        if (after.passes) {
            rc = addKey(tag, after, n);
            if (rc == 0)
                work.done(i) |= kAdded;
            else if (rc != tag4uniqueKeep)
                return failAfter(t, work, i, n, oldRecord, rc);
        }
    }
    return 0;
}

// Adds the buffer's keys for the new record n. 0, or the refusal or error with
// every tag as it was; *took tells whether the index locks were taken here.
int32_t addKeys(table4* t, TagWork& work, int32_t n, bool* took) {
    bool locked = false;
    for (int i = 0; i < work.count(); ++i) {
        tag4* tag = work.tag(i);
        table4key key;
        int32_t rc = table4keyOf(t, tag, t->record, &key);
        if (rc < 0) return failAfter(t, work, i - 1, n, nullptr, rc);
        if (!key.passes) continue;
        if (!locked) {
            if ((rc = lockIndexes(t, took)) != 0) return rc;
            locked = true;
        }
        rc = addKey(tag, key, n);
        if (rc == 0)
            work.done(i) |= kAdded;
        else if (rc != tag4uniqueKeep)
            return failAfter(t, work, i - 1, n, nullptr, rc);
    }
    return 0;
}

// The keys of an append that failed after its index locks were released.
int32_t undoAppendKeys(table4* t, TagWork& work, int32_t n) {
    bool any = false;
    for (int i = 0; i < work.count(); ++i) any = any || work.done(i) != 0;
    if (!any) return 0;
    return error4aside(t->env, [&] {
        bool took = false;
        int32_t rc = lockIndexes(t, &took);
        if (rc == 0) rc = undoKeys(t, work, work.count() - 1, n, nullptr);
        if (took) {
            const int32_t released = unlockIndexes(t);
            if (rc == 0) rc = released;
        }
        return rc;
    });
}

// The old contents of record n for the key changes and for undoing a failed
// write: the old-record copy when it can be trusted, else read from the file.
// Null for a record beyond the count (nothing stood there). 0 or an error.
int32_t oldRecordOf(table4* t, int32_t n, int32_t count, const char** out) {
    table4file* d = t->dataFile;
    *out = nullptr;
    if (n > count) return 0;
    // In a shared file the copy lives only while the handle keeps the record's
    // lock; in one opened unshared, another handle of this environment could
    // have written the record since.
    if (t->recordOldNum == n && (table4openShared(d) || d->useCount == 1)) {
        *out = t->recordOld;
        return 0;
    }
    int64_t pos = 0;
    if (recordPosition(d, n, &pos) < 0)
        return error4raiseText(t->env, e4write, E4LOC(93502), d->name);
    const int32_t rc = file4readAll(&d->file, int32_t(pos), t->recordOld, d->recordLen);
    if (rc < 0) {
        t->recordOldNum = -1;
        return rc;
    }
    t->recordOldNum = n;
    *out = t->recordOld;
    return 0;
}

// The buffer just written as record n becomes the old-record copy.
void keepCopy(table4* t, int32_t n) {
    table4file* d = t->dataFile;
    if (table4openShared(d) || d->useCount == 1) {
        std::memcpy(t->recordOld, t->record, d->recordLen);
        t->recordOldNum = n;
    } else {
        t->recordOldNum = -1;
    }
}

// Puts the end of the data file back as it was before an append wrote at
// `pos`: the file ends there (a 0x03 file with its end-of-file byte).
void restoreEnd(table4file* d, int32_t pos, int32_t end) {
    error4aside(d->env, [&] {
        if (file4setLength(&d->file, pos + end) == 0 && end > 0)
            (void)file4write(&d->file, pos, &table4endOfFile, 1);  // best effort, as below
        d->env->errorCode = 0;
        return 0;
    });
}

// Writes the appended record (count + 1) and, unless the file is held
// exclusive, the header's count and date. On failure the file is as before.
int32_t writeAppended(table4* t, int32_t count, int32_t pos) {
    table4file* d = t->dataFile;
    const int32_t length = d->recordLen;
    const int32_t end = d->version == table4version30 ? 0 : 1;
    // The buffer has a spare byte after the record: one write carries both.
    t->record[length] = char(table4endOfFile);
    int32_t rc = file4write(&d->file, pos, t->record, length + end);
    t->record[length] = '\0';
    if (rc < 0) {
        restoreEnd(d, pos, end);
        return rc;
    }
    d->heldCount = count + 1;
    d->headerChanged = d->dateChanged = d->countChanged = 1;
    if (d->file.accessMode == 1) return 0;
    uint8_t date[3];
    std::memcpy(date, d->date, sizeof date);
    u4today(d->date);
    rc = table4writeHeader(d, 1, 1);
    if (rc < 0) {
        error4aside(d->env, [&] {
            d->heldCount = count;
            std::memcpy(d->date, date, sizeof date);
            (void)table4writeHeader(d, 1, 1);  // best effort: the write's own error is reported
            d->env->errorCode = 0;
            return 0;
        });
        restoreEnd(d, pos, end);
    }
    return rc;
}

// The append once the count may be changed.
int32_t appendHeld(table4* t) {
    env4* env = t->env;
    table4file* d = t->dataFile;
    const int32_t count = table4recordCountLow(d, t->lockOwner);
    if (count < 0) return count;
    const int32_t n = count + 1;
    int64_t pos = 0;
    if (count == INT32_MAX || recordPosition(d, n, &pos) < 0 || pos + d->recordLen + 1 > INT32_MAX)
        return error4raiseText(env, e4tableFull, E4LOC(93510), d->name);
    // The new record's lock, without the automatic release giving up the
    // append lock just taken.
    const int32_t unlockAuto = env->unlockAuto;
    env->unlockAuto = 0;
    int32_t rc = table4lockRecord(t, n);
    env->unlockAuto = unlockAuto;
    if (rc != 0) return rc;

    t->bof = t->eof = 0;
    t->recordChanged = 0;
    t->recNum = n;
    TagWork work(t);
    bool tookIndexes = false;
    rc = addKeys(t, work, n, &tookIndexes);
    if (tookIndexes) {
        const int32_t released = error4aside(env, [&] { return unlockIndexes(t); });
        if (rc == 0 && released < 0) rc = released;
    }
    if (rc == 0) rc = writeAppended(t, count, int32_t(pos));
    if (rc == 0) {
        keepCopy(t, n);
        return 0;
    }
    const int32_t undone = undoAppendKeys(t, work, n);
    t->recNum = 0;
    error4aside(env, [&] { return table4unlockRecord(t, n); });
    return undone < 0 ? undone : rc;
}

}  // namespace

int32_t table4write(table4* t, int32_t n, int unlock) {
    if (int32_t rc = enterWriting(t, E4LOC(93520))) return rc;
    env4* env = t->env;
    table4file* d = t->dataFile;
    if (n == -1) n = t->recNum;
    // A record loaded at bof (a skip back past the first record) is current
    // and may be written; at eof there is none.
    if (n < 1 || t->eof || (t->bof && t->recNum < 1))
        return error4raiseText(env, e4write, E4LOC(93523), t->alias);
    int32_t rc = table4lockRecord(t, n);
    if (rc != 0) return rc;
    const int32_t count = table4recordCountLow(d, t->lockOwner);
    if (count < 0) return count;
    if (n > count + (table4holdsCount(t) ? 1 : 0))
        return error4raiseText(env, e4write, E4LOC(93524), t->alias);
    int64_t pos = 0;
    if (recordPosition(d, n, &pos) < 0) return error4raiseText(env, e4write, E4LOC(93525), d->name);

    const char* old = nullptr;
    TagWork work(t);
    if (work.count() > 0) {
        if ((rc = oldRecordOf(t, n, count, &old)) < 0) return rc;
        if (old == nullptr || std::memcmp(old, t->record, d->recordLen) != 0) {
            rc = changeKeys(t, work, n, old);
            if (rc != 0) {
                if ((rc == r4unique || rc == e4unique) && old != nullptr && n == t->recNum) {
                    std::memcpy(t->record, old, d->recordLen);
                    t->recordChanged = 0;
                }
                return rc;
            }
        }
    } else if (t->recordOldNum == n && (table4openShared(d) || d->useCount == 1)) {
        old = t->recordOld;  // only for putting the bytes back should the write fail
    }

    rc = file4write(&d->file, int32_t(pos), t->record, d->recordLen);
    if (rc < 0) {
        if (old != nullptr)
            error4aside(env, [&] {
                (void)file4write(&d->file, int32_t(pos), old, d->recordLen);  // best effort
                env->errorCode = 0;
                return 0;
            });
        const int32_t undone = undoKeys(t, work, work.count() - 1, n, old);
        return undone < 0 ? undone : rc;
    }
    d->headerChanged = d->dateChanged = 1;
    if (n == t->recNum) t->recordChanged = 0;
    keepCopy(t, n);
    if (unlock && env->unlockAuto != 0 && d->fileLockOwner != t->lockOwner) return table4unlock(t);
    return 0;
}

int32_t table4writeChanged(table4* t, int unlock) {
    if (int32_t rc = table4enter(t, E4LOC(93530))) return rc;
    if (t->recNum >= 1 && !t->eof && t->recordChanged) return table4write(t, t->recNum, unlock);
    t->recordChanged = 0;
    if (unlock && t->env->unlockAuto != 0 && t->dataFile->fileLockOwner != t->lockOwner)
        return table4unlock(t);
    return 0;
}

int32_t table4writeBack(table4* t) {
    return table4writeChanged(t, 0);
}

int32_t table4beginAppend(table4* t, int32_t) {
    if (int32_t rc = table4enter(t, E4LOC(93535))) return rc;
    int32_t rc = table4writeChanged(t, 0);
    if (rc != 0) return rc;
    t->recNum = 0;
    // A file not opened shared holds no locks to give up.
    table4file* d = t->dataFile;
    if (t->env->unlockAuto != 0 && table4openShared(d) && d->fileLockOwner != t->lockOwner)
        rc = table4unlock(t);
    return rc;
}

int32_t table4append(table4* t) {
    if (int32_t rc = enterWriting(t, E4LOC(93540))) return rc;
    env4* env = t->env;
    table4file* d = t->dataFile;
    // A lock the caller took stays; one taken here goes again.
    const bool tookAppend = !table4holdsCount(t);
    if (tookAppend) {
        const int32_t rc = table4lockAppend(t);
        if (rc != 0) return rc;
        d->heldCount = -1;  // others may have appended while we held nothing
    }
    int32_t rc = appendHeld(t);
    if (tookAppend) {
        const int32_t released = error4aside(env, [&] { return table4unlockAppend(t); });
        if (rc == 0 && released < 0) rc = released;
    }
    return rc;
}

int32_t table4pack(table4* t) {
    if (int32_t rc = enterWriting(t, E4LOC(93550))) return rc;
    env4* env = t->env;
    table4file* d = t->dataFile;
    int32_t rc = table4lockAll(t);
    if (rc == 0) rc = table4writeChanged(t, 0);
    if (rc != 0) return rc;
    const int32_t count = table4recordCountLow(d, t->lockOwner);
    if (count < 0) return count;
    const int32_t length = d->recordLen;

    // A reading and a writing buffer, as large as memory allows up to a group;
    // none at all reads and writes record by record.
    char* in = nullptr;
    char* out = nullptr;
    int32_t size = env->bufferGroupSize;
    for (; size > length; size -= 2048) {
        in = static_cast<char*>(mem4alloc(size));
        out = static_cast<char*>(mem4alloc(size));
        if (in != nullptr && out != nullptr) break;
        mem4free(in);
        mem4free(out);
        in = out = nullptr;
    }
    if (in == nullptr) size = 0;
    file4seqReader reader;
    file4seqWriter writer;
    file4seqReadInit(&reader, &d->file, d->headerLen, in, size);
    file4seqWriteInit(&writer, &d->file, d->headerLen, out, size);
    int32_t kept = 0;
    // The writer never passes the reader: every record kept moves down or stays.
    for (int32_t i = 1; i <= count && rc == 0; ++i) {
        rc = file4seqReadAll(&reader, t->record, length);
        if (rc == 0 && t->record[0] != '*') {
            rc = file4seqWrite(&writer, t->record, length);
            kept++;
        }
    }
    const int32_t end = d->version == table4version30 ? 0 : 1;
    if (rc == 0 && end > 0) rc = file4seqWrite(&writer, &table4endOfFile, 1);
    if (rc == 0) rc = file4seqWriteFlush(&writer);
    mem4free(in);
    mem4free(out);
    if (rc < 0) return rc;
    if ((rc = file4setLength(&d->file, d->headerLen + kept * length + end)) < 0) return rc;
    d->heldCount = kept;
    d->headerChanged = d->dateChanged = d->countChanged = 1;

    table4blankBuffer(t);
    t->recNum = -1;
    t->recordOldNum = -1;
    t->recordChanged = 0;
    t->bof = t->eof = kept == 0 ? 1 : 0;
    rc = table4reindex(t);
    u4today(d->date);
    const int32_t header = table4writeHeader(d, 1, 1);
    return rc != 0 ? rc : header;
}

int32_t table4flush(table4* t) {
    if (int32_t rc = table4enter(t, E4LOC(93560))) return rc;
    table4file* d = t->dataFile;
    int32_t rc = table4writeChanged(t, 0);
    if (rc != 0) return rc;
    if (!table4openShared(d) && d->headerChanged && !d->file.isReadOnly) {
        if (d->dateChanged) u4today(d->date);
        if ((rc = table4writeHeader(d, d->dateChanged, d->countChanged)) < 0) return rc;
    }
    if ((rc = file4flush(&d->file)) < 0) return rc;
    forEachIndexFile(d, [&](index4file* f) {
        if (rc == 0) rc = index4flush(f);
    });
    return rc;
}

int32_t table4refresh(table4* t) {
    if (table4enter(t, E4LOC(93570)) != 0) return -1;
    table4file* d = t->dataFile;
    int32_t rc = file4dropBuffers(&d->file);
    forEachIndexFile(d, [&](index4file* f) {
        // An index this process holds locked was read afresh as far as needed when the lock
        // was taken (index4lock), and nobody else has written it since.
        if (f->lockOwner != 0 && f->file.accessMode == 0 && !f->file.isReadOnly) return;
        if (f->file.accessMode != 1 && rc == 0) rc = file4dropBuffers(&f->file);
        const int32_t r = index4fileForget(f);
        if (rc == 0 && r < 0) rc = r;
    });
    t->recordOldNum = -1;
    return rc < 0 ? -1 : 0;
}

int32_t table4reindex(table4* t) {
    if (int32_t rc = enterWriting(t, E4LOC(93580))) return rc;
    int32_t rc = table4writeChanged(t, 0);
    for (auto* index = static_cast<index4*>(list4first(&t->indexes)); index != nullptr && rc == 0;
         index = static_cast<index4*>(list4next(&t->indexes, index)))
        rc = index4reindex(index);
    return rc;
}
