#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "error_capture.h"
#include "expr_fixture.h"
#include "xbase/expr4.h"
#include "xbase/expr4func.h"

namespace {

class ExprParse : public ExprTest {
  protected:
    ErrorCapture errors;
};

struct ParseCase {
    const char* text;
    int32_t code;  // 0: parses
    char type;
    int32_t len;
    int32_t entries;
};

const ParseCase kParseCases[] = {
    // Fields and joins.
    {"NAME", 0, 'C', 10, 1},
    {"  name  ", 0, 'C', 10, 1},
    {"NAME+CITY+CODE+NAME", 0, 'C', 32, 7},
    {"UPPER(NAME)+DTOS(BORN)", 0, 'C', 18, 5},
    {"NAME-CITY", 0, 'C', 18, 3},
    {"TRIM(NAME)+CITY", 0, 'C', 18, 4},
    {"PEOPLE->NAME", 0, 'C', 10, 1},
    {"people.NAME", 0, 'C', 10, 1},
    {"AMOUNT", 0, 'N', 10, 1},
    {"RATE", 0, 'N', 8, 1},
    {"BORN", 0, 'D', 8, 1},
    {"FLAG", 0, 'L', 4, 1},
    {"COUNT", 0, 'I', 4, 1},
    {"PRICE", 0, 'Y', 8, 1},
    {"STAMP", 0, 'T', 8, 1},
    {"RATIO", 0, 'n', 8, 1},
    // Arithmetic, dates, constants.
    {"AMOUNT+1", 0, 'n', 8, 3},
    {"COUNT*PRICE", 0, 'n', 8, 3},
    {"BORN+1", 0, 'd', 8, 3},
    {"1+BORN", 0, 'd', 8, 3},
    {"BORN-1", 0, 'd', 8, 3},
    {"BORN-BORN", 0, 'n', 8, 3},
    {"2^3^2", 0, 'n', 8, 5},
    {"2**3", 0, 'n', 8, 3},
    {"-5", 0, 'n', 8, 1},
    {"+.5", 0, 'n', 8, 1},
    {"'abc'", 0, 'C', 3, 1},
    {"\"abc\"", 0, 'C', 3, 1},
    {"[abc]", 0, 'C', 3, 1},
    {"''", 0, 'C', 0, 1},
    // Logic and comparisons.
    {".T.", 0, 'L', 4, 1},
    {".false.", 0, 'L', 4, 1},
    {"FLAG .AND. FLAG .AND. FLAG", 0, 'L', 4, 4},
    {"FLAG .AND. FLAG .OR. FLAG", 0, 'L', 4, 5},
    {".NOT. AMOUNT = 5", 0, 'L', 4, 4},
    {"NAME = CITY", 0, 'L', 4, 3},
    {"NAME <> CITY", 0, 'L', 4, 3},
    {"NAME $ CITY", 0, 'L', 4, 3},
    {"PRICE >= PRICE", 0, 'L', 4, 3},
    {"STAMP =< STAMP", 0, 'L', 4, 3},
    {"FLAG # .T.", 0, 'L', 4, 3},
    {"BORN => DATE()", 0, 'L', 4, 3},
    // Functions and their folded arguments.
    {"STR(AMOUNT)", 0, 'C', 10, 2},
    {"STR(AMOUNT, 8)", 0, 'C', 8, 2},
    {"STR(AMOUNT, 5, 9)", 0, 'C', 5, 2},
    {"STR(AMOUNT, -3)", 0, 'C', 10, 2},
    {"SUBSTR(NAME, 3, 4)", 0, 'C', 4, 2},
    {"SUBSTR(NAME, 3)", 0, 'C', 8, 2},
    {"SUBSTR(NAME, 20, 4)", 0, 'C', 0, 2},
    {"SUBSTR(NAME, 0, 4)", 0, 'C', 4, 2},
    {"SUBSTR(NAME, 3, -1)", 0, 'C', 0, 2},
    {"LEFT(NAME, 3)", 0, 'C', 3, 2},
    {"LEFT(NAME, 30)", 0, 'C', 10, 2},
    {"RIGHT(NAME, 3)", 0, 'C', 3, 2},
    {"RIGHT(NAME, -2)", 0, 'C', 0, 2},
    {"DTOC(BORN)", 0, 'C', 8, 2},
    {"DTOC(BORN, 1)", 0, 'C', 8, 2},
    {"IIF(FLAG, 'ab', 'cd')", 0, 'C', 2, 4},
    {"IIF(FLAG, 1, 2)", 0, 'n', 8, 4},
    {"IIF(FLAG, BORN, DATE())", 0, 'd', 8, 4},
    {"IIF(FLAG, .T., .F.)", 0, 'L', 4, 4},
    {"DESCEND(NAME)", 0, 'C', 10, 2},
    {"DESCEND(AMOUNT)", 0, 'C', 10, 2},
    {"DESCEND(BORN)", 0, 'C', 8, 2},
    {"DESCEND(FLAG)", 0, 'C', 1, 2},
    {"DESCEND(RATIO)", 0, 'C', 8, 2},
    {"DESCEND(STAMP)", 0, 'C', 8, 2},
    {"ASCEND(COUNT)", 0, 'C', 8, 2},
    {"ASCEND(BORN+1)", 0, 'C', 8, 4},
    {"CHR(65)+DEL()+TIME()", 0, 'C', 10, 6},
    {"VAL(NAME)+RECNO()+RECCOUNT()", 0, 'n', 8, 6},
    {"STOD('20240101')+DAY(BORN)+MONTH(DATE())+YEAR(BORN)", 0, 'd', 8, 11},
    {"CTOD('01/31/24')", 0, 'd', 8, 2},
    {"ltrim(alltrim(NAME))", 0, 'C', 10, 3},
    {"DELETED()", 0, 'L', 4, 1},
    // Errors.
    {"", -490, 0, 0, 0},
    {"UPPER(NAME", -450, 0, 0, 0},
    {"UPPER(NAME,", -450, 0, 0, 0},
    {"(NAME", -450, 0, 0, 0},
    {"'abc", -500, 0, 0, 0},
    {"[abc", -500, 0, 0, 0},
    {"NAME+", -490, 0, 0, 0},
    {"NAME @ CITY", -480, 0, 0, 0},
    {"ABCDEFGHIJK", -490, 0, 0, 0},
    {"NOSUCH", -210, 0, 0, 0},
    {"1ABC", -210, 0, 0, 0},
    {"NOFUNC(NAME)", -470, 0, 0, 0},
    {"SUBSTRING(NAME, 1)", -470, 0, 0, 0},
    {"-NAME", -490, 0, 0, 0},
    {"1.AND.FLAG", -460, 0, 0, 0},  // the number 1, then .AND.
    {"STR(AMOUNT, COUNT)", -425, 0, 0, 0},
    {"STR(AMOUNT, 5, COUNT)", -425, 0, 0, 0},
    {"STR(AMOUNT, 200)", -425, 0, 0, 0},
    {"SUBSTR(NAME, COUNT)", -425, 0, 0, 0},
    {"LEFT(NAME, 1+1)", -425, 0, 0, 0},
    {"UPPER(NAME, CITY)", -430, 0, 0, 0},
    {"UPPER()", -430, 0, 0, 0},
    {"SUBSTR(NAME)", -430, 0, 0, 0},
    {"LEFT(NAME)", -430, 0, 0, 0},
    {"STR(AMOUNT, 1, 2, 3)", -430, 0, 0, 0},
    {"DATE(1)", -430, 0, 0, 0},
    {"IIF(FLAG, 'ab', 'abc')", -422, 0, 0, 0},
    {"NAME + AMOUNT", -460, 0, 0, 0},
    {".NOT. NAME", -460, 0, 0, 0},
    {"UPPER(AMOUNT)", -460, 0, 0, 0},
    {"IIF(NAME, 1, 2)", -460, 0, 0, 0},
    {"VAL(AMOUNT)", -460, 0, 0, 0},
    {"PRICE = NAME", -460, 0, 0, 0},
    {"_NULLFLAGS", -460, 0, 0, 0},
    {"NOTE", -1020, 0, 0, 0},
    {"NOALIAS->NAME", -420, 0, 0, 0},
    {"PEOPLE->", -490, 0, 0, 0},
    {"NAME)", -410, 0, 0, 0},
    {"NAME, CITY", -410, 0, 0, 0},
};

TEST_F(ExprParse, CasesGiveTypeLengthAndEntriesOrTheirErrorCode) {
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.text);
        expression4* x = expr4parse(table->t, c.text, nullptr);
        if (c.code != 0) {
            EXPECT_EQ(x, nullptr);
            EXPECT_EQ(table->takeError(), c.code);
            continue;
        }
        ASSERT_NE(x, nullptr) << table->takeError();
        EXPECT_EQ(x->type, c.type);
        EXPECT_EQ(x->len, c.len);
        EXPECT_EQ(x->entryCount, c.entries);
        EXPECT_STREQ(expr4source(x), c.text);
        expr4free(x);
    }
}

