// The database file against SQLite: the counted lock with nothing to flush, and opening a
// database of many rows with the record-count check up to its first indexed read.
//
//   lock        ZTFile::lock + unlock on a shared database   vs  BEGIN IMMEDIATE + COMMIT (WAL)
//   open        ZTFile::open(3, verify) and a seek on ZTW2    vs  open + first indexed SELECT
//
// Both stores hold the same rows (the engine's 44-byte rows with its three tags; SQLite: BLOB
// columns with the same three indexes). Each figure is the median of --reps runs; the ratio is
// SQLite's time over ours (above 1: we are faster). Opens are measured warm: the files are in
// the page cache after the first run.
//
// Flags besides Google Benchmark's own: --rows=1000000 --dir=PATH --reps=5

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/support/benchrun.h"
#include "xbase/xbase.h"
#include "ztdb/ztcodec.h"
#include "ztdb/ztfile.h"

namespace {

namespace fs = std::filesystem;

std::string gDir;
long gRows = 1000000;
int gReps = 5;
std::map<std::string, std::vector<double>> gSeconds;  // figure/engine -> seconds per operation

std::string base() {
    return gDir + "/bench";
}

// The row of number i: records of about five values over 40 fields, word keys.
struct RowBytes {
    unsigned char a[3], b[3], c[2], e[4];
    char d[31];
};

void makeRow(const ZTFile& file, long i, std::mt19937& rng, RowBytes* r) {
    static const char* words[] = {"Anderson",  "Berlin", "Carlsen", "Dublin",  "Eriksen",
                                  "Frankfurt", "Garcia", "Hamburg", "Ivanova", "Jensen"};
    writeBase255(uint32_t(1001 + i / 5), r->a, 3);
    writeBase255(uint32_t(1 + rng() % 40), r->b, 3);
    writeBase255(uint32_t(1 + i % 5), r->c, 2);
    writeBase255(uint32_t(i + 1), r->e, 4);
    std::string text = std::string(words[rng() % 10]) + " " + std::to_string(rng() % 100000);
    file.makeKey(text.c_str(), r->d, true, false, false, false);
}

bool fillQuorvane() {
    {
        ZTFile file(base().c_str());
        if (!file.create(3, 30, 30)) return false;
    }
    ZTFile file(base().c_str());
    if (file.open(5, false) != 5) return false;  // tables only, exclusive: no keys to keep
    env4* env = file.getEnv();
    env->bufferMemory = 8 << 20;
    table4* t = file.getRowTable();
    if (buffer4start(env) != 0 || table4setWriteBehind(t, 1) != 0) return false;
    std::mt19937 rng(7);
    RowBytes r;
    for (long i = 0; i < gRows; ++i) {
        makeRow(file, i, rng, &r);
        if (table4beginAppend(t, 0) != 0 ||
            field4assignBytes(table4field(t, 1), reinterpret_cast<char*>(r.a), 3) != 0 ||
            field4assignBytes(table4field(t, 2), reinterpret_cast<char*>(r.b), 3) != 0 ||
            field4assignBytes(table4field(t, 3), reinterpret_cast<char*>(r.c), 2) != 0 ||
            field4assignBytes(table4field(t, 4), r.d, 30) != 0 ||
            field4assignBytes(table4field(t, 5), reinterpret_cast<char*>(r.e), 4) != 0 ||
            field4assign(table4field(t, 6), "\x01") != 0 || table4append(t) != 0)
            return false;
    }
    file.close();
    return file.rebuildIndexes();
}

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool fillSqlite() {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open((base() + ".sqlite").c_str(), &db) == SQLITE_OK &&
              exec(db, "PRAGMA journal_mode=WAL") &&
              exec(db, "CREATE TABLE rows(a BLOB, b BLOB, c BLOB, d BLOB, e BLOB, f BLOB)") &&
              exec(db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO rows VALUES(?,?,?,?,?,?)", -1, &insert,
                                  nullptr) == SQLITE_OK;
    ZTFile keys(base().c_str());
    ok = ok && keys.open(1, false) == 1;  // only for its key lengths
    std::mt19937 rng(7);
    RowBytes r;
    for (long i = 0; ok && i < gRows; ++i) {
        makeRow(keys, i, rng, &r);
        sqlite3_bind_blob(insert, 1, r.a, 3, SQLITE_STATIC);
        sqlite3_bind_blob(insert, 2, r.b, 3, SQLITE_STATIC);
        sqlite3_bind_blob(insert, 3, r.c, 2, SQLITE_STATIC);
        sqlite3_bind_blob(insert, 4, r.d, 30, SQLITE_STATIC);
        sqlite3_bind_blob(insert, 5, r.e, 4, SQLITE_STATIC);
        sqlite3_bind_blob(insert, 6, "\x01", 1, SQLITE_STATIC);
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    sqlite3_finalize(insert);
    ok = ok && exec(db, "COMMIT") && exec(db, "CREATE INDEX ztw1 ON rows(b, d, e, f)") &&
         exec(db, "CREATE INDEX ztw2 ON rows(a, b, c, d)") &&
         exec(db, "CREATE INDEX ztw3 ON rows(e, f)");
    sqlite3_close(db);
    return ok;
}

void record(benchmark::State& state, const std::string& name, double seconds, long operations) {
    gSeconds[name].push_back(seconds / double(operations));
    state.counters["us_per_op"] = seconds / double(operations) * 1e6;
}

double elapsed(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

constexpr long kLocks = 20000;
constexpr long kOpens = 200;

void lockQuorvane(benchmark::State& state) {
    ZTFile file(base().c_str());
    if (file.open(3, true) != 3) state.SkipWithError("open failed");
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (long i = 0; i < kLocks; ++i)
            if (!file.lock(false) || !file.unlock()) state.SkipWithError("lock failed");
        record(state, "lock + unlock/quorvane", elapsed(t0), kLocks);
    }
}

void lockSqlite(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open((base() + ".sqlite").c_str(), &db);
    sqlite3_stmt *begin = nullptr, *commit = nullptr;
    sqlite3_prepare_v2(db, "BEGIN IMMEDIATE", -1, &begin, nullptr);
    sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr);
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (long i = 0; i < kLocks; ++i)
            if (sqlite3_step(begin) != SQLITE_DONE || sqlite3_reset(begin) != SQLITE_OK ||
                sqlite3_step(commit) != SQLITE_DONE || sqlite3_reset(commit) != SQLITE_OK)
                state.SkipWithError("transaction failed");
        record(state, "lock + unlock/sqlite", elapsed(t0), kLocks);
    }
    sqlite3_finalize(begin);
    sqlite3_finalize(commit);
    sqlite3_close(db);
}

