#pragma once
// Test helpers for formulas: a small database of named fields, a country set with linked
// records, and formulas compiled and run against a record.
#include <gtest/gtest.h>

#include <string>

#include "ztatom_helpers.h"
#include "ztdb/ztformula.h"
#include "ztdb/ztrecord.h"

namespace formulatest {

constexpr uint32_t kName = 1001;
constexpr uint32_t kA = 1002;
constexpr uint32_t kB = 1003;
constexpr uint32_t kC = 1004;
constexpr uint32_t kD = 1005;
constexpr uint32_t kCountry = 1006;
constexpr uint32_t kCapital = 1007;
constexpr uint32_t kMayor = 1008;
constexpr uint32_t kCountries = 1100;
constexpr uint32_t kCities = 1101;
constexpr uint32_t kSmith = 1200;
constexpr uint32_t kFrance = 1300;
constexpr uint32_t kNorway = 1301;
constexpr uint32_t kParis = 1400;
constexpr uint32_t kOslo = 1401;

// Fields Name, a, b, c, d, Country, Capital, Mayor; set Countries (Name, Capital) holding France
// and Norway; set Cities (Name, Mayor) holding Paris and Oslo. A country's Capital links to its
// city's Name; Smith (Name "Smith", a "7", b "2", three values of c "x", "y", "z") lives in
// France: his Country links to France's Name.
struct FormulaDatabase : NewDatabase {
    uint32_t nameOf[9] = {};

    explicit FormulaDatabase(uint32_t mode = 3) : NewDatabase(mode) {
        EXPECT_TRUE(ZTRec(&file).setCounter(2000));
        const char* names[] = {"Name", "a", "b", "c", "d", "Country", "Capital", "Mayor"};
        for (uint32_t k = 0; k < 8; ++k) nameOf[k] = atomtest::makeField(file, kName + k, names[k]);
        atomtest::makeSet(file, kCountries, "Countries", {nameOf[0], nameOf[6]});
        atomtest::makeSet(file, kCities, "Cities", {nameOf[0], nameOf[7]});
        const uint32_t paris = addValue(file, kParis, kName, 1, "Paris");
        addValue(file, kParis, kMayor, 1, "Hidalgo");
        const uint32_t oslo = addValue(file, kOslo, kName, 1, "Oslo");
        addValue(file, kOslo, kMayor, 1, "Lae");
        const uint32_t france = addValue(file, kFrance, kName, 1, "France");
        EXPECT_TRUE(addLink(file, kFrance, kCapital, 1, paris));
        addValue(file, kNorway, kName, 1, "Norway");
        EXPECT_TRUE(addLink(file, kNorway, kCapital, 1, oslo));
        for (uint32_t r : {kFrance, kNorway}) EXPECT_TRUE(file.addToSet(r, kCountries, true));
        for (uint32_t r : {kParis, kOslo}) EXPECT_TRUE(file.addToSet(r, kCities, true));
        addValue(file, kSmith, kName, 1, "Smith");
        addValue(file, kSmith, kA, 1, "7");
        addValue(file, kSmith, kB, 1, "2");
        addValue(file, kSmith, kC, 1, "x");
        addValue(file, kSmith, kC, 2, "y");
        addValue(file, kSmith, kC, 3, "z");
        EXPECT_TRUE(addLink(file, kSmith, kCountry, 1, france));
    }

    // The code of a formula, or "error N".
    std::string compile(const std::string& formula) {
        ZTTranslator t(&file);
        const char* code = nullptr;
        const int r = t.translate(formula.c_str(), &code);
        return r ? "error " + std::to_string(r) : std::string(code);
    }

    // The formula's output against the record (0: none), with the output opcode appended.
    std::string eval(const std::string& formula, uint32_t record = kSmith,
                     uint32_t currentField = 0, uint32_t index = 0) {
        ZTTranslator t(&file);
        const char* code = nullptr;
        const int r = t.translate(formula.c_str(), &code);
        if (r) return "error " + std::to_string(r);
        std::string run = code;
        if (!run.empty()) run += 'o';
        ZTRecord image(&file, nullptr, nullptr, nullptr);
        if (record) image.read(record);
        ZTExpression e;
        e.setFile(&file);
        ZTStr out;
        e.evaluate(&out, record ? &image : nullptr, run.c_str(), currentField, index);
        return out.text;
    }
};

}  // namespace formulatest
