#include "ztdb/ztrec.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ztdb/ztassert.h"
#include "ztdb/ztcodec.h"
#include "ztdb/ztfilter.h"
#include "ztdb/ztrecrows.h"

using namespace ztrows;

// ---- read brackets ----

ZTReadBracket::ZTReadBracket(ZTFile* file) : file_(file) {
    file_->beginRead();
}

// A bracket that is not counted (exclusive opens) or ends the outermost one leaves no error
// behind for the calls that follow.
ZTReadBracket::~ZTReadBracket() {
    file_->endRead();
    if (file_->getReadDepth() == 0) (void)error4setCode(file_->getEnv(), 0);
}

// ---- cursor basics ----

ZTRec::ZTRec(ZTFile* file_) {
    init(file_);
}

void ZTRec::init(ZTFile* file_) {
    file = file_;
    recordID = 0;
    typeID = 0;
    position = kNoPosition;
    valueID = 0;
    flags = kFlagBase;
    rowNumber_ = -1;
    walkRow_ = 0;
    storedFlags_ = kFlagBase;
    freshRow_ = false;
    readFailed_ = false;
    entries_[0].row = entries_[1].row = 0;
    endChain_ = 0;
    endSeq_ = -1;
    chainPlace_ = ChainPlace{};
}

bool ZTRec::isValid() const {
    return file != nullptr && file->isUsable();
}

void ZTRec::unpack() {
    table4* t = file->getRowTable();
    const char* r = table4recordBuffer(t);
    const RowColumns col(file);
    const int id = file->getLenID();
    recordID = digitsAt(r + col.a, id);
    typeID = digitsAt(r + col.b, id);
    position = digitsAt(r + col.c, 2);
    valueID = digitsAt(r + col.e, 4);
    flags = uint8_t(r[col.f]);
    storedFlags_ = flags;
    const int32_t n = table4recordNumber(t);
    rowNumber_ = n >= 1 ? n : -1;
    walkRow_ = 0;
    freshRow_ = false;
}

// unpack, noting the entry of the tag (1 ZTW1, 2 ZTW2) the row was reached through.
ZTRec::ReadStamp ZTRec::stampNow() const {
    ReadStamp s;
    s.row = rowNumber_;
    s.recordID = recordID;
    s.typeID = typeID;
    s.position = position;
    s.valueID = valueID;
    s.flags = flags;
    s.seen = file->seenChanges();
    s.local = file->localChanges();
    return s;
}

// The row this cursor stands on is there as it was read: nothing was written since, by this
// process or (as the row index's change counter shows) by another.
bool ZTRec::rowUnchanged() {
    if (!isValid() || rowNumber_ < 1 || readFailed_) return false;
    const ReadStamp now = stampNow();
    return now == stamp_ && file->rowIndexUnchanged() && file->seenChanges() == stamp_.seen;
}

bool ZTRec::rowUnchangedSince(uint64_t locks) const {
    if (!isValid() || rowNumber_ < 1 || readFailed_ || !holdsLock()) return false;
    ReadStamp now = stampNow();
    now.local -= locks;
    return now == stamp_;
}

ZTRec::EntryKey ZTRec::entryKey(int tagNo) const {
    EntryKey key{true, nullptr, 0};
    key.bytes = tag4keyRecord(file->getRowTag(tagNo)->tagFile, &key.record);
    return key;
}

void ZTRec::unpackAt(int tagNo, EntryKey entry) {
    unpack();
    stamp_ = stampNow();
    Entry& e = entries_[tagNo - 1];
    tag4file* tf = file->getRowTag(tagNo)->tagFile;
    const uint8_t* key = entry.read ? entry.bytes : tag4key(tf);
    // The key read with its record needs no second look at the entry.
    const int32_t at = entry.read ? entry.record : key ? tag4recordNumber(tf) : 0;
    if (key && at == rowNumber_ && tf->keyLength <= sizeof e.key) {
        e.row = rowNumber_;
        e.length = tf->keyLength;
        std::memcpy(e.key, key, e.length);
    } else {
        e.row = 0;
    }
}

// The most rows a walk can meet: more means the order is damaged.
int32_t ZTRec::rowBound() const {
    return std::max<int32_t>(file->readRowCount(), 0) + 1;
}

// A step of n entries from the row `base` in the tag went the way asked. An index that
// disagrees with its rows (damage, or another process's change) can send the library's skip
// back to an entry already passed; a walk that goes on from there would never end.
bool ZTRec::advanced(int tagNo, int32_t base, int n, EntryKey entry) const {
    const Entry& e = entries_[tagNo - 1];
    tag4file* tf = file->getRowTag(tagNo)->tagFile;
    const uint8_t* key = entry.read ? entry.bytes : tag4key(tf);
    if (e.row != base || e.row < 1 || !key || n == 0) return true;
    int order = std::memcmp(key, e.key, e.length);
    if (order == 0) {
        const int32_t now = tag4recordNumber(tf);
        order = now < e.row ? -1 : now > e.row ? 1 : 0;
    }
    return n > 0 ? order > 0 : order < 0;
}

void ZTRec::pack() {
    flags = uint8_t((storedFlags_ & kFlagLink) | (flags & 0x7F) | kFlagBase);
}

void ZTRec::copyFrom(const ZTRec& other) {
    recordID = other.recordID;
    typeID = other.typeID;
    position = other.position;
    valueID = other.valueID;
    flags = other.flags;
    file = other.file;
    rowNumber_ = other.rowNumber_;
    walkRow_ = other.walkRow_;
    storedFlags_ = other.storedFlags_;
    freshRow_ = other.freshRow_;
    readFailed_ = other.readFailed_;
    entries_[0] = other.entries_[0];
    entries_[1] = other.entries_[1];
    stamp_ = other.stamp_;
}

const char* ZTRec::rowKey() const {
    if (!isValid() || rowNumber_ < 1) return nullptr;
    table4* t = file->getRowTable();
    if (table4recordNumber(t) != rowNumber_) return nullptr;
    return table4recordBuffer(t) + RowColumns(file).d;
}

bool ZTRec::canWrite() const {
    return ZT_ASSERT(isValid()) && ZT_ASSERT(!file->isReadOnly());
}

bool ZTRec::holdsLock() const {
    return file->isExclusive() || file->getLockDepth() > 0;
}

bool ZTRec::selectRowTag(int n) {
    return table4selectTag(file->getRowTable(), file->getRowTag(n)) != nullptr;
}

bool ZTRec::ensureRowLoaded() {
    table4* t = file->getRowTable();
    if (rowNumber_ < 1) return false;
    if (table4recordNumber(t) == rowNumber_ && !table4isEof(t)) return true;
    return table4go(t, rowNumber_) == 0;
}

void ZTRec::unlockTables() {
    if (!isValid() || holdsLock()) return;
    env4* env = file->getEnv();
    // Most reads hold nothing and left no error: there is nothing to undo.
    if (!error4pending(env) && file->tablesHoldNothing()) return;
    table4* const tables[2] = {file->getDictionaryTable(), file->getRowTable()};
    if (!error4pending(env) && !table4holdsLocks(tables[0]) && !table4holdsLocks(tables[1])) {
        file->noteTablesHoldNothing();
        return;
    }
    for (table4* t : tables)
        if (table4unlock(t) != 0) (void)error4setCode(env, 0);
}

