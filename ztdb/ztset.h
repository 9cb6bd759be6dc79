#pragma once
// ZTSet: the field list of a set, the ordered field IDs a set shows. The first `fixed count`
// entries are its fixed part (shown in every member even without a value); the first entry is
// the set's first field, by which its members sort, so a save that changes it re-ties the set's
// membership rows. Each entry carries an integer of the caller's (160 unless set), not stored.
//
// Stored as rows of the set record:
//
//   | type | position | content                                                          |
//   |------|----------|------------------------------------------------------------------|
//   | 1    | i + 1    | entry i: a link row to the field record's name (its first own    |
//   |      |          | type-1 value), so that the link resolves to the field's ID       |
//   | 44   | 1        | the fixed count as decimal text, only when it differs from size  |
//
// Load reads every entry (one whose link does not resolve is left out) and remembers the
// highest position it met; save writes the entries at positions 1 .. size and empties only the
// positions after them that the load met, so rows that the load never saw (written by others
// since) are never emptied by this list.
#include <cstdint>

#include "ztdb/ztarray.h"
#include "ztdb/ztrefresh.h"
#include "ztdb/ztstr.h"

class ZTFile;

class ZTSet : public ZTArray<uint32_t> {
  public:
    static constexpr int kDefaultValue = 160;
    static constexpr uint32_t kFieldListType = 1;
    static constexpr uint32_t kFixedCountType = 44;
    // Results of locate.
    static constexpr int kInFixedPart = 1;
    static constexpr int kAfterFixedPart = 2;
    static constexpr int kAbsent = 3;

    explicit ZTSet(ZTFile* file = nullptr, uint32_t setID = 0);
    ZTSet(const ZTSet& other);
    ~ZTSet() override = default;
    // Clears, then copies IDs, values, first ID, set ID, file, modified flag, fixed count and
    // the notice filter's state.
    ZTSet& operator=(const ZTSet& other);

    // Clears the list and binds it to (file, setID); first ID 0, not modified.
    void init(ZTFile* file, uint32_t setID);

    bool hasFile() const { return file_ != nullptr; }
    ZTFile* getFile() const { return file_; }
    uint32_t getID() const { return setID_; }
    // Marks modified.
    void setID(uint32_t id);
    // Set ID 0 and modified: the next save needs a new ID.
    void clearID();
    void setModified(bool modified) { modified_ = modified; }
    bool isModified() const { return modified_; }
    uint32_t getFirstID() const { return firstID_; }

    // False only when unbound or without a set ID (nothing changes then).
    bool load();
    // Writes a modified list under the counted lock, re-ties the set's members when the first
    // entry changed, and adds (file, set, 0, changed) to the notice. False without a set ID or
    // when a write failed.
    bool save(ZTRefreshInfo* info);

    // Inserts id before position (clamped to the size); an id already present moves there.
    // Inserting at or before the fixed count extends the fixed part.
    void insert(uint32_t id, uint32_t position, int value = kDefaultValue);
    // Removes the id when present.
    void remove(uint32_t id);
    using ZTArray<uint32_t>::remove;  // the plain (position, count) removal: moves no values
    virtual void removeAt(uint32_t index);
    void clear() override;
    // Removes entries while the size is above position.
    void truncate(uint32_t position);
    void cutAfterFixed() { truncate(fixedCount_); }

    uint32_t getFixedCount() const { return fixedCount_; }
    // The fixed count that a stored type-44 text (null: none) gives a list of size entries: the
    // number when the text reads wholly as one from 1 to size, else size.
    static uint32_t fixedCountFrom(const char* stored, uint32_t size);
    // Clamped to the size; marks modified when it changes.
    void setFixedCount(uint32_t n);
    // kInFixedPart, kAfterFixedPart or kAbsent.
    int locate(uint32_t id) const;
    int getValue(uint32_t index) const { return index < values_.size ? values_[index] : 0; }
    void setValue(uint32_t index, int value) {
        if (index < values_.size) values_[index] = value;
    }

    // The entries' field names separated by TAB; an entry without a name adds nothing between
    // its TABs.
    void getNameList(ZTStr* out) const;

    // Loads again when the notice concerns the set's database, is new to this list, and the list
    // is not modified, has a set ID and is not empty: 1 then, else 0.
    virtual int refresh(ZTRefreshInfo* info);

  private:
    bool loadOnce(bool* readFailed);
    bool writeEntries();

    ZTFile* file_ = nullptr;
    uint32_t setID_ = 0;
    uint32_t firstID_ = 0;
    bool modified_ = false;
    ZTRefreshedBaseClass filter_;
    uint32_t fixedCount_ = 0;
    ZTArray<int> values_;
    // The highest entry position the last load met (or the last save wrote).
    uint32_t readPositions_ = 0;
};
