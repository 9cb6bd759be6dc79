#include "ztdb/ztsearch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "ztdb/ztassert.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztsearchformula.h"
#include "ztdb/ztset.h"

namespace {

// The search's lock for a scope, taken only when the search is threaded.
class Guard {
  public:
    explicit Guard(ZTSearch* search) : search_(search) { search_->lock(); }
    ~Guard() { search_->unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

  private:
    ZTSearch* search_;
};

// The position of the first c outside '"' quotes, or -1.
int64_t findUnquoted(const char* text, char c) {
    bool quoted = false;
    for (int64_t i = 0; text[i]; ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (!quoted && text[i] == c)
            return i;
    }
    return -1;
}

// A field group "(" digits ")" at text[i]: the field ID (non-zero, within 32 bits) and the
// length of the group; 0 when it is none.
uint32_t fieldGroup(const char* text, size_t i, size_t* length) {
    if (text[i] != '(') return 0;
    size_t j = i + 1;
    uint64_t id = 0;
    while (text[j] >= '0' && text[j] <= '9') {
        id = id * 10 + uint64_t(text[j] - '0');
        if (id > 0xFFFFFFFFu) return 0;
        ++j;
    }
    if (j == i + 1 || text[j] != ')' || id == 0) return 0;
    *length = j + 1 - i;
    return uint32_t(id);
}

}  // namespace

// Where a walk stands between its positionings.
struct ZTSearch::Walk {
    int step = 1;           // the direction the atom walks in
    int phase = 0;          // while learning the range: -1 seeking the maximum, +1 the minimum
    bool learning = false;  // the positioning was a learning seek
};

ZTSearch::ZTSearch(ZTFile* file, bool threaded, int32_t margin, int32_t capacity,
                   uint32_t optionWord)
    : optionWord_(optionWord), formula_(std::make_unique<ZTSearchFormula>()) {
    resultMake();
    ZTSearch::init(file, threaded, margin, capacity);
}

ZTSearch::~ZTSearch() {
    interrupt();
    freeAtoms();
    if (ownsFile_) delete file_;
    file_ = nullptr;
    resultFree();
}

// ---- lock and waits ----

void ZTSearch::lock() {
    if (threaded_) critical_.lock();
}

void ZTSearch::unlock() {
    if (threaded_) critical_.unlock();
}

void ZTSearch::setWaitHook(ZTLockWaitHook hook, void* context) {
    std::lock_guard<std::mutex> guard(stateLock_);
    waitHook_ = hook;
    waitContext_ = context;
}

void ZTSearch::waitStep(std::unique_lock<std::mutex>& lock) {
    if (waitHook_ == nullptr) {
        changed_.wait(lock);
        return;
    }
    lock.unlock();
    (void)waitHook_(waitContext_, ZTThread::kWaitStepMilliseconds);
    lock.lock();
}

bool ZTSearch::onWorkerThread() {
    std::lock_guard<std::mutex> guard(stateLock_);
    return thread_.get_id() == std::this_thread::get_id();
}

bool ZTSearch::isActive() {
    std::lock_guard<std::mutex> guard(stateLock_);
    return active_;
}

void ZTSearch::waitUntilIdle() {
    std::unique_lock<std::mutex> lock(stateLock_);
    // A callback that stops its own search cannot wait for its own thread.
    if (thread_.get_id() == std::this_thread::get_id()) return;
    while (active_) waitStep(lock);
    std::thread ended = std::move(thread_);
    lock.unlock();
    if (ended.joinable()) ended.join();
}

void ZTSearch::interrupt() {
    running_.store(false);
    waitUntilIdle();
}

// ---- binding ----

void ZTSearch::init(ZTFile* file, bool threaded, int32_t margin, int32_t capacity) {
    setFile(file);
    clearQuery();
    waitUntilIdle();
    callerFile_ = file;
    const bool sameDatabase = file_ != nullptr && file != nullptr &&
                              (file_ == file || file_->getFileID() == file->getFileID());
    const bool rightKind = threaded ? ownsFile_ : file_ == file;
    if (!sameDatabase || !rightKind) {
        if (ownsFile_) delete file_;
        file_ = nullptr;
        ownsFile_ = false;
        if (file != nullptr && threaded) {
            file_ = file->duplicate(11);
            ownsFile_ = file_ != nullptr;
        }
        // A database that cannot be opened twice (held exclusive) is searched inline.
        if (file_ == nullptr) file_ = file;
    }
    threaded_ = threaded && ownsFile_;
    margin_ = std::max<int32_t>(margin, 0);
    capacity_ = std::max<int32_t>(capacity, 2);
    const ZTKeyLengths lengths = file ? file->getKeyLengths() : ZTKeyLengths{};
    filter_.reset(file_ ? file_->getKeyLengths() : lengths);
    callerFilter_.reset(lengths);
    resultReset();
    reseek_ = false;
    direction_ = 1;
}

uint8_t ZTSearch::atomMode() const {
    uint8_t mode = 0;
    if (useScroll_) mode |= ZTAtom::kModeRelative;
    if (setOrderSet_) mode |= ZTAtom::kModeMembers;
    // A reseek finds a row again by its text; a record-order walk skips links without an owner.
    if (leanRows_ && !reseek_) mode |= ZTAtom::kModeKeysOnly;
    if (leanRows_ && !recordOrder_) mode |= ZTAtom::kModeNoLinks;
    return mode;
}

void ZTSearch::freeAtoms() {
    for (ZTAtom* atom : rows_) delete atom;
    rows_.clear();
}

void ZTSearch::clearWindow() {
    Guard guard(this);
    freeAtoms();
    startReached_ = false;
    endReached_ = false;
    first_ = 0;
    firstSeen_ = 0;
    reqFirst_.store(0);
    reqLast_.store(-1);
    resultDropList();
}

void ZTSearch::clearRows() {
    interrupt();
    clearWindow();
}

void ZTSearch::clearQuery() {
    clearRows();
    Guard guard(this);
    filter_.reset(filter_.lengths);
    callerFilter_.reset(callerFilter_.lengths);
    querySets_.clear();
    minimum_ = -1.0;
    maximum_ = -1.0;
    sortingField_ = 0;
    formula_->clear();
}

void ZTSearch::setDescending(bool descending) {
    clearQuery();
    direction_ = descending ? -1 : 1;
}

void ZTSearch::setReseek(bool reseek) {
    clearQuery();
    reseek_ = reseek;
}

// ---- queries ----

bool ZTSearch::query(const char* text, uint32_t sortingField, uint32_t setMember,
                     uint32_t setFirstField, ZTCallback callback, void* context, int32_t rowsWanted,
                     uint32_t option, const ZTArray<uint32_t>* setIDs, bool useScroll,
                     uint32_t startPosition) {
    if (!ZT_ASSERT(isValid()) || !ZT_ASSERT(sortingField != 0 || setMember != 0)) return false;
    clearQuery();
    if (setMember != 0 && setFirstField == 0) setFirstField = callerFile_->getNameLink(setMember);
    if (!ZT_ASSERT((setMember == 0) == (setFirstField == 0))) return false;
    if (text == nullptr) text = "";

    resultSetQuery(text, sortingField, setMember, setFirstField, option != 0, setIDs);
    {
        Guard guard(this);
        queryText_.assign(text);
        setMember_ = setMember;
        setFirstField_ = setFirstField;
        sortingField_ = sortingField != 0 ? sortingField : setFirstField;
        setOrderSet_ = setMember != 0 && sortingField_ == setFirstField ? setMember : 0;
        callback_ = callback;
        context_ = context;
        option_ = option;
        if (setIDs) querySets_.addAll(*setIDs, true);
        useScroll_ = useScroll;
        recordOrder_ = sortingField_ == kRecordOrder;
        sortCondition_ = true;
        rowsExamined_.store(0);
        if (startPosition > 0 && startPosition < kStartCodes) {
            startCode_ = kStartRecord;
            startRecord_ = startPosition;
        } else {
            startCode_ = int32_t(startPosition);
            startRecord_ = 0;
        }
        startValue_ = -1.0;
    }

    // The formula: after the first '=' outside quotes.
    const int64_t equals = findUnquoted(text, '=');
    ZTStr conditions;
    if (equals >= 0) {
        formula_->compile(file_, text + equals + 1);
        conditions.assign(std::string(text, size_t(equals)).c_str());
    } else {
        conditions.assign(text);
    }
    parseConditions(conditions.text);

    if (rowsWanted > 0) makeAvailable(0, rowsWanted - 1);
    return true;
}

bool ZTSearch::query(const char* text, uint32_t sortingField, const ZTSet* set, ZTCallback callback,
                     void* context, int32_t rowsWanted, uint32_t option,
                     const ZTArray<uint32_t>* setIDs, bool useScroll, uint32_t startPosition) {
    const uint32_t setMember = set ? set->getID() : 0;
    const uint32_t firstField = set && set->size ? set->data[0] : 0;
    return query(text, sortingField, setMember, setMember ? firstField : 0, callback, context,
                 rowsWanted, option, setIDs, useScroll, startPosition);
}

int32_t ZTSearch::queryField(ZTFile* file, uint32_t fieldID, const char* text, uint32_t option,
                             int32_t rowsWanted, int32_t capacity) {
    init(file, false, 0, capacity);
    ZTStr condition;
    if (text && *text && std::strchr(text, '(') == nullptr)
        condition.format(uint32_t(std::strlen(text)) + 16, "%c%lu%c%s", '(',
                         static_cast<unsigned long>(fieldID), ')', text);
    else
        condition.assign(text ? text : "");
    if (!query(condition.text, fieldID, 0, 0, nullptr, nullptr, rowsWanted, option, nullptr, false,
               0))
        return 0;
    Guard guard(this);
    return windowCount();
}

void ZTSearch::parseConditions(const char* text) {
    const size_t n = std::strlen(text);
    bool quoted = false;
    uint32_t field = 0;
    size_t start = 0;
    auto close = [&](size_t end) {
        if (field == 0) return;
        const std::string condition(text + start, end - start);
        filter_.setCondition(field, condition.c_str());
        callerFilter_.setCondition(field, condition.c_str());
    };
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == '"') {
            quoted = !quoted;
            continue;
        }
        size_t length = 0;
        const uint32_t id = quoted ? 0 : fieldGroup(text, i, &length);
        if (id == 0) continue;
        close(i);
        field = id;
        start = i + length;
        i += length - 1;
    }
    close(n);
}

