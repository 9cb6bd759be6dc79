// The checker names each seeded fault by its rule and stays silent on sound databases.
#include "support/dbcheck.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/dbfixture.h"
#include "xbase/temp_dir.h"
#include "ztdb/ztcodec.h"

namespace {

using dbcheck::Fixture;

// A small sound database: two fields, a set of both, three records (one member tied to two
// values, one member without a value of the first field), a link, numbers and dates, a value
// over several chunks, a packed value, a free row and the surplus chunk of a shortened value.
struct Sound {
    Fixture fx;
    uint32_t nameField, townField, paris, longValue;
    size_t tiedRow, untiedRow, linkRow;

    explicit Sound(bool dayFirst = false) {
        fx.dayFirst = dayFirst;
        fx.counter(1010);
        nameField = fx.field(1001, "Name");
        townField = fx.field(1002, "Town");
        fx.set(1003, "People", {nameField, townField});
        fx.value(1004, 1001, 1, "Ada");
        fx.value(1004, 1001, 2, "Ava");
        paris = fx.value(1004, 1002, 1, "Paris");
        fx.member(1004, 1003);
        tiedRow = fx.rows.size() - 1;
        fx.value(1005, 1002, 1, "Rome");
        fx.member(1005, 1003);
        untiedRow = fx.rows.size() - 1;
        fx.value(1006, 1002, 1, "-12.5");
        fx.value(1006, 1002, 2, "3/4/2001 10:20");
        fx.link(1006, 1002, 3, paris);
        linkRow = fx.rows.size() - 1;
        longValue = fx.value(1006, 1001, 1, std::string(75, 'w') + " and more");
        fx.chunks.push_back({longValue, 7, "old tail", true});
        ZTStr packed;
        const std::string text = "packed text, packed well";
        EXPECT_NE(packText(reinterpret_cast<const unsigned char*>(text.data()),
                           uint32_t(text.size()), &packed),
                  0u);
        uint32_t e = fx.chain(packed.text);
        fx.rows.push_back({1006, 1001, 2, e, 1, false, fx.keyOf(text)});
        fx.freeRow();
    }
};

dbcheck::Report check(Fixture& fx, const TempDir& dir) {
    std::string base = dir.file("db");
    EXPECT_TRUE(fx.write(base)) << fx.error;
    return dbcheck::checkDatabase(base, {fx.dayFirst, 200});
}

TEST(Checker, IsSilentOnASoundDatabase) {
    for (bool dayFirst : {false, true}) {
        TempDir dir;
        Sound s(dayFirst);
        s.fx.value(1006, 1002, 4, "1/2/2003");  // a date whose key depends on the order
        dbcheck::Report r = check(s.fx, dir);
        EXPECT_TRUE(r.sound()) << r.text();
        EXPECT_EQ(r.rows.size(), s.fx.rows.size());
        EXPECT_EQ(r.layout.rowTags.size(), 3u);
        // The same files read in the other order disagree on that date's key.
        dbcheck::Report other = dbcheck::checkDatabase(dir.file("db"), {!dayFirst, 200});
        EXPECT_EQ(other.rules(), std::vector<int>{4});
    }
}

struct Seeded {
    const char* name;
    std::vector<int> rules;
    std::function<void(Sound&)> before;                     // changes to the rows before writing
    std::function<void(Sound&, const std::string&)> after;  // changes to the written files
};

TEST(Checker, NamesEachSeededFaultByItsRule) {
    const std::vector<Seeded> cases = {
        {"count above the records",
         {1},
         nullptr,
         [](Sound& s, const std::string& b) {
             dbcheck::setHeaderCount(b + ".ZT2", uint32_t(s.fx.chunks.size() + 1));
         }},
        {"a record cut short",
         {1, 3, 8},
         nullptr,
         [](Sound&, const std::string& b) {
             dbcheck::setFileLength(b + ".ZT2", dbcheck::fileLength(b + ".ZT2") - 10);
         }},
        {"foreign field widths", {1}, [](Sound& s) { s.fx.chunkField = "NOTES"; }, nullptr},
        {"flag byte without bit 0", {2}, [](Sound& s) { s.fx.rows[1].f = 2; }, nullptr},
        {"a zero byte in column D", {2, 4}, [](Sound& s) { s.fx.rows[1].d[3] = '\0'; }, nullptr},
        {"a live row of record 0",
         {2},
         [](Sound& s) { s.fx.rows.back().deleted = false; },
         nullptr},
        {"a deleted row keeping its record",
         {2},
         [](Sound& s) { s.fx.rows[s.linkRow].deleted = true; },
         nullptr},
        {"a link to a value without owner",
         {3},
         [](Sound& s) {
             uint32_t e = s.fx.chain("orphan");
             s.fx.link(1006, 1002, 9, e);
         },
         nullptr},
        {"two owners of one value",
         {3},
         [](Sound& s) {
             s.fx.rows.push_back({1005, 1002, 2, s.paris, 1, false, s.fx.keyOf("Paris")});
         },
         nullptr},
        {"an untied membership row that is not \"?\"",
         {3},
         [](Sound& s) {
             auto& row = s.fx.rows[s.untiedRow];
             for (auto& c : s.fx.chunks)
                 if (c.chain == row.e) c.bytes = "x";
             row.d = s.fx.keyOf("x");
         },
         nullptr},
        {"a chain missing a chunk",
         {3, 5},
         [](Sound& s) {
             for (size_t i = 0; i < s.fx.chunks.size(); ++i)
                 if (s.fx.chunks[i].chain == s.longValue && s.fx.chunks[i].seq == 1)
                     s.fx.chunks.erase(s.fx.chunks.begin() + long(i));
         },
         nullptr},
        {"D not the key of the value",
         {4},
         [](Sound& s) { s.fx.rows[2].d = s.fx.keyOf("other"); },
         nullptr},
        {"a position taken twice",
         {4},
         [](Sound& s) { s.fx.value(1004, 1002, 1, "Lyon"); },
         nullptr},
        {"a live chunk of no value", {5}, [](Sound& s) { s.fx.chain("stray"); }, nullptr},
        {"a free chunk not deleted",
         {5},
         [](Sound& s) {
             s.fx.chunks.push_back({0, 0, "", false});
         },
         nullptr},
        {"a deleted chunk inside a chain",
         {3, 5},
         [](Sound& s) {
             for (auto& c : s.fx.chunks)
                 if (c.chain == s.longValue && c.seq == 1) c.deleted = true;
         },
         nullptr},
        {"the counter not above every record",
         {6},
         [](Sound& s) {
             auto& row = s.fx.rows[0];
             s.fx.chunks[0].bytes = "1006";
             row.d = s.fx.keyOf("1006");
         },
         nullptr},
        {"a tied membership row missing",
         {7},
         [](Sound& s) { s.fx.rows.erase(s.fx.rows.begin() + long(s.tiedRow)); },
         nullptr},
        {"a \"?\" row beside tied rows",
         {7},
         [](Sound& s) { s.fx.value(1004, 1003, 65024, "?", 0x41); },
         nullptr},
        {"a tag behind its rows",
         {8},
         nullptr,
         [](Sound& s, const std::string& b) {
             s.fx.rows[2].c = 7;
             ASSERT_TRUE(s.fx.writeTables(b));
         }},
        {"index entries beyond the count",
         {1, 8},
         nullptr,
         [](Sound& s, const std::string& b) {
             s.fx.rows.pop_back();  // the free row: nothing else refers to it
             ASSERT_TRUE(s.fx.writeTables(b));
             dbcheck::setFileLength(b + ".ZT", dbcheck::fileLength(b + ".ZT") + 44);
         }},
        {"a damaged index node",
         {8},
         nullptr,
         [](Sound&, const std::string& b) {
             std::string bytes = dbcheck::fileBytes(b + ".IX");
             for (size_t i = 1536; i < 1536 + 200 && i < bytes.size(); ++i) bytes[i] = char(0x5A);
             FILE* f = std::fopen((b + ".IX").c_str(), "wb");
             std::fwrite(bytes.data(), 1, bytes.size(), f);
             std::fclose(f);
         }},
        {"a missing dictionary index",
         {8},
         nullptr,
         [](Sound&, const std::string& b) { std::remove((b + ".IX2").c_str()); }},
    };
    for (const Seeded& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Sound s;
        if (c.before) c.before(s);
        std::string base = dir.file("db");
        ASSERT_TRUE(s.fx.write(base)) << s.fx.error;
        if (c.after) c.after(s, base);
        dbcheck::Report r = dbcheck::checkDatabase(base);
        EXPECT_EQ(r.rules(), c.rules) << r.text();
    }
}

TEST(Checker, FindsFilesInAnyLetterCase) {
    TempDir dir;
    Sound s;
    ASSERT_TRUE(s.fx.write(dir.file("db")));
    for (const char* ext : {"ZT", "IX", "ZT2", "IX2"}) {
        std::string lower = ext;
        for (char& ch : lower) ch = char(std::tolower(ch));
        ASSERT_EQ(std::rename(dir.file(std::string("db.") + ext).c_str(),
                              dir.file("db." + lower).c_str()),
                  0);
    }
    dbcheck::Report r = dbcheck::checkDatabase(dir.file("db"));
    EXPECT_TRUE(r.sound()) << r.text();
    EXPECT_EQ(r.layout.rows.path, dir.file("db.zt"));
}

}  // namespace
