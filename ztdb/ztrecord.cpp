#include "ztdb/ztrecord.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "ztdb/ztcache.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztfilter.h"
#include "ztdb/ztname.h"
#include "ztdb/ztrec.h"

// ---- ZTAtomCache ----

ZTAtomCache::ZTAtomCache() = default;

ZTAtomCache::ZTAtomCache(ZTAtom* atom_, bool inStructure) : atom(atom_) {
    if (atom) {
        position = atom->position;
        linkKey = atom->valueID;
        flags = atom->flags;
        linkRecordID = atom->linkRecord;
        // A stored value's external link keeps its back value in the back-value field.
        backLinkTypeID = ZTRecord::kBackValueField;
    }
    outsideStructure = inStructure ? 0 : 1;
}

ZTAtomCache::ZTAtomCache(const ZTAtomCache& other) {
    copyFrom(other, false);
}

ZTAtomCache& ZTAtomCache::operator=(const ZTAtomCache& other) {
    if (&other != this) copyFrom(other, false);
    return *this;
}

ZTAtomCache::~ZTAtomCache() {
    delete linkedRecord;
    delete atom;
}

void ZTAtomCache::reset() {
    delete linkedRecord;
    linkedRecord = nullptr;
    delete atom;
    atom = nullptr;
    thisFID = 0;
    backLinkTypeID = 0;
    firstExternalFile = kNotNoted;
    firstExternalRecord = kNotNoted;
    position = 0;
    linkRecordID = 0;
    linkKey = 0;
    kind = -1;
    flags = 0;
    editedText.clear();
    backLink = 0;
    isNew = 0;
    outsideStructure = 1;
    modified = 0;
    soleRowAt = 0;
}

void ZTAtomCache::copyFrom(const ZTAtomCache& other, bool shareAtom) {
    if (&other == this) return;
    ZTAtom* newAtom = other.atom;
    ZTSubRecord* newLinked = other.linkedRecord;
    if (!shareAtom) {
        std::unique_ptr<ZTAtom> a(other.atom ? new ZTAtom(*other.atom) : nullptr);
        std::unique_ptr<ZTSubRecord> l;
        if (other.linkedRecord) {
            l.reset(new ZTSubRecord());
            l->assign(*other.linkedRecord, false);
        }
        newAtom = a.release();
        newLinked = l.release();
    }
    if (newAtom != atom) delete atom;
    if (newLinked != linkedRecord) delete linkedRecord;
    atom = newAtom;
    linkedRecord = newLinked;
    thisFID = other.thisFID;
    backLinkTypeID = other.backLinkTypeID;
    firstExternalFile = other.firstExternalFile;
    firstExternalRecord = other.firstExternalRecord;
    position = other.position;
    linkRecordID = other.linkRecordID;
    linkKey = other.linkKey;
    kind = other.kind;
    flags = other.flags;
    editedText = other.editedText;
    backLink = other.backLink;
    isNew = other.isNew;
    outsideStructure = other.outsideStructure;
    modified = other.modified;
    soleRowAt = shareAtom ? other.soleRowAt : 0;  // a copy's atom is no row's cursor
}

bool ZTAtomCache::isModified() const {
    if (modified && !isLink()) return true;
    // A new value that nobody gave a text (a placeholder) changes nothing in the file.
    if (isNew || !atom) return modified != 0;
    return atom->position != position || atom->valueID != linkKey ||
           (atom->flags & kLinkFlag) != (flags & kLinkFlag) || atom->linkRecord != linkRecordID;
}

const char* ZTAtomCache::getText() const {
    if (modified) return editedText.text;
    return atom ? atom->value.text : "";
}

uint32_t ZTAtomCache::getFieldID() const {
    return atom ? atom->typeID : 0;
}

namespace {

// Under the write-back's own counted lock: the one its load ran under is held still (always
// so for an exclusive open), so nobody else wrote in between.
bool lockHeldSinceLoad(const ZTFile* file) {
    return file->isExclusive() || file->getLockDepth() > 1;
}

// The database and record that a text's external link names (its 'l' and 'r' tags): 0 and 0
// without. Most texts hold no tag at all, and need no copy to tell.
void externalLinkOf(const char* text, uint32_t* file, uint32_t* record) {
    *file = *record = 0;
    if (!text || !std::strchr(text, ZTStr::kTagEscape)) return;
    ZTStr whole(0);
    whole.assign(text);
    *file = whole.getTagInt('l');
    *record = whole.getTagInt('r');
}

}  // namespace

bool ZTAtomCache::externalLinkChanged() {
    uint32_t file, record;
    externalLinkOf(atom ? atom->value.text : "", &file, &record);
    if (firstExternalFile == kNotNoted) {
        firstExternalFile = file;
        firstExternalRecord = record;
        return false;
    }
    externalLinkOf(getText(), &file, &record);
    return file != firstExternalFile || record != firstExternalRecord;
}

int ZTAtomCache::write(uint32_t recordID, uint32_t setID, ZTRefreshInfo* ri, bool keepSetTies,
                       bool fieldEmpty) {
    if (!ZT_ASSERT(atom != nullptr)) return ZTAtom::kWriteFailed;
    const uint32_t field = atom->typeID;
    if (ri && recordID != 0)
        ri->add(atom->file, recordID, field,
                isNew
                    ? ZTRefreshItem::kAdded
                    : (editedText.length == 0 ? ZTRefreshItem::kRemoved : ZTRefreshItem::kChanged));
    // The atom takes the text it writes: hand it a copy, never its own buffer.
    ZTStr text(0);
    text.assign(modified ? editedText.text : atom->value.text);
    // The lock the load was made under is held still (one more lock is this write's), and no
    // row was written since.
    ZTFile* file = atom->file;
    const bool heldSince = lockHeldSinceLoad(file);
    const bool soleRow = soleRowAt != 0 && soleRowAt == file->localChanges() && heldSince;
    soleRowAt = 0;
    // Likewise the read of the value's chain, the write-back's lock the only one taken since.
    const uint64_t chainAt = atom->chainReadAt(atom->valueID);
    const bool chainRead = heldSince && chainAt != 0 && chainAt + 1 == file->localChanges();
    const int r =
        atom->write(recordID, field, position, text.text, isLink() ? linkKey : 0, isNew != 0,
                    keepSetTies, fieldEmpty && isNew != 0, setID, soleRow, chainRead);
    if (r == ZTAtom::kWriteFailed) return r;
    linkKey = atom->valueID;
    linkRecordID = atom->linkRecord;
    editedText.clear();
    modified = 0;
    position = atom->position;
    isNew = 0;
    flags = atom->flags;
    if (ri && recordID == 0) ri->add(atom->file, atom->recordID, field, ZTRefreshItem::kAdded);
    return r;
}

