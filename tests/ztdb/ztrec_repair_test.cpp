// Repairs of the maintenance check on small damaged databases: each damage is repaired, the
// checker is clean afterwards, and every record that needed no repair keeps its bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "date_order_pin.h"
#include "maintenance_helpers.h"
#include "support/dbdamage.h"
#include "xbase/temp_dir.h"

namespace {

struct RepairCase {
    const char* name;
    std::function<void(dbcheck::Sound&)> seed;
    std::set<uint32_t> touched;  // records whose rows the repair may change
    bool repairs;                // whether anything is to be repaired at all
    std::function<void(const dbcheck::Report&, dbcheck::Sound&)> expect;
};

uint32_t liveChainOf(const dbcheck::Report& report, const std::string& text) {
    for (const dbcheck::StoredChunk& c : report.chunks)
        if (!c.deleted && c.chain != 0 && textOf(report, c.chain) == text) return c.chain;
    return 0;
}

const std::vector<RepairCase>& repairCases() {
    static const std::vector<RepairCase> cases = {
        {"a sound database", nullptr, {}, false, nullptr},
        {"type 0 becomes 17",
         [](dbcheck::Sound& s) { s.fx.value(1004, 0, 1, "Zero"); },
         {1004},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound&) {
             auto rows = rowsOf(r, 1004, 17);
             ASSERT_EQ(rows.size(), 1u);
             EXPECT_EQ(textOf(r, rows[0].e), "Zero");
             EXPECT_TRUE(rowsOf(r, 1004, 0).empty());
         }},
        {"a wrong key is made again",
         [](dbcheck::Sound& s) { s.fx.rows[2].d = s.fx.keyOf("other"); },
         {1002},
         true,
         nullptr},
        {"a duplicate inside one record goes",
         [](dbcheck::Sound& s) { s.fx.value(1005, 1002, 2, "Rome"); },
         {1005},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound&) {
             EXPECT_EQ(rowsOf(r, 1005, 1002).size(), 1u);
         }},
        {"the same text as the next record's first value stays",
         [](dbcheck::Sound& s) {
             s.fx.value(1007, 1002, 1, "Oslo");
             s.fx.value(1008, 1002, 1, "Oslo");
         },
         {},
         false,
         [](const dbcheck::Report& r, dbcheck::Sound&) {
             EXPECT_EQ(rowsOf(r, 1007, 1002).size(), 1u);
             EXPECT_EQ(rowsOf(r, 1008, 1002).size(), 1u);
         }},
        {"two values at one position get ascending positions",
         [](dbcheck::Sound& s) { s.fx.value(1004, 1002, 1, "Lyon"); },
         {1004},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound&) {
             auto rows = rowsOf(r, 1004, 1002);
             ASSERT_EQ(rows.size(), 2u);
             EXPECT_EQ(rows[0].c, 1u);
             EXPECT_EQ(rows[1].c, 2u);
             EXPECT_EQ(textOf(r, rows[0].e), "Lyon");  // the order of the values is kept
         }},
        {"a link row to a value without owner goes, and so does its chain",
         [](dbcheck::Sound& s) {
             uint32_t e = s.fx.chain("orphan");
             s.fx.link(1006, 1002, 9, e);
         },
         {1006},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound&) {
             EXPECT_EQ(liveChainOf(r, "orphan"), 0u);
             EXPECT_EQ(rowsOf(r, 1006, 1002).size(), 3u);
         }},
        {"a chain of no value goes",
         [](dbcheck::Sound& s) { s.fx.chain("stray"); },
         {},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound&) { EXPECT_EQ(liveChainOf(r, "stray"), 0u); }},
        {"a date whose day and month could swap is not rewritten",
         [](dbcheck::Sound& s) { s.fx.value(1004, 1002, 2, "1/2/2003"); },
         {},
         false,
         nullptr},
        {"an unambiguous date is written in the stored form",
         [](dbcheck::Sound& s) { s.fx.value(1004, 1002, 2, "2003/2/1"); },
         {1004},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound&) {
             auto rows = rowsOf(r, 1004, 1002);
             ASSERT_EQ(rows.size(), 2u);
             EXPECT_EQ(textOf(r, rows[1].e), "2003/02/01 00:00:00");
         }},
        {"a set without a name loses its membership rows",
         [](dbcheck::Sound& s) {
             auto& rows = s.fx.rows;
             rows.erase(std::remove_if(rows.begin(), rows.end(),
                                       [](const auto& r) { return r.a == 1003 && r.b == 9; }),
                        rows.end());
         },
         {1004, 1005},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound&) {
             EXPECT_TRUE(rowsOf(r, 1004, 1003).empty());
             EXPECT_TRUE(rowsOf(r, 1005, 1003).empty());
         }},
        {"a missing tie is written again beside the one left",
         [](dbcheck::Sound& s) { s.fx.rows.erase(s.fx.rows.begin() + long(s.tiedRow)); },
         {1004},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound&) {
             std::multiset<uint32_t> values, tied;
             for (const auto& v : rowsOf(r, 1004, 1001)) values.insert(v.e);
             for (const auto& m : rowsOf(r, 1004, 1003)) {
                 EXPECT_EQ(m.f & 0xC0, 0xC0) << "a tied membership row";
                 tied.insert(m.e);
             }
             EXPECT_EQ(values.size(), 2u);
             EXPECT_EQ(tied, values);
         }},
        {"a second owner of a value in another record goes",
         [](dbcheck::Sound& s) {
             s.fx.rows.push_back({1005, 1002, 2, s.paris, 1, false, s.fx.keyOf("Paris")});
         },
         {1005},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound& s) {
             ASSERT_EQ(rowsOf(r, 1004, 1002).size(), 1u);
             EXPECT_EQ(rowsOf(r, 1004, 1002)[0].e, s.paris);
             EXPECT_EQ(rowsOf(r, 1005, 1002).size(), 1u);
         }},
        {"a row of a record marked deleted is kept live",
         [](dbcheck::Sound& s) { s.fx.rows[s.linkRow].deleted = true; },
         {1006},
         true,
         [](const dbcheck::Report& r, dbcheck::Sound&) {
             EXPECT_EQ(rowsOf(r, 1006, 1002).size(), 3u);
         }},
        {"a flag byte without bit 0 gets it",
         [](dbcheck::Sound& s) { s.fx.rows[1].f = 2; },
         {1001},
         true,
         nullptr},
        {"a zero byte in a key is made good",
         [](dbcheck::Sound& s) { s.fx.rows[1].d[3] = '\0'; },
         {1001},
         true,
         nullptr},
    };
    return cases;
}

}  // namespace

