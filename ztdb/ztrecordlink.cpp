// Record links within a database, external links and their back values, value directives,
// immediate set membership and copying a record image.
//
// Back values: a value whose text holds 'l' (a database reference, 54 = this database) and 'r'
// (a record there) is an external link; the linked record keeps a back value (field 35 unless
// the value says otherwise) whose 'l' is this database's reference there, 'r' this record and,
// for a value that is also a link, 'x' the record that link points to. Write back notes which
// back values to drop and make while it holds this database's lock and writes them once that
// lock is released, so that two processes linking two databases both ways never wait for each
// other. A back value that cannot be written (the other database missing, unreadable, read-only,
// without a reference to this one, or the record gone) is skipped: this record is stored all the
// same, the write back's result carries kResultBackLinkSkipped and getBackLinkResult says why.
#include <cstring>
#include <memory>
#include <string>

#include "ztdb/ztcache.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztrecord.h"

namespace {

constexpr char kFileTag = 'l';
constexpr char kRecordTag = 'r';
constexpr char kTargetTag = 'x';
constexpr uint32_t kThisDatabase = ZTFileCache::kThisDatabase;

uint32_t tagOf(const char* text, char tag) {
    ZTStr s(0);
    s.assign(text);
    return s.getTagInt(tag);
}

// An ID written as plain decimal digits that fit 32 bits; no sign, blank or anything else.
bool parseID(const char* s, size_t n, uint32_t* out) {
    if (n == 0 || n > 10) return false;
    uint64_t v = 0;
    for (size_t k = 0; k < n; ++k) {
        if (s[k] < '0' || s[k] > '9') return false;
        v = v * 10 + uint64_t(s[k] - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
    *out = uint32_t(v);
    return true;
}

// The reference under which the other database knows this one: a record of field 33 naming
// this database's path, or an old reference by file name (see ZTFileCache::resolveReference).
uint32_t referenceIn(ZTFile* other, ZTFile* self) {
    const std::string table = self->tablePath("ZT");
    const size_t dot = table.rfind('.');
    const std::string ext = dot == std::string::npos ? "ZT" : table.substr(dot + 1);
    for (const char* e : {ext.c_str(), "ZT", static_cast<const char*>(nullptr)})
        if (uint32_t id = other->findDatabaseRecord(self->getFileName(), e)) return id;
    ZTAtom atom(other, 0);
    ZTStr head(0);
    for (int r = atom.findValue(ZTRecord::kDatabaseReferenceField, "", false, false, false, 0);
         r == 0 && atom.typeID == ZTRecord::kDatabaseReferenceField;
         r = atom.findNextValue(&atom, 1, false)) {
        if (atom.isLinkRow()) continue;
        atom.value.getTag(0, &head);
        const std::string path = ZTFileCache::resolveReference(other, head.text);
        if (!path.empty() && ZTFile::canonicalBase(path.c_str()) == self->getFileName())
            return atom.recordID;
    }
    return 0;
}

}  // namespace

// ---- ZTAtomCache ----

void ZTAtomCache::setLinkTarget(bool on, const ZTAtom* target, const char* text) {
    kind = -1;
    if (!on) {
        linkKey = 0;
        linkRecordID = 0;
        flags &= ~kLinkFlag;
        return;
    }
    const ZTAtom* f = target;
    if (!ZT_ASSERT(f != 0)) return;
    linkKey = f->valueID;
    linkRecordID = f->recordID;
    flags |= kLinkFlag;
    editedText.assign(text ? text : f->value.text);
    modified = 1;
}

void ZTAtomCache::setLinkedRecord(ZTSubRecord* sub) {
    if (sub != linkedRecord) delete linkedRecord;
    linkedRecord = sub;
}

bool ZTAtomCache::hasExternalLink() const {
    ZTStr s(0);
    s.assign(getText());
    return s.hasTag(kFileTag) && s.hasTag(kRecordTag);
}

bool ZTAtomCache::isExternalLinkMoved() const {
    return isLink() && atom && atom->valueID != linkKey && hasExternalLink();
}

// ---- ZTSubRecord ----

int ZTSubRecord::unavailable() {
    lastResult = kErrorSubRecord;
    return 0;
}

// ---- links within the database ----

bool ZTRecord::isStoredLink(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    return v && v->isLink();
}

uint32_t ZTRecord::getLinkID(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    return v && v->isLink() ? v->linkRecordID : 0;
}

uint32_t ZTRecord::getLinkFieldID(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    if (!v || !v->isLink()) return 0;
    // The stored row names its target's field while it still links where it was read.
    if (v->atom && v->atom->linkField != 0 && v->atom->valueID == v->linkKey)
        return v->atom->linkField;
    if (v->linkedRecord && v->linkedRecord->getStructure().size)
        return v->linkedRecord->getStructure()[0];
    if (v->linkKey == 0) return 0;
    ZTAtom owner(ztfile, 0);
    return owner.findOwnerRow(v->linkKey) == 0 ? owner.typeID : 0;
}

ZTSubRecord* ZTRecord::getLinkedRecord(uint32_t i) {
    return getLinkedRecord(i, nullptr, 0, 0);
}

ZTSubRecord* ZTRecord::getLinkedRecord(uint32_t i, ZTFile* file, uint32_t linkID,
                                       uint32_t fieldID) {
    ZTAtomCache* v = getValue(i);
    if (!v) return nullptr;
    if (v->linkedRecord) return v->linkedRecord;
    if (!file) file = ztfile;
    if (linkID == 0) linkID = getLinkID(i);
    if (fieldID == 0) fieldID = getLinkFieldID(i);
    if (linkID == 0 || !file) return nullptr;
    // The caches belong to this record's file; an image of another file makes its own.
    const bool sameFile = file == ztfile;
    auto sub = std::make_unique<ZTSubRecord>(file, fieldID, sameFile ? fieldCache : nullptr,
                                             sameFile ? fileCache : nullptr);
    sub->setParent(this);
    sub->read(linkID);
    sub->setReadOnlyFields(1);
    v->setLinkedRecord(sub.release());
    return v->linkedRecord;
}

ZTSubRecord* ZTRecord::linkTo(uint32_t i, uint32_t recID, uint32_t fieldID, uint32_t j,
                              bool makeValue) {
    if (!ZT_ASSERT(recID) || !ZT_ASSERT(recID != recordNumber)) return nullptr;
    if (!checkWritable(i)) return nullptr;
    ZTAtomCache* v = values[i];
    if (v->linkedRecord) return nullptr;
    auto sub = std::make_unique<ZTSubRecord>(ztfile, fieldID, fieldCache, fileCache);
    sub->setParent(this);
    sub->read(recID);
    uint32_t target = j;
    ZTStr text(0);
    if (makeValue) {
        text.assign(v->getText());
        const int at = sub->insertValue(kNoIndex, fieldID, 0);
        if (at < 0 || !sub->setText(uint32_t(at), text.text, false)) return nullptr;
        target = uint32_t(at);
    } else if (sub->getTypeID(j) != fieldID) {
        return nullptr;  // the record has no such value of the field
    }
    if (!linkToRecordValue(i, sub.get(), target, makeValue ? text.text : nullptr)) return nullptr;
    sub->setReadOnlyFields(1);
    v->setLinkedRecord(sub.release());
    return v->linkedRecord;
}

ZTSubRecord* ZTRecord::linkToValue(uint32_t i, const ZTRecord* rec, uint32_t j, bool makeValue) {
    ZTAtomCache* v = getValue(i);
    if (!v || v->linkedRecord || !rec) return nullptr;
    auto* source = const_cast<ZTRecord*>(rec);
    const uint32_t target = source->getRecordNumber();
    const uint32_t field = source->getTypeID(j);
    // The sub-record shows the field's values first: j is found there by its place in its run.
    const int sequence = source->getSequence(j);
    if (target == 0 || target == recordNumber || field == 0 || sequence < 0) return nullptr;
    return linkTo(i, target, field, uint32_t(sequence), makeValue);
}

int ZTRecord::linkToRecordValue(uint32_t i, const ZTRecord* rec, uint32_t j, const char* text) {
    if (!ZT_ASSERT(rec != nullptr) || !ZT_ASSERT(ztfile == rec->ztfile)) return 0;
    if (!checkWritable(i)) return 0;
    auto* source = const_cast<ZTRecord*>(rec);
    ZTAtomCache* t = source->loadValues(j) ? source->values[j] : nullptr;
    // An empty placeholder is no value to link to.
    if (!t || !t->atom || (t->isNew && !t->modified)) return 0;
    ZTAtomCache* v = values[i];
    if (v->linkedRecord && v->linkedRecord != rec) v->setLinkedRecord(nullptr);
    v->setLinkTarget(true, t->atom, text);
    if (state == 'n') state = '?';
    return 1;
}

int ZTRecord::setLink(uint32_t i, uint32_t recID, uint32_t fieldID, uint32_t j, const char* text) {
    if (!checkWritable(i)) return 0;
    if (recID == 0 || recID == recordNumber) return 0;
    ZTRecord target(ztfile, fieldID, fieldCache, fileCache);
    target.read(recID);
    if (target.getTypeID(j) != fieldID) return 0;
    return linkToRecordValue(i, &target, j, j == 0 ? nullptr : text);
}

bool ZTRecord::unlink(uint32_t i) {
    if (!checkWritable(i)) return false;
    ZTAtomCache* v = values[i];
    if (v->linkedRecord || v->isLink()) {
        v->setLinkedRecord(nullptr);
        clearLink(i);
    }
    return true;
}

int ZTRecord::clearLink(uint32_t i) {
    if (!checkWritable(i)) return 0;
    ZTAtomCache* v = values[i];
    if (v->isLink()) {
        v->setLinkTarget(false, nullptr, nullptr);
        state = 'y';
    }
    return 1;
}

int ZTRecord::indexOfLinkKey(uint32_t linkKey, uint32_t fieldID) {
    for (uint32_t i = 0; loadValues(i); ++i)
        if (values[i]->getFieldID() == fieldID && values[i]->linkKey == linkKey) return int(i);
    return -1;
}

// ---- external links ----

bool ZTRecord::hasExternalLink(uint32_t i) {
    ZTAtomCache* v = getValue(i);
    return v && v->hasExternalLink();
}

bool ZTRecord::setBackLink(uint32_t i, uint32_t fileRef, uint32_t recordID, uint32_t backLink,
                           uint32_t backLinkTypeID, uint32_t thisFID) {
    if (!checkWritable(i)) return false;
    ZTAtomCache* v = values[i];
    if (v->hasExternalLink()) {
        lastResult = kErrorHasExternalLink;
        return false;
    }
    if (v->isLink() || v->linkedRecord) {
        lastResult = kErrorIsLink;
        return false;
    }
    if (!ZT_ASSERT(!((backLink == 1) && (backLinkTypeID == 0)))) return false;
    ZTStr text(0);
    text.setTagInt(kFileTag, fileRef);
    text.setTagInt(kRecordTag, recordID);
    setText(i, text.text, true);
    v->backLink = backLink;
    v->backLinkTypeID = backLinkTypeID;
    v->thisFID = thisFID;
    return true;
}

bool ZTRecord::removeBackLink(uint32_t i) {
    if (!checkWritable(i)) return false;
    ZTAtomCache* v = values[i];
    if (!v->hasExternalLink()) {
        lastResult = kErrorNoExternalLink;
        return false;
    }
    v->backLink = 0;
    ZTStr text(0);
    text.assign(v->getText());
    text.removeTag(kFileTag);
    text.removeTag(kRecordTag);
    text.removeTag(kTargetTag);
    setText(i, text.text, true);
    v->thisFID = 0;
    return true;
}

bool ZTRecord::unlinkExternal(uint32_t i) {
    if (!checkWritable(i)) return false;
    ZTAtomCache* v = values[i];
    if (!v->hasExternalLink()) {
        lastResult = kErrorNoExternalLink;
        return false;
    }
    if (!v->isLink() && !v->linkedRecord) {
        lastResult = kErrorNotLinked;
        return false;
    }
    return unlink(i);
}

int ZTRecord::findBackLinkValue(uint32_t thisFID, uint32_t recordID) {
    // A record may hold more back values than a view shows: all of them are looked at.
    loadAllValues();
    for (uint32_t i = 0; i < values.size; ++i) {
        ZTStr text(0);
        text.assign(values[i]->getText());
        if (text.hasTag(kFileTag) && text.getTagInt(kFileTag) == thisFID &&
            text.getTagInt(kRecordTag) == recordID)
            return int(i);
    }
    return -1;
}

ZTRecord::PendingBackLink ZTRecord::backLinkOf(ZTAtomCache* v, bool drop) {
    PendingBackLink p;
    p.drop = drop;
    p.thisFID = v->thisFID;
    if (drop) {
        // The link as it was first seen, and the target its stored row names.
        p.fileRef = v->firstExternalFile;
        p.record = v->firstExternalRecord;
        p.typeID = kBackValueField;
        p.target = v->atom ? v->atom->linkRecord : 0;
        return p;
    }
    const char* text = v->getText();
    p.fileRef = tagOf(text, kFileTag);
    p.record = tagOf(text, kRecordTag);
    p.typeID = v->backLinkTypeID ? v->backLinkTypeID : kBackValueField;
    if (v->isLink())
        p.target = v->linkedRecord ? v->linkedRecord->getRecordNumber() : v->linkRecordID;
    p.value = v;
    return p;
}

void ZTRecord::writeBackOldLinks(ZTRefreshInfo*) {
    pendingBackLinks.clear();
    backLinkResult = 0;
    auto noteDrop = [this](ZTAtomCache* v) {
        if (v->firstExternalFile != 0 && v->firstExternalFile != ZTAtomCache::kNotNoted)
            pendingBackLinks.push_back(backLinkOf(v, true));
        v->firstExternalFile = ZTAtomCache::kNotNoted;
        v->firstExternalRecord = ZTAtomCache::kNotNoted;
    };
    for (uint32_t k = 0; k < removedValues.size; ++k) noteDrop(removedValues[k]);
    for (uint32_t k = 0; k < values.size; ++k) {
        ZTAtomCache* v = values[k];
        if (!v->externalLinkChanged()) continue;
        noteDrop(v);
        // The link now names another record: that one gets the back value.
        if (v->hasExternalLink()) v->backLink = 1;
    }
}

void ZTRecord::writeBackNewLinks(ZTRefreshInfo*) {
    for (uint32_t k = 0; k < values.size; ++k) {
        ZTAtomCache* v = values[k];
        if ((v->backLink || v->isExternalLinkMoved()) && v->hasExternalLink())
            pendingBackLinks.push_back(backLinkOf(v, false));
    }
}

int32_t ZTRecord::writeBackPendingLinks(ZTRefreshInfo* ri) {
    if (pendingBackLinks.empty()) return 0;
    std::vector<PendingBackLink> work;
    work.swap(pendingBackLinks);
    int32_t result = 0;
    for (const PendingBackLink& p : work)
        if (!runBackLink(p, ri, fileCache)) result = kResultBackLinkSkipped;
    return result;
}

void ZTRecord::updateBackLinks(ZTRefreshInfo* ri, ZTFileCache* registry) {
    if (!registry) registry = fileCache;
    ZTFileCache* fc = registry;
    if (!ZT_ASSERT(fc)) return;
    for (uint32_t k = 0; k < values.size; ++k) {
        ZTAtomCache* v = values[k];
        if ((v->backLink || v->isExternalLinkMoved()) && v->hasExternalLink())
            runBackLink(backLinkOf(v, false), ri, registry);
    }
}

void ZTRecord::removeBackLinkOf(ZTAtomCache* value, ZTRefreshInfo* ri, ZTFileCache* registry) {
    if (!registry) registry = fileCache;
    ZTFileCache* fc = registry;
    if (!ZT_ASSERT(fc) || !value) return;
    if (value->firstExternalFile != 0 && value->firstExternalFile != ZTAtomCache::kNotNoted)
        runBackLink(backLinkOf(value, true), ri, registry);
    value->firstExternalFile = ZTAtomCache::kNotNoted;
    value->firstExternalRecord = ZTAtomCache::kNotNoted;
}

bool ZTRecord::runBackLink(const PendingBackLink& p, ZTRefreshInfo* ri, ZTFileCache* registry) {
    const bool same = p.fileRef == kThisDatabase;
    auto skip = [this](int32_t code) {
        backLinkResult = code;
        return false;
    };
    if (p.record == 0 || recordNumber == 0) return skip(kBackLinkNoRecord);
    // Waiting for another database while this one is locked could wait for ever.
    if (!same && ztfile->getLockDepth() > 0) return skip(kBackLinkBusy);
    ZTFile* other = same ? ztfile : registry->openRelated(ztfile, p.fileRef, 3);
    struct Release {
        ZTFileCache* registry;
        ZTFile* file;
        ~Release() {
            if (file) registry->release(file);
        }
    } release{registry, same ? nullptr : other};
    if (!other || !other->isUsable()) return skip(kBackLinkNoDatabase);
    if (other->isReadOnly()) return skip(kBackLinkNotWritable);
    const uint32_t thisFID = p.thisFID ? p.thisFID
                             : same    ? kThisDatabase
                                       : referenceIn(other, ztfile);
    if (thisFID == 0) return skip(kBackLinkUnknown);
    ZTRecord rec(other, p.typeID, same ? fieldCache : nullptr, registry);
    rec.read(p.record, false, false, p.drop);
    if (p.drop) {
        rec.loadAllValues();
        for (uint32_t k = 0; k < rec.values.size; ++k) {
            ZTStr text(0);
            text.assign(rec.values[k]->getText());
            if (text.getTagInt(kFileTag) != thisFID || text.getTagInt(kRecordTag) != recordNumber)
                continue;
            const bool named = p.target != 0 && p.target != ZTAtomCache::kNotNoted;
            if (!same && named && text.getTagInt(kTargetTag) != p.target) continue;
            rec.clearLink(k);
            rec.removeValue(k);
            if (!rec.writeBack(ri, true))
                return skip(rec.getLastResult() == kErrorRecordGone ? kBackLinkNoRecord
                                                                    : kBackLinkNotWritable);
            break;
        }
        return true;
    }
    // One back value per linking record, also when a write back is repeated.
    int at = rec.findBackLinkValue(thisFID, recordNumber);
    const bool existed = at >= 0;
    if (!existed) {
        at = rec.insertValue(kNoIndex, p.typeID, 0);
        if (at < 0 || !rec.setBackLink(uint32_t(at), thisFID, recordNumber, 0, kBackValueField, 0))
            return skip(kBackLinkNotWritable);
    }
    if (p.target != 0) {
        if (same) {
            if (existed) rec.unlinkExternal(uint32_t(at));
            if (p.target != p.record && !rec.isLink(uint32_t(at)))
                rec.linkTo(uint32_t(at), p.target, kBackValueField, 0, true);
        } else if (rec.getValueTagInt(uint32_t(at), kTargetTag) != p.target) {
            ZTStr text(0);
            text.assign(rec.getText(uint32_t(at)));
            text.setTagInt(kTargetTag, p.target);
            rec.setText(uint32_t(at), text.text, true);
        }
    }
    if (rec.isModified() && !rec.writeBack(ri, true))
        return skip(rec.getLastResult() == kErrorRecordGone ? kBackLinkNoRecord
                                                            : kBackLinkNotWritable);
    // The value may have been dropped by the store meanwhile.
    for (uint32_t k = 0; k < values.size; ++k)
        if (values[k] == p.value) {
            p.value->backLink = 0;
            p.value->thisFID = thisFID;
        }
    return true;
}

// ---- directives ----

bool ZTRecord::setValue(uint32_t i, const char* text, bool internal) {
    (void)internal;  // the read-only count is not consulted either way
    if (!loadValues(i)) {
        lastResult = kErrorRange;
        return false;
    }
    if (!text) text = "";
    static const char kLinkTo[] = "##LINKTO:";
    if (std::strncmp(text, kLinkTo, sizeof kLinkTo - 1) == 0) {
        const char* rest = text + sizeof kLinkTo - 1;
        const char* comma = std::strchr(rest, ',');
        if (!comma) return false;
        uint32_t recID = 0, fieldID = 0;
        const bool clean = parseID(rest, size_t(comma - rest), &recID) &&
                           parseID(comma + 1, std::strlen(comma + 1), &fieldID);
        if (!clean || recID == 0 || fieldID == 0 || recID == recordNumber) return true;
        return linkTo(i, recID, fieldID, 0, false) != nullptr;
    }
    if (std::strncmp(text, "##KEEP", 6) == 0) return true;
    if (isLink(i)) {
        // A read-only link stops here: the text would otherwise go into the linked record.
        if (!unlink(i)) return false;
    }
    return setText(i, text, true);
}

// ---- set membership ----

int ZTRecord::attachToSet(uint32_t setID, ZTRefreshInfo* ri) {
    return changeMembership(setID, ri, true);
}

int ZTRecord::detachFromSet(uint32_t setID, ZTRefreshInfo* ri) {
    return changeMembership(setID, ri, false);
}

int ZTRecord::changeMembership(uint32_t setID, ZTRefreshInfo* ri, bool add) {
    if (!ZT_ASSERT(ztfile != 0) || !ZT_ASSERT(setID != 0)) return -1;
    // A record not stored yet has no number: its membership rows would name record 0.
    if (recordNumber == 0) {
        lastResult = kErrorNotStored;
        return -1;
    }
    if (!ztfile->addToSet(recordNumber, setID, add)) {
        lastResult = ZTFile::kErrorWriteFailed;
        return -1;
    }
    if (ri)
        ri->add(ztfile, recordNumber, setID, add ? ZTRefreshItem::kAdded : ZTRefreshItem::kRemoved);
    state = 'y';
    return 0;
}

// ---- copying ----

void ZTRecord::setRecordNumber(uint32_t n) {
    for (uint32_t k = 0; k < values.size; ++k) {
        ZTAtomCache* v = values[k];
        if (v->atom) v->atom->recordID = n;
        // An empty placeholder stays one: only texts and links are stored.
        if (!v->modified && (!v->isNew || *v->getText() || v->isLink())) {
            v->editedText.assign(v->getText());
            v->modified = 1;
        }
    }
    for (uint32_t k = 0; k < removedValues.size; ++k)
        if (removedValues[k]->atom) removedValues[k]->atom->recordID = n;
    recordNumber = n;
    if (values.size) state = 'y';
}

bool ZTRecord::isRemovedField(uint32_t fieldID) const {
    for (uint32_t k = 0; k < removedValues.size; ++k)
        if (removedValues[k]->getFieldID() == fieldID) return true;
    return false;
}
