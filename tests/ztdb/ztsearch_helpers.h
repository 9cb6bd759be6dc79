#pragma once
// Test helpers for searches: a generated database written by the fixture builder (names with
// accents, numbers, dates, a multi-valued field, links, two sets), a brute-force evaluation of a
// query over its rows, and a search's window read out whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "support/dbfixture.h"
#include "xbase/temp_dir.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztfilter.h"
#include "ztdb/ztformula.h"
#include "ztdb/ztrec.h"
#include "ztdb/ztrecord.h"
#include "ztdb/ztsearch.h"

namespace searchtest {

constexpr uint32_t kName = 1001;
constexpr uint32_t kAmount = 1002;
constexpr uint32_t kDate = 1003;
constexpr uint32_t kTags = 1004;
constexpr uint32_t kLink = 1005;
constexpr uint32_t kPeople = 1010;    // first field Name
constexpr uint32_t kByAmount = 1011;  // first field Amount
constexpr uint32_t kFirstRecord = 1100;

// One row of the generated database as the value index holds it.
struct IndexRow {
    uint32_t record;
    std::string text;
    std::string key;
    uint32_t e;
    uint8_t f;
};

// A database of `count` records made from a seed, written and opened (tables and indexes).
struct GeneratedDatabase {
    TempDir dir;
    std::string base;
    dbcheck::Fixture fx;
    std::unique_ptr<ZTFile> file;
    uint32_t count;

    GeneratedDatabase(uint32_t seed, uint32_t records, uint32_t openMode = 3) : count(records) {
        static const char* const names[] = {"apple",
                                            "Apfel",
                                            "banana",
                                            "b\xe9"
                                            "b\xe9",
                                            "cherry",
                                            "Chlo\xe9",
                                            "delta",
                                            "\xc9mile",
                                            "emma",
                                            "zeta",
                                            "m\xfcller",
                                            "Muller",
                                            "smith",
                                            "Smithers",
                                            "sm",
                                            "Sm\xeft",
                                            "oak tree",
                                            "x(1004)y"};
        static const char* const tags[] = {"red", "green", "blue"};
        std::mt19937 rng(seed);
        auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
        fx.counter(kFirstRecord + records + 10);
        const uint32_t nameName = fx.field(kName, "Name");
        const uint32_t amountName = fx.field(kAmount, "Amount");
        fx.field(kDate, "Date");
        fx.field(kTags, "Tags");
        fx.field(kLink, "Friend");
        fx.set(kPeople, "People", {nameName});
        fx.set(kByAmount, "ByAmount", {amountName});
        std::vector<uint32_t> nameValues;
        for (uint32_t i = 0; i < records; ++i) {
            const uint32_t r = kFirstRecord + i;
            const uint32_t nNames = pick(10) == 0 ? 0 : pick(6) == 0 ? 2 : 1;
            for (uint32_t k = 0; k < nNames; ++k)
                nameValues.push_back(fx.value(r, kName, k + 1, names[pick(18)]));
            if (pick(5) != 0) {
                const int amount = int(pick(220)) - 10;
                fx.value(r, kAmount, 1,
                         pick(7) == 0 ? std::to_string(amount) + ".5" : std::to_string(amount));
            }
            if (pick(3) != 0)
                fx.value(r, kDate, 1,
                         "2021-0" + std::to_string(1 + pick(9)) + "-1" + std::to_string(pick(10)));
            const uint32_t nTags = pick(4);
            for (uint32_t k = 0; k < nTags; ++k) fx.value(r, kTags, k + 1, tags[pick(3)]);
            if (!nameValues.empty() && pick(4) == 0)
                fx.link(r, kLink, 1, nameValues[pick(uint32_t(nameValues.size()))]);
        }
        for (uint32_t i = 0; i < records; ++i) {
            const uint32_t r = kFirstRecord + i;
            if (pick(5) < 3) fx.member(r, kPeople);
            if (pick(5) < 2) fx.member(r, kByAmount);
        }
        base = dir.file("gen");
        EXPECT_TRUE(fx.write(base)) << fx.error;
        file = std::make_unique<ZTFile>(base.c_str());
        EXPECT_EQ(file->open(openMode, false), openMode);
    }

    // The rows of a field (or the membership rows of a set) in value-index order.
    std::vector<IndexRow> indexRows(uint32_t type, bool members) const {
        std::vector<IndexRow> out;
        for (const dbcheck::FixtureRow& r : fx.rows)
            if (!r.deleted && r.b == type && ((r.f & 0x40) != 0) == members)
                out.push_back({r.a, fx.textOf(r.e), r.d, r.e, r.f});
        std::stable_sort(out.begin(), out.end(), [](const IndexRow& x, const IndexRow& y) {
            return std::tie(x.key, x.e, x.f) < std::tie(y.key, y.e, y.f);
        });
        return out;
    }

    // Every record from 1001 on, in ID order, as record order lists them.
    std::vector<IndexRow> records() const {
        std::set<uint32_t> ids;
        for (const dbcheck::FixtureRow& r : fx.rows)
            if (!r.deleted && r.a >= 1001) ids.insert(r.a);
        std::vector<IndexRow> out;
        for (uint32_t id : ids) out.push_back({id, "", "", 0, 0});
        return out;
    }

