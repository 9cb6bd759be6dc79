// Tables kept by the record layer, with their production index, read the same in the
// independent readers: values in Python's dbf and dbfread and in Perl's XBase module, key
// orders in index_dump. A table Python wrote takes the library's moves, writes and appends,
// and reads back in Python as written.
#include <gtest/gtest.h>

#include <charconv>
#include <random>
#include <string>
#include <vector>

#include "independent_readers.h"
#include "index_image.h"
#include "people_table.h"
#include "xbase/lock4.h"
#include "xbase/tag4.h"

namespace {

const field4def kClubFields[] = {{"NAME", 'C', 12, 0, 0},
                                 {"AMOUNT", 'N', 9, 2, 0},
                                 {"BORN", 'D', 0, 0, 0},
                                 {"CODE", 'C', 6, 0, 0},
                                 {nullptr, 0, 0, 0, 0}};
const tag4def kClubTags[] = {{"NAME", "UPPER(NAME)", nullptr, 0, 0},
                             {"AMOUNT", "AMOUNT", nullptr, 0, 0},
                             {"BORN", "BORN", nullptr, 0, 0},
                             {"CODE", "CODE", nullptr, tag4uniqueRefuse, 0},
                             {"DOWN", "UPPER(NAME)", nullptr, 0, tag4descendingCode},
                             {nullptr, nullptr, nullptr, 0, 0}};

std::string shortest(double v, bool pointAlways) {
    char out[64];
    auto r = std::to_chars(out, out + sizeof out, v);
    std::string s(out, r.ptr);
    if (pointAlways && s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

std::string text(table4* t, const char* field) {
    field4* f = table4fieldByName(t, field);
    return trimmed(field4pointer(f), field4length(f));
}

// The current record as Python's dbf prints it and as Perl's XBase module does.
std::string pythonLine(table4* t) {
    const double amount = c4atodN(field4pointer(table4fieldByName(t, "AMOUNT")), 9);
    const std::string born = text(t, "BORN");
    const std::string date =
        born.empty() ? "NULL"
                     : born.substr(0, 4) + "-" + born.substr(4, 2) + "-" + born.substr(6, 2);
    return text(t, "NAME") + "|" + shortest(amount, true) + "|" + date + "|" + text(t, "CODE");
}

std::string perlLine(table4* t) {
    const double amount = c4atodN(field4pointer(table4fieldByName(t, "AMOUNT")), 9);
    const std::string born = text(t, "BORN");
    return text(t, "NAME") + "|" + shortest(amount, false) + "|" + (born.empty() ? "NULL" : born) +
           "|" + text(t, "CODE");
}

class IndexInterop : public PeopleTest {};

TEST_F(IndexInterop, TablesWithTheirIndexReadTheSameInPythonAndPerl) {
    env.accessMode = 1;
    env.uniqueDefault = r4unique;
    table4* t = table4create(&env, dir.file("club").c_str(), kClubFields, kClubTags);
    ASSERT_NE(t, nullptr);
    std::mt19937 rng(5);
    auto fill = [&](int i) {
        const std::string name = std::string(1, char('A' + rng() % 8)) + "name" +
                                 std::to_string(rng() % 50) + (rng() % 2 ? "x" : "");
        ASSERT_EQ(field4assign(table4fieldByName(t, "NAME"), name.c_str()), 0);
        ASSERT_EQ(field4assign(table4fieldByName(t, "AMOUNT"),
                               amountText(double(int(rng() % 200001) - 100000) / 100).c_str()),
                  0);
        const std::string born = i % 7 == 0 ? ""
                                            : std::to_string(19000101 + (rng() % 120) * 10000 +
                                                             (rng() % 12) * 100 + rng() % 28);
        ASSERT_EQ(field4assign(table4fieldByName(t, "BORN"), born.c_str()), 0);
        ASSERT_EQ(field4assign(table4fieldByName(t, "CODE"), ("C" + std::to_string(i)).c_str()), 0);
    };
    for (int i = 1; i <= 600; ++i) {
        ASSERT_EQ(table4beginAppend(t, 0), 0);
        ASSERT_EQ(table4blank(t), 0);
        fill(i);
        ASSERT_EQ(table4append(t), 0);
    }
    // Keys changed in place: the tags are kept up, not rebuilt.
    for (int i = 1; i <= 600; i += 3) {
        ASSERT_EQ(table4go(t, i), 0);
        fill(1000 + i);
    }
    ASSERT_EQ(table4close(t), 0);

    t = open("club", 1);
    ASSERT_NE(t, nullptr);
    std::vector<std::string> python, perl;
    for (int32_t rc = table4goTop(t); rc == 0; rc = table4skip(t, 1)) {
        python.push_back(pythonLine(t));
        perl.push_back(perlLine(t));
    }
    ASSERT_EQ(python.size(), 600u);
    const std::string path = dir.file("club.dbf");
    EXPECT_EQ(pythonDump("dbf", path), python);
    EXPECT_EQ(pythonDump("dbfread", path), python);
    EXPECT_EQ(perlDump(path), perl);

    const std::string index = indexPath(t);
    index4checkReport report;
    index4checkOptions options;
    options.pads["AMOUNT"] = options.pads["BORN"] = 0;
    ASSERT_EQ(index4checkFile(index.c_str(), &report, options), 0);
    EXPECT_EQ(problemsOf(report), "");
    ASSERT_EQ(report.tags.size(), 5u);
    for (const index4checkTag& tag : report.tags) {
        SCOPED_TRACE(tag.name);
        ASSERT_EQ(tag.entries.size(), 600u);
        EXPECT_EQ(indexDumpDifference(index, tag, tag.name == "AMOUNT" || tag.name == "BORN"), "");
        // The library walks each tag in the order the file holds (a descending tag backwards).
        std::vector<uint32_t> stored, walked;
        for (const index4checkEntry& e : tag.entries) stored.push_back(e.record);
        if (tag.name == "DOWN") std::reverse(stored.begin(), stored.end());
        table4selectTag(t, table4findTag(t, tag.name.c_str()));
        for (int32_t rc = table4goTop(t); rc == 0; rc = table4skip(t, 1))
            walked.push_back(uint32_t(t->recNum));
        EXPECT_EQ(walked, stored);
    }
}

TEST_F(IndexInterop, TablesFromPythonTakeMovesWritesAndAppends) {
    const std::vector<std::string> made =
        runLines(kSystemPython + " " + QV_TEST_DATA_DIR + "/dbf_make.py " + dir.path() + " 2>&1");
    ASSERT_TRUE(made.empty()) << made[0];
    table4* t = open("plain", 0);
    ASSERT_NE(t, nullptr);
    field4* name = table4fieldByName(t, "NAME");
    ASSERT_EQ(table4goBottom(t), 0);
    EXPECT_EQ(trimmed(field4pointer(name), field4length(name)), "Max Power");
    ASSERT_EQ(table4skip(t, -1), 0);
    EXPECT_EQ(trimmed(field4pointer(name), field4length(name)), "Zoe");
    ASSERT_EQ(field4assign(name, "Zora"), 0);
    ASSERT_EQ(table4write(t, -1, 1), 0);
    ASSERT_EQ(table4beginAppend(t, 0), 0);
    ASSERT_EQ(table4blank(t), 0);
    ASSERT_EQ(field4assign(name, "Ann"), 0);
    ASSERT_EQ(field4assign(table4fieldByName(t, "AMOUNT"), "    2.250"), 0);
    ASSERT_EQ(field4assign(table4fieldByName(t, "BORN"), "20000229"), 0);
    ASSERT_EQ(field4assign(table4fieldByName(t, "OK"), "T"), 0);
    ASSERT_EQ(table4append(t), 0);
    // An index made here seeks the rows Python wrote.
    const tag4def tags[] = {{"NAME", "UPPER(NAME)", nullptr, 0, 0},
                            {nullptr, nullptr, nullptr, 0, 0}};
    ASSERT_NE(index4create(t, dir.file("names").c_str(), tags), nullptr);
    table4selectTag(t, table4findTag(t, "NAME"));
    ASSERT_EQ(table4unlock(t), 0);
    EXPECT_EQ(table4seek(t, "MAX"), 0);
    EXPECT_EQ(t->recNum, 2);
    EXPECT_EQ(table4seek(t, "ZO"), 0);
    EXPECT_EQ(t->recNum, 1);
    ASSERT_EQ(table4close(t), 0);
    EXPECT_EQ(
        pythonDump("dbf", dir.file("plain.dbf")),
        (std::vector<std::string>{"Zora|1234.5|-17|1999-12-31|T", "Max Power|-0.125|0|2024-02-29|F",
                                  "Ann|2.25|NULL|2000-02-29|T"}));
}

}  // namespace
