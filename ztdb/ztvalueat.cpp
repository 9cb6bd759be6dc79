#include "ztdb/ztvalueat.h"

#include "ztdb/ztassert.h"
#include "ztdb/ztcodec.h"

int seekPosition(ZTRec* rec, uint32_t record, uint32_t type, uint32_t position) {
    // From the position before: the rows of one position sort by their keys, and a seek with
    // any one key could land past some of them.
    int r = rec->seek(record, type, position > 0 ? position - 1 : 0, "");
    while (r == 0 && rec->typeID == type && rec->position < position) r = rec->skip(1);
    return r == 0 && rec->typeID == type && rec->position == position ? 0 : -1;
}

uint32_t firstOwnValue(ZTFile* file, uint32_t record, uint32_t type) {
    ZTRec rec(file);
    for (int r = rec.seek(record, type, 0, ""); r == 0 && rec.typeID == type; r = rec.skip(1))
        if (!rec.isLinkRow() && !rec.isMemberRow()) return rec.valueID;
    return 0;
}

bool storeValueAt(ZTFile* file, uint32_t record, uint32_t type, uint32_t position, const char* text,
                  uint32_t linkValueID, uint32_t* valueID) {
    if (!ZT_ASSERT(file && record && type && position)) return false;
    if (valueID) *valueID = 0;
    const bool empty = linkValueID == 0 && (!text || !*text);
    ZTRec rec(file);
    bool ok = true;
    if (seekPosition(&rec, record, type, position) == 0) {
        if (empty) return rec.deleteRow();
        if (linkValueID != 0) {
            if (!rec.isLinkRow() || rec.valueID != linkValueID)
                ok = rec.setRowValue(linkValueID, nullptr, true);
        } else {
            ZTStr stored;
            if (rec.isLinkRow() || !rec.readChain(rec.valueID, &stored) || !stored.equals(text))
                ok = rec.writeValue(text, 0);
        }
    } else {
        return empty || addValueRow(file, record, type, position, text, linkValueID, valueID);
    }
    if (ok && valueID) *valueID = rec.valueID;
    return ok;
}

bool addValueRow(ZTFile* file, uint32_t record, uint32_t type, uint32_t position, const char* text,
                 uint32_t linkValueID, uint32_t* valueID) {
    ZTRec rec(file);
    if (!rec.newRow()) return false;
    rec.recordID = record;
    rec.typeID = type;
    rec.position = position;
    if (!rec.writeValue(linkValueID ? nullptr : text, linkValueID)) return false;
    if (valueID) *valueID = rec.valueID;
    return true;
}

bool forEachRowOfValue(ZTFile* file, uint32_t valueID,
                       const std::function<void(const ZTRec&)>& visit) {
    if (valueID == 0) return true;
    table4* t = file->getRowTable();
    if (table4selectTag(t, file->getRowTag(3)) == nullptr) return false;
    unsigned char key[4];
    writeBase255(valueID, key, 4);
    int32_t rc = table4seekN(t, reinterpret_cast<const char*>(key), 4);
    ZTRec row(file);
    for (int32_t left = table4recordCount(t) + 1; left > 0 && (rc == 0 || rc == r4after); --left) {
        row.unpack();
        if (row.valueID != valueID) return true;
        visit(row);
        rc = table4skip(t, 1);
    }
    if (rc == r4eof) return true;
    (void)error4setCode(file->getEnv(), 0);
    return false;
}

uint32_t findExactValue(ZTFile* file, uint32_t type, const char* text, uint32_t* valueID) {
    if (valueID) *valueID = 0;
    if (!text || !*text) return 0;
    ZTReadBracket bracket(file);
    ZTRec rec(file);
    ZTStr stored;
    // Rows of one key: texts that key alike but differ are passed by their text.
    for (int r = rec.seekInType(type, text, false, false, true); r == 0;
         r = rec.skipInType(1, false, true)) {
        if (rec.isLinkRow() || rec.isMemberRow()) continue;
        if (!rec.readChain(rec.valueID, &stored) || !stored.equals(text)) continue;
        if (valueID) *valueID = rec.valueID;
        return rec.recordID;
    }
    return 0;
}
