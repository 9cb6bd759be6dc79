// Single values, names, database references and the counters of a database (see ztfile.h).
#include <algorithm>
#include <cstring>

#include "ztdb/ztassert.h"
#include "ztdb/ztcodec.h"
#include "ztdb/ztkey.h"
#include "ztdb/ztrec.h"

namespace {

constexpr uint32_t kNameOfField = 1;
constexpr uint32_t kNameOfSet = 9;
constexpr uint32_t kDatabasePath = 33;
constexpr uint32_t kTrashOf = 101;
constexpr uint32_t kFirstUserRecord = 1001;
constexpr char kExtensionTag = 'e';

// Rows that hold a value of their own record: neither links nor membership rows.
bool ownsValue(const ZTRec& rec) {
    return (rec.flags & (ZTRec::kFlagLink | ZTRec::kFlagMember)) == 0;
}

// The largest record ID lenID base-255 digits hold.
uint32_t largestID(int32_t lenID) {
    uint64_t v = 1;
    for (int32_t i = 0; i < lenID; ++i) v *= 255;
    return uint32_t(std::min<uint64_t>(v - 1, 0xFFFFFFFFu));
}

// The key text of a database reference: the path without database extension, the extension
// as part 'e'.
void databaseKey(const char* path, const char* extension, ZTStr* out) {
    out->assign(path);
    out->removeTag(kExtensionTag);
    out->stripDbExtension();
    if (extension && *extension) out->setTag(kExtensionTag, extension);
}

}  // namespace

bool ZTFile::getValue(uint32_t typeID, uint32_t recordID, ZTStr* val, bool any) {
    if (!ZT_ASSERT(typeID && recordID && val)) return false;
    val->clear();
    if (!ZT_ASSERT(isUsable())) return false;
    ZTReadBracket bracket(this);
    ZTRec rec(this);
    if (rec.seek(recordID, typeID, 0, "") != 0 || rec.typeID != typeID) return false;
    if (!any && rec.isLinkRow()) return false;
    return rec.readChain(rec.valueID, val);
}

bool ZTFile::hasValue(uint32_t recordID, uint32_t typeID) {
    if (!ZT_ASSERT(isUsable())) return false;
    ZTRec rec(this);
    return rec.seek(recordID, typeID, 0, "") == 0 && rec.typeID == typeID;
}

uint32_t ZTFile::findName(uint32_t nameID, const char* name) {
    if (!ZT_ASSERT(isUsable())) return 0;
    ZTStr folded;
    folded.assign(name);
    folded.fold(nullptr);
    if (folded.length == 0) return 0;
    // Folding and keys differ (Æ folds to a and keys as e; '/' and '.' are dropped by one and
    // give dates and numbers to the other), so the seek is by the key of the name as given and
    // every row with the same codes is compared by its folded text.
    const size_t lenKey = size_t(lenKey_);
    char low[256], high[256];
    makeKey(name, low, true, true, false, false);
    makeKey(name, high, true, true, true, false);
    size_t same = 0;
    while (same < lenKey && low[same] == high[same]) ++same;
    same = std::min(same + 1, lenKey);  // the codes and their end mark
    if (isNumericKey(low)) same = lenKey;
    ZTReadBracket bracket(this);
    ZTRec rec(this);
    ZTStr text;
    for (int r = rec.seekInType(nameID, name, false, false, false); r == 0;
         r = rec.skipInType(1, false, false)) {
        const char* key = rec.rowKey();
        if (!key || std::memcmp(key, low, same) != 0) break;
        if (!ownsValue(rec) || !rec.readChain(rec.valueID, &text)) continue;
        text.fold(nullptr);
        if (text.equals(folded.text)) return rec.recordID;
    }
    return 0;
}

bool ZTFile::getName(uint32_t nameID, uint32_t recordID, ZTStr* name) {
    if (!ZT_ASSERT(nameID && recordID && name)) return false;
    return getValue(nameID, recordID, name, false);
}

const char* ZTFile::makeUniqueName(uint32_t nameID, ZTStr* name) {
    if (!ZT_ASSERT(name != nullptr)) return "";
    const uint32_t length = name->length;
    ZTStr suffix;
    for (uint32_t n = 1;; ++n) {
        if (n > 1) {
            name->truncate(length);
            suffix.format(12, " %u", n);
            name->insert(ZTStr::kEnd, suffix.text);
        }
        if (findName(nameID, name->text) == 0) break;
    }
    return name->text;
}

bool ZTFile::findFieldName(uint32_t fieldID, ZTStr* name) {
    if (!ZT_ASSERT(name != nullptr)) return false;
    name->clear();
    return fieldID != 0 && getValue(kNameOfField, fieldID, name, false);
}

bool ZTFile::findSetName(uint32_t setID, ZTStr* name) {
    if (!ZT_ASSERT(name != nullptr)) return false;
    name->clear();
    return setID != 0 && getValue(kNameOfSet, setID, name, false);
}

