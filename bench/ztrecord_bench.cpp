// Record images against SQLite.
//
//   write   new records of 10 values through ZTRecord::write,  vs  10 rows inserted into
//           opened shared: one lock per record, whose last         rows(record, field, position,
//           unlock flushes and syncs                               value, key) with indexes
//                                                                  (field, key, record) and
//                                                                  (record, field, position); a
//                                                                  transaction per record, WAL,
//                                                                  synchronous=FULL
//   load20  ZTRecord::read of a record of 20 values and every  vs  SELECT field, position, value
//           value's text, warm, on the seeded database of          FROM rows WHERE record=?
//           bench/support/benchdb.h (1M records) to which          ORDER BY field, position
//           1,000 records of 20 values (2 in each of 10            (indexed)
//           fields) were added
//
// Both sides write the same texts (the seeded records' values) and the engine's index key of
// each; both read back and check every text. Both are opened shared with the same cache memory
// (--cache-kib). Each figure is the median of --reps runs; the ratio is our rate over SQLite's
// (above 1: we are faster).
//
// Flags besides Google Benchmark's own: --records=1000000 --new-records=1000 --loads=100000
// --reps=3 --cache-kib=8192 --exclusive (load20 with both opened for this process alone) --dir=PATH
// (the seeded databases are built there once and kept; without it they go to a temporary folder
// removed at the end).

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/support/benchdb.h"
#include "bench/support/benchrun.h"
#include "ztdb/ztatom.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztrecord.h"

