// Record lists and scans against SQLite, on the seeded database of bench/support/benchdb.h.
//
// Our side is a ZTList as the list view uses it (threaded, margin 100, capacity 400) over the
// first set, sorted by its first field (the name), each figure waiting until the rows it asks
// for have arrived and reading every row's value. SQLite's side reads the same rows through its
// index (field, key, record), in which this program adds the set's membership rows as the engine
// stores them (the set's ID as the field, the member's name and key):
//
//   first200      the first 200 rows              vs  ... WHERE field=set ORDER BY key LIMIT 200
//   first200desc  the same, descending            vs  ... ORDER BY key DESC LIMIT 200
//   prefix        a prefix condition on the name  vs  ... AND key >= lo AND key < hi LIMIT 200
//   locate        locate mode at that prefix      vs  ... AND key >= lo LIMIT 200
//   other1pct     a condition on another field    vs  ... AND EXISTS (that field's row in range)
//                 that about 1% of records pass       LIMIT 200
//   scroll40      scrollTo(0.5), 40 rows          vs  ... AND key >= middle key LIMIT 40
//   twoAtOnce     two lists of one database at    vs  two connections in two threads, 200
//                 once, 200 rows each                 rows each
//   scanUnique    ZTScan with unique over the     vs  every row of the set in key order, its
//                 whole set (inline)                  records put into a hash set
//
// The scan also runs over a database of a tenth of the records (scanUnique10): the line
// "scan growth" prints how much longer the full run takes than the tenth.
//
// Flags besides Google Benchmark's own: --records=1000000 --queries=20 --reps=3 --dir=PATH
// (the seeded databases are built there once and kept; without it they go to a temporary folder
// removed at the end).

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "bench/support/benchdb.h"
#include "bench/support/benchrun.h"
#include "ztdb/ztlist.h"

