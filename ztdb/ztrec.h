#pragma once
// ZTRec: the cursor through which every row of a database is read and written, and the value
// chains of its dictionary table. ZTFileAtom: the cursor with the text of its value.
//
// Row of the row table, after the deletion byte (' ' live, '*' deleted); numbers are base-255
// digits, each stored plus one (ztcodec.h):
//
//   | column | width  | content                                                            |
//   |--------|--------|--------------------------------------------------------------------|
//   | A      | lenID  | record ID; 0 in a free row                                         |
//   | B      | lenID  | type: the field, a predefined type, or the set of a membership row |
//   | C      | 2      | position among the record's values of the type, from 1; 65024 none |
//   | D      | lenKey | index key of the value (ZTFile::makeKey, with its tail)            |
//   | E      | 4      | value number: the chain that holds the text; 0 none                |
//   | F      | 1      | flags: bit 0 always set, 64 membership row, 128 link row           |
//
// Tags: ZTW1 B+D+E+F (a type's values in value order), ZTW2 A+B+C+D (a record's rows by type and
// position), ZTW3 E+F (the rows sharing a value number, its owner row first). A link row carries
// the value number of the row that owns the value; the owner has bit 128 clear.
//
// Chunk of the dictionary table, after its deletion byte:
//
//   | column | width    | content                                  |
//   |--------|----------|------------------------------------------|
//   | A      | 4        | chain number (the rows' E); 0 a free row |
//   | B      | 2        | sequence of the chunk within the chain   |
//   | C600   | lenChunk | the next lenChunk bytes of the text      |
//
// Tag ZTWC1 A+B. A chain holds its text with the terminating zero: the first chunk holding a
// zero byte ends it. A stored text beginning with byte 1 is packed text (kind 1), with byte 2 a
// packed binary value (kind 2); a plain text is stored without leading bytes 1.
//
// Rows and chunks reach the disk only through table4write and table4beginAppend + table4append,
// which keep the tags in step. Writes run under the database's counted lock (taken here when
// the caller holds none; newRow needs the caller's, since the row it picks must stay its own
// until written); the dictionary table is then locked whole for the rest of the counted lock.
// Reads take no lock: each runs in a read bracket and starts again after recoverRead.
//
// The cursor keeps what it stands on (the six columns below, the row's number and stored flag
// byte) and writes whole rows from them, so reads in between (value chains, owners) never
// disturb a write. Navigation results: 0 on the row sought, 1 on a row of another record (or
// type, as each operation says), -1 at the end or on an error; the result is also left in the
// database's last-status word. A failing operation leaves no lock behind.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ztdb/ztfile.h"
#include "ztdb/ztstr.h"

class CFilterElem;

// A read bracket of the database for the length of a scope.
class ZTReadBracket {
  public:
    explicit ZTReadBracket(ZTFile* file);
    ~ZTReadBracket();
    ZTReadBracket(const ZTReadBracket&) = delete;
    ZTReadBracket& operator=(const ZTReadBracket&) = delete;

  private:
    ZTFile* file_;
};

// The counted lock for the length of a scope: released by release() (false when what was
// written under it could not all be flushed) or at the end of the scope.
class ZTWriteLock {
  public:
    explicit ZTWriteLock(ZTFile* file) : file_(file), held_(file->lock(false)) {}
    ~ZTWriteLock() {
        if (held_) (void)file_->unlock();
    }
    ZTWriteLock(const ZTWriteLock&) = delete;
    ZTWriteLock& operator=(const ZTWriteLock&) = delete;
    explicit operator bool() const { return held_; }
    bool release() {
        if (!held_) return false;
        held_ = false;
        return file_->unlock();
    }

  private:
    ZTFile* file_;
    bool held_;
};

// Record IDs already judged by ZTRec::checkRowRecord: at most 50, the oldest dropped first.
class ZTIDCache {
  public:
    static constexpr size_t kSize = 50;
    bool contains(uint32_t id) const;
    void add(uint32_t id);
    void clear() { ids_.clear(); }

  private:
    std::deque<uint32_t> ids_;
};