void openQuorvane(benchmark::State& state) {
    unsigned char key[8];
    writeBase255(1001 + uint32_t(gRows / 10), key, 3);
    writeBase255(1, key + 3, 3);
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (long i = 0; i < kOpens; ++i) {
            ZTFile file(base().c_str());
            if (file.open(3, true) != 3) state.SkipWithError("open failed");
            table4* t = file.getRowTable();
            if (table4selectTag(t, file.getRowTag(2)) == nullptr ||
                table4seekN(t, reinterpret_cast<char*>(key), 3) < 0)
                state.SkipWithError("seek failed");
        }
        record(state, "open + first read/quorvane", elapsed(t0), kOpens);
    }
}

void openSqlite(benchmark::State& state) {
    unsigned char key[3];
    writeBase255(1001 + uint32_t(gRows / 10), key, 3);
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (long i = 0; i < kOpens; ++i) {
            sqlite3* db = nullptr;
            sqlite3_stmt* select = nullptr;
            bool ok = sqlite3_open_v2((base() + ".sqlite").c_str(), &db, SQLITE_OPEN_READWRITE,
                                      nullptr) == SQLITE_OK &&
                      sqlite3_prepare_v2(
                          db, "SELECT d FROM rows WHERE a >= ? ORDER BY a, b, c, d LIMIT 1", -1,
                          &select, nullptr) == SQLITE_OK &&
                      sqlite3_bind_blob(select, 1, key, 3, SQLITE_STATIC) == SQLITE_OK &&
                      sqlite3_step(select) == SQLITE_ROW;
            if (!ok) state.SkipWithError("select failed");
            sqlite3_finalize(select);
            sqlite3_close(db);
        }
        record(state, "open + first read/sqlite", elapsed(t0), kOpens);
    }
}

void printRatios() {
    std::printf("\n%-28s %14s %14s %8s\n", "figure", "quorvane us", "sqlite us", "ratio");
    for (const char* figure : {"lock + unlock", "open + first read"}) {
        auto mine = gSeconds.find(std::string(figure) + "/quorvane");
        auto theirs = gSeconds.find(std::string(figure) + "/sqlite");
        if (mine == gSeconds.end() || theirs == gSeconds.end()) continue;
        const double a = qvbench::median(mine->second), b = qvbench::median(theirs->second);
        std::printf("%-28s %14.2f %14.2f %8.2f\n", figure, a * 1e6, b * 1e6, b / a);
    }
    std::printf("(%ld rows; medians of %d runs; ratio = SQLite's time / ours, above 1 is faster)\n",
                gRows, gReps);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--rows=", 0) == 0)
            gRows = std::stol(arg.substr(7));
        else if (arg.rfind("--dir=", 0) == 0)
            gDir = arg.substr(6);
        else if (arg.rfind("--reps=", 0) == 0)
            gReps = std::max(1, std::stoi(arg.substr(7)));
        else
            rest.push_back(argv[i]);
    }
    const bool ownDir = gDir.empty();
    if (ownDir) gDir = qvbench::makeScratchFolder();
    if (gDir.empty()) return 1;
    if (!fillQuorvane() || !fillSqlite()) {
        std::fprintf(stderr, "could not build the databases in %s\n", gDir.c_str());
        return 1;
    }
    qvbench::runFigures(rest,
                        {{"lock/quorvane", lockQuorvane},
                         {"lock/sqlite", lockSqlite},
                         {"open/quorvane", openQuorvane},
                         {"open/sqlite", openSqlite}},
                        gReps);
    printRatios();
    if (ownDir) fs::remove_all(gDir);
    return 0;
}
