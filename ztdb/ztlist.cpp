#include "ztdb/ztlist.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "ztdb/ztassert.h"
#include "ztdb/ztrecord.h"
#include "ztdb/ztresult.h"

namespace {

bool sameDatabase(ZTFile* a, ZTFile* b) {
    return a != nullptr && b != nullptr && (a == b || a->getFileID() == b->getFileID());
}

}  // namespace

// ---- ZTList ----

ZTList::ZTList(ZTFile* file, const ZTSet* fields, bool threaded, int32_t margin, int32_t capacity,
               uint32_t optionWord)
    : ZTSearch(file, threaded, margin, capacity, optionWord) {
    listFile_ = file;
    fields_.init(file, 0);
    if (fields != nullptr) {
        fields_ = *fields;
        fields_.cutAfterFixed();
    }
}

ZTList::~ZTList() {
    interrupt();  // the worker slides records_ while it adds rows
    dropRecords();
    for (ZTRecord* record : spare_) delete record;
}

void ZTList::init(ZTFile* file, const ZTSet* fields, bool threaded, int32_t margin,
                  int32_t capacity) {
    ZTSearch::init(file, threaded, margin, capacity);
    listFile_ = file;
    fields_.init(file, 0);
    if (fields != nullptr) {
        fields_ = *fields;
        fields_.cutAfterFixed();
    }
    // Records bound to the previous database must not be bound again without init.
    for (ZTRecord* record : spare_) delete record;
    spare_.clear();
}

void ZTList::dropRecords() {
    std::lock_guard<ZTSearch> locked(*this);
    for (ZTRecord* record : records_)
        if (record != nullptr) spare_.push_back(record);
    records_.clear();
}

void ZTList::clearRows() {
    ZTSearch::clearRows();
    dropRecords();
}

ZTAtom* ZTList::addRow(ZTAtom* atom, int direction) {
    // Called on the worker under the lock: only pointers move here; a record leaving the window
    // waits in spare_ for findRow, on the reading thread, to bind it again.
    const int32_t before = windowCount();
    if (records_.size() != size_t(before)) {
        // The window was emptied without clearRows: no record may stand beside another row.
        for (ZTRecord* record : records_)
            if (record != nullptr) spare_.push_back(record);
        records_.assign(size_t(before), nullptr);
    }
    ZTAtom* next = ZTSearch::addRow(atom, direction);
    const bool dropped = windowCount() == before;
    if (direction > 0) {
        if (dropped && !records_.empty()) {
            if (records_.front() != nullptr) spare_.push_back(records_.front());
            records_.erase(records_.begin());
        }
        records_.push_back(nullptr);
    } else {
        if (dropped && !records_.empty()) {
            if (records_.back() != nullptr) spare_.push_back(records_.back());
            records_.pop_back();
        }
        records_.insert(records_.begin(), nullptr);
    }
    return next;
}

int32_t ZTList::findRow(int32_t row) {
    std::lock_guard<ZTSearch> locked(*this);
    const int32_t i = ZTSearch::findRow(row);
    if (i < 0 || size_t(i) >= records_.size()) return i;
    ZTRecord*& record = records_[size_t(i)];
    if (record == nullptr) {
        if (spare_.empty()) {
            record = new ZTRecord();
        } else {
            record = spare_.back();
            spare_.pop_back();
        }
        record->init(listFile_, &fields_, listFile_->getFieldCache(), &fileCache_);
        // A list line: the first value of each field of the structure, matched on demand.
        record->read(windowAtom(i)->recordID, true, true, false, true);
    }
    return i;
}

bool ZTList::rowChanged(int32_t row, ZTRefreshInfo* info) {
    std::lock_guard<ZTSearch> locked(*this);
    const int32_t i = ZTSearch::findRow(row);
    if (i < 0 || size_t(i) >= records_.size() || records_[size_t(i)] == nullptr) return false;
    return records_[size_t(i)]->dispatchRefresh(info, nullptr) != 0;
}

