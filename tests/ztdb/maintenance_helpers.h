#pragma once
// Test helpers for maintenance: running the job on a database at a path, and comparing what the
// checker read before and after, record by record and chain by chain.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/dbcheck.h"
#include "support/dbfixture.h"
#include "xbase/temp_dir.h"
#include "ztdb/ztmaintenance.h"

struct MaintenanceResult {
    bool started = false;
    int64_t repairs = 0;
    bool failed = false;
};

// Runs the maintenance inline on the database at base, opened shared with whatever indexes
// open (a pack only when they do).
inline MaintenanceResult maintain(const std::string& base, bool pack, bool check, bool purge,
                                  const ZTMaintenance::RecordDeleter& deleter = {}) {
    ZTFile file(base.c_str());
    MaintenanceResult out;
    if (!(file.open(3, false) & kOpenTables)) return out;
    ZTMaintenance job(&file, false, pack && file.isUsable(), check, purge, 1);
    if (deleter) job.setRecordDeleter(deleter);
    out.started = job.start(nullptr, nullptr);
    out.repairs = job.getRepairs();
    out.failed = job.hasFailed();
    return out;
}

// A row as the checker read it, without its place in the table.
using RowImage = std::tuple<bool, uint32_t, uint32_t, uint32_t, uint32_t, uint8_t, std::string>;

inline RowImage imageOf(const dbcheck::StoredRow& r) {
    return {r.deleted, r.a, r.b, r.c, r.e, r.f, r.d};
}

// Live rows of each record other than the touched ones, and chunks of the chains those rows
// use: the parts of a database that a repair elsewhere must leave byte for byte.
struct Untouched {
    std::map<int32_t, RowImage> rows;
    std::map<int32_t, std::tuple<bool, uint32_t, uint32_t, std::string>> chunks;
};

inline Untouched untouched(const dbcheck::Report& report, const std::set<uint32_t>& touched) {
    Untouched out;
    std::set<uint32_t> chains;
    for (const dbcheck::StoredRow& r : report.rows) {
        if (r.a == 0 || touched.count(r.a)) continue;
        out.rows[r.number] = imageOf(r);
        chains.insert(r.e);
    }
    for (const dbcheck::StoredChunk& c : report.chunks)
        if (c.chain != 0 && chains.count(c.chain) && !c.deleted)
            out.chunks[c.number] = {c.deleted, c.chain, c.seq, c.bytes};
    return out;
}

inline void expectUntouched(const dbcheck::Report& before, const dbcheck::Report& after,
                            const std::set<uint32_t>& touched) {
    const Untouched was = untouched(before, touched), is = untouched(after, touched);
    EXPECT_TRUE(was.rows == is.rows) << "a row of a record that needed no repair changed";
    EXPECT_TRUE(was.chunks == is.chunks) << "a chunk of a value that needed no repair changed";
}

// The live rows of a record and type, in position order.
inline std::vector<dbcheck::StoredRow> rowsOf(const dbcheck::Report& report, uint32_t record,
                                              uint32_t type) {
    std::vector<dbcheck::StoredRow> out;
    for (const dbcheck::StoredRow& r : report.rows)
        if (!r.deleted && r.a == record && r.b == type) out.push_back(r);
    std::sort(out.begin(), out.end(),
              [](const auto& x, const auto& y) { return std::tie(x.c, x.d) < std::tie(y.c, y.d); });
    return out;
}

// The text of a chain as the checker read its chunks.
inline std::string textOf(const dbcheck::Report& report, uint32_t chain) {
    std::map<uint32_t, std::string> bySeq;
    for (const dbcheck::StoredChunk& c : report.chunks)
        if (c.chain == chain && !c.deleted) bySeq[c.seq] = c.bytes;
    std::string text;
    for (const auto& [seq, bytes] : bySeq) {
        const size_t zero = bytes.find('\0');
        text += bytes.substr(0, zero);
        if (zero != std::string::npos) break;
    }
    return text;
}

// A database of `members` records in one set, every record alive, with a long value on every
// third and free rows and free chunks between them for a pack to take away.
inline std::string writePackable(const TempDir& dir, uint32_t members) {
    dbcheck::Fixture fx;
    fx.counter(1004 + members + 1);
    const uint32_t name = fx.field(1001, "Name");
    fx.field(1002, "Notes");
    fx.set(1003, "People", {name});
    for (uint32_t r = 1004; r < 1004 + members; ++r) {
        fx.value(r, 1001, 1, "Person " + std::to_string(r));
        if (r % 3 == 0) fx.value(r, 1002, 1, std::string(40 + r % 50, char('a' + r % 26)));
        fx.member(r, 1003);
        if (r % 4 == 0) fx.freeRow();
        if (r % 5 == 0) fx.chunks.push_back({0, 0, "", true});
    }
    const std::string base = dir.file("db");
    EXPECT_TRUE(fx.write(base)) << fx.error;
    return base;
}
