// Record images whose values are computed by formulas: attribute 108 of the value or its field.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ztformula_helpers.h"

using namespace formulatest;

namespace {

constexpr uint32_t kShout = 1009;   // attribute 108: upper(name)
constexpr uint32_t kEcho = 1010;    // attribute 108: upper(c)
constexpr uint32_t kBroken = 1011;  // attribute 108: upper(   (does not compile)
constexpr uint32_t kFails = 1012;   // attribute 108: 7/0

class FormulaRecordTest : public ::testing::Test {
  protected:
    FormulaDatabase db;
    ZTRecord smith{&db.file, nullptr, nullptr, nullptr};

    void SetUp() override {
        const std::vector<std::pair<uint32_t, std::string>> fields = {
            {kShout, "upper(name)"}, {kEcho, "upper(c)"}, {kBroken, "upper("}, {kFails, "7/0"}};
        for (const auto& [id, formula] : fields) {
            atomtest::makeField(db.file, id, "f" + std::to_string(id));
            addValue(db.file, id, ZTRecord::kAttrFormula, 1, formula);
        }
        addValue(db.file, kSmith, kShout, 1, "old");
        for (uint32_t p = 1; p <= 3; ++p) addValue(db.file, kSmith, kEcho, p, "old");
        addValue(db.file, kSmith, kBroken, 1, "kept");
        addValue(db.file, kSmith, kFails, 1, "old");
        smith.read(kSmith);
    }

