#include "xbase/table/table4nav.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/util4.h"
#include "xbase/expr/expr4.h"
#include "xbase/file/file4.h"
#include "xbase/index/tag4.h"
#include "xbase/record/table4format.h"
#include "xbase/table/index4.h"
#include "xbase/table/lock4.h"
#include "xbase/table/table4.h"
#include "xbase/table/table4internal.h"
#include "xbase/table/table4write.h"
#include "xbase/values/collate4.h"

namespace {

// No other process can change the file under this handle.
bool holdsFile(const table4* t) {
    const table4file* d = t->dataFile;
    return !table4openShared(d) || d->fileLockOwner == t->lockOwner;
}

// Reads record n into the buffer: 0, 5 when it is not there whole, or an error.
// The record number is n, or -1 when nothing was read.
int32_t readRecord(table4* t, int32_t n) {
    table4file* d = t->dataFile;
    const int64_t pos = int64_t{d->headerLen} + int64_t{n - 1} * d->recordLen;
    t->recNum = -1;
    if (n < 1 || pos + d->recordLen > INT32_MAX) {
        table4blankBuffer(t);
        return r4entry;
    }
    const int32_t got = file4read(&d->file, int32_t(pos), t->record, d->recordLen);
    if (got < 0) return got;
    if (got < d->recordLen) {
        table4blankBuffer(t);
        return r4entry;
    }
    t->recNum = n;
    return 0;
}

// A record that is not there: no current record; -70 with errGo, else 5.
int32_t missing(table4* t, bool raise) {
    t->recNum = -1;
    table4blankBuffer(t);
    if (raise && t->env->errGo) return error4raiseText(t->env, e4read, E4LOC(93401), t->alias);
    return r4entry;
}

// Loads record n, known to lie within the count; `raise` applies errGo when it
// cannot be read whole.
int32_t loadExisting(table4* t, int32_t n, bool raise) {
    bool locked = false;
    if (t->env->readLock && !table4isRecordLocked(t, n)) {
        const int32_t rc = table4lockRecord(t, n);
        if (rc != 0) return rc;
        locked = true;
    }
    const int32_t rc = readRecord(t, n);
    if (rc != 0) {
        if (locked) error4aside(t->env, [&] { return table4unlockRecord(t, n); });
        return rc == r4entry ? missing(t, raise) : rc;
    }
    t->bof = t->eof = 0;
    t->recordChanged = 0;
    if (table4isRecordLocked(t, n)) {
        std::memcpy(t->recordOld, t->record, t->dataFile->recordLen);
        t->recordOldNum = n;
    }
    return 0;
}

// table4go after the write-back; `raise` applies errGo to a missing record.
int32_t goLow(table4* t, int32_t n, bool raise) {
    const int32_t exists = table4recordExists(t, n);
    if (exists < 0) return exists;
    if (exists == 0) return missing(t, raise);
    return loadExisting(t, n, raise);
}

// Another process's change to the tag's index file: its nodes are read afresh
// and the selected tag stands where it stood.
int32_t refreshIndex(tag4* tag) {
    const index4file* f = tag->index->indexFile;
    if (f->lockOwner != 0 || f->file.accessMode != 0) return 0;
    return index4refresh(tag->index);
}

// Loads the record of the tag's entry, passing over entries of records beyond
// the count in the direction `dir` (1 or -1, the tag's order). `record` is the
// entry's record number when the caller has it already (0: read it here). 0, 3
// when no such entry is left, or an error.
int32_t loadEntry(table4* t, tag4file* tf, int dir, int32_t record = 0) {
    for (;;) {
        if (record == 0) record = tag4recordNumber(tf);
        if (record < -2) return record;
        if (record < 1) return r4eof;  // past the end, an empty tag, or no position
        const int32_t exists = table4recordExists(t, record);
        if (exists < 0) return exists;
        if (exists == 1) {
            const int32_t rc = loadExisting(t, record, false);
            if (rc != r4entry) return rc;
        }
        const int32_t moved = tag4skipInOrder(tf, dir);
        if (error4pending(t->env)) return t->env->errorCode;
        if (moved == 0) return r4eof;
        record = 0;
    }
}

// Both ends at once: an empty order.
int32_t emptyOrder(table4* t) {
    const int32_t rc = table4goEofLow(t);
    if (rc < 0) return rc;
    t->bof = 1;
    return r4eof;
}

int32_t topLow(table4* t) {
    if (tag4* tag = t->selectedTag) {
        tag4file* tf = tag->tagFile;
        int32_t rc = refreshIndex(tag);
        if (rc == 0) rc = tag4top(tf);
        if (rc == 0) rc = loadEntry(t, tf, 1);
        return rc == r4eof ? table4goEofLow(t) : rc;
    }
    const int32_t count = table4recordCountLow(t->dataFile, t->lockOwner);
    if (count < 0) return count;
    if (count == 0) return emptyOrder(t);
    return goLow(t, 1, false);
}

int32_t bottomLow(table4* t) {
    if (tag4* tag = t->selectedTag) {
        tag4file* tf = tag->tagFile;
        int32_t rc = refreshIndex(tag);
        if (rc == 0) rc = tag4bottom(tf);
        if (rc == 0) rc = loadEntry(t, tf, -1);
        return rc == r4eof ? emptyOrder(t) : rc;
    }
    const int32_t count = table4recordCountLow(t->dataFile, t->lockOwner);
    if (count < 0) return count;
    if (count == 0) return emptyOrder(t);
    return goLow(t, count, false);
}

int32_t skipRecords(table4* t, int32_t n) {
    const int64_t target = int64_t{t->recNum} + n;
    if (target > 0 && target <= INT32_MAX) {
        const int32_t rc = goLow(t, int32_t(target), false);
        if (rc != r4entry) return rc;
    }
    const int32_t count = table4recordCountLow(t->dataFile, t->lockOwner);
    if (count < 0) return count;
    if (count == 0) return emptyOrder(t);
    if (target < 1) {
        const int32_t rc = goLow(t, 1, false);
        if (rc != 0) return rc;
        t->bof = 1;
        return r4bof;
    }
    return table4goEofLow(t);
}

// Puts the tag on the current record's entry. When that entry is missing the
// tag stands on the entry that follows in stored order: 1, else 0; or an error.
int32_t positionOnRecord(table4* t, tag4* tag) {
    tag4file* tf = tag->tagFile;
    if (tag4recordNumber(tf) == t->recNum) return 0;
    // A record the filter leaves out has no entry; its key still tells where
    // it would stand.
    table4key key;
    int32_t rc = table4keyOf(t, tag, t->record, &key, true);
    if (rc < 0) return rc;
    rc = tag4seekKeyRecord(tf, key.bytes, t->recNum, 0);
    if (rc < 0) return rc;
    return rc == 0 ? 0 : 1;
}

int32_t skipTag(table4* t, tag4* tag, int32_t n) {
    tag4file* tf = tag->tagFile;
    int32_t rc = refreshIndex(tag);
    if (rc < 0) return rc;
    if (t->eof) {
        if (n >= 0) return r4eof;
        // Back from eof: the bottom is the first step.
        rc = bottomLow(t);
        if (rc == r4eof) return r4bof;  // empty: bof and eof both set
        if (rc != 0) return rc;
        if (++n == 0) return 0;
    } else {
        if (n == 0) return 0;
        rc = positionOnRecord(t, tag);
        if (rc < 0) return rc;
        // Standing on the following entry already made one step that way.
        if (rc == 1 && (tf->descending ? n < 0 : n > 0)) n += n > 0 ? -1 : 1;
    }
    // A skip gives the entries moved, negative going back.
    const int32_t moved = n != 0 ? tag4skipInOrder(tf, n) : 0;
    if (error4pending(t->env)) return t->env->errorCode;
    const int32_t record = tag4recordNumber(tf);
    if (record < -2) return record;
    if (record == 0 || record == -2) return emptyOrder(t);
    if (record == -1) {
        // Only a step onto the following entry was made, and none follows in
        // stored order: the end of an ascending order, the start of a
        // descending one.
        if (!tf->descending) return table4goEofLow(t);
        if ((rc = tag4top(tf)) == 0) rc = loadEntry(t, tf, 1);
        if (rc == r4eof) return emptyOrder(t);
        if (rc != 0) return rc;
        t->bof = 1;
        return r4bof;
    }
    if (n > 0 && moved < n) return table4goEofLow(t);
    const int dir = n < 0 ? -1 : 1;
    rc = loadEntry(t, tf, dir, record);
    if (rc == r4eof && dir > 0) return table4goEofLow(t);
    if (rc == r4eof) {
        // Only entries of records beyond the count lie before: the first record
        // in order is the one after them.
        rc = loadEntry(t, tf, 1);
        if (rc == r4eof) return emptyOrder(t);
        if (rc != 0) return rc;
        t->bof = 1;
        return r4bof;
    }
    if (rc != 0) return rc;
    if (n < 0 && moved > n) {
        t->bof = 1;
        return r4bof;
    }
    return 0;
}

// The search key of a seek in `tf`: into `out` (tag4maxKeyLength + 1 bytes),
// with the length to compare over. 0 or an error.
int32_t searchKey(table4* t, tag4file* tf, const char* key, int32_t length, uint8_t* out,
                  int32_t* outLength) {
    env4* env = t->env;
    expression4* expr = tf->expr;
    if (expr == nullptr) return error4raiseText(env, e4struct, E4LOC(93410), tf->alias);
    const int32_t K = tf->keyLength;
    if (length == 0 && t->dataFile->version == table4version30) {
        // The null key: zero bytes over the whole length.
        std::memset(out, 0, size_t(K));
        *outLength = K;
        return 0;
    }
    // The conversion without the null prefix, which the seek puts in itself.
    expr4tag plain = tf->exprTag;
    plain.options |= expr4optionCandidate;
    const int32_t prefix = expr->hasNullable && (tf->exprTag.options & expr4optionCandidate) == 0;
    const char type = tf->type;
    const int32_t room = K - prefix;
    int32_t len = length;
    if (type == 'C') {
        if (tf->general) {
            if (room % 2 != 0) return error4raiseText(env, e4index, E4LOC(93411), tf->alias);
            len = std::min(len, room / 2);
        } else {
            len = std::min(len, room);
        }
    } else {
        const int32_t need = type == 'I' ? 4 : type == 'L' ? 1 : 8;
        if (len < need && !(type == 'N' && len > 0))
            return error4raiseText(env, e4parm, E4LOC(93412), tf->alias);
    }
    if (prefix) out[0] = 0x80;
    if (type == 'C' && tf->general) {
        // Over the whole key: a text shorter than the key gets its primary weights
        // only, and finds every key that begins with it.
        const int got = collate4key(reinterpret_cast<const uint8_t*>(key), len, tf->codePage,
                                    out + prefix, room);
        if (got < 0) return error4raiseText(env, e4index, E4LOC(93414), tf->alias);
        *outLength = prefix + got;
        return 0;
    }
    int32_t flag = 0;
    const char* value = key;
    if (type == 'L') {
        flag = key[0] == 'T' || key[0] == 't' || key[0] == 'Y' || key[0] == 'y';
        value = reinterpret_cast<const char*>(&flag);
        len = sizeof flag;
    }
    char* converted = const_cast<char*>(value);
    const int32_t got = expr4keyConvert(expr, &converted, len, type, &plain);
    if (got < 0) return got;
    if (got > room || (type != 'C' && got != room))
        return error4raiseText(env, e4index, E4LOC(93413), tf->alias);
    std::memcpy(out + prefix, converted, size_t(got));
    *outLength = prefix + got;
    return 0;
}

}  // namespace

