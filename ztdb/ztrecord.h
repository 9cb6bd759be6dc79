#pragma once
// ZTRecord: the in-memory image of one record, its values in record order (the structure's fields
// in structure order, then every other field by ascending ID; one field's values always stand
// together in one run). Values are read lazily, a few rows at a time, inside read brackets; edits
// stay in the image until write back stores the changed, new and removed values under one
// counted lock, so another process sees the record either before or after, never half written.
//
// An image a view shows holds at most kViewLimit values (further values stay in the file, are
// not shown and are not rewritten). Paths that need the whole record (copies, the position pass
// of write back) read past that limit with loadAllValues.
//
// ZTAtomCache: one value of an image, the stored row (a ZTAtom) plus what was changed in it.
//
// lastResult: after a value operation its error code (kErrorReadOnly, kErrorRange), after write
// back its result bits (kResult*), or kErrorRecordGone when another process deleted the record
// meanwhile and nothing was written.
#include <cstdint>
#include <vector>

#include "ztdb/ztarray.h"
#include "ztdb/ztatom.h"
#include "ztdb/ztrefresh.h"
#include "ztdb/ztset.h"
#include "ztdb/ztstr.h"

class ZTFile;
class ZTFilter;
class ZTField;
class ZTFieldCache;
class ZTFileCache;
class ZTRecord;
class ZTSubRecord;

class ZTAtomCache {
  public:
    static constexpr uint32_t kLinkFlag = 128;
    static constexpr uint32_t kNotNoted = 0xFFFFFFFFu;

    ZTAtomCache();
    // Takes ownership of the atom and copies its position, value number, flags and link target.
    ZTAtomCache(ZTAtom* atom, bool inStructure);
    // A deep copy (copyFrom without sharing).
    ZTAtomCache(const ZTAtomCache& other);
    ZTAtomCache& operator=(const ZTAtomCache& other);
    virtual ~ZTAtomCache();

    // An empty value without atom, outside the structure.
    void reset();
    // Copies every member; without shareAtom the atom and the linked record are fresh copies,
    // with it the pointers are taken over as they are (other must then give them up).
    void copyFrom(const ZTAtomCache& other, bool shareAtom);

    bool isModified() const;
    bool isLink() const { return (flags & kLinkFlag) != 0; }
    // The edited text while modified, else the stored text ("" without atom).
    const char* getText() const;
    uint32_t getFieldID() const;
    // Whether the 'l' and 'r' tags of the text differ from the ones first noted (the first call
    // notes them).
    bool externalLinkChanged();

    // ---- links ----
    // on: the value links to the target row (its value number and record), showing text, or
    // the target's stored text when text is null; modified. Off: the link data are cleared.
    void setLinkTarget(bool on, const ZTAtom* target, const char* text);
    // Deletes the owned linked record and keeps the given one.
    void setLinkedRecord(ZTSubRecord* sub);
    // The text holds both an 'l' (database reference) and an 'r' (record) section.
    bool hasExternalLink() const;
    // A link with an external link whose stored row shares another value number than linkKey.
    bool isExternalLinkMoved() const;

    // Stores the value as (recordID, field, position); recordID 0 creates a record that joins
    // setID. The atom's write result (ZTAtom::kWrite*); afterwards the value is the stored one.
    // keepSetTies false only where the record is known to have no membership rows; fieldEmpty
    // only where the record is known to hold no value of the field yet (nothing to shift, no
    // value of the record to find the text in).
    virtual int write(uint32_t recordID, uint32_t setID, ZTRefreshInfo* ri, bool keepSetTies = true,
                      bool fieldEmpty = false);

