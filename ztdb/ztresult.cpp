#include "ztdb/ztresult.h"

#include <cstring>
#include <unordered_set>

#include "ztdb/ztfile.h"
#include "ztdb/ztset.h"

ZTResult::ZTResult(ZTFile* file, bool adoptLists) {
    reset(file, adoptLists);
}

void ZTResult::reset(ZTFile* file, bool adoptLists) {
    file_ = file;
    adoptLists_ = adoptLists ? 1 : 0;
    setQuery("", 0, 0, 0, false, nullptr);
}

void ZTResult::setQuery(const char* text, uint32_t sortingField, uint32_t setMember,
                        uint32_t setFirstField, bool option, const ZTArray<uint32_t>* setIDs) {
    text_.assign(text);
    sortingField_ = sortingField;
    setMember_ = setMember;
    setFirstField_ = setFirstField;
    option_ = option ? 1 : 0;
    if (setIDs != nullptr)
        queryIDs_.copyFrom(*setIDs);
    else
        queryIDs_.clear();
    setIDList(nullptr);
    clearMarks(false);
}

void ZTResult::setQuery(const char* text, uint32_t sortingField, const ZTSet* set, bool option,
                        const ZTArray<uint32_t>* setIDs) {
    uint32_t setID = set != nullptr ? set->getID() : 0;
    uint32_t first = set != nullptr && set->size != 0 ? set->data[0] : 0;
    setQuery(text, sortingField, setID, first, option, setIDs);
}

void ZTResult::copy(const ZTResult& other) {
    if (&other == this) return;
    file_ = other.file_;
    text_.assign(other.text_.text);
    sortingField_ = other.sortingField_;
    setMember_ = other.setMember_;
    setFirstField_ = other.setFirstField_;
    option_ = other.option_;
    explicit_ = other.explicit_;
    queryIDs_.copyFrom(other.queryIDs_);
    ids_.copyFrom(other.ids_);
    marks_.copyFrom(other.marks_);
    allMarked_ = other.allMarked_;
    adoptLists_ = other.adoptLists_;
}

bool ZTResult::isWholeSet() const {
    return text_.length == 0 && setMember_ != 0 &&
           (sortingField_ == 0 || sortingField_ == setFirstField_) && option_ == 0 &&
           queryIDs_.size == 0;
}

void ZTResult::takeList(const ZTArray<uint32_t>* ids, bool makeExplicit) {
    if (ids == nullptr) {
        ids_.clear();
        explicit_ = 0;
        return;
    }
    if (adoptLists_) {
        ids_.copyFrom(*ids);
    } else {
        // A search's complete result may hold a million IDs: a set keeps this linear.
        ZTArray<uint32_t> kept;
        std::unordered_set<uint32_t> seen;
        seen.reserve(ids->size);
        kept.grow(ids->size);  // the array's own step of 10 would copy it over and over
        for (uint32_t i = 0; i < ids->size; ++i)
            if (seen.insert(ids->data[i]).second) kept.add(ids->data[i], true);
        ids_.copyFrom(kept);
    }
    explicit_ = makeExplicit ? 1 : 0;
}

void ZTResult::setIDList(const ZTArray<uint32_t>* ids) {
    takeList(ids, true);
}

void ZTResult::storeIDList(const ZTArray<uint32_t>* ids) {
    takeList(ids, false);
}

uint32_t ZTResult::getListID(uint32_t i) const {
    return explicit_ && i < ids_.size ? ids_.data[i] : 0;
}

void ZTResult::clearMarks(bool allMarked) {
    marks_.clear();
    allMarked_ = allMarked ? 1 : 0;
}

void ZTResult::markRange(uint32_t startID, uint32_t count) {
    clearMarks(false);
    if (startID == 0 || count == 0) return;
    int at = ids_.find(startID);
    if (at < 0) return;
    uint64_t end = uint64_t(uint32_t(at)) + count;
    if (end > ids_.size) end = ids_.size;
    for (uint32_t i = uint32_t(at); i < end; ++i) marks_.add(ids_.data[i], true);
}

bool ZTResult::writeGlobalMem(ZTGlobalMem* mem, const void* extra, uint32_t extraLength) const {
    if (file_ == nullptr || mem == nullptr) return false;
    bool ok = mem->putString(file_->getFullPath()) && mem->putStr(text_) &&
              mem->putULong(sortingField_) && mem->putULong(setMember_) &&
              mem->putULong(setFirstField_) && mem->putInt(int8_t(option_)) &&
              mem->putInt(int8_t(explicit_)) && mem->putInt(int8_t(allMarked_)) &&
              mem->putInt(int8_t(adoptLists_)) && mem->putArray(queryIDs_) && mem->putArray(ids_) &&
              mem->putArray(marks_);
    if (ok && extra != nullptr && extraLength != 0) ok = mem->write(extra, extraLength);
    return ok;
}

bool ZTResult::readGlobalMemPath(ZTGlobalMem* mem, ZTStr* path) {
    mem->rewind();
    return mem->getStr(path);
}

bool ZTResult::readGlobalMem(ZTGlobalMem* mem, ZTFile* file, void* extra, uint32_t extraLength) {
    if (file == nullptr || !file->isValid() || mem == nullptr) return false;
    ZTStr path;
    if (!readGlobalMemPath(mem, &path)) return false;
    // Paths keep their letter case here: two names differing in case are two databases.
    path.stripDbExtension();
    if (!path.equals(file->getFileName())) return false;

    // Everything is read into locals first, so that a damaged block changes nothing.
    ZTStr text;
    mem->getStr(&text);
    uint32_t fields[3];
    for (uint32_t& f : fields) f = mem->getULong();
    uint8_t flags[4];
    for (uint8_t& f : flags) f = mem->getInt() != 0 ? 1 : 0;
    ZTArray<uint32_t> lists[3];
    for (ZTArray<uint32_t>& list : lists) mem->getArray(&list);
    const unsigned char* extraBytes = nullptr;
    bool wantsExtra = extra != nullptr && extraLength != 0;
    if (wantsExtra) extraBytes = mem->skip(extraLength);
    if (mem->readFailed()) return false;

    file_ = file;
    text_.assign(text.text);
    sortingField_ = fields[0];
    setMember_ = fields[1];
    setFirstField_ = fields[2];
    option_ = flags[0];
    explicit_ = flags[1];
    allMarked_ = flags[2];
    adoptLists_ = flags[3];
    queryIDs_.copyFrom(lists[0]);
    ids_.copyFrom(lists[1]);
    marks_.copyFrom(lists[2]);
    if (wantsExtra) std::memcpy(extra, extraBytes, extraLength);
    return true;
}