TEST_F(ExprParse, CharacterFieldsJoinedWithPlusAreCopiedAndJoinedInPlace) {
    expression4* x = expr4parse(table->t, "NAME+CITY+CODE+NAME", nullptr);
    ASSERT_NE(x, nullptr);
    const int32_t rows[] = {expr4rowCharCopy, expr4rowCharCopy, expr4rowJoin, expr4rowCharCopy,
                            expr4rowJoin,     expr4rowCharCopy, expr4rowJoin};
    int32_t offset = 0;
    for (int32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(x->entries[i].row, rows[i]) << i;
        if (x->entries[i].row == expr4rowCharCopy) {
            // Every field lies right behind the one before: joining moves nothing.
            EXPECT_EQ(x->entries[i].offset, offset);
            offset += x->entries[i].len;
        }
    }
    expr4free(x);
}

TEST_F(ExprParse, MergedAndOrAndPriorities) {
    expression4* x = expr4parse(table->t, "FLAG .AND. FLAG .AND. FLAG", nullptr);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->entries[3].operands, 3);
    expr4free(x);

    x = expr4parse(table->t, "FLAG .AND. FLAG .OR. FLAG", nullptr);
    ASSERT_NE(x, nullptr);
    EXPECT_STREQ(expr4functions[x->entries[2].row].name, ".AND.");
    EXPECT_STREQ(expr4functions[x->entries[4].row].name, ".OR.");
    expr4free(x);

    // .NOT. binds looser than a comparison: it negates AMOUNT = 5.
    x = expr4parse(table->t, ".NOT. AMOUNT = 5", nullptr);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->entries[3].row, expr4rowNot);
    expr4free(x);

    EXPECT_DOUBLE_EQ(table->number("2^3^2"), 64.0);  // (2^3)^2: left association
    EXPECT_DOUBLE_EQ(table->number("1+2*3"), 7.0);
    EXPECT_DOUBLE_EQ(table->number("(1+2)*3"), 9.0);
    EXPECT_DOUBLE_EQ(table->number("8-2-1"), 5.0);
}