// ---- ZTRecord: construction and binding ----

ZTRecord::ZTRecord() = default;

ZTRecord::ZTRecord(ZTFile* file, const ZTSet* structure_, ZTFieldCache* fc, ZTFileCache* reg) {
    ZTRecord::init(file, structure_, fc, reg);
}

ZTRecord::ZTRecord(ZTFile* file, uint32_t fieldID, ZTFieldCache* fc, ZTFileCache* reg) {
    ZTRecord::initWithField(file, fieldID, fc, reg);
}

ZTRecord::ZTRecord(const ZTRecord& other) : ZTRefreshedBaseClass(other) {
    if (other.ztfile)
        ZTRecord::init(other.ztfile, &other.structure,
                       other.ownsFieldCache ? nullptr : other.fieldCache,
                       other.ownsFileCache ? nullptr : other.fileCache);
    assign(other, false);
}

ZTRecord& ZTRecord::operator=(const ZTRecord& other) {
    if (&other == this) return *this;
    ZTRefreshedBaseClass::operator=(other);
    if (other.ztfile != ztfile || !isValid())
        ZTRecord::init(other.ztfile, &other.structure,
                       other.ownsFieldCache ? nullptr : other.fieldCache,
                       other.ownsFileCache ? nullptr : other.fileCache);
    assign(other, false);
    return *this;
}

ZTRecord::~ZTRecord() {
    values.clear();
    removedValues.clear();
    if (ownsFieldCache) dropFieldCache();
    if (ownsFileCache) delete fileCache;
}

void ZTRecord::init(ZTFile* file, const ZTSet* structure_, ZTFieldCache* fc, ZTFileCache* reg) {
    ZTRefreshedBaseClass::setFile(file);
    ztfile = file;
    values.clear();
    removedValues.clear();
    structure.init(file, structure_ ? structure_->getID() : 0);
    if (structure_) {
        structure = *structure_;
        structure.setModified(false);
    }
    if (fc) {
        if (ownsFieldCache) dropFieldCache();
        fieldCache = fc;
        ownsFieldCache = 0;
    } else if (ownsFieldCache) {
        rebindFieldCache();
    } else {
        fieldCache = makeFieldCache();
        ownsFieldCache = fieldCache ? 1 : 0;
    }
    if (reg) {
        if (ownsFileCache) delete fileCache;
        fileCache = reg;
        ownsFileCache = 0;
    } else if (ownsFileCache) {
        fileCache->clear();
    } else {
        fileCache = new ZTFileCache();
        ownsFileCache = 1;
    }
    moreValues = 1;
    firstUnchecked = kNoIndex;
    structureChanged = 0;
    recordNumber = 0;
    readOnlyFields = 0;
    readOnlyCount = 0;
    lastResult = 0;
    firstValueOnly = 0;
    fixedFirstOnly = 0;
    options = 0;
    setIDCache = 0;
    state = 'n';
    includedFields.clear();
    excludedFields.clear();
}

void ZTRecord::initWithField(ZTFile* file, uint32_t fieldID, ZTFieldCache* fc, ZTFileCache* reg) {
    ZTSet one(file, 0);
    if (fieldID != 0) one.add(fieldID, true);
    init(file, &one, fc, reg);
}

bool ZTRecord::isValid() const {
    return ztfile != nullptr && fieldCache != nullptr && fileCache != nullptr;
}

void ZTRecord::assign(const ZTRecord& other, bool asNewCopy) {
    if (&other == this) return;
    ZTRefreshedBaseClass::operator=(other);
    ztfile = other.ztfile;
    recordNumber = other.recordNumber;
    structure = other.structure;
    // An owned cache is not shared: the copy gets its own, the field cache filled from other's.
    if (other.ownsFieldCache && other.fieldCache) {
        if (!ownsFieldCache || !fieldCache) {
            fieldCache = makeFieldCache();
            ownsFieldCache = fieldCache ? 1 : 0;
        }
        if (fieldCache) *fieldCache = *other.fieldCache;
    } else if (fieldCache != other.fieldCache) {
        if (ownsFieldCache) dropFieldCache();
        fieldCache = other.fieldCache;
        ownsFieldCache = 0;
    }
    if (other.ownsFileCache) {
        if (!ownsFileCache || !fileCache) {
            fileCache = new ZTFileCache();
            ownsFileCache = 1;
        }
    } else if (fileCache != other.fileCache) {
        if (ownsFileCache) delete fileCache;
        fileCache = other.fileCache;
        ownsFileCache = 0;
    }
    values.assign(other.values);
    firstValueOnly = other.firstValueOnly;
    fixedFirstOnly = other.fixedFirstOnly;
    noPlaceholders = other.noPlaceholders;
    structureOnly = other.structureOnly;
    setIDCache = other.setIDCache;
    options = other.options;
    readOnlyFields = other.readOnlyFields;
    readOnlyCount = other.readOnlyCount;
    lastResult = other.lastResult;
    parent = other.parent;
    moreValues = other.moreValues;
    structureChanged = other.structureChanged;
    firstUnchecked = other.firstUnchecked;
    wholeRecord = other.wholeRecord;
    if (!asNewCopy) {
        removedValues.assign(other.removedValues);
        state = other.state;
        return;
    }
    // A new copy holds every value, also those a view of other did not load: they come from
    // the file, after other's own (perhaps edited) values.
    if (other.moreValues && other.recordNumber != 0 && other.ztfile) {
        ZTRecord rest(other.ztfile, &other.structure, fieldCache, fileCache);
        rest.read(other.recordNumber, other.firstValueOnly != 0, other.structureOnly != 0,
                  other.noPlaceholders != 0, other.fixedFirstOnly != 0);
        rest.loadAllValues();
        for (uint32_t k = other.values.size; k < rest.values.size; ++k) {
            values.add(rest.values[k], true);
            rest.values[k] = nullptr;  // now ours
        }
    }
    removedValues.clear();
    moreValues = 0;
    firstUnchecked = kNoIndex;
    wholeRecord = 1;
    for (uint32_t i = 0; i < values.size; ++i) {
        ZTAtomCache* v = values[i];
        v->isNew = 1;
        // The copy's rows are new: a link shares its target's value number, nothing else does.
        if (!v->isLink()) v->linkKey = 0;
        if (v->atom) v->atom->valueID = 0;
    }
    setRecordNumber(0);
    state = values.size ? 'y' : 'n';
}

