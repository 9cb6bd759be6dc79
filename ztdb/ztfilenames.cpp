// The name writes of a database (see ztfile.h).
#include <string>
#include <vector>

#include "ztdb/ztassert.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztvalueat.h"

namespace {

constexpr int32_t kErrorNameExists = -1;
constexpr int32_t kErrorEmptyName = -15;

bool foldsToNothing(const char* name) {
    ZTStr folded;
    folded.assign(name);
    folded.fold(nullptr);
    return folded.length == 0;
}

}  // namespace

uint32_t ZTFile::addName(uint32_t nameID, const char* name, bool makeUnique) {
    if (!ZT_ASSERT(nameID != 0 && isUsable() && !isReadOnly())) return 0;
    if (foldsToNothing(name)) {
        lastError_ = kErrorEmptyName;
        return 0;
    }
    ZTWriteLock lock(this);
    if (!lock) {
        lastError_ = kErrorWriteFailed;
        return 0;
    }
    // Under the lock: two writers adding one new name make one record.
    ZTStr text;
    text.assign(name);
    uint32_t existing = 0;
    if (makeUnique)
        makeUniqueName(nameID, &text);
    else
        existing = findName(nameID, text.text);
    uint32_t made = 0;
    if (existing == 0) {
        made = newRecordID();
        if (made != 0 && !storeValueAt(this, made, nameID, 1, text.text, 0)) made = 0;
    }
    const bool published = lock.release();
    if (existing != 0) {
        lastError_ = kErrorNameExists;
        return existing;
    }
    if (made == 0 || !published) {
        lastError_ = kErrorWriteFailed;
        return 0;
    }
    lastError_ = 0;
    return made;
}

bool ZTFile::storeName(uint32_t nameID, uint32_t recordID, const char* name) {
    if (!ZT_ASSERT(nameID && recordID && name) || !ZT_ASSERT(isUsable() && !isReadOnly()))
        return false;
    ZTWriteLock lock(this);
    if (!lock) return false;
    ZTRec first(this);
    bool ok;
    if (first.seek(recordID, nameID, 0, "") == 0 && first.typeID == nameID && first.position != 1 &&
        first.position < ZTRec::kNoPosition && *name) {
        // The first value moves to position 1 (no row has it: positions start at 1).
        first.position = 1;
        ok = first.writeValue(name, 0);
    } else {
        ok = storeValueAt(this, recordID, nameID, 1, name, 0);
    }
    return lock.release() && ok;
}

int ZTFile::storeSetName(uint32_t* setID, const char* name) {
    if (!ZT_ASSERT(setID != nullptr) || !ZT_ASSERT(isUsable() && !isReadOnly())) return 0;
    if (!name || !*name) {
        deleteRecord(*setID, nullptr);
        return 0;
    }
    ZTWriteLock lock(this);
    if (!lock) return 0;
    int result = 0;
    if (const uint32_t named = findExactValue(this, kSetNameType, name); named != 0) {
        *setID = named;
        result = 1;
    } else if (*setID == 0) {
        const uint32_t made = newRecordID();
        if (made != 0 && storeValueAt(this, made, kSetNameType, 1, name, 0)) {
            *setID = made;
            result = 2;
        }
    } else if (hasValue(*setID, kSetNameType)) {
        result = storeName(kSetNameType, *setID, name) ? 4 : 0;
    }
    return lock.release() ? result : 0;
}

uint32_t ZTFile::renameDuplicateNames(uint32_t nameID) {
    if (!ZT_ASSERT(nameID != 0 && isUsable() && !isReadOnly())) return 0;
    ZTWriteLock lock(this);
    if (!lock) return 0;
    // Every name first, then the renames: a renamed value moves in value order.
    struct Name {
        uint32_t record;
        std::string text;
    };
    std::vector<Name> names;
    {
        ZTReadBracket bracket(this);
        ZTRec rec(this);
        ZTStr text;
        for (int r = rec.seekInType(nameID, "", false, false, false); r == 0;
             r = rec.skipInType(1, false, false)) {
            if (rec.isLinkRow() || rec.isMemberRow() || !rec.readChain(rec.valueID, &text))
                continue;
            names.push_back({rec.recordID, text.text});
        }
    }
    uint32_t renamed = 0;
    ZTStr last, folded, name;
    bool haveLast = false;
    for (const Name& n : names) {
        folded.assign(n.text.c_str());
        folded.fold(nullptr);
        if (folded.length == 0) continue;  // no suffix could tell such names apart
        if (haveLast && folded.equals(last.text)) {
            name.assign(n.text.c_str());
            makeUniqueName(nameID, &name);
            if (storeName(nameID, n.record, name.text)) ++renamed;
            continue;
        }
        last.assign(folded.text);
        haveLast = true;
    }
    (void)lock.release();
    return renamed;
}
