#pragma once
// ZTSearch: one query over one database, with a window of result rows in sort order that is
// filled on demand, on a worker thread of its own (threaded) or inline. A view asks for a range
// of rows (makeAvailable); the search widens it, and the walk goes over the sort field's values
// in the value index, forward from the window's last row and backward from its first, testing
// each record against the query and sliding accepted rows into the window. Row numbers are
// relative to where the walk started: rows found backward get numbers below the first forward
// row, so the first row number may become negative.
//
// Query text: "(" field ")" opens a condition on that field, running to the next such group;
// text before the first group gives no condition. The part after the first '=' is a formula
// that a record must make a non-zero integer. Between '"' quotes, '=' and "(n)" are plain text.
//
// Locate mode (start code kStartLocate): the walk goes to the first row that passes every test,
// and from there on lists the rows on either side of it without the sort field's own condition
// and bound; every other test (other conditions, the set, the query sets, the formula) still
// holds.
//
// Threads: a threaded search works on a private duplicate of the caller's database; a database
// that cannot be duplicated (held exclusive) is searched inline on the caller's file instead.
// The window, its counters and end flags are guarded by the search's lock (lock/unlock, taken
// only when threaded; re-entrant); the running flag and the requested range are atomics. The
// callback runs on the worker thread, outside the lock. Waits never spin: they sleep on a
// condition variable, or call the wait hook (a user interface that keeps its events served).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ztdb/ztarray.h"
#include "ztdb/ztatom.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztfilter.h"
#include "ztdb/ztrefresh.h"
#include "ztdb/ztstr.h"
#include "ztdb/ztthread.h"

class ZTResult;
class ZTSearchFormula;
class ZTSet;

// Filled by a list's refresh for its view: the changed rows and what to do.
struct ZTSearchRefreshInfo {
    static constexpr int32_t kNothing = 0;
    static constexpr int32_t kRepaint = 1;  // repaint the rows from low to high
    static constexpr int32_t kRequery = 2;  // start the query again

    int32_t low = INT32_MAX;
    int32_t high = INT32_MIN;
    int32_t status = kNothing;

    // Widens the range to include the row.
    void add(int32_t row) {
        if (row < low) low = row;
        if (row > high) high = row;
    }
};

// A derived search whose overrides the worker calls (addRow, notify) interrupts the worker first
// in its own destructor: the worker may still be inside them.
class ZTSearch : public ZTRefreshedBaseClass {
  public:
    // Callback codes.
    static constexpr uint32_t kCodeRowAdded = 11;    // row number, row number
    static constexpr uint32_t kCodeEndReached = 12;  // 0, 0
    static constexpr uint32_t kCodeStartReached = 13;
    static constexpr uint32_t kCodeEmpty = 14;
    static constexpr uint32_t kCodeFinished = 15;     // the search, 0; -2 deletes the search
    static constexpr uint32_t kCodeBoundPassed = 16;  // -1 ends the direction
    // Start positions: a record ID (1 .. kStartCodes - 1) or one of these codes.
    static constexpr uint32_t kStartCodes = 0xFC05FC00u;
    static constexpr int32_t kStartLocate = -1;        // at the first match, then everything around
    static constexpr int32_t kStartOtherEnd = -2;      // from the far end of the sort order
    static constexpr int32_t kStartRecord = -3;        // at the start record
    static constexpr int32_t kStartAfter = -4;         // after the start record, then locate
    static constexpr int32_t kStartRecordLocate = -5;  // at the start record, then locate
    // Effective sorting field: the records themselves, in record-ID order.
    static constexpr uint32_t kRecordOrder = 111;
    // Row states.
    static constexpr int kRowNotLoaded = 0;
    static constexpr int kRowInWindow = 1;
    static constexpr int kRowBeyondEnd = 2;

    // The fifth argument is the caller's option word, kept and readable (no effect here).
    ZTSearch(ZTFile* file, bool threaded, int32_t margin, int32_t capacity,
             uint32_t optionWord = 0);
    ~ZTSearch() override;
    ZTSearch(const ZTSearch&) = delete;
    ZTSearch& operator=(const ZTSearch&) = delete;

