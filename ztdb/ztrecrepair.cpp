// The row cursor's maintenance checks: repairs of single rows and chunks, and the test whether
// a record is still alive (see ztrec.h).
#include <algorithm>
#include <cstring>
#include <vector>

#include "ztdb/ztassert.h"
#include "ztdb/ztdatetime.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztrecrows.h"

using namespace ztrows;

namespace {

constexpr uint32_t kUntypedReplacement = 17;
constexpr uint32_t kFieldNameType = 1;
constexpr uint32_t kLiveType = 5;
constexpr uint32_t kSetNameType = 9;
constexpr uint32_t kTrashType = 101;
constexpr uint32_t kFirstUserRecord = 1001;
// The value of a membership row tied to no value of the set's first field.
constexpr char kUntied[] = "?";

// The stored form of a date value, when it has one that differs from the text. A text whose
// day and month read differently in the two orders (1/2/2003) is left alone: the order it was
// typed in cannot be told, and the maintaining user's order may not be the writer's.
bool canonicalDate(const char* text, ZTStr* out) {
    ZTDateTime monthFirst, dayFirst;
    monthFirst.dayFirst = false;
    dayFirst.dayFirst = true;
    const bool m = monthFirst.parse(text), d = dayFirst.parse(text);
    if (!m && !d) return false;
    if (m != d || monthFirst.day != dayFirst.day || monthFirst.month != dayFirst.month)
        return false;
    monthFirst.format(out, false);
    return !out->equals(text);
}

// A text that reads as different dates in the two day/month orders, or as a date in one only.
bool dateDependsOnOrder(const char* text) {
    ZTDateTime monthFirst, dayFirst;
    monthFirst.dayFirst = false;
    dayFirst.dayFirst = true;
    const bool m = monthFirst.parse(text), d = dayFirst.parse(text);
    return m != d || (m && (monthFirst.day != dayFirst.day || monthFirst.month != dayFirst.month));
}

// A failed library call of a check: the error is cleared, the check reports -1.
int failed(ZTFile* file) {
    dropError(file);
    return -1;
}

}  // namespace

bool ZTIDCache::contains(uint32_t id) const {
    return std::find(ids_.begin(), ids_.end(), id) != ids_.end();
}

void ZTIDCache::add(uint32_t id) {
    if (contains(id)) return;
    if (ids_.size() >= kSize) ids_.pop_front();
    ids_.push_back(id);
}

// Row recno read into the cursor; false (the library's error cleared) when it cannot be.
bool ZTRec::loadRow(int32_t recno) {
    table4* t = file->getRowTable();
    if (recno < 1 || table4go(t, recno) != 0) {
        (void)error4setCode(file->getEnv(), 0);
        file->setLastStatus(-1);
        return false;
    }
    unpack();
    return true;
}

bool ZTRec::hasRowOfType(uint32_t record, uint32_t type) {
    ZTRec probe(file);
    return probe.seek(record, type, 0, "") == 0 && probe.typeID == type;
}

// Another row than `except` carries the value number (a link to it, or another owner).
bool ZTRec::hasReferrers(uint32_t vid, int32_t except) {
    char key[4];
    putDigits(key, vid, 4);
    table4* t = file->getRowTable();
    const RowColumns col(file);
    if (!selectRowTag(3)) return !dropError(file);  // unknown: taken as referred to
    int32_t rc = table4seekN(t, key, 4);
    for (int32_t left = rowBound(); left > 0 && (rc == 0 || rc == r4after); --left) {
        const char* r = table4recordBuffer(t);
        if (digitsAt(r + col.e, 4) != vid) return false;
        if (table4recordNumber(t) != except) return true;
        rc = table4skip(t, 1);
    }
    if (rc != r4eof) {
        dropError(file);
        return true;
    }
    return false;
}