TEST_F(ExprParse, FoldedArgumentsFollowTheirRules) {
    struct Folded {
        const char* text;
        int32_t param, len;
    } cases[] = {
        {"STR(AMOUNT)", 0, 10},
        {"STR(AMOUNT, 5, 9)", 3, 5},
        {"STR(AMOUNT, 1, 1)", 0, 1},
        {"STR(AMOUNT, 8, -2)", 0, 8},
        {"SUBSTR(NAME, 3, 4)", 2, 4},
        {"SUBSTR(NAME, 3)", 2, 8},
        {"SUBSTR(NAME, 9, 5)", 8, 2},
        {"LEFT(NAME, 4)", 0, 4},
        {"RIGHT(NAME, 4)", 6, 4},
        {"RIGHT(NAME, 40)", 0, 10},
        {"SUBSTR(NAME, 1000000000000, 1)", 10, 0},
    };
    for (const Folded& c : cases) {
        SCOPED_TRACE(c.text);
        expression4* x = expr4parse(table->t, c.text, nullptr);
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(x->entries[x->entryCount - 1].param, c.param);
        EXPECT_EQ(x->entries[x->entryCount - 1].len, c.len);
        expr4free(x);
    }
}

TEST_F(ExprParse, QuotesAndBracketsMakeTheSameConstant) {
    EXPECT_EQ(table->eval("\"it's\""), "it's");
    EXPECT_EQ(table->eval("[it's]"), table->eval("\"it's\""));
    EXPECT_EQ(table->eval("'say \"hi\"'"), "say \"hi\"");
}