bool ZTSearch::isFilterField(uint32_t fieldID) const {
    return filter_.findElem(fieldID) >= 0;
}

// ---- the window ----

int32_t ZTSearch::windowIndex(int64_t row) const {
    const int64_t i = row - int64_t(first_);
    if (i < 0 || i >= int64_t(rows_.size())) return -1;
    return int32_t(i);
}

int ZTSearch::rowState(int64_t row) const {
    if (windowIndex(row) >= 0) return kRowInWindow;
    if (startReached_ && row < int64_t(first_)) return kRowBeyondEnd;
    if (endReached_ && row >= int64_t(first_) + int64_t(rows_.size())) return kRowBeyondEnd;
    return kRowNotLoaded;
}

ZTAtom* ZTSearch::addRow(ZTAtom* atom, int direction) {
    if (direction > 0) {
        rows_.push_back(atom);
    } else {
        rows_.insert(rows_.begin(), atom);
        --first_;
    }
    if (int32_t(rows_.size()) <= capacity_) return new ZTAtom(file_, atomMode());
    ZTAtom* dropped;
    if (direction > 0) {
        dropped = rows_.front();
        rows_.erase(rows_.begin());
        ++first_;
        startReached_ = false;
    } else {
        dropped = rows_.back();
        rows_.pop_back();
        endReached_ = false;
    }
    dropped->reset(file_, atomMode());
    return dropped;
}

