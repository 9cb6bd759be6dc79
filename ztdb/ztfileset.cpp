// Set membership of records: the membership rows of a record in a set are tied to the record's
// values of the set's first field, so that the set's members sort by them in value order.
#include <algorithm>
#include <set>
#include <vector>

#include "ztdb/ztassert.h"
#include "ztdb/ztatom.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztrec.h"

namespace {

constexpr uint32_t kSetMarker = 43;
constexpr uint32_t kAllSets = 31;
constexpr uint32_t kMarkedSets = 2;
constexpr const char* kUntiedText = "?";

struct MemberRow {
    uint32_t valueID;
    uint8_t flags;
};

// The record's rows of the type, in record order.
std::vector<MemberRow> rowsOf(ZTFile* file, uint32_t record, uint32_t type) {
    std::vector<MemberRow> rows;
    ZTReadBracket bracket(file);
    ZTRec rec(file);
    int r = rec.seek(record, type, 0, "");
    for (int left = file->getRowCount() + 1; r == 0 && left > 0; --left) {
        if (rec.recordID != record || rec.typeID != type) break;
        rows.push_back({rec.valueID, rec.flags});
        r = rec.skip(1);
    }
    rec.unlockTables();
    return rows;
}

// The value numbers of the record's own values of the field (membership rows left out), in
// position order.
std::vector<uint32_t> valuesOf(ZTFile* file, uint32_t record, uint32_t field) {
    std::vector<uint32_t> values;
    for (const MemberRow& row : rowsOf(file, record, field))
        if (!(row.flags & ZTRec::kFlagMember)) values.push_back(row.valueID);
    return values;
}

// The record's membership rows of the set are exactly the ties to the field's values (or one
// "?" row when it has none).
bool tiesAreRight(ZTFile* file, uint32_t record, uint32_t set, uint32_t field) {
    std::vector<uint32_t> values = valuesOf(file, record, field);
    std::multiset<uint32_t> wanted(values.begin(), values.end()), tied;
    size_t untied = 0;
    for (const MemberRow& m : rowsOf(file, record, set)) {
        if (!(m.flags & ZTRec::kFlagMember)) return false;
        if (m.flags & ZTRec::kFlagLink)
            tied.insert(m.valueID);
        else
            ++untied;
    }
    return wanted.empty() ? untied == 1 && tied.empty() : untied == 0 && tied == wanted;
}

// The record's membership rows of the set written again when they are not exactly the ties to
// its values of the first field: 0 when they were right, 1 when rewritten, -1 on a failure.
int retieIfWrong(ZTFile* file, uint32_t record, uint32_t set, uint32_t first) {
    if (tiesAreRight(file, record, set, first)) return 0;
    return file->deleteMembership(record, set) && file->writeMembership(record, set, first) ? 1
                                                                                            : -1;
}

}  // namespace

uint32_t ZTFile::getSetFirstField(uint32_t setID) {
    return getNameLink(setID);
}

bool ZTFile::deleteMembership(uint32_t recordID, uint32_t setID) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (recordID == 0 || setID == 0) return true;
    ZTWriteLock lock(this);
    if (!lock) return false;
    bool ok = true;
    ZTRec rec(this);
    for (int left = getRowCount() + 1; ok && left > 0; --left) {
        if (rec.seek(recordID, setID, 0, "") != 0 || rec.typeID != setID) break;
        ok = rec.deleteRow();
    }
    return lock.release() && ok;
}

bool ZTFile::writeMembership(uint32_t recordID, uint32_t setID, uint32_t tieFieldID) {
    return writeMembershipRows(recordID, setID, tieFieldID, false);
}

bool ZTFile::joinNewRecord(uint32_t recordID, uint32_t setID) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (recordID == 0 || setID == 0) return true;
    ZTWriteLock lock(this);
    if (!lock) return false;
    const uint32_t first = getSetFirstField(setID);
    const bool ok = first == 0 || writeMembershipRows(recordID, setID, first, true);
    return lock.release() && ok;
}