    ZTAtom* atom = nullptr;                    // owned
    ZTSubRecord* linkedRecord = nullptr;       // owned; made on demand by the link operations
    uint32_t thisFID = 0;                      // this database's number in the linked database
    uint32_t backLinkTypeID = 0;               // field of the back value to make there
    uint32_t firstExternalFile = kNotNoted;    // the 'l' tag when first looked at
    uint32_t firstExternalRecord = kNotNoted;  // the 'r' tag when first looked at
    uint32_t position = 0;
    uint32_t linkRecordID = 0;
    uint32_t linkKey = 0;
    int32_t kind = -1;
    uint32_t flags = 0;
    ZTStr editedText;
    uint32_t backLink = 0;
    uint32_t isNew = 0;
    uint32_t outsideStructure = 1;
    uint32_t modified = 0;
    // Its database's localChanges() + 1 when a load under the lock saw the atom's row as the
    // only row of its field in the record; else 0. Met by the next write under one more lock
    // (the write-back's own), with nothing written in between, it spares that write the look
    // for another row holding its text.
    uint64_t soleRowAt = 0;
};

// What moveValue moved: the first index moved, the target index, the number of values moved.
struct ZTMoveRange {
    int32_t first = 0;
    int32_t target = 0;
    int32_t count = 0;
};
// The name the views give it when they scroll to the moved values.
using ZTScrollInfo = ZTMoveRange;

class ZTRecord : public ZTRefreshedBaseClass {
  public:
    // The most values an image loads for showing.
    static constexpr uint32_t kViewLimit = 500;
    // The field definitions a record image caches when it makes its own field cache.
    static constexpr uint32_t kFieldCacheSize = 100;
    // lastResult codes of value operations.
    static constexpr int32_t kErrorReadOnly = -2;
    static constexpr int32_t kErrorRange = -3;
    // Write back found the record deleted by another process: nothing was written.
    static constexpr int32_t kErrorRecordGone = -10;
    // Result bits of write back.
    static constexpr int32_t kResultStructureSaved = 1;
    static constexpr int32_t kResultNewStored = 2;
    static constexpr int32_t kResultStored = 4;
    static constexpr int32_t kResultValueDropped = 8;
    // A linked value no longer held its text: the link was broken, the text kept.
    static constexpr int32_t kResultLinkBroken = 16;
    // readOnlyFields: every value.
    static constexpr uint32_t kAllReadOnly = 0xFFFFFFFFu;
    static constexpr uint32_t kNoIndex = 0xFFFFFFFFu;
    // Field states (ZTSet::locate).
    static constexpr int kStateFixed = 1;
    static constexpr int kStateStructure = 2;
    static constexpr int kStateOutside = 3;
    // Option bits.
    static constexpr uint32_t kOptionTitle = 1;
    static constexpr uint32_t kOptionModifiedStamp = 2;
    static constexpr uint32_t kOptionCreatedStamp = 4;

    // Unbound: no file, no caches, moreValues 1.
    ZTRecord();
    ZTRecord(ZTFile* file, const ZTSet* structure, ZTFieldCache* fieldCache,
             ZTFileCache* fileCache);
    ZTRecord(ZTFile* file, uint32_t fieldID, ZTFieldCache* fieldCache, ZTFileCache* fileCache);
    // Shares other's caches unless other owns them (then this image makes its own), and copies
    // its values (assign, not as a new copy).
    ZTRecord(const ZTRecord& other);
    ZTRecord& operator=(const ZTRecord& other);
    ~ZTRecord() override;

    // ---- virtual operations ----

    // A notice: a modified image ignores it; an affected one reads itself again.
    int refresh(ZTRefreshInfo* ri, void* arg) override;
    virtual void initWithField(ZTFile* file, uint32_t fieldID, ZTFieldCache* fieldCache,
                               ZTFileCache* fileCache);
    // Binds the image to the file with a copy of the structure (null: empty). A cache given
    // replaces an owned one; with none given an owned one is kept (emptied), else one is made.
    virtual void init(ZTFile* file, const ZTSet* structure, ZTFieldCache* fieldCache,
                      ZTFileCache* fileCache);
    // Binds the image to a stored record; nothing is read yet.
    virtual void read(uint32_t recordNumber, bool firstValueOnly = false,
                      bool structureOnly = false, bool noPlaceholders = false,
                      bool fixedFirstOnly = false);
    // A new record with an empty placeholder per fixed field (unless noPlaceholders).
    virtual void clear(bool noPlaceholders = false);
    // writeBack when modified, then the notice goes to the field cache. writeBack's result, 0
    // when nothing was modified.
    virtual int write(ZTRefreshInfo* ri);
    // Unless internal: kErrorRange, kErrorReadOnly (false, nothing changed).
    virtual bool setText(uint32_t i, const char* text, bool internal = false);
    // Stores the image under one counted lock. 1, or 0 when the record was deleted by another
    // process (lastResult kErrorRecordGone) or the lock could not be had.
    virtual int writeBack(ZTRefreshInfo* ri, bool noBackLinks);

