#pragma once
// A small sound database made by the fixture builder, and a list of faults seeded into it (in
// its rows before writing, or in the written files), each with the checker rules it breaks.
// The checker's tests show the rules; the engine's tests read the damaged databases.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/dbfixture.h"
#include "ztdb/ztcodec.h"

namespace dbcheck {

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

struct Seeded {
    const char* name;
    std::vector<int> rules;
    std::function<void(Sound&)> before;                     // changes to the rows before writing
    std::function<void(Sound&, const std::string&)> after;  // changes to the written files
};

inline const std::vector<Seeded>& seededFaults() {
    static const std::vector<Seeded> cases = {
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
    return cases;
}

}  // namespace dbcheck