int32_t ZTSearch::findRow(int32_t row) {
    return windowIndex(row);
}

bool ZTSearch::rowChanged(int32_t, ZTRefreshInfo*) {
    return false;
}

uint32_t ZTSearch::getFirstRecordSeen() {
    Guard guard(this);
    return firstSeen_;
}

// ---- the request ----

void ZTSearch::requestedRange(int64_t first, int64_t last, int32_t margin, int32_t capacity,
                              int64_t* reqFirst, int64_t* reqLast) {
    const int64_t s = std::max<int64_t>(10, margin);
    *reqFirst = ((first - margin - s + 1) / s) * s;
    *reqLast = ((margin + last + s - 1) / s) * s;
    // A range wider than the window is fetched forward only, so rows asked for behind the
    // window would never come: of the margins, keep what the window holds around the rows.
    if (*reqLast - *reqFirst >= int64_t(capacity) - 1 && last - first < int64_t(capacity) - 1) {
        const int64_t room = int64_t(capacity) - 2 - (last - first);
        *reqFirst = std::max(*reqFirst, first - room / 2);
        *reqLast = std::min(*reqLast, *reqFirst + int64_t(capacity) - 2);
    }
}

bool ZTSearch::requestSatisfied(int d) const {
    const int64_t row = d > 0 ? reqLast_.load() : reqFirst_.load();
    // Rows asked for before the window are reached backward, not forward.
    if (d > 0 && !rows_.empty() && row < int64_t(first_)) return true;
    return rowState(row) != kRowNotLoaded;
}