// fresh: the record has no rows of the set, so no membership row is looked for first.
bool ZTFile::writeMembershipRows(uint32_t recordID, uint32_t setID, uint32_t tieFieldID,
                                 bool fresh) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (recordID == 0 || setID == 0) return true;
    ZTWriteLock lock(this);
    if (!lock) return false;
    const std::vector<uint32_t> values =
        tieFieldID ? valuesOf(this, recordID, tieFieldID) : std::vector<uint32_t>{};
    // The rows are only written: the owners of the values they tie to are never looked up.
    ZTAtom atom(this, ZTAtom::kModeMembers | ZTAtom::kModeNoLinks);
    bool ok = true;
    auto put = [&](const char* text, uint32_t share) {
        const int r =
            atom.write(recordID, setID, ZTRec::kNoPosition, text, share, true, false, fresh, 0);
        ok = ok && r >= 0;
    };
    if (values.empty()) {
        put(kUntiedText, 0);
    } else {
        for (uint32_t v : values) put(nullptr, v);
        // A "?" row left from when the record had no such value goes (a new record has none).
        ZTRec rec(this);
        for (int left = fresh ? 0 : getRowCount() + 1; ok && left > 0; --left) {
            int r = rec.seek(recordID, setID, 0, "");
            while (r == 0 && rec.recordID == recordID && rec.typeID == setID &&
                   (rec.flags & ZTRec::kFlagLink))
                r = rec.skip(1);
            if (r != 0 || rec.recordID != recordID || rec.typeID != setID) break;
            ok = rec.deleteRow();
        }
    }
    return lock.release() && ok;
}

bool ZTFile::addToSet(uint32_t recordID, uint32_t setID, bool add) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (recordID == 0 || setID == 0) return true;
    ZTWriteLock lock(this);
    if (!lock) return false;
    bool ok = true;
    const uint32_t first = add ? getSetFirstField(setID) : 0;
    if (!add || first != 0) {
        ok = deleteMembership(recordID, setID);
        if (add) ok = ok && writeMembership(recordID, setID, first);
    }
    return lock.release() && ok;
}

bool ZTFile::removeFromSet(uint32_t recordID, uint32_t setID, ZTRefreshInfo* info) {
    const bool ok = addToSet(recordID, setID, false);
    if (info && recordID != 0 && setID != 0) info->add(this, recordID, setID, 2);
    return ok;
}

bool ZTFile::removeFromAllSets(uint32_t recordID, ZTRefreshInfo* info) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    ZTArray<unsigned long> sets;
    getRecordSets(recordID, &sets);
    bool ok = true;
    for (uint32_t i = 0; i < sets.size; ++i)
        ok = removeFromSet(recordID, uint32_t(sets[i]), info) && ok;
    return ok;
}

bool ZTFile::retieSets(uint32_t recordID, uint32_t fieldID, const ZTArray<unsigned long>* sets,
                       bool deleteFirst) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (!sets || sets->size == 0) return true;
    ZTWriteLock lock(this);
    if (!lock) return false;
    bool ok = true;
    for (uint32_t i = 0; i < sets->size; ++i) {
        const uint32_t set = uint32_t((*sets)[i]);
        if (deleteFirst) ok = deleteMembership(recordID, set) && ok;
        ok = writeMembership(recordID, set, fieldID) && ok;
    }
    return lock.release() && ok;
}

// Besides the sets tied to the first value, a set the record belongs to through its "?" row is
// tied to the field as well when the field is the set's first: its first value must replace
// the "?" row.
void ZTFile::collectTiedSets(uint32_t recordID, uint32_t fieldID, ZTArray<unsigned long>* sets) {
    if (!ZT_ASSERT(isUsable()) || !ZT_ASSERT(sets != nullptr) || recordID == 0) return;
    const std::vector<uint32_t> values = valuesOf(this, recordID, fieldID);
    ZTArray<RowType> types;
    getRowTypes(recordID, &types);
    ZTReadBracket bracket(this);
    for (uint32_t i = 0; i < types.size; ++i) {
        const RowType& t = types[i];
        if (!(t.flags & ZTRec::kFlagMember)) continue;
        bool tied = false;
        if (!values.empty()) {
            ZTRec probe(this);
            tied = probe.hasValue(recordID, t.fieldID, ZTRec::kNoPosition, nullptr, values[0],
                                  ZTRec::kFlagMember, true);
            probe.unlockTables();
        }
        if (!tied && !(t.flags & ZTRec::kFlagLink)) tied = getSetFirstField(t.fieldID) == fieldID;
        if (tied) sets->add(static_cast<unsigned long>(t.fieldID), false);
    }
}