    // ---- virtual operations, in slot order ----

    // Hands an accepted notice to the search (through dispatchRefresh); arg is a
    // ZTSearchRefreshInfo * or null. Non-zero when the rows are affected: status kRequery
    // (the query must be started again) or kRepaint (only the rows in the range changed).
    int refresh(ZTRefreshInfo* info, void* arg) override;
    // clearRows, then no query.
    virtual void clearQuery();
    // Stops the worker and empties the window (same query).
    virtual void clearRows();
    // Calls the callback with the context (0 without one); -1 clears the running flag.
    virtual uint32_t notify(uint32_t code, uintptr_t a, uintptr_t b);
    // Slides the accepted atom into the window (direction +1 appends, -1 inserts at the front)
    // and returns the atom for the next step: a new one while the window is below its capacity,
    // else the one dropped at the other end. Called under the lock.
    virtual ZTAtom* addRow(ZTAtom* atom, int direction);
    // The window index of the row, -1 when it is not in the window. Under the lock.
    virtual int32_t findRow(int32_t row);
    // A notice touched a shown row whose sort value and conditions did not change: whether
    // the row reacted. The base does not.
    virtual bool rowChanged(int32_t row, ZTRefreshInfo* info);
    // Rebinds the search: no query, a private duplicate when threaded (the caller's file when
    // not, or when no duplicate can be had), capacity at least 2, direction ascending.
    virtual void init(ZTFile* file, bool threaded, int32_t margin, int32_t capacity);

    // ---- queries ----

    // Starts a query: sorted by sortingField (0: the set's first field; kRecordOrder: record
    // order), restricted to the members of setMember (0: the whole database; its first field
    // read from the database when setFirstField is 0), to records of at least one of setIDs
    // (when given), and to the conditions of text. rowsWanted > 0 makes that many rows
    // available at once. False when the query cannot be started (no file, neither a sort field
    // nor a set, a set without a first field).
    bool query(const char* text, uint32_t sortingField, uint32_t setMember, uint32_t setFirstField,
               ZTCallback callback, void* context, int32_t rowsWanted, uint32_t option,
               const ZTArray<uint32_t>* setIDs, bool useScroll, uint32_t startPosition);
    // The same with the set's ID and first entry.
    bool query(const char* text, uint32_t sortingField, const ZTSet* set, ZTCallback callback,
               void* context, int32_t rowsWanted, uint32_t option, const ZTArray<uint32_t>* setIDs,
               bool useScroll, uint32_t startPosition);
    // The query of a result of the same database.
    bool queryResult(ZTResult* result, ZTCallback callback, void* context, int32_t rowsWanted,
                     bool useScroll, uint32_t startPosition);
    // An unthreaded search of one field's values (a text without '(' is a condition on that
    // field); the number of rows in the window.
    int32_t queryField(ZTFile* file, uint32_t fieldID, const char* text, uint32_t option,
                       int32_t rowsWanted, int32_t capacity);

    // Makes rows first .. last available (widened by the margin and rounded out): 0 when
    // nothing had to be started, 1 when the rows were fetched inline or a worker was started.
    int makeAvailable(int32_t first, int32_t last);
    // Stops the worker and waits until it has ended.
    void interrupt();
    // Each clears the query.
    void setDescending(bool descending);
    void setReseek(bool reseek);
    bool isDescending() const { return direction_ < 0; }

    // Kept and readable; no effect here.
    void setOption(bool flag) { optionFlag_ = flag; }
    bool getOption() const { return optionFlag_; }
    uint32_t getOptionWord() const { return optionWord_; }

    // ---- reading rows (each under the lock) ----

