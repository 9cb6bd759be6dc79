#include "ztdb/ztname.h"

#include "ztdb/ztassert.h"
#include "ztdb/ztatom.h"
#include "ztdb/ztcache.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztrefresh.h"
#include "ztdb/ztstr.h"

namespace {

// A structure of the listed types, all fixed, so that a new definition shows each of them.
ZTSet definitionStructure(ZTFile* file, std::initializer_list<uint32_t> types) {
    ZTSet structure(file, 0);
    for (uint32_t type : types) structure.insert(type, structure.size, ZTSet::kDefaultValue);
    return structure;
}

// The text as a whole decimal number; 0 for an empty text or one with anything after the number.
uint32_t wholeNumber(const char* text) {
    ZTStr s;
    s.assign(text);
    bool notWhole = false;
    const uint32_t n = s.toInt(&notWhole);
    return s.length == 0 || notWhole ? 0 : n;
}

}  // namespace

// ---- ZTNamedRecord ----

ZTNamedRecord::ZTNamedRecord(ZTFile* file, const ZTSet* structure, ZTFieldCache* fieldCache,
                             ZTFileCache* fileCache)
    : ZTRecord(file, structure, fieldCache, fileCache) {}

void ZTNamedRecord::initProtected(ZTFile* file, const ZTSet* structure, ZTFieldCache* fieldCache,
                                  ZTFileCache* fileCache) {
    ZTRecord::init(file, structure, fieldCache, fileCache);
    protectName();
}

void ZTNamedRecord::initWithFieldProtected(ZTFile* file, uint32_t fieldID, ZTFieldCache* fieldCache,
                                           ZTFileCache* fileCache) {
    ZTRecord::initWithField(file, fieldID, fieldCache, fileCache);
    protectName();
}

const char* ZTNamedRecord::getName() {
    const char* name = getText(0);
    return name ? name : "";
}

void ZTNamedRecord::protectName() {
    if (!isValid()) return;
    if (!ZT_ASSERT(structure.size != 0)) return;
    setReadOnlyFields(1);
}

int ZTNamedRecord::setNameValue(uint32_t fieldID, const char* text) {
    const uint32_t protection = readOnlyFields;
    setReadOnlyFields(0);
    int i = indexOf(fieldID, 0);
    if (i < 0) i = insertValue(0, fieldID, 0);
    const int result = i == 0 && setText(0, text, false) ? 1 : 0;
    setReadOnlyFields(protection);
    return result;
}

int ZTNamedRecord::write(ZTRefreshInfo* ri, uint32_t* existingID, bool makeUnique) {
    lastResult = 0;
    if (!ZT_ASSERT(ztfile != nullptr)) return 0;
    ZTWriteLock lock(ztfile);
    if (!lock) {
        lastResult = ZTFile::kErrorWriteFailed;
        return 0;
    }
    int32_t error = 0;
    // A new definition is checked even when its name was never edited: stored without a name,
    // it could neither be found nor kept by maintenance.
    if (isNew() || isValueModified(0)) {
        const uint32_t nameField = getTypeID(0);
        ZTStr name;
        name.assign(getText(0));
        ZTStr folded(name);
        folded.fold(nullptr);
        if (folded.length == 0 || nameField == 0) {
            error = kErrorEmptyName;
        } else {
            const uint32_t other = ztfile->findName(nameField, name.text);
            if (other != 0 && other != recordNumber) {
                error = kErrorNameTaken;
                if (existingID) *existingID = other;
                if (makeUnique) {
                    ztfile->makeUniqueName(nameField, &name);
                    setNameValue(nameField, name.text);
                }
            }
        }
    }
    if (error != 0) {
        lastResult = error;
        return 0;
    }
    return ZTRecord::write(ri);
}

bool ZTNamedRecord::hasAttr(uint32_t fieldID) {
    return indexOf(fieldID, 0) >= 0;
}

const char* ZTNamedRecord::getAttr(uint32_t fieldID) {
    return getTextAt(indexOf(fieldID, 0));
}

uint32_t ZTNamedRecord::getAttrInt(uint32_t fieldID) {
    ZTStr text;
    text.assign(getAttr(fieldID));
    return text.toInt();
}

bool ZTNamedRecord::setAttr(uint32_t fieldID, const char* text) {
    int i = indexOf(fieldID, 0);
    // Attributes stay outside the structure: left to itself, the insert would let a new type at
    // the record's end join the fixed fields before it.
    if (i < 0) i = insertValue(kNoIndex, fieldID, kStateOutside);
    return setTextAt(i, text && *text ? text : "1");
}