// The rows of the record and type with a position (1 to 65023) get 1, 2, 3 ... in their order.
// 1 when two of them had the same position, 0 when none did, -1 on a failure.
int ZTRec::compactPositions(uint32_t record, uint32_t type) {
    ZTRec walk(file);
    std::vector<std::pair<int32_t, uint32_t>> rows;  // row number, position
    for (int r = walk.seek(record, type, 1, nullptr); r == 0 && walk.typeID == type;
         r = walk.skip(1)) {
        if (walk.position >= 1 && walk.position < kNoPosition)
            rows.emplace_back(walk.rowNumber(), walk.position);
        if (rows.size() > size_t(rowBound())) return -1;
    }
    if (walk.readFailed()) return -1;
    bool shared = false;
    for (size_t i = 1; i < rows.size(); ++i) shared |= rows[i].second == rows[i - 1].second;
    table4* t = file->getRowTable();
    const RowColumns col(file);
    for (size_t i = 0; i < rows.size(); ++i) {
        const uint32_t wanted = uint32_t(i + 1);
        if (rows[i].second == wanted) continue;
        if (table4go(t, rows[i].first) != 0) return failed(file);
        char* r = table4recordBuffer(t);
        putDigits(r + col.c, wanted, 2);
        if (table4write(t, rows[i].first, 0) != 0) return failed(file);
        file->markRowsChanged();
    }
    return shared ? 1 : 0;
}

int ZTRec::repairRow(int32_t recno) {
    if (!canWrite()) return -1;
    ZTWriteLock lock(file);
    if (!lock || !loadRow(recno)) return -1;
    const char* r = table4recordBuffer(file->getRowTable());
    const bool deleted = r[0] == kDeleted;
    if (recordID == 0) {
        if (deleted && typeID == 0 && valueID == 0) return 0;
        return deleteRow() ? 1 : -1;
    }
    int repairs = 0;
    // A row of a record marked deleted would be lost at the next pack: it is written live.
    bool changed = deleted || (storedFlags_ & kFlagBase) == 0;
    if (typeID == 0) {
        typeID = kUntypedReplacement;
        changed = true;
    }
    ZTStr text;
    bool readable = valueID != 0 && readChain(valueID, &text);
    const bool untied = isMemberRow() && !isLinkRow();
    if (valueID != 0 && !readable && !isLinkRow() && chainGone(valueID)) {
        // A chain whose chunks never reached the table (a writer killed before its count did):
        // an untied row's text is known, any other value is lost and its row goes.
        if (!untied) return deleteRow() ? repairs + 1 : -1;
        if (!writeChain(valueID, kUntied, false)) return -1;
        readable = readChain(valueID, &text);
        ++repairs;
    }
    // A text shorter than a chunk was read from a first chunk that holds its zero (or decoded
    // whole): only longer ones can have lost a chunk.
    const bool mayBeBroken =
        readable && std::strlen(text.text) + 1 >= size_t(file->getLenDictionaryChunk());
    if (mayBeBroken && !isLinkRow() && brokenChain(valueID)) {
        // A chain with a gap or without its end: what reads of it becomes the whole value.
        if (!writeChain(valueID, text.text, false)) return -1;
        ++repairs;
    }
    if (readable && untied && !text.equals(kUntied)) {
        if (!writeChain(valueID, kUntied, false)) return -1;
        text.assign(kUntied);
        ++repairs;
    }
    if (readable && !isLinkRow() && !isMemberRow()) {
        ZTStr stored;
        if (canonicalDate(text.text, &stored)) {
            // The chain's rows (this one too) get the new key as it is written.
            if (!writeChain(valueID, stored.text, false)) return -1;
            text.assign(stored.text);
            ++repairs;
        }
    }
    if (!ensureRowLoaded()) return failed(file);
    char key[256];
    bool newKey = false;
    if (valueID == 0 || readable) {
        const char* d = table4recordBuffer(file->getRowTable()) + RowColumns(file).d;
        file->makeKey(text.text, key, false, false, false, false);
        const size_t lenKey = size_t(file->getLenKey());
        // A date of either order keeps the key it was written with.
        const bool orderKey =
            (uint8_t(d[0]) == 17 || uint8_t(d[0]) == 18) && dateDependsOnOrder(text.text);
        newKey = std::memcmp(d, key, lenKey) != 0 && !orderKey;
    }
    if (changed || newKey) {
        pack();
        if (!storeRow(newKey ? key : nullptr)) return -1;
        ++repairs;
    }

    // The next row of the same record and type.
    ZTRec next(file);
    next.copyFrom(*this);
    if (next.skip(1) == 0 && next.typeID == typeID) {
        ZTStr nextText;
        const bool sameKind =
            ((next.flags ^ flags) & (kFlagLink | kFlagMember)) == 0 && next.valueID != valueID;
        if (sameKind && readable && next.valueID != 0 && readChain(next.valueID, &nextText) &&
            nextText.equals(text.text)) {
            // A value that others link to stays: deleting it would take their links along.
            if (isLinkRow() || !hasReferrers(valueID, rowNumber_))
                return deleteRow() ? repairs + 1 : -1;
        }
        if (position >= 1 && position < kNoPosition && next.position < kNoPosition &&
            next.position != position + 1) {
            const int shared = compactPositions(recordID, typeID);
            if (shared < 0) return -1;
            repairs += shared;
            if (!loadRow(recno)) return -1;
        }
    }

    bool drop = false;
    if (valueID != 0) {
        ZTRec owner(file);
        if (owner.findOwner(valueID) != 0)
            drop = true;
        else if (!isLinkRow() && owner.recordID != recordID)
            drop = true;
    }
    if (!drop && isMemberRow() && !hasRowOfType(typeID, kSetNameType)) drop = true;
    // An untied row says the record has no value to tie to: beside tied rows it is wrong.
    if (!drop && untied && hasTiedRow(recordID, typeID)) drop = true;
    if (drop) {
        if (!loadRow(recno)) return -1;
        return deleteRow() ? repairs + 1 : -1;
    }
    if (isMemberRow()) {
        // A tie that went missing (or a value that never got one) is written again with the
        // record's other membership rows of the set.
        const int retied = file->repairMemberTies(recordID, typeID);
        if (retied < 0) return -1;
        repairs += retied;
    }
    return repairs;
}

