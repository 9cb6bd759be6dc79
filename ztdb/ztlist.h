#pragma once
// The uses of a search (ztsearch.h): record lists, value lists and scans; and browsing, which
// reports each ID of a given list without a search.
//
// ZTList: the rows behind a record list view, each with a record image holding the values of the
// displayed fields. The worker only slides row atoms; the records are made, recycled and bound on
// the reading thread, in findRow, since they read the caller's database (a worker never touches
// it). Row access takes the search's lock and first brings the row's record up to date: each
// value that fails the query (or, for the sort field, is not the row's own value) is replaced by
// the field's next value that passes, so a cell shows what the row was found by.
//
// ZTValList: a short unthreaded list of one field's values in sort order (names of sets or of
// fields, pick lists), holding at most the rows asked for.
//
// ZTScan: a walk over every record of a result for batch jobs, reporting each record once it has
// been passed (code 21, one row late; the last one at the end of the walk, or when the maximum
// stops the walk: a maximum of M reports exactly M records). With unique, a record met again
// under another sort value is not reported again; with keepIDs the reported IDs are kept. Its
// rows are lean (ZTSearch::setLeanRows): a scan's row value reads as empty text.
//
// ZTBrowse: a job (ZTThread) that reports each record ID of its list to the callback, code 41
// with a = the ID and b = the progress (i * 100 / count in percent mode, else i), while it is not
// asked to stop. A threaded browse ends with the job's end notice.
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "ztdb/ztarray.h"
#include "ztdb/ztcache.h"
#include "ztdb/ztsearch.h"
#include "ztdb/ztset.h"
#include "ztdb/ztthread.h"

class ZTRecord;
class ZTResult;

class ZTList : public ZTSearch {
  public:
    ZTList(ZTFile* file, const ZTSet* fields, bool threaded, int32_t margin, int32_t capacity,
           uint32_t optionWord = 0);
    ~ZTList() override;

    int refresh(ZTRefreshInfo* info, void* arg) override;
    void clearRows() override;
    ZTAtom* addRow(ZTAtom* atom, int direction) override;
    // The window index; the row's record is made and bound here when it has none yet.
    int32_t findRow(int32_t row) override;
    bool rowChanged(int32_t row, ZTRefreshInfo* info) override;
    // Rebinds the search and the field set: a copy of fields (null: none) cut after its fixed
    // part; its set ID is the set whose members the list shows.
    virtual void init(ZTFile* file, const ZTSet* fields, bool threaded, int32_t margin,
                      int32_t capacity);
    using ZTSearch::init;

    // A query over the field set's members (the whole database when the set has no ID).
    bool query(const char* text, uint32_t sortingField, ZTCallback callback, void* context,
               int32_t rowsWanted, uint32_t option, const ZTArray<uint32_t>* setIDs, bool useScroll,
               uint32_t startPosition);
    bool query(const char* text, uint32_t sortingField, const ZTSet* set, ZTCallback callback,
               void* context, int32_t rowsWanted, uint32_t option, const ZTArray<uint32_t>* setIDs,
               bool useScroll, uint32_t startPosition);
    bool queryResult(ZTResult* result, ZTCallback callback, void* context, int32_t rowsWanted,
                     bool useScroll, uint32_t startPosition);

    // Row access for (row, value index i); a row not in the window gives an empty text, 0 or -1.
    ZTStr* getValue(int32_t row, uint32_t i, ZTStr* out);
    // The text shown in a cell (dates in the user's form when formatted).
    ZTStr* getCellText(int32_t row, uint32_t i, ZTStr* out, bool formatted);
    ZTStr* getChoiceText(int32_t row, uint32_t i, ZTStr* out, bool withLabels);
    uint32_t getTypeID(int32_t row, uint32_t i);
    // The display kind of value i; 0 when the row is not in the window.
    int getValueKind(int32_t row, uint32_t i);
    // The index of value i among its field's values.
    int setActiveRecord(int32_t row, uint32_t i);
    // out becomes a copy of the row's record with all its values matched; false when the row is
    // not in the window.
    bool getRecord(int32_t row, ZTRecord* out);
    ZTFile* getFile() const { return listFile_; }
    const ZTSet& getFields() const { return fields_; }

  private:
    // The row's record matched up to value i; null when the row is not in the window. Under
    // the lock.
    ZTRecord* matchedRecord(int32_t row, uint32_t i);
    using RecordText = ZTStr* (ZTRecord::*)(uint32_t, ZTStr*, bool);
    // A text of the row's matched record; empty when the row is not in the window.
    ZTStr* recordText(int32_t row, uint32_t i, ZTStr* out, bool flag, RecordText text);
    void dropRecords();

    ZTFile* listFile_ = nullptr;
    ZTSet fields_;
    ZTFileCache fileCache_;
    // One entry per window row, null until the row is read; records that left the window wait
    // in spare_ for the reading thread to bind them again.
    std::vector<ZTRecord*> records_;
    std::vector<ZTRecord*> spare_;
};

class ZTValList : public ZTSearch {
  public:
    explicit ZTValList(ZTFile* file = nullptr, bool threaded = false, int32_t margin = 20,
                       int32_t capacity = 200, uint32_t optionWord = 0);

    uint32_t notify(uint32_t code, uintptr_t a, uintptr_t b) override;