class ZTRec {
  public:
    static constexpr uint32_t kNoPosition = 65024;
    static constexpr uint8_t kFlagBase = 1;
    static constexpr uint8_t kFlagMember = 64;
    static constexpr uint8_t kFlagLink = 128;
    // Types of the counters of system record 51.
    static constexpr uint32_t kCounterType = 2;
    static constexpr uint32_t kBackupCounterType = 49;
    // The type that conditions on every field ("**") are tested against, and all types after it.
    static constexpr uint32_t kAllFieldsType = 40;

    uint32_t recordID;  // A
    uint32_t typeID;    // B
    uint32_t position;  // C
    uint32_t valueID;   // E
    uint8_t flags;      // F
    ZTFile* file;

    explicit ZTRec(ZTFile* file = nullptr);
    // recordID 0, typeID 0, no position, no value, flags 1; no row.
    void init(ZTFile* file);
    // The database is set and usable. A precondition of every operation below.
    bool isValid() const;

    // Reads A, B, C, E and F of the row table's current record.
    void unpack();
    // The flag byte to be written: the stored link bit, the cursor's other bits and bit 0. The
    // row itself (marked deleted when recordID is 0) is written by the write operations.
    void pack();
    bool sameRecordAndType(const ZTRec& other) const {
        return recordID == other.recordID && typeID == other.typeID;
    }
    bool samePosition(const ZTRec& other) const {
        return sameRecordAndType(other) && position == other.position;
    }
    void copyFrom(const ZTRec& other);
    bool isLinkRow() const { return (flags & kFlagLink) != 0; }
    bool isMemberRow() const { return (flags & kFlagMember) != 0; }
    // The D column of the cursor's row (lenKey bytes, not terminated) while the table still
    // holds that row; null otherwise.
    const char* rowKey() const;
    // The row's record number in the row table; 0 for a row not written yet.
    int32_t rowNumber() const { return rowNumber_; }

    // ---- navigation in record order (ZTW2) ----

    // Seeks (recordID, typeID, position, key of value without tail): 0 on a row of recordID, 1
    // on another record's, -1 at the end.
    int seek(uint32_t recordID, uint32_t typeID, uint32_t position, const char* value);
    // Finds the cursor's row again from its record, type, value number, flags and the value
    // text. exact: at the cursor's position; otherwise anywhere in the record's rows of the
    // type, with the value's key as well. 0 found, 1 it is gone (the cursor stands on the next
    // row, which may be another record's), -1 at the end.
    int findValue(const char* value, bool exact);
    // Whether the record has a row of the type (at that position, with exact) holding the value:
    // with valueID, a link row to it with flags | 129; otherwise an owner row with flags & ~128
    // | 1 whose text equals text (null: the text of valueID's chain). unreadRow: a row whose
    // chain is not read to compare (its caller finds out otherwise), unless another row holds
    // the text: then the rows are compared in their order as always.
    bool hasValue(uint32_t recordID, uint32_t typeID, uint32_t position, const char* text,
                  uint32_t valueID, uint8_t flags, bool exact, int32_t unreadRow = 0);
    // 0 when the row reached has the record ID of the row left, 1 another, -1 past either end.
    int skip(int n);
    int goFirst() { return goEnd(false); }
    int goLast() { return goEnd(true); }

    // ---- navigation in value order (ZTW1) ----
    // Each fails (-1) on a row of another type. follow: a link row is replaced by the row that
    // owns its value; the walk goes on from the link row.

    // The first row of the type at or after the value's key (high: after all rows of that key).
    // exact: the row must have exactly that key. asText: the value's key is a text key even
    // when the value reads as a number or date.
    int seekInType(uint32_t typeID, const char* value, bool follow, bool high, bool exact,
                   bool asText = false);
    // The first row of the type at or after an index key made by the caller (lenKey bytes).
    int seekTypeKey(uint32_t typeID, const char* valueKey, bool follow);
    int goToFraction(uint32_t typeID, double fraction, bool follow);
    // sameValue: the row reached must have the key of the row left.
    int skipInType(int n, bool follow, bool sameValue);
    int goLastOfType(uint32_t typeID, bool follow);
    // The place of the row in value order, 0.0 to 1.0; -1.0 when it cannot be told.
    double typeFraction();