namespace {

// Runs a read in a bracket, starting it again while the database says a change of another
// process broke it. Leaves the result in the last-status word; a failure releases the tables.
template <class Body>
int runRead(ZTRec* rec, Body body) {
    ZTReadBracket bracket(rec->file);
    int r;
    for (int fresh = 0;;) {
        // Another process's write that the library met during the read (an index that moved)
        // may have left this process reading data blocks it held from before: read again.
        const uint64_t seen = rec->file->seenChanges();
        r = body();
        if (r != kRetry && seen != rec->file->seenChanges() && fresh++ < kMaxFreshReads) {
            rec->file->dropDataBuffers();
            continue;
        }
        if (r != kRetry) break;
        // Under the counted lock nobody else writes: a failure is real, and no restart helps.
        if (rec->file->getLockDepth() > 0 || !rec->file->recoverRead()) {
            r = -1;
            rec->noteReadFailure();
            break;
        }
    }
    rec->file->setLastStatus(r);
    if (r < 0) rec->unlockTables();
    return r;
}

}  // namespace

// ---- navigation in record order ----

// A key of ZTW2: A, B, C and, with a value, the value's key without tail. Its length.
int32_t ZTRec::recordKey(char* key, uint32_t record, uint32_t type, uint32_t pos,
                         const char* value) const {
    const int id = file->getLenID();
    putDigits(key, record, id);
    putDigits(key + id, type, id);
    putDigits(key + 2 * id, pos, 2);
    if (!value) return 2 * id + 2;
    file->makeKey(value, key + 2 * id + 2, true, true, false, false);
    return 2 * id + 2 + file->getLenKey();
}

int ZTRec::seek(uint32_t record, uint32_t type, uint32_t pos, const char* value) {
    if (!ZT_ASSERT(isValid())) return -1;
    char key[kMaxRowKey];
    const int32_t length = recordKey(key, record, type, pos, value ? value : "");
    table4* t = file->getRowTable();
    return runRead(this, [&]() -> int {
        if (!selectRowTag(2)) return kRetry;
        const int32_t rc = table4seekN(t, key, length);
        if (rc == r4eof) return -1;
        if (rc != 0 && rc != r4after) return kRetry;
        unpackAt(2);
        return recordID == record ? 0 : 1;
    });
}

// Walks the rows of (record, type) from the key (at one position with exact), unpacking each:
// 0 on the first that `takes` accepts (given its D), `gone` when the rows end, -1 at the end.
int ZTRec::walkRowsOf(const char* key, int32_t length, const ZTRec& wanted, bool exact, int gone,
                      const std::function<bool(const char*)>& takes) {
    table4* t = file->getRowTable();
    const int d = RowColumns(file).d;
    return runRead(this, [&]() -> int {
        if (!selectRowTag(2)) return kRetry;
        int32_t rc = table4seekN(t, key, length);
        for (int32_t left = rowBound(); left > 0; --left) {
            if (rc == r4eof) return -1;
            if (rc != 0 && rc != r4after) return kRetry;
            unpackAt(2);
            if (recordID != wanted.recordID || typeID != wanted.typeID ||
                (exact && position != wanted.position))
                return gone;
            if (takes(table4recordBuffer(t) + d)) return 0;
            rc = table4skip(t, 1);
        }
        return -1;  // more rows than the table holds: a damaged order
    });
}

int ZTRec::findValue(const char* value, bool exact) {
    if (!ZT_ASSERT(isValid())) return -1;
    const ZTRec wanted = *this;
    const size_t lenKey = size_t(file->getLenKey());
    char key[kMaxRowKey];
    const int32_t length = recordKey(key, wanted.recordID, wanted.typeID,
                                     exact ? wanted.position : 0, exact ? value : nullptr);
    char valueKey[256];
    file->makeKey(value ? value : "", valueKey, true, false, false, false);
    return walkRowsOf(key, length, wanted, exact, 1, [&](const char* d) {
        return valueID == wanted.valueID && flags == wanted.flags &&
               (exact || std::memcmp(d, valueKey, lenKey) == 0);
    });
}

bool ZTRec::hasValue(uint32_t record, uint32_t type, uint32_t pos, const char* text, uint32_t vid,
                     uint8_t wantedFlags, bool exact, int32_t unreadRow) {
    if (!ZT_ASSERT(isValid())) return false;
    ZTStr chainText;
    if (!text) {
        if (vid) (void)readChain(vid, &chainText);
        text = chainText.text;
    }
    const size_t lenKey = size_t(file->getLenKey());
    char key[kMaxRowKey];
    const int32_t length = recordKey(key, record, type, exact ? pos : 0, exact ? text : nullptr);
    char valueKey[256];
    file->makeKey(text, valueKey, true, false, false, false);
    const uint8_t linkFlags = uint8_t(wantedFlags | kFlagLink | kFlagBase);
    const uint8_t ownerFlags = uint8_t((wantedFlags & ~kFlagLink) | kFlagBase);
    ZTRec wanted(file);
    wanted.recordID = record;
    wanted.typeID = type;
    wanted.position = pos;
    ZTStr stored;
    bool passedUnread = false;
    auto holds = [&](const char* d) {
        if (vid != 0) return valueID == vid && flags == linkFlags;
        if (unreadRow > 0 && rowNumber_ == unreadRow) {
            passedUnread = true;
            return false;
        }
        // The chain is read through the other table: this row stays current.
        return flags == ownerFlags && std::memcmp(d, valueKey, lenKey) == 0 &&
               readChain(valueID, &stored) && stored.equals(text);
    };
    const bool found = walkRowsOf(key, length, wanted, exact, -1, holds) == 0;
    // Another row holds it, but the row passed over may come first: the walk again, whole.
    if (found && passedUnread) {
        unreadRow = 0;
        return walkRowsOf(key, length, wanted, exact, -1, holds) == 0;
    }
    return found;
}

int ZTRec::skip(int n) {
    if (!ZT_ASSERT(isValid())) return -1;
    if (rowNumber_ < 1) {
        file->setLastStatus(-1);
        return -1;
    }
    const uint32_t before = recordID;
    const int32_t base = rowNumber_;
    table4* t = file->getRowTable();
    return runRead(this, [&]() -> int {
        if (!selectRowTag(2) || !ensureRowLoaded()) return kRetry;
        const int32_t rc = table4skip(t, n);
        if (rc == r4eof || rc == r4bof) return -1;
        if (rc != 0) return kRetry;
        const EntryKey key = entryKey(2);
        if (!advanced(2, base, n, key)) return -1;
        unpackAt(2, key);
        return recordID == before ? 0 : 1;
    });
}

int ZTRec::goEnd(bool last) {
    if (!ZT_ASSERT(isValid())) return -1;
    table4* t = file->getRowTable();
    return runRead(this, [&]() -> int {
        if (!selectRowTag(2)) return kRetry;
        const int32_t rc = last ? table4goBottom(t) : table4goTop(t);
        if (rc == r4eof) return -1;
        if (rc != 0) return kRetry;
        unpackAt(2);
        return 0;
    });
}

