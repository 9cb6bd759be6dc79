#pragma once
// Named records: fields and sets are records of the database too. A field definition holds its
// name as its value of type 1; a set definition holds its name as its value of type 9 and its
// field list as type-1 link values, one per field in display order. Other properties are
// attributes, values of predefined types held as decimal or plain text:
//
//   | type | on            | content                                                      |
//   |------|---------------|--------------------------------------------------------------|
//   | 44   | set           | number of fixed fields, decimal; absent when all are fixed   |
//   | 47   | set           | ID of the set's trash set, decimal                           |
//   | 101  | trash set     | ID of the set whose trash it is, decimal                     |
//   | 105  | field         | ID of the set attached to the field, decimal                 |
//
// ZTNamedRecord is the record image of such a definition: its name (value 0) is read-only to
// ordinary edits and changes only through setNameValue; a write refuses a name that folds to
// nothing (-15) and a name that another definition of the same kind already has, compared with
// case and accents folded (-1, with that record's ID). Both checks and the write run under one
// counted lock, so two writers cannot store the same new name.
//
// Error codes are left in the image's last result; the operation then returns 0 or false and
// nothing is stored.
#include <cstdint>

#include "ztdb/ztarray.h"
#include "ztdb/ztrecord.h"
#include "ztdb/ztset.h"

class ZTFieldCache;
class ZTFileCache;
class ZTFile;
class ZTRefreshInfo;

class ZTNamedRecord : public ZTRecord {
  public:
    // Last-result codes.
    static constexpr int32_t kErrorNameTaken = -1;  // also: the link exists already
    static constexpr int32_t kErrorNoSuchName = -4;
    static constexpr int32_t kErrorEmptyName = -15;
    // Predefined types of the definitions.
    static constexpr uint32_t kFieldName = 1;  // a field's name; a set's field list
    static constexpr uint32_t kSetName = 9;
    static constexpr uint32_t kFixedCount = 44;
    static constexpr uint32_t kTrashSet = 47;
    static constexpr uint32_t kTrashOwner = 101;
    static constexpr uint32_t kAttachedSet = 105;

    ZTNamedRecord() = default;
    ZTNamedRecord(ZTFile* file, const ZTSet* structure, ZTFieldCache* fieldCache,
                  ZTFileCache* fileCache);
    ZTNamedRecord(const ZTNamedRecord& other) = default;
    ZTNamedRecord& operator=(const ZTNamedRecord& other) = default;

    // ZTRecord::init, then the name is protected.
    virtual void initProtected(ZTFile* file, const ZTSet* structure, ZTFieldCache* fieldCache,
                               ZTFileCache* fileCache);
    virtual void initWithFieldProtected(ZTFile* file, uint32_t fieldID, ZTFieldCache* fieldCache,
                                        ZTFileCache* fileCache);
    // Writes under the counted lock after the name checks: the name is checked when it has
    // unsaved changes, and always for a new record. A name another record has: -1, its ID in
    // *existingID (when given), and with makeUnique the image takes the name with the lowest
    // free " n" suffix, so that the next write succeeds. Returns ZTRecord::write's result (0
    // when nothing was modified), 0 on an error.
    virtual int write(ZTRefreshInfo* ri, uint32_t* existingID, bool makeUnique);
    // The plain write goes through the name checks as well.
    int write(ZTRefreshInfo* ri) override { return write(ri, nullptr, false); }

    // ---- name ----

    // The text of value 0 ("" when there is none).
    const char* getName();
    // The first field's values become read-only.
    void protectName();
    // Sets the text of the field's first value when it stands at index 0 (a value is inserted
    // there when the field has none). setText's result, 0 when nothing was set.
    int setNameValue(uint32_t fieldID, const char* text);

    // ---- attributes: the record's first value of a type ----

    bool hasAttr(uint32_t fieldID);
    // Null when there is none.
    const char* getAttr(uint32_t fieldID);
    // The text as an unsigned decimal number (0 when there is none).
    uint32_t getAttrInt(uint32_t fieldID);
    // Inserts a value of the type at the end when there is none; null or empty is stored as
    // "1".
    bool setAttr(uint32_t fieldID, const char* text);
    bool setAttrInt(uint32_t fieldID, uint32_t value);
    bool removeAttr(uint32_t fieldID);
    // The index forms; -1 gives null or false and does nothing.
    bool setTextAt(int i, const char* text);
    const char* getTextAt(int i);
    bool removeAt(int i);

    // ---- link lists: the values of one type that link to other records ----