// ---- reading ----

void ZTRecord::discardValues() {
    values.clear();
    removedValues.clear();
}

void ZTRecord::read(uint32_t number, bool firstOnly, bool structureOnly_, bool noPlaceholders_,
                    bool fixedFirstOnly_) {
    discardValues();
    state = 'n';
    firstValueOnly = firstOnly ? 1 : 0;
    fixedFirstOnly = (!firstOnly && fixedFirstOnly_) ? 1 : 0;
    structureOnly = structureOnly_ ? 1 : 0;
    noPlaceholders = noPlaceholders_ ? 1 : 0;
    recordNumber = number;
    moreValues = 1;
    firstUnchecked = 0;
    structureChanged = 0;
    setReadOnlyFields(readOnlyFields);
}

void ZTRecord::clear(bool noPlaceholders_) {
    if (!ZT_ASSERT(ztfile != 0)) return;
    discardValues();
    moreValues = 0;
    firstUnchecked = kNoIndex;
    structureChanged = 0;
    recordNumber = 0;
    setReadOnlyFields(readOnlyFields);
    lastResult = 0;
    firstValueOnly = 0;
    noPlaceholders = noPlaceholders_ ? 1 : 0;
    state = 'n';
    if (noPlaceholders) return;
    for (uint32_t k = 0; k < structure.getFixedCount() && k < structure.size; ++k) {
        auto* atom = new ZTAtom(ztfile, ZTAtom::kModePositioned);
        atom->typeID = structure[k];
        auto* v = new ZTAtomCache(atom, true);
        v->isNew = 1;
        v->position = 1;
        values.add(v, true);
    }
}

bool ZTRecord::firstStoredValue(ZTAtom* atom) {
    atom->recordID = recordNumber;
    atom->typeID = 0;
    return atom->nextInRecord(atom, 1, &structure, structureOnly != 0, firstValueOnly != 0,
                              noPlaceholders != 0, 0, 0xFFFFFFFFu, &includedFields,
                              &excludedFields) == 0;
}

bool ZTRecord::nextStoredValue(ZTAtom* atom, const ZTAtom* last, bool nextFieldOnly) {
    return atom->nextInRecord(last, 1, &structure, structureOnly != 0, nextFieldOnly,
                              noPlaceholders != 0, 0, 0xFFFFFFFFu, &includedFields,
                              &excludedFields) == 0;
}

bool ZTRecord::loadNextValue() {
    if (!ZT_ASSERT(ztfile != 0)) return false;
    auto atom = std::make_unique<ZTAtom>(ztfile, ZTAtom::kModePositioned);
    bool found;
    if (values.size == 0) {
        found = firstStoredValue(atom.get());
    } else {
        const ZTAtom* last = values[values.size - 1]->atom;
        if (!last) return false;
        const bool nextFieldOnly =
            firstValueOnly ||
            (fixedFirstOnly && structure.locate(last->typeID) == ZTSet::kInFixedPart);
        found = nextStoredValue(atom.get(), last, nextFieldOnly);
    }
    if (!found) return false;
    const int where = structure.locate(atom->typeID);
    if (structureOnly && where == ZTSet::kAbsent) return false;
    // A placeholder stands for a value not yet stored: it is written as a new one.
    const bool placeholder = atom->rowNumber() < 1;
    atom->mode = ZTAtom::kModePositioned;
    auto v = std::make_unique<ZTAtomCache>(atom.release(), where != ZTSet::kAbsent);
    if (placeholder) {
        v->isNew = 1;
        v->position = 1;
        v->linkKey = 0;
        v->flags = 0;
    }
    values.add(v.get(), true);
    v.release();
    return true;
}

bool ZTRecord::loadValues(uint32_t i) {
    if (i < values.size) return true;
    if (!moreValues) return false;
    if (!ZT_ASSERT(ztfile != 0)) return false;
    ZTReadBracket bracket(ztfile);
    while (values.size <= i) {
        // A view shows the first values only; the rest stay in the file, still to be read.
        if (!wholeRecord && values.size >= kViewLimit) return false;
        if (!loadNextValue()) {
            moreValues = 0;
            return false;
        }
    }
    return true;
}

void ZTRecord::loadAllValues() {
    if (!ztfile) return;
    const uint32_t whole = wholeRecord;
    wholeRecord = 1;
    loadValues(0xFFFFFFFEu);
    wholeRecord = whole;
}

uint32_t ZTRecord::getValueCount() {
    if (ztfile) loadValues(0xFFFFFFFEu);
    return values.size;
}

ZTAtomCache* ZTRecord::getValue(uint32_t i) {
    if (!loadValues(i)) {
        lastResult = kErrorRange;
        return nullptr;
    }
    return values[i];
}

uint32_t ZTRecord::getTypeID(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    return v ? v->getFieldID() : 0;
}

const char* ZTRecord::getText(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    return v ? v->getText() : nullptr;
}

uint32_t ZTRecord::getTextLength(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    if (!v) return 0;
    return v->modified ? v->editedText.length : (v->atom ? v->atom->value.length : 0);
}

bool ZTRecord::isValueModified(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    return v ? v->isModified() : true;
}

ZTStr* ZTRecord::getValueTag(uint32_t i, char tag, ZTStr* out) {
    out->clear();
    const char* text = getText(i);
    if (!text) return out;
    ZTStr whole(0);
    whole.assign(text);
    return whole.getTag(tag, out);
}

uint32_t ZTRecord::getValueTagInt(uint32_t i, char tag) {
    const char* text = getText(i);
    if (!text) return 0;
    ZTStr whole(0);
    whole.assign(text);
    return whole.getTagInt(tag);
}

int ZTRecord::indexOf(uint32_t fieldID, uint32_t start) {
    for (uint32_t i = start; loadValues(i); ++i)
        if (values[i]->getFieldID() == fieldID) return int(i);
    return -1;
}