uint32_t ZTFile::getNameLink(uint32_t recordID) {
    if (!ZT_ASSERT(isUsable()) || recordID == 0) return 0;
    ZTReadBracket bracket(this);
    ZTRec rec(this);
    if (rec.seek(recordID, kNameOfField, 0, "") != 0 || rec.typeID != kNameOfField ||
        !rec.isLinkRow())
        return 0;
    return rec.findOwner(rec.valueID) == 0 ? rec.recordID : 0;
}

bool ZTFile::isTrashSet(uint32_t setID) {
    if (setID == 0) return false;
    ZTStr value;
    return getValue(kTrashOf, setID, &value, false) && value.length != 0;
}

uint32_t ZTFile::findDatabaseRecord(const char* fileName, const char* extension) {
    if (!ZT_ASSERT(isUsable())) return 0;
    ZTStr sought;
    databaseKey(fileName, extension, &sought);
    if (sought.length == 0) return 0;
    // Paths keep their case: equal texts have equal keys, so the walk ends past the key.
    char key[256];
    makeKey(sought.text, key, true, false, false, false);
    ZTReadBracket bracket(this);
    ZTRec rec(this);
    ZTStr text, head, ext, candidate;
    for (int r = rec.seekInType(kDatabasePath, sought.text, false, false, false); r == 0;
         r = rec.skipInType(1, false, false)) {
        const char* rowKey = rec.rowKey();
        if (!rowKey || std::memcmp(rowKey, key, size_t(lenKey_)) > 0) break;
        if (!ownsValue(rec) || !rec.readChain(rec.valueID, &text)) continue;
        text.getTag(0, &head);
        text.getTag(kExtensionTag, &ext);
        databaseKey(head.text, ext.text, &candidate);
        if (candidate.equals(sought.text)) return rec.recordID;
    }
    return 0;
}

bool ZTFile::getDatabaseRecordName(uint32_t recordID, ZTStr* name, ZTStr* extension) {
    if (!ZT_ASSERT(name && extension)) return false;
    ZTStr value;
    const bool found = recordID != 0 && getName(kDatabasePath, recordID, &value);
    value.getTag(0, name);
    value.getTag(kExtensionTag, extension);
    return found;
}

// ---- counters ----

uint32_t ZTFile::highestRecordID() {
    ZTRec rec(this);
    return rec.goLast() == 0 ? rec.recordID : 0;
}

uint32_t ZTFile::newRecordID() {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return 0;
    if (!lock(false)) return 0;
    ZTRec rec(this);
    const uint32_t counter = rec.getCounter();
    const bool onCounter = rec.standsOnSystemRow(ZTRec::kCounterType);
    // A counter that fell behind the rows (a copy, a repair) would hand out an ID in use.
    const uint64_t next =
        std::max<uint64_t>({counter, uint64_t(highestRecordID()) + 1, kFirstUserRecord});
    if (next > largestID(lenID_)) {
        lastError_ = kErrorNoRecordID;
        (void)unlock();
        return 0;
    }
    // The lock held since the read: the counter's row is where the read left the cursor.
    const bool stored = onCounter ? rec.rewriteSystemNumber(uint32_t(next + 1))
                                  : rec.setCounter(uint32_t(next + 1));
    const bool published = unlock();
    if (!stored || !published) return 0;
    lastError_ = 0;
    return uint32_t(next);
}

uint32_t ZTFile::getChangeCount() {
    if (!ZT_ASSERT(isUsable())) return 0;
    ZTRec rec(this);
    return rec.getCounter();
}

uint32_t ZTFile::getBackupChangeCount() {
    if (!ZT_ASSERT(isUsable())) return 0;
    ZTRec rec(this);
    return rec.getSystemNumber(ZTRec::kBackupCounterType);
}

bool ZTFile::checkAutoBackup(uint32_t threshold) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (uint64_t(getChangeCount()) <= uint64_t(getBackupChangeCount()) + threshold) return false;
    if (!lock(false)) return false;
    ZTRec rec(this);
    const uint32_t counter = rec.getCounter();
    const bool has = rec.seek(kSystemRecord, ZTRec::kBackupCounterType, 0, "") == 0 &&
                     rec.typeID == ZTRec::kBackupCounterType;
    const uint64_t last = has ? rec.getSystemNumber(ZTRec::kBackupCounterType) : 0;
    const bool store = !has || last + threshold < counter;
    const bool stored = store && rec.setSystemNumber(ZTRec::kBackupCounterType, counter, 1);
    return unlock() && stored;
}

// Under the no-wait lock from the start: a reader without it would wait out, read by read, a
// writer that is not there when an index is damaged. Nothing is written when a read failed.
void ZTFile::checkIDCounter() {
    if (!lock(true)) return;
    ZTRec counter(this), last(this);
    const uint32_t next = counter.getCounter();
    const uint32_t highest = last.goLast() == 0 ? last.recordID : 0;
    if (!counter.readFailed() && !last.readFailed() && (next == 0 || next <= highest))
        (void)counter.setCounter(std::max(highest, kFirstUserRecord) + 1);
    (void)unlock();
}