// ---- shared with record writing ----

int32_t table4enter(table4* t, error4span<2> location) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, location.at<0>());
    if (t->dataFile == nullptr) return error4raise(t->env, e4struct, location.at<1>());
    if (error4pending(t->env)) return e4codeBase;
    return 0;
}

bool table4openShared(const table4file* d) {
    return d->file.accessMode == 0;
}

bool table4holdsCount(const table4* t) {
    const table4file* d = t->dataFile;
    return !table4openShared(d) || d->appendLockOwner == t->lockOwner ||
           d->fileLockOwner == t->lockOwner;
}

void table4blankBuffer(table4* t) {
    const int32_t width = t->dataFile->recordLen;
    if (t->blankRecord != nullptr)
        std::memcpy(t->record, t->blankRecord, width);
    else
        std::memset(t->record, ' ', width);
}

int32_t table4keyOf(table4* t, tag4* tag, const char* record, table4key* out, bool always) {
    tag4file* tf = tag->tagFile;
    env4* env = t->env;
    if (tf->expr == nullptr) return error4raiseText(env, e4struct, E4LOC(93420), tf->alias);
    int32_t rc = expr4setTable(tf->expr, t);
    if (rc == 0 && tf->filter != nullptr) rc = expr4setTable(tf->filter, t);
    if (rc < 0) return rc;
    table4file* d = t->dataFile;
    // The expressions read the record through the data file's current record.
    d->currentRecord = const_cast<char*>(record);
    out->passes = true;
    out->isNull = false;
    if (tf->filter != nullptr) {
        rc = expr4true(tf->filter);
        out->passes = rc == 1;
    }
    char* key = nullptr;
    const bool build = out->passes || always;
    if (rc >= 0 && build) {
        rc = expr4key(tf->expr, &key, &tf->exprTag);
        out->isNull = expr4isNull(tf->expr) == 1;
    }
    d->currentRecord = t->record;
    if (rc < 0 || !build) return rc < 0 ? rc : 0;
    if (rc != tf->keyLength) return error4raiseText(env, e4index, E4LOC(93421), tf->alias);
    std::memcpy(out->bytes, key, size_t(rc));
    return 0;
}

