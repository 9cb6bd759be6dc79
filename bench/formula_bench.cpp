// Formulas applied over every record against SQLite doing the same in SQL.
//
//   upper       ZTFormula::apply of upper(name) in mode 3      vs  UPDATE rows SET value =
//               over Name, each record read, applied and            upper(value) WHERE
//               written back;                                       field = Name, one
//               all under one counted lock whose last unlock        transaction, WAL,
//               flushes and syncs                                   synchronous=FULL
//   arrow       the same with town->name over Born: the name   vs  UPDATE of Born's rows to the
//               of the record that Town links to, "##ERROR"         linked record's name through
//               where Town is no link                               a join of a links table
//                                                                   (record, field, position,
//                                                                   target), indexed
//   findrecord  per record: the record read and                vs  per record: its Town read,
//               findrecord(set, "Name", town) run against it        then the first record whose
//               (no write)                                          Name has Town's key and text
//                                                                   (indexed lookup)
//
// The database is bench/support/benchdb.h's with three fields (Name, Town, Born), every record
// holding one value of each, half of Town's values linking to an earlier record's name, and one
// set holding every record. Both sides check what they wrote or found. The code
// of each formula is compiled once per run; "compile" prints what compiling it again for every
// record would add. Each figure is the median of --reps runs; the ratio is our rate over
// SQLite's (above 1: we are faster).
//
// Flags besides Google Benchmark's own: --records=100000 --reps=3 --cache-kib=65536 --dir=PATH
// (the seeded databases are built there once and kept; without it they go to a temporary folder
// removed at the end).

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/benchdb.h"
#include "bench/support/benchrun.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztformula.h"
#include "ztdb/ztrecord.h"

