#pragma once
// Two small shared structures that keep the engine from reading and opening again what it
// already has. Neither locks: each belongs to the thread of its owner.
//
// ZTRecordCache<Record>: the last record images read, by record ID, first in first out. A miss
// makes a new image, reads the record into it and appends it; when the count then reaches the
// maximum, the oldest image is deleted, so at most maximum - 1 are held after a miss. A hit
// changes no order. An image that get returns may be deleted by a later miss: use it at once
// and hold no pointer to it across further requests. A maximum below 2 is refused (with 1, the
// image just read would be the one dropped): such a cache is not valid, like one without a file.
// Subclasses say how an image is made and read; Record is a receiver of notices that can be
// copied (operator= copies the images).
//
// ZTFieldCache: the field definitions (ZTField) of one database by field ID, a record cache
// whose images are read with the first value of each type only. Every record image holds one
// (its own of kFieldCacheSize unless one is given), and so does each ZTFile.
//
// ZTFileCache: the registry of open databases, one ZTFile per database with a use count. A
// database is known by its canonical path: the real path of its row table (symbolic links, "."
// and ".." resolved, letter case kept) without extension, or, while there is no row table, the
// name as a ZTFile takes it. Two spellings of one database share one ZTFile; two databases whose
// names differ only in case are two entries. Each open, and each openRelated that counts, is
// matched by one release; the last release, clear or the destructor deletes the file.
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "ztdb/ztarray.h"
#include "ztdb/ztassert.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztname.h"
#include "ztdb/ztrefresh.h"
#include "ztdb/ztstr.h"

template <class Record>
class ZTRecordCache : public ZTRefreshedBaseClass {
    static_assert(std::is_base_of_v<ZTRefreshedBaseClass, Record>,
                  "cached images receive the cache's notices");

  public:
    static constexpr uint32_t kMinimumSize = 2;

    ZTRecordCache(ZTFile* file, uint32_t maximum)
        : ZTRefreshedBaseClass(file), maximum_(maximum), file_(file) {
        ZT_ASSERT(maximum >= kMinimumSize);
    }
    ZTRecordCache(const ZTRecordCache& other) : ZTRefreshedBaseClass(other) { copyFrom(other); }
    // The notice state, the IDs, copies of the images, the maximum and the file.
    ZTRecordCache& operator=(const ZTRecordCache& other) {
        if (&other != this) {
            ZTRefreshedBaseClass::operator=(other);
            copyFrom(other);
        }
        return *this;
    }
    ~ZTRecordCache() override { clear(); }

    // Takes the file's ID for notices, drops every image and keeps the file.
    void setFile(ZTFile* file) {
        ZTRefreshedBaseClass::setFile(file);
        clear();
        file_ = file;
    }
    ZTFile* getFile() const { return file_; }
    bool isValid() const { return file_ != nullptr && maximum_ >= kMinimumSize; }

    // The cached image of the record, read on a miss. Null only when the cache is not valid.
    Record* get(uint32_t recordID) {
        if (!ZT_ASSERT(isValid())) return nullptr;
        const int at = ids_.find(recordID);
        return at >= 0 ? records_[uint32_t(at)] : load(recordID, -1);
    }

    // Reads the record into the image at index, or into a new image appended when index is -1
    // (dropping the oldest when the count reaches the maximum). Returns the image read.
    Record* load(uint32_t recordID, int index) {
        if (!ZT_ASSERT(isValid())) return nullptr;
        if (index >= 0) {
            if (!ZT_ASSERT(uint32_t(index) < records_.size)) return nullptr;
            ids_[uint32_t(index)] = recordID;
            readRecord(records_[uint32_t(index)], recordID);
            return records_[uint32_t(index)];
        }
        std::unique_ptr<Record> image(createRecord());
        if (!ZT_ASSERT(image != nullptr)) return nullptr;
        readRecord(image.get(), recordID);
        ids_.add(recordID, true);
        try {
            records_.add(image.get(), true);
        } catch (...) {
            ids_.remove(ids_.size - 1, 1);  // the arrays stay parallel
            throw;
        }
        Record* read = image.release();
        if (ids_.size >= maximum_) {
            ids_.remove(0, 1);
            records_.removeAt(0);
        }
        return read;
    }

    void clear() {
        ids_.clear();
        records_.clear();
    }