int32_t table4recordExists(table4* t, int32_t n) {
    if (n < 1) return 0;
    table4file* d = t->dataFile;
    int32_t seen = d->headerCount;
    if (table4holdsCount(t) && d->heldCount >= 0 && d->heldCount < seen) seen = d->heldCount;
    if (n <= seen) return 1;
    const int32_t count = table4recordCountLow(d, t->lockOwner);
    if (count < 0) return count;
    return n <= count ? 1 : 0;
}

int32_t table4goEofLow(table4* t) {
    const int32_t count = table4recordCountLow(t->dataFile, t->lockOwner);
    if (count < 0) return count;
    t->recNum = count + 1;
    t->eof = 1;
    t->bof = count == 0 ? 1 : 0;
    t->recordChanged = 0;
    table4blankBuffer(t);
    return r4eof;
}

// ---- moving ----

int32_t table4go(table4* t, int32_t n) {
    if (int32_t rc = table4enter(t, E4LOC(93430))) return rc;
    const int32_t rc = table4writeChanged(t, 0);
    if (rc != 0) return rc;
    return goLow(t, n, true);
}

int32_t table4goQuiet(table4* t, int32_t n) {
    if (int32_t rc = table4enter(t, E4LOC(93480))) return rc;
    const int32_t rc = table4writeChanged(t, 0);
    if (rc != 0) return rc;
    return goLow(t, n, false);
}

