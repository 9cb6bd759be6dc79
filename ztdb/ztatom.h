#pragma once
// ZTAtom: the value cursor. It finds, walks and writes the rows of the row table (ztrec.h) with a
// search mode, two access hooks, link resolution, a relative place for scroll bars, and the write
// that keeps positions, duplicates and set membership right. ZTBinaryAtom: the same cursor for
// binary values.
//
// Searches answer 0 when the atom stands on an accepted row (its columns, value text, link target
// and, with kModeRelative, relative position are current) and -1 when nothing was found. A row
// is accepted when its membership bit matches kModeMembers, a link row's owner resolves (unless
// kModeNoLinks; record-order searches skip a link whose owner is missing, value-order searches
// take it with link target 0), and neither hook hides it (flag word bit 0x02). Searches restart
// from their first seek when recoverRead says another process changed what they read.
//
// A structure (ZTSet, ztset.h) is a set's field list: a record shows the structure's fields first,
// in its order, then every other field by ascending ID. Fields within the structure's fixed part
// show as empty placeholders in records that have no value of them.
#include <cstdint>
#include <vector>

#include "ztdb/ztarray.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztstr.h"

class ZTSet;
class ZTFilter;

class ZTAtom : public ZTFileAtom {
  public:
    // Mode bits.
    static constexpr uint8_t kModeNoLinks = 0x02;       // link rows keep link target 0
    static constexpr uint8_t kModeKeysOnly = 0x04;      // value texts are not loaded
    static constexpr uint8_t kModeMembers = 0x08;       // walk membership rows only
    static constexpr uint8_t kModePositioned = 0x10;    // writes insert at a position
    static constexpr uint8_t kModeRelative = 0x20;      // keep the relative position
    static constexpr uint8_t kModeSeekFraction = 0x40;  // findValue jumps to relativePosition
    // A hook's flag word with this bit hides the row.
    static constexpr uint32_t kHidden = 0x02;
    // The field after every field (255^4 - 1): the start of a backward walk over a record.
    static constexpr uint32_t kFieldSentinel = 0xFC05FC00u;
    // Position asking write to append after the field's last value.
    static constexpr uint32_t kAppend = 65025;
    // The first record ID of a user's records; lower IDs are predefined records.
    static constexpr uint32_t kFirstUserRecord = 1001;

    // Results of write.
    static constexpr int kWriteFailed = -1;  // bad arguments, no lock, or the store failed
    static constexpr int kWriteRemoved = 0;
    static constexpr int kWriteStored = 1;  // already stored
    static constexpr int kWriteAdded = 2;
    static constexpr int kWriteCreated = 3;  // a new record; its ID is the atom's recordID
    static constexpr int kWriteChanged = 4;  // rewritten in place
    static constexpr int kWriteMoved = 5;    // value moved or later positions shifted

    uint8_t mode = 0;
    uint32_t state = 0;       // OR of the hooks' flag words for the current row
    uint32_t linkRecord = 0;  // the owner row's record when the row is a link row
    uint32_t linkField = 0;   // the owner row's field
    double relativePosition = 0.0;

    explicit ZTAtom(ZTFile* file = nullptr, uint8_t mode = 0);
    ZTAtom(const ZTAtom& other);
    // Copies the row's columns, the value text, mode, state, link target and relative position.
    ZTAtom& operator=(const ZTAtom& other);
    ~ZTAtom() override = default;

    void reset(ZTFile* file, uint8_t mode);
    // Sets the mode; clears the state and the link target.
    void setMode(uint8_t mode);

    // ---- hooks (no class hides anything; these are the extension points) ----

    // Reads the current row's value text unless kModeKeysOnly.
    virtual bool loadValue();
    // Finds the cursor's row again after other reads: -1 the cursor now stands on another record,
    // 0 on the same row, 1 moved on to a following row of the record.
    virtual int reposition(bool exact = true);
    virtual uint32_t recordFlags(uint32_t recordID);
    virtual uint32_t fieldFlags(uint32_t fieldID);
    // After every successful positioning.
    virtual void valueLoaded();
    // Positions on the row owning the value number: 0, or -1 when none or hidden.
    virtual int findOwnerRow(uint32_t valueID);

    // ---- record order ----

    using ZTFileAtom::find;
    // Under the counted lock: whether the cursor's row, read by its row number, still stands as
    // a live row of the record. The cursor itself is left as it is.
    bool rowStillOf(uint32_t recordID) const;
    // The first acceptable row of (record, field) at or after (position, key text); linksOnly
    // takes link rows only. A fixed field of the structure gives a placeholder when the record
    // has no value of it (position 0 and no key text asked).
    int find(uint32_t recordID, uint32_t fieldID, uint32_t position, const char* key,
             ZTSet* structure, bool linksOnly);
    // The next (direction > 0) or previous (< 0) value of the source's record and field;
    // direction 0 finds the source's row again. The source may be this atom.
    int findNext(const ZTAtom* source, int direction, ZTSet* structure, bool linksOnly);
    // The last acceptable value of (record, field); fromEnd seeks from position 65024 down.
    int findLast(uint32_t recordID, uint32_t fieldID, bool fromEnd, ZTSet* structure);
    // The next or previous value of the source's record in display order. The only-list takes
    // fields outside [lowField, highField], the except-list drops fields inside it.
    int nextInRecord(const ZTAtom* source, int direction, ZTSet* structure, bool structureOnly,
                     bool nextFieldOnly, bool noPlaceholders, uint32_t lowField, uint32_t highField,
                     const ZTArray<unsigned long>* onlyList,
                     const ZTArray<unsigned long>* exceptList);

    // ---- value order ----

