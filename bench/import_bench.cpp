// Text import and the value-order walk against SQLite, on the seeded records of
// bench/support/benchdb.h written as import lines (10 fields, several values joined by '|',
// 5% links as '>' and the linked record's name).
//
//   import_shared     ZTFile::importRecord per line, opened   vs  the same rows inserted into
//                     shared: the lock of each line flushes       rows(record, field, position,
//                     (and syncs) at its end                      value, key), indexes (field,
//                                                                 key, record) and (record, field,
//                                                                 position); a transaction per
//                                                                 line, WAL, synchronous=FULL
//   import_exclusive  opened exclusive: the import flushes   vs  a transaction per 100 lines,
//                     (and syncs) every 100th line                 locking_mode=EXCLUSIVE,
//                                                                 synchronous=FULL
//   walk              ZTAtom::findValue + findNextValue over  vs  SELECT record, value FROM rows
//                     every value of one field, texts read        WHERE field=? ORDER BY key
//
// Both sides write the same rows: the values, a membership row per value of the import set's
// first field, and for a link the lookup of the linked name (made as a new record in the
// linked set when missing). The engine takes each record ID from its stored counter; SQLite
// counts in memory. Both have the same cache memory (--cache-kib). Each figure is the median of
// --reps runs; the ratio is our rate over SQLite's (above 1: we are faster). The walk runs on
// what the last exclusive import wrote.
//
// Flags besides Google Benchmark's own: --records=1000000 (exclusive import and walk)
// --shared-records=2000 (a sync per line: a million would take hours on either side)
// --reps=1 --cache-kib=8192 --dir=PATH

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/benchdb.h"
#include "bench/support/benchrun.h"
#include "ztdb/ztatom.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztset.h"

namespace {

namespace fs = std::filesystem;
using qvbench::BenchGenerator;
using qvbench::BenchOptions;

constexpr uint32_t kNoPosition = 65024;
constexpr uint32_t kImportSet = 900001;  // SQLite's IDs of the import set and the linked sets
constexpr uint32_t kLinkedSets = 900100;

std::string gDir;
BenchOptions gOptions;
uint32_t gSharedRecords = 2000;
int gReps = 1;
int gCacheKiB = 8192;
qvbench::Rates gRates;  // figure/engine -> operations per second
std::vector<std::string> gLines;
std::string gHeader;
uint32_t gWalkField = 0;  // the walked field's ID in our database
long gWalkValues = -1;    // how many values our walk met

std::string base() {
    return gDir + "/import";
}

std::string sqlitePath() {
    return gDir + "/import.sqlite";
}

void removeDatabases() {
    qvbench::removeDatabaseFiles(base());
}

// A new database with the import's fields and set, and for every field after the first a set
// named like it whose first field is the first column's, so that '>' values link there.
std::unique_ptr<ZTFile> prepareOurs(bool exclusive, ZTSet* fields, uint32_t* setID) {
    {
        ZTFile made(base().c_str());
        if (!made.create(3, 30, 30)) return nullptr;
    }
    auto file = std::make_unique<ZTFile>(base().c_str());
    file->setBuffering(gCacheKiB);
    const uint32_t mode = exclusive ? 7 : 3;
    if (file->open(mode, false) != mode) return nullptr;
    fields->init(file.get(), 0);
    *setID = file->prepareImport("Import", gHeader.c_str(), fields, true, true, nullptr);
    if (*setID == 0) return nullptr;
    for (uint32_t i = 1; i < fields->size; ++i) {
        ZTStr name;
        uint32_t linked = 0;
        if (!file->findFieldName((*fields)[i], &name) ||
            file->storeSetName(&linked, name.text) != 2)
            return nullptr;
        ZTSet list(file.get(), linked);
        list.insert((*fields)[0], 0);
        if (!list.save(nullptr)) return nullptr;
    }
    return file;
}

void importOurs(benchmark::State& state, bool exclusive, uint32_t lines, const char* figure) {
    for (auto _ : state) {
        state.PauseTiming();
        removeDatabases();
        ZTSet fields;
        uint32_t setID = 0;
        std::unique_ptr<ZTFile> file = prepareOurs(exclusive, &fields, &setID);
        if (!file) {
            state.SkipWithError("prepare failed");
            return;
        }
        state.ResumeTiming();
        long failed = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (uint32_t i = 0; i < lines; ++i)
            if (file->importRecord(gLines[i].c_str(), &fields, setID, 0, nullptr) == 0) ++failed;
        if (!file->flush()) ++failed;
        qvbench::noteRate(state, &gRates, figure, long(lines), t0);
        if (failed) state.SkipWithError("lines not imported");
        gWalkField = fields.size > 1 ? fields[1] : 0;
    }
}

// The import's rows in SQLite, written the way importRecord writes them.
class SqliteImport {
  public:
    bool open(bool exclusive) {
        if (sqlite3_open(sqlitePath().c_str(), &db_) != SQLITE_OK) return false;
        // Exclusive first: a WAL then needs no shared memory.
        std::string setup = exclusive ? "PRAGMA locking_mode=EXCLUSIVE;" : "";
        setup += "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA cache_size=-" +
                 std::to_string(gCacheKiB) + ";";
        setup +=
            "CREATE TABLE rows(record INTEGER, field INTEGER, position INTEGER, value TEXT, key "
            "BLOB);"
            "CREATE INDEX rows_value ON rows(field, key, record);"
            "CREATE INDEX rows_record ON rows(record, field, position);";
        return exec(setup.c_str()) &&
               sqlite3_prepare_v2(db_, "INSERT INTO rows VALUES(?1, ?2, ?3, ?4, ?5)", -1, &insert_,
                                  nullptr) == SQLITE_OK &&
               sqlite3_prepare_v2(db_,
                                  "SELECT record FROM rows WHERE field=?1 AND key=?2 AND value=?3 "
                                  "LIMIT 1",
                                  -1, &find_, nullptr) == SQLITE_OK;
    }
    ~SqliteImport() {
        sqlite3_finalize(insert_);
        sqlite3_finalize(find_);
        sqlite3_close(db_);
    }
    bool exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == 0; }