bool ZTNamedRecord::setAttrInt(uint32_t fieldID, uint32_t value) {
    ZTStr text;
    text.assignInt(value);
    return setAttr(fieldID, text.text);
}

bool ZTNamedRecord::removeAttr(uint32_t fieldID) {
    return removeAt(indexOf(fieldID, 0));
}

bool ZTNamedRecord::setTextAt(int i, const char* text) {
    return i >= 0 && setText(uint32_t(i), text, false);
}

const char* ZTNamedRecord::getTextAt(int i) {
    return i >= 0 ? getText(uint32_t(i)) : nullptr;
}

bool ZTNamedRecord::removeAt(int i) {
    return i >= 0 && removeValue(uint32_t(i));
}

int ZTNamedRecord::runOf(uint32_t fieldID, uint32_t* count) {
    *count = 0;
    const int first = indexOf(fieldID, 0);
    if (first < 0) return -1;
    uint32_t i = uint32_t(first);
    while (loadValues(i) && getTypeID(i) == fieldID) ++i;
    *count = i - uint32_t(first);
    return first;
}

int ZTNamedRecord::findValue(uint32_t fieldID, uint32_t linkedID, int start) {
    if (start < 0) start = indexOf(fieldID, 0);
    if (start < 0) return -1;
    for (uint32_t i = uint32_t(start); loadValues(i) && getTypeID(i) == fieldID; ++i) {
        const ZTAtomCache* v = getValue(i);
        if (v->isLink() && v->linkRecordID == linkedID) return int(i);
    }
    return -1;
}

int ZTNamedRecord::addLink(uint32_t fieldID, uint32_t recordID, int offset) {
    if (!ZT_ASSERT(isValid())) return 0;
    if (findValue(fieldID, recordID, -1) >= 0) return 0;
    uint32_t count = 0;
    const int first = runOf(fieldID, &count);
    int i = first;
    const ZTAtomCache* only = count == 1 ? getValue(uint32_t(first)) : nullptr;
    // An empty placeholder takes the link rather than stand beside it.
    const bool placeholder = only && !only->isLink() && *only->getText() == 0;
    if (!placeholder) {
        const uint32_t at = first < 0 || offset < 0 ? kNoIndex : uint32_t(first + offset);
        i = insertValue(at, fieldID, structure.locate(fieldID));
    }
    if (i < 0) return 0;
    if (!setLink(uint32_t(i), recordID, fieldID, 0, nullptr)) {
        if (!placeholder) removeValue(uint32_t(i));
        return 0;
    }
    return 1;
}

int ZTNamedRecord::addLinkByName(uint32_t fieldID, const char* name, int offset) {
    const uint32_t recordID = ztfile ? ztfile->findName(fieldID, name) : 0;
    if (recordID == 0) {
        lastResult = kErrorNoSuchName;
        return 0;
    }
    const int added = addLink(fieldID, recordID, offset);
    if (added == 0) lastResult = kErrorNameTaken;
    return added;
}

int ZTNamedRecord::removeLink(uint32_t fieldID, uint32_t recordID) {
    const int i = findValue(fieldID, recordID, -1);
    if (i < 0) return 0;
    // A definition's structure is fixed by its kind: when the removal of a fixed field's last
    // value takes the field out of it, the field comes back with its empty placeholder.
    const ZTSet kept(structure);
    const uint32_t keptChanged = structureChanged;
    if (!removeValue(uint32_t(i))) return 0;
    if (structure.size != kept.size) {
        structure = kept;
        structureChanged = keptChanged;
        insertValue(uint32_t(i), fieldID, kStateFixed);
    }
    return 1;
}

uint32_t ZTNamedRecord::countValues(uint32_t fieldID) {
    uint32_t count = 0;
    const int first = runOf(fieldID, &count);
    if (count == 1 && getTextLength(uint32_t(first)) == 0) return 0;
    return count;
}

const char* ZTNamedRecord::getTextOf(uint32_t fieldID, uint32_t i) {
    uint32_t count = 0;
    const int first = runOf(fieldID, &count);
    return i < count ? getText(uint32_t(first) + i) : nullptr;
}