    // Hands the notice to every image; the OR of their results.
    int refresh(ZTRefreshInfo* info, void* arg) override {
        int result = 0;
        for (uint32_t i = 0; i < records_.size; ++i)
            result |= records_[i]->dispatchRefresh(info, arg);
        return result;
    }

  protected:
    // A new empty image of the cache's file.
    virtual Record* createRecord() = 0;
    // Reads the record into the image; one that cannot be read is left as the reading leaves it.
    virtual void readRecord(Record* image, uint32_t recordID) = 0;

    ZTArray<uint32_t> ids_;               // record IDs, oldest first
    ZTArrayP2<Record*, Record> records_;  // the images, parallel to ids_

  private:
    void copyFrom(const ZTRecordCache& other) {
        ids_ = other.ids_;
        records_.assign(other.records_);
        maximum_ = other.maximum_;
        file_ = other.file_;
    }

    uint32_t maximum_ = 0;
    ZTFile* file_ = nullptr;  // not owned
};

class ZTFieldCache : public ZTRecordCache<ZTField> {
  public:
    ZTFieldCache(ZTFile* file, uint32_t maximum) : ZTRecordCache(file, maximum) {}
    ZTFieldCache(const ZTFieldCache& other) = default;
    ZTFieldCache& operator=(const ZTFieldCache& other) = default;

    // The field's definition, read on a miss; use it at once (a later miss may delete it).
    ZTField* getField(uint32_t fieldID) { return get(fieldID); }

  protected:
    ZTField* createRecord() override;
    void readRecord(ZTField* image, uint32_t recordID) override;
};

// One entry of the registry; it owns its file.
struct anZTFile {
    anZTFile() = default;
    anZTFile(const anZTFile&) = delete;
    anZTFile& operator=(const anZTFile&) = delete;
    ~anZTFile() { delete file; }

    ZTStr path;  // the file's canonical name (ZTFile::getFileName)
    ZTFile* file = nullptr;
    int32_t useCount = 1;
    // The registry's own open of the file failed: the next open tries again.
    bool openFailed = false;
};

class ZTFileCache : public ZTRefreshedBaseClass {
  public:
    // The database record ID that stands for the database itself.
    static constexpr uint32_t kThisDatabase = 54;

    ZTFileCache() = default;
    ZTFileCache(const ZTFileCache&) = delete;
    ZTFileCache& operator=(const ZTFileCache&) = delete;
    ~ZTFileCache() override;

    // The registered file of the database with one more use, or a new entry whose file is
    // opened with the mode (ZTFile::open, no verify). The file is registered and returned even
    // when it could not be opened (callers test getOpenMode); such a file is opened again, with
    // the mode then given, at the next open of its database while it is still closed. Null when
    // the path names no database.
    ZTFile* open(const char* path, uint32_t mode);
    // kThisDatabase: the file itself, with one more use when it is registered and uncounted
    // otherwise. Any other ID: the database that the file's database record names (open); null
    // when there is no such record or the file cannot be read.
    ZTFile* openRelated(ZTFile* file, uint32_t databaseRecordID, uint32_t mode);
    // The path a database reference of the file names: a POSIX path as it is; an old reference
    // holding a Windows path (drive, '\\') names the database of that file name in the file's own
    // folder, found without regard to case. Empty when it resolves to nothing.
    static std::string resolveReference(ZTFile* file, const char* name);
    // One use fewer; the last deletes the entry and its file. 1, or 0 when not registered.
    int release(ZTFile* file);
    // The registered file of the database, or null; no use is counted.
    ZTFile* find(const char* path) const;
    // The first registered file (oldest first) with the file ID, or null.
    ZTFile* findByFileID(uint32_t fileID) const;
    // Renames the database (ZTFile::rename) and opens it again in the mode it had, also when the
    // rename failed; the entry then goes by the new name. Returns whether the rename succeeded.
    bool rename(ZTFile* file, const char* newName);

    uint32_t getCount() const { return entries_.size; }
    // Oldest first; null past the end.
    ZTFile* getFile(uint32_t index) const;
    // Deletes every entry and its file.
    void clear() { entries_.clear(); }

    // Hands the notice to every registered file; the OR of their results.
    int refresh(ZTRefreshInfo* info, void* arg) override;

  private:
    // Newest first; -1 when none.
    int indexOf(const char* canonicalPath) const;
    int indexOf(const ZTFile* file) const;

    ZTArrayP<anZTFile*> entries_;
};