// ---- navigation in value order ----

// The end of a step in value order: the row found (found: 0, or a library result) must be of
// the type; with follow, a link row gives way to its owner while the walk keeps the link row.
int ZTRec::typeStep(uint32_t type, bool follow, int found, EntryKey key) {
    if (found == r4eof || found == r4bof) return -1;
    if (found != 0 && found != r4after) return kRetry;
    unpackAt(1, key);
    walkRow_ = rowNumber_;
    if (typeID != type) return -1;
    if (follow && isLinkRow()) {
        const int32_t walk = walkRow_;
        const int r = findOwner(valueID);
        walkRow_ = walk;
        if (r != 0) return -1;
    }
    return 0;
}

int ZTRec::seekInType(uint32_t type, const char* value, bool follow, bool high, bool exact,
                      bool asText) {
    if (!ZT_ASSERT(isValid())) return -1;
    const int id = file->getLenID(), lenKey = file->getLenKey();
    char key[kMaxRowKey];
    putDigits(key, type, id);
    file->makeKey(value ? value : "", key + id, true, !high, false, asText);
    int32_t length = id + lenKey;
    if (high) key[length++] = char(255);
    char valueKey[256];
    if (exact) file->makeKey(value ? value : "", valueKey, true, false, false, asText);
    table4* t = file->getRowTable();
    const RowColumns col(file);
    return runRead(this, [&]() -> int {
        if (!selectRowTag(1)) return kRetry;
        const int32_t rc = table4seekN(t, key, length);
        if (rc == r4eof) return -1;
        if (rc != 0 && rc != r4after) return kRetry;
        if (exact && std::memcmp(table4recordBuffer(t) + col.d, valueKey, size_t(lenKey)) != 0) {
            unpackAt(1);
            walkRow_ = rowNumber_;
            return -1;
        }
        return typeStep(type, follow, 0);
    });
}

int ZTRec::seekTypeKey(uint32_t type, const char* valueKey, bool follow) {
    if (!ZT_ASSERT(isValid()) || !ZT_ASSERT(valueKey != nullptr)) return -1;
    const int id = file->getLenID(), lenKey = file->getLenKey();
    char key[kMaxRowKey];
    putDigits(key, type, id);
    std::memcpy(key + id, valueKey, size_t(lenKey));
    table4* t = file->getRowTable();
    return runRead(this, [&]() -> int {
        if (!selectRowTag(1)) return kRetry;
        return typeStep(type, follow, table4seekN(t, key, id + lenKey));
    });
}

int ZTRec::goToFraction(uint32_t type, double fraction, bool follow) {
    if (!ZT_ASSERT(isValid())) return -1;
    table4* t = file->getRowTable();
    return runRead(this, [&]() -> int {
        if (!selectRowTag(1)) return kRetry;
        return typeStep(type, follow, table4setPosition(t, fraction));
    });
}

int ZTRec::skipInType(int n, bool follow, bool sameValue) {
    if (!ZT_ASSERT(isValid())) return -1;
    const int32_t base = walkRow_ >= 1 ? walkRow_ : rowNumber_;
    if (base < 1) {
        file->setLastStatus(-1);
        return -1;
    }
    table4* t = file->getRowTable();
    const RowColumns col(file);
    const int id = file->getLenID(), lenKey = file->getLenKey();
    return runRead(this, [&]() -> int {
        if (!selectRowTag(1)) return kRetry;
        if (table4recordNumber(t) != base && table4go(t, base) != 0) return kRetry;
        const char* r = table4recordBuffer(t);
        const uint32_t type = digitsAt(r + col.b, id);
        char value[256];
        if (sameValue) std::memcpy(value, r + col.d, size_t(lenKey));
        const int32_t rc = table4skip(t, n);
        const EntryKey key = rc == 0 ? entryKey(1) : EntryKey{};
        if (rc == 0 && !advanced(1, base, n, key)) return -1;
        if (rc == 0 && sameValue && std::memcmp(r + col.d, value, size_t(lenKey)) != 0) {
            unpackAt(1, key);
            walkRow_ = rowNumber_;
            return -1;
        }
        return typeStep(type, follow, rc, key);
    });
}

int ZTRec::goLastOfType(uint32_t type, bool follow) {
    if (!ZT_ASSERT(isValid())) return -1;
    const int id = file->getLenID();
    char key[8];
    const bool last = type >= maxDigits(id);
    if (!last) putDigits(key, type + 1, id);
    table4* t = file->getRowTable();
    return runRead(this, [&]() -> int {
        if (!selectRowTag(1)) return kRetry;
        int32_t rc = last ? r4eof : table4seekN(t, key, id);
        if (rc == r4eof)
            rc = table4goBottom(t);
        else if (rc == 0 || rc == r4after)
            rc = table4skip(t, -1);
        return typeStep(type, follow, rc);
    });
}

double ZTRec::typeFraction() {
    if (!ZT_ASSERT(isValid())) return -1.0;
    const int32_t base = walkRow_ >= 1 ? walkRow_ : rowNumber_;
    if (base < 1) return -1.0;
    table4* t = file->getRowTable();
    double at = -1.0;
    runRead(this, [&]() -> int {
        if (!selectRowTag(1)) return kRetry;
        if (table4recordNumber(t) != base && table4go(t, base) != 0) return kRetry;
        at = table4position(t);
        return at < 0 ? kRetry : 0;
    });
    return at;
}

// ---- owners ----

int ZTRec::findOwner(uint32_t vid) {
    if (!ZT_ASSERT(isValid())) return -1;
    char key[5];
    putDigits(key, vid, 4);
    key[4] = char(kFlagBase);
    table4* t = file->getRowTable();
    const int32_t walk = walkRow_;
    // A read that no write can follow finds the owner's entry by a probe, which checks only the
    // entries it passes: the row it leads to must itself hold the key sought (the value number
    // with the flags of an owner, which sort first). Anything else takes the seek, which also
    // leaves the tag on the owner.
    const bool probe = vid != 0 && (file->isReadOnly() || !holdsLock());
    const int e = RowColumns(file).e;
    const int r = runRead(this, [&]() -> int {
        if (!selectRowTag(3)) return kRetry;
        if (probe) {
            const int32_t rc = table4probeN(t, key, 5);
            if (rc < 0) return kRetry;
            if (rc == 0 && std::memcmp(table4recordBuffer(t) + e, key, 5) == 0) {
                unpack();
                return 0;
            }
        }
        const int32_t rc = table4seekN(t, key, 5);
        if (rc == r4eof) return -1;
        if (rc != 0 && rc != r4after) return kRetry;
        unpack();
        return valueID == vid && vid != 0 && !isLinkRow() ? 0 : -1;
    });
    walkRow_ = walk;
    return r;
}

int ZTRec::followLink() {
    if (!ZT_ASSERT(isValid())) return -1;
    if (!isLinkRow()) return 0;
    if (walkRow_ < 1) walkRow_ = rowNumber_;
    return findOwner(valueID);
}

