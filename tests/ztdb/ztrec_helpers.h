#pragma once
// Test helpers for rows and value chains: rows written through the row cursor under the
// database's lock, and value-order walks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ztdb/ztrec.h"
#include "ztfile_helpers.h"

// Writes a row (record, type, position) under the lock: a value of its own, or with `link` a
// link to that value number. Its value number, 0 on failure.
inline uint32_t putRow(ZTFile& file, uint32_t record, uint32_t type, uint32_t position,
                       const char* text, uint32_t link, uint8_t flags) {
    if (!file.lock(false)) return 0;
    ZTRec rec(&file);
    bool ok = rec.newRow();
    if (ok) {
        rec.recordID = record;
        rec.typeID = type;
        rec.position = position;
        rec.flags = flags;
        ok = rec.writeValue(text, link);
    }
    return file.unlock() && ok ? rec.valueID : 0;
}

inline uint32_t addValue(ZTFile& file, uint32_t record, uint32_t type, uint32_t position,
                         const std::string& text, uint8_t flags = 1) {
    return putRow(file, record, type, position, text.c_str(), 0, flags);
}

inline bool addLink(ZTFile& file, uint32_t record, uint32_t type, uint32_t position, uint32_t value,
                    uint8_t flags = 1) {
    return putRow(file, record, type, position, nullptr, value, flags) == value;
}

// The text of a value number as the cursor reads it ("<unread>" when it cannot).
inline std::string chainText(ZTFile& file, uint32_t value) {
    ZTRec rec(&file);
    ZTStr text;
    return rec.readChain(value, &text) ? std::string(text.text) : std::string("<unread>");
}

struct WalkedRow {
    uint32_t record, position, value;
    uint8_t flags;
    std::string key;
};

// The rows of a type in value order (ZTW1), each with its key.
inline std::vector<WalkedRow> typeWalk(ZTFile& file, uint32_t type, bool follow = false) {
    std::vector<WalkedRow> rows;
    ZTRec rec(&file);
    for (int r = rec.seekInType(type, "", follow, false, false); r == 0;
         r = rec.skipInType(1, follow, false)) {
        const char* key = rec.rowKey();
        rows.push_back({rec.recordID, rec.position, rec.valueID, rec.flags,
                        key ? std::string(key, size_t(file.getLenKey())) : std::string()});
    }
    return rows;
}

// A created database, opened shared with verify off (so that no counter is written).
struct NewDatabase {
    TempDir dir;
    std::string base;
    ZTFile file;
    explicit NewDatabase(uint32_t mode = 3, bool verify = false)
        : base(createDatabase(dir)), file(base.c_str()) {
        EXPECT_EQ(file.open(mode, verify), mode);
    }
    // Closes the database and checks it; reopens it.
    dbcheck::Report check(bool dayFirst = false) {
        const uint32_t mode = file.getOpenMode() & 15;
        file.close();
        dbcheck::Options options;
        options.dayFirst = dayFirst;
        dbcheck::Report report = dbcheck::checkDatabase(base, options);
        EXPECT_EQ(file.open(mode, false), mode);
        return report;
    }
};