int32_t table4probeN(table4* t, const char* key, int32_t length) {
    if (int32_t rc = table4enter(t, E4LOC(93482))) return rc;
    if (key == nullptr || length < 1) return error4raise(t->env, e4parm, E4LOC(93484));
    tag4* tag = table4seekTag(t);
    if (tag == nullptr) return r4noTag;
    tag4file* tf = tag->tagFile;
    uint8_t search[tag4maxKeyLength + 1];
    int32_t searchLength = 0;
    int32_t rc = searchKey(t, tf, key, length, search, &searchLength);
    if (rc < 0) return rc;
    if ((rc = table4writeChanged(t, 0)) != 0) return rc;
    if ((rc = refreshIndex(tag)) < 0) return rc;
    int32_t record = 0;
    if ((rc = tag4probe(tf, search, searchLength, &record)) != 0) return rc;
    return goLow(t, record, false);
}

int32_t table4loadRecord(table4* t, int32_t n) {
    if (int32_t rc = table4enter(t, E4LOC(93432))) return rc;
    const int32_t rc = readRecord(t, n);
    if (rc == 0) t->bof = t->eof = 0;
    return rc;
}

int32_t table4goTop(table4* t) {
    if (int32_t rc = table4enter(t, E4LOC(93434))) return rc;
    const int32_t rc = table4writeChanged(t, 0);
    return rc != 0 ? rc : topLow(t);
}

int32_t table4goBottom(table4* t) {
    if (int32_t rc = table4enter(t, E4LOC(93436))) return rc;
    const int32_t rc = table4writeChanged(t, 0);
    return rc != 0 ? rc : bottomLow(t);
}