bool ZTRec::getSharers(uint32_t vid, std::vector<Sharer>* out) {
    if (!ZT_ASSERT(isValid()) || !ZT_ASSERT(out != nullptr)) return false;
    out->clear();
    if (vid == 0) return true;
    char key[4];
    putDigits(key, vid, 4);
    table4* t = file->getRowTable();
    const RowColumns col(file);
    const int id = file->getLenID();
    // Read through the table's buffer: the cursor's own row stays as it is.
    const int r = runRead(this, [&]() -> int {
        out->clear();
        if (!selectRowTag(3)) return kRetry;
        int32_t rc = table4seekN(t, key, 4);
        for (int32_t left = rowBound(); left > 0; --left) {
            if (rc == r4eof) return 0;
            if (rc != 0 && rc != r4after) return kRetry;
            const char* row = table4recordBuffer(t);
            if (digitsAt(row + col.e, 4) != vid) return 0;
            out->push_back(
                {digitsAt(row + col.a, id), digitsAt(row + col.b, id), uint8_t(row[col.f])});
            rc = table4skip(t, 1);
        }
        return -1;  // more rows than the table holds: a damaged order
    });
    return r == 0;
}

// ---- writing rows ----

bool ZTRec::newRow() {
    if (!canWrite() || !ZT_ASSERT(holdsLock())) return false;
    ZTFile* f = file;
    init(f);
    rowNumber_ = 0;
    freshRow_ = true;
    if (f->mayHoldFreeRows()) {
        // Free rows have record ID 0 and sort first in record order.
        char key[8];
        putDigits(key, 0, f->getLenID());
        table4* t = f->getRowTable();
        if (!selectRowTag(2)) return dropError(f);
        const int32_t rc = table4seekN(t, key, f->getLenID());
        if (rc < 0) return dropError(f);
        if (rc == 0)
            rowNumber_ = table4recordNumber(t);
        else
            f->setMayHoldFreeRows(false);
    }
    return true;
}

// Writes the cursor as its row: appended when new, else in place. key: the new D (lenKey
// bytes); null keeps the stored one (a new row gets the key of the empty text).
bool ZTRec::storeRow(const char* key) {
    if (!ZT_ASSERT(rowNumber_ >= 0)) return false;
    table4* t = file->getRowTable();
    char emptyKey[256];
    if (!key && (rowNumber_ == 0 || freshRow_)) {
        file->makeKey("", emptyKey, true, false, false, false);
        key = emptyKey;
    }
    const bool append = rowNumber_ == 0;
    if (append) {
        if (table4beginAppend(t, 0) != 0) return dropError(file);
    } else if (table4recordNumber(t) != rowNumber_ || table4isEof(t) || !key) {
        // In place: the stored key comes from the disk, never from a buffer a failed write left.
        if (table4go(t, rowNumber_) != 0) return dropError(file);
    }
    fillRow(table4recordBuffer(t), key);
    const int32_t rc = append ? table4append(t) : table4write(t, rowNumber_, 0);
    if (rc != 0) return dropError(file);
    if (append) rowNumber_ = table4recordNumber(t);
    return keepRow();
}

// The cursor as a row of the row table, into r; key null keeps r's D.
void ZTRec::fillRow(char* r, const char* key) const {
    const RowColumns col(file);
    const int id = file->getLenID(), lenKey = file->getLenKey();
    r[0] = recordID != 0 ? kLive : kDeleted;
    putDigits(r + col.a, recordID, id);
    putDigits(r + col.b, typeID, id);
    putDigits(r + col.c, position, 2);
    if (key) std::memcpy(r + col.d, key, size_t(lenKey));
    putDigits(r + col.e, valueID, 4);
    r[col.f] = char(flags | kFlagBase);
}

// The row table's buffer, read from the file since its last move, holds the cursor's row
// byte for byte as storeRow(key) would write it.
bool ZTRec::rowAsStored(const char* key) const {
    table4* t = file->getRowTable();
    if (rowNumber_ < 1 || freshRow_ || !key || table4recordNumber(t) != rowNumber_ ||
        table4isEof(t))
        return false;
    const char* r = table4recordBuffer(t);
    char row[1024];
    const int32_t width = table4recordWidth(t);
    if (width <= 0 || size_t(width) > sizeof row) return false;
    std::memcpy(row, r, size_t(width));
    fillRow(row, key);
    return std::memcmp(row, r, size_t(width)) == 0;
}

// What a row written leaves in the cursor and the database, also for one that held its bytes
// already.
bool ZTRec::keepRow() {
    storedFlags_ = uint8_t(flags | kFlagBase);
    flags = storedFlags_;
    freshRow_ = false;
    file->markRowsChanged();
    return rowNumber_ >= 1;
}

bool ZTRec::writeRow() {
    if (!canWrite()) return false;
    ZTWriteLock lock(file);
    if (!lock) return false;
    pack();
    const bool ok = storeRow(nullptr);
    file->setLastStatus(ok ? 0 : -1);
    return lock.release() && ok;
}

bool ZTRec::rewriteRow() {
    return writeRow();
}

bool ZTRec::writeValue(const char* value, uint32_t vid) {
    if (!canWrite()) return false;
    ZTWriteLock lock(file);
    if (!lock) return false;
    pack();
    bool ok;
    if (vid != 0) {
        ok = setRowValue(vid, value, true);
    } else {
        const char* text = plainText(value);
        char key[256];
        file->makeKey(text, key, true, false, false, false);
        if (valueID != 0 && !isLinkRow() && ownsChain()) {
            // The row keeps its chain; the key goes with the row so that it is written once.
            ok = writeStored(valueID, text, key, false) && storeRow(key);
        } else {
            // The chain first: a row never points at a value that is not there. The number is
            // new under the dictionary lock held since: no chunk of it can stand anywhere.
            const uint32_t chain = newChain();
            ok = chain != 0 && writeStored(chain, text, key, true) && pointRowAt(chain, key, false);
        }
    }
    file->setLastStatus(ok ? 0 : -1);
    return lock.release() && ok;
}

int ZTRec::writeOwnValue(const char* value, bool chainRead) {
    if (!canWrite()) return 0;
    ZTWriteLock lock(file);
    if (!lock) return 0;
    pack();
    if (valueID == 0 || isLinkRow() || rowNumber_ < 1 || freshRow_) return lock.release() ? -1 : 0;
    const char* text = plainText(value);
    const uint64_t length = std::strlen(text) + 1;  // with the terminating zero
    const uint64_t room = uint64_t(kMaxSequence + 1) * uint64_t(file->getLenDictionaryChunk());
    char key[256];
    file->makeKey(text, key, true, false, false, false);
    bool notOwner = false, keyKept = false;
    bool ok = length <= room && file->lockDictionary() &&
              updateKeysOf(valueID, key, rowNumber_, &notOwner, &keyKept);
    if (notOwner) return lock.release() ? -1 : 0;
    bool unchanged = false;
    const int32_t readRow = chainRead && chainReadAt(valueID) != 0 ? chainPlace_.row : 0;
    ok = ok && writeChunks(valueID, text, uint32_t(length), &unchanged, readRow);
    // A text changed in case only keeps the row as it is stored (the owner's row, just read by
    // the look for its value number): written again, it would only add its block to the commit.
    ok = ok && (keyKept && rowAsStored(key) ? keepRow() : storeRow(key));
    file->setLastStatus(ok ? 0 : -1);
    if (!lock.release() || !ok) return 0;
    return unchanged ? 2 : 1;
}