int ZTList::refresh(ZTRefreshInfo* info, void* arg) {
    auto* out = static_cast<ZTSearchRefreshInfo*>(arg);
    const int result = ZTSearch::refresh(info, arg);
    if (out != nullptr ? out->status == ZTSearchRefreshInfo::kRequery : result != 0) return result;
    // The set's own record changed (its field list, say): the columns and members may differ.
    if (info != nullptr && fields_.getID() != 0 &&
        info->findByID(getFileID(), fields_.getID()) != ZTRefreshInfo::kNone) {
        if (out != nullptr) out->status = ZTSearchRefreshInfo::kRequery;
        return 1;
    }
    return result;
}

bool ZTList::query(const char* text, uint32_t sortingField, ZTCallback callback, void* context,
                   int32_t rowsWanted, uint32_t option, const ZTArray<uint32_t>* setIDs,
                   bool useScroll, uint32_t startPosition) {
    if (!ZT_ASSERT(listFile_ != nullptr)) return false;
    const uint32_t setID = fields_.getID();
    const uint32_t firstField = setID != 0 ? listFile_->getNameLink(setID) : 0;
    return ZTSearch::query(text, sortingField, setID, firstField, callback, context, rowsWanted,
                           option, setIDs, useScroll, startPosition);
}

bool ZTList::query(const char* text, uint32_t sortingField, const ZTSet* set, ZTCallback callback,
                   void* context, int32_t rowsWanted, uint32_t option,
                   const ZTArray<uint32_t>* setIDs, bool useScroll, uint32_t startPosition) {
    return ZTSearch::query(text, sortingField, set, callback, context, rowsWanted, option, setIDs,
                           useScroll, startPosition);
}

bool ZTList::queryResult(ZTResult* result, ZTCallback callback, void* context, int32_t rowsWanted,
                         bool useScroll, uint32_t startPosition) {
    if (!ZT_ASSERT(result != nullptr && sameDatabase(result->getFile(), listFile_))) return false;
    return ZTSearch::queryResult(result, callback, context, rowsWanted, useScroll, startPosition);
}

ZTRecord* ZTList::matchedRecord(int32_t row, uint32_t i) {
    const int32_t index = findRow(row);
    if (index < 0 || size_t(index) >= records_.size()) return nullptr;
    ZTRecord* record = records_[size_t(index)];
    record->matchValues(i, callerFilter(), windowAtom(index));
    return record;
}

ZTStr* ZTList::getValue(int32_t row, uint32_t i, ZTStr* out) {
    std::lock_guard<ZTSearch> locked(*this);
    ZTRecord* record = matchedRecord(row, i);
    out->assign(record != nullptr ? record->getText(i) : nullptr);
    return out;
}

ZTStr* ZTList::recordText(int32_t row, uint32_t i, ZTStr* out, bool flag, RecordText text) {
    std::lock_guard<ZTSearch> locked(*this);
    ZTRecord* record = matchedRecord(row, i);
    if (record == nullptr) {
        out->assign("");
        return out;
    }
    return (record->*text)(i, out, flag);
}

ZTStr* ZTList::getCellText(int32_t row, uint32_t i, ZTStr* out, bool formatted) {
    return recordText(row, i, out, formatted, &ZTRecord::getDisplayText);
}

ZTStr* ZTList::getChoiceText(int32_t row, uint32_t i, ZTStr* out, bool withLabels) {
    return recordText(row, i, out, withLabels, &ZTRecord::getChoiceText);
}

int ZTList::getValueKind(int32_t row, uint32_t i) {
    std::lock_guard<ZTSearch> locked(*this);
    ZTRecord* record = matchedRecord(row, i);
    return record != nullptr ? record->getValueKind(i) : 0;
}

uint32_t ZTList::getTypeID(int32_t row, uint32_t i) {
    std::lock_guard<ZTSearch> locked(*this);
    ZTRecord* record = matchedRecord(row, i);
    return record != nullptr ? record->getTypeID(i) : 0;
}