namespace {

namespace fs = std::filesystem;
using qvbench::BenchGenerator;
using qvbench::BenchOptions;

constexpr uint32_t kNameField = 1001;
constexpr uint32_t kTownField = 1002;
constexpr uint32_t kBornField = 1003;

std::string gDir;
BenchOptions gOptions;
int gReps = 3;
int gCacheKiB = 65536;
qvbench::Rates gRates;
std::vector<double> gCompileSeconds;  // per compile of upper(name)

BenchOptions benchOptions(uint32_t records) {
    BenchOptions o;
    o.records = records;
    o.fields = 3;
    o.sets = 1;
    o.presence = 1.0;
    o.multiValued = 0;
    o.links = 0.5;
    o.linkingFields = 1u << 1;  // Town only: Born stays plain text to write into
    return o;
}

std::string seededBase() {
    return gDir + "/formula";
}
std::string seededSqlite() {
    return gDir + "/formula.sqlite";
}
std::string workBase() {
    return gDir + "/work";
}
std::string workSqlite() {
    return gDir + "/work.sqlite";
}

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The seeded databases, built unless a previous run left them; SQLite's gets the links table.
bool prepareSeeded(const BenchGenerator& gen) {
    const std::string wanted = std::to_string(gOptions.records) + " formula, Town links only";
    if (qvbench::builtAlready(gDir, wanted, "formula.stamp")) return true;
    qvbench::removeDatabaseFiles(seededBase());
    std::string error;
    if (!qvbench::writeBenchDatabase(gen, seededBase(), &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(seededSqlite().c_str(), &db) == SQLITE_OK &&
              qvbench::writeBenchSqlite(gen, db, &error);
    ok = ok && exec(db,
                    "CREATE TABLE links(record INTEGER, field INTEGER, position INTEGER, target "
                    "INTEGER); BEGIN");
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO links VALUES(?1, ?2, ?3, ?4)", -1, &insert,
                                  nullptr) == SQLITE_OK;
    for (uint32_t i = 0; ok && i < gOptions.records; ++i) {
        for (const qvbench::BenchValue& v : gen.record(i).values) {
            if (!v.linkRecord) continue;
            sqlite3_bind_int64(insert, 1, gen.recordID(i));
            sqlite3_bind_int64(insert, 2, gen.fieldID(v.field));
            sqlite3_bind_int64(insert, 3, v.position);
            sqlite3_bind_int64(insert, 4, v.linkRecord);
            ok = sqlite3_step(insert) == SQLITE_DONE;
            sqlite3_reset(insert);
        }
    }
    sqlite3_finalize(insert);
    ok = ok && exec(db, "COMMIT; CREATE INDEX links_record ON links(record, field, position)");
    sqlite3_close(db);
    if (!ok) {
        std::fprintf(stderr, "the SQLite side could not be built: %s\n", error.c_str());
        return false;
    }
    qvbench::noteBuilt(gDir, wanted, "formula.stamp");
    return true;
}

// Every run works on fresh copies of the seeded databases.
bool copyWork() {
    std::error_code ec;
    for (const char* ext : {".ZT", ".IX", ".ZT2", ".IX2"})
        fs::copy_file(seededBase() + ext, workBase() + ext, fs::copy_options::overwrite_existing,
                      ec);
    for (const char* ext : {"-wal", "-shm"}) fs::remove(workSqlite() + ext);
    fs::copy_file(seededSqlite(), workSqlite(), fs::copy_options::overwrite_existing, ec);
    return !ec;
}

std::string compiled(ZTFile* file, const std::string& formula) {
    ZTTranslator t(file);
    const char* code = nullptr;
    if (t.translate(formula.c_str(), &code) != 0) return std::string();
    return std::string(code) + "o";
}

// ---- our side ----

struct Ours {
    ZTFile file;
    explicit Ours(benchmark::State& state) : file(workBase().c_str()) {
        file.setBuffering(gCacheKiB);
        if (file.open(3, false) != 3) state.SkipWithError("open failed");
    }
};

// Applies the formula in mode 3 over the target field of every record under one lock.
long applyAll(Ours& ours, const BenchGenerator& gen, const std::string& code, uint32_t target) {
    long failed = 0;
    ZTFormula formula;
    formula.addExpr(code.c_str(), ZTExpression::kModeReplace, target);
    ZTRecord image(&ours.file, nullptr, nullptr, nullptr);
    if (!ours.file.lock(false)) return 1;
    for (uint32_t i = 0; i < gOptions.records; ++i) {
        image.read(gen.recordID(i));
        if (formula.apply(&image, 0) != 1) ++failed;
        image.write(nullptr);
    }
    if (!ours.file.unlock()) ++failed;
    return failed;
}

void upperOurs(benchmark::State& state) {
    const BenchGenerator gen(gOptions);
    for (auto _ : state) {
        state.PauseTiming();
        copyWork();
        Ours ours(state);
        const std::string code = compiled(&ours.file, "upper(name)");
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        long failed = code.empty() ? 1 : applyAll(ours, gen, code, kNameField);
        qvbench::noteRate(state, &gRates, "upper/quorvane", long(gOptions.records), t0);
        // What compiling for every record would add.
        auto c0 = std::chrono::steady_clock::now();
        for (int k = 0; k < 10000; ++k) (void)compiled(&ours.file, "upper(name)");
        gCompileSeconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - c0).count() / 10000);
        // Check: names hold no lower-case letter any more, and as many letters as before.
        ZTRecord check(&ours.file, nullptr, nullptr, nullptr);
        for (uint32_t i = 0; i < gOptions.records; i += 97) {
            check.read(gen.recordID(i));
            const int at = check.indexOf(kNameField);
            const std::string name = at >= 0 ? check.getText(uint32_t(at)) : "";
            if (name.size() != gen.nameOf(i).size() ||
                name.find_first_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos)
                ++failed;
        }
        if (failed) state.SkipWithError("apply failed");
    }
}