int ZTSearch::makeAvailable(int32_t first, int32_t last) {
    if (!ZT_ASSERT(isValid()) || !ZT_ASSERT(isQueryStarted())) return 0;
    if (last < first) return 0;
    int64_t reqFirst, reqLast;
    requestedRange(first, last, margin_, capacity_, &reqFirst, &reqLast);
    bool restart = false;
    {
        Guard guard(this);
        if (rowState(reqFirst) != kRowNotLoaded && rowState(reqLast) != kRowNotLoaded) return 0;
        if (threaded_ && isActive()) {
            // The worker rechecks the request under this lock before it ends, so a request
            // made while it runs is never lost; only one it has already passed restarts it.
            const bool previousDone = requestSatisfied(1);
            reqFirst_.store(reqFirst);
            reqLast_.store(reqLast);
            // A callback asking on the worker's own thread cannot wait for that thread.
            if (!previousDone || rowState(reqLast) != kRowNotLoaded || onWorkerThread()) return 0;
            restart = true;
        } else {
            reqFirst_.store(reqFirst);
            reqLast_.store(reqLast);
        }
    }
    if (restart) {
        interrupt();
        reqFirst_.store(reqFirst);
        reqLast_.store(reqLast);
    }
    if (!threaded_) {
        running_.store(true);
        run();
        const uint32_t answer = notify(kCodeFinished, reinterpret_cast<uintptr_t>(this), 0);
        if (answer == kZTAnswerDelete) {
            delete this;
            return 1;
        }
        running_.store(false);
        return 1;
    }
    return startWorker() ? 1 : 0;
}

bool ZTSearch::startWorker() {
    waitUntilIdle();
    running_.store(true);
    std::lock_guard<std::mutex> guard(stateLock_);
    try {
        thread_ = std::thread([this] { workerBody(); });
    } catch (const std::system_error&) {
        running_.store(false);
        return false;
    }
    active_ = true;
    return true;
}

void ZTSearch::workerBody() {
    uint32_t answer;
    for (;;) {
        run();
        answer = notify(kCodeFinished, reinterpret_cast<uintptr_t>(this), 0);
        // A request made after the walk passed its last check is served before the thread
        // ends: makeAvailable looks at the handle under this same lock.
        Guard guard(this);
        const bool more =
            answer != kZTAnswerDelete && running_.load() &&
            (!requestSatisfied(1) || (reqLast_.load() - reqFirst_.load() < int64_t(capacity_) - 1 &&
                                      !requestSatisfied(-1)));
        if (more) continue;
        std::lock_guard<std::mutex> state(stateLock_);
        active_ = false;
        if (answer == kZTAnswerDelete)
            thread_.detach();  // nobody joins a search that deletes itself
        else
            changed_.notify_all();
        break;
    }
    if (answer == kZTAnswerDelete) delete this;
}

uint32_t ZTSearch::notify(uint32_t code, uintptr_t a, uintptr_t b) {
    if (callback_ == nullptr) return 0;
    const uint32_t answer = callback_(code, a, b, context_);
    if (answer == kZTAnswerStop) running_.store(false);
    return answer;
}

// ---- the walk ----

void ZTSearch::run() {
    fetch(1);
    if (running_.load() && reqLast_.load() - reqFirst_.load() < int64_t(capacity_) - 1) fetch(-1);
}

int ZTSearch::seek(ZTAtom* atom, int x) {
    if (recordOrder_) return atom->stepRecord(0, x);
    return atom->seekCondition(sortCondition_ ? &filter_ : nullptr, sortingField_, option_ != 0,
                               setOrderSet_, x);
}

