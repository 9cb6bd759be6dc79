// The table library against SQLite on the engine's own table shape.
//
// Rows are the engine's 44-byte rows (record, field, position, value key,
// value number, flags: C3 C3 C2 C30 C4 C1) with its three tags:
//   ZTW1  B+D+E+F  (38 bytes)   values of one field in value order
//   ZTW2  A+B+C+D  (38 bytes)   rows of one record
//   ZTW3  E+F      (5 bytes)    rows sharing a value number
// SQLite gets the same rows as BLOB columns with the same three indexes.
//
// Each figure is measured for both in the same run, at 100,000 and 1,000,000
// rows, and the ratio (library / SQLite, higher is better for the library)
// is printed at the end. Peak memory is measured in a child process per
// engine so that one does not inflate the other.
//
// Both sides do the same work under the same terms:
//   durability  a figure that writes ends each unit of work with the data on
//               the device: the library flushes (syncs) where SQLite commits
//               with synchronous=FULL, per row for shared appends, once for a
//               load or a rebuild;
//   locking     appends of many processes: the library's table opened shared
//               with its locks per row, SQLite a write transaction per row;
//               seeks, walks and rebuilds: the library's table opened
//               exclusive, SQLite in exclusive locking mode inside one
//               transaction;
//   work        each row found is loaded whole: the library's record, all six
//               of SQLite's columns;
//   memory      --cache-kib holds every cache of each: SQLite's page cache;
//               the library's block buffer (with its descriptors) plus its
//               tags' node caches and, while rebuilding, the sort's memory.
// Each figure makes the files it reads when they are missing, so that any
// one can run alone (--benchmark_filter=Seek).
//
// Flags besides Google Benchmark's own: --rows=100000,1000000 --dir=PATH
// --cache-kib=2048 (the cache memory given to each) --reps=3 (runs of each
// timed figure; the ratio compares medians).

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "xbase/index/sort4.h"
#include "xbase/index/tag4.h"
#include "xbase/xbase.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRowWidth = 43;  // without the deletion byte
constexpr int kSeeks = 100000;
constexpr int kSharedAppends = 2000;

std::string gDir;
std::vector<long> gRows = {100000, 1000000};
long gCacheKiB = 2048;  // cache memory of each: the library's block buffers, SQLite's page cache
int gReps = 3;          // runs of each timed figure; the ratio compares medians

// --- rows -----------------------------------------------------------------

// Base-255 digits, each plus one so that no byte is zero.
void digits(unsigned long v, int n, char* out) {
    for (int i = n - 1; i >= 0; --i) {
        out[i] = static_cast<char>(v % 255 + 1);
        v /= 255;
    }
}

struct Row {
    char bytes[kRowWidth];  // A(3) B(3) C(2) D(30) E(4) F(1)
    const char* a() const { return bytes; }
    const char* b() const { return bytes + 3; }
    const char* c() const { return bytes + 6; }
    const char* d() const { return bytes + 8; }
    const char* e() const { return bytes + 38; }
    const char* f() const { return bytes + 42; }
};

// Rows as the engine writes them: records of a few values each, over a few
// dozen fields, with value keys of words that share prefixes. Made one at a
// time, so that a run can hold none of them in memory.
class RowMaker {
  public:
    explicit RowMaker(unsigned seed) : rng_(seed) {}
    void next(Row& r) {
        static const char* words[] = {"Anderson",  "Berlin", "Carlsen", "Dublin",  "Eriksen",
                                      "Frankfurt", "Garcia", "Hamburg", "Ivanova", "Jensen",
                                      "Kowalski",  "London", "Muller",  "Nielsen", "Olsen",
                                      "Paris",     "Quinn",  "Rossi",   "Schmidt", "Tanaka"};
        const long i = i_++;
        std::memset(r.bytes, ' ', kRowWidth);
        digits(1001 + i / 6, 3, r.bytes);
        digits(1 + rng_() % 40, 3, r.bytes + 3);
        digits(1 + i % 6, 2, r.bytes + 6);
        std::string key = words[rng_() % 20];
        key += ' ';
        key += words[rng_() % 20];
        key += ' ';
        key += std::to_string(rng_() % 100000);
        std::memcpy(r.bytes + 8, key.data(), std::min<size_t>(key.size(), 30));
        digits(static_cast<unsigned long>(i + 1), 4, r.bytes + 38);
        r.bytes[42] = (i % 9 == 0) ? '\x40' : '\x01';
    }

