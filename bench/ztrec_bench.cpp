// Single values and names of a database against SQLite, on the seeded benchmark database
// (bench/support/benchdb.h): 1M records of 10 fields, 20% of fields with several values, texts
// with accents, numbers, dates, 3 sets, 5% links, and 10,000 field names.
//
//   getValue   ZTFile::getValue of a random record's field          vs  SELECT value FROM rows
//              (the value text, links read through)                      WHERE record=? AND
//                                                                        field=? ORDER BY position
//                                                                        LIMIT 1 (indexed)
//   findName   ZTFile::findName of one of the field names, asked in  vs  SELECT id FROM names
//              capitals (case and accents folded)                        WHERE name=? COLLATE
//                                                                        NOCASE (indexed NOCASE)
//
// Both are opened shared, as a user's program opens them, with the same cache memory
// (--cache-kib: the engine's block buffer, SQLite's cache_size). Every answer is checked against
// the generator. Each figure is the median of --reps runs; the ratio is our rate over SQLite's
// (above 1: we are faster).
//
// Flags besides Google Benchmark's own: --records=1000000 --names=10000 --queries=200000
// --reps=3 --cache-kib=2048 --exclusive (both opened for this process alone: no checks for
// other processes' writes) --dir=PATH (the databases are built there once and kept; without it
// they go to a temporary folder removed at the end).

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/support/benchdb.h"
#include "bench/support/benchrun.h"
#include "ztdb/ztfile.h"