int ZTList::setActiveRecord(int32_t row, uint32_t i) {
    std::lock_guard<ZTSearch> locked(*this);
    ZTRecord* record = matchedRecord(row, i);
    return record != nullptr ? record->getSequence(i) : -1;
}

bool ZTList::getRecord(int32_t row, ZTRecord* out) {
    std::lock_guard<ZTSearch> locked(*this);
    const int32_t index = findRow(row);
    if (index < 0 || size_t(index) >= records_.size()) return false;
    ZTRecord* record = records_[size_t(index)];
    record->loadAllValues();
    const uint32_t n = record->getLoadedCount();
    if (n != 0) record->matchValues(n - 1, callerFilter(), windowAtom(index));
    out->assign(*record, false);
    return true;
}

// ---- value lists ----

ZTValList::ZTValList(ZTFile* file, bool threaded, int32_t margin, int32_t capacity,
                     uint32_t optionWord)
    : ZTSearch(file, threaded, margin, capacity, optionWord) {}

uint32_t ZTValList::notify(uint32_t code, uintptr_t a, uintptr_t b) {
    const uint32_t answer = ZTSearch::notify(code, a, b);
    // The request is rounded out to tens; the list holds only the rows asked for.
    if (code == kCodeRowAdded && windowCount() >= limit_) stopWalk();
    return answer;
}

int32_t ZTValList::query(ZTFile* file, uint32_t fieldID, const char* text, int32_t n) {
    limit_ = n < 0 ? 0 : n;
    return queryField(file, fieldID, text, 1, limit_, limit_ + 20);
}

uint32_t ZTValList::getCount() {
    if (!isValid()) return 0;
    std::lock_guard<ZTSearch> locked(*this);
    return uint32_t(windowCount());
}

uint32_t ZTValList::getID(uint32_t i) {
    if (!isValid()) return 0;
    std::lock_guard<ZTSearch> locked(*this);
    return i < uint32_t(windowCount()) ? windowAtom(int32_t(i))->recordID : 0;
}

const char* ZTValList::getVal(uint32_t i) {
    if (!isValid()) return nullptr;
    std::lock_guard<ZTSearch> locked(*this);
    return i < uint32_t(windowCount()) ? windowAtom(int32_t(i))->value.text : nullptr;
}

uint32_t ZTNameList::findID(const char* name) {
    if (name == nullptr) return 0;
    const uint32_t n = getCount();
    for (uint32_t i = 0; i < n; ++i)
        if (std::strcmp(getVal(i), name) == 0) return getID(i);
    return 0;
}

const char* ZTNameList::findName(uint32_t id) {
    const uint32_t n = getCount();
    for (uint32_t i = 0; i < n; ++i)
        if (getID(i) == id) return getVal(i);
    return nullptr;
}

void ZTSetList::maskText(uint32_t kindMask, ZTStr* out) {
    static const uint32_t kFields[] = {43, 46, 101, 106};
    out->assign("");
    if ((kindMask & kAllKinds) == kAllKinds) return;
    for (int k = 0; k < 4; ++k) {
        const bool set = (kindMask & (2u << k)) != 0;
        ZTStr piece;
        // Ordinary sets lack every attribute not asked for; otherwise each one asked for is
        // required.
        if ((kindMask & kOrdinary) != 0 && !set)
            piece.format(16, "%c%lu%c%c", '(', static_cast<unsigned long>(kFields[k]), ')', '#');
        else if ((kindMask & kOrdinary) == 0 && set)
            piece.format(16, "%c%lu%c%c%c", '(', static_cast<unsigned long>(kFields[k]), ')', '-',
                         '#');
        out->insert(ZTStr::kEnd, piece.text);
    }
}