  private:
    std::mt19937 rng_;
    long i_ = 0;
};

std::vector<Row> makeRows(long n, unsigned seed) {
    RowMaker maker(seed);
    std::vector<Row> rows(n);
    for (Row& r : rows) maker.next(r);
    return rows;
}

const std::vector<Row>& rowsFor(long n) {
    static std::map<long, std::vector<Row>> cache;
    auto it = cache.find(n);
    if (it == cache.end()) it = cache.emplace(n, makeRows(n, 7)).first;
    return it->second;
}

std::string pathFor(const char* engine, long n, const char* ext) {
    return gDir + "/" + engine + std::to_string(n) + ext;
}

void removeXbase(const std::string& base) {
    fs::remove(base + ".dbf");
    fs::remove(base + ".cdx");
}

// --- the library ----------------------------------------------------------

const field4def kFields[] = {
    {"A", 'C', 3, 0, 0}, {"B", 'C', 3, 0, 0}, {"C", 'C', 2, 0, 0},   {"D", 'C', 30, 0, 0},
    {"E", 'C', 4, 0, 0}, {"F", 'C', 1, 0, 0}, {nullptr, 0, 0, 0, 0},
};
const tag4def kTags[] = {
    {"ZTW1", "B+D+E+F", nullptr, 0, 0},
    {"ZTW2", "A+B+C+D", nullptr, 0, 0},
    {"ZTW3", "E+F", nullptr, 0, 0},
    {nullptr, nullptr, nullptr, 0, 0},
};

constexpr int kTagCaches = 4;  // the three tags and the index file's directory of them
constexpr int kLongestKey = 38;

// What is left of the cache budget for the block buffer's blocks once the
// tags' node caches, the buffer's own bookkeeping and, while rebuilding, the
// sort are counted (never below 64 KiB).
int32_t bufferBytes(env4& env, bool rebuilding) {
    int64_t bytes = gCacheKiB * 1024 - int64_t{kTagCaches} * tag4cacheBytes();
    if (rebuilding) bytes -= sort4memoryMost(&env, kLongestKey, 0) + env.memSizeSortBuffer;
    env.bufferMemory = static_cast<int32_t>(std::max<int64_t>(bytes, 0));
    bytes -= buffer4overheadBytes(&env);
    return static_cast<int32_t>(std::max<int64_t>(bytes, 64 * 1024));
}

struct Xbase {
    env4 env{};
    table4* t = nullptr;

    // Settings as the engine uses them: one lock attempt (waiting while other
    // processes hold it), read-ahead and write-behind for every file, block
    // buffers started once the tables are open.
    explicit Xbase(bool exclusive, bool rebuilding = false) {
        (void)env4init(&env, env4version);
        env.accessMode = exclusive ? 1 : 0;
        env.safety = 0;
        env.lockAttempts = 1;
        env.readAhead = 1;
        env.writeBehind = 1;
        env.bufferMemory = bufferBytes(env, rebuilding);
    }
    ~Xbase() {
        if (t) (void)table4close(t);
        (void)env4release(&env);
    }
    bool create(const std::string& base) {
        t = table4create(&env, (base + ".dbf").c_str(), kFields, kTags);
        return t != nullptr && buffer4start(&env) == 0;
    }
    bool open(const std::string& base) {
        t = table4open(&env, (base + ".dbf").c_str());
        return t != nullptr && buffer4start(&env) == 0;
    }
    int32_t append(const Row& r) {
        char* buf = table4recordBuffer(t);
        buf[0] = ' ';
        std::memcpy(buf + 1, r.bytes, kRowWidth);
        return table4append(t);
    }
    void select(const char* tag) { table4selectTag(t, table4findTag(t, tag)); }
};

void fail(benchmark::State& state, const char* what, int code) {
    state.SkipWithError((std::string(what) + " failed: " + std::to_string(code)).c_str());
}

// --- SQLite ---------------------------------------------------------------