namespace {

namespace fs = std::filesystem;
using qvbench::BenchGenerator;
using qvbench::BenchOptions;

std::string gDir;
BenchOptions gOptions;
long gQueries = 200000;
int gReps = 3;
int gCacheKiB = 2048;
bool gExclusive = false;  // both opened for this process alone
qvbench::Rates gRates;    // figure/engine -> operations per second

std::string base() {
    return gDir + "/rows";
}

std::string sqlitePath() {
    return gDir + "/rows.sqlite";
}

struct ValueQuery {
    uint32_t record, field;
    std::string text;
};

struct NameQuery {
    std::string asked;
    uint32_t id;
};

std::vector<ValueQuery> gValueQueries;
std::vector<NameQuery> gNameQueries;

// The databases, built unless a previous run left them for the same options.
bool prepare(const BenchGenerator& gen) {
    const std::string wanted = std::to_string(gOptions.seed) + " " +
                               std::to_string(gOptions.records) + " " +
                               std::to_string(gOptions.extraFieldNames) + " 1";
    if (qvbench::builtAlready(gDir, wanted)) return true;
    qvbench::removeDatabaseFiles(base());
    std::string error;
    auto t0 = std::chrono::steady_clock::now();
    if (!qvbench::writeBenchDatabase(gen, base(), &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    auto t1 = std::chrono::steady_clock::now();
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(sqlitePath().c_str(), &db) == SQLITE_OK &&
              qvbench::writeBenchSqlite(gen, db, &error);
    sqlite3_close(db);
    if (!ok) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    auto t2 = std::chrono::steady_clock::now();
    std::fprintf(stderr, "built in %.0f s (ours) and %.0f s (SQLite)\n",
                 std::chrono::duration<double>(t1 - t0).count(),
                 std::chrono::duration<double>(t2 - t1).count());
    qvbench::noteBuilt(gDir, wanted);
    return true;
}

// The same queries for both engines, with the answers the generator gives.
void makeQueries(const BenchGenerator& gen) {
    std::mt19937 rng(99);
    for (long i = 0; i < gQueries; ++i) {
        const uint32_t index = rng() % gOptions.records;
        const qvbench::BenchRecord rec = gen.record(index);
        const qvbench::BenchValue& v = rec.values[rng() % rec.values.size()];
        std::string first;
        for (const qvbench::BenchValue& w : rec.values)
            if (w.field == v.field && w.position == 1) first = w.text;
        gValueQueries.push_back({rec.id, gen.fieldID(v.field), first});
        const uint32_t f = rng() % gen.fieldCount();
        std::string asked = gen.fieldName(f);
        for (char& c : asked)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        gNameQueries.push_back({asked, gen.fieldID(f)});
    }
}

ZTFile* openOurs(benchmark::State& state) {
    auto* file = new ZTFile(base().c_str());
    file->setBuffering(gCacheKiB);
    const uint32_t mode = gExclusive ? 7 : 3;
    if (file->open(mode, false) != mode) state.SkipWithError("open failed");
    return file;
}

sqlite3* openSqlite(benchmark::State& state) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(sqlitePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, ("PRAGMA cache_size=-" + std::to_string(gCacheKiB)).c_str(), nullptr,
                     nullptr, nullptr) != SQLITE_OK ||
        (gExclusive &&
         sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK))
        state.SkipWithError("open failed");
    return db;
}

void getValueOurs(benchmark::State& state) {
    std::unique_ptr<ZTFile> file(openOurs(state));
    ZTStr text;
    for (auto _ : state) {
        long wrong = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (const ValueQuery& q : gValueQueries)
            if (!file->getValue(q.field, q.record, &text, true) || !text.equals(q.text.c_str()))
                ++wrong;
        qvbench::noteRate(state, &gRates, "getValue/quorvane", long(gValueQueries.size()), t0);
        if (wrong) state.SkipWithError("wrong answers");
    }
}

void getValueSqlite(benchmark::State& state) {
    sqlite3* db = openSqlite(state);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT value FROM rows WHERE record=?1 AND field=?2 ORDER BY position "
                       "LIMIT 1",
                       -1, &select, nullptr);
    for (auto _ : state) {
        long wrong = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (const ValueQuery& q : gValueQueries) {
            sqlite3_bind_int64(select, 1, q.record);
            sqlite3_bind_int64(select, 2, q.field);
            if (sqlite3_step(select) != SQLITE_ROW ||
                q.text != reinterpret_cast<const char*>(sqlite3_column_text(select, 0)))
                ++wrong;
            sqlite3_reset(select);
        }
        qvbench::noteRate(state, &gRates, "getValue/sqlite", long(gValueQueries.size()), t0);
        if (wrong) state.SkipWithError("wrong answers");
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
}

void findNameOurs(benchmark::State& state) {
    std::unique_ptr<ZTFile> file(openOurs(state));
    for (auto _ : state) {
        long wrong = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (const NameQuery& q : gNameQueries)
            if (file->findName(1, q.asked.c_str()) != q.id) ++wrong;
        qvbench::noteRate(state, &gRates, "findName/quorvane", long(gNameQueries.size()), t0);
        if (wrong) state.SkipWithError("wrong answers");
    }
}

void findNameSqlite(benchmark::State& state) {
    sqlite3* db = openSqlite(state);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT id FROM names WHERE name=?1 COLLATE NOCASE", -1, &select,
                       nullptr);
    for (auto _ : state) {
        long wrong = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (const NameQuery& q : gNameQueries) {
            sqlite3_bind_text(select, 1, q.asked.c_str(), int(q.asked.size()), SQLITE_STATIC);
            if (sqlite3_step(select) != SQLITE_ROW || sqlite3_column_int64(select, 0) != q.id)
                ++wrong;
            sqlite3_reset(select);
        }
        qvbench::noteRate(state, &gRates, "findName/sqlite", long(gNameQueries.size()), t0);
        if (wrong) state.SkipWithError("wrong answers");
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
}

void printRatios() {
    qvbench::printRatios(gRates, {"getValue", "findName"}, 10);
    std::printf(
        "(%u records, %u field names, %ld queries; medians of %d runs; %d KiB cache each;"
        " opened %s; ratio = our rate / SQLite's)\n",
        gOptions.records, gOptions.fields + gOptions.extraFieldNames, gQueries, gReps, gCacheKiB,
        gExclusive ? "exclusive" : "shared");
}

}  // namespace

int main(int argc, char** argv) {
    gOptions.extraFieldNames = 10000 - gOptions.fields;
    std::string dir;
    const qvbench::Flag names{"--names", [](const std::string& v) {
                                  gOptions.extraFieldNames = uint32_t(
                                      std::max<long>(0, std::stol(v) - long(gOptions.fields)));
                              }};
    const std::vector<char*> rest = qvbench::takeFlags(
        argc, argv,
        {qvbench::countFlag("--records", &gOptions.records), names,
         qvbench::numberFlag("--queries", &gQueries, 1L), qvbench::numberFlag("--reps", &gReps, 1),
         qvbench::numberFlag("--cache-kib", &gCacheKiB, 64),
         qvbench::switchFlag("--exclusive", &gExclusive), qvbench::textFlag("--dir", &dir)});
    const qvbench::BenchFolder folder(dir);
    if (!folder.ok()) return 1;
    gDir = folder.path();
    const BenchGenerator gen(gOptions);
    if (!prepare(gen)) return 1;
    makeQueries(gen);
    qvbench::runFigures(rest,
                        {{"getValue/quorvane", getValueOurs},
                         {"getValue/sqlite", getValueSqlite},
                         {"findName/quorvane", findNameOurs},
                         {"findName/sqlite", findNameSqlite}},
                        gReps);
    printRatios();
    return 0;
}