bool ZTRec::setRowValue(uint32_t vid, const char* value, bool asLink) {
    if (!canWrite()) return false;
    ZTWriteLock lock(file);
    if (!lock) return false;
    char key[256];
    if (vid != valueID) {
        ZTStr chainText;
        if (!value && vid != 0) (void)readChain(vid, &chainText);
        file->makeKey(value ? value : chainText.text, key, true, false, false, false);
    }
    const bool ok = pointRowAt(vid, key, asLink);
    return lock.release() && ok;
}

bool ZTRec::pointRowAt(uint32_t vid, const char* key, bool asLink) {
    if (!canWrite()) return false;
    ZTWriteLock lock(file);
    if (!lock) return false;
    bool ok;
    if (vid == valueID) {
        ok = storeRow(nullptr);
    } else {
        const uint32_t old = valueID;
        const bool ownedOld = old != 0 && !(storedFlags_ & kFlagLink) && !freshRow_;
        valueID = vid;
        flags = uint8_t((flags & ~kFlagLink) | (asLink ? kFlagLink : 0) | kFlagBase);
        storedFlags_ = uint8_t((storedFlags_ & ~kFlagLink) | (flags & kFlagLink));
        ok = storeRow(key);
        // A chain nobody owns any more goes, and so do the rows that still link to it.
        if (ok && ownedOld && !ownerRemains(old)) ok = freeRowsOf(old) && deleteChain(old);
    }
    file->setLastStatus(ok ? 0 : -1);
    return lock.release() && ok;
}

bool ZTRec::deleteRow() {
    if (!canWrite() || rowNumber_ < 1) return false;
    ZTWriteLock lock(file);
    if (!lock) return false;
    recordID = 0;
    typeID = 0;
    pack();
    const bool ok = setRowValue(0, nullptr, true);
    file->setMayHoldFreeRows(true);
    file->setLastStatus(ok ? 0 : -1);
    return lock.release() && ok;
}

// The row is the owner of its chain: a damaged value number never has this row write into the
// chain of another value.
bool ZTRec::ownsChain() {
    ZTRec owner(file);
    return owner.findOwner(valueID) == 0 && owner.rowNumber_ == rowNumber_;
}

bool ZTRec::ownerRemains(uint32_t vid) {
    ZTRec probe(file);
    return probe.findOwner(vid) == 0;
}

// Every row that still carries the value number becomes a free row.
bool ZTRec::freeRowsOf(uint32_t vid) {
    char key[4];
    putDigits(key, vid, 4);
    table4* t = file->getRowTable();
    for (int32_t left = std::max<int32_t>(table4recordCount(t), 0) + 1; left > 0; --left) {
        if (!selectRowTag(3)) return dropError(file);
        const int32_t rc = table4seekN(t, key, 4);
        if (rc < 0) return dropError(file);
        if (rc != 0) return true;
        ZTRec row(file);
        row.unpack();
        if (row.valueID != vid) return true;
        row.recordID = 0;
        row.typeID = 0;
        row.pack();
        if (!row.setRowValue(0, nullptr, true)) return false;
    }
    return false;
}

// The rows of the value number get its new key.
bool ZTRec::updateKeysOf(uint32_t vid, const char* key, int32_t ownerRow, bool* notOwner,
                         bool* keyKept) {
    char seekKey[4];
    putDigits(seekKey, vid, 4);
    table4* t = file->getRowTable();
    const RowColumns col(file);
    const size_t lenKey = size_t(file->getLenKey());
    if (!selectRowTag(3)) return dropError(file);
    int32_t rc = table4seekN(t, seekKey, 4);
    if (ownerRow > 0) {
        // The owner sorts first among the rows of its value number (its flags lack the link bit).
        const char* r = table4recordBuffer(t);
        if ((rc != 0 && rc != r4after) || digitsAt(r + col.e, 4) != vid ||
            (uint8_t(r[col.f]) & kFlagLink) || table4recordNumber(t) != ownerRow) {
            if (rc < 0) return dropError(file);
            *notOwner = true;
            return false;
        }
        // The rows of a value carry its key: when the owner's is the new key already (a text
        // changed in case only), so are the others'.
        if (std::memcmp(r + col.d, key, lenKey) == 0) {
            if (keyKept) *keyKept = true;  // the table stands on the owner's row as stored
            return true;
        }
    }
    for (int32_t left = rowBound(); left > 0 && (rc == 0 || rc == r4after); --left) {
        char* r = table4recordBuffer(t);
        if (digitsAt(r + col.e, 4) != vid) return true;
        if (std::memcmp(r + col.d, key, lenKey) != 0) {
            std::memcpy(r + col.d, key, lenKey);
            if (table4write(t, table4recordNumber(t), 0) != 0) return dropError(file);
            file->markRowsChanged();
        }
        rc = table4skip(t, 1);
    }
    return rc == r4eof || dropError(file);
}

// ---- value chains ----

uint32_t ZTRec::newChain() {
    if (!canWrite()) return 0;
    ZTWriteLock lock(file);
    if (!lock || !file->lockDictionary()) return 0;
    // Within one lock the number after the last one given (or written) is known.
    if (const uint32_t next = file->nextChainHint(); next != 0) {
        const bool released = lock.release();
        if (!released || next > kMaxChain) return 0;
        file->noteChainUsed(next);
        return next;
    }
    table4* d = file->getDictionaryTable();
    uint32_t highest = 0;
    bool ok = table4selectTag(d, file->getDictionaryTag()) != nullptr;
    const int32_t rc = ok ? table4goBottom(d) : -1;
    if (rc == 0) {
        highest = digitsAt(table4recordBuffer(d) + kChunkA, 4);
    } else if (rc == r4eof) {
        // An empty dictionary first gets one free row, which the first chain then takes.
        ok = table4beginAppend(d, 0) == 0;
        if (ok) {
            char* r = table4recordBuffer(d);
            std::memset(r + 1, 0, size_t(table4recordWidth(d) - 1));
            r[0] = kDeleted;
            putDigits(r + kChunkA, 0, 4);
            putDigits(r + kChunkB, 0, 2);
            ok = table4append(d) == 0;
            file->markDictionaryChanged();
            file->setMayHoldFreeChunks(true);
        }
    } else {
        ok = false;
    }
    if (!ok) dropError(file);
    if (ok && highest < kMaxChain) file->startChainCount(highest + 1);
    const bool released = lock.release();
    return ok && released && highest < kMaxChain ? highest + 1 : 0;
}