struct Sqlite {
    sqlite3* db = nullptr;
    explicit Sqlite(const std::string& path) {
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
            std::fprintf(stderr, "sqlite: cannot open %s\n", path.c_str());
            std::abort();
        }
        exec(("PRAGMA cache_size=-" + std::to_string(gCacheKiB)).c_str());
        exec("PRAGMA synchronous=FULL");
    }
    // Readers and rebuilds as the library's exclusive table: the file's lock
    // taken once and kept.
    void exclusive() { exec("PRAGMA locking_mode=EXCLUSIVE"); }
    ~Sqlite() { sqlite3_close(db); }
    void exec(const char* sql) {
        char* err = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
            std::fprintf(stderr, "sqlite: %s: %s\n", sql, err ? err : "?");
            sqlite3_free(err);
            std::abort();
        }
    }
    sqlite3_stmt* prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) std::abort();
        return s;
    }
    void createSchema() {
        exec("CREATE TABLE r(a BLOB, b BLOB, c BLOB, d BLOB, e BLOB, f BLOB)");
        createIndexes();
    }
    void createIndexes() {
        exec("CREATE INDEX ztw1 ON r(b, d, e, f)");
        exec("CREATE INDEX ztw2 ON r(a, b, c, d)");
        exec("CREATE INDEX ztw3 ON r(e, f)");
    }
};

// Binds the ZTW2 key columns (a, b, c, d) to parameters 1 to 4.
void bindKey(sqlite3_stmt* s, const Row& r) {
    sqlite3_bind_blob(s, 1, r.a(), 3, SQLITE_STATIC);
    sqlite3_bind_blob(s, 2, r.b(), 3, SQLITE_STATIC);
    sqlite3_bind_blob(s, 3, r.c(), 2, SQLITE_STATIC);
    sqlite3_bind_blob(s, 4, r.d(), 30, SQLITE_STATIC);
}

void bindRow(sqlite3_stmt* s, const Row& r) {
    bindKey(s, r);
    sqlite3_bind_blob(s, 5, r.e(), 4, SQLITE_STATIC);
    sqlite3_bind_blob(s, 6, r.f(), 1, SQLITE_STATIC);
}

// Inserts one row: true when SQLite took it.
bool insertRow(sqlite3_stmt* ins, const Row& r) {
    bindRow(ins, r);
    const bool done = sqlite3_step(ins) == SQLITE_DONE;
    sqlite3_reset(ins);
    return done;
}

// Reads every column of the current row, as the library loads its record.
void readColumns(sqlite3_stmt* q) {
    for (int c = 0; c < 6; ++c) {
        benchmark::DoNotOptimize(sqlite3_column_blob(q, c));
        benchmark::DoNotOptimize(sqlite3_column_bytes(q, c));
    }
}

// --- files both figures start from ------------------------------------------

// The library's table of the n rows, made (untimed) when it is missing.
bool loadXbase(const std::string& base, long n) {
    removeXbase(base);
    Xbase x(true);
    if (!x.create(base)) return false;
    for (const Row& r : rowsFor(n))
        if (x.append(r) != 0) return false;
    return table4flush(x.t) == 0;
}

bool haveXbase(long n) {
    const std::string base = pathFor("xb", n, "");
    if (fs::exists(base + ".dbf") && fs::exists(base + ".cdx")) return true;
    return loadXbase(base, n);
}

bool loadSqlite(const std::string& path, long n) {
    fs::remove(path);
    Sqlite s(path);
    s.createSchema();
    s.exec("BEGIN");
    sqlite3_stmt* ins = s.prepare("INSERT INTO r VALUES(?1,?2,?3,?4,?5,?6)");
    bool ok = true;
    for (const Row& r : rowsFor(n))
        if (!(ok = insertRow(ins, r))) break;
    sqlite3_finalize(ins);
    s.exec(ok ? "COMMIT" : "ROLLBACK");
    return ok;
}

bool haveSqlite(long n) {
    const std::string path = pathFor("sq", n, ".db");
    return fs::exists(path) || loadSqlite(path, n);
}

// --- results --------------------------------------------------------------

// "figure/rows/engine" -> per second, one for each repetition
std::map<std::string, std::vector<double>> gRates;