uint32_t ZTNamedRecord::getLinkOf(uint32_t fieldID, uint32_t i) {
    uint32_t count = 0;
    const int first = runOf(fieldID, &count);
    const ZTAtomCache* v = i < count ? getValue(uint32_t(first) + i) : nullptr;
    return v && v->isLink() ? v->linkRecordID : 0;
}

uint32_t ZTNamedRecord::getFirstFreeIndex() {
    if (!ZT_ASSERT(structure.size != 0)) return 0;
    // The structure's fields come first, in one run each.
    uint32_t i = 0;
    while (loadValues(i) && structure.locate(getTypeID(i)) != ZTSet::kAbsent) ++i;
    return i;
}

uint32_t ZTNamedRecord::getExtraFields(ZTArray<unsigned long>* out, bool append) {
    if (!ZT_ASSERT(out != nullptr)) return 0;
    if (!append) out->clear();
    for (uint32_t i = getFirstFreeIndex(); loadValues(i); ++i) out->add(getTypeID(i), true);
    return out->size;
}

uint32_t ZTNamedRecord::findOrCreateLinkedSet(uint32_t a, uint32_t b, bool create, const char* name,
                                              ZTRefreshInfo* ri) {
    if (!ZT_ASSERT(isValid())) return 0;
    if (create && !ZT_ASSERT(name != nullptr && *name != 0)) return 0;
    if (hasAttr(b)) return 0;
    uint32_t linked = getAttrInt(a);
    if (linked != 0) {
        // A number that names no set (gone, or garbage) counts as none.
        ZTStr linkedName;
        if (!ztfile->getValue(kSetName, linked, &linkedName, false) || linkedName.length == 0)
            linked = 0;
    }
    if (linked != 0 || !create) return linked;
    ZTSetDef copy(ztfile, fieldCache);
    copy.assign(*this, true);
    ZTWriteLock lock(ztfile);
    if (!lock) {
        lastResult = ZTFile::kErrorWriteFailed;
        return 0;
    }
    ZTStr unique;
    unique.assign(name);
    ztfile->makeUniqueName(kSetName, &unique);
    copy.setName(unique.text);
    copy.setAttrInt(b, recordNumber);
    copy.removeAttr(a);
    if (copy.write(ri, nullptr, false) && copy.getRecordNumber() != 0) {
        linked = copy.getRecordNumber();
        setAttrInt(a, linked);
        write(ri, nullptr, false);
    }
    return linked;
}

// ---- ZTSetDef ----

ZTSetDef::ZTSetDef(ZTFile* file, ZTFieldCache* fieldCache) {
    ZTSetDef::init(file, fieldCache);
}

void ZTSetDef::init(ZTFile* file, ZTFieldCache* fieldCache) {
    if (!file) {
        initProtected(nullptr, nullptr, nullptr, nullptr);
        return;
    }
    const ZTSet s = definitionStructure(file, {kSetName, kFieldName});
    initProtected(file, &s, fieldCache, nullptr);
}

void ZTSetDef::read(uint32_t recordID) {
    ZTRecord::read(recordID, false, false, false, false);
}

void ZTSetDef::clear(bool) {
    ZTRecord::clear(false);
}

int ZTSetDef::write(ZTRefreshInfo* ri, uint32_t* existingID, bool makeUnique) {
    if (!ZT_ASSERT(ztfile != nullptr)) return 0;
    const int first = countValues(kFieldName) ? indexOf(kFieldName, 0) : -1;
    bool firstFieldChanged =
        first >= 0 ? isValueModified(uint32_t(first)) : isRemovedField(kFieldName);
    ZTWriteLock lock(ztfile);
    if (!lock) {
        lastResult = ZTFile::kErrorWriteFailed;
        return 0;
    }
    // The stored first field is compared as well: when the first entry goes, the next one takes
    // its place unchanged, and the members must follow it all the same.
    const uint32_t before = isNew() ? 0 : ztfile->getSetFirstField(recordNumber);
    const int written = ZTNamedRecord::write(ri, existingID, makeUnique);
    if (written && !isNew()) {
        const uint32_t after = ztfile->getSetFirstField(recordNumber);
        if (firstFieldChanged || after != before) {
            const int32_t result = lastResult;
            ztfile->rebuildSetTies(recordNumber, after != 0);
            lastResult = result;
        }
    }
    return written;
}

uint32_t ZTSetDef::getFixedCount() {
    return ZTSet::fixedCountFrom(getAttr(kFixedCount), getFieldCount());
}