    std::vector<std::string> texts(ZTRecord& r, uint32_t field) {
        std::vector<std::string> out;
        for (int i = r.indexOf(field);
             i >= 0 && uint32_t(i) < r.getValueCount() && r.getTypeID(uint32_t(i)) == field; ++i)
            out.push_back(r.getText(uint32_t(i)));
        return out;
    }
};

TEST_F(FormulaRecordTest, RecomputeAllComputesEveryValueWithAFormula) {
    EXPECT_TRUE(smith.isComputed(uint32_t(smith.indexOf(kShout))));
    EXPECT_FALSE(smith.isComputed(uint32_t(smith.indexOf(kName))));
    EXPECT_TRUE(smith.recomputeAll());
    EXPECT_EQ(texts(smith, kShout), std::vector<std::string>{"SMITH"});
    // Each value of a field reads the value at its own place in the first field read.
    EXPECT_EQ(texts(smith, kEcho), (std::vector<std::string>{"X", "Y", "Z"}));
    // A formula that does not compile leaves the value; an error is stored as the value.
    EXPECT_EQ(texts(smith, kBroken), std::vector<std::string>{"kept"});
    EXPECT_FALSE(smith.recompute(uint32_t(smith.indexOf(kBroken))));
    EXPECT_EQ(texts(smith, kFails), std::vector<std::string>{kFormulaError});
    // Stored, and read back the same.
    smith.write(nullptr);
    ZTRecord fresh(&db.file, nullptr, nullptr, nullptr);
    fresh.read(kSmith);
    EXPECT_EQ(texts(fresh, kShout), std::vector<std::string>{"SMITH"});
    EXPECT_EQ(texts(fresh, kEcho), (std::vector<std::string>{"X", "Y", "Z"}));
    // Without a formula there is nothing to compute; out of range is refused.
    EXPECT_FALSE(smith.recompute(uint32_t(smith.indexOf(kName))));
    EXPECT_FALSE(smith.recompute(1000));
    EXPECT_EQ(smith.getLastResult(), ZTRecord::kErrorRange);
}

TEST_F(FormulaRecordTest, AValuesOwnFormulaStaysWithItsResult) {
    // Value d of Smith carries its own formula a*b in its attribute section.
    ZTStr text;
    text.assign("old");
    text.setTag('a',
                "\4"
                "108"
                "\4"
                "a*b");
    addValue(db.file, kSmith, kD, 1, text.text);
    smith.read(kSmith);
    const uint32_t d = uint32_t(smith.indexOf(kD));
    ASSERT_TRUE(smith.isComputed(d));
    ASSERT_TRUE(smith.recompute(d));
    ZTStr head;
    EXPECT_STREQ(smith.getValueTag(d, 0, &head)->text, "14");
    // Still computed: a changed operand gives a new result.
    EXPECT_TRUE(smith.isComputed(d));
    ASSERT_TRUE(smith.setText(uint32_t(smith.indexOf(kA)), "10"));
    ASSERT_TRUE(smith.recompute(d));
    EXPECT_STREQ(smith.getValueTag(d, 0, &head)->text, "20");
    // An error is the result, and the formula stays for when the operand is mended.
    ASSERT_TRUE(smith.setText(uint32_t(smith.indexOf(kA)), "x"));
    ASSERT_TRUE(smith.recompute(d));
    EXPECT_STREQ(smith.getValueTag(d, 0, &head)->text, kFormulaError);
    ASSERT_TRUE(smith.setText(uint32_t(smith.indexOf(kA)), "3"));
    ASSERT_TRUE(smith.recompute(d));
    EXPECT_STREQ(smith.getValueTag(d, 0, &head)->text, "6");
}

TEST_F(FormulaRecordTest, ALinkDirectiveResultMakesALink) {
    // Shout's result becomes a link to France's name; autolink relinks Smith's Country.
    const uint32_t shout = uint32_t(smith.indexOf(kShout));
    ASSERT_TRUE(smith.computeValue(shout, "link(1300, \"Name\")"));
    EXPECT_EQ(smith.getLinkID(shout), kFrance);
    ZTFormula formula;
    ZTTranslator t(&db.file);
    const char* code = nullptr;
    ASSERT_EQ(t.translate("autolink(\"Countries\", \"\", \"Norway\")", &code), 0);
    formula.addExpr((std::string(code) + "o").c_str(), ZTExpression::kModeReplace, kCountry);
    EXPECT_EQ(formula.apply(&smith, 0), 1u);
    ASSERT_EQ(smith.write(nullptr), 1);
    ZTRecord fresh(&db.file, nullptr, nullptr, nullptr);
    fresh.read(kSmith);
    EXPECT_EQ(fresh.getLinkID(uint32_t(fresh.indexOf(kShout))), kFrance);
    EXPECT_STREQ(fresh.getText(uint32_t(fresh.indexOf(kShout))), "France");
    EXPECT_EQ(fresh.getLinkID(uint32_t(fresh.indexOf(kCountry))), kNorway);
    ZTStr out;
    EXPECT_TRUE(fresh.evalFormula("country->capital->mayor", &out, 0));
    EXPECT_STREQ(out.text, "Lae");
    // A directive to no record changes nothing.
    const uint32_t d = uint32_t(fresh.indexOf(kFails));
    EXPECT_TRUE(fresh.computeValue(d, "link(0, \"Name\")"));
    EXPECT_EQ(fresh.getLinkID(d), 0u);
}

TEST_F(FormulaRecordTest, EvalFormulaAndEvalCode) {
    ZTStr out;
    EXPECT_TRUE(smith.evalFormula("concat(c, name)", &out, 1));
    EXPECT_STREQ(out.text, "ySmith");
    // Without a sequence the field reads take the first values.
    EXPECT_TRUE(smith.evalFormula("concat(c, name)", &out));
    EXPECT_STREQ(out.text, "xSmith");
    EXPECT_FALSE(smith.evalFormula("concat(c,", &out, 0));
    EXPECT_STREQ(out.text, "");
    EXPECT_TRUE(smith.evalFormula("", &out, 0));
    EXPECT_STREQ(out.text, "");
    // Code run as it is: the index past the field's values is no value found.
    EXPECT_TRUE(smith.evalCode("s00041004vUo", &out, 2));
    EXPECT_STREQ(out.text, "Z");
    EXPECT_FALSE(smith.evalCode("s00041004vUo", &out, 3));
}

}  // namespace