int ZTSearch::position(ZTAtom* atom, int d, int w, Walk* walk) {
    walk->step = w;
    walk->learning = false;
    const bool hasRows = [&] {
        Guard guard(this);
        if (rows_.empty()) return false;
        *atom = *(d > 0 ? rows_.back() : rows_.front());
        return true;
    }();
    if (hasRows) {
        if (recordOrder_) return atom->stepRecord(atom->recordID, w);
        if (reseek_ && w > 0) return reseekAfter(atom);
        return atom->findNextValue(atom, w, option_ != 0);
    }
    if (startValue_ != -1.0) {
        const double at = startValue_;
        startValue_ = -1.0;
        if (recordOrder_) return atom->gotoRelative(at);
        atom->relativePosition = at;
        atom->mode |= ZTAtom::kModeSeekFraction;
        const int r = seek(atom, 1);
        atom->mode &= uint8_t(~ZTAtom::kModeSeekFraction);
        return r;
    }
    const bool rangeKnown = minimum_ != -1.0 && maximum_ != -1.0;
    if (startCode_ != 0 && (!useScroll_ || rangeKnown)) {
        switch (startCode_) {
            case kStartLocate:
                return seek(atom, w);
            case kStartOtherEnd:
                startCode_ = 0;
                return seek(atom, -w);
            case kStartRecord:
            case kStartAfter:
            case kStartRecordLocate: {
                int r;
                if (recordOrder_) {
                    r = atom->stepRecord(startRecord_, 0);
                } else {
                    const uint32_t field = setOrderSet_ ? setOrderSet_ : sortingField_;
                    // Found in record order, which passes over links that lost their owner.
                    const uint8_t mode = atom->mode;
                    atom->mode &= uint8_t(~ZTAtom::kModeNoLinks);
                    r = atom->find(startRecord_, field, 0, "", nullptr, false);
                    atom->mode = mode;
                    if (r == 0 && atom->recordID != startRecord_) r = -1;
                    // Found through the records' order: its place in the values' order is what
                    // a scroll position reads.
                    if (r == 0 && useScroll_) r = atom->findNextValue(atom, 0, option_ != 0);
                }
                if (r != 0) r = seek(atom, w);
                if (startCode_ == kStartRecord) startCode_ = 0;
                if (startCode_ == kStartRecordLocate) startCode_ = kStartLocate;
                return r;
            }
            default:
                startCode_ = 0;  // an unknown code starts at the start
                break;
        }
    }
    int phase = w;
    if (useScroll_ && maximum_ == -1.0)
        phase = -1;
    else if (useScroll_ && minimum_ == -1.0)
        phase = 1;
    walk->learning = useScroll_ && !rangeKnown;
    walk->phase = phase;
    walk->step = phase;
    // Locate mode learns the range of everything it may list.
    if (walk->learning && startCode_ == kStartLocate) {
        const bool saved = sortCondition_;
        sortCondition_ = false;
        const int r = seek(atom, phase);
        sortCondition_ = saved;
        return r;
    }
    return seek(atom, phase);
}

// Finds the row after the atom's row by its value: the row itself again (then one step on), or,
// when it is gone, the first row that sorts after it. Stepping from a found value could never
// tell the row itself from the others of the same value.
int ZTSearch::reseekAfter(ZTAtom* atom) {
    const int32_t lenKey = file_->getLenKey();
    char left[512], here[512];
    file_->makeKey(atom->value.text, left, true, false, false, false);
    const uint32_t record = atom->recordID, type = atom->typeID, position = atom->position;
    const uint32_t valueID = atom->valueID;
    const uint8_t flags = atom->flags;
    const ZTStr text(atom->value);
    const uint32_t field = setOrderSet_ ? setOrderSet_ : sortingField_;
    int r = atom->findValue(field, text.text, false, option_ != 0, false, 0);
    while (r == 0) {
        file_->makeKey(atom->value.text, here, true, false, false, false);
        const int order = std::memcmp(here, left, size_t(lenKey));
        if (order > 0) return 0;
        if (order == 0) {
            if (atom->recordID == record && atom->typeID == type && atom->position == position &&
                atom->valueID == valueID && atom->flags == flags)
                return atom->findNextValue(atom, 1, option_ != 0);
            if (atom->valueID > valueID || (atom->valueID == valueID && atom->flags > flags))
                return 0;
        }
        r = atom->findNextValue(atom, 1, option_ != 0);
    }
    return r;
}