// Each member whose rows are not exactly the ties to its values of the first field has them
// written again; without a first field every member leaves.
bool ZTFile::rebuildSetTies(uint32_t setID, bool hasFirstField) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return false;
    if (setID == 0) return true;
    ZTWriteLock lock(this);
    if (!lock) return false;
    const uint32_t first = hasFirstField ? getSetFirstField(setID) : 0;
    if (hasFirstField && first == 0) return lock.release();
    std::vector<uint32_t> members;
    {
        ZTReadBracket bracket(this);
        ZTRec rec(this);
        for (int r = rec.seekInType(setID, "", false, false, false); r == 0;
             r = rec.skipInType(1, false, false))
            if (rec.isMemberRow() && (members.empty() || std::find(members.begin(), members.end(),
                                                                   rec.recordID) == members.end()))
                members.push_back(rec.recordID);
        rec.unlockTables();
    }
    bool ok = true;
    for (uint32_t record : members) {
        if (!hasFirstField) {
            ok = deleteMembership(record, setID) && ok;
            continue;
        }
        ok = retieIfWrong(this, record, setID, first) >= 0 && ok;
    }
    return lock.release() && ok;
}

int ZTFile::repairMemberTies(uint32_t recordID, uint32_t setID) {
    if (!ZT_ASSERT(isUsable() && !isReadOnly())) return -1;
    if (recordID == 0 || setID == 0) return 0;
    ZTWriteLock lock(this);
    if (!lock) return -1;
    const uint32_t first = getSetFirstField(setID);
    // Without a first field there is nothing to tie to: the rows are left as they are.
    const int r = first == 0 ? 0 : retieIfWrong(this, recordID, setID, first);
    return lock.release() ? r : -1;
}

namespace {
constexpr int kStepsBeforeSeek = 4;
}

void ZTFile::getRowTypes(uint32_t recordID, ZTArray<RowType>* list) {
    if (!ZT_ASSERT(isUsable()) || !ZT_ASSERT(list != nullptr) || recordID == 0) return;
    list->clear();
    ZTReadBracket bracket(this);
    ZTRec rec(this);
    const uint32_t top = getMaxID();
    int r = rec.seek(recordID, 1, 0, "");
    for (int left = getRowCount() + 1; r == 0 && left > 0; --left) {
        if (rec.recordID != recordID) break;
        const uint32_t type = rec.typeID;
        list->add({type, rec.flags}, true);
        if (type >= top) break;
        // A field has few rows as a rule: stepping on is cheaper than a seek from the root,
        // which is kept for a field with many.
        int steps = 0;
        do r = rec.skip(1);
        while (r == 0 && rec.typeID == type && ++steps < kStepsBeforeSeek);
        if (r == 0 && rec.typeID == type) r = rec.seek(recordID, type + 1, 0, "");
    }
    rec.unlockTables();
}

uint32_t ZTFile::getRecordSets(uint32_t recordID, ZTArray<unsigned long>* out) {
    if (!ZT_ASSERT(isUsable()) || !ZT_ASSERT(out != nullptr)) return 0;
    out->clear();
    ZTArray<RowType> types;
    getRowTypes(recordID, &types);
    for (uint32_t i = 0; i < types.size; ++i)
        if (types[i].flags & ZTRec::kFlagMember)
            out->add(static_cast<unsigned long>(types[i].fieldID), true);
    return out->size;
}

uint32_t ZTFile::getRecordSetsFiltered(uint32_t recordID, ZTArray<unsigned long>* out,
                                       uint32_t filter) {
    if (!ZT_ASSERT(isUsable()) || !ZT_ASSERT(out != nullptr)) return 0;
    out->clear();
    if (filter == 0) return 0;
    ZTArray<unsigned long> sets;
    getRecordSets(recordID, &sets);
    const bool markedOnly = (filter & kMarkedSets) != 0;
    for (uint32_t i = 0; i < sets.size; ++i) {
        const uint32_t set = uint32_t(sets[i]);
        if (filter == kAllSets || hasValue(set, kSetMarker) == markedOnly) out->add(sets[i], true);
    }
    return out->size;
}