// The sequence of the chain's last chunk (the first holding a zero, or the last before a gap);
// -1 when the chain has no first chunk, -2 when the table cannot be read.
int32_t ZTRec::chainEnd(uint32_t vid) {
    table4* d = file->getDictionaryTable();
    const uint32_t width = uint32_t(file->getLenDictionaryChunk());
    char key[6];
    putDigits(key, vid, 4);
    putDigits(key + 4, 0, 2);
    int32_t rc = table4seekN(d, key, 6);
    int32_t last = -1;
    for (uint32_t seq = 0; rc == 0 || (rc == r4after && seq > 0); ++seq) {
        const char* c = table4recordBuffer(d);
        if (digitsAt(c + kChunkA, 4) != vid || digitsAt(c + kChunkB, 2) != seq) break;
        last = int32_t(seq);
        if (std::memchr(c + kChunkC, 0, width) != nullptr) break;
        rc = table4skip(d, 1);
    }
    if (rc < 0) {
        dropError(file);
        return -2;
    }
    return last;
}

bool ZTRec::chainGone(uint32_t vid) {
    table4* d = file->getDictionaryTable();
    if (table4selectTag(d, file->getDictionaryTag()) == nullptr) return dropError(file);
    return chainEnd(vid) == -1;
}

bool ZTRec::brokenChain(uint32_t vid) {
    table4* d = file->getDictionaryTable();
    if (table4selectTag(d, file->getDictionaryTag()) == nullptr) return !dropError(file);
    const int32_t end = chainEnd(vid);
    if (end < 0) return false;  // nothing of it reads: there is nothing to keep
    const char* c = table4recordBuffer(d);
    const bool ended =
        digitsAt(c + kChunkA, 4) == vid && digitsAt(c + kChunkB, 2) == uint32_t(end) &&
        std::memchr(c + kChunkC, 0, size_t(file->getLenDictionaryChunk())) != nullptr;
    return !ended;
}

bool ZTRec::hasTiedRow(uint32_t record, uint32_t type) {
    ZTRec walk(file);
    int32_t left = rowBound();
    for (int r = walk.seek(record, type, 0, nullptr); r == 0 && walk.typeID == type && left > 0;
         r = walk.skip(1), --left)
        if (walk.isMemberRow() && walk.isLinkRow()) return true;
    return false;
}