bool ZTRec::writeChain(uint32_t vid, const char* text, bool compress) {
    if (!canWrite() || vid == 0) return false;
    text = text ? text : "";
    ZTStr packed;
    const char* stored = nullptr;
    const char* logical = nullptr;
    if (compress && uint8_t(text[0]) != 2 &&
        packText(bytes(text), uint32_t(std::strlen(text)), &packed) != 0) {
        stored = packed.text;
        logical = text;
    } else {
        logical = stored = plainText(text);
    }
    char key[256];
    file->makeKey(logical, key, true, false, false, false);
    return writeStored(vid, stored, key, false);
}

bool ZTRec::writeStored(uint32_t vid, const char* stored, const char* key, bool fresh) {
    if (!canWrite() || vid == 0) return false;
    const uint64_t length = std::strlen(stored) + 1;  // with the terminating zero
    const uint64_t room = uint64_t(kMaxSequence + 1) * uint64_t(file->getLenDictionaryChunk());
    if (length > room) return false;
    ZTWriteLock lock(file);
    if (!lock || !file->lockDictionary()) return false;
    // Rows are written after their chain and freed before it goes: none carries a number that
    // newChain just gave.
    const bool ok = fresh ? writeFreshChunks(vid, stored, uint32_t(length))
                          : updateKeysOf(vid, key) && writeChunks(vid, stored, uint32_t(length));
    file->setLastStatus(ok ? 0 : -1);
    return lock.release() && ok;
}

// The dictionary chunk the table stands on is chunk seq of the chain, live.
static bool isChunk(table4* d, uint32_t vid, uint32_t seq) {
    const char* c = table4recordBuffer(d);
    return c[0] == kLive && digitsAt(c + kChunkA, 4) == vid && digitsAt(c + kChunkB, 2) == seq;
}

// The dictionary and its tag stand on the chain's first chunk at that row, as a seek of it
// would leave them.
bool ZTRec::standsOnFirstChunk(uint32_t vid, int32_t row) const {
    table4* d = file->getDictionaryTable();
    if (row < 1 || table4recordNumber(d) != row || table4isEof(d) ||
        tag4recordNumber(file->getDictionaryTag()->tagFile) != row)
        return false;
    return isChunk(d, vid, 0);
}

bool ZTRec::writeChunks(uint32_t vid, const char* stored, uint32_t length, bool* unchanged,
                        int32_t readRow) {
    table4* d = file->getDictionaryTable();
    if (table4selectTag(d, file->getDictionaryTag()) == nullptr) return dropError(file);
    const uint32_t width = uint32_t(file->getLenDictionaryChunk());
    uint32_t seq = 0;
    bool lastInPlace = false;  // the last chunk was written over where the seek found it
    bool same = true;          // every chunk so far held these bytes already
    for (uint32_t at = 0; at < length; at += width, ++seq) {
        char key[kChunkKey];
        chunkKey(key, vid, seq);
        // The read of the chain under this lock left the dictionary on its first chunk, and
        // nothing was written since: no seek finds it anywhere else.
        const int32_t rc = seq == 0 && readRow > 0 && standsOnFirstChunk(vid, readRow)
                               ? 0
                               : table4seekN(d, key, kChunkKey);
        if (rc < 0) return dropError(file);
        lastInPlace = rc == 0;
        const char* r = table4recordBuffer(d);
        const uint32_t n = std::min(width, length - at);
        if (lastInPlace && r[0] == kLive && std::memcmp(r + kChunkC, stored + at, n) == 0 &&
            std::all_of(r + kChunkC + n, r + kChunkC + width, [](char c) { return c == 0; }))
            continue;  // the chunk holds these bytes already
        same = false;
        if (!placeChunk(vid, seq, stored + at, n, lastInPlace)) return false;
    }
    // A text no shorter than before leaves no chunk after the last one written: one step on
    // from it tells so without another seek.
    if (lastInPlace && seq <= kMaxSequence) {
        const int32_t rc = table4skip(d, 1);
        if (rc == r4eof || (rc == 0 && digitsAt(table4recordBuffer(d) + kChunkA, 4) != vid)) {
            if (unchanged) *unchanged = same;
            return true;
        }
    }
    return freeChunksFrom(vid, seq);
}

// The chunks of a chain number that newChain gave under the dictionary lock held since: none
// stands anywhere yet, so none is looked for and none can follow the last.
bool ZTRec::writeFreshChunks(uint32_t vid, const char* stored, uint32_t length) {
    table4* d = file->getDictionaryTable();
    if (table4selectTag(d, file->getDictionaryTag()) == nullptr) return dropError(file);
    const uint32_t width = uint32_t(file->getLenDictionaryChunk());
    for (uint32_t at = 0, seq = 0; at < length; at += width, ++seq)
        if (!placeChunk(vid, seq, stored + at, std::min(width, length - at), false)) return false;
    return true;
}

// Writes chunk seq of the chain: over the dictionary row the table stands on (inPlace), else
// into a free row, else appended.
bool ZTRec::placeChunk(uint32_t vid, uint32_t seq, const char* bytes, uint32_t n, bool inPlace) {
    table4* d = file->getDictionaryTable();
    bool append = false;
    if (!inPlace) {
        // A free row (chain 0) sorts first: take it, else append.
        append = true;
        if (file->mayHoldFreeChunks()) {
            const int32_t rc = table4goTop(d);
            if (rc < 0) return dropError(file);
            append = rc != 0 || digitsAt(table4recordBuffer(d) + kChunkA, 4) != 0;
            if (append) file->setMayHoldFreeChunks(false);
        }
        if (append && table4beginAppend(d, 0) != 0) return dropError(file);
    }
    file->noteChainUsed(vid);
    const uint32_t width = uint32_t(file->getLenDictionaryChunk());
    char* r = table4recordBuffer(d);
    r[0] = kLive;
    putDigits(r + kChunkA, vid, 4);
    putDigits(r + kChunkB, seq, 2);
    std::memcpy(r + kChunkC, bytes, n);
    std::memset(r + kChunkC + n, 0, width - n);
    const int32_t rc = append ? table4append(d) : table4write(d, table4recordNumber(d), 0);
    if (rc != 0) return dropError(file);
    file->markDictionaryChanged();
    return true;
}

// The chain's chunks from seq on become free rows.
bool ZTRec::freeChunksFrom(uint32_t vid, uint32_t seq) {
    table4* d = file->getDictionaryTable();
    if (table4selectTag(d, file->getDictionaryTag()) == nullptr) return dropError(file);
    char key[6];
    putDigits(key, vid, 4);
    if (seq > kMaxSequence) return true;  // no chunk lies beyond the last sequence
    putDigits(key + 4, seq, 2);
    for (int32_t left = std::max<int32_t>(table4recordCount(d), 0) + 1; left > 0; --left) {
        const int32_t rc = table4seekN(d, key, 6);
        if (rc == r4eof) return true;
        if (rc < 0) return dropError(file);
        char* r = table4recordBuffer(d);
        if (digitsAt(r + kChunkA, 4) != vid) return true;
        r[0] = kDeleted;
        putDigits(r + kChunkA, 0, 4);
        if (table4write(d, table4recordNumber(d), 0) != 0) return dropError(file);
        file->markDictionaryChanged();
        file->setMayHoldFreeChunks(true);
    }
    return false;
}