bool ZTSearch::passesTests(ZTAtom* atom, bool withSortCondition) {
    const uint32_t record = atom->recordID;
    if (setMember_ != 0 && setOrderSet_ == 0 && !atom->recordPasses(setMember_, nullptr, nullptr))
        return false;
    {
        ZTReadBracket bracket(file_);
        ZTRec probe(file_);
        for (uint32_t i = 0; i < filter_.size; ++i) {
            CFilterElem* elem = filter_.data[i];
            if (!elem) continue;
            if (!recordOrder_ && elem->fieldID == sortingField_) {
                if (!withSortCondition) continue;
                // The row's own value matched the condition: without words that other values
                // could break ('-', '#'), the record passes it too, and its values need no walk.
                if (elem->notCount == 0 && elem->hashCount == 0 && !elem->all) continue;
            }
            if (!probe.testRecord(record, elem, false)) {
                probe.unlockTables();
                return false;
            }
        }
        probe.unlockTables();
    }
    if (querySets_.size != 0) {
        bool member = false;
        for (uint32_t i = 0; i < querySets_.size && !member; ++i)
            member = atom->recordPasses(querySets_.data[i], nullptr, nullptr);
        if (!member) return false;
    }
    return formulaAccepts(record);
}

bool ZTSearch::formulaAccepts(uint32_t recordID) {
    return formula_->isEmpty() || formula_->accepts(recordID);
}

namespace {

// The value text of a lean row, for the tests that read it; unreadable reads as empty.
void loadText(ZTAtom* atom) {
    if (!atom->readValue()) atom->value.clear();
}

}  // namespace

int ZTSearch::judge(ZTAtom* atom, int w) {
    rowsExamined_.fetch_add(1);
    bool sortOn = sortCondition_;
    const bool textless = (atom->mode & ZTAtom::kModeKeysOnly) != 0;
    if (sortOn && !recordOrder_) {
        char made[256];
        const char* key = atom->rowKey();
        if (key == nullptr) {
            if (textless) loadText(atom);
            file_->makeKey(atom->value.text, made, true, false, false, false);
            key = made;
        }
        if (filter_.isPastBound(sortingField_, key, w)) {
            if (!(filter_.isTrivial() && startCode_ == kStartLocate)) return 2;
            if (notify(kCodeBoundPassed, 0, 0) == kZTAnswerStop) return 2;
            // Locate mode goes on past the bound: only the sort field's own condition drops.
            sortCondition_ = false;
            sortOn = false;
        }
    }
    if (sortOn && !recordOrder_ && isFilterField(sortingField_)) {
        if (textless) loadText(atom);
        if (!filter_.match(sortingField_, atom->value.text)) return 1;
    }
    return passesTests(atom, sortOn) ? 0 : 1;
}

void ZTSearch::fetch(int d) {
    ZTReadBracket bracket(file_);
    const int w = d * direction_;
    ZTAtom* atom = new ZTAtom(file_, atomMode());
    Walk walk;
    while (running_.load()) {
        {
            Guard guard(this);
            if (requestSatisfied(d)) break;
        }
        int r = position(atom, d, w, &walk);
        bool finished = false, again = false;
        while (r == 0 && running_.load()) {
            int verdict;
            if (walk.learning && startCode_ == kStartLocate) {
                const bool saved = sortCondition_;
                sortCondition_ = false;
                verdict = judge(atom, walk.step);
                sortCondition_ = saved;
            } else {
                verdict = judge(atom, walk.step);
            }
            if (verdict == 2) {
                finished = true;
                break;
            }
            if (verdict == 0 && walk.learning) {
                {
                    std::lock_guard<std::mutex> state(stateLock_);
                    if (walk.phase < 0)
                        maximum_.store(atom->relativePosition);
                    else
                        minimum_.store(atom->relativePosition);
                }
                changed_.notify_all();
                int next = w;
                if (maximum_ == -1.0)
                    next = -1;
                else if (minimum_ == -1.0)
                    next = 1;
                if (next != walk.phase || startCode_ != 0) {
                    again = true;
                    break;
                }
            }
            if (verdict == 0 && startCode_ == kStartAfter) {
                startCode_ = kStartLocate;
                verdict = 1;  // the start record itself is not listed
            }
            if (verdict == 0) {
                if (startCode_ == kStartLocate) {
                    startCode_ = 0;
                    sortCondition_ = false;
                }
                int32_t row;
                {
                    Guard guard(this);
                    if (firstSeen_ == 0) firstSeen_ = atom->recordID;
                    atom = addRow(atom, d);
                    row = d > 0 ? first_ + int32_t(rows_.size()) - 1 : first_;
                }
                notify(kCodeRowAdded, uintptr_t(intptr_t(row)), uintptr_t(intptr_t(row)));
                again = true;
                break;
            }
            r = recordOrder_ ? atom->stepRecord(atom->recordID, walk.step)
                             : atom->findNextValue(atom, walk.step, option_ != 0);
        }
        if (again) continue;
        if (r == 0 && !finished) break;  // stopped
        bool empty;
        {
            Guard guard(this);
            if (d > 0)
                endReached_ = true;
            else
                startReached_ = true;
            empty = startReached_ && endReached_ && rows_.empty();
        }
        notify(d > 0 ? kCodeEndReached : kCodeStartReached, 0, 0);
        if (empty) notify(kCodeEmpty, 0, 0);
        break;
    }
    delete atom;
}