int ZTRecord::lastIndexOf(uint32_t fieldID, uint32_t start) {
    if (start == 0) {
        const int first = indexOf(fieldID, 0);
        if (first < 0) return -1;
        start = uint32_t(first);
    }
    if (!loadValues(start) || values[start]->getFieldID() != fieldID) return -1;
    uint32_t last = start;
    for (;;) {
        if (storedRunEndsAt(last)) {
            if (last == start) noteSoleRow(start);
            break;
        }
        if (!loadValues(last + 1) || values[last + 1]->getFieldID() != fieldID) break;
        ++last;
    }
    return int(last);
}

void ZTRecord::noteSoleRow(uint32_t i) {
    ZTAtomCache* v = values[i];
    // No row of the field comes before the first position; none follows (the caller saw the
    // next row belong elsewhere). Without the lock another process may add one at any time.
    if (!v->atom || v->isNew || v->atom->position != 1) return;
    if (i > 0 && values[i - 1]->getFieldID() == v->getFieldID()) return;
    if (!ztfile->isExclusive() && ztfile->getLockDepth() == 0) return;
    v->soleRowAt = ztfile->localChanges() + 1;
}

bool ZTRecord::storedRunEndsAt(uint32_t i) {
    if (i + 1 != values.size || !moreValues || recordNumber == 0) return false;
    const ZTAtomCache* v = values[i];
    const ZTAtom* atom = v->atom;
    if (!atom || v->isNew || atom->rowNumber() < 1 || atom->recordID != recordNumber) return false;
    // The step a load of the next value takes first, without reading that value's text (and
    // following its link): a row nobody wrote since it was read still stands where it was.
    ZTReadBracket bracket(ztfile);
    ZTRec next(ztfile);
    next.copyFrom(*atom);
    if (!next.rowUnchanged()) return false;
    const uint32_t field = atom->typeID;
    const int r = next.skip(1);
    if (next.readFailed()) return false;
    return r != 0 || next.recordID != recordNumber || next.typeID != field;
}

int ZTRecord::indexOfFieldName(const char* name, uint32_t start) {
    ZTStr wanted(0);
    wanted.assign(name ? name : "");
    wanted.fold(nullptr);
    for (uint32_t i = start; loadValues(i);) {
        const uint32_t field = values[i]->getFieldID();
        ZTStr have(0);
        have.assign(getFieldName(i));
        have.fold(nullptr);
        if (have.equals(wanted.text)) return int(i);
        uint32_t first = 0, last = 0;
        runOf(i, &first, &last);
        i = last + 1;
        (void)field;
    }
    return -1;
}

int ZTRecord::getSequence(uint32_t i) {
    if (!loadValues(i)) {
        lastResult = kErrorRange;
        return -1;
    }
    uint32_t first = 0, last = 0;
    runOf(i, &first, &last);
    return int(i - first);
}

void ZTRecord::runOf(uint32_t i, uint32_t* first, uint32_t* last) {
    const uint32_t field = values[i]->getFieldID();
    uint32_t f = i;
    while (f > 0 && values[f - 1]->getFieldID() == field) --f;
    uint32_t l = i;
    while (loadValues(l + 1) && values[l + 1]->getFieldID() == field) ++l;
    *first = f;
    *last = l;
}

// ---- changing values ----

bool ZTRecord::isLink(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    return v && (v->linkedRecord || v->isLink());
}

bool ZTRecord::setText(uint32_t i, const char* text, bool internal) {
    if (!internal) {
        if (!checkWritable(i)) return false;
    } else if (!loadValues(i)) {
        return false;
    }
    if (!text) text = "";
    ZTAtomCache* v = values[i];
    v->kind = -1;
    if (!isLink(i)) {
        v->externalLinkChanged();
        v->flags &= ~ZTAtomCache::kLinkFlag;
        const bool storedLink = v->atom && (v->atom->flags & ZTAtomCache::kLinkFlag) != 0;
        const char* stored = v->atom ? v->atom->value.text : "";
        ZTStr given(0);
        given.assign(text);
        if (storedLink || !given.equals(stored)) {
            v->linkKey = 0;
            v->editedText = given;
            v->modified = 1;
            state = 'y';
        } else {
            v->editedText.clear();
            v->modified = 0;
            v->linkKey = v->atom ? v->atom->valueID : 0;
            state = '?';
        }
        return true;
    }
    ZTSubRecord* linked = getLinkedRecord(i);
    if (!linked) return false;
    const int found = linked->findLinkTarget(linkedFieldOf(v), v->linkKey);
    const uint32_t at = found < 0 ? 0 : uint32_t(found);
    const uint32_t lifted = linked->getReadOnlyFields();
    linked->setReadOnlyFields(0);
    const bool ok = linked->setText(at, text, false);
    linked->setReadOnlyFields(lifted ? lifted : 1);
    if (!ok) return false;
    if (linked->isModified()) state = 'y';
    v->editedText.assign(text);
    v->modified = 1;
    return true;
}

int ZTRecord::stateAt(uint32_t i, int fallback) {
    if (!loadValues(i)) return fallback;
    return structure.locate(values[i]->getFieldID());
}

void ZTRecord::findFieldRange(uint32_t fieldID, uint32_t position, uint32_t* first,
                              uint32_t* last) {
    const int present = indexOf(fieldID, 0);
    if (present >= 0) {
        *first = uint32_t(present);
        *last = uint32_t(lastIndexOf(fieldID, uint32_t(present)));
        return;
    }
    int at = -1;
    for (uint32_t k = 0; k < structure.size; ++k)
        if (structure[k] == fieldID) at = int(k);
    if (at < 0) {
        *first = *last = kNoIndex;  // neither present nor in the structure: the position stays
        (void)position;
        return;
    }
    // Its place: before the first value whose field stands later in the structure (or outside it).
    uint32_t i = 0;
    for (; loadValues(i); ++i) {
        const uint32_t f = values[i]->getFieldID();
        int fAt = -1;
        for (uint32_t k = 0; k < structure.size; ++k)
            if (structure[k] == f) fAt = int(k);
        if (fAt < 0 || fAt > at) break;
    }
    *first = *last = i;
}