int32_t ZTSetList::query(ZTFile* file, uint32_t kindMask, int32_t n) {
    if ((kindMask & kAllKinds) == 0) {
        init(file, false, 0, 2);  // no query: an empty list
        return 0;
    }
    ZTStr text;
    maskText(kindMask, &text);
    return ZTValList::query(file, 9, text.text, n);
}

int32_t ZTFieldList::query(ZTFile* file, const char* text, int32_t n) {
    return ZTValList::query(file, 1, text, n);
}

int32_t ZTFieldList::query(ZTFile* file, const char* text, uint32_t kind, int32_t n) {
    kind_ = kind;
    return query(file, text, n);
}

// ---- ZTScan ----

bool ZTScan::SeenIDs::insert(uint32_t id) {
    const size_t page = id >> kPageBits;
    if (page >= pages_.size() || !pages_[page]) {
        // Pages may take a megabyte (IDs over a range of eight million), beyond that what a
        // hash set would take for the IDs so far.
        const size_t slots = std::max(pages_.size(), page + 1);
        const size_t cost = slots * sizeof pages_[0] + (pageCount_ + 1) * kPageBytes;
        if (sparse_ || cost > kPageBudget + inserted_ * 32) {
            sparse_ = true;
            if (!others_.insert(id).second) return false;
            ++inserted_;
            return true;
        }
        if (page >= pages_.size()) pages_.resize(page + 1);
        pages_[page] = std::make_unique<uint64_t[]>(kPageBytes / 8);  // zeroed
        ++pageCount_;
    }
    const uint32_t at = id & ((1u << kPageBits) - 1);
    const uint64_t mask = uint64_t(1) << (at & 63);
    uint64_t& word = pages_[page][at >> 6];
    if (word & mask) return false;
    word |= mask;
    ++inserted_;
    return true;
}

void ZTScan::SeenIDs::clear() {
    pages_.clear();
    pageCount_ = 0;
    inserted_ = 0;
    sparse_ = false;
    others_.clear();
}

ZTScan::ZTScan(ZTFile* file, bool threaded, bool unique, bool keepIDs, uint32_t maximum)
    : ZTSearch(file, threaded, 0, 2) {
    setLeanRows(true);
    unique_ = unique;
    keepIDs_ = keepIDs;
    maxRecords_ = maximum;
}

ZTScan::~ZTScan() {
    interrupt();  // the worker reports through this object's notify
}

void ZTScan::init(ZTFile* file, bool threaded, bool unique, bool keepIDs, uint32_t maximum) {
    ZTSearch::init(file, threaded, 0, 2);
    std::lock_guard<ZTSearch> locked(*this);
    unique_ = unique;
    keepIDs_ = keepIDs;
    maxRecords_ = maximum;
}

void ZTScan::recordAction(uint32_t) {}

void ZTScan::restart() {
    interrupt();
    std::lock_guard<ZTSearch> locked(*this);
    count_ = 0;
    pending_ = 0;
    progress_ = 0;
    ids_.clear();
    seen_.clear();
}

bool ZTScan::query(const char* text, uint32_t sortingField, uint32_t setMember,
                   uint32_t setFirstField, ZTCallback callback, void* context, uint32_t option,
                   const ZTArray<uint32_t>* setIDs, uint32_t scrollMode, uint32_t startPosition) {
    restart();
    return ZTSearch::query(text, sortingField, setMember, setFirstField, callback, context,
                           0x7FFFFFFF, option, setIDs, scrollMode == 1, startPosition);
}

bool ZTScan::query(const char* text, uint32_t sortingField, const ZTSet* set, ZTCallback callback,
                   void* context, uint32_t option, const ZTArray<uint32_t>* setIDs,
                   uint32_t scrollMode, uint32_t startPosition) {
    restart();
    return ZTSearch::query(text, sortingField, set, callback, context, 0x7FFFFFFF, option, setIDs,
                           scrollMode == 1, startPosition);
}

