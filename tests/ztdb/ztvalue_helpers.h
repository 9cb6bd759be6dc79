#pragma once
// Test helpers for records as the engine stores them: a record's rows of a type, read back
// through the row cursor, and field records made by name.
#include <string>
#include <vector>

#include "ztdb/ztrec.h"
#include "ztrec_helpers.h"

struct StoredValue {
    uint32_t position;
    uint8_t flags;
    uint32_t value;
    std::string text;  // the chain's text (a link's: the linked value's)
    bool operator==(const StoredValue& o) const {
        return position == o.position && flags == o.flags && value == o.value && text == o.text;
    }
};

// The record's rows of the type in record order (membership rows too).
inline std::vector<StoredValue> rowsOf(ZTFile& file, uint32_t record, uint32_t type) {
    std::vector<StoredValue> rows;
    ZTRec rec(&file);
    ZTStr text;
    for (int r = rec.seek(record, type, 0, ""); r == 0 && rec.typeID == type; r = rec.skip(1)) {
        if (!rec.readChain(rec.valueID, &text)) text.clear();
        rows.push_back({rec.position, rec.flags, rec.valueID, text.text});
    }
    return rows;
}

// The texts of the record's rows of the type, in record order.
inline std::vector<std::string> textsOf(ZTFile& file, uint32_t record, uint32_t type) {
    std::vector<std::string> texts;
    for (const StoredValue& v : rowsOf(file, record, type)) texts.push_back(v.text);
    return texts;
}

// Every row of the record: (type, position) pairs.
inline std::vector<std::pair<uint32_t, uint32_t>> typesOf(ZTFile& file, uint32_t record) {
    std::vector<std::pair<uint32_t, uint32_t>> rows;
    ZTRec rec(&file);
    for (int r = rec.seek(record, 0, 0, ""); r == 0; r = rec.skip(1))
        rows.push_back({rec.typeID, rec.position});
    return rows;
}

// Field records of these names (made when missing).
inline std::vector<uint32_t> makeFields(ZTFile& file, const std::vector<std::string>& names) {
    std::vector<uint32_t> ids;
    for (const std::string& n : names) ids.push_back(file.addField(n.c_str()));
    return ids;
}