    // kRowInWindow, kRowNotLoaded, or kRowBeyondEnd for a row past an end already reached.
    int getRowState(int32_t row);
    // 0 when the row is not in the window.
    uint32_t getRecordID(int32_t row);
    int32_t getFirstRow();
    // first + count - 1.
    int32_t getLastRow();
    bool isComplete();
    // The rows when complete; otherwise an estimate (scroll mode, at least 10 rows seen)
    // rounded to one significant digit; -1 when none is known.
    int32_t getRecordCount();
    // The row's place in the result's range of sort values, 0.0 to 1.0; -1.0 while the range is
    // not known or the row is not in the window. Scroll mode only.
    double getScrollPos(int32_t row);
    // Starts a walk again at that place of the range of sort values. Scroll mode only.
    void scrollTo(double fraction, int32_t rowsWanted = 0);
    // Appends the record IDs of the window rows from the row up to but excluding window index
    // min(to, count); false when the row is not in the window.
    bool getRowIDs(int32_t row, int32_t to, ZTArray<uint32_t>* ids);
    // The row's value text; null when the row is not in the window. Valid while the row stays.
    const char* getRowValue(int32_t row);

    // Brings the search's own result description up to date and copies it out.
    void getResult(ZTResult* out);

    ZTFile* getFile() const { return file_; }
    bool isValid() const { return file_ != nullptr; }
    bool isQueryStarted() const { return sortingField_ != 0; }
    bool isThreaded() const { return threaded_; }
    // Threaded and working on a private duplicate of the caller's database.
    bool ownsFile() const { return ownsFile_; }
    bool isRunning() const { return running_.load(); }
    // A worker thread exists and has not ended.
    bool isActive();
    uint32_t getSortingField() const { return sortingField_; }
    bool isRecordOrder() const { return recordOrder_; }
    uint32_t getSetMember() const { return setMember_; }
    uint32_t getSetOrderSet() const { return setOrderSet_; }
    bool usesScroll() const { return useScroll_; }
    // The record of the first row accepted since the window was last emptied (0 none).
    uint32_t getFirstRecordSeen();
    // The value rows the walks have judged since the query started.
    uint64_t getRowsExamined() const { return rowsExamined_.load(); }

    // The search's lock (threaded searches only; re-entrant).
    void lock();
    void unlock();
    // What waits call instead of sleeping on their condition variable (null: sleep).
    void setWaitHook(ZTLockWaitHook hook, void* context);

    // The window arithmetic: the rows a request for first .. last asks for (rounded out to
    // multiples of max(10, margin) plus the margin, as much of it as a window of capacity holds).
    static void requestedRange(int64_t first, int64_t last, int32_t margin, int32_t capacity,
                               int64_t* reqFirst, int64_t* reqLast);
    // The row count estimate from a span of rows and of scroll positions; -1 when none.
    static int32_t estimateCount(int64_t rows, double span);

  protected:
    // Unlocked helpers for callers that hold the lock.
    int32_t windowCount() const { return int32_t(rows_.size()); }
    ZTAtom* windowAtom(int32_t index) const { return rows_[size_t(index)]; }
    int32_t firstRowNumber() const { return first_; }
    int rowState(int64_t row) const;
    int32_t windowIndex(int64_t row) const;
    // The filter bound to the caller's file (the worker's is bound to the search's file).
    ZTFilter* callerFilter() { return &callerFilter_; }
    ZTFile* callerFile() const { return callerFile_; }
    bool isFilterField(uint32_t fieldID) const;
    // The stop request of scans: the walk ends after the current row.
    void stopWalk() { running_.store(false); }
    // Rows that carry only what a scan reads (record, key, place): no value text unless a
    // condition on the sort field must test it, and no link target in value order. Each value
    // text and link owner otherwise costs a walk of the index of its own.
    void setLeanRows(bool lean) { leanRows_ = lean; }

  private:
    struct Walk;