namespace {

namespace fs = std::filesystem;
using qvbench::BenchGenerator;
using qvbench::BenchOptions;

constexpr uint32_t kFields = 10;
constexpr uint32_t kWide = 1000;  // records of 20 values added to the seeded database
constexpr uint32_t kFirstField = 1001;

std::string gDir;
BenchOptions gOptions;
uint32_t gNewRecords = 1000;
long gLoads = 100000;
int gReps = 3;
int gCacheKiB = 8192;
bool gExclusive = false;  // load20 with both opened for this process alone
qvbench::Rates gRates;

// The texts of one record: value k goes into field kFirstField + k % kFields, so a record of
// 2 * kFields values holds two values in each field.
std::vector<std::string> textsFor(const BenchGenerator& gen, uint32_t index, uint32_t count) {
    const qvbench::BenchRecord rec = gen.record(index % gen.options().records);
    std::vector<std::string> texts;
    for (uint32_t k = 0; k < count; ++k)
        texts.push_back(rec.values[k % rec.values.size()].text + " " + std::to_string(k));
    return texts;
}

uint32_t wideID(const BenchGenerator& gen, uint32_t k) {
    return gen.recordID(gOptions.records) + 1 + k;
}

std::string seededBase() {
    return gDir + "/seeded";
}
std::string seededSqlite() {
    return gDir + "/seeded.sqlite";
}

// The seeded databases with the wide records added, built unless a previous run left them.
bool prepareSeeded(const BenchGenerator& gen) {
    const std::string wanted =
        std::to_string(gOptions.seed) + " " + std::to_string(gOptions.records) + " wide 1";
    if (qvbench::builtAlready(gDir, wanted)) return true;
    qvbench::removeDatabaseFiles(seededBase());
    std::string error;
    if (!qvbench::writeBenchDatabase(gen, seededBase(), &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(seededSqlite().c_str(), &db) == SQLITE_OK &&
              qvbench::writeBenchSqlite(gen, db, &error);
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
         sqlite3_prepare_v2(db, "INSERT INTO rows VALUES(?1, ?2, ?3, ?4, ?5)", -1, &insert,
                            nullptr) == SQLITE_OK;
    ZTFile file(seededBase().c_str());
    ok = ok && file.open(7, false) == 7;
    ZTAtom atom(&file, 0);
    for (uint32_t k = 0; ok && k < kWide; ++k) {
        const std::vector<std::string> texts = textsFor(gen, k * 7919, 2 * kFields);
        for (uint32_t v = 0; ok && v < texts.size(); ++v) {
            const uint32_t field = kFirstField + v % kFields, position = 1 + v / kFields;
            ok = atom.write(wideID(gen, k), field, position, texts[v].c_str(), 0, true) ==
                 ZTAtom::kWriteAdded;
            const std::string key = qvbench::benchKey(texts[v]);
            sqlite3_bind_int64(insert, 1, wideID(gen, k));
            sqlite3_bind_int64(insert, 2, field);
            sqlite3_bind_int64(insert, 3, position);
            sqlite3_bind_text(insert, 4, texts[v].c_str(), int(texts[v].size()), SQLITE_STATIC);
            sqlite3_bind_blob(insert, 5, key.data(), int(key.size()), SQLITE_STATIC);
            ok = ok && sqlite3_step(insert) == SQLITE_DONE;
            sqlite3_reset(insert);
        }
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    ok = ok && file.flush();
    file.close();
    sqlite3_close(db);
    if (!ok) {
        std::fprintf(stderr, "the wide records could not be added\n");
        return false;
    }
    qvbench::noteBuilt(gDir, wanted);
    return true;
}

sqlite3* openSqlite(benchmark::State& state, const std::string& path, bool wal) {
    sqlite3* db = nullptr;
    std::string setup = "PRAGMA cache_size=-" + std::to_string(gCacheKiB) + ";";
    if (wal) setup += "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;";
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        state.SkipWithError("open failed");
    return db;
}

// ---- write ----

int gWriteRun = 0;

void writeOurs(benchmark::State& state) {
    const BenchGenerator gen(gOptions);
    const std::string base = gDir + "/write" + std::to_string(gWriteRun++);
    {
        ZTFile maker(base.c_str());
        if (!maker.create(3, 30, 30)) state.SkipWithError("create failed");
    }
    ZTFile file(base.c_str());
    file.setBuffering(gCacheKiB);
    if (file.open(3, false) != 3) state.SkipWithError("open failed");
    ZTRecord image(&file, nullptr, nullptr, nullptr);
    std::vector<std::vector<std::string>> all;
    for (uint32_t i = 0; i < gNewRecords; ++i) all.push_back(textsFor(gen, i, kFields));
    for (auto _ : state) {
        long failed = 0;
        std::vector<uint32_t> made;
        auto t0 = std::chrono::steady_clock::now();
        for (const std::vector<std::string>& texts : all) {
            image.clear(true);
            for (uint32_t v = 0; v < texts.size(); ++v) {
                const int at = image.insertValue(ZTRecord::kNoIndex, kFirstField + v, 3);
                if (at < 0 || !image.setText(uint32_t(at), texts[v].c_str())) ++failed;
            }
            if (image.write(nullptr) != 1) ++failed;
            made.push_back(image.getRecordNumber());
        }
        qvbench::noteRate(state, &gRates, "write/quorvane", long(all.size()), t0);
        // Read back: every text where it belongs.
        ZTRecord check(&file, nullptr, nullptr, nullptr);
        for (size_t i = 0; i < made.size(); ++i) {
            check.read(made[i]);
            if (check.getValueCount() != kFields) ++failed;
            for (uint32_t v = 0; v < kFields && v < check.getValueCount(); ++v)
                if (all[i][v] != check.getText(v)) ++failed;
        }
        if (failed) state.SkipWithError("records not written");
    }
}

void writeSqlite(benchmark::State& state) {
    const BenchGenerator gen(gOptions);
    const std::string path = gDir + "/write" + std::to_string(gWriteRun++) + ".sqlite";
    sqlite3* db = openSqlite(state, path, true);
    sqlite3_exec(db,
                 "CREATE TABLE rows(record INTEGER, field INTEGER, position INTEGER, value TEXT, "
                 "key BLOB);"
                 "CREATE INDEX rows_value ON rows(field, key, record);"
                 "CREATE INDEX rows_record ON rows(record, field, position);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO rows VALUES(?1, ?2, ?3, ?4, ?5)", -1, &insert, nullptr);
    std::vector<std::vector<std::string>> all;
    for (uint32_t i = 0; i < gNewRecords; ++i) all.push_back(textsFor(gen, i, kFields));
    uint32_t next = 1001;
    for (auto _ : state) {
        long failed = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (const std::vector<std::string>& texts : all) {
            const uint32_t record = next++;
            if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) ++failed;
            for (uint32_t v = 0; v < texts.size(); ++v) {
                const std::string key = qvbench::benchKey(texts[v]);
                sqlite3_bind_int64(insert, 1, record);
                sqlite3_bind_int64(insert, 2, kFirstField + v);
                sqlite3_bind_int64(insert, 3, 1);
                sqlite3_bind_text(insert, 4, texts[v].c_str(), int(texts[v].size()), SQLITE_STATIC);
                sqlite3_bind_blob(insert, 5, key.data(), int(key.size()), SQLITE_STATIC);
                if (sqlite3_step(insert) != SQLITE_DONE) ++failed;
                sqlite3_reset(insert);
            }
            if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) ++failed;
        }
        qvbench::noteRate(state, &gRates, "write/sqlite", long(all.size()), t0);
        if (failed) state.SkipWithError("rows not written");
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
}

// ---- load20 ----

std::vector<uint32_t> loadOrder() {
    std::mt19937 rng(7);
    std::vector<uint32_t> order;
    for (long i = 0; i < gLoads; ++i) order.push_back(rng() % kWide);
    return order;
}

void load20Ours(benchmark::State& state) {
    const BenchGenerator gen(gOptions);
    ZTFile file(seededBase().c_str());
    file.setBuffering(gCacheKiB);
    const uint32_t mode = gExclusive ? 7 : 3;
    if (file.open(mode, false) != mode) state.SkipWithError("open failed");
    std::vector<std::vector<std::string>> wide;
    for (uint32_t k = 0; k < kWide; ++k) wide.push_back(textsFor(gen, k * 7919, 2 * kFields));
    const std::vector<uint32_t> order = loadOrder();
    ZTRecord image(&file, nullptr, nullptr, nullptr);
    // Warm: every wide record read once.
    for (uint32_t k = 0; k < kWide; ++k) {
        image.read(wideID(gen, k));
        image.getValueCount();
    }
    for (auto _ : state) {
        long wrong = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (uint32_t k : order) {
            image.read(wideID(gen, k));
            const uint32_t n = image.getValueCount();
            if (n != 2 * kFields) {
                ++wrong;
                continue;
            }
            // Field by field: value v of the record is the (v / 2)-th field's (v % 2)-th value.
            for (uint32_t v = 0; v < n; ++v)
                if (wide[k][(v % 2) * kFields + v / 2] != image.getText(v)) ++wrong;
        }
        qvbench::noteRate(state, &gRates, "load20/quorvane", long(order.size()), t0);
        if (wrong) state.SkipWithError("wrong values");
    }
}

void load20Sqlite(benchmark::State& state) {
    const BenchGenerator gen(gOptions);
    sqlite3* db = openSqlite(state, seededSqlite(), false);
    if (gExclusive) sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT field, position, value FROM rows WHERE record=?1 ORDER BY field, "
                       "position",
                       -1, &select, nullptr);
    std::vector<std::vector<std::string>> wide;
    for (uint32_t k = 0; k < kWide; ++k) wide.push_back(textsFor(gen, k * 7919, 2 * kFields));
    const std::vector<uint32_t> order = loadOrder();
    auto run = [&](uint32_t k) {
        long wrong = 0;
        uint32_t v = 0;
        sqlite3_bind_int64(select, 1, wideID(gen, k));
        for (; sqlite3_step(select) == SQLITE_ROW; ++v) {
            const char* text = reinterpret_cast<const char*>(sqlite3_column_text(select, 2));
            if (v >= 2 * kFields || wide[k][(v % 2) * kFields + v / 2] != text) ++wrong;
        }
        sqlite3_reset(select);
        return wrong + (v != 2 * kFields);
    };
    for (uint32_t k = 0; k < kWide; ++k) run(k);
    for (auto _ : state) {
        long wrong = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (uint32_t k : order) wrong += run(k);
        qvbench::noteRate(state, &gRates, "load20/sqlite", long(order.size()), t0);
        if (wrong) state.SkipWithError("wrong values");
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
}

void printFigures() {
    qvbench::printRatios(gRates, {"write", "load20"}, 8);
    auto load = gRates.find("load20/quorvane");
    if (load != gRates.end())
        std::printf("load20: %.1f us per record (ours), ", 1e6 / qvbench::median(load->second));
    auto theirs = gRates.find("load20/sqlite");
    if (theirs != gRates.end())
        std::printf("%.1f us (SQLite)\n", 1e6 / qvbench::median(theirs->second));
    std::printf(
        "(%u new records of %u values; %ld loads of %u-value records among %u; medians of %d "
        "runs; %d KiB cache each; load20 opened %s; ratio = our rate / SQLite's)\n",
        gNewRecords, kFields, gLoads, 2 * kFields, gOptions.records + kWide, gReps, gCacheKiB,
        gExclusive ? "exclusive" : "shared");
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    long newRecords = gNewRecords;
    const std::vector<char*> rest = qvbench::takeFlags(
        argc, argv,
        {qvbench::countFlag("--records", &gOptions.records),
         qvbench::numberFlag("--new-records", &newRecords, 1L),
         qvbench::numberFlag("--loads", &gLoads, 1L), qvbench::numberFlag("--reps", &gReps, 1),
         qvbench::numberFlag("--cache-kib", &gCacheKiB, 64),
         qvbench::switchFlag("--exclusive", &gExclusive), qvbench::textFlag("--dir", &dir)});
    gNewRecords = uint32_t(newRecords);
    const qvbench::BenchFolder folder(dir);
    if (!folder.ok()) return 1;
    gDir = folder.path();
    const BenchGenerator gen(gOptions);
    if (!prepareSeeded(gen)) return 1;
    qvbench::runFigures(rest,
                        {{"write/quorvane", writeOurs},
                         {"write/sqlite", writeSqlite},
                         {"load20/quorvane", load20Ours},
                         {"load20/sqlite", load20Sqlite}},
                        gReps);
    printFigures();
    // The written databases are scratch; the seeded ones stay in a folder given with --dir.
    for (int k = 0; k < gWriteRun; ++k)
        qvbench::removeDatabaseFiles(gDir + "/write" + std::to_string(k));
    return 0;
}