void arrowOurs(benchmark::State& state) {
    const BenchGenerator gen(gOptions);
    for (auto _ : state) {
        state.PauseTiming();
        copyWork();
        Ours ours(state);
        const std::string code = compiled(&ours.file, "town->name");
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        long failed = code.empty() ? 1 : applyAll(ours, gen, code, kBornField);
        qvbench::noteRate(state, &gRates, "arrow/quorvane", long(gOptions.records), t0);
        ZTRecord check(&ours.file, nullptr, nullptr, nullptr);
        for (uint32_t i = 0; i < gOptions.records; i += 97) {
            const qvbench::BenchRecord rec = gen.record(i);
            const qvbench::BenchValue& town = rec.values[1];
            const std::string expected =
                town.linkRecord ? gen.nameOf(town.linkRecord - gen.recordID(0)) : kFormulaError;
            check.read(rec.id);
            const int at = check.indexOf(kBornField);
            if (at < 0 || expected != check.getText(uint32_t(at))) {
                if (!failed)
                    std::fprintf(stderr, "record %u: Born \"%s\", expected \"%s\"\n", rec.id,
                                 at < 0 ? "(none)" : check.getText(uint32_t(at)), expected.c_str());
                ++failed;
            }
        }
        if (failed) state.SkipWithError("apply failed");
    }
}

void findOurs(benchmark::State& state) {
    const BenchGenerator gen(gOptions);
    for (auto _ : state) {
        state.PauseTiming();
        copyWork();
        Ours ours(state);
        const std::string code =
            compiled(&ours.file, "findrecord(\"" + gen.setName(0) + "\", \"Name\", town)");
        ZTRecord image(&ours.file, nullptr, nullptr, nullptr);
        ZTExpression e(code.c_str(), ZTExpression::kModeReplace, kBornField);
        ZTStr out;
        long failed = code.empty() ? 1 : 0, found = 0;
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        for (uint32_t i = 0; i < gOptions.records; ++i) {
            image.read(gen.recordID(i));
            e.evaluate(&out, &image, nullptr, 0, 0);
            const uint32_t id = uint32_t(std::strtoul(out.text, nullptr, 10));
            if (id) ++found;
            // A Town that links to a name finds a record of that name.
            const qvbench::BenchValue& town = gen.record(i).values[1];
            if (town.linkRecord && id == 0) ++failed;
        }
        qvbench::noteRate(state, &gRates, "findrecord/quorvane", long(gOptions.records), t0);
        if (failed || found == 0) state.SkipWithError("lookups failed");
    }
}

// ---- SQLite ----

sqlite3* openSqlite(benchmark::State& state) {
    sqlite3* db = nullptr;
    const std::string setup = "PRAGMA cache_size=-" + std::to_string(gCacheKiB) +
                              "; PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;";
    if (sqlite3_open(workSqlite().c_str(), &db) != SQLITE_OK || !exec(db, setup.c_str()))
        state.SkipWithError("open failed");
    return db;
}

void upperSqlite(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        copyWork();
        sqlite3* db = openSqlite(state);
        const std::string sql = "BEGIN; UPDATE rows SET value = upper(value) WHERE field = " +
                                std::to_string(kNameField) + "; COMMIT;";
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        const bool ok = exec(db, sql.c_str());
        qvbench::noteRate(state, &gRates, "upper/sqlite", long(gOptions.records), t0);
        sqlite3_close(db);
        if (!ok) state.SkipWithError("update failed");
    }
}

void arrowSqlite(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        copyWork();
        sqlite3* db = openSqlite(state);
        const std::string sql =
            "BEGIN; UPDATE rows SET value = coalesce((SELECT n.value FROM links l JOIN rows n ON "
            "n.record = l.target AND n.field = " +
            std::to_string(kNameField) +
            " AND n.position = 1 WHERE l.record = rows.record AND l.field = " +
            std::to_string(kTownField) +
            " AND l.position = 1), '##ERROR') WHERE field = " + std::to_string(kBornField) +
            "; COMMIT;";
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        const bool ok = exec(db, sql.c_str());
        qvbench::noteRate(state, &gRates, "arrow/sqlite", long(gOptions.records), t0);
        sqlite3_close(db);
        if (!ok) state.SkipWithError("update failed");
    }
}