int ZTRecord::insertValue(uint32_t position, uint32_t fieldID, int requested) {
    if (!ZT_ASSERT(ztfile != 0)) return -1;
    if (position == kNoIndex || !loadValues(position)) position = getValueCount();
    if (position > values.size) position = values.size;
    const uint32_t count = values.size;
    if (requested == 0)
        requested = count == 0 ? kStateFixed : stateAt(position < count ? position : count - 1, 3);
    uint32_t field;
    if (count == 0) {
        field = fieldID == kNoIndex ? 0 : fieldID;
    } else if (fieldID == kNoIndex) {
        field = values[position < count ? position : count - 1]->getFieldID();
    } else {
        field = fieldID;
        uint32_t first = 0, last = 0;
        findFieldRange(field, position, &first, &last);
        if (first != kNoIndex && indexOf(field, 0) < 0) {
            position = first;  // a structure field without values goes to its place
        } else if (first != kNoIndex) {
            position = first <= position ? std::min(position, last + 1) : first;
        }
    }
    if (position < readOnlyCount) {
        lastResult = kErrorReadOnly;
        return -1;
    }
    // A run of one field is never split.
    if (position < values.size && values[position]->getFieldID() != field) {
        uint32_t first = 0, last = 0;
        runOf(position, &first, &last);
        position = first;
    }
    const int where = count == 0 ? ZTSet::kAbsent : structure.locate(field);
    const bool known = structure.locate(field) != ZTSet::kAbsent;
    int newState = known ? where : requested;
    if (!known) {
        // Between its neighbours: no earlier state than the value before, no later than the one
        // after.
        const int before = position == 0 ? kStateFixed : stateAt(position - 1, kStateFixed);
        const int after = stateAt(position, kStateOutside);
        newState = before <= requested ? std::min(requested, after) : before;
        if (newState < kStateFixed) newState = kStateFixed;
        if (newState > kStateOutside) newState = kStateOutside;
    }
    auto* atom = new ZTAtom(ztfile, ZTAtom::kModePositioned);
    atom->recordID = recordNumber;
    atom->typeID = field;
    atom->position = 1;
    auto* v = new ZTAtomCache(atom, newState != kStateOutside);
    v->isNew = 1;
    v->position = 1;
    v->linkKey = 0;
    v->flags = 0;
    values.insertAt(v, int(position));
    state = 'y';
    if (!known) rebuildStructure(newState == kStateFixed ? 1 : 0);
    return int(position);
}

bool ZTRecord::checkWritable(uint32_t i) {
    lastResult = 0;
    if (!loadValues(i)) {
        lastResult = kErrorRange;
        return false;
    }
    if (i < readOnlyCount) {
        lastResult = kErrorReadOnly;
        return false;
    }
    return true;
}

bool ZTRecord::removeValue(uint32_t i) {
    if (!checkWritable(i)) return false;
    loadValues(i + 1);
    removeBackLink(i);
    lastResult = 0;
    ZTAtomCache* v = values[i];
    const uint32_t field = v->getFieldID();
    uint32_t first = 0, last = 0;
    runOf(i, &first, &last);
    if (first == last && structure.locate(field) == ZTSet::kInFixedPart) {
        structure.remove(field);
        structureChanged = 1;
    }
    delete v->linkedRecord;
    v->linkedRecord = nullptr;
    if (recordNumber != 0 && !v->isNew) {
        auto* copy = new ZTAtomCache();
        copy->copyFrom(*v, false);
        removedValues.add(copy, true);
        state = 'y';
    }
    values.removeAt(i);
    return true;
}

void ZTRecord::setReadOnlyFields(uint32_t n) {
    readOnlyFields = n;
    if (n == 0 || n == kAllReadOnly) {
        readOnlyCount = n;
        return;
    }
    uint32_t runs = 0;
    uint32_t i = 0;
    for (; loadValues(i); ++i) {
        if (i == 0 || values[i]->getFieldID() != values[i - 1]->getFieldID()) {
            if (++runs == n + 1) {
                readOnlyCount = i;
                return;
            }
        }
    }
    readOnlyCount = values.size;
}

void ZTRecord::matchValues(uint32_t i, ZTFilter* filter, const ZTAtom* reference) {
    if (firstUnchecked == kNoIndex || i < firstUnchecked) return;
    if (!loadValues(i)) {
        lastResult = kErrorRange;
        return;
    }
    const uint32_t refField = reference ? reference->typeID : 0;
    const char* refText = reference ? reference->value.text : "";
    const uint32_t firstField = structure.size ? structure[0] : 0;
    auto passes = [&](uint32_t field, const char* text) {
        if (!text || !*text) return true;
        ZTStr t(0);
        t.assign(text);
        if (reference &&
            (field == refField || (refField == structure.getID() && field == firstField)))
            return t.equals(refText);
        return !filter || filter->match(field, text);
    };
    ZTReadBracket bracket(ztfile);
    for (uint32_t k = firstUnchecked; k < values.size; ++k) {
        ZTAtomCache* v = values[k];
        if (!v->atom || passes(v->getFieldID(), v->getText())) continue;
        ZTAtom keep(*v->atom);
        bool found = false;
        ZTAtom probe(*v->atom);
        while (probe.nextInRecord(&probe, 1, &structure, structureOnly != 0, false, true, 0,
                                  0xFFFFFFFFu, &includedFields, &excludedFields) == 0 &&
               probe.typeID == keep.typeID) {
            if (passes(probe.typeID, probe.value.text)) {
                found = true;
                break;
            }
        }
        if (found) {
            *v->atom = probe;
            v->position = probe.position;
            v->linkKey = probe.valueID;
            v->flags = probe.flags;
            v->linkRecordID = probe.linkRecord;
        } else {
            *v->atom = keep;
        }
    }
    firstUnchecked = values.size;
}

// ---- state and writing ----

bool ZTRecord::isModified() {
    if (structureChanged || removedValues.size > 0) {
        state = 'y';
        return true;
    }
    for (uint32_t i = 0; i < values.size; ++i)
        if (values[i]->linkedRecord && values[i]->linkedRecord->isModified()) {
            state = 'y';
            return true;
        }
    if (state == 'n') return false;
    if (state == 'y') return true;
    for (uint32_t i = values.size; i-- > 0;)
        if (values[i]->isModified()) {
            state = 'y';
            return true;
        }
    state = 'n';
    return false;
}

int ZTRecord::write(ZTRefreshInfo* ri) {
    if (!isModified()) return 0;
    const int r = writeBack(ri, false);
    if (ri) dispatchToFieldCache(ri);
    return r;
}