    // ---- binding ----

    bool isValid() const;
    ZTFile* getFile() const { return ztfile; }
    ZTFieldCache* getFieldCache() const { return fieldCache; }
    ZTFileCache* getFileCache() const { return fileCache; }
    const ZTSet& getStructure() const { return structure; }
    ZTSet& getStructure() { return structure; }
    ZTRecord* getParent() const { return parent; }
    void setParent(ZTRecord* p) { parent = p; }
    uint32_t getOptions() const { return options; }
    void setOptions(uint32_t o) { options = o; }
    int32_t getLastResult() const { return lastResult; }
    void setLastResult(int32_t r) { lastResult = r; }
    // Copies the other image's structure and values; asNewCopy makes every value new and the
    // record new, reading the whole of other first.
    void assign(const ZTRecord& other, bool asNewCopy);

    // ---- reading ----

    // Makes value i available; true when it exists.
    bool loadValues(uint32_t i);
    // Loads every value past the view limit (for paths that need the whole record).
    void loadAllValues();
    // Loads every value (up to the view limit) and returns their number.
    uint32_t getValueCount();
    uint32_t getLoadedCount() const { return values.size; }
    bool hasMoreValues() const { return moreValues != 0; }

    uint32_t getRecordNumber() const { return recordNumber; }
    uint32_t getTypeID(uint32_t i);
    const char* getText(uint32_t i);
    uint32_t getTextLength(uint32_t i);
    const char* getFieldName(uint32_t i);
    ZTField* getField(uint32_t i);
    bool isValueModified(uint32_t i);
    ZTStr* getValueTag(uint32_t i, char tag, ZTStr* out);
    uint32_t getValueTagInt(uint32_t i, char tag);
    int indexOf(uint32_t fieldID, uint32_t start = 0);
    int lastIndexOf(uint32_t fieldID, uint32_t start = 0);
    int indexOfFieldName(const char* name, uint32_t start = 0);
    int getSequence(uint32_t i);
    // The value itself (loading up to i); null out of range.
    ZTAtomCache* getValue(uint32_t i);

    // ---- changing values ----

    // Inserts an empty value of the field (~0: the neighbouring value's field) at the position
    // (~0 or past the end: at the end). State 0: worked out from the neighbours. Its index or -1.
    int insertValue(uint32_t position, uint32_t fieldID, int state);
    bool removeValue(uint32_t i);
    void setReadOnlyFields(uint32_t n);
    void setReadOnlyCount(uint32_t n) { readOnlyCount = n; }
    uint32_t getReadOnlyFields() const { return readOnlyFields; }
    uint32_t getReadOnlyCount() const { return readOnlyCount; }
    // For a list row whose atom is the reference: values that fail the filter (or the reference)
    // are replaced by later stored values of their field.
    void matchValues(uint32_t i, ZTFilter* filter, const ZTAtom* reference);

    bool isModified();
    bool isNew() const { return recordNumber == 0; }
    bool isStructureChanged() const { return structureChanged != 0; }
    bool isLink(uint32_t i);