TEST_F(ExprParse, UnknownFieldFailsQuietlyWhenFieldNameErrorsAreOff) {
    table->env.errFieldName = 0;
    errors.clear();
    EXPECT_EQ(expr4parse(table->t, "NOSUCH", nullptr), nullptr);
    EXPECT_EQ(error4code(&table->env), 0);
    EXPECT_TRUE(errors.seen().empty());
}

TEST_F(ExprParse, NestingBeyondTheLimitsIsRefused) {
    std::string flags = "FLAG";
    for (int i = 1; i < 19; ++i) flags += " .AND. FLAG";
    expression4* x = expr4parse(table->t, flags.c_str(), nullptr);  // 19 pending operands
    ASSERT_NE(x, nullptr);
    expr4free(x);
    flags += " .AND. FLAG";
    EXPECT_EQ(expr4parse(table->t, flags.c_str(), nullptr), nullptr);
    EXPECT_EQ(table->takeError(), e4exprNesting);

    // Deep brackets end in an error, not in a stack overflow.
    std::string deep = std::string(100000, '(') + "NAME" + std::string(100000, ')');
    EXPECT_EQ(expr4parse(table->t, deep.c_str(), nullptr), nullptr);
    EXPECT_EQ(table->takeError(), e4exprNesting);
    std::string nots;
    for (int i = 0; i < 10000; ++i) nots += ".NOT.";
    EXPECT_EQ(expr4parse(table->t, (nots + "FLAG").c_str(), nullptr), nullptr);
    EXPECT_EQ(table->takeError(), e4exprNesting);
}

TEST_F(ExprParse, NullArgumentsAndPendingErrors) {
    EXPECT_EQ(expr4parse(nullptr, "NAME", nullptr), nullptr);
    EXPECT_EQ(expr4parse(table->t, nullptr, nullptr), nullptr);
    EXPECT_EQ(table->takeError(), e4parmNull);
    error4setCode(&table->env, e4read);
    EXPECT_EQ(expr4parse(table->t, "NAME", nullptr), nullptr);
    EXPECT_EQ(table->takeError(), e4read);
    EXPECT_STREQ(expr4source(nullptr), "");
}

TEST_F(ExprParse, AnExpressionOfATagRefusesOtherTablesFields) {
    TempDir other;
    table4* t2 = table4create(&table->env, other.file("others").c_str(), kExprFields, nullptr);
    ASSERT_NE(t2, nullptr);
    expr4tag tag{};
    EXPECT_EQ(expr4parse(table->t, "OTHERS->NAME", &tag), nullptr);
    EXPECT_EQ(table->takeError(), -510);
    // Without a tag, another table's fields are read from its own record.
    expression4* x = expr4parse(table->t, "NAME+OTHERS->CITY", nullptr);
    ASSERT_NE(x, nullptr);
    std::memcpy(t2->record + fieldNamed(t2, "CITY")->offset, "Rome    ", 8);
    table->put("NAME", "Ann");
    char* result = nullptr;
    ASSERT_EQ(expr4evaluate(x, &result), 18);
    EXPECT_EQ(std::string(result, 18), "Ann       Rome    ");
    expr4free(x);
    EXPECT_EQ(table4close(t2), 0);
}

TEST(ExprFunctionTable, RowsAreGroupedByCodeAndNamesAreShort) {
    std::set<int16_t> finished;  // codes whose overloads have all been seen
    int32_t rows = 0;
    for (; expr4functions[rows].code != -1; ++rows) {
        const expr4func& f = expr4functions[rows];
        if (f.name != nullptr) {
            EXPECT_LE(f.nameLen, 8) << f.name;
            EXPECT_EQ(f.nameLen, std::strlen(f.name)) << f.name;
        }
        if (rows > 0 && expr4functions[rows - 1].code != f.code) {
            finished.insert(expr4functions[rows - 1].code);
            EXPECT_EQ(finished.count(f.code), 0u) << "row " << rows;
        }
    }
    EXPECT_EQ(rows, 118);
    EXPECT_STREQ(expr4functions[expr4rowFirstFunction].name, "CHR");
    EXPECT_STREQ(expr4functions[expr4rowLastOperator].name, "$");
    EXPECT_STREQ(expr4functions[expr4rowDtos].name, "DTOS");
}

}  // namespace
