// The maintenance job of a database (see ztmaintenance.h).
#include <algorithm>

#include "ztdb/ztassert.h"
#include "ztdb/ztmaintenance.h"

namespace {

constexpr uint32_t kSetNameType = 9;
constexpr uint32_t kFieldNameType = 1;
constexpr uint32_t kSetNameUnits = 5;
constexpr uint32_t kFieldNameUnits = 20;

}  // namespace

ZTMaintenance::ZTMaintenance(ZTFile* file, bool threaded, bool pack, bool check, bool purge,
                             int progressMode)
    : ZTThread(file, threaded),
      m_pack(pack),
      check_(check),
      purge_(purge),
      progressMode_(progressMode),
      deleteRecord_([](ZTFile* f, uint32_t id) { return f->deleteRecord(id, nullptr); }),
      renameDuplicateNames_(
          [](ZTFile* f, uint32_t type) { return int32_t(f->renameDuplicateNames(type)); }) {}

ZTMaintenance::~ZTMaintenance() {
    waitForEnd();  // the thread may still be in run, which uses the members below
}

bool ZTMaintenance::start(ZTCallback callback, void* context) {
    if (isThreaded()) waitForEnd();  // a previous run may still reopen the file
    ZTFile* file = getThreadFile();
    if (file == nullptr) return false;
    if (!ZT_ASSERT(!file->isReadOnly())) return false;
    if (m_pack && !ZT_ASSERT(file->isUsable())) return false;
    return ZTThread::start(callback, context);
}

bool ZTMaintenance::step(uint32_t n) {
    if (!running_ || !hasCallback()) return running_;
    done_ += n;
    // 64 bits: done x 100 passes 32 bits at 43 million units.
    const uint64_t value =
        progressMode_ == 1 ? std::min<uint64_t>(total_ ? done_ * 100 / total_ : 100, 100) : done_;
    const uint32_t answer = notify(kZTCodeProgress, 0, uintptr_t(value));
    return answer == kZTAnswerStop ? false : running_.load();
}

bool ZTMaintenance::yieldBetweenRows(ZTRec* rec) {
    const int yielded = yieldLock();
    if (yielded != 0) {
        // Others may have written while the lock was away: no verdict of before holds, and the
        // cursor finds its place again.
        kept_.clear();
        removed_.clear();
        rec->init(getThreadFile());
    }
    if (yielded < 0) failed_ = true;
    return yielded >= 0;
}

bool ZTMaintenance::verifyOnce() {
    if (verified_) return true;
    verified_ = true;
    return getThreadFile()->verifyTables();
}

void ZTMaintenance::run() {
    ZTFile* file = getThreadFile();
    done_ = 0;
    total_ = 0;
    repairs_ = 0;
    failed_ = false;
    verified_ = false;
    kept_.clear();
    removed_.clear();
    if (!file->isOpen()) {
        failed_ = true;
        return;
    }
    const int32_t rows = file->getRowCount();
    if (rows == 0) return;
    total_ = uint64_t(rows) + (m_pack ? uint64_t(rows) : 0) +
             (check_ ? uint64_t(file->getDictionaryRowCount()) + uint64_t(rows) + 25 : 0);

    if (m_pack && file->isUsable()) {
        packPass(rows);
    } else if (running_) {
        // Index files made from the records now agree with them. Open indexes are made again in
        // place under the lock, so that a database others have open can be checked as well;
        // missing or foreign ones need the database to themselves.
        verified_ = file->isUsable() ? file->verifyTables() : file->rebuildIndexes();
        if (!verified_) failed_ = true;
        step(uint32_t(rows));
    }
    if (running_ && check_ && !file->isUsable()) {
        const uint32_t mode = (file->getOpenMode() & 15) | kOpenTables | kOpenUsable;
        file->open(mode, true);
    }
    if (running_ && check_ && file->isUsable()) checkPass();
}

void ZTMaintenance::packPass(int32_t rows) {
    ZTFile* file = getThreadFile();
    if (!verifyOnce() || !file->lock(false)) {
        failed_ = true;
        return;
    }
    ZTRec rec(file);
    for (int32_t recno = 1; recno <= rows && running_; ++recno) {
        const int r = rec.checkRowRecord(recno, &kept_, &removed_, purge_);
        if (r < 0) break;  // the end of what can be read
        repairs_ += r;
        if (!step(1) || !yieldBetweenRows(&rec)) break;
    }
    // The purge runs after a stop as well: the records of trash sets go whatever came before.
    if (purge_ && !failed_) purge();
    if (!file->unlock()) failed_ = true;
    if (running_) {
        if (!file->pack()) failed_ = true;
        step(uint32_t(rows));
    }
}

void ZTMaintenance::purge() {
    if (!deleteRecord_) return;
    ZTFile* file = getThreadFile();
    uint32_t last = 0;
    for (;;) {
        ZTRec rec(file);
        if (rec.goLastOfType(kTrashOwnerType, false) != 0) {
            if (rec.readFailed()) failed_ = true;
            return;
        }
        // A record that comes back was not deleted: trying again would never end.
        if (rec.recordID == last || !deleteRecord_(file, rec.recordID)) {
            failed_ = true;
            return;
        }
        last = rec.recordID;
        ++repairs_;
        if (!yieldBetweenRows(&rec)) return;
    }
}

void ZTMaintenance::checkPass() {
    ZTFile* file = getThreadFile();
    if (!verifyOnce() || !file->lock(false)) {
        failed_ = true;
        return;
    }
    ZTRec rec(file);
    const int32_t rows = file->getRowCount();
    for (int32_t recno = 1; recno <= rows && running_; ++recno) {
        const int r = rec.repairRow(recno);
        if (r > 0) repairs_ += r;  // an unreadable row is passed over
        if (!step(1) || !yieldBetweenRows(&rec)) break;
    }
    const int32_t chunks = file->getDictionaryRowCount();
    for (int32_t recno = 1; recno <= chunks && running_; ++recno) {
        const int r = rec.checkChunk(recno);
        if (r > 0) repairs_ += r;
        if (!step(1) || !yieldBetweenRows(&rec)) break;
    }
    // The names are fixed even after a stop: they are quick, and a database with two sets of
    // one name confuses every list of sets.
    for (auto [type, units] :
         {std::pair{kSetNameType, kSetNameUnits}, std::pair{kFieldNameType, kFieldNameUnits}}) {
        if (renameDuplicateNames_ && renameDuplicateNames_(file, type) < 0) failed_ = true;
        step(units);
    }
    if (!file->unlock()) failed_ = true;
    if (file->getDictionaryVersion() != kDictionaryVersion &&
        !file->setDictionaryVersion(kDictionaryVersion))
        failed_ = true;
}