    // Fields are numbered by column from 1; the first column's field is 1.
    bool line(const std::string& text) {
        const uint32_t record = ++next_;
        uint32_t column = 0, position = 1;
        std::string value;
        std::vector<std::string> firsts;
        for (size_t i = 0;; ++i) {
            const char c = i < text.size() ? text[i] : 0;
            if (c != '\t' && c != '|' && c != 0) {
                value.push_back(c);
                continue;
            }
            if (!value.empty()) {
                if (value[0] == '>' && column > 0) {
                    value.erase(0, 1);
                    if (!linkTarget(column, value)) return false;
                }
                if (!row(record, column + 1, position, value)) return false;
                if (column == 0) firsts.push_back(value);
            }
            if (c == 0) break;
            value.clear();
            if (c == '|') {
                ++position;
            } else {
                ++column;
                position = 1;
            }
        }
        if (firsts.empty()) firsts.push_back("?");
        for (const std::string& f : firsts)
            if (!row(record, kImportSet, kNoPosition, f)) return false;
        return true;
    }

  private:
    bool row(uint32_t record, uint32_t field, uint32_t position, const std::string& value) {
        const std::string key = qvbench::benchKey(value);
        sqlite3_bind_int64(insert_, 1, record);
        sqlite3_bind_int64(insert_, 2, field);
        sqlite3_bind_int64(insert_, 3, position);
        sqlite3_bind_text(insert_, 4, value.data(), int(value.size()), SQLITE_STATIC);
        sqlite3_bind_blob(insert_, 5, key.data(), int(key.size()), SQLITE_STATIC);
        const bool ok = sqlite3_step(insert_) == SQLITE_DONE;
        sqlite3_reset(insert_);
        return ok;
    }
    // The record whose first-column value is the name, made in the column's linked set when
    // there is none.
    bool linkTarget(uint32_t column, const std::string& name) {
        const std::string key = qvbench::benchKey(name);
        sqlite3_bind_int64(find_, 1, 1);
        sqlite3_bind_blob(find_, 2, key.data(), int(key.size()), SQLITE_STATIC);
        sqlite3_bind_text(find_, 3, name.data(), int(name.size()), SQLITE_STATIC);
        const int rc = sqlite3_step(find_);
        sqlite3_reset(find_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) return false;
        const uint32_t target = ++next_;
        return row(target, 1, 1, name) && row(target, kLinkedSets + column, kNoPosition, name);
    }

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* find_ = nullptr;
    uint32_t next_ = 1000;
};

void importSqlite(benchmark::State& state, bool exclusive, uint32_t lines, const char* figure,
                  uint32_t perCommit) {
    for (auto _ : state) {
        state.PauseTiming();
        removeDatabases();
        auto db = std::make_unique<SqliteImport>();
        if (!db->open(exclusive)) {
            state.SkipWithError("open failed");
            return;
        }
        state.ResumeTiming();
        long failed = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (uint32_t i = 0; i < lines; ++i) {
            if (i % perCommit == 0 && !db->exec("BEGIN")) ++failed;
            if (!db->line(gLines[i])) ++failed;
            if ((i + 1) % perCommit == 0 || i + 1 == lines)
                if (!db->exec("COMMIT")) ++failed;
        }
        qvbench::noteRate(state, &gRates, figure, long(lines), t0);
        if (failed) state.SkipWithError("lines not imported");
    }
}