bool ZTScan::queryResult(ZTResult* result, ZTCallback callback, void* context, uint32_t scrollMode,
                         uint32_t startPosition) {
    if (!ZT_ASSERT(result != nullptr && sameDatabase(result->getFile(), getFile()))) return false;
    restart();
    return ZTSearch::queryResult(result, callback, context, 0x7FFFFFFF, scrollMode == 1,
                                 startPosition);
}

uint32_t ZTScan::reportPending() {
    uint32_t record, progress;
    {
        std::lock_guard<ZTSearch> locked(*this);
        record = pending_;
        progress = progress_;
        pending_ = 0;
    }
    recordAction(record);
    return ZTSearch::notify(kZTCodeScanned, record, progress);
}

uint32_t ZTScan::notify(uint32_t code, uintptr_t a, uintptr_t b) {
    if (code == kCodeFinished) return ZTSearch::notify(code, a, b);
    if (code != kCodeRowAdded && code != kCodeEndReached) return 0;
    const int32_t row = int32_t(intptr_t(a));
    const uint32_t record = code == kCodeRowAdded ? getRecordID(row) : 0;
    uint32_t answer = 0;
    bool report;
    {
        std::lock_guard<ZTSearch> locked(*this);
        // Without unique every row is a report of its own, also a record's next value met at
        // once; with unique such a row is skipped below.
        report = pending_ != 0 && (pending_ != record || !unique_);
    }
    if (report) answer = reportPending();
    // A stop asked by the callback reports no more: the row that came with it is not taken.
    if (code != kCodeRowAdded || record == 0 || answer == kZTAnswerStop) return answer;

    bool reachedMaximum;
    {
        std::lock_guard<ZTSearch> locked(*this);
        if (unique_ && !seen_.insert(record)) return answer;
        ++count_;
        pending_ = record;
        if (usesScroll()) {
            const double at = getScrollPos(row);
            progress_ = at > 0.0 ? uint32_t(at * 100.0) : 0;
        } else {
            progress_ = count_;
        }
        if (unique_ || keepIDs_) {
            // Doubling: the array's own step of 10 would copy a whole result over and over.
            if (ids_.size == ids_.capacity) ids_.grow(std::max<uint32_t>(ids_.capacity, 64));
            ids_.add(record, true);
        }
        reachedMaximum = count_ == maxRecords_;
    }
    if (reachedMaximum) {
        // The walk ends here without reaching the end: the last record is reported now.
        stopWalk();
        answer = reportPending();
    }
    return answer;
}

uint32_t ZTScan::getIDs(ZTArray<uint32_t>* out) {
    if (!ZT_ASSERT(keepIDs_) || out == nullptr) return 0;
    std::lock_guard<ZTSearch> locked(*this);
    out->copyFrom(ids_);
    return out->size;
}

uint32_t ZTScan::getCount() {
    std::lock_guard<ZTSearch> locked(*this);
    return count_;
}

// ---- ZTBrowse ----

ZTBrowse::ZTBrowse(ZTFile* file, bool threaded) : ZTThread(file, threaded) {}

ZTBrowse::~ZTBrowse() {
    waitForEnd();  // the thread may still read the list
}

bool ZTBrowse::start(const ZTArray<uint32_t>& ids, ZTCallback callback, void* context,
                     uint32_t progressMode) {
    if (!ZT_ASSERT(getThreadFile() != nullptr)) return false;
    waitForEnd();  // a running browse still reads the list being replaced
    ids_.copyFrom(ids);
    progressMode_ = progressMode;
    return ZTThread::start(callback, context);
}

void ZTBrowse::run() {
    const uint32_t count = ids_.size;
    for (uint32_t i = 0; i < count && isRunning(); ++i) {
        if (!hasCallback()) continue;
        const uint64_t progress = progressMode_ == kProgressPercent ? uint64_t(i) * 100 / count : i;
        notify(kZTCodeBrowsed, ids_.data[i], uintptr_t(progress));
    }
}
