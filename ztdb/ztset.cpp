#include "ztdb/ztset.h"

#include <algorithm>

#include "ztdb/ztassert.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztvalueat.h"

ZTSet::ZTSet(ZTFile* file, uint32_t setID) {
    init(file, setID);
}

ZTSet::ZTSet(const ZTSet& other) : ZTArray<uint32_t>() {
    *this = other;
}

ZTSet& ZTSet::operator=(const ZTSet& other) {
    if (&other == this) return *this;
    clear();
    copyFrom(other);
    values_.copyFrom(other.values_);
    firstID_ = other.firstID_;
    setID_ = other.setID_;
    file_ = other.file_;
    modified_ = other.modified_;
    fixedCount_ = other.fixedCount_;
    filter_ = other.filter_;
    readPositions_ = other.readPositions_;
    return *this;
}

void ZTSet::init(ZTFile* file, uint32_t setID) {
    filter_.setFile(file);
    clear();
    file_ = file;
    setID_ = setID;
    firstID_ = 0;
    readPositions_ = 0;
    modified_ = false;
}

void ZTSet::setID(uint32_t id) {
    setID_ = id;
    modified_ = true;
}

void ZTSet::clearID() {
    setID_ = 0;
    modified_ = true;
}

// ---- loading and saving ----

bool ZTSet::loadOnce(bool* readFailed) {
    ZTArray<uint32_t>::clear();
    values_.clear();
    readPositions_ = 0;
    ZTReadBracket bracket(file_);
    ZTRec rec(file_), owner(file_);
    for (int r = rec.seek(setID_, kFieldListType, 0, ""); r == 0 && rec.typeID == kFieldListType;
         r = rec.skip(1)) {
        readPositions_ = std::max(readPositions_, rec.position);
        // An entry whose field is gone (a link without owner) is left out, and so is anything
        // that is not a link at all; the walk goes on past both.
        if (!rec.isLinkRow() || rec.isMemberRow()) continue;
        if (owner.findOwner(rec.valueID) != 0 || owner.recordID == 0) continue;
        add(owner.recordID, true);
        values_.add(kDefaultValue, true);
    }
    *readFailed = rec.readFailed() || owner.readFailed();
    return true;
}

uint32_t ZTSet::fixedCountFrom(const char* stored, uint32_t size) {
    ZTStr text;
    text.assign(stored);
    bool notWhole = false;
    const uint32_t n = text.toInt(&notWhole);
    return !notWhole && n != 0 && n <= size ? n : size;
}

bool ZTSet::load() {
    if (!file_ || setID_ == 0) return false;
    if (!ZT_ASSERT(file_->isUsable())) return false;
    bool readFailed = false;
    for (int attempt = 0; attempt <= ZTFile::kMaxReadRestarts; ++attempt) {
        loadOnce(&readFailed);
        if (!readFailed) break;
    }
    firstID_ = size ? data[0] : 0;
    ZTStr stored;
    fixedCount_ = fixedCountFrom(
        file_->getValue(kFixedCountType, setID_, &stored, false) ? stored.text : nullptr, size);
    modified_ = false;
    return true;
}

bool ZTSet::writeEntries() {
    for (uint32_t i = 0; i < size; ++i) {
        // An entry whose field has no name leaves its position empty.
        const uint32_t name = firstOwnValue(file_, data[i], kFieldListType);
        if (!storeValueAt(file_, setID_, kFieldListType, i + 1, nullptr, name)) return false;
    }
    // The positions after the list that the load met are emptied, one at a time from the list's
    // end; rows the load never saw stay.
    for (;;) {
        ZTRec rec(file_);
        int r = rec.seek(setID_, kFieldListType, size, "");
        while (r == 0 && rec.typeID == kFieldListType && rec.position <= size) r = rec.skip(1);
        if (r != 0 || rec.typeID != kFieldListType || rec.position > readPositions_) break;
        if (!rec.deleteRow()) return false;
    }
    readPositions_ = size;
    // The fixed count is stored only when it differs from the size.
    ZTRec fixed(file_);
    const uint32_t at =
        fixed.seek(setID_, kFixedCountType, 0, "") == 0 && fixed.typeID == kFixedCountType
            ? fixed.position
            : 1;
    ZTStr text;
    if (fixedCount_ != size) text.assignInt(fixedCount_);
    return storeValueAt(file_, setID_, kFixedCountType, at, text.text, 0);
}

bool ZTSet::save(ZTRefreshInfo* info) {
    if (!file_ || setID_ == 0) return false;
    if (!modified_) return true;
    if (!ZT_ASSERT(file_->isUsable() && !file_->isReadOnly())) return false;
    ZTWriteLock lock(file_);
    if (!lock) return false;
    bool ok = writeEntries();
    const uint32_t first = size ? data[0] : 0;
    if (ok && first != firstID_) {
        ok = file_->rebuildSetTies(setID_, first != 0);
        if (ok) firstID_ = first;
    }
    ok = lock.release() && ok;
    if (info) info->add(file_, setID_, 0, ZTRefreshItem::kChanged);
    if (ok) modified_ = false;
    return ok;
}

// ---- editing ----

void ZTSet::insert(uint32_t id, uint32_t position, int value) {
    const int k = find(id);
    if (k >= 0) {
        removeAt(uint32_t(k));
        if (uint32_t(k) < position) --position;
    }
    position = std::min(position, size);
    if (position <= fixedCount_) ++fixedCount_;
    insertAt(id, int(position));
    values_.insertAt(value, int(position));
    modified_ = true;
}

void ZTSet::remove(uint32_t id) {
    const int k = find(id);
    if (k >= 0) removeAt(uint32_t(k));
}

void ZTSet::removeAt(uint32_t index) {
    if (!ZT_ASSERT(index < size)) return;
    if (index < fixedCount_) --fixedCount_;
    ZTArray<uint32_t>::remove(index, 1);
    values_.remove(index, 1);
    modified_ = true;
}

void ZTSet::clear() {
    ZTArray<uint32_t>::clear();
    values_.clear();
    fixedCount_ = 0;
    modified_ = true;
}

void ZTSet::truncate(uint32_t position) {
    while (size > position) removeAt(position);
}

void ZTSet::setFixedCount(uint32_t n) {
    if (n == fixedCount_) return;
    fixedCount_ = std::min(n, size);
    modified_ = true;
}

int ZTSet::locate(uint32_t id) const {
    const int k = find(id);
    if (k < 0) return kAbsent;
    return uint32_t(k) < fixedCount_ ? kInFixedPart : kAfterFixedPart;
}

void ZTSet::getNameList(ZTStr* out) const {
    if (!ZT_ASSERT(out != nullptr)) return;
    out->clear();
    ZTStr name;
    for (uint32_t i = 0; i < size; ++i) {
        if (i > 0) out->insert(ZTStr::kEnd, '\t');
        if (file_ && file_->findFieldName(data[i], &name)) out->insert(ZTStr::kEnd, name.text);
    }
}

int ZTSet::refresh(ZTRefreshInfo* info) {
    if (!filter_.acceptRefresh(info)) return 0;
    if (modified_ || setID_ == 0 || size == 0) return 0;
    return load() ? 1 : 0;
}