void ZTSetDef::setFixedCount(uint32_t n) {
    // Stored only below the field count; an existing value is rewritten in place.
    if (n < getFieldCount())
        setAttrInt(kFixedCount, n);
    else
        removeAttr(kFixedCount);
}

uint32_t ZTSetDef::adjustFixedCount(int delta, int index) {
    const uint32_t count = getFieldCount();
    const uint32_t fixed = getFixedCount();
    if (fixed >= count) return fixed + uint32_t(delta);
    if (index < 0) return fixed;
    const bool inFixedPart = delta > 0 ? uint32_t(index) <= fixed : uint32_t(index) < fixed;
    return inFixedPart ? fixed + uint32_t(delta) : fixed;
}

bool ZTSetDef::addField(uint32_t fieldID, int position) {
    const uint32_t fixed = adjustFixedCount(+1, position);
    if (!addLink(kFieldName, fieldID, position)) return false;
    setFixedCount(fixed);
    return true;
}

bool ZTSetDef::addFieldByName(const char* name, int position) {
    const uint32_t fixed = adjustFixedCount(+1, position);
    if (!addLinkByName(kFieldName, name, position)) return false;
    setFixedCount(fixed);
    return true;
}

bool ZTSetDef::removeField(uint32_t fieldID) {
    uint32_t count = 0;
    const int first = runOf(kFieldName, &count);
    const int at = findValue(kFieldName, fieldID, -1);
    if (at < 0) return false;
    const uint32_t fixed = adjustFixedCount(-1, at - first);
    if (!removeLink(kFieldName, fieldID)) return false;
    setFixedCount(fixed);
    return true;
}

void ZTSetDef::assignFields(const ZTSet* source) {
    if (!ZT_ASSERT(isValid() && source != nullptr && source->getFile() != nullptr) ||
        !ZT_ASSERT(source->getFile()->getFileID() == ztfile->getFileID()))
        return;
    if (source->getID() != recordNumber) read(source->getID());
    uint32_t keep = 0;
    const uint32_t count = getFieldCount();
    while (keep < count && keep < source->size && getFieldID(keep) == source->data[keep]) ++keep;
    for (uint32_t i = getFieldCount(); i-- > keep;) removeField(getFieldID(i));
    for (uint32_t i = keep; i < source->size; ++i) appendField(source->data[i]);
    setFixedCount(source->getFixedCount());
}

// ---- ZTField ----

ZTField::ZTField(ZTFile* file, ZTFieldCache* fieldCache) {
    ZTField::init(file, fieldCache);
}

ZTField::ZTField(const ZTField& other) : ZTNamedRecord(other) {}

ZTField& ZTField::operator=(const ZTField& other) {
    if (&other != this) {
        dropSet();
        ZTNamedRecord::operator=(other);
    }
    return *this;
}

ZTField::~ZTField() {
    dropSet();
}

void ZTField::dropSet() {
    delete attachedSet_;
    attachedSet_ = nullptr;
    lookedUp_ = false;
}

int ZTField::refresh(ZTRefreshInfo* ri, void* arg) {
    dropSet();
    return ZTRecord::refresh(ri, arg);
}

void ZTField::init(ZTFile* file, ZTFieldCache* fieldCache) {
    dropSet();
    if (!file) {
        initProtected(nullptr, nullptr, nullptr, nullptr);
        return;
    }
    const ZTSet s = definitionStructure(file, {kFieldName});
    initProtected(file, &s, fieldCache, nullptr);
}

void ZTField::read(uint32_t recordID) {
    ZTRecord::read(recordID, true, false, false, false);
}

void ZTField::clear(bool) {
    ZTRecord::clear(false);
}

ZTSet* ZTField::getSet() {
    if (!ZT_ASSERT(isValid())) return nullptr;
    if (lookedUp_) return attachedSet_;
    lookedUp_ = true;
    uint32_t setID =
        hasAttr(kAttachedSet) ? wholeNumber(getAttr(kAttachedSet)) : ztfile->findSet(getName());
    if (setID != 0) {
        // An attribute naming no set (gone, or garbage) attaches none.
        ZTStr setName;
        if (!ztfile->getSetName(setID, &setName) || setName.length == 0) setID = 0;
    }
    if (setID != 0) {
        attachedSet_ = new ZTSet(ztfile, setID);
        attachedSet_->load();
    }
    return attachedSet_;
}