TEST(ZTRecRepair, EachDamageIsRepairedAndEveryOtherRecordKeepsItsBytes) {
    DateOrderPin pin(false);
    for (const RepairCase& c : repairCases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dbcheck::Sound sound;
        if (c.seed) c.seed(sound);
        const std::string base = dir.file("db");
        ASSERT_TRUE(sound.fx.write(base)) << sound.fx.error;
        const dbcheck::Report before = dbcheck::checkDatabase(base);
        if (!c.repairs) {
            EXPECT_TRUE(before.sound()) << before.text();
        }

        const MaintenanceResult done = maintain(base, false, true, false);
        ASSERT_TRUE(done.started);
        EXPECT_FALSE(done.failed);
        EXPECT_EQ(done.repairs > 0, c.repairs) << done.repairs;

        const dbcheck::Report after = dbcheck::checkDatabase(base);
        EXPECT_TRUE(after.sound()) << after.text();
        expectUntouched(before, after, c.touched);
        if (c.expect) c.expect(after, sound);

        // What one check leaves, a second finds sound.
        EXPECT_EQ(maintain(base, false, true, false).repairs, 0);
    }
}

// Every damage the checker can seed is repaired, or refused at open (a foreign layout); nothing
// crashes.
TEST(ZTRecRepair, EverySeededDamageIsRepairedOrRefused) {
    DateOrderPin pin(false);
    for (const dbcheck::Seeded& fault : dbcheck::seededFaults()) {
        SCOPED_TRACE(fault.name);
        TempDir dir;
        dbcheck::Sound sound;
        if (fault.before) fault.before(sound);
        const std::string base = dir.file("db");
        ASSERT_TRUE(sound.fx.write(base)) << sound.fx.error;
        if (fault.after) fault.after(sound, base);

        const MaintenanceResult done = maintain(base, false, true, false);
        const dbcheck::Report after = dbcheck::checkDatabase(base);
        if (done.started) {
            EXPECT_FALSE(done.failed);
            EXPECT_TRUE(after.sound()) << after.text();
        } else {
            EXPECT_EQ(std::string(fault.name), "foreign field widths");
        }
    }
}
