#pragma once
// Test helpers for value cursors: field and set records made from rows, a record's rows read
// back, and the membership rows of a set.
#include <string>
#include <utility>
#include <vector>

#include "ztdb/ztatom.h"
#include "ztrec_helpers.h"
#include "ztvalue_helpers.h"

namespace atomtest {

// The record's rows of the type in record order (membership rows too), with their texts.
using Row = ::StoredValue;
using ::rowsOf;

// The texts of the record's own values of the type (membership rows left out), by position.
inline std::vector<std::string> ownTextsOf(ZTFile& file, uint32_t record, uint32_t type) {
    std::vector<std::string> texts;
    for (const Row& r : rowsOf(file, record, type))
        if (!(r.flags & ZTRec::kFlagMember)) texts.push_back(r.text);
    return texts;
}

inline std::vector<uint32_t> positionsOf(ZTFile& file, uint32_t record, uint32_t type) {
    std::vector<uint32_t> positions;
    for (const Row& r : rowsOf(file, record, type)) positions.push_back(r.position);
    return positions;
}

// A field record named name: the value number of its name.
inline uint32_t makeField(ZTFile& file, uint32_t id, const std::string& name) {
    return addValue(file, id, 1, 1, name);
}

// A set record whose field list links to the names of the fields (their name value numbers).
inline void makeSet(ZTFile& file, uint32_t id, const std::string& name,
                    const std::vector<uint32_t>& fieldNames) {
    addValue(file, id, 9, 1, name);
    for (size_t i = 0; i < fieldNames.size(); ++i)
        addLink(file, id, 1, uint32_t(i + 1), fieldNames[i]);
}

// (record, text) of the set's membership rows in value order.
inline std::vector<std::pair<uint32_t, std::string>> membersInOrder(ZTFile& file, uint32_t set) {
    std::vector<std::pair<uint32_t, std::string>> rows;
    ZTRec rec(&file);
    ZTStr text;
    for (int r = rec.seekInType(set, "", false, false, false); r == 0;
         r = rec.skipInType(1, false, false)) {
        if (!rec.readChain(rec.valueID, &text)) text.clear();
        rows.push_back({rec.recordID, text.text});
    }
    return rows;
}

}  // namespace atomtest
