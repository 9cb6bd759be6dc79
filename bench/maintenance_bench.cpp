// Maintenance of a database against SQLite's, on the seeded benchmark database
// (bench/support/benchdb.h): records of 10 fields in 3 sets, some fields with several values,
// 5% links, with a tenth of the records deleted first so that the pack has work.
//
//   maintain   ZTMaintenance with pack and check (inline, opened     vs  PRAGMA integrity_check
//              shared): tags made again from the records, record          + VACUUM
//              checks, pack with its kill-safe copy, row and chunk
//              repairs
//   reindex    ZTFile::rebuildIndexes (every tag of both tables)      vs  REINDEX
//
// Both commit to disk (fsync) as they end. Each run starts from a fresh copy of the prepared
// files (copying is not timed). Each figure is the median of --reps runs; the ratio is our time
// over SQLite's (below 1: we are faster). Run with --records=100000 and --records=1000000 to
// compare the growth.
//
// Flags besides Google Benchmark's own: --records=100000 --reps=3 --dir=PATH (the prepared
// databases are built there once and kept; without it a temporary folder removed at the end).

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/support/benchdb.h"
#include "bench/support/benchrun.h"
#include "ztdb/ztmaintenance.h"
#include "ztdb/ztrec.h"

namespace {

namespace fs = std::filesystem;
using qvbench::BenchGenerator;
using qvbench::BenchOptions;

std::string gDir;
BenchOptions gOptions;
int gReps = 3;
std::map<std::string, std::vector<double>> gSeconds;  // figure/engine -> seconds

const char* const kExtensions[] = {".ZT", ".IX", ".ZT2", ".IX2"};

std::string pristine() {
    return gDir + "/pristine";
}
std::string work() {
    return gDir + "/work";
}

// Deletes every tenth record's rows, so that both sides have free space to give back.
bool deleteTenth(const BenchGenerator& gen, std::string* error) {
    ZTFile file(pristine().c_str());
    if (file.open(3, false) != 3 || !file.lock(false)) {
        *error = "the prepared database does not open";
        return false;
    }
    ZTRec rec(&file);
    bool ok = true;
    for (uint32_t i = 0; ok && i < gOptions.records; i += 10)
        for (int left = 100; ok && left > 0 && rec.seek(gen.recordID(i), 0, 0, nullptr) == 0;
             --left)
            ok = rec.deleteRow();
    ok = file.unlock() && ok;
    sqlite3* db = nullptr;
    char* message = nullptr;
    const std::string sql =
        "DELETE FROM rows WHERE (record - " + std::to_string(gen.recordID(0)) + ") % 10 = 0;";
    ok = ok && sqlite3_open((pristine() + ".sqlite").c_str(), &db) == SQLITE_OK &&
         sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
    if (message) *error = message;
    sqlite3_free(message);
    sqlite3_close(db);
    return ok;
}

bool prepare(const BenchGenerator& gen) {
    const std::string wanted =
        std::to_string(gOptions.seed) + " " + std::to_string(gOptions.records) + " m1";
    if (qvbench::builtAlready(gDir, wanted)) return true;
    qvbench::removeDatabaseFiles(pristine());
    std::string error;
    sqlite3* db = nullptr;
    bool ok = qvbench::writeBenchDatabase(gen, pristine(), &error) &&
              sqlite3_open((pristine() + ".sqlite").c_str(), &db) == SQLITE_OK &&
              qvbench::writeBenchSqlite(gen, db, &error);
    sqlite3_close(db);
    ok = ok && deleteTenth(gen, &error);
    if (!ok) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    qvbench::noteBuilt(gDir, wanted);
    return true;
}

void freshCopy(bool ours) {
    const auto over = fs::copy_options::overwrite_existing;
    if (ours) {
        for (const char* ext : kExtensions) fs::copy_file(pristine() + ext, work() + ext, over);
    } else {
        fs::copy_file(pristine() + ".sqlite", work() + ".sqlite", over);
    }
}

void note(benchmark::State& state, const std::string& name,
          std::chrono::steady_clock::time_point t0) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    gSeconds[name].push_back(seconds);
    state.counters["seconds"] = seconds;
}

bool sqliteRun(const char* sql) {
    sqlite3* db = nullptr;
    char* message = nullptr;
    bool ok = sqlite3_open((work() + ".sqlite").c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK;
    if (message) std::fprintf(stderr, "%s\n", message);
    sqlite3_free(message);
    sqlite3_close(db);
    return ok;
}

// One run of a figure on a fresh copy of the prepared files of one side.
void timed(benchmark::State& state, const std::string& name, bool ours,
           const std::function<bool()>& work) {
    for (auto _ : state) {
        state.PauseTiming();
        freshCopy(ours);
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = work();
        note(state, name, t0);
        if (!ok) state.SkipWithError((name + " failed").c_str());
    }
}

void maintainOurs(benchmark::State& state) {
    timed(state, "maintain/quorvane", true, [] {
        ZTFile file(work().c_str());
        ZTMaintenance job(&file, false, true, true, false, 1);
        return file.open(3, false) == 3 && job.start(nullptr, nullptr) && !job.hasFailed();
    });
}

void maintainSqlite(benchmark::State& state) {
    timed(state, "maintain/sqlite", false,
          [] { return sqliteRun("PRAGMA integrity_check; VACUUM;"); });
}

void reindexOurs(benchmark::State& state) {
    timed(state, "reindex/quorvane", true, [] {
        ZTFile file(work().c_str());
        return file.rebuildIndexes();
    });
}

void reindexSqlite(benchmark::State& state) {
    timed(state, "reindex/sqlite", false, [] { return sqliteRun("REINDEX;"); });
}

void printRatios() {
    std::printf("\n%-10s %14s %14s %8s\n", "figure", "quorvane s", "sqlite s", "ratio");
    for (const char* figure : {"maintain", "reindex"}) {
        auto mine = gSeconds.find(std::string(figure) + "/quorvane");
        auto theirs = gSeconds.find(std::string(figure) + "/sqlite");
        if (mine == gSeconds.end() || theirs == gSeconds.end()) continue;
        const double a = qvbench::median(mine->second), b = qvbench::median(theirs->second);
        std::printf("%-10s %14.3f %14.3f %8.2f\n", figure, a, b, a / b);
    }
    std::printf("(%u records, a tenth deleted; medians of %d runs; ratio = our time / SQLite's)\n",
                gOptions.records, gReps);
}

}  // namespace

int main(int argc, char** argv) {
    gOptions.records = 100000;
    std::string dir;
    const std::vector<char*> rest = qvbench::takeFlags(
        argc, argv,
        {qvbench::countFlag("--records", &gOptions.records),
         qvbench::numberFlag("--reps", &gReps, 1), qvbench::textFlag("--dir", &dir)});
    const qvbench::BenchFolder folder(dir);
    if (!folder.ok()) return 1;
    gDir = folder.path();
    const BenchGenerator gen(gOptions);
    if (!prepare(gen)) return 1;
    qvbench::runFigures(rest,
                        {{"maintain/quorvane", maintainOurs},
                         {"maintain/sqlite", maintainSqlite},
                         {"reindex/quorvane", reindexOurs},
                         {"reindex/sqlite", reindexSqlite}},
                        gReps);
    printRatios();
    return 0;
}