    // ---- links, back values, directives, set membership ----
    // lastResult codes of the link operations.
    static constexpr int32_t kErrorSubRecord = -5;        // not available on a sub-record
    static constexpr int32_t kErrorHasExternalLink = -6;  // the value has an external link
    static constexpr int32_t kErrorIsLink = -7;           // the value is a link
    static constexpr int32_t kErrorNoExternalLink = -8;   // the value has no external link
    static constexpr int32_t kErrorNotLinked = -9;        // external link, but no link
    // attachToSet / detachFromSet on a record that is not stored yet.
    static constexpr int32_t kErrorNotStored = -11;
    // Write back stored the record but left a back value in another record unmade or undropped;
    // getBackLinkResult says why.
    static constexpr int32_t kResultBackLinkSkipped = 32;
    // getBackLinkResult codes.
    static constexpr int32_t kBackLinkNoDatabase = -21;  // missing, unreadable or no such reference
    static constexpr int32_t kBackLinkNotWritable = -22;  // read-only, or its write failed
    static constexpr int32_t kBackLinkUnknown = -23;      // it holds no reference to this database
    static constexpr int32_t kBackLinkNoRecord = -24;     // the other record does not exist
    // The caller still holds this database's lock: another database is not waited for.
    static constexpr int32_t kBackLinkBusy = -25;
    // Predefined fields.
    static constexpr uint32_t kDatabaseReferenceField = 33;
    static constexpr uint32_t kBackValueField = 35;

    // The link bit of the stored value (0 with kErrorRange).
    bool isStoredLink(uint32_t i);
    uint32_t getLinkID(uint32_t i);
    uint32_t getLinkFieldID(uint32_t i);
    // The value's linked record, made on first use (linkID 0: getLinkID, fieldID 0:
    // getLinkFieldID, file null: this record's). Null with kErrorRange, or for no link.
    ZTSubRecord* getLinkedRecord(uint32_t i, ZTFile* file, uint32_t linkID = 0,
                                 uint32_t fieldID = 0);
    virtual ZTSubRecord* getLinkedRecord(uint32_t i);
    // Makes value i a link into record recID: to its value j, or with makeValue to a new value of
    // fieldID there holding value i's text. The sub-record, owned by the value; null when refused.
    ZTSubRecord* linkTo(uint32_t i, uint32_t recID, uint32_t fieldID, uint32_t j, bool makeValue);
    ZTSubRecord* linkToValue(uint32_t i, const ZTRecord* rec, uint32_t j, bool makeValue);
    // Value i links to rec's value j (same file). 1, or 0 when refused.
    int linkToRecordValue(uint32_t i, const ZTRecord* rec, uint32_t j, const char* text);
    // Links value i to value j of record recID (j 0: its first value; else j must be of fieldID).
    int setLink(uint32_t i, uint32_t recID, uint32_t fieldID, uint32_t j, const char* text);
    bool unlink(uint32_t i);
    int clearLink(uint32_t i);
    int indexOfLinkKey(uint32_t linkKey, uint32_t fieldID);

    bool hasExternalLink(uint32_t i);
    bool setBackLink(uint32_t i, uint32_t fileRef, uint32_t recordID, uint32_t backLink,
                     uint32_t backLinkTypeID, uint32_t thisFID);
    virtual bool removeBackLink(uint32_t i);
    bool unlinkExternal(uint32_t i);
    int findBackLinkValue(uint32_t thisFID, uint32_t recordID);
    // Makes the back values of new and moved external links now (registry null: the record's).
    void updateBackLinks(ZTRefreshInfo* ri, ZTFileCache* registry);
    // Drops the back value that the value's first-seen external link had.
    void removeBackLinkOf(ZTAtomCache* value, ZTRefreshInfo* ri, ZTFileCache* registry);
    // Why the last write back skipped a back value (0: none skipped).
    int32_t getBackLinkResult() const { return backLinkResult; }

    // Sets value i from a computed text: "##LINKTO:record,field" links it, "##KEEP" keeps it,
    // any other text replaces it (ending a link).
    bool setValue(uint32_t i, const char* text, bool internal);

    // Membership written at once. 0, or -1 (lastResult kErrorNotStored, kErrorWriteFailed).
    int attachToSet(uint32_t setID, ZTRefreshInfo* ri);
    int detachFromSet(uint32_t setID, ZTRefreshInfo* ri);