bool ZTRecord::recordGone() {
    if (recordNumber == 0) return false;
    // A stored value's row still live with the record's number settles it without a seek.
    for (uint32_t k = 0; k < values.size; ++k) {
        const ZTAtom* atom = values[k]->atom;
        if (atom && atom->rowNumber() >= 1) {
            // Read under the lock held since, the write-back's own the only one taken after:
            // nothing was written, the row stands as read.
            if (atom->recordID == recordNumber && lockHeldSinceLoad(ztfile) &&
                atom->rowUnchangedSince(1))
                return false;
            if (atom->rowStillOf(recordNumber)) return false;
            break;
        }
    }
    ZTRec rec(ztfile);
    const int r = rec.seek(recordNumber, 0, 0, "");
    return r != 0 || rec.recordID != recordNumber;
}

int ZTRecord::writeBack(ZTRefreshInfo* ri, bool noBackLinks) {
    if (!ZT_ASSERT(ztfile != 0)) return 0;
    if (!ZT_ASSERT((!ri) || (ri->getSerial() != 0))) return 0;
    lastResult = 0;
    int32_t result = 0;
    const bool wasModified = isModified();
    // One counted lock for the whole record, so another process sees it before or after.
    ZTWriteLock lock(ztfile);
    if (!lock) {
        lastResult = ZTFile::kErrorWriteFailed;
        return 0;
    }
    if (recordGone()) {
        lastResult = kErrorRecordGone;
        return 0;
    }
    bool failed = false;
    for (uint32_t k = 0; k < removedValues.size; ++k) {
        ZTAtomCache* v = removedValues[k];
        if (!v->atom || v->atom->value.length == 0) continue;
        v->editedText.clear();
        v->modified = 1;
        v->linkKey = 0;
        v->position = v->atom->position;  // the row where it is stored
        if (v->write(recordNumber, 0, ri) == ZTAtom::kWriteFailed) failed = true;
    }
    writeBackStamps(wasModified);
    renumberRuns();
    if (structureChanged) {
        if (!saveStructure(ri)) failed = true;
        structure.setModified(false);
        structureChanged = 0;
        result |= kResultStructureSaved;
    }
    if (!noBackLinks) writeBackOldLinks(ri);
    result |= writeBackLinkedRecords(ri);
    if (!noBackLinks) writeBackNewLinks(ri);
    const uint32_t setID = structure.getID();
    if (recordNumber == 0) {
        uint32_t first = 0;
        for (; first < values.size; ++first) {
            ZTAtomCache* v = values[first];
            if (v->isModified() && (*v->getText() || !v->isNew)) break;
        }
        if (first < values.size) {
            const int r = values[first]->write(0, setID, ri);
            if (r == ZTAtom::kWriteFailed || values[first]->atom->recordID == 0) {
                lastResult = ZTFile::kErrorWriteFailed;
                return 0;
            }
            recordNumber = values[first]->atom->recordID;
            // The record was made under this lock and joined no set but setID: without one it
            // has no membership rows, so its values have no set ties to look up or keep. Nor
            // has it values but those written here: the first value of a field has no others
            // to shift or to equal.
            const bool keepTies = setID != 0;
            std::vector<uint32_t> fieldsWritten = {values[first]->atom->typeID};
            for (uint32_t k = first + 1; k < values.size;) {
                ZTAtomCache* v = values[k];
                if (!v->isModified()) {
                    ++k;
                    continue;
                }
                const uint32_t field = v->atom ? v->atom->typeID : 0;
                const bool fieldEmpty =
                    field != 0 && std::find(fieldsWritten.begin(), fieldsWritten.end(), field) ==
                                      fieldsWritten.end();
                if (fieldEmpty) fieldsWritten.push_back(field);
                const int w = v->write(recordNumber, setID, ri, keepTies, fieldEmpty);
                if (w == ZTAtom::kWriteFailed) failed = true;
                if (w == ZTAtom::kWriteStored || w == ZTAtom::kWriteMoved) {
                    values.removeAt(k);
                    result |= kResultValueDropped;
                    continue;
                }
                ++k;
            }
            for (uint32_t k = 0; k < values.size; ++k)
                if (values[k]->atom) values[k]->atom->recordID = recordNumber;
        }
        result |= kResultNewStored;
    } else {
        for (uint32_t k = values.size; k-- > 0;) {
            ZTAtomCache* v = values[k];
            if (!v->isModified()) continue;
            const int w = v->write(recordNumber, setID, ri);
            if (w == ZTAtom::kWriteFailed) failed = true;
            if (w == ZTAtom::kWriteStored || w == ZTAtom::kWriteMoved)
                result |= kResultValueDropped;
        }
        result |= kResultStored;
    }
    removedValues.clear();
    // Values read past the view limit for the position pass are not kept by a view.
    if (!wholeRecord && values.size > kViewLimit) {
        while (values.size > kViewLimit) values.removeAt(values.size - 1);
        moreValues = 1;
    }
    if (!lock.release()) failed = true;
    // Back values in other records are written only now: never two databases' locks at once.
    if (!noBackLinks && !failed) result |= writeBackPendingLinks(ri);
    if (ri) acceptRefresh(ri);
    if (failed) {
        // What could not be stored stays in the image as changed.
        state = '?';
        lastResult = ZTFile::kErrorWriteFailed;
        return 0;
    }
    state = 'n';
    lastResult = result;
    return 1;
}

bool ZTRecord::runsInOrder() const {
    for (uint32_t k = 0; k < values.size; ++k) {
        const ZTAtomCache* v = values[k];
        if (v->isNew || v->position == 0) return false;
        if (k > 0 && values[k - 1]->getFieldID() == v->getFieldID() &&
            v->position <= values[k - 1]->position)
            return false;
    }
    return true;
}

void ZTRecord::renumberRuns() {
    if (values.size <= 1) return;
    // Stored values not yet loaded follow the loaded ones of their field at higher rows, so
    // when every loaded run is stored and ascending there is nothing to renumber, and the
    // rest of the record need not be read to find where each run ends.
    if (runsInOrder()) return;
    const uint32_t whole = wholeRecord;
    wholeRecord = 1;
    for (uint32_t s = 0; s < values.size;) {
        uint32_t first = 0, last = 0;
        runOf(s, &first, &last);
        if (last > first) {
            if (values[first + 1]->position <= values[first]->position &&
                values[first]->position > 1)
                values[first]->position = 1;
            for (uint32_t k = first + 1; k <= last; ++k)
                if (values[k]->position <= values[k - 1]->position)
                    values[k]->position = values[k - 1]->position + 1;
        }
        s = last + 1;
    }
    wholeRecord = whole;
}

