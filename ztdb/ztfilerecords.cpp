// Operations on whole records: deleting, moving values to another field, copying, the best set
// of a record and its text line (see ztfile.h).
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "ztdb/ztassert.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztset.h"
#include "ztdb/ztvalueat.h"

namespace {

// A row of a record as read, to be written again elsewhere.
struct RowCopy {
    uint32_t type, position, valueID;
    bool link;
    std::string text;
};

using MemberTie = std::pair<uint32_t, uint32_t>;  // (record, set)

}  // namespace

// Deletes the record's rows (of one field when fieldID is not 0). A value that goes takes with
// it the rows that share its number: links of other records to it, and membership rows tied to
// it (the record's own, and those of records tied to it through their links). Those members
// are tied again afterwards, so nobody leaves a set because a value went. Under the lock.
static bool deleteRowsOf(ZTFile* file, uint32_t recordID, uint32_t fieldID,
                         std::vector<uint32_t>* touched) {
    std::vector<MemberTie> ties;
    std::vector<std::pair<uint32_t, bool>> values;  // value number, owned by the record
    {
        ZTRec rec(file);
        for (int r = rec.seek(recordID, fieldID, 0, ""); r == 0; r = rec.skip(1)) {
            if (fieldID != 0 && rec.typeID != fieldID) break;
            if (!rec.isMemberRow()) values.push_back({rec.valueID, !rec.isLinkRow()});
        }
        if (rec.readFailed()) return false;
    }
    for (const auto& [v, owned] : values) {
        const bool ok = forEachRowOfValue(file, v, [&](const ZTRec& row) {
            if (row.recordID == recordID) {
                if (fieldID != 0 && row.isMemberRow()) ties.push_back({row.recordID, row.typeID});
            } else if (owned && row.isLinkRow()) {
                touched->push_back(row.recordID);
                if (row.isMemberRow()) ties.push_back({row.recordID, row.typeID});
            }
        });
        if (!ok) return false;
    }
    for (int32_t left = std::max<int32_t>(file->getRowCount(), 0) + 1; left > 0; --left) {
        ZTRec rec(file);
        const int r = rec.seek(recordID, fieldID, 0, "");
        if (r != 0 || (fieldID != 0 && rec.typeID != fieldID)) break;
        if (!rec.deleteRow()) return false;
    }
    std::sort(ties.begin(), ties.end());
    ties.erase(std::unique(ties.begin(), ties.end()), ties.end());
    for (const auto& [member, set] : ties) {
        // A set without fields has no members.
        const uint32_t first = file->getSetFirstField(set);
        if (!file->deleteMembership(member, set) ||
            (first != 0 && !file->writeMembership(member, set, first)))
            return false;
    }
    return true;
}

bool ZTFile::deleteRecord(uint32_t recordID, ZTRefreshInfo* info) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (recordID == 0) return true;
    ZTWriteLock lock(this);
    if (!lock) return false;
    std::vector<uint32_t> touched;
    const bool ok = deleteRowsOf(this, recordID, 0, &touched);
    const bool published = lock.release();
    if (info) {
        info->add(this, recordID, 0, ZTRefreshItem::kRemoved);
        for (uint32_t other : touched) info->add(this, other, 0, ZTRefreshItem::kChanged);
    }
    return ok && published;
}

bool ZTFile::deleteValues(uint32_t recordID, uint32_t fieldID, ZTRefreshInfo* info) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (recordID == 0 || fieldID == 0) return true;
    ZTWriteLock lock(this);
    if (!lock) return false;
    std::vector<uint32_t> touched;
    const bool ok = deleteRowsOf(this, recordID, fieldID, &touched);
    const bool published = lock.release();
    if (info) {
        info->add(this, recordID, fieldID, ZTRefreshItem::kRemoved);
        for (uint32_t other : touched) info->add(this, other, 0, ZTRefreshItem::kChanged);
    }
    return ok && published;
}