int ZTRec::checkChunk(int32_t recno) {
    if (!canWrite()) return -1;
    ZTWriteLock lock(file);
    if (!lock || !file->lockDictionary()) return -1;
    table4* d = file->getDictionaryTable();
    if (recno < 1 || table4go(d, recno) != 0) return failed(file);
    char* c = table4recordBuffer(d);
    const uint32_t chain = digitsAt(c + kChunkA, 4);
    const uint32_t seq = digitsAt(c + kChunkB, 2);
    const bool deleted = c[0] == kDeleted;
    if (chain == 0) {
        if (deleted) return 0;
        c[0] = kDeleted;
        if (table4write(d, recno, 0) != 0) return failed(file);
        file->markDictionaryChanged();
        file->setMayHoldFreeChunks(true);
        return 1;
    }
    // Any row counts, links too: a chain that a row still names is never taken from it.
    char key[4];
    putDigits(key, chain, 4);
    table4* t = file->getRowTable();
    if (!selectRowTag(3)) return failed(file);
    const int32_t rc = table4seekN(t, key, 4);
    if (rc < 0) return failed(file);
    const bool used =
        rc != r4eof && digitsAt(table4recordBuffer(t) + RowColumns(file).e, 4) == chain;
    if (!used) return deleteChain(chain) ? 1 : -1;
    if (endChain_ != chain) {
        if (table4selectTag(d, file->getDictionaryTag()) == nullptr) return failed(file);
        endSeq_ = chainEnd(chain);
        endChain_ = endSeq_ >= -1 ? chain : 0;
    }
    if (endSeq_ < 0) return 0;
    const bool inside = int32_t(seq) <= endSeq_;
    // Marked deleted inside the text it holds, the next pack would cut the value; live past
    // its end (a shortening cut short), it is a leftover that no reader takes.
    if (inside != deleted) return 0;
    if (table4go(d, recno) != 0) return failed(file);
    c = table4recordBuffer(d);
    c[0] = inside ? kLive : kDeleted;
    if (!inside) putDigits(c + kChunkA, 0, 4);
    if (table4write(d, recno, 0) != 0) return failed(file);
    file->markDictionaryChanged();
    if (!inside) file->setMayHoldFreeChunks(true);
    return 1;
}

bool ZTRec::recordAlive(uint32_t record, bool followSets) {
    if (record < kFirstUserRecord) return true;
    ZTRec walk(file);
    ZTStr name;
    int32_t left = rowBound();
    for (int r = walk.seek(record, 0, 0, nullptr); r == 0 && left > 0; r = walk.skip(1), --left) {
        if (walk.isMemberRow()) {
            if (!followSets || !hasRowOfType(walk.typeID, kTrashType)) return true;
            continue;
        }
        if (walk.isLinkRow()) continue;
        if (walk.typeID == kLiveType || walk.typeID == kSetNameType) return true;
        if (walk.typeID == kFieldNameType) {
            // A field definition lives by its name.
            ZTRec reader(file);
            return reader.readChain(walk.valueID, &name) && !name.equals("");
        }
    }
    return false;
}

int ZTRec::checkRowRecord(int32_t recno, ZTIDCache* kept, ZTIDCache* removed, bool followSets) {
    if (!canWrite() || !ZT_ASSERT(kept != nullptr && removed != nullptr)) return -1;
    ZTWriteLock lock(file);
    if (!lock || !loadRow(recno)) return -1;
    const uint32_t record = recordID;
    if (record == 0) return 0;  // a free row: the pack takes it
    bool alive = kept->contains(record);
    if (!alive && !removed->contains(record)) {
        alive = recordAlive(record, followSets);
        (alive ? kept : removed)->add(record);
    }
    if (!loadRow(recno)) return -1;
    if (alive) {
        // A row of a living record that is marked deleted would be lost at the pack.
        if (table4recordBuffer(file->getRowTable())[0] != kDeleted) return 0;
        pack();
        return storeRow(nullptr) ? 1 : -1;
    }
    return deleteRow() ? 1 : -1;
}