    // Every value's row and removed value's row gets record n; every value is modified.
    void setRecordNumber(uint32_t n);
    bool isRemovedField(uint32_t fieldID) const;

    // ---- field order ----

    // kStateFixed, kStateStructure or kStateOutside; 0 with kErrorRange.
    int getFieldState(uint32_t i);
    bool isFixedField(uint32_t i) { return getFieldState(i) == kStateFixed; }
    // The field's state afterwards.
    int setFieldState(uint32_t i, int state);
    // to -1: the end. The moved value's new index, -1 on refusal.
    int moveValue(int32_t from, int32_t to, int state, ZTMoveRange* out);
    // Makes the structure follow the record's field runs (only with a set ID).
    void rebuildStructure(int extraFixed);

    // ---- attributes, display texts, title and stamps ----
    //
    // A value's own attributes live in its 'a' section as entries: byte 4, the attribute number
    // in decimal, byte 4, then the attribute's text up to the next byte 4 or the section's end.
    // A field's attributes are values of the attribute's type in the field's definition.

    // Predefined fields.
    static constexpr uint32_t kFieldTitle = 34;
    static constexpr uint32_t kFieldSetLink = 36;
    static constexpr uint32_t kFieldTitleTemplate = 37;
    static constexpr uint32_t kFieldCreated = 38;
    static constexpr uint32_t kFieldModified = 39;
    // Attributes.
    static constexpr uint32_t kAttrDocument = 102;
    static constexpr uint32_t kAttrWebAddress = 103;
    static constexpr uint32_t kAttrMailAddress = 104;
    static constexpr uint32_t kAttrChoices = 219;  // labels; number 0 takes kAttrChoiceDefault
    static constexpr uint32_t kAttrFlags = 220;    // labels chosen by the bits of the number
    static constexpr uint32_t kAttrChoiceDefault = 223;
    static constexpr uint32_t kAttrNoTitle = 234;  // no text for titles and summaries
    static constexpr uint32_t kAttrFormula = 108;  // the formula that computes the value
    // Where hasValueAttr and getValueAttr look (bits).
    static constexpr uint32_t kAttrOwn = 1;
    static constexpr uint32_t kAttrOfField = 2;
    // Display kinds (kind -1 in a value: not worked out yet).
    static constexpr int kKindText = 0;
    static constexpr int kKindLink = 1;
    static constexpr int kKindCheckNumber = 2;
    static constexpr int kKindDate = 3;
    static constexpr int kKindNumber = 4;
    static constexpr int kKindDocument = 5;
    static constexpr int kKindWebAddress = 6;
    static constexpr int kKindMailAddress = 7;

    // Own attributes first (mode bit kAttrOwn), then the field's (kAttrOfField).
    bool hasValueAttr(uint32_t i, uint32_t attr, uint32_t mode);
    // out gets the attribute's text; false (out empty) when neither place holds it.
    bool getValueAttr(uint32_t i, uint32_t attr, ZTStr* out, uint32_t mode);
    // The value's 'a' section only; kErrorRange out of range.
    bool hasOwnAttr(uint32_t i, uint32_t attr);
    bool getOwnAttr(uint32_t i, uint32_t attr, ZTStr* out);
    // The first entry of the attribute in an 'a' section: its start, its length up to the next
    // byte 4 (or the end) and where its text starts. False when the marker does not occur.
    static bool findAttr(const ZTStr& section, uint32_t attr, uint32_t* start, uint32_t* length,
                         uint32_t* textStart);
    // The entry marker of the attribute: byte 4, the number, byte 4.
    static ZTStr* formatAttrKey(uint32_t attr, ZTStr* out);