void record(benchmark::State& state, const std::string& figure, long n, const char* engine,
            double items, double seconds) {
    double rate = seconds > 0 ? items / seconds : 0;
    state.counters["per_second"] = rate;
    gRates[figure + "/" + std::to_string(n) + "/" + engine].push_back(rate);
}

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// --- benchmarks -----------------------------------------------------------

// Appends with three tags into a new table opened exclusive, write-behind on,
// synced once at the end; SQLite: one transaction, committed with
// synchronous=FULL. The files are kept for the figures that follow.
void XbaseAppendExclusive(benchmark::State& state) {
    const long n = state.range(0);
    rowsFor(n);  // made before the clock starts
    const std::string base = pathFor("xb", n, "");
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!loadXbase(base, n)) return fail(state, "load", 0);
        record(state, "append exclusive", n, "xbase", n, since(t0));
    }
}

void SqliteAppendExclusive(benchmark::State& state) {
    const long n = state.range(0);
    rowsFor(n);
    const std::string path = pathFor("sq", n, ".db");
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!loadSqlite(path, n)) return fail(state, "load", 0);
        record(state, "append exclusive", n, "sqlite", n, since(t0));
    }
}

// Appends to a shared table of n rows, each as the engine writes between
// processes: append (which takes the lock), flush the buffers to disk, unlock.
// SQLite: a write transaction per row, committed with synchronous=FULL. A copy
// of the table is used so that the later benchmarks see exactly n rows.
void XbaseAppendShared(benchmark::State& state) {
    const long n = state.range(0);
    const auto extra = makeRows(kSharedAppends, 99);
    const std::string base = pathFor("xb", n, "");
    if (!haveXbase(n)) return fail(state, "load", 0);
    const std::string copy = pathFor("xbcopy", n, "");
    for (auto _ : state) {
        fs::copy_file(base + ".dbf", copy + ".dbf", fs::copy_options::overwrite_existing);
        fs::copy_file(base + ".cdx", copy + ".cdx", fs::copy_options::overwrite_existing);
        auto t0 = Clock::now();
        {
            Xbase x(false);
            if (!x.open(copy)) return fail(state, "open", x.env.errorCode);
            for (const Row& r : extra) {
                if (int32_t rc = x.append(r); rc != 0) return fail(state, "append", rc);
                if (int32_t rc = table4flush(x.t); rc != 0) return fail(state, "flush", rc);
                if (int32_t rc = table4unlock(x.t); rc != 0) return fail(state, "unlock", rc);
            }
        }
        record(state, "append shared", n, "xbase", kSharedAppends, since(t0));
        removeXbase(copy);
    }
}

void SqliteAppendShared(benchmark::State& state) {
    const long n = state.range(0);
    const auto extra = makeRows(kSharedAppends, 99);
    const std::string path = pathFor("sq", n, ".db");
    const std::string copy = pathFor("sqcopy", n, ".db");
    if (!haveSqlite(n)) return fail(state, "load", 0);
    for (auto _ : state) {
        fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
        auto t0 = Clock::now();
        {
            Sqlite s(copy);
            sqlite3_stmt* ins = s.prepare("INSERT INTO r VALUES(?1,?2,?3,?4,?5,?6)");
            for (const Row& r : extra) {
                s.exec("BEGIN IMMEDIATE");
                const bool ok = insertRow(ins, r);
                s.exec("COMMIT");
                if (!ok) {
                    sqlite3_finalize(ins);
                    return fail(state, "insert", 0);
                }
            }
            sqlite3_finalize(ins);
        }
        record(state, "append shared", n, "sqlite", kSharedAppends, since(t0));
        fs::remove(copy);
    }
}

std::vector<long> seekOrder(long n) {
    std::mt19937 rng(5);
    std::vector<long> order(kSeeks);
    for (auto& i : order) i = static_cast<long>(rng() % n);
    return order;
}

// Random exact seeks of whole ZTW2 keys, each loading its row.
void XbaseSeek(benchmark::State& state) {
    const long n = state.range(0);
    const auto& rows = rowsFor(n);
    const auto order = seekOrder(n);
    if (!haveXbase(n)) return fail(state, "load", 0);
    Xbase x(true);
    if (!x.open(pathFor("xb", n, ""))) return fail(state, "open", x.env.errorCode);
    x.select("ZTW2");
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (long i : order)
            if (int32_t rc = table4seekN(x.t, rows[i].bytes, 38); rc != 0)
                return fail(state, "seek", rc);
        record(state, "seek", n, "xbase", kSeeks, since(t0));
    }
}

