#include "ztdb/ztrefresh.h"

#include <atomic>

#include "ztdb/ztfile.h"

namespace {

int compareIDs(uint32_t a, uint32_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

// One counter for the whole process: notices made on worker threads must not share a serial
// with the user-interface thread's notices, or a receiver would drop one of them as seen.
std::atomic<uint32_t> gLastSerial{0};

}  // namespace

int ZTRefreshItem::compare(const ZTRefreshItem& other) const {
    if (int c = compareIDs(fileID, other.fileID)) return c;
    if (other.recordID == 0) return 0;
    if (int c = compareIDs(recordID, other.recordID)) return c;
    if (other.subID == 0) return 0;
    return compareIDs(subID, other.subID);
}

uint32_t ZTRefreshInfo::nextSerial() {
    uint32_t serial;
    do {  // 0 means "no serial": a wrapped counter skips it
        serial = gLastSerial.fetch_add(1, std::memory_order_relaxed) + 1;
    } while (serial == 0);
    return serial;
}

ZTRefreshInfo::ZTRefreshInfo(uint32_t serial) {
    reset(serial);
}

void ZTRefreshInfo::reset(uint32_t serial) {
    serial_ = serial ? serial : nextSerial();
    items_.clear();
}

void ZTRefreshInfo::assign(const ZTRefreshInfo& other) {
    if (&other == this) return;  // emptying first would lose the items being copied
    serial_ = other.serial_;
    items_.clear();
    for (uint32_t i = 0; i < other.items_.size; ++i) add(other.items_[i]);
}

namespace {

uint32_t idOf(ZTFile* file) {
    return file != nullptr ? file->getFileID() : 0;
}

}  // namespace

uint32_t ZTRefreshInfo::addByID(uint32_t fileID, uint32_t recordID, uint32_t subID,
                                uint32_t flags) {
    return add(ZTRefreshItem{fileID, recordID, subID, flags});
}

uint32_t ZTRefreshInfo::add(ZTFile* file, uint32_t recordID, uint32_t subID, uint32_t flags) {
    return addByID(idOf(file), recordID, subID, flags);
}

uint32_t ZTRefreshInfo::addByID(uint32_t fileID) {
    return add(ZTRefreshItem{fileID, 0, 0, ZTRefreshItem::kChanged});
}

uint32_t ZTRefreshInfo::add(ZTFile* file) {
    return addByID(idOf(file));
}

uint32_t ZTRefreshInfo::add(const ZTRefreshItem& item) {
    ZTRefreshItem copy = item;
    uint32_t pos = 0;  // where the search for the insertion point may start
    uint32_t first = findByID(copy.fileID);
    if (first != kNone) {
        pos = first;
        uint32_t last = findLastByID(copy.fileID, kAnyRecord, first);
        if (last - first >= kCollapseSpan)
            copy = ZTRefreshItem{copy.fileID, 0, 0, ZTRefreshItem::kChanged};

        if (copy.recordID == 0) {
            if (items_[first].recordID == 0) return first;
            items_.remove(first, last - first + 1);
            copy.flags = ZTRefreshItem::kChanged;
        } else if (copy.subID == 0) {
            uint32_t p = findByID(copy.fileID, copy.recordID, first);
            if (p != kNone) {
                if (items_[p].subID == 0) return p;
                items_.remove(p, findLastByID(copy.fileID, copy.recordID, p) - p + 1);
                copy.flags = ZTRefreshItem::kChanged;
            }
        }
    }

    uint32_t n = items_.size;
    if (n == 0 || copy.isGreater(items_[n - 1])) {
        items_.append(copy);
        return n;
    }
    while (pos < n && copy.isGreater(items_[pos])) ++pos;
    if (pos < n && copy.isEqual(items_[pos])) {  // the same item, or one that covers it
        items_[pos].flags |= copy.flags;
        return pos;
    }
    items_.insertAt(copy, int(pos));
    return pos;
}

const ZTRefreshItem* ZTRefreshInfo::getItem(uint32_t i) const {
    return i < items_.size ? &items_[i] : nullptr;
}

uint32_t ZTRefreshInfo::getFileID(uint32_t i) const {
    return i < items_.size ? items_[i].fileID : kNone;
}

uint32_t ZTRefreshInfo::getRecordID(uint32_t i) const {
    return i < items_.size ? items_[i].recordID : kNone;
}

uint32_t ZTRefreshInfo::getSubID(uint32_t i) const {
    return i < items_.size ? items_[i].subID : kNone;
}

uint32_t ZTRefreshInfo::getFlags(uint32_t i) const {
    return i < items_.size ? items_[i].flags : kNone;
}

uint32_t ZTRefreshInfo::find(ZTFile* file, uint32_t recordID, uint32_t start) const {
    return findByID(idOf(file), recordID, start);
}

uint32_t ZTRefreshInfo::findLast(ZTFile* file, uint32_t recordID, uint32_t start) const {
    return findLastByID(idOf(file), recordID, start);
}

uint32_t ZTRefreshInfo::findByID(uint32_t fileID, uint32_t recordID, uint32_t start) const {
    uint32_t i = start;
    while (i < items_.size && items_[i].fileID != fileID) ++i;
    if (i >= items_.size) return kNone;
    if (recordID == kAnyRecord) return i;
    for (; i < items_.size && items_[i].fileID == fileID; ++i)
        if (items_[i].recordID == recordID) return i;
    return kNone;
}

uint32_t ZTRefreshInfo::findLastByID(uint32_t fileID, uint32_t recordID, uint32_t start) const {
    auto inRun = [&](uint32_t i) {
        return i < items_.size && items_[i].fileID == fileID &&
               (recordID == kAnyRecord || items_[i].recordID == recordID);
    };
    if (!inRun(start)) return kNone;
    uint32_t i = start;
    while (inRun(i + 1)) ++i;
    return i;
}

void ZTRefreshedBaseClass::setFile(ZTFile* file) {
    setFileByID(idOf(file));
}

void ZTRefreshedBaseClass::setFileByID(uint32_t fileID) {
    fileID_ = fileID;
    for (uint32_t& s : seen_) s = 0;
    ringIndex_ = 0;
}

bool ZTRefreshedBaseClass::acceptRefresh(const ZTRefreshInfo* info) {
    if (!info) return false;
    uint32_t serial = info->getSerial();
    for (uint32_t s : seen_)
        if (s == serial) return false;
    if (fileID_ != 0 && info->findByID(fileID_) == ZTRefreshInfo::kNone) return false;
    seen_[ringIndex_] = serial;
    ringIndex_ = (ringIndex_ + 1) % kRingSize;
    return true;
}

int ZTRefreshedBaseClass::dispatchRefresh(ZTRefreshInfo* info, void* arg) {
    return acceptRefresh(info) ? refresh(info, arg) : 0;
}

int ZTRefreshedBaseClass::refresh(ZTRefreshInfo*, void*) {
    return 0;
}
