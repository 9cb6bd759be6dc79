// Text import: the header line that makes the fields (and the set) and the data lines that
// make records (see ztfile.h).
#include <string>

#include "ztdb/ztassert.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztset.h"
#include "ztdb/ztvalueat.h"

namespace {

constexpr uint32_t kImportFlushEvery = 100;
constexpr uint32_t kLastPosition = ZTRec::kNoPosition;

// The field for a header column: its name's field when names are matched (compared folded, so
// "NAME" takes the field "Name"), else, or when that field already has a column, the field
// named after the set and the column ("Set_03"); a field of that name already in the list
// gives way to a new one ("Set_03 2"). 0 when a write failed.
uint32_t columnField(ZTFile* file, const std::string& text, const ZTStr& setName, uint32_t column,
                     bool matchNames, const ZTSet& fields) {
    if (matchNames && !text.empty()) {
        const uint32_t id = file->addField(text.c_str());
        if (id == 0 || fields.locate(id) == ZTSet::kAbsent) return id;
    }
    ZTStr fallback;
    fallback.format(uint32_t(setName.length) + 12, "%s_%02u", setName.text, column + 1);
    const uint32_t id = file->addField(fallback.text);
    if (id == 0 || fields.locate(id) == ZTSet::kAbsent) return id;
    return file->addName(ZTFile::kFieldNameType, fallback.text, true);
}

}  // namespace

uint32_t ZTFile::prepareImport(const char* baseName, const char* header, ZTSet* fields,
                               bool matchNames, bool makeSet, ZTRefreshInfo* info,
                               uint32_t* dropped) {
    if (dropped) *dropped = 0;
    if (!ZT_ASSERT(fields != nullptr) || !ZT_ASSERT(isUsable() && !isReadOnly())) return 0;
    ZTWriteLock lock(this);
    if (!lock) return 0;
    // The set: the base name, else base02, base03 ... whichever is free first.
    uint32_t setID = 0;
    ZTStr setName;
    if (makeSet) {
        ZTStr suffix;
        for (uint32_t n = 1; n != 0; ++n) {
            setName.assign(baseName);
            if (n > 1) {
                suffix.format(12, "%02u", n);
                setName.insert(ZTStr::kEnd, suffix.text);
            }
            uint32_t id = 0;
            const int r = storeSetName(&id, setName.text);
            if (r == 1) continue;  // taken
            setID = r == 2 ? id : 0;
            break;
        }
        if (setID == 0) return 0;
    }
    if (fields->getFile() != this)
        fields->init(this, 0);
    else
        fields->clear();
    bool ok = true;
    uint32_t column = 0, part = 0;
    std::string text;
    for (const char* p = header ? header : "";; ++p) {
        const char c = *p;
        if (c != '\t' && c != '|' && c != 0) {
            if (part == 0) text.push_back(c);
            continue;
        }
        // Only a column's first part names a field.
        if (part == 0) {
            if (column >= kMaxImportColumns) {
                if (dropped) ++*dropped;
            } else if (ok) {
                const uint32_t id = columnField(this, text, setName, column, matchNames, *fields);
                if (id == 0)
                    ok = false;
                else
                    fields->insert(id, column, ZTSet::kDefaultValue);
            }
        }
        if (c == 0) break;
        if (c == '|') {
            ++part;
        } else {
            ++column;
            part = 0;
            text.clear();
        }
    }
    if (ok && makeSet) {
        fields->setID(setID);
        ok = fields->save(info);
    }
    const bool published = lock.release();
    return ok && published ? setID : 0;
}

namespace {

// One value of an import line. '>' text (not in the first column) links to the value of the
// linked set's first field in the record of that text, which is made (and joins the set) when
// there is none; the linked set is the set named like the column's field. Without such a set
// the text is stored as it stands. The record is made by its first value.
bool importValue(ZTFile* file, uint32_t* record, uint32_t field, uint32_t column, uint32_t position,
                 const std::string& value) {
    const char* text = value.c_str();
    uint32_t link = 0;
    if (text[0] == '>' && column > 0) {
        ++text;
        ZTStr fieldName;
        const uint32_t linkedSet = file->findFieldName(field, &fieldName)
                                       ? findExactValue(file, ZTFile::kSetNameType, fieldName.text)
                                       : 0;
        const uint32_t key = linkedSet ? file->getSetFirstField(linkedSet) : 0;
        if (key != 0 && *text) {
            if (findExactValue(file, key, text, &link) == 0) {
                const uint32_t target = file->newRecordID();
                if (target == 0 || !addValueRow(file, target, key, 1, text, 0, &link) ||
                    !file->joinNewRecord(target, linkedSet))
                    return false;
            }
        }
    }
    if (link == 0 && !*text) return true;  // an empty value writes nothing
    if (*record == 0 && (*record = file->newRecordID()) == 0) return false;
    return addValueRow(file, *record, field, position, link ? nullptr : text, link);
}

}  // namespace

uint32_t ZTFile::importRecord(const char* line, ZTSet* fields, uint32_t setID, uint32_t,
                              ZTRefreshInfo* info) {
    if (!ZT_ASSERT(fields != nullptr) || !ZT_ASSERT(isUsable() && !isReadOnly())) return 0;
    // Every 100th line publishes the work so far (an exclusive database flushes nowhere else).
    importCounter_ = (importCounter_ + 1) % kImportFlushEvery;
    if (importCounter_ == 0) {
        (void)flush();
        refreshTables(true);
    }
    ZTWriteLock lock(this);
    if (!lock) return 0;
    uint32_t record = 0, column = 0, position = 1;
    bool ok = true;
    std::string value;
    for (const char* p = line ? line : "";; ++p) {
        const char c = *p;
        if (c != '\t' && c != '|' && c != 0) {
            if (c != '\n') value.push_back(c);
            continue;
        }
        if (column >= fields->size) break;
        if (!value.empty() && position <= kLastPosition)
            ok = importValue(this, &record, (*fields)[column], column, position, value);
        if (!ok || c == 0) break;
        value.clear();
        if (c == '|') {
            ++position;
        } else {
            ++column;
            position = 1;
        }
    }
    if (ok && record != 0 && setID != 0) ok = joinNewRecord(record, setID);
    const bool published = lock.release();
    if (record != 0 && info) info->add(this, record, 0, ZTRefreshItem::kAdded);
    return ok && published ? record : 0;
}