    // ---- owners (ZTW3) ----

    // The row owning the value number: 0 found (not a link row), -1 none.
    int findOwner(uint32_t valueID);
    // On a link row: moves to the owner of its value (0), or -1 when it has none. 0 as well on
    // any other row.
    int followLink();
    // The rows carrying the value number (its owner and the rows linking to it, membership rows
    // too): record, type and flags of each. False when the read failed.
    struct Sharer {
        uint32_t recordID, typeID;
        uint8_t flags;
    };
    bool getSharers(uint32_t valueID, std::vector<Sharer>* out);

    // ---- writing ----

    // Prepares a new row (under the caller's counted lock): a free row when the database may
    // hold one, else the next write appends. The cursor is reset.
    bool newRow();
    // Writes the cursor's row: appends a new one or rewrites it in place.
    bool writeRow();
    // Writes the value: without valueID into the row's own chain (a new one unless the row owns
    // one already), with valueID as a link to that chain.
    bool writeValue(const char* value, uint32_t valueID = 0);
    // writeValue of a text into the chain the row owns: 1 written, 2 written with the chain
    // holding that very text already, 0 failed, -1 when the row is a link row or not the owner
    // of its value number (nothing written then). One walk of the value's rows both finds the
    // owner and gives them the new key. chainRead: the caller knows that nothing was written
    // since this cursor's last readChain (see chainReadAt), so the dictionary may still stand
    // where that read left it.
    int writeOwnValue(const char* value, bool chainRead = false);
    // Points the row at a value number (as a link, or as its owner) with the value's key (null:
    // the chain's text). A chain the row owned alone is released: it is deleted, and the rows
    // that still linked to it become free rows.
    bool setRowValue(uint32_t valueID, const char* value, bool asLink);
    bool rewriteRow();
    // Makes the row a free row (A, B, E 0, deleted) and releases its value.
    bool deleteRow();

    // ---- value chains ----

    // One above the highest chain number; 0 when none is left.
    uint32_t newChain();
    // Writes text into the chain: the rows of the value number get its key; every chunk written
    // is live and surplus chunks become free rows. compress: kind-1 packing where it succeeds.
    // False for a text longer than a chain can hold (nothing is changed then).
    bool writeChain(uint32_t valueID, const char* text, bool compress);
    // Reads the whole chain (a packed text decoded). False when no chunk was read, or a packed
    // text does not decode (out empty).
    bool readChain(uint32_t valueID, ZTStr* out);
    // The database's localChanges() when readChain last read the chain of valueID whole from
    // one chunk under the counted lock; 0 when it did not. The write of that chain's text
    // under the same lock, with nothing written in between, then finds the chunk in place.
    uint64_t chainReadAt(uint32_t valueID) const {
        return chainPlace_.valueID == valueID ? chainPlace_.at : 0;
    }
    // Every chunk of the chain becomes a free row.
    bool deleteChain(uint32_t valueID);

    // ---- the record counter and positions ----

    // The next-ID counter of record 51 (type 2): its decimal value, 0 when absent.
    uint32_t getCounter();
    bool setCounter(uint32_t n);
    // The first value of (record 51, type) as a number, 0 when absent; and its writer.
    uint32_t getSystemNumber(uint32_t type);
    bool setSystemNumber(uint32_t type, uint32_t n, uint32_t newPosition);
    // True when the cursor stands on the row of (record 51, type), as getSystemNumber leaves
    // it when it found one; under the lock that read it, rewriteSystemNumber then stores n as
    // that row's value without seeking it again.
    bool standsOnSystemRow(uint32_t type) const;
    bool rewriteSystemNumber(uint32_t n);
    // Opens the position: when a row of the record and type has it, it and the run of
    // consecutive positions after it move up by one. True when such a row existed; positions
    // from 65024 on are refused.
    bool renumber(uint32_t recordID, uint32_t typeID, uint32_t position);
    // A text key whose text filled it: the value must be compared by its text.
    bool isTruncatedTextKey(const char* key) const;

    // Tests the record's values of the condition's field (for "**": of every type from 40 on,
    // following link rows unless nested) with the condition. Returns the element's matched flag.
    bool testRecord(uint32_t recordID, CFilterElem* elem, bool nested);

