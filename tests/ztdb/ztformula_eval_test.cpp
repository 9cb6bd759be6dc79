// The formula evaluator and its function library, run on compiled formulas against a record.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "date_order_pin.h"
#include "ztdb/ztdatetime.h"
#include "ztformula_helpers.h"

using namespace formulatest;

namespace {

struct Case {
    std::string formula;
    std::string result;
};

class FormulaEvalTest : public ::testing::Test {
  protected:
    DateOrderPin pin{false};
    FormulaDatabase db;
};

TEST_F(FormulaEvalTest, Table) {
    const std::string E = kFormulaError;
    const std::vector<Case> table = {
        // '+' adds numbers and joins other texts; empty is not a number.
        {"1+2", "3"},
        {"\"a\"+2", "a2"},
        {"\"\"+2", "2"},
        {"\" 5\"+1", "6"},
        {"\"5 \"+1", "5 1"},
        // Names and codes that other readers take for numbers are text here.
        {"\"Nan\"+1", "Nan1"},
        {"\"inf\"+1", "inf1"},
        {"\"0x1A\"+1", "0x1A1"},
        {"\"1e3\"+1", "1001"},
        {"\"-.5\"+1", "0.5"},
        // Arithmetic errors.
        {"7/0", E},
        {"1-\"x\"", E},
        {"\"1e999\"*1", E},
        {"concat(7/0, \"a\")", E},
        {"1/4", "0.25"},
        {"1/40", "0.025"},
        {"1/3", "0.33333333333333"},
        {"0.1+0.2", "0.3"},
        {"0-0", "0"},
        {"0-1/1000000000000000", "0"},
        {"2*0-0.5", "-0.5"},
        // Rounding halves away from zero on the number as written.
        {"round(2.5, 0)", "3"},
        {"round(0-2.5, 0)", "-3"},
        {"round(2.345, 2)", "2.35"},
        {"round(1.005, 2)", "1.01"},
        {"round(9.995, 2)", "10"},
        {"round(1.5, 14)", "1.5"},
        {"round(1.5, 15)", E},
        {"round(1.5, 0-1)", E},
        {"round(1.5, 0.5)", E},
        {"round(\"x\", 1)", E},
        // Texts.
        {"mid(\"abcdef\",0,2)", "ab"},
        {"mid(\"abcdef\",3,2)", "cd"},
        {"mid(\"abcdef\",5,100)", "ef"},
        {"mid(\"abc\",10,5)", ""},
        {"mid(\"abc\",2,0-1)", ""},
        {"mid(\"abc\",\"x\",1)", E},
        {"find(\"c\",\"abc\")", "3"},
        {"find(\"x\",\"abc\")", "0"},
        {"len(\"abc\")", "3"},
        {"len(\"\")", "0"},
        {"concat(\"ab\",\"cd\")", "abcd"},
        {"upper(\"ab\xE9\xFF\")", "AB\xC9\x9F"},
        {"lower(\"AB\xC9\x8A\xD7\")", "ab\xE9\x9A\xD7"},
        {"upper(\"\xDF\xB5\")", "\xDF\xB5"},
        {"clean(\"\xC9t\xE9, 2-b!\")", "ete2b"},
        // Choices: the condition must be a number; both branches are worked out, but only the
        // chosen one counts.
        {"if(\"\",1,2)", E},
        {"if(0,1,2)", "2"},
        {"if(1,\"ok\",7/0)", "ok"},
        {"if(7/0,1,2)", E},
        // Comparisons: numbers as numbers, other texts byte by byte.
        {"10<9", "0"},
        {"\"b\"<\"a\"", "0"},
        {"\"10\"<\"9\"", "0"},
        {"\"10\"<\"9x\"", "1"},
        {"\"\xE9\">\"z\"", "1"},
        {"2<=2", "1"},
        {"3>=4", "0"},
        {"\"a\"=\"A\"", "0"},
        {"\"a\"#\"A\"", "1"},
        {"1&0", "0"},
        {"2|0", "1"},
        {"0|0", "0"},
        {"1&\"x\"", E},
        // Dates in the program's order.
        {"datetoday(\"2000/01/01\")", "2451545"},
        {"daytodate(2451545)", "2000/01/01 00:00:00"},
        {"daytodate(2451545.5)", E},
        {"day(\"2000/03/04\")", "4"},
        {"month(\"2000/03/04\")", "3"},
        {"year(\"2000/03/04\")", "2000"},
        {"day(\"x\")", E},
        {"datetoday(\"x\")", E},
        // Links and IDs.
        {"link(12,5)", "##LINKTO:12,5"},
        {"link(12,\"a\")", "##LINKTO:12,1002"},
        {"link(12,\"nofield\")", E},
        {"getval(1300,\"Name\")", "France"},
        {"getval(0,\"Name\")", E},
        {"fieldof(\"Countries\",2)", "1007"},
        {"fieldof(\"Countries\",3)", E},
        {"fieldof(\"Nowhere\",1)", E},
        // Field values of the record.
        {"upper(name)", "SMITH"},
        {"a*b+1", "15"},
        {"ffid(1002)", "7"},
        {"field(\"b\")", "2"},
        {"d", ""},
        {"d+1", "1"},
        // Code inserted by direct runs in place.
        {"direct(\"s00011s00012+\")", "3"},
        {"direct(\"\")+1", E},
    };
    for (const Case& c : table) EXPECT_EQ(db.eval(c.formula), c.result) << c.formula;
}

TEST_F(FormulaEvalTest, NowIsTheUtcHourAndMinute) {
    std::string got;
    std::string before, after;
    // The minute may turn while the formula runs: it must be one of the two around it.
    auto utc = [] {
        ZTDateTime d;
        d.setNow(false);
        char hm[8];
        std::snprintf(hm, sizeof hm, "%02d:%02d", d.hour, d.minute);
        return std::string(hm);
    };
    before = utc();
    got = db.eval("now()");
    after = utc();
    EXPECT_TRUE(got == before || got == after) << got;
    const std::time_t t = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char hm[8];
    std::snprintf(hm, sizeof hm, "%02d:%02d", parts.tm_hour, parts.tm_min);
    EXPECT_EQ(got.size(), 5u);
    EXPECT_EQ(got.substr(0, 2), std::string(hm).substr(0, 2)) << "within the same hour as UTC";
}

TEST_F(FormulaEvalTest, BadCodeGivesAnErrorNeverAReadOutsideIt) {
    ZTExpression e;
    e.setFile(&db.file);
    ZTStr out;
    const std::vector<Case> table = {
        {"s0005abo", "##ERROR"},  // the literal runs past the end
        {"s00x1ao", "##ERROR"},   // its length is no number
        {"so", "##ERROR"},
        {"+o", "##ERROR"},  // operands missing
        {"o", "##ERROR"},
        {"s0001a~\x01s0001b!ao", "ab"},  // unknown bytes are skipped
        {"s0001 ao", "##ERROR"},         // blanks count inside a literal's length
        {"s00011 s00012 + o", "3"},      // but not between opcodes
        {"s00011vo", "##ERROR"},         // a field read without a record
        {"s0005s0009Io", "##ERROR"},     // the inserted literal runs past the end
        {"s0005s0001Iao", "a"},          // an inserted literal may read on past its insertion
        {"s0001xs0000s0001yro", "x"},    // replace: an empty pattern changes nothing
        {"s0005a-b-cs0001-s0001+ro", "a+b+c"},
    };
    for (const Case& c : table) {
        e.evaluate(&out, nullptr, c.formula.c_str(), 0, 0);
        EXPECT_EQ(std::string(out.text), c.result) << c.formula;
    }
}

// Code that inserts a copy of itself: it pushes its body T, the marker "@@" (built by a concat,
// so that T's text holds the marker only where T goes) and T again, replaces the marker in T by
// T and runs the result, which is the code itself (or, with a marker at T's end too, the code
// followed by T: a code that grows).
std::string selfReproducing(bool growing) {
    const std::string tail = growing ? "rI@@" : "rI";
    const std::string len = std::to_string(5 + 2 + 13 + 5 + 2 + tail.size());
    const std::string n = "s" + std::string(4 - len.size(), '0') + len;
    const std::string body = n + "@@s0001@s0001@a" + n + "@@" + tail;
    return n + body + "s0001@s0001@a" + n + body + "rI";
}

TEST_F(FormulaEvalTest, SelfReproducingDirectEndsWithinTheBudget) {
    for (bool growing : {false, true}) {
        ZTExpression e;
        ZTStr out;
        EXPECT_FALSE(e.evaluate(&out, nullptr, (selfReproducing(growing) + "o").c_str(), 0, 0));
        EXPECT_STREQ(out.text, kFormulaError);
    }
    // The same through the compiler: direct of the code as a string.
    EXPECT_EQ(db.eval("direct(\"" + selfReproducing(false) + "\")"), kFormulaError);
    EXPECT_EQ(db.eval("concat(direct(\"" + selfReproducing(true) + "\"), \"x\")"), kFormulaError);
    // One insertion of harmless code runs normally.
    EXPECT_EQ(db.eval("direct(\"s0001xs0001ya\")"), "xy");
}

TEST_F(FormulaEvalTest, FieldReadsFollowTheValueIndexOfTheCurrentField) {
    // c has three values; a read of the current field takes the value at the index, other fields
    // their first value.
    EXPECT_EQ(db.eval("concat(c, name)", kSmith, kC, 0), "xSmith");
    EXPECT_EQ(db.eval("concat(c, name)", kSmith, kC, 2), "zSmith");
    EXPECT_EQ(db.eval("concat(c, name)", kSmith, kC, 3), "##ERROR");
    // Without a current field the first field read becomes it.
    EXPECT_EQ(db.eval("concat(c, c)", kSmith, 0, 1), "yy");
    EXPECT_EQ(db.eval("concat(name, c)", kSmith, 0, 1), "##ERROR");

    ZTTranslator t(&db.file);
    const char* code = nullptr;
    ASSERT_EQ(t.translate("upper(c)", &code), 0);
    const std::string run = std::string(code) + "o";
    ZTRecord smith(&db.file, nullptr, nullptr, nullptr);
    smith.read(kSmith);
    ZTExpression e(run.c_str(), ZTExpression::kModeReplace, kC);
    ZTStr out;
    EXPECT_TRUE(e.evaluate(&out, &smith, nullptr, kC, 2));
    EXPECT_STREQ(out.text, "Z");
    EXPECT_FALSE(e.evaluate(&out, &smith, nullptr, kC, 3));
    // A field with no value reads as empty and counts as found; with no field read at all, or
    // no current field, only index 0 is found.
    ZTExpression none("s00041005vo", ZTExpression::kModeReplace, kD);
    EXPECT_TRUE(none.evaluate(&out, &smith, nullptr, kD, 0));
    EXPECT_STREQ(out.text, "");
    ZTExpression literal("s0001xo", ZTExpression::kModeReplace, kD);
    EXPECT_TRUE(literal.evaluate(&out, &smith, nullptr, kC, 0));
    EXPECT_FALSE(literal.evaluate(&out, &smith, nullptr, kC, 1));
    EXPECT_TRUE(e.evaluate(&out, &smith, nullptr, 0xFFFFFFFFu, 0));
    EXPECT_STREQ(out.text, "X");
    EXPECT_FALSE(e.evaluate(&out, &smith, nullptr, 0xFFFFFFFFu, 1));
}

// A reference interpreter over a small expression tree: + - * / & | comparisons and if over
// small integers and decimals, formatted by the same rule.
struct Ref {
    std::string text;
    std::string value;  // "##ERROR", or a number as the evaluator writes it
};

class Oracle {
  public:
    explicit Oracle(uint32_t seed) : rng_(seed) {}