int32_t table4goEof(table4* t) {
    if (int32_t rc = table4enter(t, E4LOC(93438))) return rc;
    const int32_t rc = table4writeChanged(t, 0);
    return rc != 0 ? rc : table4goEofLow(t);
}

int32_t table4skip(table4* t, int32_t n) {
    if (int32_t rc = table4enter(t, E4LOC(93440))) return rc;
    if (t->recNum < 1) return error4raiseText(t->env, e4info, E4LOC(93442), t->alias);
    const int32_t rc = table4writeChanged(t, 0);
    if (rc != 0) return rc;
    return t->selectedTag != nullptr ? skipTag(t, t->selectedTag, n) : skipRecords(t, n);
}

int32_t table4seek(table4* t, const char* text) {
    if (int32_t rc = table4enter(t, E4LOC(93444))) return rc;
    if (text == nullptr) return error4raise(t->env, e4parmNull, E4LOC(93446));
    return table4seekN(t, text, int32_t(std::strlen(text)));
}

int32_t table4seekN(table4* t, const char* key, int32_t length) {
    if (int32_t rc = table4enter(t, E4LOC(93450))) return rc;
    env4* env = t->env;
    if (length < 0) return error4raise(env, e4parm, E4LOC(93452));
    if (key == nullptr && length > 0) return error4raise(env, e4parmNull, E4LOC(93453));
    tag4* tag = table4seekTag(t);
    if (tag == nullptr) return r4noTag;
    tag4file* tf = tag->tagFile;
    // The search key is taken before anything evaluates a key expression: the text
    // may come from field4string, in the work area that evaluations reuse.
    uint8_t search[tag4maxKeyLength + 1];
    int32_t searchLength = 0;
    int32_t rc = searchKey(t, tf, key != nullptr ? key : "", length, search, &searchLength);
    if (rc < 0) return rc;
    if ((rc = table4writeChanged(t, 0)) != 0) return rc;
    if ((rc = refreshIndex(tag)) < 0) return rc;
    const int32_t found = tag4seek(tf, search, searchLength);
    if (found < 0) return found;
    if (found == r4eof || tag4eof(tf) == 1) return table4goEofLow(t);

    // Stand on an entry whose record exists and, unless no other process can
    // write, still has the entry's key.
    const bool trusted = holdsFile(t);
    // A seek that found the whole key stands on an entry of that very key: the first entry's
    // key needs no rebuilding from its leaf.
    const bool wholeKey = found == 0 && searchLength == tf->keyLength && !tf->general;
    bool skipped = false;
    for (;;) {
        const int32_t record = tag4recordNumber(tf);
        if (record < -2) return record;
        if (record < 1) return table4goEofLow(t);
        const int32_t exists = table4recordExists(t, record);
        if (exists < 0) return exists;
        if (exists == 1) {
            rc = loadExisting(t, record, false);
            if (rc < 0 || (rc != 0 && rc != r4entry)) return rc;
            if (rc == 0) {
                if (trusted) break;
                const uint8_t* entry = wholeKey && !skipped ? search : tag4key(tf);
                table4key now;
                if ((rc = table4keyOf(t, tag, t->record, &now)) < 0) return rc;
                if (entry != nullptr && now.passes &&
                    std::memcmp(entry, now.bytes, tf->keyLength) == 0)
                    break;
            }
        }
        skipped = true;
        const int32_t moved = tag4skipInOrder(tf, 1);
        if (error4pending(env)) return env->errorCode;
        if (moved == 0) return table4goEofLow(t);
    }
    if (!skipped) return found;
    const uint8_t* entry = tag4key(tf);
    if (entry == nullptr) return table4goEofLow(t);
    return std::memcmp(entry, search, size_t(searchLength)) == 0 ? 0 : r4after;
}