    // The first acceptable value of the field at or after the text's key. exact: the key and the
    // text must equal the text's; follow: a link row is replaced by its owner; after: past every
    // key that agrees with the text's up to its last byte. keyOption is passed to makeKey as its
    // asText flag.
    int findValue(uint32_t fieldID, const char* text, bool exact, bool follow, bool after,
                  int keyOption);
    // The next (step > 0) or previous (step < 0) value of the source's field; step 0 re-checks
    // the source's row, then steps on by 1 when it is no longer acceptable.
    int findNextValue(const ZTAtom* source, int step, bool follow);
    int findLastValue(uint32_t fieldID, bool follow);
    // The first value inside the range of the filter's condition on field (searched field, or
    // field when that is 0), walking up (direction 1) or down from the range's top.
    int seekCondition(ZTFilter* condition, uint32_t fieldID, bool follow, uint32_t searchedField,
                      int direction);

    // ---- record walks ----

    // The first row of the next (direction > 0) or previous (< 0) record, or of the record
    // itself (0). IDs below 1001 start at the first user record (or the last row going back).
    int stepRecord(uint32_t recordID, int direction);
    // The first row of the record at this place of the user records' ID range (the inverse of the
    // relative position stepRecord gives).
    int gotoRelative(double fraction);

    // ---- tests and helpers ----

    // Whether the atom's record is a member of setID (when not 0), passes every condition of the
    // filter (when given), and, when it holds an owner marker (type 124), has the owner text as
    // its owner (type 121), compared without case (when given).
    bool recordPasses(uint32_t setID, ZTFilter* conditions, const char* ownerText);
    // The field whose name (type 1) is the name: 1 found; else names recordID's field (a new
    // record when 0 or it has no name yet): 2 new record, 4 named in place. Empty name: 0 with
    // out 17. -1 when the write failed.
    int findOrAddFieldName(uint32_t recordID, const char* name, uint32_t* outID);

    // ---- writing ----

    // Writes text as the value at (record, field, position) under the counted lock; see the
    // result codes above. position: 1 to 65024, or kAppend. shareValueID: a link row to that
    // value. asNew: a new row (forced for record 0). keepSetTies: membership rows tied to the
    // field follow the change. noRenumber: no shifting of later positions. addToSetID: a new
    // record, or a new value of the set's first field, joins the set. soleRow: the caller knows
    // the cursor's row to be the only row of (record, field), with nothing written since it
    // looked: a text written over on that row needs no look for another row holding it.
    // chainRead: nothing was written since the cursor read its value's chain under the lock
    // held still (ZTRec::chainReadAt), so a text written over into that chain starts where
    // the read left it.
    int write(uint32_t recordID, uint32_t fieldID, uint32_t position, const char* text,
              uint32_t shareValueID = 0, bool asNew = false, bool keepSetTies = true,
              bool noRenumber = false, uint32_t addToSetID = 0, bool soleRow = false,
              bool chainRead = false);

  protected:
    // Runs the acceptance rule on the row the cursor stands on (reached through tag tagNo): 0
    // accepted, 1 not. skipUnresolved: a link row whose owner is missing or hidden is not taken.
    int accept(bool skipUnresolved, bool linksOnly, int tagNo);
    // The index key (D) of the cursor's row; null when the row cannot be read.
    const char* currentKey();
    // The row's place in the tag, 0.0 to 1.0.
    double tagFraction(int tagNo);
    // Walks the field's values in value order from a step result r, by step, until one is
    // accepted (with exact, one whose text is text as well).
    int walkValues(uint32_t fieldID, int r, int step, bool follow, bool exact, const char* text);
    // The highest record ID of the table; 0 when it has no rows.
    uint32_t lastRecordID();
    // The place of a record ID in the range of user records, 0.0 to 1.0.
    double recordFraction(uint32_t reached);
    // Under the counted lock: the cursor's own row read again by its row number; false when it
    // is no longer the row of (record, field) with the cursor's value number.
    bool reloadRow(uint32_t recordID, uint32_t fieldID, uint32_t valueID);
    // Removes the row of (record, field) at position whose membership bit matches the mode; the
    // cursor's own row when it is one of them.
    bool removeAt(uint32_t recordID, uint32_t fieldID, uint32_t position, bool onOwnRow,
                  std::vector<ZTRec::Sharer>* dependents);
    // Makes the atom the placeholder of the field when the structure holds it in its fixed part.
    bool placeholder(uint32_t recordID, uint32_t fieldID, ZTSet* structure);
    // From the row the cursor stands on: the first acceptable row of (record, field) in record
    // order (0), or -1 (the tables released) when the record's rows of the field end first.
    int acceptFrom(uint32_t recordID, uint32_t fieldID, bool linksOnly);
    // Ends a search: releases the table locks and returns result.
    int done(int result);
    void clearRow();
};

// The binary value cursor: readData decodes the current value into buffer.
class ZTBinaryAtom : public ZTAtom {
  public:
    explicit ZTBinaryAtom(ZTFile* file = nullptr, uint8_t mode = 0);
    ~ZTBinaryAtom() override;
    ZTBinaryAtom(const ZTBinaryAtom&) = delete;
    ZTBinaryAtom& operator=(const ZTBinaryAtom&) = delete;

    unsigned char* buffer = nullptr;  // owned
    uint32_t length = 0;

    // False (empty buffer) when the current value is not a binary value or is damaged.
    bool readData();
    // Writes the bytes as a binary value (length 0: an empty value) through write.
    int writeData(uint32_t recordID, uint32_t fieldID, uint32_t position,
                  const unsigned char* bytes, uint32_t length, bool asNew);
};
