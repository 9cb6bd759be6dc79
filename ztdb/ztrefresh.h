#pragma once

#include <cstdint>

#include "ztdb/ztarray.h"

class ZTFile;

// ZTRefreshItem: one change of a database. A record ID of 0 stands for the whole database, a sub
// ID (a field or set ID) of 0 for the whole record. Flags say what happened (kAdded, kRemoved,
// kChanged for both or a wholesale change, 0 for no detail); the ordering never looks at them.
//
// compare(other) orders by file ID, record ID, sub ID as unsigned numbers, but a 0 in other's
// record or sub ID matches anything from there on: it is not symmetric, and "equal" means "the
// same item, or covered by other".
struct ZTRefreshItem {
    static constexpr uint32_t kAdded = 1;
    static constexpr uint32_t kRemoved = 2;
    static constexpr uint32_t kChanged = 3;

    uint32_t fileID;
    uint32_t recordID;
    uint32_t subID;
    uint32_t flags;

    // -1, 0 or 1.
    int compare(const ZTRefreshItem& other) const;
    bool isGreater(const ZTRefreshItem& other) const { return compare(other) == 1; }
    bool isLess(const ZTRefreshItem& other) const { return compare(other) == -1; }
    bool isEqual(const ZTRefreshItem& other) const { return compare(other) == 0; }
};

// ZTRefreshInfo: a change notice, the sorted list of the items that one change wrote, with a
// serial number that lets each receiver act on a notice once however many paths deliver it.
//
// Items are kept sorted and merged as they are added:
//  - a file has either one whole-file item (record 0) or items with records;
//  - a record has either one whole-record item (sub 0) or items with subs;
//  - an item already covered by one in the list ORs its flags into it;
//  - a whole-file or whole-record item replaces the finer items it covers (flags kChanged), but
//    one that finds a whole item already there leaves it, flags and all, as it is;
//  - once a file has more than kCollapseSpan (200) items, the next item of that file replaces
//    them all by the whole-file item (file, 0, 0, kChanged).
//
// Serials come from one process-wide counter, safe to use from several threads; 0 is never a
// serial. A notice itself is filled and dispatched on one thread at a time.
class ZTRefreshInfo {
  public:
    // Not found / past the end; as a record ID given to find or findLast: any record.
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
    static constexpr uint32_t kAnyRecord = 0xFFFFFFFFu;
    // The next item of a file that has more than this many items collapses them all into one
    // whole-file item.
    static constexpr uint32_t kCollapseSpan = 200;

    // Empty; serial 0 takes a fresh one.
    explicit ZTRefreshInfo(uint32_t serial = 0);
    ZTRefreshInfo(const ZTRefreshInfo& other) = default;
    ZTRefreshInfo& operator=(const ZTRefreshInfo& other) {
        assign(other);
        return *this;
    }

    // Empties the items; serial 0 takes a fresh one, so that receivers accept the notice again.
    void reset(uint32_t serial = 0);
    // Takes other's serial and merges its items in their order. Assigning to itself changes
    // nothing.
    void assign(const ZTRefreshInfo& other);

    // Merges the item and returns the index at which it now stands or into which it was merged.
    // A database is named by its object or by its file ID (a null object is file ID 0).
    uint32_t add(const ZTRefreshItem& item);
    uint32_t add(ZTFile* file, uint32_t recordID, uint32_t subID, uint32_t flags);
    uint32_t addByID(uint32_t fileID, uint32_t recordID, uint32_t subID, uint32_t flags);
    // The whole-file item (fileID, 0, 0, kChanged).
    uint32_t add(ZTFile* file);
    uint32_t addByID(uint32_t fileID);

    uint32_t count() const { return items_.size; }
    // Null at or past the end.
    const ZTRefreshItem* getItem(uint32_t i) const;
    // kNone at or past the end.
    uint32_t getFileID(uint32_t i) const;
    uint32_t getRecordID(uint32_t i) const;
    uint32_t getSubID(uint32_t i) const;
    uint32_t getFlags(uint32_t i) const;

    // From start: the first item of the file, or with a record ID other than kAnyRecord the first
    // item of the file with exactly that record ID. kNone when there is none.
    uint32_t find(ZTFile* file, uint32_t recordID = kAnyRecord, uint32_t start = 0) const;
    uint32_t findByID(uint32_t fileID, uint32_t recordID = kAnyRecord, uint32_t start = 0) const;
    // The last index of the run from start whose items have the file ID (and, unless kAnyRecord,
    // the record ID); kNone when the item at start is not of that run.
    uint32_t findLast(ZTFile* file, uint32_t recordID, uint32_t start) const;
    uint32_t findLastByID(uint32_t fileID, uint32_t recordID, uint32_t start) const;

    uint32_t getSerial() const { return serial_; }

    // The next value of the process-wide counter (never 0).
    static uint32_t nextSerial();

  private:
    ZTArray<ZTRefreshItem> items_;
    uint32_t serial_ = 0;
};

// ZTRefreshedBaseClass: the base of every object that receives change notices. Senders hand a
// notice to dispatchRefresh, which forwards it to the virtual refresh only when it is new to this
// receiver (its serial is not among the last five accepted) and, for a receiver that has a
// database (file ID not 0), holds an item of that database. A notice refused for being about
// other databases is not remembered. No lock is taken: receivers that run worker threads guard
// their own state inside refresh.
class ZTRefreshedBaseClass {
  public:
    static constexpr int kRingSize = 5;

    ZTRefreshedBaseClass() = default;
    explicit ZTRefreshedBaseClass(ZTFile* file) { setFile(file); }
    ZTRefreshedBaseClass(const ZTRefreshedBaseClass&) = default;
    // Copies the file ID and the seen serials.
    ZTRefreshedBaseClass& operator=(const ZTRefreshedBaseClass&) = default;
    virtual ~ZTRefreshedBaseClass() = default;

    // A new database (null or 0 for none): the seen serials are forgotten.
    void setFile(ZTFile* file);
    void setFileByID(uint32_t fileID);
    // Only the ID; the seen serials stay.
    void setFileID(uint32_t fileID) { fileID_ = fileID; }
    uint32_t getFileID() const { return fileID_; }

    // True when this receiver should act on the notice; its serial is then remembered. A null
    // notice is never accepted.
    bool acceptRefresh(const ZTRefreshInfo* info);
    // refresh's result when the notice is accepted, otherwise 0 without calling it.
    int dispatchRefresh(ZTRefreshInfo* info, void* arg);

    // The receiver's reaction to an accepted notice; the default does nothing and returns 0.
    // Senders go through dispatchRefresh.
    virtual int refresh(ZTRefreshInfo* info, void* arg);

  private:
    uint32_t fileID_ = 0;
    uint32_t seen_[kRingSize] = {};
    int ringIndex_ = 0;
};
