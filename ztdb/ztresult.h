#pragma once
// ZTResult: a result set of one database described without its rows: the query that makes it
// (text, sorting field, set, option, restricting sets) or an explicit list of record IDs, and the
// records the user marked in it. Views hand it to dialogs and batch jobs, searches and scans start
// from it, a search writes its state back into it, and it travels through the clipboard as a
// block (writeGlobalMem / readGlobalMem).
//
// Taking a list: with adopt-lists set the list is kept as given (duplicates included), otherwise
// each ID is kept once, first occurrence first. The spare list is the caller's: no operation here
// fills, copies or transfers it; getIDList hands it out when the result is not an explicit list.
//
// Transfer block, every number 4 bytes little-endian, items back to back:
//
//   | # | item               | encoding                                                  |
//   |---|--------------------|-----------------------------------------------------------|
//   | 1 | database path      | ZTFile::getFullPath (no extension), bytes then one 0 byte |
//   | 2 | query text         | bytes then one 0 byte                                     |
//   | 3 | sorting field      | unsigned                                                  |
//   | 4 | set member         | unsigned                                                  |
//   | 5 | set's first field  | unsigned                                                  |
//   | 6 | option flag        | signed (0 or 1)                                           |
//   | 7 | explicit flag      | signed                                                    |
//   | 8 | all-marked flag    | signed                                                    |
//   | 9 | adopt-lists flag   | signed                                                    |
//   |10 | query set IDs      | count, then each ID                                       |
//   |11 | ID list            | count, then each ID                                       |
//   |12 | marks              | count, then each ID                                       |
//   |13 | extra bytes        | the caller's, raw, no length (the reader passes the same) |
//
// The block may come from any program: the reader checks every count, terminator and the extra
// bytes against the block and, on any fault, returns false with the result unchanged.
#include <cstdint>

#include "ztdb/ztarray.h"
#include "ztdb/ztglobalmem.h"
#include "ztdb/ztstr.h"

class ZTFile;
class ZTSet;

class ZTResult {
  public:
    // Grow step of the blocks the result is written into.
    static constexpr uint32_t kBlockGrowStep = 2000;

    explicit ZTResult(ZTFile* file = nullptr, bool adoptLists = false);
    ~ZTResult() = default;
    ZTResult(const ZTResult&) = delete;
    ZTResult& operator=(const ZTResult&) = delete;

    // Binds to file with empty query, lists and marks; the spare list keeps its contents.
    void reset(ZTFile* file, bool adoptLists);
    // Stores the query (set IDs copied; null: none) and drops the explicit list and the marks.
    void setQuery(const char* text, uint32_t sortingField, uint32_t setMember,
                  uint32_t setFirstField, bool option, const ZTArray<uint32_t>* setIDs);
    // The same with the set's ID and its first entry (0 for no set or an empty one).
    void setQuery(const char* text, uint32_t sortingField, const ZTSet* set, bool option,
                  const ZTArray<uint32_t>* setIDs);
    // Everything but the spare list.
    void copy(const ZTResult& other);

    bool isValid() const { return file_ != nullptr; }
    ZTFile* getFile() const { return file_; }
    const char* getText() const { return text_.text; }
    uint32_t getSortingField() const { return sortingField_; }
    uint32_t getSetMember() const { return setMember_; }
    uint32_t getSetFirstField() const { return setFirstField_; }
    bool getOption() const { return option_ != 0; }
    bool isAdoptingLists() const { return adoptLists_ != 0; }
    const ZTArray<uint32_t>& getQueryIDs() const { return queryIDs_; }
    bool hasIDList() const { return explicit_ != 0; }
    // The set's members in its own order: no text, option or query sets, and the rows sorted by
    // the set's first field or not sorted.
    bool isWholeSet() const;

    // The explicit list; null empties the list and clears the explicit flag.
    void setIDList(const ZTArray<uint32_t>* ids);
    // The same storage with the explicit flag clear (the IDs seen so far by a search).
    void storeIDList(const ZTArray<uint32_t>* ids);
    // The ID list when explicit, else the spare list.
    ZTArray<uint32_t>* getIDList() { return explicit_ ? &ids_ : &spare_; }
    const ZTArray<uint32_t>* getIDList() const { return explicit_ ? &ids_ : &spare_; }
    // Element i of the explicit list; 0 when the list is not explicit or i is past its end.
    uint32_t getListID(uint32_t i) const;
    uint32_t getIDCount() const { return explicit_ ? ids_.size : 0; }

    void clearMarks(bool allMarked);
    // Marks count IDs of the ID list from startID's position on (the list's end stops it); no
    // marks when either is 0 or startID is not in the list.
    void markRange(uint32_t startID, uint32_t count);
    bool hasMarks() const { return marks_.size != 0 || allMarked_ != 0; }
    bool isAllMarked() const { return allMarked_ != 0; }
    const ZTArray<uint32_t>& getMarks() const { return marks_; }
    uint32_t getMarkedID(uint32_t i) const { return i < marks_.size ? marks_.data[i] : 0; }
    uint32_t getMarkCount() const { return marks_.size; }

    // Appends the block to mem (a fresh block of the caller's); false, nothing written, without a
    // file or when the block cannot grow.
    bool writeGlobalMem(ZTGlobalMem* mem, const void* extra, uint32_t extraLength) const;
    // The database path at the head of the block, as stored; false when there is none.
    static bool readGlobalMemPath(ZTGlobalMem* mem, ZTStr* path);
    // Reads the block from its first byte into this result when its path, without a database
    // extension, is file's name; extraLength bytes of item 13 go to extra. False, nothing
    // changed, for an invalid file, another database's block or a damaged one.
    bool readGlobalMem(ZTGlobalMem* mem, ZTFile* file, void* extra, uint32_t extraLength);

  private:
    void takeList(const ZTArray<uint32_t>* ids, bool makeExplicit);

    ZTStr text_;
    uint32_t sortingField_ = 0;
    uint32_t setMember_ = 0;
    uint32_t setFirstField_ = 0;
    uint8_t option_ = 0;
    uint8_t explicit_ = 0;
    uint8_t allMarked_ = 0;
    uint8_t adoptLists_ = 0;
    ZTArray<uint32_t> queryIDs_;
    ZTArray<uint32_t> ids_;
    ZTArray<uint32_t> marks_;
    ZTArray<uint32_t> spare_;
    ZTFile* file_ = nullptr;
};
