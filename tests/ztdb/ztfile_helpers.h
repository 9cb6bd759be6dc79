#pragma once
// Test helpers for databases: a folder with a created database, rows appended through the
// table library under the database's counted lock, and files compared byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/dbcheck.h"
#include "support/dbfixture.h"
#include "xbase/temp_dir.h"
#include "xbase/xbase.h"
#include "ztdb/ztcodec.h"
#include "ztdb/ztfile.h"

inline const char* const kDatabaseExtensions[] = {"ZT", "IX", "ZT2", "IX2"};

// The base path of a new database made by ZTFile::create in the folder.
inline std::string createDatabase(const TempDir& dir, const std::string& name = "db") {
    std::string base = dir.file(name);
    ZTFile file(base.c_str());
    EXPECT_TRUE(file.create(3, 30, 30));
    return base;
}

// A sound database of a few rows written by the fixture builder; its base path.
inline std::string writeDatabase(const TempDir& dir, const std::string& name = "db") {
    dbcheck::Fixture fx;
    fx.counter(1010);
    uint32_t town = fx.field(1001, "Town");
    fx.set(1002, "Places", {town});
    for (uint32_t r = 1003; r < 1009; ++r) {
        fx.value(r, 1001, 1, "Town " + std::to_string(r));
        fx.member(r, 1002);
    }
    std::string base = dir.file(name);
    EXPECT_TRUE(fx.write(base)) << fx.error;
    return base;
}

// Appends a row (record, the record as its type, position 1, no value) through the library, under
// the database's counted lock; the flush happens at the outermost unlock.
inline bool appendRow(ZTFile& file, uint32_t record) {
    if (!file.lock(false)) return false;
    table4* t = file.getRowTable();
    unsigned char id[4], pos[2], value[4];
    std::string key(size_t(file.getLenKey()), '\0');
    file.makeKey("", key.data(), false, false, false, false);
    writeBase255(record, id, file.getLenID());
    writeBase255(1, pos, 2);
    writeBase255(0, value, 4);
    bool ok =
        table4beginAppend(t, 0) == 0 && table4blank(t) == 0 &&
        field4assignBytes(table4field(t, 1), reinterpret_cast<char*>(id), file.getLenID()) == 0 &&
        field4assignBytes(table4field(t, 2), reinterpret_cast<char*>(id), file.getLenID()) == 0 &&
        field4assignBytes(table4field(t, 3), reinterpret_cast<char*>(pos), 2) == 0 &&
        field4assignBytes(table4field(t, 4), key.data(), int32_t(key.size())) == 0 &&
        field4assignBytes(table4field(t, 5), reinterpret_cast<char*>(value), 4) == 0 &&
        field4assign(table4field(t, 6), "\x01") == 0 && table4append(t) == 0;
    file.markRowsChanged();
    return file.unlock() && ok;
}

// Every byte of the four files and their modification times, to show that nothing was written.
struct FilesState {
    std::string bytes[4];
    int64_t mtimes[4] = {};
    bool operator==(const FilesState& o) const {
        for (int i = 0; i < 4; ++i)
            if (bytes[i] != o.bytes[i] || mtimes[i] != o.mtimes[i]) return false;
        return true;
    }
};

inline FilesState filesState(const std::string& base) {
    FilesState s;
    for (int i = 0; i < 4; ++i) {
        std::string path = ZTFile::findTablePath(base, kDatabaseExtensions[i]);
        s.bytes[i] = dbcheck::fileBytes(path);
        struct stat st {};
        if (stat(path.c_str(), &st) == 0)
            s.mtimes[i] = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return s;
}

// The checker's report on a database, for assertions.
inline dbcheck::Report checkFiles(const std::string& base) {
    return dbcheck::checkDatabase(base);
}