    // The field's values in sort order passing the text (a condition on the field when it holds
    // no '('); at most n rows. Returns the number of rows.
    int32_t query(ZTFile* file, uint32_t fieldID, const char* text, int32_t n);
    uint32_t getID(uint32_t i);
    // Row i's value, null past the last row.
    const char* getVal(uint32_t i);
    uint32_t getCount();

  private:
    int32_t limit_ = 0;
};

class ZTNameList : public ZTValList {
  public:
    using ZTValList::ZTValList;

    const char* getName(uint32_t i) { return getVal(i); }
    // The first row whose value equals the name byte for byte; 0 when none.
    uint32_t findID(const char* name);
    // The value of the first row of the record; null when none.
    const char* findName(uint32_t id);
};

class ZTSetList : public ZTNameList {
  public:
    // Kinds of sets: bit 1 ordinary sets, then sets with the attributes 43, 46, 101 (trash sets)
    // and 106.
    static constexpr uint32_t kOrdinary = 1;
    static constexpr uint32_t kAllKinds = 31;

    using ZTNameList::ZTNameList;
    // The set definitions of the kinds in the mask, by name; a mask of 0 lists none.
    int32_t query(ZTFile* file, uint32_t kindMask, int32_t n);
    // The condition text of a mask.
    static void maskText(uint32_t kindMask, ZTStr* out);
};

class ZTFieldList : public ZTNameList {
  public:
    using ZTNameList::ZTNameList;
    // The field definitions by name, filtered by the text.
    int32_t query(ZTFile* file, const char* text, int32_t n);
    // The form the list controls call: the kind word is kept (getKind) and selects nothing.
    int32_t query(ZTFile* file, const char* text, uint32_t kind, int32_t n);
    uint32_t getKind() const { return kind_; }

  private:
    uint32_t kind_ = 0;
};

class ZTScan : public ZTSearch {
  public:
    static constexpr uint32_t kNoMaximum = 0xFFFFFFFFu;

    ZTScan(ZTFile* file, bool threaded, bool unique, bool keepIDs, uint32_t maximum);
    ~ZTScan() override;

    uint32_t notify(uint32_t code, uintptr_t a, uintptr_t b) override;
    // Done for each record as it is reported; nothing here.
    virtual void recordAction(uint32_t recordID);
    virtual void init(ZTFile* file, bool threaded, bool unique, bool keepIDs, uint32_t maximum);
    using ZTSearch::init;

    // Every row of the query; scrollMode 1 reports the progress as a percentage of the range of
    // sort values, else as the count.
    bool query(const char* text, uint32_t sortingField, uint32_t setMember, uint32_t setFirstField,
               ZTCallback callback, void* context, uint32_t option, const ZTArray<uint32_t>* setIDs,
               uint32_t scrollMode, uint32_t startPosition);
    bool query(const char* text, uint32_t sortingField, const ZTSet* set, ZTCallback callback,
               void* context, uint32_t option, const ZTArray<uint32_t>* setIDs, uint32_t scrollMode,
               uint32_t startPosition);
    bool queryResult(ZTResult* result, ZTCallback callback, void* context, uint32_t scrollMode,
                     uint32_t startPosition);

    // Copies the kept IDs; their number.
    uint32_t getIDs(ZTArray<uint32_t>* out);
    // Records reported or waiting to be.
    uint32_t getCount();

  private:
    // The records met so far, one bit per record ID in pages made as IDs reach them: IDs are
    // dense, so a million records take a few pages where a hash set would take tens of
    // megabytes and a cache miss per record. IDs too sparse for pages (a damaged database)
    // would cost a page each: past a budget of memory per ID, IDs of pages not yet made go to
    // a hash set instead.
    class SeenIDs {
      public:
        // False when the ID was met before.
        bool insert(uint32_t id);
        void clear();

      private:
        static constexpr uint32_t kPageBits = 16;
        static constexpr size_t kPageBytes = (size_t(1) << kPageBits) / 8;
        static constexpr size_t kPageBudget = size_t(1) << 20;

        std::vector<std::unique_ptr<uint64_t[]>> pages_;
        size_t pageCount_ = 0;
        size_t inserted_ = 0;
        bool sparse_ = false;  // no more pages; new pages' IDs go to the set
        std::unordered_set<uint32_t> others_;
    };

    void restart();
    // Reports the pending record; the callback's answer.
    uint32_t reportPending();

    uint32_t count_ = 0;
    uint32_t pending_ = 0;
    uint32_t progress_ = 0;
    bool unique_ = false;
    bool keepIDs_ = false;
    uint32_t maxRecords_ = kNoMaximum;
    ZTArray<uint32_t> ids_;
    SeenIDs seen_;
};

class ZTBrowse : public ZTThread {
  public:
    static constexpr uint32_t kProgressPercent = 1;

    explicit ZTBrowse(ZTFile* file = nullptr, bool threaded = false);
    ~ZTBrowse() override;

    // Copies the IDs and the progress mode and starts the job. The job must have a file.
    bool start(const ZTArray<uint32_t>& ids, ZTCallback callback, void* context,
               uint32_t progressMode);
    using ZTThread::start;

    void run() override;

  private:
    ZTArray<uint32_t> ids_;
    uint32_t progressMode_ = 0;
};