void SqliteSeek(benchmark::State& state) {
    const long n = state.range(0);
    const auto& rows = rowsFor(n);
    const auto order = seekOrder(n);
    if (!haveSqlite(n)) return fail(state, "load", 0);
    Sqlite s(pathFor("sq", n, ".db"));
    s.exclusive();
    sqlite3_stmt* q = s.prepare("SELECT a,b,c,d,e,f FROM r WHERE a=?1 AND b=?2 AND c=?3 AND d=?4");
    for (auto _ : state) {
        auto t0 = Clock::now();
        s.exec("BEGIN");
        for (long i : order) {
            bindKey(q, rows[i]);
            const bool found = sqlite3_step(q) == SQLITE_ROW;
            if (found) readColumns(q);
            sqlite3_reset(q);
            if (!found) {
                sqlite3_finalize(q);
                return fail(state, "seek", 0);
            }
        }
        s.exec("COMMIT");
        record(state, "seek", n, "sqlite", kSeeks, since(t0));
    }
    sqlite3_finalize(q);
}

// A whole walk of ZTW1 in key order, loading every row.
void XbaseWalk(benchmark::State& state) {
    const long n = state.range(0);
    if (!haveXbase(n)) return fail(state, "load", 0);
    Xbase x(true);
    if (!x.open(pathFor("xb", n, ""))) return fail(state, "open", x.env.errorCode);
    x.select("ZTW1");
    for (auto _ : state) {
        auto t0 = Clock::now();
        long seen = 0;
        int32_t rc = table4goTop(x.t);
        for (; rc == 0; rc = table4skip(x.t, 1)) ++seen;
        if (rc != r4eof) return fail(state, "walk", rc);
        if (seen != n) return fail(state, "walk count", static_cast<int>(seen));
        record(state, "walk", n, "xbase", n, since(t0));
    }
}

void SqliteWalk(benchmark::State& state) {
    const long n = state.range(0);
    if (!haveSqlite(n)) return fail(state, "load", 0);
    Sqlite s(pathFor("sq", n, ".db"));
    s.exclusive();
    sqlite3_stmt* q = s.prepare("SELECT a,b,c,d,e,f FROM r INDEXED BY ztw1 ORDER BY b,d,e,f");
    for (auto _ : state) {
        auto t0 = Clock::now();
        long seen = 0;
        s.exec("BEGIN");
        int rc;
        while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
            readColumns(q);
            ++seen;
        }
        sqlite3_reset(q);
        s.exec("COMMIT");
        if (rc != SQLITE_DONE) {
            sqlite3_finalize(q);
            return fail(state, "walk", rc);
        }
        if (seen != n) return fail(state, "walk count", static_cast<int>(seen));
        record(state, "walk", n, "sqlite", n, since(t0));
    }
    sqlite3_finalize(q);
}

// Rebuild of the three tags from the rows, synced at the end; SQLite: the
// indexes dropped and made again in one transaction.
void XbaseRebuild(benchmark::State& state) {
    const long n = state.range(0);
    if (!haveXbase(n)) return fail(state, "load", 0);
    Xbase x(true, true);
    if (!x.open(pathFor("xb", n, ""))) return fail(state, "open", x.env.errorCode);
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (int32_t rc = table4reindex(x.t); rc != 0) return fail(state, "reindex", rc);
        if (int32_t rc = table4flush(x.t); rc != 0) return fail(state, "flush", rc);
        record(state, "rebuild", n, "xbase", n, since(t0));
    }
}

void SqliteRebuild(benchmark::State& state) {
    const long n = state.range(0);
    if (!haveSqlite(n)) return fail(state, "load", 0);
    Sqlite s(pathFor("sq", n, ".db"));
    s.exclusive();
    for (auto _ : state) {
        auto t0 = Clock::now();
        s.exec("BEGIN");
        s.exec("DROP INDEX ztw1");
        s.exec("DROP INDEX ztw2");
        s.exec("DROP INDEX ztw3");
        s.createIndexes();
        s.exec("COMMIT");
        record(state, "rebuild", n, "sqlite", n, since(t0));
    }
}