    // kKind*, worked out once per value (0 with kErrorRange out of range).
    int getValueKind(uint32_t i);
    // The kind a text has by its form: number, check number, date, document name, else 0.
    int classifyText(const char* text);
    // The value's head; formatted shows a date in the user's day/month order.
    ZTStr* getDisplayText(uint32_t i, ZTStr* out, bool formatted);
    // The value's head, or withLabels the field's choice labels that its number selects.
    ZTStr* getChoiceText(uint32_t i, ZTStr* out, bool withLabels);
    // The choice texts of the first n values that give one, joined by ", ".
    ZTStr* getSummary(ZTStr* out, uint32_t n);

    // The record's set: the cached one, else the record its field-36 link points to, else 0.
    uint32_t getSetID();
    // The title the record would have now.
    ZTStr* computeTitle(ZTStr* out);
    // The first title value gets the text (added when missing; an empty title adds nothing).
    bool setTitle(const char* text);
    bool updateTitle(ZTStr* out);
    bool refreshTitle();
    // *index (and *rec, when given: this image) := the field's first value; without one and
    // unless noAdd a value is added outside the structure. True when an index results.
    bool findOrAddValue(uint32_t fieldID, ZTRecord** rec, int* index, bool noAdd);
    // The field's first value gets the text, which must be a date or time, or with none the
    // local time now. False, nothing changed, for another text.
    bool setStamp(uint32_t fieldID, const char* text);
    bool stampCreated(const char* text = nullptr) { return setStamp(kFieldCreated, text); }
    bool stampModified(const char* text = nullptr) { return setStamp(kFieldModified, text); }

    // ---- formulas ----

    // Value i has a formula (kAttrFormula, its own or its field's).
    bool isComputed(uint32_t i);
    // Value i computed from its formula. False without a formula, out of range or read-only
    // (lastResult), or when the formula does not compile: the value then stays as it was.
    bool recompute(uint32_t i);
    bool computeValue(uint32_t i, const char* formula);
    // The formula compiled against the record's database and run with the value index sequence;
    // false (out empty) when it does not compile. Callers evaluating a formula on the record as a
    // whole (a dialog's preview, a macro) pass no sequence: its field reads take first values.
    bool evalFormula(const char* formula, ZTStr* out, uint32_t sequence = 0);
    // Compiled code (ending in the output opcode) run against this record; the evaluation's
    // result (false: a field read found no value at the index).
    bool evalCode(const char* code, ZTStr* out, uint32_t sequence);
    // Every value recomputed; true when any was set.
    bool recomputeAll();

  protected:
    // Value i, or null with kErrorRange (also for an image bound to no file).
    ZTAtomCache* valueOrRange(uint32_t i);
    // Adds an empty value of the field outside the structure, at its place by field ID; the
    // structure is left as it was. Its index or -1.
    int addOutsideValue(uint32_t fieldID);

  protected:
    // Value i, the last loaded, is the last of its field's run by the stored rows: the row after
    // its own belongs to another field or record. Tells a run's end without loading the value
    // after it; false when unsure.
    bool storedRunEndsAt(uint32_t i);
    // Value i alone makes its field's run, which ends there by the stored rows: notes when that
    // makes its row the only one of its field (ZTAtomCache::soleRowAt).
    void noteSoleRow(uint32_t i);
    // The value's index range of a field (first, last); for an absent field where it would go.
    void findFieldRange(uint32_t fieldID, uint32_t position, uint32_t* first, uint32_t* last);
    bool loadNextValue();
    bool firstStoredValue(ZTAtom* atom);
    bool nextStoredValue(ZTAtom* atom, const ZTAtom* last, bool nextFieldOnly);
    // lastResult 0, or kErrorRange / kErrorReadOnly (false) for value i.
    bool checkWritable(uint32_t i);
    // Field state of the value at i, or the fallback when it does not exist.
    int stateAt(uint32_t i, int fallback);
    int moveStateFor(uint32_t target, int requested);
    // The run of the field around value i: first and last index.
    void runOf(uint32_t i, uint32_t* first, uint32_t* last);
    void discardValues();
    void setState(char s) { state = s; }