void importSharedOurs(benchmark::State& state) {
    importOurs(state, false, gSharedRecords, "import_shared/quorvane");
}
void importSharedSqlite(benchmark::State& state) {
    importSqlite(state, false, gSharedRecords, "import_shared/sqlite", 1);
}
void importExclusiveOurs(benchmark::State& state) {
    importOurs(state, true, gOptions.records, "import_exclusive/quorvane");
    // What this run wrote stays for the walk, in place of an earlier run's walk database
    // (whose journal and change sequence go with it).
    qvbench::removeDatabaseFiles(base() + "-walk");
    for (const char* ext : {".ZT", ".IX", ".ZT2", ".IX2"})
        fs::rename(base() + ext, base() + "-walk" + ext);
    qvbench::removeDatabaseFiles(base());
}
void importExclusiveSqlite(benchmark::State& state) {
    importSqlite(state, true, gOptions.records, "import_exclusive/sqlite", 100);
    fs::rename(sqlitePath(), gDir + "/walk.sqlite");
}

void walkOurs(benchmark::State& state) {
    ZTFile file((base() + "-walk").c_str());
    file.setBuffering(gCacheKiB);
    const bool opened = file.open(3, false) == 3;
    // A run of the walk alone (a filter) takes the field from the database an earlier run left.
    if (opened && gWalkField == 0)
        gWalkField = file.findField(BenchGenerator(gOptions).fieldName(1).c_str());
    if (!opened || gWalkField == 0) {
        state.SkipWithError("open failed");
        return;
    }
    for (auto _ : state) {
        long values = 0;
        uint64_t bytes = 0;
        auto t0 = std::chrono::steady_clock::now();
        ZTAtom atom(&file, 0);
        for (int r = atom.findValue(gWalkField, "", false, false, false, 0); r == 0;
             r = atom.findNextValue(&atom, 1, false)) {
            ++values;
            bytes += atom.value.length;
        }
        qvbench::noteRate(state, &gRates, "walk/quorvane", values, t0);
        benchmark::DoNotOptimize(bytes);
        gWalkValues = values;
    }
}

void walkSqlite(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_stmt* select = nullptr;
    if (sqlite3_open_v2((gDir + "/walk.sqlite").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK ||
        sqlite3_exec(db, ("PRAGMA cache_size=-" + std::to_string(gCacheKiB)).c_str(), nullptr,
                     nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "SELECT record, value FROM rows WHERE field=2 ORDER BY key", -1,
                           &select, nullptr) != SQLITE_OK) {
        state.SkipWithError("open failed");
        sqlite3_close(db);
        return;
    }
    for (auto _ : state) {
        long values = 0;
        uint64_t bytes = 0;
        auto t0 = std::chrono::steady_clock::now();
        while (sqlite3_step(select) == SQLITE_ROW) {
            ++values;
            bytes += uint64_t(sqlite3_column_bytes(select, 1));
        }
        sqlite3_reset(select);
        qvbench::noteRate(state, &gRates, "walk/sqlite", values, t0);
        benchmark::DoNotOptimize(bytes);
        if (gWalkValues >= 0 && values != gWalkValues) state.SkipWithError("value counts differ");
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
}

void printRatios() {
    qvbench::printRatios(gRates, {"import_shared", "import_exclusive", "walk"}, 18);
    std::printf(
        "(import: lines per second, %u shared and %u exclusive; walk: values per second over the "
        "%ld values of one field; medians of %d runs; %d KiB cache each; ratio = our rate / "
        "SQLite's)\n",
        gSharedRecords, gOptions.records, gWalkValues, gReps, gCacheKiB);
}

}  // namespace

int main(int argc, char** argv) {
    gOptions.sets = 1;
    std::string dir;
    const std::vector<char*> rest = qvbench::takeFlags(
        argc, argv,
        {qvbench::countFlag("--records", &gOptions.records),
         qvbench::countFlag("--shared-records", &gSharedRecords),
         qvbench::numberFlag("--reps", &gReps, 1),
         qvbench::numberFlag("--cache-kib", &gCacheKiB, 64), qvbench::textFlag("--dir", &dir)});
    gSharedRecords = std::min(gSharedRecords, gOptions.records);
    const qvbench::BenchFolder folder(dir);
    if (!folder.ok()) return 1;
    gDir = folder.path();
    const BenchGenerator gen(gOptions);
    for (uint32_t f = 0; f < gOptions.fields; ++f) gHeader += (f ? "\t" : "") + gen.fieldName(f);
    gLines.reserve(gOptions.records);
    for (uint32_t i = 0; i < gOptions.records; ++i) gLines.push_back(gen.importLine(gen.record(i)));
    qvbench::runFigures(rest,
                        {{"import_shared/quorvane", importSharedOurs},
                         {"import_shared/sqlite", importSharedSqlite},
                         {"import_exclusive/quorvane", importExclusiveOurs},
                         {"import_exclusive/sqlite", importExclusiveSqlite},
                         {"walk/quorvane", walkOurs},
                         {"walk/sqlite", walkSqlite}},
                        gReps);
    printRatios();
    return 0;
}