int ZTRecord::refresh(ZTRefreshInfo* ri, void* arg) {
    if (isModified()) return 0;
    int result = dispatchToFieldCache(ri);
    bool affected = structure.refresh(ri) != 0;
    for (uint32_t s = 0; s < values.size;) {
        const uint32_t field = values[s]->getFieldID();
        uint32_t e = s;
        while (e + 1 < values.size && values[e + 1]->getFieldID() == field) ++e;
        if (ri->find(ztfile, field) != ZTRefreshInfo::kNone)
            for (uint32_t k = s; k <= e; ++k) values[k]->kind = -1;
        s = e + 1;
    }
    for (uint32_t k = 0; k < values.size; ++k)
        if (values[k]->linkedRecord) result |= values[k]->linkedRecord->dispatchRefresh(ri, arg);
    if (ri->find(ztfile, recordNumber) != ZTRefreshInfo::kNone ||
        ri->find(ztfile, 0) != ZTRefreshInfo::kNone)
        affected = true;
    for (uint32_t k = 0; !affected && k < values.size; ++k)
        if (values[k]->linkRecordID != 0 &&
            ri->find(ztfile, values[k]->linkRecordID) != ZTRefreshInfo::kNone)
            affected = true;
    if (affected) {
        read(recordNumber, firstValueOnly != 0, structureOnly != 0, noPlaceholders != 0, false);
        result |= 1;
    }
    return result;
}

// ---- hooks the link operations and stamps fill ----

uint32_t ZTRecord::linkedFieldOf(const ZTAtomCache* v) const {
    if (v->atom && v->atom->linkField != 0) return v->atom->linkField;
    const ZTSet& linkedStructure = v->linkedRecord ? v->linkedRecord->getStructure() : structure;
    return linkedStructure.size ? linkedStructure[0] : 0;
}

int ZTRecord::findLinkTarget(uint32_t fieldID, uint32_t key) {
    const int start = indexOf(fieldID, 0);
    const int end = start < 0 ? -1 : lastIndexOf(fieldID, uint32_t(start));
    for (int n = start; start >= 0 && n <= end; ++n)
        if (values[uint32_t(n)]->linkKey == key) return n;
    return -1;
}

int32_t ZTRecord::writeBackLinkedRecords(ZTRefreshInfo* ri) {
    int32_t result = 0;
    for (uint32_t k = 0; k < values.size; ++k) {
        ZTAtomCache* v = values[k];
        ZTSubRecord* linked = v->linkedRecord;
        if (!linked || linked->getRecordNumber() == recordNumber) continue;
        const uint32_t field = linkedFieldOf(v);
        bool stored = true;
        if (linked->isModified()) {
            stored = linked->writeBack(ri, false) != 0;
            if (stored && linked->getLastResult() > 0) result |= linked->getLastResult();
        }
        // The linked record as stored now (this lock keeps others out): the last value of the
        // linked field that holds this value's text.
        int found = -1;
        ZTRecord now(ztfile, nullptr, fieldCache, fileCache);
        if (stored && linked->getRecordNumber() != 0) {
            now.read(linked->getRecordNumber());
            now.loadAllValues();
            const int start = now.indexOf(field, 0);
            const int end = start < 0 ? -1 : now.lastIndexOf(field, uint32_t(start));
            for (int n = end; start >= 0 && n >= start; --n)
                if (std::strcmp(now.values[uint32_t(n)]->getText(), v->getText()) == 0) {
                    found = n;
                    break;
                }
        }
        if (found >= 0) {
            v->linkKey = now.values[uint32_t(found)]->linkKey;
            continue;
        }
        // Another process changed or deleted the linked value: the value keeps its text, as
        // plain text.
        ZTStr text(0);
        text.assign(v->getText());
        delete v->linkedRecord;
        v->linkedRecord = nullptr;
        v->flags &= ~ZTAtomCache::kLinkFlag;
        v->linkKey = 0;
        v->linkRecordID = 0;
        v->editedText = text;
        v->modified = 1;
        result |= kResultLinkBroken;
    }
    return result;
}

// ---- the field definitions ----

ZTFieldCache* ZTRecord::makeFieldCache() {
    return new ZTFieldCache(ztfile, kFieldCacheSize);
}

void ZTRecord::dropFieldCache() {
    delete fieldCache;
    fieldCache = nullptr;
}

void ZTRecord::rebindFieldCache() {
    fieldCache->setFile(ztfile);
}

int ZTRecord::dispatchToFieldCache(ZTRefreshInfo* ri) {
    return fieldCache ? fieldCache->dispatchRefresh(ri, nullptr) : 0;
}

ZTField* ZTRecord::getField(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    return v && fieldCache && fieldCache->isValid() ? fieldCache->getField(v->getFieldID())
                                                    : nullptr;
}

const char* ZTRecord::getFieldName(uint32_t i) {
    // The cache may drop the definition at its next miss: keep a copy of the name.
    ZTField* field = getField(i);
    scratchName.assign(field ? field->getName() : "");
    return scratchName.text;
}

bool ZTRecord::saveStructure(ZTRefreshInfo* ri) {
    if (structure.getID() == 0) return true;  // a structure of no set has nowhere to go
    ZTSetDef set(ztfile, fieldCache);
    set.assignFields(&structure);
    set.write(ri, nullptr, false);
    return set.getLastResult() >= 0;
}

// ---- field order ----

int ZTRecord::getFieldState(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    return v ? structure.locate(v->getFieldID()) : 0;
}

int ZTRecord::setFieldState(uint32_t i, int wanted) {
    if (wanted <= 0) wanted = kStateFixed;
    if (wanted > kStateOutside) wanted = kStateOutside;
    const int cur = getFieldState(i);
    if (cur == 0) return 0;
    const uint32_t field = values[i]->getFieldID();
    uint32_t first = 0, last = 0;
    runOf(i, &first, &last);
    const bool hasNext = loadValues(last + 1);
    if (wanted != cur) {
        const int p = first == 0 ? 0 : stateAt(first - 1, 0);
        const int n = hasNext ? stateAt(last + 1, 4) : 4;
        wanted = std::min(std::max(wanted, p), n);
    }
    // Outside the structure fields stand in ascending ID order.
    if (wanted == cur ||
        (wanted == kStateOutside && hasNext && field > values[last + 1]->getFieldID()))
        return cur;
    structureChanged = 1;
    state = 'y';
    uint32_t fixed = structure.getFixedCount();
    if (cur == kStateFixed && fixed > 0) --fixed;
    if (wanted == kStateFixed) ++fixed;
    if (cur == kStateOutside) structure.insert(field, structure.size, ZTSet::kDefaultValue);
    if (wanted == kStateOutside) structure.remove(field);
    structure.setFixedCount(fixed);
    for (uint32_t k = first; k <= last; ++k)
        values[k]->outsideStructure = wanted == kStateOutside ? 1 : 0;
    return wanted;
}