// ---- reading rows ----

int ZTSearch::getRowState(int32_t row) {
    if (!ZT_ASSERT(isValid())) return kRowNotLoaded;
    Guard guard(this);
    return rowState(row);
}

uint32_t ZTSearch::getRecordID(int32_t row) {
    if (!ZT_ASSERT(isValid())) return 0;
    Guard guard(this);
    const int32_t i = findRow(row);
    return i < 0 ? 0 : rows_[size_t(i)]->recordID;
}

int32_t ZTSearch::getFirstRow() {
    if (!ZT_ASSERT(isValid())) return 0;
    Guard guard(this);
    return first_;
}

int32_t ZTSearch::getLastRow() {
    if (!ZT_ASSERT(isValid())) return -1;
    Guard guard(this);
    return first_ + int32_t(rows_.size()) - 1;
}

bool ZTSearch::isComplete() {
    if (!ZT_ASSERT(isValid())) return false;
    Guard guard(this);
    return startReached_ && endReached_;
}

int32_t ZTSearch::estimateCount(int64_t rows, double span) {
    if (!(span > 0.0)) return -1;
    const double estimate = double(rows) / span;
    // Beyond the integer range the estimate says only "very many".
    const int64_t e = estimate >= double(INT32_MAX) ? INT32_MAX : int64_t(estimate);
    int64_t p = 1;
    while (p * 10 <= e) p *= 10;
    const int64_t rounded = ((p / 2) + e) / p * p;
    return int32_t(std::min<int64_t>(rounded, INT32_MAX));
}

int32_t ZTSearch::getRecordCount() {
    if (!ZT_ASSERT(isValid())) return -1;
    Guard guard(this);
    const int64_t first = first_;
    const int64_t last = first_ + int64_t(rows_.size()) - 1;
    if (startReached_ && endReached_) return int32_t(last - first + 1);
    if (!useScroll_ || minimum_ == -1.0 || maximum_ == -1.0 || last - first < 10) return -1;
    const double low = getScrollPos(int32_t(first));
    const double high = getScrollPos(int32_t(last));
    // Positions fall along a descending window: its span counts all the same.
    return estimateCount(last - first, std::fabs(high - low));
}

double ZTSearch::getScrollPos(int32_t row) {
    if (!ZT_ASSERT(useScroll_)) return -1.0;
    Guard guard(this);
    if (minimum_ == -1.0 || maximum_ == -1.0) return -1.0;
    const int32_t i = findRow(row);
    if (i < 0) return -1.0;
    if (minimum_ == maximum_) return 0.0;
    const double low = minimum_.load(), high = maximum_.load();
    const double at = (rows_[size_t(i)]->relativePosition - low) / (high - low);
    return at > 1.0 ? 1.0 : at < 0.0 ? 0.0 : at;
}

void ZTSearch::scrollTo(double fraction, int32_t rowsWanted) {
    if (!ZT_ASSERT(isValid()) || !ZT_ASSERT(isQueryStarted()) || !ZT_ASSERT(useScroll_) ||
        !ZT_ASSERT(fraction >= 0.0 && fraction <= 1.0))
        return;
    {
        // The range comes from the walk that runs now; wait for it (or for its end).
        std::unique_lock<std::mutex> state(stateLock_);
        while ((minimum_.load() == -1.0 || maximum_.load() == -1.0) && active_) waitStep(state);
    }
    clearRows();
    {
        Guard guard(this);
        // Locate mode lists everything around the place scrolled to.
        if (startCode_ == kStartLocate || startCode_ == kStartAfter) sortCondition_ = false;
        const double low = minimum_.load(), high = maximum_.load();
        startValue_ = low + fraction * (high - low);
        startCode_ = 0;
        startRecord_ = 0;
    }
    if (rowsWanted > 0) makeAvailable(0, rowsWanted - 1);
}

