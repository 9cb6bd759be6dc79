#pragma once
// ZTFile: one database, four tables of the table library sharing one base path (the canonical
// path of the database without extension):
//
//   | file      | content                                      | fields or tags                  |
//   |-----------|----------------------------------------------|---------------------------------|
//   | base.ZT   | row table (alias RQMENCZ1; RQMENCZ2 at create)| A lenID, B lenID, C 2, D lenKey,
//   | |           |                                              | E 4, F 1; all character | |
//   base.IX   | its index                                    | ZTW1 B+D+E+F, ZTW2 A+B+C+D,     | |
//   |                                              | ZTW3 E+F                        | | base.ZT2
//   | dictionary table                             | A 4, B 2, C<version> chunk width| | base.IX2
//   | its index                                    | ZTWC1 A+B                       |
//
// Create writes the extensions in upper case; open finds each in any letter case. The widths
// come back from the files at open. Each ZTFile has an environment of its own and is used by one
// thread; a worker thread works on a duplicate (its own descriptors, so their locks exclude
// each other).
//
// Locking between processes: writers take the counted lock (the row table and its index, whole,
// retried every 100 ms through a wait hook that may cancel); the first level drops every buffered
// block of the database and re-reads the headers, the last one moves both indexes' change
// counters when anything was written and flushes what changed, the dictionary first. Readers take
// no lock: they run in read brackets and start a walk again when recoverRead says so, a bounded
// number of times; a read that met a moved change counter is done again from the disk (ztrec.h).
// Exclusive opens take no lock at all.
//
// Open with verify also checks the next-ID counter of record 51 (under the no-wait lock; skipped
// when another process holds it or a read fails): one not above every record ID is set again.
#include <cstdint>
#include <functional>
#include <string>

#include "xbase/file/journal4.h"
#include "xbase/xbase.h"
#include "ztdb/ztarray.h"
#include "ztdb/ztchainguess.h"
#include "ztdb/ztkey.h"
#include "ztdb/ztrefresh.h"
#include "ztdb/ztstr.h"

// The answers about documents for the last 20 names asked, oldest forgotten first.
class CCacheFindExecutable {
  public:
    static constexpr int kSize = 20;

    // Index of the name (exact comparison), -1 when absent.
    int find(const char* name) const;
    // Replaces the answer of a known name, else takes the next entry of the ring.
    void put(const char* name, int answer);
    // The answer, -1 when absent.
    int get(const char* name) const;

  private:
    ZTStr names_[kSize];
    int answers_[kSize] = {};
    int next_ = 0;
};

class ZTSet;
class ZTFieldCache;

// Bits of the open-mode word.
constexpr uint32_t kOpenTables = 1;     // both tables open
constexpr uint32_t kOpenUsable = 2;     // both indexes open and their tags found
constexpr uint32_t kOpenExclusive = 4;  // no locking at all
constexpr uint32_t kOpenReadOnly = 8;
constexpr uint32_t kOpenNoIndexFile = 16;       // an index file could not be opened (result 70)
constexpr uint32_t kOpenIndexFailed = 32;       // an index file failed for another reason
constexpr uint32_t kOpenRepaired = 64;          // a record count was repaired
constexpr uint32_t kOpenInUse = 0x100;          // the row table is held by another opener
constexpr uint32_t kOpenReadOnlyAsked = 0x200;  // read-only on request; read-write would do

// Waits while a lock is tried again: gets the wait in milliseconds, returns false to give up.
using ZTLockWaitHook = bool (*)(void* context, int milliseconds);

class ZTFile : public ZTRefreshedBaseClass {
  public:
    // Predefined records and types of the layout.
    static constexpr uint32_t kSystemRecord = 51;
    static constexpr int kMaxReadRestarts = 20;