void findSqlite(benchmark::State& state) {
    const BenchGenerator gen(gOptions);
    for (auto _ : state) {
        state.PauseTiming();
        copyWork();
        sqlite3* db = openSqlite(state);
        sqlite3_stmt* town = nullptr;
        sqlite3_stmt* find = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT value, key FROM rows WHERE record = ?1 AND field = ?2 AND "
                           "position = 1",
                           -1, &town, nullptr);
        sqlite3_prepare_v2(db,
                           "SELECT record FROM rows WHERE field = ?1 AND key = ?2 AND value = ?3 "
                           "ORDER BY record LIMIT 1",
                           -1, &find, nullptr);
        long failed = 0, found = 0;
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        for (uint32_t i = 0; i < gOptions.records; ++i) {
            sqlite3_bind_int64(town, 1, gen.recordID(i));
            sqlite3_bind_int64(town, 2, kTownField);
            if (sqlite3_step(town) != SQLITE_ROW) {
                ++failed;
                sqlite3_reset(town);
                continue;
            }
            sqlite3_bind_int64(find, 1, kNameField);
            sqlite3_bind_blob(find, 2, sqlite3_column_blob(town, 1), sqlite3_column_bytes(town, 1),
                              SQLITE_TRANSIENT);
            sqlite3_bind_text(find, 3, reinterpret_cast<const char*>(sqlite3_column_text(town, 0)),
                              -1, SQLITE_TRANSIENT);
            if (sqlite3_step(find) == SQLITE_ROW) ++found;
            sqlite3_reset(find);
            sqlite3_reset(town);
        }
        qvbench::noteRate(state, &gRates, "findrecord/sqlite", long(gOptions.records), t0);
        sqlite3_finalize(town);
        sqlite3_finalize(find);
        sqlite3_close(db);
        if (failed || found == 0) state.SkipWithError("lookups failed");
    }
}

void printFigures() {
    qvbench::printRatios(gRates, {"upper", "arrow", "findrecord"}, 10);
    auto upper = gRates.find("upper/quorvane");
    if (upper != gRates.end() && !gCompileSeconds.empty()) {
        const double perRecord = 1.0 / qvbench::median(upper->second);
        const double compile = qvbench::median(gCompileSeconds);
        std::printf(
            "compile: %.2f us per translate of upper(name); compiled per record it would be %.1f%% "
            "of upper's time (%.2f us per record applied)\n",
            compile * 1e6, 100 * compile / (perRecord + compile), perRecord * 1e6);
    }
    std::printf(
        "(%u records; medians of %d runs; %d KiB cache each; ratio = our rate / SQLite's)\n",
        gOptions.records, gReps, gCacheKiB);
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t records = 100000;
    std::string dir;
    const std::vector<char*> rest = qvbench::takeFlags(
        argc, argv,
        {qvbench::countFlag("--records", &records), qvbench::numberFlag("--reps", &gReps, 1),
         qvbench::numberFlag("--cache-kib", &gCacheKiB, 64), qvbench::textFlag("--dir", &dir)});
    gOptions = benchOptions(std::max(100u, records));
    const qvbench::BenchFolder folder(dir);
    if (!folder.ok()) return 1;
    gDir = folder.path();
    const BenchGenerator gen(gOptions);
    if (!prepareSeeded(gen)) return 1;
    qvbench::runFigures(rest,
                        {{"upper/quorvane", upperOurs},
                         {"upper/sqlite", upperSqlite},
                         {"arrow/quorvane", arrowOurs},
                         {"arrow/sqlite", arrowSqlite},
                         {"findrecord/quorvane", findOurs},
                         {"findrecord/sqlite", findSqlite}},
                        gReps);
    printFigures();
    qvbench::removeDatabaseFiles(workBase());
    return 0;
}