bool ZTFile::changeValueType(uint32_t recordID, uint32_t oldField, uint32_t newField) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (recordID == 0 || oldField == 0 || newField == 0 || oldField == newField) return true;
    ZTWriteLock lock(this);
    if (!lock) return false;
    bool ok = true;
    for (int32_t left = std::max<int32_t>(getRowCount(), 0) + 1; ok && left > 0; --left) {
        ZTRec rec(this);
        if (rec.seek(recordID, oldField, 0, "") != 0 || rec.typeID != oldField) break;
        // In place: position, key, value number and link stay.
        rec.typeID = newField;
        ok = rec.writeRow();
    }
    return lock.release() && ok;
}

uint32_t ZTFile::duplicateRecord(uint32_t recordID, uint32_t setID) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return 0;
    if (recordID == 0) return 0;
    ZTWriteLock lock(this);
    if (!lock) return 0;
    std::vector<RowCopy> rows;
    bool ok = true;
    {
        ZTRec rec(this);
        ZTStr text;
        for (int r = rec.seek(recordID, 0, 0, ""); r == 0; r = rec.skip(1)) {
            if (rec.isMemberRow()) continue;  // the copy joins none of the record's sets
            const bool link = rec.isLinkRow();
            if (!link && !rec.readChain(rec.valueID, &text)) text.clear();
            rows.push_back({rec.typeID, rec.position, rec.valueID, link, link ? "" : text.text});
        }
        ok = !rec.readFailed();
    }
    uint32_t copy = 0;
    if (ok && !rows.empty()) {
        copy = newRecordID();
        ok = copy != 0;
        for (size_t i = 0; ok && i < rows.size(); ++i) {
            const RowCopy& row = rows[i];
            ok = addValueRow(this, copy, row.type, row.position, row.text.c_str(),
                             row.link ? row.valueID : 0);
        }
        if (ok && setID != 0) ok = addToSet(copy, setID, true);
    }
    const bool published = lock.release();
    return ok && published ? copy : 0;
}

uint32_t ZTFile::findBestSet(uint32_t recordID, uint32_t fieldFilter) {
    if (!ZT_ASSERT(isUsable())) return 0;
    ZTReadBracket bracket(this);
    ZTArray<RowType> types;
    getRowTypes(recordID, &types);
    auto hasField = [&](uint32_t field) {
        for (uint32_t i = 0; i < types.size; ++i)
            if (types[i].fieldID == field) return true;
        return false;
    };
    uint32_t best = 0, bestHits = 0, bestTotal = 0;
    for (uint32_t k = 0; k < types.size; ++k) {
        if (!(types[k].flags & ZTRec::kFlagMember)) continue;
        const uint32_t setID = types[k].fieldID;
        ZTSet fields(this, setID);
        fields.load();
        if (fieldFilter != 0 && (fields.size == 0 || fields[0] != fieldFilter)) continue;
        uint32_t hits = 0, total = 0;
        for (uint32_t i = 0; i < fields.size; ++i) {
            if (hasField(fields[i]))
                ++hits;
            else if (hits == 0)
                break;  // the set's first field is not the record's
            ++total;
        }
        if (hits > bestHits || (hits == bestHits && hits != 0 && total < bestTotal)) {
            best = setID;
            bestHits = hits;
            bestTotal = total;
        }
    }
    return best;
}

void ZTFile::getRecordText(uint32_t recordID, ZTStr* out, const ZTSet* fields) {
    if (!ZT_ASSERT(out != nullptr && fields != nullptr) || !ZT_ASSERT(isUsable())) return;
    out->clear();
    ZTReadBracket bracket(this);
    ZTRec rec(this);
    ZTStr text;
    for (uint32_t i = 0; i < fields->size; ++i) {
        const uint32_t field = (*fields)[i];
        if (i > 0) out->insert(ZTStr::kEnd, '\t');
        bool first = true;
        for (int r = field ? rec.seek(recordID, field, 0, "") : -1; r == 0 && rec.typeID == field;
             r = rec.skip(1)) {
            if (rec.isMemberRow()) continue;
            // A link shares its owner's value number: the chain is the linked value's text.
            if (!rec.readChain(rec.valueID, &text)) continue;
            if (!first) out->insert(ZTStr::kEnd, '|');
            out->insert(ZTStr::kEnd, text.text);
            first = false;
        }
    }
}