    // The index of the value within the type's run, from start (-1: the run's first value),
    // that links to the record; -1 when none.
    int findValue(uint32_t fieldID, uint32_t linkedID, int start);
    // Links a value of the type to the record, inserted at the run's first index + offset (at
    // the run's end for offset -1 or when the type has no value yet). 1, or 0 when a value
    // links to the record already or the record has no value of the type to link to.
    int addLink(uint32_t fieldID, uint32_t recordID, int offset);
    // The record named so (ZTFile::findName): none -4, already linked -1.
    int addLinkByName(uint32_t fieldID, const char* name, int offset);
    // 1, or 0 when no value links to the record.
    int removeLink(uint32_t fieldID, uint32_t recordID);
    // The type's values; 0 also when the only one is empty.
    uint32_t countValues(uint32_t fieldID);
    // Text and linked record of the type's i-th value; null and 0 out of range.
    const char* getTextOf(uint32_t fieldID, uint32_t i);
    uint32_t getLinkOf(uint32_t fieldID, uint32_t i);
    // The index after the values of the structure's fields.
    uint32_t getFirstFreeIndex();
    // The type of each value from the first free index on (emptied first unless appending);
    // the array's size.
    uint32_t getExtraFields(ZTArray<unsigned long>* out, bool append);

    // The set that attribute a names (counted only when that set has a name), or 0 when this
    // set holds attribute b. With create and none there: a copy of this set named uniquely
    // after `name`, holding this set's ID as b and no a, is written, and this set gets its ID as
    // a and is written. The set's ID, 0 when none.
    uint32_t findOrCreateLinkedSet(uint32_t a, uint32_t b, bool create, const char* name,
                                   ZTRefreshInfo* ri);

  protected:
    // The values of the field's run: first index (-1 when none) and count.
    int runOf(uint32_t fieldID, uint32_t* count);
};

class ZTSetDef : public ZTNamedRecord {
  public:
    ZTSetDef(ZTFile* file, ZTFieldCache* fieldCache);
    ZTSetDef(const ZTSetDef& other) = default;
    ZTSetDef& operator=(const ZTSetDef& other) = default;

    // Binds to the file with the structure (name, field list); null binds nothing.
    virtual void init(ZTFile* file, ZTFieldCache* fieldCache);
    // Binds to a stored set definition.
    virtual void read(uint32_t recordID);
    // A new set definition, with placeholders.
    void clear(bool noPlaceholders = false) override;
    // ZTNamedRecord::write; when the set's first field changed, every member is tied again to
    // the new first field's values.
    int write(ZTRefreshInfo* ri, uint32_t* existingID, bool makeUnique) override;
    using ZTNamedRecord::write;

    int setName(const char* name) { return setNameValue(kSetName, name); }

    // The field list.
    uint32_t getFieldCount() { return countValues(kFieldName); }
    uint32_t getFieldID(uint32_t i) { return getLinkOf(kFieldName, i); }
    const char* getFieldName(uint32_t i) { return getTextOf(kFieldName, i); }
    // Inserts the field at the position (-1: the end) keeping the fixed part in step. True
    // when added.
    bool addField(uint32_t fieldID, int position);
    bool addFieldByName(const char* name, int position);
    bool appendField(uint32_t fieldID) { return addField(fieldID, -1); }
    bool removeField(uint32_t fieldID);

    // Every field, unless attribute 44 reads wholly as a number from 1 to the field count.
    uint32_t getFixedCount();
    void setFixedCount(uint32_t n);
    // Makes the field list that of the source (a set of the same file): the leading fields that
    // agree stay, the rest is replaced, and the fixed count follows the source's.
    void assignFields(const ZTSet* source);

    // The set's trash set (47, pointing back through 101); 0 on a trash set.
    uint32_t getTrashID(bool create, const char* name, ZTRefreshInfo* ri) {
        return findOrCreateLinkedSet(kTrashSet, kTrashOwner, create, name, ri);
    }
    // The set whose trash this set is.
    uint32_t getTrashOwnerID(bool create, const char* name, ZTRefreshInfo* ri) {
        return findOrCreateLinkedSet(kTrashOwner, kTrashSet, create, name, ri);
    }

  private:
    // The fixed count after adding (+1) or removing (-1) the field at index (-1: appending).
    uint32_t adjustFixedCount(int delta, int index);
};

class ZTField : public ZTNamedRecord {
  public:
    ZTField(ZTFile* file, ZTFieldCache* fieldCache);
    // The attached set is not copied: the copy looks it up again.
    ZTField(const ZTField& other);
    ZTField& operator=(const ZTField& other);
    ~ZTField() override;

    // Drops the attached set, then reads again when affected.
    int refresh(ZTRefreshInfo* ri, void* arg) override;
    // Binds to the file with the structure (name); null binds nothing.
    virtual void init(ZTFile* file, ZTFieldCache* fieldCache);
    // Binds to a stored field definition (first value of each type only).
    virtual void read(uint32_t recordID);
    void clear(bool noPlaceholders = false) override;

    int setName(const char* name) { return setNameValue(kFieldName, name); }

    // The set attached to the field: attribute 105 when it holds one, else the set named like
    // the field. Looked up once until the next init or refresh; null when there is none.
    ZTSet* getSet();

  private:
    void dropSet();

    ZTSet* attachedSet_ = nullptr;  // owned
    bool lookedUp_ = false;
};