namespace {

using qvbench::BenchGenerator;
using qvbench::BenchOptions;
using Clock = std::chrono::steady_clock;

std::string gDir;
BenchOptions gOptions;
long gQueries = 20;
int gReps = 3;
qvbench::Rates gRates;

const char* const kPrefix = "Olav";
const char* const kPrefixEnd = "Olaw";
const char* const kOtherCondition = ">991";  // the last field holds 0 .. 1000

std::string baseFor(uint32_t records) {
    return gDir + "/seeded" + std::to_string(records);
}

// The seeded databases, built unless a previous run left them; SQLite gets the set's membership.
bool prepare(uint32_t records) {
    BenchOptions options = gOptions;
    options.records = records;
    const BenchGenerator gen(options);
    const std::string base = baseFor(records);
    const std::string stamp = "seeded" + std::to_string(records) + ".stamp";
    const std::string wanted = std::to_string(options.seed) + " " + std::to_string(records) + " 1";
    if (qvbench::builtAlready(gDir, wanted, stamp)) return true;
    qvbench::removeDatabaseFiles(base);
    std::string error;
    sqlite3* db = nullptr;
    bool ok = qvbench::writeBenchDatabase(gen, base, &error) &&
              sqlite3_open((base + ".sqlite").c_str(), &db) == SQLITE_OK &&
              qvbench::writeBenchSqlite(gen, db, &error);
    for (uint32_t k = 0; ok && k < options.sets; ++k) {
        const std::string insert =
            "INSERT INTO rows SELECT record, " + std::to_string(gen.setID(k)) +
            ", 65024, value, key FROM rows WHERE field=" + std::to_string(gen.fieldID(0)) +
            " AND (record - " + std::to_string(gen.recordID(0)) + ") % " +
            std::to_string(options.sets) + " = " + std::to_string(k);
        ok = sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ok = ok && sqlite3_exec(db, "ANALYZE", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (!ok) {
        std::fprintf(stderr, "seeding failed: %s\n", error.c_str());
        return false;
    }
    qvbench::noteBuilt(gDir, wanted, stamp);
    return true;
}

const BenchGenerator& generator() {
    static const BenchGenerator gen(gOptions);
    return gen;
}
uint32_t setID() {
    return generator().setID(0);
}
uint32_t nameField() {
    return generator().fieldID(0);
}
uint32_t otherField() {
    return generator().fieldID(gOptions.fields - 1);
}

// ---- our side ----

// Waits until the row has arrived or lies past an end.
bool awaitRow(ZTList& list, ZTListMessageQueue& queue, int32_t row) {
    while (list.getRowState(row) == ZTSearch::kRowNotLoaded) {
        (void)queue.take();
        if (list.getRowState(row) != ZTSearch::kRowNotLoaded) break;
        if (!queue.waitForMessage(60000)) return false;
    }
    return true;
}

// Reads the values of rows first .. first + n - 1; the number of rows read.
long readRows(ZTList& list, ZTListMessageQueue& queue, int32_t first, int32_t n) {
    long read = 0;
    for (int32_t row = first; row < first + n; ++row) {
        if (!awaitRow(list, queue, row)) break;
        if (list.getRowValue(row) == nullptr) break;
        ++read;
    }
    return read;
}

struct OurList {
    ZTFile file{baseFor(gOptions.records).c_str()};
    ZTSet fields;
    ZTListMessageQueue queue;
    ZTList list{nullptr, nullptr, false, 20, 200, 500};

    explicit OurList(benchmark::State& state) {
        if (file.open(3, false) != 3) state.SkipWithError("open failed");
        fields.init(&file, setID());
        fields.load();
        list.init(&file, &fields, true, 100, 400);
    }
    // One query of n rows from the start code; the rows read.
    long run(const char* text, uint32_t start, int32_t n) {
        list.query(text, 0, &ztListCallbackEntry, &queue, n, 0, nullptr, false, start);
        return readRows(list, queue, 0, n);
    }
};

void measureOurs(benchmark::State& state, const char* figure, bool descending, const char* text,
                 uint32_t start, int32_t n) {
    OurList ours(state);
    ours.list.setDescending(descending);
    (void)ours.run(text, start, n);  // warm
    for (auto _ : state) {
        long rows = 0;
        const auto t0 = Clock::now();
        for (long q = 0; q < gQueries; ++q) rows += ours.run(text, start, n);
        qvbench::noteRate(state, &gRates, std::string(figure) + "/quorvane", gQueries, t0);
        if (rows != gQueries * n) state.SkipWithError("rows missing");
    }
    ours.list.interrupt();
}

std::string condition(uint32_t field, const char* text) {
    return "(" + std::to_string(field) + ")" + text;
}

void first200Ours(benchmark::State& s) {
    measureOurs(s, "first200", false, "", 0, 200);
}
void first200descOurs(benchmark::State& s) {
    measureOurs(s, "first200desc", true, "", 0, 200);
}
void prefixOurs(benchmark::State& s) {
    measureOurs(s, "prefix", false, condition(nameField(), kPrefix).c_str(), 0, 200);
}
void locateOurs(benchmark::State& s) {
    measureOurs(s, "locate", false, condition(nameField(), kPrefix).c_str(),
                uint32_t(ZTSearch::kStartLocate), 200);
}
void other1pctOurs(benchmark::State& s) {
    measureOurs(s, "other1pct", false, condition(otherField(), kOtherCondition).c_str(), 0, 200);
}

void scroll40Ours(benchmark::State& state) {
    ZTFile file(baseFor(gOptions.records).c_str());
    if (file.open(3, false) != 3) state.SkipWithError("open failed");
    ZTSet fields(&file, setID());
    fields.load();
    ZTListMessageQueue queue;
    ZTList list(&file, &fields, true, 100, 400);
    list.query("", 0, &ztListCallbackEntry, &queue, 40, 0, nullptr, true, 0);
    (void)readRows(list, queue, 0, 40);
    for (auto _ : state) {
        long rows = 0;
        const auto t0 = Clock::now();
        for (long q = 0; q < gQueries; ++q) {
            list.scrollTo(0.5, 40);
            rows += readRows(list, queue, 0, 40);
        }
        qvbench::noteRate(state, &gRates, "scroll40/quorvane", gQueries, t0);
        if (rows != gQueries * 40) state.SkipWithError("rows missing");
    }
    list.interrupt();
}

void twoAtOnceOurs(benchmark::State& state) {
    OurList a(state), b(state);
    (void)a.run("", 0, 200);
    (void)b.run("", 0, 200);
    for (auto _ : state) {
        long rows = 0;
        const auto t0 = Clock::now();
        for (long q = 0; q < gQueries; ++q) {
            a.list.query("", 0, &ztListCallbackEntry, &a.queue, 200, 0, nullptr, false, 0);
            b.list.query("", 0, &ztListCallbackEntry, &b.queue, 200, 0, nullptr, false, 0);
            rows += readRows(a.list, a.queue, 0, 200) + readRows(b.list, b.queue, 0, 200);
        }
        qvbench::noteRate(state, &gRates, "twoAtOnce/quorvane", gQueries, t0);
        if (rows != gQueries * 400) state.SkipWithError("rows missing");
    }
}

uint32_t countReports(uint32_t code, uintptr_t, uintptr_t, void* context) {
    if (code == kZTCodeScanned) ++*static_cast<long*>(context);
    return 0;
}

void scanOurs(benchmark::State& state, uint32_t records, const char* figure) {
    ZTFile file(baseFor(records).c_str());
    if (file.open(3, false) != 3) state.SkipWithError("open failed");
    const uint32_t expected = (records + gOptions.sets - 1) / gOptions.sets;
    for (auto _ : state) {
        ZTScan scan(&file, false, true, false, ZTScan::kNoMaximum);
        long reported = 0;
        const auto t0 = Clock::now();
        scan.query("", 0, setID(), 0, &countReports, &reported, 0, nullptr, 0, 0);
        qvbench::noteRate(state, &gRates, std::string(figure) + "/quorvane", 1, t0);
        if (reported != long(expected)) state.SkipWithError("records missing");
    }
}
void scanUniqueOurs(benchmark::State& s) {
    scanOurs(s, gOptions.records, "scanUnique");
}
void scanUnique10Ours(benchmark::State& s) {
    scanOurs(s, gOptions.records / 10, "scanUnique10");
}

// ---- SQLite ----

sqlite3* openSqlite(benchmark::State& state, uint32_t records) {
    sqlite3* db = nullptr;
    if (sqlite3_open((baseFor(records) + ".sqlite").c_str(), &db) != SQLITE_OK)
        state.SkipWithError("open failed");
    return db;
}

// Runs the statement to its end; the rows read.
long stepAll(sqlite3_stmt* s) {
    long rows = 0;
    while (sqlite3_step(s) == SQLITE_ROW)
        if (sqlite3_column_text(s, 1) != nullptr) ++rows;
    sqlite3_reset(s);
    return rows;
}

const char* const kSelect = "SELECT m.record, m.value FROM rows m WHERE m.field=?1";

void measureSqlite(benchmark::State& state, const char* figure, const std::string& sql,
                   const std::vector<std::string>& keys, long perQuery) {
    sqlite3* db = openSqlite(state, gOptions.records);
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
        state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_bind_int64(s, 1, setID());
    for (size_t i = 0; i < keys.size(); ++i)
        sqlite3_bind_blob(s, int(i) + 2, keys[i].data(), int(keys[i].size()), SQLITE_TRANSIENT);
    (void)stepAll(s);  // warm
    for (auto _ : state) {
        long rows = 0;
        const auto t0 = Clock::now();
        for (long q = 0; q < gQueries; ++q) rows += stepAll(s);
        qvbench::noteRate(state, &gRates, std::string(figure) + "/sqlite", gQueries, t0);
        if (rows != gQueries * perQuery) state.SkipWithError("rows missing");
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
}

void first200Sqlite(benchmark::State& s) {
    measureSqlite(s, "first200", std::string(kSelect) + " ORDER BY m.key LIMIT 200", {}, 200);
}
void first200descSqlite(benchmark::State& s) {
    measureSqlite(s, "first200desc", std::string(kSelect) + " ORDER BY m.key DESC LIMIT 200", {},
                  200);
}
void prefixSqlite(benchmark::State& s) {
    measureSqlite(s, "prefix",
                  std::string(kSelect) + " AND m.key >= ?2 AND m.key < ?3 ORDER BY m.key LIMIT 200",
                  {qvbench::benchKey(kPrefix), qvbench::benchKey(kPrefixEnd)}, 200);
}
void locateSqlite(benchmark::State& s) {
    measureSqlite(s, "locate", std::string(kSelect) + " AND m.key >= ?2 ORDER BY m.key LIMIT 200",
                  {qvbench::benchKey(kPrefix)}, 200);
}
void other1pctSqlite(benchmark::State& s) {
    const std::string sql = std::string(kSelect) +
                            " AND EXISTS (SELECT 1 FROM rows o WHERE o.record=m.record AND "
                            "o.field=" +
                            std::to_string(otherField()) +
                            " AND o.key >= ?2) ORDER BY m.key LIMIT 200";
    measureSqlite(s, "other1pct", sql, {qvbench::benchKey(kOtherCondition + 1)}, 200);
}

void scroll40Sqlite(benchmark::State& state) {
    // The middle key is found once, outside the figure.
    sqlite3* db = openSqlite(state, gOptions.records);
    sqlite3_stmt* s = nullptr;
    std::string middle;
    const std::string find = "SELECT key FROM rows WHERE field=" + std::to_string(setID()) +
                             " ORDER BY key LIMIT 1 OFFSET " +
                             std::to_string(gOptions.records / gOptions.sets / 2);
    if (sqlite3_prepare_v2(db, find.c_str(), -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
        middle.assign(static_cast<const char*>(sqlite3_column_blob(s, 0)),
                      size_t(sqlite3_column_bytes(s, 0)));
    sqlite3_finalize(s);
    sqlite3_close(db);
    measureSqlite(state, "scroll40",
                  std::string(kSelect) + " AND m.key >= ?2 ORDER BY m.key LIMIT 40", {middle}, 40);
}

void twoAtOnceSqlite(benchmark::State& state) {
    sqlite3* dbs[2] = {openSqlite(state, gOptions.records), openSqlite(state, gOptions.records)};
    sqlite3_stmt* ss[2] = {};
    const std::string sql = std::string(kSelect) + " ORDER BY m.key LIMIT 200";
    for (int k = 0; k < 2; ++k) {
        sqlite3_prepare_v2(dbs[k], sql.c_str(), -1, &ss[k], nullptr);
        sqlite3_bind_int64(ss[k], 1, setID());
        (void)stepAll(ss[k]);
    }
    for (auto _ : state) {
        long rows[2] = {};
        const auto t0 = Clock::now();
        for (long q = 0; q < gQueries; ++q) {
            std::thread other([&] { rows[1] += stepAll(ss[1]); });
            rows[0] += stepAll(ss[0]);
            other.join();
        }
        qvbench::noteRate(state, &gRates, "twoAtOnce/sqlite", gQueries, t0);
        if (rows[0] + rows[1] != gQueries * 400) state.SkipWithError("rows missing");
    }
    for (int k = 0; k < 2; ++k) {
        sqlite3_finalize(ss[k]);
        sqlite3_close(dbs[k]);
    }
}

void scanSqlite(benchmark::State& state, uint32_t records, const char* figure) {
    sqlite3* db = openSqlite(state, records);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT record FROM rows WHERE field=?1 ORDER BY key", -1, &s, nullptr);
    sqlite3_bind_int64(s, 1, setID());
    const uint32_t expected = (records + gOptions.sets - 1) / gOptions.sets;
    for (auto _ : state) {
        std::unordered_set<int64_t> seen;
        const auto t0 = Clock::now();
        while (sqlite3_step(s) == SQLITE_ROW) seen.insert(sqlite3_column_int64(s, 0));
        sqlite3_reset(s);
        qvbench::noteRate(state, &gRates, std::string(figure) + "/sqlite", 1, t0);
        if (seen.size() != expected) state.SkipWithError("records missing");
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
}
void scanUniqueSqlite(benchmark::State& s) {
    scanSqlite(s, gOptions.records, "scanUnique");
}
void scanUnique10Sqlite(benchmark::State& s) {
    scanSqlite(s, gOptions.records / 10, "scanUnique10");
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    const std::vector<char*> rest = qvbench::takeFlags(
        argc, argv,
        {qvbench::countFlag("--records", &gOptions.records),
         qvbench::numberFlag("--queries", &gQueries, 1L), qvbench::numberFlag("--reps", &gReps, 1),
         qvbench::textFlag("--dir", &dir)});
    gOptions.records = std::max(30u, gOptions.records);
    const qvbench::BenchFolder folder(dir);
    if (!folder.ok()) return 1;
    gDir = folder.path();
    if (!prepare(gOptions.records) || !prepare(gOptions.records / 10)) return 1;
    qvbench::runFigures(rest,
                        {{"first200/quorvane", first200Ours},
                         {"first200/sqlite", first200Sqlite},
                         {"first200desc/quorvane", first200descOurs},
                         {"first200desc/sqlite", first200descSqlite},
                         {"prefix/quorvane", prefixOurs},
                         {"prefix/sqlite", prefixSqlite},
                         {"locate/quorvane", locateOurs},
                         {"locate/sqlite", locateSqlite},
                         {"other1pct/quorvane", other1pctOurs},
                         {"other1pct/sqlite", other1pctSqlite},
                         {"scroll40/quorvane", scroll40Ours},
                         {"scroll40/sqlite", scroll40Sqlite},
                         {"twoAtOnce/quorvane", twoAtOnceOurs},
                         {"twoAtOnce/sqlite", twoAtOnceSqlite},
                         {"scanUnique/quorvane", scanUniqueOurs},
                         {"scanUnique/sqlite", scanUniqueSqlite},
                         {"scanUnique10/quorvane", scanUnique10Ours},
                         {"scanUnique10/sqlite", scanUnique10Sqlite}},
                        gReps);
    const std::vector<const char*> figures = {"first200",  "first200desc", "prefix",
                                              "locate",    "other1pct",    "scroll40",
                                              "twoAtOnce", "scanUnique",   "scanUnique10"};
    qvbench::printRatios(gRates, figures, 14);
    for (const char* figure : figures) {
        auto it = gRates.find(std::string(figure) + "/quorvane");
        if (it != gRates.end())
            std::printf("%-14s quorvane %.2f ms per query\n", figure,
                        1000.0 / qvbench::median(it->second));
    }
    auto full = gRates.find("scanUnique/quorvane"), tenth = gRates.find("scanUnique10/quorvane");
    if (full != gRates.end() && tenth != gRates.end())
        std::printf("scan growth: the full scan takes %.1f times the tenth's\n",
                    qvbench::median(tenth->second) / qvbench::median(full->second));
    return 0;
}