    // ---- maintenance: each the number of repairs made, -1 when the row cannot be read ----
    // The rows and chunks are taken by record number; the caller holds the counted lock for
    // the length of its pass (each check takes it as well when it is not held).

    // Repairs row recno: a row of no record becomes a free row; a row of a record gets type 17
    // for 0, its date value in the stored form, its key and flags as its value says, and is
    // kept live. A duplicate of the next value of its record and type goes; positions of its
    // record and type taken twice become ascending; a row whose value has no owner, a second
    // owner in another record, and a membership row of a set without name go.
    int repairRow(int32_t recno);
    // Chunk recno of the dictionary: a chain that no row refers to goes whole; a free chunk is
    // marked deleted; a chunk of a chain in use that is marked deleted inside the chain's text
    // is marked live again, a live one past its end becomes a free chunk. The cursor keeps the
    // end of the chain it looked at last: init() after others may have written.
    int checkChunk(int32_t recno);
    // Row recno goes when its record is not alive: records below 1001 are; others when they
    // have a name of a set or field, a value of type 5, or membership of a set (with
    // followSets, a set that is not a trash set). Verdicts are kept in the two caches.
    int checkRowRecord(int32_t recno, ZTIDCache* kept, ZTIDCache* removed, bool followSets);

    // Ends a read that holds no counted lock: releases whatever the tables hold.
    void unlockTables();
    // Whether a read of this cursor failed on an error (not at an end) since init.
    bool readFailed() const { return readFailed_; }
    void noteReadFailure() { readFailed_ = true; }
    // The row stood on is there as it was read: nothing was written since, by this process
    // or (one read of the row index's change counter) by another. False when unsure.
    bool rowUnchanged();
    // The row stood on was read under the counted lock, and since then this process took
    // `locks` more counted locks and wrote nothing: it is there as read. The caller knows the
    // lock it was read under to be held still.
    bool rowUnchangedSince(uint64_t locks) const;
    bool lock(bool noWait) { return ZT_ASSERT(isValid()) && file->lock(noWait); }
    bool unlock() { return ZT_ASSERT(isValid()) && file->unlock(); }

  private:
    // The key of the entry the tag stands on, read once for the step's checks and its unpack
    // (rebuilding it costs a pass over the leaf).
    struct EntryKey {
        bool read = false;
        const uint8_t* bytes = nullptr;
        int32_t record = 0;  // the entry's record, when bytes were read
    };
    EntryKey entryKey(int tagNo) const;
    void unpackAt(int tagNo) { unpackAt(tagNo, EntryKey{}); }
    void unpackAt(int tagNo, EntryKey key);
    int32_t rowBound() const;
    bool advanced(int tagNo, int32_t base, int n, EntryKey key) const;
    int goEnd(bool last);
    int walkRowsOf(const char* key, int32_t length, const ZTRec& wanted, bool exact, int gone,
                   const std::function<bool(const char*)>& takes);
    int32_t recordKey(char* key, uint32_t record, uint32_t type, uint32_t pos,
                      const char* value) const;
    bool canWrite() const;
    bool holdsLock() const;
    bool selectRowTag(int n);
    bool ensureRowLoaded();
    bool storeRow(const char* key);
    void fillRow(char* row, const char* key) const;
    bool rowAsStored(const char* key) const;
    bool keepRow();
    bool freeRowsOf(uint32_t valueID);
    bool ownerRemains(uint32_t valueID);
    bool ownsChain();
    // ownerRow: the first row of the value number must be that row and own the value; when it
    // is not, *notOwner is set and nothing is written. keyKept: set when the owner's row held
    // the key already (the row table then stands on it, as read).
    bool updateKeysOf(uint32_t valueID, const char* key, int32_t ownerRow = 0,
                      bool* notOwner = nullptr, bool* keyKept = nullptr);
    // unchanged: set when every chunk held these bytes already and none followed. readRow: the
    // dictionary row where readChain found the chain's only chunk, with nothing written since;
    // while the dictionary still stands on it, the chain is not sought again.
    bool writeChunks(uint32_t valueID, const char* stored, uint32_t length,
                     bool* unchanged = nullptr, int32_t readRow = 0);
    bool standsOnFirstChunk(uint32_t valueID, int32_t row) const;
    bool writeFreshChunks(uint32_t valueID, const char* stored, uint32_t length);
    bool placeChunk(uint32_t valueID, uint32_t seq, const char* bytes, uint32_t n, bool inPlace);
    // writeChain of the stored form of a text whose key the caller made; fresh: the chain
    // number came from newChain under the dictionary lock still held, so no chunk or row of it
    // is looked for.
    bool writeStored(uint32_t valueID, const char* stored, const char* key, bool fresh);
    // setRowValue with the value's key made by the caller (unread when the row has that value
    // number already).
    bool pointRowAt(uint32_t valueID, const char* key, bool asLink);
    bool freeChunksFrom(uint32_t valueID, uint32_t seq);
    int readChainDirect(uint32_t valueID, ZTStr* out, std::string* stored);
    int walkRecord(uint32_t recordID, CFilterElem* elem, bool follow, bool nested,
                   std::vector<uint32_t>* links);
    int typeStep(uint32_t typeID, bool follow, int found) {
        return typeStep(typeID, follow, found, EntryKey{});
    }
    int typeStep(uint32_t typeID, bool follow, int found, EntryKey key);
    bool loadRow(int32_t recno);
    bool recordAlive(uint32_t recordID, bool followSets);
    bool hasRowOfType(uint32_t recordID, uint32_t typeID);
    bool hasReferrers(uint32_t valueID, int32_t except);
    int compactPositions(uint32_t recordID, uint32_t typeID);
    int32_t chainEnd(uint32_t valueID);
    bool brokenChain(uint32_t valueID);
    bool chainGone(uint32_t valueID);
    bool hasTiedRow(uint32_t recordID, uint32_t typeID);