int ZTRecord::moveStateFor(uint32_t target, int requested) {
    const int before = target == 0 ? 0 : stateAt(target - 1, 0);
    const int after = target < values.size ? stateAt(target, 4) : 4;
    int s = before != after ? std::min(std::max(requested, before), after) : before;
    if (s < kStateFixed) s = kStateFixed;
    if (s > kStateOutside) s = kStateOutside;
    return s;
}

int ZTRecord::moveValue(int32_t from, int32_t to, int wanted, ZTMoveRange* out) {
    ZTMoveRange ignored;
    if (!out) out = &ignored;
    if (from < 0 || uint32_t(from) < readOnlyCount || (to >= 0 && uint32_t(to) < readOnlyCount))
        return -1;
    if (from == to) {
        setFieldState(uint32_t(from), wanted);
        uint32_t first = 0, last = 0;
        if (loadValues(uint32_t(from))) runOf(uint32_t(from), &first, &last);
        out->first = int32_t(first);
        out->target = int32_t(last);
        out->count = 0;
        return to;
    }
    if (!loadValues(uint32_t(from))) {
        lastResult = kErrorRange;
        return -1;
    }
    ZTAtomCache* moved = values[uint32_t(from)];
    ZTStr text(0);
    text.assign(moved->getText());
    const uint32_t rowKey = moved->atom ? moved->atom->valueID : 0;
    const uint32_t key = moved->linkKey;
    const uint32_t field = moved->getFieldID();
    const int fState = structure.locate(field);
    uint32_t first = 0, last = 0;
    runOf(uint32_t(from), &first, &last);
    uint32_t target;
    uint32_t g = 0;
    bool hasG = false;
    uint32_t gFirst = 0, gLast = 0;
    if (to >= 0 && loadValues(uint32_t(to))) {
        target = uint32_t(to);
        g = values[target]->getFieldID();
        hasG = true;
        runOf(target, &gFirst, &gLast);
        const bool beforeIsF = target > 0 && values[target - 1]->getFieldID() == field;
        if (!beforeIsF && gLast > gFirst && g != field && target > gFirst)
            target = target <= uint32_t(from) ? gLast + 1 : gFirst;
    } else {
        target = getValueCount();
    }
    if (target < readOnlyCount) return -1;
    const int s = moveStateFor(target, wanted);
    const int fixedChange = (fState == kStateFixed ? -1 : 0) + (s == kStateFixed ? 1 : 0);
    state = 'y';
    const bool single =
        (target > 0 && values[target - 1]->getFieldID() == field) || (hasG && g == field);
    if (single) {
        out->first = from;
        out->target = int32_t(target);
        out->count = 1;
        ZTAtomCache* v = values[uint32_t(from)];
        values.remove(uint32_t(from), 1);
        const uint32_t at = target > uint32_t(from) ? target - 1 : target;
        values.insertAt(v, int(at));
    } else {
        const uint32_t count = last - first + 1;
        out->first = int32_t(first);
        out->target = int32_t(target);
        out->count = int32_t(count);
        if (target < first || target > last + 1) {
            ZTArray<ZTAtomCache*> block;
            for (uint32_t k = first; k <= last; ++k) block.add(values[k], true);
            values.remove(first, count);
            uint32_t at = target > last ? target - count : target;
            for (uint32_t k = 0; k < count; ++k) values.insertAt(block[k], int(at + k));
        }
    }
    rebuildStructure(fixedChange);
    for (uint32_t k = 0; k < values.size; ++k)
        values[k]->outsideStructure =
            structure.locate(values[k]->getFieldID()) == ZTSet::kAbsent ? 1 : 0;
    const int at = indexOf(field, 0);
    if (at >= 0) {
        const int end = lastIndexOf(field, uint32_t(at));
        for (int k = at; k <= end; ++k) {
            ZTAtomCache* v = values[uint32_t(k)];
            if ((v->atom ? v->atom->valueID : 0) == rowKey && v->linkKey == key &&
                text.equals(v->getText()))
                return k;
        }
    }
    if (!hasG) return int(values.size);
    const int gAt = indexOf(g, 0);
    return gAt >= 0 ? gAt : int(values.size);
}

void ZTRecord::rebuildStructure(int extraFixed) {
    if (structure.getID() == 0) return;
    const ZTSet before = structure;
    state = 'y';
    const int64_t target = int64_t(structure.getFixedCount()) + extraFixed;
    uint32_t k = 0;
    for (uint32_t i = 0; loadValues(i); ++k) {
        const uint32_t field = values[i]->getFieldID();
        int at = -1;
        for (uint32_t j = 0; j < structure.size; ++j)
            if (structure[j] == field) at = int(j);
        if (at < 0 || uint32_t(at) > k) structure.insert(field, k, ZTSet::kDefaultValue);
        uint32_t first = 0, last = 0;
        runOf(i, &first, &last);
        i = last + 1;
    }
    structure.setFixedCount(uint32_t(std::max<int64_t>(0, target)));
    const uint32_t fixed = structure.getFixedCount();
    while (structure.size > 1) {
        const uint32_t l = structure.size - 1;
        if (l > fixed && structure[l] > structure[l - 1])
            structure.removeAt(l);
        else
            break;
    }
    if (structure.size > 0 && structure.size > fixed) {
        const uint32_t l = structure[structure.size - 1];
        const int at = indexOf(l, 0);
        if (at >= 0) {
            const int end = lastIndexOf(l, uint32_t(at));
            if (loadValues(uint32_t(end + 1)) && values[uint32_t(end + 1)]->getFieldID() > l)
                structure.removeAt(structure.size - 1);
        }
    }
    // A list that came out as it was is not saved again.
    if (structure.equals(before) && structure.getFixedCount() == before.getFixedCount())
        structure.setModified(before.isModified());
    else
        structureChanged = 1;
}