double table4position(table4* t) {
    if (t == nullptr || t->dataFile == nullptr || error4pending(t->env)) return -1.0;
    if (t->eof) return 1.1;
    if (tag4* tag = t->selectedTag) {
        if (t->recNum < 1) return 0.0;
        if (refreshIndex(tag) < 0 || positionOnRecord(t, tag) < 0) return -1.0;
        const double at = tag4position(tag->tagFile);
        return at < 0 ? -1.0 : at;
    }
    const int32_t count = table4recordCountLow(t->dataFile, t->lockOwner);
    if (count < 0) return -1.0;
    if (count == 0 || t->recNum < 1) return 0.0;
    return double(t->recNum - 1) / double(count == 1 ? 1 : count - 1);
}

int32_t table4setPosition(table4* t, double fraction) {
    if (int32_t rc = table4enter(t, E4LOC(93460))) return rc;
    if (std::isnan(fraction)) return error4raise(t->env, e4parm, E4LOC(93462));
    if (fraction <= 0.0) return table4goTop(t);
    if (fraction > 1.0) return table4goEof(t);
    int32_t rc = table4writeChanged(t, 0);
    if (rc != 0) return rc;
    if (tag4* tag = t->selectedTag) {
        tag4file* tf = tag->tagFile;
        rc = refreshIndex(tag);
        if (rc == 0) rc = tag4setPosition(tf, fraction);
        if (rc == 0) rc = loadEntry(t, tf, 1);
        return rc == r4eof ? table4goEofLow(t) : rc;
    }
    const int32_t count = table4recordCountLow(t->dataFile, t->lockOwner);
    if (count < 0) return count;
    if (count == 0) return emptyOrder(t);
    const double at = double(count - 1) * fraction + 1.5;
    return goLow(t, at >= double(count) ? count : int32_t(at), false);
}

// ---- tags ----

index4* table4index(table4* t, const char* name) {
    if (t == nullptr || name == nullptr) {
        error4raise(t != nullptr ? t->env : nullptr, e4parmNull, E4LOC(93470));
        return nullptr;
    }
    env4* env = t->env;
    if (error4pending(env)) return nullptr;
    std::string path;
    if (u4pathWithExt(env, name, env->indexExtension[0] != '\0' ? env->indexExtension : "cdx",
                      false, path) < 0)
        return nullptr;
    const u4identity id = u4identify(path);
    for (auto* index = static_cast<index4*>(list4first(&t->indexes)); index != nullptr;
         index = static_cast<index4*>(list4next(&t->indexes, index))) {
        const file4& f = index->indexFile->file;
        if (id.found ? f.device == id.device && f.inode == id.inode : path == f.name) return index;
    }
    return nullptr;
}

tag4* table4findTag(table4* t, const char* name) {
    if (t == nullptr || name == nullptr) {
        error4raise(t != nullptr ? t->env : nullptr, e4parmNull, E4LOC(93472));
        return nullptr;
    }
    if (error4pending(t->env)) return nullptr;
    char wanted[tag4nameLength + 1];
    u4ncpy(wanted, name, sizeof wanted);
    c4trimN(wanted, sizeof wanted);
    c4upper(wanted);
    for (auto* index = static_cast<index4*>(list4first(&t->indexes)); index != nullptr;
         index = static_cast<index4*>(list4next(&t->indexes, index)))
        for (auto* tag = static_cast<tag4*>(list4first(&index->tags)); tag != nullptr;
             tag = static_cast<tag4*>(list4next(&index->tags, tag)))
            if (std::strcmp(tag->tagFile->alias, wanted) == 0) return tag;
    if (t->env->errTagName) error4raiseText(t->env, e4tagName, E4LOC(93474), wanted, t->alias);
    return nullptr;
}

tag4* table4seekTag(table4* t) {
    if (t == nullptr) return nullptr;
    if (t->selectedTag != nullptr) return t->selectedTag;
    auto* index = static_cast<index4*>(list4first(&t->indexes));
    return index != nullptr ? static_cast<tag4*>(list4first(&index->tags)) : nullptr;
}

tag4* table4selectTag(table4* t, tag4* tag) {
    if (t == nullptr) {
        error4raise(nullptr, e4parmNull, E4LOC(93476));
        return nullptr;
    }
    if (tag != nullptr && (tag->index == nullptr || tag->index->table != t)) {
        error4raise(t->env, e4parm, E4LOC(93477));
        return nullptr;
    }
    t->selectedTag = tag;
    return tag;
}

tag4* table4selectedTag(table4* t) {
    return t != nullptr ? t->selectedTag : nullptr;
}
