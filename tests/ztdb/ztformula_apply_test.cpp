// ZTFormula::apply: expressions with a target field and a mode applied to a record image.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "ztformula_helpers.h"

using namespace formulatest;

namespace {

// Notes every result stored (value index, text) and stores it as the default does.
class NotingLinks : public ZTFormulaLinks {
  public:
    bool storeResult(ZTRecord* record, uint32_t i, const char* text) override {
        stored.push_back({i, text});
        return ZTFormulaLinks::storeResult(record, i, text);
    }
    std::vector<std::pair<uint32_t, std::string>> stored;
};

class FormulaApplyTest : public ::testing::Test {
  protected:
    FormulaDatabase db;
    ZTRecord smith{&db.file, nullptr, nullptr, nullptr};
    NotingLinks links;
    ZTFormula formula;

    void SetUp() override {
        smith.read(kSmith);
        formula.setLinks(&links);
    }

    std::string code(const char* text) {
        ZTTranslator t(&db.file);
        const char* c = nullptr;
        EXPECT_EQ(t.translate(text, &c), 0) << text;
        return std::string(c) + "o";
    }

    // The texts of field c, stored, read again from the file.
    std::vector<std::string> storedC() {
        EXPECT_GT(smith.write(nullptr), 0);
        ZTRecord fresh(&db.file, nullptr, nullptr, nullptr);
        fresh.read(kSmith);
        std::vector<std::string> texts;
        for (int i = fresh.indexOf(kC);
             i >= 0 && uint32_t(i) < fresh.getValueCount() && fresh.getTypeID(uint32_t(i)) == kC;
             ++i)
            texts.push_back(fresh.getText(uint32_t(i)));
        return texts;
    }

    using Stored = std::vector<std::pair<uint32_t, std::string>>;
};

TEST_F(FormulaApplyTest, ReplaceEvaluatesOncePerValueOfTheField) {
    const uint32_t first = uint32_t(smith.indexOf(kC));
    formula.addExpr(code("upper(c) + len(name)").c_str(), ZTExpression::kModeReplace, kC);
    EXPECT_EQ(formula.apply(&smith, kC), 3u);
    EXPECT_EQ(links.stored, (Stored{{first, "X5"}, {first + 1, "Y5"}, {first + 2, "Z5"}}));
    EXPECT_EQ(storedC(), (std::vector<std::string>{"X5", "Y5", "Z5"}));
}

TEST_F(FormulaApplyTest, AppendAddsOneValuePerValueOfTheField) {
    formula.addExpr(code("concat(c, \"!\")").c_str(), ZTExpression::kModeAppend, kC);
    EXPECT_EQ(formula.apply(&smith, kC), 3u);
    ASSERT_EQ(links.stored.size(), 3u);
    EXPECT_EQ(links.stored[0].second, "x!");
    EXPECT_EQ(links.stored[2].second, "z!");
    EXPECT_EQ(storedC(), (std::vector<std::string>{"x", "y", "z", "x!", "y!", "z!"}));
}

TEST_F(FormulaApplyTest, EmptyClearsTheFirstValueOrEveryValueOfTheCurrentField) {
    formula.addExpr("", ZTExpression::kModeEmpty, kC);
    EXPECT_EQ(formula.apply(&smith, 0), 1u);
    formula.apply(&smith, kB);
    EXPECT_EQ(links.stored.size(), 2u);
    EXPECT_EQ(storedC(), (std::vector<std::string>{"y", "z"}));
    smith.read(kSmith);
    links.stored.clear();
    EXPECT_EQ(formula.apply(&smith, kC), 2u);
    EXPECT_EQ(storedC(), std::vector<std::string>{});
}

TEST_F(FormulaApplyTest, EveryExpressionRunsOnItsOwnTarget) {
    // A target without values is evaluated once; mode 3 then has no value to store into.
    formula.addExpr(code("upper(name)").c_str(), ZTExpression::kModeReplace, kName);
    formula.addExpr(code("a*b").c_str(), ZTExpression::kModeReplace, kD);
    formula.addExpr(code("a*b").c_str(), ZTExpression::kModeAppend, kD);
    EXPECT_EQ(formula.apply(&smith, 0), 2u);
    ASSERT_EQ(links.stored.size(), 2u);
    EXPECT_EQ(links.stored[0].second, "SMITH");
    EXPECT_EQ(links.stored[1].second, "14");
    // Expressions added from outside stay theirs; cleared, the formula applies nothing.
    ZTExpression own(code("\"x\"").c_str(), ZTExpression::kModeReplace, kA);
    formula.add(&own);
    formula.clear();
    EXPECT_EQ(formula.size(), 0u);
    EXPECT_EQ(formula.apply(&smith, 0), 0u);
    EXPECT_STREQ(own.getCode(), code("\"x\"").c_str());
}

// Records applied one after another under one lock, shared or exclusive: a value the load saw
// alone in its field is written over without a look for another row holding its text, but
// only while nothing was written since that load. A row added in between, holding the text,
// still takes the edited value in.
TEST(FormulaApplyUnderLock, AValueAddedSinceTheLoadStillTakesTheEditedOneIn) {
    for (const uint32_t mode : {3u, 7u}) {
        for (const bool added : {false, true}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + (added ? ", a row added" : ""));
            FormulaDatabase db(mode);
            ZTTranslator t(&db.file);
            const char* c = nullptr;
            ASSERT_EQ(t.translate("concat(b, \"9\")", &c), 0);
            ZTFormula formula;
            formula.addExpr((std::string(c) + "o").c_str(), ZTExpression::kModeReplace, kB);
            auto storedB = [&]() {
                ZTRecord fresh(&db.file, nullptr, nullptr, nullptr);
                fresh.read(kSmith);
                std::vector<std::string> texts;
                for (uint32_t i = 0; i < fresh.getValueCount(); ++i)
                    if (fresh.getTypeID(i) == kB) texts.push_back(fresh.getText(i));
                return texts;
            };
            ASSERT_TRUE(db.file.lock(false));
            ZTRecord smith(&db.file, nullptr, nullptr, nullptr);
            for (const char* want : {"29", "299"}) {
                smith.read(kSmith);
                EXPECT_EQ(formula.apply(&smith, 0), 1u);
                if (added && want[2]) {
                    ASSERT_NE(addValue(db.file, kSmith, kB, 2, want), 0u);
                }
                EXPECT_GT(smith.write(nullptr), 0);
                EXPECT_EQ(storedB(), std::vector<std::string>{want});
            }
            ASSERT_TRUE(db.file.unlock());
            EXPECT_EQ(storedB(), std::vector<std::string>{"299"});
        }
    }
}