    int32_t rowNumber_ = 0;    // the row in the row table; 0: not written yet
    int32_t walkRow_ = 0;      // the row a value-order walk goes on from (before following)
    uint8_t storedFlags_ = 1;  // F as stored
    bool freshRow_ = false;    // made by newRow: written with the key of the empty text
    bool readFailed_ = false;  // see readFailed()
    // The end of the chain checkChunk looked at last (init forgets it).
    uint32_t endChain_ = 0;
    int32_t endSeq_ = -1;
    // The entries of ZTW1 and ZTW2 the cursor last reached: walks check that they move on.
    struct Entry {
        int32_t row = 0;
        uint32_t length = 0;
        char key[256];
    };
    Entry entries_[2];
    // The row last unpacked and the database's state when it was read: while neither moved,
    // the row is still there as read.
    struct ReadStamp {
        int32_t row = 0;
        uint32_t recordID = 0, typeID = 0, position = 0, valueID = 0;
        uint8_t flags = 0;
        uint64_t seen = 0, local = 0;
        bool operator==(const ReadStamp&) const = default;
    };
    ReadStamp stamp_;
    ReadStamp stampNow() const;
    // Where readChain under the counted lock found a chain held whole by one chunk: its
    // dictionary row and the database's localChanges() then (see chainReadAt).
    struct ChainPlace {
        uint32_t valueID = 0;
        int32_t row = 0;
        uint64_t at = 0;
    };
    ChainPlace chainPlace_;
};

// The cursor with its value text.
class ZTFileAtom : public ZTRec {
  public:
    explicit ZTFileAtom(ZTFile* file = nullptr) : ZTRec(file) {}
    virtual ~ZTFileAtom() = default;
    ZTFileAtom(const ZTFileAtom&) = delete;
    ZTFileAtom& operator=(const ZTFileAtom&) = delete;

    ZTStr value;

    // Reads the chain of valueID into value.
    virtual bool readValue();
    // Finds the cursor's row again (findValue with the value text): -1 also when it is gone and
    // the cursor stands on another record.
    virtual int find(bool exact);
    // Finds the row and deletes it: false when it is not found or not deleted.
    bool remove(bool exact);
    void init(ZTFile* file);
    void copyFrom(const ZTFileAtom& other);
};