    Ref make(int depth) {
        if (depth == 0 || pick(4) == 0) return leaf();
        const int kind = pick(12);
        if (kind == 11) {
            Ref c = make(depth - 1), a = make(depth - 1), b = make(depth - 1);
            std::string v;
            if (c.value == kFormulaError) {
                v = kFormulaError;
            } else {
                v = std::stod(c.value) != 0 ? a.value : b.value;
            }
            return {"if(" + c.text + "," + a.text + "," + b.text + ")", v};
        }
        static const char* ops[] = {"+", "-", "*", "/", "&", "|", "=", "#", "<", ">", "<=", ">="};
        const std::string op = ops[kind];
        Ref a = make(depth - 1), b = make(depth - 1);
        // Brackets on both sides keep the tree's shape whatever the priorities.
        const std::string text = "(" + a.text + ")" + op + "(" + b.text + ")";
        if (a.value == kFormulaError || b.value == kFormulaError) return {text, kFormulaError};
        const double x = std::stod(a.value), y = std::stod(b.value);
        double r;
        if (op == "+")
            r = x + y;
        else if (op == "-")
            r = x - y;
        else if (op == "*")
            r = x * y;
        else if (op == "/") {
            if (y == 0) return {text, kFormulaError};
            r = x / y;
        } else if (op == "&")
            r = x != 0 && y != 0;
        else if (op == "|")
            r = x != 0 || y != 0;
        else if (op == "=")
            return {text, a.value == b.value ? "1" : "0"};
        else if (op == "#")
            return {text, a.value != b.value ? "1" : "0"};
        else if (op == "<")
            r = x - y < 0;
        else if (op == ">")
            r = x - y > 0;
        else if (op == "<=")
            r = x - y <= 0;
        else
            r = x - y >= 0;
        return {text, format(r)};
    }

  private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    Ref leaf() {
        const int whole = pick(21) - 10;
        std::string t;
        if (pick(3) == 0) {
            t = std::to_string(std::abs(whole)) + "." + std::to_string(pick(100));
        } else {
            t = std::to_string(std::abs(whole));
        }
        // A literal is written as it stands; its value as a number is what it reads as.
        if (whole < 0) return {"0-" + t, format(-std::stod(t))};
        return {t, t};
    }

    // Fixed at 14 decimals, zeros and point cut, "-0" as "0", a leading zero kept.
    static std::string format(double v) {
        char buf[512];
        std::snprintf(buf, sizeof buf, "%.14f", v);
        std::string s = buf;
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
        if (s == "-0") s = "0";
        return s;
    }

    std::mt19937 rng_;
};

TEST_F(FormulaEvalTest, RandomExpressionsAgreeWithAReferenceInterpreter) {
    Oracle oracle(20261211);
    for (int i = 0; i < 2000; ++i) {
        const Ref r = oracle.make(4);
        ASSERT_EQ(db.eval(r.text, 0), r.value) << r.text;
    }
}

}  // namespace