bool ZTSearch::getRowIDs(int32_t row, int32_t to, ZTArray<uint32_t>* ids) {
    if (!ZT_ASSERT(isValid()) || !ZT_ASSERT(ids != nullptr)) return false;
    Guard guard(this);
    const int32_t i = findRow(row);
    if (i < 0) return false;
    const int32_t end = std::min<int32_t>(to, int32_t(rows_.size()));
    for (int32_t k = i; k < end; ++k) ids->add(rows_[size_t(k)]->recordID, true);
    return true;
}

const char* ZTSearch::getRowValue(int32_t row) {
    if (!ZT_ASSERT(isValid())) return nullptr;
    Guard guard(this);
    const int32_t i = findRow(row);
    return i < 0 ? nullptr : rows_[size_t(i)]->value.text;
}

// ---- refresh ----

int ZTSearch::refresh(ZTRefreshInfo* info, void* arg) {
    auto* out = static_cast<ZTSearchRefreshInfo*>(arg);
    int32_t status = ZTSearchRefreshInfo::kNothing;
    if (!isValid() || info == nullptr) return 0;
    if (isActive()) {
        status = ZTSearchRefreshInfo::kRequery;
        interrupt();
    }
    file_->dispatchRefresh(info, nullptr);
    const uint32_t fileID = getFileID();
    uint32_t at =
        status == ZTSearchRefreshInfo::kRequery ? ZTRefreshInfo::kNone : info->findByID(fileID);
    if (at != ZTRefreshInfo::kNone) {
        const uint32_t last = info->findLastByID(fileID, ZTRefreshInfo::kAnyRecord, at);
        ZTArray<uint32_t> watched;
        bool anyItem = false;
        {
            Guard guard(this);
            for (ZTAtom* row : rows_) watched.add(row->typeID, false);
            if (!recordOrder_) watched.add(sortingField_, false);
            watched.add(setOrderSet_, false);
            watched.add(setMember_, false);
            // A record that starts or stops matching is found by watching what the query tests.
            for (uint32_t i = 0; i < filter_.size; ++i) {
                if (filter_.data[i]->all) anyItem = true;
                watched.add(filter_.data[i]->fieldID, false);
            }
            watched.addAll(querySets_, false);
            if (!formula_->isEmpty()) anyItem = true;
        }
        uint32_t previous = 0;
        for (uint32_t i = at; i <= last && status != ZTSearchRefreshInfo::kRequery; ++i) {
            const ZTRefreshItem* item = info->getItem(i);
            if (item == nullptr) break;
            const bool added = (item->flags & ZTRefreshItem::kAdded) != 0;
            if (anyItem || item->recordID == 0 || item->subID == 0 ||
                (item->subID != 0 && watched.find(item->subID) >= 0) || (recordOrder_ && added)) {
                status = ZTSearchRefreshInfo::kRequery;
                break;
            }
            if (item->recordID == previous) continue;
            previous = item->recordID;
            Guard guard(this);
            for (size_t k = 0; k < rows_.size(); ++k) {
                if (rows_[k]->recordID != item->recordID) continue;
                const int32_t row = first_ + int32_t(k);
                if (out) out->add(row);
                if (rowChanged(row, info)) status = ZTSearchRefreshInfo::kRepaint;
            }
        }
    }
    if (out) out->status = status;
    return status != ZTSearchRefreshInfo::kNothing;
}

// ---- the list view's callback, for now ----

void ZTListMessageQueue::post(uint32_t code, uintptr_t a) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back({code, a});
    }
    posted_.notify_all();
}

std::vector<ZTListMessage> ZTListMessageQueue::take() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<ZTListMessage> out;
    out.swap(messages_);
    return out;
}

bool ZTListMessageQueue::waitForMessage(int milliseconds) {
    std::unique_lock<std::mutex> guard(lock_);
    return posted_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                            [this] { return !messages_.empty(); });
}

uint32_t ztListCallbackEntry(uint32_t code, uintptr_t a, uintptr_t, void* context) {
    if (context != nullptr) static_cast<ZTListMessageQueue*>(context)->post(code, a);
    return 0;
}