    bool isMember(uint32_t record, uint32_t set) const {
        for (const dbcheck::FixtureRow& r : fx.rows)
            if (!r.deleted && r.a == record && r.b == set && (r.f & 0x40)) return true;
        return false;
    }
};

// Records kFirstRecord + i named "n0000", "n0001" ... in a shuffled ID order, each with a Date
// and every third with the tag "red"; all members of People.
struct NamesDatabase {
    TempDir dir;
    std::string base;
    dbcheck::Fixture fx;
    std::unique_ptr<ZTFile> file;
    std::vector<uint32_t> byName;  // record IDs in name order

    explicit NamesDatabase(uint32_t count, const std::string& sameName = "") {
        std::vector<uint32_t> order(count);
        for (uint32_t i = 0; i < count; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
        fx.counter(kFirstRecord + count + 10);
        const uint32_t nameName = fx.field(kName, "Name");
        fx.field(kAmount, "Amount");
        fx.field(kDate, "Date");
        fx.field(kTags, "Tags");
        fx.set(kPeople, "People", {nameName});
        fx.set(kByAmount, "ByAmount", {fx.field(kLink, "Friend")});
        byName.resize(count);
        char name[16];
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t r = kFirstRecord + order[i];
            std::snprintf(name, sizeof name, "n%04u", i);
            fx.value(r, kName, 1, sameName.empty() ? name : sameName);
            fx.value(r, kDate, 1, "2021-01-1" + std::to_string(i % 10));
            if (i % 3 == 0) fx.value(r, kTags, 1, "red");
            fx.member(r, kPeople);
            byName[i] = r;
        }
        base = dir.file("names");
        EXPECT_TRUE(fx.write(base)) << fx.error;
        file = std::make_unique<ZTFile>(base.c_str());
        EXPECT_EQ(file->open(3, false), 3u);
    }
};

// A query as the oracle reads it: the conditions given apart from the text the search parses.
struct QueryCase {
    std::string text;
    std::vector<std::pair<uint32_t, std::string>> conditions;
    uint32_t sortingField;
    uint32_t setMember = 0;
    std::vector<uint32_t> querySets = {};
    std::string formula = "";  // the formula condition, when it compiles
};

// Whether the formula makes the record a non-zero decimal integer (compiled and run apart from
// the search, on the caller's database).
inline bool formulaHolds(ZTFile* file, const std::string& formula, uint32_t record) {
    ZTTranslator translator(file);
    const char* code = nullptr;
    if (translator.translate(formula.c_str(), &code) != ZTTranslator::kOk || !code || !*code)
        return true;  // no condition
    const std::string run = std::string(code) + "o";
    ZTRecord image(file, nullptr, nullptr, nullptr);
    image.read(record);
    ZTExpression expression;
    expression.setFile(file);
    ZTStr out;
    expression.evaluate(&out, &image, run.c_str(), 0, 0);
    std::string text = out.text;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.erase(0, 1);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    return text.find_first_not_of('0') != std::string::npos;
}

// Filter-then-sort: every row of the sort order, kept when it passes the query's tests
// (withSort: also the sort field's own condition).
inline std::vector<IndexRow> bruteForce(GeneratedDatabase& db, const QueryCase& q, bool withSort) {
    const bool recordOrder = q.sortingField == ZTSearch::kRecordOrder;
    const uint32_t setFirst = q.setMember == kByAmount ? kAmount : kName;
    const uint32_t sortBy = q.sortingField ? q.sortingField : setFirst;
    const bool setOrder = q.setMember != 0 && sortBy == setFirst;
    ZTFilter filter(db.file->getKeyLengths());
    for (const auto& c : q.conditions) filter.setCondition(c.first, c.second.c_str());
    std::vector<IndexRow> rows = recordOrder ? db.records()
                                 : setOrder  ? db.indexRows(q.setMember, true)
                                             : db.indexRows(sortBy, false);
    std::vector<IndexRow> out;
    for (const IndexRow& row : rows) {
        bool pass = true;
        if (withSort && !recordOrder) pass = filter.match(sortBy, row.text.c_str());
        for (uint32_t i = 0; pass && i < filter.size; ++i) {
            CFilterElem* elem = filter.data[i];
            if (!withSort && !recordOrder && elem->fieldID == sortBy) continue;
            pass = ZTRec(db.file.get()).testRecord(row.record, elem, false);
        }
        if (pass && q.setMember && !setOrder) pass = db.isMember(row.record, q.setMember);
        if (pass && !q.querySets.empty()) {
            bool any = false;
            for (uint32_t s : q.querySets) any = any || db.isMember(row.record, s);
            pass = any;
        }
        if (pass && !q.formula.empty()) pass = formulaHolds(db.file.get(), q.formula, row.record);
        if (pass) out.push_back(row);
    }
    return out;
}

// Waits until the search has no worker left (the walk ends by itself).
inline void waitIdle(ZTSearch& search) {
    while (search.isActive()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct WindowRow {
    int32_t row;
    uint32_t record;
    std::string text;
};

inline std::vector<WindowRow> windowOf(ZTSearch& search) {
    std::vector<WindowRow> out;
    for (int32_t r = search.getFirstRow(); r <= search.getLastRow(); ++r) {
        const char* text = search.getRowValue(r);
        out.push_back({r, search.getRecordID(r), text ? text : "<none>"});
    }
    return out;
}

// Answers 0 to everything (the bound of locate mode is passed, walks go on).
inline uint32_t goOn(uint32_t, uintptr_t, uintptr_t, void*) {
    return 0;
}

}  // namespace searchtest