    void run();
    bool startWorker();
    void workerBody();
    void fetch(int d);
    int position(ZTAtom* atom, int d, int w, Walk* walk);
    int seek(ZTAtom* atom, int x);
    int reseekAfter(ZTAtom* atom);
    // 0 accepted, 1 rejected, 2 the direction is finished.
    int judge(ZTAtom* atom, int w);
    bool passesTests(ZTAtom* atom, bool withSortCondition);
    bool requestSatisfied(int d) const;
    void parseConditions(const char* text);
    bool formulaAccepts(uint32_t recordID);
    void clearWindow();
    void freeAtoms();
    void waitUntilIdle();
    bool onWorkerThread();
    void waitStep(std::unique_lock<std::mutex>& lock);
    uint8_t atomMode() const;
    // The own result description.
    void resultMake();
    void resultFree();
    void resultReset();
    void resultSetQuery(const char* text, uint32_t sortingField, uint32_t setMember,
                        uint32_t setFirstField, bool option, const ZTArray<uint32_t>* setIDs);
    void resultDropList();

    // Database.
    ZTFile* file_ = nullptr;        // the search's file: a private duplicate when owned
    ZTFile* callerFile_ = nullptr;  // the caller's file
    bool ownsFile_ = false;
    uint32_t optionWord_ = 0;
    bool optionFlag_ = false;

    // Query.
    uint32_t sortingField_ = 0;  // effective; 0 no query
    uint32_t setMember_ = 0;
    uint32_t setFirstField_ = 0;
    uint32_t setOrderSet_ = 0;
    uint32_t option_ = 0;
    ZTArray<uint32_t> querySets_;
    ZTFilter filter_;                           // bound to file_
    ZTFilter callerFilter_;                     // bound to callerFile_
    std::unique_ptr<ZTSearchFormula> formula_;  // the formula condition
    ZTStr queryText_;
    bool recordOrder_ = false;
    bool reseek_ = false;
    bool leanRows_ = false;
    ZTResult* result_ = nullptr;  // owned

    // Window.
    std::vector<ZTAtom*> rows_;  // owned
    int32_t first_ = 0;
    int32_t capacity_ = 2;
    int32_t margin_ = 0;
    std::atomic<int64_t> reqFirst_{0};
    std::atomic<int64_t> reqLast_{-1};
    bool startReached_ = false;
    bool endReached_ = false;

    // Position.
    int direction_ = 1;
    bool useScroll_ = false;
    // The range of sort values (-1.0 unknown); atomics so that scrollTo can wait for them.
    std::atomic<double> minimum_{-1.0};
    std::atomic<double> maximum_{-1.0};
    double startValue_ = -1.0;
    int32_t startCode_ = 0;
    uint32_t startRecord_ = 0;
    bool sortCondition_ = true;  // the sort field's own condition and bound apply
    uint32_t firstSeen_ = 0;
    std::atomic<uint64_t> rowsExamined_{0};

    // Worker.
    bool threaded_ = false;
    std::atomic<bool> running_{false};
    ZTCallback callback_ = nullptr;
    void* context_ = nullptr;
    std::recursive_mutex critical_;
    std::mutex stateLock_;  // guards the thread handle
    std::condition_variable changed_;
    std::thread thread_;
    bool active_ = false;  // the thread handle is set
    ZTLockWaitHook waitHook_ = nullptr;
    void* waitContext_ = nullptr;
};

// The list view's callback for now: posts (code, a) to a queue that the reading thread drains,
// and answers 0 at once. The context is a ZTListMessageQueue *.
struct ZTListMessage {
    uint32_t code;
    uintptr_t a;
};

class ZTListMessageQueue {
  public:
    // The message number the view's window receives.
    static constexpr uint32_t kMessage = 32969;

    void post(uint32_t code, uintptr_t a);
    // Takes every message posted so far (in order).
    std::vector<ZTListMessage> take();
    // Waits until a message is there; false when none came within the milliseconds.
    bool waitForMessage(int milliseconds);

  private:
    std::mutex lock_;
    std::condition_variable posted_;
    std::vector<ZTListMessage> messages_;
};

uint32_t ztListCallbackEntry(uint32_t code, uintptr_t a, uintptr_t b, void* context);