// Under one lock, the write-back of a value starts from where the load's read of its chain
// left the dictionary. Texts growing past one chunk and shrinking back, with the dictionary
// moved by another read between the load and the write or not, leave every chain whole and
// every other value as it was.
TEST(FormulaApplyUnderLock, TextsGrowingAndShrinkingKeepEveryChainWhole) {
    for (const uint32_t mode : {3u, 7u}) {
        for (const bool moved : {false, true}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + (moved ? ", dictionary moved" : ""));
            FormulaDatabase db(mode);
            auto nameOf = [&](uint32_t record) {
                ZTStr out;
                EXPECT_TRUE(db.file.getValue(kName, record, &out, true));
                return std::string(out.text);
            };
            // Each formula with what it makes of the name before it.
            // "Smith" grows to 160 bytes: several chunks.
            ASSERT_GT(160, 2 * db.file.getLenDictionaryChunk());
            std::string expected = "Smith";
            const std::vector<std::pair<const char*, std::string (*)(const std::string&)>> steps = {
                {"name + name", [](const std::string& s) { return s + s; }},
                {"name + name", [](const std::string& s) { return s + s; }},
                {"name + name + name + name + name + name + name + name",
                 [](const std::string& s) { return s + s + s + s + s + s + s + s; }},
                {"upper(name)",
                 [](const std::string& s) {
                     std::string u = s;
                     for (char& c : u) c = char(std::toupper(static_cast<unsigned char>(c)));
                     return u;
                 }},
                {"mid(name, 2, 3)", [](const std::string& s) { return s.substr(1, 3); }},
                {"name", [](const std::string& s) { return s; }},
                {"lower(name)",
                 [](const std::string& s) {
                     std::string l = s;
                     for (char& c : l) c = char(std::tolower(static_cast<unsigned char>(c)));
                     return l;
                 }},
            };
            ASSERT_TRUE(db.file.lock(false));
            ZTRecord smith(&db.file, nullptr, nullptr, nullptr);
            for (const auto& [text, make] : steps) {
                SCOPED_TRACE(text);
                ZTFormula formula;
                formula.addExpr((db.compile(text) + "o").c_str(), ZTExpression::kModeReplace,
                                kName);
                smith.read(kSmith);
                EXPECT_EQ(formula.apply(&smith, 0), 1u);
                expected = make(expected);
                if (moved) {
                    EXPECT_EQ(nameOf(kParis), "Paris");
                }
                // The same text again leaves nothing to write.
                EXPECT_EQ(smith.write(nullptr), std::string(text) == "name" ? 0 : 1);
                EXPECT_EQ(nameOf(kSmith), expected);
            }
            ASSERT_TRUE(db.file.unlock());
            EXPECT_EQ(nameOf(kSmith), "mit");
            for (const auto& [record, name] : std::vector<std::pair<uint32_t, std::string>>{
                     {kParis, "Paris"}, {kOslo, "Oslo"}, {kFrance, "France"}, {kNorway, "Norway"}})
                EXPECT_EQ(nameOf(record), name);
            dbcheck::Report report = db.check();
            EXPECT_TRUE(report.sound()) << report.text();
        }
    }
}

// Under one lock, a record deleted between its load and its write-back (here by this very
// process) is not made again by the write-back of the applied value.
TEST(FormulaApplyUnderLock, ARecordDeletedSinceTheLoadIsNotMadeAgain) {
    for (const uint32_t mode : {3u, 7u}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        FormulaDatabase db(mode);
        ZTFormula formula;
        formula.addExpr((db.compile("upper(name)") + "o").c_str(), ZTExpression::kModeReplace,
                        kName);
        ASSERT_TRUE(db.file.lock(false));
        ZTRecord smith(&db.file, nullptr, nullptr, nullptr);
        smith.read(kSmith);
        EXPECT_EQ(formula.apply(&smith, 0), 1u);
        ASSERT_TRUE(db.file.deleteRecord(kSmith, nullptr));
        EXPECT_EQ(smith.write(nullptr), 0);
        EXPECT_EQ(smith.getLastResult(), ZTRecord::kErrorRecordGone);
        ASSERT_TRUE(db.file.unlock());
        ZTStr out;
        EXPECT_FALSE(db.file.getValue(kName, kSmith, &out, true));
        dbcheck::Report report = db.check();
        EXPECT_TRUE(report.sound()) << report.text();
    }
}

}  // namespace
