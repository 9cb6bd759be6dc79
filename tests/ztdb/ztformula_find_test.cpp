// findrecord, autolink and link paths: records found by exact value in set order, and links
// followed through the stored link rows.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "ztformula_helpers.h"

using namespace formulatest;

namespace {

class FormulaFindTest : public ::testing::Test {
  protected:
    FormulaDatabase db;

    // A city of that name (a member of Cities); its ID.
    uint32_t city(uint32_t id, const std::string& name) {
        addValue(db.file, id, kName, 1, name);
        EXPECT_TRUE(db.file.addToSet(id, kCities, true));
        return id;
    }
    // findrecord over Cities' names of the text held in field d of a record of its own.
    std::string find(uint32_t asker, const std::string& value) {
        if (!value.empty()) addValue(db.file, asker, kD, 1, value);
        return db.eval("findrecord(\"Cities\", \"Name\", d)", asker);
    }
};

TEST_F(FormulaFindTest, FindsTheExactValueWhateverItHolds) {
    const std::string longName(10000, 'w');
    struct Probe {
        std::string value;
        uint32_t city;
    };
    // Each value has a decoy that a query text or a folded match would take for it.
    const std::vector<Probe> probes = {
        {"Q\"uote", 1500}, {"a=b", 1501},    {"(1)", 1502},
        {">x", 1503},      {longName, 1504}, {"=upper(name)", 1505},
    };
    city(1510, "Quote");
    city(1511, "a");
    city(1512, "1");
    city(1513, "x");
    city(1514, longName.substr(1));
    city(1515, "upper name");
    city(1516, "Smith");
    for (const Probe& p : probes) city(p.city, p.value);
    uint32_t asker = 1600;
    for (const Probe& p : probes)
        EXPECT_EQ(find(asker++, p.value), std::to_string(p.city)) << p.value.substr(0, 20);
    // Case counts; none found gives 0; an empty value is an error.
    EXPECT_EQ(find(asker++, "paris"), "0");
    EXPECT_EQ(find(asker++, "Paris"), std::to_string(kParis));
    EXPECT_EQ(find(asker++, "Nowhere"), "0");
    EXPECT_EQ(find(asker++, ""), kFormulaError);
    // Unknown set or field names are errors, not searches of everything.
    EXPECT_EQ(db.eval("findrecord(\"Nowhere\", \"Name\", \"Paris\")"), kFormulaError);
    EXPECT_EQ(db.eval("findrecord(\"Cities\", \"Nofield\", \"Paris\")"), kFormulaError);
    // Only members count: Smith has a name but is in no set.
    EXPECT_EQ(db.eval("findrecord(\"Cities\", \"Name\", \"Smith\")"), "1516");
    EXPECT_EQ(db.eval("findrecord(\"Countries\", \"Name\", \"Smith\")"), "0");
    EXPECT_EQ(db.eval("findrecord(\"Countries\", \"Name\", \"Paris\")"), "0");
    // A linked value is found by the text it shows.
    EXPECT_EQ(db.eval("findrecord(\"Countries\", \"Capital\", \"Paris\")"),
              std::to_string(kFrance));
    EXPECT_EQ(db.eval("findrecord(\"Cities\", \"Capital\", \"Paris\")"), "0");
}

TEST_F(FormulaFindTest, TheFirstMatchInSetOrderWins) {
    // Members sort by the set's first field: "Twin" under "b" sorts before "Twin" under "c".
    for (auto [id, name, mayor] : {std::tuple{1700u, "c", "Twin"}, std::tuple{1701u, "b", "Twin"},
                                   std::tuple{1702u, "d", "Twin"}}) {
        city(id, name);
        addValue(db.file, id, kMayor, 1, mayor);
    }
    EXPECT_EQ(db.eval("findrecord(\"Cities\", \"Mayor\", \"Twin\")"), "1701");
    // A record with several values of the field is found by any of them.
    addValue(db.file, kOslo, kMayor, 2, "Second");
    EXPECT_EQ(db.eval("findrecord(\"Cities\", \"Mayor\", \"Second\")"), std::to_string(kOslo));
}

TEST_F(FormulaFindTest, AutolinkGivesTheDirectiveToTheFoundRecord) {
    const std::string toFrance = "##LINKTO:" + std::to_string(kFrance) + ",1001";
    EXPECT_EQ(db.eval("autolink(\"Countries\", \"\", \"France\")"), toFrance);
    EXPECT_EQ(db.eval("autolink(\"Countries\", \"Name\", \"France\")"), toFrance);
    // Searched by another field, linked to the set's first field.
    addValue(db.file, kNorway, kMayor, 1, "King");
    EXPECT_EQ(db.eval("autolink(\"Countries\", \"Mayor\", \"King\")"),
              "##LINKTO:" + std::to_string(kNorway) + ",1001");
    // A value that would be code if it were built into code is only a value.
    const std::string longValue(10000, 's');
    addValue(db.file, 1800, kD, 1, "s0001xo");
    addValue(db.file, 1801, kD, 1, longValue);
    EXPECT_EQ(db.eval("autolink(\"Countries\", \"\", d)", 1800), kFormulaError);
    EXPECT_EQ(db.eval("autolink(\"Countries\", \"\", d)", 1801), kFormulaError);
    EXPECT_EQ(db.eval("autolink(\"Countries\", \"\", \"\")"), kFormulaError);
    EXPECT_EQ(db.eval("autolink(\"Nowhere\", \"\", \"France\")"), kFormulaError);
}

TEST_F(FormulaFindTest, ArrowsFollowRealLinks) {
    EXPECT_EQ(db.eval("country->capital"), "Paris");
    EXPECT_EQ(db.eval("Country -> Capital -> Mayor"), "Hidalgo");
    EXPECT_EQ(db.eval("upper(country->capital->mayor) + \"!\""), "HIDALGO!");
    EXPECT_EQ(db.eval("capital->mayor", kNorway), "Lae");
    // A step that is no link gives an error.
    EXPECT_EQ(db.eval("name->capital"), kFormulaError);
    EXPECT_EQ(db.eval("country->name->mayor"), kFormulaError);
    EXPECT_EQ(db.eval("country->capital", kParis), kFormulaError);
    // The link and value steps one by one.
    EXPECT_EQ(db.eval("getlink(\"Country\")"), std::to_string(kFrance));
    EXPECT_EQ(db.eval("getlink(\"Name\")"), "0");
    EXPECT_EQ(db.eval("getval(getlink(\"Country\"), \"Capital\")"), "Paris");
}

}  // namespace
