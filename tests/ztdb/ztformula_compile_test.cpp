// The formula compiler: formulas against the code they compile to, or the error they give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ztformula_helpers.h"

using namespace formulatest;

namespace {

const std::string kB0(1, char(0xB0));

struct Golden {
    std::string formula;
    std::string code;  // or "error N"
};

std::string err(int code) {
    return "error " + std::to_string(code);
}

class FormulaCompileTest : public ::testing::Test {
  protected:
    FormulaDatabase db;
};

TEST_F(FormulaCompileTest, GoldenTable) {
    const std::vector<Golden> table = {
        // Keywords and names are folded; blanks outside strings vanish.
        {"Concat ( Upper ( Name ) , \"x\" )", "s00041001vUs0001xa"},
        {"concat(upper(name),\"x\")", "s00041001vUs0001xa"},
        // Priorities and left association; '&' binds tighter than '='.
        {"1+2*3", "s00011s00012s00013*+"},
        {"1-2-3", "s00011s00012-s00013-"},
        {"2 = 2 & 2", "s00012s00012s00012&="},
        {"(1+2)*3", "s00011s00012+s00013*"},
        {"a<=b", "s00041002vs00041003v{"},
        {"a< =b", "s00041002vs00041003v{"},
        {"a>=b", "s00041002vs00041003v}"},
        {"a<>b", err(ZTTranslator::kErrorSyntax)},
        // Numbers and strings are literals, an empty string too.
        {"3.5", "s00033.5"},
        {"\"3.5\"", "s00033.5"},
        {"\"\"", "s0000"},
        {"\"abcdefghijkl\"", "s0012abcdefghijkl"},
        {"\"a\\\"b\"", "s0003a\"b"},
        {"\"a\\\\b\"", "s0003a\\b"},
        // Cut characters inside a string are text, also after a backslash.
        {"\"(a,b)\"", "s0005(a,b)"},
        {"\"\\(\"", "s0002\\("},
        // Calls emit their extra opcodes after the arguments they follow.
        {"mid(a,1,2)", "s00041002vs00011s00012m"},
        {"field(\"a\")", "s0001atv"},
        {"getval(12,\"a\")", "s000212s0001atg"},
        {"link(12,5)", "s000212s00015tL"},
        {"fieldof(\"Countries\",1)", "s0009CountriesTs00011\xA7"},
        {"findrecord(\"Countries\",\"Name\",\"x\")", "s0009CountriesTs0004Namets0001xF"},
        {"autolink(\"Countries\",\"\",a)", "s0009Countriess0000s00041002vA"},
        {"now()", "N"},
        {"pos(\"c\",\"abc\")", "s0001cs0003abcf"},
        // Arrows compile to names joined by points, followed at run time.
        {"a->b", "s0001acs0001bc." + kB0},
        {"a->b->c", "s0001acs0001bc.s0001cc." + kB0},
        {"a->b->c->d", "s0001acs0001bc.s0001cc.s0001dc." + kB0},
        {"Country->Capital", "s0007countrycs0007capitalc." + kB0},
        {"a->zz", err(ZTTranslator::kErrorUnknownField)},
        {"a->\"b\"", err(ZTTranslator::kErrorSyntax)},
        // Faults.
        {"-5", err(ZTTranslator::kErrorSyntax)},
        {"0-5", "s00010s00015-"},
        {"zz", err(ZTTranslator::kErrorUnknownField)},
        {"nan+1", err(ZTTranslator::kErrorUnknownField)},
        {"mid(a,,2)", err(ZTTranslator::kErrorSyntax)},
        {"mid(a,1)", err(ZTTranslator::kErrorSyntax)},
        {"upper", err(ZTTranslator::kErrorSyntax)},
        {"(a", err(ZTTranslator::kErrorBrackets)},
        {"a)(", err(ZTTranslator::kErrorBrackets)},
        {"\"abc", err(ZTTranslator::kErrorOpenString)},
        {"\"abc\\", err(ZTTranslator::kErrorOpenString)},
        {"1,2", err(ZTTranslator::kErrorSyntax)},
        {"upper(a) upper(b)", err(ZTTranslator::kErrorTrailing)},
        {"1 2", "s000212"},
        {"", ""},
        {"   ", ""},
    };
    for (const Golden& g : table) EXPECT_EQ(db.compile(g.formula), g.code) << g.formula;
}

TEST_F(FormulaCompileTest, ArrowChainsMarkTheirInnerAndOuterArrows) {
    auto arrows = [&](const char* formula) {
        ZTTranslator t(&db.file);
        EXPECT_EQ(t.translate(formula, nullptr), 0) << formula;
        std::vector<uint32_t> codes;
        const auto& tokens = t.getTokens();
        for (uint32_t i = 0; i < tokens.size; ++i)
            if (tokens[i]->code >= 38 && tokens[i]->code <= 42) codes.push_back(tokens[i]->code);
        return codes;
    };
    EXPECT_EQ(arrows("a->b"), (std::vector<uint32_t>{39}));
    EXPECT_EQ(arrows("a->b->c"), (std::vector<uint32_t>{42, 40}));
    EXPECT_EQ(arrows("a->b->c->d"), (std::vector<uint32_t>{42, 41, 40}));
    // Two chains joined by an operator are each their own chain.
    EXPECT_EQ(arrows("a->b = c->d"), (std::vector<uint32_t>{39, 39}));
}

TEST_F(FormulaCompileTest, LiteralsAreLimitedToFourDigitsOfLength) {
    const std::string most(9999, 'q');
    EXPECT_EQ(db.compile("\"" + most + "\""), "s9999" + most);
    // Longer, its tail would be read as code: refused.
    const std::string tooLong(10000, 'q');
    EXPECT_EQ(db.compile("\"" + tooLong + "\""), err(ZTTranslator::kErrorTooLong));
    EXPECT_EQ(db.compile("concat(\"" + tooLong + "\", \"a\")"), err(ZTTranslator::kErrorTooLong));
}

TEST_F(FormulaCompileTest, DeepNestingIsRefusedNotRecursedInto) {
    const std::string open(100000, '('), close(100000, ')');
    EXPECT_EQ(db.compile(open + "1" + close), err(ZTTranslator::kErrorTooDeep));
    std::string calls;
    for (int i = 0; i < 50000; ++i) calls += "upper(";
    calls += "a" + std::string(50000, ')');
    EXPECT_EQ(db.compile(calls), err(ZTTranslator::kErrorTooDeep));
    // A long chain of operators nests as deep as it is long.
    std::string chain = "1";
    for (int i = 0; i < 100000; ++i) chain += "+1";
    EXPECT_EQ(db.compile(chain), err(ZTTranslator::kErrorTooDeep));
    // Within the bound all compile.
    const uint32_t n = ZTTranslator::kMaxDepth - 1;
    EXPECT_EQ(db.compile(std::string(n, '(') + "1" + std::string(n, ')')), "s00011");
}

TEST_F(FormulaCompileTest, WithoutADatabaseNamesAreUnknown) {
    ZTTranslator t;
    EXPECT_EQ(t.translate("1+2", nullptr), 0);
    EXPECT_STREQ(t.getCode().text, "s00011s00012+");
    EXPECT_EQ(t.translate("name", nullptr), ZTTranslator::kErrorUnknownField);
    EXPECT_STREQ(t.getCode().text, "");
}

}  // namespace