    // flags: the opener's word, kept for it and readable (getFlags); the engine reads nothing
    // from it.
    explicit ZTFile(const char* name = nullptr, uint32_t flags = 0);
    ~ZTFile() override;
    ZTFile(const ZTFile&) = delete;
    ZTFile& operator=(const ZTFile&) = delete;

    // Closes, then names the database after `name`: the canonical folder and the last component
    // cut at its first '.' (a leading '.' belongs to the name). Null or empty: no name.
    void setName(const char* name);
    // The base path that setName takes from `name`; empty when it names no database.
    static std::string canonicalBase(const char* name);

    uint32_t getFlags() const { return flags_; }

    bool isValid() const { return !path_.empty(); }
    bool isOpen() const { return (openMode_ & kOpenTables) != 0; }
    bool isUsable() const { return (openMode_ & kOpenUsable) != 0; }
    bool isReadOnly() const { return (openMode_ & kOpenReadOnly) != 0; }
    bool isExclusive() const { return (openMode_ & kOpenExclusive) != 0; }
    uint32_t getOpenMode() const { return openMode_; }

    // Closes, then opens with mode bits 1 tables, 2 indexes, 4 exclusive, 8 read-only (0 only
    // closes); verify checks the record counts. Returns the open-mode word.
    uint32_t open(uint32_t mode, bool verify);
    void close() { open(0, false); }
    // Makes the four files; false (and no new file left) on failure. The database stays closed.
    bool create(int32_t lenID, int32_t lenKey, int32_t lenDictionaryChunk);
    bool exists();
    // Whether either table can be opened (or exists and fails for another reason).
    bool probeTables();
    // Open here, or the row table is open elsewhere.
    bool isInUse();
    // 0 the count agrees with the file length, 1 repaired, 2 bad.
    int checkRecordCount(table4* table, bool noRepair);
    bool rebuildIndexes();
    // A new object on the same database (with this one's flags) opened with mode & 15 (this one's
    // mode when 0), no verify; null when it does not get that mode.
    ZTFile* duplicate(uint32_t mode);

    int32_t getRowCount();
    int32_t getDictionaryRowCount();
    // The row table's count as a reader's walk bound: read from the disk once per read bracket
    // of a shared, unlocked database (again after a write or a restarted read); negative with
    // the error left pending when it cannot be read.
    int32_t readRowCount();

    const char* getFullPath() const { return path_.c_str(); }
    const char* getTitle() const;
    ZTStr* getFolder(ZTStr* out) const;
    const char* getFileName() const { return path_.c_str(); }
    uint32_t getFileID();
    // The path of one of the four files ("ZT", "IX", "ZT2", "IX2"): the existing one in
    // whichever letter case, else the upper-case name.
    std::string tablePath(const char* ext) const { return findTablePath(path_, ext); }
    static std::string findTablePath(const std::string& base, const char* ext);

    uint32_t setAccess(uint32_t flags);
    uint32_t getAccess() const { return access_; }
    void setOptions(uint32_t word) {
        options_ = word;
        optionsSet_ = true;
    }
    uint32_t getOptions() const { return options_; }
    bool hasOptions() const { return optionsSet_; }
    void clearOptions() {
        options_ = 0;
        optionsSet_ = false;
    }

    void addJob();
    void removeJob();
    bool isBusy() const { return openLockCount_ > 0; }

    // The field definitions of this database shared by its users, made on first use.
    ZTFieldCache* getFieldCache();
    static constexpr uint32_t kFieldCacheSize = 100;
    // Re-reads the headers (unless exclusive), then hands the notice to the field cache; its
    // answer (0 without one).
    int refresh(ZTRefreshInfo* info, void* arg) override;
    // Removes the deleted rows of both tables under the locks; false when not done. A kill in
    // the middle loses nothing: the next opener or locker puts the files back as they were.
    bool pack();
    // Checks both tables' lengths against their headers and the next-ID counter against the
    // records (repairing them as open with verify does), and makes every tag again from the
    // records, under the lock.
    bool verifyTables();
    // The copy a pack keeps while it works; whether one is there.
    std::string packCopyPath() const;
    bool hasPackCopy() const;
    int32_t getDictionaryVersion();
    bool setDictionaryVersion(int32_t version);