// Peak resident memory of the whole sequence above (append, seeks, walk,
// rebuild), in KiB, each engine in a fresh process of its own (this program
// run again), so that neither carries the other's memory or the rows held by
// this process. The rows are made one at a time there. The child reports its
// own high-water mark (the kernel's maxrss would carry this process's over
// the exec).
void peakMemory(benchmark::State& state, const char* engine) {
    const long n = state.range(0);
    for (auto _ : state) {
        std::string self = fs::read_symlink("/proc/self/exe");
        std::string a1 = std::string("--peak-child=") + engine, a2 = "--rows=" + std::to_string(n),
                    a3 = "--dir=" + gDir, a4 = "--cache-kib=" + std::to_string(gCacheKiB);
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return fail(state, "pipe", errno);
        std::fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            close(pipeFds[0]);
            close(pipeFds[1]);
            execl(self.c_str(), self.c_str(), a1.c_str(), a2.c_str(), a3.c_str(), a4.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        std::string said;
        char buf[64];
        for (ssize_t got; (got = read(pipeFds[0], buf, sizeof buf)) > 0;) said.append(buf, got);
        close(pipeFds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return fail(state, "child", status);
        const double kib = std::strtod(said.c_str(), nullptr);
        if (kib <= 0) return fail(state, "child's peak", 0);
        state.counters["peak_KiB"] = kib;
        // Smaller is better: store the inverse so that the ratio reads the same way.
        gRates[std::string("peak memory (inverse)/") + std::to_string(n) + "/" + engine].push_back(
            1.0 / kib);
    }
}

// This process's resident high-water mark in KiB (0 when unknown).
long highWaterKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kib;
}

// Calls use(row) for every 97th of the n rows made with seed 7.
template <typename Use>
void everyNinetySeventh(long n, Use use) {
    RowMaker maker(7);
    Row r;
    for (long i = 0; i < n; ++i) {
        maker.next(r);
        if (i % 97 == 0) use(r);
    }
}

int xbaseWork(long n) {
    const std::string base = pathFor("xbmem", n, "");
    removeXbase(base);
    {
        Xbase x(true, true);
        if (!x.create(base)) return 1;
        RowMaker maker(7);
        Row r;
        for (long i = 0; i < n; ++i) {
            maker.next(r);
            if (x.append(r) != 0) return 1;
        }
        x.select("ZTW2");
        bool found = true;
        everyNinetySeventh(
            n, [&](const Row& row) { found = found && table4seekN(x.t, row.bytes, 38) == 0; });
        if (!found) return 1;
        x.select("ZTW1");
        int32_t rc = table4goTop(x.t);
        while (rc == 0) rc = table4skip(x.t, 1);
        if (rc != r4eof || table4reindex(x.t) != 0 || table4flush(x.t) != 0) return 1;
    }
    removeXbase(base);
    return 0;
}

int sqliteWork(long n) {
    const std::string path = pathFor("sqmem", n, ".db");
    fs::remove(path);
    {
        Sqlite s(path);
        s.exclusive();
        s.createSchema();
        s.exec("BEGIN");
        sqlite3_stmt* ins = s.prepare("INSERT INTO r VALUES(?1,?2,?3,?4,?5,?6)");
        RowMaker maker(7);
        Row r;
        bool ok = true;
        for (long i = 0; i < n && ok; ++i) {
            maker.next(r);
            ok = insertRow(ins, r);
        }
        sqlite3_finalize(ins);
        s.exec("COMMIT");
        if (!ok) return 1;
        sqlite3_stmt* q = s.prepare("SELECT * FROM r WHERE a=?1 AND b=?2 AND c=?3 AND d=?4");
        everyNinetySeventh(n, [&](const Row& row) {
            bindKey(q, row);
            if (sqlite3_step(q) == SQLITE_ROW)
                readColumns(q);
            else
                ok = false;
            sqlite3_reset(q);
        });
        sqlite3_finalize(q);
        q = s.prepare("SELECT * FROM r INDEXED BY ztw1 ORDER BY b,d,e,f");
        int rc;
        while ((rc = sqlite3_step(q)) == SQLITE_ROW) readColumns(q);
        sqlite3_finalize(q);
        if (!ok || rc != SQLITE_DONE) return 1;
        s.exec("BEGIN");
        s.exec("DROP INDEX ztw1");
        s.exec("DROP INDEX ztw2");
        s.exec("DROP INDEX ztw3");
        s.createIndexes();
        s.exec("COMMIT");
    }
    fs::remove(path);
    return 0;
}

void XbasePeakMemory(benchmark::State& state) {
    peakMemory(state, "xbase");
}
void SqlitePeakMemory(benchmark::State& state) {
    peakMemory(state, "sqlite");
}

void registerAll() {
    using Fn = void (*)(benchmark::State&);
    const std::pair<const char*, Fn> order[] = {
        {"AppendExclusive/xbase", XbaseAppendExclusive},
        {"AppendExclusive/sqlite", SqliteAppendExclusive},
        {"AppendShared/xbase", XbaseAppendShared},
        {"AppendShared/sqlite", SqliteAppendShared},
        {"Seek/xbase", XbaseSeek},
        {"Seek/sqlite", SqliteSeek},
        {"Walk/xbase", XbaseWalk},
        {"Walk/sqlite", SqliteWalk},
        {"Rebuild/xbase", XbaseRebuild},
        {"Rebuild/sqlite", SqliteRebuild},
        {"PeakMemory/xbase", XbasePeakMemory},
        {"PeakMemory/sqlite", SqlitePeakMemory},
    };
    for (long n : gRows)
        for (const auto& [name, fn] : order)
            benchmark::RegisterBenchmark(name, fn)
                ->Arg(n)
                ->Iterations(1)
                ->Repetitions(std::string(name).rfind("PeakMemory", 0) == 0 ? 1 : gReps)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

void printRatios() {
    std::printf("\n%-24s %10s %16s %16s %8s\n", "figure", "rows", "library/s", "sqlite/s", "ratio");
    for (const auto& [key, rates] : gRates) {
        if (key.size() < 6 || key.compare(key.size() - 6, 6, "/xbase") != 0) continue;
        std::string stem = key.substr(0, key.size() - 6);
        auto peer = gRates.find(stem + "/sqlite");
        if (peer == gRates.end() || peer->second.empty() || rates.empty()) continue;
        const double mine = median(rates), theirs = median(peer->second);
        if (theirs <= 0) continue;
        auto slash = stem.rfind('/');
        std::printf("%-24s %10s %16.1f %16.1f %8.2f\n", stem.substr(0, slash).c_str(),
                    stem.substr(slash + 1).c_str(), mine, theirs, mine / theirs);
    }
    std::printf(
        "(medians of %d runs; peak memory rows show 1/KiB of one run: a ratio above 1\n"
        " means the library used less; cache memory of each: %ld KiB)\n",
        gReps, gCacheKiB);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    std::string peakChild;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--rows=", 0) == 0) {
            gRows.clear();
            for (size_t p = 7; p < arg.size();) {
                size_t q = arg.find(',', p);
                gRows.push_back(std::stol(arg.substr(p, q - p)));
                p = q == std::string::npos ? arg.size() : q + 1;
            }
        } else if (arg.rfind("--dir=", 0) == 0) {
            gDir = arg.substr(6);
        } else if (arg.rfind("--reps=", 0) == 0) {
            gReps = std::max(1, std::stoi(arg.substr(7)));
        } else if (arg.rfind("--cache-kib=", 0) == 0) {
            gCacheKiB = std::stol(arg.substr(12));
        } else if (arg.rfind("--peak-child=", 0) == 0) {
            peakChild = arg.substr(13);
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (!peakChild.empty()) {
        if (gDir.empty() || gRows.size() != 1) return 2;
        int rc = peakChild == "xbase" ? xbaseWork(gRows[0]) : sqliteWork(gRows[0]);
        if (rc == 0) std::printf("%ld\n", highWaterKiB());
        return rc;
    }
    bool ownDir = gDir.empty();
    if (ownDir) {
        char tmpl[] = "/tmp/qvbenchXXXXXX";
        if (!mkdtemp(tmpl)) return 1;
        gDir = tmpl;
    }
    int restc = static_cast<int>(rest.size());
    benchmark::Initialize(&restc, rest.data());
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatios();
    if (ownDir) fs::remove_all(gDir);
    return 0;
}
