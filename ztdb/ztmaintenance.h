#pragma once
// ZTMaintenance: checks, repairs and packs a database, as a job (ztthread.h).
//
// The work, in order (each part only while the job is still running):
//   - A database without rows: nothing, not even progress.
//   - Before the first pass over the rows, the tables' lengths are checked against their headers
//     and every tag is made again from the records (a killed writer leaves entries and keys that
//     the row checks would act on).
//   - pack (indexes open): under the lock every row gets the record check (rows of records that
//     are no longer alive go); then, with purge, also after a stop, every record holding a
//     value of field 101 is deleted; then both tables are packed.
//   - otherwise the index files are built again.
//   - check: indexes opened when they were not; under the lock every row is repaired, then every
//     dictionary chunk; then, also after a stop, duplicate set and field names get unique
//     suffixes; the dictionary version becomes 600.
// Progress: one unit per row or chunk of each pass, the pack and the rebuild as many units as
// rows, 5 and 20 for the two name fixes; reported as code 37 with the percentage (progress mode
// 1) or the units done. Long locked passes give the lock up for a moment every 2 seconds and
// then forget what they judged under it.
//
// The purge deletes records with ZTFile::deleteRecord and the name fixes are
// ZTFile::renameDuplicateNames; the setters below put others in their place (a test's failing
// delete, for one).
#include <cstdint>
#include <functional>

#include "ztdb/ztrec.h"
#include "ztdb/ztthread.h"

class ZTMaintenance : public ZTThread {
  public:
    // Deletes every row of the record, without a notice; false when it could not.
    using RecordDeleter = std::function<bool(ZTFile* file, uint32_t recordID)>;
    // Gives duplicate names of the name type unique suffixes; the number renamed, -1 on failure.
    using NameFixer = std::function<int32_t(ZTFile* file, uint32_t nameType)>;

    static constexpr uint32_t kTrashOwnerType = 101;
    static constexpr int32_t kDictionaryVersion = 600;

    ZTMaintenance(ZTFile* file, bool threaded, bool pack, bool check, bool purge, int progressMode);
    ~ZTMaintenance() override;

    // False (nothing started) without a file, which is also what a threaded job on a database
    // held exclusive has. A read-only file, or pack without indexes, is a programming error.
    bool start(ZTCallback callback, void* context) override;
    void run() override;
    // Counts n units done and reports them; false when the job should stop.
    bool step(uint32_t n);

    // An empty function leaves the step out (its progress units still counted).
    void setRecordDeleter(RecordDeleter deleter) { deleteRecord_ = std::move(deleter); }
    void setNameFixer(NameFixer fixer) { renameDuplicateNames_ = std::move(fixer); }

    uint64_t getDone() const { return done_; }
    uint64_t getTotal() const { return total_; }
    // Repairs and removals the passes made.
    int64_t getRepairs() const { return repairs_; }
    // Something failed that the job could not go past (a delete, the lock, a write).
    bool hasFailed() const { return failed_; }

    bool m_pack;

  private:
    bool verifyOnce();
    void packPass(int32_t rows);
    void purge();
    void checkPass();
    // Between rows under the lock: false when the work must end.
    bool yieldBetweenRows(ZTRec* rec);

    bool check_;
    bool purge_;
    int progressMode_;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
    int64_t repairs_ = 0;
    bool failed_ = false;
    bool verified_ = false;
    ZTIDCache kept_, removed_;
    RecordDeleter deleteRecord_;
    NameFixer renameDuplicateNames_;
};