bool ZTRec::deleteChain(uint32_t vid) {
    if (!canWrite() || vid == 0) return false;
    ZTWriteLock lock(file);
    if (!lock || !file->lockDictionary()) return false;
    const bool ok = freeChunksFrom(vid, 0);
    return lock.release() && ok;
}

// Takes the chunk c of a chain into the text: a short plain value whole into out, any other
// chunk's bytes onto stored. True when the chain ends with this chunk (its zero is in it).
static bool takeChunk(const char* c, uint32_t width, bool first, ZTStr* out, std::string* stored) {
    const char* zero = static_cast<const char*>(std::memchr(c + kChunkC, 0, width));
    if (zero && first && c[kChunkC] != 1) {
        out->assign(c + kChunkC);  // a short plain value: taken as it stands
        return true;
    }
    stored->append(c + kChunkC, zero ? size_t(zero - (c + kChunkC)) : width);
    return zero != nullptr;
}

// A guess of where a chain's first chunk lies may be a few records off: the record it lands on
// tells by how much at least, since every chain between takes a record or more. So many steps
// are taken from a guess, each of at most kGuessStep records, before the index is asked.
constexpr int kGuessSteps = 3;
constexpr int64_t kGuessStep = 64;

// Makes current the first chunk of the chain at or near the record the handle guesses for it,
// taken only when the record says itself that it is that chunk, live. 0 found, 1 not (the table
// stands anywhere), or kRetry on a failing read.
static int goToGuessedChunk(ZTFile* file, uint32_t vid) {
    ZTChainGuess& guess = file->chainGuess();
    int64_t at = guess.guess(vid);
    if (at == 0) return 1;
    table4* d = file->getDictionaryTable();
    // As a probe would, look first whether another process wrote the dictionary since this one
    // last looked: the read is then done again from the disk, not from blocks held from before.
    if (index4refresh(file->getDictionaryTag()->index) < 0) return kRetry;
    for (int step = 0; step <= kGuessSteps; ++step) {
        const int32_t rc = table4goQuiet(d, int32_t(at));
        if (rc < 0) return kRetry;
        if (rc != 0) break;  // past the end
        if (isChunk(d, vid, 0)) {
            guess.hit();
            return 0;
        }
        const char* c = table4recordBuffer(d);
        const uint32_t held = digitsAt(c + kChunkA, 4);
        if (c[0] != kLive || held == 0) break;  // a free or deleted record tells nothing
        // Chains below vid lie before its first chunk, chains above it after its last.
        const int64_t next = held < vid ? at + int64_t(vid - held)
                                        : at - int64_t(held - vid) - digitsAt(c + kChunkB, 2);
        if (next < 1 || next > INT32_MAX || next - at > kGuessStep || at - next > kGuessStep) break;
        at = next;
    }
    guess.miss();
    return 1;
}

// readChain's body without the seek: the first chunk is looked for where the handle guesses it
// lies, else found by a probe of the dictionary tag; each later chunk is taken as the record
// after the chunk before, else probed too. A record is trusted only when it says itself that it
// is that chunk of the chain, live. The leaf of the probe is not checked whole, which saves most
// of the cost of a look-up; anything unsure is 1, and the caller seeks. 0 read (the text in out,
// or its stored form in stored), or kRetry on a failing read.
int ZTRec::readChainDirect(uint32_t vid, ZTStr* out, std::string* stored) {
    table4* d = file->getDictionaryTable();
    const uint32_t width = uint32_t(file->getLenDictionaryChunk());
    char key[kChunkKey];
    int32_t rc = goToGuessedChunk(file, vid);
    if (rc == kRetry) return kRetry;
    if (rc != 0) {
        chunkKey(key, vid, 0);
        rc = table4probeN(d, key, kChunkKey);
        if (rc < 0) return kRetry;
        if (rc != 0 || !isChunk(d, vid, 0)) return 1;
    }
    file->chainGuess().learn(vid, table4recordNumber(d));
    for (uint32_t seq = 0;; ++seq) {
        if (takeChunk(table4recordBuffer(d), width, seq == 0, out, stored)) return 0;
        if (seq >= kMaxSequence) return 1;
        // A chain's chunks are mostly written one after the other.
        rc = table4goQuiet(d, table4recordNumber(d) + 1);
        if (rc < 0) return kRetry;
        if (rc == 0 && isChunk(d, vid, seq + 1)) continue;
        chunkKey(key, vid, seq + 1);
        rc = table4probeN(d, key, kChunkKey);
        if (rc < 0) return kRetry;
        if (rc != 0 || !isChunk(d, vid, seq + 1)) return 1;
    }
}

bool ZTRec::readChain(uint32_t vid, ZTStr* out) {
    if (!ZT_ASSERT(isValid()) || !ZT_ASSERT(out != nullptr)) return false;
    out->clear();
    if (vid == 0) return false;
    table4* d = file->getDictionaryTable();
    const uint32_t width = uint32_t(file->getLenDictionaryChunk());
    std::string stored;
    int32_t wholeAt = 0;  // the row of a chain held whole by its first chunk
    // Where a write of the chain may follow (under the counted lock, or exclusive), the seek
    // leaves the tag on the chain's first chunk for that write; the probe leaves the tag alone.
    const bool probe = file->isReadOnly() || !holdsLock();
    const int r = runRead(this, [&]() -> int {
        stored.clear();
        out->clear();
        wholeAt = 0;
        if (table4selectTag(d, file->getDictionaryTag()) == nullptr) return kRetry;
        if (probe) {
            const int direct = readChainDirect(vid, out, &stored);
            if (direct != 1) return direct;
        }
        stored.clear();
        out->clear();
        char key[kChunkKey];
        chunkKey(key, vid, 0);
        int32_t rc = table4seekN(d, key, kChunkKey);
        if (rc == r4eof || rc == r4after) return -1;
        for (uint32_t seq = 0;; ++seq) {
            if (rc == r4eof) return 0;  // a chain without its zero ends with its last chunk
            if (rc != 0 && rc != r4after) return kRetry;
            const char* c = table4recordBuffer(d);
            if (digitsAt(c + kChunkA, 4) != vid || digitsAt(c + kChunkB, 2) != seq)
                return seq == 0 ? -1 : 0;  // the chain ends (a gap ends it too)
            if (seq == 0 && c[0] == kLive) file->chainGuess().learn(vid, table4recordNumber(d));
            const bool last = takeChunk(c, width, seq == 0, out, &stored);
            if (last && seq == 0 && c[0] == kLive) wholeAt = table4recordNumber(d);
            if (last) return 0;
            rc = table4skip(d, 1);
        }
    });
    // The chain is read through its own table: the row cursor's place is unchanged.
    file->setLastStatus(r == 0 ? 0 : -1);
    // Under the counted lock nobody else moves the chain: a write of it under the same lock
    // may find it where this read left the dictionary.
    chainPlace_ = r == 0 && wholeAt > 0 && holdsLock()
                      ? ChainPlace{vid, wholeAt, file->localChanges()}
                      : ChainPlace{};
    if (r != 0) {
        out->clear();
        return false;
    }
    if (stored.empty()) return true;  // taken whole from its only chunk (or empty)
    if (stored[0] == 1) {
        std::vector<char> plain;
        if (!unpackText(stored.c_str(), &plain)) return false;
        plain.push_back(0);
        out->assign(plain.data());
        return true;
    }
    out->assign(stored.c_str());
    return true;
}