    // Buffer memory for the next open: negative 300000 bytes, 0 none, else KiB.
    void setBuffering(int32_t setting) { bufferSetting_ = setting; }

    // Keys of this database's lengths (see ztkey.h).
    int guessValueType(const char* text) const { return ::guessValueType(keyLengths_, text); }
    void makeKey(const char* value, char* key, bool terminate, bool noTail, bool high, bool asText,
                 int length = 0) const {
        ::makeKey(keyLengths_, value, key, terminate, noTail, high, asText, length);
    }
    const ZTKeyLengths& getKeyLengths() const { return keyLengths_; }
    int32_t getLenID() const { return lenID_; }
    // The largest record or type ID that the ID digits hold.
    uint32_t getMaxID() const {
        uint64_t v = 1;
        for (int32_t i = 0; i < lenID_; ++i) v *= 255;
        return v - 1 > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v - 1);
    }
    int32_t getLenKey() const { return lenKey_; }
    int32_t getLenDictionaryChunk() const { return lenDictionaryChunk_; }

    // Locks.
    bool lockRetry(table4* table, bool noWait);
    bool lock(bool noWait);
    // False when what was written under the lock could not all be flushed (the lock is given
    // up all the same).
    bool unlock();
    bool flush();
    void refreshTables(bool force);
    // The dictionary table's lock for the rest of the counted lock (waiting).
    bool lockDictionary();
    void setLockWaitHook(ZTLockWaitHook hook, void* context);
    int32_t getLockDepth() const { return fileLocked_; }
    void markRowsChanged() {
        rowsChanged_ = true;
        ++localChanges_;
    }
    // Moves with every counted lock this process takes and every row it writes or reopens:
    // a row read since it last moved may have gone only through another process's write.
    uint64_t localChanges() const { return localChanges_; }
    // True when no other process changed the row index since this process last read its change
    // counter (one read of the counter; always true when nobody else can write).
    bool rowIndexUnchanged();
    void markDictionaryChanged() { dictionaryChanged_ = true; }

    // The row cursor's state (ztrec.h): the result of the last row operation (-1 failed), and
    // whether new rows should first look for a free row.
    int32_t getLastStatus() const { return seekWord_; }
    void setLastStatus(int32_t status) { seekWord_ = status; }
    bool mayHoldFreeRows() const { return reuseRows_; }
    void setMayHoldFreeRows(bool may) { reuseRows_ = may; }
    // The same for chunk rows of the dictionary: false once a look found none free, until this
    // process frees one (a row freed elsewhere is found again after the next open).
    bool mayHoldFreeChunks() const { return reuseChunks_; }
    void setMayHoldFreeChunks(bool may) { reuseChunks_ = may; }
    // Within one counted lock of a shared database nobody else writes: the next free chain
    // number, once the dictionary's highest was read, is counted here. 0 when unknown (outside
    // a lock, or after a pack or a restore renumbered or replaced the dictionary).
    uint32_t nextChainHint() const { return fileLocked_ > 0 && !isExclusive() ? nextChain_ : 0; }
    // A chain number now in use: the next one given is above it. Only a count already started
    // by a look at the dictionary moves (a rewrite of an old chain says nothing of the highest).
    void noteChainUsed(uint32_t vid) {
        if (nextChain_ != 0 && vid >= nextChain_) nextChain_ = vid + 1;
    }
    // A look at the dictionary's highest number gave this chain number: the numbers given after
    // it under this lock are counted from there.
    void startChainCount(uint32_t given) {
        if (fileLocked_ > 0 && !isExclusive()) nextChain_ = given + 1;
    }
    // Where this handle found chains' first chunks: lock-free and read-only chain reads look
    // there before they ask the dictionary index.
    ZTChainGuess& chainGuess() { return chainGuess_; }

    // Single values, names and database references (readers; each in a read bracket).
    // The record's first value of the type (lowest position); any: a link row counts too.
    bool getValue(uint32_t typeID, uint32_t recordID, ZTStr* val, bool any);
    // The record has a row of the type.
    bool hasValue(uint32_t recordID, uint32_t typeID);
    // The record whose value of type nameID is the name, compared folded (case, accents and
    // punctuation ignored); 0 when none, or when the name folds to nothing.
    uint32_t findName(uint32_t nameID, const char* name);
    bool getName(uint32_t nameID, uint32_t recordID, ZTStr* name);
    // The name itself, or with " 2", " 3" ... appended, whichever no record of the type has yet.
    const char* makeUniqueName(uint32_t nameID, ZTStr* name);
    // The name of a field (type 1) or set (type 9): false and empty for ID 0, no name, or a
    // first row that is a link.
    bool findFieldName(uint32_t fieldID, ZTStr* name);
    bool findSetName(uint32_t setID, ZTStr* name);
    // The record that the record's first type-1 row links to; 0 when it is no link.
    uint32_t getNameLink(uint32_t recordID);
    // The set has a non-empty value of type 101.
    bool isTrashSet(uint32_t setID);
    // The record standing for another database: its path (case kept, any database extension
    // removed) with the extension as tagged part 'e'. 0 when none.
    uint32_t findDatabaseRecord(const char* fileName, const char* extension);
    bool getDatabaseRecordName(uint32_t recordID, ZTStr* name, ZTStr* extension);

    // Set membership. Record R is a member of set S when it has rows of type S with flag 64,
    // one per value of S's first field, tied to that value (flag 128, its value number) so that
    // S's members sort by it; a record without such a value has one untied row "?". A set
    // without a first field has no members. Writers take the counted lock; false when the lock
    // or a write failed.
    //
    // The set's first field: the first entry of its field list (type-1 link rows in position
    // order) whose link resolves; 0 when none.
    uint32_t getSetFirstField(uint32_t setID);
    // add: R becomes a member of S tied to S's first field (nothing happens when S has none);
    // otherwise R leaves S.
    bool addToSet(uint32_t recordID, uint32_t setID, bool add);
    bool removeFromSet(uint32_t recordID, uint32_t setID, ZTRefreshInfo* info);
    bool removeFromAllSets(uint32_t recordID, ZTRefreshInfo* info);
    // addToSet (add) of a record made under the caller's counted lock, which has no rows of S
    // yet: none is looked for or deleted first.
    bool joinNewRecord(uint32_t recordID, uint32_t setID);
    // Writes R's membership rows of S tied to each value of field tieFieldID, or "?".
    bool writeMembership(uint32_t recordID, uint32_t setID, uint32_t tieFieldID);
    // Deletes R's rows of type setID.
    bool deleteMembership(uint32_t recordID, uint32_t setID);
    // For each set of the list: with deleteFirst deleteMembership, then writeMembership tied to
    // fieldID.
    bool retieSets(uint32_t recordID, uint32_t fieldID, const ZTArray<unsigned long>* sets,
                   bool deleteFirst);
    // Adds (once each) the sets whose membership rows of R are tied to R's first value of
    // fieldID.
    void collectTiedSets(uint32_t recordID, uint32_t fieldID, ZTArray<unsigned long>* sets);
    // Re-ties every member of S to its first field; without hasFirstField every member leaves.
    bool rebuildSetTies(uint32_t setID, bool hasFirstField);
    // R's membership rows of S written again when they are not exactly one tie per value of S's
    // first field (or one "?" without such a value): 1 rewritten, 0 right already or S has no
    // first field, -1 when the lock or a write failed.
    int repairMemberTies(uint32_t recordID, uint32_t setID);
    // {field ID, flag byte of its first row} for each field of R, in field order.
    struct RowType {
        uint32_t fieldID;
        uint32_t flags;
    };
    void getRowTypes(uint32_t recordID, ZTArray<RowType>* list);
    // The sets R belongs to; returns their count.
    uint32_t getRecordSets(uint32_t recordID, ZTArray<unsigned long>* out);
    // filter 0: none; 31: all; else with value 2 set only the sets marked with type 43, without
    // it only the unmarked ones.
    uint32_t getRecordSetsFiltered(uint32_t recordID, ZTArray<unsigned long>* out, uint32_t filter);

    // Counters of system record 51.
    // The next record ID (writes the counter, under the lock). 0 when none can be had: the IDs
    // the rows can hold are used up (last error kErrorNoRecordID) or the write failed.
    uint32_t newRecordID();
    uint32_t getChangeCount();
    uint32_t getBackupChangeCount();
    // True (after storing the change count as the count at the last backup) when the change
    // count is more than threshold above it.
    bool checkAutoBackup(uint32_t threshold);
    static constexpr int32_t kErrorNoRecordID = -20;

    // What readers without the lock check: the change counters of the indexes as last seen
    // (0 when locked or exclusive), and dropping what this process holds of the data files.
    uint64_t seenChanges() const {
        if (!isUsable() || isExclusive() || fileLocked_ != 0) return 0;
        return uint64_t(rowIndex_->indexFile->versionOld) << 32 | dictIndex_->indexFile->versionOld;
    }
    void dropDataBuffers();

    // Name writes (under the counted lock). addName: the record named so (compared folded), or
    // a new record of that name (with makeUnique, the name with the lowest free " n" suffix).
    // Last error: 0 a new record, -1 the name existed, -15 the name folds to nothing (result 0,
    // no lock taken), kErrorWriteFailed (result 0).
    uint32_t addName(uint32_t nameID, const char* name, bool makeUnique);
    // Writes the name as the record's first value of the type, at position 1.
    bool storeName(uint32_t nameID, uint32_t recordID, const char* name);
    // An empty name deletes the record *setID: 0. A set of exactly this name: *setID := it, 1.
    // Else names *setID (0: a new record) when it is 0 or a set: 2 new, 4 renamed; else 0.
    int storeSetName(uint32_t* setID, const char* name);
    // Renames each name of the type that folds like the one before it in value order (all
    // names); the number renamed.
    uint32_t renameDuplicateNames(uint32_t nameID);
    uint32_t findField(const char* name) { return findName(kFieldNameType, name); }
    uint32_t addField(const char* name) { return addName(kFieldNameType, name, false); }
    uint32_t findSet(const char* name) { return findName(kSetNameType, name); }
    uint32_t addSet(const char* name) { return addName(kSetNameType, name, false); }
    bool getSetName(uint32_t setID, ZTStr* name) { return getName(kSetNameType, setID, name); }
    static constexpr uint32_t kFieldNameType = 1;
    static constexpr uint32_t kSetNameType = 9;
    static constexpr int32_t kErrorWriteFailed = -4;

    // Records (writers under the counted lock; IDs of 0 do nothing).
    // Every row of the record; members that were tied to its values through their links are
    // tied again. Notice (record, 0, removed).
    bool deleteRecord(uint32_t recordID, ZTRefreshInfo* info);
    // The record's rows of the field; the record's ties to them are made again.
    bool deleteValues(uint32_t recordID, uint32_t fieldID, ZTRefreshInfo* info);
    // Moves each value of oldField to newField, keeping position, text and link.
    bool changeValueType(uint32_t recordID, uint32_t oldField, uint32_t newField);
    // A new record with a copy of every value row (no membership); joins setID when given. The
    // new ID, 0 when the record has no rows or a write failed.
    uint32_t duplicateRecord(uint32_t recordID, uint32_t setID);
    // The set of the record whose field list matches the record's fields best (most fields met
    // walking from its first field, then the shorter walk); with fieldFilter only sets whose
    // first field it is. 0 when none has a hit.
    uint32_t findBestSet(uint32_t recordID, uint32_t fieldFilter);
    // The record's values of each field of the list: fields joined by TAB, values by '|'.
    void getRecordText(uint32_t recordID, ZTStr* out, const ZTSet* fields);

    // Text import: TAB separates columns, '|' values of one field. The header makes the fields
    // (at most kMaxImportColumns; *dropped, when given, gets the number of further columns)
    // and, with makeSet, a new set named baseName, baseName02 ... (the first free name), whose
    // field list they become. Returns that set, 0 without makeSet or when it failed.
    uint32_t prepareImport(const char* baseName, const char* header, ZTSet* fields, bool matchNames,
                           bool makeSet, ZTRefreshInfo* info, uint32_t* dropped = nullptr);
    // One line as a new record: the field list's fields in column order; '>' text in a column
    // after the first links to the record of that text in the set named like the field (made
    // when missing). Every 100th call publishes the work so far. The record, 0 when nothing
    // was written.
    uint32_t importRecord(const char* line, ZTSet* fields, uint32_t setID, uint32_t unused,
                          ZTRefreshInfo* info);
    static constexpr uint32_t kMaxImportColumns = 100;

    // Read brackets.
    void beginRead();
    bool recoverRead();
    void endRead();
    int32_t getReadDepth() const { return fastNet_; }

    // Documents.
    bool hasProgramFor(const char* document, const char* folder, bool noCache);
    static bool shellExecute(const char* document, const char* folder, const char* parameters);

    // Renames the four files within the folder; the database stays closed. The last error
    // says why not: -1 a target exists, -14 access refused or in use, -4 anything else.
    bool rename(const char* newName);
    int32_t getLastError() const { return lastError_; }

    // The tables for the row cursors.
    env4* getEnv() { return &env_; }
    // Both tables were found holding no lock of the library's and none was taken since: there is
    // nothing to release, which most reads without the counted lock find.
    bool tablesHoldNothing() const { return quietTakes_ == env_.lockTakes; }
    void noteTablesHoldNothing() { quietTakes_ = env_.lockTakes; }
    table4* getRowTable() const { return rowTable_; }
    table4* getDictionaryTable() const { return dictTable_; }
    tag4* getRowTag(int n) const { return n >= 1 && n <= 3 ? rowTags_[n - 1] : nullptr; }
    tag4* getDictionaryTag() const { return dictTag_; }

  private:
    // writeMembership; fresh: the record has no rows of the set yet.
    bool writeMembershipRows(uint32_t recordID, uint32_t setID, uint32_t tieFieldID, bool fresh);
    void initEnvironment();
    void dropFieldCache();
    void takePath(const std::string& base);
    void closeTables();
    uint32_t openTables(uint32_t mode, bool verify);
    bool layoutFits();
    bool openIndexes();
    void startBuffering();
    // Holds (or lets go of) this process's view of both indexes for a read bracket.
    void holdViews(bool hold);
    bool rebuildIndexOf(table4* table);
    bool createIndexes(table4* rows, table4* dictionary);
    bool waitForLock();
    // Writes the copy of the four files (complete or not at all).
    bool writePackCopy();
    bool underCopy(const std::function<bool()>& rewrite);
    // Both tables' lengths hold exactly the records their headers count.
    bool countsAgree();
    // Writes a pack's copy back over the four files and removes it: 1 done, 0 no copy, -1 a
    // copy that cannot be used or written back. The caller holds both tables' locks.
    int restorePackCopy();
    // Under the row table's lock: restores a copy found, with the dictionary's lock.
    bool restoreAfterKilledPack();
    // The first level of the lock found a pack's copy (restored first) or replayed the journal:
    // opens the tables again and locks.
    bool reopenAfterRestore(bool noWait, bool packCopy);
    // After the dictionary was rewritten or put back: its free rows and numbers are unknown.
    void forgetDictionaryHints() {
        nextChain_ = 0;
        reuseChunks_ = true;
        chainGuess_.forget();
    }
    // Opens the commit journal of a writable database and, when it may hold anything, brings
    // the files up to it and checkpoints it, since writes outside the journal follow (a repair
    // at open, an exclusive open): 0, 1 when files were replayed (their view is stale), -1.
    int openJournal(bool exclusive);
    // Opens the journal file (when not open): false when one is there that cannot be used.
    bool openJournalFile();
    // Under the row table's lock, before in-place writes made outside the journal's commits:
    // readers elsewhere stop trusting single reads until journal4endChange. False (error
    // taken) when the change sequence cannot be had: nothing may be written then.
    bool beginChange();
    // Holds the writes of a shared writable database's four files for the lock's commit, and
    // lets reads of a shared database (writable or not) trust its change sequence.
    void attachJournal();
    // A handle that committed through the journal empties it when the database closes.
    void checkpointAtClose();
    // Empties the journal and writes in place, unheld, until journalResume (a pack's rewrite).
    bool journalPause();
    void journalResume();
    // At open: a next-ID counter that is missing or not above every record ID is set again.
    void checkIDCounter();
    uint32_t highestRecordID();
    // Clears the pending code of the environment and returns it.
    int32_t takeError();

    env4 env_{};
    uint64_t quietTakes_ = ~uint64_t(0);  // env_.lockTakes when the tables last held nothing
    journal4 journal_{};
    table4* rowTable_ = nullptr;
    index4* rowIndex_ = nullptr;
    tag4* rowTags_[3] = {};
    table4* dictTable_ = nullptr;
    index4* dictIndex_ = nullptr;
    tag4* dictTag_ = nullptr;
    char* rowBuffer_ = nullptr;
    char* dictBuffer_ = nullptr;
    int32_t bufferSetting_ = -1;
    int32_t lastError_ = 0;
    std::string path_;  // canonical base path, no extension
    uint32_t openMode_ = 0;
    uint32_t flags_ = 0;
    CCacheFindExecutable executables_;
    uint32_t importCounter_ = 0;  // every 100th import call flushes
    uint32_t fileID_ = 0;
    uint32_t access_ = 15;
    uint32_t options_ = 0;
    bool optionsSet_ = false;
    int32_t openLockCount_ = 0;
    int32_t seekWord_ = 0;
    bool appendMark_ = false;
    bool reuseRows_ = true;
    bool reuseChunks_ = true;
    uint32_t nextChain_ = 0;
    ZTChainGuess chainGuess_;
    bool rowsChanged_ = false;
    bool dictionaryChanged_ = false;
    int32_t fileLocked_ = 0;
    uint64_t localChanges_ = 0;
    bool spanSound_ = false;     // the outermost lock began with a view nobody wrote past
    bool viewDoubtful_ = false;  // and wrote in place outside its commits since
    bool complLocked_ = false;
    int32_t fastNet_ = 0;
    int32_t readRestarts_ = 0;
    // readRowCount's count of the current read bracket, valid while localChanges_ is countAt_.
    int32_t bracketCount_ = -1;
    uint64_t countAt_ = 0;
    int32_t lenKey_ = 0;
    int32_t lenDictionaryChunk_ = 0;
    int32_t lenID_ = 0;
    ZTKeyLengths keyLengths_{};
    ZTLockWaitHook waitHook_ = nullptr;
    void* waitContext_ = nullptr;
    ZTFieldCache* fieldCache_ = nullptr;  // owned
};

// Test hook for the failure paths of rename: from now on the nth move of a database file (1:
// the next one) fails with errno `error`, as a failing disk would; 0 disarms.
void ztFailMove(int nth, int error);