    // Write-back steps that the link operations and stamps fill.
    // Step 3: creation and modification stamps and the title.
    virtual void writeBackStamps(bool wasModified);
    // Step 6: old back values of removed values and changed external links (noted here, dropped
    // once the lock is released).
    virtual void writeBackOldLinks(ZTRefreshInfo* ri);
    // Step 7: linked records are written before the lock; their result bits.
    virtual int32_t writeBackLinkedRecords(ZTRefreshInfo* ri);
    // Step 9: back values of new and moved external links (noted under the lock, made once it
    // is released).
    virtual void writeBackNewLinks(ZTRefreshInfo* ri);
    // The field of the value a link value points to.
    uint32_t linkedFieldOf(const ZTAtomCache* v) const;
    // The index of the field's value whose value number is key; -1 when none.
    int findLinkTarget(uint32_t fieldID, uint32_t key);

    // The record's rows are gone (checked under the lock).
    bool recordGone();
    // Write-back step 4: each field's values get ascending positions.
    void renumberRuns();
    bool runsInOrder() const;
    // Write-back step 5: the structure stored as its set's field list.
    bool saveStructure(ZTRefreshInfo* ri);
    // The field cache an image makes, drops, re-binds and hands notices to.
    ZTFieldCache* makeFieldCache();
    void dropFieldCache();
    void rebindFieldCache();
    int dispatchToFieldCache(ZTRefreshInfo* ri);

    ZTArrayP2<ZTAtomCache*, ZTAtomCache> removedValues;
    ZTArrayP2<ZTAtomCache*, ZTAtomCache> values;
    ZTArray<unsigned long> includedFields;
    ZTArray<unsigned long> excludedFields;
    ZTRecord* parent = nullptr;
    uint32_t firstValueOnly = 0;
    uint32_t fixedFirstOnly = 0;
    uint32_t moreValues = 1;
    uint32_t structureChanged = 0;
    uint32_t noPlaceholders = 0;
    uint32_t structureOnly = 0;
    uint32_t setIDCache = 0;
    uint32_t options = 0;
    uint32_t recordNumber = 0;
    uint32_t readOnlyFields = 0;
    uint32_t readOnlyCount = 0;
    char state = 'n';
    ZTFieldCache* fieldCache = nullptr;
    ZTFileCache* fileCache = nullptr;
    ZTSet structure;
    int32_t lastResult = 0;
    ZTFile* ztfile = nullptr;
    uint32_t ownsFieldCache = 0;
    uint32_t ownsFileCache = 0;
    uint32_t firstUnchecked = kNoIndex;
    // Loading beyond kViewLimit is allowed (set while a whole-record path loads).
    uint32_t wholeRecord = 0;
    ZTStr scratchName;  // what getFieldName returns

    // Back values noted during write back, made or dropped once the lock is released.
    struct PendingBackLink {
        bool drop = false;
        uint32_t fileRef = 0;          // 'l': the other database
        uint32_t record = 0;           // 'r': the other record
        uint32_t typeID = 0;           // the back value's field
        uint32_t thisFID = 0;          // this database in the other one (0: look it up)
        uint32_t target = 0;           // drop: the 'x' record; make: the linked record
        ZTAtomCache* value = nullptr;  // make: the value whose back link it is
    };
    int changeMembership(uint32_t setID, ZTRefreshInfo* ri, bool add);
    // Runs the noted back values; kResultBackLinkSkipped when one was skipped.
    int32_t writeBackPendingLinks(ZTRefreshInfo* ri);
    bool runBackLink(const PendingBackLink& p, ZTRefreshInfo* ri, ZTFileCache* registry);
    // What to make for the value's external link, or with drop what to drop for its first-seen one.
    PendingBackLink backLinkOf(ZTAtomCache* v, bool drop);
    std::vector<PendingBackLink> pendingBackLinks;
    int32_t backLinkResult = 0;
};

// The image of a record that a link value points to, owned by the linking value.
class ZTSubRecord : public ZTRecord {
  public:
    using ZTRecord::ZTRecord;
    // What a sub-record does not offer: lastResult kErrorSubRecord, 0.
    virtual int unavailable();
};