// ---- the record counter and positions ----

uint32_t ZTRec::getSystemNumber(uint32_t type) {
    if (!ZT_ASSERT(isValid())) return 0;
    if (seek(ZTFile::kSystemRecord, type, 0, "") != 0 || typeID != type) return 0;
    ZTStr text;
    if (!readChain(valueID, &text)) return 0;
    return text.toInt();
}

bool ZTRec::setSystemNumber(uint32_t type, uint32_t n, uint32_t newPosition) {
    if (!canWrite()) return false;
    ZTWriteLock lock(file);
    if (!lock) return false;
    ZTStr text;
    text.assignInt(n);
    bool ok;
    if (seek(ZTFile::kSystemRecord, type, 0, "") == 0 && typeID == type) {
        ok = rewriteSystemNumber(n);
    } else {
        ok = newRow();
        if (ok) {
            recordID = ZTFile::kSystemRecord;
            typeID = type;
            position = newPosition;
            ok = writeValue(text.text);
        }
    }
    return lock.release() && ok;
}

bool ZTRec::standsOnSystemRow(uint32_t type) const {
    return rowNumber_ >= 1 && !freshRow_ && recordID == ZTFile::kSystemRecord && typeID == type;
}

bool ZTRec::rewriteSystemNumber(uint32_t n) {
    if (!canWrite()) return false;
    ZTStr text;
    text.assignInt(n);
    // The row's own chain is written over in place; a row sharing its chain gets one of its own.
    const int own = writeOwnValue(text.text);
    return own > 0 || (own < 0 && writeValue(text.text));
}

uint32_t ZTRec::getCounter() {
    return getSystemNumber(kCounterType);
}

bool ZTRec::setCounter(uint32_t n) {
    return setSystemNumber(kCounterType, n, 0);
}

bool ZTRec::renumber(uint32_t record, uint32_t type, uint32_t pos) {
    if (!canWrite() || pos >= kNoPosition) return false;
    ZTWriteLock lock(file);
    if (!lock) return false;
    if (seek(record, type, pos, "") != 0 || typeID != type || position != pos) {
        lock.release();
        return false;
    }
    // The run first, then the moves from its end: each move changes the order walked.
    std::vector<int32_t> run;
    bool ok = true;
    for (uint32_t expect = pos;;) {
        if (position == expect) {
            run.push_back(rowNumber_);
        } else if (position == expect + 1 && position < kNoPosition) {
            run.push_back(rowNumber_);
            ++expect;
        } else {
            break;
        }
        if (skip(1) != 0 || typeID != type) break;
    }
    table4* t = file->getRowTable();
    const RowColumns col(file);
    for (size_t i = run.size(); ok && i-- > 0;) {
        if (table4go(t, run[i]) != 0) {
            ok = dropError(file);
            break;
        }
        char* r = table4recordBuffer(t);
        putDigits(r + col.c, digitsAt(r + col.c, 2) + 1, 2);
        if (table4write(t, run[i], 0) != 0) ok = dropError(file);
        file->markRowsChanged();
    }
    file->setLastStatus(ok ? 0 : -1);
    return lock.release() && ok;
}

bool ZTRec::isTruncatedTextKey(const char* key) const {
    if (!ZT_ASSERT(isValid()) || !key) return false;
    const uint8_t first = uint8_t(key[0]);
    return first != 17 && first != 18 && uint8_t(key[file->getLenKey() - 4]) != 17;
}

// ---- record tests ----

// Tests the values of one record (see testRecord); kRetry when a read broke off.
int ZTRec::walkRecord(uint32_t record, CFilterElem* elem, bool follow, bool,
                      std::vector<uint32_t>* links) {
    const int id = file->getLenID();
    const uint32_t type = elem->all ? kAllFieldsType : elem->fieldID;
    char key[kMaxRowKey];
    const int32_t length = recordKey(key, record, type, 0, nullptr);
    table4* t = file->getRowTable();
    const RowColumns col(file);
    if (!selectRowTag(2)) return kRetry;
    int32_t rc = table4seekN(t, key, length);
    ZTStr text;
    for (int32_t left = rowBound(); left > 0 && !elem->decided; --left) {
        if (rc == r4eof) return 0;
        if (rc != 0 && rc != r4after) return kRetry;
        const char* r = table4recordBuffer(t);
        if (digitsAt(r + col.a, id) != record) return 0;
        const uint32_t rowType = digitsAt(r + col.b, id);
        if (!elem->all && rowType != type) return 0;
        const uint8_t f = uint8_t(r[col.f]);
        // Membership rows belong to sets, not to the record's values.
        if (!(f & kFlagMember)) {
            const uint32_t vid = digitsAt(r + col.e, 4);
            if (follow && (f & kFlagLink)) links->push_back(vid);
            const char* d = r + col.d;
            if (elem->hasQuoted || isTruncatedTextKey(d)) {
                (void)readChain(vid, &text);  // an unreadable value is tested as empty
                elem->test(text.text, false, true);
            } else {
                elem->test(d, false, false);
            }
        }
        if (elem->decided) break;
        rc = table4skip(t, 1);
    }
    return 0;
}

bool ZTRec::testRecord(uint32_t record, CFilterElem* elem, bool nested) {
    if (!ZT_ASSERT(isValid())) return false;
    if (!elem) return true;
    if (elem->size == 0) {
        elem->matched = elem->decided = true;
        return true;
    }
    // The values of linked records count as values of this record: a nested test goes on
    // with the state the record's own values left.
    const bool follow = !nested && elem->all;
    std::vector<uint32_t> links;
    const int r = runRead(this, [&]() -> int {
        if (!nested) elem->reset();
        links.clear();
        return walkRecord(record, elem, follow, nested, &links);
    });
    if (r == 0) {
        for (size_t i = 0; i < links.size() && !elem->decided; ++i) {
            ZTRec owner(file);
            if (owner.findOwner(links[i]) == 0) owner.testRecord(owner.recordID, elem, true);
        }
    }
    unlockTables();
    return r == 0 && elem->matched;
}

// ---- ZTFileAtom ----

bool ZTFileAtom::readValue() {
    return readChain(valueID, &value);
}

int ZTFileAtom::find(bool exact) {
    const uint32_t record = recordID;
    const int r = findValue(value.text, exact);
    if (r == 1 && recordID != record) {
        unlockTables();
        return -1;
    }
    return r;
}

bool ZTFileAtom::remove(bool exact) {
    if (find(exact) != 0) return false;
    return deleteRow() && file->getLastStatus() == 0;
}

void ZTFileAtom::init(ZTFile* f) {
    ZTRec::init(f);
    value.clear();
}

void ZTFileAtom::copyFrom(const ZTFileAtom& other) {
    ZTRec::copyFrom(other);
    value.assign(other.value.text);
}
